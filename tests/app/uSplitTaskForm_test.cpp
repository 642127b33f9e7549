// The split window as a user meets it: the whole path from the open dialog to the segment files
// in both language tables, the sliders and the segment list, files it refuses, failed segments,
// Stop and close on every page, the preview on the test sound server, and open-run-close cycles
// that leave nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/ConfirmForm.h"
#include "app/TaskCaptionBar.h"
#include "app/uSplitTaskForm.h"
#include "audio/devices/DeviceTestUtil.h"
#include "classlib/WinApi.h"
#include "common/Peer.h"
#include "common/TestFiles.h"
#include "common/WindowCapture.h"
#include "tasks/AudioPlayer.h"
#include "tasks/EventsManager.h"
#include "tasks/Utils.h"
#include "tests/app/AppWindows.h"
#include "tests/app/TestMainForm.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/NavigatePageControl.h"
#include "toolkit/RichText.h"
#include "toolkit/shrControls.h"
#include "unicode/UniSysUtils.h"
#include "widgets/UniComCtrls.h"
#include "widgets/UniStdCtrls.h"

#include <tlhelp32.h>

using appwin::TTestMainForm;

namespace {

HWND H(TWinControl* C) { return static_cast<HWND>(C->Handle()); }

std::string Utf8(const std::wstring& S) {
  int n = WideCharToMultiByte(CP_UTF8, 0, S.c_str(), (int)S.size(), nullptr, 0, nullptr, nullptr);
  std::string r(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, S.c_str(), (int)S.size(), r.data(), n, nullptr, nullptr);
  return r;
}

std::string Sh(const std::string& Command) {
  peer::Result r = peer::Run(Command, 300);
  EXPECT_EQ(r.exitCode, 0) << Command << "\n" << r.err;
  return r.out;
}

// sox's tones into a file of the folder (any type sox writes).
void Tones(const std::wstring& File, double Seconds, int Rate, int Channels) {
  Sh("sox -D -n -r " + std::to_string(Rate) + " -c " + std::to_string(Channels) + " -b 16 " + peer::NativeArg(File) +
     " synth " + std::to_string(Seconds) + " sine 440 sine 660 gain -3");
}

// ffmpeg's decoding to interleaved s16le.
std::string Pcm(const std::wstring& File) {
  return Sh("ffmpeg -nostdin -v error -i " + peer::NativeArg(File) + " -f s16le -");
}

std::map<std::string, std::string> Probe(const std::wstring& File) {
  return peer::ProbeFields(Sh("ffprobe -v error -select_streams a:0 -show_entries "
                              "stream=codec_name,sample_rate,channels -of default=nw=1 " + peer::NativeArg(File)));
}

// The names in a folder.
std::set<std::wstring> Listing(const std::wstring& Folder) {
  std::set<std::wstring> r;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((Folder + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return r;
  do {
    std::wstring n = fd.cFileName;
    if (n != L"." && n != L"..") r.insert(n);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return r;
}

int ThreadCount() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 te{};
  te.dwSize = sizeof te;
  int n = 0;
  for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
    if (te.th32OwnerProcessID == GetCurrentProcessId()) ++n;
  CloseHandle(snap);
  return n;
}

// The system's open dialog of this process, or null.
HWND OpenDialogWnd() {
  for (HWND w = FindWindowW(L"#32770", nullptr); w; w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == GetCurrentProcessId() && IsWindowVisible(w)) return w;
  }
  return nullptr;
}

TConfirmForm* Dialog() { return appwin::FindForm<TConfirmForm>(L"lorvuDialogsForm"); }

// What a confirmation dialog showed.
struct TSeenDialog {
  bool Shown = false;
  std::wstring Caption, Title;
  int IconKind = -1;
  bool CancelShown = false;
};

// Answers the next confirmation dialog with OK (or Cancel) and keeps what it showed. A hook of
// the user-interface thread sees the dialog come to the front however busy the thread's message
// loop is (timers wait behind a run's messages); the click is xdotool's, arriving while the
// dialog's modal loop runs.
struct TPendingAnswer {
  TSeenDialog* Seen = nullptr;
  bool Ok = true;
  HHOOK Hook = nullptr;
};
TPendingAnswer gAnswer;

LRESULT CALLBACK AnswerHook(int Code, WPARAM W, LPARAM L) {
  if (Code == HCBT_ACTIVATE && gAnswer.Seen && !gAnswer.Seen->Shown) {
    HWND w = reinterpret_cast<HWND>(W);
    wchar_t cls[64] = {};
    GetClassNameW(w, cls, 64);
    if (std::wstring(cls) == L"lorvuDialogsForm.UnicodeClass")
      if (auto* d = dynamic_cast<TConfirmForm*>(FindControl(w))) {
        TSeenDialog& seen = *gAnswer.Seen;
        wchar_t b[256] = {};
        GetWindowTextW(w, b, 256);
        seen.Caption = b;
        seen.Title = d->Body->TitlePart()->Text();
        seen.IconKind = d->Body->IconKind();
        seen.CancelShown = (GetWindowLongW(H(d->BtnCancel), GWL_STYLE) & WS_VISIBLE) != 0;
        seen.Shown = true;
        RECT r;
        GetWindowRect(H(gAnswer.Ok ? d->BtnOk : d->BtnCancel), &r);
        xinput::Run("sleep 0.3 mousemove --sync " + std::to_string((r.left + r.right) / 2) + " " +
                    std::to_string((r.top + r.bottom) / 2) + " click 1");
      }
  }
  return CallNextHookEx(nullptr, Code, W, L);
}

void AnswerDialog(TSeenDialog& Seen, bool Ok = true) {
  if (gAnswer.Hook) UnhookWindowsHookEx(gAnswer.Hook);
  gAnswer.Seen = &Seen;
  gAnswer.Ok = Ok;
  gAnswer.Hook = SetWindowsHookExW(WH_CBT, AnswerHook, nullptr, GetCurrentThreadId());
}

void StopAnswering() {
  if (gAnswer.Hook) UnhookWindowsHookEx(gAnswer.Hook);
  gAnswer = TPendingAnswer();
}

class SplitWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    xinput::Park();
    main = std::make_unique<TTestMainForm>(nullptr, TTestMainForm::tpMinimiseOnOpen, 300, 200);
    Application->SetMainForm(main.get());
    main->Show();
    savedPicker = TaskFolderPicker;
    TaskFolderPicker = [this](void*, const WideString&) { return pick; };
    xinput::PumpFor(100);
  }
  void TearDown() override {
    if (SplitTaskForm) {
      SplitTaskForm->Close();
      xinput::PumpUntil([] { return SplitTaskForm == nullptr; }, 10000);
    }
    TaskFolderPicker = savedPicker;
    StopAnswering();
    SetLanguage("en");
    Application->SetMainForm(nullptr);
    main.reset();
    xinput::PumpFor(50);
  }
  void SetLanguage(const char* Code) {
    LanguageManager->SetLanguage(Code);
    SendMessageW(static_cast<HWND>(EventManager->Handle()), WM_LANGUAGE_CHANGED, 0, 0);
  }
  TSplitTaskForm* Open() {
    ShowSplitTask(nullptr);
    xinput::PumpFor(200);
    return SplitTaskForm;
  }
  // The open dialog through the keyboard: the full name typed into its name box, then Enter.
  // Its title is kept.
  void ChooseFile(const std::wstring& File) {
    bool typed = false;
    appwin::When([] { return OpenDialogWnd() != nullptr; }, [this, File, &typed] {
      HWND d = OpenDialogWnd();
      wchar_t b[256] = {};
      GetWindowTextW(d, b, 256);
      dialogTitle = b;
      SetForegroundWindow(d);
      xinput::PumpFor(100);
      xinput::Xdo("type --delay 2 " + peer::Quote(Utf8(File)));
      xinput::Xdo("key Return");
      typed = true;
    });
    appwin::Click(SplitTaskForm->btnOpenFile);
    xinput::PumpUntil([&] { return typed && OpenDialogWnd() == nullptr && Dialog() == nullptr; }, 15000);
    EXPECT_TRUE(typed) << "no open dialog";
    xinput::PumpFor(200);
  }
  // Clicks Control, and waits until the confirmation dialog that follows has been answered.
  TSeenDialog ClickForDialog(TWinControl* Control, bool Ok = true) {
    TSeenDialog seen;
    AnswerDialog(seen, Ok);
    appwin::Click(Control);
    xinput::PumpUntil([&] { return seen.Shown && Dialog() == nullptr; }, 20000);
    xinput::PumpFor(200);
    StopAnswering();
    return seen;
  }
  void Next() {
    appwin::Click(SplitTaskForm->btnNext);
    xinput::PumpFor(300);
  }
  // Moves the quick-split list to the item next to the chosen one (Index one above or below it):
  // a click drops the list down, an arrow key goes to the item (choosing it, as every move in
  // the list does), Enter closes the list.
  void ChooseSplit(int Index) {
    TUniComboBox* cb = SplitTaskForm->cbSplit;
    const int from = cb->ItemIndex();
    ASSERT_EQ(std::abs(Index - from), 1) << "every item passed on the way would be chosen";
    appwin::Click(cb);
    ASSERT_TRUE(xinput::PumpUntil([cb] { return cb->DroppedDown(); }, 3000));
    xinput::Xdo(Index > from ? "key Down" : "key Up");
    xinput::PumpFor(150);
    xinput::Xdo("key Return");
    xinput::PumpUntil([cb] { return !cb->DroppedDown(); }, 3000);
    xinput::PumpFor(150);
    EXPECT_EQ(cb->ItemIndex(), Index);
  }
  // Clicks line Index of a list box, with Ctrl held for a further selection.
  void ClickLine(TUniListBox* List, int Index, bool Ctrl = false) {
    RECT r{};
    SendMessageW(H(List), LB_GETITEMRECT, Index, (LPARAM)&r);
    appwin::MoveTo(appwin::ScreenPoint(H(List), (r.left + r.right) / 2, (r.top + r.bottom) / 2));
    xinput::Xdo(Ctrl ? "keydown ctrl click 1 keyup ctrl" : "click 1");
    xinput::PumpFor(150);
  }
  void ClickTimes(TWinControl* C, int Times) {
    for (int i = 0; i < Times; ++i) {
      appwin::Click(C);
      xinput::PumpFor(80);
    }
  }
  static std::vector<std::wstring> Lines(TUniListBox* List) {
    std::vector<std::wstring> r;
    for (int i = 0; i < List->Items()->Count(); ++i) r.push_back(List->Items()->Strings(i));
    return r;
  }
  // Pumps until the run is over (step 3).
  bool WaitFinished(unsigned Ms = 60000) {
    return xinput::PumpUntil([] { return SplitTaskForm && SplitTaskForm->Step() == 3; }, Ms);
  }
  void Shot(const std::wstring& Name) {
    HWND w = H(SplitTaskForm);
    RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    xinput::PumpFor(150);
    CreateDirectoryW(L"artefacts", nullptr);
    EXPECT_TRUE(capture::SaveBmp(capture::CaptureWindow(w, true), L"artefacts\\" + Name + L".bmp"));
  }
  // Every text of the listed controls fits its control in the control's font.
  void ExpectTextsFit(const std::vector<TWinControl*>& Controls) {
    for (TWinControl* c : Controls) {
      HWND w = H(c);
      wchar_t b[512] = {};
      GetWindowTextW(w, b, 512);
      HDC dc = GetDC(w);
      HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(w, WM_GETFONT, 0, 0));
      SIZE size{};
      GetTextExtentPoint32W(dc, b, (int)wcslen(b), &size);
      SelectObject(dc, old);
      ReleaseDC(w, dc);
      RECT r;
      GetClientRect(w, &r);
      EXPECT_LE(size.cx, r.right - 4) << Utf8(b) << " is cut";
    }
  }

  std::unique_ptr<TTestMainForm> main;
  std::function<WideString(void*, const WideString&)> savedPicker;
  WideString pick;
  std::wstring dialogTitle;
};

// The path of review: open, a source by the open dialog, a folder, an even split, the run, the
// files against the source frame for frame, Return; in each language table, with a WAV source of
// 10 s in two parts and a FLAC one of 10.4 s in three (the scale of whole seconds stretched over
// every frame: the parts together are the whole file).
TEST_F(SplitWindow, SplitsAFileEvenlyInBothLanguages) {
  struct TCase {
    const char* Lang;
    const wchar_t* Ext;
    int Parts;
    double Seconds;
    int64_t Frames;
    std::wstring Title, Strip1, Strip2, Strip3;
  } cases[] = {
      {"en", L".wav", 2, 10, 441000, L"对音频文件进行分割", L"选择要分割的文件", L"设置分割方式", L"保存分割的文件"},
      {"cz", L".flac", 3, 10.4, 458640, L"音频分割", L"请选择要分割的音频文件", L"请设置分割方式", L"保存分割后的文件"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Lang);
    SetLanguage(c.Lang);
    testfiles::TempDir src(L"splitsrc"), out(L"splitout");
    const std::wstring file = src.File(std::wstring(L"ten") + c.Ext);
    Tones(file, c.Seconds, 44100, 2);
    TSplitTaskForm* f = Open();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->CaptionBar()->Caption(), c.Title);
    EXPECT_EQ(f->StepStrip->Caption()->StepId(), 84);
    EXPECT_EQ(GetString(84), c.Strip1);
    EXPECT_EQ(f->btnOpenFile->Caption(), L"打开");
    EXPECT_EQ(f->lbInputFile->Caption(), L"选择要分割的文件:");
    EXPECT_EQ(f->lbSavePath->Caption(), L"保存的路径: ");
    // Page 1: the file and its properties, the folder.
    ChooseFile(file);
    EXPECT_EQ(dialogTitle, L"选择要转换的文件");
    EXPECT_EQ(f->edtInputFile->Text(), file);
    EXPECT_EQ(f->edtSavePath->Text(), src.Path());
    std::vector<std::wstring> details;
    for (int i = 0; i < f->mmFileDetails->Lines()->Count(); ++i) details.push_back(f->mmFileDetails->Lines()->Strings(i));
    ASSERT_EQ(details.size(), 8u);
    EXPECT_EQ(details[1], L"采样率:  44100 HZ");
    EXPECT_EQ(details[2], L"比特率:  16 Bit");
    EXPECT_EQ(details[4], L"声道:  2 Stero");
    EXPECT_EQ(details[5], L"时长:  00:00:10");
    EXPECT_EQ(details[6], L"采样数: " + std::to_wstring(c.Frames));
    EXPECT_EQ(details[0].substr(0, 7), L"文件类型:  ");
    EXPECT_EQ(details[7].substr(0, 7), L"文件大小:  ");
    pick = out.Path();
    appwin::Click(f->btnSavePath);
    xinput::PumpFor(300);
    EXPECT_EQ(f->edtSavePath->Text(), out.Path());
    Shot(L"split_" + std::wstring(c.Lang, c.Lang + 2) + L"_page1");
    ExpectTextsFit({f->btnOpenFile, f->btnSavePath, f->btnNext});
    appwin::TTextInk ink = appwin::TextInk(capture::CaptureWindow(H(f), true), appwin::InsideOf(H(f), H(f->btnOpenFile)));
    EXPECT_GT(ink.Ink, 20);
    EXPECT_GT(ink.ThirdsDiffer, 8) << "glyphs, not boxes";

    // Page 2: an even split.
    Next();
    EXPECT_EQ(f->Step(), 1);
    EXPECT_EQ(f->StepStrip->Caption()->StepId(), 86);
    EXPECT_EQ(GetString(86), c.Strip2);
    EXPECT_TRUE(IsWindowVisible(H(f->BtnBack)));
    EXPECT_EQ(f->lbSelectionRange->Caption(), L"起始时间 00:00:00:000 - 结束时间 00:00:10:000");
    EXPECT_EQ(f->TrackBarEnd->Position(), 10000);
    // The list goes item by item, each one chosen: up to the wanted one, the list cleared before it.
    for (int k = 1; k < c.Parts - 1; ++k) ChooseSplit(k);
    appwin::Click(f->btnClear);
    xinput::PumpFor(150);
    ChooseSplit(c.Parts - 1);
    // L = Round(the slider's maximum / N); segment i is i*L .. i*L + L, the last one to the maximum.
    const int len = (int)std::lrint(10000.0 / c.Parts);
    auto end = [&](int i) { return i + 1 < c.Parts ? i * len + len : 10000; };
    std::vector<std::wstring> want;
    for (int i = 0; i < c.Parts; ++i)
      want.push_back(L"时间段 (" + TUtils::FormatTimeMs(i * len) + L" - " + TUtils::FormatTimeMs(end(i)) + L")");
    EXPECT_EQ(Lines(f->lbOutparams), want);
    Shot(L"split_" + std::wstring(c.Lang, c.Lang + 2) + L"_page2");
    ExpectTextsFit({f->btnAddSplit, f->btnPlay, f->btnDelete, f->btnClear, f->btnPlaySplit, f->cbSplit});

    // Page 3: the run to its end.
    Next();
    EXPECT_EQ(f->StepStrip->Caption()->StepId(), 88);
    EXPECT_EQ(GetString(88), c.Strip3);
    EXPECT_FALSE(IsWindowVisible(H(f->BtnBack)));
    ASSERT_TRUE(WaitFinished());
    std::vector<std::wstring> done;
    for (const std::wstring& l : want) done.push_back(l + L"   成功");
    EXPECT_EQ(Lines(f->lbProgressDetail), done);
    EXPECT_EQ(f->lbProgress->Caption(), L"处理完毕");
    EXPECT_EQ(f->btnNext->Caption(), L"返回");
    EXPECT_TRUE(IsWindowVisible(H(f->btnOpenOutputFolder)));
    Shot(L"split_" + std::wstring(c.Lang, c.Lang + 2) + L"_page3");

    // The files: the source's own format, frame for frame its ranges; nothing else in the folder.
    const std::string whole = Pcm(file);
    std::set<std::wstring> names;
    size_t total = 0;
    for (int i = 0; i < c.Parts; ++i) {
      const std::wstring seg = out.File(L"ten_Segment" + std::to_wstring(i) + c.Ext);
      names.insert(L"ten_Segment" + std::to_wstring(i) + c.Ext);
      auto info = Probe(seg);
      EXPECT_EQ(info["codec_name"], std::wstring(c.Ext) == L".wav" ? "pcm_s16le" : "flac");
      EXPECT_EQ(info["sample_rate"], "44100");
      EXPECT_EQ(info["channels"], "2");
      // The scale's milliseconds stretched over the frames, rounded half to even.
      const int64_t a = (int64_t)std::nearbyint((long double)(i * len) / 10000 * c.Frames);
      const int64_t b = (int64_t)std::nearbyint((long double)end(i) / 10000 * c.Frames);
      const std::string got = Pcm(seg);
      total += got.size();
      EXPECT_EQ(got.size(), (size_t)(b - a) * 4) << i;
      EXPECT_TRUE(got == whole.substr(a * 4, (b - a) * 4)) << "segment " << i << " is not its range";
    }
    EXPECT_EQ(Listing(out.Path()), names);
    EXPECT_EQ(total, whole.size()) << "the parts together are the whole file";

    // Return: everything cleared.
    Next();
    EXPECT_EQ(f->Step(), 0);
    EXPECT_TRUE(f->edtInputFile->Text().empty());
    EXPECT_TRUE(f->edtSavePath->Text().empty());
    EXPECT_EQ(f->mmFileDetails->Lines()->Count(), 0);
    EXPECT_EQ(f->lbOutparams->Items()->Count(), 0);
    EXPECT_EQ(f->lbProgressDetail->Items()->Count(), 0);
    EXPECT_EQ(f->btnNext->Caption(), L"下一步");
    f->Close();
    xinput::PumpUntil([] { return SplitTaskForm == nullptr; }, 10000);
  }
}

// Page 2 by hand on a 61.5-s file: the slider limit, an even split chosen twice, the "+" and
// "-" buttons, the slider rule (by the keyboard and a drag), a segment added by hand, lines
// deleted and cleared, and Next with no segment refused with a notice.
TEST_F(SplitWindow, SlidersAndTheSegmentList) {
  testfiles::TempDir src(L"splitsrc");
  const std::wstring file = src.File(L"sixtyone.wav");
  Tones(file, 61.5, 8000, 1);
  TSplitTaskForm* f = Open();
  ChooseFile(file);
  Next();
  ASSERT_EQ(f->Step(), 1);
  EXPECT_EQ(f->TrackBarStart->Max(), 62000);
  EXPECT_EQ(f->TrackBarEnd->Max(), 62000);
  // The 2-parts item chosen twice (the manual item between: it adds nothing).
  ChooseSplit(1);
  ChooseSplit(0);
  ChooseSplit(1);
  const std::wstring a = L"时间段 (00:00:00:000 - 00:00:31:000)", b = L"时间段 (00:00:31:000 - 00:01:02:000)";
  EXPECT_EQ(Lines(f->lbOutparams), (std::vector<std::wstring>{a, b, a, b})) << "the 2-parts item chosen twice";
  EXPECT_EQ(f->Segments().size(), 4u);

  // The start "+" four times: 200 ms, the range with its length.
  ClickTimes(f->btnStart_Increase, 4);
  EXPECT_EQ(f->TrackBarStart->Position(), 200);
  EXPECT_EQ(f->lbSelectionRange->Caption(), L"起始时间 00:00:00:200 - 结束时间 00:01:02:000  时长00:01:01:800");
  ClickTimes(f->btnStart_Decrease, 5);
  EXPECT_EQ(f->TrackBarStart->Position(), 0) << "kept at 0";
  // The start moved to the end (End key on the focused slider): it goes 1000 ms before the end.
  RECT thumb{};
  SendMessageW(H(f->TrackBarStart), TBM_GETTHUMBRECT, 0, (LPARAM)&thumb);
  appwin::MoveTo(appwin::ScreenPoint(H(f->TrackBarStart), (thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2));
  xinput::Xdo("click 1");
  xinput::PumpFor(150);
  xinput::Xdo("key End");
  xinput::PumpFor(300);
  EXPECT_EQ(f->TrackBarStart->Position(), 61000);
  EXPECT_EQ(f->lbSelectionRange->Caption(), L"起始时间 00:01:01:000 - 结束时间 00:01:02:000  时长00:00:01:000");
  // The end dragged to the far left, onto the start: the start goes to 0 (no further back).
  SendMessageW(H(f->TrackBarEnd), TBM_GETTHUMBRECT, 0, (LPARAM)&thumb);
  appwin::MoveTo(appwin::ScreenPoint(H(f->TrackBarEnd), (thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2));
  xinput::Xdo("mousedown 1");
  xinput::PumpFor(100);
  appwin::MoveTo(appwin::ScreenPoint(H(f->TrackBarEnd), -200, (thumb.top + thumb.bottom) / 2));
  xinput::PumpFor(100);
  xinput::Xdo("mouseup 1");
  xinput::PumpFor(300);
  EXPECT_EQ(f->TrackBarEnd->Position(), 0);
  EXPECT_EQ(f->TrackBarStart->Position(), 0);
  EXPECT_EQ(f->lbSelectionRange->Caption(), L"起始时间 00:00:00:000 - 结束时间 00:00:00:000");
  // The end "+" three times, the start "+" until it meets the end: back to 0.
  ClickTimes(f->btnEnd_Increase, 3);
  EXPECT_EQ(f->lbSelectionRange->Caption(), L"起始时间 00:00:00:000 - 结束时间 00:00:00:150");
  ClickTimes(f->btnStart_Increase, 2);
  EXPECT_EQ(f->lbSelectionRange->Caption(), L"起始时间 00:00:00:100 - 结束时间 00:00:00:150  时长00:00:00:050");
  ClickTimes(f->btnStart_Increase, 1);
  EXPECT_EQ(f->TrackBarStart->Position(), 0);
  EXPECT_EQ(f->lbSelectionRange->Caption(), L"起始时间 00:00:00:000 - 结束时间 00:00:00:150  时长00:00:00:150");
  ClickTimes(f->btnStart_Increase, 1);
  appwin::Click(f->btnAddSplit);
  xinput::PumpFor(150);
  EXPECT_EQ(Lines(f->lbOutparams).back(), L"时间段 (00:00:00:050 - 00:00:00:150)");

  // Lines 1 and 3 of five deleted: lines 0, 2 and 4 stay with their segments.
  ClickLine(f->lbOutparams, 1);
  ClickLine(f->lbOutparams, 3, true);
  appwin::Click(f->btnDelete);
  xinput::PumpFor(150);
  EXPECT_EQ(Lines(f->lbOutparams), (std::vector<std::wstring>{a, a, L"时间段 (00:00:00:050 - 00:00:00:150)"}));
  ASSERT_EQ(f->Segments().size(), 3u);
  EXPECT_EQ(f->Segments()[1].EndTime, 31000);
  EXPECT_EQ(f->Segments()[2].StartTime, 50);
  appwin::Click(f->btnClear);
  xinput::PumpFor(150);
  EXPECT_EQ(f->lbOutparams->Items()->Count(), 0);
  EXPECT_TRUE(f->Segments().empty());

  // Next with no segment: a notice, and the window stays on page 2.
  TSeenDialog seen = ClickForDialog(f->btnNext);
  EXPECT_TRUE(seen.Shown);
  EXPECT_FALSE(seen.CancelShown) << "OK only";
  EXPECT_EQ(f->Step(), 1);
  // Back goes to page 1 with the file kept.
  appwin::Click(f->BtnBack);
  xinput::PumpFor(200);
  EXPECT_EQ(f->Step(), 0);
  EXPECT_EQ(f->edtInputFile->Text(), file);
}

// An output folder gone before the run (it cannot be written to): each segment's line says it
// failed, the run ends, and no file is left anywhere.
TEST_F(SplitWindow, AnUnwritableFolderGivesFailedLines) {
  testfiles::TempDir src(L"splitsrc");
  const std::wstring file = src.File(L"four.wav");
  Tones(file, 4, 44100, 2);
  auto out = std::make_unique<testfiles::TempDir>(L"splitout");
  TSplitTaskForm* f = Open();
  ChooseFile(file);
  pick = out->Path();
  appwin::Click(f->btnSavePath);
  xinput::PumpFor(200);
  Next();
  ChooseSplit(1);  // 0..2000, 2000..4000
  const std::wstring folder = out->Path();
  out.reset();
  Next();
  ASSERT_TRUE(WaitFinished());
  EXPECT_EQ(Lines(f->lbProgressDetail), (std::vector<std::wstring>{L"时间段 (00:00:00:000 - 00:00:02:000)   失败",
                                                                    L"时间段 (00:00:02:000 - 00:00:04:000)   失败"}));
  EXPECT_EQ(f->lbProgress->Caption(), L"处理完毕");
  EXPECT_FALSE(WideDirectoryExists(folder));
  EXPECT_EQ(Listing(src.Path()), (std::set<std::wstring>{L"four.wav"}));
}

// Stop in a run of two long segments: OK at the question goes back to page 1 with everything
// cleared, the segments written so far whole and the one cut short gone. Then a
// close on every page: page 1 and 2 close at once, page 3 asks and stops the run first.
TEST_F(SplitWindow, StopAndCloseOnEveryPage) {
  testfiles::TempDir src(L"splitsrc"), out(L"splitout");
  const std::wstring file = src.File(L"long.flac");
  Tones(file, 600, 44100, 2);
  TSplitTaskForm* f = Open();
  ChooseFile(file);
  pick = out.Path();
  appwin::Click(f->btnSavePath);
  xinput::PumpFor(200);
  Next();
  ChooseSplit(1);  // two parts of 300 s
  Next();
  ASSERT_EQ(f->Step(), 2);
  EXPECT_EQ(f->btnNext->Caption(), L"停止");
  ASSERT_TRUE(xinput::PumpUntil([&] { return f->lbProgressDetail->Items()->Count() >= 1; }, 10000));
  EXPECT_EQ(Lines(f->lbProgressDetail)[0], L"时间段 (00:00:00:000 - 00:05:00:000)   正在处理...");
  TSeenDialog stop = ClickForDialog(f->btnNext, true);
  EXPECT_TRUE(stop.Shown);
  EXPECT_NE(stop.Title.find(L"正在处理中... 是否现在放弃?"), std::wstring::npos);
  EXPECT_TRUE(stop.CancelShown);
  EXPECT_EQ(f->Step(), 0);
  EXPECT_EQ(f->lbProgressDetail->Items()->Count(), 0);
  EXPECT_EQ(f->lbOutparams->Items()->Count(), 0);
  EXPECT_TRUE(f->edtInputFile->Text().empty());
  EXPECT_EQ(f->btnNext->Caption(), L"下一步");
  EXPECT_FALSE(f->WorkerRunning()) << "the stopped run has ended";
  xinput::PumpFor(1500);
  // The segments written before the stop are whole; the one cut short and those after it are
  // not there.
  std::set<std::wstring> names = Listing(out.Path());
  EXPECT_LT(names.size(), 2u);
  for (size_t i = 0; i < names.size(); ++i) {
    const std::wstring n = L"long_Segment" + std::to_wstring(i) + L".flac";
    ASSERT_EQ(names.count(n), 1u) << Utf8(n);
    const std::string want = Sh("sox " + peer::NativeArg(file) + " -t raw - trim " + std::to_string(i * 300 * 44100) +
                                "s 13230000s | md5sum");
    const std::string got = Sh("ffmpeg -nostdin -v error -i " + peer::NativeArg(out.File(n)) + " -f s16le - | md5sum");
    EXPECT_EQ(got, want) << Utf8(n) << " is not whole";
  }
  EXPECT_EQ(f->lbProgressDetail->Items()->Count(), 0) << "nothing of the stopped run reached the window";

  // Close on page 1: at once.
  f->Close();
  ASSERT_TRUE(xinput::PumpUntil([] { return SplitTaskForm == nullptr; }, 10000));
  // Close on page 2: at once.
  f = Open();
  ChooseFile(file);
  Next();
  ASSERT_EQ(f->Step(), 1);
  {
    devtest::DeviceLock lock;
    appwin::Click(f->btnPlay);
    xinput::PumpUntil([&] { return f->Player()->IsPlaying(); }, 3000);
    f->Close();
    ASSERT_TRUE(xinput::PumpUntil([] { return SplitTaskForm == nullptr; }, 10000));
  }
  // Close on page 3 while the run goes on: the question, then the run stopped and waited for.
  testfiles::TempDir out2(L"splitout");
  f = Open();
  ChooseFile(file);
  pick = out2.Path();
  appwin::Click(f->btnSavePath);
  xinput::PumpFor(200);
  Next();
  ChooseSplit(1);
  Next();
  TSeenDialog closing;
  AnswerDialog(closing, true);
  TRect r;
  f->CaptionBar()->Parts().Close()->GetControlRect(r);
  appwin::MoveTo(appwin::ScreenPoint(H(f->CaptionBar()), (r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2));
  xinput::Xdo("click 1");
  ASSERT_TRUE(xinput::PumpUntil([] { return SplitTaskForm == nullptr; }, 30000));
  EXPECT_TRUE(closing.Shown) << "the Stop question";
  StopAnswering();
  xinput::PumpFor(500);
  // Segment 0 may have ended before the close; a segment cut short is gone.
  const std::set<std::wstring> left = Listing(out2.Path());
  EXPECT_TRUE(left.empty() || left == std::set<std::wstring>{L"long_Segment0.flac"});
}

// The preview on the test sound server: Play plays the file from the start slider to the sink
// and its text follows the player; a second click stops it. A selected segment plays by the
// second button. Closing the window while it plays stops it, and a later window hears nothing
// of it.
TEST_F(SplitWindow, PreviewPlaysToTheSoundServer) {
  devtest::DeviceLock lock;
  testfiles::TempDir src(L"splitsrc");
  const std::wstring file = src.File(L"tone.wav");
  Sh("sox -D -n -r 44100 -c 2 -b 16 " + peer::NativeArg(file) + " synth 20 sine 1000 gain -6");
  TSplitTaskForm* f = Open();
  ChooseFile(file);
  Next();
  ASSERT_EQ(f->Step(), 1);
  ASSERT_NE(f->Player(), nullptr);
  EXPECT_EQ(f->btnPlay->Caption(), L"播放");
  const std::string raw = devtest::NativeTemp("splitmonitor.raw");
  {
    devtest::MonitorRecorder monitor(raw);
    ASSERT_TRUE(monitor.Ok());
    xinput::PumpUntil([&] { return monitor.Size() >= 4410 * 4; }, 10000);
    appwin::Click(f->btnPlay);
    ASSERT_TRUE(xinput::PumpUntil([&] { return f->btnPlay->Caption() == L"停止"; }, 5000));
    EXPECT_EQ(f->btnPlaySplit->Caption(), L"停止");
    const int64_t at = monitor.Size();
    xinput::PumpUntil([&] { return monitor.Size() >= at + 44100 * 4; }, 10000);
    appwin::Click(f->btnPlay);
    ASSERT_TRUE(xinput::PumpUntil([&] { return f->btnPlay->Caption() == L"播放"; }, 5000));
    EXPECT_EQ(f->btnPlaySplit->Caption(), L"播放");
    EXPECT_FALSE(f->Player()->IsPlaying());
    const std::vector<int16_t> s = monitor.Stop();
    int loud = 0;
    for (int16_t v : s) loud += std::abs(v) > 8000;
    EXPECT_GT(loud, 44100) << "the tone did not reach the sink";
  }
  // A segment by the second button: nothing without a selected line, then its range.
  ChooseSplit(1);  // two parts of 10 s
  appwin::Click(f->btnPlaySplit);
  xinput::PumpFor(400);
  EXPECT_FALSE(f->Player()->IsPlaying());
  ClickLine(f->lbOutparams, 1);
  appwin::Click(f->btnPlaySplit);
  ASSERT_TRUE(xinput::PumpUntil([&] { return f->btnPlaySplit->Caption() == L"停止"; }, 5000));
  // Closed while it plays: the preview stops with the window.
  f->Close();
  ASSERT_TRUE(xinput::PumpUntil([] { return SplitTaskForm == nullptr; }, 10000));
  TSplitTaskForm* g = Open();
  ChooseFile(file);
  Next();
  xinput::PumpFor(1000);
  EXPECT_EQ(g->btnPlay->Caption(), L"播放");
  {
    devtest::MonitorRecorder monitor(raw);
    xinput::PumpUntil([&] { return monitor.Size() >= 44100 * 4; }, 10000);
    const std::vector<int16_t> s = monitor.Stop();
    int loud = 0;
    for (int16_t v : s) loud += std::abs(v) > 8000;
    EXPECT_EQ(loud, 0) << "the closed window's preview plays on";
  }
}

// Fifty windows opened, run on a tiny file and closed leave no GDI or USER object, no thread
// and no file behind.
TEST_F(SplitWindow, FiftyOpenRunCloseCyclesLeaveNothingBehind) {
  testfiles::TempDir src(L"splitsrc"), out(L"splitout");
  const std::wstring file = src.File(L"tiny.wav");
  Tones(file, 1, 8000, 1);
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  auto cycle = [&] {
    TSplitTaskForm* f = Open();
    f->edtInputFile->SetText(file);
    f->edtSavePath->SetText(out.Path());
    f->DoNext();
    f->btnAddSplitClick();
    f->DoNext();
    WaitFinished(20000);
    f->Close();
    xinput::PumpUntil([] { return SplitTaskForm == nullptr; }, 10000);
    DeleteFileW(out.File(L"tiny_Segment0.wav").c_str());
  };
  cycle();
  xinput::PumpFor(500);
  const appwin::TGuiObjects before = appwin::GuiObjects();
  const int threads = ThreadCount();
  for (int i = 0; i < 50; ++i) cycle();
  xinput::PumpFor(1000);
  const appwin::TGuiObjects after = appwin::GuiObjects();
  EXPECT_EQ(after.Gdi, before.Gdi);
  EXPECT_EQ(after.User, before.User);
  EXPECT_EQ(ThreadCount(), threads);
  EXPECT_TRUE(Listing(out.Path()).empty());
}

}  // namespace
