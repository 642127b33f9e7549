#include "app/uBaseTaskForm.h"

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <vector>

#include "app/ConfirmForm.h"
#include "app/TaskCaptionBar.h"
#include "classlib/SyncObjs.h"
#include "classlib/WinApi.h"
#include "tasks/AudioUnit.h"
#include "tasks/EventsManager.h"
#include "tasks/Utils.h"
#include "toolkit/LanguageManager.h"
#include "unicode/UniSysUtils.h"
#include "widgets/UniExtCtrls.h"
#include "widgets/UniStdCtrls.h"

std::function<WideString(void* Owner, const WideString& Title)> TaskFolderPicker = TUtils::SelectFolder;

const TTaskOutputFormat TaskOutputFormats[9] = {
    {L"MPEG Audio Layer3 (MP3)    (*.MP3)", ftMP3, L"MPEG Audio Layer3 (MP3)|*.MP3", L".mp3"},
    {L"Windows Media Audio (WMA)   (*.WMA)", ftWMA, L"Windows Media Audio (WMA)|*.WMA", L".wma"},
    {L"Free Lossless Audio Codec (FLAC)   (*.FLAC)", ftFLAC, L"Free Lossless Audio Codec (FLAC)|*.FLAC", L".flac"},
    {L"OGG Vobis(Ogg Vorbis)     (*.OGG)", ftOGG, L"OGG Vobis(Ogg Vorbis)|*.OGG", L".ogg"},
    {L"Monkey's Audio  (*.APE)", ftAPE, L"Monkeys Audio  |*.APE", L".ape"},
    {L"WavPack Audio   (*.WV)", ftWV, L"WavPack Audio  | *.WV", L".wv"},
    {L"The World of True Audio   (*.TTA)", ftTTA, L"The World of True Audio|*.TTA", L".tta"},
    {L"MusePack  (*.MPC)", ftMPC, L"MusePack  |*.MPC", L".mpc"},
    {L"Windows Media Audio (*.WAV)", ftWAV, L"Windows Media Audio|*.WAV", L".wav"},
};

WideString TaskOpenFilter(bool Full) {
  struct TPair {
    const wchar_t* Text;
    const wchar_t* Patterns;
    bool FullOnly;
  };
  static const TPair pairs[] = {
      {L"All Supports Audios ", L"*.MP3;*.WMA;*.FLAC;*.OGG;*.APE;*.WV;*.OFR;*.TAK;*.TTA;*.MPC;*.WAV", true},
      {L"All Supports Audios ", L"*.MP3;*.WMA;*.FLAC;*.OGG;*.APE;*.WV;*.MPC;*.WAV", false},
      {L"MPEG Audio Layer3 (MP3)", L"*.MP3", false},
      {L"Windows Media Audio(WMA)", L"*.WMA", false},
      {L"Free Lossless Audio Codec (FLAC)", L"*.FLAC", false},
      {L"OGG Vobis(Ogg Vorbis)", L"*.OGG", false},
      {L"Monkey is Audio ", L"*.APE", false},
      {L"WavPack Audio ", L"*.WV", false},
      {L"OptimFROG Lossless Audio ", L"*.OFR", true},
      {L"Toms Audio Kompressor ", L"*.TAK", true},
      {L"The World of True Audio ", L"*.TTA", true},
      {L"MusePack Audio ", L"*.MPC", false},
      {L"Windows Media Audio ", L"*.WAV", false},
  };
  WideString filter;
  for (size_t i = 0; i < std::size(pairs); ++i) {
    const TPair& p = pairs[i];
    // The first two are the one "all" pair of either list.
    const bool keep = i < 2 ? p.FullOnly == Full : !p.FullOnly || Full;
    if (keep) filter += WideString(p.Text) + L"|" + p.Patterns + L"|";
  }
  return filter;
}

const TTaskOutputFormat& TaskOutputFormat(int Index) {
  return TaskOutputFormats[Index >= 0 && Index < (int)std::size(TaskOutputFormats) ? Index : 0];
}

TUniButton* TaskButton(TComponent* Owner, TWinControl* Parent, int Left, int Top, int Width, int Height,
                       std::function<void()> OnClick) {
  auto* b = TaskControl<TUniButton>(Owner, Parent, Left, Top, Width, Height);
  b->OnClick = [OnClick = std::move(OnClick)](TObject*) { OnClick(); };
  return b;
}

TUniComboBox* TaskDropDownList(TComponent* Owner, TWinControl* Parent, int Left, int Top, int Width) {
  auto* c = new TUniComboBox(Owner);
  c->SetParent(Parent);
  c->SetStyle(csDropDownList);
  c->SetBounds(Left, Top, Width, 21);
  return c;
}

WideString WithBackslash(const WideString& Path) {
  if (!Path.empty() && Path.back() != L'\\') return Path + L"\\";
  return Path;
}

WideString TimeOfDay(int64_t Seconds) {
  if (Seconds < 0) Seconds = 0;
  return TUtils::FormatTimeSec((uint32_t)(Seconds % 86400));
}

WideString WithOutputExtension(const WideString& Name, const WideString& Extension) {
  WideString ext = WideExtractFileExt(Name);
  for (wchar_t& c : ext) c = (wchar_t)std::towlower(c);
  return ext == Extension ? Name : Name + Extension;
}

namespace {
// Language string ids of the base.
enum : uint8_t {
  idNoTitle = 0,
  idBack = 24,
  idNext = 25,
  idOpenFolder = 26,
  idChooseFolder = 64,
  idNotWritableCaption = 65,
  idNotWritableTitle = 66,
  idNotWritableMessage = 67,
  idCreateFolder = 68,
  idStopTitle = 76,
  idStopMessage = 77,
};
// The second parameter of CC_TASK_WINDOW when a task window opened.
constexpr intptr_t kTaskWindowOpened = 5;

// A button of the navigation strip, 8 pixels from its top.
TUniButton* MakeButton(TBaseTaskForm* Form, TWinControl* Parent, int Left, int Width, TAnchors Anchors,
                       std::function<void()> OnClick) {
  auto* b = TaskButton(Form, Parent, Left, 8, Width, 25, std::move(OnClick));
  b->SetAnchors(Anchors);
  return b;
}

void TellMainWindow(intptr_t Command) {
  if (EventManager) SendMessageW(static_cast<HWND>(EventManager->Handle()), WM_CAPTION_COMMAND, CC_TASK_WINDOW, Command);
}
}  // namespace

namespace {
// The task windows alive, in the order they were made.
std::vector<TBaseTaskForm*>& LiveTaskForms() {
  static std::vector<TBaseTaskForm*> forms;
  return forms;
}
}  // namespace

void TBaseTaskForm::StopAll() {
  // A copy: serving messages while a worker winds down may free a window.
  const std::vector<TBaseTaskForm*> forms = LiveTaskForms();
  for (TBaseTaskForm* f : forms) {
    const auto& live = LiveTaskForms();
    if (std::find(live.begin(), live.end(), f) == live.end() || !f->WorkerRunning()) continue;
    f->StopWorker();
    f->ForgetWorker();
  }
}

void TBaseTaskForm::FreeAll() {
  while (!LiveTaskForms().empty()) delete LiveTaskForms().back();
}

TBaseTaskForm::TBaseTaskForm(TComponent* AOwner) : TUniForm(AOwner) {
  LiveTaskForms().push_back(this);
  SetClientSize(673, 509);
  SetBorderStyle(bsSingle);
  SetPosition(poScreenCenter);
  Font()->SetName("Tahoma");
  Font()->SetHeight(-11);
  pnlNavigate = new TUniPanel(this);
  pnlNavigate->SetParent(this);
  pnlNavigate->SetBevelOuter(bvNone);
  pnlNavigate->SetBounds(0, 509 - 45, 673, 45);
  pnlNavigate->SetAlign(alBottom);
  btnNext = MakeButton(this, pnlNavigate, 533, 75, akRight | akBottom, [this] { DoNext(); });
  BtnBack = MakeButton(this, pnlNavigate, 423, 75, akRight | akBottom, [this] { DoBack(); });
  BtnBack->SetVisible(false);
  btnOpenOutputFolder = MakeButton(this, pnlNavigate, 23, 114, akLeft | akTop, [this] { DoOpenOutputFolder(); });
  btnOpenOutputFolder->SetVisible(false);
  OnCreate = [this](TObject* Sender) { FormCreate(Sender); };
  OnClose = [this](TObject* Sender, TCloseAction& Action) { FormClose(Sender, Action); };
  OnResize = [this](TObject* Sender) { UniFormResize(Sender); };
}

TBaseTaskForm::~TBaseTaskForm() {
  auto& live = LiveTaskForms();
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
  // Off the bus first: the task window's handlers are gone already. A window freed without
  // closing (the application's end) still stops its worker before it goes.
  FEventSource.reset();
  if (WorkerRunning()) StopWorker();
  ForgetWorker();
  delete FCaptionBar;
  FCaptionBar = nullptr;
}

void TBaseTaskForm::CreateParams(TCreateParams& Params) {
  TUniForm::CreateParams(Params);
  OwnTopLevelWindow(Params, "TaskWindows");
}

void TBaseTaskForm::FormCreate(TObject*) {
  HWND self = static_cast<HWND>(Handle());
  SetWindowLongW(self, GWL_STYLE, GetWindowLongW(self, GWL_STYLE) ^ WS_CAPTION);
  // Without its frame the window keeps its client size.
  SetWindowPos(self, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  SetClientSize(673, 509);
  SetWindowRgn(self, CreateRoundRectRgn(0, 0, Width(), Height(), 8, 5), TRUE);
  FEventSource = std::make_unique<TEventSource>(this);
  FEventSource->OnLanguageChanged = [this](TObject*) { LanguageChanged(); };
  CreateCaptionBar();
  ApplyLanguage();
  BtnBack->SetVisible(false);
  TellMainWindow(kTaskWindowOpened);
}

void TBaseTaskForm::FormClose(TObject*, TCloseAction& Action) {
  Action = caFree;
  // However the window closes (its caption bar, the system menu, Alt+F4), the main window is
  // told once, so that it comes back.
  if (!FClosing) {
    FClosing = true;
    TellMainWindow(SC_CLOSE);
  }
}

void TBaseTaskForm::UniFormResize(TObject*) {
  btnNext->SetBounds(Width() - btnNext->Width() - 10, btnNext->Top(), btnNext->Width(), btnNext->Height());
  BtnBack->SetBounds(btnNext->Left() - BtnBack->Width() - 50, BtnBack->Top(), BtnBack->Width(), BtnBack->Height());
  btnOpenOutputFolder->SetBounds(10, btnOpenOutputFolder->Top(), btnOpenOutputFolder->Width(),
                                 btnOpenOutputFolder->Height());
}

void TBaseTaskForm::UpdateTitle() {
  if (FCaptionBar) FCaptionBar->SetCaption(GetString(idNoTitle));
}

void TBaseTaskForm::LanguageChanged() { ApplyLanguage(); }

void TBaseTaskForm::ApplyLanguage() {
  UpdateTitle();
  // The window's own text is its title too: the task bar and the system's window lists show it.
  if (FCaptionBar) SetCaption(FCaptionBar->Caption());
  BtnBack->SetCaption(GetString(idBack));
  btnNext->SetCaption(GetString(idNext));
  btnOpenOutputFolder->SetCaption(GetString(idOpenFolder));
}

void TBaseTaskForm::CreateCaptionBar() {
  FCaptionBar = new TTaskCaptionBar(this, Handle());
  FCaptionBar->SetParent(this);
  FCaptionBar->SetBounds(0, 0, ClientWidth(), 70);
  FCaptionBar->SetAlign(alTop);
  // Top-aligned controls go in the order of their places: whatever the task window aligned at the
  // top before the caption bar existed moves below it.
  for (int i = 0; i < ControlCount(); ++i) {
    TControl* c = Controls(i);
    if (c != FCaptionBar && c->Align() == alTop && c->Top() < FCaptionBar->Top())
      c->SetBounds(c->Left(), FCaptionBar->Top() + FCaptionBar->Height(), c->Width(), c->Height());
  }
}

void TBaseTaskForm::WndProc(TMessage& Message) {
  if (Message.Msg != WM_CAPTION_COMMAND) {
    TUniForm::WndProc(Message);
    return;
  }
  HWND self = static_cast<HWND>(Handle());
  uintptr_t command = Message.WParam;
  Message.Result = 0;
  if (command == SC_MINIMIZE || command == SC_MAXIMIZE || command == SC_CLOSE)
    SendMessageW(self, WM_SYSCOMMAND, command, 0);
  // A close that happened has told the main window already (FormClose); one the user called off
  // at the Stop question must not bring the main window back.
  if (command != SC_CLOSE) TellMainWindow(static_cast<intptr_t>(command));
}

WideString TBaseTaskForm::WritableFolder(WideString Path) {
  if (!IsVistaOrLater()) return Path;
  while (!Path.empty()) {
    if (TUtils::IsFolderWritable(Path)) break;
    ShowQuestionDialog(this, cbsOk, GetString(idNotWritableCaption), GetString(idNotWritableTitle),
                       GetString(idNotWritableMessage), kTaskPromptSeconds);
    Path = WideTrim(TaskFolderPicker(Handle(), GetString(idChooseFolder)));
  }
  return Path;
}

void TBaseTaskForm::ChooseOutputFolder(TUniEdit* Edit) {
  WideString path = WideTrim(TaskFolderPicker(Handle(), GetString(idChooseFolder)));
  if (path.empty()) return;
  if (!WideDirectoryExists(path)) {
    if (ShowQuestionDialog(this, cbsOkCancel, GetString(idCreateFolder), TUtils::GetAppTitle(), L"", kTaskPromptSeconds) !=
        mrOk)
      return;
    if (!TUtils::CreateFolder(path)) return;
  }
  path = WritableFolder(path);
  if (!path.empty()) Edit->SetText(path);
}

void TBaseTaskForm::FollowWorker(TThread* Worker, std::function<void()> Cancel) {
  ForgetWorker();
  HANDLE process = GetCurrentProcess(), copy = nullptr;
  if (Worker && DuplicateHandle(process, static_cast<HANDLE>(Worker->Handle()), process, &copy, SYNCHRONIZE, FALSE, 0))
    FWorkerHandle = copy;
  FCancelWorker = std::move(Cancel);
}

void TBaseTaskForm::ForgetWorker() {
  if (FWorkerHandle) CloseHandle(static_cast<HANDLE>(FWorkerHandle));
  FWorkerHandle = nullptr;
  FCancelWorker = nullptr;
}

bool TBaseTaskForm::WorkerRunning() const {
  return FWorkerHandle && WaitForSingleObject(static_cast<HANDLE>(FWorkerHandle), 0) == WAIT_TIMEOUT;
}

bool TBaseTaskForm::ConfirmStop() {
  return ShowQuestionDialog(this, cbsOkCancel, TUtils::GetAppTitle(), GetString(idStopTitle), GetString(idStopMessage),
                            kTaskPromptSeconds) == mrOk;
}

void TBaseTaskForm::StopWorker() {
  if (!FWorkerHandle) return;
  if (FCancelWorker) FCancelWorker();
  WaitForHandle(FWorkerHandle, INFINITE_WAIT);
}

bool TBaseTaskForm::CloseQuery() {
  if (!TUniForm::CloseQuery()) return false;
  if (!WorkerRunning()) return true;
  if (!ConfirmStop()) return false;
  StopWorker();
  ForgetWorker();
  return true;
}
