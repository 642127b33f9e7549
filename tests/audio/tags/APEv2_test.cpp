// Reading the text items of an APE version 2 tag at the end of a stream.
#include <gtest/gtest.h>

#include <random>

#include "audio/tags/AuTags.h"
#include "audio/tags/TagFiles.h"

using namespace tagtest;

namespace {

std::string Item(const std::string& key, const std::string& value, uint32_t flags = 0) {
  return LE32((uint32_t)value.size()) + LE32(flags) + key + '\0' + value;
}
std::string Footer(uint32_t tagSize, uint32_t count, uint32_t version = 2000) {
  return "APETAGEX" + LE32(version) + LE32(tagSize) + LE32(count) + LE32(0) + std::string(8, '\0');
}
std::string Tag(const std::string& items, uint32_t count, uint32_t version = 2000) {
  return items + Footer((uint32_t)items.size() + 32, count, version);
}

void Read(const std::string& data, TAPEv2Tags& t) {
  TMemoryStream s;
  if (!data.empty()) s.WriteBuffer(data.data(), (int32_t)data.size());
  ReadAPEv2Tags(&s, &t);
}

TEST(APEv2, ReadsTheSevenTextItems) {
  ASSERT_EQ(GetACP(), 1252u) << "tags_test runs with LC_ALL=C.UTF-8";
  const std::string items = Item("Artist", "Ar") + Item("Album", "Al") + Item("Copyright", "(c)") +
                            Item("Genre", "Rock") + Item("Year", "20\xE4\xB8\xAD") + Item("Track", "4/9") +
                            Item("Title", "\xC3\x9Cn\xC3\xAF\xE4\xB8\xAD") + Item("Composer", "not read");
  TAPEv2Tags t;
  t.SetComposer(L"kept");
  t.SetTitle(L"replaced");
  Read("audio data" + Tag(items, 8), t);
  EXPECT_EQ(t.Artist(), L"Ar");
  EXPECT_EQ(t.Album(), L"Al");
  EXPECT_EQ(t.Copyright(), L"(c)");
  EXPECT_EQ(t.Genre(), L"Rock");
  EXPECT_EQ(t.Year(), "20?");  // narrow: what the code page lacks is lost
  EXPECT_EQ(t.Track(), "4/9");
  EXPECT_EQ(t.Title(), L"\u00dcn\u00ef\u4e2d");
  EXPECT_EQ(t.Composer(), L"kept");  // other names only hold what callers set
}

TEST(APEv2, WhatIsPassedOverAndWhatStopsTheReader) {
  const std::string artist = Item("Artist", "A");
  struct Case {
    const char* what;
    std::string data;
    std::wstring artist, title;
  } cases[] = {
      {"an ID3v1 block after the tag hides it", Tag(artist, 1) + "TAG" + std::string(125, ' '), L"-", L"-"},
      {"version 1000", Tag(artist, 1, 1000), L"-", L"-"},
      {"no items", Tag("", 0), L"-", L"-"},
      {"keys match with exact case", Tag(Item("artist", "x") + Item("TITLE", "y") + Item("Title", "T"), 3), L"-",
       L"T"},
      {"binary and link items are passed over",
       Tag(Item("Title", std::string("\0\1\2bin", 6), 2) + Item("Title", "link", 4) + artist, 3), L"A", L"-"},
      {"read-only flag is still text", Tag(Item("Title", "ro", 1), 1), L"-", L"ro"},
      {"a header in front is not counted",
       "APETAGEX" + LE32(2000) + LE32((uint32_t)artist.size() + 32) + LE32(1) + LE32(0xA0000000) +
           std::string(8, '\0') + Tag(artist, 1),
       L"A", L"-"},
      // Malformed tags: the reader stops; what it read before stays.
      {"stream shorter than a footer", Footer(32, 0).substr(0, 31), L"-", L"-"},
      {"tag size past the start of the stream", artist + Footer(1u << 30, 1), L"-", L"-"},
      {"tag size below the footer", artist + Footer(8, 1), L"-", L"-"},
      {"tag size near 4 GB", artist + Footer(0xFFFFFFF0u, 1), L"-", L"-"},
      {"item count far too large", Tag(artist, 0xFFFFFFFFu), L"A", L"-"},
      {"value size past the footer", Tag(artist + LE32(0xFFFFFFF0u) + LE32(0) + "Title" + '\0' + "abc", 2), L"A",
       L"-"},
      {"value size reaching into the footer", Tag(artist + LE32(10) + LE32(0) + "Title" + '\0' + "abc", 2), L"A",
       L"-"},
      {"key without its zero byte", Tag(artist + LE32(1) + LE32(0) + "Title", 2), L"A", L"-"},
      {"key of 256 characters", Tag(artist + Item(std::string(256, 'K'), "v") + Item("Title", "T"), 3), L"A", L"-"},
      {"key of 255 characters", Tag(artist + Item(std::string(255, 'K'), "v") + Item("Title", "T"), 3), L"A", L"T"},
      {"item header cut", Tag(artist + LE32(1), 2), L"A", L"-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TAPEv2Tags t;
    t.SetArtist(L"-");
    t.SetTitle(L"-");
    Read(c.data, t);
    EXPECT_EQ(t.Artist(), c.artist);
    EXPECT_EQ(t.Title(), c.title);
  }
}

// Tags cut from the front and with random bytes changed: the reader ends, reads only its
// stream and keeps whatever it had read.
TEST(APEv2, CutAndScrambledTagsAreReadSafely) {
  const std::string tag = Tag(Item("Artist", "A") + Item("Title", "T", 2) + Item("Title", "Tt") +
                              Item(std::string(200, 'k'), std::string(300, 'v')) + Item("Year", "1999"), 5);
  for (size_t cut = 0; cut <= tag.size(); ++cut) {
    TAPEv2Tags t;
    Read(tag.substr(cut), t);
    if (cut == 0) {
      EXPECT_EQ(t.Title(), L"Tt");
      EXPECT_EQ(t.Year(), "1999");
    }
  }
  std::mt19937 rng(99);
  for (int i = 0; i < 500; ++i) {
    std::string data = tag;
    for (int k = 0; k < 2; ++k) data[rng() % data.size()] = (char)rng();
    TAPEv2Tags t;
    Read(data, t);
  }
}

TEST(APEv2, NamesAndProperties) {
  TAPEv2Tags t;
  EXPECT_EQ(t.Count(), 25);
  t.SetBarCode("123");
  t.SetLabelCode("LC1");
  t.SetFile_(L"f");
  t.SetDebutAlbum(L"d");
  t.SetSubTitle(L"s");
  EXPECT_EQ(t.AsString("EAN/UPC"), "123");
  EXPECT_EQ(t.AsString("lc"), "LC1");
  EXPECT_EQ(t.AsWideString("FILE"), L"f");
  EXPECT_EQ(t.AsWideString("Debut Album"), L"d");
  EXPECT_EQ(t.AsWideString("Subtitle"), L"s");
}

}  // namespace
