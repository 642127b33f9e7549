// Monkey's Audio, TAK and OptimFROG through the test doubles of their libraries: what the
// components hand to the library, tags, seeks and windows, pulls smaller than a frame, and the
// messages for a missing library, a missing entry point and a rejected file.
#include <gtest/gtest.h>

#include <cstring>

#include "audio/formats/mac/AuMAC.h"
#include "audio/formats/optimfrog/AuOptimFROG.h"
#include "audio/formats/tak/AuTAK.h"
#include "classlib/WinApi.h"
#include "platform/DoubleFormat.h"
#include "audio/formats/wave/WaveTestUtil.h"

using namespace wavetest;

namespace {

// Bytes whose value is their position (mod 251): every frame differs from its neighbours.
std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = (char)(i % 251);
  return s;
}

std::string DoubleFile(const char* magic, uint32_t rate, uint16_t bits, uint16_t ch, const std::string& pcm,
                       uint32_t flags = 0, const std::string& tail = "") {
  double_header h{};
  std::memcpy(h.magic, magic, 8);
  h.sample_rate = rate;
  h.bits = bits;
  h.channels = ch;
  h.frames = pcm.size() / (ch * (bits / 8));
  h.flags = flags;
  return std::string(reinterpret_cast<const char*>(&h), sizeof h) + pcm + tail;
}

// An APEv2 tag (header, items, footer) of UTF-8 items.
std::string ApeTag(const std::vector<std::pair<std::string, std::string>>& items) {
  std::string body;
  for (auto& [k, v] : items) body += LE32((uint32_t)v.size()) + LE32(0) + k + '\0' + v;
  auto block = [&](uint32_t flags) {
    return std::string("APETAGEX") + LE32(2000) + LE32((uint32_t)body.size() + 32) + LE32((uint32_t)items.size()) +
           LE32(flags) + std::string(8, '\0');
  };
  return block(0xA0000000u) + body + block(0x80000000u);
}

// The double's record of calls since the last look.
std::string CallLog(const char* dll, bool stdcallConvention) {
  HMODULE h = GetModuleHandleA(dll);
  if (!h) return "";
  char buf[65536];
  if (stdcallConvention) {
    auto f = reinterpret_cast<int32_t(__stdcall*)(char*, int32_t)>(reinterpret_cast<void*>(GetProcAddress(h, "DoubleCallLog")));
    if (f) f(buf, sizeof buf);
  } else {
    auto f = reinterpret_cast<int32_t(__cdecl*)(char*, int32_t)>(reinterpret_cast<void*>(GetProcAddress(h, "DoubleCallLog")));
    if (f) f(buf, sizeof buf);
  }
  return buf;
}

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return WideToAnsi(e.Message());
  }
  return "(no exception)";
}

std::string ReadWindow(TAuFileIn* in, int64_t start, int64_t end, uint32_t ask = 4000) {
  in->SetStartSample(start);
  in->SetEndSample(end);
  return ReadAll(in, ask);
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Monkey's Audio

TEST(MAC, RoundTripsThroughTheLibraryInWholeFrameChunks) {
  struct Case { uint16_t bits; uint32_t chunk; };
  for (Case c : {Case{16, 65536}, Case{24, 65532}, Case{8, 65536}}) {
    TempDir dir;
    const std::string pcm = Pattern((size_t)c.bits / 8 * 2 * 70001);
    TTestSource src(c.bits, 2, 44100, pcm);
    src.MaxChunk = 10000;
    TMACOut out(nullptr);
    out.SetInput(&src);
    out.SetWideFileName(dir.File(L"a.ape"));
    out.SetCompressionLevel(4000);
    CallLog("MACDll.dll", true);
    out.BlockingRun();
    std::string log = CallLog("MACDll.dll", true);
    // The double logs pointers as %p: as many hex digits as a pointer of this process has.
    const std::string null(2 * sizeof(void*), '0');
    EXPECT_NE(log.find("rate=44100 bits=" + std::to_string(c.bits) + " ch=2 max=-1 level=4000 header=" + null + "/0"),
              std::string::npos) << log;
    EXPECT_EQ(Count(log, "unlock " + std::to_string(c.chunk) + " process=1"), (int)(pcm.size() / c.chunk)) << log;
    EXPECT_EQ(Count(log, "finish " + null + " 0 0"), 1);
    EXPECT_EQ(Count(log, "tag "), 0) << "untagged output is not tagged";
    EXPECT_EQ(src.Inits, src.Flushes);

    TMACIn in(nullptr);
    in.SetWideFileName(dir.File(L"a.ape"));
    ASSERT_TRUE(in.Valid());
    EXPECT_EQ(in.BitsPerSample(), c.bits);
    EXPECT_EQ(in.TotalTime(), 1);
    EXPECT_EQ(ReadAll(&in, 5000), pcm);
    // Read again: a second run delivers everything again.
    EXPECT_EQ(ReadAll(&in, 7777), pcm);
  }
}

TEST(MAC, LevelsMessagesAndRefusals) {
  TMACOut out(nullptr);
  for (auto [set, stored] : std::vector<std::pair<int, int>>{{4500, 2000}, {5000, 5000}, {1000, 1000}, {0, 2000}, {3000, 3000}}) {
    out.SetCompressionLevel(set);
    EXPECT_EQ(out.CompressionLevel(), stored) << set;
  }
  for (auto [code, text] : std::vector<std::pair<int, std::string>>{
           {0, "MACDll error: OK"}, {1004, "MACDll error: input file file too large"},
           {6000, "MACDll error: APE compress too much data"}, {7777, "MACDll error: undefined (7777)"}}) {
    EXPECT_EQ(WideToAnsi(EAPEException(code).Message()), text);
  }

  // The library refuses the format: the run fails with its text, the input is flushed.
  TempDir dir;
  TTestSource src(32, 2, 44100, Pattern(8000));
  out.SetInput(&src);
  out.SetWideFileName(dir.File(L"b.ape"));
  EXPECT_EQ(MessageOf([&] { out.BlockingRun(); }), "Error starting APECompress.\r\ninput file unsupported bit depth");
  EXPECT_EQ(src.Inits, 1);
  EXPECT_EQ(src.Flushes, 1);

  // A file that is not the library's is not valid.
  WriteBytes(dir.File(L"c.ape"), PcmWav16(2, 44100, Ramp(100)));
  TMACIn in(nullptr);
  in.SetWideFileName(dir.File(L"c.ape"));
  EXPECT_FALSE(in.Valid());
}

TEST(MAC, TagsGoToTheLibraryAndComeBack) {
  TempDir dir;
  const std::string pcm = Pattern(4 * 1000);
  TTestSource src(16, 2, 44100, pcm);
  TMACOut out(nullptr);
  out.SetInput(&src);
  // A name outside the system code page: the library gets an 8-bit stand-in, renamed at the end.
  const std::wstring name = dir.File(L"\u6d4b\u8bd5.ape");
  out.SetWideFileName(name);
  out.APEv2Tags()->SetArtist(L"Art\u00e9");
  out.APEv2Tags()->SetTitle(L"Title");
  out.APEv2Tags()->SetAlbum(L"Album");
  out.APEv2Tags()->SetYear("1999");
  out.APEv2Tags()->SetTrack("12");
  CallLog("MACDll.dll", true);
  out.BlockingRun();
  std::string log = CallLog("MACDll.dll", true);
  EXPECT_NE(log.find("artist=Art\xc3\xa9 album=Album title=Title comment= genre= year=1999 track=12 clear=1 id3=0"),
            std::string::npos) << log;
  ASSERT_TRUE(FileExists(name));

  TMACIn in(nullptr);
  in.SetWideFileName(name);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(ReadAll(&in), pcm);
  // The library reads tags by 8-bit name: give it one it can open.
  const std::wstring plain = dir.File(L"plain.ape");
  ASSERT_TRUE(CopyFileW(name.c_str(), plain.c_str(), FALSE));
  TMACIn tagged(nullptr);
  tagged.SetWideFileName(plain);
  ASSERT_TRUE(tagged.Valid());
  EXPECT_EQ(tagged.CommonTags()->Title(), L"Title");
  EXPECT_EQ(tagged.CommonTags()->Album(), L"Album");
  EXPECT_EQ(tagged.CommonTags()->Year(), "1999");
  EXPECT_EQ(tagged.CommonTags()->Track(), "12");
  EXPECT_EQ(tagged.APEv2Tags()->Title(), L"Title");

  // The same input on an untagged file shows no tags.
  TTestSource plainSrc(16, 2, 44100, pcm);
  TMACOut plainOut(nullptr);
  plainOut.SetInput(&plainSrc);
  plainOut.SetWideFileName(dir.File(L"untagged.ape"));
  plainOut.BlockingRun();
  tagged.SetWideFileName(dir.File(L"untagged.ape"));
  ASSERT_TRUE(tagged.Valid());
  EXPECT_TRUE(tagged.CommonTags()->Title().empty());
  EXPECT_TRUE(tagged.APEv2Tags()->Title().empty());
}

TEST(MAC, SeeksWindowsAndSmallPulls) {
  TempDir dir;
  const std::string pcm = Pattern(4 * 30000);
  TTestSource src(16, 2, 44100, pcm);
  TMACOut out(nullptr);
  out.SetInput(&src);
  out.SetWideFileName(dir.File(L"w.ape"));
  out.BlockingRun();

  TMACIn in(nullptr);
  in.SetWideFileName(dir.File(L"w.ape"));
  EXPECT_EQ(ReadWindow(&in, 1000, 1999), pcm.substr(4000, 4000));
  EXPECT_EQ(ReadWindow(&in, 25000, -1, 3000), pcm.substr(100000));
  // Pulls smaller than a frame deliver their bytes and do not end the stream.
  EXPECT_EQ(ReadAll(&in, 3), pcm);

  in.Init();
  void* p;
  uint32_t n = 4000;
  in.GetData(p, n);
  ASSERT_TRUE(in.Seek(20000));
  n = 400;
  in.GetData(p, n);
  ASSERT_EQ(n, 400u);
  EXPECT_EQ(std::string(static_cast<char*>(p), n), pcm.substr(80000, 400));
  in.Flush();
}

TEST(MAC, MissingLibraryOrEntryPoint) {
  TempDir dir;
  WriteBytes(dir.File(L"x.ape"), DoubleFile(DOUBLE_MAGIC_MAC, 44100, 16, 2, Pattern(400)));
  MACDllReset();
  ASSERT_FALSE(LoadMACDll("no-such-library.dll"));
  {
    TMACIn in(nullptr);
    in.SetWideFileName(dir.File(L"x.ape"));
    EXPECT_FALSE(in.Valid());
    TTestSource src(16, 2, 44100, Pattern(400));
    TMACOut out(nullptr);
    out.SetInput(&src);
    out.SetWideFileName(dir.File(L"y.ape"));
    EXPECT_EQ(MessageOf([&] { out.BlockingRun(); }), "MACDll.dll library could not be loaded.");
    EXPECT_EQ(src.Inits, 0);
  }
  MACDllReset();
  ASSERT_TRUE(LoadMACDll("OptimFROG.dll"));  // a library without these entry points
  {
    TMACIn in(nullptr);
    in.SetWideFileName(dir.File(L"x.ape"));
    EXPECT_FALSE(in.Valid());
    EXPECT_EQ(MessageOf([&] { in.BitsPerSample(); }), "Function \"_c_APEDecompress_CreateW@8\" not found in MAC library!");
  }
  MACDllReset();
}

// ---------------------------------------------------------------------------------------------
// TAK

TEST(TAK, DecodesWithTagsAndWholeFrames) {
  TempDir dir;
  const std::string pcm = Pattern(6 * 5000);
  const std::string tag = ApeTag({{"Artist", "\xe6\xb5\x8b\xe8\xaf\x95"}, {"Title", "Song"}, {"Year", "2001"}});
  WriteBytes(dir.File(L"t.tak"), DoubleFile(DOUBLE_MAGIC_TAK, 48000, 24, 2, pcm, 0, tag));
  CallLog("tak_deco_lib.dll", true);
  TTAKIn in(nullptr);
  in.SetWideFileName(dir.File(L"t.tak"));
  ASSERT_TRUE(in.Valid());
  EXPECT_NE(CallLog("tak_deco_lib.dll", true).find("create cpu=7 flags=0"), std::string::npos);
  EXPECT_EQ(in.SampleRate(), 48000);
  EXPECT_EQ(in.BitsPerSample(), 24);
  EXPECT_EQ(in.TotalSamples(), 5000);
  EXPECT_EQ(in.APEv2Tags()->Artist(), L"\u6d4b\u8bd5");
  EXPECT_EQ(in.APEv2Tags()->Title(), L"Song");
  EXPECT_EQ(in.APEv2Tags()->Year(), "2001");

  in.Init();
  void* p;
  uint32_t n = 1000;
  in.GetData(p, n);
  EXPECT_EQ(n, 996u);
  EXPECT_EQ(std::string(static_cast<char*>(p), n), pcm.substr(0, 996));
  in.Flush();
  EXPECT_EQ(ReadAll(&in, 1000), pcm);
  EXPECT_EQ(ReadAll(&in, 4), pcm) << "pulls smaller than a frame";
  EXPECT_EQ(ReadWindow(&in, 100, 299), pcm.substr(600, 1200));
  EXPECT_EQ(ReadWindow(&in, 4000, -1, 999), pcm.substr(24000));
}

TEST(TAK, DamagedTagsRejectedFilesAndMessages) {
  TempDir dir;
  const std::string pcm = Pattern(4 * 100);
  std::string tag = ApeTag({{"Artist", "A"}});
  tag[tag.size() - 32] = 'X';  // the footer no longer says APETAGEX
  WriteBytes(dir.File(L"t.tak"), DoubleFile(DOUBLE_MAGIC_TAK, 44100, 16, 2, pcm, 0, tag));
  {
    TTAKIn in(nullptr);
    in.SetWideFileName(dir.File(L"t.tak"));
    ASSERT_TRUE(in.Valid());
    EXPECT_TRUE(in.APEv2Tags()->Empty());
    EXPECT_EQ(ReadAll(&in), pcm);
  }
  WriteBytes(dir.File(L"bad.tak"), PcmWav16(2, 44100, Ramp(100)));
  {
    TTAKIn in(nullptr);
    in.SetWideFileName(dir.File(L"bad.tak"));
    EXPECT_FALSE(in.Valid());
    TAuFileStream s(dir.File(L"bad.tak"), 0x20);
    EXPECT_EQ(MessageOf([&] { TTAKDecoder d(&s); }), "Can not get stream info!");
  }
  TakDecoderFinalize();
  TakDecoderInitialize("no-such-library.dll");
  {
    TTAKIn in(nullptr);  // no exception for a missing library
    in.SetWideFileName(dir.File(L"t.tak"));
    EXPECT_FALSE(in.Valid());
    EXPECT_EQ(MessageOf([&] { in.Init(); }), "tak_deco_lib.dll library could not be loaded.");
    TAuFileStream s(dir.File(L"t.tak"), 0x20);
    EXPECT_EQ(MessageOf([&] { TTAKDecoder d(&s); }), "TAK library \"tak_deco_lib.dll\" not loaded!");
  }
  TakDecoderFinalize();
  TakDecoderInitialize("OptimFROG.dll");
  {
    TTAKIn in(nullptr);
    in.SetWideFileName(dir.File(L"t.tak"));
    EXPECT_FALSE(in.Valid());
    TAuFileStream s(dir.File(L"t.tak"), 0x20);
    EXPECT_EQ(MessageOf([&] { TTAKDecoder d(&s); }), "Function \"tak_SSD_Create_FromStream\" not found in TAK library!");
  }
  TakDecoderFinalize();
}

// ---------------------------------------------------------------------------------------------
// OptimFROG

TEST(OFR, DecodesWholeFramesWithoutTags) {
  TempDir dir;
  const std::string pcm = Pattern(2 * 9000);
  WriteBytes(dir.File(L"o.ofr"), DoubleFile(DOUBLE_MAGIC_OFR, 44100, 16, 1, pcm));
  TOFRIn in(nullptr);
  in.SetWideFileName(dir.File(L"o.ofr"));
  ASSERT_TRUE(in.Valid());
  EXPECT_TRUE(in.IsSeekable());
  EXPECT_EQ(in.Channels(), 1);
  EXPECT_TRUE(in.APEv2Tags()->Empty());
  in.Init();
  void* p;
  uint32_t n = 1001;
  in.GetData(p, n);
  EXPECT_EQ(n, 1000u);
  in.Flush();
  EXPECT_EQ(ReadAll(&in, 1001), pcm);
  EXPECT_EQ(ReadAll(&in, 1), pcm) << "pulls smaller than a frame";
  EXPECT_EQ(ReadWindow(&in, 500, 1499), pcm.substr(1000, 2000));
  EXPECT_NE(CallLog("OptimFROG.dll", false).find("openExt tags=-1"), std::string::npos);
}

TEST(OFR, UnseekableRejectedAndMissing) {
  TempDir dir;
  const std::string pcm = Pattern(2 * 2 * 300);
  WriteBytes(dir.File(L"u.ofr"), DoubleFile(DOUBLE_MAGIC_OFR, 44100, 16, 2, pcm, DOUBLE_FLAG_NOT_SEEKABLE));
  {
    TOFRIn in(nullptr);
    in.SetWideFileName(dir.File(L"u.ofr"));
    ASSERT_TRUE(in.Valid());
    EXPECT_FALSE(in.IsSeekable());
    EXPECT_FALSE(in.Seek(10));
    EXPECT_EQ(ReadAll(&in), pcm);
  }
  WriteBytes(dir.File(L"bad.ofr"), PcmWav16(2, 44100, Ramp(100)));
  {
    TOFRIn in(nullptr);
    in.SetWideFileName(dir.File(L"bad.ofr"));
    EXPECT_FALSE(in.Valid());
    TAuFileStream s(dir.File(L"bad.ofr"), 0x20);
    EXPECT_EQ(MessageOf([&] { TOptimFROGDecoder d(&s); }), "Unable to open OptimFROG-file!");
    EXPECT_EQ(MessageOf([&] { TOptimFROGDecoder d(nullptr); }), "AStream is nil!");
    TAuFileStream g(dir.File(L"u.ofr"), 0x20);
    TOptimFROGDecoder d(&g);
    EXPECT_EQ(MessageOf([&] { d.Read(nullptr, 10); }), "Buffer is nil!");
  }
  OptimFROGDLLFinalize();
  OptimFROGDLLInitialize("no-such-library.dll");
  {
    TOFRIn in(nullptr);  // no exception for a missing library
    in.SetWideFileName(dir.File(L"u.ofr"));
    EXPECT_FALSE(in.Valid());
    EXPECT_EQ(MessageOf([&] { in.Init(); }), "OptimFROG.dll library could not be loaded.");
    TAuFileStream s(dir.File(L"u.ofr"), 0x20);
    EXPECT_EQ(MessageOf([&] { TOptimFROGDecoder d(&s); }), "OptimFROG library \"OptimFROG.dll\" not loaded!");
  }
  OptimFROGDLLFinalize();
  OptimFROGDLLInitialize("tak_deco_lib.dll");
  {
    TAuFileStream s(dir.File(L"u.ofr"), 0x20);
    EXPECT_EQ(MessageOf([&] { TOptimFROGDecoder d(&s); }), "Function \"OptimFROG_createInstance\" not found in OptimFROG library!");
  }
  OptimFROGDLLFinalize();
}
