#include <gtest/gtest.h>

#include <thread>

#include "LogCapture.h"
#include "toolkit/DbgUtils.h"

namespace {

// A counter the test moves by hand: 1,000,000 counts per second, so one count is 1 us.
int64_t gNow = 0;
int64_t FakeCounter() { return gNow; }

class Timing : public ::testing::Test {
 protected:
  void SetUp() override {
    gNow = 0;
    SetPerformanceCounter(FakeCounter, 1000000);
  }
  void TearDown() override { SetPerformanceCounter(nullptr, 0); }
  LogCapture Log;
};

TEST_F(Timing, LogsSectionsAtOrAboveTheirThreshold) {
  struct Case {
    int64_t Us;
    int ThresholdMs;
    const char* Expected;  // nullptr: nothing logged
  } Cases[] = {
      {1500000, 10, "sec: text: ELAPSED_TIME_WARNING: 2 s"},
      {500000, 10, "sec: text: ELAPSED_TIME: 500 ms"},
      {1000000, 10, "sec: text: ELAPSED_TIME: 1 s"},
      {5000, 10, nullptr},
      {10000, 10, "sec: text: ELAPSED_TIME: 10 ms"},
  };
  for (const Case& C : Cases) {
    size_t Before = Log.Lines().size();
    BeginTiming();
    gNow += C.Us;
    EndTiming("sec", "text", C.ThresholdMs);
    auto Lines = Log.Lines();
    if (C.Expected) {
      ASSERT_EQ(Lines.size(), Before + 1) << C.Us;
      EXPECT_EQ(Lines.back(), C.Expected);
    } else {
      EXPECT_EQ(Lines.size(), Before) << C.Us;
    }
  }
}

TEST_F(Timing, LapsAreListedAndKeptToTwentyOneStamps) {
  BeginTiming();
  gNow += 1000;
  BeginTiming(false);
  gNow += 2000;
  EndTiming("s", "t", 0);
  ASSERT_EQ(Log.Lines().size(), 1u);
  EXPECT_EQ(Log.Lines()[0], "s: t: ELAPSED_TIME: 3 ms (1 ms + 2 ms)");

  BeginTiming();
  for (int I = 0; I < 25; ++I) {
    gNow += 1000;
    BeginTiming(false);
  }
  gNow += 1000;
  EndTiming("s", "t", 0);
  // 21 stamps: 20 laps of 1 ms, and the total stops at the last kept stamp.
  std::string Expected = "s: t: ELAPSED_TIME: 20 ms (";
  for (int I = 0; I < 20; ++I) Expected += I ? " + 1 ms" : "1 ms";
  EXPECT_EQ(Log.Lines()[1], Expected + ")");
}

TEST_F(Timing, TheEleventhLevelTurnsTimingOffForThatThreadOnly) {
  std::thread([&] {
    for (int I = 0; I < 11; ++I) BeginTiming();
    gNow += 2000;
    for (int I = 0; I < 11; ++I) EndTiming("deep", "x", 0);
    BeginTiming();
    EndTiming("after", "x", 0);
  }).join();
  EXPECT_TRUE(Log.Lines().empty());
  // This thread still times.
  BeginTiming();
  EndTiming("main", "x", 0);
  ASSERT_EQ(Log.Lines().size(), 1u);
  EXPECT_EQ(Log.Lines()[0], "main: x: ELAPSED_TIME: 0 ns");
}

TEST_F(Timing, SectionsAddUpPerName) {
  for (int I = 0; I < 3; ++I) {
    BeginTiming();
    gNow += 250;
    EndTiming("stats-name", "x", 1000);
  }
  uint32_t Count = 0;
  uint64_t Total = 0;
  ASSERT_TRUE(PerfData()->Find("stats-name", Count, Total));
  EXPECT_EQ(Count, 3u);
  EXPECT_EQ(Total, 750u);
  EXPECT_FALSE(PerfData()->Find("never-timed", Count, Total));
}

TEST(DbgUtils, CounterTexts) {
  SetPerformanceCounter(FakeCounter, 1000000000);  // 1 ns per count
  EXPECT_EQ(CounterToText(2), "2 ns");
  EXPECT_EQ(CounterToText(500000), "500 us");
  EXPECT_EQ(CounterToText(2500000), "2 ms");  // halves go to the even neighbour
  EXPECT_EQ(CounterToText(3000000000LL), "3 s");
  EXPECT_EQ(CounterToMs(1500000), 2);
  EXPECT_EQ(CounterToUs(1500), 2);
  SetPerformanceCounter(FakeCounter, 0);
  EXPECT_EQ(CounterToText(5), "n/a");
  EXPECT_EQ(CounterToMs(5), 0);
  SetPerformanceCounter(nullptr, 0);
}

TEST(DbgUtils, NumberTexts) {
  EXPECT_EQ(IntToBase(255, 16, 4), "00FF");
  EXPECT_EQ(IntToBase(5, 2, 0), "101");
  EXPECT_EQ(IntToBase(0, 10, 0), "0");
  EXPECT_EQ(PtrToStr(nullptr), "nil");
  EXPECT_EQ(PtrToStr(reinterpret_cast<void*>(0xABCD)), "0000ABCD");
  EXPECT_EQ(PtrToStr(reinterpret_cast<void*>(0x89ABCDEFu)), "89ABCDEF");
  // In a 64-bit process an address beyond 32 bits keeps its high digits.
  if (sizeof(void*) == 8) {
    const uint64_t wide[] = {0x100000000ull, 0x123456789ABCDEF0ull};
    EXPECT_EQ(PtrToStr(reinterpret_cast<void*>((uintptr_t)wide[0])), "100000000");
    EXPECT_EQ(PtrToStr(reinterpret_cast<void*>((uintptr_t)wide[1])), "123456789ABCDEF0");
  }
  EXPECT_TRUE(IsMainThread());
  bool Other = true;
  std::thread([&] { Other = IsMainThread(); }).join();
  EXPECT_FALSE(Other);
}

}  // namespace
