// The conversion worker: converts a batch of files, one after another, into one output format
// with one set of quality settings, reporting through the event bus.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "audio/engine/AuConverters.h"
#include "classlib/SyncObjs.h"
#include "tasks/AudioUnit.h"

class TWideStrings;

class TSampleMorphThread : public TThread {
 public:
  // Copies the list and the record and creates the components; the thread is created suspended
  // and frees itself when Execute returns. The caller starts it (Resume) and must not free it.
  // Threads: the user-interface thread.
  TSampleMorphThread(const TWideStrings& Files, const TOutputParams& Params);
  ~TSampleMorphThread() override;
  const char* ClassName() const override { return "TSampleMorphThread"; }

  // Set by the window when the user stops the task: the file being converted is stopped and no
  // further file starts. Threads: any; never waits.
  bool Cancelled() const { return *FCancelled; }
  void SetCancelled(bool Value);
  // The cancel request the worker reads, shared with whoever may stop it: it outlives the worker,
  // so that a stop asked for just as the worker ends touches nothing freed. Threads: any.
  std::shared_ptr<std::atomic<bool>> CancelRequest() const { return FCancelled; }
  // Sets the cancel request and wakes the worker; it holds only the shared request and the
  // worker's shared wake-up, so it may run after the worker has freed itself. Threads: any.
  std::function<void()> Canceller() const;

 protected:
  // Threads: this worker only. Sends WM_CONVERT_FILE_START for each file (waiting until the
  // window has handled it), then waits for the file's done event or a cancel.
  void Execute() override;

 private:
  // Builds and runs the chain of file Index; False when nothing runs (the file's error has then
  // been reported).
  bool ConvertFile(int Index);
  void HookOutput(TAuFileOut* Out);
  void Send(uint32_t Msg, int WParam, int LParam);

  std::vector<WideString> FFiles;
  TOutputParams FParams;
  std::unique_ptr<TAuFileIn> FInputs[12];
  std::unique_ptr<TAuFileOut> FOutputs[12];
  TAuFileOut* FCurrentOutput = nullptr;
  int32_t FTargetSampleRate = 0;
  std::unique_ptr<TSampleMorpher> FMorpher;
  std::unique_ptr<TFastResampler> FResampler;
  std::atomic<int> FIndex{0};
  std::atomic<bool> FDone{false};
  std::shared_ptr<std::atomic<bool>> FCancelled = std::make_shared<std::atomic<bool>>(false);
  // Signalled by the done event and by a cancel.
  std::shared_ptr<TEvent> FWake = std::make_shared<TEvent>(false, false);
};
