#include "classlib/ThreadStart.h"

#include "classlib/WinApi.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

// Threads seen attaching (never removed: a thread that is ending has long finished starting).
// The lock is made by the first callback (the process attach), before any other thread exists
// and before any constructor of the program has run.
CRITICAL_SECTION gLock;
std::vector<DWORD>* gStarted = nullptr;
// Signalled at each attach, so that the exit wait rechecks at once.
HANDLE gAttachEvent = nullptr;

void NoteStarted(DWORD Id) {
  EnterCriticalSection(&gLock);
  if (!gStarted) gStarted = new std::vector<DWORD>();
  gStarted->push_back(Id);
  HANDLE e = gAttachEvent;
  LeaveCriticalSection(&gLock);
  if (e) SetEvent(e);
}

void NTAPI ThreadStartCallback(PVOID, DWORD Reason, PVOID) {
  if (Reason == DLL_PROCESS_ATTACH) {
    InitializeCriticalSection(&gLock);
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EnterCriticalSection(&gLock);
    gAttachEvent = e;
    LeaveCriticalSection(&gLock);
    NoteStarted(GetCurrentThreadId());
  } else if (Reason == DLL_THREAD_ATTACH) {
    NoteStarted(GetCurrentThreadId());
  }
}

void WaitAtExit() { WaitForStartingThreads(ThreadStartExitTimeoutMs); }

// Registers the exit wait when the program's constructors run (before main).
struct TRegisterExitWait {
  TRegisterExitWait() { std::atexit(WaitAtExit); }
} gRegisterExitWait;

}  // namespace

// The loader calls every pointer between .CRT$XLA and .CRT$XLZ for each thread attach.
extern "C" __attribute__((section(".CRT$XLF"), used)) const PIMAGE_TLS_CALLBACK ThreadStartTlsCallback =
    ThreadStartCallback;
// Referenced by the class library's link options, so that every executable keeps this unit.
extern "C" __attribute__((used)) const int ThreadStartAnchor = 1;

int ThreadsStillStarting() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  const DWORD pid = GetCurrentProcessId(), self = GetCurrentThreadId();
  std::vector<DWORD> ids;
  THREADENTRY32 te;
  te.dwSize = sizeof(te);
  for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
    if (te.th32OwnerProcessID == pid && te.th32ThreadID != self) ids.push_back(te.th32ThreadID);
  CloseHandle(snap);
  int starting = 0;
  EnterCriticalSection(&gLock);
  for (DWORD id : ids)
    if (!gStarted || std::find(gStarted->begin(), gStarted->end(), id) == gStarted->end()) ++starting;
  LeaveCriticalSection(&gLock);
  return starting;
}

bool WaitForStartingThreads(uint32_t TimeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (ThreadsStillStarting() == 0) return true;
    DWORD spent = GetTickCount() - start;
    if (spent >= TimeoutMs || !gAttachEvent) return false;
    WaitForSingleObject(gAttachEvent, TimeoutMs - spent);
  }
}
