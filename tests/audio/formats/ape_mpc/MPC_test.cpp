// Musepack: TMPCIn against Debian's mpcenc and mpcdec, TMPCOut read back by ffmpeg and mpcdec,
// windows and seeks, tags, the sample conversion, the encoder's failure paths and damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "audio/formats/mpc/AuMPC.h"
#include "classlib/WinApi.h"
#include "common/Peer.h"
#include "audio/formats/wave/WaveTestUtil.h"

using namespace wavetest;

namespace {

// A stereo test signal: two sines of different pitch.
std::vector<int16_t> Tones(int frames, int rate) {
  std::vector<int16_t> v((size_t)frames * 2);
  for (int i = 0; i < frames; ++i) {
    v[2 * i] = (int16_t)std::lrint(12000 * std::sin(2 * M_PI * 440.0 * i / rate));
    v[2 * i + 1] = (int16_t)std::lrint(9000 * std::sin(2 * M_PI * 1000.0 * i / rate));
  }
  return v;
}

std::string Bytes(const std::vector<int16_t>& v) {
  return std::string(reinterpret_cast<const char*>(v.data()), v.size() * 2);
}

// The PCM of a WAVE file written by a peer (the data chunk's body).
std::vector<int16_t> WavData(const std::string& wav) {
  size_t at = 12;
  while (at + 8 <= wav.size()) {
    uint32_t len = Get32(wav, at + 4);
    if (wav.compare(at, 4, "data") == 0) return As<int16_t>(wav.substr(at + 8, len));
    at += 8 + len + (len & 1);
  }
  return {};
}

int MaxDiff(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  int m = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) m = std::max(m, std::abs(a[i] - b[i]));
  return m;
}

double Correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    ab += (double)a[i] * b[i];
    aa += (double)a[i] * a[i];
    bb += (double)b[i] * b[i];
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// ffmpeg's decoder neither drops the decoder delay nor cuts the last frame: the best correlation
// of its first frames over delays of up to three frames.
double DelayedCorrelation(const std::vector<int16_t>& decoded, const std::vector<int16_t>& source) {
  const size_t n = std::min<size_t>(source.size(), 2 * 20000);
  double best = -1;
  for (size_t lag = 0; lag <= 2 * 3 * 1152 && lag + n <= decoded.size(); lag += 2) {
    std::vector<int16_t> a(decoded.begin() + lag, decoded.begin() + lag + n), b(source.begin(), source.begin() + n);
    best = std::max(best, Correlation(a, b));
  }
  return best;
}

// A Musepack file made by Debian's encoder from a stereo 16-bit signal.
std::wstring MakeWithMpcenc(const TempDir& dir, const std::vector<int16_t>& pcm, int rate,
                            const std::string& extra = "") {
  std::wstring wav = dir.File(L"src.wav"), mpc = dir.File(L"peer.mpc");
  WriteBytes(wav, PcmWav16(2, rate, pcm));
  Peer("mpcenc --silent --overwrite " + extra + " " + Q(wav) + " " + Q(mpc));
  return mpc;
}

std::vector<int16_t> DecodeWithMpcdec(const TempDir& dir, const std::wstring& mpc) {
  std::wstring out = dir.File(L"peer-decoded.wav");
  DeleteFileW(out.c_str());
  Peer("mpcdec " + Q(mpc) + " " + Q(out) + " 2>/dev/null");
  return WavData(ReadBytes(out));
}

std::vector<int16_t> ReadMPC(const std::wstring& file, uint32_t ask = 10000, int64_t start = 0, int64_t end = -1) {
  TMPCIn in(nullptr);
  in.SetWideFileName(file);
  EXPECT_TRUE(in.Valid());
  in.SetStartSample(start);
  in.SetEndSample(end);
  return As<int16_t>(ReadAll(&in, ask));
}

void Encode(TAuInput* src, const std::wstring& file, TMPCOut* out = nullptr) {
  TMPCOut own(nullptr);
  TMPCOut* o = out ? out : &own;
  o->SetInput(src);
  o->SetWideFileName(file);
  o->BlockingRun();
}

}  // namespace

TEST(MPCIn, DecodesPeerFilesAsMpcdecDoes) {
  TempDir dir;
  const auto pcm = Tones(44100 * 2 + 777, 44100);
  std::wstring mpc = MakeWithMpcenc(dir, pcm, 44100);
  auto theirs = DecodeWithMpcdec(dir, mpc);
  ASSERT_FALSE(theirs.empty());

  TMPCIn in(nullptr);
  in.SetWideFileName(mpc);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.SampleRate(), 44100);
  EXPECT_EQ(in.Channels(), 2);
  EXPECT_EQ(in.BitsPerSample(), 16);
  EXPECT_EQ(in.TotalSamples(), (int64_t)pcm.size() / 2);
  EXPECT_GT(in.GetBitRate(), 32);
  EXPECT_LT(in.GetBitRate(), 400);

  // Pulls of 10000 bytes end inside decoded blocks: the rest is carried to the next pull.
  auto ours = As<int16_t>(ReadAll(&in, 10000));
  ASSERT_EQ(ours.size(), theirs.size());
  EXPECT_LE(MaxDiff(ours, theirs), 1);
  EXPECT_GT(Correlation(ours, pcm), 0.99);

  // ffmpeg's own decoder (whole frames, delay kept) agrees within a few frames.
  auto f = As<int16_t>(Peer("ffmpeg -v error -i " + Q(mpc) + " -f s16le -ac 2 -"));
  EXPECT_NEAR((double)f.size() / 2, (double)ours.size() / 2, 3 * 1152);
  EXPECT_GT(DelayedCorrelation(f, pcm), 0.99);
}

// Files of the native encoder in other shapes: mono, the other sample rates it takes, its
// extreme presets, and an ID3v2 tag put in front by a tagger. Ours decode as mpcdec does.
TEST(MPCIn, PeerFilesOfOtherShapes) {
  struct Case {
    const char* name;
    int channels, rate;
    const char* options;
    bool id3v2;
  } cases[] = {{"mono", 1, 44100, "", false},
               {"48000", 2, 48000, "--thumb", false},
               {"32000", 2, 32000, "--insane", false},
               {"id3v2", 2, 44100, "", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const int frames = c.rate + 333;
    const auto stereo = Tones(frames, c.rate);
    std::vector<int16_t> pcm = stereo;
    if (c.channels == 1) {
      pcm.resize(frames);
      for (int i = 0; i < frames; ++i) pcm[i] = stereo[2 * i];
    }
    std::wstring wav = dir.File(L"src.wav"), mpc = dir.File(L"peer.mpc");
    WriteBytes(wav, PcmWav16((uint16_t)c.channels, (uint32_t)c.rate, pcm));
    Peer("mpcenc --silent --overwrite " + std::string(c.options) + " " + Q(wav) + " " + Q(mpc));
    if (c.id3v2) {
      std::string tag = std::string("ID3\x03\0\0\0\0\x02\x01", 10) + "TIT2" + std::string("\0\0\0\x06\0\0\0", 7) +
                        "Hello" + std::string(241, '\0');
      WriteBytes(mpc, tag + ReadBytes(mpc));
    }
    auto theirs = DecodeWithMpcdec(dir, mpc);
    ASSERT_FALSE(theirs.empty());
    TMPCIn in(nullptr);
    in.SetWideFileName(mpc);
    ASSERT_TRUE(in.Valid());
    EXPECT_EQ(in.SampleRate(), c.rate);
    EXPECT_EQ(in.Channels(), c.channels);
    EXPECT_EQ(in.TotalSamples(), frames);
    auto ours = As<int16_t>(ReadAll(&in, 10000));
    ASSERT_EQ(ours.size(), theirs.size());
    EXPECT_LE(MaxDiff(ours, theirs), 1);
    EXPECT_GT(Correlation(ours, pcm), 0.98);
  }
}

TEST(MPCIn, WindowsAndSeeksDeliverTheRequestedFrames) {
  TempDir dir;
  const auto pcm = Tones(44100 * 3, 44100);
  std::wstring mpc = MakeWithMpcenc(dir, pcm, 44100);
  auto whole = ReadMPC(mpc);
  ASSERT_EQ(whole.size(), pcm.size());

  struct Case { int64_t start, end; };
  for (Case c : {Case{0, 999}, Case{10000, 30000}, Case{100000, -1}, Case{44100 * 2 + 5, 44100 * 2 + 5}}) {
    auto part = ReadMPC(mpc, 4096, c.start, c.end);
    int64_t last = c.end < 0 ? (int64_t)whole.size() / 2 - 1 : c.end;
    ASSERT_EQ((int64_t)part.size(), (last - c.start + 1) * 2) << c.start;
    std::vector<int16_t> expect(whole.begin() + c.start * 2, whole.begin() + (last + 1) * 2);
    EXPECT_LE(MaxDiff(part, expect), 1) << c.start;
  }

  // Pulls smaller than a frame deliver their bytes and do not end the stream.
  EXPECT_EQ(ReadMPC(mpc, 3, 0, 2999), std::vector<int16_t>(whole.begin(), whole.begin() + 6000));

  // A seek while busy continues at the frame asked for.
  TMPCIn in(nullptr);
  in.SetWideFileName(mpc);
  in.Init();
  void* p;
  uint32_t n = 4000;
  in.GetData(p, n);
  ASSERT_TRUE(in.Seek(50000));
  n = 4000;
  in.GetData(p, n);
  ASSERT_EQ(n, 4000u);
  std::vector<int16_t> got(static_cast<int16_t*>(p), static_cast<int16_t*>(p) + 2000);
  std::vector<int16_t> expect(whole.begin() + 100000, whole.begin() + 102000);
  EXPECT_LE(MaxDiff(got, expect), 1);
  in.Flush();
}

TEST(MPCIn, OutputWidthsAndTheConversionRules) {
  struct Width { uint32_t set, stored; };
  TMPCIn in(nullptr);
  for (Width w : {Width{12, 16}, Width{4, 8}, Width{40, 32}, Width{0, 8}, Width{24, 24}, Width{17, 24}}) {
    in.SetOutBitsPerSample(w.set);
    EXPECT_EQ(in.OutBitsPerSample(), w.stored) << w.set;
  }

  struct Conv { float f; int bytes; uint32_t expect; };
  for (Conv c : {Conv{1.0f, 2, 32767}, Conv{-1.0f, 2, 0x8000}, Conv{0.5f, 2, 16383}, Conv{-0.5f, 2, 0xC000},
                 Conv{2.0f, 2, 32767}, Conv{0.0f, 1, 128}, Conv{-1.0f, 1, 0}, Conv{0.999f, 1, 255},
                 Conv{0.5f, 1, 192}, Conv{0.5f, 3, 0x3FFFFF}, Conv{1.0f, 3, 0x7FFFFF}, Conv{-1.0f, 3, 0x800000},
                 Conv{-1.0f, 4, 0x80000000u}, Conv{1.0f, 4, 0x7FFFFFFF}, Conv{NAN, 2, 0}}) {
    uint8_t out[4] = {};
    TMPCIn::ConvertSample(c.f, c.bytes, out);
    uint32_t v = out[0] | out[1] << 8 | out[2] << 16 | (uint32_t)out[3] << 24;
    EXPECT_EQ(v, c.expect) << c.f << " in " << c.bytes << " bytes";
  }

  // Every width decodes the same signal; a change while the file is open is ignored.
  TempDir dir;
  const auto pcm = Tones(20000, 44100);
  std::wstring mpc = MakeWithMpcenc(dir, pcm, 44100);
  auto ref = ReadMPC(mpc);
  TMPCIn wide(nullptr);
  wide.SetWideFileName(mpc);
  wide.SetOutBitsPerSample(32);
  ASSERT_EQ(wide.BitsPerSample(), 32);
  wide.SetOutBitsPerSample(8);
  EXPECT_EQ(wide.OutBitsPerSample(), 32u);
  auto v32 = As<int32_t>(ReadAll(&wide, 3000));
  ASSERT_EQ(v32.size(), ref.size());
  int worst = 0;
  for (size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::abs((int)(v32[i] >> 16) - ref[i]));
  EXPECT_LE(worst, 1);
}

TEST(MPCOut, PeersReadOurFiles) {
  struct Case { int rate; bool unknownSize; bool mono; };
  for (Case c : {Case{44100, false, false}, Case{48000, true, false}, Case{32000, false, false}, Case{44100, false, true}}) {
    TempDir dir;
    const int frames = c.rate * 2 + 123;
    const auto stereo = Tones(frames, c.rate);
    std::vector<int16_t> left(frames);
    for (int i = 0; i < frames; ++i) left[i] = stereo[2 * i];
    // Mono goes in once and comes out of the peers on both channels.
    const auto pcm = c.mono ? std::vector<int16_t>() : stereo;
    TTestSource src(16, c.mono ? 1 : 2, c.rate, Bytes(c.mono ? left : stereo), c.unknownSize);
    std::wstring mpc = dir.File(L"ours.mpc");
    Encode(&src, mpc);
    EXPECT_EQ(src.Inits, src.Flushes);

    auto probe = Peer("ffprobe -v error -show_entries stream=sample_rate,channels -of csv=p=0 " + Q(mpc));
    EXPECT_EQ(probe, std::to_string(c.rate) + (c.mono ? ",1\n" : ",2\n")) << c.rate;
    if (c.mono) {
      TMPCIn in(nullptr);
      in.SetWideFileName(mpc);
      ASSERT_TRUE(in.Valid());
      EXPECT_EQ(in.Channels(), 1);
      auto ours = As<int16_t>(ReadAll(&in));
      EXPECT_EQ(ours.size(), left.size());
      EXPECT_GT(Correlation(ours, left), 0.98);
      continue;
    }
    auto ff = As<int16_t>(Peer("ffmpeg -v error -i " + Q(mpc) + " -f s16le -ac 2 -"));
    EXPECT_NEAR((double)ff.size() / 2, frames, 3 * 1152) << c.rate;
    auto theirs = DecodeWithMpcdec(dir, mpc);
    EXPECT_EQ(theirs.size(), pcm.size()) << c.rate << (c.unknownSize ? " unknown size" : "");
    EXPECT_GT(Correlation(theirs, pcm), 0.98) << c.rate;
    EXPECT_GT(DelayedCorrelation(ff, pcm), 0.98) << c.rate;
    // Our own input reads the same length back.
    EXPECT_EQ(ReadMPC(mpc).size(), pcm.size());
  }
}

TEST(MPCOut, TagsReachCommonTagsAndPeers) {
  TempDir dir;
  const auto pcm = Tones(30000, 44100);
  TTestSource src(16, 2, 44100, Bytes(pcm));
  TMPCOut out(nullptr);
  out.APEv2Tags()->SetArtist(L"\u6d4b\u8bd5 Artist");
  out.APEv2Tags()->SetTitle(L"Title \u00e9");
  out.APEv2Tags()->SetAlbum(L"Album");
  out.APEv2Tags()->SetYear("2024");
  out.APEv2Tags()->SetTrack("7");
  out.APEv2Tags()->SetGenre(L"Jazz");
  std::wstring mpc = dir.File(L"tagged.mpc");
  Encode(&src, mpc, &out);

  TMPCIn in(nullptr);
  in.SetWideFileName(mpc);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.CommonTags()->Artist(), L"\u6d4b\u8bd5 Artist");
  EXPECT_EQ(in.CommonTags()->Title(), L"Title \u00e9");
  EXPECT_EQ(in.CommonTags()->Album(), L"Album");
  EXPECT_EQ(in.CommonTags()->Year(), "2024");
  EXPECT_EQ(in.CommonTags()->Track(), "7");
  EXPECT_EQ(in.CommonTags()->Genre(), L"Jazz");
  EXPECT_EQ(As<int16_t>(ReadAll(&in)).size(), pcm.size());

  auto title = Peer("ffprobe -v error -show_entries format_tags=title -of csv=p=0 " + Q(mpc));
  EXPECT_EQ(title, "Title \xc3\xa9\n");

  // Tags written by Debian's encoder arrive too.
  std::wstring peer = MakeWithMpcenc(dir, pcm, 44100, "--artist Someone --title Song --track 3");
  TMPCIn in2(nullptr);
  in2.SetWideFileName(peer);
  ASSERT_TRUE(in2.Valid());
  EXPECT_EQ(in2.CommonTags()->Artist(), L"Someone");
  EXPECT_EQ(in2.CommonTags()->Title(), L"Song");
  EXPECT_EQ(in2.CommonTags()->Track(), "3");
}

TEST(MPCOut, FailedStartsReleaseOnlyWhatTheySetUp) {
  TempDir dir;
  const auto pcm = Tones(5000, 22050);
  struct Case { int rate, channels; const char* message; };
  for (Case c : {Case{22050, 2, "Unsupported sample rate."}, Case{16000, 2, "Unsupported sample rate."},
                 Case{44100, 9, "Failed to initialize encoder"}}) {
    TTestSource src(16, c.channels, c.rate, Bytes(pcm).substr(0, 9 * 2 * 1000));
    std::wstring mpc = dir.File(L"bad.mpc");
    TMPCOut out(nullptr);
    out.SetInput(&src);
    out.SetWideFileName(mpc);
    try {
      out.BlockingRun();
      ADD_FAILURE() << "no exception at " << c.rate;
    } catch (const Exception& e) {
      EXPECT_EQ(WideToAnsi(e.Message()), c.message);
    }
    EXPECT_EQ(src.Inits, 1);
    EXPECT_EQ(src.Flushes, 1);
    EXPECT_EQ(GetModuleHandleA("libmppenc.dll"), nullptr);
    EXPECT_FALSE(FileExists(mpc));
  }
  // No file name: nothing is set up, the input is not touched.
  TTestSource src(16, 2, 44100, Bytes(pcm));
  TMPCOut out(nullptr);
  out.SetInput(&src);
  EXPECT_THROW(out.BlockingRun(), EAuException);
  EXPECT_EQ(src.Inits, 0);

  // The same output runs again after a failure.
  TTestSource good(16, 2, 44100, Bytes(Tones(5000, 44100)));
  out.SetInput(&good);
  out.SetWideFileName(dir.File(L"good.mpc"));
  out.BlockingRun();
  EXPECT_EQ(ReadMPC(dir.File(L"good.mpc")).size(), 10000u);
  EXPECT_EQ(GetModuleHandleA("libmppenc.dll"), nullptr);
}

TEST(MPCIn, DamagedAndTruncatedFilesEndCleanly) {
  TempDir dir;
  const auto pcm = Tones(44100, 44100);
  std::string good = ReadBytes(MakeWithMpcenc(dir, pcm, 44100));
  ASSERT_GT(good.size(), 1000u);
  std::wstring f = dir.File(L"damaged.mpc");
  std::mt19937 rng(1234);
  auto check = [&](const std::string& data, const std::string& what) {
    WriteBytes(f, data);
    TMPCIn in(nullptr);
    in.SetWideFileName(f);
    if (!in.Valid()) return;
    std::string got = ReadAll(&in, 7000);
    EXPECT_LE(got.size(), pcm.size() * 2 + 4608 * 2) << what;
    EXPECT_EQ(got.size() % 4, 0u) << what;
  };
  for (size_t cut : {0, 3, 4, 10, 20, 40, 60, 100, 200, 500, 1000, 2000}) check(good.substr(0, cut), "cut " + std::to_string(cut));
  for (size_t cut = 2500; cut < good.size(); cut += good.size() / 7) check(good.substr(0, cut), "cut " + std::to_string(cut));
  for (int round = 0; round < 60; ++round) {
    std::string bad = good;
    int flips = 1 + round % 8;
    for (int k = 0; k < flips; ++k) bad[rng() % std::min<size_t>(bad.size(), round < 30 ? 200 : bad.size())] = (char)rng();
    check(bad, "round " + std::to_string(round));
  }
  // Not a Musepack file at all.
  WriteBytes(f, PcmWav16(2, 44100, pcm));
  TMPCIn in(nullptr);
  in.SetWideFileName(f);
  EXPECT_FALSE(in.Valid());
}

TEST(MPC, MissingLibrariesAndEntryPoints) {
  TempDir dir;
  const auto pcm = Tones(5000, 44100);
  std::wstring mpc = MakeWithMpcenc(dir, pcm, 44100);
  auto message = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const Exception& e) {
      return WideToAnsi(e.Message());
    }
    return std::string("(no exception)");
  };
  MPDecLibraryReset();
  ASSERT_FALSE(LoadMPDecLibrary("no-such-library.dll"));
  {
    TMPCIn in(nullptr);
    in.SetWideFileName(mpc);
    EXPECT_FALSE(in.Valid());
    EXPECT_EQ(message([&] { in.Init(); }), "libmpdec.dll library could not be loaded.");
    TAuFileStream s(mpc, 0x20);
    EXPECT_EQ(message([&] { TMPCDecoder d(&s); }), "MPC decoding library \"libmpdec.dll\" not loaded!");
  }
  MPDecLibraryReset();
  ASSERT_TRUE(LoadMPDecLibrary("OptimFROG.dll"));  // a library without these entry points
  {
    TMPCIn in(nullptr);
    in.SetWideFileName(mpc);
    EXPECT_FALSE(in.Valid());
    TAuFileStream s(mpc, 0x20);
    EXPECT_EQ(message([&] { TMPCDecoder d(&s); }), "Function \"mpc_streaminfo_init\" not found in MPC decoding library!");
  }
  MPDecLibraryReset();
  ASSERT_TRUE(LoadMPDecLibrary());
  // A non-Musepack stream is refused by the library.
  {
    WriteBytes(dir.File(L"x.mpc"), PcmWav16(2, 44100, pcm));
    TAuFileStream s(dir.File(L"x.mpc"), 0x20);
    EXPECT_EQ(message([&] { TMPCDecoder d(&s); }), "Unable to read stream info!");
  }

  for (const char* stand : {"no-such-library.dll", "OptimFROG.dll"}) {
    MPPEncLibName = stand;
    TTestSource src(16, 2, 44100, Bytes(pcm));
    TMPCOut out(nullptr);
    out.SetInput(&src);
    out.SetWideFileName(dir.File(L"out.mpc"));
    EXPECT_EQ(message([&] { out.BlockingRun(); }), "libmppenc.dll library could not be loaded.") << stand;
    EXPECT_EQ(src.Flushes, src.Inits);
    EXPECT_FALSE(FileExists(dir.File(L"out.mpc")));
    EXPECT_EQ(GetModuleHandleA("OptimFROG.dll"), nullptr);
  }
  MPPEncLibName = "libmppenc.dll";
}
