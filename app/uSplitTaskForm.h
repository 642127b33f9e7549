// The split window, opened by both the split and the cut tools: page 1 picks the source file and
// the output folder and shows the file's properties, page 2 builds the list of time segments by
// hand (two sliders in milliseconds) or evenly (2 to 20 equal parts) and plays them for a listen,
// page 3 runs the split worker and shows each segment's progress.
#pragma once
#include <atomic>
#include <memory>
#include <vector>

#include "app/uBaseTaskForm.h"
#include "tasks/SplitUnit.h"

class TUniPageControl;
class TUniTabSheet;
class TUniLabel;
class TUniEdit;
class TUniMemo;
class TUniComboBox;
class TUniListBox;
class TUniGroupBox;
class TUniTrackBar;
class TUniProgressBar;
class TOpenDialog;
class TNavigateTabCaptionControl;
class TAudioPlayer;

class TSplitTaskForm : public TBaseTaskForm {
 public:
  // Builds the pages and their controls; OnCreate (run by CreateForm) does the rest.
  // Threads: user-interface thread only, as every call below.
  explicit TSplitTaskForm(TComponent* AOwner);
  // Off the bus first, then the preview stopped and freed; a run still going was stopped and
  // waited for when the window closed.
  ~TSplitTaskForm() override;
  const char* ClassName() const override { return "TSplitTaskForm"; }

  // OnCreate: the base's, then the page tabs hidden, the step strip, the open dialog's filter,
  // the bus handlers and the texts.
  void FormCreate(TObject* Sender);
  void UpdateTitle() override;
  void ApplyLanguage() override;
  void DoBack() override;
  void DoNext() override;
  void DoOpenOutputFolder() override;
  // A finished run's worker may still be winding down: the window waits for it without asking.
  bool CloseQuery() override;

  // The buttons and controls of the pages.
  void btnOpenFileClick();
  void btnSavePathClick();
  void btnStart_DecreaseClick();
  void btnStart_IncreaseClick();
  void btnEnd_DecreaseClick();
  void btnEnd_IncreaseClick();
  void TrackBarStartChange();
  void TrackBarEndChange();
  void cbSplitChange();
  void btnAddSplitClick();
  void btnDeleteClick();
  void btnClearClick();
  void btnPlayClick();
  void btnPlaySplitClick();

  // The segments in the order of lbOutparams.
  const std::vector<TAudioCutParam>& Segments() const { return FSegments; }
  const WideString& SourceFile() const { return FSourceFile; }
  // The preview of the source file (from page 2 on), or null.
  TAudioPlayer* Player() const { return FPlayer.get(); }

  TUniPageControl* UniPageControl1 = nullptr;
  TNavigateTabCaptionControl* StepStrip = nullptr;
  TUniTabSheet* tsStep1 = nullptr;
  TUniLabel* lbInputFile = nullptr;
  TUniLabel* lbSavePath = nullptr;
  TUniLabel* lbFileDetails = nullptr;
  TUniPanel* pnlStep1Button = nullptr;
  TUniEdit* edtInputFile = nullptr;
  TUniButton* btnOpenFile = nullptr;
  TUniEdit* edtSavePath = nullptr;
  TUniButton* btnSavePath = nullptr;
  TUniMemo* mmFileDetails = nullptr;
  TUniTabSheet* tsStep2 = nullptr;
  TUniLabel* lbSplitDetails = nullptr;
  TUniPanel* UniPanel1 = nullptr;
  TUniLabel* lbSplit = nullptr;
  TUniButton* btnPlay = nullptr;
  TUniComboBox* cbSplit = nullptr;
  TUniListBox* lbOutparams = nullptr;
  TUniButton* btnAddSplit = nullptr;
  TUniButton* btnDelete = nullptr;
  TUniButton* btnClear = nullptr;
  TUniButton* btnPlaySplit = nullptr;
  TUniGroupBox* UniGroupBox1 = nullptr;
  TUniPanel* UniPanel2 = nullptr;
  TUniLabel* lbStart = nullptr;
  TUniLabel* lbEnd = nullptr;
  TUniLabel* lbSelectionRange = nullptr;
  TUniTrackBar* TrackBarStart = nullptr;
  TUniTrackBar* TrackBarEnd = nullptr;
  TUniButton* btnStart_Increase = nullptr;
  TUniButton* btnEnd_Decrease = nullptr;
  TUniButton* btnEnd_Increase = nullptr;
  TUniButton* btnStart_Decrease = nullptr;
  TUniTabSheet* tsStep3 = nullptr;
  TUniLabel* lbProgress = nullptr;
  TUniLabel* lbDetailProgress = nullptr;
  TUniProgressBar* pbProgress = nullptr;
  TUniListBox* lbProgressDetail = nullptr;
  TOpenDialog* DlgOpen = nullptr;

 private:
  // The page's step, buttons, strip texts, and what the page starts (the preview on page 2, the
  // worker on page 3).
  void ShowPage();
  void FillFileDetails(const WideString& FileName);
  void AddSegment(int32_t StartMs, int32_t EndMs);
  WideString SegmentLine(size_t Index) const;
  // The slider rule after either slider moved: the end never at or before the start.
  void KeepEndAfterStart();
  WideString RangeText() const;
  void SetProgressLine(int Index, const WideString& State);
  // Stops the running split (the Stop question answered OK) and waits for it.
  void StopRun();
  // Return: every list and field cleared, page 1.
  void ClearTask();
  // A bus message of the split worker belongs to the run this window follows and names one of
  // its segments.
  bool OfCurrentRun(int Index) const;
  void OnPlayerStarted();
  void OnPlayerStopped();
  void OnSegmentStart(int Index);
  void OnProgress(int Index, int Percent);
  void OnSegmentDone(int Index, bool Succeeded);
  void OnSegmentError(int Index);

  WideString FSourceFile;
  std::vector<TAudioCutParam> FSegments;
  std::unique_ptr<TAudioPlayer> FPlayer;
  // Set while the window follows a run of the split worker (page 3 until Stop or Return).
  bool FFollowingRun = false;
};

// The one split window, or null.
extern TSplitTaskForm* SplitTaskForm;

// Opens the split window (the split and the cut tools): made on first use, shown modeless and brought to the front.
// Threads: user-interface thread only.
void ShowSplitTask(TComponent* Owner);
