// Outputs on their worker threads: runs through real chains, events on the user-interface
// thread, stop, pause, restarts and the delivery thread.
#include <gtest/gtest.h>

#include "classlib/WinApi.h"

#include <memory>
#include <random>

#include "AudioTestUtil.h"
#include "audio/engine/AuConverters.h"
#include "classlib/Forms.h"

namespace {

std::vector<uint8_t> Bytes(size_t N, uint8_t Seed = 1) {
  std::vector<uint8_t> v(N);
  for (size_t i = 0; i < N; ++i) v[i] = (uint8_t)(i * 13 + Seed);
  return v;
}

// What reached the handlers: kind ('P'rogress, 'D'one, 'E'xception, 'S'ync done), progress,
// thread and exception message.
struct TEventLog {
  struct Entry {
    char Kind;
    int Progress;
    uint32_t Thread;
    AnsiString Message;
  };
  TCriticalSection Lock;
  std::vector<Entry> Items;

  void Add(char Kind, TComponent* Sender) {
    auto* o = static_cast<TAuOutput*>(Sender);
    TLock l(Lock);
    Items.push_back({Kind, o->Progress(), (uint32_t)GetCurrentThreadId(), o->ExceptionMessage()});
  }
  void Hook(TAuOutput& O, bool SyncDone = false) {
    O.OnProgress = [this](TComponent* S) { Add('P', S); };
    O.OnDone = [this](TComponent* S) { Add('D', S); };
    O.OnThreadException = [this](TComponent* S) { Add('E', S); };
    if (SyncDone) O.OnSyncDone = [this](TComponent* S) { Add('S', S); };
  }
  int Count(char Kind) {
    TLock l(Lock);
    int n = 0;
    for (auto& e : Items) n += e.Kind == Kind;
    return n;
  }
  std::string Kinds() {
    TLock l(Lock);
    std::string s;
    for (auto& e : Items)
      if (e.Kind != 'P') s += e.Kind;
    return s;
  }
};

// Waits, without serving it, until a call is queued for this thread: the delivery thread is then
// held in its synchronisation with this thread.
bool DeliveryWaitsForThisThread() { return WaitForSingleObject(SyncEvent(), 10000) == WAIT_OBJECT_0; }

// A task thread running one call.
class TTask : public TThread {
 public:
  explicit TTask(std::function<void()> Call) : TThread(true), FCall(std::move(Call)) {}

 protected:
  void Execute() override { FCall(); }

 private:
  std::function<void()> FCall;
};

}  // namespace

TEST(AuOutputRun, AChainRunsOnTheWorkerAndItsEventsReachTheUserInterfaceThreadInOrder) {
  // 1 s of 16-bit stereo -> 24-bit mono -> 22050 Hz, pulled by an output on its worker.
  auto pcm = Sine16(440, 44100, 44100, 2);
  TMemIn src(pcm, 16, 2, 44100);
  TSampleMorpher morph(nullptr);
  morph.SetInput(&src);
  morph.SetOutChannels(1);
  morph.SetOutBitsPerSample(24);
  TFastResampler res(nullptr);
  res.SetInput(&morph);
  res.SetOutSampleRate(22050);
  auto expected = Drain(&res, 4096);  // the same chain pulled here

  TCheckOut out;
  out.Chunk = 1000;
  out.SetInput(&res);
  TEventLog log;
  log.Hook(out, true);
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.Count('D') == 1; }));
  PumpFor(100);

  EXPECT_EQ(out.Got, expected);
  EXPECT_EQ(out.Got.size(), 22050u * 3);
  EXPECT_EQ(out.DoneThread, out.Thread()->ThreadID());
  EXPECT_EQ(log.Kinds(), "SD");  // OnSyncDone on the worker first, then exactly one OnDone
  int last = -1;
  for (auto& e : log.Items) {
    if (e.Kind == 'S') {
      EXPECT_EQ(e.Thread, out.Thread()->ThreadID());
      continue;
    }
    EXPECT_EQ(e.Thread, MainThreadID);
    if (e.Kind == 'P') {
      EXPECT_GE(e.Progress, last);  // handlers read the progress as it is when they run
      last = e.Progress;
    }
  }
  EXPECT_EQ(last, 100);
  EXPECT_EQ(log.Items.back().Kind, 'D');
  EXPECT_EQ(out.Status(), osIdle);
  EXPECT_EQ(src.Flushes, src.Inits);
}

TEST(AuOutputRun, ProgressIsPostedOnlyWhenThePercentageChanges) {
  TMemIn empty({}, 16, 1, 44100);
  TCheckOut out;
  TEventLog log;
  log.Hook(out);
  out.SetInput(&empty);
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.Count('D') == 1; }));
  EXPECT_EQ(log.Count('P'), 0);  // size 0: progress stays 0, as it was

  TMemIn in(Bytes(1000), 16, 1, 44100);
  out.SetInput(&in);
  out.Chunk = 500;
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.Count('D') == 2; }));
  EXPECT_EQ(log.Count('P'), 2);  // 50 and 100; 0 was the last value already
  out.Run();  // the previous run ended at 100: this one posts 0 first
  ASSERT_TRUE(PumpUntil([&] { return log.Count('D') == 3; }));
  EXPECT_EQ(log.Count('P'), 5);
}

TEST(AuOutputRun, FailuresBecomeThreadExceptionsFollowedByDone) {
  struct Case {
    const wchar_t* PrepareError;
    int FailAtStep;
    const wchar_t* DoneError;
    const char* Kinds;
    const char* Message;
    int InputFlushes;
  } cases[] = {
      {L"missing", -1, L"", "ED", "missing", 0},       // Prepare fails: Done releases nothing
      {L"", 3, L"", "ED", "step failed", 1},           // a step fails
      {L"", -1, L"done failed", "D", "", 1},           // Done fails: swallowed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Message);
    TMemIn in(Bytes(4000), 16, 1, 44100);
    TCheckOut out;
    out.Chunk = 100;
    out.PrepareError = c.PrepareError;
    out.FailAtStep = c.FailAtStep;
    out.DoneError = c.DoneError;
    out.SetInput(&in);
    TEventLog log;
    log.Hook(out);
    out.Run();
    ASSERT_TRUE(PumpUntil([&] { return log.Count('D') == 1; }));
    EXPECT_EQ(log.Kinds(), c.Kinds);
    EXPECT_EQ(log.Items.back().Message, c.Message);  // read by the done handler
    EXPECT_EQ(out.Dones, 1);
    EXPECT_EQ(out.DonesUnprepared, *c.PrepareError ? 1 : 0);
    EXPECT_EQ(in.Flushes, c.InputFlushes);
    EXPECT_EQ(out.Status(), osIdle);
    // The output is usable again.
    out.PrepareError = L"";
    out.FailAtStep = -1;
    out.DoneError = L"";
    out.Run();
    ASSERT_TRUE(PumpUntil([&] { return log.Count('D') == 2; }));
    EXPECT_EQ(out.Got, in.Data);
    EXPECT_EQ(out.ExceptionMessage(), "");
  }
}

TEST(AuOutputRun, StopAsyncEndsTheRunWithOneDone) {
  TMemIn in(Bytes(100000), 16, 1, 44100);
  in.DelayMs = 2;
  TCheckOut out;
  out.Chunk = 100;
  out.SetInput(&in);
  TEventLog log;
  log.Hook(out);
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return out.Steps > 5; }));
  out.Stop(true);
  ASSERT_TRUE(PumpUntil([&] { return log.Count('D') == 1; }));
  PumpFor(200);
  EXPECT_EQ(log.Count('D'), 1);
  EXPECT_LT(out.Got.size(), in.Data.size());
  EXPECT_EQ(out.Dones, 1);
  EXPECT_EQ(in.Flushes, 1);
}

TEST(AuOutputRun, OnlyARunThatWasStoppedEndsStopped) {
  TMemIn in(Bytes(100000), 16, 1, 44100);
  in.DelayMs = 1;
  TCheckOut out;
  out.Chunk = 100;
  out.SetInput(&in);
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return out.Steps > 3; }));
  out.Stop(false);
  EXPECT_TRUE(out.StoppedInDone);
  // Stopping the idle output does nothing visible: the next run is not taken for stopped.
  out.Stop(true);
  out.Stop(false);
  in.DelayMs = 0;
  bool done = false;
  out.OnDone = [&](TComponent*) { done = true; };
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return done; }));
  EXPECT_FALSE(out.StoppedInDone);
  EXPECT_EQ(out.Got, in.Data);
}

TEST(AuOutputRun, SynchronousStopReturnsWhileHandlersAreQueuedAndDeliversNoDone) {
  TMemIn in(Bytes(200000), 16, 1, 44100);
  in.DelayMs = 1;
  TCheckOut out;
  out.Chunk = 100;  // a progress event every few steps
  out.SetInput(&in);
  TEventLog log;
  log.Hook(out);
  out.Run();
  // No pumping: the delivery thread now waits with a progress event for this thread.
  ASSERT_TRUE(DeliveryWaitsForThisThread());
  out.Stop(false);
  EXPECT_EQ(out.Status(), osIdle);
  EXPECT_EQ(out.Dones, 1);
  size_t seen = log.Items.size();
  PumpFor(300);
  EXPECT_EQ(log.Items.size(), seen);  // nothing of that run after Stop returned
  EXPECT_EQ(log.Count('D'), 0);
  EXPECT_FALSE(out.Stopped());  // cleared by the done step
}

TEST(AuOutputRun, SynchronousStopServesMessagesSentFromTheWorker) {
  std::atomic<int> received{0};
  void* wnd = AllocateHWnd([&](TMessage& M) {
    if (M.Msg == WM_USER + 7) ++received;
    else DefaultHandler(wnd, M);
  });
  TMemIn in(Bytes(20000), 16, 1, 44100);
  TCheckOut out;
  out.Chunk = 200;
  out.SetInput(&in);
  // The worker's end of run sends into this thread, as the preview player's does.
  out.OnSyncDone = [&](TComponent*) { SendMessageW(static_cast<HWND>(wnd), WM_USER + 7, 0, 0); };
  int dones = 0;
  out.OnDone = [&](TComponent*) { ++dones; };
  std::mt19937 rnd(7);
  for (int i = 0; i < 60; ++i) {
    out.Run();
    if (rnd() % 2) Sleep(rnd() % 8);
    DWORD t0 = GetTickCount();
    out.Stop(false);
    EXPECT_LT(GetTickCount() - t0, 2000u);
    ASSERT_EQ(out.Status(), osIdle);
  }
  PumpFor(200);
  EXPECT_EQ(received, 60);
  EXPECT_EQ(dones, 0);
  EXPECT_EQ(out.Dones, 60);
  DeallocateHWnd(wnd);
}

TEST(AuOutputRun, PauseParksTheWorkerAndResumeGoesOn) {
  TMemIn in(Bytes(30000), 16, 1, 44100);
  in.DelayMs = 1;
  TCheckOut out;
  out.Chunk = 100;
  out.SetInput(&in);
  out.Pause();  // idle: nothing happens
  EXPECT_EQ(in.Pauses, 0);
  TEventLog log;
  log.Hook(out);
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return out.Steps > 3; }));
  EXPECT_EQ(out.Status(), osRunning);
  out.Pause();
  EXPECT_EQ(out.Status(), osPaused);
  EXPECT_EQ(in.Pauses, 1);
  int pulls = in.Pulls;
  PumpFor(100);
  EXPECT_EQ(in.Pulls, pulls);
  out.Resume();
  EXPECT_EQ(out.Status(), osRunning);
  EXPECT_EQ(in.Resumes, 1);
  ASSERT_TRUE(PumpUntil([&] { return log.Count('D') == 1; }));
  EXPECT_EQ(out.Got, in.Data);

  // Stopping a paused output ends it.
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return out.Steps > 3; }));
  out.Pause();
  out.Stop(false);
  EXPECT_EQ(out.Status(), osIdle);
}

TEST(AuOutputRun, PauseRightAfterRunOrOnAPausedOutputIsHonouredAtOnce) {
  TMemIn in(Bytes(30000), 16, 1, 44100);
  in.DelayMs = 1;
  TCheckOut out;
  out.Chunk = 300;
  out.SetInput(&in);
  TEventLog log;
  log.Hook(out);
  // The pause request arrives while the worker is still in Prepare: it is kept and Pause returns
  // at once; the worker parks as soon as Prepare is over.
  TEvent inPrepare(true, false), leavePrepare(true, false);
  out.OnPrepare = [&] {
    inPrepare.SetEvent();
    leavePrepare.WaitFor(10000);
  };
  out.Run();
  ASSERT_EQ(inPrepare.WaitFor(10000), wrSignaled);
  DWORD t0 = GetTickCount();
  out.Pause();
  EXPECT_LT(GetTickCount() - t0, 2000u);  // not a 5 s wait for a worker still preparing
  EXPECT_EQ(out.Status(), osPaused);
  leavePrepare.SetEvent();
  ASSERT_TRUE(out.Thread()->WaitForState(wsPaused, 10000));
  EXPECT_EQ(out.Status(), osPaused);
  EXPECT_EQ(out.Steps, 0);
  // A second pause of the paused output neither waits nor outlives the resume.
  t0 = GetTickCount();
  out.Pause();
  EXPECT_LT(GetTickCount() - t0, 2000u);
  EXPECT_EQ(out.Status(), osPaused);
  PumpFor(50);
  EXPECT_EQ(out.Steps, 0);
  out.Resume();
  EXPECT_EQ(out.Status(), osRunning);
  ASSERT_TRUE(PumpUntil([&] { return log.Count('D') == 1; }, 5000));
  EXPECT_EQ(out.Got, in.Data);

  // A Resume right after a Pause taken during Prepare is not lost: the run goes on to its end.
  inPrepare.ResetEvent();
  leavePrepare.ResetEvent();
  out.Run();
  ASSERT_EQ(inPrepare.WaitFor(10000), wrSignaled);
  out.Pause();
  out.Resume();
  leavePrepare.SetEvent();
  ASSERT_TRUE(PumpUntil([&] { return log.Count('D') == 2; }, 10000));
  EXPECT_EQ(out.Got, in.Data);
}

TEST(AuOutputRun, RunFromOnSyncDoneContinuesOnTheSameWorkerWithOneDone) {
  TMemIn in(Bytes(3000), 16, 1, 44100);
  TCheckOut out;
  out.Chunk = 500;
  out.SetInput(&in);
  TEventLog log;
  log.Hook(out);
  std::atomic<int> syncDones{0};
  std::vector<uint32_t> threads;
  out.OnSyncDone = [&](TComponent*) {
    threads.push_back(GetCurrentThreadId());
    if (++syncDones == 1) out.Run();
  };
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.Count('D') == 1; }));
  PumpFor(150);
  EXPECT_EQ(log.Count('D'), 1);
  EXPECT_EQ(out.Prepares, 2);
  EXPECT_EQ(out.Dones, 2);
  ASSERT_EQ(threads.size(), 2u);
  EXPECT_EQ(threads[0], threads[1]);
  EXPECT_EQ(out.Got, in.Data);
}

TEST(AuOutputRun, AStopIsNotUndoneByARestartFromOnSyncDone) {
  // An output that restarts itself from OnSyncDone, as a looping player could.
  TMemIn in(Bytes(2000), 16, 1, 44100);
  in.DelayMs = 1;
  auto* out = new TCheckOut();
  out->Chunk = 100;
  out->SetInput(&in);
  std::atomic<int> dones{0};
  out->OnDone = [&](TComponent*) { ++dones; };
  out->OnSyncDone = [out](TComponent*) { out->Run(); };
  for (bool async : {true, false}) {
    SCOPED_TRACE(async ? "asynchronous stop" : "synchronous stop");
    int before = dones;
    out->Run();
    ASSERT_TRUE(PumpUntil([&] { return out->Prepares > 2; }));
    TTask stopper([out, async] { out->Stop(async); });
    stopper.Start();
    ASSERT_TRUE(PumpUntil([&] { return stopper.Finished(); }, 5000));
    ASSERT_TRUE(PumpUntil([&] { return out->Status() == osIdle; }, 5000));
    PumpFor(100);
    EXPECT_EQ(dones, before + (async ? 1 : 0));
    EXPECT_EQ(out->Status(), osIdle);
    EXPECT_EQ(out->Prepares, out->Dones);
  }
  out->Run();
  ASSERT_TRUE(PumpUntil([&] { return out->Prepares > 2; }));
  TTask freer([out] { delete out; });
  freer.Start();
  ASSERT_TRUE(PumpUntil([&] { return freer.Finished(); }, 5000));
}

namespace {
// Tells whether a handler's own captures went away while it ran (globals: after that the
// handler may touch nothing of its own).
std::atomic<bool> CapturesFreed{false}, FreedWhileRunning{false};
struct TCaptureWatch {
  ~TCaptureWatch() { CapturesFreed = true; }
};
}  // namespace

TEST(AuOutputRun, AnOnSyncDoneHandlerMayClearItself) {
  TMemIn in(Bytes(300), 16, 1, 44100);
  TCheckOut out;
  out.SetInput(&in);
  std::atomic<int> calls{0};
  auto watch = std::make_shared<TCaptureWatch>();
  out.OnSyncDone = [&, watch](TComponent*) {
    ++calls;
    out.OnSyncDone = nullptr;  // one-shot
    FreedWhileRunning = CapturesFreed.load();
  };
  watch.reset();  // the handler holds the last reference
  CapturesFreed = false;
  FreedWhileRunning = false;
  bool done = false;
  out.OnDone = [&](TComponent*) { done = true; };
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return done; }));
  EXPECT_FALSE(FreedWhileRunning);
  EXPECT_TRUE(CapturesFreed);
  done = false;
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return done; }));
  EXPECT_EQ(calls, 1);
}

TEST(AuOutputRun, ChangingTheInputOfABusyOutput) {
  TMemIn a(Bytes(100000, 1), 16, 1, 44100), b(Bytes(3000, 2), 16, 1, 44100);
  a.DelayMs = 1;
  TCheckOut out;
  out.Chunk = 100;
  out.SetInput(&a);
  TEventLog log;
  log.Hook(out);
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return out.Steps > 3; }));
  out.SetInput(&b);  // restarts on b; the interrupted run has no OnDone
  ASSERT_TRUE(PumpUntil([&] { return log.Count('D') == 1; }));
  PumpFor(100);
  EXPECT_EQ(log.Count('D'), 1);
  EXPECT_EQ(out.Got, b.Data);
  EXPECT_EQ(a.Flushes, 1);

  out.SetInput(&a);
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return out.Steps > 3; }));
  out.SetInput(nullptr);  // stops cleanly and stays idle
  EXPECT_EQ(out.Input(), nullptr);
  EXPECT_EQ(out.Status(), osIdle);
  PumpFor(100);
  EXPECT_EQ(log.Count('D'), 1);
  EXPECT_EQ(a.Flushes, 2);
}

TEST(AuOutputRun, BlockingRunRunsTheDoneStepAfterAFailure) {
  TMemIn in(Bytes(5000), 16, 1, 44100);
  TCheckOut out;
  out.Chunk = 300;
  out.SetInput(&in);
  TEventLog log;
  log.Hook(out);
  out.BlockingRun();
  EXPECT_EQ(out.Got, in.Data);
  EXPECT_EQ(out.DoneThread, GetCurrentThreadId());

  out.FailAtStep = 2;
  try {
    out.BlockingRun();
    ADD_FAILURE() << "the failure did not reach the caller";
  } catch (const EAuException& E) {
    EXPECT_EQ(E.Message(), L"step failed");
  }
  EXPECT_EQ(out.Dones, 2);
  EXPECT_EQ(in.Flushes, 2);  // the input is closed again
  EXPECT_FALSE(out.Busy());

  out.PrepareError = L"no file";
  EXPECT_THROW(out.BlockingRun(), Exception);
  EXPECT_EQ(out.DonesUnprepared, 1);
  EXPECT_EQ(in.Inits, 2);
  out.PrepareError = L"";
  out.FailAtStep = -1;
  PumpFor(50);
  EXPECT_TRUE(log.Items.empty());  // a blocking run raises no events
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.Count('D') == 1; }));
  EXPECT_EQ(out.Got, in.Data);
}

TEST(AuOutputRun, ManyShortRunsBackToBackLoseNoDoneEvents) {
  // Restarted from each OnDone, with asynchronous stops at random moments.
  TMemIn in(Bytes(800), 16, 1, 44100);
  TCheckOut out;
  out.Chunk = 100;
  out.SetInput(&in);
  const int runs = 300;
  int started = 1, dones = 0;
  out.OnDone = [&](TComponent*) {
    ++dones;
    if (started < runs) {
      ++started;
      out.Run();
    }
  };
  std::mt19937 rnd(11);
  out.Run();
  ASSERT_TRUE(PumpUntil(
      [&] {
        if (rnd() % 5 == 0) out.Stop(true);
        return dones == runs;
      },
      60000));
  PumpFor(100);
  EXPECT_EQ(dones, runs);
  EXPECT_EQ(out.Dones, runs);
  EXPECT_EQ(out.Prepares, runs);
}

namespace {
class TRunner : public TThread {
 public:
  TRunner(TAuOutput& O, int Runs) : TThread(true), FOut(O), FRuns(Runs) {}
  std::atomic<int> Started{0};

 protected:
  void Execute() override {
    // A task thread: run, poll until idle, run the next one at once.
    for (int i = 0; i < FRuns; ++i) {
      FOut.Run();
      ++Started;
      while (FOut.Status() != osIdle) Sleep(0);
    }
  }

 private:
  TAuOutput& FOut;
  int FRuns;
};
}  // namespace

TEST(AuOutputRun, RunsStartedByATaskThreadEachGetTheirDone) {
  TMemIn in(Bytes(400), 16, 1, 44100);
  TCheckOut out;
  out.Chunk = 100;
  out.SetInput(&in);
  std::atomic<int> dones{0};
  out.OnDone = [&](TComponent*) { ++dones; };
  const int runs = 300;
  TRunner runner(out, runs);
  runner.Start();
  ASSERT_TRUE(PumpUntil([&] { return dones == runs; }, 60000)) << dones << " of " << runs;
  runner.WaitFor();
  EXPECT_FALSE(runner.FatalException());
  EXPECT_EQ(out.Dones, runs);
  PumpFor(100);
  EXPECT_EQ(dones, runs);
}

TEST(AuOutputRun, ARunRightAfterConstructionIsNotLost) {
  TMemIn in(Bytes(200), 16, 1, 44100);
  for (int i = 0; i < 40; ++i) {
    auto out = std::make_unique<TCheckOut>();
    out->SetInput(&in);
    bool done = false;
    out->OnDone = [&](TComponent*) { done = true; };
    out->Run();
    ASSERT_TRUE(PumpUntil([&] { return done; }, 5000)) << "run " << i;
  }
}

TEST(AuOutputRun, AnOutputCanBeFreedFromItsOwnHandlerOrWithEventsQueued) {
  TMemIn in(Bytes(2000), 16, 1, 44100);
  auto* out = new TCheckOut();
  out->SetInput(&in);
  bool freed = false;
  out->OnDone = [&](TComponent* S) {
    delete static_cast<TCheckOut*>(S);
    freed = true;
  };
  out->Run();
  ASSERT_TRUE(PumpUntil([&] { return freed; }));

  TMemIn slow(Bytes(100000), 16, 1, 44100);
  slow.DelayMs = 1;
  out = new TCheckOut();
  out->Chunk = 50;
  out->SetInput(&slow);
  bool gone = false;
  int late = 0;
  auto handler = [&](TComponent*) { late += gone; };
  out->OnProgress = handler;
  out->OnDone = handler;
  out->OnThreadException = handler;
  out->Run();
  ASSERT_TRUE(DeliveryWaitsForThisThread());  // events pile up for this thread
  delete out;
  gone = true;
  PumpFor(200);
  EXPECT_EQ(late, 0);
}

TEST(AuOutputRun, OutputsFreedOnATaskThreadWhileRunningDeliverNothingLate) {
  // The last output goes on the task thread, so the delivery thread ends there too, while its
  // worker may be sending into this thread and events wait here.
  void* wnd = AllocateHWnd([&](TMessage& M) { DefaultHandler(wnd, M); });
  std::mt19937 rnd(3);
  int late = 0;
  for (int i = 0; i < 100; ++i) {
    TMemIn in(Bytes(4000), 16, 1, 44100);
    auto* out = new TCheckOut();
    out->Chunk = 100;
    out->SetInput(&in);
    bool gone = false;
    auto handler = [&](TComponent*) { late += gone; };
    out->OnProgress = handler;
    out->OnDone = handler;
    out->OnSyncDone = [wnd](TComponent*) { SendMessageW(static_cast<HWND>(wnd), WM_NULL, 0, 0); };
    out->Run();
    if (rnd() % 2) Sleep(rnd() % 5);
    if (rnd() % 2) PumpFor(rnd() % 3);
    TTask freer([out] { delete out; });
    freer.Start();
    ASSERT_TRUE(PumpUntil([&] { return freer.Finished(); })) << i;
    gone = true;
    freer.WaitFor();
    EXPECT_FALSE(freer.FatalException());
    EXPECT_EQ(in.Flushes, in.Inits);
  }
  PumpFor(100);
  EXPECT_EQ(late, 0);
  EXPECT_EQ(CurrentEventHandler(), nullptr);
  DeallocateHWnd(wnd);
}

TEST(EventDelivery, AHandlerThatRaisesReachesTheApplicationAndDeliveryGoesOn) {
  auto saved = Application->OnException;
  std::wstring reported;
  Application->OnException = [&](TObject*, const Exception& E) { reported = E.Message(); };
  TMemIn in(Bytes(300), 16, 1, 44100);
  TCheckOut out;
  out.SetInput(&in);
  int dones = 0;
  out.OnDone = [&](TComponent*) {
    if (++dones == 1) throw EAuException("handler failed");
  };
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return dones == 1; }));
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return dones == 2; }));
  Application->OnException = saved;
  EXPECT_EQ(reported, L"handler failed");
}

TEST(EventDelivery, ImmediateEventsGoFirstAndRunOnTheDeliveryThread) {
  EventHandlerAddRef();
  TComponent sender(nullptr);
  std::vector<std::string> order;
  uint32_t immediateThread = 0;
  auto generic = [&](const char* Name) {
    PostGenericEvent(&sender, [&, Name](TComponent* S) {
      EXPECT_EQ(S, &sender);
      EXPECT_EQ(GetCurrentThreadId(), MainThreadID);
      order.push_back(Name);
    });
  };
  generic("g1");
  ASSERT_TRUE(DeliveryWaitsForThisThread());  // with g1
  generic("g2");
  generic("g3");
  PostImmediateEvent(&sender, [&](TComponent*) {
    immediateThread = GetCurrentThreadId();
    order.push_back("i");
  });
  ASSERT_TRUE(PumpUntil([&] { return order.size() == 4; }));
  EXPECT_EQ(order, (std::vector<std::string>{"g1", "i", "g2", "g3"}));
  EXPECT_NE(immediateThread, MainThreadID);
  EXPECT_NE(immediateThread, 0u);

  // A blocked sender's events are refused; a purge drops the queued ones.
  generic("hold");
  ASSERT_TRUE(DeliveryWaitsForThisThread());  // with "hold"
  CurrentEventHandler()->Block(&sender);
  generic("blocked");
  CurrentEventHandler()->Unblock(&sender);
  generic("purged");
  CurrentEventHandler()->Purge(&sender);
  generic("g4");
  ASSERT_TRUE(PumpUntil([&] { return order.size() >= 6; }));
  PumpFor(50);
  EXPECT_EQ(order, (std::vector<std::string>{"g1", "i", "g2", "g3", "hold", "g4"}));
  EventHandlerForget(&sender);
  EventHandlerRelease();
}

TEST(EventDelivery, TheDeliveryThreadLivesWhileOutputsDo) {
  ASSERT_EQ(EventHandlerReferences(), 0);
  ASSERT_EQ(CurrentEventHandler(), nullptr);
  auto* a = new TCheckOut();
  auto* b = new TCheckOut();
  EXPECT_EQ(EventHandlerReferences(), 2);
  ASSERT_NE(CurrentEventHandler(), nullptr);
  HANDLE h;
  DuplicateHandle(GetCurrentProcess(), CurrentEventHandler()->Handle(), GetCurrentProcess(), &h, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  delete a;
  EXPECT_EQ(WaitForSingleObject(h, 0), (DWORD)WAIT_TIMEOUT);
  DWORD t0 = GetTickCount();
  delete b;
  EXPECT_EQ(WaitForSingleObject(h, 200), (DWORD)WAIT_OBJECT_0);
  EXPECT_LT(GetTickCount() - t0, 200u);
  CloseHandle(h);
  EXPECT_EQ(CurrentEventHandler(), nullptr);
  TCheckOut c;  // a new one when outputs are made again
  EXPECT_NE(CurrentEventHandler(), nullptr);
}

TEST(EventDelivery, ReferencesFromManyThreadsAreCounted) {
  class TRefs : public TThread {
   public:
    TRefs() : TThread(true) {}

   protected:
    void Execute() override {
      for (int i = 0; i < 200; ++i) {
        EventHandlerAddRef();
        EventHandlerRelease();
      }
    }
  };
  EventHandlerAddRef();
  {
    std::vector<std::unique_ptr<TRefs>> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back(new TRefs());
    for (auto& t : threads) t->Start();
    for (auto& t : threads) t->WaitFor();
  }
  EXPECT_EQ(EventHandlerReferences(), 1);
  EXPECT_NE(CurrentEventHandler(), nullptr);
  EventHandlerRelease();
  EXPECT_EQ(EventHandlerReferences(), 0);
  EXPECT_EQ(CurrentEventHandler(), nullptr);
}

TEST(AuOutputRun, WorkerThreadsUseTheEngineControlWord) {
  TMemIn in(Bytes(100), 16, 1, 44100);
  TCheckOut out;
  out.SetInput(&in);
  std::atomic<int> cw{0};
  out.OnSyncDone = [&](TComponent*) { cw = Get8087CW() & ~0x40; };
  out.BlockingRun();
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return cw != 0; }));
  EXPECT_EQ(cw, 0x133F);
}
