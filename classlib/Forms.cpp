#include "classlib/Forms.h"

#include "classlib/WinApi.h"

TApplication* Application = nullptr;

// ---------------------------------------------------------------------------------------------

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  WideString exe(path, n);
  size_t slash = exe.find_last_of(L"\\/");
  if (slash != WideString::npos) exe.erase(0, slash + 1);
  size_t dot = exe.find_last_of(L'.');
  if (dot != WideString::npos) exe.erase(dot);
  FTitle = exe;
  FHandle = AllocateHWnd([this](TMessage& M) { WndProc(M); });
  WakeMainThread = [h = FHandle] { PostMessageW(static_cast<HWND>(h), WM_NULL, 0, 0); };
  ApplicationHandleException = [this](TObject* Sender) { HandleException(Sender); };
}

TApplication::~TApplication() {
  ApplicationHandleException = nullptr;
  WakeMainThread = nullptr;
  DeallocateHWnd(FHandle);
}

void TApplication::WndProc(TMessage& Message) {
  if (Message.Msg == WM_NULL) {
    CheckSynchronize();
    return;
  }
  DefaultHandler(FHandle, Message);
}

bool TApplication::ProcessMessage() {
  MSG msg;
  if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT) {
    FTerminated = true;
    return true;
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  return true;
}

void TApplication::ProcessMessages() {
  while (ProcessMessage()) {
  }
  CheckSynchronize();
}

void TApplication::Idle() {
  bool done = true;
  if (OnIdle) {
    try {
      OnIdle(this, done);
    } catch (...) {
      HandleException(this);
    }
  }
  CheckSynchronize();
  if (done && !FTerminated) {
    HANDLE h = SyncEvent();
    MsgWaitForMultipleObjectsEx(1, &h, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

void TApplication::HandleMessage() {
  if (!ProcessMessage()) Idle();
}

void TApplication::Run() {
  if (!FMainForm) return;
  while (!FTerminated) {
    try {
      HandleMessage();
    } catch (...) {
      HandleException(this);
    }
  }
}

void TApplication::Terminate() {
  FTerminated = true;
  PostQuitMessage(0);
}

void TApplication::HandleException(TObject* Sender) {
  std::exception_ptr e = std::current_exception();
  if (!e) return;
  try {
    std::rethrow_exception(e);
  } catch (const EAbort&) {
  } catch (const Exception& E) {
    if (OnException) OnException(Sender, E);
    else ShowException(E);
  } catch (const std::exception& E) {
    Exception ex(AnsiString(E.what()));
    if (OnException) OnException(Sender, ex);
    else ShowException(ex);
  } catch (...) {
    Exception ex(L"Unknown exception");
    if (OnException) OnException(Sender, ex);
    else ShowException(ex);
  }
}

void TApplication::ShowException(const Exception& E) {
  WideString msg = E.Message();
  if (!msg.empty() && msg.back() > L'.') msg += L'.';
  MessageBoxW(nullptr, msg.c_str(), FTitle.c_str(), MB_OK | MB_ICONSTOP);
}

void ClasslibInitialize() {
  MainThreadID = GetCurrentThreadId();
  if (!Application) Application = new TApplication(nullptr);
}

void ClasslibFinalize() {
  delete Application;
  Application = nullptr;
}
