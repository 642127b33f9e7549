// The resampler's filter cascade against a plain scalar cascade, sample by sample, with the
// signal cut into blocks of many sizes: the vector code must carry every stage's state across
// block edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "audio/engine/AuUtils.h"
#include "audio/engine/FilterCascade.h"

namespace {

// Four stages one after another, each y[n] = sum A[k] x[n-k] + sum B[k] y[n-1-k], in double,
// over the whole signal of one channel at once.
std::vector<double> ScalarCascade(const TCascadeCoefs& K, const std::vector<float>& In) {
  std::vector<double> x(In.begin(), In.end());
  for (int stage = 0; stage < 4; ++stage) {
    std::vector<double> y(x.size());
    for (size_t n = 0; n < x.size(); ++n) {
      double v = 0;
      for (int k = 0; k < 5; ++k)
        if (n >= (size_t)k) v += (double)K.A[k] * x[n - k];
      for (int k = 0; k < 4; ++k)
        if (n >= (size_t)k + 1) v += (double)K.B[k] * y[n - 1 - k];
      y[n] = v;
    }
    x.swap(y);
  }
  return x;
}

TCascadeCoefs Design(double Ratio) {
  double a[7], b[7];
  DesignChebyshevFilter(4, false, a, b, 0.85 * Ratio / 2, 5.0);
  TCascadeCoefs k;
  for (int i = 0; i < 5; ++i) k.A[i] = (float)a[i];
  for (int i = 0; i < 4; ++i) k.B[i] = (float)b[i + 1];
  return k;
}

}  // namespace

TEST(FilterCascade, MatchesTheScalarCascadeAcrossBlockEdges) {
  // Block sizes below, at and above the vector width and its remainders, in a fixed mix.
  const uint32_t sizes[] = {1, 2, 3, 4, 5, 7, 8, 13, 64, 1, 1, 3, 257, 6, 4096};
  std::mt19937 rnd(11);
  for (double ratio : {0.5, 0.9187, 1.0 / 6}) {
    TCascadeCoefs k = Design(ratio);
    for (uint32_t ch : {1u, 2u, 3u, 8u}) {
      SCOPED_TRACE(testing::Message() << "ratio " << ratio << ", " << ch << " channels");
      const uint32_t frames = 6000;
      std::uniform_real_distribution<float> d(-0.7f, 0.7f);
      std::vector<float> data((size_t)frames * ch);
      for (auto& v : data) v = d(rnd);
      std::vector<std::vector<double>> want(ch);
      for (uint32_t c = 0; c < ch; ++c) {
        std::vector<float> one(frames);
        for (uint32_t i = 0; i < frames; ++i) one[i] = data[(size_t)i * ch + c];
        want[c] = ScalarCascade(k, one);
      }
      std::vector<TCascadeState> states(ch);
      for (uint32_t at = 0, i = 0; at < frames; ++i) {
        uint32_t n = std::min(sizes[i % std::size(sizes)], frames - at);
        FilterCascade(k, data.data() + (size_t)at * ch, ch, n, states.data());
        at += n;
      }
      double worst = 0;
      uint32_t worstAt = 0;
      for (uint32_t i = 0; i < frames; ++i)
        for (uint32_t c = 0; c < ch; ++c) {
          double e = std::fabs(data[(size_t)i * ch + c] - want[c][i]);
          if (e > worst) worst = e, worstAt = i;
        }
      EXPECT_LT(worst, 1e-4) << "at frame " << worstAt;
    }
  }
}
