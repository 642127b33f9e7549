// TWMIn and TMP3In over files made by ffmpeg, read through the platform's Windows Media reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "WMTestUtil.h"
#include "audio/formats/winmedia/AuMpegAudio.h"
#include "audio/formats/winmedia/AuWinMedia.h"
#include "classlib/WinApi.h"
#include "common/Peer.h"

using namespace wmtest;

namespace {

struct PeerCase {
  const wchar_t* name;
  int rate, channels;
  const char* args;
  bool mp3;
  // The length of one codec frame: the reported length is within one of the source's, and
  // ffmpeg's decode may lead ours by up to two (WMA's encoder delay is not signalled).
  int frame;
  int maxLag;
};

const PeerCase kPeerCases[] = {
    {L"cbr44s.mp3", 44100, 2, "-c:a libmp3lame -b:a 128k", true, 1152, 0},
    {L"cbr32s.mp3", 32000, 2, "-c:a libmp3lame -b:a 96k", true, 1152, 0},
    {L"cbr44m.mp3", 44100, 1, "-c:a libmp3lame -b:a 64k", true, 1152, 0},
    {L"vbr48m.mp3", 48000, 1, "-c:a libmp3lame -q:a 4", true, 1152, 0},
    {L"vbr44s.mp3", 44100, 2, "-c:a libmp3lame -q:a 2", true, 1152, 0},
    {L"v2s.wma", 44100, 2, "-c:a wmav2 -b:a 128k", false, 2048, 4096},
    {L"v2m.wma", 48000, 1, "-c:a wmav2 -b:a 64k", false, 2048, 4096},
    {L"v1s.wma", 32000, 2, "-c:a wmav1 -b:a 64k", false, 2048, 4096},
};

constexpr double kSeconds = 6;

std::unique_ptr<TWMIn> Open(const PeerCase& c, const std::wstring& file) {
  std::unique_ptr<TWMIn> in(c.mp3 ? new TMP3In(nullptr) : new TWMIn(nullptr));
  in->SetWideFileName(file);
  return in;
}

}  // namespace

TEST(WMReader, ReadsPeerFilesAsFfmpegDecodesThem) {
  for (const PeerCase& c : kPeerCases) {
    SCOPED_TRACE(testing::Message() << peer::Quote(std::string(c.name, c.name + wcslen(c.name))));
    std::wstring file = MakeFile(c.name, c.rate, c.channels, kSeconds, c.args);
    auto in = Open(c, file);
    ASSERT_TRUE(in->Valid());
    EXPECT_EQ(in->SampleRate(), c.rate);
    EXPECT_EQ(in->Channels(), c.channels);
    EXPECT_EQ(in->BitsPerSample(), 16);
    const int64_t source = (int64_t)(c.rate * kSeconds);
    EXPECT_LE(std::llabs(in->TotalSamples() - source), c.frame) << in->TotalSamples();
    EXPECT_EQ(in->TotalTime(), (int)kSeconds);
    auto ours = As<int16_t>(ReadAll(in.get(), 7001));
    // All that was promised, or (where the header's duration is rounded up to the millisecond)
    // up to a frame less; never more, and never a part of a frame.
    EXPECT_EQ(ours.size() % c.channels, 0u);
    EXPECT_LE((int64_t)ours.size(), in->TotalSamples() * c.channels);
    EXPECT_GE((int64_t)ours.size(), (in->TotalSamples() - c.frame) * c.channels);
    auto ref = PeerDecode(file);
    ASSERT_FALSE(ref.empty());
    EXPECT_LE(std::llabs((int64_t)ref.size() / c.channels - in->TotalSamples()), c.frame + c.maxLag / 2);
    Match m = BestMatch(ours, ref, c.channels, c.maxLag + 64);
    EXPECT_GT(m.corr, 0.99);
    EXPECT_LE(std::abs(m.lag), c.maxLag);
    if (c.mp3) {
      EXPECT_EQ(m.lag, 0);
    }
    EXPECT_GT(in->GetBitRate(), 0u);
  }
}

TEST(WMReader, SampleWindowsDeliverWhatTheyAsk) {
  for (int k : {0, 5, 3}) {
    const PeerCase& c = kPeerCases[k];
    SCOPED_TRACE(k);
    std::wstring file = MakeFile(c.name, c.rate, c.channels, kSeconds, c.args);
    auto in = Open(c, file);
    auto whole = As<int16_t>(ReadAll(in.get()));
    const int64_t total = (int64_t)whole.size() / c.channels;
    struct W { int64_t start, end; } windows[] = {
        {c.rate * 2 + 77, c.rate * 3 + 1000},  // inside
        {0, 999},                              // the first frames
        {total - 5000, -1},                    // to the end
        {12345, 12345},                        // one frame
    };
    for (const W& w : windows) {
      SCOPED_TRACE(testing::Message() << w.start << ".." << w.end);
      in->SetStartSample(w.start);
      in->SetEndSample(w.end);
      auto got = As<int16_t>(ReadAll(in.get(), 3333));
      // A window to the end (End -1) counts one frame past the last, as every file input does.
      const int64_t last = w.end < 0 ? total - 1 : w.end;
      const int64_t extra = w.end < 0 ? 1 : 0;
      ASSERT_EQ((int64_t)got.size(), (last - w.start + 1 + extra) * c.channels);
      got.resize((size_t)((last - w.start + 1) * c.channels));
      int maxDiff = 0;
      for (size_t i = 0; i < got.size(); ++i)
        maxDiff = std::max(maxDiff, std::abs(got[i] - whole[w.start * c.channels + i]));
      EXPECT_LE(maxDiff, 2);
    }
    // Seeking a running input lands on the frame asked for.
    in->Init();
    ASSERT_TRUE(in->Seek(c.rate * 4));
    void* p = nullptr;
    uint32_t n = 400;
    in->GetData(p, n);
    ASSERT_EQ(n, 400u);
    const int16_t* q = static_cast<const int16_t*>(p);
    const int16_t* r = whole.data() + c.rate * 4 * c.channels;
    int maxDiff = 0;
    for (int i = 0; i < 200; ++i) maxDiff = std::max(maxDiff, std::abs(q[i] - r[i]));
    EXPECT_LE(maxDiff, 2);
    in->Flush();
  }
}

TEST(WMReader, TagsReachCommonTags) {
  const std::string meta =
      " -metadata title=标题Title -metadata artist=Artist -metadata album=Album -metadata genre=Rock"
      " -metadata track=5 ";
  // The year goes in as each format names it (the ID3v2 unit reads a version 2.4 date, TDRC,
  // as no year, so that case does not check it).
  struct C { const wchar_t* name; const char* args; bool mp3; bool year; } cases[] = {
      {L"tag23.mp3", "-c:a libmp3lame -b:a 64k -id3v2_version 3 -write_id3v1 1 -metadata date=2021", true, true},
      {L"tag24.mp3", "-c:a libmp3lame -b:a 64k -id3v2_version 4 -metadata date=2021", true, false},
      {L"tag.wma", "-c:a wmav2 -b:a 64k -metadata WM/Year=2021", false, true},
  };
  for (const C& c : cases) {
    SCOPED_TRACE((int)c.year * 2 + (int)c.mp3);
    std::wstring file = MakeFile(c.name, 44100, 2, 1, c.args, meta);
    std::unique_ptr<TWMIn> in(c.mp3 ? new TMP3In(nullptr) : new TWMIn(nullptr));
    in->SetWideFileName(file);
    ASSERT_TRUE(in->Valid());
    TCommonTags* t = in->CommonTags();
    EXPECT_EQ(t->Title(), L"标题Title");
    EXPECT_EQ(t->Artist(), L"Artist");
    EXPECT_EQ(t->Album(), L"Album");
    EXPECT_EQ(t->Genre(), L"Rock");
    EXPECT_EQ(t->Track(), "5");
    if (c.year) {
      EXPECT_EQ(t->Year(), "2021");
    }
    EXPECT_EQ(in->Id3v2Tags()->Title(), L"标题Title");
  }
}

TEST(WMReader, Id3v1TrackComesFromTheTrackByte) {
  std::wstring plain = MakeFile(L"plain.mp3", 44100, 2, 1, "-c:a libmp3lame -b:a 64k -id3v2_version 0");
  std::string bytes = testfiles::ReadBytes(plain);
  ASSERT_FALSE(bytes.empty());
  std::string tag(128, '\0');
  auto put = [&](size_t at, const std::string& s) { tag.replace(at, s.size(), s); };
  put(0, "TAG");
  put(3, "Old Title");
  put(33, "Old Artist");
  put(63, "Old Album");
  put(93, "1999");
  put(97, "comment");
  tag[125] = 0;
  tag[126] = 7;     // track
  tag[127] = 13;    // genre "Pop"
  std::wstring file = ScratchFile(L"id3v1.mp3");
  ASSERT_TRUE(testfiles::WriteBytes(file, bytes + tag));
  TMP3In in(nullptr);
  in.SetWideFileName(file);
  ASSERT_TRUE(in.Valid());
  TCommonTags* t = in.CommonTags();
  EXPECT_EQ(t->Title(), L"Old Title");
  EXPECT_EQ(t->Artist(), L"Old Artist");
  EXPECT_EQ(t->Album(), L"Old Album");
  EXPECT_EQ(t->Year(), "1999");
  EXPECT_EQ(t->Track(), "7");
  EXPECT_EQ(t->Genre(), L"Pop");
  // The tag block is not audio.
  EXPECT_LE(std::llabs(in.TotalSamples() - 44100), 1152);
}

TEST(WMReader, FilesWithoutAudioAreNotValidAndStayUnlocked) {
  std::wstring file = ScratchFile(L"notaudio.wma");
  std::string junk(20000, '\0');
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = (char)(i * 7919 % 251);
  ASSERT_TRUE(testfiles::WriteBytes(file, junk));
  for (bool mp3 : {false, true}) {
    std::unique_ptr<TWMIn> in(mp3 ? new TMP3In(nullptr) : new TWMIn(nullptr));
    in->SetWideFileName(file);
    EXPECT_FALSE(in->Valid());
    EXPECT_EQ(in->TotalSamples(), -1);
    EXPECT_EQ(ReadAll(in.get()), "");
    // No stream stays open on the file: it can be opened for writing.
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
  }
  TWMIn unnamed(nullptr);
  try {
    unnamed.TotalSamples();
    ADD_FAILURE() << "no exception";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "File name is not assigned");
  }
}

TEST(WMReader, ChannelLayoutAndPrecisionSettings) {
  TWMIn in(nullptr);
  EXPECT_EQ(in.OutputChannels(), cnMonoOrStereo);
  EXPECT_FALSE(in.HighPrecision());
  in.SetHighPrecision(true);
  EXPECT_TRUE(in.HighPrecision());
  in.SetHighPrecision(false);
  in.SetOutputChannels(cn5dot1);
  EXPECT_TRUE(in.HighPrecision());
  in.SetHighPrecision(false);  // refused: the layout needs the discrete output
  EXPECT_TRUE(in.HighPrecision());
  // An open file is opened again with the new request and keeps reading.
  const PeerCase& c = kPeerCases[5];
  in.SetWideFileName(MakeFile(c.name, c.rate, c.channels, kSeconds, c.args));
  in.SetOutputChannels(cnMaxAvailable);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.Channels(), 2);
  in.SetOutputChannels(cnMonoOrStereo);
  EXPECT_TRUE(in.Valid());
  EXPECT_EQ(in.Channels(), 2);
}


TEST(WMReader, AnAsfFileThatDoesNotHoldTogetherIsRefusedAtOnce) {
  const PeerCase& c = kPeerCases[7];
  const std::string good = testfiles::ReadBytes(MakeFile(c.name, c.rate, c.channels, kSeconds, c.args));
  // The audio stream's properties object and, 78 bytes into it, its wave format.
  const std::string streamProps("\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65", 16);
  const size_t at = good.find(streamProps);
  ASSERT_NE(at, std::string::npos);
  const size_t extraSize = at + 78 + 16;  // the wave format's count of extra bytes
  const uint32_t headerSize = (uint8_t)good[16] | (uint8_t)good[17] << 8;
  struct Case {
    const char* what;
    std::string bytes;
    bool valid;
  } cases[] = {
      {"whole", good, true},
      {"cut inside the header", good.substr(0, headerSize - 10), false},
      {"cut before the data object", good.substr(0, headerSize + 20), false},
      {"extra bytes past the format", std::string(good).replace(extraSize + 1, 1, "\xE6"), false},
      {"no channels", std::string(good).replace(at + 78 + 2, 2, std::string(2, '\0')), false},
      {"cut inside the data", good.substr(0, good.size() / 2), true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    TMemoryStream ms;
    ms.Write(k.bytes.data(), (int32_t)k.bytes.size());
    TWMIn in(nullptr);
    in.SetStream(&ms);
    EXPECT_EQ(in.Valid(), k.valid);
    if (k.valid) {
      std::string all = ReadAll(&in);
      EXPECT_GT(all.size(), 0u);
      EXPECT_LE((int64_t)all.size(), in.TotalSamples() * in.Channels() * 2 + 4);
    }
    in.SetStream(nullptr);
  }
}
