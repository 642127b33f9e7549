// WavPack specifics: hybrid files and their correction files, tags and the cue sheet, float
// files, unknown sizes, windows, and writes that fail.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "audio/formats/wavpack/AuWavPack.h"
#include "audio/engine/AudioTestUtil.h"
#include "classlib/WinApi.h"
#include "common/TestFiles.h"
#include "audio/formats/lossless/LosslessTestUtil.h"

using namespace lossless;
using testfiles::TempDir;

namespace {

std::string RunWV(TWVOut& out, TAuInput* in, const std::wstring& file) {
  out.SetInput(in);
  out.SetWideFileName(file);
  return RunToDone(&out);
}

bool Exists(const std::wstring& f) { return GetFileAttributesW(f.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(WavPackHybrid, CorrectionFileRestoresEverySample) {
  TempDir dir;
  auto pcm = Sine16(440, 44100, 40000, 2);
  TMemIn in(pcm, 16, 2, 44100);
  TWVOut out(nullptr);
  out.SetHybridMode(true);
  out.SetBitrate(128);
  out.SetJointStereo(true);
  const std::wstring wv = dir.File(L"h.wv"), wvc = dir.File(L"h.wvc");
  ASSERT_EQ(RunWV(out, &in, wv), "");
  ASSERT_TRUE(Exists(wvc));
  // The lossy part alone is far below the lossless rate (about 420 kbit/s for this signal):
  // the library reaches about 175 kbit/s on this short sine for a target of 128 (the wavpack
  // tool gets about 104 only because it codes the two identical channels once).
  const double seconds = 40000.0 / 44100;
  const double kbps = testfiles::ReadBytes(wv).size() * 8 / seconds / 1000;
  EXPECT_GT(kbps, 64);
  EXPECT_LT(kbps, 200);
  EXPECT_GT(testfiles::ReadBytes(wvc).size(), 0u);

  TWVIn win(nullptr);
  win.SetWideFileName(wv);
  EXPECT_TRUE(win.Hybrid());
  EXPECT_TRUE(win.Lossless());
  EXPECT_EQ(FirstDifference(Drain(&win, 4000), pcm), -1);

  // A correction stream handed in takes the place of the file beside it.
  const std::string corr = testfiles::ReadBytes(wvc);
  ASSERT_TRUE(DeleteFileW(wvc.c_str()));
  EXPECT_FALSE(win.Valid()) << "a hybrid file cannot be opened without its correction file";
  TMemoryStream cs;
  cs.WriteBuffer(corr.data(), (int32_t)corr.size());
  win.SetCorrectionStream(&cs);
  win.SetWideFileName(wv);
  EXPECT_EQ(FirstDifference(Drain(&win, 4000), pcm), -1);
  win.SetCorrectionStream(nullptr);

  // Both ends on streams handed in: no file at all.
  TMemIn in2(pcm, 16, 2, 44100);
  TMemoryStream wvs, wvcs;
  TWVOut sout(nullptr);
  sout.SetHybridMode(true);
  sout.SetBitrate(128);
  sout.SetCorrectionStream(&wvcs);
  sout.SetStream(&wvs);
  sout.SetInput(&in2);
  ASSERT_EQ(RunToDone(&sout), "");
  EXPECT_GT(wvcs.Size(), 0);
  TWVIn sin(nullptr);
  sin.SetStream(&wvs);
  sin.SetCorrectionStream(&wvcs);
  EXPECT_TRUE(sin.Hybrid());
  EXPECT_EQ(FirstDifference(Drain(&sin, 4000), pcm), -1);
  // Without its correction stream or a name to find one by, the stream is refused.
  sin.SetCorrectionStream(nullptr);
  EXPECT_FALSE(sin.Valid());
}

TEST(WavPackTags, TagsAndCueSheetAreWrittenAndReadBack) {
  TempDir dir;
  auto pcm = Signal(16, 1, 5000);
  const std::wstring title = L"\u91c7\u6837 \u00dcn\u00ef";  // Chinese and Latin-1
  const std::wstring cue = L"FILE \"a.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n";
  {
    TMemIn in(pcm, 16, 1, 44100);
    TWVOut out(nullptr);
    out.APEv2Tags()->SetTitle(title);
    out.APEv2Tags()->SetArtist(L"Caf\u00e9");
    out.APEv2Tags()->SetYear("2024");
    out.SetCueSheet(cue);
    ASSERT_EQ(RunWV(out, &in, dir.File(L"t.wv")), "");
  }
  TWVIn in(nullptr);
  in.SetWideFileName(dir.File(L"t.wv"));
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.CommonTags()->Title(), title);
  EXPECT_EQ(in.CommonTags()->Artist(), L"Caf\u00e9");
  EXPECT_EQ(in.CommonTags()->Year(), "2024");
  EXPECT_EQ(in.APEv2Tags()->Title(), title);
  EXPECT_EQ(in.CueSheet(), cue);
  EXPECT_TRUE(in.Id3v1Tags()->Empty());
  std::string err, out8;
  ASSERT_EQ(PeerRun("ffprobe -v error -show_entries format_tags=title -of default=nw=1:nk=1 " + Native(dir.File(L"t.wv")),
                    err, &out8),
            0)
      << err;
  EXPECT_NE(out8.find("\xE9\x87\x87\xE6\xA0\xB7 \xC3\x9Cn\xC3\xAF"), std::string::npos) << out8;
  EXPECT_EQ(FirstDifference(Drain(&in, 4000), pcm), -1);

  // An ID3v1 block instead: Id3v1Tags are filled, the common tags stay empty.
  {
    const std::wstring f = dir.File(L"id3.wv");
    TMemIn in3(pcm, 16, 1, 44100);
    TWVOut plain(nullptr);
    ASSERT_EQ(RunWV(plain, &in3, f), "");
    TId3v1Tags v1;
    v1.SetTitle("Old title");
    v1.SetYear(1999);
    HANDLE h = CreateFileW(f.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(v1.WriteToFile(h, false));
    CloseHandle(h);
    TWVIn win(nullptr);
    win.SetWideFileName(f);
    ASSERT_TRUE(win.Valid());
    EXPECT_EQ(win.Id3v1Tags()->Title(), "Old title");
    EXPECT_EQ(win.Id3v1Tags()->Year(), 1999);
    EXPECT_TRUE(win.APEv2Tags()->Empty());
    EXPECT_EQ(win.CommonTags()->Title(), L"");
    EXPECT_EQ(FirstDifference(Drain(&win, 4000), pcm), -1);
  }

  // Empty tags and no cue sheet: no tag at all.
  TMemIn in2(pcm, 16, 1, 44100);
  TWVOut plain(nullptr);
  ASSERT_EQ(RunWV(plain, &in2, dir.File(L"p.wv")), "");
  const std::string bytes = testfiles::ReadBytes(dir.File(L"p.wv"));
  EXPECT_EQ(bytes.find("APETAGEX"), std::string::npos);
  // The same input on the untagged file: nothing of the tagged one stays.
  in.SetWideFileName(dir.File(L"p.wv"));
  ASSERT_TRUE(in.Valid());
  EXPECT_TRUE(in.APEv2Tags()->Empty());
  EXPECT_EQ(in.CommonTags()->Title(), L"");
  EXPECT_EQ(in.CueSheet(), L"");
}

TEST(WavPackInput, FloatFilesAreConvertedAndClipped) {
  TempDir dir;
  const float values[] = {-2.0f, -1.0f, -0.5f, 0.0f, 0.25f, 0.999f, 1.0f, 3.0f};
  std::vector<uint8_t> raw;
  for (int rep = 0; rep < 500; ++rep)
    for (float v : values) raw.insert(raw.end(), (uint8_t*)&v, (uint8_t*)&v + 4);
  testfiles::WriteBytes(dir.File(L"f.raw"), std::string(raw.begin(), raw.end()));
  std::string err;
  ASSERT_EQ(PeerRun("ffmpeg -nostdin -v error -y -f f32le -ar 44100 -ac 1 -i " + Native(dir.File(L"f.raw")) +
                        " -c:a wavpack " + Native(dir.File(L"f.wv")),
                    err),
            0)
      << err;
  TWVIn in(nullptr);
  in.SetWideFileName(dir.File(L"f.wv"));
  ASSERT_EQ(in.BitsPerSample(), 32);
  auto got = Drain(&in, 4000);
  ASSERT_EQ(got.size(), raw.size());
  for (size_t i = 0; i < got.size() / 4; ++i) {
    const float x = values[i % 8];
    const int32_t want = x >= 1 ? INT32_MAX : x < -1 ? INT32_MIN : (int32_t)std::floor((double)x * 2147483647.0);
    int32_t v;
    std::memcpy(&v, &got[4 * i], 4);
    ASSERT_EQ(v, want) << "sample " << i << " = " << x;
  }
}

TEST(WavPackOutput, UnknownSizeGetsTheTrueSampleCount) {
  TempDir dir;
  auto pcm = Signal(24, 2, 70001);
  TMemIn in(pcm, 24, 2, 48000);
  in.UnknownSize = true;
  TWVOut out(nullptr);
  ASSERT_EQ(RunWV(out, &in, dir.File(L"u.wv")), "");
  TWVIn win(nullptr);
  win.SetWideFileName(dir.File(L"u.wv"));
  EXPECT_EQ(win.TotalSamples(), 70001);
  EXPECT_EQ(FirstDifference(Drain(&win, 4000), pcm), -1);
  std::string err, info;
  ASSERT_EQ(PeerRun("wvunpack -s " + Native(dir.File(L"u.wv")), err, &info), 0) << err;
  EXPECT_EQ((info + err).find("crc errors"), std::string::npos) << info << err;
  EXPECT_EQ(FirstDifference(FfmpegDecode(dir.File(L"u.wv"), 24, err), pcm), -1) << err;
}

TEST(WavPackInput, WindowsAndSeeksDeliverTheRequestedFrames) {
  TempDir dir;
  const int frames = 90001;
  auto pcm = Signal(16, 2, frames);
  TMemIn src(pcm, 16, 2, 44100);
  TWVOut out(nullptr);
  ASSERT_EQ(RunWV(out, &src, dir.File(L"w.wv")), "");
  struct {
    int64_t start, end;
  } windows[] = {{0, 99}, {1023, 1024}, {50000, 60000}, {89000, -1}};
  TWVIn in(nullptr);
  for (auto& w : windows) {
    SCOPED_TRACE(testing::Message() << w.start << ".." << w.end);
    in.SetWideFileName(dir.File(L"w.wv"));
    in.SetStartSample(w.start);
    in.SetEndSample(w.end);
    const int64_t last = w.end < 0 ? frames - 1 : w.end;
    std::vector<uint8_t> want(pcm.begin() + w.start * 4, pcm.begin() + (last + 1) * 4);
    EXPECT_EQ(FirstDifference(Drain(&in, 3333), want), -1);
  }
  // Asks smaller than a frame still deliver, byte by byte.
  in.SetWideFileName(dir.File(L"w.wv"));
  in.Init();
  std::vector<uint8_t> small;
  for (int i = 0; i < 100 && small.size() < 30; ++i) {
    uint8_t b[3];
    uint32_t n = in.CopyData(b, 3);
    ASSERT_GT(n, 0u);
    small.insert(small.end(), b, b + n);
  }
  in.Flush();
  EXPECT_EQ(FirstDifference(small, std::vector<uint8_t>(pcm.begin(), pcm.begin() + small.size())), -1);
}

TEST(WavPackOutput, FailedWritesAreReportedNeverSuccess) {
  auto pcm = Signal(16, 2, 60000);
  // The size of the whole file without and with its tag.
  int64_t audioOnly = 0;
  {
    TMemIn in(pcm, 16, 2, 44100);
    TMemoryStream mem;
    TWVOut out(nullptr);
    out.SetInput(&in);
    out.SetStream(&mem);
    ASSERT_EQ(RunToDone(&out), "");
    audioOnly = mem.Size();
  }
  // A stream that raises instead of refusing: the library's callback turns it into a refusal.
  struct {
    const char* name;
    int64_t limit;
    bool raise;
    const char* message;
  } cases[] = {{"audio", 20000, false, "Wavpack packing failed"},
               {"audio, raising", 20000, true, "Wavpack packing failed"},
               {"tag", audioOnly, false, "Wavpack tag writing failed"}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemIn in(pcm, 16, 2, 44100);
    TFullStream full(c.limit, c.raise);
    TWVOut out(nullptr);
    out.APEv2Tags()->SetTitle(L"x");
    out.SetInput(&in);
    out.SetStream(&full);
    EXPECT_EQ(RunToDone(&out).rfind(c.message, 0), 0u);
    EXPECT_FALSE(in.Busy()) << "the input is flushed";
  }

  // Reads that raise inside the library's callbacks end the read with the library's error.
  TMemoryStream good;
  {
    TMemIn in(pcm, 16, 2, 44100);
    TWVOut out(nullptr);
    out.SetInput(&in);
    out.SetStream(&good);
    ASSERT_EQ(RunToDone(&out), "");
  }
  for (int64_t limit : {(int64_t)10, good.Size() / 2}) {
    TBrokenStream broken(limit);
    broken.WriteBuffer(good.Memory(), (int32_t)good.Size());
    TWVIn win(nullptr);
    win.SetStream(&broken);
    try {
      win.Init();
      uint8_t b[4096];
      bool eof = false;
      while (!eof) win.FillBuffer(b, sizeof b, eof);
    } catch (const Exception&) {
    }
    win.Reset();
  }
}

}  // namespace
