#include "audio/stages/AuAudioMix.h"

#include <algorithm>
#include <cstring>

#include "audio/engine/AuUtils.h"

namespace {

constexpr uint32_t MixBlockSamples = 4096;

struct TMixMessages {
  const char* InputNotAssigned = "Input not assigned";
  const char* Input1NotAssigned = "Input1 is not assigned";
  const char* Input2NotAssigned = "Input2 is not assigned";
  const char* Busy = "The component is busy.";
  const char* BadWidth = "Unsupported sample width";
};
constexpr TMixMessages Msg;

int SampleBytes(int Bits) { return (Bits & 127) / 8; }

bool ValidWidth(int Bits) { return Bits == 8 || Bits == 16 || Bits == 24 || Bits == 32; }

// Whole frames of at most MixBlockSamples samples that fit Bytes; at least one frame.
uint32_t BlockSamples(uint32_t Bytes, int SampleBytes, int Channels) {
  uint32_t ch = Channels > 0 ? (uint32_t)Channels : 1;
  uint32_t n = std::min<uint32_t>(MixBlockSamples, Bytes / (uint32_t)SampleBytes);
  n -= n % ch;
  return n ? n : ch;
}

// Pulls up to Samples samples of In into Raw and converts them to Floats; the rest of Floats is
// silence. Returns the samples read; sets Ended when the input delivered its end.
uint32_t PullFloats(TAuInput* In, std::vector<uint8_t>& Raw, float* Floats, int Bits, uint32_t Samples,
                    bool& Ended) {
  int sb = SampleBytes(Bits);
  bool eof = false;
  uint32_t got = In->FillBuffer(Raw.data(), Samples * sb, eof) / sb;
  if (eof) Ended = true;
  PCMToFloats(Raw.data(), Floats, Bits, (int32_t)got);
  std::fill(Floats + got, Floats + Samples, 0.0f);
  return got;
}

}  // namespace

void PCMToFloats(const void* In, float* Out, int Bits, int32_t Samples) {
  if (Samples <= 0) return;
  switch (Bits & 127) {
    case 8: PCM8ToSingle(In, Out, Samples); break;
    case 16: PCM16ToSingle(In, Out, Samples); break;
    case 24: PCM24ToSingle(In, Out, Samples); break;
    case 32: PCM32ToSingle(In, Out, Samples); break;
    default: std::fill(Out, Out + Samples, 0.0f);
  }
}

void FloatsToPCM(float* In, void* Out, int Bits, int32_t Samples) {
  if (Samples <= 0) return;
  switch (Bits & 127) {
    case 8: SingleToPCM8(In, Out, Samples); break;
    case 16: SingleToPCM16(In, Out, Samples); break;
    case 24: SingleToPCM24(In, Out, Samples); break;
    case 32: SingleToPCM32(In, Out, Samples); break;
    default: break;
  }
}

// ---------------------------------------------------------------------------------------------
// TAudioMixer

TAudioMixer::TAudioMixer(TComponent* AOwner) : TAuInput(AOwner) {}

TAudioMixer::~TAudioMixer() {
  if (FInput1) FInput1->RemoveFreeNotification(this);
  if (FInput2) FInput2->RemoveFreeNotification(this);
}

int TAudioMixer::GetBPS() {
  if (!FInput1) throw EAuException(Msg.InputNotAssigned);
  return FInput1->BitsPerSample();
}

int TAudioMixer::GetCh() {
  if (!FInput1) throw EAuException(Msg.InputNotAssigned);
  return FInput1->Channels();
}

int TAudioMixer::GetSR() {
  if (!FInput1) throw EAuException(Msg.InputNotAssigned);
  return FInput1->SampleRate();
}

void TAudioMixer::SetInput1(TAuInput* Value) {
  if (FBusy) throw EAuException(Msg.Busy);
  if (FInput1) FInput1->RemoveFreeNotification(this);
  FInput1 = Value;
  if (Value) Value->FreeNotification(this);
}

void TAudioMixer::SetInput2(TAuInput* Value) {
  if (FBusy) throw EAuException(Msg.Busy);
  if (FInput2) FInput2->RemoveFreeNotification(this);
  FInput2 = Value;
  if (Value) Value->FreeNotification(this);
}

void TAudioMixer::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent) {
    TLock l(DataCS);
    if (AComponent == FInput1) {
      FInput1 = nullptr;
      FEnd1 = true;
    }
    if (AComponent == FInput2) {
      FInput2 = nullptr;
      FEnd2 = true;
    }
  }
  TAuInput::Notification(AComponent, Operation);
}

void TAudioMixer::InitInternal() {
  if (FBusy) throw EAuException(Msg.Busy);
  FPosition = 0;
  FOutSamples = 0;
  FEnd1 = FEnd2 = false;
  FPendStart = FPendEnd = 0;
  if (!FInput1) throw EAuException(Msg.Input1NotAssigned);
  if (!FInput2) throw EAuException(Msg.Input2NotAssigned);
  FInput1->Init();
  try {
    FInput2->Init();
  } catch (...) {
    FInput1->Flush();
    throw;
  }
  FBits1 = FInput1->BitsPerSample() & 127;
  FBits2 = FInput2->BitsPerSample() & 127;
  FCh = std::max(1, FInput1->Channels());
  if (!ValidWidth(FBits1) || !ValidWidth(FBits2)) {
    FInput1->Flush();
    FInput2->Flush();
    throw EAuException(Msg.BadWidth);
  }
  FBPS1 = SampleBytes(FBits1);
  FBPS2 = SampleBytes(FBits2);
  int64_t size1 = FInput1->Size(), size2 = FInput2->Size();
  if (size1 < 0 || size2 < 0) {
    FSize = -1;
  } else {
    int64_t s1 = size1 / FBPS1, s2 = size2 / FBPS2;
    int64_t samples = FMode == amConcatenate ? s1 + s2
                                             : std::max(s1, s2 + std::max<int64_t>(0, FInput2StartSample) * FCh);
    FSize = samples * FBPS1;
  }
  FrameSize = (uint16_t)(FBPS1 * FCh);
  int wide = std::max(FBPS1, FBPS2);
  FRaw1.assign(MixBlockSamples * wide, 0);
  FRaw2.assign(MixBlockSamples * wide, 0);
  FOut.assign(MixBlockSamples * FBPS1, 0);
  FFloat1.assign(MixBlockSamples, 0.0f);
  FFloat2.assign(MixBlockSamples, 0.0f);
  FBusy = true;
}

void TAudioMixer::FlushInternal() {
  if (FInput1) FInput1->Flush();
  if (FInput2) FInput2->Flush();
  std::vector<uint8_t>().swap(FRaw1);
  std::vector<uint8_t>().swap(FRaw2);
  std::vector<uint8_t>().swap(FOut);
  std::vector<float>().swap(FFloat1);
  std::vector<float>().swap(FFloat2);
  FPendStart = FPendEnd = 0;
  FBusy = false;
}

uint32_t TAudioMixer::NextBlock(uint32_t n) {
  const float g1 = FVolume1 / 65535.0f, g2 = FVolume2 / 65535.0f;
  float* f1 = FFloat1.data();
  float* f2 = FFloat2.data();
  if (FMode == amConcatenate) {
    if (!FEnd1 && FInput1) {
      uint32_t s1 = PullFloats(FInput1, FRaw1, f1, FBits1, n, FEnd1);
      if (s1) {
        for (uint32_t i = 0; i < s1; ++i) f1[i] *= g1;
        FloatsToPCM(f1, FOut.data(), FBits1, (int32_t)s1);
        return s1;
      }
    }
    if (!FEnd2 && FInput2) {
      uint32_t s2 = PullFloats(FInput2, FRaw2, f2, FBits2, n, FEnd2);
      for (uint32_t i = 0; i < s2; ++i) f2[i] *= g2;
      FloatsToPCM(f2, FOut.data(), FBits1, (int32_t)s2);
      return s2;
    }
    return 0;
  }
  const int64_t start = std::max<int64_t>(0, FInput2StartSample) * FCh;
  for (;;) {
    if (FEnd1 && FEnd2) return 0;
    uint32_t s1 = 0;
    if (!FEnd1 && FInput1)
      s1 = PullFloats(FInput1, FRaw1, f1, FBits1, n, FEnd1);
    else
      std::fill(f1, f1 + n, 0.0f);
    // Input2 joins at its start frame, also within a block and also after Input1 has ended.
    uint32_t off = 0, s2 = 0;
    if (!FEnd2 && FInput2 && FOutSamples + n > start) {
      off = (uint32_t)std::max<int64_t>(0, start - FOutSamples);
      std::fill(f2, f2 + off, 0.0f);
      s2 = PullFloats(FInput2, FRaw2, f2 + off, FBits2, n - off, FEnd2);
    } else {
      std::fill(f2, f2 + n, 0.0f);
    }
    uint32_t count = std::max(s1, s2 ? off + s2 : 0);
    if (count == 0 && FEnd1 && !FEnd2 && FOutSamples < start)
      count = (uint32_t)std::min<int64_t>(n, start - FOutSamples);  // silence until Input2 starts
    if (count == 0) continue;  // an input ended exactly here: look again
    for (uint32_t i = 0; i < count; ++i) f1[i] = (f1[i] * g1 + f2[i] * g2) * 0.5f;
    FloatsToPCM(f1, FOut.data(), FBits1, (int32_t)count);
    FOutSamples += count;
    return count;
  }
}

void TAudioMixer::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!FBusy) throw EAuException("The Stream is not opened");
  if (FPendStart >= FPendEnd) {
    uint32_t samples = NextBlock(BlockSamples(Bytes, FBPS1, FCh));
    FPendStart = 0;
    FPendEnd = samples * FBPS1;
    if (FPendEnd == 0) {
      Buffer = nullptr;
      Bytes = 0;
      return;
    }
  }
  Bytes = std::min(Bytes, FPendEnd - FPendStart);
  Buffer = FOut.data() + FPendStart;
  FPendStart += Bytes;
  FPosition += Bytes;
}

// ---------------------------------------------------------------------------------------------
// TRealTimeMixer

TRealTimeMixer::TRealTimeMixer(TComponent* AOwner) : TAuInput(AOwner) { FSize = -1; }

TRealTimeMixer::~TRealTimeMixer() {
  for (auto& s : FIn)
    if (s.Input) s.Input->RemoveFreeNotification(this);
}

void TRealTimeMixer::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent) {
    TLock l(DataCS);
    for (auto& s : FIn)
      if (s.Input == AComponent) {
        s.Input = nullptr;
        s.Active = false;
      }
  }
  TAuInput::Notification(AComponent, Operation);
}

void TRealTimeMixer::MakeRaw(TSource& S, int Bits) {
  S.Bits = Bits;
  S.Raw.assign(MixBlockSamples * (size_t)std::max(1, SampleBytes(Bits)), 0);
}

void TRealTimeMixer::SetInputN(int Index, TAuInput* Value) {
  TLock l(DataCS);
  TSource& s = FIn[Index];
  if (s.Input == Value) return;
  TAuInput* old = s.Input;
  if (old) old->RemoveFreeNotification(this);
  s.Input = nullptr;
  if (FBusy) {
    if (old) old->Flush();
    s.Ended = false;
    if (Value) {
      Value->Init();
      int bits = Value->BitsPerSample() & 127;
      MakeRaw(s, ValidWidth(bits) ? bits : FOutBitsPerSample);
    } else {
      MakeRaw(s, FOutBitsPerSample);
    }
  }
  s.Input = Value;
  if (Value) Value->FreeNotification(this);
}

void TRealTimeMixer::InitInternal() {
  if (FBusy) throw EAuException(Msg.Busy);
  if (!ValidWidth(FOutBitsPerSample) || FOutChannels == 0) throw EAuException(Msg.BadWidth);
  FPosition = 0;
  FSize = -1;
  FConsumed1 = 0;
  FPendStart = FPendEnd = 0;
  FrameSize = (uint16_t)(SampleBytes(FOutBitsPerSample) * FOutChannels);
  int opened = 0;
  try {
    for (auto& s : FIn) {
      s.Active = true;
      s.Ended = false;
      int bits = FOutBitsPerSample;
      if (s.Input) {
        s.Input->Init();
        ++opened;
        bits = s.Input->BitsPerSample() & 127;
        if (!ValidWidth(bits)) throw EAuException(Msg.BadWidth);
      }
      MakeRaw(s, bits);
    }
  } catch (...) {
    for (int i = 0; i < opened; ++i) FIn[i].Input->Flush();
    throw;
  }
  FFloat1.assign(MixBlockSamples, 0.0f);
  FFloat2.assign(MixBlockSamples, 0.0f);
  FOut.assign(MixBlockSamples * SampleBytes(FOutBitsPerSample), 0);
  FBusy = true;
}

void TRealTimeMixer::FlushInternal() {
  for (auto& s : FIn) {
    if (s.Input) s.Input->Flush();
    std::vector<uint8_t>().swap(s.Raw);
  }
  std::vector<float>().swap(FFloat1);
  std::vector<float>().swap(FFloat2);
  std::vector<uint8_t>().swap(FOut);
  FPendStart = FPendEnd = 0;
  FBusy = false;
}

void TRealTimeMixer::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!FBusy) throw EAuException("The Stream is not opened");
  const int ob = SampleBytes(FOutBitsPerSample);
  if (FPendStart >= FPendEnd) {
    for (auto& s : FIn)
      if (s.Ended) {
        // Ended by the previous pull: silent from now on.
        s.Active = false;
        s.Ended = false;
        MakeRaw(s, FOutBitsPerSample);
      }
    uint32_t n = BlockSamples(Bytes, ob, FOutChannels);
    const float g1 = FVolume1 / 65535.0f, g2 = FVolume2 / 65535.0f;
    float* f[2] = {FFloat1.data(), FFloat2.data()};
    uint32_t got[2] = {n, n};
    for (int i = 0; i < 2; ++i) {
      TSource& s = FIn[i];
      if (s.Active && s.Input)
        got[i] = PullFloats(s.Input, s.Raw, f[i], s.Bits, n, s.Ended);
      else
        std::fill(f[i], f[i] + n, 0.0f);
    }
    FConsumed1 += got[0];
    uint32_t count = std::max(got[0], got[1]);
    if (count == 0) count = n;  // both ended just now: silence, the mixer goes on
    float* a = f[0];
    const float* b = f[1];
    for (uint32_t i = 0; i < count; ++i) a[i] = (a[i] * g1 + b[i] * g2) * 0.5f;
    FloatsToPCM(a, FOut.data(), FOutBitsPerSample, (int32_t)count);
    FPendStart = 0;
    FPendEnd = count * ob;
  }
  Bytes = std::min(Bytes, FPendEnd - FPendStart);
  Buffer = FOut.data() + FPendStart;
  FPendStart += Bytes;
  FPosition += Bytes;
}
