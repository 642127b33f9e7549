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

  // Set by the window on Stop: no further step starts (a step runs to its end). Threads: any.
  bool Cancelled() const { return FCancelled; }
  void SetCancelled(bool Value) { FCancelled = Value; }

 protected:
  // Threads: this worker only; every message is sent synchronously to the bus.
  void Execute() override;

 private:
  // Combines A and B into Target; True when the output was written without an error.
  bool Combine(const WideString& A, const WideString& B, const WideString& Target);
  void Send(uint32_t Msg, int WParam, int LParam);

  std::vector<WideString> FFiles;
  WideString FOutputFile;
  TAudioMixerMode FMode;
  TAudioFileType FOutputFormat = ftUnknown;
  std::unique_ptr<TAuFileOut> FOutput;
  std::atomic<int> FStep{0};
  std::atomic<bool> FCancelled{false};
};
