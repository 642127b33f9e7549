#include "tasks/RecordUnit.h"

#include <windows.h>

#include <algorithm>

#include "audio/formats/winmedia/AuWinMedia.h"
#include "tasks/EventsManager.h"
#include "tasks/Utils.h"
#include "unicode/UniSysUtils.h"

TRecorder* Recorder = nullptr;

namespace {

const char* const ErrNoOutput = "No output component for this format.";
const char* const ErrInvalidDevice = "Invalid device number";
int UnitCounter = 0;
// kbit/s of a WMA recording.
constexpr uint32_t WmaRecordingKbps = 128;

void SendRecorder(uint32_t Msg) {
  if (EventManager) SendMessageW(static_cast<HWND>(EventManager->Handle()), Msg, 0, 0);
}

}  // namespace

void TByteLimiter::InitInternal() {
  if (!FInput) throw EAuException("Input is not assigned");
  FInput->Init();
  FPassed = 0;
  FPosition = 0;
  FSize = FLimit >= 0 ? FLimit : FInput->Size();
  FBusy = true;
}

void TByteLimiter::FlushInternal() {
  if (FInput) FInput->Flush();
  FBusy = false;
}

void TByteLimiter::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (FLimit >= 0) Bytes = (uint32_t)std::min<int64_t>(Bytes, FLimit - FPassed);
  if (Bytes == 0) {
    Buffer = nullptr;
    return;
  }
  FInput->GetData(Buffer, Bytes);
  FPassed += Bytes;
}

TRecorder::TRecorder() {
  FCapture = std::make_unique<TDXAudioIn>(nullptr);
  FMixer = std::make_unique<TRealTimeMixer>(nullptr);
  FGainMeter = std::make_unique<TFastGainIndicator>(nullptr);
  FLimiter = std::make_unique<TByteLimiter>(nullptr);
  for (TAudioFileType t = ftWAV; t <= ftMPC; ++t) {
    // A codec library that is missing: that type can't be used (its inputs and outputs are
    // made again at use).
    try {
      FInputs[t] = TAudioTools::CreateInput(t);
    } catch (...) {
    }
    try {
      FOutputs[t] = TAudioTools::CreateOutput(t);
    } catch (...) {
    }
  }
  FGainMeter->OnGainData = [this](TComponent*) {
    if (OnGain) OnGain(FGainMeter.get(), (uint16_t)FGainMeter->GainValue());
  };
}

TRecorder::~TRecorder() {
  for (auto& o : FOutputs) {
    if (o) {
      o->OnSyncDone = nullptr;
      o->OnThreadException = nullptr;
    }
    o.reset();
  }
  FLimiter.reset();
  FMixer.reset();
  FGainMeter.reset();
  FCapture.reset();
  for (auto& i : FInputs) i.reset();
}

void TRecorder::Ended() {
  if (FRecording.exchange(false)) SendRecorder(WM_RECORD_STOPPED);
}

void TRecorder::RunEnded(TAuFileOut* Output) {
  // The run's file is closed by now. A failed run's file is no recording: at best its header,
  // at worst audio cut off anywhere.
  if (!Output->ExceptionMessage().empty()) {
    FFailed = true;
    WideDeleteFile(Output->WideFileName());
  }
  Ended();
}

void TRecorder::Start(const WideString& BackgroundFile, const WideString& OutputFile, int32_t DeviceIndex,
                      uint16_t BackgroundVolume, uint16_t InputVolume) {
  // A device that is not listed would fail only on the run's thread, after the start was told.
  if (DeviceIndex < 0 || DeviceIndex >= FCapture->DeviceCount()) throw EAuException(ErrInvalidDevice);
  // The capture, the meter and the mixer are shared by every output: a stopped run that is
  // still writing its end must be over before they are set up again.
  if (FCurrentOutput) FCurrentOutput->Stop(false);
  const TAudioFileType outType = TUtils::GetFormatByExtension(OutputFile) & 127;
  if (!FOutputs[outType]) FOutputs[outType] = TAudioTools::CreateOutput(outType);
  TAuFileOut* out = FOutputs[outType].get();
  if (!out) throw EAuException(ErrNoOutput);
  out->SetWideFileName(OutputFile);
  if (outType == ftWMA) {
    // A recording is encoded at a rate of its own: the output's default of no rate picks no
    // profile at all.
    auto* wma = static_cast<TWMAOut*>(out);
    wma->SetLossless(false);
    wma->SetVBR(false);
    wma->SetDesiredBitrate(WmaRecordingKbps);
  }

  const TAudioFileType bgType = TUtils::GetFormatByExtension(BackgroundFile) & 127;
  FBackgroundInput = nullptr;
  if (bgType != ftUnknown && !FInputs[bgType]) FInputs[bgType] = TAudioTools::CreateInput(bgType);
  FCapture->SetDeviceNumber(DeviceIndex);
  FGainMeter->SetInput(FCapture.get());
  if (bgType != ftUnknown && FInputs[bgType]) {
    FBackgroundInput = FInputs[bgType].get();
    FBackgroundInput->SetWideFileName(BackgroundFile);
    const int bits = FBackgroundInput->BitsPerSample(), ch = FBackgroundInput->Channels();
    const int rate = FBackgroundInput->SampleRate();
    FCapture->SetInBitsPerSample((uint32_t)bits);
    FCapture->SetInChannels((uint32_t)ch);
    FCapture->SetInSampleRate((uint32_t)rate);
    FMixer->SetOutBitsPerSample((uint8_t)bits);
    FMixer->SetOutChannels((uint8_t)ch);
    FMixer->SetOutSampleRate((uint32_t)rate);
    FMixer->SetVolume1(BackgroundVolume);
    FMixer->SetVolume2(InputVolume);
    FMixer->SetInput1(FBackgroundInput);
    FMixer->SetInput2(FGainMeter.get());
    // The live mixer never ends by itself: the recording ends with the background's data.
    const int64_t frames = FBackgroundInput->TotalSamples();
    FLimiter->SetLimit(frames > 0 ? frames * (bits / 8) * ch : -1);
    FLimiter->SetInput(FMixer.get());
    out->SetInput(FLimiter.get());
  } else {
    FCapture->SetInSampleRate(44100);
    FCapture->SetInBitsPerSample(16);
    FCapture->SetInChannels(2);
    out->SetInput(FGainMeter.get());
  }
  out->OnSyncDone = [this, out](TComponent*) { RunEnded(out); };
  // Reported by OnSyncDone, which follows every error of the run on the run's own thread.
  out->OnThreadException = nullptr;
  out->OnProgress = nullptr;
  FCurrentOutput = out;
  // Recording before the run starts, so that a run ending at once clears it; a run that cannot
  // start leaves it as it was and sends nothing. A stop reported from the output's thread waits
  // for this thread, so it always follows the start.
  const bool was = FRecording.exchange(true);
  FFailed = false;
  try {
    out->Run();
  } catch (...) {
    FRecording = was;
    throw;
  }
  SendRecorder(WM_RECORD_STARTED);
}

void TRecorder::Stop() {
  if (!FCurrentOutput) return;
  FCurrentOutput->Stop(true);
  // Reported here once: the end of the run then finds the recording over already.
  FRecording = true;
  Ended();
}

void RecordUnitInitialize() {
  if (UnitCounter++ == 0) Recorder = new TRecorder();
}

void RecordUnitFinalize() {
  if (UnitCounter == 0 || --UnitCounter > 0) return;
  delete Recorder;
  Recorder = nullptr;
}
