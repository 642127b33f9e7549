#include "app/uSplitTaskForm.h"

#include <cmath>

#include "app/ConfirmForm.h"
#include "app/TaskCaptionBar.h"
#include "classlib/Dialogs.h"
#include "classlib/WinApi.h"
#include "tasks/AudioPlayer.h"
#include "tasks/EventsManager.h"
#include "tasks/Utils.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/NavigatePageControl.h"
#include "unicode/UniSysUtils.h"
#include "widgets/UniComCtrls.h"
#include "widgets/UniExtCtrls.h"
#include "widgets/UniStdCtrls.h"

TSplitTaskForm* SplitTaskForm = nullptr;

namespace {
// Language string ids of the window.
enum : uint8_t {
  idTitle = 19,
  idNext = 25,
  idOpenDialogTitle = 42,
  idProcessing = 69,
  idDetails = 70,
  idStop = 71,
  idReturn = 72,
  idSucceeded = 73,
  idFailed = 74,
  idFinished = 75,
  idInputFile = 78,
  idOpen = 79,
  idFileDetails = 80,
  idSavePath = 81,
  idChoosePath = 82,
  idStrip1Title = 83,
  idStrip1Step = 84,
  idStrip2Title = 85,
  idStrip2Step = 86,
  idStrip3Title = 87,
  idStrip3Step = 88,
  idFormat = 89,
  idSampleRate = 90,
  idBits = 91,
  idBitRate = 92,
  idChannels = 93,
  idDuration = 94,
  idSamples = 95,
  idFileSize = 96,
  idManualSplit = 97,  // then 98..116: 2 to 20 equal parts
  idQuickSplit = 117,
  idStart = 118,
  idEnd = 119,
  idSegmentDetails = 120,
  idAddSplit = 121,
  idPlay = 122,
  idPlayStop = 123,
  idDelete = 124,
  idClear = 125,
  idPlaySegment = 126,
  idPlaySegmentStop = 127,
  idSegment = 128,
  idNotValid = 129,
  idLength = 130,
};
constexpr int kNudgeMs = 50;       // the "+" and "-" buttons beside the sliders
constexpr int kEndGapMs = 1000;    // the start is put this far before an end moved onto it
constexpr int kMaxEqualParts = 20;

TUniLabel* MakeLabel(TComponent* Owner, TWinControl* Parent, int Left, int Top, int Width) {
  auto* l = TaskControl<TUniLabel>(Owner, Parent, Left, Top, Width, 14);
  l->SetAutoSize(false);
  return l;
}

WideString Number(int64_t Value) { return std::to_wstring(Value); }

WideString RangeOf(int32_t StartMs, int32_t EndMs) {
  return TUtils::WideFormat(L"%s %s - %s %s", GetString(idStart).c_str(), TUtils::FormatTimeMs(StartMs).c_str(),
                            GetString(idEnd).c_str(), TUtils::FormatTimeMs(EndMs).c_str());
}

// File types the split worker has no output for.
bool Splittable(const WideString& FileName) {
  const uint8_t type = TUtils::GetFormatByExtension(FileName) & 127;
  return type != ftUnknown && type != ftTAK && type != ftOFR;
}
}  // namespace

TSplitTaskForm::TSplitTaskForm(TComponent* AOwner) : TBaseTaskForm(AOwner) {
  StepStrip = new TNavigateTabCaptionControl(this);
  StepStrip->SetParent(this);
  StepStrip->SetBounds(0, 70, 673, StepStripHeight);
  StepStrip->SetAlign(alTop);
  UniPageControl1 = new TUniPageControl(this);
  UniPageControl1->SetParent(this);
  UniPageControl1->SetBounds(0, 70 + StepStripHeight, 673, 509 - 70 - StepStripHeight - 45);
  UniPageControl1->SetAlign(alClient);
  auto sheet = [this] {
    auto* s = new TUniTabSheet(this);
    s->SetPageControl(UniPageControl1);
    return s;
  };

  // Page 1: the source file, the folder, the file's properties.
  tsStep1 = sheet();
  lbInputFile = MakeLabel(this, tsStep1, 20, 14, 400);
  lbSavePath = MakeLabel(this, tsStep1, 20, 70, 400);
  lbFileDetails = MakeLabel(this, tsStep1, 20, 126, 400);
  pnlStep1Button = TaskControl<TUniPanel>(this, tsStep1, 0, 0, 673, 8);
  pnlStep1Button->SetBevelOuter(bvNone);
  pnlStep1Button->SetAlign(alBottom);
  edtInputFile = TaskControl<TUniEdit>(this, tsStep1, 20, 34, 500, 22);
  edtInputFile->SetReadOnly(true);
  btnOpenFile = TaskButton(this, tsStep1, 532, 32, 110, 25, [this] { btnOpenFileClick(); });
  edtSavePath = TaskControl<TUniEdit>(this, tsStep1, 20, 90, 500, 22);
  edtSavePath->SetReadOnly(true);
  btnSavePath = TaskButton(this, tsStep1, 532, 88, 110, 25, [this] { btnSavePathClick(); });
  mmFileDetails = TaskControl<TUniMemo>(this, tsStep1, 20, 146, 622, 170);
  mmFileDetails->SetReadOnly(true);

  // Page 2: the segments.
  tsStep2 = sheet();
  lbSplitDetails = MakeLabel(this, tsStep2, 20, 6, 300);
  UniPanel1 = TaskControl<TUniPanel>(this, tsStep2, 20, 24, 622, 30);
  UniPanel1->SetBevelOuter(bvNone);
  lbSplit = MakeLabel(this, UniPanel1, 0, 8, 90);
  btnPlay = TaskButton(this, UniPanel1, 512, 2, 110, 25, [this] { btnPlayClick(); });
  cbSplit = TaskControl<TUniComboBox>(this, UniPanel1, 95, 4, 200, 22);
  cbSplit->SetStyle(csDropDownList);
  cbSplit->OnChange = [this](TObject*) { cbSplitChange(); };
  lbOutparams = TaskControl<TUniListBox>(this, tsStep2, 20, 58, 500, 120);
  lbOutparams->SetMultiSelect(true);
  btnAddSplit = TaskButton(this, tsStep2, 532, 58, 110, 25, [this] { btnAddSplitClick(); });
  btnDelete = TaskButton(this, tsStep2, 532, 89, 110, 25, [this] { btnDeleteClick(); });
  btnClear = TaskButton(this, tsStep2, 532, 120, 110, 25, [this] { btnClearClick(); });
  btnPlaySplit = TaskButton(this, tsStep2, 532, 151, 110, 25, [this] { btnPlaySplitClick(); });
  UniGroupBox1 = TaskControl<TUniGroupBox>(this, tsStep2, 20, 184, 622, 130);
  UniPanel2 = TaskControl<TUniPanel>(this, UniGroupBox1, 2, 14, 618, 114);
  UniPanel2->SetBevelOuter(bvNone);
  UniPanel2->SetAlign(alClient);
  lbStart = MakeLabel(this, UniPanel2, 8, 12, 90);
  lbEnd = MakeLabel(this, UniPanel2, 8, 52, 90);
  lbSelectionRange = MakeLabel(this, UniPanel2, 8, 90, 600);
  TrackBarStart = TaskControl<TUniTrackBar>(this, UniPanel2, 130, 4, 440, 30);
  TrackBarStart->SetLineSize(6);
  TrackBarStart->SetTickStyle(tsNone);
  TrackBarStart->OnChange = [this](TObject*) { TrackBarStartChange(); };
  TrackBarEnd = TaskControl<TUniTrackBar>(this, UniPanel2, 130, 44, 440, 30);
  TrackBarEnd->SetTickStyle(tsNone);
  TrackBarEnd->OnChange = [this](TObject*) { TrackBarEndChange(); };
  btnStart_Increase = TaskButton(this, UniPanel2, 576, 8, 26, 22, [this] { btnStart_IncreaseClick(); });
  btnStart_Increase->SetCaption(L"+");
  btnEnd_Decrease = TaskButton(this, UniPanel2, 100, 48, 26, 22, [this] { btnEnd_DecreaseClick(); });
  btnEnd_Decrease->SetCaption(L"-");
  btnEnd_Increase = TaskButton(this, UniPanel2, 576, 48, 26, 22, [this] { btnEnd_IncreaseClick(); });
  btnEnd_Increase->SetCaption(L"+");
  btnStart_Decrease = TaskButton(this, UniPanel2, 100, 8, 26, 22, [this] { btnStart_DecreaseClick(); });
  btnStart_Decrease->SetCaption(L"-");
  TrackBarStart->SetRange(0, 100);
  TrackBarEnd->SetRange(0, 100);

  // Page 3: the run.
  tsStep3 = sheet();
  lbProgress = MakeLabel(this, tsStep3, 20, 12, 622);
  lbDetailProgress = MakeLabel(this, tsStep3, 20, 40, 300);
  pbProgress = TaskControl<TUniProgressBar>(this, tsStep3, 20, 60, 622, 20);
  lbProgressDetail = TaskControl<TUniListBox>(this, tsStep3, 20, 90, 622, 224);

  DlgOpen = new TOpenDialog(this);
  DlgOpen->SetOptions(ofHideReadOnly | ofPathMustExist | ofFileMustExist | ofEnableSizing);
  OnCreate = [this](TObject* Sender) { FormCreate(Sender); };
}

TSplitTaskForm::~TSplitTaskForm() {
  // Nothing of the bus reaches the window from here on; then the preview stops (its stop
  // messages go to no one) and goes with the window.
  if (TEventSource* source = EventSource()) {
    source->OnPlayerStarted = nullptr;
    source->OnPlayerStopped = nullptr;
    source->OnSplitSegmentStart = nullptr;
    source->OnSplitProgress = nullptr;
    source->OnSplitSegmentDone = nullptr;
    source->OnSplitSegmentError = nullptr;
  }
  FPlayer.reset();
  if (SplitTaskForm == this) SplitTaskForm = nullptr;
}

void TSplitTaskForm::FormCreate(TObject* Sender) {
  TBaseTaskForm::FormCreate(Sender);
  for (TUniTabSheet* s : {tsStep1, tsStep2, tsStep3}) s->SetTabVisible(false);
  UniPageControl1->SetActivePage(tsStep1);
  DlgOpen->SetFilter(TaskOpenFilter(false));
  TEventSource* source = EventSource();
  source->OnPlayerStarted = [this](TObject*) { OnPlayerStarted(); };
  source->OnPlayerStopped = [this](TObject*) { OnPlayerStopped(); };
  source->OnSplitSegmentStart = [this](TObject*, int Index) { OnSegmentStart(Index); };
  source->OnSplitProgress = [this](TObject*, int Index, int Percent) { OnProgress(Index, Percent); };
  source->OnSplitSegmentDone = [this](TObject*, int Index, bool Succeeded) { OnSegmentDone(Index, Succeeded); };
  source->OnSplitSegmentError = [this](TObject*, int Index, int) { OnSegmentError(Index); };
  ApplyLanguage();
  ShowPage();
}

void TSplitTaskForm::UpdateTitle() {
  if (CaptionBar()) CaptionBar()->SetCaption(GetString(idTitle));
}

void TSplitTaskForm::ApplyLanguage() {
  TBaseTaskForm::ApplyLanguage();
  DlgOpen->SetTitle(GetString(idOpenDialogTitle));
  const int page = UniPageControl1->ActivePage() ? UniPageControl1->ActivePage()->PageIndex() : 0;
  StepStrip->SetCaptionIds((uint8_t)(idStrip1Title + 2 * page), (uint8_t)(idStrip1Step + 2 * page));
  lbInputFile->SetCaption(GetString(idInputFile));
  btnOpenFile->SetCaption(GetString(idOpen));
  lbFileDetails->SetCaption(GetString(idFileDetails));
  lbSavePath->SetCaption(GetString(idSavePath));
  btnSavePath->SetCaption(GetString(idChoosePath));
  cbSplit->Items()->Clear();
  for (int i = 0; i < kMaxEqualParts; ++i) cbSplit->Items()->Add(GetString((uint8_t)(idManualSplit + i)));
  cbSplit->SetItemIndex(0);
  lbDetailProgress->SetCaption(GetString(idDetails));
  lbSplit->SetCaption(GetString(idQuickSplit));
  lbStart->SetCaption(GetString(idStart));
  lbEnd->SetCaption(GetString(idEnd));
  lbSplitDetails->SetCaption(GetString(idSegmentDetails));
  btnAddSplit->SetCaption(GetString(idAddSplit));
  const bool playing = FPlayer && FPlayer->IsPlaying();
  btnPlay->SetCaption(GetString(playing ? idPlayStop : idPlay));
  btnPlaySplit->SetCaption(GetString(playing ? idPlaySegmentStop : idPlaySegment));
  btnDelete->SetCaption(GetString(idDelete));
  btnClear->SetCaption(GetString(idClear));
  // The base named Next; on the running and finished pages it is Stop and Return.
  if (Step() == 2) btnNext->SetCaption(GetString(idStop));
  if (Step() == 3) btnNext->SetCaption(GetString(idReturn));
}

// --- Page 1

void TSplitTaskForm::btnOpenFileClick() {
  if (!DlgOpen->Execute()) return;
  const WideString name = DlgOpen->FileName();
  // The worker has no output for TAK and OptimFROG files, and cannot place a cut in a file whose
  // length reads as 0 seconds: those are refused as files it cannot split.
  if (Splittable(name) && TAudioTools::IsValidFile(name) && TAudioTools::GetDuration(name) > 0) {
    edtInputFile->SetText(name);
    FillFileDetails(name);
    WideString folder = WideExtractFilePath(name);
    if (folder.size() > 1 && folder.back() == L'\\' && folder[folder.size() - 2] != L':') folder.pop_back();
    edtSavePath->SetText(folder);
    return;
  }
  ShowWarningDialog(this, cbsOk, TUtils::GetAppTitle(), GetString(idNotValid), L"", kTaskPromptSeconds);
}

void TSplitTaskForm::btnSavePathClick() { ChooseOutputFolder(edtSavePath); }

void TSplitTaskForm::FillFileDetails(const WideString& FileName) {
  mmFileDetails->Lines()->Clear();
  TAudioInformation info;
  if (!TAudioTools::GetInformation(FileName, info)) return;
  auto line = [this](uint8_t Id, const WideString& Value, const wchar_t* Joint = L":  ") {
    mmFileDetails->Lines()->Add(GetString(Id) + Joint + Value);
  };
  line(idFormat, WideString(info.FormatName.begin(), info.FormatName.end()));
  line(idSampleRate, Number(info.SampleRate) + L" HZ");
  line(idBits, Number(info.BitsPerSample) + L" Bit");
  line(idBitRate, Number(info.BitRate) + L" Bps");
  line(idChannels, Number(info.Channels) + (info.Channels != 1 ? L" Stero" : L" Mono"));
  line(idDuration, TimeOfDay(info.TotalTime));
  line(idSamples, Number(info.TotalSamples), L": ");
  line(idFileSize, TUtils::FormatFileSize(info.FileSize));
}

// --- Page 2

void TSplitTaskForm::btnStart_DecreaseClick() { TrackBarStart->SetPosition(TrackBarStart->Position() - kNudgeMs); }
void TSplitTaskForm::btnStart_IncreaseClick() { TrackBarStart->SetPosition(TrackBarStart->Position() + kNudgeMs); }
void TSplitTaskForm::btnEnd_DecreaseClick() { TrackBarEnd->SetPosition(TrackBarEnd->Position() - kNudgeMs); }
void TSplitTaskForm::btnEnd_IncreaseClick() { TrackBarEnd->SetPosition(TrackBarEnd->Position() + kNudgeMs); }

void TSplitTaskForm::KeepEndAfterStart() {
  // Moving the start slider from here calls TrackBarStartChange once more; that call finds the
  // end after the start (or the start already at 0, where setting it changes nothing) and goes
  // no deeper.
  if (TrackBarEnd->Position() <= TrackBarStart->Position())
    TrackBarStart->SetPosition(TrackBarEnd->Position() - kEndGapMs);
}

WideString TSplitTaskForm::RangeText() const {
  return RangeOf(TrackBarStart->Position(), TrackBarEnd->Position());
}

void TSplitTaskForm::TrackBarStartChange() {
  KeepEndAfterStart();
  const int length = std::max(0, TrackBarEnd->Position() - TrackBarStart->Position());
  lbSelectionRange->SetCaption(RangeText() + L"  " + GetString(idLength) + TUtils::FormatTimeMs(length));
}

void TSplitTaskForm::TrackBarEndChange() {
  KeepEndAfterStart();
  lbSelectionRange->SetCaption(RangeText());
}

void TSplitTaskForm::cbSplitChange() {
  const int k = cbSplit->ItemIndex();
  if (k <= 0 || k >= kMaxEqualParts) return;
  const int parts = k + 1;
  const int32_t length = (int32_t)std::lrint((double)TrackBarStart->Max() / parts);
  // The last part ends at the end of the scale, whatever the rounding of the length left over.
  for (int i = 0; i < parts; ++i) AddSegment(i * length, i + 1 < parts ? i * length + length : TrackBarStart->Max());
}

void TSplitTaskForm::AddSegment(int32_t StartMs, int32_t EndMs) {
  FSegments.push_back(TAudioCutParam(StartMs, EndMs));
  lbOutparams->Items()->Add(SegmentLine(FSegments.size() - 1));
}

WideString TSplitTaskForm::SegmentLine(size_t Index) const {
  const TAudioCutParam& s = FSegments[Index];
  return GetString(idSegment) + L" (" + TUtils::FormatTimeMs(s.StartTime) + L" - " + TUtils::FormatTimeMs(s.EndTime) +
         L")";
}

void TSplitTaskForm::btnAddSplitClick() { AddSegment(TrackBarStart->Position(), TrackBarEnd->Position()); }

void TSplitTaskForm::btnDeleteClick() {
  for (int i = lbOutparams->Items()->Count() - 1; i >= 0; --i) {
    if (!lbOutparams->Selected(i)) continue;
    lbOutparams->Items()->Delete(i);
    if (i < (int)FSegments.size()) FSegments.erase(FSegments.begin() + i);
  }
}

void TSplitTaskForm::btnClearClick() {
  FSegments.clear();
  lbOutparams->Items()->Clear();
}

void TSplitTaskForm::btnPlayClick() {
  if (!FPlayer) return;
  if (FPlayer->IsPlaying()) {
    FPlayer->Stop();
    return;
  }
  int minutes = 0, seconds = 0;
  TUtils::MsToMinSec((uint32_t)TrackBarStart->Position(), minutes, seconds);
  FPlayer->PlayFrom(minutes, seconds);
}

void TSplitTaskForm::btnPlaySplitClick() {
  if (!FPlayer) return;
  if (FPlayer->IsPlaying()) {
    FPlayer->Stop();
    return;
  }
  const int line = lbOutparams->ItemIndex();
  if (line < 0 || line >= (int)FSegments.size() || !lbOutparams->Selected(line)) return;
  const TAudioCutParam& s = FSegments[line];
  FPlayer->PlayRange((uint32_t)std::max(0, s.StartTime), (uint32_t)std::max(0, s.EndTime));
}

// The bus tells of every preview of the program (the mix window has one too): the buttons
// follow this window's own player.
void TSplitTaskForm::OnPlayerStarted() {
  if (!FPlayer || !FPlayer->IsPlaying()) return;
  btnPlay->SetCaption(GetString(idPlayStop));
  btnPlaySplit->SetCaption(GetString(idPlaySegmentStop));
}

void TSplitTaskForm::OnPlayerStopped() {
  if (FPlayer && FPlayer->IsPlaying()) return;
  btnPlay->SetCaption(GetString(idPlay));
  btnPlaySplit->SetCaption(GetString(idPlaySegment));
}

// --- Pages and steps

void TSplitTaskForm::ShowPage() {
  const int page = UniPageControl1->ActivePage()->PageIndex();
  SetStep(page);
  StepStrip->SetCaptionIds((uint8_t)(idStrip1Title + 2 * page), (uint8_t)(idStrip1Step + 2 * page));
  if (page == 0) {
    btnNext->SetVisible(true);
    BtnBack->SetVisible(false);
    btnOpenOutputFolder->SetVisible(false);
  } else if (page == 1) {
    FSourceFile = edtInputFile->Text();
    FPlayer.reset();
    try {
      FPlayer = std::make_unique<TAudioPlayer>(FSourceFile);
    } catch (...) {
      FPlayer.reset();  // a file of no known type: nothing to listen to
    }
    OnPlayerStopped();
    btnNext->SetVisible(true);
    BtnBack->SetVisible(true);
    const int maxMs = TAudioTools::GetDuration(FSourceFile) * 1000;
    TrackBarStart->SetRange(0, maxMs);
    TrackBarStart->SetPosition(0);
    TrackBarEnd->SetRange(0, maxMs);
    TrackBarEnd->SetPosition(maxMs);
    lbSelectionRange->SetCaption(RangeOf(0, maxMs));
  } else {
    if (FPlayer && FPlayer->IsPlaying()) FPlayer->Stop();
    btnNext->SetVisible(true);
    btnNext->SetCaption(GetString(idStop));
    BtnBack->SetVisible(false);
    const WideString folder = WithBackslash(edtSavePath->Text());
    pbProgress->SetPosition(0);
    lbProgress->SetCaption(L"");
    // The worker takes its own copy of the segments' start and end.
    auto* worker = new TSplitThread(FSourceFile, folder, FSegments);
    FollowWorker(worker, worker->Canceller());
    FFollowingRun = true;
  }
}

void TSplitTaskForm::DoBack() {
  const int page = UniPageControl1->ActivePage()->PageIndex();
  if (page > 0) UniPageControl1->SetActivePage(UniPageControl1->Pages(page - 1));
  ShowPage();
}

void TSplitTaskForm::StopRun() {
  // Nothing the stopped run still says reaches the window; it ends before a new run can start.
  FFollowingRun = false;
  StopWorker();
  ForgetWorker();
}

void TSplitTaskForm::ClearTask() {
  lbProgressDetail->Items()->Clear();
  FSegments.clear();
  lbOutparams->Items()->Clear();
  edtInputFile->SetText(L"");
  edtSavePath->SetText(L"");
  mmFileDetails->Lines()->Clear();
  cbSplit->SetItemIndex(0);
  TrackBarStart->SetPosition(0);
  TrackBarStart->SetRange(0, 100);
  TrackBarEnd->SetPosition(0);
  TrackBarEnd->SetRange(0, 100);
  UniPageControl1->SetActivePage(tsStep1);
  ShowPage();
  FFollowingRun = false;
  ForgetWorker();
  btnNext->SetCaption(GetString(idNext));
}

void TSplitTaskForm::DoNext() {
  if (Step() == 2) {
    if (!ConfirmStop()) return;
    // The question may have stayed up until the run ended by itself.
    if (Step() == 2) StopRun();
    SetStep(3);
    btnNext->SetCaption(GetString(idReturn));
  }
  if (Step() == 3) {
    ClearTask();
    return;
  }
  if (Step() == 0) {
    if (edtInputFile->Text().empty()) {
      btnOpenFileClick();
      return;
    }
    if (edtSavePath->Text().empty()) {
      ChooseOutputFolder(edtSavePath);
      return;
    }
  }
  // A split of no segment would write nothing and never end.
  if (Step() == 1 && FSegments.empty()) {
    ShowWarningDialog(this, cbsOk, TUtils::GetAppTitle(), GetString(idSegmentDetails), L"", kTaskPromptSeconds);
    return;
  }
  const int page = UniPageControl1->ActivePage()->PageIndex();
  if (page < 2) {
    UniPageControl1->SetActivePage(UniPageControl1->Pages(page + 1));
    ShowPage();
  }
}

bool TSplitTaskForm::CloseQuery() {
  if (Step() == 3 && WorkerRunning()) {
    StopWorker();
    ForgetWorker();
  }
  return TBaseTaskForm::CloseQuery();
}

void TSplitTaskForm::DoOpenOutputFolder() {
  if (!edtSavePath->Text().empty()) TUtils::ExploreFolder(edtSavePath->Text());
}

// --- The run

bool TSplitTaskForm::OfCurrentRun(int Index) const {
  return FFollowingRun && Index >= 0 && Index < (int)FSegments.size();
}

void TSplitTaskForm::SetProgressLine(int Index, const WideString& State) {
  const WideString text = SegmentLine(Index) + L"   " + State;
  TUniListItemsStrings* lines = lbProgressDetail->Items();
  while (lines->Count() < Index) lines->Add(SegmentLine(lines->Count()));
  if (Index < lines->Count()) lines->Put(Index, text);
  else lines->Add(text);
}

void TSplitTaskForm::OnSegmentStart(int Index) {
  if (!OfCurrentRun(Index)) return;
  const TAudioCutParam& s = FSegments[Index];
  lbProgress->SetCaption(GetString(idProcessing) + L" " + RangeOf(s.StartTime, s.EndTime));
  SetProgressLine(Index, GetString(idProcessing));
  lbProgressDetail->SetItemIndex(Index);
  pbProgress->SetMax(100);
  pbProgress->SetMin(0);
  pbProgress->SetStep(1);
  pbProgress->SetPosition(0);
}

void TSplitTaskForm::OnProgress(int Index, int Percent) {
  if (!OfCurrentRun(Index)) return;
  pbProgress->SetPosition(Percent);
}

void TSplitTaskForm::OnSegmentDone(int Index, bool Succeeded) {
  if (!OfCurrentRun(Index)) return;
  SetProgressLine(Index, GetString(Succeeded ? idSucceeded : idFailed));
  if (Index == (int)FSegments.size() - 1) {
    SetStep(3);
    btnOpenOutputFolder->SetVisible(true);
    lbProgress->SetCaption(GetString(idFinished));
    btnNext->SetCaption(GetString(idReturn));
  }
}

void TSplitTaskForm::OnSegmentError(int Index) {
  if (!OfCurrentRun(Index)) return;
  SetProgressLine(Index, GetString(idFailed));
}

void ShowSplitTask(TComponent*) {
  if (!SplitTaskForm) SplitTaskForm = CreateForm<TSplitTaskForm>(nullptr);
  SplitTaskForm->Show();
  TUtils::ForceForegroundWindow(SplitTaskForm->Handle());
}
