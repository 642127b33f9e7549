#include "audio/engine/AuUtils.h"

#include "classlib/WinApi.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>
#include <vector>

// Every message this unit raises, as the user reads it.
namespace msg {
constexpr const char* BadPoleCount = "Invalid number of filter poles";
}  // namespace msg

// The vector paths rely on MXCSR rounding to nearest (halves to even), its default.

namespace {

inline __m128 Clamp1(__m128 V) {
  // maxps yields its second operand when the first is not a number: NaN becomes -1.
  V = _mm_max_ps(V, _mm_set1_ps(-1.0f));
  return _mm_min_ps(V, _mm_set1_ps(1.0f));
}

inline float Clamp1(float X) {
  if (X >= 1.0f) return 1.0f;
  if (X > -1.0f) return X;
  return -1.0f;  // also not a number
}

inline __m128i FloorToInt(__m128 V) {
  __m128i r = _mm_cvtps_epi32(V);
  __m128 back = _mm_cvtepi32_ps(r);
  return _mm_add_epi32(r, _mm_castps_si128(_mm_cmpgt_ps(back, V)));  // -1 where rounded up
}

thread_local uint16_t SavedFPUControlWord = 0;

}  // namespace

// ---------------------------------------------------------------------------------------------
// PCM to floats

void PCM8ToSingle(const void* InBuf, float* OutBuf, int32_t Samples) {
  const auto* in = static_cast<const uint8_t*>(InBuf);
  for (int32_t i = 0; i < Samples; ++i) OutBuf[i] = in[i] * (1.0f / 128.0f) - 1.0f;
}

void PCM16ToSingle(const void* InBuf, float* OutBuf, int32_t Samples) {
  const auto* in = static_cast<const int16_t*>(InBuf);
  const __m128 scale = _mm_set1_ps(1.0f / 32768.0f);
  int32_t i = 0;
  for (; i + 8 <= Samples; i += 8) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
    __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16);
    _mm_storeu_ps(OutBuf + i, _mm_mul_ps(_mm_cvtepi32_ps(lo), scale));
    _mm_storeu_ps(OutBuf + i + 4, _mm_mul_ps(_mm_cvtepi32_ps(hi), scale));
  }
  for (; i < Samples; ++i) OutBuf[i] = in[i] * (1.0f / 32768.0f);
}

void PCM24ToSingle(const void* InBuf, float* OutBuf, int32_t Samples) {
  const auto* in = static_cast<const uint8_t*>(InBuf);
  int32_t i = 0;
  const __m128 scale = _mm_set1_ps(1.0f / 256.0f / 8388608.0f);
  // Four-byte loads while a byte beyond the sample still belongs to the buffer; each sample
  // lands in the top three bytes of a lane, so the scale also takes out the factor 256.
  for (; i + 5 <= Samples; i += 4) {
    uint32_t w[4];
    for (int k = 0; k < 4; ++k) std::memcpy(&w[k], in + 3 * (i + k), 4);
    __m128i v = _mm_set_epi32((int)(w[3] << 8), (int)(w[2] << 8), (int)(w[1] << 8), (int)(w[0] << 8));
    _mm_storeu_ps(OutBuf + i, _mm_mul_ps(_mm_cvtepi32_ps(v), scale));
  }
  for (; i + 1 < Samples; ++i) {
    uint32_t w;
    std::memcpy(&w, in + 3 * i, 4);
    OutBuf[i] = (float)((int32_t)(w << 8) >> 8) * (1.0f / 8388608.0f);
  }
  for (; i < Samples; ++i) {
    const uint8_t* p = in + 3 * i;
    uint32_t w = p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16;
    OutBuf[i] = (float)((int32_t)(w << 8) >> 8) * (1.0f / 8388608.0f);
  }
}

void PCM32ToSingle(const void* InBuf, float* OutBuf, int32_t Samples) {
  const auto* in = static_cast<const int32_t*>(InBuf);
  const __m128 scale = _mm_set1_ps(1.0f / 2147483648.0f);
  int32_t i = 0;
  for (; i + 4 <= Samples; i += 4) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    _mm_storeu_ps(OutBuf + i, _mm_mul_ps(_mm_cvtepi32_ps(v), scale));
  }
  for (; i < Samples; ++i) OutBuf[i] = (float)in[i] * (1.0f / 2147483648.0f);
}

// ---------------------------------------------------------------------------------------------
// Floats to PCM

void SingleToPCM8(const float* InBuf, void* OutBuf, int32_t Samples) {
  auto* out = static_cast<uint8_t*>(OutBuf);
  // floor((x + 1) * 128) = floor(x * 128) + 128 exactly: x * 128 only moves the exponent, so no
  // rounding can lift 0.99999994 to 256.
  int32_t i = 0;
  const __m128 k128 = _mm_set1_ps(128.0f);
  const __m128i off = _mm_set1_epi32(128);
  for (; i + 8 <= Samples; i += 8) {
    __m128i a = _mm_add_epi32(FloorToInt(_mm_mul_ps(Clamp1(_mm_loadu_ps(InBuf + i)), k128)), off);
    __m128i b = _mm_add_epi32(FloorToInt(_mm_mul_ps(Clamp1(_mm_loadu_ps(InBuf + i + 4)), k128)), off);
    __m128i w = _mm_packs_epi32(a, b);                                  // 0..256
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(w, w));  // 256 -> 255
  }
  for (; i < Samples; ++i) {
    float x = InBuf[i];
    if (x >= 1.0f) out[i] = 255;
    else if (x > -1.0f) out[i] = (uint8_t)((int)std::floor(x * 128.0f) + 128);
    else out[i] = 0;
  }
}

void SingleToPCM16(float* InBuf, void* OutBuf, int32_t Samples) {
  auto* out = static_cast<int16_t*>(OutBuf);
  const __m128 scale = _mm_set1_ps(32767.0f);
  int32_t i = 0;
  for (; i + 8 <= Samples; i += 8) {
    __m128 a = Clamp1(_mm_loadu_ps(InBuf + i));
    __m128 b = Clamp1(_mm_loadu_ps(InBuf + i + 4));
    _mm_storeu_ps(InBuf + i, a);
    _mm_storeu_ps(InBuf + i + 4, b);
    __m128i r = _mm_packs_epi32(_mm_cvtps_epi32(_mm_mul_ps(a, scale)), _mm_cvtps_epi32(_mm_mul_ps(b, scale)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), r);
  }
  for (; i < Samples; ++i) {
    float x = Clamp1(InBuf[i]);
    InBuf[i] = x;
    out[i] = (int16_t)_mm_cvtss_si32(_mm_set_ss(x * 32767.0f));
  }
}

void SingleToPCM24(float* InBuf, void* OutBuf, int32_t Samples) {
  auto* out = static_cast<uint8_t*>(OutBuf);
  const __m128 scale = _mm_set1_ps(8388607.0f);
  alignas(16) int32_t v[4];
  int32_t i = 0;
  // Four-byte stores overlap the next sample; the last sample of the buffer is stored bytewise.
  for (; i + 5 <= Samples; i += 4) {
    __m128 a = Clamp1(_mm_loadu_ps(InBuf + i));
    _mm_storeu_ps(InBuf + i, a);
    _mm_store_si128(reinterpret_cast<__m128i*>(v), FloorToInt(_mm_mul_ps(a, scale)));
    for (int k = 0; k < 4; ++k) std::memcpy(out + 3 * (i + k), &v[k], 4);
  }
  for (; i < Samples; ++i) {
    float x = Clamp1(InBuf[i]);
    InBuf[i] = x;
    int32_t s = (int32_t)std::floor(x * 8388607.0f);
    uint8_t* p = out + 3 * i;
    p[0] = (uint8_t)s;
    p[1] = (uint8_t)(s >> 8);
    p[2] = (uint8_t)(s >> 16);
  }
}

void SingleToPCM32(float* InBuf, void* OutBuf, int32_t Samples) {
  auto* out = static_cast<int32_t*>(OutBuf);
  const __m128d scale = _mm_set1_pd(2147483647.0);
  int32_t i = 0;
  for (; i + 4 <= Samples; i += 4) {
    __m128 a = Clamp1(_mm_loadu_ps(InBuf + i));
    _mm_storeu_ps(InBuf + i, a);
    __m128i lo = _mm_cvtpd_epi32(_mm_mul_pd(_mm_cvtps_pd(a), scale));
    __m128i hi = _mm_cvtpd_epi32(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(a, a)), scale));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi64(lo, hi));
  }
  for (; i < Samples; ++i) {
    float x = Clamp1(InBuf[i]);
    InBuf[i] = x;
    out[i] = _mm_cvtsd_si32(_mm_set_sd((double)x * 2147483647.0));
  }
}

void SingleToInt32Samples(void* Buffer, int32_t Bytes) {
  auto* f = static_cast<float*>(Buffer);
  auto* o = static_cast<int32_t*>(Buffer);
  int32_t n = Bytes / 4;
  for (int32_t i = 0; i < n; ++i) {
    float x = f[i];
    if (x >= 1.0f) o[i] = 0x7FFFFFFF;
    else if (x > -1.0f) o[i] = (int32_t)std::floor((long double)x * 2147483647.0L);
    else o[i] = (int32_t)0x80000000u;
  }
}

void DoubleToInt32Samples(void* Buffer, int32_t Bytes) {
  auto* d = static_cast<double*>(Buffer);
  auto* o = static_cast<int32_t*>(Buffer);
  int32_t n = Bytes / 8;
  for (int32_t i = 0; i < n; ++i) {
    double x = d[i];  // read before the result overwrites it
    int32_t r;
    if (x >= 1.0) r = 0x7FFFFFFF;
    else if (x > -1.0) r = (int32_t)std::floor((long double)x * 2147483647.0L);
    else r = (int32_t)0x80000000u;
    o[i] = r;
  }
}

// ---------------------------------------------------------------------------------------------
// Channels

void StereoToMono(float* Buffer, int32_t Frames) {
  const __m128 half = _mm_set1_ps(0.5f);
  int32_t i = 0;
  // Frame i is read (at 2i) before anything at i or later is written.
  for (; i + 4 <= Frames; i += 4) {
    __m128 a = _mm_loadu_ps(Buffer + 2 * i), b = _mm_loadu_ps(Buffer + 2 * i + 4);
    __m128 l = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    __m128 r = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
    _mm_storeu_ps(Buffer + i, _mm_mul_ps(_mm_add_ps(l, r), half));
  }
  for (; i < Frames; ++i) Buffer[i] = (Buffer[2 * i] + Buffer[2 * i + 1]) * 0.5f;
}

void MonoToStereo(float* Buffer, int32_t Frames) {
  int32_t i = Frames;
  // From the end backwards: sample i goes to 2i and 2i + 1, never below what is still unread.
  while (i % 4) {
    --i;
    float x = Buffer[i];
    Buffer[2 * i] = x;
    Buffer[2 * i + 1] = x;
  }
  for (i -= 4; i >= 0; i -= 4) {
    __m128 v = _mm_loadu_ps(Buffer + i);
    _mm_storeu_ps(Buffer + 2 * i + 4, _mm_unpackhi_ps(v, v));
    _mm_storeu_ps(Buffer + 2 * i, _mm_unpacklo_ps(v, v));
  }
}

// ---------------------------------------------------------------------------------------------
// FFT, dot product, GUIDs

void ComplexFFT(float* Data, int32_t N, int Direction) {
  if (N < 2) return;
  // Bit-reversal reordering.
  int32_t j = 0;
  for (int32_t i = 0; i < N - 1; ++i) {
    if (i < j) {
      std::swap(Data[2 * i], Data[2 * j]);
      std::swap(Data[2 * i + 1], Data[2 * j + 1]);
    }
    int32_t k = N >> 1;
    while (k <= j) {
      j -= k;
      k >>= 1;
    }
    j += k;
  }
  // Radix-2 butterflies; each stage's twiddle step is the half angle of the previous one.
  float c = -1.0f, s = 0.0f;
  for (int32_t half = 1; half < N; half <<= 1) {
    int32_t span = half << 1;
    float ur = 1.0f, ui = 0.0f;
    for (int32_t m = 0; m < half; ++m) {
      for (int32_t i = m; i < N; i += span) {
        int32_t ip = i + half;
        float tr = Data[2 * ip] * ur - Data[2 * ip + 1] * ui;
        float ti = Data[2 * ip] * ui + Data[2 * ip + 1] * ur;
        Data[2 * ip] = Data[2 * i] - tr;
        Data[2 * ip + 1] = Data[2 * i + 1] - ti;
        Data[2 * i] += tr;
        Data[2 * i + 1] += ti;
      }
      float t = ur * c - ui * s;
      ui = ur * s + ui * c;
      ur = t;
    }
    s = std::sqrt((1.0f - c) * 0.5f);
    if (Direction != 1) s = -s;
    c = std::sqrt((1.0f + c) * 0.5f);
  }
}

void DotProduct(const float* A, const float* B, float& Sum, int32_t Count) {
  float s = Sum;
  for (int32_t i = 0; i < Count; ++i) s += A[i] * B[i];
  Sum = s;
}

bool CompareGUIDs(const _GUID& A, const _GUID& B) {
  const GUID& a = A;
  const GUID& b = B;
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::memcmp(a.Data4, b.Data4, sizeof(a.Data4)) == 0;
}

// ---------------------------------------------------------------------------------------------
// Chebyshev filter design

namespace {

// Pole pair P (1-based) of a Poles-pole design: the biquad coefficients A0..A2, B1, B2.
void ChebyshevPolePair(double Cutoff, bool HighPass, double Ripple, int Poles, int P, double& A0, double& A1,
                       double& A2, double& B1, double& B2) {
  const double pi = 3.14159265358979323846;
  // The pole on the unit circle...
  double rp = -std::cos(pi / (Poles * 2.0) + (P - 1) * pi / Poles);
  double ip = std::sin(pi / (Poles * 2.0) + (P - 1) * pi / Poles);
  // ...warped to an ellipse for a Chebyshev response.
  if (Ripple != 0) {
    double es = std::sqrt((100.0 / (100.0 - Ripple)) * (100.0 / (100.0 - Ripple)) - 1.0);
    double vx = (1.0 / Poles) * std::log((1.0 / es) + std::sqrt(1.0 / (es * es) + 1.0));
    double kx = (1.0 / Poles) * std::log((1.0 / es) + std::sqrt(1.0 / (es * es) - 1.0));
    kx = (std::exp(kx) + std::exp(-kx)) / 2.0;
    rp = rp * ((std::exp(vx) - std::exp(-vx)) / 2.0) / kx;
    ip = ip * ((std::exp(vx) + std::exp(-vx)) / 2.0) / kx;
  }
  // s-domain to z-domain by the bilinear transform.
  double t = 2.0 * std::tan(0.5);
  double w = 2.0 * pi * Cutoff;
  double m = rp * rp + ip * ip;
  double d = 4.0 - 4.0 * rp * t + m * t * t;
  double x0 = t * t / d;
  double x1 = 2.0 * t * t / d;
  double x2 = t * t / d;
  double y1 = (8.0 - 2.0 * m * t * t) / d;
  double y2 = (-4.0 - 4.0 * rp * t - m * t * t) / d;
  // Low-pass prototype to the wanted low-pass or high-pass.
  double k;
  if (HighPass) k = -std::cos(w / 2.0 + 0.5) / std::cos(w / 2.0 - 0.5);
  else k = std::sin(0.5 - w / 2.0) / std::sin(0.5 + w / 2.0);
  d = 1.0 + y1 * k - y2 * k * k;
  A0 = (x0 - x1 * k + x2 * k * k) / d;
  A1 = (-2.0 * x0 * k + x1 + x1 * k * k - 2.0 * x2 * k) / d;
  A2 = (x0 * k * k - x1 * k + x2) / d;
  B1 = (2.0 * k + y1 + y1 * k * k - 2.0 * y2 * k) / d;
  B2 = (-(k * k) - y1 * k + y2) / d;
  if (HighPass) {
    A1 = -A1;
    B1 = -B1;
  }
}

}  // namespace

void DesignChebyshevFilter(int Poles, bool HighPass, double* A, double* B, double Cutoff, double Ripple) {
  if (Poles < 2 || Poles > 20 || (Poles & 1)) throw EConvertError(msg::BadPoleCount);
  const int n = Poles + 3;
  std::vector<double> ta(n), tb(n);
  for (int i = 0; i < n; ++i) A[i] = B[i] = 0.0;
  A[2] = 1.0;
  B[2] = 1.0;
  for (int p = 1; p <= Poles / 2; ++p) {
    double a0, a1, a2, b1, b2;
    ChebyshevPolePair(Cutoff, HighPass, Ripple, Poles, p, a0, a1, a2, b1, b2);
    for (int i = 0; i < n; ++i) {
      ta[i] = A[i];
      tb[i] = B[i];
    }
    for (int i = 2; i < n; ++i) {
      A[i] = a0 * ta[i] + a1 * ta[i - 1] + a2 * ta[i - 2];
      B[i] = tb[i] - b1 * tb[i - 1] - b2 * tb[i - 2];
    }
  }
  B[2] = 0.0;
  for (int i = 0; i < n - 2; ++i) {
    A[i] = A[i + 2];
    B[i] = -B[i + 2];
  }
  A[n - 2] = A[n - 1] = B[n - 2] = B[n - 1] = 0.0;
  // Unity gain at zero frequency (low-pass) or at half the sample rate (high-pass).
  double sa = 0.0, sb = 0.0;
  for (int i = 0; i < n - 2; ++i) {
    double sign = (HighPass && (i & 1)) ? -1.0 : 1.0;
    sa += A[i] * sign;
    sb += B[i] * sign;
  }
  double gain = sa / (1.0 - sb);
  for (int i = 0; i < n - 2; ++i) A[i] /= gain;
}

// ---------------------------------------------------------------------------------------------
// Strings and the FPU

AnsiString LeftOfChar(char C, const AnsiString& S) {
  size_t p = S.find(C);
  return p == AnsiString::npos ? S : S.substr(0, p);
}

AnsiString RightOfChar(char C, const AnsiString& S) {
  size_t p = S.find(C);
  return p == AnsiString::npos ? AnsiString() : S.substr(p + 1);
}

void SetSinglePrecisionFPU() {
  SavedFPUControlWord = Get8087CW();
  Set8087CW(SavedFPUControlWord & ~0x0300);
}

void RestoreFPUControlWord() { Set8087CW(SavedFPUControlWord); }
