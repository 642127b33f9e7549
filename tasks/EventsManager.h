// The event bus: worker, player and recorder events reach the windows on the user-interface
// thread through the hidden window of the global EventManager.
//
// Senders use SendMessage on EventManager->Handle(); the window procedure hands each bus message
// to every registered TEventSource whose handler for it is set, in registration order.
// WM_CAPTION_COMMAND and WM_OPEN_TASK are passed on to the application's main form.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/SyncObjs.h"

// Message numbers (WM_USER + 10 onwards).
constexpr uint32_t WM_CAPTION_COMMAND = 1034;
constexpr uint32_t WM_LANGUAGE_CHANGED = 1035;
constexpr uint32_t WM_OPEN_TASK = 1036;
constexpr uint32_t WM_CONVERT_FILE_START = 1039;
constexpr uint32_t WM_CONVERT_PROGRESS = 1040;
constexpr uint32_t WM_CONVERT_FILE_DONE = 1041;
constexpr uint32_t WM_CONVERT_FILE_ERROR = 1042;
constexpr uint32_t WM_PLAYER_STARTED = 1044;
constexpr uint32_t WM_PLAYER_STOPPED = 1045;
constexpr uint32_t WM_SPLIT_SEGMENT_START = 1046;
constexpr uint32_t WM_SPLIT_PROGRESS = 1047;
constexpr uint32_t WM_SPLIT_SEGMENT_DONE = 1048;
constexpr uint32_t WM_SPLIT_SEGMENT_ERROR = 1049;
constexpr uint32_t WM_MIX_STEP_START = 1050;
constexpr uint32_t WM_MIX_STEP_ERROR = 1051;
constexpr uint32_t WM_MIX_PROGRESS = 1052;
constexpr uint32_t WM_MIX_STEP_DONE = 1053;
constexpr uint32_t WM_RECORD_STARTED = 1054;
constexpr uint32_t WM_RECORD_STOPPED = 1055;

// First parameter of WM_CAPTION_COMMAND besides SC_CLOSE, SC_MINIMIZE and SC_MAXIMIZE: a task
// window opened (second parameter 5) or closed (SC_CLOSE).
constexpr int CC_TASK_WINDOW = 16;

// Tool ids of WM_OPEN_TASK.
constexpr int TOOL_CONVERT = 10;
constexpr int TOOL_SPLIT = 11;
constexpr int TOOL_CUT = 12;
constexpr int TOOL_MIX = 13;
constexpr int TOOL_RECORD = 14;

using TIndexEvent = std::function<void(TObject* Sender, int Index)>;
using TProgressEvent = std::function<void(TObject* Sender, int Index, int Percent)>;
using TDoneEvent = std::function<void(TObject* Sender, int Index, bool Succeeded)>;
using TErrorEvent = std::function<void(TObject* Sender, int Index, int Code)>;

// One listener on the bus, owned by a window or panel, which sets only the handlers it needs.
// It registers itself when created and unregisters itself when freed.
class TEventSource : public TObject {
 public:
  explicit TEventSource(TComponent* AOwner);
  ~TEventSource() override;
  const char* ClassName() const override { return "TEventSource"; }

  // "EventSource_" and the owner's class name; empty without an owner.
  const WideString& Name() const { return FName; }

  TNotifyEvent OnLanguageChanged;  // Sender is this source
  // For all the others Sender is the EventManager.
  TIndexEvent OnConvertFileStart;
  TProgressEvent OnConvertProgress;
  TDoneEvent OnConvertFileDone;
  TErrorEvent OnConvertFileError;
  TNotifyEvent OnPlayerStarted;
  TNotifyEvent OnPlayerStopped;
  TIndexEvent OnSplitSegmentStart;
  TProgressEvent OnSplitProgress;
  TDoneEvent OnSplitSegmentDone;
  TErrorEvent OnSplitSegmentError;
  TIndexEvent OnMixStepStart;
  TProgressEvent OnMixProgress;
  TDoneEvent OnMixStepDone;
  TErrorEvent OnMixStepError;
  TNotifyEvent OnRecordStarted;
  TNotifyEvent OnRecordStopped;

 private:
  WideString FName;
};

class TEventManager : public TObject {
 public:
  // Makes the hidden window on the calling thread, which must be the user-interface thread.
  TEventManager();
  ~TEventManager() override;
  const char* ClassName() const override { return "TEventManager"; }

  // The window every bus message is sent to (an HWND).
  void* Handle() const { return FHandle; }

  // Appends Source unless it is listed already.
  void AddSource(TEventSource* Source);
  // Takes Source off the list; safe from inside a handler during a dispatch: the dispatch goes on
  // with the next source it has not served yet.
  void RemoveSource(TEventSource* Source);
  int SourceCount() const { return (int)FSources.size(); }
  TEventSource* Sources(int Index) const { return FSources.at(Index); }

 private:
  void WndProc(TMessage& Message);
  void Dispatch(TMessage& Message);
  void CallHandler(TEventSource* Source, const TMessage& Message);

  void* FHandle = nullptr;
  TCriticalSection FLock;
  std::vector<TEventSource*> FSources;
  // The cursor of every dispatch under way, innermost last: a handler may send a bus message
  // itself, and a removal must keep each walk on its next unserved source.
  std::vector<int*> FCursors;
};

// The one bus of the program; made by EventsManagerInitialize, never freed.
extern TEventManager* EventManager;

// The unit's start-up (on the user-interface thread) and shutdown. Start-up makes EventManager
// when it does not exist; a second call does nothing. Shutdown leaves the bus in place for the
// rest of the process, as senders may still hold its window.
void EventsManagerInitialize();
void EventsManagerFinalize();
