// Joining and mixing in the real program, in each language table: three tones of 1, 2 and 3
// seconds through the open dialog, the one-file notice, a row moved up, the save name's extension
// rule (and the overwrite question about a name typed without one), an append run (6 s) and a mix
// run (3 s) as sox reads them, the progress lines, Return, and no temporary file left behind.
#include <gtest/gtest.h>

#include "common/XInput.h"
#include "program/Tasks.h"

using namespace program;

namespace {

constexpr int idTitle = 21, idNoFiles = 48, idReturn = 72, idSucceeded = 73, idAdd = 135, idMoveUp = 138,
              idMix = 144, idAppend = 145, idChooseOutput = 148;

std::vector<std::wstring> TempFiles() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return FilesIn(temp);
}

// Chooses the output file through the save dialog; the edit's text afterwards.
std::wstring ChooseOutput(const TProgram& App, HWND Task, const std::wstring& Lang, const std::string& Name, HWND Edit) {
  Click(ChildWithText(Task, Tr(Lang, idChooseOutput)));
  HWND save = FileDialog(App);
  EXPECT_TRUE(save) << "the save dialog shows";
  if (!save) return L"";
  EnterInFileDialog(save, Name);
  Eventually([&] { return !IsWindow(save); }, 5000);
  return Text(Edit);
}

// Runs the list into the chosen output and waits for the end; the progress lines.
std::vector<std::wstring> RunToEnd(HWND Task, const std::wstring& Lang) {
  ClickNext(Task);
  std::vector<HWND> boxes = Children(Task, L"TUniListBox");
  EXPECT_EQ(boxes.size(), 1u);
  if (boxes.size() != 1) return {};
  EXPECT_TRUE(Eventually([&] { return ChildWithText(Task, Tr(Lang, idReturn)) != nullptr; }, 60000)) << "the run ends";
  return ListBoxLines(boxes[0]);
}

class MixPath : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(MixPath, AppendsAndMixesThreeTones) {
  const std::wstring lang = GetParam();
  const std::wstring fx = FreshFolder(L"fxmix");
  MakeTone(fx + L"\\a.wav", 1, 44100, 2);
  MakeTone(fx + L"\\b.wav", 2, 44100, 2);
  MakeTone(fx + L"\\c.wav", 3, 44100, 2);
  const std::vector<std::wstring> tempBefore = TempFiles();

  xinput::Park();
  TProgram app(lang);
  HWND main = app.MainWindow();
  ASSERT_TRUE(main);
  HWND task = OpenTask(app, main, kMixTile);
  ASSERT_TRUE(task) << "the mix window opens";
  EXPECT_EQ(Text(task), Tr(lang, idTitle));
  Shot(task, L"program_mix_list_" + lang);

  // One file: the notice.
  AddThroughOpenDialog(app, task, Tr(lang, idAdd), "C:\\fxmix\\", "a.wav");
  ClickNext(task);
  HWND notice = Dialog(app);
  ASSERT_TRUE(notice) << "one file is not enough";
  ClickDialogOk(notice, false);
  ASSERT_TRUE(Eventually([&] { return !IsWindow(notice) || !IsWindowVisible(notice); }, 5000));

  // Two more; the last moved up.
  AddThroughOpenDialog(app, task, Tr(lang, idAdd), "C:\\fxmix\\", "\"b.wav\" \"c.wav\"");
  HWND list = Children(task, L"TUniListView").at(0);
  std::vector<std::vector<std::wstring>> rows;
  ASSERT_TRUE(Eventually([&] { return (rows = ListViewRows(list, 4)).size() == 3; }, 5000));
  EXPECT_EQ(rows[2], (std::vector<std::wstring>{L"2", fx + L"\\c.wav", L"00:00:03", L"WAV"}));
  POINT row2 = ListViewRowPoint(list, 2);
  ClickAt(list, row2.x, row2.y);
  Click(ChildWithText(task, Tr(lang, idMoveUp)));
  ASSERT_TRUE(Eventually([&] { return (rows = ListViewRows(list, 2)).size() == 3 && rows[1][1] == fx + L"\\c.wav"; }, 5000));
  EXPECT_EQ(rows[1][0], L"1") << "renumbered";
  EXPECT_EQ(rows[2][1], fx + L"\\b.wav");

  // Append mode, WAV; a name typed with another extension gets the format's.
  std::vector<HWND> combos = Children(task, L"TUniComboBox");
  HWND mode = ComboShowing(combos, Tr(lang, idMix));
  HWND format = ComboShowing(combos, L"MPEG Audio Layer3 (MP3)    (*.MP3)");
  ASSERT_TRUE(mode && format);
  Click(mode);
  Key("End Return");
  EXPECT_TRUE(Eventually([&] { return ComboText(mode) == Tr(lang, idAppend); }, 5000));
  Click(format);
  Key("End Return");
  HWND edit = Children(task, L"TUniEdit").at(0);
  EXPECT_EQ(ChooseOutput(app, task, lang, "C:\\fxmix\\out.mp3", edit), fx + L"\\out.mp3.wav");
  EXPECT_EQ(ChooseOutput(app, task, lang, "C:\\fxmix\\all.wav", edit), fx + L"\\all.wav");
  Shot(task, L"program_mix_settings_" + lang);

  std::vector<std::wstring> lines = RunToEnd(task, lang);
  Shot(task, L"program_mix_done_" + lang);
  const std::wstring ok = L"   " + Tr(lang, idSucceeded);
  EXPECT_EQ(lines, (std::vector<std::wstring>{fx + L"\\a.wav", fx + L"\\c.wav" + ok, fx + L"\\b.wav" + ok}));
  EXPECT_EQ(Probe(fx + L"\\all.wav")["codec_name"], "pcm_s16le");
  EXPECT_EQ(SoxSamples(fx + L"\\all.wav"), 6 * 44100LL) << "1 + 3 + 2 seconds";

  // Return; then the same three mixed into one of 3 s.
  ClickNext(task);
  ASSERT_TRUE(Eventually([&] { return ListViewRows(list, 1).empty() && Text(edit).empty(); }, 5000)) << "Return empties";
  AddThroughOpenDialog(app, task, Tr(lang, idAdd), "C:\\fxmix\\", "\"a.wav\" \"b.wav\" \"c.wav\"");
  Click(mode);
  Key("Home Return");
  // A name typed without an extension gets the format's before the dialog looks for it: the
  // existing all.wav is asked about, and No leaves the dialog open for another name.
  Click(ChildWithText(task, Tr(lang, idChooseOutput)));
  HWND save = FileDialog(app);
  ASSERT_TRUE(save) << "the save dialog shows";
  EnterInFileDialog(save, "C:\\fxmix\\all");
  HWND prompt = nullptr;
  ASSERT_TRUE(Eventually([&] {
    HWND w = app.TopWindowOfClass(L"#32770", 0);
    if (w && w != save) prompt = w;
    return prompt != nullptr;
  }, 5000)) << "the overwrite question (there is no file \"all\": it asks about all.wav)";
  Key("n");
  ASSERT_TRUE(Eventually([&] { return !IsWindow(prompt); }, 5000));
  ASSERT_TRUE(IsWindow(save)) << "No keeps the dialog";
  EnterInFileDialog(save, "C:\\fxmix\\mixed");
  ASSERT_TRUE(Eventually([&] { return !IsWindow(save); }, 5000));
  EXPECT_EQ(Text(edit), fx + L"\\mixed.wav");
  lines = RunToEnd(task, lang);
  EXPECT_EQ(lines.size(), 3u);
  EXPECT_EQ(SoxSamples(fx + L"\\mixed.wav"), 3 * 44100LL) << "as long as the longest";

  EXPECT_EQ(FilesIn(fx), (std::vector<std::wstring>{L"a.wav", L"all.wav", L"b.wav", L"c.wav", L"mixed.wav"}));
  EXPECT_EQ(TempFiles(), tempBefore) << "no temporary file left";
  ClickCaptionClose(task);
  EXPECT_TRUE(Eventually([&] { return !IsWindow(task) && !IsIconic(main); }, 5000));
  ClickCaptionClose(main);
  EXPECT_EQ(app.WaitForExit(10000), 0u);
}

INSTANTIATE_TEST_SUITE_P(Languages, MixPath, ::testing::Values(L"2052", L"1033"),
                         [](const auto& i) { return std::string(i.param == std::wstring(L"2052") ? "Chinese" : "English"); });

}  // namespace
