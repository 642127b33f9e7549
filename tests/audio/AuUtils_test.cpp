// Sample conversions, channel folding, FFT and filter design.
#include <gtest/gtest.h>

#include "classlib/WinApi.h"

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <vector>

#include "audio/AuUtils.h"

namespace {
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// Each value is converted alone at the front of a buffer (the scalar tail) and at the middle of
// a 19-sample buffer (the vector path), which must agree.
template <typename Out, typename Fn>
std::vector<Out> ConvertBothWays(float X, Fn F, size_t OutBytes) {
  std::vector<Out> r;
  std::vector<float> one{X};
  std::vector<uint8_t> o1(OutBytes * 1 + 4);
  F(one.data(), o1.data(), 1);
  std::vector<float> many(19, 0.25f);
  many[9] = X;
  std::vector<uint8_t> o2(OutBytes * 19 + 4);
  F(many.data(), o2.data(), 19);
  Out a = 0, b = 0;
  std::memcpy(&a, o1.data(), OutBytes);
  std::memcpy(&b, o2.data() + OutBytes * 9, OutBytes);
  if (OutBytes == 3) {  // sign-extend 24 bits
    a = (Out)((int32_t)((uint32_t)a << 8) >> 8);
    b = (Out)((int32_t)((uint32_t)b << 8) >> 8);
  }
  r.push_back(a);
  r.push_back(b);
  // The neighbours of the vector path are untouched by a special value.
  Out n = 0;
  std::memcpy(&n, o2.data() + OutBytes * 10, OutBytes);
  r.push_back(n);
  return r;
}
}  // namespace

TEST(SampleProcedures, FloatToIntegerConversions) {
  struct Case {
    int Bits;
    float In;
    int64_t Expected;
  } cases[] = {
      {8, 0.0f, 128},        {8, 0.999f, 255},       {8, 0.99999994f, 255},   {8, 1.0f, 255},
      {8, 7.0f, 255},        {8, -1.0f, 0},          {8, kNaN, 0},            {8, -0.0039f, 127},
      {16, 1.5f, 32767},     {16, -1.0f, -32767},    {16, 0.5f, 16384},       {16, kNaN, -32767},
      {16, -0.5f, -16384},   {24, -0.5f, -4194304},   {24, 1.0f, 8388607},
      {24, -3.0f, -8388607}, {24, kNaN, -8388607},   {32, 1.0f, 2147483647},  {32, -1.0f, -2147483647},
      {32, 0.5f, 1073741824}, {32, kNaN, -2147483647},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Bits << " bits of " << c.In);
    std::vector<int64_t> got;
    switch (c.Bits) {
      case 8: {
        auto v = ConvertBothWays<uint8_t>(c.In, [](float* i, void* o, int n) { SingleToPCM8(i, o, n); }, 1);
        got.assign(v.begin(), v.end());
        EXPECT_EQ(v[2], 160);  // 0.25 -> 160
        break;
      }
      case 16: {
        auto v = ConvertBothWays<int16_t>(c.In, SingleToPCM16, 2);
        got.assign(v.begin(), v.end());
        EXPECT_EQ(v[2], 8192);  // 0.25 * 32767 = 8191.75
        break;
      }
      case 24: {
        auto v = ConvertBothWays<int32_t>(c.In, SingleToPCM24, 3);
        got.assign(v.begin(), v.end());
        EXPECT_EQ(v[2], 2097151);
        break;
      }
      case 32: {
        auto v = ConvertBothWays<int32_t>(c.In, SingleToPCM32, 4);
        got.assign(v.begin(), v.end());
        EXPECT_EQ(v[2], 536870912);
        break;
      }
    }
    EXPECT_EQ(got[0], c.Expected);
    EXPECT_EQ(got[1], c.Expected);
  }
}

TEST(SampleProcedures, ClampedValuesAreWrittenBackToTheSource) {
  std::vector<float> f{1.5f, -2.0f, kNaN, 0.25f};
  std::vector<int16_t> o(4);
  SingleToPCM16(f.data(), o.data(), 4);
  EXPECT_EQ(f, (std::vector<float>{1.0f, -1.0f, -1.0f, 0.25f}));
}

TEST(SampleProcedures, IntegerToFloatConversions) {
  uint8_t b8[] = {0, 128, 255};
  float f[20];
  PCM8ToSingle(b8, f, 3);
  EXPECT_EQ(f[0], -1.0f);
  EXPECT_EQ(f[1], 0.0f);
  EXPECT_EQ(f[2], 127.0f / 128);

  std::vector<int16_t> s16{-32768, -1, 0, 1, 32767, 100, -100, 5, 6, 7, 8};
  PCM16ToSingle(s16.data(), f, (int)s16.size());
  for (size_t i = 0; i < s16.size(); ++i) EXPECT_EQ(f[i], s16[i] / 32768.0f);

  uint8_t b24[] = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0xFE, 0xFF, 0xFF};
  PCM24ToSingle(b24, f, 3);
  EXPECT_EQ(f[0], 8388607.0f / 8388608);
  EXPECT_EQ(f[1], -1.0f);
  EXPECT_EQ(f[2], -2.0f / 8388608);

  std::vector<int32_t> s32{INT32_MIN, INT32_MAX, 0, -256, 1 << 20};
  PCM32ToSingle(s32.data(), f, 5);
  for (size_t i = 0; i < s32.size(); ++i) EXPECT_EQ(f[i], (float)s32[i] / 2147483648.0f);

  // 16 bits through floats and back: at most one step off; -32768 becomes -32767.
  std::vector<int16_t> all(65536), back(65536);
  for (int i = 0; i < 65536; ++i) all[i] = (int16_t)(i - 32768);
  std::vector<float> fl(65536);
  PCM16ToSingle(all.data(), fl.data(), 65536);
  SingleToPCM16(fl.data(), back.data(), 65536);
  EXPECT_EQ(back[0], -32767);
  for (int i = 0; i < 65536; ++i) ASSERT_LE(std::abs(back[i] - all[i]), 1) << all[i];
}

TEST(SampleProcedures, InPlaceInt32Samples) {
  float f[] = {1.0f, -1.0f, 0.5f, kNaN, 2.0f, -0.25f};
  SingleToInt32Samples(f, sizeof(f));
  int32_t* i = reinterpret_cast<int32_t*>(f);
  EXPECT_EQ(i[0], 0x7FFFFFFF);
  EXPECT_EQ(i[1], INT32_MIN);
  EXPECT_EQ(i[2], 1073741823);  // floor(1073741823.5)
  EXPECT_EQ(i[3], INT32_MIN);
  EXPECT_EQ(i[4], 0x7FFFFFFF);
  EXPECT_EQ(i[5], -536870912);  // floor(-536870911.75)

  double d[] = {1.0, -1.0, 0.5, std::nan("")};
  DoubleToInt32Samples(d, 16);  // two doubles -> two integers in the first 8 bytes
  int32_t* o = reinterpret_cast<int32_t*>(d);
  EXPECT_EQ(o[0], 0x7FFFFFFF);
  EXPECT_EQ(o[1], INT32_MIN);
  EXPECT_EQ(d[1], -1.0);  // beyond the results: untouched
  double e[] = {0.5, std::nan(""), -0.5, 0.25};
  DoubleToInt32Samples(e, sizeof(e));
  o = reinterpret_cast<int32_t*>(e);
  EXPECT_EQ(o[0], 1073741823);
  EXPECT_EQ(o[1], INT32_MIN);
  EXPECT_EQ(o[2], -1073741824);
  EXPECT_EQ(o[3], 536870911);
}

TEST(SampleProcedures, ChannelFolding) {
  float m[6] = {1, 2, 3};
  MonoToStereo(m, 3);
  EXPECT_EQ(std::vector<float>(m, m + 6), (std::vector<float>{1, 1, 2, 2, 3, 3}));
  float s[] = {1, -1, 0.5f, 0.25f, 1, 1};
  StereoToMono(s, 3);
  EXPECT_EQ(s[0], 0.0f);
  EXPECT_EQ(s[1], 0.375f);
  EXPECT_EQ(s[2], 1.0f);
}

TEST(SampleProcedures, ComplexFFT) {
  const int n = 64;
  auto run = [&](const std::vector<std::complex<float>>& In, int Dir) {
    std::vector<float> d(2 * n);
    for (int i = 0; i < n; ++i) {
      d[2 * i] = In[i].real();
      d[2 * i + 1] = In[i].imag();
    }
    ComplexFFT(d.data(), n, Dir);
    std::vector<std::complex<float>> out(n);
    for (int i = 0; i < n; ++i) out[i] = {d[2 * i], d[2 * i + 1]};
    return out;
  };
  // A constant: everything in bin 0.
  auto c = run(std::vector<std::complex<float>>(n, 1.0f), 0);
  EXPECT_NEAR(c[0].real(), n, 1e-4);
  for (int k = 1; k < n; ++k) EXPECT_LT(std::abs(c[k]), 1e-4) << k;
  // An impulse: all ones.
  std::vector<std::complex<float>> imp(n);
  imp[0] = 1;
  for (auto v : run(imp, 0)) EXPECT_NEAR(std::abs(v - std::complex<float>(1)), 0, 1e-6);
  // e^(2 pi i 5 n / N): bin 5 in one direction, bin N - 5 in the other, as conjugate transforms.
  std::vector<std::complex<float>> tone(n), noise(n);
  for (int i = 0; i < n; ++i) {
    tone[i] = std::polar(1.0f, (float)(2 * 3.14159265358979 * 5 * i / n));
    noise[i] = {std::sin(i * 1.7f), std::cos(i * i * 0.3f)};
  }
  auto f0 = run(tone, 0), f1 = run(tone, 1);
  EXPECT_NEAR(std::abs(f0[5]), n, 1e-3);
  EXPECT_NEAR(std::abs(f1[n - 5]), n, 1e-3);
  // The two directions are conjugate: F1(x) = conj(F0(conj(x))).
  std::vector<std::complex<float>> conjNoise(n);
  for (int i = 0; i < n; ++i) conjNoise[i] = std::conj(noise[i]);
  auto a = run(noise, 1), b = run(conjNoise, 0);
  for (int k = 0; k < n; ++k) EXPECT_NEAR(std::abs(a[k] - std::conj(b[k])), 0, 1e-3) << k;
  // Against a direct DFT for direction 0: X[k] = sum x[n] e^(-2 pi i k n / N).
  auto c0 = run(noise, 0);
  for (int k : {0, 3, 17, 63}) {
    std::complex<double> sum;
    for (int i = 0; i < n; ++i)
      sum += std::complex<double>(noise[i]) * std::polar(1.0, -2 * 3.14159265358979 * k * i / n);
    EXPECT_NEAR(std::abs(std::complex<double>(c0[k]) - sum), 0, 1e-3) << k;
  }
}

namespace {
// |H(e^(2 pi i f))| of y[n] = sum A[k] x[n-k] + sum B[k] y[n-k].
double Gain(const double* A, const double* B, int Poles, double F) {
  std::complex<double> num, den = 1.0;
  for (int k = 0; k <= Poles; ++k) {
    auto z = std::polar(1.0, -2 * 3.14159265358979323846 * F * k);
    num += A[k] * z;
    if (k > 0) den -= B[k] * z;
  }
  return std::abs(num / den);
}
}  // namespace

TEST(SampleProcedures, ChebyshevFilterDesign) {
  double a[7], b[7];
  DesignChebyshevFilter(4, false, a, b, 0.1, 0);  // Butterworth
  EXPECT_EQ(b[0], 0.0);
  EXPECT_NEAR(Gain(a, b, 4, 0), 1.0, 1e-9);
  EXPECT_NEAR(Gain(a, b, 4, 0.1), std::sqrt(0.5), 0.02);
  EXPECT_LT(20 * std::log10(Gain(a, b, 4, 0.4)), -40);

  DesignChebyshevFilter(4, true, a, b, 0.2, 0);
  EXPECT_NEAR(Gain(a, b, 4, 0.5), 1.0, 1e-9);
  EXPECT_LT(Gain(a, b, 4, 0.02), 0.01);

  DesignChebyshevFilter(4, false, a, b, 0.2, 5);  // 5 % ripple: the pass band peaks near 1/0.95
  double peak = 0;
  for (double f = 0; f < 0.2; f += 0.0005) peak = std::max(peak, Gain(a, b, 4, f));
  EXPECT_NEAR(peak, 1 / 0.95, 0.01);

  double a6[9], b6[9];
  DesignChebyshevFilter(6, false, a6, b6, 0.05, 0.5);
  EXPECT_NEAR(Gain(a6, b6, 6, 0), 1.0, 1e-9);
  EXPECT_THROW(DesignChebyshevFilter(3, false, a6, b6, 0.1, 0), Exception);
}

TEST(SampleProcedures, SmallHelpers) {
  float x[] = {1, 2, 3}, y[] = {4, 5, 6};
  float sum = 1;
  DotProduct(x, y, sum, 3);
  EXPECT_EQ(sum, 33.0f);

  GUID g1 = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
  GUID g2 = g1;
  EXPECT_TRUE(CompareGUIDs(g1, g2));
  g2.Data4[7] = 0x72;
  EXPECT_FALSE(CompareGUIDs(g1, g2));

  EXPECT_EQ(LeftOfChar('=', "name=value=x"), "name");
  EXPECT_EQ(RightOfChar('=', "name=value=x"), "value=x");
  EXPECT_EQ(LeftOfChar('=', "plain"), "plain");
  EXPECT_EQ(RightOfChar('=', "plain"), "");

  uint16_t before = Get8087CW();
  SetSinglePrecisionFPU();
  EXPECT_EQ(Get8087CW() & 0x300, 0);
  RestoreFPUControlWord();
  EXPECT_EQ(Get8087CW(), before);
}
