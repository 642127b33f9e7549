// Real mouse input for window tests: xdotool moves and clicks the X server's pointer, so that the
// windows get their messages as they get a user's. Tests that use it run one at a time.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/Peer.h"

namespace xinput {

// Starts "xdotool <Args>" (a Unix program, started through Wine) and returns at once; the input
// arrives while the caller serves its messages. A missing xdotool fails the test loudly.
void Run(const std::string& Args);
// Serves the thread's messages until Done() is true or TimeoutMs have passed; returns Done().
// Sleeps in MsgWaitForMultipleObjects between messages.
bool PumpUntil(const std::function<bool()>& Done, unsigned TimeoutMs = 10000);
// Serves the messages for a while (lets input that has no visible effect arrive).
void PumpFor(unsigned Ms);
// Runs "xdotool <Args>" and waits for it: the input is sent when it returns, and arrives once the
// caller serves its messages. A failing xdotool fails the test. (Needs tests/common/Peer.cpp.)
inline void Xdo(const std::string& Args) {
  peer::Result r = peer::Run("xdotool " + Args, 20);
  ASSERT_EQ(r.exitCode, 0) << "xdotool " << Args << ": " << r.err;
}
// Parks the pointer in the screen's far corner, away from every window, so that nothing starts
// out hot.
inline void Park() { Xdo("mousemove --sync 1270 1010"); }

}  // namespace xinput
