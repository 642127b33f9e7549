// Threads, synchronisation with the user-interface thread, and hidden utility windows.
#include "classlib/Classes.h"

#include "classlib/WinApi.h"

#include <deque>
#include <memory>

#include "classlib/SyncObjs.h"

// ---------------------------------------------------------------------------------------------
// Threads and synchronisation

uint32_t MainThreadID = GetCurrentThreadId();
std::function<void()> WakeMainThread;

namespace {
struct SyncRecord {
  std::function<void()> Method;
  HANDLE Done = nullptr;         // set when the call has run (null for queued calls)
  std::exception_ptr Error;
};

struct SyncQueue {
  CRITICAL_SECTION Lock;
  HANDLE Event;  // manual reset: set while records wait
  std::deque<SyncRecord*> Records;
  SyncQueue() {
    InitializeCriticalSection(&Lock);
    Event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
};

SyncQueue& Sync() {
  static SyncQueue* q = new SyncQueue();  // lives until the process ends
  return *q;
}

void Enqueue(SyncRecord* R) {
  SyncQueue& q = Sync();
  EnterCriticalSection(&q.Lock);
  q.Records.push_back(R);
  SetEvent(q.Event);
  LeaveCriticalSection(&q.Lock);
  if (WakeMainThread) WakeMainThread();
}
}  // namespace

void* SyncEvent() { return Sync().Event; }

bool CheckSynchronize(uint32_t Timeout) {
  if (GetCurrentThreadId() != MainThreadID) return false;
  SyncQueue& q = Sync();
  if (Timeout) WaitForSingleObject(q.Event, Timeout);
  bool ran = false;
  for (;;) {
    EnterCriticalSection(&q.Lock);
    if (q.Records.empty()) {
      ResetEvent(q.Event);
      LeaveCriticalSection(&q.Lock);
      return ran;
    }
    SyncRecord* r = q.Records.front();
    q.Records.pop_front();
    LeaveCriticalSection(&q.Lock);
    ran = true;
    if (r->Done) {
      try {
        r->Method();
      } catch (...) {
        r->Error = std::current_exception();
      }
      SetEvent(r->Done);
    } else {
      try {
        r->Method();
      } catch (...) {
        // A queued call has nobody waiting for it; nothing may escape into the message loop.
      }
      delete r;
    }
  }
}

void TThread::Synchronize(TThread*, const std::function<void()>& Method) {
  if (GetCurrentThreadId() == MainThreadID) {
    Method();
    return;
  }
  SyncRecord r;
  r.Method = Method;
  r.Done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!r.Done) RaiseLastOSError();
  Enqueue(&r);
  WaitForSingleObject(r.Done, INFINITE);
  CloseHandle(r.Done);
  if (r.Error) std::rethrow_exception(r.Error);
}

void TThread::Queue(const std::function<void()>& Method) {
  auto* r = new SyncRecord();
  r->Method = Method;
  Enqueue(r);
}

TThread::TThread(bool CreateSuspended) {
  DWORD id = 0;
  FHandle = CreateThread(nullptr, 0, &TThread::ThreadProc, this, CREATE_SUSPENDED, &id);
  if (!FHandle)
    throw EThread(WideFormat(ClassesMessages::ThreadCreateError, SysErrorMessage(GetLastError()).c_str()));
  FThreadID = id;
  FSuspended = true;
  (void)CreateSuspended;  // the creator starts the thread once the object is whole
}

TThread::~TThread() {
  if (FHandle) {
    if (FStarted && !FFinished) {
      Terminate();
      WaitFor();
    } else if (!FStarted) {
      // Never ran: let the system thread end without touching this object.
      FFreeOnTerminate = false;
      FTerminated = true;
      FStarted = true;
      ResumeThread(FHandle);
      WaitForSingleObject(FHandle, INFINITE);
    }
    CloseHandle(FHandle);
  }
}

void TThread::Start() {
  if (FStarted && !FSuspended) return;
  FStarted = true;
  FSuspended = false;
  ResumeThread(FHandle);
}

void TThread::Suspend() {
  FSuspended = true;
  SuspendThread(FHandle);
}

uint32_t TThread::WaitFor() {
  if (GetCurrentThreadId() == FThreadID) throw EThread(ClassesMessages::WaitForItself);
  WaitForHandle(FHandle, INFINITE_WAIT);
  DWORD code = 0;
  GetExitCodeThread(FHandle, &code);
  return code;
}

static const int kPriorities[] = {THREAD_PRIORITY_IDLE,   THREAD_PRIORITY_LOWEST,  THREAD_PRIORITY_BELOW_NORMAL,
                                  THREAD_PRIORITY_NORMAL, THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                  THREAD_PRIORITY_TIME_CRITICAL};

TThreadPriority TThread::Priority() const {
  int p = GetThreadPriority(FHandle);
  for (int i = 0; i < 7; ++i)
    if (kPriorities[i] == p) return (TThreadPriority)i;
  return tpNormal;
}

void TThread::SetPriority(TThreadPriority Value) { SetThreadPriority(FHandle, kPriorities[Value]); }

void TThread::DoTerminate() {
  if (OnTerminate) Synchronize([this] { OnTerminate(this); });
}

unsigned long __stdcall TThread::ThreadProc(void* Param) {
  auto* t = static_cast<TThread*>(Param);
  if (t->FTerminated && !t->FFreeOnTerminate && t->FSuspended) return 0;  // destroyed before it started
  bool freeIt = false;
  DWORD result = 0;
  try {
    if (!t->FTerminated) t->Execute();
  } catch (...) {
    t->FFatalException = std::current_exception();
  }
  freeIt = t->FFreeOnTerminate;
  result = (DWORD)t->FReturnValue;
  try {
    t->DoTerminate();
  } catch (...) {
    // An OnTerminate that raised: the thread has ended all the same.
  }
  t->FFinished = true;
  if (freeIt) {
    // The object goes; its handle is closed by the destructor, the thread ends after it.
    HANDLE h = t->FHandle;
    t->FHandle = nullptr;
    CloseHandle(h);
    delete t;
  }
  return result;
}


// ---------------------------------------------------------------------------------------------
// Hidden utility windows

std::function<void(TObject* Sender)> ApplicationHandleException;

namespace {
const wchar_t kUtilWindowClass[] = L"TPUtilWindow";

struct UtilWindow {
  TWndMethod Method;
};

LRESULT CALLBACK UtilWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  auto* w = reinterpret_cast<UtilWindow*>(GetWindowLongPtrW(Wnd, GWLP_USERDATA));
  if (!w) return DefWindowProcW(Wnd, Msg, WParam, LParam);
  TMessage m{Msg, WParam, LParam, 0};
  try {
    w->Method(m);
  } catch (...) {
    if (ApplicationHandleException) {
      try {
        ApplicationHandleException(nullptr);
      } catch (...) {
      }
    }
  }
  return m.Result;
}

void RegisterUtilClass() {
  static bool done = false;
  if (done) return;
  WNDCLASSW wc{};
  wc.lpfnWndProc = UtilWndProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kUtilWindowClass;
  RegisterClassW(&wc);
  done = true;
}
}  // namespace

void* AllocateHWnd(TWndMethod Method) {
  RegisterUtilClass();
  HWND h = CreateWindowExW(WS_EX_TOOLWINDOW, kUtilWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  if (!h) RaiseLastOSError();
  auto* w = new UtilWindow{std::move(Method)};
  SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
  return h;
}

void DeallocateHWnd(void* Wnd) {
  HWND h = static_cast<HWND>(Wnd);
  if (!h) return;
  auto* w = reinterpret_cast<UtilWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  SetWindowLongPtrW(h, GWLP_USERDATA, 0);
  DestroyWindow(h);
  delete w;
}

void DefaultHandler(void* Wnd, TMessage& Message) {
  Message.Result = DefWindowProcW(static_cast<HWND>(Wnd), Message.Msg, Message.WParam, Message.LParam);
}

