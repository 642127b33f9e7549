#include "tasks/MixUnit.h"

#include <windows.h>

#include <algorithm>
#include <functional>

#include "audio/engine/AuConverters.h"
#include "classlib/WideStrings.h"
#include "tasks/EventsManager.h"
#include "tasks/Utils.h"
#include "unicode/UniSysUtils.h"

namespace {

const char* const ErrNoComponent = "No component for this file type.";

const char* const ErrChannels = "The inputs' channel layouts cannot be brought together.";

// A fresh temporary name with the output's extension (an encoder that tags its file by name, as
// the MP3 output does, needs it), created empty at once so that no other run can take it before
// the step writes it.
WideString ReserveTempFile(const WideString& Ext) {
  for (;;) {
    const WideString name = TUtils::MakeUniqueFileName(TUtils::TempFileName() + Ext);
    HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      return name;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return name;
  }
}

// Passes a step's samples through unchanged, tells how far the step has come, and ends the
// stream early once the run is cancelled (the output then finishes at its next block).
class TStepWatch : public TAuConverter {
 public:
  TStepWatch(std::shared_ptr<std::atomic<bool>> Cancelled, std::function<void(int Percent)> OnPercent)
      : TAuConverter(nullptr), FCancelled(std::move(Cancelled)), FOnPercent(std::move(OnPercent)) {}
  const char* ClassName() const override { return "TStepWatch"; }

 protected:
  void InitInternal() override {
    FBusy = true;
    FPosition = 0;
    FLastPercent = -1;
    FInput->Init();
    FSize = FInput->Size();
  }
  void FlushInternal() override {
    FInput->Flush();
    FBusy = false;
  }
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override {
    if (*FCancelled) {
      Buffer = nullptr;
      Bytes = 0;
      return;
    }
    FInput->GetData(Buffer, Bytes);
    const int64_t size = FSize;
    if (size <= 0) return;
    const int percent = (int)std::min<int64_t>(100, (FPosition + Bytes) * 100 / size);
    if (percent != FLastPercent) {
      FLastPercent = percent;
      FOnPercent(percent);
    }
  }

 private:
  std::shared_ptr<std::atomic<bool>> FCancelled;
  std::function<void(int)> FOnPercent;
  int FLastPercent = -1;
};

}  // namespace

TMixedThread::TMixedThread(const TWideStrings& Files, const WideString& OutputFile, TAudioMixerMode Mode)
    : TThread(true), FOutputFile(OutputFile), FMode(Mode) {
  for (int i = 0; i < Files.Count(); ++i) FFiles.push_back(Files.Strings(i));
  FOutputFormat = TUtils::GetFormatByExtension(OutputFile) & 127;
  try {
    FOutput = TAudioTools::CreateOutput(FOutputFormat);
  } catch (...) {
    // A missing codec library: every step fails.
  }
  SetFreeOnTerminate(true);
}

TMixedThread::~TMixedThread() { FOutput.reset(); }

void TMixedThread::Send(uint32_t Msg, int WParam, int LParam) {
  SendMessageW(static_cast<HWND>(EventManager->Handle()), Msg, (WPARAM)WParam, (LPARAM)LParam);
}

bool TMixedThread::Combine(const WideString& A, const WideString& B, const WideString& Target) {
  try {
    if (!FOutput) throw EAuException(ErrNoComponent);
    TAudioFileType typeA = TUtils::GetFormatByExtension(A) & 127;
    if (typeA == ftUnknown) typeA = FOutputFormat;  // a temporary file has no extension
    std::unique_ptr<TAuFileIn> in1 = TAudioTools::CreateInput(typeA);
    std::unique_ptr<TAuFileIn> in2 = TAudioTools::CreateInput(TUtils::GetFormatByExtension(B) & 127);
    if (!in1 || !in2) throw EAuException(ErrNoComponent);
    in1->SetWideFileName(A);
    in2->SetWideFileName(B);
    if (!in1->Valid() || !in2->Valid()) return false;
    // The mixer takes the first input's format: the second is brought to its rate, channels
    // and sample width first.
    auto resampler = std::make_unique<TFastResampler>(nullptr);
    auto morpher = std::make_unique<TSampleMorpher>(nullptr);
    TAuInput* second = in2.get();
    if (in2->SampleRate() != in1->SampleRate()) {
      resampler->SetInput(second);
      resampler->SetOutSampleRate((uint32_t)in1->SampleRate());
      second = resampler.get();
    }
    if (in2->Channels() != in1->Channels() || in2->BitsPerSample() != in1->BitsPerSample()) {
      morpher->SetInput(second);
      morpher->SetOutChannels(in1->Channels());
      morpher->SetOutBitsPerSample(in1->BitsPerSample());
      second = morpher.get();
    }
    // The morpher makes mono or stereo of any layout, and nothing else: any other pair of
    // layouts would be read by the mixer in the first input's layout and come out garbled.
    if (second->Channels() != in1->Channels()) throw EAuException(ErrChannels);
    auto mixer = std::make_unique<TAudioMixer>(nullptr);
    mixer->SetInput1(in1.get());
    mixer->SetInput2(second);
    mixer->SetMode(FMode);
    // Samples wider than the output's encoder takes are narrowed first.
    auto narrower = std::make_unique<TSampleMorpher>(nullptr);
    TAuInput* result = mixer.get();
    if (in1->BitsPerSample() > MaxOutputBits(FOutputFormat)) {
      narrower->SetInput(result);
      narrower->SetOutBitsPerSample(MaxOutputBits(FOutputFormat));
      result = narrower.get();
    }
    const int step = FStep;
    TStepWatch watch(FCancelled, [this, step](int Percent) { Send(WM_MIX_PROGRESS, step, Percent); });
    watch.SetInput(result);
    FOutput->SetWideFileName(Target);
    FOutput->SetInput(&watch);
    try {
      FOutput->BlockingRun();
    } catch (...) {
      FOutput->SetInput(nullptr);
      return false;
    }
    const bool ok = FOutput->ExceptionMessage().empty() && !*FCancelled;
    FOutput->SetInput(nullptr);
    return ok;
  } catch (...) {
    return false;
  }
}

bool TMixedThread::RunSteps(std::vector<WideString>& Temps) {
  WideString result;
  for (size_t i = 1; i < FFiles.size(); ++i) {
    if (*FCancelled) return false;
    FStep = (int)i;
    Send(WM_MIX_STEP_START, (int)i, 0);
    const WideString target = ReserveTempFile(TAudioTools::OutputExtension(FOutputFormat));
    Temps.push_back(target);
    const WideString first = i == 1 ? FFiles[0] : result;
    const bool ok = Combine(first, FFiles[i], target);
    result = target;
    // The last step's result is reported once, by the final message.
    if (FFiles.size() > 2) Send(WM_MIX_STEP_DONE, (int)i, ok ? 0 : 1);
    // A failed step's output is no input for the next one.
    if (!ok) return false;
  }
  // A Stop that came during the last step keeps the output as it was.
  if (*FCancelled) return false;
  // The result replaces the chosen output file (which the user chose to overwrite).
  return MoveFileExW(result.c_str(), FOutputFile.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}

void TMixedThread::Execute() {
  if (Terminated() || FFiles.size() < 2) return;
  std::vector<WideString> temps;
  bool ok = false;
  try {
    ok = RunSteps(temps);
  } catch (...) {
    // Anything a step raised ends the task as a failure; the final message below tells it.
    ok = false;
  }
  for (const WideString& t : temps) WideDeleteFile(t);
  Send(WM_MIX_STEP_DONE, std::max<int>(FStep, 1), ok ? 0 : 1);
}
