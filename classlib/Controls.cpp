#include "classlib/Controls.h"

#include "classlib/ActnList.h"

#include <algorithm>

#include "classlib/Forms.h"

TWinControl* CreationControl = nullptr;

namespace {
ATOM gWindowAtom = 0;
ATOM gControlAtom = 0;
}  // namespace

uint16_t WindowAtom() { return gWindowAtom; }
uint16_t ControlAtom() { return gControlAtom; }
HINSTANCE HInstance() { return GetModuleHandleW(nullptr); }

void ControlsInitialize() {
  if (gWindowAtom) return;
  gWindowAtom = GlobalAddAtomA(Format("ClassLibWnd%.8X", (unsigned)GetCurrentProcessId()).c_str());
  gControlAtom = GlobalAddAtomA(
      Format("ControlOfs%.8X%.8X", (unsigned)(uintptr_t)HInstance(), (unsigned)GetCurrentThreadId()).c_str());
}

void ControlsFinalize() {
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
  FLeft = ALeft;
  FTop = ATop;
  FWidth = AWidth;
  FHeight = AHeight;
}

void TControl::SetVisible(bool Value) { FVisible = Value; }
void TControl::SetEnabled(bool Value) {
  if (FEnabled == Value) return;
  FEnabled = Value;
  Perform(CM_ENABLEDCHANGED, 0, 0);
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::WndProc(TMessage& Message) {
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
}

void TWinControl::RemoveControl(TControl* AControl) {
  auto* w = dynamic_cast<TWinControl*>(AControl);
  if (w && w->FHandle) w->DestroyHandle();
  FControls.erase(std::remove(FControls.begin(), FControls.end(), AControl), FControls.end());
  AControl->FParent = nullptr;
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
  SendMessageA(static_cast<HWND>(FHandle), WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
}

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

void TWinControl::WndProc(TMessage& Message) {
  switch (Message.Msg) {
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
  TControl::SetBounds(ALeft, ATop, AWidth, AHeight);
  if (FHandle) SetWindowPos(static_cast<HWND>(FHandle), nullptr, ALeft, ATop, AWidth, AHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  AlignControls();
  if (FDockManager) FDockManager->ResetBounds();
}

void TWinControl::AlignControls() {
  RECT r{0, 0, FWidth, FHeight};
  if (FHandle) GetClientRect(static_cast<HWND>(FHandle), &r);
  for (TControl* c : FControls)
    if (c->Align() == alClient) c->SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
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
