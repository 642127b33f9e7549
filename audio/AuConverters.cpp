#include "audio/AuConverters.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

#include "audio/AuUtils.h"

namespace {

// Frames converted through the float buffer at a time.
const uint32_t kSliceFrames = 1024;

bool ValidBits(int Bits) { return Bits == 8 || Bits == 16 || Bits == 24 || Bits == 32; }

void ToFloats(int Bits, const void* In, float* Out, int32_t Samples) {
  switch (Bits) {
    case 8: PCM8ToSingle(In, Out, Samples); break;
    case 16: PCM16ToSingle(In, Out, Samples); break;
    case 24: PCM24ToSingle(In, Out, Samples); break;
    default: PCM32ToSingle(In, Out, Samples); break;
  }
}

void FromFloats(int Bits, float* In, void* Out, int32_t Samples) {
  switch (Bits) {
    case 8: SingleToPCM8(In, Out, Samples); break;
    case 16: SingleToPCM16(In, Out, Samples); break;
    case 24: SingleToPCM24(In, Out, Samples); break;
    default: SingleToPCM32(In, Out, Samples); break;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TSampleMorpher

TSampleMorpher::~TSampleMorpher() = default;

int TSampleMorpher::GetBPS() {
  if (FOutBitsPerSample != 0) return FOutBitsPerSample;
  return FInput ? FInput->BitsPerSample() : 0;
}

int TSampleMorpher::GetCh() {
  if (!FInput) return 0;
  int ch = FInput->Channels();
  if ((FOutChannels == 1 || FOutChannels == 2) && (ch == 1 || ch == 2)) return FOutChannels;
  return ch;
}

int TSampleMorpher::GetSR() { return FInput ? FInput->SampleRate() : 0; }

void TSampleMorpher::InitInternal() {
  if (!FInput) throw EAuException("Input is not assigned");
  FInput->Init();
  FBusy = true;
  FPosition = 0;
  FPendingStart = FPendingEnd = 0;
  FCapacity = 0;
  FTransparent = FOutBitsPerSample == 0 && FOutChannels == 0;
  FInBits = FInput->BitsPerSample() & 127;
  FInCh = FInput->Channels();
  FOutBits = GetBPS() & 127;
  FOutCh = GetCh();
  FInSampleBytes = FInBits / 8;
  FOutSampleBytes = FOutBits / 8;
  if (!FTransparent && (!ValidBits(FInBits) || !ValidBits(FOutBits) || FInCh < 1 || FOutCh < 1)) {
    FInput->Flush();
    FBusy = false;
    throw EAuException("Unsupported sample format");
  }
  FrameSize = (uint16_t)(FOutCh * FOutBits / 8);
  int64_t inSize = FInput->Size();
  if (inSize < 0) {
    FSize = -1;
  } else if (FTransparent) {
    FSize = inSize;
  } else {
    int64_t size = Round((double)inSize * (double)(FOutBits * FOutCh) / (double)(FInBits * FInCh));
    uint32_t frame = FOutSampleBytes * FOutCh;
    FSize = size - size % frame;
  }
}

void TSampleMorpher::FlushInternal() {
  if (FInput) FInput->Flush();
  std::vector<uint8_t>().swap(FOutBuf);
  std::vector<float>().swap(FFloatBuf);
  std::vector<uint8_t>().swap(FStaging);
  FCapacity = 0;
  FPendingStart = FPendingEnd = 0;
  FBusy = false;
}

void TSampleMorpher::Reserve(uint32_t Frames) {
  if (Frames <= FCapacity) return;
  FOutBuf.assign((size_t)Frames * FOutSampleBytes * FOutCh, 0);
  FFloatBuf.assign((size_t)std::min(Frames, kSliceFrames) * std::max(FInCh, FOutCh), 0.0f);
  FCapacity = Frames;
}

void TSampleMorpher::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (FTransparent) {
    FInput->GetData(Buffer, Bytes);
    return;
  }
  // What is left of frames converted for an ask smaller than a frame.
  if (FPendingStart < FPendingEnd) {
    uint32_t n = std::min(Bytes, FPendingEnd - FPendingStart);
    Buffer = FOutBuf.data() + FPendingStart;
    FPendingStart += n;
    Bytes = n;
    return;
  }
  const uint32_t outFrame = FOutSampleBytes * FOutCh;
  const uint32_t inFrame = FInSampleBytes * FInCh;
  uint32_t frames = Bytes / outFrame;
  if (frames == 0) frames = 1;  // an ask below one frame still gets its bytes
  void* p = nullptr;
  uint32_t got = frames * inFrame;
  FInput->GetData(p, got);
  if (got == 0 || !p) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  if (got % inFrame != 0) {
    // The input ended its delivery inside a frame: complete the frame (or drop the fragment
    // at the end of the stream) so that channels never shift.
    uint32_t want = got - got % inFrame + inFrame;
    FStaging.resize(want);
    std::memcpy(FStaging.data(), p, got);
    bool eof = false;
    got += FInput->FillBuffer(FStaging.data() + got, want - got, eof);
    p = FStaging.data();
  }
  frames = got / inFrame;
  if (frames == 0) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  Reserve(frames);
  // Through the float buffer a slice at a time, so that it stays in the first-level cache.
  float* f = FFloatBuf.data();
  const auto* src = static_cast<const uint8_t*>(p);
  uint8_t* dst = FOutBuf.data();
  for (uint32_t done = 0; done < frames;) {
    uint32_t n = std::min(frames - done, kSliceFrames);
    ToFloats(FInBits, src + (size_t)done * inFrame, f, (int32_t)(n * FInCh));
    if (FOutCh == 2 && FInCh == 1) MonoToStereo(f, (int32_t)n);
    else if (FOutCh == 1 && FInCh == 2) StereoToMono(f, (int32_t)n);
    FromFloats(FOutBits, f, dst + (size_t)done * outFrame, (int32_t)(n * FOutCh));
    done += n;
  }
  uint32_t produced = frames * outFrame;
  uint32_t n = std::min(Bytes, produced);
  Buffer = FOutBuf.data();
  FPendingStart = n;
  FPendingEnd = produced;
  Bytes = n;
}

// ---------------------------------------------------------------------------------------------
// TFastResampler

TFastResampler::~TFastResampler() = default;

int TFastResampler::GetBPS() {
  if (!FInput) throw EAuException("Input is not assigned");
  return TAuConverter::GetBPS();
}

int TFastResampler::GetCh() {
  if (!FInput) throw EAuException("Input is not assigned");
  return FInput->Channels();
}

int TFastResampler::GetSR() {
  if (!FInput) throw EAuException("Input is not assigned");
  return (int)FOutSampleRate;
}

void TFastResampler::InitInternal() {
  if (!FInput) throw EAuException("Input is not assigned");
  FInput->Init();
  FBits = (uint32_t)(FInput->BitsPerSample() & 127);
  FChannels = (uint32_t)std::max(0, FInput->Channels());
  uint32_t inRate = (uint32_t)std::max(0, FInput->SampleRate());
  const char* error = nullptr;
  if (!ValidBits((int)FBits)) error = "Unsupported sample format";
  else if (FChannels < 1 || FChannels > 8) error = "More than 8 channels are not supported";
  else if (inRate < 5 || FOutSampleRate < 5 || FOutSampleRate > 1000000 || inRate > 1000000)
    error = "Unsupported sample rate";
  if (error) {
    FInput->Flush();
    throw EAuException(error);
  }
  FBusy = true;
  FSampleBytes = FBits / 8;
  FFrameBytes = FChannels * FSampleBytes;
  FrameSize = (uint16_t)FFrameBytes;
  FInBlockFrames = inRate / 5;
  FOutBlockFrames = FOutSampleRate / 5;
  FInBlockBytes = FInBlockFrames * FFrameBytes;
  FOutBlockBytes = FOutBlockFrames * FFrameBytes;
  FPassThrough = FInBlockBytes == FOutBlockBytes;
  FWorkFrames = FInBlockFrames;
  if (FOutBlockFrames > FInBlockFrames) {
    uint32_t k = 2;
    while (FInBlockFrames * k < FOutBlockFrames) ++k;
    FWorkFrames = FInBlockFrames * k;
  }
  FPosition = 0;
  FWinStart = FWinEnd = 0;
  int64_t inSize = FInput->Size();
  if (inSize > 0) {
    int64_t size = Round((double)inSize * (double)FOutBlockBytes / (double)FInBlockBytes);
    FSize = size - size % FFrameBytes;  // whole frames only
  } else {
    FSize = inSize;
  }
  if (FPassThrough) return;

  FBytes.assign((size_t)std::max(FInBlockFrames, FWorkFrames) * FFrameBytes, 0);
  FInFloats.assign((size_t)FInBlockFrames * FChannels, 0.0f);
  FFloats.assign((size_t)FWorkFrames * FChannels, 0.0f);
  FStates.assign(FChannels, TStageState{});
  double a[7], b[7];
  double ratio = (double)std::min(FInBlockBytes, FOutBlockBytes) / (double)std::max(FInBlockBytes, FOutBlockBytes);
  DesignChebyshevFilter(4, false, a, b, 0.85 * ratio / 2.0, 5.0);
  for (int i = 0; i < 5; ++i) FA[i] = (float)a[i];
  for (int i = 0; i < 4; ++i) FB[i] = (float)b[i + 1];
}

void TFastResampler::FlushInternal() {
  if (FInput) FInput->Flush();
  std::vector<uint8_t>().swap(FBytes);
  std::vector<float>().swap(FInFloats);
  std::vector<float>().swap(FFloats);
  std::vector<TStageState>().swap(FStates);
  FWinStart = FWinEnd = 0;
  FBusy = false;
}

namespace {

struct TCascade {
  __m128 A[5], B[4];
};

// Lanes s for which stage s has a sample at step T of a block of L samples (0 <= T - s < L).
inline __m128 LaneMask(int T, int L) {
  alignas(16) uint32_t m[4];
  for (int s = 0; s < 4; ++s) m[s] = (T - s >= 0 && T - s < L) ? 0xFFFFFFFFu : 0u;
  return _mm_load_ps(reinterpret_cast<const float*>(m));
}

inline __m128 Blend(__m128 Mask, __m128 New, __m128 Old) {
  return _mm_or_ps(_mm_and_ps(Mask, New), _mm_andnot_ps(Mask, Old));
}

// The histories hold the last four inputs (X) and outputs (Y) of each stage, one stage per lane,
// oldest first: H[0] four samples back ... H[3] one sample back.
//
// One step of the four stages at once: stage 0 takes In, stage s the last output of stage s - 1.
// I1..I4 name the slots one to four samples back; the new values go to slot I4.
template <int I1, int I2, int I3, int I4>
inline __m128 StepAt(const TCascade& K, __m128* X, __m128* Y, float In, __m128& NewX) {
  NewX = _mm_move_ss(_mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(Y[I1]), 4)), _mm_set_ss(In));
  __m128 rest = _mm_add_ps(_mm_add_ps(_mm_mul_ps(K.A[1], X[I1]), _mm_mul_ps(K.A[2], X[I2])),
                           _mm_add_ps(_mm_mul_ps(K.A[3], X[I3]), _mm_mul_ps(K.A[4], X[I4])));
  rest = _mm_add_ps(rest, _mm_add_ps(_mm_mul_ps(K.B[1], Y[I2]), _mm_add_ps(_mm_mul_ps(K.B[2], Y[I3]),
                                                                           _mm_mul_ps(K.B[3], Y[I4]))));
  return _mm_add_ps(_mm_add_ps(rest, _mm_mul_ps(K.B[0], Y[I1])), _mm_mul_ps(K.A[0], NewX));
}

inline float Lane3(__m128 V) { return _mm_cvtss_f32(_mm_shuffle_ps(V, V, 0xFF)); }

// A step in the canonical slot order, updating only the lanes in Mask.
inline float MaskedStep(const TCascade& K, __m128* X, __m128* Y, float In, __m128 Mask) {
  __m128 x;
  __m128 y = StepAt<3, 2, 1, 0>(K, X, Y, In, x);
  X[0] = Blend(Mask, X[1], X[0]);
  X[1] = Blend(Mask, X[2], X[1]);
  X[2] = Blend(Mask, X[3], X[2]);
  X[3] = Blend(Mask, x, X[3]);
  Y[0] = Blend(Mask, Y[1], Y[0]);
  Y[1] = Blend(Mask, Y[2], Y[1]);
  Y[2] = Blend(Mask, Y[3], Y[2]);
  Y[3] = Blend(Mask, y, Y[3]);
  return Lane3(y);
}

// Step R of a group of four: the slot written is R, which ends the group in canonical order
// without moving any history.
template <int R>
inline float GroupStep(const TCascade& K, __m128* X, __m128* Y, float In) {
  __m128 x;
  __m128 y = StepAt<(R + 3) & 3, (R + 2) & 3, (R + 1) & 3, R>(K, X, Y, In, x);
  X[R] = x;
  Y[R] = y;
  return Lane3(y);
}

// Runs NC channels (starting at Data[0], frames Stride floats apart) through the cascade. The
// stages form a wavefront: at step t stage s filters sample t - s, so the four stages of one
// channel proceed together in one vector; the first and last three steps are masked. The
// output of step t (sample t - 3) replaces input t - 3, which has been read already.
template <int NC>
void RunCascade(const TCascade& K, float* Data, uint32_t Stride, int L, float (*State)[2][4][4]) {
  __m128 X[NC][4], Y[NC][4];
  for (int c = 0; c < NC; ++c)
    for (int k = 0; k < 4; ++k) {
      X[c][k] = _mm_loadu_ps(State[c][0][k]);
      Y[c][k] = _mm_loadu_ps(State[c][1][k]);
    }
  const int total = L + 3;
  auto masked = [&](int T, __m128 M) {
    for (int c = 0; c < NC; ++c) {
      float in = T < L ? Data[(size_t)T * Stride + c] : 0.0f;
      float out = MaskedStep(K, X[c], Y[c], in, M);
      if (T >= 3 && T - 3 < L) Data[(size_t)(T - 3) * Stride + c] = out;
    }
  };
  int t = 0;
  for (; t < 3 && t < total; ++t) masked(t, LaneMask(t, L));
  for (; t + 4 <= L; t += 4) {
    float* p = Data + (size_t)t * Stride;
    float* q = p - 3 * (size_t)Stride;
    for (int c = 0; c < NC; ++c) q[c] = GroupStep<0>(K, X[c], Y[c], p[c]);
    for (int c = 0; c < NC; ++c) q[Stride + c] = GroupStep<1>(K, X[c], Y[c], p[Stride + c]);
    for (int c = 0; c < NC; ++c) q[2 * Stride + c] = GroupStep<2>(K, X[c], Y[c], p[2 * Stride + c]);
    for (int c = 0; c < NC; ++c) q[3 * Stride + c] = GroupStep<3>(K, X[c], Y[c], p[3 * Stride + c]);
  }
  const __m128 all = _mm_castsi128_ps(_mm_set1_epi32(-1));
  for (; t < L; ++t) masked(t, all);
  for (; t < total; ++t) masked(t, LaneMask(t, L));
  for (int c = 0; c < NC; ++c)
    for (int k = 0; k < 4; ++k) {
      _mm_storeu_ps(State[c][0][k], X[c][k]);
      _mm_storeu_ps(State[c][1][k], Y[c][k]);
    }
}

}  // namespace

void TFastResampler::FilterBlock(float* Data, uint32_t Frames) {
  if (Frames == 0) return;
  TCascade k;
  for (int i = 0; i < 5; ++i) k.A[i] = _mm_set1_ps(FA[i]);
  for (int i = 0; i < 4; ++i) k.B[i] = _mm_set1_ps(FB[i]);
  static_assert(sizeof(TStageState) == sizeof(float[2][4][4]), "stage state layout");
  auto* states = reinterpret_cast<float(*)[2][4][4]>(FStates.data());
  uint32_t c = 0;
  for (; c + 2 <= FChannels; c += 2) RunCascade<2>(k, Data + c, FChannels, (int)Frames, states + c);
  if (c < FChannels) RunCascade<1>(k, Data + c, FChannels, (int)Frames, states + c);
}

namespace {

// Keeps about Out/In of Frames frames, evenly spread, at the front; returns how many. CH is the
// channel count when known at compile time (0: Ch).
template <uint32_t CH>
uint32_t Decimate(float* F, uint32_t Frames, uint32_t Ch, int32_t OutBytes, int32_t InBytes) {
  const uint32_t ch = CH ? CH : Ch;
  int32_t acc = 0;
  uint32_t kept = 0;
  for (uint32_t i = 0; i < Frames; ++i) {
    acc -= OutBytes;
    if (acc < 0) {
      for (uint32_t c = 0; c < ch; ++c) F[(size_t)kept * ch + c] = F[(size_t)i * ch + c];
      ++kept;
      acc += InBytes;
    }
  }
  return kept;
}

// Repeats each of Frames frames about Out/In times into Dst (at most Cap frames); the block's
// last frame ends the repetition as soon as it is left. Returns the frames written.
template <uint32_t CH>
uint32_t Repeat(float* Dst, const float* Src, uint32_t Frames, uint32_t Ch, uint32_t Cap, int32_t InBytes,
                int32_t OutBytes) {
  const uint32_t ch = CH ? CH : Ch;
  int32_t acc = 0;
  uint32_t cur = 0, n = 0;
  while (cur < Frames && n < Cap) {
    acc -= InBytes;
    for (uint32_t c = 0; c < ch; ++c) Dst[(size_t)n * ch + c] = Src[(size_t)cur * ch + c];
    ++n;
    if (acc < 0) {
      acc += OutBytes;
      ++cur;
    }
  }
  return n;
}

}  // namespace

uint32_t TFastResampler::Refill() {
  bool eof = false;
  uint32_t got = FInput->FillBuffer(FBytes.data(), FInBlockBytes, eof);
  uint32_t frames = got / FFrameBytes;
  if (frames == 0) return 0;
  const uint32_t ch = FChannels;
  const int32_t inB = (int32_t)FInBlockBytes, outB = (int32_t)FOutBlockBytes;
  uint32_t produced = 0;
  float* f = FFloats.data();
  if (FOutBlockBytes <= FInBlockBytes) {
    // Down: filter at the input rate, then keep about out/in of the frames, evenly spread.
    ToFloats((int)FBits, FBytes.data(), f, (int32_t)(frames * ch));
    FilterBlock(f, frames);
    if (ch == 1) produced = Decimate<1>(f, frames, ch, outB, inB);
    else if (ch == 2) produced = Decimate<2>(f, frames, ch, outB, inB);
    else produced = Decimate<0>(f, frames, ch, outB, inB);
  } else {
    // Up: repeat each frame about out/in times, then filter at the output rate.
    float* in = FInFloats.data();
    ToFloats((int)FBits, FBytes.data(), in, (int32_t)(frames * ch));
    if (ch == 1) produced = Repeat<1>(f, in, frames, ch, FWorkFrames, inB, outB);
    else if (ch == 2) produced = Repeat<2>(f, in, frames, ch, FWorkFrames, inB, outB);
    else produced = Repeat<0>(f, in, frames, ch, FWorkFrames, inB, outB);
    FilterBlock(f, produced);
  }
  FromFloats((int)FBits, f, FBytes.data(), (int32_t)(produced * ch));
  FWinStart = 0;
  FWinEnd = produced * FFrameBytes;
  return FWinEnd;
}

void TFastResampler::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!FBusy) throw EAuException("The Stream is not opened");
  if (FPassThrough) {
    FInput->GetData(Buffer, Bytes);
    return;
  }
  if (FWinStart >= FWinEnd && Refill() == 0) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  uint32_t n = std::min(Bytes, FWinEnd - FWinStart);
  Buffer = FBytes.data() + FWinStart;
  FWinStart += n;
  Bytes = n;
  // Position counts the bytes delivered (the converter's GetData adds them).
}
