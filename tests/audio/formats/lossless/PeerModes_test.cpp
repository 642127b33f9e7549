// WavPack files of the wavpack tool's stronger and rarer modes read by our input exactly as the
// tool's own decoder gives them back.
#include <gtest/gtest.h>

#include "audio/formats/tta/AuTTA.h"
#include "audio/formats/wavpack/AuWavPack.h"
#include "audio/engine/AudioTestUtil.h"
#include "common/TestFiles.h"
#include "audio/formats/lossless/LosslessTestUtil.h"

using namespace lossless;
using testfiles::TempDir;

namespace {

struct ModeCase {
  const char* name;
  int bits, channels, rate, frames;
  const char* options;  // the wavpack tool's options
};
void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

class WavPackToolModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(WavPackToolModes, ReadExactly) {
  const ModeCase& c = GetParam();
  TempDir dir(L"wvmodes");
  const auto pcm = Signal(c.bits, c.channels, c.frames, 7);
  const std::wstring raw = dir.File(L"src.raw"), wv = dir.File(L"t.wv");
  ASSERT_TRUE(testfiles::WriteBytes(raw, std::string(pcm.begin(), pcm.end())));
  std::string err;
  const std::string fmt = std::to_string(c.rate) + "," + std::to_string(c.bits) + (c.bits == 8 ? "u" : "s") + "," +
                          std::to_string(c.channels) + ",le";
  ASSERT_EQ(PeerRun("wavpack -q -y " + std::string(c.options) + " --raw-pcm=" + fmt + " " + Native(raw) + " -o " +
                        Native(wv),
                    err),
            0)
      << err;
  TWVIn in(nullptr);
  in.SetWideFileName(wv);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.BitsPerSample(), c.bits);
  EXPECT_EQ(in.Channels(), c.channels);
  EXPECT_EQ(in.SampleRate(), c.rate);
  EXPECT_EQ(in.TotalSamples(), c.frames);
  EXPECT_EQ(FirstDifference(Drain(&in, 7777), pcm), -1);
  if (std::string(c.options).find("-w ") != std::string::npos) {
    EXPECT_EQ(in.CommonTags()->Title(), L"Caf\u00e9");
    EXPECT_EQ(in.CommonTags()->Artist(), L"\u6d4b\u8bd5");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tool, WavPackToolModes,
    ::testing::Values(ModeCase{"VeryHighExtra6", 16, 2, 44100, 30011, "-hh -x6"},
                      ModeCase{"FastExtra3Mono24", 24, 1, 96000, 20011, "-f -x3"},
                      ModeCase{"Int32Stereo", 32, 2, 48000, 20011, "-h"},
                      ModeCase{"EightChannels", 16, 8, 48000, 10007, "-x1"},
                      ModeCase{"SmallBlocks", 16, 2, 44100, 30011, "--blocksize=1024"},
                      ModeCase{"Utf8Tags", 16, 2, 44100, 10007,
                               "-w 'Title=Caf\xC3\xA9' -w 'Artist=\xE6\xB5\x8B\xE8\xAF\x95'"}),
    [](const ::testing::TestParamInfo<ModeCase>& i) { return std::string(i.param.name); });

}  // namespace

namespace {

// An ID3v2.3 tag in front of the stream, as taggers put it there: a title frame and padding.
const char* const Id3v2Prefix =
    "printf 'ID3\\003\\000\\000\\000\\000\\002\\001TIT2\\000\\000\\000\\006\\000\\000\\000Hello'; "
    "head -c 241 /dev/zero";

TEST(PeerFiles, AnId3v2TagInFrontIsSkipped) {
  TempDir dir(L"wvmodes");
  const auto pcm = Signal(16, 2, 20011, 9);
  const std::wstring raw = dir.File(L"src.raw");
  ASSERT_TRUE(testfiles::WriteBytes(raw, std::string(pcm.begin(), pcm.end())));
  std::string err;
  ASSERT_EQ(PeerRun("wavpack -q -y --raw-pcm=44100,16s,2,le " + Native(raw) + " -o " + Native(dir.File(L"a.wv")), err),
            0)
      << err;
  ASSERT_EQ(FfmpegEncode(pcm, 16, 2, 44100, "tta", dir.File(L"a.tta")), "");
  // ffmpeg's own ID3v2.4 tag (UTF-8 text frames), cut from the front of an MP3 it tags.
  const std::wstring mp3 = dir.File(L"t.mp3"), v24 = dir.File(L"v24.tag");
  ASSERT_EQ(PeerRun("ffmpeg -nostdin -v error -f lavfi -i sine=d=0.1 -c:a libmp3lame -id3v2_version 4 -metadata "
                    "'title=Caf\xC3\xA9 \xE6\xB5\x8B\xE8\xAF\x95' -y " +
                        Native(mp3),
                    err),
            0)
      << err;
  ASSERT_EQ(PeerRun("python3 -c \"import sys; d = open(sys.argv[1], 'rb').read(); "
                    "n = 10 + ((d[6] & 127) << 21 | (d[7] & 127) << 14 | (d[8] & 127) << 7 | (d[9] & 127)); "
                    "sys.stdout.buffer.write(d[:n])\" " +
                        Native(mp3) + " > " + Native(v24),
                    err),
            0)
      << err;
  struct Prefix {
    std::string command;
    const wchar_t* title;
  } prefixes[] = {{Id3v2Prefix, L"Hello"}, {"cat " + Native(v24), L"Caf\u00e9 \u6d4b\u8bd5"}};
  for (const Prefix& p : prefixes) {
    for (const wchar_t* ext : {L"wv", L"tta"}) {
      SCOPED_TRACE(WideToAnsi(ext) + " after " + p.command);
      const std::wstring plain = dir.File(std::wstring(L"a.") + ext), tagged = dir.File(std::wstring(L"t.") + ext);
      ASSERT_EQ(PeerRun("(" + p.command + "; cat " + Native(plain) + ") > " + Native(tagged), err), 0) << err;
      std::unique_ptr<TAuTaggedFileIn> in;
      if (ext[0] == L'w')
        in = std::make_unique<TWVIn>(nullptr);
      else
        in = std::make_unique<TTTAIn>(nullptr);
      in->SetWideFileName(tagged);
      ASSERT_TRUE(in->Valid());
      EXPECT_EQ(in->TotalSamples(), 20011);
      EXPECT_EQ(FirstDifference(Drain(in.get(), 7777), pcm), -1);
      if (ext[0] == L't') {
        EXPECT_EQ(in->Id3v2Tags()->Title(), p.title);
      }
    }
  }
}

}  // namespace
