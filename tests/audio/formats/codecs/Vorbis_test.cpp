// Ogg Vorbis output and input: lossy round trips checked by ffmpeg and our input, files of the
// native encoders read by us, comments, appending, the rate setters and failures.
#include <gtest/gtest.h>

#include <cmath>

#include "audio/formats/vorbis/AuVorbis.h"
#include "audio/formats/wave/AuWave.h"
#include "audio/formats/vorbis/Codec.h"
#include "audio/formats/vorbis/VorbisEnc.h"
#include "audio/formats/codecs/CodecTestUtil.h"

using namespace codectest;

namespace {

// 16-bit samples of any PCM (top 16 bits; 8-bit scaled up), for correlation.
std::vector<int32_t> As16(const std::string& pcm, int bits) {
  std::vector<int32_t> s = Samples(pcm, bits);
  for (int32_t& v : s) v = bits == 8 ? v * 256 : bits > 16 ? v >> (bits - 16) : v;
  return s;
}

struct LossyCase {
  const char* name;
  int bits, channels, rate, frames;
  uint32_t chunk;  // bytes per pull of the source; not whole frames
  TVorbisBitRate nominal;
};

void PrintTo(const LossyCase& c, std::ostream* os) { *os << c.name; }

class VorbisLossy : public ::testing::TestWithParam<LossyCase> {};

TEST_P(VorbisLossy, FfmpegAndOurInputDecodeTheSignal) {
  const LossyCase& c = GetParam();
  TempDir dir;
  const std::string pcm = Signal(c.frames, c.channels, c.bits, c.rate);
  {
    TBytesIn src(pcm, c.bits, c.channels, c.rate);
    src.MaxChunk = c.chunk;
    TVorbisOut out(nullptr);
    out.SetDesiredNominalBitrate(c.nominal);
    out.SetInput(&src);
    out.SetWideFileName(dir.W(L"o.ogg"));
    ASSERT_EQ(RunBlocking(out), L"");
    EXPECT_FALSE(src.Busy());
  }
  auto info = Probe(dir.U(L"o.ogg"));
  EXPECT_EQ(info["codec_name"], "vorbis");
  EXPECT_EQ(info["sample_rate"], std::to_string(c.rate));
  EXPECT_EQ(info["channels"], std::to_string(c.channels));
  const std::vector<int32_t> ref = As16(pcm, c.bits);
  const std::vector<int32_t> ff = Samples(FfmpegPcm(dir.U(L"o.ogg"), "s16le"), 16);
  EXPECT_NEAR((double)ff.size() / c.channels, c.frames, 1);
  // The encoder keeps only the low band of a 5.1 stream's LFE channel.
  const double like = c.channels == 6 ? 0.9 : 0.95;
  EXPECT_GT(Correlation(ref, ff, c.channels, 0), like);

  TVorbisIn in(nullptr);
  in.SetWideFileName(dir.W(L"o.ogg"));
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.BitsPerSample(), 16);
  EXPECT_EQ(in.Channels(), c.channels);
  EXPECT_EQ(in.SampleRate(), c.rate);
  EXPECT_NEAR((double)in.TotalSamples(), c.frames, 1);
  if (c.nominal != brAutoSelect) {
    EXPECT_EQ(in.GetBitRate(), VorbisBitRateValue(c.nominal));
  }
  const std::vector<int32_t> ours = Samples(ReadAll(&in, 5000), 16);
  EXPECT_EQ(ours.size(), ff.size());
  EXPECT_GT(Correlation(ref, ours, c.channels, 0), like);
  EXPECT_GT(Correlation(ff, ours, c.channels, 0), 0.99);
}

INSTANTIATE_TEST_SUITE_P(Formats, VorbisLossy,
                         ::testing::Values(LossyCase{"Stereo16", 16, 2, 44100, 3 * 44100 + 7, 4093, brAutoSelect},
                                           LossyCase{"Mono8", 8, 1, 22050, 30000, 999, brAutoSelect},
                                           LossyCase{"Stereo24Managed", 24, 2, 48000, 50000, 1001, bitrate128},
                                           LossyCase{"Stereo32", 32, 2, 44100, 40000, 24576, brAutoSelect},
                                           LossyCase{"Quad24", 24, 4, 44100, 20000, 24575, brAutoSelect},
                                           // Channels in the order of interleaved PCM, not the stream's.
                                           LossyCase{"Three16", 16, 3, 44100, 20000, 4095, brAutoSelect},
                                           LossyCase{"FivePointOne16", 16, 6, 48000, 30000, 4095, brAutoSelect},
                                           LossyCase{"Eight16", 16, 8, 48000, 20000, 4095, brAutoSelect}),
                         [](const ::testing::TestParamInfo<LossyCase>& i) { return std::string(i.param.name); });

// Files of ffmpeg and oggenc read by our input: the right format, length and signal, in pulls
// of at most 12288 bytes; a window cut by EndSample delivers exactly its bytes.
TEST(VorbisIn, ReadsFilesOfTheNativeEncoders) {
  TempDir dir;
  const int frames = 2 * 44100 + 11;
  const std::string pcm = Signal(frames, 2, 16);
  testfiles::WriteBytes(dir.W(L"src.raw"), pcm);
  Peer("ffmpeg -nostdin -v error -f s16le -ar 44100 -ac 2 -i " + peer::Quote(dir.U(L"src.raw")) +
       " -c:a libvorbis -q:a 4 -y " + peer::Quote(dir.U(L"ff.ogg")));
  Peer("oggenc -Q -r -B 16 -C 2 -R 44100 -q 3 -t " + peer::Quote("\xE6\xB5\x8B\xE8\xAF\x95 Caf\xC3\xA9") + " -a Artist -o " +
       peer::Quote(dir.U(L"enc.ogg")) + " " + peer::Quote(dir.U(L"src.raw")));
  for (const wchar_t* name : {L"ff.ogg", L"enc.ogg"}) {
    SCOPED_TRACE(WideToAnsi(name));
    TVorbisIn in(nullptr);
    in.SetWideFileName(dir.W(name));
    ASSERT_TRUE(in.Valid());
    EXPECT_EQ(in.Channels(), 2);
    EXPECT_EQ(in.SampleRate(), 44100);
    EXPECT_EQ(in.TotalSamples(), frames);
    in.Init();
    std::string got;
    void* p = nullptr;
    for (;;) {
      uint32_t n = 100000;
      in.GetData(p, n);
      if (!n) break;
      EXPECT_LE(n, 12288u);
      got.append(static_cast<char*>(p), n);
    }
    in.Flush();
    EXPECT_EQ(got.size(), pcm.size());
    EXPECT_GT(Correlation(Samples(pcm, 16), Samples(got, 16), 2, 0), 0.95);

    in.SetStartSample(1000);
    in.SetEndSample(9999);
    EXPECT_EQ(ReadAll(&in).size(), 9000u * 4);
  }
  TVorbisIn in(nullptr);
  in.SetWideFileName(dir.W(L"enc.ogg"));
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.CommonTags()->Title(), L"\u6d4b\u8bd5 Caf\u00e9");
  EXPECT_EQ(in.CommonTags()->Artist(), L"Artist");
}

// Comments go out in UTF-8, are read back by ffprobe and our input, and are set per file.
TEST(VorbisTags, CommentsWrittenOncePerSet) {
  TempDir dir;
  const std::string pcm = Signal(20000, 2, 16);
  TBytesIn src(pcm, 16, 2, 44100);
  TVorbisOut out(nullptr);
  out.SetInput(&src);
  out.SetWideFileName(dir.W(L"t.ogg"));
  out.Comments()->SetTitle(L"\u91c7\u6837\u53d8\u5f62 \u00dcber");
  out.Comments()->SetArtist(L"K\u00fcnstler");
  out.Comments()->SetDate(L"2008");
  out.Comments()->SetTrack(L"3");
  ASSERT_EQ(RunBlocking(out), L"");
  out.SetWideFileName(dir.W(L"second.ogg"));
  ASSERT_EQ(RunBlocking(out), L"");

  auto info = Probe(dir.U(L"t.ogg"));
  EXPECT_EQ(info["tag:title"], "\xE9\x87\x87\xE6\xA0\xB7\xE5\x8F\x98\xE5\xBD\xA2 \xC3\x9C\x62\x65r");
  EXPECT_EQ(info["tag:artist"], "K\xC3\xBCnstler");
  EXPECT_EQ(info["tag:date"], "2008");
  EXPECT_EQ(info["tag:track"], "3");
  TVorbisIn in(nullptr);
  in.SetWideFileName(dir.W(L"t.ogg"));
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.CommonTags()->Title(), L"\u91c7\u6837\u53d8\u5f62 \u00dcber");
  EXPECT_EQ(in.CommonTags()->Year(), "2008");
  EXPECT_EQ(in.CommonTags()->Track(), "3");

  auto second = Probe(dir.U(L"second.ogg"));
  EXPECT_EQ(second.count("tag:title"), 0u);
  EXPECT_EQ(second.count("tag:artist"), 0u);
}

TEST(VorbisOut, RateSettersKeepTheirRelations) {
  TVorbisOut out(nullptr);
  out.SetMinimumBitrate(bitrate64);
  EXPECT_EQ(out.MinimumBitrate(), brAutoSelect) << "no minimum without a nominal rate";
  out.SetDesiredMaximumBitrate(bitrate160);
  EXPECT_EQ(out.DesiredMaximumBitrate(), brAutoSelect) << "no maximum without a nominal rate";
  out.SetDesiredNominalBitrate(bitrate128);
  EXPECT_EQ(out.DesiredMaximumBitrate(), bitrate128);
  out.SetMinimumBitrate(bitrate160);
  EXPECT_EQ(out.MinimumBitrate(), brAutoSelect) << "a minimum above the nominal is ignored";
  out.SetMinimumBitrate(bitrate112);
  EXPECT_EQ(out.MinimumBitrate(), bitrate112);
  out.SetDesiredMaximumBitrate(bitrate96);
  EXPECT_EQ(out.DesiredMaximumBitrate(), bitrate128) << "a maximum below the nominal is ignored";
  out.SetDesiredMaximumBitrate(bitrate192);
  EXPECT_EQ(out.DesiredMaximumBitrate(), bitrate192);
  out.SetDesiredNominalBitrate(bitrate96);
  EXPECT_EQ(out.MinimumBitrate(), bitrate96);
  EXPECT_EQ(out.DesiredMaximumBitrate(), bitrate192);
  out.SetDesiredNominalBitrate(brAutoSelect);
  EXPECT_EQ(out.DesiredMaximumBitrate(), brAutoSelect);
}

// foAppend adds a second logical stream after the old data; a missing file is created.
// The encoder's own verdict on a managed bit rate at a sample rate and channel count.
bool EncoderTakes(int Channels, int Rate, long BitRate) {
  vorbis_info vi;
  codec::Entries.vorbis_info_init(&vi);
  const bool ok = vorbisenc::Entries.vorbis_encode_init(&vi, Channels, Rate, -1, BitRate, BitRate) == 0;
  codec::Entries.vorbis_info_clear(&vi);
  return ok;
}

// Pairs of sample rate and bit rate that the encoder refuses still give a file, at the asked rate
// and channels: with the nearest bit rate the encoder takes (the end of its range toward the
// asked one: a bit/s nearer is refused), or, at sample rates where it takes no managed rate at
// all, the asked one held by the bit-rate manager (the file's real rate near it).
TEST(VorbisOut, RefusedBitRatesBecomeTheNearestTaken) {
  TempDir dir;
  LoadVorbisLibraries();
  struct Case {
    int rate, channels;
    TVorbisBitRate nominal;
  } cases[] = {{8000, 1, bitrate128},   {8000, 1, bitrate499},   {8000, 2, bitrate320},
               {44100, 2, bitrate24},   {44100, 1, bitrate320},  {192000, 2, bitrate128},
               {192000, 2, bitrate160}, {192000, 1, bitrate128}, {96000, 2, bitrate144}};
  for (const Case& c : cases) {
    const long asked = VorbisBitRateValue(c.nominal);
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " ch, " << asked << " bit/s");
    ASSERT_FALSE(EncoderTakes(c.channels, c.rate, asked)) << "a pair the encoder takes";
    const double seconds = 4;
    TBytesIn src(Signal((int)(c.rate * seconds), c.channels, 16, c.rate), 16, c.channels, c.rate);
    TVorbisOut out(nullptr);
    out.SetInput(&src);
    out.SetDesiredNominalBitrate(c.nominal);
    out.SetWideFileName(dir.W(L"r.ogg"));
    ASSERT_EQ(RunBlocking(out), L"");
    auto p = Probe(dir.U(L"r.ogg"));
    EXPECT_EQ(p["sample_rate"], std::to_string(c.rate));
    EXPECT_EQ(p["channels"], std::to_string(c.channels));
    const long got = std::stol(p["bit_rate"]);
    if (c.rate <= 50000) {
      EXPECT_TRUE(EncoderTakes(c.channels, c.rate, got)) << got;
      EXPECT_FALSE(EncoderTakes(c.channels, c.rate, got + (asked > got ? 1 : -1))) << got << " is not the nearest";
    } else {
      for (long r = 8000; r <= 2000000; r += 8000) ASSERT_FALSE(EncoderTakes(c.channels, c.rate, r)) << r;
      EXPECT_EQ(got, asked);
      const double real = testfiles::ReadBytes(dir.W(L"r.ogg")).size() * 8.0 / seconds;
      EXPECT_NEAR(real, (double)asked, asked * 0.15);
    }
    EXPECT_EQ(FfmpegPcm(dir.U(L"r.ogg"), "s16le").size(), (size_t)(c.rate * seconds) * 2 * c.channels);
  }
}

// ffprobe's name of a file's channel layout.
std::string LayoutOf(const std::string& UnixFile) {
  std::string l = Peer("ffprobe -v error -select_streams a:0 -show_entries stream=channel_layout "
                       "-of default=nw=1:nk=1 " + peer::Quote(UnixFile));
  while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
  return l;
}

// Per channel of interleaved 16-bit PCM, the index of the strongest of Freqs (Goertzel).
std::vector<int> TonesOf(const std::string& Pcm, int Channels, int Rate, const std::vector<double>& Freqs) {
  const std::vector<int32_t> s = Samples(Pcm, 16);
  const size_t frames = s.size() / Channels;
  std::vector<int> tones(Channels, -1);
  for (int c = 0; c < Channels; ++c) {
    double best = 0;
    for (size_t k = 0; k < Freqs.size(); ++k) {
      const double w = 2 * std::cos(2 * M_PI * Freqs[k] / Rate);
      double a = 0, b = 0;
      for (size_t f = frames / 4; f < frames * 3 / 4; ++f) {
        const double n = s[f * Channels + c] + w * a - b;
        b = a;
        a = n;
      }
      const double power = a * a + b * b - w * a * b;
      if (power > best) best = power, tones[c] = (int)k;
    }
  }
  return tones;
}

// Three to eight channels keep their speakers through our Vorbis output and input: a WAVE that
// ffmpeg makes in its layout of Vorbis streams of that count, a tone of its own on each speaker,
// becomes our .ogg, which ffmpeg decodes to the same layout with each tone on its speaker; our
// input of that .ogg into our WAVE writer gives a file whose mask ffprobe names as the same layout,
// again each tone on its speaker.
TEST(VorbisChannels, EachSpeakerKeepsItsToneThroughOggAndBack) {
  TempDir dir;
  struct Layout {
    const char* name;
    std::vector<const char*> speakers;
  } layouts[] = {{"3.0", {"FL", "FR", "FC"}},
                 {"quad", {"FL", "FR", "BL", "BR"}},
                 {"5.0", {"FL", "FR", "FC", "BL", "BR"}},
                 {"5.1", {"FL", "FR", "FC", "LFE", "BL", "BR"}},
                 {"6.1", {"FL", "FR", "FC", "LFE", "BC", "SL", "SR"}},
                 {"7.1", {"FL", "FR", "FC", "LFE", "BL", "BR", "SL", "SR"}}};
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.name);
    const int ch = (int)l.speakers.size(), rate = 44100;
    std::vector<double> freqs;
    std::vector<int> want;
    std::string inputs, join, map;
    for (int i = 0; i < ch; ++i) {
      // The encoder keeps only the lowest band of a 5.1 stream's LFE.
      freqs.push_back(std::string(l.speakers[i]) == "LFE" ? 70 : 400 + 300 * i);
      want.push_back(i);
      inputs += " -f lavfi -i sine=frequency=" + std::to_string((int)freqs[i]) + ":sample_rate=44100:duration=0.5";
      join += "[" + std::to_string(i) + ":a]";
      map += (i ? "|" : "") + std::to_string(i) + ".0-" + l.speakers[i];
    }
    Peer("ffmpeg -nostdin -v error -y" + inputs + " -filter_complex '" + join + "join=inputs=" + std::to_string(ch) +
         ":channel_layout=" + l.name + ":map=" + map + "' -c:a pcm_s16le " + peer::Quote(dir.U(L"src.wav")));
    ASSERT_EQ(LayoutOf(dir.U(L"src.wav")), l.name);
    ASSERT_EQ(TonesOf(FfmpegPcm(dir.U(L"src.wav"), "s16le"), ch, rate, freqs), want);

    TWaveIn wav(nullptr);
    wav.SetWideFileName(dir.W(L"src.wav"));
    TVorbisOut ogg(nullptr);
    ogg.SetInput(&wav);
    ogg.SetWideFileName(dir.W(L"o.ogg"));
    ASSERT_EQ(RunBlocking(ogg), L"");
    EXPECT_EQ(LayoutOf(dir.U(L"o.ogg")), l.name);
    EXPECT_EQ(TonesOf(FfmpegPcm(dir.U(L"o.ogg"), "s16le"), ch, rate, freqs), want) << "ffmpeg's decoding of our .ogg";

    TVorbisIn back(nullptr);
    back.SetWideFileName(dir.W(L"o.ogg"));
    TWaveOut out(nullptr);
    out.SetCreateNonMsHeaders(false);
    out.SetInput(&back);
    out.SetWideFileName(dir.W(L"back.wav"));
    ASSERT_EQ(RunBlocking(out), L"");
    EXPECT_EQ(LayoutOf(dir.U(L"back.wav")), l.name);
    EXPECT_EQ(TonesOf(FfmpegPcm(dir.U(L"back.wav"), "s16le"), ch, rate, freqs), want) << "our input of our .ogg";
  }
}

TEST(VorbisOut, AppendAddsALogicalStream) {
  TempDir dir;
  const std::string a = Signal(30000, 2, 16), b = Signal(17000, 2, 16);
  TVorbisOut out(nullptr);
  out.SetFileMode(foAppend);
  out.SetWideFileName(dir.W(L"a.ogg"));
  TBytesIn first(a, 16, 2, 44100);
  out.SetInput(&first);
  ASSERT_EQ(RunBlocking(out), L"");
  TBytesIn second(b, 16, 2, 44100);
  out.SetInput(&second);
  out.SetSerial(7);
  ASSERT_EQ(RunBlocking(out), L"");
  TVorbisIn in(nullptr);
  in.SetWideFileName(dir.W(L"a.ogg"));
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.TotalSamples(), 30000 + 17000);
  const std::vector<int32_t> got = Samples(ReadAll(&in), 16);
  EXPECT_EQ(got.size(), (size_t)(30000 + 17000) * 2);
  std::vector<int32_t> tail(got.begin() + 30000 * 2, got.end());
  EXPECT_GT(Correlation(Samples(b, 16), tail, 2, 0), 0.95);
}

// Garbage, pulls before Init, a refused bit rate and a folder that does not exist: each reaches
// the caller or the output's events; nothing is left busy.
TEST(VorbisFailures, ReportedAndNothingLeftBusy) {
  TempDir dir;
  testfiles::WriteBytes(dir.W(L"text.ogg"), std::string(5000, 'x'));
  TVorbisIn in(nullptr);
  in.SetWideFileName(dir.W(L"text.ogg"));
  EXPECT_FALSE(in.Valid());
  try {
    in.Init();
    ADD_FAILURE() << "nothing raised";
  } catch (const EAuException& e) {
    EXPECT_EQ(std::wstring(e.Message()).rfind(L"Failed to open an ogg file: -", 0), 0u) << WideToAnsi(e.Message());
  }
  in.Reset();
  EXPECT_FALSE(in.Busy());
  TVorbisIn fresh(nullptr);
  void* p = nullptr;
  uint32_t n = 10;
  try {
    fresh.GetData(p, n);
    ADD_FAILURE() << "nothing raised";
  } catch (const EAuException& e) {
    EXPECT_EQ(e.Message(), L"The Stream is not opened");
  }

  struct Case {
    const char* name;
    int rate, channels;
    TVorbisBitRate nominal;
    std::wstring file;
    const char* message;
  } cases[] = {
      {"NoName", 44100, 2, brAutoSelect, L"", "File name is not assigned."},
      {"NoFolder", 44100, 2, brAutoSelect, dir.W(L"none\\x.ogg"), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBytesIn src(Signal(1000, c.channels, 16, c.rate), 16, c.channels, c.rate);
    TVorbisOut out(nullptr);
    out.SetInput(&src);
    out.SetDesiredNominalBitrate(c.nominal);
    out.SetWideFileName(c.file);
    TRunEvents ev = RunWithEvents(out);
    EXPECT_TRUE(ev.Done);
    ASSERT_EQ(ev.Errors.size(), 1u);
    if (c.message) {
      EXPECT_EQ(ev.Errors[0], c.message);
    }
    EXPECT_FALSE(src.Busy());
    EXPECT_FALSE(out.Busy());
  }
}

}  // namespace
