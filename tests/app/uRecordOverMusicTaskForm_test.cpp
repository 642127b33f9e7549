// The record window as a user meets it: its look in both language tables, a recording over a
// background and one without, each chosen and started through the real dialogs and stopped with
// the button, a recording that ends with its background, failures as notices, a close while
// recording, and fifty open-record-close cycles. The capture device is a pipe source of the
// test's own fed with a tone; the recorder is made again so that its device list holds it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/ConfirmForm.h"
#include "app/TaskCaptionBar.h"
#include "app/uRecordOverMusicTaskForm.h"
#include "audio/devices/DeviceTestUtil.h"
#include "classlib/ExtCtrls.h"
#include "classlib/WinApi.h"
#include "common/Peer.h"
#include "common/TestFiles.h"
#include "common/WindowCapture.h"
#include "tasks/EventsManager.h"
#include "tasks/RecordUnit.h"
#include "tasks/Utils.h"
#include "tests/app/AppWindows.h"
#include "tests/app/ShellRecorder.h"
#include "tests/app/TestMainForm.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/RichText.h"
#include "toolkit/shrControls.h"
#include "unicode/UniSystem.h"
#include "widgets/UniComCtrls.h"
#include "widgets/UniStdCtrls.h"

#include <tlhelp32.h>

using appwin::TTestMainForm;

namespace {

using TRecForm = TRecordOverMusicForm;

std::string Sh(const std::string& Command) {
  peer::Result r = peer::Run(Command, 120);
  EXPECT_EQ(r.exitCode, 0) << Command << "\n" << r.err;
  return r.out;
}

// ffprobe's view of a file's first audio stream: codec_name, sample_rate, channels, duration,
// bits_per_sample, sample_fmt.
std::map<std::string, std::string> Probe(const std::wstring& File) {
  std::map<std::string, std::string> m;
  std::istringstream in(Sh("ffprobe -v error -select_streams a:0 -show_entries "
                           "stream=codec_name,sample_rate,channels,duration,bits_per_sample,sample_fmt "
                           "-of default=nw=1 " + peer::NativeArg(File)));
  for (std::string line; std::getline(in, line);)
    if (size_t eq = line.find('='); eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
  return m;
}

// sox's view: "rate channels bits seconds".
std::string Sox(const std::wstring& File) {
  std::string f = peer::NativeArg(File);
  std::string r = Sh("echo $(soxi -r " + f + ") $(soxi -c " + f + ") $(soxi -b " + f + ")");
  while (!r.empty() && r.back() == '\n') r.pop_back();
  return r;
}
double SoxSeconds(const std::wstring& File) { return atof(Sh("soxi -D " + peer::NativeArg(File)).c_str()); }

bool Exists(const std::wstring& File) { return GetFileAttributesW(File.c_str()) != INVALID_FILE_ATTRIBUTES; }

TRecForm* OpenWindow() {
  ShowRecordTask(nullptr);
  auto* f = appwin::FindForm<TRecForm>(L"TaskWindows");
  xinput::PumpFor(200);
  return f;
}

bool WindowGone() {
  return xinput::PumpUntil([] { return appwin::FindForm<TRecForm>(L"TaskWindows") == nullptr; }, 15000);
}

void ClickCaptionClose(TRecForm* F) {
  TRect r;
  F->CaptionBar()->Parts().Close()->GetControlRect(r);
  appwin::MoveTo(appwin::ScreenPoint(static_cast<HWND>(F->CaptionBar()->Handle()), (r.Left + r.Right) / 2,
                                     (r.Top + r.Bottom) / 2));
  xinput::Xdo("click 1");
}

// The first visible system dialog of this thread (a file dialog or its questions).
HWND SystemDialog() {
  struct Find {
    static BOOL CALLBACK Proc(HWND h, LPARAM p) {
      wchar_t cls[16] = {};
      GetClassNameW(h, cls, 16);
      if (IsWindowVisible(h) && std::wstring(cls) == L"#32770") {
        *reinterpret_cast<HWND*>(p) = h;
        return FALSE;
      }
      return TRUE;
    }
  };
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), Find::Proc, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Answers the next file dialog as a user does: the name typed into its file-name box and Enter,
// or Escape when Name is empty. The dialog's title is kept in Title; Then runs after the answer
// (one wait at a time: the next one starts there).
void AnswerFileDialog(const std::wstring& Name, std::wstring* Title = nullptr, std::function<void()> Then = nullptr) {
  appwin::When([] { return SystemDialog() != nullptr; }, [Name, Title, Then] {
    HWND d = SystemDialog();
    xinput::PumpFor(300);  // the dialog fills its folder view
    if (Title) {
      wchar_t t[256] = {};
      GetWindowTextW(d, t, 256);
      *Title = t;
    }
    SetForegroundWindow(d);
    if (Name.empty()) {
      xinput::Xdo("key --clearmodifiers Escape");
      if (Then) Then();
      return;
    }
    // The file-name box (the combo's edit of the explorer-style dialog, or its plain edit).
    HWND box = GetDlgItem(d, 0x47C);
    if (box) box = FindWindowExW(box, nullptr, L"Edit", nullptr);
    if (!box) box = GetDlgItem(d, 0x480);
    if (box) SetFocus(box);
    xinput::Xdo("key --clearmodifiers ctrl+a");
    xinput::Xdo("type --clearmodifiers --delay 5 " + peer::Quote(WideToUtf8(Name)));
    xinput::Xdo("key --clearmodifiers Return");
    if (Then) Then();
  }, 60000);  // the system's first file dialog of a process can take long to show
}

// The confirmation dialog once it shows: its title and message read, then OK clicked.
struct TNoticeSeen {
  bool Shown = false, OkOnly = false;
  std::wstring Title, Message;
};
void AnswerNotice(TNoticeSeen& Seen) {
  appwin::When([] { return appwin::FindForm<TConfirmForm>(L"lorvuDialogsForm") != nullptr; }, [&Seen] {
    TConfirmForm* d = appwin::FindForm<TConfirmForm>(L"lorvuDialogsForm");
    Seen.Shown = true;
    Seen.OkOnly = IsWindowVisible(static_cast<HWND>(d->BtnOk->Handle())) &&
                  !IsWindowVisible(static_cast<HWND>(d->BtnCancel->Handle()));
    Seen.Title = d->Body->TitlePart()->Text();
    Seen.Message = d->Body->MessagePart()->Text();
    appwin::Click(d->BtnOk);
  });
}

// Picks an item of a drop-down list with the mouse and the keyboard: opened by a click, the
// item reached from the top with the arrow keys, taken with Enter.
void PickItem(TUniComboBox* Combo, int Index) {
  appwin::Click(Combo);
  xinput::PumpFor(200);
  xinput::Xdo("key --clearmodifiers Home");
  for (int i = 0; i < Index; ++i) xinput::Xdo("key --clearmodifiers Down");
  xinput::Xdo("key --clearmodifiers Return");
  xinput::PumpUntil([&] { return Combo->ItemIndex() == Index; }, 3000);
}

bool ShowsRecording(TRecForm* F) {
  return F->btnStartRecord->Caption() == L"停止录音" && F->pbIndirector->Visible() && !F->btnOpenFolder->Enabled() &&
         F->Timer1->Enabled();
}
bool ShowsIdle(TRecForm* F) {
  return F->btnStartRecord->Caption() == L"开始录音" && !F->pbIndirector->Visible() && F->btnOpenFolder->Enabled() &&
         !F->Timer1->Enabled();
}

void Shoot(TRecForm* F, const std::wstring& Name) {
  HWND w = static_cast<HWND>(F->Handle());
  RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  xinput::PumpFor(200);
  capture::TCapture shot = capture::CaptureWindow(w, true);
  CreateDirectoryW(L"artefacts", nullptr);
  EXPECT_TRUE(capture::SaveBmp(shot, L"artefacts\\" + Name));
}

// The threads of this process.
int ThreadCount() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 te{};
  te.dwSize = sizeof te;
  int n = 0;
  for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
    n += te.th32OwnerProcessID == GetCurrentProcessId();
  CloseHandle(snap);
  return n;
}

// The names in the temporary folder.
std::vector<std::wstring> TempNames() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((std::wstring(temp) + L"*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do names.push_back(fd.cFileName);
    while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class RecordWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    xinput::Park();
    // The test command's own capture source: the devices a process lists are the ones there when
    // it first looked, so a source made now would not be seen.
    char path[512] = {};
    GetEnvironmentVariableA("TEST_CAPTURE_FIFO", path, sizeof path);
    ASSERT_NE(path[0], 0) << "TEST_CAPTURE_FIFO is not set";
    fifo = path;
    device = devtest::FindDevice(*Recorder->Capture(), fifo);
    tone = devtest::NativeTemp("tone.raw");
    Sh("sox -D -n -r 44100 -c 2 -b 16 -e signed -t raw " + peer::Quote(tone) + " synth 150 sine 1000 gain -6");
    main = std::make_unique<TTestMainForm>(nullptr, TTestMainForm::tpNothing);
    Application->SetMainForm(main.get());
    main->Show();
    xinput::PumpFor(100);
  }
  void TearDown() override {
    if (TRecForm* f = appwin::FindForm<TRecForm>(L"TaskWindows")) {
      f->Close();
      WindowGone();
    }
    Application->SetMainForm(nullptr);
    main.reset();
    if (!feeder.empty()) peer::Run("kill " + feeder + " 2>/dev/null; true");
    peer::Run("rm -f " + peer::Quote(tone));
    LanguageManager->SetLanguage("en");
    xinput::PumpFor(50);
  }
  // Feeds the tone into the source from now on, in real time, and after a stall (nobody
  // capturing) on from where it stands. Started just before the first recording: the platform
  // hands a capture that starts the source's sound of the time it was fed before.
  void Feed() {
    if (!feeder.empty()) return;
    feeder = Sh("ffmpeg -nostdin -hide_banner -v error -f s16le -ar 44100 -ac 2 -i " + peer::Quote(tone) +
                " -af arealtime=limit=0.3 -f s16le -ar 44100 -ac 2 -y " + peer::Quote(fifo) +
                " </dev/null >/dev/null 2>&1 & echo $!");
    while (!feeder.empty() && feeder.back() == '\n') feeder.pop_back();
  }
  // Starts a recording through the window: the start button, then the save dialog answered.
  void StartThroughTheWindow(TRecForm* F, const std::wstring& Name) {
    Feed();
    AnswerFileDialog(Name);
    appwin::Click(F->btnStartRecord);
    ASSERT_TRUE(xinput::PumpUntil([&] { return ShowsRecording(F); }, 20000)) << "no recording state";
  }
  // Serves the window while a recording runs for about Ms (from its first level report).
  void RecordFor(TRecForm* F, unsigned Ms) {
    EXPECT_TRUE(xinput::PumpUntil([&] { return F->pbIndirector->Position() > 0; }, 30000)) << "no level shown";
    xinput::PumpFor(Ms);
  }

  devtest::DeviceLock lock;
  int device = -1;
  std::string fifo, tone, feeder;
  testfiles::TempDir dir{L"record"};
  std::unique_ptr<TTestMainForm> main;
};

TEST_F(RecordWindow, LooksAsBuiltInBothLanguageTables) {
  ASSERT_GE(device, 0) << "the pipe source is listed";
  for (const char* code : {"en", "cz"}) {
    SCOPED_TRACE(code);
    LanguageManager->SetLanguage(code);
    TRecForm* f = OpenWindow();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(OpenWindow(), f) << "one record window at most";
    HWND w = static_cast<HWND>(f->Handle());
    EXPECT_EQ(f->CaptionBar()->Caption(), L"录制带背景音效的音频");
    for (TWinControl* hidden : {static_cast<TWinControl*>(f->btnNext), static_cast<TWinControl*>(f->BtnBack),
                                static_cast<TWinControl*>(f->btnOpenOutputFolder)})
      EXPECT_FALSE(IsWindowVisible(static_cast<HWND>(hidden->Handle())));
    const std::pair<TControl*, std::wstring> texts[] = {
        {f->lbInputSet, L"输入设置"},     {f->lbBkMusic, L"背景音乐"},     {f->lbInputDevice, L"录音设备"},
        {f->btnSelectBk, L"选择背景音乐"}, {f->lbOutputSet, L"输出设置"},   {f->lbInputVolume, L"输入音量"},
        {f->lbBkVolume, L"背景音量"},     {f->lbOutputFormat, L"输出格式"}, {f->btnStartRecord, L"开始录音"},
        {f->btnOpenFolder, L"打开文件夹"}, {f->lbRecordDuration, L"00:00:00"}};
    HDC dc = GetDC(w);
    HGDIOBJ old = SelectObject(dc, static_cast<HGDIOBJ>(f->FontHandle()));
    for (const auto& [control, text] : texts) {
      EXPECT_EQ(GetControlWideText(control), text);
      // The whole text fits its control (buttons keep a margin for their frame).
      SIZE s{};
      GetTextExtentPoint32W(dc, text.c_str(), (int)text.size(), &s);
      EXPECT_LE(s.cx + (dynamic_cast<TUniButton*>(control) ? 8 : 0), control->Width()) << WideToUtf8(text);
    }
    SelectObject(dc, old);
    ReleaseDC(w, dc);
    EXPECT_TRUE(f->edtBkMusic->ReadOnly());
    EXPECT_EQ(f->edtBkMusic->Text(), L"");
    // The devices with the first selected; the nine formats with the first selected.
    EXPECT_EQ(f->cbInputDevices->ItemIndex(), 0);
    EXPECT_EQ(f->cbInputDevices->Items()->Count(), Recorder->Capture()->DeviceCount());
    EXPECT_EQ(WideToUtf8(f->cbInputDevices->Items()->Get(device)), Recorder->Capture()->GetDeviceName(device));
    ASSERT_EQ(f->cbOutputFormat->Items()->Count(), 9);
    EXPECT_EQ(f->cbOutputFormat->ItemIndex(), 0);
    EXPECT_EQ(f->cbOutputFormat->Items()->Get(0), L"MPEG Audio Layer3 (MP3)    (*.MP3)");
    EXPECT_EQ(f->cbOutputFormat->Items()->Get(8), L"Windows Media Audio (*.WAV)");
    EXPECT_EQ(f->tbVolume1->Max(), 50);
    EXPECT_EQ(f->tbVolume2->Max(), 50);
    EXPECT_EQ(f->tbVolume1->Position(), 50);
    EXPECT_EQ(f->tbVolume2->Position(), 25);
    EXPECT_FALSE(f->btnOpenFolder->Enabled());
    EXPECT_FALSE(IsWindowVisible(static_cast<HWND>(f->pbIndirector->Handle())));
    // The start button's glyphs are glyphs.
    Shoot(f, L"record_window_" + std::wstring(code, code + 2) + L".bmp");
    capture::TCapture shot = capture::CaptureWindow(w, true);
    appwin::TTextInk ink = appwin::TextInk(shot, appwin::InsideOf(w, static_cast<HWND>(f->btnStartRecord->Handle())));
    EXPECT_GT(ink.Ink, 20);
    EXPECT_GT(ink.ThirdsDiffer, 8);
    f->Close();
    ASSERT_TRUE(WindowGone());
  }
}

// A right click on the start button shows its menu of four items; Escape closes it.
TEST_F(RecordWindow, TheStartButtonHasItsMenu) {
  TRecForm* f = OpenWindow();
  ASSERT_NE(f, nullptr);
  // The menu's own loop holds this thread while it shows: a helper looks at it and closes it.
  std::atomic<int> items{-1};
  std::thread watcher([&] {
    for (int i = 0; i < 200 && items < 0; ++i) {
      HWND menu = FindWindowW(L"#32768", nullptr);
      if (menu && IsWindowVisible(menu)) {
        HMENU m = reinterpret_cast<HMENU>(SendMessageW(menu, MN_GETHMENU, 0, 0));
        items = GetMenuItemCount(m);
        peer::Run("xdotool key --clearmodifiers Escape", 20);
        return;
      }
      Sleep(50);
    }
  });
  HWND b = static_cast<HWND>(f->btnStartRecord->Handle());
  appwin::MoveTo(appwin::ScreenPoint(b, 20, 10));
  xinput::Xdo("click 3");
  xinput::PumpUntil([&] { return items >= 0; }, 10000);
  watcher.join();
  EXPECT_EQ(items, 4);
  EXPECT_FALSE(f->Timer1->Enabled()) << "the menu starts nothing";
}

// Over a 22050 Hz mono 8-bit background into WAVE: the background dialog (cancelled once, which
// empties the field), the format picked, the save dialog given a name without extension; the
// window shows the recording (level, clock) and, after Stop, the idle state; the file has the
// background's format and the recorded length; Open folder selects it in the file manager.
TEST_F(RecordWindow, RecordsOverABackgroundInItsFormat) {
  ASSERT_GE(device, 0) << "the pipe source is listed";
  const std::wstring bg = dir.File(L"bg22m8.wav"), take = dir.File(L"take");
  Sh("sox -D -n -r 22050 -c 1 -b 8 " + peer::NativeArg(bg) + " synth 30 sine 300 gain -3");
  TRecForm* f = OpenWindow();
  ASSERT_NE(f, nullptr);
  f->edtBkMusic->SetText(L"x");
  AnswerFileDialog(L"");
  appwin::Click(f->btnSelectBk);
  ASSERT_TRUE(xinput::PumpUntil([&] { return f->edtBkMusic->Text().empty(); }, 20000)) << "cancelled: empty";
  AnswerFileDialog(bg);
  appwin::Click(f->btnSelectBk);
  ASSERT_TRUE(xinput::PumpUntil([&] { return f->edtBkMusic->Text() == bg; }, 20000));
  PickItem(f->cbInputDevices, device);
  PickItem(f->cbOutputFormat, 8);
  StartThroughTheWindow(f, take);
  const DWORD started = GetTickCount();
  // The sliders' defaults: the background at 32768, the input at 65535.
  EXPECT_EQ(Recorder->Mixer()->Volume1(), 32768);
  EXPECT_EQ(Recorder->Mixer()->Volume2(), 65535);
  RecordFor(f, 1500);
  EXPECT_TRUE(xinput::PumpUntil([&] { return f->lbRecordDuration->Caption() != L"00:00:00"; }, 3000));
  EXPECT_GE(f->RecordSeconds(), 1u);
  EXPECT_EQ(f->lbRecordDuration->Caption(), TUtils::FormatTimeSec(f->RecordSeconds()));
  Shoot(f, L"record_window_recording.bmp");
  const double recorded = (GetTickCount() - started) / 1000.0;
  appwin::Click(f->btnStartRecord);
  ASSERT_TRUE(xinput::PumpUntil([&] { return ShowsIdle(f); }, 10000));
  ASSERT_TRUE(xinput::PumpUntil([] { return Recorder->CurrentOutput()->Status() == osIdle; }, 10000));
  EXPECT_EQ(f->LastOutput(), take + L".wav");
  EXPECT_EQ(Sox(take + L".wav"), "22050 1 8");
  // At least the time from the start told to the click on Stop. (Over the test command's own
  // source the platform hands such a capture about 16 s of sound at once; the recorder keeps
  // the capture's pace over a source of its own, see its tests.)
  EXPECT_GE(SoxSeconds(take + L".wav"), recorded - 0.3);
  {
    TShellRecorder shell;
    appwin::Click(f->btnOpenFolder);
    xinput::PumpUntil([&] { return !shell.Wait(0).empty(); }, 5000);
    EXPECT_EQ(shell.Wait(0), (std::vector<std::string>{"open|explorer.exe"}));
  }
  Shoot(f, L"record_window_stopped.bmp");
}

// Without a background: WAVE at 44100 Hz 16-bit stereo; with MP3 chosen, a name that ends in
// ".wav" gets ".mp3" appended; a name with the format's extension in capitals is kept.
TEST_F(RecordWindow, WithoutBackgroundTheNameGetsTheFormatsExtension) {
  ASSERT_GE(device, 0) << "the pipe source is listed";
  struct TCase {
    int Format;
    std::wstring Typed, Written;
  } cases[] = {
      {8, L"plain", L"plain.wav"},
      {0, L"take.wav", L"take.wav.mp3"},
      {8, L"upper.WAV", L"upper.WAV"},
  };
  TRecForm* f = OpenWindow();
  ASSERT_NE(f, nullptr);
  PickItem(f->cbInputDevices, device);
  for (const TCase& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.Typed));
    PickItem(f->cbOutputFormat, c.Format);
    StartThroughTheWindow(f, dir.File(c.Typed));
    RecordFor(f, 1000);
    appwin::Click(f->btnStartRecord);
    ASSERT_TRUE(xinput::PumpUntil([&] { return ShowsIdle(f); }, 10000));
    ASSERT_TRUE(xinput::PumpUntil([] { return Recorder->CurrentOutput()->Status() == osIdle; }, 10000));
    if (c.Typed != c.Written) {
      EXPECT_FALSE(Exists(dir.File(c.Typed))) << "only the name with the extension";
    }
    auto p = Probe(dir.File(c.Written));
    EXPECT_EQ(p["sample_rate"], "44100");
    EXPECT_EQ(p["channels"], "2");
    EXPECT_EQ(p["codec_name"], c.Format == 8 ? "pcm_s16le" : "mp3");
    EXPECT_GT(atof(p["duration"].c_str()), 0.8);
  }
}

// A background of one second ends the recording by itself: the window goes back to idle without
// a click, and the next click asks for a new file.
TEST_F(RecordWindow, ARecordingThatEndsWithItsBackgroundGoesBackToIdle) {
  ASSERT_GE(device, 0) << "the pipe source is listed";
  const std::wstring bg = dir.File(L"short.wav");
  Sh("sox -D -n -r 44100 -c 2 -b 16 " + peer::NativeArg(bg) + " synth 1 sine 300 gain -3");
  TRecForm* f = OpenWindow();
  ASSERT_NE(f, nullptr);
  AnswerFileDialog(bg);
  appwin::Click(f->btnSelectBk);
  ASSERT_TRUE(xinput::PumpUntil([&] { return f->edtBkMusic->Text() == bg; }, 20000));
  PickItem(f->cbInputDevices, device);
  PickItem(f->cbOutputFormat, 8);
  StartThroughTheWindow(f, dir.File(L"short-take"));
  EXPECT_TRUE(xinput::PumpUntil([&] { return ShowsIdle(f); }, 15000)) << "still shows the recording";
  EXPECT_EQ(f->lbRecordDuration->Caption().empty(), false);
  ASSERT_TRUE(xinput::PumpUntil([] { return Recorder->CurrentOutput()->Status() == osIdle; }, 10000));
  EXPECT_NEAR(SoxSeconds(dir.File(L"short-take.wav")), 1.0, 0.05);
  // The button starts again: the save dialog shows (cancelled here: nothing starts).
  std::wstring title = L"?";
  AnswerFileDialog(L"", &title);
  appwin::Click(f->btnStartRecord);
  EXPECT_TRUE(xinput::PumpUntil([&] { return title != L"?"; }, 20000)) << "no save dialog";
  xinput::PumpFor(300);
  EXPECT_TRUE(ShowsIdle(f));
  EXPECT_FALSE(Recorder->Recording());
}

// Failures are notices with OK only, never an error box (an exception that reached the
// application would fail the test program); nothing is left on disk and the window
// is idle: no capture device, a background that is no audio or is damaged, a folder that cannot
// be written.
TEST_F(RecordWindow, FailuresAreNoticesAndLeaveNoFile) {
  ASSERT_GE(device, 0) << "the test command's source is listed";
  const std::wstring junk = dir.File(L"junk.mp3"), damaged = dir.File(L"damaged.flac");
  testfiles::WriteBytes(junk, std::string(20000, 'x'));
  const std::wstring good = dir.File(L"good.flac");
  Sh("sox -D -n -r 44100 -c 2 -b 16 " + peer::NativeArg(good) + " synth 5 sine 300 gain -3");
  std::string flac = testfiles::ReadBytes(good);
  for (size_t i = flac.size() / 3; i < flac.size(); i += 7) flac[i] = (char)(flac[i] ^ 0x5A);
  testfiles::WriteBytes(damaged, flac.substr(0, flac.size() * 2 / 3));
  TRecForm* f = OpenWindow();
  ASSERT_NE(f, nullptr);
  PickItem(f->cbOutputFormat, 8);
  struct TCase {
    const char* What;
    int Device;  // -1: the list emptied, as on a machine without capture devices
    std::wstring Background, Name;
    std::wstring Title, Message;  // the notice; none expected when empty
  } cases[] = {
      {"no capture device", -1, L"", dir.File(L"nodevice"), L"开始录音失败", L"录音设备"},
      {"a background that is no audio", device, junk, dir.File(L"junk"), L"失败", dir.File(L"junk.wav")},
      {"an unwritable folder", device, L"", L"Z:\\proc\\take", L"失败", L"Z:\\proc\\take.wav"},
      // Played as far as it decodes: a recording that ends by itself, no failure.
      {"a damaged background", device, damaged, dir.File(L"damaged"), L"", L""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    if (c.Device < 0) {
      f->cbInputDevices->Items()->Clear();
    } else {
      if (f->cbInputDevices->Items()->Count() == 0) {
        f->Close();
        ASSERT_TRUE(WindowGone());
        f = OpenWindow();
        PickItem(f->cbOutputFormat, 8);
      }
      PickItem(f->cbInputDevices, c.Device);
    }
    f->edtBkMusic->SetText(L"");
    if (!c.Background.empty()) {
      AnswerFileDialog(c.Background);
      appwin::Click(f->btnSelectBk);
      ASSERT_TRUE(xinput::PumpUntil([&] { return f->edtBkMusic->Text() == c.Background; }, 20000));
    }
    TNoticeSeen seen;
    if (c.Title.empty()) {
      StartThroughTheWindow(f, c.Name);
      EXPECT_TRUE(xinput::PumpUntil([&] { return ShowsIdle(f); }, 30000)) << "did not end with its background";
      ASSERT_TRUE(xinput::PumpUntil([] { return Recorder->CurrentOutput()->Status() == osIdle; }, 10000));
      xinput::PumpFor(300);
      EXPECT_EQ(appwin::FindForm<TConfirmForm>(L"lorvuDialogsForm"), nullptr) << "no notice";
      EXPECT_FALSE(Recorder->Failed());
      EXPECT_EQ(Sox(c.Name + L".wav"), "44100 2 16");
      continue;
    }
    AnswerFileDialog(c.Name, nullptr, [&seen] { AnswerNotice(seen); });
    appwin::Click(f->btnStartRecord);
    EXPECT_TRUE(xinput::PumpUntil([&] { return seen.Shown; }, 30000)) << "no notice";
    EXPECT_TRUE(seen.OkOnly);
    // The texts inside the dialog's mark-up.
    EXPECT_NE(seen.Title.find(L">" + c.Title + L"<"), std::wstring::npos) << WideToUtf8(seen.Title);
    EXPECT_NE(seen.Message.find(L">" + c.Message + L"<"), std::wstring::npos) << WideToUtf8(seen.Message);
    xinput::PumpFor(300);
    EXPECT_FALSE(Recorder->Recording());
    EXPECT_EQ(f->btnStartRecord->Caption(), L"开始录音");
    EXPECT_FALSE(f->pbIndirector->Visible());
    EXPECT_FALSE(Exists(c.Name + L".wav")) << "a failed start leaves no file";
  }
}

// Closing the window while it records stops the recording and keeps it: a whole file of the time
// recorded; the window's level handler is gone with it, and level reports still on their way
// reach nothing.
TEST_F(RecordWindow, ClosingWhileRecordingKeepsTheRecording) {
  ASSERT_GE(device, 0) << "the pipe source is listed";
  TRecForm* f = OpenWindow();
  ASSERT_NE(f, nullptr);
  PickItem(f->cbInputDevices, device);
  PickItem(f->cbOutputFormat, 8);
  StartThroughTheWindow(f, dir.File(L"closed"));
  const DWORD started = GetTickCount();
  RecordFor(f, 1000);
  const double recorded = (GetTickCount() - started) / 1000.0;
  ClickCaptionClose(f);
  ASSERT_TRUE(WindowGone());
  EXPECT_FALSE(Recorder->Recording());
  EXPECT_FALSE(Recorder->OnGain) << "no level report reaches a freed window";
  EXPECT_EQ(Recorder->CurrentOutput()->Status(), osIdle) << "the file is finished when the window has gone";
  xinput::PumpFor(500);
  EXPECT_EQ(Sox(dir.File(L"closed.wav")), "44100 2 16");
  EXPECT_NEAR(SoxSeconds(dir.File(L"closed.wav")), recorded, 1.0);
}

// Fifty windows opened, recording a moment, closed while they record: no GDI or USER object,
// thread or temporary file is left, and each recording is a file.
TEST_F(RecordWindow, FiftyOpenRecordCloseCyclesLeaveNothingBehind) {
  ASSERT_GE(device, 0) << "the pipe source is listed";
  Feed();
  auto cycle = [&](int I) {
    TRecForm* f = OpenWindow();
    ASSERT_NE(f, nullptr);
    f->cbInputDevices->SetItemIndex(device);
    f->cbOutputFormat->SetItemIndex(8);
    Recorder->Start(L"", dir.File(L"c" + std::to_wstring(I) + L".wav"), device, 65535, 65535);
    ASSERT_TRUE(xinput::PumpUntil([&] { return ShowsRecording(f); }, 10000));
    xinput::PumpFor(100);
    f->Close();
    ASSERT_TRUE(WindowGone());
  };
  cycle(0);
  xinput::PumpFor(300);
  const appwin::TGuiObjects before = appwin::GuiObjects();
  const int threads = ThreadCount();
  const std::vector<std::wstring> temps = TempNames();
  for (int i = 1; i <= 50; ++i) {
    cycle(i);
    if (HasFatalFailure()) return;
  }
  xinput::PumpFor(500);
  const appwin::TGuiObjects after = appwin::GuiObjects();
  EXPECT_EQ(after.Gdi, before.Gdi);
  EXPECT_EQ(after.User, before.User);
  EXPECT_LE(ThreadCount(), threads);
  EXPECT_EQ(TempNames(), temps);
  for (int i = 1; i <= 50; i += 7) EXPECT_EQ(Sox(dir.File(L"c" + std::to_wstring(i) + L".wav")), "44100 2 16") << i;
}

}  // namespace
