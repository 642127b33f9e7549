// lame_enc.dll driven through its stream interface with the 331-byte configuration record, checked
// with ffprobe/ffmpeg; libtag_c.dll writing an ID3v2 tag with Chinese text into the result.
#include <gtest/gtest.h>

#include <ostream>

#include <cstdio>
#include <cstring>

#include "deps/DepLibs.h"
#include "deps/DepTest.h"

using namespace deptest;

namespace {

struct Mp3Case {
  const char* name;
  int channels;
  int mode;      // record offset 20
  int kbps;      // offset 24: constant rate, or the minimum with VBR
  bool vbr;      // offsets 64 and 68, then the VBR header written through beWriteVBRHeader
  int quality;   // offset 72 with VBR
};

void PrintTo(const Mp3Case& c, std::ostream* os) { *os << c.name; }

void Put32(unsigned char* rec, int offset, uint32_t v) { std::memcpy(rec + offset, &v, 4); }

// Encodes 16-bit `pcm` into `path` the way the MP3 output does; returns an error text or "".
std::string EncodeMp3(const LameLib& lame, const Mp3Case& c, const std::vector<int32_t>& pcm, const std::string& path) {
  unsigned char rec[331] = {};
  Put32(rec, 0, 256);           // LAME configuration
  Put32(rec, 4, 1);             // structure version
  Put32(rec, 8, 331);           // structure size
  Put32(rec, 12, kRate);
  Put32(rec, 20, c.mode);
  Put32(rec, 24, c.kbps);
  Put32(rec, 60, 1);            // original
  Put32(rec, 64, c.vbr);        // write VBR header
  Put32(rec, 68, c.vbr);        // enable VBR
  Put32(rec, 72, c.vbr ? c.quality : 0);
  Put32(rec, 80, 2);            // VBR method
  Put32(rec, 84, 0xFFFFFFFFu);  // no bit reservoir
  DWORD chunk = 0, outSize = 0;
  HBE_STREAM h = nullptr;
  BE_ERR e = lame.beInitStream(reinterpret_cast<PBE_CONFIG>(rec), &chunk, &outSize, &h);
  if (e != 0) return "beInitStream returned " + std::to_string(e);
  if (chunk == 0 || outSize == 0) return "beInitStream gave no chunk or buffer size";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return "cannot create " + path;
  std::vector<SHORT> in(pcm.begin(), pcm.end());
  std::vector<BYTE> out(outSize);
  std::string error;
  for (size_t pos = 0; pos < in.size() && error.empty(); pos += chunk) {
    DWORD n = static_cast<DWORD>(std::min<size_t>(chunk, in.size() - pos)), got = 0;
    if ((e = lame.beEncodeChunk(h, n, in.data() + pos, out.data(), &got)) != 0)
      error = "beEncodeChunk returned " + std::to_string(e);
    else if (got > outSize)
      error = "beEncodeChunk overran its buffer";
    else
      std::fwrite(out.data(), 1, got, f);
  }
  DWORD got = 0;
  if (error.empty() && (e = lame.beDeinitStream(h, out.data(), &got)) != 0) error = "beDeinitStream returned " + std::to_string(e);
  if (error.empty()) std::fwrite(out.data(), 1, got, f);
  std::fclose(f);
  if ((e = lame.beCloseStream(h)) != 0 && error.empty()) error = "beCloseStream returned " + std::to_string(e);
  if (error.empty() && c.vbr && (e = lame.beWriteVBRHeader(path.c_str())) != 0)
    error = "beWriteVBRHeader returned " + std::to_string(e);
  return error;
}

class LameRoundTrip : public ::testing::TestWithParam<Mp3Case> {};

TEST_P(LameRoundTrip, FfmpegDecodesTheSignal) {
  const Mp3Case& c = GetParam();
  LameLib lame;
  ASSERT_TRUE(lame.Complete()) << lame.Missing();
  TempDir dir;
  const std::vector<int32_t> pcm = MakeSignal(kFrames, c.channels, 16);
  ASSERT_EQ(EncodeMp3(lame, c, pcm, dir.A("t.mp3")), "");

  auto info = Probe(dir.U("t.mp3"));
  EXPECT_EQ(info["codec_name"], "mp3") << info["error"];
  EXPECT_EQ(info["channels"], std::to_string(c.channels));
  EXPECT_EQ(info["sample_rate"], "44100");
  if (!c.vbr) {
    EXPECT_EQ(info["bit_rate"], std::to_string(c.kbps * 1000));
  }

  Decoded d = FfmpegDecode(dir.U("t.mp3"), 16);
  ASSERT_EQ(d.exitCode, 0) << d.err;
  const long frames = static_cast<long>(d.samples.size()) / c.channels;
  int lag = 0;
  const double snr = BestSnr(pcm, d.samples, c.channels, 3000, &lag);
  if (c.vbr) {
    // The VBR header carries the encoder delay and padding: the decoder gives back exactly the input.
    EXPECT_EQ(frames, kFrames);
    EXPECT_EQ(lag, 0);
  } else {
    EXPECT_GE(frames, kFrames);
    EXPECT_LE(frames, kFrames + 3 * 1152);
  }
  EXPECT_GT(snr, 18.0) << "delay " << lag;
}

INSTANTIATE_TEST_SUITE_P(Configs, LameRoundTrip,
                         ::testing::Values(Mp3Case{"Cbr128Stereo", 2, 0, 128, false, 0},
                                           Mp3Case{"VbrMono", 1, 3, 64, true, 2}),
                         [](const ::testing::TestParamInfo<Mp3Case>& info) { return std::string(info.param.name); });

// The tag the MP3 output writes at the end of a run: UTF-16 ID3v2 frames from UTF-8 strings.
TEST(TagLibC, WritesUnicodeId3v2TagIntoLameMp3) {
  LameLib lame;
  TagLibC tl;
  ASSERT_TRUE(lame.Complete()) << lame.Missing();
  ASSERT_TRUE(tl.Complete()) << tl.Missing();
  TempDir dir;
  const Mp3Case c{"", 2, 0, 128, false, 0};
  ASSERT_EQ(EncodeMp3(lame, c, MakeSignal(kFrames, 2, 16), dir.A("tag.mp3")), "");
  Decoded before = FfmpegDecode(dir.U("tag.mp3"), 16);
  ASSERT_EQ(before.exitCode, 0) << before.err;

  const char* title = "\xE9\x87\x87\xE6\xA0\xB7\xE5\x8F\x98\xE5\xBD\xA2 \xC3\x9C\x62\x65r";  // "采样变形 Über"
  const char* artist = "\xE6\xB5\x8B\xE8\xAF\x95";                                            // "测试"
  tl.taglib_set_strings_unicode(1);
  tl.taglib_id3v2_set_default_text_encoding(TagLib_ID3v2_UTF16);
  TagLib_File* f = tl.taglib_file_new(dir.A("tag.mp3").c_str());
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(tl.taglib_file_is_valid(f));
  TagLib_Tag* tag = tl.taglib_file_tag(f);
  tl.taglib_tag_set_title(tag, title);
  tl.taglib_tag_set_artist(tag, artist);
  tl.taglib_tag_set_album(tag, "Album");
  tl.taglib_tag_set_genre(tag, "Ambient");
  tl.taglib_tag_set_year(tag, 2008);
  tl.taglib_tag_set_track(tag, 7);
  EXPECT_TRUE(tl.taglib_file_save(f));
  tl.taglib_file_free(f);

  // Read back through the library...
  f = tl.taglib_file_new(dir.A("tag.mp3").c_str());
  ASSERT_NE(f, nullptr);
  tag = tl.taglib_file_tag(f);
  EXPECT_STREQ(tl.taglib_tag_title(tag), title);
  EXPECT_STREQ(tl.taglib_tag_artist(tag), artist);
  EXPECT_EQ(tl.taglib_tag_year(tag), 2008u);
  EXPECT_EQ(tl.taglib_tag_track(tag), 7u);
  const TagLib_AudioProperties* props = tl.taglib_file_audioproperties(f);
  ASSERT_NE(props, nullptr);
  EXPECT_EQ(tl.taglib_audioproperties_samplerate(props), kRate);
  EXPECT_EQ(tl.taglib_audioproperties_channels(props), 2);
  tl.taglib_tag_free_strings();
  tl.taglib_file_free(f);

  // ...in UTF-16 frames...
  const std::string bytes = ReadBinary(dir.A("tag.mp3"));
  ASSERT_EQ(bytes.compare(0, 3, "ID3"), 0);
  const size_t tit2 = bytes.find("TIT2");
  ASSERT_NE(tit2, std::string::npos);
  EXPECT_EQ(bytes[tit2 + 10], 1) << "text encoding of the title frame";

  // ...and through ffprobe, with the audio untouched.
  auto info = Probe(dir.U("tag.mp3"));
  EXPECT_EQ(info["tag:title"], title) << info["error"];
  EXPECT_EQ(info["tag:artist"], artist);
  EXPECT_EQ(info["tag:date"], "2008");
  EXPECT_EQ(info["tag:track"], "7");
  Decoded after = FfmpegDecode(dir.U("tag.mp3"), 16);
  ASSERT_EQ(after.exitCode, 0) << after.err;
  EXPECT_EQ(FirstDifference(before.samples, after.samples), -1);
}

}  // namespace
