// FLAC output and input: bit-exact round trips with the native flac and ffmpeg both ways, the
// comment block, seeking inside a block, setters and failures.
#include <gtest/gtest.h>

#include "audio/formats/flac/AuFLAC.h"
#include "audio/formats/codecs/CodecTestUtil.h"

using namespace codectest;

namespace {

struct LosslessCase {
  const char* name;
  int bits, channels, frames;
  uint32_t chunk;  // bytes per pull of the source: not whole frames, so frames are split
};

void PrintTo(const LosslessCase& c, std::ostream* os) { *os << c.name; }

std::string RawFormat(int bits) {
  return "--force-raw-format --endian=little --sign=" + std::string(bits == 8 ? "unsigned" : "signed");
}

class FlacLossless : public ::testing::TestWithParam<LosslessCase> {};

TEST_P(FlacLossless, OurFilesDecodeExactlyAndPeerFilesReadExactly) {
  const LosslessCase& c = GetParam();
  TempDir dir;
  const std::string pcm = Signal(c.frames, c.channels, c.bits);
  {
    TBytesIn src(pcm, c.bits, c.channels, 44100);
    src.MaxChunk = c.chunk;
    TFLACOut out(nullptr);
    out.SetInput(&src);
    out.SetWideFileName(dir.W(L"ours.flac"));
    ASSERT_EQ(RunBlocking(out), L"");
    EXPECT_FALSE(src.Busy());
  }
  // The native decoder checks the MD5 signature and gives the very bytes back; so does ffmpeg.
  Peer("flac -s -t " + peer::Quote(dir.U(L"ours.flac")));
  EXPECT_EQ(FirstDifference(Peer("flac -s -d -c " + RawFormat(c.bits) + " " + peer::Quote(dir.U(L"ours.flac"))), pcm), "");
  if (c.bits == 16 || c.bits == 24) {
    EXPECT_EQ(FirstDifference(FfmpegPcm(dir.U(L"ours.flac"), c.bits == 16 ? "s16le" : "s24le"), pcm), "");
  }
  EXPECT_EQ(Probe(dir.U(L"ours.flac"))["duration_ts"], std::to_string(c.frames));

  // Our input reads our file, the native encoder's and ffmpeg's to the same bytes.
  TFLACIn in(nullptr);
  in.SetWideFileName(dir.W(L"ours.flac"));
  in.SetCheckMD5Signature(true);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.BitsPerSample(), c.bits);
  EXPECT_EQ(in.Channels(), c.channels);
  EXPECT_EQ(in.SampleRate(), 44100);
  EXPECT_EQ(in.TotalSamples(), c.frames);
  EXPECT_EQ(FirstDifference(ReadAll(&in, 7777), pcm), "");
  EXPECT_TRUE(in.MD5Result());

  testfiles::WriteBytes(dir.W(L"src.raw"), pcm);
  Peer("flac -s -f " + RawFormat(c.bits) + " --channels=" + std::to_string(c.channels) + " --bps=" +
       std::to_string(c.bits) + " --sample-rate=44100 -o " + peer::Quote(dir.U(L"native.flac")) + " " +
       peer::Quote(dir.U(L"src.raw")));
  in.SetWideFileName(dir.W(L"native.flac"));
  EXPECT_EQ(FirstDifference(ReadAll(&in, 4096), pcm), "") << "native flac file";
  if (c.bits == 16 || c.bits == 24) {
    const std::string fmt = c.bits == 16 ? "s16le" : "s24le";
    Peer("ffmpeg -nostdin -v error -f " + fmt + " -ar 44100 -ac " + std::to_string(c.channels) + " -i " +
         peer::Quote(dir.U(L"src.raw")) + " -sample_fmt " + (c.bits == 16 ? "s16" : "s32") + " -y " +
         peer::Quote(dir.U(L"ffmpeg.flac")));
    in.SetWideFileName(dir.W(L"ffmpeg.flac"));
    EXPECT_EQ(FirstDifference(ReadAll(&in, 4096), pcm), "") << "ffmpeg flac file";
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, FlacLossless,
                         ::testing::Values(LosslessCase{"Stereo8", 8, 2, 10007, 1001},
                                           LosslessCase{"Stereo16", 16, 2, 44100 + 4609, 4095},
                                           LosslessCase{"Mono24", 24, 1, 10000, 1000},
                                           LosslessCase{"Stereo32", 32, 2, 9999, 333},
                                           LosslessCase{"Six16", 16, 6, 4608 * 2 + 1, 65536}),
                         [](const ::testing::TestParamInfo<LosslessCase>& i) { return std::string(i.param.name); });

// The comment block replaces the encoder's own, byte for byte as laid out, and reads back
// through ffprobe and our input; without values it holds the vendor string and no comment.
TEST(FlacTags, CommentBlockWrittenAndReadBack) {
  TempDir dir;
  const std::string pcm = Signal(3000, 2, 16);
  const WideString title = L"\u91c7\u6837\u53d8\u5f62 \u00dcber";  // Chinese and Latin-1
  {
    TBytesIn src(pcm, 16, 2, 44100);
    TFLACOut out(nullptr);
    out.SetInput(&src);
    out.SetWideFileName(dir.W(L"t.flac"));
    out.Tags()->SetTitle(title);
    out.Tags()->SetArtist(L"K\u00fcnstler");
    out.Tags()->SetDate(L"2008-05-01");
    out.Tags()->SetTrack(L"7");
    ASSERT_EQ(RunBlocking(out), L"");
    out.Tags()->Clear();
    out.Tags()->SetTitle(L"Ab");
    const std::string ab = out.BuildCommentBlock(true);
    EXPECT_EQ(ab, std::string("\x84\x00\x00\x21\x0D\x00\x00\x00VENDOR=Hacked\x01\x00\x00\x00\x08\x00\x00\x00title=Ab", 37));
    out.Tags()->Clear();
    src.Data.assign(pcm.begin(), pcm.end());
    out.SetWideFileName(dir.W(L"none.flac"));
    ASSERT_EQ(RunBlocking(out), L"");
  }
  auto info = Probe(dir.U(L"t.flac"));
  EXPECT_EQ(info["tag:title"], "\xE9\x87\x87\xE6\xA0\xB7\xE5\x8F\x98\xE5\xBD\xA2 \xC3\x9C\x62\x65r");
  EXPECT_EQ(info["tag:artist"], "K\xC3\xBCnstler");
  EXPECT_EQ(info["tag:date"], "2008-05-01");
  EXPECT_EQ(info["tag:track"], "7");
  EXPECT_EQ(info["tag:vendor"], "") << "no comment besides ours";

  TFLACIn in(nullptr);
  in.SetWideFileName(dir.W(L"t.flac"));
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.CommonTags()->Title(), title);
  EXPECT_EQ(in.CommonTags()->Artist(), L"K\u00fcnstler");
  EXPECT_EQ(in.CommonTags()->Year(), "2008-05-01");
  EXPECT_EQ(in.CommonTags()->Track(), "7");
  EXPECT_EQ(FirstDifference(ReadAll(&in), pcm), "");

  const std::string none = testfiles::ReadBytes(dir.W(L"none.flac"));
  const size_t at = none.find("VENDOR=Hacked");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(none.substr(at - 8, 8 + 13 + 4), std::string("\x84\x00\x00\x15\x0D\x00\x00\x00VENDOR=Hacked\x00\x00\x00\x00", 25));
  EXPECT_EQ(FirstDifference(FfmpegPcm(dir.U(L"none.flac"), "s16le"), pcm), "");
}

// A window that starts inside a block and a seek while running deliver the requested frame first.
TEST(FlacIn, SeeksDeliverTheRequestedFrameFirst) {
  TempDir dir;
  const int frames = 30000;
  const std::string pcm = Signal(frames, 2, 16);
  {
    TBytesIn src(pcm, 16, 2, 44100);
    TFLACOut out(nullptr);
    out.SetInput(&src);
    out.SetWideFileName(dir.W(L"s.flac"));
    ASSERT_EQ(RunBlocking(out), L"");
  }
  TFLACIn in(nullptr);
  in.SetWideFileName(dir.W(L"s.flac"));
  in.SetStartSample(5000);
  in.SetEndSample(20000);
  EXPECT_EQ(FirstDifference(ReadAll(&in), pcm.substr(5000 * 4, 15001 * 4)), "");

  in.Init();
  void* p = nullptr;
  uint32_t n = 400;
  in.GetData(p, n);
  ASSERT_TRUE(in.Seek(12345));
  EXPECT_EQ(in.Position(), (12345 - 0) * 4);
  std::string rest;
  for (;;) {
    n = 3000;
    in.GetData(p, n);
    if (!n) break;
    rest.append(static_cast<char*>(p), n);
  }
  in.Flush();
  EXPECT_EQ(FirstDifference(rest, pcm.substr(12345 * 4)), "");
}

TEST(FlacOut, SettersKeepTheirRules) {
  TFLACOut out(nullptr);
  out.SetCompressionLevel(12);
  EXPECT_EQ(out.CompressionLevel(), 8);
  out.SetCompressionLevel(-5);
  EXPECT_EQ(out.CompressionLevel(), -5);
  out.SetEnableMidSideStereo(false);
  out.SetEnableLooseMidSideStereo(true);
  EXPECT_TRUE(out.EnableMidSideStereo());
  out.SetBestModelSearch(true);
  EXPECT_TRUE(out.EnableMidSideStereo());
  EXPECT_FALSE(out.EnableLooseMidSideStereo());

  // 24-bit input with a precision that would pass 31 bits is cut to 31 - 24 and still decodes.
  TempDir dir;
  const std::string pcm = Signal(5000, 1, 24);
  TBytesIn src(pcm, 24, 1, 48000);
  out.SetQLPCoeffPrecision(10);
  out.SetMaxLPCOrder(8);
  out.SetInput(&src);
  out.SetWideFileName(dir.W(L"q.flac"));
  ASSERT_EQ(RunBlocking(out), L"");
  EXPECT_EQ(out.QLPCoeffPrecision(), 7);
  EXPECT_EQ(FirstDifference(FfmpegPcm(dir.U(L"q.flac"), "s24le"), pcm), "");
}

// With a stream handed in the encoder is finished too: the last partial block is there and the
// stream information is complete.
TEST(FlacOut, HandedInStreamGetsTheWholeFile) {
  TempDir dir;
  const std::string pcm = Signal(4608 + 1234, 2, 16);
  TBytesIn src(pcm, 16, 2, 44100);
  src.UnknownSize = true;
  TMemoryStream ms;
  {
    TFLACOut out(nullptr);
    out.SetInput(&src);
    out.SetStream(&ms);
    ASSERT_EQ(RunBlocking(out), L"");
  }
  std::string bytes((size_t)ms.Size(), '\0');
  ms.SetPosition(0);
  ms.ReadBuffer(&bytes[0], (int32_t)bytes.size());
  testfiles::WriteBytes(dir.W(L"m.flac"), bytes);
  Peer("flac -s -t " + peer::Quote(dir.U(L"m.flac")));
  EXPECT_EQ(FirstDifference(FfmpegPcm(dir.U(L"m.flac"), "s16le"), pcm), "");
  EXPECT_EQ(Probe(dir.U(L"m.flac"))["duration_ts"], std::to_string(4608 + 1234));

  // The input over a stream handed in reads it too, and leaves it rewound.
  TFLACIn in(nullptr);
  in.SetStream(&ms);
  EXPECT_EQ(FirstDifference(ReadAll(&in), pcm), "");
  EXPECT_EQ(ms.Position(), 0);
}

// Files that are not FLAC, or whose metadata is damaged, are not Valid and leave the tags alone;
// a file cut inside its audio ends early without a crash.
TEST(FlacIn, DamagedFilesAreRefused) {
  TempDir dir;
  const std::string pcm = Signal(20000, 2, 16);
  {
    TBytesIn src(pcm, 16, 2, 44100);
    TFLACOut out(nullptr);
    out.SetInput(&src);
    out.SetWideFileName(dir.W(L"good.flac"));
    out.Tags()->SetTitle(L"x");
    ASSERT_EQ(RunBlocking(out), L"");
  }
  const std::string good = testfiles::ReadBytes(dir.W(L"good.flac"));
  std::string badInfo = good;
  badInfo[7] = 0x05;  // STREAMINFO length 5
  std::string noLast = good.substr(0, 4 + 4 + 34);
  noLast[4] = 0x00;  // STREAMINFO that is not the last block, then nothing
  struct Bad {
    const wchar_t* name;
    std::string bytes;
  } cases[] = {{L"text.flac", "This is not a FLAC file at all, just some text.\n"},
               {L"empty.flac", ""},
               {L"info.flac", badInfo},
               {L"nolast.flac", noLast}};
  for (const Bad& b : cases) {
    SCOPED_TRACE(WideToAnsi(b.name));
    testfiles::WriteBytes(dir.W(b.name), b.bytes);
    TFLACIn in(nullptr);
    in.CommonTags()->SetTitle(L"untouched");
    in.SetWideFileName(dir.W(b.name));
    EXPECT_FALSE(in.Valid());
    EXPECT_EQ(in.CommonTags()->Title(), L"untouched");
    EXPECT_EQ(ReadAll(&in), "");
  }

  testfiles::WriteBytes(dir.W(L"cut.flac"), good.substr(0, good.size() / 2 + 3));
  TFLACIn in(nullptr);
  in.SetWideFileName(dir.W(L"cut.flac"));
  EXPECT_TRUE(in.Valid());
  std::string got;
  try {
    got = ReadAll(&in);
  } catch (const EAuException& e) {
    EXPECT_EQ(e.Message(), L"Error reading FLAC file");
    in.Reset();
  }
  EXPECT_LT(got.size(), pcm.size());
  EXPECT_EQ(got, pcm.substr(0, got.size()));
  EXPECT_FALSE(in.Busy());
}

// Files with an ID3v2 tag in front of the stream (written by some taggers) read as usual, and
// seek within themselves.
TEST(FlacIn, Id3v2TagInFrontIsSkipped) {
  TempDir dir;
  const std::string pcm = Signal(12000, 2, 16);
  {
    TBytesIn src(pcm, 16, 2, 44100);
    TFLACOut out(nullptr);
    out.SetInput(&src);
    out.SetWideFileName(dir.W(L"plain.flac"));
    ASSERT_EQ(RunBlocking(out), L"");
  }
  const std::string frame = std::string("TIT2") + std::string("\x00\x00\x00\x06\x00\x00\x00Title", 11);
  std::string tag = std::string("ID3\x03\x00\x00", 6);
  const uint32_t size = (uint32_t)frame.size() + 100;  // with padding
  tag += (char)((size >> 21) & 0x7F);
  tag += (char)((size >> 14) & 0x7F);
  tag += (char)((size >> 7) & 0x7F);
  tag += (char)(size & 0x7F);
  tag += frame + std::string(100, '\0');
  testfiles::WriteBytes(dir.W(L"id3.flac"), tag + testfiles::ReadBytes(dir.W(L"plain.flac")));
  TFLACIn in(nullptr);
  in.SetWideFileName(dir.W(L"id3.flac"));
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(FirstDifference(ReadAll(&in), pcm), "");
  in.SetStartSample(7001);
  EXPECT_EQ(FirstDifference(ReadAll(&in), pcm.substr(7001 * 4)), "");
}

TEST(FlacIn, PullBeforeInitAndNoName) {
  TFLACIn in(nullptr);
  void* p = nullptr;
  uint32_t n = 100;
  try {
    in.GetData(p, n);
    ADD_FAILURE() << "nothing raised";
  } catch (const EAuException& e) {
    EXPECT_EQ(e.Message(), L"The Stream is not opened");
  }
  EXPECT_FALSE(in.Valid());
}

// Failures of a run reach the output's events, Done after them releases only what was set up,
// and the input is never left busy.
TEST(FlacOut, FailuresReachTheEvents) {
  TempDir dir;
  struct Case {
    const char* name;
    std::wstring file;
    const char* message;
  } cases[] = {{"NoName", L"", "File name is not assigned."},
               {"NoFolder", dir.W(L"missing\\x.flac"), nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBytesIn src(Signal(1000, 2, 16), 16, 2, 44100);
    TFLACOut out(nullptr);
    out.SetInput(&src);
    out.SetWideFileName(c.file);
    TRunEvents ev = RunWithEvents(out);
    EXPECT_TRUE(ev.Done);
    ASSERT_EQ(ev.Errors.size(), 1u);
    if (c.message) {
      EXPECT_EQ(ev.Errors[0], c.message);
    }
    EXPECT_FALSE(out.Busy());
    EXPECT_FALSE(src.Busy());
    // The same output and input run again afterwards.
    out.SetWideFileName(dir.W(L"again.flac"));
    ev = RunWithEvents(out);
    EXPECT_TRUE(ev.Done);
    EXPECT_TRUE(ev.Errors.empty()) << ev.Errors[0];
  }
  // A format the encoder does not take.
  TBytesIn odd(std::string(1200, '\0'), 12, 1, 44100);
  TFLACOut out(nullptr);
  out.SetInput(&odd);
  out.SetWideFileName(dir.W(L"odd.flac"));
  EXPECT_EQ(RunBlocking(out), L"Failed to initialize FLAC encoder.");
  EXPECT_FALSE(odd.Busy());
}

}  // namespace
