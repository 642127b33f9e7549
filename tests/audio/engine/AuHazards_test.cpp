// Freeing, stopping and pausing a chain while its output works: sources freed under a running
// output, an output freed from its own OnSyncDone, a stop of a blocking run, and a stress run of
// all of these in random order on two threads under CPU load.
#include <gtest/gtest.h>

#include "classlib/WinApi.h"

#include <memory>
#include <random>

#include "AudioTestUtil.h"
#include "classlib/Forms.h"

namespace {

// A live source: silence without end (Size unknown), a little at a time.
class TLiveIn : public TAuInput {
 public:
  explicit TLiveIn(TComponent* AOwner = nullptr) : TAuInput(AOwner), FBuf(256, 0) {}
  std::atomic<int> Inits{0}, Flushes{0};

 protected:
  int GetBPS() override { return 16; }
  int GetCh() override { return 1; }
  int GetSR() override { return 8000; }
  void InitInternal() override {
    ++Inits;
    FPosition = 0;
    FSize = -1;
    FBusy = true;
  }
  void FlushInternal() override {
    ++Flushes;
    FBusy = false;
  }
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override {
    Bytes = std::min<uint32_t>(Bytes, (uint32_t)FBuf.size());
    Buffer = FBuf.data();
  }

 private:
  std::vector<uint8_t> FBuf;
};

class TTask : public TThread {
 public:
  explicit TTask(std::function<void()> Call) : TThread(true), FCall(std::move(Call)) {}

 protected:
  void Execute() override { FCall(); }

 private:
  std::function<void()> FCall;
};

// Keeps Count threads busy computing until it is destroyed.
class TCpuLoad {
 public:
  explicit TCpuLoad(int Count) {
    for (int i = 0; i < Count; ++i) {
      FThreads.emplace_back(std::make_unique<TTask>([this] {
        volatile double x = 1;
        while (!FEnd) x = x * 1.0000001 + 1e-9;  // the load itself: no wait wanted here
      }));
      FThreads.back()->SetPriority(tpLower);
      FThreads.back()->Start();
    }
  }
  ~TCpuLoad() {
    FEnd = true;
    for (auto& t : FThreads) t->WaitFor();
  }

 private:
  std::atomic<bool> FEnd{false};
  std::vector<std::unique_ptr<TTask>> FThreads;
};

}  // namespace

TEST(AuHazards, FreeingASourceWhileAnOutputPullsFromItStopsTheOutputFirst) {
  // Source or converter freed on its own, or by an owner that made the output first (an owner
  // frees its components last made first, so the sources go before the output).
  enum TWhat { wSource, wConverter, wOwner };
  for (TWhat what : {wSource, wConverter, wOwner}) {
    SCOPED_TRACE(what);
    auto owner = std::make_unique<TComponent>(nullptr);
    auto* out = new TCheckOut(owner.get());
    auto* in = new TLiveIn(owner.get());
    auto* conv = new TPassConverter(-1, owner.get());
    out->Chunk = 64;
    conv->SetInput(in);
    out->SetInput(conv);
    int dones = 0;
    out->OnDone = [&](TComponent*) { ++dones; };
    out->Run();
    ASSERT_TRUE(PumpUntil([&] { return out->Steps > 20; }));
    if (what == wSource) {
      const int inits = in->Inits;
      delete in;
      // The converter let go of its input under its data lock: the output pulls the end.
      ASSERT_TRUE(PumpUntil([&] { return !out->Busy(); }));
      EXPECT_EQ(conv->Input(), nullptr);
      EXPECT_EQ(inits, 1);
    } else if (what == wConverter) {
      const TLiveIn* src = in;
      delete conv;
      EXPECT_FALSE(out->Busy());  // the synchronous stop ended the run before the converter went
      EXPECT_EQ(out->Input(), nullptr);
      EXPECT_EQ(src->Flushes.load(), src->Inits.load());
    } else {
      owner.reset();
      continue;  // all gone without a fault
    }
    PumpFor(50);
    EXPECT_EQ(out->Dones, 1);
  }
}

TEST(AuHazards, AnOutputFreedFromItsOwnOnSyncDoneHandsItsWorkerOff) {
  ASSERT_EQ(EventHandlerReferences(), 0);
  TMemIn in(std::vector<uint8_t>(4000, 7), 16, 1, 44100);
  auto* out = new TCheckOut();
  out->Chunk = 500;
  out->SetInput(&in);
  TEvent freed(true, false);
  int dones = 0;
  out->OnDone = [&](TComponent*) { ++dones; };
  out->OnSyncDone = [&](TComponent* S) {
    delete static_cast<TCheckOut*>(S);  // a batch worker freeing its output when the chain ends
    freed.SetEvent();
  };
  out->Run();
  ASSERT_EQ(freed.WaitFor(10000), wrSignaled);
  PumpFor(50);
  EXPECT_EQ(dones, 0);  // the output is gone: no done event for it
  EXPECT_EQ(EventHandlerReferences(), 0);
  EXPECT_EQ(in.Flushes, in.Inits);
}

TEST(AuHazards, StopEndsABlockingRunAndAStopFromTheRunItselfIsRecorded) {
  // From another thread, synchronously and asynchronously; and through the destructor.
  for (int mode = 0; mode < 3; ++mode) {
    SCOPED_TRACE(mode);
    TLiveIn in;
    auto out = std::make_unique<TCheckOut>();
    out->Chunk = 64;
    out->SetInput(&in);
    TTask runner([&] { out->BlockingRun(); });
    runner.Start();
    ASSERT_TRUE(PumpUntil([&] { return out->Steps > 10; }));
    if (mode == 0) out->Stop(false);
    if (mode == 1) out->Stop(true);
    if (mode == 2) out.reset();
    ASSERT_TRUE(PumpUntil([&] { return runner.Finished(); }));
    runner.WaitFor();
    EXPECT_FALSE(runner.FatalException());
    if (out) {
      EXPECT_FALSE(out->Busy());
    }
    EXPECT_EQ(in.Flushes, in.Inits);
  }

  // A stop from inside the run (here from Prepare, on the worker) is recorded, not raised: the
  // run ends stopped without a step.
  TLiveIn in;
  TCheckOut out;
  out.SetInput(&in);
  std::wstring raised = L"-";
  out.OnPrepare = [&] { raised = MessageOf([&] { out.Stop(false); }); };
  bool done = false;
  out.OnDone = [&](TComponent*) { done = true; };
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return done; }));
  EXPECT_EQ(raised, L"(nothing raised)");
  EXPECT_EQ(out.Steps, 0);
  EXPECT_TRUE(out.StoppedInDone);
}

TEST(AuHazards, ChainsBuiltRunCancelledAndFreedInEveryOrderOnTwoThreadsUnderLoad) {
  TCpuLoad load(8);
  std::atomic<int> rounds{0}, failures{0};
  auto worker = [&](uint32_t Seed) {
    std::mt19937 rnd(Seed);
    for (int i = 0; i < 500; ++i) {
      try {
        auto* in = new TMemIn(std::vector<uint8_t>(200 + rnd() % 20000, 1), 16, 1, 44100);
        in->MaxChunk = 1 + rnd() % 700;
        auto* conv = new TPassConverter(rnd() % 3 ? -1 : (int64_t)(rnd() % 30000));
        auto* out = new TCheckOut();
        out->Chunk = 1 + rnd() % 2000;
        conv->SetInput(in);
        out->SetInput(conv);
        out->OnProgress = [](TComponent*) {};
        out->OnDone = [](TComponent*) {};
        // Now and then the output frees itself from OnSyncDone, as a batch worker would; it is
        // not touched from here after its run has started.
        const bool freeInSyncDone = rnd() % 8 == 0;
        auto gone = std::make_shared<TEvent>(true, false);
        if (freeInSyncDone)
          out->OnSyncDone = [gone](TComponent* S) {
            delete static_cast<TCheckOut*>(S);
            gone->SetEvent();
          };
        out->Run();
        for (uint32_t k = rnd() % 3000; k; --k) YieldProcessor();  // a random moment
        const int cancel = rnd() % 4;  // 0 none, 1 async, 2 sync, 3 pause and resume
        if (!freeInSyncDone) {
          if (cancel == 1) out->Stop(true);
          if (cancel == 2) out->Stop(false);
          if (cancel == 3) {
            out->Pause();
            out->Resume();
          }
        }
        // Free in a random order; a self-freeing output first ends its chain.
        if (freeInSyncDone && gone->WaitFor(60000) != wrSignaled) ++failures;
        int order[3] = {0, 1, 2};
        std::shuffle(order, order + 3, rnd);
        for (int o : order) {
          if (o == 0) delete in;
          if (o == 1) delete conv;
          if (o == 2 && !freeInSyncDone) delete out;
        }
      } catch (...) {
        ++failures;
      }
      ++rounds;
    }
  };
  TTask a([&] { worker(1); }), b([&] { worker(2); });
  a.Start();
  b.Start();
  ASSERT_TRUE(PumpUntil([&] { return a.Finished() && b.Finished(); }, 280000)) << rounds;
  a.WaitFor();
  b.WaitFor();
  EXPECT_EQ(rounds, 1000);
  EXPECT_EQ(failures, 0);
  PumpFor(50);
  EXPECT_EQ(EventHandlerReferences(), 0);
}
