#include "tasks/EventsManager.h"

#include "classlib/WinApi.h"

#include <algorithm>

#include "classlib/Forms.h"

TEventManager* EventManager = nullptr;

namespace {
int InitCount = 0;
}

// ---------------------------------------------------------------------------------------------
// TEventSource

TEventSource::TEventSource(TComponent* AOwner) {
  if (AOwner) FName = L"EventSource_" + AnsiToWide(AOwner->ClassName());
  if (EventManager) EventManager->AddSource(this);
}

TEventSource::~TEventSource() {
  if (EventManager) EventManager->RemoveSource(this);
}

// ---------------------------------------------------------------------------------------------
// TEventManager

TEventManager::TEventManager() {
  FHandle = AllocateHWnd([this](TMessage& M) { WndProc(M); });
}

TEventManager::~TEventManager() {
  DeallocateHWnd(FHandle);
  FHandle = nullptr;
}

void TEventManager::AddSource(TEventSource* Source) {
  if (!Source) return;
  if (std::find(FSources.begin(), FSources.end(), Source) == FSources.end()) FSources.push_back(Source);
}

void TEventManager::RemoveSource(TEventSource* Source) {
  TLock lock(FLock);
  auto it = std::find(FSources.begin(), FSources.end(), Source);
  if (it == FSources.end()) return;
  int index = (int)(it - FSources.begin());
  // A walk whose cursor stands at or past the removed entry would otherwise step over the
  // source that slides into its place.
  for (int* cursor : FCursors)
    if (index <= *cursor) --*cursor;
  FSources.erase(it);
}

void TEventManager::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_CAPTION_COMMAND:
    case WM_OPEN_TASK: {
      TCustomForm* form = Application ? Application->MainForm() : nullptr;
      Message.Result = 0;
      if (form)
        Message.Result = SendMessageW(static_cast<HWND>(form->Handle()), Message.Msg, Message.WParam, Message.LParam);
      return;
    }
    case WM_COPYDATA:
    case WM_LANGUAGE_CHANGED:
    case WM_CONVERT_FILE_START:
    case WM_CONVERT_PROGRESS:
    case WM_CONVERT_FILE_DONE:
    case WM_CONVERT_FILE_ERROR:
      Dispatch(Message);
      return;
    default:
      if (Message.Msg >= WM_PLAYER_STARTED && Message.Msg <= WM_RECORD_STOPPED) {
        Dispatch(Message);
        return;
      }
      DefaultHandler(FHandle, Message);
  }
}

void TEventManager::Dispatch(TMessage& Message) {
  Message.Result = 0;
  int cursor = 0;
  FCursors.push_back(&cursor);
  struct Pop {
    std::vector<int*>& Cursors;
    ~Pop() { Cursors.pop_back(); }
  } pop{FCursors};
  for (; cursor < (int)FSources.size(); ++cursor) CallHandler(FSources[cursor], Message);
}

void TEventManager::CallHandler(TEventSource* S, const TMessage& M) {
  const int index = (int)(int32_t)M.WParam;
  const int second = (int)(int32_t)M.LParam;
  const bool succeeded = second == 0;
  // Each handler is called through a copy: it may free its own source.
  auto notify = [](const TNotifyEvent& E, TObject* Sender) {
    if (TNotifyEvent h = E) h(Sender);
  };
  auto indexed = [&](const TIndexEvent& E) {
    if (TIndexEvent h = E) h(this, index);
  };
  auto progress = [&](const TProgressEvent& E) {
    if (TProgressEvent h = E) h(this, index, second);
  };
  auto done = [&](const TDoneEvent& E) {
    if (TDoneEvent h = E) h(this, index, succeeded);
  };
  auto error = [&](const TErrorEvent& E) {
    if (TErrorEvent h = E) h(this, index, second);
  };
  switch (M.Msg) {
    case WM_LANGUAGE_CHANGED: notify(S->OnLanguageChanged, S); break;
    case WM_CONVERT_FILE_START: indexed(S->OnConvertFileStart); break;
    case WM_CONVERT_PROGRESS: progress(S->OnConvertProgress); break;
    case WM_CONVERT_FILE_DONE: done(S->OnConvertFileDone); break;
    case WM_CONVERT_FILE_ERROR: error(S->OnConvertFileError); break;
    case WM_PLAYER_STARTED: notify(S->OnPlayerStarted, this); break;
    case WM_PLAYER_STOPPED: notify(S->OnPlayerStopped, this); break;
    case WM_SPLIT_SEGMENT_START: indexed(S->OnSplitSegmentStart); break;
    case WM_SPLIT_PROGRESS: progress(S->OnSplitProgress); break;
    case WM_SPLIT_SEGMENT_DONE: done(S->OnSplitSegmentDone); break;
    case WM_SPLIT_SEGMENT_ERROR: error(S->OnSplitSegmentError); break;
    case WM_MIX_STEP_START: indexed(S->OnMixStepStart); break;
    case WM_MIX_STEP_ERROR: error(S->OnMixStepError); break;
    case WM_MIX_PROGRESS: progress(S->OnMixProgress); break;
    case WM_MIX_STEP_DONE: done(S->OnMixStepDone); break;
    case WM_RECORD_STARTED: notify(S->OnRecordStarted, this); break;
    case WM_RECORD_STOPPED: notify(S->OnRecordStopped, this); break;
    default: break;  // WM_COPYDATA reaches no handler
  }
}

// ---------------------------------------------------------------------------------------------

void EventsManagerInitialize() {
  if (InitCount++ != 0) return;
  if (!EventManager) EventManager = new TEventManager();
}

void EventsManagerFinalize() {
  if (InitCount > 0) --InitCount;
}
