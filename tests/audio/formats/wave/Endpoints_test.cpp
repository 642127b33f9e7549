// Stream and file endpoints, seen through the WAVE input and output: sample windows, looping,
// seeking, the open and close protocol and the file stream.
#include <gtest/gtest.h>

#include "audio/formats/wave/AuWave.h"
#include "classlib/WinApi.h"
#include "audio/formats/wave/WaveTestUtil.h"

using namespace wavetest;

namespace {

// A 1000-frame 16-bit mono file at 44100 Hz in which sample n has the value n.
struct RampFile {
  TempDir dir;
  std::wstring name = dir.File(L"ramp.wav");
  RampFile() { WriteBytes(name, PcmWav16(1, 44100, Ramp(1000))); }
};

struct WindowCase {
  int64_t start, end;
  int first, frames;
  int64_t size;  // Size after Init, in frames
};

class Window : public ::testing::TestWithParam<WindowCase> {};

TEST_P(Window, DeliversTheFramesAsked) {
  const WindowCase& c = GetParam();
  RampFile f;
  TWaveIn in(nullptr);
  in.SetWideFileName(f.name);
  in.SetStartSample(c.start);
  in.SetEndSample(c.end);
  in.Init();
  EXPECT_EQ(in.Size(), c.size * 2);
  in.Flush();
  in.SetStartSample(c.start);
  in.SetEndSample(c.end);
  std::vector<int16_t> got = As<int16_t>(ReadAll(&in, 64));
  ASSERT_EQ((int)got.size(), c.frames);
  for (int i = 0; i < c.frames; ++i) ASSERT_EQ(got[i], c.first + i) << i;
  // A window holds for one run only.
  EXPECT_EQ(in.StartSample(), 0);
  EXPECT_EQ(in.EndSample(), -1);
}

INSTANTIATE_TEST_SUITE_P(Endpoints, Window,
                         ::testing::Values(WindowCase{100, 199, 100, 100, 100},
                                           // to the end: Size is one frame more than remains
                                           WindowCase{100, -1, 100, 900, 901},
                                           // past the file: to the end
                                           WindowCase{0, 5000, 0, 1000, 1001},
                                           WindowCase{0, -1, 0, 1000, 1000},
                                           // empty windows deliver nothing
                                           WindowCase{2000, -1, 0, 0, 0}, WindowCase{500, 400, 0, 0, 0}));

TEST(Endpoints, LoopGivesTheLastBytesOfAPassBeforeRestarting) {
  RampFile f;
  TWaveIn in(nullptr);
  in.SetWideFileName(f.name);
  in.SetStartSample(10);
  in.SetEndSample(19);
  in.SetLoop(true);
  in.Init();
  std::vector<int16_t> got;
  for (int i = 0; i < 9; ++i) {
    void* p = nullptr;
    uint32_t n = 8;
    in.GetData(p, n);
    ASSERT_GT(n, 0u);
    const int16_t* s = static_cast<const int16_t*>(p);
    got.insert(got.end(), s, s + n / 2);
  }
  in.Flush();
  std::vector<int16_t> want = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
  want.insert(want.end(), {10, 11, 12, 13, 14, 15, 16, 17, 18, 19});
  want.insert(want.end(), {10, 11, 12, 13, 14, 15, 16, 17, 18, 19});
  EXPECT_EQ(got, want);
}

TEST(Endpoints, SeekAndJumpWhileRunning) {
  RampFile f;
  TWaveIn in(nullptr);
  in.SetWideFileName(f.name);
  in.Init();
  ASSERT_TRUE(in.Seek(500));
  EXPECT_EQ(in.Position(), 1000);
  void* p = nullptr;
  uint32_t n = 2;
  in.GetData(p, n);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(*static_cast<int16_t*>(p), 500);
  in.Jump(-5000);
  EXPECT_EQ(in.Position(), 0);
  n = 2;
  in.GetData(p, n);
  EXPECT_EQ(*static_cast<int16_t*>(p), 0);
  in.Jump(+1000);
  n = 2;
  in.GetData(p, n);
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(in.Seek(1001));  // beyond the frames to deliver
  in.Flush();
  // Idle: the next run starts there.
  ASSERT_TRUE(in.Seek(990));
  EXPECT_EQ(As<int16_t>(ReadAll(&in)), std::vector<int16_t>({990, 991, 992, 993, 994, 995, 996, 997, 998, 999}));
}

TEST(Endpoints, StartAndEndTimeCheckTheFilesOwnLength) {
  TempDir dir;
  std::wstring name = dir.File(L"10s.wav");
  WriteBytes(name, PcmWav16(1, 1000, std::vector<int16_t>(10000, 7)));
  TWaveIn in(nullptr);
  in.SetWideFileName(name);
  // On a fresh input, without reading TotalSamples first.
  EXPECT_TRUE(in.SetStartTime(0, 5));
  EXPECT_TRUE(in.SetEndTime(0, 7));
  EXPECT_FALSE(in.SetStartTime(0, 11));
  EXPECT_EQ(ReadAll(&in).size(), 2001u * 2);
  // After a windowed run, the whole file is still the measure.
  EXPECT_TRUE(in.SetStartTime(0, 9));
  EXPECT_EQ(in.StartSample(), 9000);
}

TEST(Endpoints, ValidKeepsAGoodFileOpenAndNeverRaises) {
  RampFile f;
  TWaveIn missing(nullptr);
  missing.SetWideFileName(f.dir.File(L"missing.wav"));
  EXPECT_FALSE(missing.Valid());

  TWaveIn in(nullptr);
  in.SetWideFileName(f.name);
  ASSERT_TRUE(in.Valid());
  auto canWrite = [&] {
    HANDLE h = CreateFileW(f.name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
  };
  EXPECT_FALSE(canWrite());  // open, writing denied to others
  EXPECT_EQ(in.Channels(), 1);
  EXPECT_EQ(in.TotalSamples(), 1000);
  in.SetWideFileName(f.name);  // a new name closes it
  EXPECT_TRUE(canWrite());
  ReadAll(&in);  // Flush closes it too
  EXPECT_TRUE(canWrite());
}

TEST(Endpoints, AStreamHandedInIsRewoundAndNotFreed) {
  std::string bytes = PcmWav16(1, 8000, Ramp(100));
  TMemoryStream ms;
  ms.WriteBuffer(bytes.data(), (int32_t)bytes.size());
  ms.SetPosition(0);
  {
    TWaveIn in(nullptr);
    in.SetStream(&ms);
    ASSERT_TRUE(in.Valid());
    EXPECT_EQ(As<int16_t>(ReadAll(&in)), Ramp(100));
    EXPECT_EQ(ms.Position(), 0);
  }
  EXPECT_EQ(ms.Size(), (int64_t)bytes.size());
}

// A stream that can only be read forward.
class TForwardStream : public TMemoryStream {
 public:
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    if (Offset == 0 && Origin == soCurrent) return -1;
    return TMemoryStream::Seek(Offset, Origin);
  }
};

TEST(Endpoints, AnInputThatCannotSeekSaysSo) {
  std::string bytes = PcmWav16(1, 8000, Ramp(100));
  TForwardStream ms;
  ms.WriteBuffer(bytes.data(), (int32_t)bytes.size());
  TWaveIn in(nullptr);
  in.SetStream(&ms);
  EXPECT_FALSE(in.Valid());
  EXPECT_FALSE(in.IsSeekable());
  EXPECT_FALSE(in.SetStartTime(0, 0));
  EXPECT_FALSE(in.Seek(0));
}

TEST(Endpoints, Errors) {
  RampFile f;
  TWaveIn in(nullptr);
  try {
    in.Init();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_EQ(e.Message(), L"The file name is not assigned");
  }
  in.SetWideFileName(f.name);
  in.Init();
  try {
    in.Init();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_EQ(e.Message(), L"The component is Busy");
  }
  in.Flush();

  try {
    TAuFileStream s(f.dir.File(L"nope.wav"), 0x20);
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_EQ(e.Message(), SysErrorMessage(ERROR_FILE_NOT_FOUND));
  }

  // A file of the wrong kind is an empty 8000 Hz mono stream, not an error.
  std::wstring junk = f.dir.File(L"junk.wav");
  WriteBytes(junk, std::string(300, 'x'));
  TWaveIn j(nullptr);
  j.SetWideFileName(junk);
  EXPECT_FALSE(j.Valid());
  j.Init();
  EXPECT_EQ(j.SampleRate(), 8000);
  EXPECT_EQ(j.Channels(), 1);
  void* p;
  uint32_t n = 100;
  j.GetData(p, n);
  EXPECT_EQ(n, 0u);
  j.Flush();
}

TEST(Endpoints, FileStreamModes) {
  TempDir dir;
  std::wstring name = dir.File(L"s.bin");
  {
    TAuFileStream s(name, 0xFFFF);
    EXPECT_EQ(s.Write("abcd", 4), 4);
  }
  {
    TAuFileStream r(name, 0x40);  // read, share both
    TAuFileStream r2(name, 0x40);
    char b[4];
    EXPECT_EQ(r2.Read(b, 4), 4);
    EXPECT_THROW(TAuFileStream(name, 0xFFFF), EAuException);  // shared for reading only
  }
  {
    TAuFileStream rw(name, 0x02);
    rw.Seek(0, soEnd);
    rw.Write("ef", 2);
  }
  EXPECT_EQ(ReadBytes(name), "abcdef");
}

class TNullOut : public TAuTaggedFileOut {
 public:
  TNullOut() : TAuTaggedFileOut(nullptr) {}

 protected:
  void Prepare() override {}
  bool DoOutput(bool) override { return false; }
  void Done() override {}
};

TEST(Endpoints, OutputFileModeAndTagSets) {
  TNullOut out;
  out.SetFileMode(foAppend);
  EXPECT_EQ(out.FileMode(), foRewrite);  // the base cannot append
  TWaveOut w(nullptr);
  w.SetFileMode(foAppend);
  EXPECT_EQ(w.FileMode(), foAppend);
  TId3v1Tags t;
  t.SetTitle("x");
  TId3v1Tags* owned = out.Id3v1Tags();
  out.SetId3v1Tags(&t);
  EXPECT_EQ(out.Id3v1Tags(), owned);
  EXPECT_EQ(owned->Title(), "x");
}

}  // namespace
