// The WAVE reader: what headers it accepts, how it decodes, and files made by sox and ffmpeg
// read against the peers' own decoding.
#include <gtest/gtest.h>

#include <cmath>

#include "audio/formats/wave/AuWave.h"
#include "audio/formats/wave/WaveTestUtil.h"

using namespace wavetest;

namespace {

std::string ImaFmt(uint16_t ch, uint16_t align, uint16_t bits, uint16_t spb) {
  return FmtBody(0x11, ch, 44100, align, bits) + LE16(2) + LE16(spb);
}

std::string MsFmt(uint16_t ch, uint16_t align, uint16_t spb, uint16_t ncoef, int coefsGiven) {
  static const int16_t std7[14] = {256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232};
  std::string b = FmtBody(2, ch, 44100, align, 4) + LE16(4 + 4 * coefsGiven) + LE16(spb) + LE16(ncoef);
  for (int i = 0; i < 2 * coefsGiven; ++i) b += LE16((uint16_t)std7[i % 14]);
  return b;
}

std::string Guid(uint8_t first) {
  std::string g = {(char)first, 0, 0, 0, 0, 0, 0x10, 0, (char)0x80, 0, 0, (char)0xAA, 0, 0x38, (char)0x9B, 0x71};
  return g;
}

std::string ExtFmt(uint16_t ch, uint16_t bits, const std::string& guid) {
  return FmtBody(0xFFFE, ch, 48000, (uint16_t)(ch * bits / 8), bits) + LE16(22) + LE16(bits) + LE32(3) + guid;
}

const std::string kPcmFmt = FmtBody(1, 2, 44100, 4, 16);
const std::string kData = Chunk("data", std::string(400, '\x11'));

struct HeaderCase {
  const char* name;
  std::string file;
  bool valid;
  TWavType type;
  int bps, ch;
  int64_t size;
  int64_t delivered;  // bytes a run delivers; -1: Size
};

std::vector<HeaderCase> HeaderCases() {
  std::string ms1Block = std::string(1, '\x09') + LE16(16) + LE16(0) + LE16(0) + std::string(249, '\x77');
  std::string msGood = std::string(1, '\x01') + LE16(16) + LE16(0) + LE16(0) + std::string(249, '\x77');
  return {
      {"Plain", Riff(Chunk("fmt ", kPcmFmt) + kData), true, wtPCM, 16, 2, 400, -1},
      {"LowerCaseIds",
       "riff" + LE32(4 + 24 + 408) + "wave" + Chunk("FMT ", kPcmFmt) + Chunk("DATA", std::string(400, '\x11')), true,
       wtPCM, 16, 2, 400, -1},
      {"ListBetween", Riff(Chunk("fmt ", kPcmFmt) + Chunk("LIST", "INFOxxxx") + kData), true, wtPCM, 16, 2, 400, -1},
      {"OddChunkAndPadBeforeData", Riff(Chunk("fmt ", kPcmFmt) + Chunk("junk", "12345") + kData), true, wtPCM, 16,
       2, 400, -1},
      {"OddChunkAndPadBeforeFmt", Riff(Chunk("junk", "123") + Chunk("fmt ", kPcmFmt) + kData), true, wtPCM, 16, 2,
       400, -1},
      {"TrailingChunkIsNotAudio", Riff(Chunk("fmt ", kPcmFmt) + kData + Chunk("LIST", std::string(64, 'L'))), true,
       wtPCM, 16, 2, 400, -1},
      {"DataLongerThanFile", Riff(Chunk("fmt ", kPcmFmt) + "data" + LE32(100000) + std::string(400, '\x11')), true,
       wtPCM, 16, 2, 400, -1},
      {"NoData", Riff(Chunk("fmt ", kPcmFmt) + Chunk("LIST", "INFO")), false, wtUnsupported, 0, 0, 0, 0},
      {"MpegLayer2Tag", Riff(Chunk("fmt ", FmtBody(0x50, 2, 44100, 4, 0) + LE16(0)) + kData), false, wtUnsupported,
       0, 0, 0, 0},
      {"ExtensiblePcm", Riff(Chunk("fmt ", ExtFmt(2, 24, Guid(1))) + Chunk("data", std::string(600, 'a'))), true,
       wtExtPCM, 24, 2, 600, -1},
      {"ExtensibleFloat", Riff(Chunk("fmt ", ExtFmt(2, 32, Guid(3))) + Chunk("data", std::string(800, 0))), true,
       wtExtIEEEFloat, 32, 2, 800, -1},
      {"ExtensibleOther", Riff(Chunk("fmt ", ExtFmt(2, 16, Guid(2))) + kData), false, wtUnsupported, 0, 0, 0, 0},
      {"Float64HalfSize", Riff(Chunk("fmt ", FmtBody(3, 1, 8000, 8, 64)) + Chunk("data", std::string(800, 0))), true,
       wtIEEEFloat, 32, 1, 400, -1},
      {"ImaMono256", Riff(Chunk("fmt ", ImaFmt(1, 256, 4, 505)) + Chunk("fact", LE32(505)) +
                          Chunk("data", LE16(0) + std::string(2, 0) + std::string(252, '\x12'))),
       true, wtDVIADPCM, 16, 1, 1010, -1},
      {"Ima3Bits", Riff(Chunk("fmt ", ImaFmt(1, 256, 3, 505)) + Chunk("fact", LE32(505)) + kData), false,
       wtUnsupported, 0, 0, 0, 0},
      {"ImaNoFact", Riff(Chunk("fmt ", ImaFmt(1, 256, 4, 505)) + kData), false, wtUnsupported, 0, 0, 0, 0},
      {"Ima3Channels", Riff(Chunk("fmt ", ImaFmt(3, 256, 4, 505)) + Chunk("fact", LE32(505)) + kData), false,
       wtUnsupported, 0, 0, 0, 0},
      {"ImaAlignZero", Riff(Chunk("fmt ", ImaFmt(1, 0, 4, 505)) + Chunk("fact", LE32(505)) + kData), false,
       wtUnsupported, 0, 0, 0, 0},
      {"ImaAlignBelowHeader", Riff(Chunk("fmt ", ImaFmt(2, 8, 4, 1)) + Chunk("fact", LE32(5)) + kData), false,
       wtUnsupported, 0, 0, 0, 0},
      {"ImaStereoHalfGroup", Riff(Chunk("fmt ", ImaFmt(2, 12, 4, 5)) + Chunk("fact", LE32(5)) + kData), false,
       wtUnsupported, 0, 0, 0, 0},
      {"MsCoefCountBeyondBody", Riff(Chunk("fmt ", MsFmt(1, 256, 500, 0xFFFF, 7)) + Chunk("fact", LE32(500)) + kData),
       false, wtUnsupported, 0, 0, 0, 0},
      {"MsAlignZero", Riff(Chunk("fmt ", MsFmt(1, 0, 500, 7, 7)) + Chunk("fact", LE32(500)) + kData), false,
       wtUnsupported, 0, 0, 0, 0},
      {"MsMoreSamplesThanTheBlockHolds",
       Riff(Chunk("fmt ", MsFmt(1, 256, 1000, 7, 7)) + Chunk("fact", LE32(500)) + kData), false, wtUnsupported, 0, 0,
       0, 0},
      {"MsStereo3Channels", Riff(Chunk("fmt ", MsFmt(3, 256, 50, 7, 7)) + Chunk("fact", LE32(50)) + kData), false,
       wtUnsupported, 0, 0, 0, 0},
      {"MsBadPredictorInBlock",
       Riff(Chunk("fmt ", MsFmt(1, 256, 500, 7, 7)) + Chunk("fact", LE32(500)) + Chunk("data", ms1Block)), true,
       wtMSADPCM, 16, 1, 1000, 0},
      {"MsMonoBlock", Riff(Chunk("fmt ", MsFmt(1, 256, 500, 7, 7)) + Chunk("fact", LE32(500)) + Chunk("data", msGood)),
       true, wtMSADPCM, 16, 1, 1000, -1},
      {"ZeroChannels", Riff(Chunk("fmt ", FmtBody(1, 0, 44100, 4, 16)) + kData), false, wtUnsupported, 0, 0, 0, 0},
      {"ZeroRate", Riff(Chunk("fmt ", FmtBody(1, 2, 0, 4, 16)) + kData), false, wtUnsupported, 0, 0, 0, 0},
      // A depth between whole bytes is read at the depth of the bytes that hold it; a block
      // align that does not hold whole bytes per sample is refused.
      {"TwelveBitsInTwoBytes", Riff(Chunk("fmt ", FmtBody(1, 1, 44100, 2, 12)) + kData), true, wtPCM, 16, 1, 400, -1},
      {"TwelveBitsPacked", Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 3, 12)) + kData), false, wtUnsupported, 0, 0, 0,
       0},
      {"FourBitPcm", Riff(Chunk("fmt ", FmtBody(1, 1, 44100, 1, 4)) + kData), false, wtUnsupported, 0, 0, 0, 0},
      {"OversizedFmt", Riff(Chunk("fmt ", kPcmFmt + std::string(3000, 0)) + kData), false, wtUnsupported, 0, 0, 0, 0},
      {"HugeJunkBeforeFmt", Riff(Chunk("JUNK", std::string(70000, 0)) + Chunk("fmt ", kPcmFmt) + kData), false,
       wtUnsupported, 0, 0, 0, 0},
      {"ChunkSizeBeyondEverything", Riff(Chunk("fmt ", kPcmFmt) + "LIST" + LE32(0xFFFFFFF0) + kData), false,
       wtUnsupported, 0, 0, 0, 0},
      {"Truncated", Riff(Chunk("fmt ", kPcmFmt) + kData).substr(0, 30), false, wtUnsupported, 0, 0, 0, 0},
      // A last frame cut off is not delivered: a consumer gets whole frames only.
      {"DataEndsInsideAFrame", Riff(Chunk("fmt ", kPcmFmt) + Chunk("data", std::string(402, '\x11'))), true, wtPCM,
       16, 2, 400, -1},
      {"FileEndsInsideAFrame", Riff(Chunk("fmt ", kPcmFmt) + "data" + LE32(1000) + std::string(403, '\x11')), true,
       wtPCM, 16, 2, 400, -1},
      {"FloatEndsInsideAFrame", Riff(Chunk("fmt ", FmtBody(3, 2, 8000, 8, 32)) + Chunk("data", std::string(806, 0))),
       true, wtIEEEFloat, 32, 2, 800, -1},
      // A "fact" count beyond what the blocks hold promises no more than they decode to.
      {"ImaFactBeyondTheData", Riff(Chunk("fmt ", ImaFmt(1, 256, 4, 505)) + Chunk("fact", LE32(0xFFFFFFFF)) +
                                    Chunk("data", LE16(0) + std::string(2, 0) + std::string(252, '\x12'))),
       true, wtDVIADPCM, 16, 1, 1010, -1},
      {"ImaEmptyData", Riff(Chunk("fmt ", ImaFmt(2, 256, 4, 249)) + Chunk("fact", LE32(249)) + Chunk("data", "")),
       true, wtDVIADPCM, 16, 2, 0, -1},
      {"MsFactBeyondTheData",
       Riff(Chunk("fmt ", MsFmt(1, 256, 500, 7, 7)) + Chunk("fact", LE32(0x7FFFFFFF)) + Chunk("data", msGood)), true,
       wtMSADPCM, 16, 1, 1000, -1},
  };
}

class Header : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(Header, IsReadOrRefused) {
  const HeaderCase& c = GetParam();
  TempDir dir;
  std::wstring name = dir.File(L"h.wav");
  WriteBytes(name, c.file);
  TWaveIn in(nullptr);
  in.SetWideFileName(name);
  ASSERT_EQ(in.Valid(), c.valid);
  EXPECT_EQ(in.WavType(), c.type);
  if (c.valid) {
    EXPECT_EQ(in.BitsPerSample(), c.bps);
    EXPECT_EQ(in.Channels(), c.ch);
    in.Init();
    EXPECT_EQ(in.Size(), c.size);
    in.Flush();
  }
  std::string got = ReadAll(&in, 4096);
  EXPECT_EQ((int64_t)got.size(), c.delivered < 0 ? c.size : c.delivered);
  if (c.valid && c.type == wtPCM) {
    EXPECT_EQ(got, std::string(400, '\x11'));
  }
}

INSTANTIATE_TEST_SUITE_P(WaveIn, Header, ::testing::ValuesIn(HeaderCases()),
                         [](const ::testing::TestParamInfo<HeaderCase>& i) { return std::string(i.param.name); });

TEST(WaveIn, FloatSamplesBecome32BitIntegers) {
  double v[4] = {1.0, -1.0, 0.5, std::nan("")};
  std::string data(reinterpret_cast<const char*>(v), sizeof v);
  float f[4] = {1.0f, -1.0f, 0.5f, 2.0f};
  std::string data32(reinterpret_cast<const char*>(f), sizeof f);
  TempDir dir;
  for (int bits : {64, 32}) {
    std::wstring name = dir.File(L"f.wav");
    WriteBytes(name, Riff(Chunk("fmt ", FmtBody(3, 1, 8000, (uint16_t)(bits / 8), (uint16_t)bits)) +
                          Chunk("data", bits == 64 ? data : data32)));
    TWaveIn in(nullptr);
    in.SetWideFileName(name);
    EXPECT_EQ(in.BitsPerSample(), 32);
    std::vector<int32_t> got = As<int32_t>(ReadAll(&in));
    std::vector<int32_t> want = {0x7FFFFFFF, (int32_t)0x80000000, 1073741823,
                                 bits == 64 ? (int32_t)0x80000000 : 0x7FFFFFFF};
    EXPECT_EQ(got, want) << bits;
  }
}

// Nibbles of the largest steps make the Microsoft ADPCM delta grow by up to three times a sample:
// it stays bounded, so the samples keep swinging between the limits instead of overflowing.
TEST(WaveIn, MsAdpcmDeltaStaysBounded) {
  const std::string block = std::string(1, '\0') + LE16(0x7FFF) + LE16(0) + LE16(0) + std::string(249, '\x78');
  TempDir dir;
  std::wstring name = dir.File(L"ms.wav");
  WriteBytes(name, Riff(Chunk("fmt ", MsFmt(1, 256, 500, 7, 7)) + Chunk("fact", LE32(500)) + Chunk("data", block)));
  TWaveIn in(nullptr);
  in.SetWideFileName(name);
  std::vector<int16_t> got = As<int16_t>(ReadAll(&in));
  ASSERT_EQ(got.size(), 500u);
  for (size_t i = 2; i < got.size(); ++i) ASSERT_EQ(got[i], i % 2 ? -32768 : 32767) << i;
}

TEST(WaveIn, PullBeforeInitRaises) {
  TempDir dir;
  std::wstring name = dir.File(L"p.wav");
  WriteBytes(name, PcmWav16(1, 8000, Ramp(10)));
  TWaveIn in(nullptr);
  in.SetWideFileName(name);
  void* p;
  uint32_t n = 10;
  try {
    in.GetData(p, n);
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_EQ(e.Message(), L"The Stream is not opened");
  }
}

// ---------------------------------------------------------------------------------------------
// Files made by the peers

enum Cmp { Exact, Float, Adpcm, Mp3 };

struct PeerCase {
  const char* name;
  const char* make;    // shell command; OUT is the file
  const char* decode;  // ffmpeg raw format of the comparison
  Cmp cmp;
  int bps, ch;
};

class PeerFile : public ::testing::TestWithParam<PeerCase> {};

std::string Replace(std::string s, const std::string& what, const std::string& with) {
  size_t p;
  while ((p = s.find(what)) != std::string::npos) s.replace(p, what.size(), with);
  return s;
}

// Frames of our decoding against the peer's: sample for sample, or within the codec's
// tolerance; MP3 decoders may differ in their start, so the best alignment is searched.
void Compare(const std::string& ours, const std::string& theirs, const PeerCase& c) {
  switch (c.cmp) {
    case Exact:
      ASSERT_EQ(ours.size(), theirs.size());
      EXPECT_TRUE(ours == theirs);
      break;
    case Float: {
      std::vector<int32_t> a = As<int32_t>(ours);
      std::vector<double> b = As<double>(theirs);
      ASSERT_EQ(a.size(), b.size());
      for (size_t i = 0; i < a.size(); ++i) {
        double want = b[i] >= 1.0 ? 2147483647.0 : std::floor(b[i] * 2147483647.0);
        ASSERT_NEAR((double)a[i], want, 1.0) << i;
      }
      break;
    }
    case Adpcm: {
      std::vector<int16_t> a = As<int16_t>(ours), b = As<int16_t>(theirs);
      // The peers decode whole blocks; the "fact" count may end ours earlier.
      ASSERT_LE(a.size(), b.size());
      ASSERT_GE(a.size() + 4096, b.size());
      // IMA ADPCM decoders sum the step parts or multiply them out, which rounds differently;
      // each block's header brings them back together.
      int maxDiff = 0;
      double sig = 0, err = 0;
      for (size_t i = 0; i < a.size(); ++i) {
        maxDiff = std::max(maxDiff, std::abs(a[i] - b[i]));
        sig += (double)b[i] * b[i];
        err += ((double)a[i] - b[i]) * ((double)a[i] - b[i]);
      }
      EXPECT_LE(maxDiff, std::string(c.name).find("Ms") != std::string::npos ? 0 : 64);
      EXPECT_GT(10 * std::log10(sig / std::max(err, 1.0)), 40.0);
      break;
    }
    case Mp3: {
      std::vector<int16_t> a = As<int16_t>(ours), b = As<int16_t>(theirs);
      ASSERT_GT(a.size(), 10000u);
      EXPECT_NEAR((double)a.size(), (double)b.size(), 2 * 1152.0 * c.ch);
      double best = -1e9;
      for (int shift = -3000; shift <= 3000; shift += c.ch) {
        double sig = 0, err = 0;
        for (size_t i = 4000; i + 4000 < a.size(); ++i) {
          long j = (long)i + shift;
          if (j < 0 || j >= (long)b.size()) continue;
          sig += (double)b[j] * b[j];
          double d = (double)a[i] - b[j];
          err += d * d;
        }
        if (sig > 0) best = std::max(best, 10 * std::log10(sig / std::max(err, 1.0)));
      }
      EXPECT_GT(best, 20.0);
      break;
    }
  }
}

TEST_P(PeerFile, MatchesThePeersDecodingAndWindowsAreExact) {
  const PeerCase& c = GetParam();
  TempDir dir;
  std::wstring name = dir.File(L"peer.wav");
  Peer(Replace(c.make, "OUT", Q(name)));
  TWaveIn in(nullptr);
  in.SetWideFileName(name);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.BitsPerSample(), c.bps);
  EXPECT_EQ(in.Channels(), c.ch);
  std::string ours = ReadAll(&in, 7777);
  std::string theirs = Peer(std::string("ffmpeg -v error -i ") + Q(name) + " -f " + c.decode + " -");
  Compare(ours, theirs, c);

  // A window delivers exactly its frames, wherever it starts.
  const int frame = c.bps / 8 * c.ch;
  const int64_t frames = (int64_t)ours.size() / frame;
  for (int64_t start : {frames / 3, frames / 3 + 1, frames - 500}) {
    in.SetStartSample(start);
    in.SetEndSample(start + 299);
    std::string w = ReadAll(&in, 1000);
    ASSERT_EQ((int64_t)w.size(), 300 * frame) << start;
    EXPECT_TRUE(w == ours.substr(start * frame, 300 * frame)) << start;
  }
}

INSTANTIATE_TEST_SUITE_P(
    WaveIn, PeerFile,
    ::testing::Values(
        PeerCase{"SoxPcm8", "sox -n -r 22050 -c 1 -b 8 -e unsigned OUT synth 0.5 sine 440", "u8", Exact, 8, 1},
        PeerCase{"SoxPcm16", "sox -n -r 44100 -c 2 -b 16 OUT synth 0.5 sine 440 sine 660", "s16le", Exact, 16, 2},
        PeerCase{"FfmpegPcm24", "ffmpeg -v error -f lavfi -i sine=f=440:d=0.5 -ac 2 -c:a pcm_s24le -y OUT", "s24le",
                 Exact, 24, 2},
        PeerCase{"SoxPcm32", "sox -n -r 48000 -c 2 -b 32 -e signed OUT synth 0.5 sine 440", "s32le", Exact, 32, 2},
        PeerCase{"SoxFloat32", "sox -n -r 44100 -c 2 -b 32 -e floating-point OUT synth 0.5 sine 440", "f64le", Float,
                 32, 2},
        PeerCase{"FfmpegFloat64", "ffmpeg -v error -f lavfi -i sine=f=440:d=0.5 -c:a pcm_f64le -y OUT", "f64le", Float,
                 32, 1},
        PeerCase{"SoxExtensible24", "sox -n -r 96000 -c 2 -b 24 OUT synth 0.3 sine 1000", "s24le", Exact, 24, 2},
        PeerCase{"SoxExtensible6Ch", "sox -n -r 48000 -c 6 -b 16 OUT synth 0.3 sine 300 sine 400 sine 500", "s16le",
                 Exact, 16, 6},
        PeerCase{"SoxImaAdpcm", "sox -n -r 22050 -c 1 -e ima-adpcm OUT synth 0.5 sine 440 vol 0.5", "s16le", Adpcm,
                 16, 1},
        PeerCase{"FfmpegImaAdpcmStereo",
                 "ffmpeg -v error -f lavfi -i sine=f=440:d=0.5 -ac 2 -c:a adpcm_ima_wav -y OUT", "s16le", Adpcm, 16, 2},
        PeerCase{"SoxMsAdpcm", "sox -n -r 22050 -c 2 -e ms-adpcm OUT synth 0.5 sine 440 vol 0.5", "s16le", Adpcm, 16,
                 2},
        PeerCase{"FfmpegMsAdpcm", "ffmpeg -v error -f lavfi -i sine=f=440:d=0.5 -c:a adpcm_ms -y OUT", "s16le", Adpcm,
                 16, 1},
        PeerCase{"FfmpegPipedSizesUnknown",
                 "ffmpeg -v error -f lavfi -i sine=f=440:d=0.5 -ac 2 -c:a pcm_s16le -f wav - | cat > OUT", "s16le",
                 Exact, 16, 2},
        PeerCase{"FfmpegBextAndInfoBeforeData",
                 "ffmpeg -v error -f lavfi -i sine=f=440:d=0.5 -write_bext 1 -metadata title=Caf\xC3\xA9 "
                 "-metadata artist=A -c:a pcm_s16le -y OUT",
                 "s16le", Exact, 16, 1},
        PeerCase{"FfmpegPcm24SixChannels",
                 "ffmpeg -v error -f lavfi -i sine=f=440:d=0.3 -ac 6 -c:a pcm_s24le -y OUT", "s24le", Exact, 24, 6},
        PeerCase{"FfmpegUnsigned8Stereo", "ffmpeg -v error -f lavfi -i sine=f=440:d=0.3 -ac 2 -c:a pcm_u8 -y OUT",
                 "u8", Exact, 8, 2},
        PeerCase{"FfmpegImaMono1024",
                 "ffmpeg -v error -f lavfi -i sine=f=440:d=0.37 -c:a adpcm_ima_wav -block_size 1024 -y OUT", "s16le",
                 Adpcm, 16, 1},
        PeerCase{"FfmpegImaStereo4096",
                 "ffmpeg -v error -f lavfi -i sine=f=440:d=0.37 -ac 2 -c:a adpcm_ima_wav -block_size 4096 -y OUT",
                 "s16le", Adpcm, 16, 2},
        PeerCase{"FfmpegMsAdpcmStereo2048",
                 "ffmpeg -v error -f lavfi -i sine=f=440:d=0.37 -ac 2 -c:a adpcm_ms -block_size 2048 -y OUT", "s16le",
                 Adpcm, 16, 2},
        PeerCase{"SoxMsAdpcmMono8000", "sox -n -r 8000 -c 1 -e ms-adpcm OUT synth 0.77 sine 440 vol 0.5", "s16le",
                 Adpcm, 16, 1},
        PeerCase{"SoxImaAdpcmStereo48000", "sox -n -r 48000 -c 2 -e ima-adpcm OUT synth 0.77 sine 440 vol 0.5",
                 "s16le", Adpcm, 16, 2},
        PeerCase{"SoxPipedFloatSizesUnknown",
                 "sox -n -r 48000 -c 1 -b 32 -e floating-point -t wav - synth 0.3 sine 440 | cat > OUT", "f64le",
                 Float, 32, 1},
        PeerCase{"SoxPipedImaSizesUnknown",
                 "sox -n -r 8000 -c 1 -e ima-adpcm -t wav - synth 0.3 sine 440 vol 0.5 | cat > OUT", "s16le", Adpcm,
                 16, 1},
        PeerCase{"FfmpegMp3InWave",
                 "ffmpeg -v error -f lavfi -i sine=f=440:d=1 -ac 2 -c:a libmp3lame -b:a 128k -f wav -y OUT", "s16le",
                 Mp3, 16, 2}),
    [](const ::testing::TestParamInfo<PeerCase>& i) { return std::string(i.param.name); });

// A 20-bit file (3 bytes a sample) reads as ffmpeg decodes it: 24-bit samples.
TEST(WaveIn, TwentyBitSamplesReadAsTheir24BitContainer) {
  TempDir dir;
  std::wstring name = dir.File(L"w20.wav");
  std::string data;
  for (int i = 0; i < 3 * 2 * 500; i += 3) {
    int32_t v = (int32_t)((uint32_t)i * 2654435761u) >> 12 << 4;  // 20 significant bits, left-justified
    data += std::string{(char)(v & 0xFF), (char)((v >> 8) & 0xFF), (char)((v >> 16) & 0xFF)};
  }
  WriteBytes(name, Riff(Chunk("fmt ", FmtBody(1, 2, 48000, 6, 20)) + Chunk("data", data)));
  TWaveIn in(nullptr);
  in.SetWideFileName(name);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.BitsPerSample(), 24);
  EXPECT_EQ(in.Channels(), 2);
  std::string ours = ReadAll(&in, 1000);
  EXPECT_TRUE(ours == data);
  EXPECT_TRUE(ours == Peer("ffmpeg -v error -i " + Q(name) + " -f s24le -"));
}

// MPEG in WAVE with a damaged header: a byte rate the codec would divide by zero with (or
// overflow) is replaced by the data's mean rate, and a second "fmt " chunk where the converter
// looks, unlike the one the scan checked, is refused.
TEST(WaveIn, Mp3HeaderDamage) {
  TempDir dir;
  std::wstring name = dir.File(L"m.wav");
  Peer("ffmpeg -v error -f lavfi -i sine=f=440:d=0.3 -ar 22050 -ac 1 -c:a libmp3lame -b:a 32k -f wav -y " + Q(name));
  const std::string good = ReadBytes(name);
  ASSERT_EQ(good.substr(12, 4), "fmt ");
  ASSERT_EQ(Get16(good, 20), 0x55);
  auto read = [&](const std::string& file, bool& valid) {
    WriteBytes(name, file);
    TWaveIn in(nullptr);
    in.SetWideFileName(name);
    valid = in.Valid();
    return ReadAll(&in, 4096);
  };
  bool valid = false;
  const std::string audio = read(good, valid);
  ASSERT_TRUE(valid);
  ASSERT_GT(audio.size(), 10000u);
  for (uint32_t rate : {0x80000000u, 1u, 999u, 0xFFFFFFFFu}) {
    std::string f = good;
    f.replace(28, 4, LE32(rate));
    std::string got = read(f, valid);
    EXPECT_TRUE(valid) << rate;
    EXPECT_EQ(got.size(), audio.size()) << rate;
  }
  // The same format with 60000 extra bytes, after "fact", where only the converter reads it.
  const uint32_t fmtSize = Get32(good, 16);
  std::string bad = good.substr(20, fmtSize);
  bad.replace(16, 2, LE16(0xFFFF));
  const size_t fact = good.find("fact");
  ASSERT_NE(fact, std::string::npos);
  std::string f = good;
  f.insert(fact + 12, Chunk("fmt ", bad));
  EXPECT_EQ(read(f, valid), "");
  EXPECT_FALSE(valid);
}

TEST(WaveIn, PeerFixturesUseTheFormatsTheyAreMeantTo) {
  // The extensible and float cases above rely on these tags.
  TempDir dir;
  struct {
    const char* make;
    TWavType type;
  } cases[] = {{"sox -n -r 96000 -c 2 -b 24 OUT synth 0.1 sine 1000", wtExtPCM},
               {"sox -n -r 48000 -c 6 -b 16 OUT synth 0.1 sine 300", wtExtPCM},
               {"sox -n -r 44100 -c 2 -b 32 -e floating-point OUT synth 0.1 sine 440", wtIEEEFloat},
               {"ffmpeg -v error -f lavfi -i sine=d=0.1 -c:a pcm_f64le -y OUT", wtExtIEEEFloat},
               {"ffmpeg -v error -f lavfi -i sine=d=0.3 -c:a libmp3lame -f wav -y OUT", wtACM}};
  for (auto& c : cases) {
    std::wstring name = dir.File(L"t.wav");
    Peer(Replace(c.make, "OUT", Q(name)));
    TWaveIn in(nullptr);
    in.SetWideFileName(name);
    EXPECT_TRUE(in.Valid()) << c.make;
    EXPECT_EQ(in.WavType(), c.type) << c.make;
  }
}

}  // namespace

// Blocks are read many at a time: a damaged block in the middle ends the stream after the blocks
// before it, and a seek past it reads on from there.
TEST(WaveIn, DamagedAdpcmBlockEndsTheStreamAfterTheGoodOnes) {
  std::string good = std::string(1, '\x01') + LE16(16) + LE16(0) + LE16(0) + std::string(249, '\x35');
  std::string bad = std::string(1, '\x09') + good.substr(1);
  TempDir dir;
  std::wstring name = dir.File(L"ms.wav");
  WriteBytes(name, Riff(Chunk("fmt ", MsFmt(1, 256, 500, 7, 7)) + Chunk("fact", LE32(2500)) +
                        Chunk("data", good + good + good + bad + good)));
  TWaveIn in(nullptr);
  in.SetWideFileName(name);
  ASSERT_TRUE(in.Valid());
  std::string all = ReadAll(&in, 3000);
  EXPECT_EQ(all.size(), 3u * 500 * 2);
  in.SetStartSample(2000);
  std::string last = ReadAll(&in, 3000);
  EXPECT_EQ(last.size(), 500u * 2);
  EXPECT_TRUE(last == all.substr(0, 1000));  // the same block as the first
}
