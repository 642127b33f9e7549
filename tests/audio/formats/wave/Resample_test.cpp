// Resampling a peer-made tone file to a file: the right length, no zero padding at the end, no
// timing step and no click where one 200 ms block meets the next.
#include <gtest/gtest.h>

#include <cmath>

#include "audio/engine/AuConverters.h"
#include "audio/formats/wave/AuWave.h"
#include "audio/formats/wave/WaveTestUtil.h"

using namespace wavetest;

namespace {

struct TFit {
  double A = 0, B = 0;  // x ~ A cos(wn) + B sin(wn)
};

// Least-squares fit of a tone of Freq over S[From, To).
TFit FitTone(const std::vector<int16_t>& S, double Freq, double Rate, size_t From, size_t To) {
  double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
  for (size_t n = From; n < To; ++n) {
    double w = 2 * M_PI * Freq * n / Rate, c = std::cos(w), s = std::sin(w);
    cc += c * c, ss += s * s, cs += c * s, xc += S[n] * c, xs += S[n] * s;
  }
  double det = cc * ss - cs * cs;
  return {(xc * ss - xs * cs) / det, (xs * cc - xc * cs) / det};
}

double RmsOf(const std::vector<double>& E, size_t From, size_t To) {
  double sum = 0;
  for (size_t n = From; n < To; ++n) sum += E[n] * E[n];
  return std::sqrt(sum / (double)(To - From));
}

}  // namespace

TEST(Resample, ToneFileKeepsItsTimingAcrossBlockEdges) {
  struct Case {
    int In, Out;
  } cases[] = {{22050, 44100}, {8000, 44100}, {44100, 48000}, {48000, 44100}, {44100, 22050}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.In << " -> " << c.Out);
    TempDir dir;
    std::wstring src = dir.File(L"in.wav"), dst = dir.File(L"out.wav");
    const double seconds = 1.3, freq = 1000;
    Peer("sox -n -r " + std::to_string(c.In) + " -b 16 -c 1 " + Q(src) + " synth " + std::to_string(seconds) +
         " sine " + std::to_string((int)freq) + " vol 0.5");
    TWaveIn in(nullptr);
    in.SetWideFileName(src);
    TFastResampler rs(nullptr);
    rs.SetInput(&in);
    rs.SetOutSampleRate(c.Out);
    TWaveOut out(nullptr);
    out.SetInput(&rs);
    out.SetWideFileName(dst);
    out.BlockingRun();

    // The peer reads our file: its length is the tone's at the new rate.
    std::string pcm = Peer("sox " + Q(dst) + " -t raw -e signed -b 16 -");
    auto s = As<int16_t>(pcm);
    const size_t inFrames = (size_t)std::lround(c.In * seconds);
    const double expected = (double)inFrames * c.Out / c.In;
    ASSERT_NEAR((double)s.size(), expected, 1.0);

    // One tone of the right pitch throughout: a single fit over the file leaves a small residual
    // everywhere, also around each block edge and at the very end (no zero padding).
    const size_t skip = (size_t)c.Out / 20;  // the filter settles
    TFit f = FitTone(s, freq, c.Out, skip, s.size());
    std::vector<double> e(s.size());
    for (size_t n = 0; n < s.size(); ++n) {
      double w = 2 * M_PI * freq * n / c.Out;
      e[n] = s[n] - (f.A * std::cos(w) + f.B * std::sin(w));
    }
    const double amp = std::hypot(f.A, f.B);
    EXPECT_NEAR(amp, 0.5 * 32768, 0.1 * 32768);  // within the cascade's pass-band ripple
    const size_t block = (size_t)c.Out / 5, half = (size_t)c.Out / 500;  // 2 ms either side
    double mid = 0, worstEdge = 0;
    int edges = 0;
    for (size_t at = block; at + half <= s.size(); at += block, ++edges) {
      worstEdge = std::max(worstEdge, RmsOf(e, at - half, at + half));
      mid = std::max(mid, RmsOf(e, at - block / 2 - half, at - block / 2 + half));
    }
    ASSERT_GE(edges, 5);
    double tail = RmsOf(e, s.size() - 2 * half, s.size());
    EXPECT_LT(20 * std::log10(mid / amp), -25) << "residual mid-block";
    EXPECT_LT(20 * std::log10(worstEdge / std::max(mid, 1.0)), 1.5) << "residual at block edges";
    EXPECT_LT(20 * std::log10(tail / std::max(mid, 1.0)), 1.5) << "residual at the end";
  }
}
