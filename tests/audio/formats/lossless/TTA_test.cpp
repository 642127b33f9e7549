// True Audio specifics: the float layout, inputs of unknown or misestimated size, tags, streams
// staged through temporary files, sample windows through the seek table, damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "audio/formats/tta/AuTTA.h"
#include "audio/engine/AudioTestUtil.h"
#include "classlib/WinApi.h"
#include "common/TestFiles.h"
#include "audio/formats/lossless/LosslessTestUtil.h"

using namespace lossless;
using testfiles::TempDir;

namespace {

void EncodeTTA(TAuInput* in, const std::wstring& file, TTTAOut* out = nullptr) {
  TTTAOut own(nullptr);
  if (!out) out = &own;
  out->SetInput(in);
  out->SetWideFileName(file);
  EXPECT_EQ(RunToDone(out), "");
}

std::vector<uint8_t> DecodeTTA(const std::wstring& file, int64_t* frames = nullptr) {
  TTTAIn in(nullptr);
  in.SetWideFileName(file);
  if (frames) *frames = in.TotalSamples();
  return Drain(&in, 5000);
}

TEST(TTAOutput, FloatInputRoundTripsThroughOurFloatLayout) {
  TempDir dir;
  const int32_t values[] = {INT32_MIN, -1073741824, -1, 0, 1, 12345678, 1073741823, INT32_MAX};
  std::vector<uint8_t> pcm;
  for (int rep = 0; rep < 700; ++rep)  // 5600 frames of 2 channels
    for (int32_t v : values) pcm.insert(pcm.end(), (uint8_t*)&v, (uint8_t*)&v + 4);
  TMemIn in(pcm, 32, 2, 44100);
  EncodeTTA(&in, dir.File(L"f.tta"));
  const std::string file = testfiles::ReadBytes(dir.File(L"f.tta"));
  ASSERT_GE(file.size(), 22u);
  EXPECT_EQ(file.substr(0, 4), "TTA1");
  EXPECT_EQ((uint8_t)file[4], 3) << "float format";
  EXPECT_EQ((uint8_t)file[8], 32) << "bits";

  auto got = DecodeTTA(dir.File(L"f.tta"));
  ASSERT_EQ(got.size(), pcm.size());
  for (size_t i = 0; i < pcm.size() / 4; ++i) {
    int32_t src, back;
    std::memcpy(&src, &pcm[4 * i], 4);
    std::memcpy(&back, &got[4 * i], 4);
    const float x = (float)((double)src / 2147483648.0);
    const int32_t want = x >= 1.0f ? INT32_MAX : (int32_t)std::floor((double)x * 2147483648.0);
    ASSERT_EQ(back, want) << "sample " << i << " from " << src;
  }
}

// The size the encoder is told is a hint: the file always carries what it really got.
struct SizeCase {
  const char* name;
  int64_t reported;  // -1: unknown; else the Size the chain reports
};
class TTASize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(TTASize, FileHoldsTheFramesReallyWritten) {
  TempDir dir;
  const int frames = 100003;
  auto pcm = Signal(16, 2, frames);
  TMemIn src(pcm, 16, 2, 44100);
  src.UnknownSize = GetParam().reported == -1;
  TPassConverter conv(GetParam().reported);
  conv.SetInput(&src);
  EncodeTTA(GetParam().reported == -1 ? (TAuInput*)&src : (TAuInput*)&conv, dir.File(L"s.tta"));
  int64_t got = 0;
  EXPECT_EQ(FirstDifference(DecodeTTA(dir.File(L"s.tta"), &got), pcm), -1);
  EXPECT_EQ(got, frames);
  std::string err;
  EXPECT_EQ(FirstDifference(FfmpegDecode(dir.File(L"s.tta"), 16, err), pcm), -1) << err;
}

INSTANTIATE_TEST_SUITE_P(Sizes, TTASize,
                         ::testing::Values(SizeCase{"unknown", -1}, SizeCase{"too_large", 4 * 300000}),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(TTATags, EmptySetsWriteNoTagsAndFilledSetsAreReadBack) {
  TempDir dir;
  auto pcm = Signal(16, 1, 30000);
  const std::wstring title = L"Caf\u00e9 \u00dcber";  // Latin-1: the tags are 8-bit text
  struct {
    const wchar_t* name;
    bool v1, v2;
  } cases[] = {{L"none.tta", false, false}, {L"v2.tta", false, true}, {L"v1.tta", true, false}, {L"both.tta", true, true},
               {L"none_again.tta", false, false}};
  TTTAIn tin(nullptr);  // one input for all: tags of one file must not show on the next
  for (auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.v1 ? "v1 " : "") << (c.v2 ? "v2" : ""));
    const std::wstring file = dir.File(c.name);
    TMemIn in(pcm, 16, 1, 44100);
    TTTAOut out(nullptr);
    if (c.v1) out.Id3v1Tags()->SetTitle(WideToAnsi(title));
    if (c.v2) out.Id3v2Tags()->SetTitle(title);
    EncodeTTA(&in, file, &out);
    const std::string bytes = testfiles::ReadBytes(file);
    ASSERT_GT(bytes.size(), 128u);
    EXPECT_EQ(bytes.substr(0, 4), c.v2 ? std::string("ID3\x04", 4) : "TTA1");
    EXPECT_EQ(bytes.substr(bytes.size() - 128, 3) == "TAG", c.v1);

    tin.SetWideFileName(file);
    EXPECT_EQ(FirstDifference(Drain(&tin, 4096), pcm), -1) << "the audio starts after the tag and ends before it";
    tin.SetWideFileName(file);
    tin.Valid();
    EXPECT_EQ(tin.Id3v2Tags()->Title(), c.v2 ? title : L"") << "no tag of an earlier file stays";
    if (c.v1) {
      EXPECT_EQ(AnsiToWide(tin.Id3v1Tags()->Title()), title);
    }

    std::string err, out8;
    ASSERT_EQ(PeerRun("ffprobe -v error -show_entries format_tags=title -of default=nw=1:nk=1 " + Native(file), err, &out8), 0) << err;
    // ffprobe lets an ID3v1 block win over ID3v2 and shows its 8-bit bytes as U+FFFD: the
    // block itself holds the title in the system code page.
    if (c.v1) {
      EXPECT_EQ(bytes.substr(bytes.size() - 125, 9), "Caf\xE9 \xDC" "ber");
    } else if (c.v2) {
      EXPECT_NE(out8.find("Caf\xC3\xA9 \xC3\x9C" "ber"), std::string::npos) << out8;
    }
    std::string e2;
    EXPECT_EQ(FirstDifference(FfmpegDecode(file, 16, e2), pcm), -1) << e2;
  }
}

TEST(TTAStreams, StreamsAreStagedThroughTemporaryFilesThatGoAway) {
  TempDir dir;
  // This process's temporary files go to a folder of its own, so they can be counted.
  const std::wstring tmp = dir.File(L"tmp");
  ASSERT_TRUE(CreateDirectoryW(tmp.c_str(), nullptr));
  wchar_t oldTmp[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"TMP", oldTmp, MAX_PATH);
  SetEnvironmentVariableW(L"TMP", (tmp + L"\\").c_str());
  auto countTemp = [&] {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((tmp + L"\\*.tmp").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do ++n;
    while (FindNextFileW(h, &fd));
    FindClose(h);
    return n;
  };

  auto pcm = Signal(24, 2, 60001);
  TMemIn in1(pcm, 24, 2, 48000);
  EncodeTTA(&in1, dir.File(L"file.tta"));

  TMemoryStream mem;
  mem.SetSize(5000000);  // longer than the file: the output cuts it to the file's size
  TMemIn in2(pcm, 24, 2, 48000);
  TTTAOut out(nullptr);
  out.SetInput(&in2);
  out.SetStream(&mem);
  EXPECT_EQ(RunToDone(&out), "");
  EXPECT_EQ(countTemp(), 0) << "the output's temporary file is gone";
  const std::string viaFile = testfiles::ReadBytes(dir.File(L"file.tta"));
  ASSERT_EQ(mem.Size(), (int64_t)viaFile.size());
  EXPECT_EQ(std::memcmp(mem.Memory(), viaFile.data(), viaFile.size()), 0);

  TTTAIn tin(nullptr);
  tin.SetStream(&mem);
  EXPECT_EQ(tin.Channels(), 2);
  EXPECT_EQ(countTemp(), 1) << "the open input stages the stream";
  EXPECT_EQ(FirstDifference(Drain(&tin, 3000), pcm), -1);
  EXPECT_EQ(countTemp(), 0) << "closing the input removes its temporary file";
  SetEnvironmentVariableW(L"TMP", oldTmp[0] ? oldTmp : nullptr);
}

TEST(TTAOutput, FailuresOfTheLibraryAndOfTheDestinationAreReported) {
  TempDir dir;
  // The library answers a bad call with its error value and a message.
  ASSERT_TRUE(LoadTTALib());
  HANDLE h = CreateFileW(dir.File(L"x.tta").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  {
    TTTAEncoder enc(h, false, 1, 2, 16, 44100, 0);
    EXPECT_FALSE(enc.CompressBlock(nullptr, 5));
    EXPECT_EQ(enc.LastError(), "Invalid block");
    // A refused call leaves the encoder sound: the file is completed.
    EXPECT_EQ(WideToUtf8Basic(MessageOf([&] { enc.Finish(); })), "(nothing raised)");
  }
  CloseHandle(h);
  EXPECT_EQ(WideToUtf8Basic(MessageOf([&] {
              HANDLE r = CreateFileW(dir.File(L"x.tta").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
              std::unique_ptr<void, decltype(&CloseHandle)> guard(r, &CloseHandle);
              TTTAEncoder e(r, false, 1, 2, 16, 44100, 0);  // not writable
            })).rfind("Unable to open TrueAudio-file! Error: \"", 0),
            0u);

  // A destination stream that fills up: the copy-out in Done fails, and the run says so.
  auto pcm = Signal(16, 2, 20000);
  TMemIn in(pcm, 16, 2, 44100);
  TFullStream full(1000);
  TTTAOut out(nullptr);
  out.SetInput(&in);
  out.SetStream(&full);
  EXPECT_NE(RunToDone(&out), "");
  EXPECT_FALSE(in.Busy());
}

// Split windows and previews: the window is delivered exactly, through the seek table.
TEST(TTAWindows, WindowsDeliverTheRequestedFrames) {
  TempDir dir;
  const int frames = 150001;  // four TTA frames of 46080 at 44.1 kHz
  auto pcm = Signal(16, 2, frames);
  TMemIn in(pcm, 16, 2, 44100);
  EncodeTTA(&in, dir.File(L"w.tta"));
  struct {
    int64_t start, end;  // inclusive; -1 = to the end
  } windows[] = {{0, 999}, {40000, 50000}, {46080, -1}, {92159, 92160}, {149000, -1}, {100000, 100000}};
  TTTAIn tin(nullptr);
  for (auto& w : windows) {
    SCOPED_TRACE(testing::Message() << w.start << ".." << w.end);
    tin.SetWideFileName(dir.File(L"w.tta"));
    tin.SetStartSample(w.start);
    tin.SetEndSample(w.end);
    const int64_t last = w.end < 0 ? frames - 1 : w.end;
    std::vector<uint8_t> want(pcm.begin() + w.start * 4, pcm.begin() + (last + 1) * 4);
    EXPECT_EQ(FirstDifference(Drain(&tin, 3333), want), -1);
  }
  // A preview that moves while it plays.
  tin.SetWideFileName(dir.File(L"w.tta"));
  tin.Init();
  ASSERT_TRUE(tin.Seek(120000));
  uint8_t buf[400];
  ASSERT_EQ(tin.CopyData(buf, sizeof buf), sizeof buf);
  EXPECT_EQ(std::memcmp(buf, pcm.data() + 120000 * 4, sizeof buf), 0);
  tin.Flush();
}

TEST(TTADamage, DamagedFilesRaiseAndNeverCrash) {
  TempDir dir;
  auto pcm = Signal(16, 2, 20000);
  TMemIn in(pcm, 16, 2, 22050);
  EncodeTTA(&in, dir.File(L"good.tta"));
  const std::string good = testfiles::ReadBytes(dir.File(L"good.tta"));

  // Not a TTA file at all.
  testfiles::WriteBytes(dir.File(L"junk.tta"), std::string(3000, 'x'));
  TTTAIn tin(nullptr);
  tin.SetWideFileName(dir.File(L"junk.tta"));
  EXPECT_EQ(MessageOf([&] { tin.Init(); }).rfind(L"Unable to open TrueAudio-file! Error: \"", 0), 0u);
  tin.Flush();
  EXPECT_FALSE(tin.Valid());

  // A damaged frame ends a conversion with a message, never with a silently short file.
  std::string bad = good;
  bad[good.size() - 100] ^= 0x55;
  testfiles::WriteBytes(dir.File(L"bad.tta"), bad);
  tin.SetWideFileName(dir.File(L"bad.tta"));
  TTTAOut out(nullptr);
  out.SetInput(&tin);
  out.SetWideFileName(dir.File(L"copy.tta"));
  EXPECT_EQ(RunToDone(&out).rfind("TrueAudio decoding failed! Error: \"", 0), 0u);
  EXPECT_FALSE(tin.Busy());

  // Random damage and every cut: each open and read either works or raises.
  uint32_t rnd = 7;
  for (int i = 0; i < 300; ++i) {
    std::string d = good;
    if (i < 60) {
      d.resize((size_t)i * d.size() / 60);
    } else {
      for (int k = 0; k < 1 + i % 4; ++k) {
        rnd = rnd * 1664525u + 1013904223u;
        const size_t at = i % 3 == 0 ? (rnd >> 8) % 64 : (rnd >> 8) % d.size();  // the header and table often
        d[at] = (char)(rnd >> 24);
      }
    }
    testfiles::WriteBytes(dir.File(L"fuzz.tta"), d);
    tin.SetWideFileName(dir.File(L"fuzz.tta"));
    try {
      tin.Init();
      uint8_t buf[8192];
      bool eof = false;
      while (!eof) tin.FillBuffer(buf, sizeof buf, eof);
    } catch (const Exception&) {
    }
    tin.Reset();
  }
}

}  // namespace
