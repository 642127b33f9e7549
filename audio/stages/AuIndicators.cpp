#include "audio/stages/AuIndicators.h"

#include <algorithm>
#include <cmath>

#include "audio/stages/AuAudioMix.h"
#include "audio/engine/AuUtils.h"

namespace {

struct TIndicatorMessages {
  const char* InputNotAssigned = "Input is not assigned";
  const char* MonoOrStereo = "Only mono or stereo soures are supported.";
};
constexpr TIndicatorMessages Msg;

// Audio time of Frames at Rate, in units of 10 microseconds.
int64_t Elapsed(int64_t Frames, int Rate) {
  return Rate > 0 ? Round((double)Frames / Rate * 100000.0) : 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TFastGainIndicator

TFastGainIndicator::TFastGainIndicator(TComponent* AOwner) : TAuConverter(AOwner) { EventHandlerAddRef(); }

TFastGainIndicator::~TFastGainIndicator() {
  EventHandlerForget(this);
  EventHandlerRelease();
}

void TFastGainIndicator::InitInternal() {
  if (!FInput) throw EAuException(Msg.InputNotAssigned);
  FBusy = true;
  FSum = 0;
  FCount = 0;
  FElapsed = 0;
  FPosition = 0;
  FInput->Init();
  if (FInput->Channels() >= 3) {
    FInput->Flush();
    FBusy = false;
    throw EAuException(Msg.MonoOrStereo);
  }
  FSampleRate = FInput->SampleRate();
  FBits = FInput->BitsPerSample() & 127;
  FChannels = std::max(1, FInput->Channels());
  FSize = FInput->Size();
}

void TFastGainIndicator::FlushInternal() {
  FGainValue = 0;
  if (OnGainData) PostGenericEvent(this, OnGainData);
  if (FInput) FInput->Flush();
  std::vector<float>().swap(FFloats);
  FBusy = false;
}

void TFastGainIndicator::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  FInput->GetData(Buffer, Bytes);
  int sb = FBits / 8;
  if (!Buffer || Bytes == 0 || sb <= 0) return;
  uint32_t samples = Bytes / sb;
  if (FFloats.size() < samples) FFloats.resize(samples);
  float* x = FFloats.data();
  PCMToFloats(Buffer, x, FBits, (int32_t)samples);
  double sum = 0;
  for (uint32_t i = 3; i < samples; ++i) {
    float d = x[i] - x[i - 3];
    sum += d * d;
  }
  FSum += sum;
  if (samples > 3) FCount += samples - 3;
  FElapsed += Elapsed(samples / FChannels, FSampleRate);
  if (FElapsed >= (int64_t)FInterval * 100) {
    FElapsed = 0;
    FGainValue = FCount > 0 ? (int32_t)Round(20.0 * std::log10(1000000.0 * FSum / FCount + 1.0)) : 0;
    FSum = 0;
    FCount = 0;
    if (OnGainData) PostGenericEvent(this, OnGainData);
  }
}

// ---------------------------------------------------------------------------------------------
// TSpectrumIndicator

TSpectrumIndicator::TSpectrumIndicator(TComponent* AOwner) : TAuConverter(AOwner) { EventHandlerAddRef(); }

TSpectrumIndicator::~TSpectrumIndicator() {
  EventHandlerForget(this);
  EventHandlerRelease();
}

void TSpectrumIndicator::InitInternal() {
  if (!FInput) throw EAuException(Msg.InputNotAssigned);
  FBusy = true;
  try {
    FInput->Init();
  } catch (...) {
    FBusy = false;
    throw;
  }
  FBits = FInput->BitsPerSample() & 127;
  FChannels = std::max(1, FInput->Channels());
  FSampleRate = FInput->SampleRate();
  FTransforms = 0;
  FElapsed = 0;
  for (int k = 0; k < 8; ++k) {
    FLevels[k] = 0.0f;
    FAcc[k] = 0;  // nothing of an earlier run leaks into the first report
  }
  FSize = FInput->Size();
  FPosition = 0;
}

void TSpectrumIndicator::FlushInternal() {
  if (FInput) FInput->Flush();
  std::vector<float>().swap(FFloats);
  std::vector<float>().swap(FMono);
  std::vector<float>().swap(FY);
  FBusy = false;
}

void TSpectrumIndicator::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  int sb = FBits / 8;
  if (sb > 0) Bytes = std::min<uint32_t>(Bytes, 3 * 512 * (uint32_t)sb);
  FInput->GetData(Buffer, Bytes);
  if (!Buffer || Bytes == 0 || sb <= 0) return;
  uint32_t samples = Bytes / sb;
  uint32_t frames = samples / FChannels;
  if (FFloats.size() < samples) FFloats.resize(samples);
  if (FMono.size() < frames) {
    FMono.resize(frames);
    FY.resize(frames);
  }
  PCMToFloats(Buffer, FFloats.data(), FBits, (int32_t)samples);
  for (uint32_t f = 0; f < frames; ++f) {
    float s = 0;
    for (int c = 0; c < FChannels; ++c) s += FFloats[f * FChannels + c];
    FMono[f] = s / FChannels;
  }
  if (frames) {
    float* y = FY.data();
    const float* m = FMono.data();
    y[0] = m[0];
    for (uint32_t j = 0; j + 1 < frames; ++j) y[j + 1] = (y[j] + m[j + 1] - m[j]) * 0.9f;
    float fft[32];
    for (uint32_t g = 0; g + 16 <= frames; g += 16) {
      for (int i = 0; i < 16; ++i) {
        fft[2 * i] = y[g + i];
        fft[2 * i + 1] = 0.0f;
      }
      ComplexFFT(fft, 16, 1);
      ++FTransforms;
      for (int k = 0; k < 8; ++k) FAcc[k] += std::sqrt(fft[2 * k] * fft[2 * k] + fft[2 * k + 1] * fft[2 * k + 1]);
    }
  }
  FElapsed += Elapsed(frames, FSampleRate);
  if (FElapsed >= (int64_t)FInterval * 100) {
    FElapsed = 0;
    if (FTransforms > 0) {
      for (int k = 0; k < 8; ++k) {
        double v = std::sin((k + 0.5) * M_PI / 16.0) * 0.125 * FAcc[k] / (double)FTransforms;
        FLevels[k] = (float)((std::log10(v + 0.0001) + 3.0) * 40.0);
        FAcc[k] = 0;
      }
    }
    FTransforms = 0;
    if (OnGainData) PostGenericEvent(this, OnGainData);
  }
}
