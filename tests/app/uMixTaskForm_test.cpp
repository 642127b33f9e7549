// The Mix task window as a user meets it: files added through the real open dialog and by a
// drop, the list reordered and edited with the mouse, a preview played, the mode and format
// picked from their combos, the output named in the real save dialog, the run followed to its
// end and its output checked with sox; then the faults a user can run into (an output that
// exists, a file that breaks during the run, an output folder that cannot be written, a Stop
// during a run) and fifty open-run-close cycles.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/ConfirmForm.h"
#include "app/TaskCaptionBar.h"
#include "app/uMixTaskForm.h"
#include "classlib/Classes.h"
#include "common/Peer.h"
#include "common/WindowCapture.h"
#include "tasks/AudioUnit.h"
#include "tasks/EventsManager.h"
#include "tasks/Utils.h"
#include "tests/app/AppWindows.h"
#include "tests/app/ShellRecorder.h"
#include "tests/app/TestMainForm.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/NavigatePageControl.h"
#include "toolkit/RichText.h"
#include "toolkit/shrControls.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"
#include "widgets/UniComCtrls.h"
#include "widgets/UniStdCtrls.h"
#include "classlib/ExtCtrls.h"

#include <commctrl.h>
#include <shellapi.h>
#include <tlhelp32.h>

using appwin::Later;
using appwin::TTestMainForm;

namespace {

const std::wstring kDir = L"C:\\mixwin";

bool WriteBytes(const std::wstring& File, const std::string& Data) {
  HANDLE h = CreateFileW(File.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD done = 0;
  const bool ok = WriteFile(h, Data.data(), (DWORD)Data.size(), &done, nullptr) && done == Data.size();
  CloseHandle(h);
  return ok;
}

std::string ReadBytes(const std::wstring& File) {
  HANDLE h = CreateFileW(File.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "";
  std::string data(GetFileSize(h, nullptr), '\0');
  DWORD done = 0;
  if (!data.empty() && !ReadFile(h, &data[0], (DWORD)data.size(), &done, nullptr)) done = 0;
  CloseHandle(h);
  data.resize(done);
  return data;
}

std::string U8(const std::wstring& S) { return WideToUtf8(S); }
std::string Native(const std::wstring& WinPath) { return peer::NativeArg(WinPath); }

std::string Peer(const std::string& Command) {
  peer::Result r = peer::Run(Command);
  EXPECT_EQ(r.exitCode, 0) << Command << ": " << r.err;
  return r.out;
}

void Tones(const std::wstring& File, double Seconds, int Base) {
  Peer("sox -D -n -r 44100 -c 2 -b 16 " + Native(File) + " synth " + std::to_string(Seconds) + " sine " +
       std::to_string(Base) + " sine " + std::to_string(Base * 3 / 2) + " gain -3");
}

std::map<std::string, std::string> Probe(const std::wstring& File) {
  return peer::ProbeFields(Peer("ffprobe -v error -select_streams a:0 -show_entries "
                                "stream=codec_name,sample_rate,channels,duration,bits_per_raw_sample "
                                "-of default=nw=1 " + Native(File)));
}

std::vector<int16_t> Samples(const std::string& NativeFile) {
  const std::string raw = Peer("sox -D " + NativeFile + " -t raw -e signed -b 16 -L -");
  std::vector<int16_t> v(raw.size() / 2);
  memcpy(v.data(), raw.data(), v.size() * 2);
  return v;
}

// The files left in a folder.
std::vector<std::wstring> Listing(const std::wstring& Dir) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((Dir + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return names;
}

int ThreadCount() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 te{};
  te.dwSize = sizeof(te);
  int n = 0;
  for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
    n += te.th32OwnerProcessID == GetCurrentProcessId();
  CloseHandle(snap);
  return n;
}

// The visible system dialog (an open or save dialog, or its overwrite question) of this process.
HWND SystemDialog() {
  for (HWND w = FindWindowW(L"#32770", nullptr); w; w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == GetCurrentProcessId() && IsWindowVisible(w)) return w;
  }
  return nullptr;
}

// Answers the system dialogs that come up next, one step each: a step types its text and
// presses Return (an empty text: Return alone; "key:..." presses those keys). A step is taken once
// a dialog has been up for half a second; a thread timer of its own looks every 100 ms, also
// inside the dialog's modal loop.
struct TDialogAnswers {
  std::vector<std::string> Steps;
  HWND Seen = nullptr;
  DWORD SeenAt = 0, Until = 0;
  UINT_PTR Timer = 0;
};
TDialogAnswers& Answers() {
  static TDialogAnswers a;
  return a;
}
void CALLBACK AnswerTick(HWND, UINT, UINT_PTR, DWORD) {
  TDialogAnswers& a = Answers();
  HWND d = SystemDialog();
  if (d != a.Seen) {
    a.Seen = d;
    a.SeenAt = GetTickCount();
  }
  if (!d || GetTickCount() - a.SeenAt < 500) {
    if ((int)(GetTickCount() - a.Until) > 0) {
      KillTimer(nullptr, a.Timer);
      a.Timer = 0;
      a.Steps.clear();
      ADD_FAILURE() << "no system dialog came";
    }
    return;
  }
  const std::string s = a.Steps.front();
  a.Steps.erase(a.Steps.begin());
  if (a.Steps.empty()) {
    KillTimer(nullptr, a.Timer);
    a.Timer = 0;
  }
  a.Seen = nullptr;  // the next step waits for the next dialog (or this one again, settled)
  a.Until = GetTickCount() + 30000;
  SetForegroundWindow(d);
  if (s.rfind("key:", 0) == 0) {
    xinput::Xdo("key --delay 50 " + s.substr(4));
  } else {
    if (!s.empty()) xinput::Xdo("type --delay 5 " + peer::Quote(s));
    xinput::Xdo("key Return");
  }
}
void AnswerDialogs(std::vector<std::string> Steps) {
  TDialogAnswers& a = Answers();
  if (a.Timer) KillTimer(nullptr, a.Timer);
  a = TDialogAnswers{};
  if (Steps.empty()) return;
  a.Steps = std::move(Steps);
  a.Until = GetTickCount() + 30000;
  a.Timer = SetTimer(nullptr, 0, 100, AnswerTick);
}

TConfirmForm* Notice() { return appwin::FindForm<TConfirmForm>(L"lorvuDialogsForm"); }

// Clicks the middle of row Index of the file list.
void ClickRow(TMixTaskForm* F, int Index) {
  HWND lv = static_cast<HWND>(F->lvFiles->Handle());
  RECT r{};
  r.left = LVIR_BOUNDS;
  SendMessageW(lv, LVM_GETITEMRECT, Index, reinterpret_cast<LPARAM>(&r));
  appwin::MoveTo(appwin::ScreenPoint(lv, r.left + 120, (r.top + r.bottom) / 2));
  xinput::Xdo("click 1");
  xinput::PumpFor(150);
}

// Opens a drop-down combo with the mouse and picks with keys.
void PickInCombo(TUniComboBox* Combo, const std::string& Keys) {
  appwin::Click(Combo);
  xinput::PumpFor(200);
  xinput::Xdo("key --delay 50 " + Keys + " Return");
  xinput::PumpFor(200);
}

void ClickAndPump(TWinControl* Control, unsigned Ms = 200) {
  appwin::Click(Control);
  xinput::PumpFor(Ms);
}

std::vector<std::wstring> Captions(TMixTaskForm* F) {
  std::vector<std::wstring> r;
  for (int i = 0; i < F->lvFiles->Items()->Count(); ++i) r.push_back(F->lvFiles->Item(i)->Caption());
  return r;
}
std::vector<std::wstring> Names(TMixTaskForm* F) {
  std::vector<std::wstring> r;
  for (int i = 0; i < F->lvFiles->Items()->Count(); ++i) r.push_back(F->lvFiles->Item(i)->SubItems()->Strings(0));
  return r;
}
std::vector<std::wstring> ListNames(const TUniStringList& L) {
  std::vector<std::wstring> r;
  for (int i = 0; i < L.Count(); ++i) r.push_back(L.Strings(i));
  return r;
}
std::vector<std::wstring> Lines(TMixTaskForm* F) {
  std::vector<std::wstring> r;
  for (int i = 0; i < F->lbProgressDetail->Items()->Count(); ++i) r.push_back(F->lbProgressDetail->Items()->Strings(i));
  return r;
}
int SelectedRow(TMixTaskForm* F) { return F->lvFiles->Selected() ? F->lvFiles->Selected()->Index() : -1; }

void Shoot(TMixTaskForm* F, const std::wstring& Name) {
  HWND w = static_cast<HWND>(F->Handle());
  RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  xinput::PumpFor(200);
  capture::TCapture shot = capture::CaptureWindow(w, true);
  CreateDirectoryW(L"artefacts", nullptr);
  EXPECT_TRUE(capture::SaveBmp(shot, L"artefacts\\" + Name + L".bmp"));
  // The Chinese texts are glyphs: "添加" and "选择输出文件" are drawn as different shapes.
  for (TWinControl* c : std::initializer_list<TWinControl*>{F->btnAdd, F->btnSelectFolder}) {
    if (!IsWindowVisible(static_cast<HWND>(c->Handle()))) continue;
    appwin::TTextInk ink = appwin::TextInk(shot, appwin::InsideOf(w, static_cast<HWND>(c->Handle())));
    EXPECT_GT(ink.Ink, 20) << "a button has its text";
    EXPECT_GT(ink.ThirdsDiffer, 8) << "different characters are drawn differently";
  }
}

// Points the process's temporary folder at a private one for a test.
class PrivateTemp {
 public:
  PrivateTemp() {
    CreateDirectoryW(FDir.c_str(), nullptr);
    for (const std::wstring& n : Listing(FDir)) DeleteFileW((FDir + L"\\" + n).c_str());
    GetEnvironmentVariableW(L"TMP", FOldTmp, MAX_PATH);
    GetEnvironmentVariableW(L"TEMP", FOldTemp, MAX_PATH);
    SetEnvironmentVariableW(L"TMP", FDir.c_str());
    SetEnvironmentVariableW(L"TEMP", FDir.c_str());
  }
  ~PrivateTemp() {
    SetEnvironmentVariableW(L"TMP", FOldTmp[0] ? FOldTmp : nullptr);
    SetEnvironmentVariableW(L"TEMP", FOldTemp[0] ? FOldTemp : nullptr);
  }
  std::vector<std::wstring> Left() const { return Listing(FDir); }

 private:
  // A folder of its own for each test (the native tools' job folders go there too).
  const std::wstring FDir =
      kDir + L"\\tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount());
  wchar_t FOldTmp[MAX_PATH] = {0}, FOldTemp[MAX_PATH] = {0};
};

class MixWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CreateDirectoryW(kDir.c_str(), nullptr);
    CreateDirectoryW((kDir + L"\\out").c_str(), nullptr);
    Tones(kDir + L"\\a.wav", 1, 300);
    Tones(kDir + L"\\b.wav", 2, 500);
    Tones(kDir + L"\\c.wav", 3, 700);
  }
  void SetUp() override {
    xinput::Park();
    main = std::make_unique<TTestMainForm>(nullptr, TTestMainForm::tpNothing);
    Application->SetMainForm(main.get());
    main->Show();
    xinput::PumpFor(100);
  }
  void TearDown() override {
    if (MixTaskForm) {
      MixTaskForm->Close();
      xinput::PumpUntil([] { return MixTaskForm == nullptr; }, 10000);
    }
    LanguageManager->SetLanguage("en");
    Application->SetMainForm(nullptr);
    main.reset();
    xinput::PumpFor(50);
  }
  TMixTaskForm* Open() {
    ShowMixTask(nullptr);
    xinput::PumpFor(200);
    return MixTaskForm;
  }
  void CloseWindow() {
    MixTaskForm->Close();
    EXPECT_TRUE(xinput::PumpUntil([] { return MixTaskForm == nullptr; }, 10000));
  }
  // Adds files with the real open dialog: into the folder first, then the names.
  void AddWithDialog(TMixTaskForm* F, const std::vector<std::string>& Steps) {
    AnswerDialogs(Steps);
    appwin::Click(F->btnAdd);
    xinput::PumpUntil([] { return Answers().Steps.empty() && SystemDialog() == nullptr; }, 30000);
    xinput::PumpFor(200);
  }
  // Names the output in the real save dialog.
  void SaveAs(TMixTaskForm* F, std::vector<std::string> Steps) {
    AnswerDialogs(std::move(Steps));
    appwin::Click(F->btnSelectFolder);
    xinput::PumpUntil([] { return Answers().Steps.empty() && SystemDialog() == nullptr; }, 30000);
    xinput::PumpFor(200);
  }
  bool RunToEnd(TMixTaskForm* F, unsigned Ms = 60000) {
    appwin::Click(F->btnNext);
    return xinput::PumpUntil([F] { return F->Step() == 3; }, Ms);
  }
  std::unique_ptr<TTestMainForm> main;
};

struct TPathCase {
  const char* Code;
  const wchar_t* Title;
  bool Append;
  const char* FormatKeys;  // keys in the format combo
  const wchar_t* Ext;
  double Seconds;
};

class MixPathWindow : public MixWindow, public ::testing::WithParamInterface<TPathCase> {};

// The click-by-click path in both language tables: append (a, c, b into WAV: 6 s, sample for
// sample sox's concatenation) and mix (into FLAC: 3 s, sox's pairwise mix).
TEST_P(MixPathWindow, FromAddingFilesToTheOutput) {
  {
    const TPathCase& c = GetParam();
    LanguageManager->SetLanguage(c.Code);
    PrivateTemp temp;
    const std::wstring out = kDir + L"\\out\\all_" + std::wstring(c.Code, c.Code + 2) + c.Ext;
    DeleteFileW(out.c_str());
    TMixTaskForm* f = Open();
    ASSERT_NE(f, nullptr);
    // Page 1 as built.
    EXPECT_EQ(f->CaptionBar()->Caption(), c.Title);
    EXPECT_EQ(f->StepCaption->Caption()->TitleId(), 149);
    EXPECT_EQ(f->StepCaption->Caption()->StepId(), 150);
    EXPECT_EQ(LanguageManager->GetString(149) + L": " + LanguageManager->GetString(150), L"添加文件: 选择要合并混音的音频文件");
    std::vector<std::wstring> columns;
    for (int i = 0; i < 4; ++i) columns.push_back(f->lvFiles->Columns()->Items(i)->Caption());
    EXPECT_EQ(columns, (std::vector<std::wstring>{L"序号 ", L"文件", L"时长", L"类型"}));
    EXPECT_EQ(f->lvFiles->Columns()->Items(1)->Width(), 360);
    std::vector<std::wstring> texts{f->btnAdd->Caption(),    f->btnRemove->Caption(),  f->btnClear->Caption(),
                                    f->btnMoveUp->Caption(), f->btnMoveDown->Caption(), f->btnPlay->Caption(),
                                    f->lbSetting->Caption(), f->lbMixType->Caption(),  f->lbOutputFormat->Caption(),
                                    f->lbOutputFolder->Caption(), f->btnSelectFolder->Caption(), f->btnNext->Caption()};
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"添加", L"移除", L"清空", L"上移", L"下移", L"播放", L"混音设置",
                                                L"合并模式", L"输出格式", L"输出文件", L"选择输出文件", L"下一步"}));
    EXPECT_EQ(f->cbMixdType->Items()->Count(), 2);
    EXPECT_EQ(f->cbMixdType->Items()->Strings(1), L"追加模式");
    EXPECT_EQ(f->cbOutputFormat->Items()->Count(), 9);
    EXPECT_FALSE(IsWindowVisible(static_cast<HWND>(f->BtnBack->Handle())));
    EXPECT_FALSE(IsWindowVisible(static_cast<HWND>(f->btnOpenOutputFolder->Handle())));

    // One file, Next: the notice of too few files, OK only.
    AddWithDialog(f, {U8(kDir + L"\\a.wav")});
    ASSERT_EQ(Names(f), (std::vector<std::wstring>{kDir + L"\\a.wav"}));
    EXPECT_EQ(f->lvFiles->Item(0)->SubItems()->Strings(1), L"00:00:01");
    EXPECT_EQ(f->lvFiles->Item(0)->SubItems()->Strings(2), L"WAV");
    std::wstring noticeTitle;
    bool okOnly = false;
    appwin::When([] { return Notice() != nullptr; }, [&] {
      TConfirmForm* d = Notice();
      noticeTitle = d->Body->TitlePart()->Text();
      okOnly = !IsWindowVisible(static_cast<HWND>(d->BtnCancel->Handle()));
      appwin::Click(d->BtnOk);
    });
    appwin::Click(f->btnNext);
    xinput::PumpUntil([&] { return !noticeTitle.empty() && Notice() == nullptr; }, 10000);
    EXPECT_NE(noticeTitle.find(L">请首先添加要转换的文件到列表中<"), std::wstring::npos) << U8(noticeTitle);
    EXPECT_TRUE(okOnly);
    EXPECT_EQ(f->Step(), 0);

    // Two more at once (into the folder, then both names); a again is not added twice.
    AddWithDialog(f, {U8(kDir), "\"b.wav\" \"c.wav\" \"a.wav\""});
    EXPECT_EQ(Captions(f), (std::vector<std::wstring>{L"0", L"1", L"2"}));
    EXPECT_EQ(Names(f), (std::vector<std::wstring>{kDir + L"\\a.wav", kDir + L"\\b.wav", kDir + L"\\c.wav"}));
    // Row 2 up: a, c, b; row 0 up: nothing.
    ClickRow(f, 2);
    ClickAndPump(f->btnMoveUp);
    ClickRow(f, 0);
    ClickAndPump(f->btnMoveUp);
    EXPECT_EQ(Captions(f), (std::vector<std::wstring>{L"0", L"1", L"2"}));
    EXPECT_EQ(Names(f), (std::vector<std::wstring>{kDir + L"\\a.wav", kDir + L"\\c.wav", kDir + L"\\b.wav"}));
    EXPECT_EQ(ListNames(f->Files()), Names(f));
    EXPECT_EQ(SelectedRow(f), 0);

    // Another window's preview (the bus tells of every player) leaves the button as it is.
    SendMessageW(static_cast<HWND>(EventManager->Handle()), WM_PLAYER_STARTED, 0, 0);
    xinput::PumpFor(100);
    EXPECT_EQ(f->btnPlay->Caption(), L"播放");
    // Listen to one: "停止" while it plays, "播放" once stopped.
    ClickRow(f, 1);
    appwin::Click(f->btnPlay);
    EXPECT_TRUE(xinput::PumpUntil([&] { return f->btnPlay->Caption() == L"停止"; }, 5000));
    appwin::Click(f->btnPlay);
    EXPECT_TRUE(xinput::PumpUntil([&] { return f->btnPlay->Caption() == L"播放"; }, 5000));

    // Mode and format from their combos; the save dialog names the output. A name with another
    // extension gets the format's appended.
    if (c.Append) PickInCombo(f->cbMixdType, "Down");
    EXPECT_EQ(f->cbMixdType->ItemIndex(), c.Append ? 1 : 0);
    PickInCombo(f->cbOutputFormat, c.FormatKeys);
    SaveAs(f, {U8(kDir + L"\\out\\out.mp3")});
    EXPECT_EQ(f->edtSavePath->Text(), kDir + L"\\out\\out.mp3" + c.Ext);
    SaveAs(f, {U8(out)});
    EXPECT_EQ(f->edtSavePath->Text(), out);
    Shoot(f, L"mix_page1_" + std::wstring(c.Code, c.Code + 2));

    // The run: page 2 with Stop, then the finished state.
    appwin::Click(f->btnNext);
    xinput::PumpUntil([&] { return f->Step() != 0; }, 5000);
    EXPECT_EQ(f->StepCaption->Caption()->TitleId(), 151);
    EXPECT_EQ(f->StepCaption->Caption()->StepId(), 152);
    EXPECT_EQ(LanguageManager->GetString(151) + L": " + LanguageManager->GetString(152), L"处理进度: 生成混音后的文件");
    ASSERT_TRUE(xinput::PumpUntil([&] { return f->Step() == 3; }, 60000));
    xinput::PumpFor(300);
    EXPECT_EQ(Lines(f), (std::vector<std::wstring>{kDir + L"\\a.wav", kDir + L"\\c.wav   成功", kDir + L"\\b.wav   成功"}));
    EXPECT_EQ(f->lbProgress->Caption(), L"处理完毕");
    EXPECT_EQ(f->btnNext->Caption(), L"返回");
    EXPECT_EQ(f->lbDetailProgress->Caption(), L"详细信息");
    EXPECT_TRUE(IsWindowVisible(static_cast<HWND>(f->btnOpenOutputFolder->Handle())));
    EXPECT_EQ(f->btnOpenOutputFolder->Caption(), L"打开文件夹");
    EXPECT_EQ(f->pbProgress->Position(), 100);
    Shoot(f, L"mix_page2_" + std::wstring(c.Code, c.Code + 2));
    EXPECT_TRUE(temp.Left().empty()) << "temporary files left behind";

    // The output against sox.
    auto p = Probe(out);
    EXPECT_EQ(p["sample_rate"], "44100");
    EXPECT_EQ(p["channels"], "2");
    EXPECT_NEAR(std::stod(p["duration"]), c.Seconds, 1.0 / 44100 + 1e-6);
    const std::string a = Native(kDir + L"\\a.wav"), b = Native(kDir + L"\\b.wav"), cc = Native(kDir + L"\\c.wav");
    const std::string ref1 = Native(kDir + L"\\out\\ref1.wav"), ref2 = Native(kDir + L"\\out\\ref2.wav");
    if (c.Append) {
      Peer("sox -D " + a + " " + cc + " " + b + " " + ref2);
    } else {
      Peer("sox -D -m " + a + " " + cc + " " + ref1);
      Peer("sox -D -m " + ref1 + " " + b + " " + ref2);
    }
    const std::vector<int16_t> got = Samples(Native(out)), want = Samples(ref2);
    ASSERT_EQ(got.size(), want.size());
    size_t bad = 0;
    // Each step takes its samples through the mixer's floats (read as x / 32768, written as
    // x * 32767), which may move a sample by one step each time: two steps, two at most.
    for (size_t i = 0; i < got.size(); ++i) bad += std::abs(got[i] - want[i]) > 2;
    EXPECT_EQ(bad, 0u) << "samples differ from sox's";

    // Open folder: the file manager with the output selected.
    {
      TShellRecorder shell;
      appwin::Click(f->btnOpenOutputFolder);
      xinput::PumpUntil([&] { return shell.Wait(0).size() > 0; }, 5000);
      EXPECT_EQ(shell.Wait(0), (std::vector<std::string>{"open|explorer.exe"}));
    }
    // Return: the list and the output name are cleared, page 1 again.
    ClickAndPump(f->btnNext);
    EXPECT_EQ(f->Step(), 0);
    EXPECT_EQ(f->lvFiles->Items()->Count(), 0);
    EXPECT_EQ(f->Files().Count(), 0);
    EXPECT_EQ(f->edtSavePath->Text(), L"");
    EXPECT_EQ(f->btnNext->Caption(), L"下一步");
    EXPECT_EQ(f->StepCaption->Caption()->TitleId(), 149);
    CloseWindow();
  }
}

INSTANTIATE_TEST_SUITE_P(Tables, MixPathWindow,
                         ::testing::Values(TPathCase{"en", L"对音频文件进行混音", true, "End", L".wav", 6.0},
                                           TPathCase{"cz", L"音频混音", false, "Home Down Down", L".flac", 3.0}),
                         [](const ::testing::TestParamInfo<TPathCase>& I) { return std::string(I.param.Code); });

// Editing the list: remove row 1 of 3 (captions 0 and 1, row 0 selected), the last row down does
// nothing, a file that is no audio (named .mp3) is not taken, clear empties, and the save-name
// rule keeps a name of the format's extension in any case.
TEST_F(MixWindow, EditingTheListAndNamingTheOutput) {
  ASSERT_TRUE(WriteBytes(kDir + L"\\noise.mp3", std::string(5000, 'z')));
  TMixTaskForm* f = Open();
  AddWithDialog(f, {U8(kDir), "\"a.wav\" \"b.wav\" \"c.wav\" \"noise.mp3\""});
  EXPECT_EQ(Names(f), (std::vector<std::wstring>{kDir + L"\\a.wav", kDir + L"\\b.wav", kDir + L"\\c.wav"}));
  ClickRow(f, 2);
  ClickAndPump(f->btnMoveDown);
  EXPECT_EQ(Names(f), (std::vector<std::wstring>{kDir + L"\\a.wav", kDir + L"\\b.wav", kDir + L"\\c.wav"}));
  ClickRow(f, 0);
  ClickAndPump(f->btnMoveDown);
  EXPECT_EQ(Names(f), (std::vector<std::wstring>{kDir + L"\\b.wav", kDir + L"\\a.wav", kDir + L"\\c.wav"}));
  EXPECT_EQ(SelectedRow(f), 1);
  ClickRow(f, 1);
  ClickAndPump(f->btnRemove);
  EXPECT_EQ(Captions(f), (std::vector<std::wstring>{L"0", L"1"}));
  EXPECT_EQ(Names(f), (std::vector<std::wstring>{kDir + L"\\b.wav", kDir + L"\\c.wav"}));
  EXPECT_EQ(ListNames(f->Files()), Names(f));
  EXPECT_EQ(SelectedRow(f), 0);
  ClickAndPump(f->btnClear);
  EXPECT_EQ(f->lvFiles->Items()->Count(), 0);
  EXPECT_EQ(f->Files().Count(), 0);

  struct NameCase {
    const char* FormatKeys;
    std::wstring Typed, Want;
  } names[] = {{"End", L"\\out\\out.mp3", L"\\out\\out.mp3.wav"},
               {"End", L"\\out\\OUT.WAV", L"\\out\\OUT.WAV"},
               {"Home", L"\\out\\take.wav", L"\\out\\take.wav.mp3"}};
  for (const NameCase& n : names) {
    SCOPED_TRACE(U8(n.Typed));
    PickInCombo(f->cbOutputFormat, n.FormatKeys);
    SaveAs(f, {U8(kDir + n.Typed)});
    EXPECT_EQ(f->edtSavePath->Text(), kDir + n.Want);
  }
  // Next with an empty output name brings the save dialog.
  appwin::Click(f->edtSavePath);
  xinput::Xdo("key End shift+Home BackSpace");
  xinput::PumpFor(200);
  AddWithDialog(f, {U8(kDir), "\"a.wav\" \"b.wav\""});
  ASSERT_EQ(f->Files().Count(), 2);
  bool shown = false;
  appwin::When([] { return SystemDialog() != nullptr; }, [&] {
    shown = true;
    xinput::Xdo("key Escape");
  });
  appwin::Click(f->btnNext);
  xinput::PumpUntil([&] { return shown && SystemDialog() == nullptr; }, 10000);
  EXPECT_TRUE(shown);
  EXPECT_EQ(f->Step(), 0);
  CloseWindow();
}

// An existing output is replaced after the save dialog's question; a file dropped under a name
// longer than 255 characters arrives whole; a file that breaks after it was added fails its step
// (the line says so and nothing is written); a damaged FLAC file runs to the end without an error
// box; an output folder that cannot be written fails the run. No temporary file is left by any
// of them.
TEST_F(MixWindow, OutputsThatExistFilesThatBreakAndFoldersThatRefuse) {
  PrivateTemp temp;
  const std::wstring out = kDir + L"\\out\\exists.wav";
  ASSERT_TRUE(WriteBytes(out, "old"));
  // A long name, dropped.
  const std::wstring longDir = kDir + L"\\" + std::wstring(120, L'd');
  CreateDirectoryW(longDir.c_str(), nullptr);
  const std::wstring longName = longDir + L"\\" + std::wstring(150, L'n') + L".wav";
  ASSERT_GT(longName.size(), 255u);
  Peer("cp " + Native(kDir + L"\\b.wav") + " " + Native(longDir) + "/" + std::string(150, 'n') + ".wav");
  TMixTaskForm* f = Open();
  auto drop = [&](const std::vector<std::wstring>& Files) {
    std::wstring names;
    for (const auto& n : Files) names += n + L'\0';
    names += L'\0';
    HGLOBAL h = GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
    auto* df = static_cast<DROPFILES*>(GlobalLock(h));
    df->pFiles = sizeof(DROPFILES);
    df->fWide = TRUE;
    memcpy(reinterpret_cast<char*>(df) + sizeof(DROPFILES), names.data(), names.size() * sizeof(wchar_t));
    GlobalUnlock(h);
    PostMessageW(static_cast<HWND>(f->Handle()), WM_DROPFILES, reinterpret_cast<WPARAM>(h), 0);
    xinput::PumpFor(300);
  };
  drop({kDir + L"\\a.wav", longName});
  ASSERT_EQ(Names(f), (std::vector<std::wstring>{kDir + L"\\a.wav", longName}));
  EXPECT_EQ(f->lvFiles->Item(1)->SubItems()->Strings(1), L"00:00:02");
  PickInCombo(f->cbOutputFormat, "End");
  // The save dialog asks before an existing file is chosen; Yes.
  SaveAs(f, {U8(out), "key:y"});
  ASSERT_EQ(f->edtSavePath->Text(), out);
  ASSERT_TRUE(RunToEnd(f));
  EXPECT_EQ(Lines(f), (std::vector<std::wstring>{kDir + L"\\a.wav", longName + L"   成功"}));
  EXPECT_NEAR(std::stod(Probe(out)["duration"]), 2.0, 1e-4) << "the existing file was replaced";
  ClickAndPump(f->btnNext);

  // A file that is cut to its header after it was added: its step fails, and the run with it.
  const std::wstring broken = kDir + L"\\broken.wav";
  Peer("cp " + Native(kDir + L"\\c.wav") + " " + Native(broken));
  drop({kDir + L"\\a.wav", kDir + L"\\b.wav", broken});
  ASSERT_EQ(f->Files().Count(), 3);
  std::string head = ReadBytes(broken).substr(0, 30);
  ASSERT_TRUE(WriteBytes(broken, head));
  const std::wstring out2 = kDir + L"\\out\\broken_run.wav";
  DeleteFileW(out2.c_str());
  SaveAs(f, {U8(out2)});
  ASSERT_TRUE(RunToEnd(f));
  EXPECT_EQ(Lines(f), (std::vector<std::wstring>{kDir + L"\\a.wav", kDir + L"\\b.wav   成功", broken + L"   失败"}));
  EXPECT_EQ(f->btnNext->Caption(), L"返回");
  EXPECT_EQ(GetFileAttributesW(out2.c_str()), INVALID_FILE_ATTRIBUTES) << "no output of a failed run";
  ClickAndPump(f->btnNext);

  // A FLAC file whose frames are damaged after its header.
  const std::wstring damaged = kDir + L"\\damaged.flac";
  Peer("sox -D " + Native(kDir + L"\\c.wav") + " " + Native(damaged));
  {
    std::string bytes = ReadBytes(damaged);
    for (size_t i = 20000; i + 2000 < bytes.size(); ++i) bytes[i] = (char)(i * 7);
    ASSERT_TRUE(WriteBytes(damaged, bytes));
  }
  // It is taken (its header is whole) and the run goes to its end without an error box. The
  // FLAC input does not pass its decoder's errors on, so the step cannot tell them: the line
  // reads as the run went.
  drop({kDir + L"\\a.wav", damaged});
  ASSERT_EQ(f->Files().Count(), 2);
  const std::wstring out3 = kDir + L"\\out\\damaged_run.wav";
  DeleteFileW(out3.c_str());
  f->edtSavePath->SetText(out3);
  ASSERT_TRUE(RunToEnd(f));
  EXPECT_EQ(Lines(f).size(), 2u);
  EXPECT_EQ(Notice(), nullptr) << "no error box";
  ClickAndPump(f->btnNext);

  // An output folder that cannot be written, typed into the output box: every step succeeds, the
  // final move fails, and the last line says so.
  drop({kDir + L"\\a.wav", kDir + L"\\b.wav", kDir + L"\\c.wav"});
  appwin::Click(f->edtSavePath);
  xinput::Xdo("key End shift+Home BackSpace");
  xinput::Xdo("type --delay 5 " + peer::Quote("Z:\\proc\\1\\x.wav"));
  xinput::PumpFor(300);
  ASSERT_EQ(f->edtSavePath->Text(), L"Z:\\proc\\1\\x.wav");
  ASSERT_TRUE(RunToEnd(f));
  EXPECT_EQ(Lines(f), (std::vector<std::wstring>{kDir + L"\\a.wav", kDir + L"\\b.wav   成功", kDir + L"\\c.wav   失败"}));
  EXPECT_EQ(Notice(), nullptr) << "no error box";
  EXPECT_TRUE(temp.Left().empty()) << "temporary files left behind";
  CloseWindow();
}

// Stop on page 2: Cancel at the question lets the run go on; OK stops it, clears the list and
// goes back to page 1 at once, the output is not written, no temporary file is left, and a
// message of the stopped run changes nothing.
TEST_F(MixWindow, StopDuringARun) {
  PrivateTemp temp;
  // Eight files of a minute each into Ogg Vorbis: each step encodes the whole result so far
  // again, which keeps the run going for a good while.
  const std::wstring first = kDir + L"\\long0.wav";
  if (GetFileAttributesW(first.c_str()) == INVALID_FILE_ATTRIBUTES) Tones(first, 60, 330);
  std::vector<std::wstring> files{first};
  for (int i = 1; i < 8; ++i) {
    files.push_back(kDir + L"\\long" + std::to_wstring(i) + L".wav");
    CopyFileW(first.c_str(), files.back().c_str(), FALSE);
  }
  const std::wstring out = kDir + L"\\out\\stopped.ogg";
  ASSERT_TRUE(WriteBytes(out, "old"));
  TMixTaskForm* f = Open();
  for (const std::wstring& n : files) f->AddFile(n);
  ASSERT_EQ(f->Files().Count(), 8);
  f->edtSavePath->SetText(out);
  xinput::PumpFor(100);
  appwin::Click(f->btnNext);
  ASSERT_TRUE(xinput::PumpUntil([&] { return f->Step() == 2 && f->pbProgress->Position() >= 2; }, 20000));
  EXPECT_EQ(f->btnNext->Caption(), L"停止");
  Shoot(f, L"mix_running");
  auto answer = [&](bool Ok) {
    bool asked = false;
    appwin::When([] { return Notice() != nullptr; }, [&asked, Ok] {
      TConfirmForm* d = Notice();
      asked = d->Body->TitlePart()->Text().find(L">正在处理中... 是否现在放弃?<") != std::wstring::npos;
      appwin::Click(Ok ? d->BtnOk : d->BtnCancel);
    });
    appwin::Click(f->btnNext);
    xinput::PumpUntil([&] { return asked && Notice() == nullptr; }, 10000);
    return asked;
  };
  EXPECT_TRUE(answer(false));
  xinput::PumpFor(300);
  EXPECT_EQ(f->Step(), 2) << "Cancel lets the run go on";
  EXPECT_TRUE(f->WorkerRunning());
  const DWORD before = GetTickCount();
  EXPECT_TRUE(answer(true));
  EXPECT_LT(GetTickCount() - before, 8000u) << "the Stop cuts the step short";
  EXPECT_FALSE(f->WorkerRunning());
  EXPECT_EQ(f->Step(), 0);
  EXPECT_EQ(f->lvFiles->Items()->Count(), 0);
  EXPECT_EQ(Lines(f).size(), 0u);
  EXPECT_EQ(f->btnNext->Caption(), L"下一步");
  EXPECT_EQ(ReadBytes(out), "old") << "the output is not touched by a stopped run";
  EXPECT_TRUE(temp.Left().empty()) << "temporary files left behind";
  // Late messages of the stopped run, with a new list on page 1.
  f->AddFile(files[0]);
  f->AddFile(files[1]);
  HWND bus = static_cast<HWND>(EventManager->Handle());
  SendMessageW(bus, WM_MIX_STEP_START, 1, 0);
  SendMessageW(bus, WM_MIX_STEP_DONE, 1, 0);
  xinput::PumpFor(100);
  EXPECT_EQ(f->Step(), 0);
  EXPECT_EQ(Lines(f).size(), 0u);
  EXPECT_FALSE(f->Timer1->Enabled());
  ClickAndPump(f->btnClear);

  // Closing the window (its caption bar's Close) while a run goes: the same question, and on
  // OK the run is stopped and waited for before the window goes; nothing is written.
  for (const std::wstring& n : files) f->AddFile(n);
  f->edtSavePath->SetText(out);
  xinput::PumpFor(100);
  appwin::Click(f->btnNext);
  ASSERT_TRUE(xinput::PumpUntil([&] { return f->Step() == 2 && f->pbProgress->Position() >= 2; }, 20000));
  bool asked = false;
  appwin::When([] { return Notice() != nullptr; }, [&asked] {
    asked = true;
    appwin::Click(Notice()->BtnOk);
  });
  TRect r;
  f->CaptionBar()->Parts().Close()->GetControlRect(r);
  appwin::MoveTo(appwin::ScreenPoint(static_cast<HWND>(f->CaptionBar()->Handle()), (r.Left + r.Right) / 2,
                                     (r.Top + r.Bottom) / 2));
  xinput::Xdo("click 1");
  EXPECT_TRUE(xinput::PumpUntil([] { return MixTaskForm == nullptr; }, 10000));
  EXPECT_TRUE(asked);
  EXPECT_EQ(ReadBytes(out), "old");
  EXPECT_TRUE(temp.Left().empty()) << "temporary files left behind";
}

// Fifty windows opened, run on two short files and closed leave no GDI or USER object, no
// thread and no temporary file behind.
TEST_F(MixWindow, FiftyOpenRunCloseCyclesLeaveNothingBehind) {
  PrivateTemp temp;
  const std::wstring s1 = kDir + L"\\s1.wav", s2 = kDir + L"\\s2.wav", out = kDir + L"\\out\\cycle.wav";
  Peer("sox -D -n -r 8000 -c 1 -b 16 " + Native(s1) + " synth 0.05 sine 300");
  Peer("sox -D -n -r 8000 -c 1 -b 16 " + Native(s2) + " synth 0.05 sine 500");
  auto cycle = [&] {
    TMixTaskForm* f = Open();
    f->AddFile(s1);
    f->AddFile(s2);
    f->edtSavePath->SetText(out);
    EXPECT_TRUE(RunToEnd(f, 20000));
    CloseWindow();
  };
  // The first runs make what the process keeps for good (the system's own threads among them).
  for (int i = 0; i < 3; ++i) cycle();
  xinput::PumpFor(300);
  const appwin::TGuiObjects before = appwin::GuiObjects();
  const int threads = ThreadCount();
  for (int i = 0; i < 50; ++i) cycle();
  xinput::PumpFor(500);
  const appwin::TGuiObjects after = appwin::GuiObjects();
  EXPECT_EQ(after.Gdi, before.Gdi);
  EXPECT_EQ(after.User, before.User);
  EXPECT_LE(ThreadCount(), threads);
  EXPECT_TRUE(temp.Left().empty()) << "temporary files left behind";
  EXPECT_NEAR(std::stod(Probe(out)["duration"]), 0.05, 1e-3);
}

}  // namespace
