// Sample conversions, channel folding, FFT and filter design.
#include <gtest/gtest.h>

#include "classlib/WinApi.h"

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "audio/engine/AuUtils.h"

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

// ---------------------------------------------------------------------------------------------
// The vector procedures against plain scalar ones written from their contracts, sample by
// sample, over every length up to a few vectors and every start alignment, so that the vector
// bodies, their tails and their seams are all compared.

namespace {

float RefClamp(float X) { return X >= 1.0f ? 1.0f : (X > -1.0f ? X : -1.0f); }

void RefPCM8ToSingle(const uint8_t* In, float* Out, int N) {
  for (int i = 0; i < N; ++i) Out[i] = In[i] / 128.0f - 1.0f;
}
void RefPCM16ToSingle(const int16_t* In, float* Out, int N) {
  for (int i = 0; i < N; ++i) Out[i] = In[i] / 32768.0f;
}
void RefPCM24ToSingle(const uint8_t* In, float* Out, int N) {
  for (int i = 0; i < N; ++i) {
    int32_t v = In[3 * i] | In[3 * i + 1] << 8 | (int8_t)In[3 * i + 2] << 16;
    Out[i] = v / 8388608.0f;
  }
}
void RefPCM32ToSingle(const int32_t* In, float* Out, int N) {
  for (int i = 0; i < N; ++i) Out[i] = (float)In[i] / 2147483648.0f;
}
void RefSingleToPCM8(const float* In, uint8_t* Out, int N) {
  for (int i = 0; i < N; ++i) {
    float x = In[i];
    Out[i] = x >= 1.0f ? 255 : x > -1.0f ? (uint8_t)std::floor(((double)x + 1.0) * 128.0) : 0;
  }
}
void RefSingleToPCM16(float* In, int16_t* Out, int N) {
  for (int i = 0; i < N; ++i) {
    In[i] = RefClamp(In[i]);
    float p = In[i] * 32767.0f;
    Out[i] = (int16_t)std::nearbyint(p);
  }
}
void RefSingleToPCM24(float* In, uint8_t* Out, int N) {
  for (int i = 0; i < N; ++i) {
    In[i] = RefClamp(In[i]);
    float p = In[i] * 8388607.0f;
    int32_t v = (int32_t)std::floor(p);
    Out[3 * i] = (uint8_t)v;
    Out[3 * i + 1] = (uint8_t)(v >> 8);
    Out[3 * i + 2] = (uint8_t)(v >> 16);
  }
}
void RefSingleToPCM32(float* In, int32_t* Out, int N) {
  for (int i = 0; i < N; ++i) {
    In[i] = RefClamp(In[i]);
    Out[i] = (int32_t)std::nearbyint((double)In[i] * 2147483647.0);
  }
}

// Random samples with the values where conversions go wrong mixed in.
std::vector<float> TestFloats(size_t N, std::mt19937& Rnd) {
  const float special[] = {kNaN, 1.0f, -1.0f, 0.99999994f, -0.99999994f, 1.5f, -7.0f,
                           std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                           0.5f / 32767, 1.5f / 32767, -0.5f / 32767, 1e-40f, -0.0f};
  std::uniform_real_distribution<float> d(-1.1f, 1.1f);
  std::vector<float> v(N);
  for (auto& x : v) x = Rnd() % 4 == 0 ? special[Rnd() % std::size(special)] : d(Rnd);
  return v;
}

// Same bits, with every not-a-number alike.
bool SameFloats(const std::vector<float>& A, const std::vector<float>& B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (!(std::isnan(A[i]) && std::isnan(B[i])) && std::memcmp(&A[i], &B[i], 4) != 0) return false;
  return true;
}

}  // namespace

TEST(SampleProcedures, VectorPathsMatchTheScalarReference) {
  std::mt19937 rnd(21);
  for (int offset = 0; offset < 4; ++offset) {
    for (int n = 0; n <= 37; ++n) {
      SCOPED_TRACE(testing::Message() << n << " samples at offset " << offset);
      // Integers to floats.
      std::vector<uint8_t> bytes(4 * (n + offset) + 8);
      for (auto& b : bytes) b = (uint8_t)rnd();
      const uint8_t* src = bytes.data() + offset;
      std::vector<float> got(n + 1, 9.0f), want(n + 1, 9.0f);
      PCM8ToSingle(src, got.data(), n);
      RefPCM8ToSingle(src, want.data(), n);
      EXPECT_TRUE(SameFloats(got, want)) << "PCM8ToSingle";
      std::vector<int16_t> s16(n);
      std::memcpy(s16.data(), src, 2 * n);
      PCM16ToSingle(src, got.data(), n);
      RefPCM16ToSingle(s16.data(), want.data(), n);
      EXPECT_TRUE(SameFloats(got, want)) << "PCM16ToSingle";
      PCM24ToSingle(src, got.data(), n);
      RefPCM24ToSingle(src, want.data(), n);
      EXPECT_TRUE(SameFloats(got, want)) << "PCM24ToSingle";
      std::vector<int32_t> s32(n);
      std::memcpy(s32.data(), src, 4 * n);
      PCM32ToSingle(src, got.data(), n);
      RefPCM32ToSingle(s32.data(), want.data(), n);
      EXPECT_TRUE(SameFloats(got, want)) << "PCM32ToSingle";

      // Floats to integers: the output, nothing written past it, and the clamped input.
      std::vector<float> in = TestFloats(n + offset, rnd);
      auto check = [&](const char* Name, size_t Width, auto Fast, auto Ref) {
        std::vector<float> a(in), b(in);
        std::vector<uint8_t> oa(Width * (n + offset) + 4, 0xEE), ob(oa);
        Fast(a.data() + offset, oa.data() + Width * offset, n);
        Ref(b.data() + offset, ob.data() + Width * offset, n);
        EXPECT_EQ(oa, ob) << Name;
        EXPECT_TRUE(SameFloats(a, b)) << Name << " (clamped input)";
      };
      check("SingleToPCM8", 1, [](float* I, uint8_t* O, int N) { SingleToPCM8(I, O, N); },
            [](float* I, uint8_t* O, int N) { RefSingleToPCM8(I, O, N); });
      check("SingleToPCM16", 2, [](float* I, uint8_t* O, int N) { SingleToPCM16(I, O, N); },
            [](float* I, uint8_t* O, int N) { RefSingleToPCM16(I, reinterpret_cast<int16_t*>(O), N); });
      check("SingleToPCM24", 3, [](float* I, uint8_t* O, int N) { SingleToPCM24(I, O, N); },
            [](float* I, uint8_t* O, int N) { RefSingleToPCM24(I, O, N); });
      check("SingleToPCM32", 4, [](float* I, uint8_t* O, int N) { SingleToPCM32(I, O, N); },
            [](float* I, uint8_t* O, int N) { RefSingleToPCM32(I, reinterpret_cast<int32_t*>(O), N); });

      // Channels, in place.
      std::vector<float> st = TestFloats(2 * n + offset, rnd);
      for (auto& x : st) x = std::isnan(x) ? 0.0f : x;
      std::vector<float> fold(st), ref(st);
      StereoToMono(fold.data() + offset, n);
      for (int i = 0; i < n; ++i) ref[offset + i] = (st[offset + 2 * i] + st[offset + 2 * i + 1]) * 0.5f;
      EXPECT_TRUE(SameFloats(fold, ref)) << "StereoToMono";
      std::vector<float> spread(st), ref2(st);
      MonoToStereo(spread.data() + offset, n);
      for (int i = 0; i < n; ++i) ref2[offset + 2 * i] = ref2[offset + 2 * i + 1] = st[offset + i];
      EXPECT_TRUE(SameFloats(spread, ref2)) << "MonoToStereo";
    }
  }
}
