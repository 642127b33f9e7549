#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "LogCapture.h"
#include "classlib/WinApi.h"
#include "toolkit/e_useful.h"

namespace {

TEST(StringHelpers, ColorFromHtml) {
  struct Case {
    const char* Text;
    TColor Expected;
  } Cases[] = {
      {"#FF0000", 0x000000FF}, {" #00ff80 ", 0x0080FF00}, {"#123456", 0x00563412},
      {"#FFFFF", 7},           {"FF0000", 7},             {"#GG0000", 7},
      {"", 7},                 {"#FF00001", 7},
  };
  for (const Case& C : Cases) EXPECT_EQ(ColorFromHtml(C.Text, 7), C.Expected) << C.Text;
}

TEST(StringHelpers, WidePosEx) {
  EXPECT_EQ(WidePosEx(L"b", L"abcb", 3), 4);
  EXPECT_EQ(WidePosEx(L"b", L"abcb", 5), 0);
  EXPECT_EQ(WidePosEx(L"b", L"abcb", 1), 2);
  EXPECT_EQ(WidePosEx(L"cb", L"abcb", 4), 0);
  EXPECT_EQ(WidePosEx(L"x", L"abcb", 1), 0);
  EXPECT_EQ(WidePosEx(L"b", L"abcb", 0), 0);
}

TEST(StringHelpers, StrHash) {
  EXPECT_EQ(StrHash(""), 0u);
  EXPECT_EQ(StrHash("abc"), 0x18823u);
  EXPECT_EQ(StrHash("abcdefghij"), 0xCC5E6C4Bu);  // the rotation wraps
  EXPECT_EQ(StrHash("\xFF"), 0xFFu);              // bytes are unsigned
}

// Counts how many values are alive.
std::atomic<int> gAlive{0};
class Counted : public TObject {
 public:
  Counted() { ++gAlive; }
  ~Counted() override { --gAlive; }
};

TEST(Maps, SimpleMapKeepsOrderGrowsAndFreesOwnedValues) {
  {
    TSimpleMap M;
    M.SetOwnsValues(true);
    for (uint32_t K = 0; K < 40; ++K) M.Add({K, new Counted});
    EXPECT_EQ(M.Count(), 40);
    EXPECT_EQ(M.Capacity(), 64);
    EXPECT_EQ(gAlive, 40);
    M.Remove(5);
    EXPECT_EQ(gAlive, 39);
    EXPECT_EQ(M.Find(5), nullptr);
    std::vector<uint32_t> Keys;
    M.CollectKeys(Keys);
    ASSERT_EQ(Keys.size(), 39u);
    EXPECT_EQ(Keys[4], 4u);
    EXPECT_EQ(Keys[5], 6u);  // order kept
    M.Clear();
    EXPECT_EQ(gAlive, 0);
    M.Add({1, new Counted});
  }
  EXPECT_EQ(gAlive, 0);  // the destructor clears
}

TEST(Maps, HashMapBucketsAndValues) {
  THashMap M;
  EXPECT_EQ(M.BucketCount(), 67);
  EXPECT_EQ(M.BucketOf(67), 0);
  EXPECT_EQ(M.BucketOf(0), 0);
  EXPECT_EQ(M.BucketOf(0xFFFFFFFFu), static_cast<int>(0xFFFFFFFFu % 67));  // unsigned
  Counted A, B;
  M.SetValue(0, &A);
  M.SetValue(67, &B);
  EXPECT_EQ(M.Bucket(0)->Count(), 2);
  EXPECT_EQ(M.GetValue(0), &A);
  EXPECT_EQ(M.GetValue(67), &B);
  M.SetValue(0, &B);  // replaces
  EXPECT_EQ(M.GetValue(0), &B);
  EXPECT_EQ(M.Bucket(0)->Count(), 2);
  EXPECT_EQ(M.GetValue(1), nullptr);
  M.SetBucketCount(5);  // clears
  EXPECT_EQ(M.GetValue(67), nullptr);
  EXPECT_EQ(M.BucketCount(), 5);

  THashMap Owning;
  Owning.SetOwnsValues(true);
  Owning.Add({3, new Counted});
  Owning.Add({70, new Counted});
  Owning.Remove(3);
  EXPECT_EQ(gAlive, 3);  // A, B and key 70
  Owning.Clear();
  EXPECT_EQ(gAlive, 2);
}

TEST(Mutex, RecursiveForItsOwnerAndBoundedForOthers) {
  LogCapture Log;
  TMutex M(3, 20);
  M.Acquire();
  M.Acquire();  // recursive
  EXPECT_EQ(M.OwningThread(), GetCurrentThreadId());
  std::string Error;
  std::thread([&] {
    try {
      M.Acquire();
    } catch (const Exception& E) {
      Error = E.what();
    }
  }).join();
  EXPECT_EQ(Error, "Internal error");
  auto Lines = Log.Lines();
  ASSERT_EQ(Lines.size(), 3u);
  EXPECT_EQ(Lines[0], "TMutex.Acquire: WaitForSingleObject (Creator=, OwningThread=" +
                          std::to_string(GetCurrentThreadId()) + ", Acquire called from ) returned WAIT_TIMEOUT, retry 1");
  EXPECT_NE(Lines[2].find("retry 3"), std::string::npos);
  M.Release();
  M.Release();
}

TEST(Mutex, AnAbandonedMutexIsTakenOverNotLeaked) {
  LogCapture Log;
  TMutex M(2, 20);
  std::thread([&] { M.Acquire(); }).join();  // the owner ends without releasing
  M.Acquire();
  EXPECT_EQ(M.OwningThread(), GetCurrentThreadId());
  ASSERT_EQ(Log.Lines().size(), 1u);
  EXPECT_NE(Log.Lines()[0].find("returned WAIT_ABANDONED"), std::string::npos);
  M.Release();
  // Another thread can have it now.
  bool Got = false;
  std::thread([&] {
    M.Acquire();
    Got = true;
    M.Release();
  }).join();
  EXPECT_TRUE(Got);
}

class Sleeper : public TExThread {
 public:
  explicit Sleeper(bool Stuck) : TExThread(false), FStuck(Stuck) { Start(); }
  const char* ClassName() const override { return "Sleeper"; }

 protected:
  void Execute() override {
    if (FStuck) {
      SetEvent(Event(2));                       // running
      WaitForSingleObject(Event(1), INFINITE);  // ignores the wake event
      return;
    }
    while (!Terminated()) WaitForSingleObject(WakeEvent(), INFINITE);
  }

 private:
  bool FStuck;
};

TEST(ExThread, LogsStartAndEndAndStopsSynchronously) {
  LogCapture Log;
  auto* T = new Sleeper(false);
  uint32_t Id = T->ThreadID();
  T->TerminateSync();
  EXPECT_TRUE(T->Finished());
  auto Lines = Log.Lines();
  ASSERT_GE(Lines.size(), 3u);
  EXPECT_EQ(Lines[0], "Sleeper: Thread (" + std::to_string(Id) + ") started");
  EXPECT_EQ(Lines[1], "Sleeper.TerminateSync: Called");
  EXPECT_EQ(Lines.back(), "Sleeper: Thread (" + std::to_string(Id) + ") finished");
  delete T;
}

TEST(ExThread, AStuckThreadFailsTheAssertionAfterItsWaits) {
  LogCapture Log;
  auto* T = new Sleeper(true);
  T->SetTerminateWait(2, 10);
  WaitForSingleObject(T->Event(2), INFINITE);  // a thread stopped before it runs skips Execute
  std::string Error;
  try {
    T->TerminateSync();
  } catch (const EAssertionFailed& E) {
    Error = E.what();
  }
  EXPECT_NE(Error.find("Timed out waiting to stop thread Sleeper"), std::string::npos) << Error;
  auto Lines = Log.Lines();
  EXPECT_EQ(std::count(Lines.begin(), Lines.end(), "Sleeper.TerminateSync: Thread not terminated yet"), 2);
  EXPECT_EQ(Lines.back(), "Sleeper.TerminateSync: Timed out waiting to stop");
  SetEvent(T->Event(1));  // let it end
  T->WaitFor();
  delete T;
}

}  // namespace
