#include "audio/engine/AuConverters.h"

#include <algorithm>
#include <cstring>

#include "audio/engine/AuUtils.h"
#include "audio/engine/FilterCascade.h"

// Every message this unit raises, as the user reads it.
namespace msg {
constexpr const char* NoInput = "Input is not assigned";
constexpr const char* StreamNotOpened = "The Stream is not opened";
constexpr const char* BadSampleFormat = "Unsupported sample format";
constexpr const char* TooManyChannels = "More than 8 channels are not supported";
constexpr const char* BadSampleRate = "Unsupported sample rate";
}  // namespace msg

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

// Where each channel of an unmasked file of Channels channels goes in a stereo fold.
enum TFoldRole { frLeft, frRight, frCentre, frLowFreq, frBackCentre, frLeftSurround, frRightSurround };

TFoldRole FoldRole(int Channels, int Index) {
  static const TFoldRole layouts[9][8] = {
      {}, {}, {},
      {frLeft, frRight, frCentre},
      {frLeft, frRight, frLeftSurround, frRightSurround},
      {frLeft, frRight, frCentre, frLeftSurround, frRightSurround},
      {frLeft, frRight, frCentre, frLowFreq, frLeftSurround, frRightSurround},
      {frLeft, frRight, frCentre, frLowFreq, frBackCentre, frLeftSurround, frRightSurround},
      {frLeft, frRight, frCentre, frLowFreq, frLeftSurround, frRightSurround, frLeftSurround, frRightSurround},
  };
  if (Channels > 8) return Index % 2 ? frRight : frLeft;
  return layouts[Channels][Index];
}

// The weights that fold InCh (more than 2) channels to OutCh (1 or 2): OutCh rows of InCh, each
// row summing to 1.
void MakeFold(int InCh, int OutCh, std::vector<float>& Fold) {
  const double c = 0.70710678118654752;  // -3 dB
  std::vector<double> l(InCh), r(InCh);
  for (int i = 0; i < InCh; ++i) {
    switch (FoldRole(InCh, i)) {
      case frLeft: l[i] = 1; break;
      case frRight: r[i] = 1; break;
      case frCentre: l[i] = r[i] = c; break;
      case frLowFreq: break;
      case frBackCentre: l[i] = r[i] = c * c; break;
      case frLeftSurround: l[i] = c; break;
      case frRightSurround: r[i] = c; break;
    }
  }
  double sumL = 0, sumR = 0;
  for (int i = 0; i < InCh; ++i) sumL += l[i], sumR += r[i];
  Fold.assign((size_t)OutCh * InCh, 0.0f);
  for (int i = 0; i < InCh; ++i) {
    if (OutCh == 2) {
      Fold[i] = (float)(l[i] / sumL);
      Fold[InCh + i] = (float)(r[i] / sumR);
    } else {
      Fold[i] = (float)((l[i] / sumL + r[i] / sumR) / 2);
    }
  }
}

// Folds Frames frames of InCh channels to OUT channels in place with Fold's weights (OUT rows of
// InCh). Frame i is read whole before its OUT samples are written, and they land at or below it.
template <int OUT>
void FoldChannels(float* F, uint32_t Frames, int InCh, const float* Fold) {
  for (uint32_t i = 0; i < Frames; ++i) {
    const float* in = F + (size_t)i * InCh;
    float acc[OUT] = {};
    for (int o = 0; o < OUT; ++o)
      for (int c = 0; c < InCh; ++c) acc[o] += Fold[o * InCh + c] * in[c];
    for (int o = 0; o < OUT; ++o) F[(size_t)i * OUT + o] = acc[o];
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
  if ((FOutChannels == 1 || FOutChannels == 2) && ch >= 1) return FOutChannels;
  return ch;
}

int TSampleMorpher::GetSR() { return FInput ? FInput->SampleRate() : 0; }

void TSampleMorpher::InitInternal() {
  if (!FInput) throw EAuException(msg::NoInput);
  FInput->Init();
  FBusy = true;
  FPosition = 0;
  FPendingStart = FPendingEnd = 0;
  FCapacity = 0;
  FInBits = FInput->BitsPerSample() & 127;
  FInCh = FInput->Channels();
  FOutBits = GetBPS() & 127;
  FOutCh = GetCh();
  // Nothing to change, nothing touched: a trip through floats would move samples by a step.
  FTransparent = (FOutBitsPerSample == 0 && FOutChannels == 0) || (FOutBits == FInBits && FOutCh == FInCh);
  FInSampleBytes = FInBits / 8;
  FOutSampleBytes = FOutBits / 8;
  if (!FTransparent && (!ValidBits(FInBits) || !ValidBits(FOutBits) || FInCh < 1 || FOutCh < 1)) {
    FInput->Flush();
    FBusy = false;
    throw EAuException(msg::BadSampleFormat);
  }
  if (!FTransparent && FInCh > 2) MakeFold(FInCh, FOutCh, FFold);
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
  std::vector<float>().swap(FFold);
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
    else if (FOutCh == 2 && FInCh > 2) FoldChannels<2>(f, n, FInCh, FFold.data());
    else if (FOutCh == 1 && FInCh > 2) FoldChannels<1>(f, n, FInCh, FFold.data());
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
  if (!FInput) throw EAuException(msg::NoInput);
  return TAuConverter::GetBPS();
}

int TFastResampler::GetCh() {
  if (!FInput) throw EAuException(msg::NoInput);
  return FInput->Channels();
}

int TFastResampler::GetSR() {
  if (!FInput) throw EAuException(msg::NoInput);
  return (int)FOutSampleRate;
}

void TFastResampler::InitInternal() {
  if (!FInput) throw EAuException(msg::NoInput);
  FInput->Init();
  FBits = (uint32_t)(FInput->BitsPerSample() & 127);
  FChannels = (uint32_t)std::max(0, FInput->Channels());
  uint32_t inRate = (uint32_t)std::max(0, FInput->SampleRate());
  const char* error = nullptr;
  if (!ValidBits((int)FBits)) error = msg::BadSampleFormat;
  else if (FChannels < 1 || FChannels > 8) error = msg::TooManyChannels;
  else if (inRate < 5 || FOutSampleRate < 5 || FOutSampleRate > 1000000 || inRate > 1000000)
    error = msg::BadSampleRate;
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
  FStates.assign(FChannels, TCascadeState{});
  double a[7], b[7];
  double ratio = (double)std::min(FInBlockBytes, FOutBlockBytes) / (double)std::max(FInBlockBytes, FOutBlockBytes);
  DesignChebyshevFilter(4, false, a, b, 0.85 * ratio / 2.0, 5.0);
  for (int i = 0; i < 5; ++i) FCoefs.A[i] = (float)a[i];
  for (int i = 0; i < 4; ++i) FCoefs.B[i] = (float)b[i + 1];
}

void TFastResampler::FlushInternal() {
  if (FInput) FInput->Flush();
  std::vector<uint8_t>().swap(FBytes);
  std::vector<float>().swap(FInFloats);
  std::vector<float>().swap(FFloats);
  std::vector<TCascadeState>().swap(FStates);
  FWinStart = FWinEnd = 0;
  FBusy = false;
}

void TFastResampler::FilterBlock(float* Data, uint32_t Frames) {
  FilterCascade(FCoefs, Data, FChannels, Frames, FStates.data());
}

namespace {

// Keeps about Out/In of Frames frames, evenly spread, at the front: exactly Target of them (the
// last one kept repeats should the spread give fewer). CH is the channel count when known at
// compile time (0: Ch).
template <uint32_t CH>
void Decimate(float* F, uint32_t Frames, uint32_t Ch, uint32_t Target, int32_t OutBytes, int32_t InBytes) {
  const uint32_t ch = CH ? CH : Ch;
  int32_t acc = 0;
  uint32_t kept = 0;
  for (uint32_t i = 0; i < Frames && kept < Target; ++i) {
    acc -= OutBytes;
    if (acc < 0) {
      for (uint32_t c = 0; c < ch; ++c) F[(size_t)kept * ch + c] = F[(size_t)i * ch + c];
      ++kept;
      acc += InBytes;
    }
  }
  for (; kept < Target && kept > 0; ++kept)
    for (uint32_t c = 0; c < ch; ++c) F[(size_t)kept * ch + c] = F[(size_t)(kept - 1) * ch + c];
}

// Repeats each of Frames frames about Out/In times into Dst, Target frames in all. Output n
// holds input frame floor(n * In / Out): the accumulator starts one short of a whole output
// block, so the first frame of a block gets its full share of repeats like every other and a
// whole block fills exactly the output block, with no step where blocks meet. A short last
// block's last frame takes the repeats that are left.
template <uint32_t CH>
void Repeat(float* Dst, const float* Src, uint32_t Frames, uint32_t Ch, uint32_t Target, int32_t InBytes,
            int32_t OutBytes) {
  const uint32_t ch = CH ? CH : Ch;
  const uint32_t last = Frames - 1;
  int32_t acc = OutBytes - 1;
  uint32_t cur = 0;
  for (uint32_t n = 0; n < Target; ++n) {
    acc -= InBytes;
    const float* s = Src + (size_t)std::min(cur, last) * ch;
    for (uint32_t c = 0; c < ch; ++c) Dst[(size_t)n * ch + c] = s[c];
    if (acc < 0) {
      acc += OutBytes;
      ++cur;
    }
  }
}

}  // namespace

uint32_t TFastResampler::OutFramesFor(uint32_t Frames) const {
  if (Frames >= FInBlockFrames) return FOutBlockFrames;
  // A short last block: its share as Size counts it, so that the stream ends where Size says.
  int64_t bytes = Round((double)Frames * FFrameBytes * (double)FOutBlockBytes / (double)FInBlockBytes);
  return (uint32_t)std::min<int64_t>(bytes / FFrameBytes, FOutBlockFrames);
}

uint32_t TFastResampler::Refill() {
  bool eof = false;
  uint32_t got = FInput->FillBuffer(FBytes.data(), FInBlockBytes, eof);
  uint32_t frames = got / FFrameBytes;
  if (frames == 0) return 0;
  const uint32_t ch = FChannels;
  const int32_t inB = (int32_t)FInBlockBytes, outB = (int32_t)FOutBlockBytes;
  const uint32_t produced = OutFramesFor(frames);
  float* f = FFloats.data();
  if (FOutBlockBytes <= FInBlockBytes) {
    // Down: filter at the input rate, then keep about out/in of the frames, evenly spread.
    ToFloats((int)FBits, FBytes.data(), f, (int32_t)(frames * ch));
    FilterBlock(f, frames);
    if (ch == 1) Decimate<1>(f, frames, ch, produced, outB, inB);
    else if (ch == 2) Decimate<2>(f, frames, ch, produced, outB, inB);
    else Decimate<0>(f, frames, ch, produced, outB, inB);
  } else {
    // Up: repeat each frame about out/in times, then filter at the output rate.
    float* in = FInFloats.data();
    ToFloats((int)FBits, FBytes.data(), in, (int32_t)(frames * ch));
    if (ch == 1) Repeat<1>(f, in, frames, ch, produced, inB, outB);
    else if (ch == 2) Repeat<2>(f, in, frames, ch, produced, inB, outB);
    else Repeat<0>(f, in, frames, ch, produced, inB, outB);
    FilterBlock(f, produced);
  }
  FromFloats((int)FBits, f, FBytes.data(), (int32_t)(produced * ch));
  FWinStart = 0;
  FWinEnd = produced * FFrameBytes;
  return FWinEnd;
}

void TFastResampler::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!FBusy) throw EAuException(msg::StreamNotOpened);
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
