// The mix window: an ordered list of two or more files, overlaid or appended one after another
// into one output file of the chosen format. Page 1 holds the list (add, drop, remove, clear,
// reorder, listen to one) and the settings; page 2 follows the mix worker step by step.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "app/uBaseTaskForm.h"

class TUniLabel;
class TUniComboBox;
class TUniListView;
class TUniListBox;
class TUniPageControl;
class TUniTabSheet;
class TUniProgressBar;
class TUniStringList;
class TNavigateTabCaptionControl;
class TOpenDialog;
class TSaveDialog;
class TTimer;
class TFont;
class TAudioPlayer;

class TMixTaskForm : public TBaseTaskForm {
 public:
  // Builds the controls; OnCreate (run by CreateForm) does the rest.
  // Threads: user-interface thread only, as every call below.
  explicit TMixTaskForm(TComponent* AOwner);
  // Stops and frees the preview player and clears the global.
  ~TMixTaskForm() override;
  const char* ClassName() const override { return "TMixTaskForm"; }

  // OnCreate: the base's, dropped files accepted, the bus handlers, page 1, the texts.
  void FormCreate(TObject* Sender);
  void UpdateTitle() override;
  void ApplyLanguage() override;

  void DoBack() override;
  void DoNext() override;
  // Shows the output file selected in the file manager.
  void DoOpenOutputFolder() override;

  void btnAddClick();
  // Deletes the selected rows and renumbers, row 0 selected.
  void btnRemoveClick();
  void btnClearClick();
  void btnMoveUpClick();
  void btnMoveDownClick();
  // The output file: the save dialog for the chosen format; the format's extension is appended
  // to a name that lacks it.
  void btnSelectFolderClick();
  // Plays the selected file, or stops it when it plays.
  void btnPlayClick();
  // Adds a file of known type that its codec accepts and that the list does not hold yet.
  void AddFile(const WideString& FileName);
  // The file list in row order (a copy of the rows' names).
  const TUniStringList& Files() const { return *FileList; }

  TUniPageControl* pcSteps = nullptr;
  TUniTabSheet* tsStep1 = nullptr;
  TUniTabSheet* tsStep3 = nullptr;
  TNavigateTabCaptionControl* StepCaption = nullptr;
  TUniPanel* pnlStep1Button = nullptr;
  TUniLabel* lbOutputFormat = nullptr;
  TUniLabel* lbMixType = nullptr;
  TUniLabel* lbOutputFolder = nullptr;
  TUniLabel* lbSetting = nullptr;
  TUniButton* btnAdd = nullptr;
  TUniButton* btnRemove = nullptr;
  TUniButton* btnClear = nullptr;
  TUniButton* btnMoveUp = nullptr;
  TUniButton* btnMoveDown = nullptr;
  TUniButton* btnSelectFolder = nullptr;
  TUniButton* btnPlay = nullptr;
  TUniComboBox* cbOutputFormat = nullptr;
  TUniComboBox* cbMixdType = nullptr;
  TUniEdit* edtSavePath = nullptr;
  TUniListView* lvFiles = nullptr;
  TUniLabel* lbProgress = nullptr;
  TUniLabel* lbDetailProgress = nullptr;
  TUniProgressBar* pbProgress = nullptr;
  TUniListBox* lbProgressDetail = nullptr;
  TOpenDialog* DlgOpen = nullptr;
  TSaveDialog* DlgSave = nullptr;
  TTimer* Timer1 = nullptr;

 protected:
  // WM_DROPFILES: every dropped file is added.
  void WndProc(TMessage& Message) override;

 private:
  void ShowPage();
  // FileList from the rows, each row's caption its index, row Selection (else 0) selected.
  void Renumber(int Selection);
  // Row i's caption and sub-items.
  void SetRow(int Index, const WideString& Caption, const std::vector<WideString>& SubItems);
  std::vector<WideString> RowSubItems(int Index);
  int SelectedIndex();
  void MoveSelected(int By);
  // Line Index of the progress list: the file's name, three blanks and the text of StateId.
  void SetLine(int Index, uint8_t StateId);
  void StartRun();
  // Ends following the run: later messages of it change nothing.
  void EndRun();
  void Timer1Timer();
  // A run's messages: ignored unless the window follows a run and the index is in the list.
  bool OfThisRun(int Index) const;
  void OnMixStepStart(int Index);
  void OnMixProgress(int Index, int Percent);
  void OnMixStepDone(int Index, bool Succeeded);
  void OnMixStepError(int Index);
  // Runs a user's action; anything it raises becomes a notice, never an error box.
  void Guard(const std::function<void()>& Action);

  std::unique_ptr<TUniStringList> FileList;
  std::unique_ptr<TAudioPlayer> FPlayer;
  std::unique_ptr<TFont> FHeaderFont;
  std::shared_ptr<std::atomic<bool>> FCancel;  // the followed run's stop request
  bool FRunFollowed = false;
  bool FDoneSinceStart = false;  // the step's own done came: the next done is the final one
  bool FRunFailed = false;       // some step of the run failed
};

// The open mix window, or null.
extern TMixTaskForm* MixTaskForm;

// Opens the mix window: made on first use, shown modeless and brought to the front.
// Threads: user-interface thread only.
void ShowMixTask(TComponent* Owner);
