#include "app/ConfirmForm.h"

#include <cmath>
#include <cstdio>

#include "classlib/ExtCtrls.h"
#include "classlib/WinApi.h"
#include "tasks/Utils.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/RichText.h"
#include "toolkit/shrControls.h"
#include "widgets/UniExtCtrls.h"
#include "widgets/UniStdCtrls.h"

namespace {
// Language string ids of the dialog.
enum : uint8_t { idCheckText = 43, idYes = 44, idNo = 45, idCancel = 46, idOk = 47 };
// Posted to the dialog once its modal loop runs: it comes to the front unless it is there.
constexpr UINT CM_CONFIRM_FRONT = WM_APP + 1;

int RoundHalfEven(double Value) { return static_cast<int>(std::lrint(Value)); }

TUniButton* MakeButton(TConfirmForm* Form, TWinControl* Parent, int Left, const std::function<void()>& OnClick) {
  auto* b = new TUniButton(Form);
  b->SetParent(Parent);
  b->SetBounds(Left, 144, 75, 25);
  b->OnClick = [OnClick](TObject*) { OnClick(); };
  return b;
}
}  // namespace

bool IsVistaOrLater() {
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof v;
  return GetVersionExW(&v) && v.dwMajorVersion >= 6;
}

TConfirmForm::TConfirmForm(TComponent* AOwner) : TUniForm(AOwner) {
  SetClientSize(347, 199);
  SetColor(clWhite);
  SetBorderStyle(bsSingle);
  SetBorderIcons(biSystemMenu);
  SetPosition(poOwnerFormCenter);
  Font()->SetName("MS Sans Serif");
  Font()->SetHeight(-11);
  Panel1 = new TUniPanel(this);
  Panel1->SetParent(this);
  Panel1->SetBevelOuter(bvNone);
  Panel1->SetAlign(alClient);
  BtnOk = MakeButton(this, Panel1, 12, [this] { SetModalResult(mrOk); });
  BtnYes = MakeButton(this, Panel1, 92, [this] { SetModalResult(mrYes); });
  BtnNo = MakeButton(this, Panel1, 172, [this] { SetModalResult(mrNo); });
  BtnNo->SetDefault(true);
  BtnCancel = MakeButton(this, Panel1, 252, [this] { SetModalResult(mrCancel); });
  BtnCancel->SetDefault(true);
  cbAgain = new TUniCheckBox(this);
  cbAgain->SetParent(Panel1);
  cbAgain->SetBounds(23, 175, 13, 15);
  Timer1 = new TTimer(this);
  Timer1->SetEnabled(false);
  Timer1->SetInterval(1000);
  Timer1->OnTimer = [this](TObject* Sender) { Timer1Timer(Sender); };
  OnCreate = [this](TObject* Sender) { FormCreate(Sender); };
  // A form shown modally only gets its result; when shown otherwise it frees itself on close.
  OnClose = [](TObject*, TCloseAction& Action) { Action = caFree; };
}

void OwnTopLevelWindow(TCreateParams& Params, const char* WinClassName) {
  Params.ExStyle = (Params.ExStyle | WS_EX_APPWINDOW) & ~WS_EX_TOOLWINDOW;
  Params.WndParent = GetDesktopWindow();
  snprintf(Params.WinClassName, sizeof Params.WinClassName, "%s", WinClassName);
}

void TConfirmForm::CreateParams(TCreateParams& Params) {
  TUniForm::CreateParams(Params);
  OwnTopLevelWindow(Params, "lorvuDialogsForm");
}

void TConfirmForm::FormCreate(TObject*) {
  Countdown = 0;
  Timer1->SetEnabled(false);
  Body = new TConfirmControl(this);
  Body->SetParent(Panel1);
  Body->SetBackgroundStyle(bsSharedBackground);
  Body->SetBackgroundTranslucency(bt100Percent);
  Body->SetAlign(alClient);
  cbAgain->SetVisible(false);
  if (!IsVistaOrLater()) SetWindowRgn(static_cast<HWND>(Handle()), CreateRoundRectRgn(0, 0, Width(), Height(), 3, 3), TRUE);
  ApplyTexts();
}

void TConfirmForm::ApplyTexts() {
  WideString ok = GetString(idOk);
  BtnOk->SetCaption(Countdown >= 1 ? TUtils::WideFormat(L"%s(%d)", ok.c_str(), Countdown) : ok);
  BtnYes->SetCaption(GetString(idYes));
  BtnNo->SetCaption(GetString(idNo));
  BtnCancel->SetCaption(GetString(idCancel));
  cbAgain->SetCaption(L"");
  if (Body) Body->SetCheckText(GetString(idCheckText));
}

void TConfirmForm::Timer1Timer(TObject*) {
  BtnOk->SetCaption(TUtils::WideFormat(L"%s(%d)", GetString(idOk).c_str(), Countdown));
  --Countdown;
  if (Countdown < 1) {
    SetModalResult(mrOk);
    Timer1->SetEnabled(false);
  }
}

void TConfirmForm::LayoutButtons(uint8_t Buttons) {
  ButtonSet = Buttons;
  int w = Width();
  auto show = [](std::initializer_list<TUniButton*> On, std::initializer_list<TUniButton*> Off) {
    for (TUniButton* b : On) b->SetVisible(true);
    for (TUniButton* b : Off) b->SetVisible(false);
  };
  auto place = [](TUniButton* B, int Left) { B->SetBounds(Left, B->Top(), B->Width(), B->Height()); };
  int half = RoundHalfEven(w / 2.0);
  switch (Buttons) {
    case cbsOk:
      show({BtnOk}, {BtnYes, BtnNo, BtnCancel});
      place(BtnOk, half - RoundHalfEven(BtnOk->Width() / 2.0));
      break;
    case cbsOkCancel:
      show({BtnOk, BtnCancel}, {BtnYes, BtnNo});
      place(BtnOk, half - BtnOk->Width() - 5);
      place(BtnCancel, half + 5);
      SetActiveControl(BtnCancel);
      break;
    case cbsYes:
      show({BtnYes}, {BtnOk, BtnNo, BtnCancel});
      place(BtnYes, half - RoundHalfEven(BtnYes->Width() / 2.0));
      break;
    case cbsYesNo:
      show({BtnYes, BtnNo}, {BtnOk, BtnCancel});
      place(BtnYes, half - BtnYes->Width() - 5);
      place(BtnNo, half + 5);
      SetActiveControl(BtnNo);
      break;
    case cbsYesNoCancel:
      show({BtnYes, BtnNo, BtnCancel}, {BtnOk});
      place(BtnYes, RoundHalfEven(w / 3.0) - BtnYes->Width() + 5);
      place(BtnNo, BtnYes->Left() + BtnYes->Width() + 15);
      place(BtnCancel, BtnNo->Left() + BtnNo->Width() + 15);
      SetActiveControl(BtnCancel);
      break;
    default: break;
  }
}

void TConfirmForm::DialogKey(TMessage& Message) {
  if (Message.WParam == VK_ESCAPE) {
    Close();
    Message.Result = 1;
    return;
  }
  TUniForm::DialogKey(Message);
}

void TConfirmForm::WndProc(TMessage& Message) {
  if (Message.Msg == CM_CONFIRM_FRONT) {
    // Also when the owner is minimised or behind another program's window: the countdown must
    // never run out unseen.
    HWND self = static_cast<HWND>(Handle());
    if (GetForegroundWindow() != self) TUtils::ForceForegroundWindow(self);
    return;
  }
  TUniForm::WndProc(Message);
}

TModalResult ShowConfirmDialog(TCustomForm* Owner, uint8_t IconKind, uint8_t Buttons, const WideString& Caption,
                               const WideString& Title, const WideString& Message, int32_t Timeout,
                               bool ShowCheckBox, TConfirmReminder* Reminder) {
  if (ShowCheckBox && Reminder && Reminder->DoNotRemind) return Reminder->Answer;
  // Owned by the application: centred on the main form (on the screen while that is minimised).
  (void)Owner;
  std::unique_ptr<TConfirmForm> form(CreateForm<TConfirmForm>(Application));
  form->HandleNeeded();  // the buttons are laid out by the window's size
  form->SetFormStyle(fsStayOnTop);
  form->SetCaption(Caption);
  form->Body->SetIconKind(IconKind);
  form->Body->SetTitle(Title);
  form->Body->SetCheckText(GetString(idCheckText));
  for (TUniButton* b : {form->BtnOk, form->BtnYes, form->BtnNo, form->BtnCancel}) b->BringToFront();
  if (ShowCheckBox) {
    form->cbAgain->SetVisible(true);
    form->cbAgain->BringToFront();
  } else {
    form->Body->CheckPart()->SetVisible(false);
  }
  if (Timeout >= 0) {
    form->Countdown = Timeout;
    if (Timeout > 0) form->Timer1->SetEnabled(true);
  }
  if (!Message.empty()) form->Body->SetMessage(Message);
  form->LayoutButtons(Buttons);
  PostMessageW(static_cast<HWND>(form->Handle()), CM_CONFIRM_FRONT, 0, 0);
  TModalResult result = form->ShowModal();
  if (ShowCheckBox && Reminder) {
    Reminder->DoNotRemind = form->cbAgain->Checked();
    Reminder->Answer = result;
  }
  return result;
}

TModalResult ShowWarningDialog(TCustomForm* Owner, uint8_t Buttons, const WideString& Caption, const WideString& Title,
                               const WideString& Message, int32_t Timeout, bool ShowCheckBox,
                               TConfirmReminder* Reminder) {
  return ShowConfirmDialog(Owner, 1, Buttons, Caption, Title, Message, Timeout, ShowCheckBox, Reminder);
}

TModalResult ShowQuestionDialog(TCustomForm* Owner, uint8_t Buttons, const WideString& Caption,
                                const WideString& Title, const WideString& Message, int32_t Timeout,
                                bool ShowCheckBox, TConfirmReminder* Reminder) {
  return ShowConfirmDialog(Owner, 2, Buttons, Caption, Title, Message, Timeout, ShowCheckBox, Reminder);
}
