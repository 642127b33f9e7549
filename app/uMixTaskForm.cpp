#include "app/uMixTaskForm.h"

#include <commctrl.h>
#include <cwctype>
#include <iterator>
#include <shellapi.h>

#include "app/ConfirmForm.h"
#include "app/TaskCaptionBar.h"
#include "classlib/Dialogs.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Graphics.h"
#include "tasks/AudioPlayer.h"
#include "tasks/EventsManager.h"
#include "tasks/MixUnit.h"
#include "tasks/Utils.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/NavigatePageControl.h"
#include "toolkit/ShellDragDrop.h"
#include "unicode/UniSysUtils.h"
#include "widgets/UniComCtrls.h"
#include "widgets/UniExtCtrls.h"
#include "widgets/UniStdCtrls.h"

TMixTaskForm* MixTaskForm = nullptr;

namespace {
// Language string ids of the window.
enum : uint8_t {
  idTitle = 21,
  idNext = 25,
  idNoFiles = 48,
  idProcessing = 69,
  idDetails = 70,
  idStop = 71,
  idReturn = 72,
  idSucceeded = 73,
  idFailed = 74,
  idFinished = 75,
  idColNumber = 131,
  idColFile = 132,
  idColDuration = 133,
  idColType = 134,
  idAdd = 135,
  idRemove = 136,
  idClear = 137,
  idMoveUp = 138,
  idMoveDown = 139,
  idPlay = 140,
  idPlayStop = 141,
  idSetting = 142,
  idMixType = 143,
  idModeMix = 144,
  idModeAppend = 145,
  idOutputFormat = 146,
  idOutputFile = 147,
  idSelectFile = 148,
  idPage1Title = 149,
  idPage1Step = 150,
  idPage2Title = 151,
  idPage2Step = 152,
};

WideString Widen(const AnsiString& S) { return WideString(S.begin(), S.end()); }
}  // namespace

TMixTaskForm::TMixTaskForm(TComponent* AOwner) : TBaseTaskForm(AOwner) {
  StepCaption = TaskControl<TNavigateTabCaptionControl>(this, this, 0, 70, 673, StepStripHeight);
  pcSteps = TaskControl<TUniPageControl>(this, this, 0, 70 + StepStripHeight, 673, 509 - 45 - 70 - StepStripHeight);
  tsStep1 = new TUniTabSheet(this);
  tsStep1->SetPageControl(pcSteps);
  tsStep3 = new TUniTabSheet(this);
  tsStep3->SetPageControl(pcSteps);

  // Page 1: the list on top, the buttons and settings below it.
  lvFiles = TaskControl<TUniListView>(this, tsStep1, 8, 4, 649, 170);
  lvFiles->SetViewStyle(vsReport);
  lvFiles->SetRowSelect(true);
  lvFiles->SetMultiSelect(true);
  const int widths[] = {60, 360, 100, 80};
  for (int w : widths) lvFiles->Columns()->Add()->SetWidth(w);
  pnlStep1Button = TaskControl<TUniPanel>(this, tsStep1, 0, 178, 665, 160);
  pnlStep1Button->SetBevelOuter(bvNone);
  auto button = [this](int Left, int Width, void (TMixTaskForm::*Handler)()) {
    auto* b = TaskControl<TUniButton>(this, pnlStep1Button, Left, 2, Width, 25);
    b->OnClick = [this, Handler](TObject*) { Guard([this, Handler] { (this->*Handler)(); }); };
    return b;
  };
  btnAdd = button(8, 75, &TMixTaskForm::btnAddClick);
  btnRemove = button(88, 75, &TMixTaskForm::btnRemoveClick);
  btnClear = button(168, 75, &TMixTaskForm::btnClearClick);
  btnMoveUp = button(248, 75, &TMixTaskForm::btnMoveUpClick);
  btnMoveDown = button(328, 75, &TMixTaskForm::btnMoveDownClick);
  btnPlay = button(582, 75, &TMixTaskForm::btnPlayClick);
  lbSetting = TaskControl<TUniLabel>(this, pnlStep1Button, 8, 38, 200, 16);
  lbMixType = TaskControl<TUniLabel>(this, pnlStep1Button, 20, 66, 80, 16);
  cbMixdType = TaskControl<TUniComboBox>(this, pnlStep1Button, 100, 62, 150, 21);
  cbMixdType->SetStyle(csDropDownList);
  lbOutputFormat = TaskControl<TUniLabel>(this, pnlStep1Button, 280, 66, 80, 16);
  cbOutputFormat = TaskControl<TUniComboBox>(this, pnlStep1Button, 360, 62, 297, 21);
  cbOutputFormat->SetStyle(csDropDownList);
  lbOutputFolder = TaskControl<TUniLabel>(this, pnlStep1Button, 20, 100, 80, 16);
  edtSavePath = TaskControl<TUniEdit>(this, pnlStep1Button, 100, 96, 430, 21);
  btnSelectFolder = TaskControl<TUniButton>(this, pnlStep1Button, 537, 94, 120, 25);
  btnSelectFolder->OnClick = [this](TObject*) { Guard([this] { btnSelectFolderClick(); }); };

  // Page 2: what runs, its bar, and a line per file.
  lbProgress = TaskControl<TUniLabel>(this, tsStep3, 8, 10, 649, 16);
  pbProgress = TaskControl<TUniProgressBar>(this, tsStep3, 8, 32, 649, 18);
  lbDetailProgress = TaskControl<TUniLabel>(this, tsStep3, 8, 62, 200, 16);
  lbProgressDetail = TaskControl<TUniListBox>(this, tsStep3, 8, 82, 649, 250);

  DlgOpen = new TOpenDialog(this);
  DlgOpen->SetOptions(ofHideReadOnly | ofAllowMultiSelect | ofPathMustExist | ofFileMustExist | ofEnableSizing);
  DlgSave = new TSaveDialog(this);
  // An existing file is replaced by the run's result: the user is asked first.
  DlgSave->SetOptions(ofOverwritePrompt | ofHideReadOnly | ofPathMustExist | ofEnableSizing);
  Timer1 = new TTimer(this);
  Timer1->SetEnabled(false);
  Timer1->SetInterval(1000);
  Timer1->OnTimer = [this](TObject*) { Timer1Timer(); };
  OnCreate = [this](TObject* Sender) { FormCreate(Sender); };
}

TMixTaskForm::~TMixTaskForm() {
  // The preview goes with the window: a player left behind would play on with no one to stop it.
  FPlayer.reset();
  if (lvFiles->HandleAllocated()) {
    HWND header = reinterpret_cast<HWND>(SendMessageW(static_cast<HWND>(lvFiles->Handle()), LVM_GETHEADER, 0, 0));
    if (header) SendMessageW(header, WM_SETFONT, 0, FALSE);
  }
  if (MixTaskForm == this) MixTaskForm = nullptr;
}

void TMixTaskForm::FormCreate(TObject* Sender) {
  FileList = std::make_unique<TUniStringList>();
  TBaseTaskForm::FormCreate(Sender);
  DragAcceptFiles(static_cast<HWND>(Handle()), TRUE);
  DlgOpen->SetFilter(TaskOpenFilter(false));
  for (const TTaskOutputFormat& f : TaskOutputFormats) cbOutputFormat->Items()->Add(f.Item);
  cbOutputFormat->SetItemIndex(0);
  // The bus tells of every preview of the program (the split window has one too): the button
  // follows this window's own player.
  EventSource()->OnPlayerStarted = [this](TObject*) {
    if (FPlayer && FPlayer->IsPlaying()) btnPlay->SetCaption(GetString(idPlayStop));
  };
  EventSource()->OnPlayerStopped = [this](TObject*) {
    if (!FPlayer || !FPlayer->IsPlaying()) btnPlay->SetCaption(GetString(idPlay));
  };
  EventSource()->OnMixStepStart = [this](TObject*, int Index) { OnMixStepStart(Index); };
  EventSource()->OnMixProgress = [this](TObject*, int Index, int Percent) { OnMixProgress(Index, Percent); };
  EventSource()->OnMixStepDone = [this](TObject*, int Index, bool Ok) { OnMixStepDone(Index, Ok); };
  EventSource()->OnMixStepError = [this](TObject*, int Index, int) { OnMixStepError(Index); };
  for (int i = 0; i < pcSteps->PageCount(); ++i) pcSteps->Pages(i)->SetTabVisible(false);
  SetStep(0);
  ShowPage();
  // The list's header in bold.
  FHeaderFont = std::make_unique<TFont>();
  FHeaderFont->Assign(Font());
  FHeaderFont->SetStyle(fsBold);
  HWND header = reinterpret_cast<HWND>(SendMessageW(static_cast<HWND>(lvFiles->Handle()), LVM_GETHEADER, 0, 0));
  if (header) SendMessageW(header, WM_SETFONT, reinterpret_cast<WPARAM>(FHeaderFont->Handle()), TRUE);
  ApplyLanguage();
}

void TMixTaskForm::UpdateTitle() {
  if (CaptionBar()) CaptionBar()->SetCaption(GetString(idTitle));
}

void TMixTaskForm::ApplyLanguage() {
  TBaseTaskForm::ApplyLanguage();
  if (Step() >= 2) btnNext->SetCaption(GetString(Step() == 2 ? idStop : idReturn));
  if (pcSteps->ActivePage() == tsStep3)
    StepCaption->SetCaptionIds(idPage2Title, idPage2Step);
  else
    StepCaption->SetCaptionIds(idPage1Title, idPage1Step);
  const uint8_t columns[] = {idColNumber, idColFile, idColDuration, idColType};
  for (int i = 0; i < 4; ++i) lvFiles->Columns()->Items(i)->SetCaption(GetString(columns[i]));
  btnAdd->SetCaption(GetString(idAdd));
  btnRemove->SetCaption(GetString(idRemove));
  btnClear->SetCaption(GetString(idClear));
  btnMoveUp->SetCaption(GetString(idMoveUp));
  btnMoveDown->SetCaption(GetString(idMoveDown));
  btnPlay->SetCaption(GetString(FPlayer && FPlayer->IsPlaying() ? idPlayStop : idPlay));
  lbSetting->SetCaption(GetString(idSetting));
  lbMixType->SetCaption(GetString(idMixType));
  cbMixdType->Items()->Clear();
  cbMixdType->Items()->Add(GetString(idModeMix));
  cbMixdType->Items()->Add(GetString(idModeAppend));
  cbMixdType->SetItemIndex(0);
  lbOutputFormat->SetCaption(GetString(idOutputFormat));
  lbOutputFolder->SetCaption(GetString(idOutputFile));
  btnSelectFolder->SetCaption(GetString(idSelectFile));
  lbDetailProgress->SetCaption(GetString(idDetails));
}

void TMixTaskForm::Guard(const std::function<void()>& Action) {
  try {
    Action();
  } catch (...) {
    ShowWarningDialog(this, cbsOk, TUtils::GetAppTitle(), GetString(idFailed), L"", kTaskPromptSeconds);
  }
}

void TMixTaskForm::WndProc(TMessage& Message) {
  if (Message.Msg != WM_DROPFILES) {
    TBaseTaskForm::WndProc(Message);
    return;
  }
  HDROP drop = reinterpret_cast<HDROP>(Message.WParam);
  Message.Result = 0;
  Guard([&] {
    // Only page 1 takes files: a run's list is not to be changed under it.
    if (Step() != 0) return;
    std::unique_ptr<TUniStringList> files(GetDroppedFiles(drop));
    if (!files) return;
    for (int i = 0; i < files->Count(); ++i) AddFile(files->Strings(i));
  });
  DragFinish(drop);
}

void TMixTaskForm::AddFile(const WideString& FileName) {
  if ((TUtils::GetFormatByExtension(FileName) & 127) == ftUnknown) return;
  if (FileList->IndexOf(FileName) >= 0) return;
  if (!TAudioTools::IsValidFile(FileName)) return;
  const int row = lvFiles->Items()->Count();
  SetRow(row, std::to_wstring(row),
         {FileName, TUtils::FormatTimeSec((uint32_t)TAudioTools::GetDuration(FileName)),
          Widen(TAudioTools::GetTypeName(FileName))});
  FileList->Add(FileName);
}

void TMixTaskForm::SetRow(int Index, const WideString& Caption, const std::vector<WideString>& SubItems) {
  TUniListItem* item = Index < lvFiles->Items()->Count() ? lvFiles->Item(Index) : nullptr;
  if (!item) item = lvFiles->InsertListItem(Index);
  item->SetCaption(Caption);
  item->SubItems()->Clear();
  for (const WideString& s : SubItems) item->SubItems()->Add(s);
}

std::vector<WideString> TMixTaskForm::RowSubItems(int Index) {
  std::vector<WideString> r;
  TUniListItem* item = lvFiles->Item(Index);
  for (int i = 0; i < item->SubItems()->Count(); ++i) r.push_back(item->SubItems()->Strings(i));
  return r;
}

int TMixTaskForm::SelectedIndex() {
  TUniListItem* item = lvFiles->Selected();
  return item ? item->Index() : -1;
}

void TMixTaskForm::Renumber(int Selection) {
  lvFiles->Items()->BeginUpdate();
  FileList->Clear();
  const int count = lvFiles->Items()->Count();
  for (int i = 0; i < count; ++i) {
    TUniListItem* item = lvFiles->Item(i);
    FileList->Add(item->SubItems()->Count() > 0 ? item->SubItems()->Strings(0) : WideString());
    item->SetCaption(std::to_wstring(i));
  }
  if (Selection < 0 || Selection >= count) Selection = 0;
  for (int i = 0; i < count; ++i) lvFiles->Item(i)->SetSelected(i == Selection);
  lvFiles->Items()->EndUpdate();
}

void TMixTaskForm::btnAddClick() {
  if (!DlgOpen->Execute()) return;
  for (const WideString& f : DlgOpen->Files()) AddFile(f);
}

void TMixTaskForm::btnRemoveClick() {
  if (lvFiles->Items()->Count() == 0) return;
  for (int i = lvFiles->Items()->Count() - 1; i >= 0; --i)
    if (lvFiles->Item(i)->Selected()) lvFiles->Items()->Delete(i);
  Renumber(0);
}

void TMixTaskForm::btnClearClick() {
  lvFiles->Items()->Clear();
  FileList->Clear();
}

void TMixTaskForm::MoveSelected(int By) {
  const int i = SelectedIndex(), count = lvFiles->Items()->Count();
  const int to = i + By;
  if (i < 0 || count < 2 || to < 0 || to >= count) return;
  const WideString caption = lvFiles->Item(i)->Caption();
  const std::vector<WideString> subItems = RowSubItems(i);
  lvFiles->Items()->Delete(i);
  lvFiles->InsertListItem(to);
  SetRow(to, caption, subItems);
  Renumber(to);
}

void TMixTaskForm::btnMoveUpClick() { MoveSelected(-1); }

void TMixTaskForm::btnMoveDownClick() { MoveSelected(1); }

void TMixTaskForm::btnSelectFolderClick() {
  const TTaskOutputFormat& format = TaskOutputFormat(cbOutputFormat->ItemIndex());
  DlgSave->SetFilter(WideString(format.SaveFilter) + L"|");
  DlgSave->SetDefaultExt(format.Extension);
  if (!DlgSave->Execute() || DlgSave->FileName().empty()) return;
  edtSavePath->SetText(WithOutputExtension(DlgSave->FileName(), format.Extension));
}

void TMixTaskForm::btnPlayClick() {
  const int i = SelectedIndex();
  if (i < 0 || i >= FileList->Count()) return;
  const WideString name = FileList->Strings(i);
  if (FPlayer && FPlayer->IsPlaying()) {
    FPlayer->Stop();
    return;
  }
  if (FPlayer && FPlayer->FileName() != name) FPlayer.reset();
  if (!FPlayer) FPlayer = std::make_unique<TAudioPlayer>(name);
  FPlayer->PlayFrom(0, 0);
}

void TMixTaskForm::Timer1Timer() {
  if (pcSteps->ActivePage() == tsStep3) pbProgress->StepIt();
}

void TMixTaskForm::ShowPage() {
  if (Step() == 0) {
    pcSteps->SetActivePage(tsStep1);
    StepCaption->SetCaptionIds(idPage1Title, idPage1Step);
  } else {
    pcSteps->SetActivePage(tsStep3);
    StepCaption->SetCaptionIds(idPage2Title, idPage2Step);
  }
  btnNext->SetVisible(true);
  BtnBack->SetVisible(false);
  btnOpenOutputFolder->SetVisible(Step() == 3);
  if (Step() == 2) btnNext->SetCaption(GetString(idStop));
}

void TMixTaskForm::DoBack() {
  if (Step() == 0) return;
  SetStep(0);
  ShowPage();
}

void TMixTaskForm::EndRun() {
  FRunFollowed = false;
  Timer1->SetEnabled(false);
}

void TMixTaskForm::DoNext() {
  Guard([this] {
    if (Step() == 2) {
      if (!ConfirmStop()) return;
      // The run may have ended while the question was up: then it is simply over.
      EndRun();
      StopWorker();
      SetStep(3);
      btnNext->SetCaption(GetString(idReturn));
    }
    if (Step() == 3) {
      EndRun();
      ForgetWorker();
      lbProgressDetail->Items()->Clear();
      lvFiles->Items()->Clear();
      FileList->Clear();
      edtSavePath->SetText(L"");
      SetStep(0);
      ShowPage();
      btnNext->SetCaption(GetString(idNext));
      return;
    }
    if (FileList->Count() < 2) {
      ShowConfirmDialog(this, 0, cbsOk, TUtils::GetAppTitle(), GetString(idNoFiles), L"", kTaskPromptSeconds, false);
      return;
    }
    if (WideTrim(edtSavePath->Text()).empty()) {
      btnSelectFolderClick();
      return;
    }
    StartRun();
  });
}

void TMixTaskForm::StartRun() {
  const int mode = cbMixdType->ItemIndex() == 1 ? 1 : 0;
  auto* worker = new TMixedThread(*FileList, WideTrim(edtSavePath->Text()), static_cast<TAudioMixerMode>(mode));
  FCancel = worker->CancelRequest();
  if (FPlayer) FPlayer->Stop();
  SetStep(2);
  lbProgressDetail->Items()->Clear();
  for (int i = 0; i < FileList->Count(); ++i) lbProgressDetail->Items()->Add(FileList->Strings(i));
  lbProgress->SetCaption(L"");
  pbProgress->SetRange(0, 100);
  pbProgress->SetPosition(0);
  FRunFollowed = true;
  FDoneSinceStart = false;
  FRunFailed = false;
  ShowPage();
  std::shared_ptr<std::atomic<bool>> request = FCancel;
  FollowWorker(worker, [request] { *request = true; });
  worker->Resume();
}

void TMixTaskForm::DoOpenOutputFolder() {
  Guard([this] {
    const WideString name = WideTrim(edtSavePath->Text());
    if (!name.empty()) TUtils::SelectInExplorer(name);
  });
}

bool TMixTaskForm::OfThisRun(int Index) const { return FRunFollowed && Index >= 0 && Index < FileList->Count(); }

void TMixTaskForm::SetLine(int Index, uint8_t StateId) {
  if (Index < 0 || Index >= lbProgressDetail->Items()->Count()) return;
  lbProgressDetail->Items()->SetStrings(Index, FileList->Strings(Index) + L"   " + GetString(StateId));
}

void TMixTaskForm::OnMixStepStart(int Index) {
  if (!OfThisRun(Index)) return;
  FDoneSinceStart = false;
  Timer1->SetEnabled(true);
  lbProgress->SetCaption(GetString(idProcessing) + L" " + FileList->Strings(Index));
  SetLine(Index, idProcessing);
  lbProgressDetail->SetItemIndex(Index);
  pbProgress->SetRange(0, 100);
  pbProgress->SetStep(1);
  pbProgress->SetPosition(0);
  pbProgress->StepIt();
}

void TMixTaskForm::OnMixProgress(int Index, int Percent) {
  if (!OfThisRun(Index)) return;
  pbProgress->SetPosition(Percent);
}

void TMixTaskForm::OnMixStepDone(int Index, bool Succeeded) {
  if (!OfThisRun(Index)) return;
  // The task's final message repeats the last step's index and carries the overall result;
  // with two files the one step's done is that message.
  const bool final = FDoneSinceStart || FileList->Count() == 2;
  FDoneSinceStart = true;
  if (!Succeeded) FRunFailed = true;
  pbProgress->SetPosition(100);
  // A line that failed stays failed.
  SetLine(Index, Succeeded && !(final && FRunFailed) ? idSucceeded : idFailed);
  Timer1->SetEnabled(false);
  if (!final) return;
  EndRun();
  ForgetWorker();
  SetStep(3);
  ShowPage();
  lbProgress->SetCaption(GetString(idFinished));
  btnNext->SetCaption(GetString(idReturn));
}

void TMixTaskForm::OnMixStepError(int Index) {
  if (!OfThisRun(Index)) return;
  FRunFailed = true;
  SetLine(Index, idFailed);
  Timer1->SetEnabled(false);
  pbProgress->SetPosition(100);
}

void ShowMixTask(TComponent* Owner) {
  if (!MixTaskForm) MixTaskForm = CreateForm<TMixTaskForm>(Owner);
  MixTaskForm->Show();
  TUtils::ForceForegroundWindow(MixTaskForm->Handle());
}
