// MP3 output over lame_enc.dll: the configuration record, lossy round trips decoded by ffmpeg
// (every input depth, mono mix-down, VBR), the ID3v1 block and the TagLib ID3v2 pass (also for
// a name outside the code page), and failures through the events.
#include <gtest/gtest.h>

#include "audio/formats/mp3/AuLAME.h"
#include "classlib/WinApi.h"
#include "audio/formats/codecs/CodecTestUtil.h"

using namespace codectest;

namespace {

uint32_t At32(const std::vector<uint8_t>& r, int at) {
  return r[at] | (r[at + 1] << 8) | (r[at + 2] << 16) | ((uint32_t)r[at + 3] << 24);
}

std::vector<int32_t> As16(const std::string& pcm, int bits) {
  std::vector<int32_t> s = Samples(pcm, bits);
  for (int32_t& v : s) v = bits == 8 ? v * 256 : bits > 16 ? v >> (bits - 16) : v;
  return s;
}

TEST(Mp3Out, ConfigurationRecord) {
  TMP3Out out(nullptr);
  std::vector<uint8_t> r = out.BuildConfig(2, 44100);
  ASSERT_EQ(r.size(), 331u);
  struct Field {
    int at;
    uint32_t want;
  } defaults[] = {{0, 256}, {4, 1},  {8, 331}, {12, 44100}, {16, 0},  {20, 0},  {24, 128},          {28, 0},
                  {52, 0},  {56, 0}, {60, 1},  {64, 0},     {68, 0},  {72, 0},  {76, 0},            {80, 2},
                  {84, 0xFFFFFFFFu}, {88, 0}};
  for (const Field& f : defaults) EXPECT_EQ(At32(r, f.at), f.want) << "offset " << f.at;
  for (size_t i = 92; i < r.size(); ++i) ASSERT_EQ(r[i], 0) << "offset " << i;

  out.SetMode(mmJointStereo);
  EXPECT_EQ(At32(out.BuildConfig(1, 22050), 20), 3u) << "mono input is always mode 3";
  EXPECT_EQ(At32(out.BuildConfig(2, 22050), 20), 1u);
  out.SetMode(mmDual);
  EXPECT_EQ(At32(out.BuildConfig(2, 22050), 20), 0u) << "dual channel encodes as stereo";
  out.SetEnableVBR(1);
  out.SetVBRQuality(mp3ql4);
  out.SetAverageBitrate(mbr192);
  out.SetMaximumBitrate(mbr320);
  out.SetEnableBitReservoir(true);
  out.SetStrictISO(true);
  out.SetBitRate((TMP3BitRate)20);
  r = out.BuildConfig(2, 48000);
  EXPECT_EQ(At32(r, 24), 128u) << "an ordinal above 15 counts as 128";
  EXPECT_EQ(At32(r, 28), 320u);
  EXPECT_EQ(At32(r, 64), 1u);
  EXPECT_EQ(At32(r, 68), 1u);
  EXPECT_EQ(At32(r, 72), 4u);
  EXPECT_EQ(At32(r, 76), 192u);
  EXPECT_EQ(At32(r, 80), 4u);
  EXPECT_EQ(At32(r, 84), 0u);
  EXPECT_EQ(At32(r, 88), 0xFFFFFFFFu);
}

struct Mp3Case {
  const char* name;
  int bits, channels, rate;
  TMP3Mode mode;
  bool vbr;
  int outChannels;
};

void PrintTo(const Mp3Case& c, std::ostream* os) { *os << c.name; }

class Mp3Lossy : public ::testing::TestWithParam<Mp3Case> {};

TEST_P(Mp3Lossy, FfmpegDecodesTheSignal) {
  const Mp3Case& c = GetParam();
  TempDir dir;
  const int frames = 2 * c.rate + 333;
  const std::string pcm = Signal(frames, c.channels, c.bits, c.rate);
  {
    TBytesIn src(pcm, c.bits, c.channels, c.rate);
    src.MaxChunk = 3001;
    TMP3Out out(nullptr);
    out.SetMode(c.mode);
    out.SetEnableVBR(c.vbr);
    out.SetInput(&src);
    out.SetWideFileName(dir.W(L"o.mp3"));
    ASSERT_EQ(RunBlocking(out), L"");
    EXPECT_FALSE(src.Busy());
  }
  auto info = Probe(dir.U(L"o.mp3"));
  EXPECT_EQ(info["codec_name"], "mp3");
  EXPECT_EQ(info["sample_rate"], std::to_string(c.rate));
  EXPECT_EQ(info["channels"], std::to_string(c.outChannels));
  if (!c.vbr) {
    EXPECT_EQ(info["bit_rate"], "128000");
  }
  const std::vector<int32_t> got = Samples(FfmpegPcm(dir.U(L"o.mp3"), "s16le"), 16);
  const long gotFrames = (long)got.size() / c.outChannels;
  if (c.vbr) {
    EXPECT_EQ(gotFrames, frames) << "the VBR header carries delay and padding";
  } else {
    EXPECT_GE(gotFrames, frames);
    EXPECT_LE(gotFrames, frames + 3 * 1152);
  }
  std::vector<int32_t> ref = As16(pcm, c.bits);
  if (c.outChannels == 1 && c.channels == 2) {
    std::vector<int32_t> mono(ref.size() / 2);
    for (size_t i = 0; i < mono.size(); ++i) mono[i] = (ref[2 * i] + ref[2 * i + 1]) / 2;
    ref = mono;
  }
  EXPECT_GT(Correlation(ref, got, c.outChannels, 3000), 0.9);
  // No tag values: no ID3v1 block.
  const std::string file = testfiles::ReadBytes(dir.W(L"o.mp3"));
  EXPECT_NE(file.substr(file.size() - 128, 3), "TAG");
}

INSTANTIATE_TEST_SUITE_P(Formats, Mp3Lossy,
                         ::testing::Values(Mp3Case{"Stereo16", 16, 2, 44100, mmStereo, false, 2},
                                           Mp3Case{"Stereo24", 24, 2, 44100, mmJointStereo, false, 2},
                                           Mp3Case{"Mono32", 32, 1, 48000, mmStereo, false, 1},
                                           Mp3Case{"Mono8", 8, 1, 22050, mmStereo, false, 1},
                                           Mp3Case{"StereoToMono", 16, 2, 44100, mmMono, false, 1},
                                           Mp3Case{"StereoVbr", 16, 2, 44100, mmJointStereo, true, 2}),
                         [](const ::testing::TestParamInfo<Mp3Case>& i) { return std::string(i.param.name); });

TEST(Mp3Out, Id3v1Block) {
  TMP3Out out(nullptr);
  out.Id3v1Tags()->SetTitle("A title that is longer than thirty bytes");
  out.Id3v1Tags()->SetYear(99);
  std::string b = out.BuildId3v1Block();
  ASSERT_EQ(b.size(), 128u);
  EXPECT_EQ(b.substr(0, 3), "TAG");
  EXPECT_EQ(b.substr(3, 30), "A title that is longer than th");
  EXPECT_EQ(b.substr(93, 4), std::string(4, '\0')) << "a year that is not 4 digits is left out";
  EXPECT_EQ((uint8_t)b[127], 255) << "no genre chosen";
  out.Id3v1Tags()->SetYear(2008);
  out.Id3v1Tags()->SetGenre("Rock");
  b = out.BuildId3v1Block();
  EXPECT_EQ(b.substr(93, 4), "2008");
  EXPECT_EQ((uint8_t)b[127], 17);
}

// ID3v2 tags through TagLib, read back by ffprobe and by our own ID3v2 reader, also for a file
// whose name the code page cannot hold (with the VBR header then still written).
TEST(Mp3Tags, WrittenAndReadBack) {
  TempDir dir;
  const WideString title = L"\u91c7\u6837\u53d8\u5f62 \u00dcber";
  for (const wchar_t* name : {L"t.mp3", L"\u6b4c\u66f2 \u00e9.mp3"}) {
    SCOPED_TRACE(WideToAnsi(name));
    const std::string pcm = Signal(44100, 2, 16);
    TBytesIn src(pcm, 16, 2, 44100);
    TMP3Out out(nullptr);
    out.SetInput(&src);
    out.SetEnableVBR(1);
    out.SetWideFileName(dir.W(name));
    out.Id3v2Tags()->SetTitle(title);
    out.Id3v2Tags()->SetArtist(L"K\u00fcnstler");
    out.Id3v2Tags()->SetAlbum(L"Album");
    out.Id3v2Tags()->SetGenre(L"Ambient");
    out.Id3v2Tags()->SetYear("2008");
    out.Id3v2Tags()->SetTrack("7");
    TRunEvents ev = RunWithEvents(out);
    EXPECT_TRUE(ev.Done);
    EXPECT_TRUE(ev.Errors.empty()) << ev.Errors[0];

    auto info = Probe(dir.U(name));
    EXPECT_EQ(info["tag:title"], "\xE9\x87\x87\xE6\xA0\xB7\xE5\x8F\x98\xE5\xBD\xA2 \xC3\x9C\x62\x65r");
    EXPECT_EQ(info["tag:artist"], "K\xC3\xBCnstler");
    EXPECT_EQ(info["tag:album"], "Album");
    EXPECT_EQ(info["tag:genre"], "Ambient");
    EXPECT_EQ(info["tag:date"], "2008");
    EXPECT_EQ(info["tag:track"], "7");
    EXPECT_EQ(Samples(FfmpegPcm(dir.U(name), "s16le"), 16).size(), pcm.size() / 2) << "VBR header";

    HANDLE h = CreateFileW(dir.W(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    TId3v2Tags v2;
    EXPECT_TRUE(v2.ReadFromFile(h));
    EXPECT_EQ(v2.Title(), title);
    EXPECT_EQ(v2.Artist(), L"K\u00fcnstler");
    CloseHandle(h);
  }
}

// Failures reach the events; a tag failure after the audio is reported, not taken for success,
// and the input is never left busy.
TEST(Mp3Out, FailuresReachTheEvents) {
  TempDir dir;
  struct Case {
    const char* name;
    int channels;
    std::wstring file;
    const char* year;
    const char* message;
    bool audioWritten;
  } cases[] = {
      {"NoName", 2, L"", "", "File name is not assigned.", false},
      {"NoFolder", 2, dir.W(L"none\\x.mp3"), "", nullptr, false},
      {"ThreeChannels", 3, dir.W(L"three.mp3"), "", "MP3 files hold mono or stereo audio only.", false},
      {"BadYear", 2, dir.W(L"year.mp3"), "abc", nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBytesIn src(Signal(20000, c.channels, 16), 16, c.channels, 44100);
    TMP3Out out(nullptr);
    out.SetInput(&src);
    out.SetWideFileName(c.file);
    out.Id3v2Tags()->SetYear(c.year);
    TRunEvents ev = RunWithEvents(out);
    EXPECT_TRUE(ev.Done);
    ASSERT_EQ(ev.Errors.size(), 1u);
    if (c.message) {
      EXPECT_EQ(ev.Errors[0], c.message);
    }
    EXPECT_FALSE(src.Busy());
    EXPECT_FALSE(out.Busy());
    if (c.audioWritten) {
      EXPECT_GT(Samples(FfmpegPcm(dir.U(L"year.mp3"), "s16le"), 16).size(), 40000u);
      // The same input runs again at once.
      out.Id3v2Tags()->SetYear("2001");
      ev = RunWithEvents(out);
      EXPECT_TRUE(ev.Errors.empty()) << ev.Errors[0];
    }
  }
}

}  // namespace
