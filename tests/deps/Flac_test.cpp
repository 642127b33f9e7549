// libFLAC.dll's stream encoder and decoder, driven through callbacks as the FLAC input and output do,
// checked both ways against the native flac and ffmpeg.
#include <gtest/gtest.h>

#include <ostream>

#include <cstdio>

#include "deps/DepLibs.h"
#include "deps/DepTest.h"

using namespace deptest;

namespace {

struct FlacCase {
  const char* name;
  int channels;
  int bits;
  int level;
};

void PrintTo(const FlacCase& c, std::ostream* os) { *os << c.name; }

// Encoder callbacks over a FILE*.
FLAC__StreamEncoderWriteStatus EncWrite(const FLAC__StreamEncoder*, const FLAC__byte buffer[], size_t bytes, uint32_t,
                                        uint32_t, void* data) {
  return std::fwrite(buffer, 1, bytes, static_cast<FILE*>(data)) == bytes ? FLAC__STREAM_ENCODER_WRITE_STATUS_OK
                                                                          : FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
}
FLAC__StreamEncoderSeekStatus EncSeek(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* data) {
  return std::fseek(static_cast<FILE*>(data), static_cast<long>(offset), SEEK_SET) == 0 ? FLAC__STREAM_ENCODER_SEEK_STATUS_OK
                                                                                        : FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
}
FLAC__StreamEncoderTellStatus EncTell(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* data) {
  *offset = static_cast<FLAC__uint64>(std::ftell(static_cast<FILE*>(data)));
  return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}
void EncMetadata(const FLAC__StreamEncoder*, const FLAC__StreamMetadata*, void*) {}

std::string EncodeFlac(const FlacLib& fl, const FlacCase& c, const std::vector<int32_t>& pcm, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "w+b");
  if (!f) return "cannot create " + path;
  FLAC__StreamEncoder* enc = fl.FLAC__stream_encoder_new();
  bool ok = enc != nullptr;
  ok = ok && fl.FLAC__stream_encoder_set_verify(enc, true);
  ok = ok && fl.FLAC__stream_encoder_set_channels(enc, c.channels);
  ok = ok && fl.FLAC__stream_encoder_set_bits_per_sample(enc, c.bits);
  ok = ok && fl.FLAC__stream_encoder_set_sample_rate(enc, kRate);
  if (c.channels == 2) {
    ok = ok && fl.FLAC__stream_encoder_set_do_mid_side_stereo(enc, true);
    ok = ok && fl.FLAC__stream_encoder_set_loose_mid_side_stereo(enc, false);
  }
  ok = ok && fl.FLAC__stream_encoder_set_blocksize(enc, 4608);
  ok = ok && fl.FLAC__stream_encoder_set_compression_level(enc, c.level);
  ok = ok && fl.FLAC__stream_encoder_set_total_samples_estimate(enc, kFrames);
  std::string error = ok ? "" : "encoder set-up failed";
  if (error.empty() && fl.FLAC__stream_encoder_init_stream(enc, EncWrite, EncSeek, EncTell, EncMetadata, f) !=
                           FLAC__STREAM_ENCODER_INIT_STATUS_OK)
    error = "init_stream failed";
  for (long pos = 0; error.empty() && pos < kFrames; pos += 4608) {
    const long n = std::min<long>(4608, kFrames - pos);
    if (!fl.FLAC__stream_encoder_process_interleaved(enc, pcm.data() + pos * c.channels, n))
      error = "process_interleaved failed";
  }
  if (enc) {
    if (!fl.FLAC__stream_encoder_finish(enc) && error.empty()) error = "finish failed (verify or write error)";
    fl.FLAC__stream_encoder_delete(enc);
  }
  std::fclose(f);
  return error;
}

// Decoder callbacks over a FILE*, collecting the samples.
struct DecodeState {
  FILE* f = nullptr;
  long size = 0;
  std::vector<int32_t> samples;
  int channels = 0, bits = 0;
  FLAC__uint64 total = 0;
  bool error = false;
};
FLAC__StreamDecoderReadStatus DecRead(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes, void* data) {
  auto* s = static_cast<DecodeState*>(data);
  *bytes = std::fread(buffer, 1, *bytes, s->f);
  return *bytes ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
}
FLAC__StreamDecoderSeekStatus DecSeek(const FLAC__StreamDecoder*, FLAC__uint64 offset, void* data) {
  auto* s = static_cast<DecodeState*>(data);
  if (offset > static_cast<FLAC__uint64>(s->size)) return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
  return std::fseek(s->f, static_cast<long>(offset), SEEK_SET) == 0 ? FLAC__STREAM_DECODER_SEEK_STATUS_OK
                                                                    : FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
}
FLAC__StreamDecoderTellStatus DecTell(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* data) {
  *offset = static_cast<FLAC__uint64>(std::ftell(static_cast<DecodeState*>(data)->f));
  return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}
FLAC__StreamDecoderLengthStatus DecLength(const FLAC__StreamDecoder*, FLAC__uint64* length, void* data) {
  *length = static_cast<FLAC__uint64>(static_cast<DecodeState*>(data)->size);
  return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}
FLAC__bool DecEof(const FLAC__StreamDecoder*, void* data) {
  auto* s = static_cast<DecodeState*>(data);
  return std::ftell(s->f) >= s->size;
}
FLAC__StreamDecoderWriteStatus DecWrite(const FLAC__StreamDecoder*, const FLAC__Frame* frame, const FLAC__int32* const buffer[],
                                        void* data) {
  auto* s = static_cast<DecodeState*>(data);
  for (uint32_t i = 0; i < frame->header.blocksize; ++i)
    for (uint32_t ch = 0; ch < frame->header.channels; ++ch) s->samples.push_back(buffer[ch][i]);
  return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}
void DecMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* data) {
  auto* s = static_cast<DecodeState*>(data);
  if (m->type == FLAC__METADATA_TYPE_STREAMINFO) {
    s->channels = m->data.stream_info.channels;
    s->bits = m->data.stream_info.bits_per_sample;
    s->total = m->data.stream_info.total_samples;
  }
}
void DecError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data) {
  static_cast<DecodeState*>(data)->error = true;
}

class FlacRoundTrip : public ::testing::TestWithParam<FlacCase> {};

TEST_P(FlacRoundTrip, PeersAndDllAgreeSampleForSample) {
  const FlacCase& c = GetParam();
  FlacLib fl;
  ASSERT_TRUE(fl.Complete()) << fl.Missing();
  TempDir dir;
  const std::vector<int32_t> pcm = MakeSignal(kFrames, c.channels, c.bits);
  ASSERT_EQ(EncodeFlac(fl, c, pcm, dir.A("t.flac")), "");

  // The native tools: flac checks the MD5 signature and both decode to the very samples.
  peer::Result t = peer::Run("flac -s -t " + peer::Quote(dir.U("t.flac")));
  EXPECT_EQ(t.exitCode, 0) << t.err;
  peer::Result raw = peer::Run("flac -s -d -c --force-raw-format --endian=little --sign=signed " + peer::Quote(dir.U("t.flac")));
  ASSERT_EQ(raw.exitCode, 0) << raw.err;
  EXPECT_EQ(FirstDifference(pcm, FromPcm(raw.out, c.bits)), -1);
  Decoded ff = FfmpegDecode(dir.U("t.flac"), c.bits);
  ASSERT_EQ(ff.exitCode, 0) << ff.err;
  EXPECT_EQ(FirstDifference(pcm, ff.samples), -1);

  // The DLL decodes what it wrote, and what the native encoder wrote, with the MD5 check on;
  // then a seek into the middle of a block delivers the requested frame first.
  ASSERT_TRUE(WriteBinary(dir.A("t.raw"), ToPcm(pcm, c.bits)));
  peer::Result n = peer::Run("flac -s -f --force-raw-format --endian=little --sign=signed --channels=" +
                             std::to_string(c.channels) + " --bps=" + std::to_string(c.bits) +
                             " --sample-rate=44100 -o " + peer::Quote(dir.U("n.flac")) + " " + peer::Quote(dir.U("t.raw")));
  ASSERT_EQ(n.exitCode, 0) << n.err;
  for (const char* file : {"t.flac", "n.flac"}) {
    SCOPED_TRACE(file);
    DecodeState s;
    s.f = std::fopen(dir.A(file).c_str(), "rb");
    ASSERT_NE(s.f, nullptr);
    std::fseek(s.f, 0, SEEK_END);
    s.size = std::ftell(s.f);
    std::fseek(s.f, 0, SEEK_SET);
    FLAC__StreamDecoder* dec = fl.FLAC__stream_decoder_new();
    ASSERT_NE(dec, nullptr);
    EXPECT_TRUE(fl.FLAC__stream_decoder_set_md5_checking(dec, true));
    EXPECT_TRUE(fl.FLAC__stream_decoder_set_metadata_respond_all(dec));
    ASSERT_EQ(fl.FLAC__stream_decoder_init_stream(dec, DecRead, DecSeek, DecTell, DecLength, DecEof, DecWrite, DecMetadata,
                                                  DecError, &s),
              FLAC__STREAM_DECODER_INIT_STATUS_OK);
    while (fl.FLAC__stream_decoder_get_state(dec) != FLAC__STREAM_DECODER_END_OF_STREAM)
      ASSERT_TRUE(fl.FLAC__stream_decoder_process_single(dec));
    EXPECT_FALSE(s.error);
    EXPECT_EQ(s.channels, c.channels);
    EXPECT_EQ(s.bits, c.bits);
    EXPECT_EQ(s.total, static_cast<FLAC__uint64>(kFrames));
    EXPECT_EQ(FirstDifference(pcm, s.samples), -1);
    EXPECT_TRUE(fl.FLAC__stream_decoder_finish(dec)) << "MD5 signature";

    std::fseek(s.f, 0, SEEK_SET);
    ASSERT_EQ(fl.FLAC__stream_decoder_init_stream(dec, DecRead, DecSeek, DecTell, DecLength, DecEof, DecWrite, DecMetadata,
                                                  DecError, &s),
              FLAC__STREAM_DECODER_INIT_STATUS_OK);
    const long target = kFrames / 2 + 17;
    s.samples.clear();
    ASSERT_TRUE(fl.FLAC__stream_decoder_seek_absolute(dec, target));
    ASSERT_GE(s.samples.size(), static_cast<size_t>(c.channels));
    EXPECT_EQ(Frames(s.samples, c.channels, 0, 1), Frames(pcm, c.channels, target, 1));
    EXPECT_TRUE(fl.FLAC__stream_decoder_reset(dec));
    fl.FLAC__stream_decoder_finish(dec);
    fl.FLAC__stream_decoder_delete(dec);
    std::fclose(s.f);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, FlacRoundTrip,
                         ::testing::Values(FlacCase{"Stereo16", 2, 16, 5}, FlacCase{"Mono24", 1, 24, 8}),
                         [](const ::testing::TestParamInfo<FlacCase>& info) { return std::string(info.param.name); });

}  // namespace
