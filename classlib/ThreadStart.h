// Process exit that waits for threads still starting.
//
// Wine 8.0 kills a process (SIGSEGV) that exits while another of its threads is still inside the
// system's thread start-up. Every executable that links the class library therefore waits at exit,
// for at most ThreadStartExitTimeoutMs, until each thread of the process has been seen attaching
// (a TLS callback records every thread that has finished its start-up). Nothing to call: the
// class library registers the wait when the program starts.
#pragma once
#include <cstdint>

constexpr uint32_t ThreadStartExitTimeoutMs = 5000;

// Threads of this process that have not yet finished starting (the caller not counted).
int ThreadsStillStarting();
// Waits until ThreadsStillStarting() is 0 or TimeoutMs have passed; true when none is left.
// Threads: any; waits on the start-up notifications of the other threads.
bool WaitForStartingThreads(uint32_t TimeoutMs);
