#include "classlib/Controls.h"

#include "classlib/ActnList.h"

#include <algorithm>

#include "classlib/Forms.h"

TWinControl* CreationControl = nullptr;
TMouse* Mouse = nullptr;
TScreen* Screen = nullptr;

namespace {
ATOM gWindowAtom = 0;
ATOM gControlAtom = 0;
}  // namespace

uint16_t WindowAtom() { return gWindowAtom; }
uint16_t ControlAtom() { return gControlAtom; }
HINSTANCE HInstance() { return GetModuleHandleW(nullptr); }

void ControlsInitialize() {
  if (!Mouse) Mouse = new TMouse;
  if (!Screen) Screen = new TScreen;
  if (gWindowAtom) return;
  gWindowAtom = GlobalAddAtomA(Format("ClassLibWnd%.8X", (unsigned)GetCurrentProcessId()).c_str());
  gControlAtom = GlobalAddAtomA(
      Format("ControlOfs%.8X%.8X", (unsigned)(uintptr_t)HInstance(), (unsigned)GetCurrentThreadId()).c_str());
}

void ControlsFinalize() {
  delete Screen;
  Screen = nullptr;
  delete Mouse;
  Mouse = nullptr;
  if (gWindowAtom) GlobalDeleteAtom(gWindowAtom);
  if (gControlAtom) GlobalDeleteAtom(gControlAtom);
  gWindowAtom = gControlAtom = 0;
}

TWinControl* FindControl(HWND Wnd) {
  if (!Wnd || !gControlAtom) return nullptr;
  return static_cast<TWinControl*>(GetPropA(Wnd, MAKEINTATOM(gControlAtom)));
}

// ---------------------------------------------------------------------------------------------

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {
  WindowProc.Method = [this](TMessage& M) { WndProc(M); };
  WindowProc.Target = this;
}

TControl::~TControl() {
  FActionLink.reset();
  // A docked client that goes leaves its site's dock manager.
  if (FHostDockSite && FHostDockSite->DockManager()) FHostDockSite->DockManager()->RemoveControl(this);
  if (FParent) FParent->RemoveControl(this);
}

TBasicAction* TControl::Action() const { return FActionLink ? FActionLink->Action() : nullptr; }

void TControl::SetAction(TBasicAction* Value) {
  if (!Value) {
    FActionLink.reset();
    return;
  }
  if (!FActionLink) FActionLink = CreateActionLink();
  FActionLink->SetAction(Value);
  ActionChange(Value, (ComponentState() & csLoading) != 0);
}

void TControl::InitiateAction() {
  if (TBasicAction* action = Action()) action->Update();
}

std::unique_ptr<TControlActionLink> TControl::CreateActionLink() { return std::make_unique<TControlActionLink>(this); }

std::unique_ptr<TControlActionLink> TWinControl::CreateActionLink() {
  return std::make_unique<TWinControlActionLink>(this);
}

void TControl::ActionChange(TObject* Sender, bool CheckDefaults) {
  auto* a = dynamic_cast<TCustomAction*>(Sender);
  if (!a) return;
  if (!CheckDefaults || Caption().empty() || Caption() == Name()) SetCaption(a->Caption());
  if (!CheckDefaults || FHint.empty()) SetHint(a->Hint());
}

void TControl::SetParent(TWinControl* AParent) {
  if (FParent == AParent) return;
  if (AParent == this) throw EInvalidOperation("A control cannot have itself as its parent");
  if (FParent) FParent->RemoveControl(this);
  if (AParent) AParent->InsertControl(this);
}

void TControl::SetBiDiMode(TBiDiMode Value) {
  FParentBiDiMode = false;
  if (FBiDiMode == Value) return;
  FBiDiMode = Value;
  Perform(CM_BIDIMODECHANGED, 0, 0);
}

void TControl::SetParentBiDiMode(bool Value) {
  if (FParentBiDiMode == Value) return;
  FParentBiDiMode = Value;
  ParentBiDiModeChanged();
}

void TControl::ParentBiDiModeChanged() {
  if (!FParentBiDiMode || !FParent || FParent->FBiDiMode == FBiDiMode) return;
  FBiDiMode = FParent->FBiDiMode;
  Perform(CM_BIDIMODECHANGED, 0, 0);
}

UINT TControl::DrawTextBiDiModeFlags(UINT Flags) const {
  if (UseRightToLeftAlignment()) {
    if (Flags & DT_RIGHT) Flags &= ~(UINT)DT_RIGHT;
    else if (!(Flags & DT_CENTER)) Flags |= DT_RIGHT;
  }
  return Flags | DrawTextBiDiModeFlagsReadingOnly();
}

intptr_t TControl::Perform(uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  TMessage m{Msg, WParam, LParam, 0};
  WindowProc.Method(m);
  return m.Result;
}

AnsiString TControl::GetText() {
  intptr_t len = Perform(WM_GETTEXTLENGTH, 0, 0);
  if (len <= 0) return "";
  std::vector<char> buf((size_t)len + 1, 0);
  intptr_t n = Perform(WM_GETTEXT, (uintptr_t)buf.size(), reinterpret_cast<intptr_t>(buf.data()));
  n = std::clamp<intptr_t>(n, 0, len);
  return AnsiString(buf.data(), (size_t)n);
}

void TControl::SetText(const AnsiString& Value) {
  if (GetText() == Value) return;
  Perform(WM_SETTEXT, 0, reinterpret_cast<intptr_t>(Value.c_str()));
  Perform(CM_TEXTCHANGED, 0, 0);
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  bool changed = FLeft != ALeft || FTop != ATop || FWidth != AWidth || FHeight != AHeight;
  FLeft = ALeft;
  FTop = ATop;
  FWidth = AWidth;
  FHeight = AHeight;
  if (changed && FAlign != alNone) RequestAlign();
}

void TControl::SetVisible(bool Value) {
  if (FVisible == Value) return;
  FVisible = Value;
  if (FAlign != alNone) RequestAlign();
}
void TControl::SetEnabled(bool Value) {
  if (FEnabled == Value) return;
  FEnabled = Value;
  Perform(CM_ENABLEDCHANGED, 0, 0);
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: case WM_LBUTTONUP: case WM_RBUTTONUP: case WM_MBUTTONUP:
    case WM_MOUSEMOVE: {
      DefaultHandler(Message);
      int x = (short)LOWORD(Message.LParam), y = (short)HIWORD(Message.LParam);
      TShiftState shift = MouseShiftState(Message.WParam);
      UINT m = Message.Msg;
      TMouseButton button = (m >= WM_LBUTTONDOWN && m <= WM_LBUTTONDBLCLK) ? mbLeft
                            : (m >= WM_RBUTTONDOWN && m <= WM_RBUTTONDBLCLK) ? mbRight
                                                                             : mbMiddle;
      if (m == WM_MOUSEMOVE) MouseMove(shift, x, y);
      else if (m == WM_LBUTTONUP || m == WM_RBUTTONUP || m == WM_MBUTTONUP) MouseUp(button, shift, x, y);
      else MouseDown(button, (TShiftState)(shift | (m == WM_LBUTTONDBLCLK || m == WM_RBUTTONDBLCLK || m == WM_MBUTTONDBLCLK ? ssDouble : 0)), x, y);
      return;
    }
    default: break;
  }
  DefaultHandler(Message);
  // A docked control's host learns of its new text.
  if (Message.Msg == WM_SETTEXT && FHostDockSite)
    FHostDockSite->Perform(CM_DOCKNOTIFICATION, reinterpret_cast<uintptr_t>(this), reinterpret_cast<intptr_t>(&Message));
}

void TControl::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  if (AComponent == FHostDockSite) FHostDockSite = nullptr;
}

void TControl::SetAlign(TAlign Value) {
  if (FAlign == Value) return;
  FAlign = Value;
  if (FParent) FParent->AlignControls();
}

void TControl::BringToFront() {
  if (!FParent) {
    if (auto* w = dynamic_cast<TWinControl*>(this); w && w->HandleAllocated())
      SetWindowPos(static_cast<HWND>(w->Handle()), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return;
  }
  // The parent makes its children's windows in list order: the last one is on top.
  std::vector<TControl*>& list = FParent->FControls;
  auto it = std::find(list.begin(), list.end(), this);
  if (it != list.end()) {
    list.erase(it);
    list.push_back(this);
  }
  if (auto* w = dynamic_cast<TWinControl*>(this); w && w->HandleAllocated())
    SetWindowPos(static_cast<HWND>(w->Handle()), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  else if (FParent->HandleAllocated())
    FParent->Invalidate();
}

void TControl::RequestAlign() {
  if (FParent && !FParent->FAligning) FParent->AlignControls();
}

void TControl::Resize() {
  if (OnResize) OnResize(this);
}

TShiftState MouseShiftState(uintptr_t KeyFlags) {
  TShiftState s = 0;
  if (KeyFlags & MK_SHIFT) s |= ssShift;
  if (KeyFlags & MK_CONTROL) s |= ssCtrl;
  if (KeyFlags & MK_LBUTTON) s |= ssLeft;
  if (KeyFlags & MK_RBUTTON) s |= ssRight;
  if (KeyFlags & MK_MBUTTON) s |= ssMiddle;
  if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
  return s;
}

void TControl::SetCursor(TCursor Value) {
  if (FCursor == Value) return;
  FCursor = Value;
  // Shown at once when the mouse is over the control's own window.
  auto* w = dynamic_cast<TWinControl*>(this);
  if (!w || !w->HandleAllocated()) return;
  POINT p;
  if (!GetCursorPos(&p)) return;
  HWND h = static_cast<HWND>(w->Handle());
  if (WindowFromPoint(p) == h) Perform(WM_SETCURSOR, reinterpret_cast<uintptr_t>(h), MAKELONG(HTCLIENT, WM_MOUSEMOVE));
}

bool TControl::MouseCapture() {
  auto* w = dynamic_cast<TWinControl*>(this);
  return w && w->HandleAllocated() && GetCapture() == static_cast<HWND>(w->Handle());
}

void TControl::SetMouseCapture(bool Value) {
  if (MouseCapture() == Value) return;
  auto* w = dynamic_cast<TWinControl*>(this);
  if (!w) return;
  if (Value) ::SetCapture(static_cast<HWND>(w->Handle()));
  else ReleaseCapture();
}

POINT TMouse::CursorPos() const {
  POINT p{0, 0};
  GetCursorPos(&p);
  return p;
}

TScreen::~TScreen() {
  for (auto& c : FCursors) DestroyCursor(c.second);
}

HCURSOR TScreen::Cursors(TCursor Index) const {
  for (const auto& c : FCursors)
    if (c.first == Index) return c.second;
  static const struct {
    TCursor Cursor;
    LPCSTR Id;
  } kSystem[] = {
      {crArrow, IDC_ARROW},       {crCross, IDC_CROSS},       {crIBeam, IDC_IBEAM},
      {crSizeNESW, IDC_SIZENESW}, {crSizeNS, IDC_SIZENS},     {crSizeNWSE, IDC_SIZENWSE},
      {crSizeWE, IDC_SIZEWE},     {crUpArrow, IDC_UPARROW},   {crHourGlass, IDC_WAIT},
      {crNoDrop, IDC_NO},         {crHSplit, IDC_SIZEWE},     {crVSplit, IDC_SIZENS},
      {crSQLWait, IDC_WAIT},      {crNo, IDC_NO},             {crAppStart, IDC_APPSTARTING},
      {crHelp, IDC_HELP},         {crHandPoint, IDC_HAND},    {crSizeAll, IDC_SIZEALL},
  };
  if (Index == crNone) return nullptr;
  for (const auto& c : kSystem)
    if (c.Cursor == Index) return LoadCursorA(nullptr, c.Id);
  return LoadCursorA(nullptr, IDC_ARROW);
}

void TScreen::SetCursors(TCursor Index, HCURSOR Handle) {
  for (size_t i = 0; i < FCursors.size(); ++i) {
    if (FCursors[i].first != Index) continue;
    DestroyCursor(FCursors[i].second);
    FCursors.erase(FCursors.begin() + (ptrdiff_t)i);
    break;
  }
  if (Handle) FCursors.emplace_back(Index, Handle);
}

void TScreen::SetCursor(TCursor Value) {
  FCursor = Value;
  if (Value != crDefault) {
    ::SetCursor(Cursors(Value));
    return;
  }
  // Each window shows its own cursor again: the one under the mouse is asked for it.
  POINT p;
  if (!GetCursorPos(&p)) return;
  HWND h = WindowFromPoint(p);
  if (!h || GetWindowThreadProcessId(h, nullptr) != GetCurrentThreadId()) return;
  LRESULT hit = SendMessageA(h, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y));
  SendMessageA(h, WM_SETCURSOR, reinterpret_cast<WPARAM>(h), MAKELPARAM(hit, WM_MOUSEMOVE));
}

void TControl::ManualDock(TWinControl* NewDockSite) {
  if (FHostDockSite == NewDockSite) return;
  if (FHostDockSite) {
    if (FHostDockSite->DockManager()) FHostDockSite->DockManager()->RemoveControl(this);
    RemoveFreeNotification(FHostDockSite);
    FHostDockSite = nullptr;
  }
  if (!NewDockSite) {
    SetParent(nullptr);
    return;
  }
  TDockClientInfo info{this, {0, 0}};
  if (NewDockSite->Perform(CM_DOCKCLIENT, 0, reinterpret_cast<intptr_t>(&info)) == 0) return;
  FHostDockSite = NewDockSite;
  FreeNotification(NewDockSite);
}

TDockManager::TDockManager(TWinControl* DockSite) : FDockSite(DockSite) {}

void TDockManager::InsertControl(TControl* Control) {
  FClients.push_back(Control);
  ResetBounds();
}

void TDockManager::RemoveControl(TControl* Control) {
  FClients.erase(std::remove(FClients.begin(), FClients.end(), Control), FClients.end());
  ResetBounds();
}

void TDockManager::ResetBounds() {
  if (FClients.empty()) return;
  RECT r{0, 0, FDockSite->Width(), FDockSite->Height()};
  if (FDockSite->HandleAllocated()) GetClientRect(static_cast<HWND>(FDockSite->Handle()), &r);
  int n = (int)FClients.size(), w = (r.right - r.left) / n;
  for (int i = 0; i < n; ++i) FClients[i]->SetBounds(r.left + i * w, r.top, i + 1 == n ? r.right - r.left - i * w : w, r.bottom - r.top);
}

void TControl::DefaultHandler(TMessage& Message) {
  switch (Message.Msg) {
    case WM_GETTEXT: {
      char* buf = reinterpret_cast<char*>(Message.LParam);
      size_t cap = Message.WParam;
      if (!buf || cap == 0) {
        Message.Result = 0;
        break;
      }
      size_t n = std::min(cap - 1, FText.size());
      std::copy_n(FText.data(), n, buf);
      buf[n] = 0;
      Message.Result = (intptr_t)n;
      break;
    }
    case WM_GETTEXTLENGTH: Message.Result = (intptr_t)FText.size(); break;
    case WM_SETTEXT: {
      const char* s = reinterpret_cast<const char*>(Message.LParam);
      FText = s ? s : "";
      Message.Result = 1;
      break;
    }
    default: break;
  }
}

// ---------------------------------------------------------------------------------------------

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
  if (!(ComponentState() & csDestroying)) Destroying();
  if (FHandle) DestroyHandle();
  for (TControl* c : FControls) c->FParent = nullptr;
  FControls.clear();
}

void TWinControl::InsertControl(TControl* AControl) {
  FControls.push_back(AControl);
  AControl->FParent = this;
  AControl->ParentBiDiModeChanged();
  auto* w = dynamic_cast<TWinControl*>(AControl);
  if (w && FHandle) {
    if (w->FHandle) w->RecreateWnd();
    w->HandleNeeded();
  }
  if (AControl->Align() != alNone) AlignControls();
}

void TWinControl::RemoveControl(TControl* AControl) {
  auto* w = dynamic_cast<TWinControl*>(AControl);
  if (w && w->FHandle) w->DestroyHandle();
  FControls.erase(std::remove(FControls.begin(), FControls.end(), AControl), FControls.end());
  AControl->FParent = nullptr;
  if (AControl->Align() != alNone && !(ComponentState() & csDestroying)) AlignControls();
}

void* TWinControl::Handle() {
  if (!FHandle) CreateHandle();
  return FHandle;
}

void TWinControl::CreateHandle() {
  // A control whose window is being made is skipped when its parent's window, made for it,
  // makes the windows of its children: a second window would be left behind, never painted,
  // with its paint messages handed to the other one.
  if (FHandle || (ControlState() & csCreatingHandle)) return;
  SetControlStateFlag(csCreatingHandle, true);
  try {
    CreateWnd();
  } catch (...) {
    SetControlStateFlag(csCreatingHandle, false);
    throw;
  }
  SetControlStateFlag(csCreatingHandle, false);
  for (TControl* c : FControls)
    if (auto* w = dynamic_cast<TWinControl*>(c)) w->HandleNeeded();
  // The client area is known now (a frame takes its part of the bounds).
  AlignControls();
}

void TWinControl::DestroyHandle() {
  if (!FHandle) return;
  for (TControl* c : FControls)
    if (auto* w = dynamic_cast<TWinControl*>(c)) w->DestroyHandle();
  DestroyWnd();
}

void TWinControl::RecreateWnd() {
  if (!FHandle) return;
  SetControlStateFlag(csRecreating, true);
  DestroyHandle();
  SetControlStateFlag(csRecreating, false);
  HandleNeeded();
}

void TWinControl::CreateParams(TCreateParams& Params) {
  Params = TCreateParams{};
  Params.Caption = FText.c_str();
  Params.Style = WS_CHILD | WS_CLIPSIBLINGS;
  if (FVisible) Params.Style |= WS_VISIBLE;
  if (!FEnabled) Params.Style |= WS_DISABLED;
  Params.X = FLeft;
  Params.Y = FTop;
  Params.Width = FWidth;
  Params.Height = FHeight;
  if (FParent) Params.WndParent = static_cast<HWND>(FParent->Handle());
  Params.WindowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  Params.WindowClass.lpfnWndProc = DefWindowProcA;
  Params.WindowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  Params.WindowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  Params.WindowClass.hInstance = HInstance();
  lstrcpynA(Params.WinClassName, ClassName(), sizeof Params.WinClassName);
}

void TWinControl::CreateSubClass(TCreateParams& Params, const char* ControlClassName) {
  WNDCLASSA wc{};
  if (!GetClassInfoA(nullptr, ControlClassName, &wc)) RaiseLastOSError();
  HINSTANCE inst = Params.WindowClass.hInstance;
  Params.WindowClass = wc;
  Params.WindowClass.hInstance = inst;
  Params.WindowClass.style &= ~CS_GLOBALCLASS;
}

void TWinControl::CreateWnd() {
  TCreateParams p;
  CreateParams(p);
  FDefWndProc = p.WindowClass.lpfnWndProc;
  WNDCLASSA existing{};
  bool registered = GetClassInfoA(HInstance(), p.WinClassName, &existing) != 0;
  if (!registered || existing.lpfnWndProc != InitWndProc) {
    if (registered) UnregisterClassA(p.WinClassName, HInstance());
    WNDCLASSA wc = p.WindowClass;
    wc.lpfnWndProc = InitWndProc;
    wc.hInstance = HInstance();
    wc.lpszClassName = p.WinClassName;
    if (!RegisterClassA(&wc)) RaiseLastOSError();
  }
  CreationControl = this;
  try {
    CreateWindowHandle(p);
  } catch (...) {
    CreationControl = nullptr;
    throw;
  }
  CreationControl = nullptr;
  if (!FHandle) RaiseLastOSError();
  SendMessageA(static_cast<HWND>(FHandle), WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle()), 0);
}

void* TWinControl::FontHandle() { return FParent ? FParent->FontHandle() : GetStockObject(DEFAULT_GUI_FONT); }

void TWinControl::CreateWindowHandle(const TCreateParams& Params) {
  HWND h = CreateWindowExA(Params.ExStyle, Params.WinClassName, Params.Caption, Params.Style, Params.X, Params.Y,
                           Params.Width, Params.Height, Params.WndParent, nullptr, HInstance(), Params.Param);
  FHandle = h;
}

void TWinControl::DestroyWnd() {
  FText = GetText();
  DestroyWindowHandle();
}

void TWinControl::DestroyWindowHandle() {
  SetControlStateFlag(csDestroyingHandle, true);
  HWND h = static_cast<HWND>(FHandle);
  if (h && IsWindow(h)) DestroyWindow(h);
  FHandle = nullptr;
  SetControlStateFlag(csDestroyingHandle, false);
}

void TWinControl::MainWndProc(TMessage& Message) {
  try {
    WindowProc.Method(Message);
  } catch (...) {
    if (Application) {
      try {
        Application->HandleException(this);
      } catch (...) {
      }
    }
  }
}

LRESULT CALLBACK TWinControl::StdWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  TWinControl* c = FindControl(Wnd);
  if (!c) return IsWindowUnicode(Wnd) ? DefWindowProcW(Wnd, Msg, WParam, LParam) : DefWindowProcA(Wnd, Msg, WParam, LParam);
  TMessage m{Msg, WParam, LParam, 0};
  c->MainWndProc(m);
  if (Msg == WM_NCDESTROY) {
    RemovePropA(Wnd, MAKEINTATOM(gControlAtom));
    RemovePropA(Wnd, MAKEINTATOM(gWindowAtom));
    if (c->FHandle == Wnd) c->FHandle = nullptr;
  }
  return m.Result;
}

LRESULT CALLBACK TWinControl::InitWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  TWinControl* c = CreationControl;
  if (!c) return DefWindowProcA(Wnd, Msg, WParam, LParam);
  c->FHandle = Wnd;
  SetWindowLongPtrA(Wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StdWndProc));
  if ((GetWindowLongA(Wnd, GWL_STYLE) & WS_CHILD) && GetWindowLongPtrA(Wnd, GWLP_ID) == 0)
    SetWindowLongPtrA(Wnd, GWLP_ID, reinterpret_cast<LONG_PTR>(Wnd));
  SetPropA(Wnd, MAKEINTATOM(gControlAtom), c);
  SetPropA(Wnd, MAKEINTATOM(gWindowAtom), c);
  CreationControl = nullptr;
  return CallWindowProcA(&StdWndProc, Wnd, Msg, WParam, LParam);
}

void TWinControl::DefaultHandler(TMessage& Message) {
  if (FHandle && FDefWndProc) {
    Message.Result = CallWindowProcA(FDefWndProc, static_cast<HWND>(FHandle), Message.Msg, Message.WParam, Message.LParam);
    return;
  }
  TControl::DefaultHandler(Message);
}

namespace {
// Set while a wheel message is handed to the window under the mouse, so that its way back up the
// parents (DefWindowProc) is not handed down again.
bool gWheelRedirected = false;
}  // namespace

void TWinControl::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_SIZE: {
      // The window's new size (also when the user or the system resized it), the aligned
      // children laid out anew, then Resize.
      TControl::WndProc(Message);
      if (FHandle && !IsIconic(static_cast<HWND>(FHandle))) {
        RECT wr;
        GetWindowRect(static_cast<HWND>(FHandle), &wr);
        FWidth = wr.right - wr.left;
        FHeight = wr.bottom - wr.top;
        AlignControls();
        Resize();
      }
      return;
    }
    case WM_SETCURSOR:
      // The screen's cursor, else the control's own over its client area, else the default.
      if (Screen && Screen->Cursor() != crDefault) {
        ::SetCursor(Screen->Cursors(Screen->Cursor()));
        Message.Result = 1;
        return;
      }
      if (FHandle && reinterpret_cast<HWND>(Message.WParam) == static_cast<HWND>(FHandle) &&
          LOWORD(Message.LParam) == HTCLIENT && FCursor != crDefault && Screen) {
        ::SetCursor(Screen->Cursors(FCursor));
        Message.Result = 1;
        return;
      }
      break;
    case WM_MOUSEWHEEL: {
      // The wheel goes to the control under the mouse (the system gives it to the focused
      // window), then up its parents until one takes it.
      POINT p{(short)LOWORD(Message.LParam), (short)HIWORD(Message.LParam)};
      HWND under = WindowFromPoint(p);
      if (!gWheelRedirected && under && FHandle && under != static_cast<HWND>(FHandle) && FindControl(under) &&
          GetAncestor(under, GA_ROOT) == GetAncestor(static_cast<HWND>(FHandle), GA_ROOT)) {
        gWheelRedirected = true;
        Message.Result = SendMessageA(under, Message.Msg, Message.WParam, Message.LParam);
        gWheelRedirected = false;
        return;
      }
      if (DoMouseWheel(MouseShiftState(LOWORD(Message.WParam)), (short)HIWORD(Message.WParam), p)) {
        Message.Result = 0;
        return;
      }
      break;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
      // A scroll bar control's messages go to it (CN_HSCROLL, CN_VSCROLL).
      if (Message.LParam) {
        TWinControl* child = FindControl(reinterpret_cast<HWND>(Message.LParam));
        if (child && child != this) {
          Message.Result = child->Perform(CN_BASE + Message.Msg, Message.WParam, Message.LParam);
          return;
        }
      }
      break;
    case CM_BIDIMODECHANGED:
      // The children that follow the control's reading order take the new one.
      for (size_t i = 0; i < FControls.size(); ++i) FControls[i]->ParentBiDiModeChanged();
      Invalidate();
      break;
    case WM_COMMAND:
      if (Message.LParam) {
        TWinControl* child = FindControl(reinterpret_cast<HWND>(Message.LParam));
        if (child && child != this) {
          Message.Result = child->Perform(CN_COMMAND, Message.WParam, Message.LParam);
          return;
        }
      }
      break;
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(Message.LParam);
      TWinControl* child = hdr ? FindControl(hdr->hwndFrom) : nullptr;
      if (child && child != this) {
        Message.Result = child->Perform(CN_NOTIFY, Message.WParam, Message.LParam);
        return;
      }
      break;
    }
    case WM_SYSCHAR: {
      // Alt and a key: the form's controls get the chance to take it as their accelerator.
      TWinControl* top = this;
      while (top->Parent()) top = top->Parent();
      if (top->Perform(CM_DIALOGCHAR, Message.WParam, Message.LParam) != 0) {
        Message.Result = 0;
        return;
      }
      break;
    }
    case CM_DIALOGCHAR:
      // Offered to every child until one takes it.
      for (TControl* c : std::vector<TControl*>(FControls)) {
        if (!c->Visible() || !c->Enabled()) continue;
        intptr_t r = c->Perform(CM_DIALOGCHAR, Message.WParam, Message.LParam);
        if (r != 0) {
          Message.Result = r;
          return;
        }
      }
      Message.Result = 0;
      return;
    case WM_DRAWITEM: {
      auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(Message.LParam);
      TWinControl* child = dis && dis->CtlType != ODT_MENU ? FindControl(dis->hwndItem) : nullptr;
      if (child && child != this) {
        Message.Result = child->Perform(CN_DRAWITEM, Message.WParam, Message.LParam);
        return;
      }
      break;
    }
    case CM_DOCKCLIENT: {
      // A dock site takes the client as its child; its dock manager places it.
      auto* info = reinterpret_cast<TDockClientInfo*>(Message.LParam);
      if (!FDockSite || !info || !info->Control) break;
      info->Control->SetParent(this);
      if (FDockManager) FDockManager->InsertControl(info->Control);
      Message.Result = 1;
      return;
    }
    case WM_PAINT: {
      bool windowless = false;
      for (TControl* c : FControls) windowless = windowless || !dynamic_cast<TWinControl*>(c);
      if (!windowless || !FHandle) break;
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(static_cast<HWND>(FHandle), &ps);
      PaintControls(dc);
      EndPaint(static_cast<HWND>(FHandle), &ps);
      Message.Result = 0;
      return;
    }
    default: break;
  }
  TControl::WndProc(Message);
}

void TWinControl::PaintControls(HDC DC) {
  for (TControl* c : FControls) {
    if (dynamic_cast<TWinControl*>(c) || !c->Visible()) continue;
    int saved = SaveDC(DC);
    SetViewportOrgEx(DC, c->Left(), c->Top(), nullptr);
    IntersectClipRect(DC, 0, 0, c->Width(), c->Height());
    c->PaintInParent(DC);
    RestoreDC(DC, saved);
  }
}

void TWinControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  bool changed = FLeft != ALeft || FTop != ATop || FWidth != AWidth || FHeight != AHeight;
  FLeft = ALeft;
  FTop = ATop;
  FWidth = AWidth;
  FHeight = AHeight;
  if (FHandle) SetWindowPos(static_cast<HWND>(FHandle), nullptr, ALeft, ATop, AWidth, AHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  AlignControls();
  if (FDockManager) FDockManager->ResetBounds();
  if (changed && FAlign != alNone) RequestAlign();
}

void TWinControl::AnchorControls(int DX, int DY) {
  if (DX == 0 && DY == 0) return;
  for (TControl* c : FControls) {
    if (c->Align() != alNone) continue;
    TAnchors a = c->Anchors();
    int l = c->Left(), t = c->Top(), w = c->Width(), h = c->Height();
    if (a & akRight) {
      if (a & akLeft) w = std::max(0, w + DX);
      else l += DX;
    }
    if (a & akBottom) {
      if (a & akTop) h = std::max(0, h + DY);
      else t += DY;
    }
    if (l != c->Left() || t != c->Top() || w != c->Width() || h != c->Height()) c->SetBounds(l, t, w, h);
  }
}

void TWinControl::AlignControls() {
  if (FAligning) return;
  RECT r{0, 0, FWidth, FHeight};
  if (FHandle) GetClientRect(static_cast<HWND>(FHandle), &r);
  FAligning = true;
  try {
    // A top-level window's client size is known once it has its window (its frame takes a part).
    if (FHandle || FParent) {
      int cw = r.right - r.left, ch = r.bottom - r.top;
      if (FAnchorClientWidth >= 0) AnchorControls(cw - FAnchorClientWidth, ch - FAnchorClientHeight);
      FAnchorClientWidth = cw;
      FAnchorClientHeight = ch;
    }
    // Each kind in turn; within a kind in the order of their place (top ones by Top, bottom ones
    // lowest first, ...), then in the order they were inserted.
    for (TAlign kind : {alTop, alBottom, alLeft, alRight, alClient}) {
      std::vector<TControl*> list;
      for (TControl* c : FControls)
        if (c->Align() == kind && c->Visible()) list.push_back(c);
      auto key = [kind](const TControl* c) {
        switch (kind) {
          case alTop: return c->Top();
          case alBottom: return -(c->Top() + c->Height());
          case alLeft: return c->Left();
          case alRight: return -(c->Left() + c->Width());
          default: return 0;
        }
      };
      std::stable_sort(list.begin(), list.end(), [&](const TControl* a, const TControl* b) { return key(a) < key(b); });
      for (TControl* c : list) {
        int w = std::max<int>(0, r.right - r.left), h = std::max<int>(0, r.bottom - r.top);
        switch (kind) {
          case alTop:
            c->SetBounds(r.left, r.top, w, c->Height());
            r.top += c->Height();
            break;
          case alBottom:
            c->SetBounds(r.left, r.bottom - c->Height(), w, c->Height());
            r.bottom -= c->Height();
            break;
          case alLeft:
            c->SetBounds(r.left, r.top, c->Width(), h);
            r.left += c->Width();
            break;
          case alRight:
            c->SetBounds(r.right - c->Width(), r.top, c->Width(), h);
            r.right -= c->Width();
            break;
          default: c->SetBounds(r.left, r.top, w, h); break;
        }
      }
    }
  } catch (...) {
    FAligning = false;
    throw;
  }
  FAligning = false;
}

void TWinControl::SetDockSite(bool Value) {
  FDockSite = Value;
  UpdateDockManager();
}

void TWinControl::SetUseDockManager(bool Value) {
  FUseDockManager = Value;
  UpdateDockManager();
}

void TWinControl::UpdateDockManager() {
  if (FDockSite && FUseDockManager) {
    if (!FDockManager) FDockManager = CreateDockManager();
  } else {
    FDockManager.reset();
  }
}

std::unique_ptr<TDockManager> TWinControl::CreateDockManager() { return std::make_unique<TDockManager>(this); }

void TWinControl::SetVisible(bool Value) {
  TControl::SetVisible(Value);
  if (FHandle) ShowWindow(static_cast<HWND>(FHandle), Value ? SW_SHOWNA : SW_HIDE);
}

void TWinControl::SetEnabled(bool Value) {
  TControl::SetEnabled(Value);
  if (FHandle) EnableWindow(static_cast<HWND>(FHandle), Value);
}

void TWinControl::Invalidate() {
  if (FHandle) InvalidateRect(static_cast<HWND>(FHandle), nullptr, TRUE);
}

bool TWinControl::Focused() { return FHandle && GetFocus() == FHandle; }

bool TWinControl::CanFocus() {
  for (TControl* c = this; c; c = c->Parent())
    if (!c->Visible() || !c->Enabled()) return false;
  return true;
}

void TWinControl::SetFocus() { ::SetFocus(static_cast<HWND>(Handle())); }

// ---------------------------------------------------------------------------------------------

namespace {
THintWindow* MakeHintWindow(TComponent* AOwner) { return new THintWindow(AOwner); }
}  // namespace

const THintWindowClass THintWindow::Class{"THintWindow", nullptr, &MakeHintWindow};

THintWindow::THintWindow(TComponent* AOwner) : TWinControl(AOwner) { FVisible = false; }

void THintWindow::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  Params.Style = WS_POPUP | WS_BORDER;
  Params.ExStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
  Params.WndParent = nullptr;
  Params.WindowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_INFOBK + 1);
}

void THintWindow::ActivateHint(RECT Rect, const AnsiString& Hint) {
  SetCaption(Hint);
  SetBounds(Rect.left, Rect.top, Rect.right - Rect.left, Rect.bottom - Rect.top);
  HWND h = static_cast<HWND>(Handle());
  SetWindowPos(h, HWND_TOPMOST, Rect.left, Rect.top, Rect.right - Rect.left, Rect.bottom - Rect.top,
               SWP_SHOWWINDOW | SWP_NOACTIVATE);
  FVisible = true;
  Invalidate();
}

void THintWindow::ActivateHintData(RECT Rect, const AnsiString& Hint, void* Data) { ActivateHint(Rect, Hint); }

RECT THintWindow::CalcHintRect(int MaxWidth, const AnsiString& Hint, void* Data) {
  RECT r{0, 0, MaxWidth, 0};
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  DrawTextA(dc, Hint.c_str(), -1, &r, DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  r.right += 6;
  r.bottom += 2;
  return r;
}

void THintWindow::Paint(HDC DC) {
  RECT r;
  GetClientRect(static_cast<HWND>(FHandle), &r);
  r.left += 2;
  r.top += 2;
  SetBkMode(DC, TRANSPARENT);
  SetTextColor(DC, GetSysColor(COLOR_INFOTEXT));
  SelectObject(DC, GetStockObject(DEFAULT_GUI_FONT));
  AnsiString text = FText;
  DrawTextA(DC, text.c_str(), -1, &r, DT_LEFT | DT_NOPREFIX | DT_WORDBREAK);
}

void THintWindow::WndProc(TMessage& Message) {
  if (Message.Msg == WM_PAINT && FHandle) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(static_cast<HWND>(FHandle), &ps);
    Paint(dc);
    EndPaint(static_cast<HWND>(FHandle), &ps);
    Message.Result = 0;
    return;
  }
  if (Message.Msg == WM_NCHITTEST) {
    Message.Result = HTTRANSPARENT;
    return;
  }
  TWinControl::WndProc(Message);
}
