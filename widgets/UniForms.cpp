#include "widgets/UniForms.h"

#include <typeinfo>
#include <vector>

#include "unicode/UniClasses.h"
#include "unicode/UniSysUtils.h"
#include "widgets/UniActnList.h"
#include "widgets/UniControls.h"
#include "widgets/UniMenus.h"

TUniApplication* UniApplication = nullptr;

namespace {
const char kUnit[] = "UniForms";
const char* const kMessages[] = {
    "Resource %s not found",
};
enum { msgResNotFound };

HHOOK gMessageHook = nullptr;

// Delivers UTF-16 characters to Unicode windows: a message that the application helper handled
// becomes WM_NULL for the application's own loop.
LRESULT CALLBACK GetMessageHook(int Code, WPARAM WParam, LPARAM LParam) {
  try {
    if (Code >= 0 && WParam == PM_REMOVE && UniApplication) {
      MSG* msg = reinterpret_cast<MSG*>(LParam);
      if (UniApplication->ProcessMessage(*msg)) msg->message = WM_NULL;
    }
  } catch (...) {
    if (Application) {
      try {
        Application->HandleException(nullptr);
      } catch (...) {
      }
    }
  }
  return CallNextHookEx(gMessageHook, Code, WParam, LParam);
}
}  // namespace

// ---------------------------------------------------------------------------------------------

TUniForm::TUniForm(TComponent* AOwner) : TForm(AOwner) {}

void TUniForm::LoadFormResource() {
  SetFormStateFlag(fsCreating, true);
  HRSRC res = FindResourceA(HInstance(), ClassName(), reinterpret_cast<LPCSTR>(RT_RCDATA));
  if (!res) {
    SetFormStateFlag(fsCreating, false);
    throw EResNotFound(Format(kMessages[msgResNotFound], ClassName()));
  }
  try {
    TResourceStream stream(HInstance(), ClassName(), reinterpret_cast<const char*>(RT_RCDATA));
    TReader reader(&stream);
    reader.ReadRootComponent(this);
  } catch (...) {
    SetFormStateFlag(fsCreating, false);
    throw;
  }
  SetFormStateFlag(fsCreating, false);
  if (OldCreateOrder()) DoCreate();
}

void TUniForm::DefineProperties(TFiler* Filer) {
  TForm::DefineProperties(Filer);
  DefineWideProperties(Filer, this);
}

std::unique_ptr<TControlActionLink> TUniForm::CreateActionLink() { return SelectWideActionLinkClass(this); }

void TUniForm::ActionChange(TObject* Sender, bool CheckDefaults) {
  ApplyActionWideTexts(this, Sender, CheckDefaults);
  TForm::ActionChange(Sender, CheckDefaults);
}

WideString TUniForm::Caption() { return GetControlWideText(this); }
void TUniForm::SetCaption(const WideString& Value) { SetControlWideText(this, Value); }
WideString TUniForm::Hint() { return GetControlWideHint(this); }
void TUniForm::SetHint(const WideString& Value) { SetControlWideHint(this, Value); }

void TUniForm::CreateWindowHandle(const TCreateParams& Params) {
  if (!Win32PlatformIsNT()) {
    TForm::CreateWindowHandle(Params);
    return;
  }
  if (FormStyle() == fsMDIChild) {
    HWND client = ActiveMDIClient();
    WideString className = RegisterUnicodeClass(Params);
    SetDefWndProc(DefMDIChildProcW);
    HWND h = CreateMDIWindowW(className.c_str(), nullptr, Params.Style, Params.X, Params.Y, Params.Width,
                              Params.Height, client, HInstance(), reinterpret_cast<LPARAM>(Params.Param));
    if (!h) RaiseLastOSError();
    SetWindowHandle(h);
    SubClassUnicodeControl(this, Params.Caption);
    SetFormStateFlag(fsCreatedMDIChild, true);
    return;
  }
  TCreateParams p = Params;
  p.ExStyle &= ~WS_EX_LAYERED;
  CreateUnicodeWindowHandle(this, p, L"");
  SetFormStateFlag(fsCreatedMDIChild, false);
  // The layered style goes on anew on the Unicode window.
  if (AlphaBlend()) {
    SetAlphaBlend(false);
    SetAlphaBlend(true);
  } else if (TransparentColor()) {
    SetTransparentColor(false);
    SetTransparentColor(true);
  }
}

void TUniForm::DestroyWindowHandle() {
  if (Win32PlatformIsNT() && HandleAllocated()) {
    using TUninitializeFlatSB = BOOL(WINAPI*)(HWND);
    HMODULE comctl = GetModuleHandleA("comctl32.dll");
    auto uninit = comctl ? reinterpret_cast<TUninitializeFlatSB>(GetProcAddress(comctl, "UninitializeFlatSB")) : nullptr;
    if (uninit) uninit(static_cast<HWND>(Handle()));
  }
  TForm::DestroyWindowHandle();
}

std::unique_ptr<TDockManager> TUniForm::CreateDockManager() {
  if (!DockManager() && DockSite() && UseDockManager()) HandleNeeded();
  return TForm::CreateDockManager();
}

void TUniForm::DefaultHandler(TMessage& Message) {
  if (!ClientHandle() || !Win32PlatformIsNT() || !HandleAllocated()) {
    TForm::DefaultHandler(Message);
    return;
  }
  HWND h = static_cast<HWND>(Handle());
  if (Message.Msg == WM_SIZE)
    Message.Result = DefWindowProcW(h, Message.Msg, Message.WParam, Message.LParam);
  else
    Message.Result = DefFrameProcW(h, static_cast<HWND>(ClientHandle()), Message.Msg, Message.WParam, Message.LParam);
  if (Message.Msg == WM_DESTROY) Perform(WM_UNI_DESTROYWINDOW(), 0, 0);
}

void TUniForm::WndProc(TMessage& Message) {
  TForm::WndProc(Message);
  // Right-to-left menus lose their layout when the form's reading order or position changes.
  if (Message.Msg == CM_BIDIMODECHANGED)
    for (int i = 0; i < ComponentCount(); ++i)
      if (auto* menu = dynamic_cast<TMenu*>(Components(i))) RefreshRightToLeftMenu(menu);
  if (Message.Msg == WM_WINDOWPOSCHANGING) RefreshRightToLeftMenu(Menu());
  if (Message.Msg == WM_INITMENUPOPUP) InitiateMenuActions(Menu(), reinterpret_cast<void*>(Message.WParam));
  if (Message.Msg != WM_MENUSELECT || !Menu() || !UniApplication) return;
  UINT flags = HIWORD(Message.WParam);
  if (flags == 0xFFFF && Message.LParam == 0) return;  // the menu closed
  TMenuItem* item = nullptr;
  if (flags & MF_POPUP) {
    HMENU sub = GetSubMenu(reinterpret_cast<HMENU>(Message.LParam), LOWORD(Message.WParam));
    item = Menu()->FindItem(reinterpret_cast<uintptr_t>(sub), true);
  } else {
    item = Menu()->FindItem(LOWORD(Message.WParam), false);
  }
  UniApplication->SetHint(item ? LongHintPart(GetMenuItemWideHint(item)) : WideString());
}

// ---------------------------------------------------------------------------------------------

TUniApplication::TUniApplication() : TComponent(nullptr) {
  if (Application) Application->HookMainWindow(this, [this](TMessage& M) { return WindowHook(M); });
}

TUniApplication::~TUniApplication() {
  if (Application) Application->UnhookMainWindow(this);
  delete FIdleEventControl;
}

namespace {
WideString MouseControlLongHint() {
  TControl* c = Application ? Application->MouseControl() : nullptr;
  return c ? LongHintPart(GetWideHintOfControl(c)) : WideString();
}
}  // namespace

WideString TUniApplication::Hint() {
  WideString mouseHint = MouseControlLongHint();
  if (WideToAnsi(mouseHint) == Application->Hint()) FHint = mouseHint;
  return ReadWideShadow(FHint, Application->Hint());
}

void TUniApplication::SetHint(const WideString& Value) {
  WriteWideShadow(Value, FHint, Application->Hint(), [](const AnsiString& S) { Application->SetHint(S); });
}

void TUniApplication::UpdateHint() {
  WideString mouseHint = MouseControlLongHint();
  if (WideToAnsi(mouseHint) == Application->Hint()) SetHint(mouseHint);
}

WideString TUniApplication::Title() {
  HWND app = Application ? static_cast<HWND>(Application->Handle()) : nullptr;
  if (Win32PlatformIsNT() && app) {
    LRESULT len = DefWindowProcW(app, WM_GETTEXTLENGTH, 0, 0);
    std::vector<wchar_t> buf((size_t)len + 1, 0);
    LRESULT n = DefWindowProcW(app, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
    if (n < 0) n = 0;
    if (n > len) n = len;
    return WideString(buf.data(), (size_t)n);
  }
  WideString ansi = Application ? Application->Title() : WideString();
  return ReadWideShadow(FTitle, WideToAnsi(ansi));
}

void TUniApplication::SetTitle(const WideString& Value) {
  HWND app = Application ? static_cast<HWND>(Application->Handle()) : nullptr;
  if (!app || !Win32PlatformIsNT()) {
    WriteWideShadow(Value, FTitle, WideToAnsi(Application ? Application->Title() : WideString()),
                    [](const AnsiString& S) { if (Application) Application->SetTitle(AnsiToWide(S)); });
    return;
  }
  if (Title() != Value || !FTitle.empty()) {
    DefWindowProcW(app, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Value.c_str()));
    FTitle.clear();
  }
  Application->SetTitle(Value);
}

bool TUniApplication::WindowHook(TMessage& Message) {
  if (Message.Msg == WM_CREATE && !FTitle.empty()) {
    WideString t = FTitle;
    FTitle.clear();
    SetTitle(t);
  }
  if (Message.Msg == CM_ACTIONEXECUTE) {
    // The library's hint action carries the 8-bit hint: a wide one goes in its place.
    auto* action = reinterpret_cast<TBasicAction*>(Message.LParam);
    if (action && typeid(*action) == typeid(THintAction) &&
        static_cast<THintAction*>(action)->Hint() == WideToAnsi(Hint())) {
      Message.Result = 1;
      TUniHintAction wide(nullptr);
      wide.SetHint(Hint());
      wide.Execute();
      return true;
    }
  }
  return false;
}

bool TUniApplication::IsDlgMsg(MSG& Msg) {
  HWND dlg = Application ? static_cast<HWND>(Application->DialogHandle()) : nullptr;
  if (!dlg) return false;
  return IsWindowUnicode(dlg) ? IsDialogMessageW(dlg, &Msg) != 0 : IsDialogMessageA(dlg, &Msg) != 0;
}

TUniAppIdleEventControl::TUniAppIdleEventControl(TComponent* AOwner)
    : TControl(AOwner), FAction(std::make_unique<TUniAction>(nullptr)) {
  FAction->OnExecute = [](TObject*) {
    if (UniApplication) UniApplication->UpdateHint();
  };
  FAction->OnUpdate = FAction->OnExecute;
  SetAction(FAction.get());
}

TUniAppIdleEventControl::~TUniAppIdleEventControl() {
  SetAction(nullptr);
  if (UniApplication && UniApplication->FIdleEventControl == this) UniApplication->FIdleEventControl = nullptr;
}

void TUniForm::UpdateActions() {
  TForm::UpdateActions();
  if (UniApplication) UniApplication->UpdateHint();
}

bool TUniApplication::ProcessMessage(MSG& Msg) {
  if (!FMainFormChecked && Application && Application->MainForm()) {
    TCustomForm* main = Application->MainForm();
    if (!dynamic_cast<TUniForm*>(main)) {
      FIdleEventControl = new TUniAppIdleEventControl(main);
      FIdleEventControl->SetParent(main);
    }
    FMainFormChecked = true;
  }
  if (Msg.message != WM_CHAR || Msg.wParam < 256 || !IsWindowUnicode(Msg.hwnd)) return false;
  HWND dlg = Application ? static_cast<HWND>(Application->DialogHandle()) : nullptr;
  if (dlg && !IsWindowUnicode(dlg)) return false;
  bool handled = false;
  if (Application && Application->OnMessage) Application->OnMessage(Msg, handled);
  if (Application) Application->CancelHint();
  if (!handled && !IsDlgMsg(Msg)) DispatchMessageW(&Msg);
  return true;
}

void UniFormsInitialize() {
  UniApplication = new TUniApplication();
  if (Win32PlatformIsNT()) {
    gMessageHook = SetWindowsHookExW(WH_GETMESSAGE, GetMessageHook, nullptr, GetCurrentThreadId());
    if (!gMessageHook) RaiseLastOSError();
  }
  (void)kUnit;
}

void UniFormsFinalize() {
  if (gMessageHook) UnhookWindowsHookEx(gMessageHook);
  gMessageHook = nullptr;
  delete UniApplication;
  UniApplication = nullptr;
}
