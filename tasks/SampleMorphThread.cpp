#include "tasks/SampleMorphThread.h"

#include <windows.h>

#include "audio/formats/mp3/AuLAME.h"
#include "audio/formats/vorbis/AuVorbis.h"
#include "audio/formats/wavpack/AuWavPack.h"
#include "classlib/WideStrings.h"
#include "tasks/EventsManager.h"
#include "tasks/Utils.h"
#include "unicode/UniSysUtils.h"

namespace {

const char* const ErrNoInput = "No input component for this file type.";
const char* const ErrNoOutput = "No output component for this format.";
const char* const ErrNotValid = "The file cannot be read.";

// The Vorbis member nearest to a rate in kbit/s (0: the encoder's own choice).
TVorbisBitRate VorbisRateFor(int32_t Kbps) {
  if (Kbps <= 0) return brAutoSelect;
  TVorbisBitRate best = bitrate24;
  for (int m = bitrate24; m <= bitrate499; ++m) {
    const int32_t v = VorbisBitRateValue((TVorbisBitRate)m) / 1000;
    if (std::abs(v - Kbps) < std::abs(VorbisBitRateValue(best) / 1000 - Kbps)) best = (TVorbisBitRate)m;
  }
  return best;
}

// The rate an output is given for a wanted rate: the Musepack encoder takes four rates only,
// so it gets the nearest of them at or above the wanted one (the highest above them all).
int32_t OutputRate(TAudioFileType Type, int32_t Wanted) {
  if (Type != ftMPC) return Wanted;
  for (int32_t r : {32000, 37800, 44100, 48000})
    if (Wanted <= r) return r;
  return 48000;
}

// Outputs made afresh for each file.
bool FreshPerFile(TAudioFileType Type) { return Type == ftWMA || Type == ftWV || Type == ftMPC; }

// Folder + the source's file name with its extension replaced by Ext (appended when it has none).
WideString OutputName(const WideString& Folder, const WideString& Source, const WideString& Ext) {
  WideString name = WideExtractFileName(Source);
  const size_t dot = name.find_last_of(L'.');
  if (dot != WideString::npos) name.resize(dot);
  return Folder + name + Ext;
}

}  // namespace

TSampleMorphThread::TSampleMorphThread(const TWideStrings& Files, const TOutputParams& Params)
    : TThread(true), FParams(Params) {
  for (int i = 0; i < Files.Count(); ++i) FFiles.push_back(Files.Strings(i));
  for (TAudioFileType t = ftWAV; t <= ftMPC; ++t) {
    try {
      FInputs[t] = TAudioTools::CreateInput(t);
    } catch (...) {
      // A codec library that is missing: files of this type end with their error.
    }
    if (!FreshPerFile(t)) {
      try {
        FOutputs[t] = TAudioTools::CreateOutput(t);
      } catch (...) {
      }
    }
  }
  FMorpher = std::make_unique<TSampleMorpher>(nullptr);
  FResampler = std::make_unique<TFastResampler>(nullptr);
  SetFreeOnTerminate(true);
}

TSampleMorphThread::~TSampleMorphThread() {
  for (auto& o : FOutputs) o.reset();
  FMorpher.reset();
  FResampler.reset();
}

void TSampleMorphThread::SetCancelled(bool Value) {
  *FCancelled = Value;
  if (Value) FWake->SetEvent();
}

std::function<void()> TSampleMorphThread::Canceller() const {
  return [request = FCancelled, wake = FWake] {
    *request = true;
    wake->SetEvent();
  };
}

void TSampleMorphThread::Send(uint32_t Msg, int WParam, int LParam) {
  SendMessageW(static_cast<HWND>(EventManager->Handle()), Msg, (WPARAM)WParam, (LPARAM)LParam);
}

void TSampleMorphThread::Execute() {
  if (Terminated() || *FCancelled) return;
  for (int i = 0; i < (int)FFiles.size(); ++i) {
    FIndex = i;
    if (*FCancelled) break;
    Send(WM_CONVERT_FILE_START, i, 0);
    FDone = false;
    bool running = false;
    try {
      running = ConvertFile(i);
    } catch (...) {
      running = false;
    }
    if (!running) {
      // Every file that starts ends with its done message, so that the window learns that the
      // last one is over also when nothing could run for it.
      Send(WM_CONVERT_FILE_ERROR, i, 0);
      Send(WM_CONVERT_FILE_DONE, i, 1);
      continue;
    }
    bool stopAsked = false;
    while (!FDone) {
      if (*FCancelled && !stopAsked) {
        stopAsked = true;
        FCurrentOutput->Stop(true);
      }
      FWake->WaitFor();
    }
  }
}

bool TSampleMorphThread::ConvertFile(int Index) {
  const TAudioFileType format = FParams.Format & 127;
  const WideString ext = TAudioTools::OutputExtension(format);
  FCurrentOutput = nullptr;
  if (ext.empty()) throw EAuException(ErrNoOutput);
  const WideString source = FFiles[Index];
  const WideString target = TUtils::MakeUniqueFileName(OutputName(FParams.OutputFolder, source, ext));

  const bool keep = FParams.Quality == oqKeep;
  FMorpher->SetOutChannels(0);
  FMorpher->SetOutBitsPerSample(0);
  if (!keep) {
    FTargetSampleRate = TAudioTools::GetSampleRate(FParams.SampleRateIndex);
    FMorpher->SetOutChannels(FParams.Channels);
  }

  if (FreshPerFile(format)) {
    FOutputs[format].reset();
    FOutputs[format] = TAudioTools::CreateOutput(format);
  }
  TAuFileOut* out = FOutputs[format].get();
  if (!out) throw EAuException(ErrNoOutput);
  switch (format) {
    case ftMP3: {
      const int code = FParams.BitrateIndex & 127;
      static_cast<TMP3Out*>(out)->SetBitRate(code <= 15 ? (TMP3BitRate)code : mbrAuto);
      break;
    }
    case ftOGG:
      static_cast<TVorbisOut*>(out)->SetDesiredNominalBitrate(VorbisRateFor(TAudioTools::GetBitrate(FParams.BitrateIndex)));
      break;
    case ftWV:
      static_cast<TWVOut*>(out)->SetBitrate((float)TAudioTools::GetBitrate(FParams.BitrateIndex));
      break;
    default: break;
  }

  TAuFileIn* in = FInputs[TUtils::GetFormatByExtension(source) & 127].get();
  if (!in) throw EAuException(ErrNoInput);
  in->SetWideFileName(source);
  // A file its codec rejects gives no output: never an empty file reported as converted.
  if (!in->Valid()) throw EAuException(ErrNotValid);
  const int32_t rate = OutputRate(format, keep ? in->SampleRate() : FTargetSampleRate);
  if (in->SampleRate() == rate) {
    FMorpher->SetInput(in);
  } else {
    FResampler->SetInput(in);
    FResampler->SetOutSampleRate((uint32_t)rate);
    FMorpher->SetInput(FResampler.get());
  }
  // Wider samples than the encoder takes would give a wrong or unreadable file.
  if (in->BitsPerSample() > MaxOutputBits(format)) FMorpher->SetOutBitsPerSample(MaxOutputBits(format));

  out->SetWideFileName(target);
  out->SetInput(FMorpher.get());
  HookOutput(out);
  FCurrentOutput = out;
  out->Run();
  return true;
}

void TSampleMorphThread::HookOutput(TAuFileOut* Out) {
  Out->OnProgress = [this](TComponent* Sender) {
    auto* o = static_cast<TAuOutput*>(Sender);
    Send(WM_CONVERT_PROGRESS, FIndex, o->Progress());
    if (*FCancelled) o->Stop(true);
  };
  Out->OnDone = [this](TComponent* Sender) {
    auto* o = static_cast<TAuFileOut*>(Sender);
    // A file cut short by a cancel or by an error (a full disk, a source that breaks off) is no
    // result: it goes, and its end is reported as a failure.
    const bool failed = !o->ExceptionMessage().empty() || *FCancelled;
    if (failed) WideDeleteFile(o->WideFileName());
    Send(WM_CONVERT_PROGRESS, FIndex, 100);
    Send(WM_CONVERT_FILE_DONE, FIndex, failed ? 1 : 0);
    FDone = true;
    FWake->SetEvent();
  };
  // The done event always follows, and it alone ends the file's wait.
  Out->OnThreadException = [this](TComponent*) { Send(WM_CONVERT_FILE_ERROR, FIndex, 0); };
}
