#include "widgets/UniControls.h"

#include <algorithm>
#include <map>
#include <vector>

#include "classlib/ActnList.h"
#include "classlib/Forms.h"
#include "classlib/StdCtrls.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniWindows.h"
#include "widgets/UniMenus.h"

namespace {
const char kUnit[] = "UniControls";
const char* const kMessages[] = {
    "Internal Error: SubClassUnicodeControl.Control is not Unicode.",
};
enum { msgNotUnicode };

class TWinControlTrap;

// Unit state.
uint32_t gDestroyWindowMsg = 0;
std::unique_ptr<TWideComponentHelperList> gHelpers;
std::vector<std::unique_ptr<TWinControlTrap>> gTraps;  // every trap alive
std::vector<TWinControlTrap*> gTrapPool;              // traps waiting for a window
std::map<HWND, TWinControlTrap*> gTrapOfWindow;       // attached traps
TWinControl* gControlBeingCreated = nullptr;
ATOM gWindowAtom = 0;
ATOM gControlAtom = 0;
bool gFinished = false;

void HandleCallbackException(TObject* Sender) {
  if (!Application) return;
  try {
    Application->HandleException(Sender);
  } catch (...) {
  }
}

LRESULT CALLBACK TrapWin32Proc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
LRESULT CALLBACK TrapDefWin32Proc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);

// One subclassed window: its window procedure, the control's default procedure and the
// control's WindowProc all pass through here.
class TWinControlTrap : public TComponent {
 public:
  explicit TWinControlTrap(TWinControl* AControl) : TComponent(nullptr), Control(AControl) {
    Control->FreeNotification(this);
  }
  ~TWinControlTrap() override {
    if (Control) Control->RemoveFreeNotification(this);
    gTrapPool.erase(std::remove(gTrapPool.begin(), gTrapPool.end(), this), gTrapPool.end());
    for (auto it = gTrapOfWindow.begin(); it != gTrapOfWindow.end();)
      it = it->second == this ? gTrapOfWindow.erase(it) : std::next(it);
  }
  const char* ClassName() const override { return "TWinControlTrap"; }

  TWinControl* Control;
  HWND Handle = nullptr;
  WNDPROC PrevWin32Proc = nullptr;
  WNDPROC PrevDefWndProc = nullptr;
  TWindowProcRef PrevWindowProc;
  uint32_t LastWin32Msg = 0;
  int32_t Win32ProcLevel = 0;
  bool IDEWindow = false;
  bool DestroyTrap = false;
  bool TestingControlWindowProc = false;
  bool FoundTrapInChain = false;

  LRESULT Win32Proc(UINT Msg, WPARAM WParam, LPARAM LParam);
  void DefWin32Proc(TMessage& Message);
  void WindowProc(TMessage& Message);
  bool IsInChain();
  void SubClass(bool AIDEWindow);
  void UnSubClass();

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation != opRemove || AComponent != Control) return;
    Control = nullptr;
    if (Win32ProcLevel != 0) DestroyTrap = true;
    else Free(this);
  }

 public:
  static void Free(TWinControlTrap* Trap) {
    auto it = std::find_if(gTraps.begin(), gTraps.end(), [Trap](auto& p) { return p.get() == Trap; });
    if (it != gTraps.end()) gTraps.erase(it);
  }
};

TWinControlTrap* FindOrCreateTrap(TWinControl* Control) {
  for (auto it = gTrapPool.rbegin(); it != gTrapPool.rend(); ++it) {
    if ((*it)->Control == Control) {
      TWinControlTrap* t = *it;
      gTrapPool.erase(std::next(it).base());
      return t;
    }
  }
  gTraps.push_back(std::make_unique<TWinControlTrap>(Control));
  return gTraps.back().get();
}

TWinControlTrap* TrapOfWindow(HWND Wnd) {
  auto it = gTrapOfWindow.find(Wnd);
  return it == gTrapOfWindow.end() ? nullptr : it->second;
}

bool TWinControlTrap::IsInChain() {
  if (Control->WindowProcIsOwn()) return false;
  if (Control->WindowProc.Target == this) return true;
  TestingControlWindowProc = true;
  FoundTrapInChain = false;
  try {
    Control->Perform(0, 0, 0);
  } catch (...) {
    TestingControlWindowProc = false;
    throw;
  }
  TestingControlWindowProc = false;
  return FoundTrapInChain;
}

void TWinControlTrap::SubClass(bool AIDEWindow) {
  Handle = static_cast<HWND>(Control->Handle());
  PrevWin32Proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(Handle, GWLP_WNDPROC));
  PrevDefWndProc = Control->DefWndProc();
  gTrapOfWindow[Handle] = this;
  SetWindowLongPtrW(Handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TrapWin32Proc));
  Control->SetDefWndProc(&TrapDefWin32Proc);
  if (!IsInChain()) {
    PrevWindowProc = Control->WindowProc;
    Control->WindowProc.Method = [this](TMessage& M) { WindowProc(M); };
    Control->WindowProc.Target = this;
  }
  IDEWindow = AIDEWindow;
}

void TWinControlTrap::UnSubClass() {
  bool destroying = (Control->ComponentState() & csDestroying) != 0;
  if (!destroying) SetStoredWideText(Control, GetControlWideText(Control));
  if (Control->WindowProc.Target == this) Control->WindowProc = PrevWindowProc;
  Control->SetDefWndProc(PrevDefWndProc);
  SetWindowLongPtrW(Handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PrevWin32Proc));
  gTrapOfWindow.erase(Handle);
  if (IDEWindow) DestroyTrap = true;
  else if (!destroying) gTrapPool.push_back(this);
}

LRESULT TWinControlTrap::Win32Proc(UINT Msg, WPARAM WParam, LPARAM LParam) {
  ++Win32ProcLevel;
  LastWin32Msg = Msg;
  HWND wnd = Handle;
  LRESULT result = CallWindowProcW(PrevWin32Proc, wnd, Msg, WParam, LParam);
  --Win32ProcLevel;
  if (Win32ProcLevel == 0 && DestroyTrap) Free(this);
  return result;
}

void TWinControlTrap::WindowProc(TMessage& Message) {
  if (TestingControlWindowProc && Message.Msg == 0) FoundTrapInChain = true;
  if (!Control->HandleAllocated()) {
    Control->WndProc(Message);
    return;
  }
  bool fromWindows = LastWin32Msg != 0;
  LastWin32Msg = 0;
  uint32_t msg = Message.Msg;
  if (msg == CM_HINTSHOW && Message.LParam) PrepareWideHintShow(*reinterpret_cast<THintInfo*>(Message.LParam));
  if (!fromWindows && (msg == WM_SETTEXT || msg == WM_GETTEXT || msg == WM_GETTEXTLENGTH)) {
    Message.Result = SendMessageA(Handle, msg, Message.WParam, Message.LParam);
  } else {
    if (msg == WM_CHAR) MakeWMCharMsgSafeForAnsi(Message);
    PrevWindowProc.Method(Message);
  }
  if (msg == gDestroyWindowMsg && TrapOfWindow(Handle) == this) UnSubClass();
}

void TWinControlTrap::DefWin32Proc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_NOTIFYFORMAT: {
      if (!Win32PlatformIsNT()) {
        Message.Result = NFR_ANSI;
        return;
      }
      HWND from = reinterpret_cast<HWND>(Message.WParam);
      bool creating = gControlBeingCreated && gControlBeingCreated->HandleAllocated() &&
                      gControlBeingCreated->Handle() == from;
      Message.Result = (IsWindowUnicode(from) || creating) ? NFR_UNICODE : NFR_ANSI;
      return;
    }
    case WM_CHAR: RestoreWMCharMsg(Message); break;
    case WM_IME_CHAR:
      if (!Win32PlatformIsXP()) {
        Message.Result = SendMessageW(Handle, WM_CHAR, Message.WParam, Message.LParam);
        return;
      }
      break;
    case WM_DESTROY: {
      HWND wnd = Handle;
      WNDPROC def = PrevDefWndProc;
      UnSubClass();
      Message.Result = CallWindowProcW(def, wnd, Message.Msg, Message.WParam, Message.LParam);
      return;
    }
    default: break;
  }
  Message.Result = CallWindowProcW(PrevDefWndProc, Handle, Message.Msg, Message.WParam, Message.LParam);
}

LRESULT CALLBACK TrapWin32Proc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  TWinControlTrap* trap = TrapOfWindow(Wnd);
  if (!trap || gFinished) {
    if (trap && trap->Control && (Msg == WM_DESTROY || (gDestroyWindowMsg && Msg == gDestroyWindowMsg)))
      trap->Control->SetWindowHandle(nullptr);
    return trap ? 0 : DefWindowProcW(Wnd, Msg, WParam, LParam);
  }
  try {
    return trap->Win32Proc(Msg, WParam, LParam);
  } catch (...) {
    HandleCallbackException(trap->Control);
    return 0;
  }
}

LRESULT CALLBACK TrapDefWin32Proc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  TWinControlTrap* trap = TrapOfWindow(Wnd);
  if (!trap) return DefWindowProcW(Wnd, Msg, WParam, LParam);
  TMessage m{Msg, WParam, LParam, 0};
  try {
    trap->DefWin32Proc(m);
  } catch (...) {
    HandleCallbackException(trap->Control);
  }
  return m.Result;
}

// The first message of every window of a Unicode class.
LRESULT CALLBACK UnicodeInitWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  TWinControl* control = CreationControl;
  if (!control) return DefWindowProcW(Wnd, Msg, WParam, LParam);
  try {
    control->SetWindowHandle(Wnd);
    gTrapPool.push_back(FindOrCreateTrap(control));
    SetWindowLongPtrW(Wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TWinControl::StdWndProc));
    if ((GetWindowLongW(Wnd, GWL_STYLE) & WS_CHILD) && GetWindowLongPtrW(Wnd, GWLP_ID) == 0)
      SetWindowLongPtrW(Wnd, GWLP_ID, reinterpret_cast<LONG_PTR>(Wnd));
    SetPropA(Wnd, MAKEINTATOM(gControlAtom), control);
    SetPropA(Wnd, MAKEINTATOM(gWindowAtom), control);
  } catch (...) {
    HandleCallbackException(control);
  }
  CreationControl = nullptr;
  return CallWindowProcW(&TWinControl::StdWndProc, Wnd, Msg, WParam, LParam);
}

bool IsWindowed(TControl* Control, TWinControl*& Win) {
  Win = dynamic_cast<TWinControl*>(Control);
  return Win != nullptr;
}
}  // namespace

// ---------------------------------------------------------------------------------------------

void UniAssert(bool Condition, const char* Unit, int Line) {
  if (!Condition) throw EAssertionFailed(Format("Assertion failure (%s, line %d)", Unit, Line));
}

uint32_t WM_UNI_DESTROYWINDOW() { return gDestroyWindowMsg; }
TWinControl* ControlBeingCreated() { return gControlBeingCreated; }

void UniControlsInitialize() {
  gFinished = false;
  gDestroyWindowMsg = RegisterWindowMessageA("UniControls.DestroyWindow");
  gHelpers = std::make_unique<TWideComponentHelperList>();
  gWindowAtom = GlobalAddAtomA(Format("ClassLibWnd%.8X", (unsigned)GetCurrentProcessId()).c_str());
  gControlAtom = GlobalAddAtomA(
      Format("ControlOfs%.8X%.8X", (unsigned)(uintptr_t)HInstance(), (unsigned)GetCurrentThreadId()).c_str());
}

void UniControlsFinalize() {
  // The application's hint window may be a Unicode window: it goes while the layer still runs.
  if (Application) Application->CancelHint();
  if (gWindowAtom) GlobalDeleteAtom(gWindowAtom);
  if (gControlAtom) GlobalDeleteAtom(gControlAtom);
  gWindowAtom = gControlAtom = 0;
  gHelpers.reset();
  gTrapPool.clear();
  gFinished = true;
}

TWideControlHelper* FindWideControlHelper(TControl* Control, bool CreateIfMissing) {
  if (!gHelpers) return nullptr;
  auto* helper = static_cast<TWideControlHelper*>(FindWideComponentHelper(gHelpers.get(), Control));
  if (!helper && CreateIfMissing) helper = new TWideControlHelper(Control, gHelpers.get());
  return helper;
}

WideString GetStoredWideText(TControl* Control, const WideString& Default) {
  TWideControlHelper* helper = FindWideControlHelper(Control, false);
  return helper ? helper->WideCaption : Default;
}

void SetStoredWideText(TControl* Control, const WideString& Value) {
  FindWideControlHelper(Control, true)->WideCaption = Value;
  Control->SetText(WideToAnsi(Value));
}

WideString GetControlWideText(TControl* Control) {
  if (!Win32PlatformIsNT()) return AnsiToWide(Control->Text());
  TWinControl* win;
  if (!IsWindowed(Control, win)) {
    TWideControlHelper* helper = FindWideControlHelper(Control, false);
    return helper ? ReadWideShadow(helper->WideCaption, Control->Text()) : AnsiToWide(Control->Text());
  }
  if (!win->HandleAllocated()) return GetStoredWideText(Control, AnsiToWide(Control->Text()));
  HWND h = static_cast<HWND>(win->Handle());
  if (!IsWindowUnicode(h)) return AnsiToWide(Control->Text());
  int len = GetWindowTextLengthW(h);
  if (len <= 0) return L"";
  std::vector<wchar_t> buf((size_t)len + 1, 0);
  // The length the platform reports may be more than the text; the copy's count is exact.
  int n = GetWindowTextW(h, buf.data(), len + 1);
  return WideString(buf.data(), (size_t)std::clamp(n, 0, len));
}

void SetControlWideText(TControl* Control, const WideString& Value) {
  TWinControl* win;
  bool windowed = IsWindowed(Control, win);
  if (!Win32PlatformIsNT() ||
      (windowed && win->HandleAllocated() && !IsWindowUnicode(static_cast<HWND>(win->Handle())))) {
    Control->SetText(WideToAnsi(Value));
  } else if (!windowed) {
    TWideControlHelper* helper = FindWideControlHelper(Control, true);
    WriteWideShadow(Value, helper->WideCaption, Control->Text(), [Control](const AnsiString& S) { Control->SetText(S); });
  } else if (!win->HandleAllocated()) {
    SetStoredWideText(Control, Value);
  } else if (GetControlWideText(Control) != Value) {
    WideSetWindowText(static_cast<HWND>(win->Handle()), Value);
    Control->Perform(CM_TEXTCHANGED, 0, 0);
  }
}

WideString GetControlWideHint(TControl* Control) {
  if (!Win32PlatformIsNT()) return AnsiToWide(Control->Hint());
  TWideControlHelper* helper = FindWideControlHelper(Control, false);
  return helper ? ReadWideShadow(helper->WideHint, Control->Hint()) : AnsiToWide(Control->Hint());
}

void SetControlWideHint(TControl* Control, const WideString& Value) {
  if (!Win32PlatformIsNT()) {
    Control->SetHint(WideToAnsi(Value));
    return;
  }
  TWideControlHelper* helper = FindWideControlHelper(Control, true);
  WriteWideShadow(Value, helper->WideHint, Control->Hint(), [Control](const AnsiString& S) { Control->SetHint(S); });
}

bool IsControlCaptionStored(TControl* Control) {
  return !Control->ActionLink() || !Control->ActionLink()->IsCaptionLinked();
}

bool IsControlHintStored(TControl* Control) {
  return !Control->ActionLink() || !Control->ActionLink()->IsHintLinked();
}

WideString RegisterUnicodeClass(const TCreateParams& Params, bool IDEWindow) {
  WNDPROC proc = IDEWindow ? &TWinControl::InitWndProc : &UnicodeInitWndProc;
  size_t n = 0;
  while (n < sizeof Params.WinClassName && Params.WinClassName[n]) ++n;
  WideString name = AnsiToWide(AnsiString(Params.WinClassName, n)) + L".UnicodeClass";
  HINSTANCE inst = HInstance();
  WNDCLASSW existing{};
  if (GetClassInfoW(inst, name.c_str(), &existing)) {
    if (existing.lpfnWndProc == proc) return name;
    if (!UnregisterClassW(name.c_str(), inst)) RaiseLastOSError();
  }
  const WNDCLASSA& a = Params.WindowClass;
  WNDCLASSW wc{};
  wc.style = a.style;
  wc.cbClsExtra = a.cbClsExtra;
  wc.cbWndExtra = a.cbWndExtra;
  wc.hIcon = a.hIcon;
  wc.hCursor = a.hCursor;
  wc.hbrBackground = a.hbrBackground;
  wc.hInstance = inst;
  wc.lpfnWndProc = proc;
  WideString menuName;
  if (a.lpszMenuName && !IsIntResourceId(a.lpszMenuName)) {
    menuName = AnsiToWide(a.lpszMenuName);
    wc.lpszMenuName = menuName.c_str();
  } else {
    wc.lpszMenuName = reinterpret_cast<LPCWSTR>(a.lpszMenuName);
  }
  wc.lpszClassName = name.c_str();
  if (!RegisterClassW(&wc)) RaiseLastOSError();
  return name;
}

void CreateUnicodeWindowHandle(TWinControl* Control, const TCreateParams& Params, const WideString& SystemClass,
                               bool IDEWindow) {
  if (!Win32PlatformIsNT()) {
    HWND h = CreateWindowExA(Params.ExStyle, Params.WinClassName, Params.Caption, Params.Style, Params.X, Params.Y,
                             Params.Width, Params.Height, Params.WndParent, nullptr, HInstance(), Params.Param);
    Control->SetWindowHandle(h);
    return;
  }
  WNDPROC def = DefWindowProcW;
  WNDCLASSW sys{};
  if (!SystemClass.empty() && GetClassInfoW(Params.WindowClass.hInstance, SystemClass.c_str(), &sys))
    def = sys.lpfnWndProc;
  Control->SetDefWndProc(def);
  WideString className = RegisterUnicodeClass(Params, IDEWindow);
  gControlBeingCreated = Control;
  HWND h = CreateWindowExW(Params.ExStyle, className.c_str(), nullptr, Params.Style, Params.X, Params.Y, Params.Width,
                           Params.Height, Params.WndParent, nullptr, HInstance(), Params.Param);
  if (!h) {
    gControlBeingCreated = nullptr;
    RaiseLastOSError();
  }
  Control->SetWindowHandle(h);
  if (IDEWindow) SetWindowLongPtrW(h, GWLP_WNDPROC, GetWindowLongPtrA(h, GWLP_WNDPROC));
  gControlBeingCreated = nullptr;
  SubClassUnicodeControl(Control, Params.Caption, IDEWindow);
}

void SubClassUnicodeControl(TWinControl* Control, const char* Caption, bool IDEWindow) {
  if (!IsWindowUnicode(static_cast<HWND>(Control->Handle()))) throw EUniInternalError(kMessages[msgNotUnicode]);
  TWinControlTrap* trap = FindOrCreateTrap(Control);
  trap->SubClass(false);
  SetControlWideText(Control, GetStoredWideText(Control, AnsiToWide(Caption ? Caption : "")));
  trap->IDEWindow = IDEWindow;
}

WideString GetWideHintOfControl(TControl* Control) {
  for (TControl* c = Control; c; c = c->Parent()) {
    WideString hint = GetControlWideHint(c);
    if (!hint.empty()) return hint;
  }
  return L"";
}

WideString ShortHintPart(const WideString& Hint) {
  size_t bar = Hint.find(L'|');
  return bar == WideString::npos ? Hint : Hint.substr(0, bar);
}

WideString LongHintPart(const WideString& Hint) {
  size_t bar = Hint.find(L'|');
  return bar == WideString::npos ? Hint : Hint.substr(bar + 1);
}

void MakeWMCharMsgSafeForAnsi(TMessage& Message) {
  UniAssert(Message.Msg == WM_CHAR, kUnit, 369);
  UniAssert(HIWORD(Message.WParam) == 0, kUnit, 372);
  if (Message.WParam > 255) Message.WParam = (Message.WParam << 16) | 255;
}

void RestoreWMCharMsg(TMessage& Message) {
  UniAssert(Message.Msg == WM_CHAR, kUnit, 390);
  if (HIWORD(Message.WParam) != 0 && LOWORD(Message.WParam) == 255) Message.WParam = HIWORD(Message.WParam);
  Message.WParam &= 0xFFFF;
}

wchar_t GetWideCharOfCharMessage(const TMessage& Message) {
  if (LOWORD(Message.WParam) == 255 && HIWORD(Message.WParam) != 0) return (wchar_t)HIWORD(Message.WParam);
  return (wchar_t)LOWORD(Message.WParam);
}

void SetWideCharOfCharMessage(TMessage& Message, wchar_t Ch) {
  Message.WParam = Ch;
  MakeWMCharMsgSafeForAnsi(Message);
}

// ---------------------------------------------------------------------------------------------
// Hint window

namespace {
THintWindow* MakeUniHintWindow(TComponent* AOwner) { return new TUniCustomHintWindow(AOwner); }
}  // namespace

const THintWindowClass TUniCustomHintWindow::Class{"TUniCustomHintWindow", &THintWindow::Class, &MakeUniHintWindow};

void PrepareWideHintShow(THintInfo& HintInfo) {
  if (!Win32PlatformIsNT()) return;
  if (HintInfo.HintWindowClass == &THintWindow::Class || !HintInfo.HintWindowClass)
    HintInfo.HintWindowClass = &TUniCustomHintWindow::Class;
  if (!HintInfo.HintWindowClass->InheritsFrom(&TUniCustomHintWindow::Class)) return;
  HintInfo.HintData = &HintInfo;
  HintInfo.HintStr = WideToAnsi(ShortHintPart(GetWideHintOfControl(HintInfo.HintControl)));
}

bool IsWideHintData(const void* Data) {
  auto* info = static_cast<const THintInfo*>(Data);
  return info && info->HintData == info && info->HintWindowClass &&
         info->HintWindowClass->InheritsFrom(&TUniCustomHintWindow::Class);
}

WideString GetWideHintText(const THintInfo& HintInfo) {
  WideString result = AnsiToWide(HintInfo.HintStr);
  if (result.empty()) return result;
  WideString wide = ShortHintPart(GetWideHintOfControl(HintInfo.HintControl));
  if (WideToAnsi(wide) == HintInfo.HintStr) return wide;
  // The library's "hint (shortcut)" form comes back with the wide hint and the keyboard's names.
  auto* action = HintInfo.HintControl ? dynamic_cast<TCustomAction*>(HintInfo.HintControl->Action()) : nullptr;
  if (Application && Application->HintShortCuts() && action && action->ShortCut() &&
      Format("%s (%s)", WideToAnsi(wide).c_str(), ShortCutToText(action->ShortCut()).c_str()) == HintInfo.HintStr)
    return wide + L" (" + ShortCutToWideText(action->ShortCut()) + L")";
  return result;
}

void TUniCustomHintWindow::CreateWindowHandle(const TCreateParams& Params) {
  CreateUnicodeWindowHandle(this, Params, L"");
}

void TUniCustomHintWindow::ActivateHint(RECT Rect, const AnsiString& Hint) {
  FActivating = true;
  try {
    THintWindow::ActivateHint(Rect, Hint);
  } catch (...) {
    FActivating = false;
    throw;
  }
  FActivating = false;
}

void TUniCustomHintWindow::ActivateHintData(RECT Rect, const AnsiString& Hint, void* Data) {
  if (!Win32PlatformIsNT() || !IsWideHintData(Data)) {
    THintWindow::ActivateHintData(Rect, Hint, Data);
    return;
  }
  FBlockPaint = FActivating = true;
  try {
    THintWindow::ActivateHintData(Rect, Hint, Data);
    SetCaption(GetWideHintText(*static_cast<THintInfo*>(Data)));
  } catch (...) {
    FBlockPaint = FActivating = false;
    throw;
  }
  FBlockPaint = FActivating = false;
  Invalidate();
}

RECT TUniCustomHintWindow::CalcHintRect(int MaxWidth, const AnsiString& Hint, void* Data) {
  if (!Win32PlatformIsNT() || !IsWideHintData(Data)) return THintWindow::CalcHintRect(MaxWidth, Hint, Data);
  WideString text = GetWideHintText(*static_cast<THintInfo*>(Data));
  RECT r{0, 0, MaxWidth, 0};
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  WideDrawText(dc, text.c_str(), (int)text.size(), r, DT_CALCRECT | DT_NOPREFIX | DT_WORDBREAK);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  r.right += 6;
  r.bottom += 2;
  return r;
}

void TUniCustomHintWindow::Paint(HDC DC) {
  if (FBlockPaint) return;
  if (!Win32PlatformIsNT()) {
    THintWindow::Paint(DC);
    return;
  }
  RECT r;
  GetClientRect(static_cast<HWND>(Handle()), &r);
  r.left += 2;
  r.top += 2;
  SetBkMode(DC, TRANSPARENT);
  SetTextColor(DC, GetSysColor(COLOR_INFOTEXT));
  SelectObject(DC, GetStockObject(DEFAULT_GUI_FONT));
  WideString text = Caption();
  WideDrawText(DC, text.c_str(), (int)text.size(), r, DT_NOPREFIX | DT_WORDBREAK);
}

void TUniCustomHintWindow::WndProc(TMessage& Message) {
  THintWindow::WndProc(Message);
  if (Message.Msg != CM_TEXTCHANGED || FActivating || !HandleAllocated()) return;
  HDC dc = GetDC(static_cast<HWND>(Handle()));
  HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  WideString text = Caption();
  SIZE sz{};
  GetTextExtentPoint32W(dc, text.c_str(), (int)text.size(), &sz);
  SelectObject(dc, old);
  ReleaseDC(static_cast<HWND>(Handle()), dc);
  SetBounds(Left(), Top(), sz.cx + 6, sz.cy + 6);
}

void AddWideItemToListControl(TControl* Control, const WideString& Item, TObject* AObject) {
  if (auto* wide = dynamic_cast<IWideListControl*>(Control)) wide->AddItem(Item, AObject);
  else if (auto* combo = dynamic_cast<TCustomComboBox*>(Control)) combo->AddItem(WideToAnsi(Item), AObject);
  else if (auto* list = dynamic_cast<TCustomListBox*>(Control)) list->AddItem(WideToAnsi(Item), AObject);
}
