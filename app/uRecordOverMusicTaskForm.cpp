#include "app/uRecordOverMusicTaskForm.h"

#include <algorithm>
#include <cmath>
#include <cwctype>

#include "app/ConfirmForm.h"
#include "app/TaskCaptionBar.h"
#include "classlib/Dialogs.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Menus.h"
#include "classlib/WinApi.h"
#include "tasks/AudioUnit.h"
#include "tasks/EventsManager.h"
#include "tasks/RecordUnit.h"
#include "tasks/Utils.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/XMLParser.h"
#include "unicode/UniClasses.h"
#include "unicode/UniSysUtils.h"
#include "widgets/UniComCtrls.h"
#include "widgets/UniStdCtrls.h"

namespace {

// Language string ids of the window.
enum : uint8_t {
  idTitle = 16,
  idOpenFolder = 26,
  idFailed = 74,
  idBkMusic = 153,
  idInputDevice = 154,
  idSelectBk = 155,
  idInputSet = 156,
  idOutputSet = 157,
  idInputVolume = 158,
  idBkVolume = 159,
  idOutputFormat = 160,
  idStartRecord = 161,
  idStopRecord = 162,
};

constexpr int VolumeSteps = 50;
constexpr int InputVolumeDefault = 50;
constexpr int BackgroundVolumeDefault = 25;
// The notice of a recording that failed, shown once the bus message that told it is over.
constexpr uint32_t WM_RECORD_FAILED = WM_APP + 71;

TRecordOverMusicForm* RecordOverMusicForm = nullptr;


TUniLabel* MakeLabel(TRecordOverMusicForm* Form, int Left, int Top, int Width) {
  auto* l = new TUniLabel(Form);
  l->SetParent(Form);
  l->SetAutoSize(false);
  l->SetBounds(Left, Top, Width, 16);
  return l;
}

TUniButton* MakeButton(TRecordOverMusicForm* Form, int Left, int Top, int Width, int Height) {
  return TaskControl<TUniButton>(Form, Form, Left, Top, Width, Height);
}

TUniComboBox* MakeList(TRecordOverMusicForm* Form, int Left, int Top, int Width) {
  return TaskDropDownList(Form, Form, Left, Top, Width);
}

TUniTrackBar* MakeSlider(TRecordOverMusicForm* Form, int Left, int Top) {
  auto* t = TaskControl<TUniTrackBar>(Form, Form, Left, Top, 170, 30);
  t->SetMax(VolumeSteps);
  t->SetTickStyle(tsNone);
  return t;
}

}  // namespace

TRecordOverMusicForm::TRecordOverMusicForm(TComponent* AOwner) : TBaseTaskForm(AOwner) {
  // Input settings: the background, the device and the two volumes.
  lbInputSet = MakeLabel(this, 24, 84, 300);
  lbBkMusic = MakeLabel(this, 44, 114, 96);
  edtBkMusic = new TUniEdit(this);
  edtBkMusic->SetParent(this);
  edtBkMusic->SetBounds(144, 111, 356, 21);
  edtBkMusic->SetReadOnly(true);  // a read-only edit shows the button face
  btnSelectBk = MakeButton(this, 512, 109, 137, 25);
  btnSelectBk->OnClick = [this](TObject* Sender) { btnSelectBkClick(Sender); };
  lbInputDevice = MakeLabel(this, 44, 149, 96);
  cbInputDevices = MakeList(this, 144, 146, 356);
  lbInputVolume = MakeLabel(this, 44, 190, 96);
  tbVolume1 = MakeSlider(this, 140, 182);
  lbBkVolume = MakeLabel(this, 340, 190, 96);
  tbVolume2 = MakeSlider(this, 436, 182);
  // Output settings: the format.
  lbOutputSet = MakeLabel(this, 24, 240, 300);
  lbOutputFormat = MakeLabel(this, 44, 270, 96);
  cbOutputFormat = MakeList(this, 144, 267, 356);
  for (const TTaskOutputFormat& f : TaskOutputFormats) cbOutputFormat->Items()->Add(f.Item);
  cbOutputFormat->SetItemIndex(0);
  // The recording: start/stop, the clock, the level and the output's folder.
  btnStartRecord = MakeButton(this, 144, 320, 137, 32);
  btnStartRecord->OnClick = [this](TObject* Sender) { btnStartRecordClick(Sender); };
  lbRecordDuration = MakeLabel(this, 300, 329, 100);
  lbRecordDuration->SetCaption(L"00:00:00");
  btnOpenFolder = MakeButton(this, 512, 320, 137, 32);
  btnOpenFolder->SetEnabled(false);
  btnOpenFolder->OnClick = [this](TObject* Sender) { btnOpenFolderClick(Sender); };
  pbIndirector = new TUniProgressBar(this);
  pbIndirector->SetParent(this);
  pbIndirector->SetBounds(144, 372, 505, 14);
  pbIndirector->SetSmooth(true);
  pbIndirector->SetRange(0, 100);
  pbIndirector->SetVisible(false);

  DlgOpen = new TOpenDialog(this);
  DlgOpen->SetOptions(ofHideReadOnly | ofEnableSizing);
  DlgSave = new TSaveDialog(this);
  DlgSave->SetOptions(ofOverwritePrompt | ofHideReadOnly | ofEnableSizing);
  Timer1 = new TTimer(this);
  Timer1->SetEnabled(false);
  Timer1->SetInterval(1000);
  Timer1->OnTimer = [this](TObject* Sender) { Timer1Timer(Sender); };

  // The start button's pop-up menu (a right click), items without actions.
  pmStartRecord = new TPopupMenu(this);
  for (const char* caption : {"A", "B", "C", "D"}) {
    auto* item = new TMenuItem(pmStartRecord);
    item->SetCaption(caption);
    pmStartRecord->Items()->Add(item);
  }
  TWindowProcRef buttonProc = btnStartRecord->WindowProc;
  btnStartRecord->WindowProc = {[this, buttonProc](TMessage& Message) {
                                  if (Message.Msg != WM_CONTEXTMENU) {
                                    buttonProc.Method(Message);
                                    return;
                                  }
                                  POINT p{(short)LOWORD(Message.LParam), (short)HIWORD(Message.LParam)};
                                  if (Message.LParam == -1) GetCursorPos(&p);  // from the keyboard
                                  pmStartRecord->Popup(p.x, p.y);
                                  Message.Result = 0;
                                },
                                buttonProc.Target};

  OnCreate = [this](TObject* Sender) { FormCreate(Sender); };
}

TRecordOverMusicForm::~TRecordOverMusicForm() {
  // No level report reaches this window once it goes, nor a report already queued: the
  // recorder's forwarder looks at OnGain when the report arrives.
  if (Recorder) Recorder->OnGain = nullptr;
  if (EventSource()) {
    EventSource()->OnRecordStarted = nullptr;
    EventSource()->OnRecordStopped = nullptr;
  }
  Timer1->SetEnabled(false);
  if (Recorder && Recorder->Recording()) {
    // The recording so far is the user's: stopped, and its file finished before the window goes.
    Recorder->Stop();
    if (TAuFileOut* out = Recorder->CurrentOutput()) out->Stop(false);
  }
  if (RecordOverMusicForm == this) RecordOverMusicForm = nullptr;
}

void TRecordOverMusicForm::FormCreate(TObject* Sender) {
  TBaseTaskForm::FormCreate(Sender);
  if (Recorder)
    Recorder->OnGain = [this](TObject*, uint16_t Level) { pbIndirector->SetPosition(std::min<int>(Level, 100)); };
  EventSource()->OnRecordStarted = [this](TObject* S) { OnRecordStarted(S); };
  EventSource()->OnRecordStopped = [this](TObject* S) { OnRecordStopped(S); };

  cbInputDevices->Items()->Clear();
  TUniStringList devices;
  TAudioTools::GetCaptureDevices(&devices);
  for (int i = 0; i < devices.Count(); ++i) cbInputDevices->Items()->Add(devices.Get(i));
  if (cbInputDevices->Items()->Count() > 0) cbInputDevices->SetItemIndex(0);
  btnNext->SetVisible(false);
  BtnBack->SetVisible(false);
  btnOpenOutputFolder->SetVisible(false);
  tbVolume1->SetMax(VolumeSteps);
  tbVolume2->SetMax(VolumeSteps);
  tbVolume1->SetPosition(InputVolumeDefault);
  tbVolume2->SetPosition(BackgroundVolumeDefault);
  DlgOpen->SetFilter(TaskOpenFilter(true));
  ApplyLanguage();
}

void TRecordOverMusicForm::UpdateTitle() {
  if (CaptionBar()) CaptionBar()->SetCaption(GetString(idTitle));
  SetCaption(GetString(idTitle));
}

void TRecordOverMusicForm::ApplyLanguage() {
  TBaseTaskForm::ApplyLanguage();
  lbInputSet->SetCaption(GetString(idInputSet));
  lbBkMusic->SetCaption(GetString(idBkMusic));
  lbInputDevice->SetCaption(GetString(idInputDevice));
  btnSelectBk->SetCaption(GetString(idSelectBk));
  lbOutputSet->SetCaption(GetString(idOutputSet));
  lbInputVolume->SetCaption(GetString(idInputVolume));
  lbBkVolume->SetCaption(GetString(idBkVolume));
  lbOutputFormat->SetCaption(GetString(idOutputFormat));
  btnStartRecord->SetCaption(GetString(FShownRecording ? idStopRecord : idStartRecord));
  btnOpenFolder->SetCaption(GetString(idOpenFolder));
}

void TRecordOverMusicForm::btnSelectBkClick(TObject*) {
  edtBkMusic->SetText(DlgOpen->Execute() ? DlgOpen->FileName() : WideString());
}

uint16_t TRecordOverMusicForm::SliderVolume(int Position) {
  // The platform's rounding: to nearest, halves to even (25 of 50 is 32768).
  return (uint16_t)std::lrint(Position * 65535.0 / VolumeSteps);
}

void TRecordOverMusicForm::btnStartRecordClick(TObject*) {
  if (!Recorder) return;
  if (Recorder->Recording()) {
    Recorder->Stop();
    return;
  }
  const TTaskOutputFormat& format = TaskOutputFormat(cbOutputFormat->ItemIndex());
  DlgSave->SetFilter(format.SaveFilter);
  DlgSave->SetDefaultExt(format.Extension);
  DlgSave->SetFileName(L"");
  if (!DlgSave->Execute() || DlgSave->FileName().empty()) return;
  const WideString name = WithOutputExtension(DlgSave->FileName(), format.Extension);
  try {
    Recorder->Start(edtBkMusic->Text(), name, cbInputDevices->ItemIndex(), SliderVolume(tbVolume2->Position()),
                    SliderVolume(tbVolume1->Position()));
  } catch (...) {
    // No device, a device that cannot be opened, a codec that cannot be loaded: nothing was
    // started and nothing written.
    Notice(GetString(idStartRecord) + GetString(idFailed),
           cbInputDevices->ItemIndex() < 0 ? GetString(idInputDevice) : XMLEscape(name));
    return;
  }
  lbRecordDuration->SetCaption(L"00:00:00");
  FLastOutput = name;
}

void TRecordOverMusicForm::Timer1Timer(TObject*) {
  ++FSeconds;
  if (Recorder) lbRecordDuration->SetCaption(TUtils::FormatTimeSec(FSeconds));
}

void TRecordOverMusicForm::btnOpenFolderClick(TObject*) {
  if (!FLastOutput.empty()) TUtils::SelectInExplorer(FLastOutput);
}

void TRecordOverMusicForm::OnRecordStarted(TObject*) {
  FSeconds = 0;
  ShowRecording(true);
}

void TRecordOverMusicForm::OnRecordStopped(TObject*) {
  if (!Recorder) return;
  ShowRecording(false);
  FSeconds = 0;
  // Told after this message: the recorder's run waits for its end until the handlers return.
  if (Recorder->Failed()) PostMessageW(static_cast<HWND>(Handle()), WM_RECORD_FAILED, 0, 0);
}

void TRecordOverMusicForm::ShowRecording(bool On) {
  FShownRecording = On;
  btnStartRecord->SetCaption(GetString(On ? idStopRecord : idStartRecord));
  btnOpenFolder->SetEnabled(!On);
  pbIndirector->SetPosition(0);
  pbIndirector->SetVisible(On);
  Timer1->SetEnabled(On);
}

void TRecordOverMusicForm::Notice(const WideString& Title, const WideString& Message) {
  ShowWarningDialog(this, cbsOk, TUtils::GetAppTitle(), Title, Message, kTaskPromptSeconds);
}

void TRecordOverMusicForm::WndProc(TMessage& Message) {
  if (Message.Msg != WM_RECORD_FAILED) {
    TBaseTaskForm::WndProc(Message);
    return;
  }
  Message.Result = 0;
  Notice(GetString(idFailed), XMLEscape(FLastOutput));
}

void ShowRecordTask(TComponent*) {
  // A window of its own, without an owner; there is at most one.
  if (!RecordOverMusicForm) RecordOverMusicForm = CreateForm<TRecordOverMusicForm>(nullptr);
  RecordOverMusicForm->Show();
  TUtils::ForceForegroundWindow(RecordOverMusicForm->Handle());
}
