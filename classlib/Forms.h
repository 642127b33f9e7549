// The application object: message loop, exception reporting and the hidden application window.
#pragma once
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/Controls.h"
#include "classlib/Menus.h"

// A form: a top-level window of the program. The widget layer gives it its real window,
// caption and borders; here it is the window that the application's main form is.
enum TCloseAction { caNone, caHide, caFree, caMinimize };
using TModalResult = int;
constexpr TModalResult mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7;
// Form state flags.
constexpr uint32_t fsCreating = 1 << 0;
constexpr uint32_t fsModal = 1 << 1;
constexpr uint32_t fsCreatedMDIChild = 1 << 2;
// An MDI frame holds an MDI client window whose children are the MDI child forms.
enum TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
// The frame of a top-level form: none (a pop-up window), a fixed one, a sizeable one, a dialog
// frame, or the small caption of a tool window (fixed or sizeable).
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
// The buttons of the caption: the system menu (with the close button) and minimise and maximise.
using TBorderIcons = uint8_t;
constexpr TBorderIcons biSystemMenu = 1, biMinimize = 2, biMaximize = 4;
// Where a form first shows: where it was put, where the system puts it, centred on the screen's
// work area, on the application's main form, or on the form that owns it (the main form when its
// owner is not a form). A form centred on a form that is hidden or minimised is centred on the screen.
enum TPosition { poDesigned, poDefault, poScreenCenter, poMainFormCenter, poOwnerFormCenter };
// The result of a modal form: a button's answer.

class TCustomForm : public TWinControl {
 public:
  explicit TCustomForm(TComponent* AOwner);
  ~TCustomForm() override;
  const char* ClassName() const override { return "TCustomForm"; }
  void Show();
  void Hide() { SetVisible(false); }
  // Shows the form with every other window of the program disabled, runs the message loop until
  // ModalResult is set (Close sets mrCancel), then hides it and enables the others again.
  // Threads: user-interface thread; serves messages while it waits.
  TModalResult ShowModal();
  // OnClose decides: caHide (the default) hides, caFree frees the form once its messages are done,
  // caNone keeps it. A modal form only gets its ModalResult; the application's main form ends the
  // application instead (unless OnClose answers caNone).
  void Close();
  // Frees the form after the messages being handled (posted to the application).
  void Release();
  // The idle step: the form's action and those of all its controls update themselves.
  // Threads: user-interface thread only.
  virtual void UpdateActions();
  TModalResult ModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult Value) { FModalResult = Value; }
  uint32_t FormState() const { return FFormState; }
  void SetFormStateFlag(uint32_t Flag, bool On) { FFormState = On ? (FFormState | Flag) : (FFormState & ~Flag); }
  // Translucency through the layered window style.
  bool AlphaBlend() const { return FAlphaBlend; }
  void SetAlphaBlend(bool Value);
  uint8_t AlphaBlendValue() const { return FAlphaBlendValue; }
  void SetAlphaBlendValue(uint8_t Value);
  bool TransparentColor() const { return FTransparentColor; }
  void SetTransparentColor(bool Value);
  uint32_t TransparentColorValue() const { return FTransparentColorValue; }
  void SetTransparentColorValue(uint32_t Value) { FTransparentColorValue = Value; ApplyLayered(); }
  bool OldCreateOrder() const { return FOldCreateOrder; }
  void SetOldCreateOrder(bool Value) { FOldCreateOrder = Value; }
  // Runs OnCreate.
  void DoCreate();
  // The menu bar; its commands run the items' OnClick.
  TMainMenu* Menu() const { return FMenu; }
  void SetMenu(TMainMenu* Value);
  // An MDI child needs the application's main form to be an MDI frame with its client window.
  TFormStyle FormStyle() const { return FFormStyle; }
  void SetFormStyle(TFormStyle Value);
  // The MDI client window of an MDI frame (an HWND), null otherwise.
  void* ClientHandle() const { return FClientHandle; }
  // Frame, caption buttons and first place of a top-level form; set before its window is made.
  // Threads: user-interface thread only, as every call below.
  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle Value);
  TBorderIcons BorderIcons() const { return FBorderIcons; }
  void SetBorderIcons(TBorderIcons Value);
  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition Value) { FPosition = Value; }
  // The size of the client area: the window is made (or resized) around it.
  int ClientWidth();
  int ClientHeight();
  void SetClientSize(int Width, int Height);
  // The background of the client area; clNone (the default) leaves it to the window class.
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  // The font of the form's controls (their windows made from then on); until it is first asked
  // for, they take the stock GUI font.
  TFont* Font() {
    if (!FFont) FFont = std::make_unique<TFont>();
    return FFont.get();
  }
  void* FontHandle() override { return FFont ? FFont->Handle() : TWinControl::FontHandle(); }
  // The control that gets the focus when the form shows.
  TWinControl* ActiveControl() const { return FActiveControl; }
  void SetActiveControl(TWinControl* Value);
  // Asked by Close: false keeps the form as it is. The default asks OnCloseQuery.
  virtual bool CloseQuery();
  std::function<void(TObject* Sender, bool& CanClose)> OnCloseQuery;

  // An MDI frame's default handling goes through DefFrameProc with its client window.
  void DefaultHandler(TMessage& Message) override;

  std::function<void(TObject* Sender)> OnCreate;
  std::function<void(TObject* Sender, TCloseAction& Action)> OnClose;

 protected:
  // A top-level window owned by the application window, hidden until shown.
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
  void DestroyWnd() override;
  // MDI children are made by CreateMDIWindow under the main form's client window.
  void CreateWindowHandle(const TCreateParams& Params) override;
  // MDI children are destroyed by their client window (WM_MDIDESTROY).
  void DestroyWindowHandle() override;
  void WndProc(TMessage& Message) override;
  // CM_DIALOGKEY (WParam: the key): Tab and Shift+Tab move the focus on, Return clicks the focused
  // button or else the default button, Escape the cancel button; Result 1 when the key was used.
  virtual void DialogKey(TMessage& Message);
  // Places the form by Position before it first shows.
  void PlaceForm();
  void ApplyLayered();
  // The client window of the application's MDI frame; raises EInvalidOperation "Cannot create
  // form. No MDI forms are currently active" when there is none.
  static HWND ActiveMDIClient();
  void* FClientHandle = nullptr;

 private:
  TModalResult FModalResult = mrNone;
  uint32_t FFormState = 0;
  bool FAlphaBlend = false;
  uint8_t FAlphaBlendValue = 255;
  bool FTransparentColor = false;
  uint32_t FTransparentColorValue = 0;
  bool FOldCreateOrder = false;
  TMainMenu* FMenu = nullptr;
  TFormStyle FFormStyle = fsNormal;
  TFormBorderStyle FBorderStyle = bsSizeable;
  TBorderIcons FBorderIcons = biSystemMenu | biMinimize | biMaximize;
  TPosition FPosition = poDesigned;
  bool FPlaced = false;
  int FClientWidth = -1, FClientHeight = -1;
  TColor FColor = clNone;
  TWinControl* FActiveControl = nullptr;
  std::unique_ptr<TFont> FFont;
};

// Makes a form of class T and runs its OnCreate once the object is whole, so that what OnCreate
// calls reaches T's own overrides. Threads: user-interface thread only.
template <class T, class... TArgs>
T* CreateForm(TArgs&&... Args) {
  auto form = std::make_unique<T>(std::forward<TArgs>(Args)...);
  form->DoCreate();
  return form.release();
}

// The class library's key message: a dialog key offered to the focused control's form.
constexpr uint32_t CM_DIALOGKEY = CM_BASE + 5;

class TForm : public TCustomForm {
 public:
  using TCustomForm::TCustomForm;
  const char* ClassName() const override { return "TForm"; }
};

// The form Control is on (Control itself when it is one); null when none.
TCustomForm* GetParentForm(TControl* Control);

class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;
  const char* ClassName() const override { return "TApplication"; }

  void Initialize() {}
  // Runs the message loop until Terminate (or WM_QUIT); returns at once when there is no main form.
  void Run();
  // Handles every waiting message, then returns.
  void ProcessMessages();
  // Handles one message, or waits for one when none is waiting.
  void HandleMessage();
  void Terminate();
  bool Terminated() const { return FTerminated; }
  // Reports the exception being handled (call inside a catch block): OnException when it is set,
  // otherwise a message box; EAbort is dropped silently.
  void HandleException(TObject* Sender);
  // Shows an exception's message in a message box with the application title.
  void ShowException(const Exception& E);
  // The hidden application window.
  void* Handle() const { return FHandle; }
  TCustomForm* MainForm() const { return FMainForm; }
  void SetMainForm(TCustomForm* Form) { FMainForm = Form; }
  // The title is the application window's text (the task bar shows it).
  const WideString& Title() const { return FTitle; }
  void SetTitle(const WideString& Value);

  // The status hint: set when the mouse rests on a control; OnHint tells of each change.
  const AnsiString& Hint() const { return FHint; }
  void SetHint(const AnsiString& Value);
  // The hint window of the control under the mouse: a mouse move onto a control with a hint (its
  // own or a parent's) and ShowHint (its own or a parent's) starts the hint timer; HintPause later
  // (HintShortPause while a hint shows) the control gets CM_HINTSHOW and, unless it answers
  // non-zero or leaves no text, the hint window of the class it chose shows the text below the
  // mouse; HintHidePause later the window hides. A key, a mouse button or leaving the control
  // cancels the hint. The timer runs on the application window's WM_TIMER.
  // Threads: user-interface thread only.
  void CancelHint();
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool Value);
  int HintPause() const { return FHintPause; }
  void SetHintPause(int Value) { FHintPause = Value; }
  int HintShortPause() const { return FHintShortPause; }
  void SetHintShortPause(int Value) { FHintShortPause = Value; }
  int HintHidePause() const { return FHintHidePause; }
  void SetHintHidePause(int Value) { FHintHidePause = Value; }
  // The hint window while a hint shows, else null.
  THintWindow* HintWindow() const { return FHintWindow.get(); }
  // The control whose hint the timer is about (waiting or showing), else null.
  TControl* HintControl() const { return FHintControl; }
  // Offers an action without its own OnExecute to the application window's hooks, then to
  // OnActionExecute; true when one of them took it. Threads: user-interface thread only.
  bool ExecuteAction(TBasicAction* Action);
  std::function<void(TBasicAction* Action, bool& Handled)> OnActionExecute;
  // Hints of controls with an action that has a shortcut read "hint (shortcut)".
  bool HintShortCuts() const { return FHintShortCuts; }
  void SetHintShortCuts(bool Value) { FHintShortCuts = Value; }
  // Functions that see the application window's messages first; one that returns true handles it.
  using TWindowHook = std::function<bool(TMessage& Message)>;
  void HookMainWindow(void* Id, TWindowHook Hook);
  void UnhookMainWindow(void* Id);
  // The modeless dialog whose keyboard navigation the loop runs (IsDialogMessage), or null.
  void* DialogHandle() const { return FDialogHandle; }
  void SetDialogHandle(void* Value) { FDialogHandle = Value; }
  // The control under the mouse, as the hint code looks for it.
  TControl* MouseControl() const { return FMouseControl; }
  void SetMouseControl(TControl* Value);

  std::function<void(TObject* Sender)> OnHint;
  std::function<void(MSG& Msg, bool& Handled)> OnMessage;
  std::function<void(TObject* Sender, const Exception& E)> OnException;
  std::function<void(TObject* Sender, bool& Done)> OnIdle;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  bool ProcessMessage();
  // A dialog key (Tab, Return, Escape) pressed in a form that its control does not take itself:
  // offered to the form (CM_DIALOGKEY); true when used up.
  bool FormKeyDown(MSG& Msg);
  void Idle();
  void WndProc(TMessage& Message);
  // Mouse tracking of the message loop: enter and leave, and the hint timer.
  void HintMouseMessage(const MSG& Msg);
  bool IsHintMsg(const MSG& Msg);
  void HintTimerExpired();
  void ActivateHint(POINT CursorPos);
  void StartHintTimer(int Pause);
  void StopHintTimer();
  // What the hint timer is doing for HintControl.
  enum THintState { hsNone, hsWaiting, hsShowing, hsHidden };
  THintState FHintState = hsNone;
  TControl* FHintControl = nullptr;
  std::unique_ptr<THintWindow> FHintWindow;
  const THintWindowClass* FHintWindowClass = nullptr;
  bool FShowHint = true;
  int FHintPause = 500;
  int FHintShortPause = 50;
  int FHintHidePause = 2500;
  void* FHandle = nullptr;
  bool FTerminated = false;
  TCustomForm* FMainForm = nullptr;
  WideString FTitle;
  AnsiString FHint;
  bool FHintShortCuts = true;
  std::vector<std::pair<void*, TWindowHook>> FWindowHooks;
  void* FDialogHandle = nullptr;
  TControl* FMouseControl = nullptr;
};

extern TApplication* Application;
// The class of hint window the application offers a control in CM_HINTSHOW.
extern const THintWindowClass* HintWindowClass;
// Where the mouse is (screen coordinates) for the hint timer; tests replace it.
extern std::function<POINT()> HintCursorPos;

// The class library's start-up and shutdown: the first and last units of the program.
void ClasslibInitialize();
void ClasslibFinalize();
