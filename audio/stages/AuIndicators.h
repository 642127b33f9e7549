// Pass-through meters: each delivers its input unchanged and reports, every Interval
// milliseconds of audio, through the event-delivery thread (OnGainData runs on the
// user-interface thread). TFastGainIndicator gives one level in decibels, TSpectrumIndicator
// eight band levels.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "audio/engine/AuClasses.h"

using TIndicatorEvent = std::function<void(TComponent* Sender)>;

class TFastGainIndicator : public TAuConverter {
 public:
  explicit TFastGainIndicator(TComponent* AOwner);
  // Withdraws the reports still queued, so no handler meets a freed meter.
  ~TFastGainIndicator() override;
  const char* ClassName() const override { return "TFastGainIndicator"; }

  // Threads: Interval is set while idle; GainValue may be read from any thread (the handler
  // of OnGainData reads it on the user-interface thread). Pulls come from the consumer's thread.
  uint32_t Interval() const { return FInterval; }
  void SetInterval(uint32_t Value) { FInterval = Value; }
  // The last level: round(20 log10(10^6 x mean square of x[i] - x[i-3] + 1)); 0 after Flush.
  int32_t GainValue() const { return FGainValue; }

  TIndicatorEvent OnGainData;

 protected:
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;

 private:
  uint32_t FInterval = 100;
  double FSum = 0;
  int64_t FCount = 0;
  int FSampleRate = 0;
  std::atomic<int32_t> FGainValue{0};
  int64_t FElapsed = 0;  // audio time since the last report, in 10 us
  std::vector<float> FFloats;
  int FBits = 0, FChannels = 1;
};

class TSpectrumIndicator : public TAuConverter {
 public:
  explicit TSpectrumIndicator(TComponent* AOwner);
  ~TSpectrumIndicator() override;
  const char* ClassName() const override { return "TSpectrumIndicator"; }

  // Threads: as the level meter; GetLevel may be read from any thread.
  uint32_t Interval() const { return FInterval; }
  void SetInterval(uint32_t Value) { FInterval = Value; }
  // Band Index's level as last reported; 0 for Index 8 or more.
  float GetLevel(uint32_t Index) const { return Index < 8 ? FLevels[Index].load() : 0.0f; }

  TIndicatorEvent OnGainData;

 protected:
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;

 private:
  uint32_t FInterval = 100;
  int64_t FTransforms = 0;
  std::atomic<float> FLevels[8] = {};
  double FAcc[8] = {};
  int64_t FElapsed = 0;
  int FBits = 0, FChannels = 1, FSampleRate = 0;
  std::vector<float> FFloats, FMono, FY;
};
