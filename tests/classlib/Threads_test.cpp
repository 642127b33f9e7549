#include <gtest/gtest.h>
#include "classlib/WinApi.h"

#include <atomic>
#include <functional>
#include <stdexcept>

#include "classlib/Classes.h"
#include "classlib/Forms.h"
#include "classlib/SyncObjs.h"

namespace {
class TLambdaThread : public TThread {
 public:
  explicit TLambdaThread(std::function<void(TLambdaThread*)> Body) : TThread(true), FBody(std::move(Body)) {}
  using TThread::Synchronize;

 protected:
  void Execute() override { FBody(this); }

 private:
  std::function<void(TLambdaThread*)> FBody;
};
}  // namespace

TEST(Threads, SynchronizeReachesTheWaitingUserInterfaceThread) {
  DWORD ranOn = 0;
  TLambdaThread t([&](TLambdaThread* self) {
    for (int i = 0; i < 3; ++i) self->Synchronize([&] { ranOn = GetCurrentThreadId(); });
    self->SetReturnValue(7);
  });
  t.Start();
  EXPECT_EQ(t.WaitFor(), 7u);  // the user-interface thread waits; the worker's calls still run
  EXPECT_EQ(ranOn, MainThreadID);
  EXPECT_TRUE(t.Finished());
}

TEST(Threads, SentMessagesAreServedWhileWaiting) {
  std::atomic<int> got{0};
  void* wnd = AllocateHWnd([&](TMessage& M) {
    if (M.Msg == WM_USER + 5) {
      got += (int)M.WParam;
      M.Result = 99;
    } else {
      DefaultHandler(wnd, M);
    }
  });
  LRESULT answer = 0;
  TLambdaThread t([&](TLambdaThread*) { answer = SendMessageW(static_cast<HWND>(wnd), WM_USER + 5, 4, 0); });
  t.Start();
  TEvent never(true, false);
  EXPECT_EQ(never.WaitFor(300), wrTimeout);  // serves the sent message meanwhile
  t.WaitFor();
  EXPECT_EQ(got, 4);
  EXPECT_EQ(answer, 99);
  DeallocateHWnd(wnd);
}

TEST(Threads, ExceptionsComeBackToTheirThread) {
  bool caughtInWorker = false;
  TLambdaThread t([&](TLambdaThread* self) {
    try {
      self->Synchronize([] { throw EConvertError("bad"); });
    } catch (const EConvertError&) {
      caughtInWorker = true;
    }
    throw EAbort();
  });
  t.Start();
  t.WaitFor();
  EXPECT_TRUE(caughtInWorker);
  ASSERT_TRUE(t.FatalException());
  EXPECT_THROW(std::rethrow_exception(t.FatalException()), EAbort);
}

TEST(Threads, FreeOnTerminateAndOnTerminateOnTheUserInterfaceThread) {
  std::atomic<bool> terminated{false};
  DWORD terminatedOn = 0;
  auto* t = new TLambdaThread([](TLambdaThread*) { Sleep(20); });
  t->SetFreeOnTerminate(true);
  t->OnTerminate = [&](TObject*) {
    terminatedOn = GetCurrentThreadId();
    terminated = true;
  };
  t->Start();
  for (int i = 0; i < 500 && !terminated; ++i) {
    Application->ProcessMessages();
    Sleep(5);
  }
  EXPECT_TRUE(terminated);
  EXPECT_EQ(terminatedOn, MainThreadID);
}

TEST(Threads, AThreadWhoseOnTerminateRaisesStillEnds) {
  TLambdaThread t([](TLambdaThread*) {});
  t.OnTerminate = [](TObject*) { throw EInvalidOperation(L"from OnTerminate"); };
  t.Start();
  t.WaitFor();
  EXPECT_TRUE(t.Finished());
}

TEST(Threads, NeverStartedThreadIsDestroyedCleanly) {
  bool ran = false;
  { TLambdaThread t([&](TLambdaThread*) { ran = true; }); }
  EXPECT_FALSE(ran);
}

TEST(Threads, QueuedCallsRunInTheMessageLoop) {
  int n = 0;
  TLambdaThread t([&](TLambdaThread*) {
    TThread::Queue([&] { ++n; });
    TThread::Queue([&] { ++n; });
  });
  t.Start();
  t.WaitFor();
  Application->ProcessMessages();
  EXPECT_EQ(n, 2);
}

TEST(Application, ExceptionsInWindowProceduresReachHandleException) {
  auto saved = Application->OnException;
  std::wstring seen;
  Application->OnException = [&](TObject*, const Exception& E) { seen = E.Message(); };
  void* wnd = AllocateHWnd([&](TMessage& M) {
    if (M.Msg == WM_USER + 1) throw EInvalidOperation(L"from the window");
    DefaultHandler(wnd, M);
  });
  SendMessageW(static_cast<HWND>(wnd), WM_USER + 1, 0, 0);
  // An abort is silent.
  Application->OnException = [&](TObject*, const Exception&) { seen = L"abort seen"; };
  try {
    throw EAbort();
  } catch (...) {
    Application->HandleException(nullptr);
  }
  DeallocateHWnd(wnd);
  Application->OnException = saved;
  EXPECT_EQ(seen, L"from the window");
}
