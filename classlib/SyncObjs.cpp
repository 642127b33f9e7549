#include "classlib/SyncObjs.h"

#include "classlib/WinApi.h"

#include "classlib/Classes.h"
#include "classlib/SysUtils.h"

static_assert(sizeof(CRITICAL_SECTION) == TCriticalSection::kSectionSize && alignof(CRITICAL_SECTION) <= 8,
              "CRITICAL_SECTION storage");

TCriticalSection::TCriticalSection() { InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(FSection)); }
TCriticalSection::~TCriticalSection() { DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(FSection)); }
void TCriticalSection::Enter() { EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(FSection)); }
void TCriticalSection::Leave() { LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(FSection)); }
bool TCriticalSection::TryEnter() {
  return TryEnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(FSection)) != 0;
}

TEvent::TEvent(bool ManualReset, bool InitialState) {
  FHandle = CreateEventW(nullptr, ManualReset, InitialState, nullptr);
  if (!FHandle) RaiseLastOSError();
}
TEvent::~TEvent() { CloseHandle(FHandle); }
void TEvent::SetEvent() { ::SetEvent(FHandle); }
void TEvent::ResetEvent() { ::ResetEvent(FHandle); }
TWaitResult TEvent::WaitFor(uint32_t Timeout) { return WaitForHandle(FHandle, Timeout); }

TWaitResult WaitForHandle(void* Handle, uint32_t Timeout) {
  if (GetCurrentThreadId() != MainThreadID) {
    switch (WaitForSingleObject(Handle, Timeout)) {
      case WAIT_OBJECT_0: return wrSignaled;
      case WAIT_TIMEOUT: return wrTimeout;
      case WAIT_ABANDONED: return wrAbandoned;
      default: return wrError;
    }
  }
  // User-interface thread: keep serving sent messages and synchronised calls.
  DWORD start = GetTickCount();
  HANDLE handles[2] = {Handle, SyncEvent()};
  for (;;) {
    DWORD wait = INFINITE;
    if (Timeout != INFINITE_WAIT) {
      DWORD spent = GetTickCount() - start;
      wait = spent >= Timeout ? 0 : Timeout - spent;
    }
    DWORD r = MsgWaitForMultipleObjectsEx(2, handles, wait, QS_SENDMESSAGE, 0);
    if (r == WAIT_OBJECT_0) return wrSignaled;
    if (r == WAIT_ABANDONED_0) return wrAbandoned;
    if (r == WAIT_OBJECT_0 + 1) {
      CheckSynchronize();
    } else if (r == WAIT_OBJECT_0 + 2) {
      MSG msg;
      PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    } else if (r == WAIT_TIMEOUT) {
      return wrTimeout;
    } else {
      return wrError;
    }
    if (Timeout != INFINITE_WAIT && GetTickCount() - start >= Timeout) {
      if (WaitForSingleObject(Handle, 0) == WAIT_OBJECT_0) return wrSignaled;
      return wrTimeout;
    }
  }
}
