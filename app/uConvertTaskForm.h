// The batch conversion window: page 1 collects the files (open dialog or drop), page 2 the output
// format, quality and folder, page 3 follows the conversion worker file by file.
#pragma once
#include <cstdint>
#include <memory>

#include "app/uBaseTaskForm.h"
#include "tasks/AudioUnit.h"

class TUniPanel;
class TUniPageControl;
class TUniTabSheet;
class TUniListView;
class TUniButton;
class TUniBitBtn;
class TUniLabel;
class TUniComboBox;
class TUniGroupBox;
class TUniEdit;
class TUniProgressBar;
class TUniListBox;
class TUniStringList;
class TOpenDialog;
class TNavigateTabCaptionControl;
class TListItem;

class TConvertTaskForm : public TBaseTaskForm {
 public:
  // Builds the pages and their controls; OnCreate (run by CreateForm) does the rest.
  // Threads: user-interface thread only, as every call below.
  explicit TConvertTaskForm(TComponent* AOwner);
  // Frees the file list and the header font; clears the global instance.
  ~TConvertTaskForm() override;
  const char* ClassName() const override { return "TConvertTaskForm"; }

  // OnCreate after the base's: the window's size, dropped files accepted, page 1 shown, the
  // header font, the open dialog's filter, the bus handlers and the texts.
  void FormCreate(TObject* Sender);

  void UpdateTitle() override;
  void ApplyLanguage() override;
  void DoBack() override;
  void DoNext() override;
  void DoOpenOutputFolder() override;

  // Takes a file when its extension names a known format, its codec opens it and it is not in
  // the list yet; false when it was not taken.
  bool AddFile(const WideString& FileName);
  void btnAddClick();
  void btnRemoveClick();
  void btnClearClick();
  void btnOpenFolderClick();
  void cbOutputQualityChange();

  // The full names of the files, in the order of the list's rows.
  TUniStringList* FileList() const { return FFileList.get(); }
  // The settings as Next collects them from page 2.
  TOutputParams CollectParams();
  // Goes to page Index (0..2) and shows it.
  void GoToPage(int Index);
  int PageIndex() const;

  TUniPanel* UniPanel1 = nullptr;
  TUniPageControl* UniPageControl1 = nullptr;
  TUniTabSheet* tsStep1 = nullptr;
  TUniTabSheet* tsStep2 = nullptr;
  TUniTabSheet* tsStep3 = nullptr;
  TUniListView* lvFiles = nullptr;
  TUniPanel* pnlStep1Button = nullptr;
  TUniButton* btnAdd = nullptr;
  TUniButton* btnRemove = nullptr;
  TUniButton* btnClear = nullptr;
  TUniLabel* lbOutputFormat = nullptr;
  TUniComboBox* cbOutputFormat = nullptr;
  TUniLabel* lbOutputQuality = nullptr;
  TUniComboBox* cbOutputQuality = nullptr;
  TUniGroupBox* gbOutputParams = nullptr;
  TUniLabel* lbBitPerSample = nullptr;
  TUniComboBox* cbBitPerSample = nullptr;
  TUniLabel* lbSampleRate = nullptr;
  TUniComboBox* cbSampleRate = nullptr;
  TUniLabel* lbChanel = nullptr;
  TUniComboBox* cbChannel = nullptr;
  TUniLabel* lbOutputFolder = nullptr;
  TUniEdit* edtOutputFolder = nullptr;
  TUniBitBtn* btnOpenFolder = nullptr;
  TUniLabel* lbProgress = nullptr;
  TUniLabel* lbDetailProgress = nullptr;
  TUniProgressBar* pbProgress = nullptr;
  TUniListBox* lbProgressDetail = nullptr;
  TOpenDialog* DlgOpen = nullptr;
  TNavigateTabCaptionControl* StepStrip() const { return FStepStrip; }

 protected:
  // WM_DROPFILES: every dropped name, whole, is added.
  void WndProc(TMessage& Message) override;

 private:
  // Next, Back and Open folder, the step and the strip's texts for the page shown.
  void ShowPage();
  // Starts the conversion worker over the list with the collected settings.
  void StartWorker();
  // Back to an empty page 1 (Return, or Stop once the worker has ended).
  void Reset();
  // A line of the progress list: the file's name, three blanks and the state text.
  void SetLine(int Index, uint8_t StateId);
  // The run's messages are taken only while a run is followed and for a file of its list.
  bool OfThisRun(int Index) const;
  void OnConvertFileStart(int Index);
  void OnConvertProgress(int Index, int Percent);
  void OnConvertFileDone(int Index, bool Succeeded);
  void OnConvertFileError(int Index);
  void DrawRow(TListItem* Item);

  std::unique_ptr<TUniStringList> FFileList;
  TOutputParams FParams;
  TNavigateTabCaptionControl* FStepStrip = nullptr;
  void* FHeaderFont = nullptr;  // the list's bold header font (an HFONT), ours to free
  bool FRunning = false;        // a run is followed: its messages change the window
};

// Opens the conversion window: made on first use, shown modeless and brought to the front.
// Threads: user-interface thread only.
void ShowConvertTask(TComponent* Owner);
// The window while it exists, else null. Threads: user-interface thread only.
TConvertTaskForm* ConvertTaskForm();
