// Controls: the base classes of everything that appears on screen. The class library speaks 8-bit
// text: captions and hints are AnsiString, windows are made and answered through the ANSI calls.
#pragma once
#include <memory>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/Graphics.h"
#include "classlib/WinApi.h"

class TWinControl;
class TControlActionLink;
class TBasicAction;

// The class library's own messages.
constexpr uint32_t CM_BASE = 0xB000;
constexpr uint32_t CM_DIALOGCHAR = CM_BASE + 6;
constexpr uint32_t CM_ENABLEDCHANGED = CM_BASE + 12;
constexpr uint32_t CM_TEXTCHANGED = CM_BASE + 18;
constexpr uint32_t CM_MOUSEENTER = CM_BASE + 19;
constexpr uint32_t CM_MOUSELEAVE = CM_BASE + 20;
constexpr uint32_t CM_HINTSHOW = CM_BASE + 48;
// Docking: a dock site is asked to take a client (LParam: TDockClientInfo*, answer 1 when it
// did) and told of the messages of its clients (WParam: the client, LParam: its TMessage*).
constexpr uint32_t CM_DOCKCLIENT = CM_BASE + 49;
constexpr uint32_t CM_DOCKNOTIFICATION = CM_BASE + 53;
constexpr uint32_t CM_BIDIMODECHANGED = CM_BASE + 60;
constexpr uint32_t CM_ACTIONEXECUTE = CM_BASE + 64;
constexpr uint32_t CN_BASE = 0xBC00;
constexpr uint32_t CN_COMMAND = CN_BASE + WM_COMMAND;
constexpr uint32_t CN_NOTIFY = CN_BASE + WM_NOTIFY;
constexpr uint32_t CN_DRAWITEM = CN_BASE + WM_DRAWITEM;
constexpr uint32_t CN_HSCROLL = CN_BASE + WM_HSCROLL;
constexpr uint32_t CN_VSCROLL = CN_BASE + WM_VSCROLL;

// Control state flags.
constexpr uint32_t csCreating = 1 << 0;
constexpr uint32_t csDestroyingHandle = 1 << 1;
constexpr uint32_t csRecreating = 1 << 2;
// Set while the control makes its window (its parent's window may be made meanwhile).
constexpr uint32_t csCreatingHandle = 1 << 3;

// Where a control sits in its parent. The parent lays out its visible aligned children in its
// client area: top ones from the top down (ordered by their Top), bottom ones from the bottom up
// (lowest first), then left and right ones in the height that is left, and alClient ones fill the
// rest.
enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
// The edges of its parent's client area a control that is not aligned keeps its distance to when
// the parent changes size: anchored left and right it stretches, anchored right only it moves
// (likewise top and bottom). The default is left and top: the control stays where it is.
using TAnchors = uint8_t;
constexpr TAnchors akLeft = 1, akTop = 2, akRight = 4, akBottom = 8;

// Mouse buttons and the shift state (keys and buttons held) of a mouse or key message.
enum TMouseButton { mbLeft, mbRight, mbMiddle };
using TShiftState = uint16_t;
constexpr TShiftState ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64;
// The shift state of a mouse message's key flags (MK_...), with Alt read from the keyboard.
TShiftState MouseShiftState(uintptr_t KeyFlags);

// Cursors: the system's ones by negative number (crDefault: the window class's cursor); positive
// numbers are the program's own, set in Screen->SetCursors.
using TCursor = int16_t;
constexpr TCursor crDefault = 0, crNone = -1, crArrow = -2, crCross = -3, crIBeam = -4, crSizeNESW = -6,
                  crSizeNS = -7, crSizeNWSE = -8, crSizeWE = -9, crUpArrow = -10, crHourGlass = -11,
                  crDrag = -12, crNoDrop = -13, crHSplit = -14, crVSplit = -15, crMultiDrag = -16,
                  crSQLWait = -17, crNo = -18, crAppStart = -19, crHelp = -20, crHandPoint = -21,
                  crSizeAll = -22;

class TControl;
struct TDockClientInfo {
  TControl* Control;
  POINT MousePos;
};

// The window that CreateWnd is about to make.
struct TCreateParams {
  const char* Caption;
  DWORD Style;
  DWORD ExStyle;
  int X, Y, Width, Height;
  HWND WndParent;
  void* Param;
  WNDCLASSA WindowClass;
  char WinClassName[64];
};

// A message handler with the object it belongs to, so that a hooked handler chain can be told
// apart from the control's own WndProc.
struct TWindowProcRef {
  TWndMethod Method;
  const void* Target = nullptr;
};

// A visual component: parent, bounds, 8-bit text and hint, and the message path
// Perform -> WindowProc -> WndProc -> DefaultHandler.
class TControl : public TComponent {
 public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;
  const char* ClassName() const override { return "TControl"; }

  TWinControl* Parent() const { return FParent; }
  virtual void SetParent(TWinControl* AParent);

  // Text and Caption are the same property; reading and writing go through WM_GETTEXT and
  // WM_SETTEXT, and a change performs CM_TEXTCHANGED.
  AnsiString Text() { return GetText(); }
  void SetText(const AnsiString& Value);
  AnsiString Caption() { return GetText(); }
  void SetCaption(const AnsiString& Value) { SetText(Value); }
  const AnsiString& Hint() const { return FHint; }
  void SetHint(const AnsiString& Value) { FHint = Value; }
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool Value) { FShowHint = Value; }

  int Left() const { return FLeft; }
  int Top() const { return FTop; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
  bool Visible() const { return FVisible; }
  virtual void SetVisible(bool Value);
  bool Enabled() const { return FEnabled; }
  virtual void SetEnabled(bool Value);

  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign Value);
  TAnchors Anchors() const { return FAnchors; }
  void SetAnchors(TAnchors Value) { FAnchors = Value; }
  // Puts the control above its siblings: a windowed one on top of the window order, a windowless
  // one painted last. Threads: user-interface thread only.
  void BringToFront();
  // The mouse cursor over the control (crDefault: the window class's). Setting it while the mouse
  // is over the control's window shows it at once.
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor Value);
  // The control's window holds the mouse capture; setting it captures or releases the mouse.
  bool MouseCapture();
  void SetMouseCapture(bool Value);

  // Reading order. A control with ParentBiDiMode (the default) follows its parent's mode; setting
  // BiDiMode ends that. A change performs CM_BIDIMODECHANGED, which a windowed control passes on
  // to its children that follow it.
  TBiDiMode BiDiMode() const { return FBiDiMode; }
  void SetBiDiMode(TBiDiMode Value);
  bool ParentBiDiMode() const { return FParentBiDiMode; }
  void SetParentBiDiMode(bool Value);
  // Text reads right to left: a Middle-Eastern system and a mode other than left to right.
  bool UseRightToLeftReading() const { return MiddleEastLocale() && FBiDiMode != bdLeftToRight; }
  // Text and content align to the right: a Middle-Eastern system and bdRightToLeft.
  bool UseRightToLeftAlignment() const { return MiddleEastLocale() && FBiDiMode == bdRightToLeft; }
  // DrawText flags for the control's reading order: with right-to-left alignment a left alignment
  // becomes right and a right one left (centred stays); with right-to-left reading DT_RTLREADING.
  UINT DrawTextBiDiModeFlags(UINT Flags) const;
  UINT DrawTextBiDiModeFlagsReadingOnly() const { return UseRightToLeftReading() ? DT_RTLREADING : 0; }
  // The dock site the control is docked into, or null; ManualDock docks it (null: undocks it).
  TWinControl* HostDockSite() const { return FHostDockSite; }
  void ManualDock(TWinControl* NewDockSite);

  TControlActionLink* ActionLink() const { return FActionLink.get(); }
  // Links the control to an action (null unlinks); the control takes the action's caption and
  // hint (ActionChange with CheckDefaults while loading).
  TBasicAction* Action() const;
  void SetAction(TBasicAction* Value);
  // Lets the linked action update itself (its OnUpdate).
  virtual void InitiateAction();
  uint32_t ControlState() const { return FControlState; }
  void SetControlStateFlag(uint32_t Flag, bool On) {
    FControlState = On ? (FControlState | Flag) : (FControlState & ~Flag);
  }

  // Sends a message through WindowProc and returns its result.
  intptr_t Perform(uint32_t Msg, uintptr_t WParam, intptr_t LParam);
  // The replaceable entry point of every message; initially the control's own WndProc.
  TWindowProcRef WindowProc;
  bool WindowProcIsOwn() const { return WindowProc.Target == this; }

  virtual void WndProc(TMessage& Message);
  virtual void DefaultHandler(TMessage& Message);
  virtual void Invalidate() {}
  virtual void Click();
  std::function<void(TObject* Sender)> OnResize;
  // Windowless controls draw themselves into their parent's device context here.
  virtual void PaintInParent(HDC DC) {}

  std::function<void(TObject* Sender)> OnClick;

 protected:
  friend class TWinControl;
  void Notification(TComponent* AComponent, TOperation Operation) override;
  virtual AnsiString GetText();
  // Copies the action's caption and hint; with CheckDefaults only into empty properties.
  virtual void ActionChange(TObject* Sender, bool CheckDefaults);
  virtual std::unique_ptr<TControlActionLink> CreateActionLink();
  // Mouse messages of the control's window (client coordinates), after the default handling:
  // button down (also a double click, with ssDouble), move and button up.
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {}
  virtual void MouseMove(TShiftState Shift, int X, int Y) {}
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {}
  // The mouse wheel turned by WheelDelta (120 a notch, positive away from the user) with the
  // mouse at MousePos (screen coordinates); true when the control took it (else it goes on to
  // the parent window).
  virtual bool DoMouseWheel(TShiftState Shift, int WheelDelta, POINT MousePos) { return false; }
  // The control's size changed (its window's WM_SIZE, after the aligned children were laid out).
  virtual void Resize();
  // Lays out the parent's aligned children after a change of this control's place or visibility.
  void RequestAlign();
  AnsiString FText;
  TWinControl* FParent = nullptr;
  std::unique_ptr<TControlActionLink> FActionLink;
  AnsiString FHint;
  bool FShowHint = false;
  int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  bool FVisible = true;
  bool FEnabled = true;
  uint32_t FControlState = 0;
  TAlign FAlign = alNone;
  TAnchors FAnchors = akLeft | akTop;
  TCursor FCursor = crDefault;
  TWinControl* FHostDockSite = nullptr;
  TBiDiMode FBiDiMode = bdLeftToRight;
  bool FParentBiDiMode = true;
  // Takes the parent's mode (when following it) and tells the control of a change.
  void ParentBiDiModeChanged();
};

class TWinControl;
// Lays out the clients docked into a dock site: side by side over its client area, each as
// wide as the others.
class TDockManager {
 public:
  explicit TDockManager(TWinControl* DockSite);
  virtual ~TDockManager() = default;
  virtual void InsertControl(TControl* Control);
  virtual void RemoveControl(TControl* Control);
  virtual void ResetBounds();
  int ClientCount() const { return (int)FClients.size(); }

 protected:
  TWinControl* FDockSite;
  std::vector<TControl*> FClients;
};

// A control with a window of its own. The window is made on first use of Handle() (never during
// construction, so that derived classes are whole when their window procedure first runs), with
// the children's windows after it, and destroyed with the control.
class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;
  const char* ClassName() const override { return "TWinControl"; }

  // The window (an HWND); made when it does not exist yet.
  void* Handle();
  bool HandleAllocated() const { return FHandle != nullptr; }
  void HandleNeeded() { Handle(); }
  // Destroys the window; the next Handle() makes a new one with the same text.
  void RecreateWnd();
  int ControlCount() const { return (int)FControls.size(); }
  TControl* Controls(int Index) const { return FControls[Index]; }

  // The default window procedure: the system class's one for a control that imitates a system
  // class, else DefWindowProcA.
  WNDPROC DefWndProc() const { return FDefWndProc; }
  void SetDefWndProc(WNDPROC Value) { FDefWndProc = Value; }
  // Gives messages to the control; an exception that escapes goes to Application->HandleException.
  void MainWndProc(TMessage& Message);
  // Lets Handle() be set by the first-message procedures (the library's and the Unicode layer's).
  void SetWindowHandle(void* Value) { FHandle = Value; }

  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
  void SetVisible(bool Value) override;
  void SetEnabled(bool Value) override;
  void DefaultHandler(TMessage& Message) override;
  // Reflects WM_COMMAND and WM_NOTIFY to the child control they come from (CN_COMMAND,
  // CN_NOTIFY) and paints the windowless children.
  void WndProc(TMessage& Message) override;
  void PaintControls(HDC DC);
  void Invalidate() override;
  bool Focused();
  virtual bool CanFocus();
  virtual void SetFocus();
  // Lays out the visible aligned children in the client area (see TAlign), and moves or stretches
  // the anchored ones by the change of the client area's size since the last layout (see TAnchors).
  void AlignControls();
  // The font of the control's window: its parent's, the stock GUI font at the top.
  virtual void* FontHandle();
  // A dock site takes docked clients; with UseDockManager its dock manager lays them out.
  bool DockSite() const { return FDockSite; }
  void SetDockSite(bool Value);
  bool UseDockManager() const { return FUseDockManager; }
  void SetUseDockManager(bool Value);
  TDockManager* DockManager() const { return FDockManager.get(); }

  // The window procedure of every window of the class library: finds the control by the window's
  // property and hands it the message.
  static LRESULT CALLBACK StdWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
  // The first-message procedure of the class library's window classes.
  static LRESULT CALLBACK InitWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);

 protected:
  friend class TControl;
  std::unique_ptr<TControlActionLink> CreateActionLink() override;
  virtual void CreateParams(TCreateParams& Params);
  // Copies a system window class into Params (the control imitates it).
  void CreateSubClass(TCreateParams& Params, const char* ControlClassName);
  virtual void CreateWnd();
  virtual void CreateWindowHandle(const TCreateParams& Params);
  virtual void DestroyWnd();
  virtual void DestroyWindowHandle();
  virtual void CreateHandle();
  virtual void DestroyHandle();
  // Moves or stretches the anchored children by a change of the client size.
  void AnchorControls(int DX, int DY);
  void InsertControl(TControl* AControl);
  void RemoveControl(TControl* AControl);
  // Made when the control becomes a dock site that uses a dock manager.
  virtual std::unique_ptr<TDockManager> CreateDockManager();
  void UpdateDockManager();

  void* FHandle = nullptr;
  bool FDockSite = false;
  bool FUseDockManager = false;
  std::unique_ptr<TDockManager> FDockManager;
  WNDPROC FDefWndProc = nullptr;
  std::vector<TControl*> FControls;
  // Set while AlignControls places the children (their SetBounds do not ask again).
  bool FAligning = false;
  // The client size the anchored children were last placed for; -1 before the first layout.
  int FAnchorClientWidth = -1, FAnchorClientHeight = -1;
};

// The mouse as the class library sees it: how far it must move with a button down before a drag
// starts.
class TMouse {
 public:
  int DragThreshold() const { return FDragThreshold; }
  void SetDragThreshold(int Value) { FDragThreshold = Value; }
  // The cursor position in screen coordinates.
  POINT CursorPos() const;

 private:
  int FDragThreshold = 5;
};
extern TMouse* Mouse;

// The screen's cursors: the one shown over the whole program (Cursor, crDefault: each control's
// own) and the cursor handle for each cursor number.
class TScreen {
 public:
  ~TScreen();
  // The cursor handle of a number: the program's own when one was set, else the system cursor it
  // stands for (crDefault and unknown numbers: the arrow; crNone: none).
  HCURSOR Cursors(TCursor Index) const;
  // Sets the program's cursor of a number (the screen destroys it when it is replaced or at the
  // end); a system number gets a replacement; null removes it.
  void SetCursors(TCursor Index, HCURSOR Handle);
  TCursor Cursor() const { return FCursor; }
  // Shows the cursor at once; crDefault gives each window its own again.
  void SetCursor(TCursor Value);

 private:
  std::vector<std::pair<TCursor, HCURSOR>> FCursors;
  TCursor FCursor = crDefault;
};
extern TScreen* Screen;

// The class library's window lookup: the two global atoms under which every window it makes
// (and every Unicode window of the widget layer) names its control.
uint16_t WindowAtom();
uint16_t ControlAtom();
// The control whose window is being made (the first-message procedure takes it).
extern TWinControl* CreationControl;
// The control of a window of the class library, or null.
TWinControl* FindControl(HWND Wnd);
HINSTANCE HInstance();

void ControlsInitialize();
void ControlsFinalize();

// ---------------------------------------------------------------------------------------------
// Hints

class THintWindow;

// A class reference for hint windows: its name, its parent class and how to make one.
struct THintWindowClass {
  const char* Name;
  const THintWindowClass* Parent;
  THintWindow* (*Create)(TComponent* AOwner);
  bool InheritsFrom(const THintWindowClass* Other) const {
    for (const THintWindowClass* c = this; c; c = c->Parent)
      if (c == Other) return true;
    return false;
  }
};

// What CM_HINTSHOW (LParam) lets a control change before its hint shows.
struct THintInfo {
  TControl* HintControl = nullptr;
  const THintWindowClass* HintWindowClass = nullptr;
  POINT HintPos{};
  int HintMaxWidth = 300;
  AnsiString HintStr;
  void* HintData = nullptr;
};

// The small pop-up window that shows a hint.
class THintWindow : public TWinControl {
 public:
  explicit THintWindow(TComponent* AOwner);
  const char* ClassName() const override { return "THintWindow"; }
  static const THintWindowClass Class;
  // Shows the window over Rect (screen coordinates) with the text.
  virtual void ActivateHint(RECT Rect, const AnsiString& Hint);
  virtual void ActivateHintData(RECT Rect, const AnsiString& Hint, void* Data);
  // The size the text needs at most MaxWidth wide.
  virtual RECT CalcHintRect(int MaxWidth, const AnsiString& Hint, void* Data);
  void ReleaseHandle() { DestroyHandle(); }

 protected:
  void CreateParams(TCreateParams& Params) override;
  void WndProc(TMessage& Message) override;
  virtual void Paint(HDC DC);
};
