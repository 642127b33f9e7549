#include "classlib/Forms.h"

#include "classlib/WinApi.h"

TApplication* Application = nullptr;

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
    if (Application) {
      try {
        Application->HandleException(nullptr);
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

// ---------------------------------------------------------------------------------------------

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
  FVisible = false;
  FLeft = FTop = (int)CW_USEDEFAULT;
  FWidth = 320;
  FHeight = 240;
}

void TCustomForm::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  Params.Style = (Params.Style & ~(WS_CHILD | WS_CLIPSIBLINGS)) | WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  Params.WndParent = Application ? static_cast<HWND>(Application->Handle()) : nullptr;
}

void TCustomForm::Show() {
  SetVisible(true);
  HandleNeeded();
  ShowWindow(static_cast<HWND>(Handle()), SW_SHOW);
}

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
}

TApplication::~TApplication() {
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
  ControlsInitialize();
  if (!Application) Application = new TApplication(nullptr);
}

void ClasslibFinalize() {
  delete Application;
  Application = nullptr;
  ControlsFinalize();
}
