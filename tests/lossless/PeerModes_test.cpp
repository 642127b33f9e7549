// WavPack files of the wavpack tool's stronger and rarer modes read by our input exactly as the
// tool's own decoder gives them back.
#include <gtest/gtest.h>

#include "audio/AuWavPack.h"
#include "audio/AudioTestUtil.h"
#include "common/TestFiles.h"
#include "lossless/LosslessTestUtil.h"

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
}

INSTANTIATE_TEST_SUITE_P(
    Tool, WavPackToolModes,
    ::testing::Values(ModeCase{"VeryHighExtra6", 16, 2, 44100, 30011, "-hh -x6"},
                      ModeCase{"FastExtra3Mono24", 24, 1, 96000, 20011, "-f -x3"},
                      ModeCase{"Int32Stereo", 32, 2, 48000, 20011, "-h"},
                      ModeCase{"EightChannels", 16, 8, 48000, 10007, "-x1"},
                      ModeCase{"SmallBlocks", 16, 2, 44100, 30011, "--blocksize=1024"}),
    [](const ::testing::TestParamInfo<ModeCase>& i) { return std::string(i.param.name); });

}  // namespace
