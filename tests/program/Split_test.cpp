// Splitting in the real program, in each language table: a TAK file and a file too short to have a
// duration refused with the notice, a ten-second tone opened with its properties shown, Next with
// no segment refused, two equal parts chosen, the run's lines, and the two five-second segments as
// sox reads them.
#include <gtest/gtest.h>

#include <cstdlib>

#include "common/XInput.h"
#include "program/Tasks.h"

using namespace program;

namespace {

constexpr int idTitle = 19, idReturn = 72, idSucceeded = 73, idOpen = 79, idSegment = 128;

class SplitPath : public ::testing::TestWithParam<const wchar_t*> {};

// Opens Name through the window's open dialog.
void OpenSource(const TProgram& App, HWND Task, const std::wstring& Lang, const std::string& Name) {
  Click(ChildWithText(Task, Tr(Lang, idOpen)));
  HWND open = FileDialog(App);
  ASSERT_TRUE(open) << "the open dialog shows";
  EnterInFileDialog(open, Name);
  ASSERT_TRUE(Eventually([&] { return !IsWindow(open); }, 5000));
}

// The notice shows; it is answered.
void ExpectNotice(const TProgram& App, const std::string& What) {
  HWND notice = Dialog(App);
  ASSERT_TRUE(notice) << What;
  ClickDialogOk(notice, false);
  ASSERT_TRUE(Eventually([&] { return !IsWindow(notice) || !IsWindowVisible(notice); }, 5000));
}

TEST_P(SplitPath, ATenSecondToneIntoTwoEqualParts) {
  const std::wstring lang = GetParam();
  const std::wstring fx = FreshFolder(L"fxsplit");
  MakeTone(fx + L"\\ten.wav", 10, 44100, 2);
  MakeTone(fx + L"\\short.wav", 0.3, 44100, 2);
  peer::Run("head -c 4000 /dev/urandom > " + peer::Quote(peer::UnixPath(fx + L"\\x.tak")));

  xinput::Park();
  TProgram app(lang);
  HWND main = app.MainWindow();
  ASSERT_TRUE(main);
  HWND task = OpenTask(app, main, kSplitTile);
  ASSERT_TRUE(task) << "the split window opens";
  EXPECT_EQ(Text(task), Tr(lang, idTitle));

  // Files the split cannot take are refused with the notice.
  OpenSource(app, task, lang, "C:\\fxsplit\\x.tak");
  ExpectNotice(app, "a TAK file is refused");
  OpenSource(app, task, lang, "C:\\fxsplit\\short.wav");
  ExpectNotice(app, "a file of no duration is refused");
  std::vector<HWND> edits = Children(task, L"TUniEdit");
  ASSERT_EQ(edits.size(), 2u);
  EXPECT_EQ(Text(edits[0]), L"") << "nothing taken";

  OpenSource(app, task, lang, "C:\\fxsplit\\ten.wav");
  EXPECT_EQ(Text(edits[0]), fx + L"\\ten.wav");
  EXPECT_EQ(Text(edits[1]).rfind(fx, 0), 0u) << "the file's folder";
  HWND memo = Children(task, L"TUniMemo").at(0);
  const std::wstring details = Text(memo);
  for (const wchar_t* part : {L"44100 HZ", L"16 Bit", L"2 Stero", L"00:00:10", L"441000"})
    EXPECT_NE(details.find(part), std::wstring::npos) << "the properties show " << std::string(part, part + wcslen(part));
  Shot(task, L"program_split_file_" + lang);

  // The segments page: Next with none is refused; then two equal parts.
  ClickNext(task);
  HWND segments = nullptr;
  ASSERT_TRUE(Eventually([&] {
    for (HWND b : Children(task, L"TUniListBox"))
      if (IsWindowVisible(b)) segments = b;
    return segments != nullptr;
  }, 5000));
  ClickNext(task);
  ExpectNotice(app, "no segment: a notice");
  HWND quick = Children(task, L"TUniComboBox").at(0);
  Click(quick);
  Key("Home Down Return");  // two equal parts
  const std::wstring seg = Tr(lang, idSegment);
  const std::vector<std::wstring> expected{seg + L" (00:00:00:000 - 00:00:05:000)", seg + L" (00:00:05:000 - 00:00:10:000)"};
  EXPECT_TRUE(Eventually([&] { return ListBoxLines(segments) == expected; }, 5000)) << "two equal parts";
  Shot(task, L"program_split_segments_" + lang);

  // The run: a line per segment ending in success; the two files beside the source.
  ClickNext(task);
  ASSERT_TRUE(Eventually([&] { return ChildWithText(task, Tr(lang, idReturn)) != nullptr; }, 30000)) << "the run ends";
  HWND progress = nullptr;
  for (HWND b : Children(task, L"TUniListBox"))
    if (IsWindowVisible(b)) progress = b;
  ASSERT_TRUE(progress);
  const std::wstring ok = L"   " + Tr(lang, idSucceeded);
  EXPECT_EQ(ListBoxLines(progress), (std::vector<std::wstring>{expected[0] + ok, expected[1] + ok}));
  Shot(task, L"program_split_done_" + lang);
  for (const wchar_t* name : {L"ten_Segment0.wav", L"ten_Segment1.wav"}) {
    auto info = Probe(fx + L"\\" + name);
    EXPECT_EQ(info["codec_name"], "pcm_s16le") << name;
    EXPECT_EQ(info["sample_rate"], "44100") << name;
    EXPECT_EQ(info["channels"], "2") << name;
    EXPECT_NEAR((double)SoxSamples(fx + L"\\" + name), 5 * 44100.0, 1.0) << name;
  }
  EXPECT_EQ(FilesIn(fx), (std::vector<std::wstring>{L"short.wav", L"ten.wav", L"ten_Segment0.wav", L"ten_Segment1.wav",
                                                    L"x.tak"}));
  ClickNext(task);  // Return
  EXPECT_TRUE(Eventually([&] { return Text(edits[0]).empty(); }, 5000)) << "Return empties the window";
  ClickCaptionClose(task);
  EXPECT_TRUE(Eventually([&] { return !IsWindow(task) && !IsIconic(main); }, 5000));
  ClickCaptionClose(main);
  EXPECT_EQ(app.WaitForExit(10000), 0u);
}

INSTANTIATE_TEST_SUITE_P(Languages, SplitPath, ::testing::Values(L"2052", L"1033"),
                         [](const auto& i) { return std::string(i.param == std::wstring(L"2052") ? "Chinese" : "English"); });

}  // namespace
