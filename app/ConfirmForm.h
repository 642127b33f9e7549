// The one modal dialog of every question and notice of the program: a white window with an icon,
// a title, a message, a row of buttons, an optional "do not remind me again" check box, and an
// optional countdown after which the dialog answers OK by itself.
#pragma once
#include <cstdint>

#include "classlib/Forms.h"
#include "widgets/UniForms.h"

class TUniPanel;
class TUniButton;
class TUniCheckBox;
class TTimer;
class TConfirmControl;

// The button sets of ShowConfirmDialog.
constexpr uint8_t cbsOk = 0, cbsOkCancel = 1, cbsYes = 2, cbsYesNo = 4, cbsYesNoCancel = 5;

class TConfirmForm : public TUniForm {
 public:
  // Builds the form and its controls. Threads: user-interface thread only, as every call below.
  explicit TConfirmForm(TComponent* AOwner);
  const char* ClassName() const override { return "TConfirmForm"; }

  // OnCreate: no countdown, the timer stopped, the body on the panel, the texts applied.
  void FormCreate(TObject* Sender);
  // The buttons' captions (OK with the countdown while it is at least 1) and the check-box text.
  void ApplyTexts();
  // One second of the countdown: OK shows the count, the count goes down, and below 1 the dialog
  // answers OK.
  void Timer1Timer(TObject* Sender);
  // Shows the buttons of a set and places them (other sets leave the buttons as they are).
  void LayoutButtons(uint8_t Buttons);

  TUniPanel* Panel1 = nullptr;
  TUniButton* BtnOk = nullptr;
  TUniButton* BtnYes = nullptr;
  TUniButton* BtnNo = nullptr;
  TUniButton* BtnCancel = nullptr;
  TUniCheckBox* cbAgain = nullptr;
  TTimer* Timer1 = nullptr;
  TConfirmControl* Body = nullptr;
  int32_t Countdown = 0;
  uint8_t ButtonSet = 0;

 protected:
  // A top-level window of its own with a taskbar button, class "lorvuDialogsForm".
  void CreateParams(TCreateParams& Params) override;
  // Escape answers as the window's close does (Cancel).
  void DialogKey(TMessage& Message) override;
  void WndProc(TMessage& Message) override;
};

// What the "do not remind me again" check box keeps for one place of the program that asks: once
// the user ticks it, that place's later questions are answered with the answer given then,
// without a dialog. A place that offers the check box keeps one of these for the process's life.
struct TConfirmReminder {
  bool DoNotRemind = false;
  TModalResult Answer = mrNone;
};

// Builds, shows modally and frees the dialog; returns the answer: OK 1, Cancel 2 (also the window's
// close and Escape), Yes 6, No 7, and OK when the countdown of Timeout seconds runs out (negative or
// 0: none). The dialog belongs to the application whatever Owner (the asking form, or nil) is,
// and shows centred on the main form, or on the screen while that is minimised or hidden. With
// ShowCheckBox the check box shows; with a Reminder too, a tick is kept there (see TConfirmReminder).
// Threads: user-interface thread only; serves messages while the dialog is up.
TModalResult ShowConfirmDialog(TCustomForm* Owner, uint8_t IconKind, uint8_t Buttons, const WideString& Caption,
                               const WideString& Title, const WideString& Message, int32_t Timeout,
                               bool ShowCheckBox, TConfirmReminder* Reminder = nullptr);
// The dialog with the warning icon (kind 1) and with the question icon (kind 2, the program's own
// prompts).
TModalResult ShowWarningDialog(TCustomForm* Owner, uint8_t Buttons, const WideString& Caption, const WideString& Title,
                               const WideString& Message, int32_t Timeout, bool ShowCheckBox = false,
                               TConfirmReminder* Reminder = nullptr);
TModalResult ShowQuestionDialog(TCustomForm* Owner, uint8_t Buttons, const WideString& Caption,
                                const WideString& Title, const WideString& Message, int32_t Timeout,
                                bool ShowCheckBox = false, TConfirmReminder* Reminder = nullptr);

// True on Windows Vista and later (major version 6 or more). Threads: any.
bool IsVistaOrLater();
// The program's own windows are top-level windows of their own with a taskbar button: the
// desktop as parent, the application-window style on and the tool-window style off, and the
// window class name given. Threads: user-interface thread only.
void OwnTopLevelWindow(TCreateParams& Params, const char* WinClassName);
