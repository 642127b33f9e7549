// The task window base as a user meets it: its look and layout, the main window minimised while
// it is open and back when it closes, its caption bar's Minimize and Close and a drag of its
// caption, the wizard buttons, a close while the worker runs (the Stop question, then the worker
// stopped and waited for), the output-folder chooser as a table, and no handle left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/ConfirmForm.h"
#include "app/TaskCaptionBar.h"
#include "app/uBaseTaskForm.h"
#include "classlib/Classes.h"
#include "common/WindowCapture.h"
#include "tasks/AudioUnit.h"
#include "tasks/EventsManager.h"
#include "tasks/Utils.h"
#include "tests/app/AppWindows.h"
#include "tests/app/TestMainForm.h"
#include "toolkit/shrControls.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"
#include "widgets/UniExtCtrls.h"
#include "widgets/UniStdCtrls.h"

using appwin::Later;
using appwin::TTestMainForm;

namespace {

int gProgressSeen = 0;  // progress messages the open test task windows heard

class TTestTaskForm : public TBaseTaskForm {
 public:
  explicit TTestTaskForm(TComponent* AOwner) : TBaseTaskForm(AOwner) {}
  ~TTestTaskForm() override;
  int Backs = 0, Nexts = 0, OpenFolders = 0;
  static inline int Alive = 0;
  static inline bool WorkerEndedAtFree = false;
  void DoBack() override { ++Backs; }
  void DoNext() override { ++Nexts; }
  void DoOpenOutputFolder() override { ++OpenFolders; }
  void UpdateTitle() override { CaptionBar()->SetCaption(L"测试任务窗口"); }
  void FormCreateMore() {
    ++Alive;
    EventSource()->OnConvertProgress = [](TObject*, int, int) { ++gProgressSeen; };
  }
};

std::atomic<bool> gWorkerEnded{false};
TTestTaskForm::~TTestTaskForm() {
  --Alive;
  WorkerEndedAtFree = gWorkerEnded;
}

TTestTaskForm* OpenTask() {
  auto* f = CreateForm<TTestTaskForm>(nullptr);
  f->FormCreateMore();
  f->Show();
  xinput::PumpFor(150);
  return f;
}

// Pumps until no test task window is left (closing frees a window once its messages are done).
bool PumpUntilFreed() {
  return xinput::PumpUntil([] { return TTestTaskForm::Alive == 0; }, 10000);
}

class TaskWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    xinput::Park();
    main = std::make_unique<TTestMainForm>(nullptr, TTestMainForm::tpMinimiseOnOpen | TTestMainForm::tpFrontOnClose);
    Application->SetMainForm(main.get());
    main->Show();
    xinput::PumpFor(100);
  }
  void TearDown() override {
    Application->SetMainForm(nullptr);
    main.reset();
    xinput::PumpFor(50);
  }
  HWND MainWnd() { return static_cast<HWND>(main->Handle()); }
  // Clicks the centre of a caption-bar element.
  void ClickElement(TTestTaskForm* F, TBaseHyperlink* E) {
    TRect r;
    E->GetControlRect(r);
    appwin::MoveTo(appwin::ScreenPoint(static_cast<HWND>(F->CaptionBar()->Handle()), (r.Left + r.Right) / 2,
                                       (r.Top + r.Bottom) / 2));
    xinput::Xdo("click 1");
  }
  std::unique_ptr<TTestMainForm> main;
};

TEST_F(TaskWindow, LooksAndIsLaidOutAsBuilt) {
  TTestTaskForm* f = OpenTask();
  HWND w = static_cast<HWND>(f->Handle());
  wchar_t cls[64] = {};
  GetClassNameW(w, cls, 64);
  EXPECT_STREQ(cls, L"TaskWindows.UnicodeClass");
  EXPECT_EQ(GetWindowLongW(w, GWL_STYLE) & WS_CAPTION, 0);
  EXPECT_NE(GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
  EXPECT_EQ(GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
  EXPECT_EQ(GetAncestor(w, GA_PARENT), GetDesktopWindow());
  EXPECT_EQ(GetWindow(w, GW_OWNER), nullptr) << "a window of its own, not owned by the application's";
  RECT client;
  GetClientRect(w, &client);
  EXPECT_EQ(client.right, 673);
  EXPECT_EQ(client.bottom, 509);
  HRGN rgn = CreateRectRgn(0, 0, 0, 0);
  EXPECT_NE(GetWindowRgn(w, rgn), ERROR) << "rounded corners";
  EXPECT_FALSE(PtInRegion(rgn, 0, 0)) << "the corner is cut";
  EXPECT_TRUE(PtInRegion(rgn, 336, 254));
  DeleteObject(rgn);
  // The strips: caption bar on top, navigation strip at the bottom.
  EXPECT_EQ(f->CaptionBar()->Top(), 0);
  EXPECT_EQ(f->CaptionBar()->Height(), 70);
  EXPECT_EQ(f->CaptionBar()->Width(), 673);
  EXPECT_EQ(f->pnlNavigate->Top(), 509 - 45);
  EXPECT_EQ(f->pnlNavigate->Width(), 673);
  // The buttons where the resize handler puts them, with their texts.
  EXPECT_EQ(f->btnNext->Left(), f->Width() - 85);
  EXPECT_EQ(f->BtnBack->Left(), f->btnNext->Left() - 125);
  EXPECT_EQ(f->btnOpenOutputFolder->Left(), 10);
  EXPECT_TRUE(IsWindowVisible(static_cast<HWND>(f->btnNext->Handle())));
  EXPECT_FALSE(IsWindowVisible(static_cast<HWND>(f->BtnBack->Handle())));
  EXPECT_FALSE(IsWindowVisible(static_cast<HWND>(f->btnOpenOutputFolder->Handle())));
  EXPECT_EQ(f->btnNext->Caption(), L"下一步");
  EXPECT_EQ(f->BtnBack->Caption(), L"上一步");
  EXPECT_EQ(f->btnOpenOutputFolder->Caption(), L"打开文件夹");
  EXPECT_EQ(f->CaptionBar()->Caption(), L"测试任务窗口");
  // A wider window keeps Next and Back at the right (anchored, then placed by the handler).
  f->SetClientSize(800, 509);
  xinput::PumpFor(50);
  EXPECT_EQ(f->btnNext->Left(), f->Width() - 85);
  EXPECT_EQ(f->BtnBack->Left(), f->btnNext->Left() - 125);
  f->SetClientSize(673, 509);
  xinput::PumpFor(100);
  // Kept as an artefact; the Chinese texts are glyphs (each its own shape, not one box).
  InvalidateRect(w, nullptr, TRUE);
  UpdateWindow(w);
  RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  xinput::PumpFor(200);
  capture::TCapture shot = capture::CaptureWindow(w, true);
  CreateDirectoryW(L"artefacts", nullptr);
  EXPECT_TRUE(capture::SaveBmp(shot, L"artefacts\\task_window_base.bmp"));
  // "下一步" on Next: glyphs, not boxes.
  appwin::TTextInk next = appwin::TextInk(shot, appwin::InsideOf(w, static_cast<HWND>(f->btnNext->Handle())));
  EXPECT_GT(next.Ink, 20) << "Next has its text";
  EXPECT_GT(next.ThirdsDiffer, 8) << "two different characters are drawn differently";
  f->Close();
  EXPECT_TRUE(PumpUntilFreed());
}

TEST_F(TaskWindow, OpeningMinimisesTheMainWindowAndClosingBringsItBack) {
  TTestTaskForm* f = OpenTask();
  EXPECT_TRUE(IsIconic(MainWnd())) << "a task window minimises the main window";
  // Minimize on the caption bar: only the task window.
  ClickElement(f, f->CaptionBar()->Parts().Minimize());
  xinput::PumpUntil([&] { return IsIconic(static_cast<HWND>(f->Handle())) != 0; }, 3000);
  EXPECT_TRUE(IsIconic(static_cast<HWND>(f->Handle())));
  EXPECT_TRUE(IsIconic(MainWnd())) << "the main window stays as it is";
  ShowWindow(static_cast<HWND>(f->Handle()), SW_RESTORE);
  xinput::PumpFor(200);
  // Close on the caption bar: the window frees itself and the main window is back in front.
  ClickElement(f, f->CaptionBar()->Parts().Close());
  EXPECT_TRUE(PumpUntilFreed());
  EXPECT_EQ(appwin::FindForm<TTestTaskForm>(L"TaskWindows"), nullptr);
  xinput::PumpUntil([&] { return !IsIconic(MainWnd()); }, 3000);
  EXPECT_FALSE(IsIconic(MainWnd()));
  EXPECT_EQ(GetForegroundWindow(), MainWnd());
  // Told once that a task window opened, once that it closed, and of the minimise.
  std::vector<std::pair<uintptr_t, intptr_t>> want{
      {CC_TASK_WINDOW, 5}, {CC_TASK_WINDOW, SC_MINIMIZE}, {CC_TASK_WINDOW, SC_CLOSE}};
  EXPECT_EQ(main->Commands, want);

  // Closed another way (Alt+F4) the main window comes back too.
  main->Commands.clear();
  f = OpenTask();
  SetForegroundWindow(static_cast<HWND>(f->Handle()));
  xinput::Xdo("key alt+F4");
  EXPECT_TRUE(PumpUntilFreed());
  xinput::PumpUntil([&] { return !IsIconic(MainWnd()); }, 3000);
  EXPECT_FALSE(IsIconic(MainWnd()));
  EXPECT_EQ(main->Commands, (std::vector<std::pair<uintptr_t, intptr_t>>{{CC_TASK_WINDOW, 5}, {CC_TASK_WINDOW, SC_CLOSE}}));
}

TEST_F(TaskWindow, TheWizardButtonsAndACaptionDrag) {
  TTestTaskForm* f = OpenTask();
  f->BtnBack->SetVisible(true);
  f->btnOpenOutputFolder->SetVisible(true);
  xinput::PumpFor(100);
  appwin::Click(f->btnNext);
  appwin::Click(f->btnNext);
  appwin::Click(f->BtnBack);
  appwin::Click(f->btnOpenOutputFolder);
  xinput::PumpUntil([&] { return f->OpenFolders == 1; }, 3000);
  EXPECT_EQ(f->Nexts, 2);
  EXPECT_EQ(f->Backs, 1);
  EXPECT_EQ(f->OpenFolders, 1);
  // A press on the caption bar away from its buttons, a drag, and the window follows.
  HWND w = static_cast<HWND>(f->Handle());
  RECT before, after;
  GetWindowRect(w, &before);
  appwin::MoveTo(appwin::ScreenPoint(static_cast<HWND>(f->CaptionBar()->Handle()), 400, 40));
  // The system's move loop holds the thread while the button is down: the whole drag is one
  // xdotool run that goes on while the loop serves it. The first move starts the loop (the
  // window follows the pointer from there on), the second carries the window.
  xinput::Run("mousedown 1 sleep 0.3 mousemove_relative 2 2 sleep 0.3 mousemove_relative 60 40 sleep 0.3 mouseup 1");
  xinput::PumpUntil([&] {
    GetWindowRect(w, &after);
    return after.left - before.left == 60 && after.top - before.top == 40;
  }, 5000);
  xinput::PumpFor(500);
  GetWindowRect(w, &after);
  EXPECT_EQ(after.left - before.left, 60);
  EXPECT_EQ(after.top - before.top, 40);
  f->Close();
  EXPECT_TRUE(PumpUntilFreed());
}

// A worker that sends progress on the bus until its shared stop request is set, then takes a
// while to wind down.
class TChattyWorker : public TThread {
 public:
  explicit TChattyWorker(std::shared_ptr<std::atomic<bool>> Stop) : TThread(true), FStop(std::move(Stop)) {
    SetFreeOnTerminate(true);
  }

 protected:
  void Execute() override {
    while (!*FStop) {
      SendMessageW(static_cast<HWND>(EventManager->Handle()), WM_CONVERT_PROGRESS, 0, 50);
      Sleep(20);
    }
    Sleep(400);
    gWorkerEnded = true;
  }

 private:
  std::shared_ptr<std::atomic<bool>> FStop;
};

TEST_F(TaskWindow, ClosingWhileTheWorkerRunsAsksThenStopsItAndWaitsForIt) {
  TTestTaskForm* f = OpenTask();
  auto stop = std::make_shared<std::atomic<bool>>(false);
  auto* worker = new TChattyWorker(stop);
  f->FollowWorker(worker, [stop] { *stop = true; });
  gWorkerEnded = false;
  worker->Start();
  xinput::PumpUntil([] { return gProgressSeen > 3; }, 3000);
  EXPECT_TRUE(f->WorkerRunning());

  // Close, and Cancel at the Stop question: the window and its run go on.
  bool asked = false;
  auto dialog = [] { return appwin::FindForm<TConfirmForm>(L"lorvuDialogsForm"); };
  appwin::When([&] { return dialog() != nullptr; }, [&] {
    TConfirmForm* d = dialog();
    asked = IsWindowVisible(static_cast<HWND>(d->BtnOk->Handle())) && IsWindowVisible(static_cast<HWND>(d->BtnCancel->Handle()));
    appwin::Click(d->BtnCancel);
  });
  ClickElement(f, f->CaptionBar()->Parts().Close());
  xinput::PumpUntil([&] { return asked; }, 5000);
  xinput::PumpFor(300);
  EXPECT_TRUE(asked);
  ASSERT_EQ(TTestTaskForm::Alive, 1) << "the window stays";
  EXPECT_FALSE(*stop);
  EXPECT_TRUE(IsIconic(MainWnd())) << "the main window is not brought back for a close called off";

  // Close, and OK: the worker is stopped and the window waits for it to end.
  TTestTaskForm::WorkerEndedAtFree = false;
  appwin::When([&] { return dialog() != nullptr; }, [&] { appwin::Click(dialog()->BtnOk); });
  ClickElement(f, f->CaptionBar()->Parts().Close());
  EXPECT_TRUE(PumpUntilFreed());
  EXPECT_TRUE(*stop);
  EXPECT_TRUE(TTestTaskForm::WorkerEndedAtFree) << "the worker ended before the window went";
  // A later window of the task hears nothing of the stopped run.
  TTestTaskForm* next = OpenTask();
  gProgressSeen = 0;
  xinput::PumpFor(500);
  EXPECT_EQ(gProgressSeen, 0);
  next->Close();
  EXPECT_TRUE(PumpUntilFreed());
}

TEST_F(TaskWindow, AHundredOpenCloseCyclesLeaveNoHandleBehind) {
  auto cycle = [] {
    TTestTaskForm* f = OpenTask();
    f->Close();
    PumpUntilFreed();
  };
  cycle();
  appwin::TGuiObjects before = appwin::GuiObjects();
  for (int i = 0; i < 100; ++i) cycle();
  xinput::PumpFor(200);
  appwin::TGuiObjects after = appwin::GuiObjects();
  EXPECT_EQ(after.Gdi, before.Gdi);
  EXPECT_EQ(after.User, before.User);
}

// --- The output-folder chooser

struct TChooserCase {
  const char* What;
  std::vector<std::wstring> Picks;        // what the picker gives, one per showing
  std::vector<std::pair<std::wstring, std::string>> Dialogs;  // caption, the button pressed
  std::wstring WantText;                  // the edit box afterwards
  std::wstring WantFolder;                // a folder that exists afterwards (empty: none)
  std::wstring WantMissing;               // a folder that does not exist afterwards
  int WantPicks;                          // showings of the picker
};

TEST_F(TaskWindow, TheOutputFolderChooserAsATable) {
  const std::wstring root = L"C:\\taskfx";
  RemoveDirectoryW((root + L"\\new1").c_str());
  RemoveDirectoryW((root + L"\\音乐 Ελλάδα").c_str());
  RemoveDirectoryW((root + L"\\gone").c_str());
  CreateDirectoryW(root.c_str(), nullptr);
  CreateDirectoryW((root + L"\\w").c_str(), nullptr);
  HANDLE h = CreateFileW((root + L"\\file.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  CloseHandle(h);
  const std::wstring w = root + L"\\w", unwritable = L"Z:\\proc\\1", keep = L"unchanged";
  const std::wstring notWritable = L"  没有写入权限  ", create = L"文件夹不存在，是否创建？";
  const TChooserCase cases[] = {
      {"an existing writable folder", {w}, {}, w, w, L"", 1},
      {"the picker cancelled", {L""}, {}, keep, L"", L"", 1},
      {"blanks and control characters trimmed", {L"  " + w + L" \t"}, {}, w, w, L"", 1},
      {"unwritable, then a writable one", {unwritable, w}, {{notWritable, "OK"}}, w, w, L"", 2},
      {"unwritable twice, then the picker cancelled", {unwritable, unwritable, L""},
       {{notWritable, "OK"}, {notWritable, "OK"}}, keep, L"", L"", 3},
      {"missing, created on OK", {root + L"\\new1"}, {{create, "OK"}}, root + L"\\new1", root + L"\\new1", L"", 1},
      {"missing, Cancel", {root + L"\\gone"}, {{create, "Cancel"}}, keep, L"", root + L"\\gone", 1},
      {"a file", {root + L"\\file.txt"}, {{create, "OK"}}, keep, L"", L"", 1},
      {"a folder that cannot be created", {root + L"\\no\\deeper"}, {{create, "OK"}}, keep, L"", root + L"\\no", 1},
      {"a name outside the code page", {root + L"\\音乐 Ελλάδα"}, {{create, "OK"}}, root + L"\\音乐 Ελλάδα",
       root + L"\\音乐 Ελλάδα", L"", 1},
  };
  TTestTaskForm* f = OpenTask();
  auto* edit = new TUniEdit(f);
  edit->SetParent(f);
  edit->SetBounds(20, 100, 400, 21);
  auto saved = TaskFolderPicker;
  for (const TChooserCase& c : cases) {
    SCOPED_TRACE(c.What);
    edit->SetText(keep);
    std::deque<std::wstring> picks(c.Picks.begin(), c.Picks.end());
    int shown = 0;
    std::vector<std::wstring> titles;
    TaskFolderPicker = [&](void* Owner, const WideString& Title) {
      ++shown;
      titles.push_back(Title);
      EXPECT_EQ(Owner, f->Handle());
      if (picks.empty()) return WideString();
      WideString p = picks.front();
      picks.pop_front();
      return p;
    };
    std::vector<std::wstring> captions;
    size_t next = 0;
    std::function<void()> answer = [&] {
      TConfirmForm* d = appwin::FindForm<TConfirmForm>(L"lorvuDialogsForm");
      ASSERT_NE(d, nullptr) << "dialog " << next;
      wchar_t buf[128] = {};
      GetWindowTextW(static_cast<HWND>(d->Handle()), buf, 128);
      captions.push_back(buf);
      const std::string& press = c.Dialogs[next].second;
      appwin::Click(press == "OK" ? d->BtnOk : d->BtnCancel);
      if (++next < c.Dialogs.size()) Later(400, answer);
    };
    if (!c.Dialogs.empty()) Later(400, answer);
    f->ChooseOutputFolder(edit);
    EXPECT_EQ(edit->Text(), c.WantText);
    EXPECT_EQ(shown, c.WantPicks);
    for (const std::wstring& t : titles) EXPECT_EQ(t, L"选择文件夹");
    std::vector<std::wstring> wantCaptions;
    for (auto& d : c.Dialogs) wantCaptions.push_back(d.first);
    EXPECT_EQ(captions, wantCaptions);
    EXPECT_TRUE(c.WantFolder.empty() || WideDirectoryExists(c.WantFolder));
    EXPECT_TRUE(c.WantMissing.empty() || !WideDirectoryExists(c.WantMissing));
  }
  TaskFolderPicker = saved;
  f->Close();
  EXPECT_TRUE(PumpUntilFreed());
}

}  // namespace

namespace {

// The open dialogs' two filters: pairs of a text and its patterns, each part ended by "|".
std::vector<std::pair<std::wstring, std::wstring>> FilterPairs(const std::wstring& Filter) {
  std::vector<std::pair<std::wstring, std::wstring>> pairs;
  std::vector<std::wstring> parts;
  size_t from = 0;
  for (size_t bar; (bar = Filter.find(L'|', from)) != std::wstring::npos; from = bar + 1)
    parts.push_back(Filter.substr(from, bar - from));
  EXPECT_EQ(from, Filter.size()) << "the last part ends with |";
  EXPECT_EQ(parts.size() % 2, 0u);
  for (size_t i = 0; i + 1 < parts.size(); i += 2) pairs.push_back({parts[i], parts[i + 1]});
  return pairs;
}

TEST(TaskOutputFormats, FiltersFormatsAndTheOutputNamesExtension) {
  const auto full = FilterPairs(TaskOpenFilter(true));
  const auto shorter = FilterPairs(TaskOpenFilter(false));
  ASSERT_EQ(full.size(), 12u);
  ASSERT_EQ(shorter.size(), 9u);
  EXPECT_EQ(full[0].second, L"*.MP3;*.WMA;*.FLAC;*.OGG;*.APE;*.WV;*.OFR;*.TAK;*.TTA;*.MPC;*.WAV");
  EXPECT_EQ(shorter[0].second, L"*.MP3;*.WMA;*.FLAC;*.OGG;*.APE;*.WV;*.MPC;*.WAV");
  std::vector<std::wstring> fullPatterns, shortPatterns;
  for (size_t i = 1; i < full.size(); ++i) fullPatterns.push_back(full[i].second);
  for (size_t i = 1; i < shorter.size(); ++i) shortPatterns.push_back(shorter[i].second);
  EXPECT_EQ(fullPatterns, (std::vector<std::wstring>{L"*.MP3", L"*.WMA", L"*.FLAC", L"*.OGG", L"*.APE", L"*.WV",
                                                     L"*.OFR", L"*.TAK", L"*.TTA", L"*.MPC", L"*.WAV"}));
  EXPECT_EQ(shortPatterns, (std::vector<std::wstring>{L"*.MP3", L"*.WMA", L"*.FLAC", L"*.OGG", L"*.APE", L"*.WV",
                                                      L"*.MPC", L"*.WAV"}));
  EXPECT_EQ(full[7].first, L"OptimFROG Lossless Audio ");

  // The format box's last item is WAV; an index outside the box is its first format.
  EXPECT_EQ(TaskOutputFormat(8).Type, ftWAV);
  EXPECT_STREQ(TaskOutputFormat(8).Extension, L".wav");
  EXPECT_EQ(TaskOutputFormat(-1).Type, ftMP3);
  EXPECT_EQ(TaskOutputFormat(9).Type, ftMP3);
  const struct {
    const wchar_t *Name, *Ext, *Expected;
  } names[] = {{L"C:\\out\\take.wav", L".mp3", L"C:\\out\\take.wav.mp3"},
               {L"C:\\out\\OUT.WAV", L".wav", L"C:\\out\\OUT.WAV"},
               {L"C:\\out\\take", L".wav", L"C:\\out\\take.wav"},
               {L"C:\\a.b\\take", L".flac", L"C:\\a.b\\take.flac"}};
  for (const auto& n : names) EXPECT_EQ(WithOutputExtension(n.Name, n.Ext), n.Expected) << n.Name;
}

}  // namespace
