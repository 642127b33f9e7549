// The lossless round-trip table: WavPack (plain and hybrid with its ".wvc") and True Audio,
// written by us and decoded by the native peers to the same samples, and files made by the
// peers read by us to the same samples.
#include <gtest/gtest.h>

#include "classlib/WinApi.h"

#include <ostream>
#include <tuple>

#include "audio/formats/tta/AuTTA.h"
#include "audio/formats/wavpack/AuWavPack.h"
#include "audio/engine/AudioTestUtil.h"
#include "common/TestFiles.h"
#include "audio/formats/lossless/LosslessTestUtil.h"

using namespace lossless;
using testfiles::TempDir;

namespace {

enum Codec { cTTA, cWV, cWVHybrid };
const char* const CodecNames[] = {"tta", "wv", "wv_hybrid"};

struct Shape {
  const char* name;
  int bits, channels, frames, rate;
};

// Frame counts leave partial 1024-frame steps, partial TTA frames (46080 frames at 44.1 kHz)
// and partial WavPack blocks.
const Shape Shapes[] = {
    {"u8_mono", 8, 1, 3001, 8000},
    {"s16_stereo", 16, 2, 100003, 44100},
    {"s24_mono", 24, 1, 50001, 48000},
    {"s16_6ch", 16, 6, 20011, 22050},
};

using Case = std::tuple<Codec, Shape>;

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return std::string(CodecNames[std::get<0>(info.param)]) + "_" + std::get<1>(info.param).name;
}

std::wstring FileFor(const TempDir& dir, const wchar_t* stem, Codec c) {
  return dir.File(std::wstring(stem) + (c == cTTA ? L".tta" : L".wv"));
}

void EncodeOurs(Codec c, const std::vector<uint8_t>& pcm, const Shape& s, const std::wstring& file) {
  TMemIn in(pcm, s.bits, s.channels, s.rate);
  in.MaxChunk = 1000 * s.channels + 1;  // pulls that split frames
  std::unique_ptr<TAuFileOut> out;
  if (c == cTTA) {
    out = std::make_unique<TTTAOut>(nullptr);
  } else {
    auto wv = std::make_unique<TWVOut>(nullptr);
    if (c == cWVHybrid) {
      wv->SetHybridMode(true);
      wv->SetBitrate(128);
    }
    out = std::move(wv);
  }
  out->SetInput(&in);
  out->SetWideFileName(file);
  EXPECT_EQ(RunToDone(out.get()), "");
}

std::vector<uint8_t> DecodeOurs(Codec c, const std::wstring& file, int& bits, int& channels, int& rate, int64_t& frames) {
  std::unique_ptr<TAuFileIn> in;
  if (c == cTTA)
    in = std::make_unique<TTTAIn>(nullptr);
  else
    in = std::make_unique<TWVIn>(nullptr);
  in->SetWideFileName(file);
  bits = in->BitsPerSample();
  channels = in->Channels();
  rate = in->SampleRate();
  frames = in->TotalSamples();
  return Drain(in.get(), 7777);
}

std::vector<uint8_t> WvunpackDecode(const std::wstring& file, std::string& err) {
  std::string out;
  int rc = PeerRun("wvunpack -q -y -r " + Native(file) + " -o -", err, &out);
  if (rc != 0) {
    err = "wvunpack exit " + std::to_string(rc) + ": " + err;
    return {};
  }
  err.clear();
  return std::vector<uint8_t>(out.begin(), out.end());
}

std::string WavpackEncode(const std::vector<uint8_t>& pcm, const Shape& s, bool hybrid, const std::wstring& file) {
  std::wstring raw = file + L".raw";
  if (!testfiles::WriteBytes(raw, std::string(pcm.begin(), pcm.end()))) return "cannot write the raw file";
  std::string fmt = std::to_string(s.rate) + "," + std::to_string(s.bits) + (s.bits == 8 ? "u" : "s") + "," +
                    std::to_string(s.channels) + ",le";
  std::string err;
  int rc = PeerRun("wavpack -q -y --raw-pcm=" + fmt + (hybrid ? " -b128 -c " : " ") + Native(raw) + " -o " +
                       Native(file),
                   err);
  DeleteFileW(raw.c_str());
  return rc == 0 ? "" : "wavpack exit " + std::to_string(rc) + ": " + err;
}

class LosslessRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(LosslessRoundTrip, OursDecodedByPeersAndTheirsByUs) {
  const Codec c = std::get<0>(GetParam());
  const Shape& s = std::get<1>(GetParam());
  TempDir dir;
  const auto pcm = Signal(s.bits, s.channels, s.frames, (uint32_t)s.frames + c);
  std::string err;

  // Ours, read by the peers.
  const std::wstring ours = FileFor(dir, L"ours", c);
  EncodeOurs(c, pcm, s, ours);
  if (c != cWVHybrid) {  // ffmpeg reads no correction file
    auto ff = FfmpegDecode(ours, s.bits, err);
    ASSERT_EQ(err, "");
    EXPECT_EQ(FirstDifference(ff, pcm), -1) << "ffmpeg on our file: " << ff.size() << " bytes for " << pcm.size();
  }
  if (c != cTTA) {
    auto wv = WvunpackDecode(ours, err);
    ASSERT_EQ(err, "");
    EXPECT_EQ(FirstDifference(wv, pcm), -1) << "wvunpack on our file: " << wv.size() << " bytes for " << pcm.size();
  }
  int bits = 0, channels = 0, rate = 0;
  int64_t frames = 0;
  EXPECT_EQ(FirstDifference(DecodeOurs(c, ours, bits, channels, rate, frames), pcm), -1) << "our own file";

  // Theirs, read by us.
  const std::wstring theirs = FileFor(dir, L"theirs", c);
  ASSERT_EQ(c == cTTA ? FfmpegEncode(pcm, s.bits, s.channels, s.rate, "tta", theirs)
                      : WavpackEncode(pcm, s, c == cWVHybrid, theirs),
            "");
  auto got = DecodeOurs(c, theirs, bits, channels, rate, frames);
  EXPECT_EQ(bits, s.bits);
  EXPECT_EQ(channels, s.channels);
  EXPECT_EQ(rate, s.rate);
  EXPECT_EQ(frames, s.frames);
  EXPECT_EQ(FirstDifference(got, pcm), -1) << "our decoding of the peer's file: " << got.size() << " bytes for " << pcm.size();
  if (c == cWV && s.bits > 8) {
    // ffmpeg's own WavPack encoder picks its own depth (24-bit input becomes 32-bit): our
    // decoding must match ffmpeg's decoding of that file at the depth we report. (Its 8-bit
    // files fail wvunpack's own checks, so the wavpack tool alone stands for 8 bits.)
    const std::wstring ffwv = dir.File(L"ffmpeg.wv");
    ASSERT_EQ(FfmpegEncode(pcm, s.bits, s.channels, s.rate, "wavpack", ffwv), "");
    got = DecodeOurs(c, ffwv, bits, channels, rate, frames);
    auto ref = FfmpegDecode(ffwv, bits, err);
    ASSERT_EQ(err, "");
    EXPECT_EQ(FirstDifference(got, ref), -1) << "ffmpeg's WavPack file at " << bits << " bits";
  }
}

INSTANTIATE_TEST_SUITE_P(Table, LosslessRoundTrip,
                         ::testing::Combine(::testing::Values(cTTA, cWV, cWVHybrid), ::testing::ValuesIn(Shapes)),
                         CaseName);

}  // namespace
