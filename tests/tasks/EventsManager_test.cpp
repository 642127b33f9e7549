// The event bus on its real hidden window: dispatch order, argument decoding, removal during a
// dispatch, nested dispatches, and forwarding to the main form.
#include <gtest/gtest.h>
#include "classlib/WinApi.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Controls.h"
#include "classlib/Forms.h"
#include "tasks/EventsManager.h"

namespace {

class TLambdaThread : public TThread {
 public:
  explicit TLambdaThread(std::function<void()> Body) : TThread(true), FBody(std::move(Body)) {}

 protected:
  void Execute() override { FBody(); }

 private:
  std::function<void()> FBody;
};

// Runs Body on a worker thread; the user-interface thread waits for it and serves its sends.
void OnWorker(std::function<void()> Body) {
  TLambdaThread t(std::move(Body));
  t.Start();
  t.WaitFor();
  ASSERT_FALSE(t.FatalException());
}

LRESULT Send(uint32_t Msg, WPARAM W, LPARAM L) {
  return SendMessageW(static_cast<HWND>(EventManager->Handle()), Msg, W, L);
}

// Sets every handler of S to write "<slot>(<sender>,<args>)@<thread>" into Log.
void Record(TEventSource* S, const std::string& Tag, std::vector<std::string>& Log) {
  auto sender = [S](TObject* Sender) -> std::string {
    if (Sender == S) return "self";
    if (Sender == EventManager) return "bus";
    return "?";
  };
  auto put = [&Log, Tag](const std::string& What) {
    Log.push_back(Tag + "." + What + (GetCurrentThreadId() == MainThreadID ? "" : "@worker"));
  };
  auto n = [=](const char* Slot) {
    return [=](TObject* Sender) { put(std::string(Slot) + "(" + sender(Sender) + ")"); };
  };
  auto i1 = [=](const char* Slot) {
    return [=](TObject* Sender, int A) { put(std::string(Slot) + "(" + sender(Sender) + "," + std::to_string(A) + ")"); };
  };
  auto i2 = [=](const char* Slot) {
    return [=](TObject* Sender, int A, int B) {
      put(std::string(Slot) + "(" + sender(Sender) + "," + std::to_string(A) + "," + std::to_string(B) + ")");
    };
  };
  auto ok = [=](const char* Slot) {
    return [=](TObject* Sender, int A, bool Ok) {
      put(std::string(Slot) + "(" + sender(Sender) + "," + std::to_string(A) + "," + (Ok ? "true" : "false") + ")");
    };
  };
  S->OnLanguageChanged = n("LanguageChanged");
  S->OnConvertFileStart = i1("ConvertFileStart");
  S->OnConvertProgress = i2("ConvertProgress");
  S->OnConvertFileDone = ok("ConvertFileDone");
  S->OnConvertFileError = i2("ConvertFileError");
  S->OnPlayerStarted = n("PlayerStarted");
  S->OnPlayerStopped = n("PlayerStopped");
  S->OnSplitSegmentStart = i1("SplitSegmentStart");
  S->OnSplitProgress = i2("SplitProgress");
  S->OnSplitSegmentDone = ok("SplitSegmentDone");
  S->OnSplitSegmentError = i2("SplitSegmentError");
  S->OnMixStepStart = i1("MixStepStart");
  S->OnMixProgress = i2("MixProgress");
  S->OnMixStepDone = ok("MixStepDone");
  S->OnMixStepError = i2("MixStepError");
  S->OnRecordStarted = n("RecordStarted");
  S->OnRecordStopped = n("RecordStopped");
}

class EventBus : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(EventManager->SourceCount(), 0) << "a test left a source registered"; }
  void TearDown() override {
    for (auto& s : Sources) s.reset();
    EXPECT_EQ(EventManager->SourceCount(), 0);
  }
  TEventSource* Add(const std::string& Tag) {
    Sources.push_back(std::make_unique<TEventSource>(nullptr));
    Record(Sources.back().get(), Tag, Log);
    return Sources.back().get();
  }
  std::vector<std::unique_ptr<TEventSource>> Sources;
  std::vector<std::string> Log;
};

using Lines = std::vector<std::string>;

}  // namespace

TEST_F(EventBus, EveryMessageReachesItsSlotWithDecodedArguments) {
  struct Case {
    uint32_t Msg;
    WPARAM W;
    LPARAM L;
    const char* Expected;  // empty: no handler runs
  } cases[] = {
      {WM_LANGUAGE_CHANGED, 0, 0, "LanguageChanged(self)"},
      {WM_CONVERT_FILE_START, 3, 0, "ConvertFileStart(bus,3)"},
      {WM_CONVERT_PROGRESS, 3, 55, "ConvertProgress(bus,3,55)"},
      {WM_CONVERT_FILE_DONE, 3, 0, "ConvertFileDone(bus,3,true)"},
      {WM_CONVERT_FILE_DONE, 3, 1, "ConvertFileDone(bus,3,false)"},
      {WM_CONVERT_FILE_ERROR, (WPARAM)-1, (LPARAM)-7, "ConvertFileError(bus,-1,-7)"},
      {WM_PLAYER_STARTED, 0, 0, "PlayerStarted(bus)"},
      {WM_PLAYER_STOPPED, 0, 0, "PlayerStopped(bus)"},
      {WM_SPLIT_SEGMENT_START, 0, 0, "SplitSegmentStart(bus,0)"},
      {WM_SPLIT_PROGRESS, 1, 100, "SplitProgress(bus,1,100)"},
      {WM_SPLIT_SEGMENT_DONE, 1, 1, "SplitSegmentDone(bus,1,false)"},
      {WM_SPLIT_SEGMENT_DONE, 1, 0, "SplitSegmentDone(bus,1,true)"},
      {WM_SPLIT_SEGMENT_ERROR, 2, 0, "SplitSegmentError(bus,2,0)"},
      {WM_MIX_STEP_START, 1, 0, "MixStepStart(bus,1)"},
      {WM_MIX_STEP_ERROR, 2, 5, "MixStepError(bus,2,5)"},
      {WM_MIX_PROGRESS, 1, 40, "MixProgress(bus,1,40)"},
      {WM_MIX_STEP_DONE, 1, 0, "MixStepDone(bus,1,true)"},
      {WM_MIX_STEP_DONE, 1, 2, "MixStepDone(bus,1,false)"},
      {WM_RECORD_STARTED, 0, 0, "RecordStarted(bus)"},
      {WM_RECORD_STOPPED, 0, 0, "RecordStopped(bus)"},
      // Dispatched to nobody, or left to the default window procedure.
      {WM_COPYDATA, 0, 0, ""},
      {1037, 1, 1, ""},
      {1038, 1, 1, ""},
      {1043, 1, 1, ""},
  };
  Add("A");
  for (const Case& c : cases) {
    Log.clear();
    if (c.Msg == WM_COPYDATA) {
      COPYDATASTRUCT data{1, 0, nullptr};
      EXPECT_EQ(Send(c.Msg, 0, (LPARAM)&data), 0);
    } else {
      EXPECT_EQ(Send(c.Msg, c.W, c.L), 0) << c.Msg;
    }
    if (*c.Expected) EXPECT_EQ(Log, Lines{std::string("A.") + c.Expected}) << c.Msg;
    else EXPECT_TRUE(Log.empty()) << c.Msg;
  }
}

TEST_F(EventBus, WorkerMessagesReachAllSourcesInOrderOnTheUserInterfaceThread) {
  Add("A");
  TEventSource* b = Add("B");
  Add("C");
  b->OnConvertProgress = nullptr;  // an unset slot is passed over
  OnWorker([] {
    Send(WM_CONVERT_FILE_START, 0, 0);
    Send(WM_CONVERT_PROGRESS, 0, 100);
    Send(WM_CONVERT_FILE_DONE, 0, 1);
    Send(WM_SPLIT_SEGMENT_DONE, 4, 0);
  });
  EXPECT_EQ(Log, (Lines{"A.ConvertFileStart(bus,0)", "B.ConvertFileStart(bus,0)", "C.ConvertFileStart(bus,0)",
                        "A.ConvertProgress(bus,0,100)", "C.ConvertProgress(bus,0,100)",
                        "A.ConvertFileDone(bus,0,false)", "B.ConvertFileDone(bus,0,false)",
                        "C.ConvertFileDone(bus,0,false)", "A.SplitSegmentDone(bus,4,true)",
                        "B.SplitSegmentDone(bus,4,true)", "C.SplitSegmentDone(bus,4,true)"}));
}

TEST_F(EventBus, SourcesRegisterOnceAndLeaveWhenFreed) {
  TEventSource* a = Add("A");
  EventManager->AddSource(a);
  EXPECT_EQ(EventManager->SourceCount(), 1);
  Send(WM_PLAYER_STARTED, 0, 0);
  EXPECT_EQ(Log, Lines{"A.PlayerStarted(bus)"});
  Sources.clear();
  EXPECT_EQ(EventManager->SourceCount(), 0);
  EXPECT_EQ(Send(WM_PLAYER_STARTED, 0, 0), 0);

  TCustomForm owner(nullptr);
  TEventSource named(&owner);
  EXPECT_EQ(named.Name(), L"EventSource_TCustomForm");
  TEventSource anonymous(nullptr);
  EXPECT_EQ(anonymous.Name(), L"");
}

// Removal from inside a handler, for every position of the remover and the removed: the walk
// goes on with the first source it has not served, and a removed source is not called again.
TEST_F(EventBus, RemovalDuringDispatchSkipsNobody) {
  struct Case {
    int Remover, Removed;
    Lines Expected;
  } cases[] = {
      {0, 0, {"A", "B", "C", "D"}},  // a source freeing itself
      {1, 1, {"A", "B", "C", "D"}},
      {3, 3, {"A", "B", "C", "D"}},
      {1, 0, {"A", "B", "C", "D"}},  // an earlier one
      {2, 0, {"A", "B", "C", "D"}},
      {1, 2, {"A", "B", "D"}},       // a later one is not served any more
  };
  const char* tags[] = {"A", "B", "C", "D"};
  for (const Case& c : cases) {
    Lines served;
    std::vector<TEventSource*> s;
    for (int i = 0; i < 4; ++i) {
      Sources.push_back(std::make_unique<TEventSource>(nullptr));
      s.push_back(Sources.back().get());
    }
    for (int i = 0; i < 4; ++i) {
      s[i]->OnRecordStopped = [&, i](TObject*) {
        served.push_back(tags[i]);
        if (i == c.Remover) {
          for (auto& p : Sources)
            if (p.get() == s[c.Removed]) p.reset();  // frees the source: it unregisters itself
        }
      };
    }
    OnWorker([] { Send(WM_RECORD_STOPPED, 0, 0); });
    EXPECT_EQ(served, c.Expected) << "remover " << c.Remover << ", removed " << c.Removed;
    served.clear();
    Send(WM_RECORD_STOPPED, 0, 0);
    EXPECT_EQ(served.size(), 3u) << "the removed source is gone for good";
    Sources.clear();
  }
}

// A handler that sends a bus message itself starts a dispatch within the dispatch; the outer
// one goes on afterwards, also when the inner one removed a source.
TEST_F(EventBus, NestedDispatchDoesNotCutTheOuterOneShort) {
  TEventSource* a = Add("A");
  Add("B");
  TEventSource* c = Add("C");
  a->OnConvertFileDone = [&](TObject*, int, bool) {
    Log.push_back("A.done");
    Send(WM_PLAYER_STOPPED, 0, 0);
  };
  c->OnPlayerStopped = [&](TObject*) {
    Log.push_back("C.PlayerStopped");
    for (auto& p : Sources)
      if (p.get() == a) p.reset();  // removes the source the outer walk has just served
  };
  OnWorker([] { Send(WM_CONVERT_FILE_DONE, 9, 0); });
  EXPECT_EQ(Log, (Lines{"A.done", "A.PlayerStopped(bus)", "B.PlayerStopped(bus)", "C.PlayerStopped",
                        "B.ConvertFileDone(bus,9,true)", "C.ConvertFileDone(bus,9,true)"}));
}

namespace {
// A main form that answers the shell messages and writes down what it got, and on which thread.
class TTestMainForm : public TCustomForm {
 public:
  using TCustomForm::TCustomForm;
  std::vector<std::string> Got;

 protected:
  void WndProc(TMessage& M) override {
    if (M.Msg == WM_CAPTION_COMMAND || M.Msg == WM_OPEN_TASK) {
      Got.push_back(std::to_string(M.Msg) + ":" + std::to_string(M.WParam) + ":" + std::to_string(M.LParam) +
                    (GetCurrentThreadId() == MainThreadID ? "" : "@worker"));
      M.Result = 1000 + (intptr_t)M.WParam;
      return;
    }
    TCustomForm::WndProc(M);
  }
};
}  // namespace

TEST_F(EventBus, ShellMessagesGoToTheMainFormWithItsResult) {
  Add("A");
  TTestMainForm form(nullptr);
  Application->SetMainForm(&form);
  LRESULT opened = 0, closed = 0, task = 0;
  OnWorker([&] {
    opened = Send(WM_CAPTION_COMMAND, CC_TASK_WINDOW, 5);
    closed = Send(WM_CAPTION_COMMAND, CC_TASK_WINDOW, SC_CLOSE);
    task = Send(WM_OPEN_TASK, TOOL_MIX, 0);
  });
  EXPECT_EQ(Send(WM_OPEN_TASK, TOOL_CONVERT, 0), 1010);
  Application->SetMainForm(nullptr);
  EXPECT_EQ(opened, 1016);
  EXPECT_EQ(closed, 1016);
  EXPECT_EQ(task, 1013);
  EXPECT_EQ(form.Got, (Lines{"1034:16:5", "1034:16:" + std::to_string(SC_CLOSE), "1036:13:0", "1036:10:0"}));
  EXPECT_TRUE(Log.empty()) << "the shell messages reach no source";
  // Without a main form there is nobody to answer.
  EXPECT_EQ(Send(WM_OPEN_TASK, TOOL_SPLIT, 0), 0);
}
