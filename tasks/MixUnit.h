// The mix worker: overlays two or more files (amMix) or appends them one after another
// (amConcatenate) into one output file, pair by pair through temporary files, reporting each
// step through the event bus.
#pragma once
#include <atomic>
#include <memory>
#include <vector>

#include "audio/stages/AuAudioMix.h"
#include "tasks/AudioUnit.h"

class TWideStrings;

class TMixedThread : public TThread {
 public:
  // Copies the list, stores the mode and the output name and builds the output of the name's
  // type; the thread is created suspended and frees itself when Execute returns. The caller
  // starts it (Resume) and must not free it. Threads: the user-interface thread.
  TMixedThread(const TWideStrings& Files, const WideString& OutputFile, TAudioMixerMode Mode);
  ~TMixedThread() override;
  const char* ClassName() const override { return "TMixedThread"; }

  // Set by the window on Stop: the running step ends at its next block, no further step starts,
  // nothing is written to the output and the task ends with a failure. Threads: any.
  bool Cancelled() const { return *FCancelled; }
  void SetCancelled(bool Value) { *FCancelled = Value; }
  // The request SetCancelled sets, shared: a window may keep it and set it after the worker has
  // freed itself. Threads: any.
  std::shared_ptr<std::atomic<bool>> CancelRequest() const { return FCancelled; }

 protected:
  // Threads: this worker only; every message is sent synchronously to the bus. Whatever happens
  // in a step, the task ends with the final done message, which carries the overall result.
  void Execute() override;

 private:
  // Combines A and B into Target; True when the output was written without an error and the
  // step was not cancelled. Sends the step's progress.
  bool Combine(const WideString& A, const WideString& B, const WideString& Target);
  void Send(uint32_t Msg, int WParam, int LParam);
  // The steps and the final rename; False when any of them failed or the run was cancelled.
  bool RunSteps(std::vector<WideString>& Temps);

  std::vector<WideString> FFiles;
  WideString FOutputFile;
  TAudioMixerMode FMode;
  TAudioFileType FOutputFormat = ftUnknown;
  std::unique_ptr<TAuFileOut> FOutput;
  std::atomic<int> FStep{0};
  std::shared_ptr<std::atomic<bool>> FCancelled = std::make_shared<std::atomic<bool>>(false);
};
