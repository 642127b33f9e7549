// Wide text for controls: UTF-16 captions and hints of any control, Unicode windows for windowed
// controls, and the subclassing that lets the 8-bit class library talk to those windows.
#pragma once
#include <memory>

#include "classlib/Controls.h"
#include "unicode/UniClasses.h"

// Raises EAssertionFailed "Assertion failure (<Unit>, line <Line>)" when Condition is false.
void UniAssert(bool Condition, const char* Unit, int Line);

// Unit start and end (after the Unicode runtime's units).
void UniControlsInitialize();
void UniControlsFinalize();

// The registered message "UniControls.DestroyWindow": a control that performs it on itself after
// WM_DESTROY has its window un-subclassed.
uint32_t WM_UNI_DESTROYWINDOW();

// The wide shadow of a control's 8-bit Text and Hint.
class TWideControlHelper : public TWideComponentHelper {
 public:
  TWideControlHelper(TControl* AControl, TWideComponentHelperList* HelperList)
      : TWideComponentHelper(AControl, HelperList), Control(AControl) {}
  const char* ClassName() const override { return "TWideControlHelper"; }
  TControl* Control;
  WideString WideCaption;
  WideString WideHint;
};

// Threads: every operation below runs on the user-interface thread only; none waits.

WideString GetControlWideText(TControl* Control);
void SetControlWideText(TControl* Control, const WideString& Value);
WideString GetControlWideHint(TControl* Control);
void SetControlWideHint(TControl* Control, const WideString& Value);
// True without an action link, else when the link does not carry the caption (hint).
bool IsControlCaptionStored(TControl* Control);
bool IsControlHintStored(TControl* Control);
// The wide text kept for a control while it has no window; Default without a helper.
WideString GetStoredWideText(TControl* Control, const WideString& Default);
void SetStoredWideText(TControl* Control, const WideString& Value);
TWideControlHelper* FindWideControlHelper(TControl* Control, bool CreateIfMissing);

// Makes the window of a windowed control as a Unicode window (8-bit on systems without the wide
// API). SystemClass names the system class the control imitates, or is empty.
void CreateUnicodeWindowHandle(TWinControl* Control, const TCreateParams& Params, const WideString& SystemClass,
                               bool IDEWindow = false);
// Registers "<window class name>.UnicodeClass" and returns that name.
WideString RegisterUnicodeClass(const TCreateParams& Params, bool IDEWindow = false);
// Attaches the trap to the control's (Unicode) window and gives the window its wide text.
void SubClassUnicodeControl(TWinControl* Control, const char* Caption, bool IDEWindow = false);
// The control whose Unicode window is inside CreateWindowExW, or null.
TWinControl* ControlBeingCreated();

// Hints: the first non-empty wide hint of the control and its parents; the parts before and after
// the first "|" (the whole text for both when there is none).
WideString GetWideHintOfControl(TControl* Control);
WideString ShortHintPart(const WideString& Hint);
WideString LongHintPart(const WideString& Hint);

// The UTF-16 character of a WM_CHAR message that may be packed for the 8-bit library (code 255
// with the character in the high word).
wchar_t GetWideCharOfCharMessage(const TMessage& Message);
void SetWideCharOfCharMessage(TMessage& Message, wchar_t Ch);
// Packing and unpacking of WM_CHAR for the 8-bit library.
void MakeWMCharMsgSafeForAnsi(TMessage& Message);
void RestoreWMCharMsg(TMessage& Message);

// A list control that takes wide items.
class IWideListControl {
 public:
  virtual ~IWideListControl() = default;
  virtual void AddItem(const WideString& Item, TObject* AObject) = 0;
};

// Adds an item to a list-type control: wide when it takes wide items, else its 8-bit form.
void AddWideItemToListControl(TControl* Control, const WideString& Item, TObject* AObject);

// ---------------------------------------------------------------------------------------------
// Hint window

// On CM_HINTSHOW: a plain hint window becomes the Unicode one, which then gets the hint record
// itself as its data and the 8-bit form of the short part of the control's wide hint.
void PrepareWideHintShow(THintInfo& HintInfo);
// Data is a hint record prepared for a Unicode hint window.
bool IsWideHintData(const void* Data);
// The wide text behind a prepared record's 8-bit hint string (that string, widened, when an
// application handler changed it).
WideString GetWideHintText(const THintInfo& HintInfo);

class TUniCustomHintWindow : public THintWindow {
 public:
  using THintWindow::THintWindow;
  const char* ClassName() const override { return "TUniCustomHintWindow"; }
  static const THintWindowClass Class;
  WideString Caption() { return GetControlWideText(this); }
  void SetCaption(const WideString& Value) { SetControlWideText(this, Value); }
  void ActivateHint(RECT Rect, const AnsiString& Hint) override;
  void ActivateHintData(RECT Rect, const AnsiString& Hint, void* Data) override;
  RECT CalcHintRect(int MaxWidth, const AnsiString& Hint, void* Data) override;

 protected:
  void CreateWindowHandle(const TCreateParams& Params) override;
  void Paint(HDC DC) override;
  void WndProc(TMessage& Message) override;
  bool FActivating = false;
  bool FBlockPaint = false;
};
