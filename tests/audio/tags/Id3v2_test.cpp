// ID3v2: the header check, the frame walk of versions 2.2 to 2.4 in every text encoding,
// malformed tags, and the version 2.4 writer that prepends through a file mapping.
#include <gtest/gtest.h>

#include <random>

#include "audio/tags/AuTags.h"
#include "audio/tags/TagFiles.h"

using namespace tagtest;

namespace {

const std::string kAudio = "\xFF\xFB\x90\x00 audio follows";

// Writes prefix + tag + audio, positions a handle at the tag and reads it.
struct ReadResult {
  bool present = false, ok = false;
  int64_t pos = 0;
};

ReadResult ReadTag(const std::wstring& name, const std::string& tag, TId3v2Tags& t, const std::string& prefix = "") {
  WriteBytes(name, prefix + tag + kAudio);
  File f(name);
  f.Seek((int64_t)prefix.size());
  ReadResult r;
  r.present = t.IsPresent(f.H());
  EXPECT_EQ(f.Pos(), (int64_t)prefix.size());
  r.ok = t.ReadFromFile(f.H());
  r.pos = f.Pos();
  return r;
}

std::string Utf16LE(const std::wstring& s) {
  std::string r;
  for (wchar_t c : s) r += std::string{(char)(c & 0xFF), (char)(c >> 8)};
  return r;
}
std::string Utf16BE(const std::wstring& s) {
  std::string r;
  for (wchar_t c : s) r += std::string{(char)(c >> 8), (char)(c & 0xFF)};
  return r;
}

TEST(Id3v2, HeaderCheck) {
  struct Case {
    const char* what;
    std::string header;
    bool present;
  } cases[] = {
      {"version 3", Id3Header(3, 0, 0), true},
      {"version 2 with flags 0x40 and 0x80", Id3Header(2, 0xC0, 0), true},
      {"version 4 with the footer flag", Id3Header(4, 0x10, 0), true},
      {"version 5", Id3Header(5, 0, 0), false},
      {"version 1", Id3Header(1, 0, 0), false},
      {"version 2 with flag 0x01", Id3Header(2, 0x01, 0), false},
      {"version 3 with flag 0x10", Id3Header(3, 0x10, 0), false},
      {"version 4 with flag 0x08", Id3Header(4, 0x08, 0), false},
      {"revision 255", std::string("ID3\x03\xFF\x00", 6) + Syncsafe(0), false},
      {"size byte 0x80", std::string("ID3\x03\x00\x00\x00\x00\x00\x80", 10), false},
      {"size byte 0xFF in front", std::string("ID3\x04\x00\x00\xFF\x00\x00\x00", 10), false},
      {"lower-case marker", std::string("id3\x03\x00\x00\x00\x00\x00\x00", 10), false},
      {"truncated header", std::string("ID3\x03\x00", 5), false},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring name = dir.File(L"h.mp3");
    WriteBytes(name, "xx" + c.header);
    File f(name);
    f.Seek(2);
    TId3v2Tags t;
    EXPECT_EQ(t.IsPresent(f.H()), c.present);
    EXPECT_EQ(f.Pos(), 2);
    EXPECT_EQ(t.ReadFromFile(f.H()), c.present);
    if (!c.present) {
      EXPECT_EQ(f.Pos(), 2);
    }
  }
}

TEST(Id3v2, ReadsTextFramesInEveryEncoding) {
  ASSERT_EQ(GetACP(), 1252u) << "tags_test runs with LC_ALL=C.UTF-8";
  const std::wstring mixed = L"Caf\u00e9 \u91c7\u6837";  // Café 采样
  struct Case {
    const char* what;
    int version;
    std::string body;
    std::wstring title;
  } cases[] = {
      {"8-bit text in the code page", 3, std::string("\0Caf\xE9\0junk", 10), L"Caf\u00e9"},
      {"8-bit text without a terminator", 4, std::string("\0abc", 4), L"abc"},
      {"UTF-16 with the mark FF FE", 3, std::string("\x01\xFF\xFE") + Utf16LE(L"ab") + std::string(2, '\0'), L"ab"},
      {"UTF-16 without a mark", 3, std::string("\x01") + Utf16LE(L"ab"), L"ab"},
      {"UTF-16 with the big-endian mark FE FF", 3, std::string("\x01\xFE\xFF") + Utf16BE(mixed), mixed},
      {"UTF-16 big-endian (encoding 2)", 4, std::string("\x02") + Utf16BE(mixed) + std::string(2, '\0'), mixed},
      {"UTF-16 stops at a zero unit", 3, std::string("\x01\xFF\xFE") + Utf16LE(L"ab") + std::string(2, '\0') + Utf16LE(L"cd"),
       L"ab"},
      {"UTF-8", 4, std::string("\x03") + Utf8(mixed) + '\0', mixed},
      {"unknown encoding byte", 4, "\x04hello", L""},
      {"encoding byte alone", 3, std::string(1, '\0'), L""},
      {"UTF-16 mark alone", 3, "\x01\xFF\xFE", L""},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TId3v2Tags t;
    ReadResult r = ReadTag(dir.File(L"e.mp3"), Id3Tag(c.version, Id3Frame(c.version, "TIT2", c.body)), t);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(t.Title(), c.title);
  }
}

TEST(Id3v2, FrameWalk) {
  TempDir dir;
  const std::wstring name = dir.File(L"w.mp3");
  auto T = [](int v, const char* id, const std::string& text) { return Id3Frame(v, id, std::string(1, '\0') + text); };

  // Version 2.2 uses the three-letter row, and the position ends just after the tag.
  {
    TId3v2Tags t;
    EXPECT_EQ(t.FrameIdRow(), 1);
    const std::string tag = Id3Tag(2, T(2, "TT2", "Two") + T(2, "TP1", "Who") + T(2, "TRK", "3/9"), 7);
    ReadResult r = ReadTag(name, tag, t, "prefix");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.pos, 6 + (int64_t)tag.size());
    EXPECT_EQ(t.FrameIdRow(), 0);
    EXPECT_EQ(t.Title(), L"Two");
    EXPECT_EQ(t.Artist(), L"Who");
    EXPECT_EQ(t.Track(), "3/9");
    EXPECT_EQ(t.AsWideString("TIT2"), L"");
    r = ReadTag(name, Id3Tag(3, T(3, "TIT2", "Three")), t);
    EXPECT_EQ(t.FrameIdRow(), 1);
    EXPECT_EQ(t.Title(), L"Three");
    EXPECT_EQ(t.AsWideString("TT2"), L"");  // cleared by the read
  }
  // Every column of version 2.3/2.4 except the comment.
  {
    const char* ids[] = {"TALB", "TPE1", "TCON", "TIT2", "TRCK", "TYER", "COMM", "TCOM", "TENC", "TCOP", "TLAN", "WXXX"};
    std::string frames;
    for (const char* id : ids) frames += T(4, id, std::string("v") + id);
    TId3v2Tags t;
    ASSERT_TRUE(ReadTag(name, Id3Tag(4, frames), t).ok);
    EXPECT_EQ(t.Album(), L"vTALB");
    EXPECT_EQ(t.Artist(), L"vTPE1");
    EXPECT_EQ(t.Genre(), L"vTCON");
    EXPECT_EQ(t.Title(), L"vTIT2");
    EXPECT_EQ(t.Track(), "vTRCK");
    EXPECT_EQ(t.Year(), "vTYER");
    EXPECT_EQ(t.Comment(), L"");
    EXPECT_EQ(t.Composer(), L"vTCOM");
    EXPECT_EQ(t.Encoder(), L"vTENC");
    EXPECT_EQ(t.Copyright(), L"vTCOP");
    EXPECT_EQ(t.Language(), L"vTLAN");
    EXPECT_EQ(t.Link(), L"vWXXX");
  }
  struct Case {
    const char* what;
    std::string tag;
    std::wstring title, artist;
  } cases[] = {
      {"later frame replaces the earlier", Id3Tag(3, T(3, "TIT2", "one") + T(3, "TIT2", "two")), L"two", L""},
      {"ID starting with a digit ends the walk",
       Id3Tag(3, T(3, "TIT2", "kept") + T(3, "1PE1", "x") + T(3, "TPE1", "lost")), L"kept", L""},
      {"padding ends the walk", Id3Tag(3, T(3, "TIT2", "t"), 64), L"t", L""},
      {"frame IDs match exactly", Id3Tag(3, T(3, "TIT2", "t") + T(3, "TPE", "x") + T(3, "Tpe1", "y")), L"t", L""},
      {"unknown frames are passed over", Id3Tag(3, T(3, "APIC", std::string(5000, 'p')) + T(3, "TPE1", "a")), L"",
       L"a"},
      {"zero-length frames are skipped",
       Id3Tag(3, Id3Frame(3, "TIT2", "") + Id3Frame(3, "TXXX", "") + T(3, "TPE1", "a")), L"", L"a"},
      {"only zero-length frames", Id3Tag(4, Id3Frame(4, "TIT2", "") + Id3Frame(4, "TIT2", "")), L"", L""},
      {"an extended header yields nothing",
       Id3Header(3, 0x40, 10 + 12) + BE(6, 4) + std::string(6, '\0') + T(3, "TIT2", "x"), L"", L""},
      {"unsynchronised tag: bodies are taken as stored",
       Id3Header(3, 0x80, 15) + T(3, "TIT2", std::string("a\xFF\x00z", 4)), std::wstring(L"a\u00ff"), L""},
      {"version 2.4 frame flags are not interpreted",
       Id3Tag(4, "TIT2" + Syncsafe(4) + std::string("\x00\x03", 2) + std::string("\0abc", 4)), L"abc", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TId3v2Tags t;
    ReadResult r = ReadTag(name, c.tag, t);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.pos, (int64_t)c.tag.size());
    EXPECT_EQ(t.Title(), c.title);
    EXPECT_EQ(t.Artist(), c.artist);
  }
  // The footer flag adds 10 bytes to where the reader leaves the file.
  TId3v2Tags t;
  std::string frames = T(4, "TIT2", "f");
  std::string tag = Id3Header(4, 0x10, (uint32_t)frames.size()) + frames + "3DI" + std::string(7, '\0');
  ReadResult r = ReadTag(name, tag, t, "12345");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(t.Title(), L"f");
  EXPECT_EQ(r.pos, 5 + 10 + (int64_t)frames.size() + 10);
}

// Sizes that lie: the reader checks every size against what remains before using it.
TEST(Id3v2, MalformedTagsAreAnsweredSafely) {
  auto T = [](int v, const char* id, const std::string& text) { return Id3Frame(v, id, std::string(1, '\0') + text); };
  const std::string good = T(3, "TPE1", "good");
  struct Case {
    const char* what;
    std::string data;  // the whole file
    bool ok;
    int64_t pos;  // where the reader leaves the file
    std::wstring artist;
  } cases[] = {
      {"tag size past the end of the file", Id3Header(3, 0, 1000) + good, true, 1010, L""},
      {"tag size at the syncsafe maximum", Id3Header(4, 0, 0x0FFFFFFF) + good, true, 10 + 0x0FFFFFFF, L""},
      {"v2.3 frame size near 4 GB", Id3Tag(3, good + "TIT2" + BE(0xFFFFFFFE, 4) + std::string(2, '\0') + "\0x", 20),
       true, -1, L"good"},
      {"v2.3 frame size with the top bit set",
       Id3Tag(3, good + "TIT2" + BE(0x80000005, 4) + std::string(2, '\0') + std::string("\0abcd", 5)), true, -1,
       L"good"},
      {"v2.4 frame size bytes with high bits set",
       Id3Tag(4, T(4, "TPE1", "good") + "TIT2" + std::string(4, '\xFF') + std::string(2, '\0') + "\0x"), true, -1,
       L"good"},
      {"v2.2 frame size past the tag", Id3Tag(2, T(2, "TP1", "good") + "TT2" + BE(0xFFFFFF, 3) + "\0x"), true, -1,
       L"good"},
      {"frame one byte longer than the tag", Id3Tag(3, good + "TIT2" + BE(3, 4) + std::string(2, '\0') + "\0x"),
       true, -1, L"good"},
      {"frame header cut by the end of the tag", Id3Tag(3, good + "TIT2" + BE(1, 4)), true, -1, L"good"},
      {"frame header cut by the end of the file", Id3Header(3, 0, 20) + good.substr(0, 15), true, 30, L""},
      {"file ends inside the body", Id3Header(3, 0, (uint32_t)good.size() + 100) + good + "TIT2" + BE(90, 4) + "\0\0ab",
       true, 10 + (int64_t)good.size() + 100, L""},
      {"empty tag", Id3Tag(4, ""), true, 10, L""},
  };
  TempDir dir;
  const std::wstring name = dir.File(L"m.mp3");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes(name, c.data);
    File f(name);
    TId3v2Tags t;
    EXPECT_EQ(t.ReadFromFile(f.H()), c.ok);
    EXPECT_EQ(f.Pos(), c.pos < 0 ? (int64_t)c.data.size() : c.pos);
    EXPECT_EQ(t.Artist(), c.artist);
    EXPECT_EQ(t.Title(), L"");
  }
}

TEST(Id3v2, WritesExactlyTheVersion24Layout) {
  TempDir dir;
  const std::wstring name = dir.File(L"x.mp3");
  for (bool unicode : {false, true}) {
    SCOPED_TRACE(unicode);
    WriteBytes(name, "OLD");
    File f(name);
    TId3v2Tags t;
    t.SetTitle(L"a");
    t.SetComment(L"never written");
    ASSERT_TRUE(t.WriteToFile(f.H(), unicode));
    const std::string want = std::string("ID3\x04\x00\x00\x00\x00\x00\x16", 10) + "TIT2" +
                             std::string("\x00\x00\x00\x02\x00\x00", 6) + (unicode ? '\x03' : '\x00') + "a" +
                             std::string(10, '\0') + "OLD";
    EXPECT_EQ(ReadBytes(name), want);
  }
  // Size of a 201-byte body; an empty album leaves out only its frame.
  WriteBytes(name, "");
  {
    File f(name);
    TId3v2Tags t;
    t.SetTitle(std::wstring(200, L'x'));
    t.SetAlbum(L"");
    t.SetArtist(L"Ar");
    t.SetTrack("7");
    ASSERT_TRUE(t.WriteToFile(f.H(), true));
  }
  const std::string data = ReadBytes(name);
  EXPECT_EQ(data.size() % 16, 0u);
  EXPECT_EQ(data.find("TALB"), std::string::npos);
  const size_t tpe1 = data.find("TPE1"), tit2 = data.find("TIT2"), trck = data.find("TRCK");
  ASSERT_EQ(tpe1, 10u);
  ASSERT_NE(tit2, std::string::npos);
  EXPECT_LT(tpe1, tit2);
  EXPECT_LT(tit2, trck);
  EXPECT_EQ(data.substr(tit2 + 4, 4), std::string("\x00\x00\x01\x49", 4));
  EXPECT_EQ(data.substr(trck + 4, 8), std::string("\x00\x00\x00\x02\x00\x00\x00", 7) + "7");  // narrow: encoding 0
}

TEST(Id3v2, PrependKeepsTheOldContentsAndReadsBack) {
  ASSERT_EQ(GetACP(), 1252u);
  TempDir dir;
  const std::wstring name = dir.File(L"big.tta");
  std::string content(1 << 20, '\0');
  std::mt19937 rng(7);
  for (char& c : content) c = (char)rng();
  WriteBytes(name, content);
  TId3v2Tags t;
  t.SetTitle(L"\u91c7\u6837 Caf\u00e9");
  t.SetArtist(L"Artist");
  t.SetGenre(L"Rock");
  t.SetYear("2024");
  t.SetTrack("3");
  t.SetLink(L"http://example.org/");
  {
    File f(name);
    ASSERT_TRUE(t.WriteToFile(f.H(), true));
  }
  const std::string data = ReadBytes(name);
  TId3v2Tags back;
  int64_t tagSize = 0;
  {
    File f(name);
    ASSERT_TRUE(back.ReadFromFile(f.H()));
    tagSize = f.Pos();
  }
  EXPECT_EQ(tagSize % 16, 0);
  ASSERT_EQ(data.size(), content.size() + (size_t)tagSize);
  EXPECT_TRUE(data.compare((size_t)tagSize, std::string::npos, content) == 0);
  EXPECT_EQ(back.Title(), t.Title());
  EXPECT_EQ(back.Artist(), L"Artist");
  EXPECT_EQ(back.Genre(), L"Rock");
  EXPECT_EQ(back.Year(), "2024");
  EXPECT_EQ(back.Track(), "3");
  EXPECT_EQ(back.Link(), L"http://example.org/");

  // Without Unicode every value is 8-bit text in the code page.
  WriteBytes(name, "x");
  {
    File g(name);
    ASSERT_TRUE(t.WriteToFile(g.H(), false));
  }
  File g(name);
  ASSERT_TRUE(back.ReadFromFile(g.H()));
  EXPECT_EQ(back.Title(), L"?? Caf\u00e9");
  EXPECT_NE(ReadBytes(name).find(std::string("\0?? Caf\xE9", 8)), std::string::npos);
}

TEST(Id3v2, AVersion22TagIsWrittenBackWithFourLetterIds) {
  TempDir dir;
  const std::wstring name = dir.File(L"22.mp3");
  TId3v2Tags t;
  ReadTag(name, Id3Tag(2, Id3Frame(2, "TT2", std::string("\0old", 4))), t);
  ASSERT_EQ(t.Title(), L"old");
  WriteBytes(name, "");
  {
    File f(name);
    ASSERT_TRUE(t.WriteToFile(f.H(), true));
  }
  File f(name);
  TId3v2Tags back;
  ASSERT_TRUE(back.ReadFromFile(f.H()));
  EXPECT_EQ(back.FrameIdRow(), 1);
  EXPECT_EQ(back.Title(), L"old");
}

// When the tag cannot be put in front, the file keeps its old length and contents, so that an
// ID3v1 block written before stays the last 128 bytes.
TEST(Id3v2, AFailedPrependLeavesTheFileAsItWas) {
  TempDir dir;
  TId3v2Tags t;
  t.SetTitle(L"t");
  // A handle without write access: the file cannot grow.
  const std::wstring small = dir.File(L"ro.mp3");
  WriteBytes(small, "contents");
  {
    File ro(small, GENERIC_READ);
    EXPECT_FALSE(t.WriteToFile(ro.H(), true));
  }
  EXPECT_EQ(ReadBytes(small), "contents");

  // A handle that may write but not read: the file grows, the mapping is refused, and it must
  // shrink back.
  const std::wstring wo = dir.File(L"wo.mp3");
  WriteBytes(wo, std::string(1000, 'a') + "end");
  {
    File f(wo, GENERIC_WRITE);
    EXPECT_FALSE(t.WriteToFile(f.H(), true));
    LARGE_INTEGER size{};
    ASSERT_TRUE(GetFileSizeEx(f.H(), &size));
    EXPECT_EQ(size.QuadPart, 1003);
  }
  EXPECT_EQ(ReadBytes(wo), std::string(1000, 'a') + "end");

  // A file too large to map whole in a 32-bit process: it grows, the mapping fails, and it
  // must shrink back. A 64-bit process maps it and moves 3 GB (as any prepend does).
  if (sizeof(void*) == 8) return;
  const std::wstring big = dir.File(L"big.mp3");
  WriteBytes(big, "");
  const int64_t bigSize = 3000LL * 1024 * 1024;
  {
    File f(big);
    f.Seek(bigSize - 128);
    ASSERT_TRUE(SetEndOfFile(f.H()));
    TId3v1Tags v1;
    v1.SetTitle("last block");
    ASSERT_TRUE(v1.WriteToFile(f.H(), false));
    EXPECT_FALSE(t.WriteToFile(f.H(), true));
    LARGE_INTEGER size{};
    ASSERT_TRUE(GetFileSizeEx(f.H(), &size));
    EXPECT_EQ(size.QuadPart, bigSize);
    TId3v1Tags back;
    EXPECT_TRUE(back.ReadFromFile(f.H()));
    EXPECT_EQ(back.Title(), "last block");
  }
  DeleteFileW(big.c_str());
}

}  // namespace

namespace {

// Every truncation and a run of random byte changes of a valid tag: the reader never fails on
// a valid header, never hangs, and always leaves the file just after the tag.
TEST(Id3v2, CutAndScrambledTagsAreReadSafely) {
  auto T = [](int v, const char* id, const std::string& body) { return Id3Frame(v, id, body); };
  std::string frames = T(3, "TIT2", std::string("\x01\xFF\xFE", 3) + "a\0b\0c\0" + std::string(2, '\0')) +
                       T(3, "TPE1", std::string("\x03", 1) + "Artist") + T(3, "APIC", std::string(40, 'p')) +
                       T(3, "TRCK", std::string("\0" "7", 2));
  const std::string tag = Id3Tag(3, frames, 16);
  TempDir dir;
  const std::wstring name = dir.File(L"f.mp3");
  auto check = [&](const std::string& data) {
    WriteBytes(name, data);
    File f(name);
    TId3v2Tags t;
    const bool ok = t.ReadFromFile(f.H());
    if (ok) {
      const uint8_t* b = (const uint8_t*)data.data();
      const int64_t size = (int64_t)b[6] << 21 | (int64_t)b[7] << 14 | (int64_t)b[8] << 7 | b[9];
      EXPECT_EQ(f.Pos(), 10 + size + ((b[5] & 0x10) ? 10 : 0));
    } else {
      EXPECT_EQ(f.Pos(), 0);
    }
  };
  for (size_t len = 0; len <= tag.size(); ++len) check(tag.substr(0, len));
  std::mt19937 rng(12345);
  for (int i = 0; i < 300; ++i) {
    std::string data = tag;
    for (int k = 0; k < 3; ++k) data[10 + rng() % (data.size() - 10)] = (char)rng();
    if (i % 3 == 0) data[5] = (char)(rng() & 0xF0);  // flags, unsynchronisation included
    check(data);
  }
}

}  // namespace
