// WavpackDLL.dll encoding through the block-output callback and decoding through the stream-reader
// record, as the WavPack input and output do, checked with ffmpeg.
#include <gtest/gtest.h>

#include <ostream>

#include <cstdio>
#include <cstring>

#include "deps/DepLibs.h"
#include "deps/DepTest.h"

using namespace deptest;

namespace {

struct WavpackCase {
  const char* name;
  int flags;  // configuration flags
  bool hybrid;
};

void PrintTo(const WavpackCase& c, std::ostream* os) { *os << c.name; }

const char* const kTitle = "\xE9\x87\x87\xE6\xA0\xB7 WavPack";  // "采样 WavPack"

int BlockOut(void* id, void* data, int32_t bytes) {
  return id && std::fwrite(data, 1, bytes, static_cast<FILE*>(id)) == static_cast<size_t>(bytes);
}

std::string EncodeWavpack(const WavpackLib& wl, const WavpackCase& c, const std::vector<int32_t>& pcm,
                          const std::string& wvPath, const std::string& wvcPath) {
  FILE* wv = std::fopen(wvPath.c_str(), "wb");
  FILE* wvc = c.hybrid ? std::fopen(wvcPath.c_str(), "wb") : nullptr;
  if (!wv || (c.hybrid && !wvc)) return "cannot create the output files";
  std::string error;
  WavpackContext* ctx = wl.WavpackOpenFileOutput(BlockOut, wv, wvc);
  if (!ctx) error = "WavpackOpenFileOutput failed";
  WavpackConfig cfg{};
  cfg.bits_per_sample = 16;
  cfg.bytes_per_sample = 2;
  cfg.channel_mask = 3;
  cfg.num_channels = 2;
  cfg.sample_rate = kRate;
  cfg.flags = c.flags;
  if (c.hybrid) cfg.bitrate = 128.0f;
  if (error.empty() && !(wl.WavpackSetConfiguration(ctx, &cfg, kFrames) && wl.WavpackPackInit(ctx)))
    error = std::string("set-up failed: ") + wl.WavpackGetErrorMessage(ctx);
  // Steps of at most 1024 frames, each ending in complete blocks.
  for (long pos = 0; error.empty() && pos < kFrames; pos += 1024) {
    std::vector<int32_t> step(pcm.begin() + pos * 2, pcm.begin() + std::min<long>(pos + 1024, kFrames) * 2);
    if (!wl.WavpackPackSamples(ctx, step.data(), static_cast<uint32_t>(step.size() / 2)) || !wl.WavpackFlushSamples(ctx))
      error = std::string("packing failed: ") + wl.WavpackGetErrorMessage(ctx);
  }
  if (error.empty() && !(wl.WavpackAppendTagItem(ctx, "Title", kTitle, static_cast<int>(std::strlen(kTitle))) &&
                         wl.WavpackWriteTag(ctx)))
    error = std::string("tag failed: ") + wl.WavpackGetErrorMessage(ctx);
  if (ctx) wl.WavpackCloseFile(ctx);
  std::fclose(wv);
  if (wvc) std::fclose(wvc);
  return error;
}

// The stream-reader record over FILE*s.
int32_t RdRead(void* id, void* data, int32_t bytes) { return static_cast<int32_t>(std::fread(data, 1, bytes, static_cast<FILE*>(id))); }
uint32_t RdGetPos(void* id) { return static_cast<uint32_t>(std::ftell(static_cast<FILE*>(id))); }
int RdSetPosAbs(void* id, uint32_t pos) { return std::fseek(static_cast<FILE*>(id), static_cast<long>(pos), SEEK_SET); }
int RdSetPosRel(void* id, int32_t delta, int mode) { return std::fseek(static_cast<FILE*>(id), delta, mode); }
int RdPushBack(void* id, int c) { return std::ungetc(c, static_cast<FILE*>(id)); }
uint32_t RdLength(void* id) {
  FILE* f = static_cast<FILE*>(id);
  const long here = std::ftell(f);
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, here, SEEK_SET);
  return static_cast<uint32_t>(size);
}
int RdCanSeek(void*) { return 1; }
int32_t RdWrite(void* id, void* data, int32_t bytes) {
  return static_cast<int32_t>(std::fwrite(data, 1, bytes, static_cast<FILE*>(id)));
}

class WavpackRoundTrip : public ::testing::TestWithParam<WavpackCase> {};

TEST_P(WavpackRoundTrip, FfmpegAndDllDecodeTheSignal) {
  const WavpackCase& c = GetParam();
  WavpackLib wl;
  ASSERT_TRUE(wl.Complete()) << wl.Missing();
  TempDir dir;
  const std::vector<int32_t> pcm = MakeSignal(kFrames, 2, 16);
  ASSERT_EQ(EncodeWavpack(wl, c, pcm, dir.A("t.wv"), dir.A("t.wvc")), "");

  auto info = Probe(dir.U("t.wv"));
  EXPECT_EQ(info["codec_name"], "wavpack") << info["error"];
  EXPECT_EQ(info["channels"], "2");
  EXPECT_EQ(info["tag:title"], kTitle);
  Decoded ff = FfmpegDecode(dir.U("t.wv"), 16);  // ffmpeg reads no correction file: lossy when hybrid
  ASSERT_EQ(ff.exitCode, 0) << ff.err;
  EXPECT_EQ(static_cast<long>(ff.samples.size()) / 2, kFrames);
  if (c.hybrid) {
    EXPECT_GT(BestSnr(pcm, ff.samples, 2, 0), 25.0);
  } else {
    EXPECT_EQ(FirstDifference(pcm, ff.samples), -1);
  }

  // The DLL with the correction file gives back every sample, also after a seek.
  FILE* wv = std::fopen(dir.A("t.wv").c_str(), "rb");
  FILE* wvc = c.hybrid ? std::fopen(dir.A("t.wvc").c_str(), "rb") : nullptr;
  ASSERT_NE(wv, nullptr);
  WavpackStreamReader reader{RdRead, RdGetPos, RdSetPosAbs, RdSetPosRel, RdPushBack, RdLength, RdCanSeek, RdWrite};
  char err[256] = "";
  WavpackContext* ctx = wl.WavpackOpenFileInputEx(&reader, wv, wvc, err, c.hybrid ? 3 : 2, 0);
  ASSERT_NE(ctx, nullptr) << err;
  const int mode = wl.WavpackGetMode(ctx);
  EXPECT_EQ((mode & 4) != 0, c.hybrid) << "hybrid bit";
  EXPECT_NE(mode & 2, 0) << "lossless bit";
  EXPECT_NE(mode & 0x10, 0) << "valid tag bit";
  EXPECT_EQ(wl.WavpackGetNumChannels(ctx), 2);
  EXPECT_EQ(wl.WavpackGetSampleRate(ctx), static_cast<uint32_t>(kRate));
  EXPECT_EQ(wl.WavpackGetBitsPerSample(ctx), 16);
  EXPECT_EQ(wl.WavpackGetNumSamples(ctx), static_cast<uint32_t>(kFrames));
  const int len = wl.WavpackGetTagItem(ctx, "Title", nullptr, 0);
  std::string title(len > 0 ? len + 1 : 1, '\0');
  wl.WavpackGetTagItem(ctx, "Title", &title[0], static_cast<int>(title.size()));
  EXPECT_STREQ(title.c_str(), kTitle);

  std::vector<int32_t> all(static_cast<size_t>(kFrames + 100) * 2);
  const uint32_t got = wl.WavpackUnpackSamples(ctx, all.data(), kFrames + 100);
  EXPECT_EQ(got, static_cast<uint32_t>(kFrames));
  all.resize(static_cast<size_t>(got) * 2);
  EXPECT_EQ(FirstDifference(pcm, all), -1);

  const long target = kFrames / 2 + 17;
  ASSERT_TRUE(wl.WavpackSeekSample(ctx, target));
  std::vector<int32_t> part(512);
  ASSERT_EQ(wl.WavpackUnpackSamples(ctx, part.data(), 256), 256u);
  EXPECT_EQ(part, Frames(pcm, 2, target, 256));
  wl.WavpackCloseFile(ctx);
  std::fclose(wv);
  if (wvc) std::fclose(wvc);
}

INSTANTIATE_TEST_SUITE_P(Modes, WavpackRoundTrip,
                         ::testing::Values(WavpackCase{"LosslessFast", 0x200, false},
                                           WavpackCase{"HybridWithCorrection", 0x800 | 0x10010 | 0x182008, true}),
                         [](const ::testing::TestParamInfo<WavpackCase>& info) { return std::string(info.param.name); });

}  // namespace
