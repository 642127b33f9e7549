// The WAVE writer: header bytes, IMA ADPCM, appending, failures, and our files read by the peers.
#include <gtest/gtest.h>

#include <cmath>

#include "audio/formats/wave/AuWave.h"
#include "classlib/WinApi.h"
#include "audio/formats/wave/WaveTestUtil.h"

using namespace wavetest;

namespace {

std::string Sine16(int frames, int ch, double freq = 1000, double rate = 44100, double amp = 12000) {
  std::vector<int16_t> v((size_t)frames * ch);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < ch; ++c) v[(size_t)i * ch + c] = (int16_t)lrint(amp * std::sin(2 * M_PI * freq * (i + 7 * c) / rate));
  return std::string(reinterpret_cast<const char*>(v.data()), v.size() * 2);
}

std::string Bytes(int n, uint8_t seed) {
  std::string s(n, '\0');
  for (int i = 0; i < n; ++i) s[i] = (char)(seed + i * 7);
  return s;
}

// Runs the output to the end in this thread; the exception message, or "" when it succeeded.
std::wstring Write(TWaveOut& out, TAuInput* in, const std::wstring& name) {
  out.SetInput(in);
  if (!name.empty()) out.SetWideFileName(name);
  try {
    out.BlockingRun();
  } catch (const Exception& e) {
    return e.Message();
  }
  return L"";
}

double Snr(const std::vector<int16_t>& ref, const std::vector<int16_t>& got) {
  double s = 0, e = 0;
  for (size_t i = 0; i < ref.size() && i < got.size(); ++i) {
    s += (double)ref[i] * ref[i];
    e += ((double)ref[i] - got[i]) * ((double)ref[i] - got[i]);
  }
  if (s == 0 && e == 0) return 100;
  return 10 * std::log10(s / std::max(e, 1.0));
}

TEST(WaveOut, PcmHeaderBytes) {
  TempDir dir;
  std::wstring name = dir.File(L"o.wav");
  std::string data = Bytes(4000, 3);
  TTestSource src(16, 2, 44100, data);
  TWaveOut out(nullptr);
  ASSERT_EQ(Write(out, &src, name), L"");
  std::string f = ReadBytes(name);
  ASSERT_EQ(f.size(), 4044u);
  std::string want = "RIFF" + LE32(4036) + "WAVEfmt " + LE32(16) + LE16(1) + LE16(2) + LE32(44100) + LE32(176400) +
                     LE16(4) + LE16(16) + "data" + LE32(4000);
  EXPECT_TRUE(f.substr(0, 44) == want);
  EXPECT_TRUE(f.substr(44) == data);
  EXPECT_EQ(src.Flushes, 1);
}

TEST(WaveOut, UnknownSizeIsCorrectedFromTheFileLength) {
  TempDir dir;
  std::wstring name = dir.File(L"o.wav");
  TTestSource src(16, 2, 44100, Bytes(4936, 1), true);
  TWaveOut out(nullptr);
  ASSERT_EQ(Write(out, &src, name), L"");
  std::string f = ReadBytes(name);
  EXPECT_EQ(f.size(), 4980u);
  EXPECT_EQ(Get32(f, 40), 4936u);
  EXPECT_EQ(Get32(f, 4), 4972u);
}

// An input that takes its time, so that a run can be stopped halfway.
class TSlowSource : public TTestSource {
 public:
  using TTestSource::TTestSource;

 protected:
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override {
    Sleep(2);
    TTestSource::GetDataInternal(Buffer, Bytes);
  }
};

TEST(WaveOut, AStoppedRunLeavesAValidFile) {
  TempDir dir;
  std::wstring name = dir.File(L"o.wav");
  TSlowSource src(16, 2, 44100, Bytes(400000, 5));
  src.MaxChunk = 1000;
  TWaveOut out(nullptr);
  out.SetInput(&src);
  out.SetWideFileName(name);
  out.Run();
  while (src.Position() < 20000) Sleep(5);
  out.Stop(false);
  std::string f = ReadBytes(name);
  // Every byte pulled before the stop is in the file; a stop that lands right after the 20th
  // pull (no further one yet) leaves exactly those 20000.
  ASSERT_GE(f.size(), 20044u);
  ASSERT_LT(f.size(), 400044u);
  EXPECT_EQ(Get32(f, 40), f.size() - 44);
  EXPECT_EQ(Get32(f, 4), f.size() - 8);
}

TEST(WaveOut, ExtensibleHeaderWhenAsked) {
  TempDir dir;
  const std::string guid = {1, 0, 0, 0, 0, 0, 0x10, 0, (char)0x80, 0, 0, (char)0xAA, 0, 0x38, (char)0x9B, 0x71};
  struct {
    int bits, ch;
    bool nonMs;
    size_t header;
    uint32_t mask;
  } cases[] = {{16, 6, false, 68, 0x3F}, {24, 2, false, 68, 0x3}, {16, 6, true, 44, 0}, {16, 2, false, 44, 0}};
  for (auto& c : cases) {
    std::wstring name = dir.File(L"x.wav");
    int frame = c.bits / 8 * c.ch;
    TTestSource src(c.bits, c.ch, 48000, Bytes(frame * 100, 9));
    TWaveOut out(nullptr);
    out.SetCreateNonMsHeaders(c.nonMs);
    ASSERT_EQ(Write(out, &src, name), L"");
    std::string f = ReadBytes(name);
    ASSERT_EQ(f.size(), c.header + frame * 100) << c.bits << " " << c.ch;
    if (c.header == 68) {
      EXPECT_EQ(Get16(f, 20), 0xFFFE);
      EXPECT_EQ(Get32(f, 16), 40u);
      EXPECT_EQ(Get16(f, 36), 22);
      EXPECT_EQ(Get16(f, 38), c.bits);
      EXPECT_EQ(Get32(f, 40), c.mask);
      EXPECT_TRUE(f.substr(44, 16) == guid);
      EXPECT_EQ(f.substr(60, 4), "data");
      EXPECT_EQ(Get32(f, 64), (uint32_t)frame * 100);
      EXPECT_EQ(Get32(f, 4), f.size() - 8);
    } else {
      EXPECT_EQ(Get16(f, 20), 1);
    }
    TWaveIn in(nullptr);
    in.SetWideFileName(name);
    EXPECT_EQ(in.Channels(), c.ch);
    EXPECT_TRUE(ReadAll(&in) == f.substr(c.header));
  }
}

struct ImaCase {
  int ch;
  uint16_t block;
  uint32_t spb;
  int frames;
};

class ImaWrite : public ::testing::TestWithParam<ImaCase> {};

TEST_P(ImaWrite, HeaderMatchesTheBlocksAndThePeersAgree) {
  const ImaCase& c = GetParam();
  TempDir dir;
  std::wstring name = dir.File(L"ima.wav");
  std::string pcm = Sine16(c.frames, c.ch);
  TTestSource src(16, c.ch, 44100, pcm);
  TWaveOut out(nullptr);
  out.SetWavType(wtDVIADPCM);
  out.SetBlockSize(c.block);
  ASSERT_EQ(Write(out, &src, name), L"");
  std::string f = ReadBytes(name);
  uint32_t blocks = (c.frames + c.spb - 1) / c.spb;
  ASSERT_EQ(f.size(), 60 + blocks * c.block);
  EXPECT_EQ(Get32(f, 4), f.size() - 8);
  EXPECT_EQ(Get32(f, 16), 20u);
  EXPECT_EQ(Get16(f, 20), 0x11);
  EXPECT_EQ(Get32(f, 28), 44100 / c.spb * c.block);
  EXPECT_EQ(Get16(f, 32), c.block);
  EXPECT_EQ(Get16(f, 34), 4);
  EXPECT_EQ(Get16(f, 38), c.spb);
  EXPECT_EQ(f.substr(40, 4), "fact");
  EXPECT_EQ(Get32(f, 48), (uint32_t)c.frames);
  EXPECT_EQ(Get32(f, 56), blocks * c.block);

  TWaveIn in(nullptr);
  in.SetWideFileName(name);
  std::string back = ReadAll(&in);
  ASSERT_EQ(back.size(), pcm.size());
  EXPECT_GT(Snr(As<int16_t>(pcm), As<int16_t>(back)), 25.0);
  // The peers decode whole blocks, rounding the steps their own way (see the reader's tests).
  for (std::string cmd : {"ffmpeg -v error -i " + Q(name) + " -f s16le -", "sox " + Q(name) + " -t raw -e signed -b 16 -"}) {
    std::string peer = Peer(cmd);
    ASSERT_GE(peer.size(), back.size()) << cmd;
    std::vector<int16_t> p = As<int16_t>(peer.substr(0, back.size())), b = As<int16_t>(back);
    EXPECT_GT(Snr(p, b), 40.0) << cmd;
    for (size_t i = 0; i < p.size(); ++i) ASSERT_LE(std::abs(p[i] - b[i]), 64) << cmd << " " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(WaveOut, ImaWrite,
                         ::testing::Values(ImaCase{1, 512, 1017, 5000}, ImaCase{1, 512, 1017, 3 * 1017},
                                           ImaCase{2, 512, 505, 4000}, ImaCase{2, 1024, 1017, 2 * 1017},
                                           ImaCase{1, 256, 505, 1}));

TEST(WaveOut, PropertyGuards) {
  TWaveOut out(nullptr);
  out.SetBlockSize(510);
  out.SetBlockSize(0);
  EXPECT_EQ(out.BlockSize(), 512);
  out.SetBlockSize(1024);
  EXPECT_EQ(out.BlockSize(), 1024);
  out.SetWavType(wtMSADPCM);
  EXPECT_EQ(out.WavType(), wtPCM);
  out.SetWavType(wtDVIADPCM);
  EXPECT_EQ(out.WavType(), wtDVIADPCM);
}

// A stream that takes only its first Limit bytes.
class TShortStream : public TMemoryStream {
 public:
  int32_t Write(const void* Buffer, int32_t Count) override {
    int64_t room = 20 - Position();
    if (room <= 0) return 0;
    return TMemoryStream::Write(Buffer, (int32_t)std::min<int64_t>(Count, room));
  }
};

TEST(WaveOut, Errors) {
  TempDir dir;
  std::wstring stereo = dir.File(L"stereo.wav");
  WriteBytes(stereo, PcmWav16(2, 44100, std::vector<int16_t>(200, 5)));
  const std::string stereoBytes = ReadBytes(stereo);
  std::wstring flt = dir.File(L"float.wav");
  WriteBytes(flt, Riff(Chunk("fmt ", FmtBody(3, 1, 44100, 4, 32)) + Chunk("data", std::string(40, 0))));
  std::wstring tail = dir.File(L"tail.wav");
  WriteBytes(tail, PcmWav16(1, 44100, std::vector<int16_t>(100, 5)) + Chunk("LIST", "INFOabcd"));
  std::wstring odd = dir.File(L"odd.wav");
  WriteBytes(odd, Riff(Chunk("fmt ", FmtBody(1, 1, 44100, 1, 8)) + Chunk("data", std::string(11, 'a'))));

  struct {
    const char* what;
    std::wstring file;
    TFileOutputMode mode;
    int bits, ch;
    TWavType type;
    const wchar_t* message;
  } cases[] = {
      {"no name", L"", foRewrite, 16, 2, wtPCM, L"File name is not assigned."},
      {"append to float", flt, foAppend, 16, 1, wtPCM, L"Cannot append data to this .wav file."},
      {"append after a trailing chunk", tail, foAppend, 16, 1, wtPCM, L"Cannot append data to this .wav file."},
      {"append after a pad byte", odd, foAppend, 8, 1, wtPCM, L"Cannot append data to this .wav file."},
      {"mono onto stereo", stereo, foAppend, 16, 1, wtPCM, L"Cannot append data in different audio format."},
      {"8 bits to IMA", dir.File(L"ima8.wav"), foRewrite, 8, 1, wtDVIADPCM, L"Cannot encode 8 bit sound into ADPCM."},
      {"6 channels to IMA", dir.File(L"ima6.wav"), foRewrite, 16, 6, wtDVIADPCM,
       L"Cannot encode more than 2 channels into ADPCM."},
  };
  for (auto& c : cases) {
    std::string before = c.file.empty() ? "" : ReadBytes(c.file);
    TTestSource src(c.bits, c.ch, 44100, Bytes(c.bits / 8 * c.ch * 10, 1));
    TWaveOut out(nullptr);
    out.SetFileMode(c.mode);
    out.SetWavType(c.type);
    EXPECT_EQ(Write(out, &src, c.file), c.message) << c.what;
    EXPECT_EQ(src.Inits, src.Flushes) << c.what;
    if (!c.file.empty()) {
      if (before.empty()) {
        EXPECT_FALSE(FileExists(c.file)) << c.what;  // no junk file left
      } else {
        EXPECT_TRUE(ReadBytes(c.file) == before) << c.what;
      }
    }
  }
  EXPECT_TRUE(ReadBytes(stereo) == stereoBytes);

  TShortStream s;
  TTestSource src(16, 2, 44100, Bytes(400, 1));
  TWaveOut out(nullptr);
  out.SetStream(&s);
  EXPECT_EQ(Write(out, &src, L""), L"Error writing wave file");
}

TEST(WaveOut, AFailedPrepareLeavesNoFileBehind) {
  TempDir dir;
  std::wstring name = dir.File(L"out.wav");
  // A run with a good input first, so that the output has seen a Size.
  TTestSource good(16, 2, 44100, Bytes(40000, 2));
  TWaveOut out(nullptr);
  ASSERT_EQ(Write(out, &good, dir.File(L"first.wav")), L"");
  TWaveIn missing(nullptr);
  missing.SetWideFileName(dir.File(L"missing.wav"));
  EXPECT_NE(Write(out, &missing, name), L"");
  EXPECT_FALSE(FileExists(name));
  // The worker path reports the failure and finishes the same way.
  std::wstring name2 = dir.File(L"out2.wav");
  out.SetWideFileName(name2);
  out.Run();
  while (out.Busy()) Sleep(5);
  EXPECT_NE(out.ExceptionMessage(), "");
  EXPECT_FALSE(FileExists(name2));
}

TEST(WaveOut, Appends) {
  TempDir dir;
  std::wstring name = dir.File(L"a.wav");
  std::string first = Bytes(2000, 1), second = Bytes(2000, 50);
  for (int i = 0; i < 2; ++i) {
    TTestSource src(16, 2, 44100, i ? second : first);
    TWaveOut out(nullptr);
    out.SetFileMode(foAppend);
    ASSERT_EQ(Write(out, &src, name), L"");
  }
  std::string f = ReadBytes(name);
  ASSERT_EQ(f.size(), 4044u);
  EXPECT_EQ(Get32(f, 40), 4000u);
  EXPECT_EQ(Get32(f, 4), 4036u);
  EXPECT_TRUE(f.substr(44) == first + second);

  // IMA ADPCM: the blocks of both runs, with the frames they hold.
  std::wstring ima = dir.File(L"ima.wav");
  std::string pcm = Sine16(3000, 1);
  for (int i = 0; i < 2; ++i) {
    TTestSource src(16, 1, 44100, i ? pcm.substr(4000) : pcm.substr(0, 4000));
    TWaveOut out(nullptr);
    out.SetFileMode(foAppend);
    out.SetWavType(wtDVIADPCM);
    out.SetBlockSize(256);
    ASSERT_EQ(Write(out, &src, ima), L"");
  }
  std::string g = ReadBytes(ima);
  // 2000 frames in 4 blocks of 505, then 1000 frames in 2 more.
  ASSERT_EQ(g.size(), 60u + 6 * 256);
  EXPECT_EQ(Get32(g, 56), 6u * 256);
  EXPECT_EQ(Get32(g, 48), 4u * 505 + 1000);
  TWaveIn in(nullptr);
  in.SetWideFileName(ima);
  std::vector<int16_t> back = As<int16_t>(ReadAll(&in));
  ASSERT_EQ(back.size(), 4u * 505 + 1000);
  std::vector<int16_t> ref = As<int16_t>(pcm);
  std::vector<int16_t> a(back.begin(), back.begin() + 2000), b(back.begin() + 2020, back.end());
  EXPECT_GT(Snr(std::vector<int16_t>(ref.begin(), ref.begin() + 2000), a), 25.0);
  EXPECT_GT(Snr(std::vector<int16_t>(ref.begin() + 2000, ref.end()), b), 20.0);
}

struct PeerReadCase {
  const char* name;
  int bits, ch;
  bool nonMs;
  const char* ffFormat;
  const char* soxType;
};

class PeersRead : public ::testing::TestWithParam<PeerReadCase> {};

TEST_P(PeersRead, OurFilesSampleForSample) {
  const PeerReadCase& c = GetParam();
  TempDir dir;
  std::wstring name = dir.File(L"ours.wav");
  int frame = c.bits / 8 * c.ch;
  std::string data = Bytes(frame * 3001, 77);
  TTestSource src(c.bits, c.ch, 32000, data);
  TWaveOut out(nullptr);
  out.SetCreateNonMsHeaders(c.nonMs);
  ASSERT_EQ(Write(out, &src, name), L"");
  EXPECT_TRUE(Peer("ffmpeg -v error -i " + Q(name) + " -f " + c.ffFormat + " -") == data);
  EXPECT_TRUE(Peer("sox " + Q(name) + " -t raw " + c.soxType + " -") == data);
  std::string probe = Peer("ffprobe -v error -show_entries stream=sample_rate,channels -of csv=p=0 " + Q(name));
  EXPECT_EQ(probe, "32000," + std::to_string(c.ch) + "\n");
}

INSTANTIATE_TEST_SUITE_P(WaveOut, PeersRead,
                         ::testing::Values(PeerReadCase{"Pcm16Stereo", 16, 2, true, "s16le", "-e signed -b 16"},
                                           PeerReadCase{"Pcm8Mono", 8, 1, true, "u8", "-e unsigned -b 8"},
                                           PeerReadCase{"Extensible24", 24, 2, false, "s24le", "-e signed -b 24"},
                                           PeerReadCase{"Extensible6Ch", 16, 6, false, "s16le", "-e signed -b 16"}),
                         [](const ::testing::TestParamInfo<PeerReadCase>& i) { return std::string(i.param.name); });

}  // namespace

TEST(WaveOut, CopiesFilesOfManyBlocksByteForByte) {
  // Frames of 9 and 6 bytes do not divide the transfer block: every block edge splits the
  // stream somewhere else, and the copy must still be exact.
  for (int ch : {3, 2}) {
    SCOPED_TRACE(testing::Message() << ch << " channels of 24 bits");
    TempDir dir;
    std::wstring src = dir.File(L"src.wav"), dst = dir.File(L"dst.wav");
    const uint32_t frames = 100003, align = 3u * ch;
    std::string data = Bytes((int)(frames * align), 11);
    WriteBytes(src, Riff(Chunk("fmt ", FmtBody(1, (uint16_t)ch, 48000, (uint16_t)align, 24)) + Chunk("data", data)));
    TWaveIn in(nullptr);
    in.SetWideFileName(src);
    TWaveOut out(nullptr);
    ASSERT_EQ(Write(out, &in, dst), L"");
    std::string f = ReadBytes(dst);
    ASSERT_EQ(f.size(), 44 + data.size());
    EXPECT_TRUE(f.substr(44) == data);
  }
}
