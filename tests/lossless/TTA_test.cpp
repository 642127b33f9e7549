// True Audio: TTTAOut and TTTAIn over our TTALib.dll, checked against ffmpeg both ways.
#include <gtest/gtest.h>

#include <ostream>

#include "audio/AuTTA.h"
#include "audio/AudioTestUtil.h"
#include "common/TestFiles.h"
#include "lossless/LosslessTestUtil.h"

using namespace lossless;
using testfiles::TempDir;

namespace {

struct Shape {
  const char* name;
  int bits, channels, frames, rate;
};
void PrintTo(const Shape& s, std::ostream* os) { *os << s.name; }

// Frame counts leave partial 1024-frame steps and partial TTA frames (46080 frames at 44.1 kHz).
const Shape Shapes[] = {
    {"u8_mono", 8, 1, 3001, 8000},
    {"s16_stereo", 16, 2, 100003, 44100},
    {"s24_mono", 24, 1, 50001, 48000},
    {"s16_6ch", 16, 6, 20011, 22050},
};

void Encode(const std::vector<uint8_t>& pcm, const Shape& s, const std::wstring& file, bool unknownSize = false) {
  TMemIn in(pcm, s.bits, s.channels, s.rate);
  in.MaxChunk = 1000 * s.channels;  // pulls that split frames
  in.UnknownSize = unknownSize;
  TTTAOut out(nullptr);
  out.SetInput(&in);
  out.SetWideFileName(file);
  EXPECT_EQ(RunToDone(&out), "");
}

std::vector<uint8_t> DecodeOurs(const std::wstring& file, uint32_t ask = 7777) {
  TTTAIn in(nullptr);
  in.SetWideFileName(file);
  return Drain(&in, ask);
}

class TTARoundTrip : public ::testing::TestWithParam<Shape> {};

TEST_P(TTARoundTrip, OursDecodedByFfmpegAndFfmpegsByUs) {
  const Shape& s = GetParam();
  TempDir dir;
  const auto pcm = Signal(s.bits, s.channels, s.frames, (uint32_t)s.frames);
  const std::wstring ours = dir.File(L"ours.tta");
  Encode(pcm, s, ours);

  std::string err;
  auto ff = FfmpegDecode(ours, s.bits, err);
  ASSERT_EQ(err, "");
  EXPECT_EQ(FirstDifference(ff, pcm), -1) << "ffmpeg decoding our file, sizes " << ff.size() << " " << pcm.size();
  EXPECT_EQ(FirstDifference(DecodeOurs(ours), pcm), -1) << "our own file";

  const std::wstring theirs = dir.File(L"theirs.tta");
  ASSERT_EQ(FfmpegEncode(pcm, s.bits, s.channels, s.rate, "tta", theirs), "");
  TTTAIn in(nullptr);
  in.SetWideFileName(theirs);
  EXPECT_EQ(in.BitsPerSample(), s.bits);
  EXPECT_EQ(in.Channels(), s.channels);
  EXPECT_EQ(in.SampleRate(), s.rate);
  EXPECT_EQ(in.TotalSamples(), s.frames);
  EXPECT_EQ(FirstDifference(Drain(&in, 4096), pcm), -1) << "our decoding of ffmpeg's file";
}

INSTANTIATE_TEST_SUITE_P(Shapes, TTARoundTrip, ::testing::ValuesIn(Shapes));

}  // namespace
