// The split worker: cuts one file into segments given as millisecond ranges and writes each as a
// new file of the source's format, "<name>_Segment<i><ext>", reporting through the event bus.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "classlib/SyncObjs.h"
#include "tasks/AudioUnit.h"

// One segment of a split, made by the split window: a plain value, copied wherever it goes.
struct TAudioCutParam {
  TAudioCutParam() = default;
  TAudioCutParam(int32_t Start, int32_t End) : StartTime(Start), EndTime(End) {}
  int32_t StartTime = 0;  // ms from the start of the file
  int32_t EndTime = 0;    // ms
};

class TSplitThread : public TThread {
 public:
  // Copies the names and the segments' start and end (nothing of the caller's is read once the
  // constructor returns), builds the input and output of the source's type and starts at once;
  // the thread frees itself when Execute returns. Threads: the user-interface thread.
  TSplitThread(const WideString& FileName, const WideString& OutputFolder,
               const std::vector<TAudioCutParam>& Segments);
  ~TSplitThread() override;
  const char* ClassName() const override { return "TSplitThread"; }

  // Set on Stop: the worker wakes and stops the running segment, its file is deleted, and no
  // further segment starts. Threads: any; never waits.
  bool Cancelled() const { return *FCancelled; }
  void SetCancelled(bool Value);
  // The cancel request itself, shared with whoever may stop the run after this worker has ended
  // and freed itself: setting it is SetCancelled (True). Threads: any.
  std::shared_ptr<std::atomic<bool>> CancelRequest() const { return FCancelled; }
  // A stop for whoever may stop the run after this worker has ended: it sets the request and
  // wakes the worker, which stops the running segment at once (not only at its next progress
  // report: an output may be a long time preparing). Threads: any; never waits.
  std::function<void()> Canceller() const;

 protected:
  // Threads: this worker only. Sends WM_SPLIT_SEGMENT_START for each segment (waiting until the
  // window has handled it), then waits for the end of its run or a cancel.
  void Execute() override;

 private:
  bool CutSegment(int Index, const WideString& Name);
  void Send(uint32_t Msg, int WParam, int LParam);

  TAudioFileType FFormat = ftUnknown;
  WideString FOutputFolder;
  WideString FFileName;
  std::vector<TAudioCutParam> FSegments;
  std::unique_ptr<TAuFileIn> FInput;
  std::unique_ptr<TAuFileOut> FOutput;
  std::atomic<int> FIndex{0};
  std::atomic<bool> FDone{false};
  std::shared_ptr<std::atomic<bool>> FCancelled = std::make_shared<std::atomic<bool>>(false);
  std::shared_ptr<TEvent> FWake = std::make_shared<TEvent>(false, false);
};
