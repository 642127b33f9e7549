#include "audio/devices/AuDXAudio.h"

#include "classlib/WinApi.h"

#include <algorithm>
#include <cstring>

namespace {

struct TCaptureMessages {
  const char* Busy = "The component is busy";
  const char* InvalidDevice = "Invalid device number";
  const char* DeviceFailed = "Failed to create DirectSound device: ";
  const char* BufferFailed = "Failed to create DirectSound buffer";
  const char* NotOpened = "The Stream is not opened";
  const char* InputFailed = "Input failed: DirectSound error 0x%x";
  const char* Unknown = "Unknown";
};
constexpr TCaptureMessages Msg;

struct TResultName {
  int32_t Code;
  const char* Name;
};
constexpr TResultName ResultNames[] = {
    {DSERR_ALLOCATED_, "DSERR_ALLOCATED"},     {DSERR_INVALIDPARAM_, "DSERR_INVALIDPARAM"},
    {DSERR_INVALIDCALL_, "DSERR_INVALIDCALL"}, {DSERR_GENERIC_, "DSERR_GENERIC"},
    {DSERR_BADFORMAT_, "DSERR_BADFORMAT"},     {DSERR_UNSUPPORTED_, "DSERR_UNSUPPORTED"},
    {DSERR_NODRIVER_, "DSERR_NODRIVER"},       {DSERR_ALREADYINITIALIZED_, "DSERR_ALREADYINITIALIZED"},
};

const char* ResultName(int32_t Code) {
  for (const auto& r : ResultNames)
    if (r.Code == Code) return r.Name;
  return Msg.Unknown;
}

[[noreturn]] void InputFailed(int32_t Code) { throw EAuException(Format(Msg.InputFailed, (unsigned)Code)); }

// The capture buffer holds this many blocks, so that a reader falling behind is noticed (and
// the data it lost reported) before the capture laps it.
constexpr uint32_t BlocksInCaptureBuffer = 8;
// No captured data for this long (and at least four blocks' time): the capture has stalled.
constexpr uint32_t StallMs = 3000;

}  // namespace

std::function<std::unique_ptr<DSoundWrapper>()> DSoundWrapperFactory = [] {
  return std::make_unique<DSoundWrapper>();
};

TDXAudioIn::TDXAudioIn(TComponent* AOwner) : TAuInput(AOwner) {
  FSize = -1;
  FDS = DSoundWrapperFactory ? DSoundWrapperFactory() : std::make_unique<DSoundWrapper>();
  EventHandlerAddRef();
}

const TDSDeviceTable& TDXAudioIn::Devices() const {
  std::call_once(FDevicesRead, [this] { FDS->EnumerateCaptureDevices(FDevices); });
  return FDevices;
}

TDXAudioIn::~TDXAudioIn() {
  EventHandlerForget(this);
  if (FDS) FDS->ReleaseAll();
  EventHandlerRelease();
}

void TDXAudioIn::SetRecTime(int32_t Value) {
  FRecTime = Value;
  FSamplesToRead = Value < 0 ? -1 : (int64_t)Value * FInSampleRate;
}

void TDXAudioIn::SetFramesInBuffer(uint32_t Value) {
  if (!FBusy) FFramesInBuffer = Value;
}

AnsiString TDXAudioIn::GetDeviceName(int32_t Index) const {
  if (Index < 0 || Index >= Devices().Count) return AnsiString();
  return AnsiString(Devices().Devices[Index].Description);
}

int TDXAudioIn::GetTotalTime() {
  if (FSamplesToRead < 0 || FInSampleRate == 0) return 0;
  return (int)Round((double)FSamplesToRead / FInSampleRate);
}

void TDXAudioIn::OpenDevice() {
  if (FOpenCount > 0) {
    ++FOpenCount;
    return;
  }
  if (FLatency != 0) {
    if (FLatency < 10) FLatency = 10;
    FFramesInBuffer = FLatency * FInSampleRate / 1000;
    FPollingInterval = FLatency / 2;
  }
  FDS->Reset();
  int32_t r = FDS->OpenCaptureDevice(Devices().Devices[FDeviceNumber].Guid);
  if (r != 0) throw EAuException(AnsiString(Msg.DeviceFailed) + ResultName(r));
  FBlockSize = FInBitsPerSample / 8 * FFramesInBuffer * FInChannels;
  uint64_t captureBytes = (uint64_t)FBlockSize * BlocksInCaptureBuffer;
  if (FBlockSize == 0 || captureBytes > 0x40000000u) {
    FDS->ReleaseAll();
    throw EAuException(Msg.BufferFailed);
  }
  FBlock.assign(FBlockSize, 0);
  r = FDS->CreateCaptureBuffer(FInBitsPerSample, FInSampleRate, (uint32_t)captureBytes, FInChannels);
  if (r != 0) {
    FDS->ReleaseAll();
    std::vector<uint8_t>().swap(FBlock);
    throw EAuException(Msg.BufferFailed);
  }
  ++FOpenCount;
}

void TDXAudioIn::CloseDevice() {
  if (FOpenCount == 1) {
    FDS->ReleaseAll();
    std::vector<uint8_t>().swap(FBlock);
  }
  if (FOpenCount > 0) --FOpenCount;
}

void TDXAudioIn::InitInternal() {
  if (FBusy) throw EAuException(Msg.Busy);
  if (FDeviceNumber < 0 || FDeviceNumber >= Devices().Count) throw EAuException(Msg.InvalidDevice);
  if (FInChannels == 0 || FInSampleRate == 0 || (FInBitsPerSample != 8 && FInBitsPerSample != 16 &&
                                                 FInBitsPerSample != 24 && FInBitsPerSample != 32))
    throw EAuException(Msg.BufferFailed);
  if (FRecTime > 0) FSamplesToRead = (int64_t)FRecTime * FInSampleRate;
  FBlockFill = 0;
  FBlockRead = 1;  // the first pull fetches
  FPosition = 0;
  FOverruns = 0;
  FFrameSize = FInChannels * FInBitsPerSample / 8;
  FSize = FSamplesToRead > 0 ? FSamplesToRead * FFrameSize : -1;
  OpenDevice();
  int32_t r = FDS->StartCapture();
  if (r != 0) {
    CloseDevice();
    InputFailed(r);
  }
  if (FEchoRecording) {
    r = FDS->OpenOutputDevice(Devices().Devices[FDeviceNumber].Guid);
    if (r == 0) r = FDS->CreateOutputBuffer(nullptr, FInBitsPerSample, FBlockSize, FInChannels, FInSampleRate);
    if (r == 0) r = FDS->StartOutput();
    if (r != 0) FEchoRecording = false;  // monitoring is not essential: recording goes on
  }
  FEchoActive = FEchoRecording;
  FBusy = true;
}

void TDXAudioIn::FlushInternal() {
  FDS->StopCapture();
  if (FEchoActive) FDS->StopOutput();
  CloseDevice();
  FEchoActive = false;
  FBusy = false;
}

void TDXAudioIn::Reopen() {
  FDS->StopCapture();
  int32_t r = FDS->OpenCaptureDevice(Devices().Devices[FDeviceNumber].Guid);
  if (r == 0)
    r = FDS->CreateCaptureBuffer(FInBitsPerSample, FInSampleRate, FBlockSize * BlocksInCaptureBuffer, FInChannels);
  if (r == 0) r = FDS->StartCapture();
  if (r != 0) InputFailed(r);
}

void TDXAudioIn::FetchBlock() {
  FBlockRead = 0;
  FBlockFill = 0;
  uint32_t available = 0;
  uint32_t waited = 0;
  const uint32_t blockMs = FInSampleRate ? (uint32_t)((uint64_t)FFramesInBuffer * 1000 / FInSampleRate) : 0;
  const uint32_t stall = std::max(StallMs, 4 * blockMs);
  const uint32_t poll = std::max<uint32_t>(1, FPollingInterval);
  bool reopened = false;
  for (;;) {
    int32_t r = FDS->CapturedBytesAvailable(available);
    if (r != 0) InputFailed(r);
    available -= available % std::max<uint32_t>(1, FFrameSize);
    if (available) break;
    if (waited >= stall) InputFailed(DSERR_CAPTURESTALLED);
    if (!reopened && FPosition == 0 && waited >= stall / 3) {
      // A capture that has delivered nothing since it started is opened anew, once: under
      // Wine a capture opened right after a playback device was released has been seen never
      // to start.
      reopened = true;
      Reopen();
    }
    DWORD t0 = GetTickCount();
    FDS->WaitForCapture(poll);
    waited += std::max<uint32_t>(1, GetTickCount() - t0);
  }
  uint32_t captureSize = FDS->CaptureBufferSize;
  if (captureSize > FBlockSize && available > captureSize - FBlockSize) {
    // The reader is about to be lapped: the oldest data is dropped (reported), the newest block
    // is delivered whole.
    FDS->SkipCaptured(available - FBlockSize);
    available = FBlockSize;
    ++FOverruns;
    if (OnOverrun) PostGenericEvent(this, OnOverrun);
  }
  available = std::min(available, FBlockSize);
  uint32_t got = available;
  int32_t r = FDS->ReadCaptured(FBlock.data(), got);
  if (r != 0) InputFailed(r);
  if (FEchoActive) {
    uint32_t space = std::min(FDS->OutputSpace(), got);
    space -= space % std::max<uint32_t>(1, FFrameSize);
    if (FEchoRecording)
      FDS->WriteToOutput(FBlock.data(), space);
    else
      FDS->FillOutput(FInBitsPerSample == 8 ? 0x80 : 0);
  }
  FBlockFill = got;
}

void TDXAudioIn::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!FBusy) throw EAuException(Msg.NotOpened);
  if (FSamplesToRead >= 0 && FPosition >= FSize) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  if (FBlockRead >= FBlockFill) FetchBlock();
  Bytes = std::min(Bytes, FBlockFill - FBlockRead);
  int64_t size = FSize;
  if (size > 0 && size - FPosition < (int64_t)Bytes) Bytes = (uint32_t)(size - FPosition);
  Buffer = FBlock.data() + FBlockRead;
  FBlockRead += Bytes;
  FPosition += Bytes;
}

void TDXAudioIn::Pause() {
  if (!FBusy) return;
  FDS->StopCapture();
  if (FEchoActive) FDS->StopOutput();
}

void TDXAudioIn::Resume() {
  if (!FBusy) return;
  FDS->StartCapture();
  if (FEchoActive) FDS->RestartOutput();
}
