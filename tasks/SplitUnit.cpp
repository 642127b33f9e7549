#include "tasks/SplitUnit.h"

#include <windows.h>

#include <algorithm>
#include <cmath>

#include "tasks/EventsManager.h"
#include "tasks/Utils.h"
#include "unicode/UniSysUtils.h"

namespace {

const char* const ErrNoPair = "No input and output for this file type.";
const char* const ErrNotValid = "The file cannot be read.";

}  // namespace

TSplitThread::TSplitThread(const WideString& FileName, const WideString& OutputFolder,
                           const std::vector<TAudioCutParam>& Segments)
    : TThread(true), FOutputFolder(OutputFolder), FFileName(FileName), FSegments(Segments) {
  FFormat = TUtils::GetFormatByExtension(FileName) & 127;
  try {
    FInput = TAudioTools::CreateInput(FFormat);
    FOutput = TAudioTools::CreateOutput(FFormat);
  } catch (...) {
    FInput.reset();
    FOutput.reset();
  }
  if (FInput && FOutput) {
    FInput->SetWideFileName(FFileName);
    FOutput->SetInput(FInput.get());
    FOutput->OnProgress = [this](TComponent* Sender) {
      auto* o = static_cast<TAuOutput*>(Sender);
      Send(WM_SPLIT_PROGRESS, FIndex, o->Progress());
      if (*FCancelled) o->Stop(true);
    };
    // The end of a run is reported from the output's thread before this worker can go on, so
    // every message carries the index of its own segment; a failure is reported here too.
    FOutput->OnSyncDone = [this](TComponent* Sender) {
      auto* o = static_cast<TAuFileOut*>(Sender);
      const bool failed = !o->ExceptionMessage().empty();
      const bool stopped = *FCancelled;
      if (failed) Send(WM_SPLIT_SEGMENT_ERROR, FIndex, 0);
      // A segment cut short by a stop or a failure is no result: never a half-written file
      // beside the good ones. The name was a free one when the segment began.
      if (failed || stopped) WideDeleteFile(o->WideFileName());
      Send(WM_SPLIT_PROGRESS, FIndex, 100);
      Send(WM_SPLIT_SEGMENT_DONE, FIndex, failed || stopped ? 1 : 0);
      FDone = true;
      FWake->SetEvent();
    };
  }
  SetFreeOnTerminate(true);
  Start();
}

TSplitThread::~TSplitThread() {
  FOutput.reset();
  FInput.reset();
}

void TSplitThread::SetCancelled(bool Value) {
  *FCancelled = Value;
  if (Value) FWake->SetEvent();
}

std::function<void()> TSplitThread::Canceller() const {
  return [request = FCancelled, wake = FWake] {
    *request = true;
    wake->SetEvent();
  };
}

void TSplitThread::Send(uint32_t Msg, int WParam, int LParam) {
  SendMessageW(static_cast<HWND>(EventManager->Handle()), Msg, (WPARAM)WParam, (LPARAM)LParam);
}

void TSplitThread::Execute() {
  if (Terminated()) return;
  const WideString name = WideExtractFileName(FFileName);
  const WideString ext = WideExtractFileExt(FFileName);
  const WideString base = ext.empty() ? name : name.substr(0, name.find(ext));
  for (int i = 0; i < (int)FSegments.size(); ++i) {
    if (*FCancelled) break;
    FDone = false;
    FIndex = i;
    Send(WM_SPLIT_SEGMENT_START, i, 0);
    const WideString target =
        TUtils::MakeUniqueFileName(FOutputFolder + base + L"_Segment" + std::to_wstring(i) + ext);
    bool running = false;
    try {
      running = CutSegment(i, target);
    } catch (...) {
      running = false;
    }
    if (!running) {
      Send(WM_SPLIT_SEGMENT_ERROR, i, 0);
      Send(WM_SPLIT_SEGMENT_DONE, i, 1);
      continue;
    }
    bool stopAsked = false;
    while (!FDone) {
      if (*FCancelled && !stopAsked) {
        stopAsked = true;
        FOutput->Stop(true);
      }
      FWake->WaitFor();
    }
  }
}

bool TSplitThread::CutSegment(int Index, const WideString& Name) {
  if (!FInput || !FOutput) throw EAuException(ErrNoPair);
  FInput->Reset();
  if (!FInput->Valid()) throw EAuException(ErrNotValid);
  // The marks are milliseconds of the window's scale, which runs from 0 to the input's length in
  // whole seconds: they are stretched over its frames, so that the end of the scale is the end of
  // the file (nothing after the last whole second is lost) and even parts hold even counts of
  // frames. Without a scale (under half a second, which the window keeps out) they are real time.
  const long double scale = (long double)FInput->TotalTime() * 1000, frameCount = (long double)FInput->TotalSamples();
  const long double rate = FInput->SampleRate();
  auto frameAt = [&](int32_t Ms) {
    return (int64_t)std::nearbyint(scale > 0 && frameCount > 0 ? Ms / scale * frameCount : Ms * rate / 1000);
  };
  const TAudioCutParam& seg = FSegments[Index];
  int64_t start = frameAt(seg.StartTime);
  int64_t end = frameAt(seg.EndTime);
  // The input's end sample is the last one delivered: the frame at the end mark belongs to the
  // next segment, so that neighbouring segments neither share nor lose a frame. An end of -1
  // would mean "to the end of the file": an empty segment (an end at or before its start, or a
  // start past the file) is given a window ending before its start, which delivers nothing.
  if (start < 0) start = 0;
  // A window left open to the end counts one frame past the last, which a file input may fill
  // with silence: an end past the file is brought to its last frame where the frame count is
  // exact (it is estimated for the Windows Media reader's MP3 and WMA).
  const int64_t frames = FFormat == ftMP3 || FFormat == ftWMA ? 0 : FInput->TotalSamples();
  if (frames > 0 && end > frames) end = frames;
  if (end <= start) {
    start = std::max<int64_t>(start, 1);
    end = start;
  }
  FInput->SetStartSample(start);
  FInput->SetEndSample(end - 1);
  FOutput->SetWideFileName(Name);
  FOutput->Run();
  return true;
}
