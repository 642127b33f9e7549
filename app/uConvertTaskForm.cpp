#include "app/uConvertTaskForm.h"

#include "classlib/WinApi.h"

#include <algorithm>
#include <iterator>
#include <commctrl.h>
#include <shellapi.h>

#include "app/ConfirmForm.h"
#include "app/TaskCaptionBar.h"
#include "classlib/Dialogs.h"
#include "tasks/EventsManager.h"
#include "tasks/SampleMorphThread.h"
#include "tasks/Utils.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/NavigatePageControl.h"
#include "toolkit/ShellDragDrop.h"
#include "unicode/UniClasses.h"
#include "unicode/UniSysUtils.h"
#include "widgets/UniButtons.h"
#include "widgets/UniComCtrls.h"
#include "widgets/UniExtCtrls.h"
#include "widgets/UniStdCtrls.h"

namespace {

TConvertTaskForm* gConvertTaskForm = nullptr;

// Language string ids of the window.
enum : uint8_t {
  idTitle = 18,
  idNext = 25,
  idPage1Title = 27,
  idPage1Step = 28,
  idPage2Title = 29,
  idPage2Step = 30,
  idPage3Title = 31,
  idPage3Step = 32,
  idAdd = 35,
  idRemove = 36,
  idClear = 37,
  idColumnName = 38,
  idColumnType = 39,
  idColumnDuration = 40,
  idColumnFolder = 41,
  idOpenTitle = 42,
  idNoFiles = 48,
  idQualityFirst = 49,  // 49..54: the quality presets in TOutputQuality order
  idOutputFormat = 55,
  idOutputQuality = 56,
  idOutputParams = 57,
  idBitRate = 58,
  idSampleRate = 59,
  idChannels = 61,
  idOutputFolder = 62,
  idChooseFolder = 63,
  idProcessing = 69,
  idDetails = 70,
  idStop = 71,
  idReturn = 72,
  idSucceeded = 73,
  idFailed = 74,
  idFinished = 75,
};

constexpr int kClientWidth = 710, kClientHeight = 563;
// Rows of the file list: odd ones on white, even ones on a light lilac grey.
constexpr TColor kOddRow = 0xFFFFFF, kEvenRow = 0xFAF5F6;

const wchar_t* const kBitrateItems[] = {L"32 Kbps",  L"40 Kbps",  L"48 Kbps",  L"56 Kbps",  L"64 Kbps",
                                        L"80 Kbps",  L"96 Kbps",  L"112 Kbps", L"128 Kbps", L"160 Kbps",
                                        L"192 Kbps", L"224 Kbps", L"256 Kbps", L"320 Kbps", L""};
const wchar_t* const kRateItems[] = {L"44100 Hz", L"16000 Hz", L"22050 Hz", L"32000 Hz", L"48000 Hz", L"96000 Hz"};
const wchar_t* const kChannelItems[] = {L"2  (Stero)", L"1 (Mono)"};

// The bit-rate code of item k of the bit-rate box (144 kbit/s is not offered), -1 for the empty item.
int BitrateCodeOfItem(int Item) {
  if (Item >= 0 && Item <= 8) return Item + 1;
  if (Item >= 9 && Item <= 13) return Item + 2;
  return -1;
}

// The selections (rate, bit rate, channels) of each preset; Keep and Custom change none.
struct TPreset {
  int Rate, Bitrate, Channel;
};
constexpr TPreset kPresets[] = {{-1, -1, -1}, {0, 9, 0}, {3, 8, 0}, {2, 4, 0}, {1, 0, 0}, {-1, -1, -1}};

TUniLabel* MakeLabel(TComponent* Owner, TWinControl* Parent, int Left, int Top, int Width) {
  return TaskControl<TUniLabel>(Owner, Parent, Left, Top, Width, 14);
}

TUniComboBox* MakeCombo(TComponent* Owner, TWinControl* Parent, int Left, int Top, int Width,
                        const wchar_t* const* Items, size_t Count, int Selected) {
  auto* c = TaskDropDownList(Owner, Parent, Left, Top, Width);
  for (size_t i = 0; i < Count; ++i) c->Items()->Add(Items[i]);
  c->SetItemIndex(Selected);
  return c;
}

TUniButton* MakeButton(TComponent* Owner, TWinControl* Parent, int Left, int Top, int Width,
                       std::function<void()> OnClick) {
  return TaskButton(Owner, Parent, Left, Top, Width, 25, std::move(OnClick));
}

}  // namespace

TConvertTaskForm* ConvertTaskForm() { return gConvertTaskForm; }

TConvertTaskForm::TConvertTaskForm(TComponent* AOwner)
    : TBaseTaskForm(AOwner), FFileList(std::make_unique<TUniStringList>()) {
  SetClientSize(kClientWidth, kClientHeight);
  pnlNavigate->SetBounds(0, kClientHeight - 45, kClientWidth, 45);

  UniPanel1 = new TUniPanel(this);
  UniPanel1->SetParent(this);
  UniPanel1->SetBevelOuter(bvNone);
  UniPanel1->SetBounds(0, 70, kClientWidth, kClientHeight - 70 - 45);
  UniPanel1->SetAlign(alClient);

  FStepStrip = new TNavigateTabCaptionControl(this);
  FStepStrip->SetParent(UniPanel1);
  FStepStrip->SetBounds(0, 0, kClientWidth, StepStripHeight);
  FStepStrip->SetAlign(alTop);

  UniPageControl1 = new TUniPageControl(this);
  UniPageControl1->SetParent(UniPanel1);
  UniPageControl1->SetBounds(0, StepStripHeight, kClientWidth, UniPanel1->Height() - StepStripHeight);
  UniPageControl1->SetAlign(alClient);
  for (TUniTabSheet** sheet : {&tsStep1, &tsStep2, &tsStep3}) {
    *sheet = new TUniTabSheet(this);
    (*sheet)->SetPageControl(UniPageControl1);
  }

  // Page 1: the files, and the buttons that add and remove them.
  pnlStep1Button = new TUniPanel(this);
  pnlStep1Button->SetParent(tsStep1);
  pnlStep1Button->SetBevelOuter(bvNone);
  pnlStep1Button->SetBounds(0, 300, 700, 40);
  pnlStep1Button->SetAlign(alBottom);
  btnAdd = MakeButton(this, pnlStep1Button, 10, 8, 75, [this] { btnAddClick(); });
  btnRemove = MakeButton(this, pnlStep1Button, 95, 8, 75, [this] { btnRemoveClick(); });
  btnClear = MakeButton(this, pnlStep1Button, 180, 8, 75, [this] { btnClearClick(); });
  lvFiles = new TUniListView(this);
  lvFiles->SetParent(tsStep1);
  lvFiles->SetBounds(0, 0, 700, 300);
  lvFiles->SetAlign(alClient);
  lvFiles->SetViewStyle(vsReport);
  lvFiles->SetMultiSelect(true);
  lvFiles->SetReadOnly(true);
  lvFiles->SetRowSelect(true);
  for (int width : {150, 80, 100, 350}) lvFiles->Columns()->Add()->SetWidth(width);
  lvFiles->OnCustomDrawItem = [this](TCustomListView*, TListItem* Item, TOwnerDrawState, bool&) { DrawRow(Item); };

  // Page 2: format, quality and its details, folder.
  lbOutputFormat = MakeLabel(this, tsStep2, 30, 24, 110);
  cbOutputFormat = MakeCombo(this, tsStep2, 150, 20, 300, nullptr, 0, -1);
  for (const TTaskOutputFormat& f : TaskOutputFormats) cbOutputFormat->Items()->Add(f.Item);
  cbOutputFormat->SetItemIndex(0);
  lbOutputQuality = MakeLabel(this, tsStep2, 30, 60, 110);
  cbOutputQuality = MakeCombo(this, tsStep2, 150, 56, 300, nullptr, 0, -1);
  cbOutputQuality->OnChange = [this](TObject*) { cbOutputQualityChange(); };
  gbOutputParams = new TUniGroupBox(this);
  gbOutputParams->SetParent(tsStep2);
  gbOutputParams->SetBounds(30, 96, 640, 100);
  gbOutputParams->SetEnabled(false);
  lbBitPerSample = MakeLabel(this, gbOutputParams, 20, 30, 90);
  cbBitPerSample = MakeCombo(this, gbOutputParams, 120, 26, 150, kBitrateItems, std::size(kBitrateItems), 8);
  lbSampleRate = MakeLabel(this, gbOutputParams, 20, 64, 90);
  cbSampleRate = MakeCombo(this, gbOutputParams, 120, 60, 150, kRateItems, std::size(kRateItems), 0);
  lbChanel = MakeLabel(this, gbOutputParams, 330, 30, 90);
  cbChannel = MakeCombo(this, gbOutputParams, 430, 26, 150, kChannelItems, std::size(kChannelItems), 0);
  for (TUniComboBox* c : {cbBitPerSample, cbSampleRate, cbChannel}) c->SetEnabled(false);
  lbOutputFolder = MakeLabel(this, tsStep2, 30, 220, 110);
  edtOutputFolder = new TUniEdit(this);
  edtOutputFolder->SetParent(tsStep2);
  edtOutputFolder->SetBounds(150, 216, 400, 21);
  edtOutputFolder->SetReadOnly(true);
  btnOpenFolder = new TUniBitBtn(this);
  btnOpenFolder->SetParent(tsStep2);
  btnOpenFolder->SetBounds(560, 214, 110, 25);
  btnOpenFolder->OnClick = [this](TObject*) { btnOpenFolderClick(); };

  // Page 3: the file being converted, its progress, and a line per file.
  lbProgress = MakeLabel(this, tsStep3, 20, 14, 660);
  lbProgress->SetAutoSize(false);
  lbProgress->SetEllipsisPosition(epPathEllipsis);
  pbProgress = new TUniProgressBar(this);
  pbProgress->SetParent(tsStep3);
  pbProgress->SetBounds(20, 36, 660, 18);
  lbDetailProgress = MakeLabel(this, tsStep3, 20, 68, 300);
  lbProgressDetail = new TUniListBox(this);
  lbProgressDetail->SetParent(tsStep3);
  lbProgressDetail->SetBounds(20, 88, 660, 250);

  DlgOpen = new TOpenDialog(this);
  DlgOpen->SetOptions(ofHideReadOnly | ofAllowMultiSelect | ofPathMustExist | ofFileMustExist | ofEnableSizing);

  OnCreate = [this](TObject* Sender) {
    TBaseTaskForm::FormCreate(Sender);
    FormCreate(Sender);
  };
  gConvertTaskForm = this;
}

TConvertTaskForm::~TConvertTaskForm() {
  if (gConvertTaskForm == this) gConvertTaskForm = nullptr;
  // The list view goes with the owned components, after this: it no longer uses the font then.
  if (lvFiles && lvFiles->HandleAllocated()) {
    HWND header = reinterpret_cast<HWND>(SendMessageW(static_cast<HWND>(lvFiles->Handle()), LVM_GETHEADER, 0, 0));
    if (header) SendMessageW(header, WM_SETFONT, 0, FALSE);
  }
  if (FHeaderFont) DeleteObject(static_cast<HFONT>(FHeaderFont));
}

void TConvertTaskForm::FormCreate(TObject*) {
  // The base made a window of its own size: this one is larger.
  HWND self = static_cast<HWND>(Handle());
  SetClientSize(kClientWidth, kClientHeight);
  SetWindowRgn(self, CreateRoundRectRgn(0, 0, Width(), Height(), 8, 5), TRUE);
  DragAcceptFiles(self, TRUE);
  for (TUniTabSheet* sheet : {tsStep1, tsStep2, tsStep3}) sheet->SetTabVisible(false);
  UniPageControl1->SetActivePage(tsStep1);
  // The list's header in bold.
  HWND header = reinterpret_cast<HWND>(SendMessageW(static_cast<HWND>(lvFiles->Handle()), LVM_GETHEADER, 0, 0));
  if (header) {
    LOGFONTW lf{};
    HFONT current = reinterpret_cast<HFONT>(SendMessageW(header, WM_GETFONT, 0, 0));
    if (!current || !GetObjectW(current, sizeof lf, &lf)) GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    lf.lfWeight = FW_BOLD;
    lf.lfUnderline = FALSE;
    FHeaderFont = CreateFontIndirectW(&lf);
    SendMessageW(header, WM_SETFONT, reinterpret_cast<WPARAM>(FHeaderFont), TRUE);
  }
  DlgOpen->SetFilter(TaskOpenFilter(true));
  TEventSource* bus = EventSource();
  bus->OnConvertFileStart = [this](TObject*, int Index) { OnConvertFileStart(Index); };
  bus->OnConvertProgress = [this](TObject*, int Index, int Percent) { OnConvertProgress(Index, Percent); };
  bus->OnConvertFileDone = [this](TObject*, int Index, bool Succeeded) { OnConvertFileDone(Index, Succeeded); };
  bus->OnConvertFileError = [this](TObject*, int Index, int) { OnConvertFileError(Index); };
  ShowPage();
  ApplyLanguage();
}

void TConvertTaskForm::UpdateTitle() {
  if (CaptionBar()) CaptionBar()->SetCaption(GetString(idTitle));
}

void TConvertTaskForm::ApplyLanguage() {
  TBaseTaskForm::ApplyLanguage();
  // Next keeps the text of the step it is in.
  if (Step() == 2) btnNext->SetCaption(GetString(idStop));
  else if (Step() == 3) btnNext->SetCaption(GetString(idReturn));
  btnAdd->SetCaption(GetString(idAdd));
  btnRemove->SetCaption(GetString(idRemove));
  btnClear->SetCaption(GetString(idClear));
  const uint8_t columns[] = {idColumnName, idColumnType, idColumnDuration, idColumnFolder};
  for (int i = 0; i < 4; ++i) lvFiles->Columns()->Items(i)->SetCaption(GetString(columns[i]));
  DlgOpen->SetTitle(GetString(idOpenTitle));
  ShowPage();
  // The presets in this language; the choice made stays.
  const int quality = std::max(0, cbOutputQuality->ItemIndex());
  cbOutputQuality->Items()->Clear();
  for (int i = 0; i <= oqCustom; ++i) cbOutputQuality->Items()->Add(GetString(static_cast<uint8_t>(idQualityFirst + i)));
  cbOutputQuality->SetItemIndex(quality);
  lbOutputFormat->SetCaption(GetString(idOutputFormat));
  lbOutputQuality->SetCaption(GetString(idOutputQuality));
  gbOutputParams->SetCaption(GetString(idOutputParams));
  lbBitPerSample->SetCaption(GetString(idBitRate));
  lbSampleRate->SetCaption(GetString(idSampleRate));
  lbChanel->SetCaption(GetString(idChannels));
  lbOutputFolder->SetCaption(GetString(idOutputFolder));
  btnOpenFolder->SetCaption(GetString(idChooseFolder));
  lbProgress->SetCaption(GetString(idProcessing));
  lbDetailProgress->SetCaption(GetString(idDetails));
}

int TConvertTaskForm::PageIndex() const {
  TTabSheet* page = UniPageControl1->ActivePage();
  return page ? page->PageIndex() : 0;
}

void TConvertTaskForm::GoToPage(int Index) {
  UniPageControl1->SetActivePage(UniPageControl1->Pages(std::clamp(Index, 0, 2)));
  ShowPage();
}

void TConvertTaskForm::ShowPage() {
  if (!FStepStrip) return;
  switch (PageIndex()) {
    case 0:
      SetStep(0);
      btnNext->SetVisible(true);
      BtnBack->SetVisible(false);
      btnOpenOutputFolder->SetVisible(false);
      FStepStrip->SetCaptionIds(idPage1Title, idPage1Step);
      break;
    case 1:
      SetStep(1);
      btnNext->SetVisible(true);
      BtnBack->SetVisible(true);
      btnOpenOutputFolder->SetVisible(false);
      FStepStrip->SetCaptionIds(idPage2Title, idPage2Step);
      break;
    default:
      // Running, or (once the last file is done) finished: the done handler sets step 3 itself.
      if (Step() < 2) SetStep(2);
      btnNext->SetVisible(true);
      if (Step() == 2) btnNext->SetCaption(GetString(idStop));
      BtnBack->SetVisible(false);
      btnOpenOutputFolder->SetVisible(Step() == 3);
      FStepStrip->SetCaptionIds(idPage3Title, idPage3Step);
      break;
  }
}

bool TConvertTaskForm::AddFile(const WideString& FileName) {
  if (TUtils::GetFormatByExtension(FileName) == ftUnknown) return false;
  for (int i = 0; i < FFileList->Count(); ++i)
    if (FFileList->Get(i) == FileName) return false;
  if (!TAudioTools::IsValidFile(FileName)) return false;
  TUniListItem* row = lvFiles->AddListItem();
  row->SetCaption(WideExtractFileName(FileName));
  row->SubItems()->Add(AnsiToWide(TAudioTools::GetTypeName(FileName)));
  row->SubItems()->Add(TimeOfDay(TAudioTools::GetDuration(FileName)));
  row->SubItems()->Add(WithBackslash(WideExtractFilePath(FileName)));
  FFileList->Add(FileName);
  return true;
}

void TConvertTaskForm::btnAddClick() {
  if (!DlgOpen->Execute()) return;
  lvFiles->Items()->BeginUpdate();
  for (const WideString& name : DlgOpen->Files()) AddFile(name);
  lvFiles->Items()->EndUpdate();
}

void TConvertTaskForm::btnRemoveClick() {
  for (int i = lvFiles->Items()->Count() - 1; i >= 0; --i) {
    if (!lvFiles->Item(i)->Selected()) continue;
    lvFiles->Items()->Delete(i);
    if (i < FFileList->Count()) FFileList->Delete(i);
  }
}

void TConvertTaskForm::btnClearClick() {
  lvFiles->Items()->Clear();
  FFileList->Clear();
}

void TConvertTaskForm::btnOpenFolderClick() { ChooseOutputFolder(edtOutputFolder); }

void TConvertTaskForm::cbOutputQualityChange() {
  const int quality = cbOutputQuality->ItemIndex();
  const bool custom = quality == oqCustom;
  gbOutputParams->SetEnabled(custom);
  for (TUniComboBox* c : {cbBitPerSample, cbSampleRate, cbChannel}) c->SetEnabled(custom);
  if (quality < 0 || quality > oqCustom || kPresets[quality].Rate < 0) return;
  cbSampleRate->SetItemIndex(kPresets[quality].Rate);
  cbBitPerSample->SetItemIndex(kPresets[quality].Bitrate);
  cbChannel->SetItemIndex(kPresets[quality].Channel);
}

void TConvertTaskForm::DrawRow(TListItem* Item) {
  lvFiles->Canvas()->Brush()->SetColor(Item->Index() % 2 ? kOddRow : kEvenRow);
}

TOutputParams TConvertTaskForm::CollectParams() {
  const int format = cbOutputFormat->ItemIndex();
  if (format >= 0 && format < static_cast<int>(std::size(TaskOutputFormats)))
    FParams.Format = TaskOutputFormats[format].Type;
  FParams.Quality = static_cast<uint8_t>(std::clamp(cbOutputQuality->ItemIndex(), 0, static_cast<int>(oqCustom)));
  const int code = BitrateCodeOfItem(cbBitPerSample->ItemIndex());
  if (code > 0) FParams.BitrateIndex = static_cast<uint8_t>(code);
  FParams.SampleRateIndex = static_cast<uint8_t>(std::max(0, cbSampleRate->ItemIndex()));
  FParams.Channels = cbChannel->ItemIndex() == 0 ? 2 : 1;
  FParams.OutputFolder = WithBackslash(edtOutputFolder->Text());
  return FParams;
}

void TConvertTaskForm::DoBack() {
  // Only the settings page goes back: the running and finished page have no Back.
  if (Step() != 1) return;
  GoToPage(PageIndex() - 1);
}

void TConvertTaskForm::DoNext() {
  switch (Step()) {
    case 2:
      if (!ConfirmStop()) return;
      // The worker stops its file and ends; its last messages arrive while the window waits.
      StopWorker();
      SetStep(3);
      [[fallthrough]];
    case 3:
      Reset();
      return;
    case 0:
      if (FFileList->Count() == 0) {
        ShowQuestionDialog(this, cbsOk, TUtils::GetAppTitle(), GetString(idNoFiles), L"", kTaskPromptSeconds);
        return;
      }
      edtOutputFolder->SetText(WithBackslash(WideExtractFilePath(FFileList->Get(0))));
      GoToPage(1);
      return;
    case 1:
      if (edtOutputFolder->Text().empty()) {
        ChooseOutputFolder(edtOutputFolder);
        return;
      }
      StartWorker();
      return;
    default: return;
  }
}

void TConvertTaskForm::StartWorker() {
  TOutputParams params = CollectParams();
  lbProgressDetail->Items()->Clear();
  for (int i = 0; i < FFileList->Count(); ++i) lbProgressDetail->Items()->Add(WideExtractFileName(FFileList->Get(i)));
  lbProgress->SetCaption(GetString(idProcessing));
  pbProgress->SetPosition(0);
  SetStep(2);
  GoToPage(2);
  auto* worker = new TSampleMorphThread(*FFileList, params);
  FollowWorker(worker, worker->Canceller());
  FRunning = true;
  worker->Resume();
}

void TConvertTaskForm::Reset() {
  FRunning = false;
  ForgetWorker();
  lbProgressDetail->Items()->Clear();
  btnClearClick();
  edtOutputFolder->SetText(L"");
  SetStep(0);
  GoToPage(0);
  btnNext->SetCaption(GetString(idNext));
}

void TConvertTaskForm::DoOpenOutputFolder() {
  const WideString folder = edtOutputFolder->Text();
  if (!folder.empty()) TUtils::ExploreFolder(folder);
}

bool TConvertTaskForm::OfThisRun(int Index) const {
  return FRunning && Index >= 0 && Index < FFileList->Count() && Index < lbProgressDetail->Items()->Count();
}

void TConvertTaskForm::SetLine(int Index, uint8_t StateId) {
  lbProgressDetail->Items()->Put(Index, WideExtractFileName(FFileList->Get(Index)) + L"   " + GetString(StateId));
}

void TConvertTaskForm::OnConvertFileStart(int Index) {
  if (!OfThisRun(Index)) return;
  lbProgress->SetCaption(GetString(idProcessing) + L" " + FFileList->Get(Index));
  SetLine(Index, idProcessing);
  lbProgressDetail->SetItemIndex(Index);
  pbProgress->SetRange(0, 100);
  pbProgress->SetStep(1);
  pbProgress->SetPosition(0);
}

void TConvertTaskForm::OnConvertProgress(int Index, int Percent) {
  if (!OfThisRun(Index)) return;
  pbProgress->SetPosition(Percent);
}

void TConvertTaskForm::OnConvertFileDone(int Index, bool Succeeded) {
  if (!OfThisRun(Index)) return;
  SetLine(Index, Succeeded ? idSucceeded : idFailed);
  if (Index != FFileList->Count() - 1) return;
  SetStep(3);
  btnOpenOutputFolder->SetVisible(true);
  lbProgress->SetCaption(GetString(idFinished));
  btnNext->SetCaption(GetString(idReturn));
}

void TConvertTaskForm::OnConvertFileError(int Index) {
  if (!OfThisRun(Index)) return;
  SetLine(Index, idFailed);
}

void TConvertTaskForm::WndProc(TMessage& Message) {
  if (Message.Msg != WM_DROPFILES) {
    TBaseTaskForm::WndProc(Message);
    return;
  }
  HDROP drop = reinterpret_cast<HDROP>(Message.WParam);
  Message.Result = 0;
  // Files are taken before the run only: a drop while it goes on would change the list its
  // messages refer to (and the last file would never be the last).
  std::unique_ptr<TUniStringList> names(Step() <= 1 ? GetDroppedFiles(drop) : nullptr);
  DragFinish(drop);
  if (!names) return;
  lvFiles->Items()->BeginUpdate();
  for (int i = 0; i < names->Count(); ++i) AddFile(names->Get(i));
  lvFiles->Items()->EndUpdate();
}

void ShowConvertTask(TComponent*) {
  TConvertTaskForm* form = gConvertTaskForm;
  if (!form) form = CreateForm<TConvertTaskForm>(nullptr);
  form->Show();
  TUtils::ForceForegroundWindow(form->Handle());
}
