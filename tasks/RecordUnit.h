// The recorder: records from a capture device over background music (the captured sound passes
// a level meter and is mixed live with a background file) into a file whose format follows its
// extension. One global Recorder, driven from the record window.
#pragma once
#include <atomic>
#include <functional>
#include <memory>

#include "audio/stages/AuAudioMix.h"
#include "audio/devices/AuDXAudio.h"
#include "audio/stages/AuIndicators.h"
#include "tasks/AudioUnit.h"

// Sender is the gain meter; Level its gain value.
using TGainEvent = std::function<void(TObject* Sender, uint16_t Level)>;

// Passes its input on up to a number of bytes, then ends: a recording over a background ends
// with the background's data while the live mixer itself never ends.
class TByteLimiter : public TAuConverter {
 public:
  explicit TByteLimiter(TComponent* AOwner) : TAuConverter(AOwner) {}
  const char* ClassName() const override { return "TByteLimiter"; }
  // Bytes to pass; below 0 passes everything. Set while idle.
  void SetLimit(int64_t Value) { FLimit = Value; }

 protected:
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;

 private:
  int64_t FLimit = -1;
  int64_t FPassed = 0;
};

class TRecorder : public TObject {
 public:
  TRecorder();
  ~TRecorder() override;
  const char* ClassName() const override { return "TRecorder"; }

  // Starts recording into OutputFile (one of the writable extensions) over BackgroundFile
  // (none when empty or of unknown type); volumes 65535 = unity. A run of an earlier recording
  // that is still finishing its file is waited for first. Raises "Invalid device number" for a
  // device that is not listed, and what the output's Run raises, before anything is sent or
  // written. Threads: the user-interface thread.
  void Start(const WideString& BackgroundFile, const WideString& OutputFile, int32_t DeviceIndex,
             uint16_t BackgroundVolume, uint16_t InputVolume);
  // Stops the output without waiting and reports the stop. Nothing when nothing was started.
  // Threads: the user-interface thread.
  void Stop();
  bool Recording() const { return FRecording; }
  // The last recording ended with an error (its file is deleted); read it when the stop is
  // reported. Threads: any.
  bool Failed() const { return FFailed; }
  TGainEvent OnGain;

  // The components, for the record window's device list and for tests.
  TDXAudioIn* Capture() const { return FCapture.get(); }
  TRealTimeMixer* Mixer() const { return FMixer.get(); }
  TAuFileOut* CurrentOutput() const { return FCurrentOutput; }

 private:
  // Clears Recording and, when this call ended the recording, reports the stop.
  void Ended();
  // The end of Output's run, on its worker: a run that failed deletes its file; then Ended.
  void RunEnded(TAuFileOut* Output);

  std::unique_ptr<TDXAudioIn> FCapture;
  std::unique_ptr<TRealTimeMixer> FMixer;
  std::unique_ptr<TFastGainIndicator> FGainMeter;
  std::unique_ptr<TByteLimiter> FLimiter;
  std::unique_ptr<TAuFileIn> FInputs[12];
  std::unique_ptr<TAuFileOut> FOutputs[12];
  TAuFileIn* FBackgroundInput = nullptr;
  TAuFileOut* FCurrentOutput = nullptr;
  std::atomic<bool> FRecording{false};
  std::atomic<bool> FFailed{false};
};

extern TRecorder* Recorder;

// The unit's start-up and shutdown (counted): make and free the global Recorder.
void RecordUnitInitialize();
void RecordUnitFinalize();
