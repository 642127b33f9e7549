// FLAC and Ogg Vorbis files as other tools make them: large metadata blocks, pictures, tags in
// front, odd block sizes, uncommon rates and channel counts, chained and very short streams.
// Our input must read each exactly as ffmpeg decodes it.
#include <gtest/gtest.h>

#include "audio/formats/flac/AuFLAC.h"
#include "audio/formats/vorbis/AuVorbis.h"
#include "audio/formats/codecs/CodecTestUtil.h"

using namespace codectest;

namespace {

std::string Replace(std::string s, const std::string& what, const std::string& with) {
  size_t p;
  while ((p = s.find(what)) != std::string::npos) s.replace(p, what.size(), with);
  return s;
}

std::string RawFmt(int bits) { return bits == 8 ? "u8" : bits == 16 ? "s16le" : bits == 24 ? "s24le" : "s32le"; }

struct FlacCase {
  const char* name;
  int bits, channels, rate, frames;
  const char* make;  // IN: raw source, OUT: the file, RAW: flac's raw-input options
};
void PrintTo(const FlacCase& c, std::ostream* os) { *os << c.name; }

class FlacPeerFile : public ::testing::TestWithParam<FlacCase> {};

TEST_P(FlacPeerFile, ReadsAsFfmpegDecodesIt) {
  const FlacCase& c = GetParam();
  TempDir dir;
  const std::string pcm = Signal(c.frames, c.channels, c.bits, c.rate);
  testfiles::WriteBytes(dir.W(L"src.raw"), pcm);
  // A picture for the cases that embed one.
  testfiles::WriteBytes(dir.W(L"pic.png"), std::string("\x89PNG\r\n\x1a\n", 8) + std::string(300000, 'p'));
  const std::string raw = "--force-raw-format --endian=little --sign=" + std::string(c.bits == 8 ? "unsigned" : "signed") +
                          " --channels=" + std::to_string(c.channels) + " --bps=" + std::to_string(c.bits) +
                          " --sample-rate=" + std::to_string(c.rate);
  std::string cmd = Replace(c.make, "IN", peer::Quote(dir.U(L"src.raw")));
  cmd = Replace(cmd, "OUT", peer::Quote(dir.U(L"f.flac")));
  cmd = Replace(cmd, "PIC", peer::Quote(dir.U(L"pic.png")));
  cmd = Replace(cmd, "RAW", raw);
  cmd = Replace(cmd, "DIR", peer::Quote(dir.U(L"")));
  Peer(cmd);
  TFLACIn in(nullptr);
  in.SetWideFileName(dir.W(L"f.flac"));
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.Channels(), c.channels);
  EXPECT_EQ(in.SampleRate(), c.rate);
  EXPECT_EQ(in.BitsPerSample(), c.bits);
  // A stream written to a pipe does not know its length: it is read to its end.
  if (std::string(c.make).find("| cat") == std::string::npos) {
    EXPECT_EQ(in.TotalSamples(), c.frames);
  }
  if (std::string(c.name) == "Utf8Tags") {
    EXPECT_EQ(in.CommonTags()->Title(), L"Caf\u00e9");
    EXPECT_EQ(in.CommonTags()->Artist(), L"\u6d4b\u8bd5");
    EXPECT_EQ(in.Tags()->Artist(), L"\u6d4b\u8bd5");
  }
  const std::string ours = ReadAll(&in, 7777);
  EXPECT_EQ(FirstDifference(ours, pcm), "");
  EXPECT_EQ(FirstDifference(ours, FfmpegPcm(dir.U(L"f.flac"), RawFmt(c.bits))), "");
}

INSTANTIATE_TEST_SUITE_P(
    RealWorld, FlacPeerFile,
    ::testing::Values(
        FlacCase{"BigPadding", 16, 2, 44100, 30000, "flac -s -f RAW --padding=200000 -o OUT IN"},
        FlacCase{"PictureAndPadding", 16, 2, 44100, 30000, "flac -s -f RAW --padding=70000 --picture='3|image/png|Cover|10x10x24|'PIC -o OUT IN"},
        FlacCase{"Utf8Tags", 16, 2, 44100, 30000,
                 "flac -s -f RAW -T TITLE=Caf\xC3\xA9 -T ARTIST=\xE6\xB5\x8B\xE8\xAF\x95 -o OUT IN"},
        FlacCase{"Block192", 16, 1, 8000, 9001, "flac -s -f RAW -b 192 -o OUT IN"},
        FlacCase{"Block4608At88200", 24, 2, 88200, 20000, "flac -s -f RAW -b 4608 -o OUT IN"},
        FlacCase{"Eight8BitChannels", 8, 8, 48000, 5000, "flac -s -f RAW --channel-map=none -o OUT IN"},
        FlacCase{"Rate192000", 24, 2, 192000, 40000, "flac -s -f -8 RAW -o OUT IN"},
        FlacCase{"SixChannelsFfmpeg", 16, 6, 48000, 12345,
                 "ffmpeg -nostdin -v error -f s16le -ar 48000 -ac 6 -i IN -c:a flac -y OUT"},
        FlacCase{"FfmpegPiped", 16, 2, 44100, 23456,
                 "ffmpeg -nostdin -v error -f s16le -ar 44100 -ac 2 -i IN -c:a flac -f flac - | cat > OUT"},
        FlacCase{"FlacPiped", 24, 1, 48000, 23456, "flac -s RAW -c IN | cat > OUT"},
        FlacCase{"Id3v2InFrontOfFfmpegFile", 16, 2, 44100, 10000,
                 "ffmpeg -nostdin -v error -f s16le -ar 44100 -ac 2 -i IN -c:a flac -f flac -y DIR/a.flac && "
                 "(printf 'ID3\\003\\000\\000\\000\\000\\002\\001'; head -c 257 /dev/zero; cat DIR/a.flac) > OUT"}),
    [](const ::testing::TestParamInfo<FlacCase>& i) { return std::string(i.param.name); });


struct VorbisCase {
  const char* name;
  int channels, rate, frames;
  const char* make;  // IN: 16-bit raw source, OUT: the file, RAW: oggenc's raw-input options
};
void PrintTo(const VorbisCase& c, std::ostream* os) { *os << c.name; }

class VorbisPeerFile : public ::testing::TestWithParam<VorbisCase> {};

// Every frame of the source comes back (the encoders mark the true length), and the signal is
// the source's.
TEST_P(VorbisPeerFile, DeliversEveryFrameOfTheSignal) {
  const VorbisCase& c = GetParam();
  TempDir dir;
  const std::string pcm = Signal(c.frames, c.channels, 16, c.rate);
  testfiles::WriteBytes(dir.W(L"src.raw"), pcm);
  const std::string raw = "-Q -r -B 16 -C " + std::to_string(c.channels) + " -R " + std::to_string(c.rate);
  std::string cmd = Replace(c.make, "IN", peer::Quote(dir.U(L"src.raw")));
  cmd = Replace(cmd, "OUT", peer::Quote(dir.U(L"f.ogg")));
  cmd = Replace(cmd, "RAW", raw);
  cmd = Replace(cmd, "DIR", peer::Quote(dir.U(L"")));
  Peer(cmd);
  TVorbisIn in(nullptr);
  in.SetWideFileName(dir.W(L"f.ogg"));
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.Channels(), c.channels);
  EXPECT_EQ(in.SampleRate(), c.rate);
  const int copies = std::string(c.make).find("cat ") != std::string::npos ? 2 : 1;
  EXPECT_EQ(in.TotalSamples(), (int64_t)c.frames * copies);
  const std::string ours = ReadAll(&in, 7777);
  ASSERT_EQ(ours.size(), pcm.size() * copies);
  // The encoder keeps only the low band of a 5.1 stream's LFE channel.
  const double like = c.channels == 6 ? 0.9 : c.frames > 2000 ? 0.95 : 0.5;
  for (int k = 0; k < copies; ++k)
    EXPECT_GT(Correlation(Samples(pcm, 16), Samples(ours.substr(k * pcm.size(), pcm.size()), 16), c.channels, 0),
              like)
        << k;
  if (copies == 1) {
    // Channel for channel as ffmpeg decodes and orders them.
    EXPECT_GT(Correlation(Samples(FfmpegPcm(dir.U(L"f.ogg"), "s16le"), 16), Samples(ours, 16), c.channels, 0), 0.99);
  }
}

INSTANTIATE_TEST_SUITE_P(
    RealWorld, VorbisPeerFile,
    ::testing::Values(
        VorbisCase{"Mono8000", 1, 8000, 12345, "oggenc RAW -q 2 -o OUT IN"},
        VorbisCase{"FivePointOneFromWave", 6, 48000, 30000,
                   "sox -t raw -r 48000 -e signed -b 16 -c 6 IN DIR/s.wav && oggenc -Q -q 4 -o OUT DIR/s.wav"},
        VorbisCase{"ShorterThanAPage", 2, 44100, 300, "oggenc RAW -o OUT IN"},
        VorbisCase{"ChainedStreams", 2, 44100, 20000,
                   "oggenc RAW -s 1 -t One -o DIR/a.ogg IN && oggenc RAW -s 2 -t Two -o DIR/b.ogg IN && cat DIR/a.ogg DIR/b.ogg > OUT"},
        VorbisCase{"CoverArtCommentOverManyPages", 2, 44100, 20000,
                   "oggenc RAW -c \"METADATA_BLOCK_PICTURE=$(head -c 90000 /dev/urandom | base64 -w0)\" -t Title "
                   "-o OUT IN"},
        VorbisCase{"FfmpegSixChannels", 6, 44100, 25000,
                   "ffmpeg -nostdin -v error -f s16le -ar 44100 -ac 6 -i IN -c:a libvorbis -y OUT"}),
    [](const ::testing::TestParamInfo<VorbisCase>& i) { return std::string(i.param.name); });


// Our FLAC and Vorbis files at uncommon rates and channel counts pass the strictest peers: the
// native decoder's test (MD5 signature, CRCs) and ffmpeg stopping at the first error.
TEST(OurFiles, UncommonRatesAndChannelsPassStrictPeers) {
  struct Case {
    int bits, channels, rate;
  } cases[] = {{24, 8, 192000}, {8, 1, 8000}, {16, 7, 88200}, {16, 3, 11025}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.channels) + "x" + std::to_string(c.rate));
    TempDir dir;
    const int frames = c.rate / 4 + 17;
    const std::string pcm = Signal(frames, c.channels, c.bits, c.rate);
    {
      TBytesIn src(pcm, c.bits, c.channels, c.rate);
      TFLACOut out(nullptr);
      out.SetInput(&src);
      out.SetWideFileName(dir.W(L"o.flac"));
      ASSERT_EQ(RunBlocking(out), L"");
    }
    Peer("flac -s -t " + peer::Quote(dir.U(L"o.flac")));
    Peer("ffmpeg -nostdin -v error -xerror -i " + peer::Quote(dir.U(L"o.flac")) + " -f null -");
    auto info = Probe(dir.U(L"o.flac"));
    EXPECT_EQ(info["sample_rate"], std::to_string(c.rate));
    EXPECT_EQ(info["channels"], std::to_string(c.channels));
    {
      TBytesIn src(pcm, c.bits, c.channels, c.rate);
      TVorbisOut out(nullptr);
      out.SetInput(&src);
      out.SetWideFileName(dir.W(L"o.ogg"));
      ASSERT_EQ(RunBlocking(out), L"");
    }
    Peer("ffmpeg -nostdin -v error -xerror -i " + peer::Quote(dir.U(L"o.ogg")) + " -f null -");
    info = Probe(dir.U(L"o.ogg"));
    EXPECT_EQ(info["sample_rate"], std::to_string(c.rate));
    EXPECT_EQ(info["channels"], std::to_string(c.channels));
    TVorbisIn in(nullptr);
    in.SetWideFileName(dir.W(L"o.ogg"));
    ASSERT_TRUE(in.Valid());
    EXPECT_NEAR((double)in.TotalSamples(), frames, 1);
  }
}

}  // namespace
