// FLAC files of depths that are not whole bytes (12 and 20 bits), made through the library
// itself: our input widens them to 16 and 24 bits as ffmpeg does (left-justified).
#include <gtest/gtest.h>

#include <cstdio>

#include "audio/formats/flac/AuFLAC.h"
#include "audio/formats/flac/FLAC.h"
#include "audio/formats/codecs/CodecTestUtil.h"

using namespace codectest;

namespace {

FLAC__StreamEncoderWriteStatus Write(const FLAC__StreamEncoder*, const FLAC__byte B[], size_t N, uint32_t, uint32_t,
                                     void* C) {
  return std::fwrite(B, 1, N, static_cast<FILE*>(C)) == N ? FLAC__STREAM_ENCODER_WRITE_STATUS_OK
                                                           : FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
}

TEST(FlacIn, DepthsBetweenWholeBytesAreWidened) {
  ASSERT_TRUE(flac::Load());
  TempDir dir;
  struct Case {
    const wchar_t* file;
    int bits, channels;
  } cases[] = {{L"d12.flac", 12, 2}, {L"d20.flac", 20, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    const int frames = 7000;
    std::vector<int32_t> s((size_t)frames * c.channels);
    for (size_t i = 0; i < s.size(); ++i) s[i] = (int32_t)((uint32_t)(i * 2654435761u) >> (32 - c.bits)) - (1 << (c.bits - 1));
    FILE* f = _wfopen(dir.W(c.file).c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    auto& F = flac::Entries;
    FLAC__StreamEncoder* e = F.FLAC__stream_encoder_new();
    F.FLAC__stream_encoder_set_channels(e, c.channels);
    F.FLAC__stream_encoder_set_bits_per_sample(e, c.bits);
    F.FLAC__stream_encoder_set_sample_rate(e, 44100);
    ASSERT_EQ(F.FLAC__stream_encoder_init_stream(e, Write, nullptr, nullptr, nullptr, f), 0);
    ASSERT_TRUE(F.FLAC__stream_encoder_process_interleaved(e, s.data(), frames));
    ASSERT_TRUE(F.FLAC__stream_encoder_finish(e));
    F.FLAC__stream_encoder_delete(e);
    std::fclose(f);

    const int wide = c.bits == 12 ? 16 : 24;
    TFLACIn in(nullptr);
    in.SetWideFileName(dir.W(c.file));
    ASSERT_TRUE(in.Valid());
    EXPECT_EQ(in.BitsPerSample(), wide);
    const std::string ours = ReadAll(&in);
    EXPECT_EQ(FirstDifference(ours, FfmpegPcm(dir.U(c.file), wide == 16 ? "s16le" : "s24le")), "");
    const std::vector<int32_t> got = Samples(ours, wide);
    ASSERT_EQ(got.size(), s.size());
    EXPECT_EQ(got[5], s[5] << (wide - c.bits));
  }
}

}  // namespace
