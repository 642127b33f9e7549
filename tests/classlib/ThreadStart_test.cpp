// The exit wait for threads that are still starting.
#include <gtest/gtest.h>

#include "classlib/WinApi.h"

#include "classlib/ThreadStart.h"

namespace {
DWORD WINAPI Idle(void*) { return 0; }
}  // namespace

TEST(ThreadStart, AThreadCountsAsStartingUntilItHasAttached) {
  // Every thread already in the process (the test runner's, the system's) has been seen.
  EXPECT_EQ(ThreadsStillStarting(), 0);
  // A thread held before its start-up has not finished starting: the wait gives up at its bound.
  DWORD id = 0;
  HANDLE h = CreateThread(nullptr, 0, Idle, nullptr, CREATE_SUSPENDED, &id);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ThreadsStillStarting(), 1);
  DWORD t0 = GetTickCount();
  EXPECT_FALSE(WaitForStartingThreads(100));
  EXPECT_GE(GetTickCount() - t0, 90u);
  // Let go, it attaches, and the wait returns as soon as it has.
  ResumeThread(h);
  EXPECT_TRUE(WaitForStartingThreads(ThreadStartExitTimeoutMs));
  EXPECT_EQ(ThreadsStillStarting(), 0);
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
}
