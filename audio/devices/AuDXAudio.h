// TDXAudioIn: PCM captured from a DirectSound capture device, delivered block by block to the
// output that pulls it, optionally played back at once on the same device (monitoring).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "audio/devices/DSWrapper.h"

using TOverrunEvent = std::function<void(TComponent* Sender)>;

// Makes the device layer of each new capture input; tests put a scripted device here.
extern std::function<std::unique_ptr<DSoundWrapper>()> DSoundWrapperFactory;

class TDXAudioIn : public TAuInput {
 public:
  // Enumerates the capture devices.
  explicit TDXAudioIn(TComponent* AOwner);
  ~TDXAudioIn() override;
  const char* ClassName() const override { return "TDXAudioIn"; }

  // Threads: the properties are set while idle, on the thread that builds the chain; Init,
  // GetData and Flush run on the pulling output's worker under DataCS, GetData waiting for
  // captured data (see GetDataInternal).
  // Milliseconds; when non-zero it sizes the block (Latency x rate / 1000 frames) and the
  // polling interval (Latency / 2) at Init; below 10 counts as 10.
  uint32_t Latency() const { return FLatency; }
  void SetLatency(uint32_t Value) { FLatency = Value; }
  // Frames to capture; negative: no limit.
  int64_t SamplesToRead() const { return FSamplesToRead; }
  void SetSamplesToRead(int64_t Value) { FSamplesToRead = Value; }
  int32_t DeviceNumber() const { return FDeviceNumber; }
  void SetDeviceNumber(int32_t Value) { FDeviceNumber = Value; }
  uint32_t InBitsPerSample() const { return FInBitsPerSample; }
  void SetInBitsPerSample(uint32_t Value) { FInBitsPerSample = Value; }
  uint32_t InChannels() const { return FInChannels; }
  void SetInChannels(uint32_t Value) { FInChannels = Value; }
  uint32_t InSampleRate() const { return FInSampleRate; }
  void SetInSampleRate(uint32_t Value) { FInSampleRate = Value; }
  // Seconds; sets SamplesToRead (-1 when negative) with the rate current at that moment.
  int32_t RecTime() const { return FRecTime; }
  void SetRecTime(int32_t Value);
  bool EchoRecording() const { return FEchoRecording; }
  void SetEchoRecording(bool Value) { FEchoRecording = Value; }
  // The block in frames; ignored while busy.
  uint32_t FramesInBuffer() const { return FFramesInBuffer; }
  void SetFramesInBuffer(uint32_t Value);
  // The longest wait between looks at the capture position, in ms.
  uint32_t PollingInterval() const { return FPollingInterval; }
  void SetPollingInterval(uint32_t Value) { FPollingInterval = Value; }

  // The capture devices are read at the first question about them (reading them can take half a
  // second, which a program that makes this component at start-up should not wait for).
  // Threads: any; the first call reads the list, later ones share it.
  int32_t DeviceCount() const { return Devices().Count; }
  // The description of device Index; empty when there is no such device.
  AnsiString GetDeviceName(int32_t Index) const;
  // Times captured data was lost since Init.
  uint32_t OverrunCount() const { return FOverruns; }

  // Captured data was lost (the reader fell more than a block behind); runs on the
  // user-interface thread.
  TOverrunEvent OnOverrun;

  // Threads: the thread that pauses the pulling output.
  void Pause() override;
  void Resume() override;

 protected:
  int GetBPS() override { return (int)FInBitsPerSample; }
  int GetCh() override { return (int)FInChannels; }
  int GetSR() override { return (int)FInSampleRate; }
  int GetTotalTime() override;
  int64_t GetTotalSamples() override { return FSamplesToRead; }
  // Threads: the pulling output's worker (under DataCS).
  void InitInternal() override;
  void FlushInternal() override;
  // Waits (on the capture's notifications, at most PollingInterval at a time) until captured
  // data is there; raises when none arrives for several seconds.
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;

 private:
  void OpenDevice();
  void CloseDevice();
  void FetchBlock();
  void Reopen();

  // The device table, read once.
  const TDSDeviceTable& Devices() const;

  std::unique_ptr<DSoundWrapper> FDS;
  mutable TDSDeviceTable FDevices;
  mutable std::once_flag FDevicesRead;
  uint32_t FLatency = 100;
  int64_t FSamplesToRead = -1;
  int32_t FDeviceNumber = 0;
  uint32_t FInBitsPerSample = 8, FInChannels = 1, FInSampleRate = 8000;
  int32_t FRecTime = -1;
  bool FEchoRecording = false;
  uint32_t FFramesInBuffer = 24576;
  uint32_t FPollingInterval = 100;

  uint32_t FBlockSize = 0;
  std::vector<uint8_t> FBlock;
  int32_t FOpenCount = 0;
  uint32_t FOverruns = 0;
  uint32_t FFrameSize = 0;
  bool FEchoActive = false;
  uint32_t FBlockFill = 0, FBlockRead = 0;
};
