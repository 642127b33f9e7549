// The record window: records from a capture device, optionally over a background music file,
// into a file of the chosen format. It drives the global Recorder; the wizard buttons of the
// base stay hidden and the window has its own start/stop and open-folder buttons, a level bar
// and a clock of the recording's seconds.
#pragma once
#include <cstdint>

#include "app/uBaseTaskForm.h"

class TUniEdit;
class TUniLabel;
class TUniButton;
class TUniComboBox;
class TUniTrackBar;
class TUniProgressBar;
class TOpenDialog;
class TSaveDialog;
class TTimer;
class TPopupMenu;

class TRecordOverMusicForm : public TBaseTaskForm {
 public:
  // Builds the controls; OnCreate (run by CreateForm) fills and words them.
  // Threads: user-interface thread only, as every call below.
  explicit TRecordOverMusicForm(TComponent* AOwner);
  // Off the level reports and the bus first, then a running recording is stopped and its file
  // finished: what was recorded up to the close is kept.
  ~TRecordOverMusicForm() override;
  const char* ClassName() const override { return "TRecordOverMusicForm"; }

  // The wizard's buttons are hidden: nothing to do.
  void DoBack() override {}
  void DoNext() override {}
  void DoOpenOutputFolder() override {}
  void UpdateTitle() override;
  void ApplyLanguage() override;

  // OnCreate: the base's part, the level reports and the bus handlers, the device list, the
  // sliders and the texts.
  void FormCreate(TObject* Sender);
  // The background: the open dialog's choice, or empty when it is cancelled.
  void btnSelectBkClick(TObject* Sender);
  // Stops a running recording; else asks for the output's name and starts one. A start that
  // fails is a notice.
  void btnStartRecordClick(TObject* Sender);
  // One second of the clock.
  void Timer1Timer(TObject* Sender);
  // The file manager with the last output selected.
  void btnOpenFolderClick(TObject* Sender);
  void OnRecordStarted(TObject* Sender);
  // Back to idle; a recording that failed is a notice.
  void OnRecordStopped(TObject* Sender);

  // A slider position of 0..50 as a volume of 0..65535 (rounded half to even).
  static uint16_t SliderVolume(int Position);

  TUniEdit* edtBkMusic = nullptr;
  TUniLabel* lbBkMusic = nullptr;
  TUniButton* btnSelectBk = nullptr;
  TUniLabel* lbInputDevice = nullptr;
  TUniComboBox* cbInputDevices = nullptr;
  TUniComboBox* cbOutputFormat = nullptr;
  TUniLabel* lbOutputSet = nullptr;
  TUniLabel* lbOutputFormat = nullptr;
  TUniLabel* lbBkVolume = nullptr;
  TUniLabel* lbInputVolume = nullptr;
  TUniTrackBar* tbVolume1 = nullptr;  // input
  TUniTrackBar* tbVolume2 = nullptr;  // background
  TUniButton* btnStartRecord = nullptr;
  TOpenDialog* DlgOpen = nullptr;
  TSaveDialog* DlgSave = nullptr;
  TUniButton* btnOpenFolder = nullptr;
  TUniProgressBar* pbIndirector = nullptr;  // the input level
  TUniLabel* lbInputSet = nullptr;
  TUniLabel* lbRecordDuration = nullptr;
  TTimer* Timer1 = nullptr;
  TPopupMenu* pmStartRecord = nullptr;

  uint32_t RecordSeconds() const { return FSeconds; }
  const WideString& LastOutput() const { return FLastOutput; }

 protected:
  // The notice of a failed recording, posted by OnRecordStopped.
  void WndProc(TMessage& Message) override;

 private:
  // The start button's text and the controls of the idle or the recording state.
  void ShowRecording(bool On);
  // A notice: the title and the message given, OK only.
  void Notice(const WideString& Title, const WideString& Message);

  uint32_t FSeconds = 0;
  WideString FLastOutput;
  bool FShownRecording = false;
};

// Opens the record window: made on first use, shown modeless and brought to the front.
// Threads: user-interface thread only.
void ShowRecordTask(TComponent* Owner);
