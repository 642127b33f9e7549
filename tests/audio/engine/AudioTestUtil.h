// Scripted endpoints and helpers for the audio tests.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "common/DrainInput.h"
#include "common/MemoryInput.h"

// A converter that passes its input through, with a Size of its own.
class TPassConverter : public TAuConverter {
 public:
  explicit TPassConverter(int64_t SizeToReport, TComponent* AOwner = nullptr)
      : TAuConverter(AOwner), FReport(SizeToReport) {}

 protected:
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;

 private:
  int64_t FReport;
};

// An output that pulls Chunk bytes per step and keeps everything that arrives.
class TCheckOut : public TAuOutput {
 public:
  explicit TCheckOut(TComponent* AOwner = nullptr) : TAuOutput(AOwner) {}
  ~TCheckOut() override { Shutdown(); }

  uint32_t Chunk = 4096;
  int StepDelayMs = 0;
  WideString PrepareError;     // Prepare raises this (after opening nothing)
  int FailAtStep = -1;         // DoOutput raises "step failed" at this step
  WideString DoneError;        // Done raises this
  std::function<void()> OnPrepare;  // called first thing in Prepare, on the worker
  std::vector<uint8_t> Got;
  std::atomic<int> Prepares{0}, Dones{0}, DonesUnprepared{0}, Steps{0};
  std::atomic<uint32_t> DoneThread{0};
  std::atomic<bool> StoppedInDone{false};  // Stopped() as the last Done saw it

 protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

 private:
  bool FInputOpen = false;
};

// Pumps the user-interface thread (messages and synchronised calls) until Pred holds or Ms pass.
bool PumpUntil(const std::function<bool()>& Pred, int Ms = 10000);
// Pumps for Ms milliseconds.
void PumpFor(int Ms);

// Interleaved 16-bit samples of a sine (Amplitude of full scale), Frames frames, all channels alike.
std::vector<uint8_t> Sine16(double Freq, int Rate, int Frames, int Channels, double Amplitude = 0.5);
std::vector<int16_t> AsInt16(const std::vector<uint8_t>& Bytes);
// The message of the exception F raises, or "(nothing raised)".
std::wstring MessageOf(const std::function<void()>& F);
