// ogg.dll, vorbis.dll and vorbisenc.dll encoding in the Ogg Vorbis output's call order, checked with
// ffprobe/ffmpeg; vorbisfile.dll decoding through callbacks as the Ogg Vorbis input does.
#include <gtest/gtest.h>

#include <ostream>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "deps/DepLibs.h"
#include "deps/DepTest.h"

using namespace deptest;

namespace {

struct VorbisCase {
  const char* name;
  long nominal;    // bit/s for the managed set-up; 0 for quality-based encoding
  float quality;
};

void PrintTo(const VorbisCase& c, std::ostream* os) { *os << c.name; }

const char* const kTitle = "\xE9\x87\x87\xE6\xA0\xB7 Vorbis";  // "采样 Vorbis"

struct VorbisLibs {
  OggLib ogg;
  VorbisLib vorbis;
  VorbisFileLib file;
  VorbisEncLib enc;
  std::string Missing() const {
    std::string m;
    for (const DepLib* l : std::initializer_list<const DepLib*>{&ogg, &vorbis, &file, &enc})
      if (!l->Missing().empty()) m += (m.empty() ? "" : "; ") + l->Missing();
    return m;
  }
  bool Complete() const { return ogg.Complete() && vorbis.Complete() && file.Complete() && enc.Complete(); }
};

bool WritePage(FILE* f, const ogg_page& page) {
  return std::fwrite(page.header, 1, page.header_len, f) == static_cast<size_t>(page.header_len) &&
         std::fwrite(page.body, 1, page.body_len, f) == static_cast<size_t>(page.body_len);
}

std::string EncodeVorbis(const VorbisLibs& l, const VorbisCase& c, const std::vector<int32_t>& pcm, const std::string& path) {
  const int channels = 2;
  vorbis_info vi;
  vorbis_comment vc;
  vorbis_dsp_state vd;
  vorbis_block vb;
  ogg_stream_state os;
  ogg_page page;
  ogg_packet packet, h1, h2, h3;
  l.vorbis.vorbis_info_init(&vi);
  if (c.nominal == 0) {
    l.enc.vorbis_encode_setup_vbr(&vi, channels, kRate, c.quality);
    l.enc.vorbis_encode_setup_init(&vi);
  } else if (l.enc.vorbis_encode_init(&vi, channels, kRate, -1, c.nominal, c.nominal) != 0) {
    l.vorbis.vorbis_info_clear(&vi);
    return "vorbis_encode_init refused the rates";
  }
  l.vorbis.vorbis_comment_init(&vc);
  l.vorbis.vorbis_comment_add_tag(&vc, "title", kTitle);
  l.vorbis.vorbis_analysis_init(&vd, &vi);
  l.vorbis.vorbis_block_init(&vd, &vb);
  l.ogg.ogg_stream_init(&os, 1234);
  l.vorbis.vorbis_analysis_headerout(&vd, &vc, &h1, &h2, &h3);
  l.ogg.ogg_stream_packetin(&os, &h1);
  l.ogg.ogg_stream_packetin(&os, &h2);
  l.ogg.ogg_stream_packetin(&os, &h3);
  std::string error;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) error = "cannot create " + path;
  while (f && error.empty() && l.ogg.ogg_stream_flush(&os, &page))
    if (!WritePage(f, page)) error = "short write";
  bool eos = false;
  long pos = 0;
  while (f && error.empty() && !eos) {
    const long n = std::min<long>(1024, kFrames - pos);
    float** buf = l.vorbis.vorbis_analysis_buffer(&vd, 1024);
    for (long i = 0; i < n; ++i)
      for (int ch = 0; ch < channels; ++ch) buf[ch][i] = pcm[(pos + i) * channels + ch] / 32768.0f;
    l.vorbis.vorbis_analysis_wrote(&vd, static_cast<int>(n));  // 0 at the end of the input
    pos += n;
    while (error.empty() && !eos && l.vorbis.vorbis_analysis_blockout(&vd, &vb) == 1) {
      l.vorbis.vorbis_analysis(&vb, nullptr);
      l.vorbis.vorbis_bitrate_addblock(&vb);
      while (error.empty() && !eos && l.vorbis.vorbis_bitrate_flushpacket(&vd, &packet)) {
        l.ogg.ogg_stream_packetin(&os, &packet);
        while (error.empty() && !eos && l.ogg.ogg_stream_pageout(&os, &page)) {
          if (!WritePage(f, page)) error = "short write";
          if (l.ogg.ogg_page_eos(&page)) eos = true;
        }
      }
    }
  }
  if (f) std::fclose(f);
  l.ogg.ogg_stream_clear(&os);
  l.vorbis.vorbis_block_clear(&vb);
  l.vorbis.vorbis_dsp_clear(&vd);
  l.vorbis.vorbis_comment_clear(&vc);
  l.vorbis.vorbis_info_clear(&vi);
  return error;
}

// vorbisfile callbacks over a FILE*.
size_t CbRead(void* ptr, size_t size, size_t count, void* src) { return std::fread(ptr, size, count, static_cast<FILE*>(src)); }
int CbSeek(void* src, ogg_int64_t offset, int whence) {
  return std::fseek(static_cast<FILE*>(src), static_cast<long>(offset), whence) == 0 ? 0 : -1;
}
int CbClose(void*) { return 0; }
long CbTell(void* src) { return std::ftell(static_cast<FILE*>(src)); }

class VorbisRoundTrip : public ::testing::TestWithParam<VorbisCase> {};

TEST_P(VorbisRoundTrip, FfmpegAndVorbisfileDecodeTheSignal) {
  const VorbisCase& c = GetParam();
  VorbisLibs l;
  ASSERT_TRUE(l.Complete()) << l.Missing();
  TempDir dir;
  const std::vector<int32_t> pcm = MakeSignal(kFrames, 2, 16);
  ASSERT_EQ(EncodeVorbis(l, c, pcm, dir.A("t.ogg")), "");

  auto info = Probe(dir.U("t.ogg"));
  EXPECT_EQ(info["codec_name"], "vorbis") << info["error"];
  EXPECT_EQ(info["channels"], "2");
  EXPECT_EQ(info["sample_rate"], "44100");
  EXPECT_EQ(info["tag:title"], kTitle);
  Decoded ff = FfmpegDecode(dir.U("t.ogg"), 16);
  ASSERT_EQ(ff.exitCode, 0) << ff.err;
  EXPECT_EQ(static_cast<long>(ff.samples.size()) / 2, kFrames);
  int lag = -1;
  EXPECT_GT(BestSnr(pcm, ff.samples, 2, 0, &lag), 25.0);

  FILE* f = std::fopen(dir.A("t.ogg").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  OggVorbis_File vf;
  const ov_callbacks cb{CbRead, CbSeek, CbClose, CbTell};
  ASSERT_EQ(l.file.ov_test_callbacks(f, &vf, nullptr, 0, cb), 0);
  ASSERT_EQ(l.file.ov_test_open(&vf), 0);
  vorbis_info* vi = l.file.ov_info(&vf, -1);
  ASSERT_NE(vi, nullptr);
  EXPECT_EQ(vi->channels, 2);
  EXPECT_EQ(vi->rate, kRate);
  if (c.nominal) {
    EXPECT_EQ(vi->bitrate_nominal, c.nominal);
  }
  vorbis_comment* vc = l.file.ov_comment(&vf, -1);
  ASSERT_NE(vc, nullptr);
  ASSERT_EQ(vc->comments, 1);
  EXPECT_EQ(std::string(vc->user_comments[0], vc->comment_lengths[0]), std::string("title=") + kTitle);
  EXPECT_EQ(l.file.ov_pcm_total(&vf, -1), kFrames);

  auto readAll = [&](long maxFrames) {
    std::vector<int32_t> out;
    char buf[12288];
    int section = 0;
    long got;
    while (static_cast<long>(out.size()) / 2 < maxFrames && (got = l.file.ov_read(&vf, buf, sizeof buf, 0, 2, 1, &section)) > 0)
      for (long i = 0; i + 1 < got; i += 2)
        out.push_back(static_cast<int16_t>(static_cast<unsigned char>(buf[i]) | (static_cast<unsigned char>(buf[i + 1]) << 8)));
    return out;
  };
  const std::vector<int32_t> all = readAll(kFrames * 2);
  EXPECT_EQ(static_cast<long>(all.size()) / 2, kFrames);
  EXPECT_GT(BestSnr(pcm, all, 2, 0), 25.0);

  const long target = kFrames / 2 + 17;
  ASSERT_EQ(l.file.ov_pcm_seek(&vf, target), 0);
  const std::vector<int32_t> tail = readAll(256);
  ASSERT_GE(tail.size(), 512u);
  int worst = 0;
  for (size_t i = 0; i < 512; ++i) worst = std::max(worst, std::abs(tail[i] - all[target * 2 + i]));
  EXPECT_LE(worst, 2) << "samples after the seek differ from the continuous decode";
  l.file.ov_clear(&vf);
  std::fclose(f);
}

INSTANTIATE_TEST_SUITE_P(Modes, VorbisRoundTrip,
                         ::testing::Values(VorbisCase{"Quality", 0, 0.2f}, VorbisCase{"Nominal128k", 128000, 0.0f}),
                         [](const ::testing::TestParamInfo<VorbisCase>& info) { return std::string(info.param.name); });

}  // namespace
