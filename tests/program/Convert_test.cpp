// Converting a batch in the real program, in each language table: two tones and a non-audio file
// named .mp3 added through the open dialog (the junk is refused), the empty list's notice, the
// CD preset to WAV beside the sources, the progress lines and the outputs as sox reads them, Return,
// and the window's close bringing the main window back. Then a long conversion cut short by the
// main window's close: the program ends and leaves no half-written file.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/XInput.h"
#include "program/Tasks.h"

using namespace program;

namespace {

constexpr int idTitle = 18, idAdd = 35, idSucceeded = 73, idReturn = 72;

class ConvertPath : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(ConvertPath, TwoTonesToWavWithTheCdPreset) {
  const std::wstring lang = GetParam();
  const std::wstring fx = FreshFolder(L"fx");
  MakeTone(fx + L"\\tone44s.wav", 1, 44100, 2);
  MakeTone(fx + L"\\tone48m.wav", 1, 48000, 1);
  peer::Run("head -c 100 /dev/urandom > " + peer::Quote(peer::UnixPath(fx + L"\\junk.mp3")));

  xinput::Park();
  TProgram app(lang);
  HWND main = app.MainWindow();
  ASSERT_TRUE(main);
  HWND task = OpenTask(app, main, kConvertTile);
  ASSERT_TRUE(task) << "the conversion window opens";
  EXPECT_EQ(Text(task), Tr(lang, idTitle));
  EXPECT_TRUE(Eventually([&] { return IsIconic(main) != 0; }, 5000)) << "the main window is minimised";
  Shot(task, L"program_convert_files_" + lang);

  // Next on the empty list: the notice, and the page stays.
  ClickNext(task);
  HWND notice = Dialog(app);
  ASSERT_TRUE(notice) << "the notice shows";
  EXPECT_EQ(Text(notice), L"Tonvale");
  Shot(notice, L"program_convert_notice_" + lang);
  ClickDialogOk(notice, false);
  EXPECT_TRUE(Eventually([&] { return !IsWindow(notice) || !IsWindowVisible(notice); }, 5000));

  // The open dialog: the folder, then three names; the junk is not added.
  ASSERT_NO_FATAL_FAILURE(
      AddThroughOpenDialog(app, task, Tr(lang, idAdd), "C:\\fx\\", "\"tone44s.wav\" \"tone48m.wav\" \"junk.mp3\""));
  std::vector<HWND> lists = Children(task, L"TUniListView");
  ASSERT_EQ(lists.size(), 1u);
  std::vector<std::vector<std::wstring>> rows;
  ASSERT_TRUE(Eventually([&] { return (rows = ListViewRows(lists[0], 4)).size() == 2; }, 5000)) << rows.size();
  EXPECT_EQ(rows[0], (std::vector<std::wstring>{L"tone44s.wav", L"WAV", L"00:00:01", L"C:\\fx\\"}));
  EXPECT_EQ(rows[1], (std::vector<std::wstring>{L"tone48m.wav", L"WAV", L"00:00:01", L"C:\\fx\\"}));
  Shot(task, L"program_convert_listed_" + lang);

  // The settings page: the folder of the first file; WAV with the CD preset.
  ClickNext(task);
  std::vector<HWND> edits = Children(task, L"TUniEdit");
  ASSERT_EQ(edits.size(), 1u);
  EXPECT_TRUE(Eventually([&] { return Text(edits[0]) == L"C:\\fx\\"; }, 5000)) << "the output folder";
  std::vector<HWND> combos = Children(task, L"TUniComboBox");
  ASSERT_GE(combos.size(), 2u);
  Click(combos[0]);
  Key("End Return");  // the last format: WAV
  EXPECT_TRUE(Eventually([&] { return ComboText(combos[0]) == L"Windows Media Audio (*.WAV)"; }, 5000));
  Click(combos[1]);
  Key("Home Down Return");  // the CD preset
  EXPECT_TRUE(Eventually([&] { return ComboText(combos[1]) == Tr(lang, 50); }, 5000));
  Shot(task, L"program_convert_settings_" + lang);

  // The run: a line per file, each ending in success; Next becomes Return.
  ClickNext(task);
  std::vector<HWND> boxes = Children(task, L"TUniListBox");
  ASSERT_EQ(boxes.size(), 1u);
  const std::wstring ok = L"   " + Tr(lang, idSucceeded);
  ASSERT_TRUE(Eventually([&] {
    std::vector<std::wstring> l = ListBoxLines(boxes[0]);
    return l.size() == 2 && l[0] == L"tone44s.wav" + ok && l[1] == L"tone48m.wav" + ok;
  }, 30000)) << "both files converted";
  EXPECT_TRUE(ChildWithText(task, Tr(lang, idReturn))) << "Next reads Return";
  Shot(task, L"program_convert_done_" + lang);
  for (const wchar_t* name : {L"tone44s(0).wav", L"tone48m(0).wav"}) {
    auto info = Probe(fx + L"\\" + name);
    EXPECT_EQ(info["codec_name"], "pcm_s16le") << name;
    EXPECT_EQ(info["sample_rate"], "44100") << name;
    EXPECT_EQ(info["channels"], "2") << name;
    EXPECT_EQ(SoxSamples(fx + L"\\" + name), 44100) << name;
  }
  EXPECT_EQ(FilesIn(fx).size(), 5u) << "the sources, the junk and two outputs: nothing else";

  // Return empties the window; its close brings the main window back.
  ClickNext(task);
  EXPECT_TRUE(Eventually([&] { return ListViewRows(lists[0], 4).empty(); }, 5000));
  ClickCaptionClose(task);
  EXPECT_TRUE(Eventually([&] { return !IsWindow(task) && !IsIconic(main); }, 5000)) << "the main window is back";
  ClickCaptionClose(main);
  EXPECT_EQ(app.WaitForExit(10000), 0u);
}

INSTANTIATE_TEST_SUITE_P(Languages, ConvertPath, ::testing::Values(L"2052", L"1033"),
                         [](const auto& i) { return std::string(i.param == std::wstring(L"2052") ? "Chinese" : "English"); });

// Bad files through the window: a non-audio file named .mp3 is refused, a FLAC file damaged after
// its header either converts or fails on its own line; either way no error box, the program goes
// on, and a failed file leaves no output.
TEST(ConvertPathBad, ADamagedFlacEndsOnItsOwnLineWithoutAnErrorBox) {
  const std::wstring fx = FreshFolder(L"fxbad");
  MakeTone(fx + L"\\good.wav", 1, 44100, 2);
  MakeTone(fx + L"\\bad.flac", 3, 44100, 2);
  // Frames overwritten with noise from 4 KiB on, the stream header left whole.
  const std::string bad = peer::Quote(peer::UnixPath(fx + L"\\bad.flac"));
  ASSERT_EQ(peer::Run("head -c 200000 /dev/urandom | dd of=" + bad + " bs=1 seek=4096 conv=notrunc status=none").exitCode, 0);
  peer::Run("head -c 100 /dev/urandom > " + peer::Quote(peer::UnixPath(fx + L"\\junk.mp3")));
  xinput::Park();
  TProgram app(L"2052");
  HWND main = app.MainWindow();
  ASSERT_TRUE(main);
  HWND task = OpenTask(app, main, kConvertTile);
  ASSERT_TRUE(task);
  ASSERT_NO_FATAL_FAILURE(
      AddThroughOpenDialog(app, task, Tr(L"2052", idAdd), "C:\\fxbad\\", "\"good.wav\" \"bad.flac\" \"junk.mp3\""));
  std::vector<HWND> lists = Children(task, L"TUniListView");
  ASSERT_EQ(lists.size(), 1u);
  std::vector<std::vector<std::wstring>> rows;
  ASSERT_TRUE(Eventually([&] { return !(rows = ListViewRows(lists[0], 1)).empty(); }, 5000));
  for (const auto& r : rows) EXPECT_NE(r[0], L"junk.mp3") << "the junk is refused";
  ClickNext(task);
  std::vector<HWND> combos = Children(task, L"TUniComboBox");
  ASSERT_GE(combos.size(), 1u);
  Click(combos[0]);
  Key("End Return");  // WAV
  ClickNext(task);
  std::vector<HWND> boxes = Children(task, L"TUniListBox");
  ASSERT_EQ(boxes.size(), 1u);
  const std::wstring ok = L"   " + Tr(L"2052", idSucceeded), failed = L"   " + Tr(L"2052", 74);
  auto ends = [](const std::wstring& Line, const std::wstring& Tail) {
    return Line.size() >= Tail.size() && Line.compare(Line.size() - Tail.size(), Tail.size(), Tail) == 0;
  };
  std::vector<std::wstring> lines;
  ASSERT_TRUE(Eventually([&] {
    lines = ListBoxLines(boxes[0]);
    return lines.size() == rows.size() && std::all_of(lines.begin(), lines.end(), [&](const std::wstring& l) {
             return ends(l, ok) || ends(l, failed);
           });
  }, 30000)) << "every file ends";
  Shot(task, L"program_convert_bad");
  EXPECT_EQ(app.TopWindowOfClass(L"#32770", 0), nullptr) << "no error box";
  for (const std::wstring& l : lines) {
    const std::wstring source = l.substr(0, l.find(L"   "));
    std::vector<std::wstring> outputs = FilesIn(fx, source.substr(0, source.find(L'.')) + L"*.wav");
    outputs.erase(std::remove(outputs.begin(), outputs.end(), source), outputs.end());
    if (ends(l, failed)) EXPECT_TRUE(outputs.empty()) << "a failed file leaves no output";
    else {
      ASSERT_EQ(outputs.size(), 1u) << "a converted file has its output";
      EXPECT_EQ(Probe(fx + L"\\" + outputs[0])["codec_name"], "pcm_s16le");
    }
  }
  EXPECT_TRUE(ends(lines[0], ok)) << "the good file converts";
  ClickCaptionClose(task);
  ClickCaptionClose(main);
  EXPECT_EQ(app.WaitForExit(10000), 0u);
}

// A folder of the C: drive on a filesystem of its own of SizeKiB: a disk that fills. Mounting needs
// root with the right to mount (as the test command runs); without it Mounted() is false.
class TSmallDisk {
 public:
  TSmallDisk(const std::wstring& Name, int SizeKiB) : FPath(FreshFolder(Name)), FUnix(peer::UnixPath(FPath)) {
    FMounted = peer::Run("mount -t tmpfs -o size=" + std::to_string(SizeKiB) + "k tmpfs " + peer::Quote(FUnix)).exitCode == 0;
  }
  ~TSmallDisk() {
    if (FMounted) peer::Run("umount " + peer::Quote(FUnix) + " || umount -l " + peer::Quote(FUnix));
  }
  bool Mounted() const { return FMounted; }
  const std::wstring& Path() const { return FPath; }

 private:
  std::wstring FPath;
  std::string FUnix;
  bool FMounted = false;
};

// A full disk: the outputs go beside the sources on a 1 MiB filesystem. The short file fits and
// converts; the long one fills the disk, fails on its own line without an error box, and leaves
// no part of itself behind.
TEST(ConvertPathBad, AFullDiskFailsTheFileThatDoesNotFitAndLeavesNoPartOfIt) {
  TSmallDisk disk(L"fxfull", 1024);
  if (!disk.Mounted()) GTEST_SKIP() << "this machine does not let the test mount a small filesystem";
  const std::wstring fx = disk.Path();
  MakeTone(fx + L"\\short.wav", 0.5, 44100, 2);
  MakeTone(fx + L"\\long.flac", 20, 44100, 2);
  xinput::Park();
  TProgram app(L"2052");
  HWND main = app.MainWindow();
  ASSERT_TRUE(main);
  HWND task = OpenTask(app, main, kConvertTile);
  ASSERT_TRUE(task);
  ASSERT_NO_FATAL_FAILURE(AddThroughOpenDialog(app, task, Tr(L"2052", idAdd), "C:\\fxfull\\", "\"short.wav\" \"long.flac\""));
  std::vector<HWND> lists = Children(task, L"TUniListView");
  ASSERT_EQ(lists.size(), 1u);
  ASSERT_TRUE(Eventually([&] { return ListViewRows(lists[0], 1).size() == 2; }, 5000));
  ClickNext(task);
  std::vector<HWND> combos = Children(task, L"TUniComboBox");
  ASSERT_GE(combos.size(), 1u);
  Click(combos[0]);
  Key("End Return");  // WAV
  ClickNext(task);
  std::vector<HWND> boxes = Children(task, L"TUniListBox");
  ASSERT_EQ(boxes.size(), 1u);
  const std::wstring ok = L"   " + Tr(L"2052", idSucceeded), failed = L"   " + Tr(L"2052", 74);
  std::vector<std::wstring> lines;
  EXPECT_TRUE(Eventually([&] {
    lines = ListBoxLines(boxes[0]);
    auto ends = [](const std::wstring& Line, const std::wstring& Tail) {
      return Line.size() >= Tail.size() && Line.compare(Line.size() - Tail.size(), Tail.size(), Tail) == 0;
    };
    return lines.size() == 2 && (ends(lines[1], ok) || ends(lines[1], failed));
  }, 30000)) << "both files end";
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], L"short.wav" + ok);
  EXPECT_EQ(lines[1], L"long.flac" + failed) << "the file that filled the disk fails";
  Shot(task, L"program_convert_full_disk");
  EXPECT_EQ(app.TopWindowOfClass(L"#32770", 0), nullptr) << "no error box";
  EXPECT_EQ(FilesIn(fx), (std::vector<std::wstring>{L"long.flac", L"short(0).wav", L"short.wav"}))
      << "the short file's output and nothing of the long one's";
  EXPECT_EQ(SoxSamples(fx + L"\\short(0).wav"), 22050);
  ClickCaptionClose(task);
  ClickCaptionClose(main);
  EXPECT_EQ(app.WaitForExit(10000), 0u);
}

// The main window closed while a long conversion runs: the run stops, the program ends, and the
// file it was writing is gone.
TEST(ConvertPathClose, ClosingTheMainWindowStopsTheRunAndLeavesNoPartialFile) {
  const std::wstring fx = FreshFolder(L"fxlong");
  MakeTone(fx + L"\\long.wav", 600, 44100, 2);
  xinput::Park();
  TProgram app(L"2052");
  HWND main = app.MainWindow();
  ASSERT_TRUE(main);
  HWND task = OpenTask(app, main, kConvertTile);
  ASSERT_TRUE(task);
  ASSERT_NO_FATAL_FAILURE(AddThroughOpenDialog(app, task, Tr(L"2052", idAdd), "C:\\fxlong\\", "long.wav"));
  ClickNext(task);
  std::vector<HWND> combos = Children(task, L"TUniComboBox");
  ASSERT_GE(combos.size(), 1u);
  Click(combos[0]);
  Key("Home Down Down Return");  // FLAC
  ClickNext(task);
  // The output is being written.
  ASSERT_TRUE(Eventually([&] { return FilesIn(fx, L"*.flac").size() == 1; }, 20000)) << "the run started";
  // The main window, minimised, is closed from outside (as from the task bar).
  PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(app.WaitForExit(30000), 0u) << "the program ends";
  EXPECT_EQ(FilesIn(fx), (std::vector<std::wstring>{L"long.wav"})) << "no partial output";
}

// The main window closed while the conversion window's open dialog is up: the dialog goes, and
// the program ends cleanly, with nothing of the window used after it was freed.
TEST(ConvertPathClose, ClosingTheMainWindowDuringTheOpenDialogEndsTheProgramCleanly) {
  xinput::Park();
  TProgram app(L"2052");
  HWND main = app.MainWindow();
  ASSERT_TRUE(main);
  HWND task = OpenTask(app, main, kConvertTile);
  ASSERT_TRUE(task);
  Click(ChildWithText(task, Tr(L"2052", idAdd)));
  HWND open = FileDialog(app);
  ASSERT_TRUE(open) << "the open dialog shows";
  PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(app.WaitForExit(30000), 0u) << "the program ends with its own exit code";
}

}  // namespace
