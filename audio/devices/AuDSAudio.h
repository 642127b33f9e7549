// TDSAudioOut: plays its input through a looping DirectSound 8 buffer, fed half a buffer at a
// time on the buffer's two position notifications, at the highest thread priority. Underruns
// are counted and reported; with Calibrate set the latency grows by 10 ms after each step that
// saw one.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "audio/devices/DSAudio.h"

// Makes the device layer of each new playback output; tests put a scripted device here.
extern std::function<std::unique_ptr<DSOut>()> DSOutFactory;

class TDSAudioOut : public TAuOutput {
 public:
  // Enumerates the playback devices and sets the worker to the highest priority.
  explicit TDSAudioOut(TComponent* AOwner);
  // Saves the latency to INIFile when Calibrate is set.
  ~TDSAudioOut() override;
  const char* ClassName() const override { return "TDSAudioOut"; }

  // Threads: the properties are set while idle from the thread that owns the output, except
  // Latency and Volume (any thread but the worker). Run, Stop, Pause and Resume as TAuOutput.
  int32_t DeviceNumber() const { return FDeviceNumber; }
  void SetDeviceNumber(int32_t Value) { FDeviceNumber = Value; }
  bool Calibrate() const { return FCalibrate; }
  void SetCalibrate(bool Value) { FCalibrate = Value; }
  // Section "AudioOutput", key "Latency": a saved latency is taken when the name is set.
  const AnsiString& INIFile() const { return FINIFile; }
  void SetINIFile(const AnsiString& Value);
  uint32_t Latency() const { return FLatency; }
  // During a run the buffer is rebuilt at the new length and playback goes on.
  // Threads: any but the worker; waits for the worker to pause.
  void SetLatency(uint32_t Value);
  float SpeedFactor() const { return FSpeedFactor; }
  void SetSpeedFactor(float Value) { FSpeedFactor = Value; }
  int32_t Volume() const { return FVolume; }
  // Handed to the buffer at once during a run, and at each start. Threads: any but the worker.
  void SetVolume(int32_t Value);

  int32_t DeviceCount() const { return FDevices.Count; }
  AnsiString GetDeviceName(int32_t Index) const;
  uint32_t UnderrunCount() const { return FUnderruns; }
  // The play buffer of the current (or last) run.
  uint32_t FramesInBuffer() const { return FFrames; }
  const TDSFormat& PlayFormat() const { return FFormat; }

  TOutputDoneEvent OnUnderrun;

 protected:
  // Threads: the worker.
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

 private:
  void BuildBuffer();
  void Pull();
  void TrackPlayed();
  void SilenceAhead();
  void WriteSilence();
  void Drain();

  std::unique_ptr<DSOut> FDS;
  TDSDeviceTable FDevices;
  int32_t FDeviceNumber = 0;
  bool FCalibrate = false;
  AnsiString FINIFile;
  std::atomic<uint32_t> FLatency{100};
  float FSpeedFactor = 1.0f;
  std::atomic<int32_t> FVolume{0};
  std::atomic<uint32_t> FUnderruns{0};

  uint32_t FChannels = 0, FRate = 0, FBits = 0, FFrameSize = 0;
  uint32_t FFrames = 0, FBufferBytes = 0;
  TDSFormat FFormat;
  void* FWindow = nullptr;
  std::vector<uint8_t> FBlock;  // the transfer block: half a buffer pulled from the input
  uint32_t FPendStart = 0, FPendEnd = 0;  // its bytes not yet written
  uint8_t FSilence = 0;
  bool FInputEnded = false;
  bool FStartPending = false;
  bool FReleased = true;
  bool FInputOpen = false;
  // Bytes written to and played from the buffer since the start, and where the input's data ends.
  uint64_t FWritten = 0, FPlayed = 0, FDataEnd = 0;
  uint64_t FSilentTo = 0;  // the buffer holds silence from the written data up to here
  bool FDataEndKnown = false;
  uint32_t FLastPlay = 0;
};
