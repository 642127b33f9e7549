#include "classlib/Forms.h"

#include "classlib/ActnList.h"
#include "classlib/StdCtrls.h"
#include "classlib/WinApi.h"

TApplication* Application = nullptr;
const THintWindowClass* HintWindowClass = &THintWindow::Class;
std::function<POINT()> HintCursorPos = [] {
  POINT p{0, 0};
  GetCursorPos(&p);
  return p;
};

namespace {
const char* const kMessages[] = {"Cannot create form. No MDI forms are currently active",
                                 "Cannot make a visible window modal"};
enum { msgNoMDIForm, msgVisibleModal };
constexpr UINT kFirstMDIChildId = 0xFF00;
}  // namespace

// ---------------------------------------------------------------------------------------------

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
  FVisible = false;
  FLeft = FTop = (int)CW_USEDEFAULT;
  FWidth = 320;
  FHeight = 240;
}

TCustomForm* GetParentForm(TControl* Control) {
  while (Control && Control->Parent()) Control = Control->Parent();
  return dynamic_cast<TCustomForm*>(Control);
}

TCustomForm::~TCustomForm() {
  // While the form is whole: an MDI child's window goes through its client window.
  if (FFormState & fsCreatedMDIChild) DestroyHandle();
  if (Application && Application->MainForm() == this) Application->SetMainForm(nullptr);
}

void TCustomForm::CreateWnd() {
  TWinControl::CreateWnd();
  if (FFormStyle == fsMDIForm && !FClientHandle) {
    HWND frame = static_cast<HWND>(FHandle);
    RECT r{};
    GetClientRect(frame, &r);
    CLIENTCREATESTRUCT ccs{nullptr, kFirstMDIChildId};
    FClientHandle = CreateWindowExA(WS_EX_CLIENTEDGE, "MDICLIENT", nullptr,
                                    WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_VSCROLL | WS_HSCROLL, 0, 0, r.right,
                                    r.bottom, frame, nullptr, HInstance(), &ccs);
    if (!FClientHandle) RaiseLastOSError();
  }
  ApplyLayered();
  if (FMenu) SetMenu(FMenu);
}

void TCustomForm::DestroyWnd() {
  TWinControl::DestroyWnd();
  FClientHandle = nullptr;  // went with the frame
}

void TCustomForm::SetFormStyle(TFormStyle Value) {
  if (FFormStyle == Value) return;
  bool topmostOnly = (FFormStyle == fsNormal && Value == fsStayOnTop) || (FFormStyle == fsStayOnTop && Value == fsNormal);
  FFormStyle = Value;
  if (topmostOnly && HandleAllocated()) {
    SetWindowPos(static_cast<HWND>(Handle()), Value == fsStayOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return;
  }
  if (Value == fsMDIChild) FVisible = true;
  if (HandleAllocated()) RecreateWnd();
}

HWND TCustomForm::ActiveMDIClient() {
  TCustomForm* main = Application ? Application->MainForm() : nullptr;
  if (!main || main->FormStyle() != fsMDIForm || !main->ClientHandle())
    throw EInvalidOperation(kMessages[msgNoMDIForm]);
  return static_cast<HWND>(main->ClientHandle());
}

void TCustomForm::CreateWindowHandle(const TCreateParams& Params) {
  if (FFormStyle != fsMDIChild) {
    SetFormStateFlag(fsCreatedMDIChild, false);
    TWinControl::CreateWindowHandle(Params);
    return;
  }
  HWND client = ActiveMDIClient();
  SetDefWndProc(DefMDIChildProcA);
  HWND h = CreateMDIWindowA(Params.WinClassName, Params.Caption, Params.Style, Params.X, Params.Y, Params.Width,
                            Params.Height, client, HInstance(), reinterpret_cast<LPARAM>(Params.Param));
  if (!h) RaiseLastOSError();
  SetWindowHandle(h);
  SetFormStateFlag(fsCreatedMDIChild, true);
}

void TCustomForm::DestroyWindowHandle() {
  HWND h = static_cast<HWND>(FHandle);
  HWND client = h ? GetParent(h) : nullptr;
  if ((FormState() & fsCreatedMDIChild) && client && IsWindow(h)) {
    SetControlStateFlag(csDestroyingHandle, true);
    SendMessageA(client, WM_MDIDESTROY, reinterpret_cast<WPARAM>(h), 0);
    FHandle = nullptr;
    SetControlStateFlag(csDestroyingHandle, false);
    SetFormStateFlag(fsCreatedMDIChild, false);
    return;
  }
  TWinControl::DestroyWindowHandle();
}

void TCustomForm::DefaultHandler(TMessage& Message) {
  if (FClientHandle && FHandle) {
    Message.Result = DefFrameProcA(static_cast<HWND>(FHandle), static_cast<HWND>(FClientHandle), Message.Msg,
                                   Message.WParam, Message.LParam);
    return;
  }
  TWinControl::DefaultHandler(Message);
}

void TCustomForm::SetMenu(TMainMenu* Value) {
  if (FMenu && FMenu != Value) FMenu->SetWindowHandle(nullptr);
  FMenu = Value;
  if (!HandleAllocated()) return;
  HWND h = static_cast<HWND>(Handle());
  ::SetMenu(h, Value ? static_cast<HMENU>(Value->Handle()) : nullptr);
  if (Value) Value->SetWindowHandle(h);
}

void TCustomForm::ApplyLayered() {
  if (!HandleAllocated()) return;
  HWND h = static_cast<HWND>(Handle());
  LONG ex = GetWindowLongW(h, GWL_EXSTYLE);
  if (FAlphaBlend || FTransparentColor) {
    if (!(ex & WS_EX_LAYERED)) SetWindowLongW(h, GWL_EXSTYLE, ex | WS_EX_LAYERED);
    DWORD flags = (FAlphaBlend ? LWA_ALPHA : 0) | (FTransparentColor ? LWA_COLORKEY : 0);
    SetLayeredWindowAttributes(h, FTransparentColorValue, FAlphaBlendValue, flags);
  } else if (ex & WS_EX_LAYERED) {
    SetWindowLongW(h, GWL_EXSTYLE, ex & ~WS_EX_LAYERED);
  }
}

void TCustomForm::SetAlphaBlend(bool Value) {
  if (FAlphaBlend == Value) return;
  FAlphaBlend = Value;
  ApplyLayered();
}

void TCustomForm::SetAlphaBlendValue(uint8_t Value) {
  FAlphaBlendValue = Value;
  ApplyLayered();
}

void TCustomForm::SetTransparentColor(bool Value) {
  if (FTransparentColor == Value) return;
  FTransparentColor = Value;
  ApplyLayered();
}

void TCustomForm::SetBorderStyle(TFormBorderStyle Value) {
  if (FBorderStyle == Value) return;
  FBorderStyle = Value;
  if (HandleAllocated()) RecreateWnd();
}

void TCustomForm::SetBorderIcons(TBorderIcons Value) {
  if (FBorderIcons == Value) return;
  FBorderIcons = Value;
  if (HandleAllocated()) RecreateWnd();
}

int TCustomForm::ClientWidth() {
  if (HandleAllocated()) {
    RECT r;
    GetClientRect(static_cast<HWND>(Handle()), &r);
    return r.right;
  }
  return FClientWidth >= 0 ? FClientWidth : FWidth;
}

int TCustomForm::ClientHeight() {
  if (HandleAllocated()) {
    RECT r;
    GetClientRect(static_cast<HWND>(Handle()), &r);
    return r.bottom;
  }
  return FClientHeight >= 0 ? FClientHeight : FHeight;
}

void TCustomForm::SetClientSize(int Width, int Height) {
  FClientWidth = Width;
  FClientHeight = Height;
  if (!HandleAllocated()) return;
  HWND h = static_cast<HWND>(Handle());
  RECT r{0, 0, Width, Height};
  AdjustWindowRectEx(&r, GetWindowLongW(h, GWL_STYLE), FMenu != nullptr, GetWindowLongW(h, GWL_EXSTYLE));
  SetBounds(FLeft, FTop, r.right - r.left, r.bottom - r.top);
}

void TCustomForm::SetColor(TColor Value) {
  if (FColor == Value) return;
  FColor = Value;
  if (HandleAllocated()) InvalidateRect(static_cast<HWND>(Handle()), nullptr, TRUE);
}

bool TCustomForm::CloseQuery() {
  bool can = true;
  if (OnCloseQuery) OnCloseQuery(this, can);
  return can;
}

namespace {
// The visible, enabled buttons of a control's tree, in tree order.
void CollectButtons(TWinControl* Control, std::vector<TButton*>& Out) {
  for (int i = 0; i < Control->ControlCount(); ++i) {
    auto* w = dynamic_cast<TWinControl*>(Control->Controls(i));
    if (!w || !w->Visible() || !w->Enabled()) continue;
    if (auto* b = dynamic_cast<TButton*>(w)) Out.push_back(b);
    CollectButtons(w, Out);
  }
}
}  // namespace

void TCustomForm::DialogKey(TMessage& Message) {
  Message.Result = 0;
  if (!HandleAllocated()) return;
  HWND self = static_cast<HWND>(Handle());
  HWND focus = GetFocus();
  switch (Message.WParam) {
    case VK_TAB: {
      HWND next = GetNextDlgTabItem(self, focus, (GetKeyState(VK_SHIFT) & 0x8000) != 0);
      if (next) ::SetFocus(next);
      Message.Result = 1;
      return;
    }
    case VK_RETURN:
    case VK_ESCAPE: {
      std::vector<TButton*> buttons;
      CollectButtons(this, buttons);
      TButton* target = nullptr;
      if (Message.WParam == VK_RETURN) {
        for (TButton* b : buttons)
          if (b->Focused()) target = b;
        if (!target)
          for (TButton* b : buttons)
            if (b->Default() && !target) target = b;
      } else {
        for (TButton* b : buttons)
          if (b->Cancel() && !target) target = b;
      }
      if (!target) return;
      target->Click();
      Message.Result = 1;
      return;
    }
    default: return;
  }
}

void TCustomForm::PlaceForm() {
  if (FPlaced || Parent()) return;
  FPlaced = true;
  if (FPosition == poDesigned || FPosition == poDefault) return;
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  TCustomForm* on = nullptr;
  if (FPosition == poOwnerFormCenter) on = dynamic_cast<TCustomForm*>(Owner());
  if ((FPosition == poMainFormCenter || FPosition == poOwnerFormCenter) && !on && Application) on = Application->MainForm();
  if (on == this) on = nullptr;
  if (on && on->HandleAllocated() && IsWindowVisible(static_cast<HWND>(on->Handle())) &&
      !IsIconic(static_cast<HWND>(on->Handle())))
    GetWindowRect(static_cast<HWND>(on->Handle()), &area);
  HandleNeeded();
  RECT r;
  GetWindowRect(static_cast<HWND>(Handle()), &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  int x = area.left + (area.right - area.left - w) / 2, y = area.top + (area.bottom - area.top - h) / 2;
  SetBounds(x, y, w, h);
}

void TCustomForm::DoCreate() {
  if (OnCreate) OnCreate(this);
}

void TCustomForm::WndProc(TMessage& Message) {
  if (Message.Msg == WM_CLOSE) {
    Close();
    return;
  }
  if (Message.Msg == CM_DIALOGKEY) {
    DialogKey(Message);
    return;
  }
  if (Message.Msg == WM_ERASEBKGND && FColor != clNone) {
    RECT r;
    GetClientRect(static_cast<HWND>(Handle()), &r);
    HBRUSH b = CreateSolidBrush(static_cast<COLORREF>(ColorToRGB(FColor)));
    FillRect(reinterpret_cast<HDC>(Message.WParam), &r, b);
    DeleteObject(b);
    Message.Result = 1;
    return;
  }
  if (Message.Msg == WM_SIZE && FClientHandle) {
    // The client window fills the frame.
    MoveWindow(static_cast<HWND>(FClientHandle), 0, 0, LOWORD(Message.LParam), HIWORD(Message.LParam), TRUE);
  }
  if (Message.Msg == WM_COMMAND && Message.LParam == 0 && HIWORD(Message.WParam) == 0 && FMenu &&
      FMenu->DispatchCommand(LOWORD(Message.WParam)))
    return;
  if ((Message.Msg == WM_MEASUREITEM || Message.Msg == WM_DRAWITEM) && Message.WParam == 0 && FMenu &&
      FMenu->DispatchOwnerDraw(Message))
    return;
  TWinControl::WndProc(Message);
}

void TCustomForm::Close() {
  if (FFormState & fsModal) {
    FModalResult = mrCancel;
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction action = caHide;
  if (OnClose) OnClose(this, action);
  // Closing the main form ends the application, whatever else it would do.
  if (action != caNone && Application && Application->MainForm() == this) Application->Terminate();
  else if (action == caHide) Hide();
  else if (action == caMinimize && HandleAllocated()) ShowWindow(static_cast<HWND>(Handle()), SW_MINIMIZE);
  else if (action == caFree) Release();
}

namespace {
const UINT CM_RELEASE = CM_BASE + 33;
}

void TCustomForm::Release() {
  if (Application) PostMessageW(static_cast<HWND>(Application->Handle()), CM_RELEASE, 0, reinterpret_cast<LPARAM>(this));
}

namespace {
struct DisabledWindows {
  HWND Keep;
  std::vector<HWND> List;
};
BOOL CALLBACK DisableWindow(HWND Wnd, LPARAM Param) {
  auto* d = reinterpret_cast<DisabledWindows*>(Param);
  if (Wnd != d->Keep && IsWindowVisible(Wnd) && IsWindowEnabled(Wnd)) {
    d->List.push_back(Wnd);
    EnableWindow(Wnd, FALSE);
  }
  return TRUE;
}
}  // namespace

TModalResult TCustomForm::ShowModal() {
  if (Visible() || (FFormState & fsModal)) throw EInvalidOperation(kMessages[msgVisibleModal]);
  HWND self = static_cast<HWND>(Handle());
  DisabledWindows disabled{self, {}};
  EnumThreadWindows(GetCurrentThreadId(), DisableWindow, reinterpret_cast<LPARAM>(&disabled));
  SetFormStateFlag(fsModal, true);
  FModalResult = mrNone;
  try {
    Show();
    while (FModalResult == mrNone && Application && !Application->Terminated()) Application->HandleMessage();
  } catch (...) {
    SetFormStateFlag(fsModal, false);
    for (HWND w : disabled.List) EnableWindow(w, TRUE);
    throw;
  }
  SetFormStateFlag(fsModal, false);
  for (HWND w : disabled.List) EnableWindow(w, TRUE);
  Hide();
  return FModalResult;
}

void TCustomForm::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  if (Parent()) {
    // A form placed in another control (docked, for one) is a child window without a frame.
    Params.Style |= WS_CLIPCHILDREN;
    return;
  }
  DWORD frame = 0;
  switch (FBorderStyle) {
    case bsNone: frame = WS_POPUP; break;
    case bsSingle: frame = WS_CAPTION; break;
    case bsSizeable: frame = WS_CAPTION | WS_THICKFRAME; break;
    case bsDialog: frame = WS_CAPTION; Params.ExStyle |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE; break;
    case bsToolWindow: frame = WS_CAPTION; Params.ExStyle |= WS_EX_TOOLWINDOW; break;
    case bsSizeToolWin: frame = WS_CAPTION | WS_THICKFRAME; Params.ExStyle |= WS_EX_TOOLWINDOW; break;
  }
  if (FBorderStyle != bsNone && (FBorderIcons & biSystemMenu)) {
    frame |= WS_SYSMENU;
    if (FBorderStyle != bsDialog && FBorderStyle != bsToolWindow && FBorderStyle != bsSizeToolWin) {
      if (FBorderIcons & biMinimize) frame |= WS_MINIMIZEBOX;
      if (FBorderIcons & biMaximize) frame |= WS_MAXIMIZEBOX;
    }
  }
  Params.Style = (Params.Style & ~(WS_CHILD | WS_CLIPSIBLINGS)) | frame | WS_CLIPCHILDREN;
  Params.WndParent = Application ? static_cast<HWND>(Application->Handle()) : nullptr;
  if (FClientWidth >= 0) {
    RECT r{0, 0, FClientWidth, FClientHeight};
    AdjustWindowRectEx(&r, Params.Style, FMenu != nullptr, Params.ExStyle);
    FWidth = Params.Width = r.right - r.left;
    FHeight = Params.Height = r.bottom - r.top;
  }
  if (FFormStyle == fsMDIChild) {
    // Placed by the client window; shown when made.
    Params.Style = (Params.Style & ~WS_CLIPCHILDREN) | WS_CHILD | WS_CLIPSIBLINGS | WS_VISIBLE;
    Params.ExStyle |= WS_EX_MDICHILD;
    Params.WndParent = nullptr;
  }
  if (FFormStyle == fsStayOnTop) Params.ExStyle |= WS_EX_TOPMOST;
}

void TCustomForm::SetActiveControl(TWinControl* Value) {
  FActiveControl = Value;
  if (Value && HandleAllocated() && IsWindowVisible(static_cast<HWND>(Handle())) && Value->CanFocus()) Value->SetFocus();
}

void TCustomForm::Show() {
  PlaceForm();
  SetVisible(true);
  HandleNeeded();
  ShowWindow(static_cast<HWND>(Handle()), SW_SHOW);
  if (FActiveControl && FActiveControl->CanFocus()) FActiveControl->SetFocus();
}

// ---------------------------------------------------------------------------------------------

namespace {
// The application window's timer of the hint.
constexpr UINT_PTR kHintTimer = 1;
}  // namespace

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
  SetWindowTextW(static_cast<HWND>(FHandle), FTitle.c_str());
  WakeMainThread = [h = FHandle] { PostMessageW(static_cast<HWND>(h), WM_NULL, 0, 0); };
  ApplicationHandleException = [this](TObject* Sender) { HandleException(Sender); };
}

TApplication::~TApplication() {
  CancelHint();
  ApplicationHandleException = nullptr;
  WakeMainThread = nullptr;
  DeallocateHWnd(FHandle);
}

void TApplication::SetTitle(const WideString& Value) {
  FTitle = Value;
  if (FHandle) SetWindowTextW(static_cast<HWND>(FHandle), FTitle.c_str());
}

void TApplication::SetHint(const AnsiString& Value) {
  if (FHint == Value) return;
  FHint = Value;
  if (OnHint) {
    OnHint(this);
    return;
  }
  // Without a handler the hint goes to whoever takes the hint action (a status bar).
  THintAction action(nullptr);
  action.SetHint(Value);
  action.Execute();
}

// ---------------------------------------------------------------------------------------------
// Mouse tracking and hints

namespace {
// The control of a window of the class library, or of its nearest parent window that has one;
// then its windowless child under the point (screen coordinates), if any.
TControl* ControlAtPoint(HWND Wnd, POINT ScreenPos) {
  TWinControl* owner = nullptr;
  while (Wnd && !(owner = FindControl(Wnd))) Wnd = GetParent(Wnd);
  if (!owner) return nullptr;
  POINT p = ScreenPos;
  ScreenToClient(Wnd, &p);
  for (int i = owner->ControlCount() - 1; i >= 0; --i) {
    TControl* c = owner->Controls(i);
    if (dynamic_cast<TWinControl*>(c) || !c->Visible()) continue;
    if (p.x >= c->Left() && p.x < c->Left() + c->Width() && p.y >= c->Top() && p.y < c->Top() + c->Height()) return c;
  }
  return owner;
}

// The control's place on the screen.
RECT ScreenRectOf(TControl* Control) {
  RECT r{0, 0, 0, 0};
  if (auto* w = dynamic_cast<TWinControl*>(Control)) {
    if (w->HandleAllocated()) GetWindowRect(static_cast<HWND>(w->Handle()), &r);
    return r;
  }
  TWinControl* parent = Control->Parent();
  if (!parent || !parent->HandleAllocated()) return r;
  POINT origin{0, 0};
  ClientToScreen(static_cast<HWND>(parent->Handle()), &origin);
  r = {origin.x + Control->Left(), origin.y + Control->Top(), origin.x + Control->Left() + Control->Width(),
       origin.y + Control->Top() + Control->Height()};
  return r;
}

// The first non-empty hint of the control and its parents.
AnsiString HintOfControl(TControl* Control) {
  for (TControl* c = Control; c; c = c->Parent())
    if (!c->Hint().empty()) return c->Hint();
  return AnsiString();
}

bool ShowsHint(TControl* Control) {
  for (TControl* c = Control; c; c = c->Parent())
    if (c->ShowHint()) return true;
  return false;
}

AnsiString ShortHint(const AnsiString& Hint) {
  size_t bar = Hint.find('|');
  return bar == AnsiString::npos ? Hint : Hint.substr(0, bar);
}

AnsiString LongHint(const AnsiString& Hint) {
  size_t bar = Hint.find('|');
  return bar == AnsiString::npos ? Hint : Hint.substr(bar + 1);
}
}  // namespace

void TApplication::SetMouseControl(TControl* Value) {
  FMouseControl = Value;
  if (Value) FreeNotification(Value);
}

void TApplication::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  if (AComponent == FMouseControl) FMouseControl = nullptr;
  if (AComponent == FHintControl) CancelHint();
}

void TApplication::SetShowHint(bool Value) {
  FShowHint = Value;
  if (!Value) CancelHint();
}

void TApplication::StartHintTimer(int Pause) {
  SetTimer(static_cast<HWND>(FHandle), kHintTimer, (UINT)(Pause > 0 ? Pause : 1), nullptr);
}

void TApplication::StopHintTimer() { KillTimer(static_cast<HWND>(FHandle), kHintTimer); }

void TApplication::CancelHint() {
  StopHintTimer();
  FHintState = hsNone;
  FHintControl = nullptr;
  FHintWindow.reset();
  FHintWindowClass = nullptr;
}

bool TApplication::IsHintMsg(const MSG& Msg) {
  UINT m = Msg.message;
  bool cancels = (m >= WM_KEYFIRST && m <= WM_KEYLAST) || m == WM_LBUTTONDOWN || m == WM_RBUTTONDOWN ||
                 m == WM_MBUTTONDOWN || m == WM_NCLBUTTONDOWN || m == WM_NCRBUTTONDOWN || m == WM_NCMBUTTONDOWN ||
                 m == WM_ACTIVATE || m == WM_MOUSEWHEEL;
  if (cancels && FHintState != hsNone) CancelHint();
  return false;
}

void TApplication::HintMouseMessage(const MSG& Msg) {
  POINT p{(short)LOWORD(Msg.lParam), (short)HIWORD(Msg.lParam)};
  if (Msg.message == WM_MOUSEMOVE) ClientToScreen(Msg.hwnd, &p);
  TControl* control = ControlAtPoint(Msg.hwnd, p);
  if (control != FMouseControl) {
    TControl* old = FMouseControl;
    SetMouseControl(control);
    if (old) old->Perform(CM_MOUSELEAVE, 0, 0);
    if (control && control == FMouseControl) control->Perform(CM_MOUSEENTER, 0, 0);
    // The status hint follows the mouse.
    if (control == FMouseControl) SetHint(control ? LongHint(HintOfControl(control)) : AnsiString());
  }
  if (!FShowHint || !control || !ShowsHint(control) || HintOfControl(control).empty()) {
    CancelHint();
    return;
  }
  if (control == FHintControl) return;
  bool showing = FHintState == hsShowing;
  FHintWindow.reset();
  FHintControl = control;
  FreeNotification(control);
  FHintState = hsWaiting;
  StartHintTimer(showing ? FHintShortPause : FHintPause);
}

void TApplication::HintTimerExpired() {
  StopHintTimer();
  if (FHintState == hsShowing) {
    // Shown long enough: gone until the mouse comes to another control.
    FHintWindow.reset();
    FHintState = hsHidden;
    return;
  }
  if (FHintState != hsWaiting || !FHintControl) return;
  POINT p = HintCursorPos();
  RECT r = ScreenRectOf(FHintControl);
  if (!PtInRect(&r, p)) {
    CancelHint();
    return;
  }
  try {
    ActivateHint(p);
  } catch (...) {
    // The control stays without its hint until the mouse leaves it.
    FHintWindow.reset();
    FHintState = hsHidden;
    throw;
  }
}

void TApplication::ActivateHint(POINT CursorPos) {
  TControl* control = FHintControl;
  THintInfo info;
  info.HintControl = control;
  info.HintWindowClass = HintWindowClass;
  info.HintPos = {CursorPos.x, CursorPos.y + GetSystemMetrics(SM_CYCURSOR)};
  info.HintMaxWidth = GetSystemMetrics(SM_CXSCREEN);
  info.HintStr = ShortHint(HintOfControl(control));
  FHintState = hsHidden;
  bool canShow = control->Perform(CM_HINTSHOW, 0, reinterpret_cast<intptr_t>(&info)) == 0;
  // The control may have gone while it was asked.
  if (FHintControl != control) return;
  if (!canShow || info.HintStr.empty() || !info.HintWindowClass) {
    FHintWindow.reset();
    return;
  }
  if (!FHintWindow || FHintWindowClass != info.HintWindowClass) {
    FHintWindow.reset();
    FHintWindow.reset(info.HintWindowClass->Create(nullptr));
    FHintWindowClass = info.HintWindowClass;
  }
  RECT r = FHintWindow->CalcHintRect(info.HintMaxWidth, info.HintStr, info.HintData);
  OffsetRect(&r, info.HintPos.x, info.HintPos.y);
  // Kept on the screen the mouse is on.
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  if (GetMonitorInfoW(MonitorFromPoint(CursorPos, MONITOR_DEFAULTTONEAREST), &mi)) {
    if (r.right > mi.rcWork.right) OffsetRect(&r, mi.rcWork.right - r.right, 0);
    if (r.left < mi.rcWork.left) OffsetRect(&r, mi.rcWork.left - r.left, 0);
    if (r.bottom > mi.rcWork.bottom) OffsetRect(&r, 0, CursorPos.y - (r.bottom - r.top) - r.top);
  }
  FHintWindow->ActivateHintData(r, info.HintStr, info.HintData);
  FHintState = hsShowing;
  if (FHintHidePause > 0) StartHintTimer(FHintHidePause);
}

void TApplication::HookMainWindow(void* Id, TWindowHook Hook) { FWindowHooks.emplace_back(Id, std::move(Hook)); }

void TApplication::UnhookMainWindow(void* Id) {
  for (auto it = FWindowHooks.begin(); it != FWindowHooks.end(); ++it)
    if (it->first == Id) {
      FWindowHooks.erase(it);
      return;
    }
}

bool TApplication::ExecuteAction(TBasicAction* Action) {
  return FHandle && SendMessageW(static_cast<HWND>(FHandle), CM_ACTIONEXECUTE, 0, reinterpret_cast<LPARAM>(Action)) != 0;
}

void TApplication::WndProc(TMessage& Message) {
  if (Message.Msg == WM_NULL) {
    CheckSynchronize();
    return;
  }
  if (Message.Msg == CM_RELEASE) {
    delete reinterpret_cast<TCustomForm*>(Message.LParam);
    return;
  }
  if (Message.Msg == WM_TIMER && Message.WParam == kHintTimer) {
    HintTimerExpired();
    return;
  }
  auto hooks = FWindowHooks;
  for (auto& h : hooks)
    if (h.second(Message)) return;
  if (Message.Msg == CM_ACTIONEXECUTE) {
    bool handled = false;
    if (OnActionExecute) OnActionExecute(reinterpret_cast<TBasicAction*>(Message.LParam), handled);
    Message.Result = handled ? 1 : 0;
    return;
  }
  DefaultHandler(FHandle, Message);
}

bool TApplication::FormKeyDown(MSG& Msg) {
  TWinControl* control = nullptr;
  for (HWND w = Msg.hwnd; w && !control; w = GetParent(w)) control = FindControl(w);
  auto* form = dynamic_cast<TCustomForm*>(GetParentForm(control));
  if (!form) return false;
  if (Msg.wParam != VK_TAB && Msg.wParam != VK_RETURN && Msg.wParam != VK_ESCAPE) return false;
  // A control that takes the key itself (a memo's Return and Tab, an open list's Escape) keeps it.
  LRESULT code = SendMessageW(Msg.hwnd, WM_GETDLGCODE, Msg.wParam, reinterpret_cast<LPARAM>(&Msg));
  if ((code & (DLGC_WANTALLKEYS | DLGC_WANTMESSAGE)) || (Msg.wParam == VK_TAB && (code & DLGC_WANTTAB))) return false;
  return form->Perform(CM_DIALOGKEY, Msg.wParam, 0) != 0;
}

bool TApplication::ProcessMessage() {
  MSG msg;
  if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT) {
    FTerminated = true;
    return true;
  }
  bool handled = false;
  if (OnMessage) OnMessage(msg, handled);
  if (!handled) {
    IsHintMsg(msg);
    if (msg.message == WM_MOUSEMOVE || msg.message == WM_NCMOUSEMOVE) HintMouseMessage(msg);
  }
  if (!handled && msg.message == WM_KEYDOWN) handled = FormKeyDown(msg);
  if (!handled && FDialogHandle && IsDialogMessageW(static_cast<HWND>(FDialogHandle), &msg)) handled = true;
  if (!handled) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

void TApplication::ProcessMessages() {
  while (ProcessMessage()) {
  }
  CheckSynchronize();
}

namespace {
void UpdateControlActions(TControl* Control) {
  Control->InitiateAction();
  if (auto* w = dynamic_cast<TWinControl*>(Control))
    for (int i = 0; i < w->ControlCount(); ++i) UpdateControlActions(w->Controls(i));
}
}  // namespace

void TCustomForm::UpdateActions() {
  if (ComponentState() & csDestroying) return;
  for (int i = 0; i < ControlCount(); ++i) UpdateControlActions(Controls(i));
  InitiateAction();
}

void TApplication::Idle() {
  if (FMainForm && FMainForm->Visible()) {
    try {
      FMainForm->UpdateActions();
    } catch (...) {
      HandleException(this);
    }
  }
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
  MenusInitialize();
}

void ClasslibFinalize() {
  MenusFinalize();
  delete Application;
  Application = nullptr;
  ControlsFinalize();
}
