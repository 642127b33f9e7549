// Real mouse input for window tests: xdotool moves and clicks the X server's pointer, so that the
// windows get their messages as they get a user's. Tests that use it run one at a time.
#pragma once
#include <functional>
#include <string>

namespace xinput {

// Starts "xdotool <Args>" (a Unix program, started through Wine) and returns at once; the input
// arrives while the caller serves its messages. A missing xdotool fails the test loudly.
void Run(const std::string& Args);
// Serves the thread's messages until Done() is true or TimeoutMs have passed; returns Done().
// Sleeps in MsgWaitForMultipleObjects between messages.
bool PumpUntil(const std::function<bool()>& Done, unsigned TimeoutMs = 10000);
// Serves the messages for a while (lets input that has no visible effect arrive).
void PumpFor(unsigned Ms);

}  // namespace xinput
