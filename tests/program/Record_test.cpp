// Recording over music in the real program: the capture source of the test command fed with a
// tone, a WAV take over an 8-bit mono background in each language table (the take has the
// background's format), a take without background after the background dialog was cancelled (the
// capture's own format), and a take that ends by itself with its background, the window leaving
// its recording state.
#include <gtest/gtest.h>

#include <cstdlib>

#include "audio/devices/DeviceTestUtil.h"
#include "common/XInput.h"
#include "program/Tasks.h"

using namespace program;

namespace {

constexpr int idTitle = 16, idSelectBackground = 155, idStart = 161, idStop = 162;

class RecordPath : public ::testing::TestWithParam<const wchar_t*> {
 protected:
  void SetUp() override {
    char path[512] = {};
    GetEnvironmentVariableA("TEST_CAPTURE_FIFO", path, sizeof path);
    ASSERT_NE(path[0], 0) << "TEST_CAPTURE_FIFO is not set";
    fifo = path;
    fx = FreshFolder(L"fxrec");
    tone = peer::UnixPath(fx + L"\\tone.raw");
    ASSERT_EQ(peer::Run("sox -D -n -r 44100 -c 2 -b 16 -e signed -t raw " + peer::Quote(tone) +
                        " synth 120 sine 1000 gain -6").exitCode, 0);
  }
  void TearDown() override {
    if (!feeder.empty()) peer::Run("kill " + feeder + " 2>/dev/null; true");
  }
  // Feeds the tone into the capture source from now on, in real time.
  void Feed() {
    if (!feeder.empty()) return;
    feeder = peer::Run("ffmpeg -nostdin -hide_banner -v error -f s16le -ar 44100 -ac 2 -i " + peer::Quote(tone) +
                       " -af arealtime=limit=0.3 -f s16le -ar 44100 -ac 2 -y " + peer::Quote(fifo) +
                       " </dev/null >/dev/null 2>&1 & echo $!").out;
    while (!feeder.empty() && feeder.back() == '\n') feeder.pop_back();
  }
  // Chooses the background through its dialog (an empty name cancels it).
  void ChooseBackground(const std::wstring& Lang, const std::string& Name) {
    Click(ChildWithText(task, Tr(Lang, idSelectBackground)));
    HWND open = FileDialog(*app);
    ASSERT_TRUE(open);
    if (Name.empty()) Key("Escape");
    else EnterInFileDialog(open, Name);
    ASSERT_TRUE(Eventually([&] { return !IsWindow(open); }, 5000));
  }
  // Starts a take into Name (through the save dialog): the button reads Stop.
  void Start(const std::wstring& Lang, const std::string& Name) {
    Feed();
    Click(ChildWithText(task, Tr(Lang, idStart)));
    HWND save = FileDialog(*app);
    ASSERT_TRUE(save);
    EnterInFileDialog(save, Name);
    ASSERT_TRUE(Eventually([&] { return ChildWithText(task, Tr(Lang, idStop)) != nullptr; }, 20000)) << "recording";
  }
  void Open(const std::wstring& Lang) {
    app = std::make_unique<TProgram>(Lang);
    main = app->MainWindow();
    ASSERT_TRUE(main);
    task = OpenTask(*app, main, kRecordTile);
    ASSERT_TRUE(task) << "the record window opens";
    EXPECT_EQ(Text(task), Tr(Lang, idTitle));
  }
  void CloseAll() {
    ClickCaptionClose(task);
    EXPECT_TRUE(Eventually([&] { return !IsWindow(task) && !IsIconic(main); }, 5000));
    ClickCaptionClose(main);
    EXPECT_EQ(app->WaitForExit(10000), 0u);
  }
  // Seconds of a take.
  double Seconds(const std::wstring& File) { return std::atof(Probe(File)["duration"].c_str()); }

  devtest::DeviceLock lock;
  std::string fifo, tone, feeder;
  std::wstring fx;
  std::unique_ptr<TProgram> app;
  HWND main = nullptr, task = nullptr;
};

TEST_P(RecordPath, ATakeOverMusicAndOneWithout) {
  const std::wstring lang = GetParam();
  MakeTone(fx + L"\\bg22m8.wav", 5, 22050, 1, 8);
  xinput::Park();
  Open(lang);
  std::vector<HWND> combos = Children(task, L"TUniComboBox");
  HWND format = ComboShowing(combos, L"MPEG Audio Layer3 (MP3)    (*.MP3)");
  ASSERT_TRUE(format);
  for (HWND c : combos) {
    if (c != format) {
      EXPECT_FALSE(ComboText(c).empty()) << "a capture device is chosen";
    }
  }
  Shot(task, L"program_record_idle_" + lang);

  ChooseBackground(lang, "C:\\fxrec\\bg22m8.wav");
  HWND edit = Children(task, L"TUniEdit").at(0);
  EXPECT_EQ(Text(edit), fx + L"\\bg22m8.wav");
  Click(format);
  Key("End Return");  // WAV
  Start(lang, "C:\\fxrec\\take");
  Shot(task, L"program_record_running_" + lang);
  Sleep(2000);
  Click(ChildWithText(task, Tr(lang, idStop)));
  ASSERT_TRUE(Eventually([&] { return ChildWithText(task, Tr(lang, idStart)) != nullptr; }, 10000)) << "stopped";
  auto take = Probe(fx + L"\\take.wav");
  EXPECT_EQ(take["codec_name"], "pcm_u8");
  EXPECT_EQ(take["sample_rate"], "22050");
  EXPECT_EQ(take["channels"], "1");
  EXPECT_GT(Seconds(fx + L"\\take.wav"), 1.0);
  EXPECT_LT(Seconds(fx + L"\\take.wav"), 4.5);

  // The background dialog cancelled: no background, the capture's own format.
  ChooseBackground(lang, "");
  EXPECT_EQ(Text(edit), L"");
  Start(lang, "C:\\fxrec\\bare.wav");
  Sleep(1500);
  Click(ChildWithText(task, Tr(lang, idStop)));
  ASSERT_TRUE(Eventually([&] { return ChildWithText(task, Tr(lang, idStart)) != nullptr; }, 10000));
  auto bare = Probe(fx + L"\\bare.wav");
  EXPECT_EQ(bare["codec_name"], "pcm_s16le");
  EXPECT_EQ(bare["sample_rate"], "44100");
  EXPECT_EQ(bare["channels"], "2");
  EXPECT_GT(Seconds(fx + L"\\bare.wav"), 0.5);
  CloseAll();
}

INSTANTIATE_TEST_SUITE_P(Languages, RecordPath, ::testing::Values(L"2052", L"1033"),
                         [](const auto& i) { return std::string(i.param == std::wstring(L"2052") ? "Chinese" : "English"); });

// A background of one second ends the take by itself: the window leaves its recording state.
TEST_F(RecordPath, ATakeThatEndsWithItsBackgroundLeavesTheRecordingState) {
  MakeTone(fx + L"\\short.wav", 1, 44100, 2);
  xinput::Park();
  Open(L"2052");
  ChooseBackground(L"2052", "C:\\fxrec\\short.wav");
  Click(ComboShowing(Children(task, L"TUniComboBox"), L"MPEG Audio Layer3 (MP3)    (*.MP3)"));
  Key("End Return");
  Start(L"2052", "C:\\fxrec\\self.wav");
  EXPECT_TRUE(Eventually([&] { return ChildWithText(task, Tr(L"2052", idStart)) != nullptr; }, 10000))
      << "the window leaves its recording state";
  EXPECT_EQ(Probe(fx + L"\\self.wav")["sample_rate"], "44100");
  CloseAll();
}

}  // namespace
