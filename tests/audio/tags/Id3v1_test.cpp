// The 128-byte ID3v1 block: presence, reading (with the v1.1 track), writing, genres.
#include <gtest/gtest.h>

#include "audio/tags/AuTags.h"
#include "audio/tags/TagFiles.h"

using namespace tagtest;

namespace {

std::string Field(const std::string& text, size_t size) {
  std::string f = text.substr(0, size);
  f.resize(size, '\0');
  return f;
}

// A block from its raw fields (the comment field is all 30 bytes, track byte included).
std::string Block(const std::string& title, const std::string& year, const std::string& comment30, int genre,
                  const std::string& artist = "Artist", const std::string& album = "Album") {
  std::string b = "TAG" + Field(title, 30) + Field(artist, 30) + Field(album, 30) + Field(year, 4) +
                  Field(comment30, 30) + (char)genre;
  EXPECT_EQ(b.size(), 128u);
  return b;
}

TEST(Id3v1, ReadsTheFieldsOfTheBlock) {
  ASSERT_EQ(GetACP(), 1252u) << "tags_test runs with LC_ALL=C.UTF-8";
  struct Case {
    const char* what;
    std::string title, year, comment;
    int genre;
    std::string wantTitle, wantComment;
    int wantTrack, wantYear, wantGenreId;
    const char* wantGenre;
  } cases[] = {
      {"v1.1 track after a zero byte", "Song", "1999", std::string("Note", 4) + std::string(24, ' ') + '\0' + '\5', 7,
       "Song", "Note", 5, 1999, 7, "Hip-Hop"},
      {"two zero bytes: whole comment, no track", "Song", "1999",
       std::string(28, 'c') + std::string(2, '\0'), 0, "Song", std::string(28, 'c'), 0, 1999, 0, "Blues"},
      {"space then a letter reads as a track", "Song", "2001", std::string(28, 'c') + " x", 1, "Song",
       std::string(28, 'c'), 120, 2001, 1, "Classic Rock"},
      {"30-character comment", "Song", "2001", std::string(30, 'd'), 1, "Song", std::string(30, 'd'), 0, 2001, 1,
       "Classic Rock"},
      {"year that is no number", "Song", "19a5", "", 12, "Song", "", 0, 0, 12, "Other"},
      {"genre beyond the table", "Song", "", "", 200, "Song", "", 0, 0, 12, "Other"},
      {"trimmed at both ends, inner text kept", std::string("  \x01" "Caf\xE9 au lait \0\0 ", 19), " 42 ", "", 147,
       "Caf\xE9 au lait", "", 0, 42, 147, "Synthpop"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring name = dir.File(L"v1.mp3");
    WriteBytes(name, std::string(1000, 'a') + Block(c.title, c.year, c.comment, c.genre));
    File f(name);
    f.Seek(10);
    TId3v1Tags t;
    EXPECT_TRUE(t.IsPresent(f.H()));
    EXPECT_EQ(f.Pos(), 10);  // the presence test keeps the position
    ASSERT_TRUE(t.ReadFromFile(f.H()));
    EXPECT_EQ(f.Pos(), 1128);  // the reader leaves the file at its end
    EXPECT_EQ(t.Title(), c.wantTitle);
    EXPECT_EQ(t.Artist(), "Artist");
    EXPECT_EQ(t.Album(), "Album");
    EXPECT_EQ(t.Comment(), c.wantComment);
    EXPECT_EQ(t.Track(), c.wantTrack);
    EXPECT_EQ(t.Year(), c.wantYear);
    EXPECT_EQ(t.GenreId(), c.wantGenreId);
    EXPECT_EQ(t.Genre(), c.wantGenre);
    EXPECT_FALSE(t.Empty());
  }
  // 8-bit text is in the system code page.
  TId3v1Tags t;
  t.SetTitle("Caf\xE9");
  EXPECT_EQ(t.AsWideString("title"), L"Caf\u00e9");
}

TEST(Id3v1, NoBlockNoValues) {
  struct Case {
    const char* what;
    std::string data;
  } cases[] = {
      {"127 bytes", "TAG" + std::string(124, 'x')},
      {"empty file", ""},
      {"lower-case marker", "tag" + std::string(125, 'x')},
      {"marker not in the last 128 bytes", "TAG" + std::string(200, 'x')},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring name = dir.File(L"none.mp3");
    WriteBytes(name, c.data);
    File f(name);
    TId3v1Tags t;
    t.SetTitle("kept?");
    EXPECT_FALSE(t.IsPresent(f.H()));
    EXPECT_EQ(f.Pos(), 0);
    EXPECT_FALSE(t.ReadFromFile(f.H()));
    EXPECT_EQ(t.Title(), "");  // cleared
    EXPECT_TRUE(t.Empty());
  }
}

TEST(Id3v1, GenreNamesAndIds) {
  TId3v1Tags t;
  EXPECT_EQ(t.GenreId(), 12);
  EXPECT_EQ(t.Genre(), "Other");
  t.SetGenre("hip-hop");
  EXPECT_EQ(t.GenreId(), 7);
  t.SetGenre("No Such Genre");
  EXPECT_EQ(t.GenreId(), 7);
  t.SetGenre("SYNTHPOP");
  EXPECT_EQ(t.GenreId(), 147);
  t.SetGenreId(-1);
  EXPECT_EQ(t.GenreId(), 12);
  EXPECT_STREQ(Id3v1Genres[0], "Blues");
  EXPECT_STREQ(Id3v1Genres[80], "Folk");
  EXPECT_STREQ(Id3v1Genres[127], "Drum & Bass");
  // An integer artist reads as empty text.
  t.SetValue("artist", (int32_t)5);
  EXPECT_EQ(t.Artist(), "");
}

TEST(Id3v1, WritesABlockAtTheEnd) {
  struct Case {
    const char* what;
    std::string title, comment;
    uint8_t track;
    uint16_t year;
    std::string wantTitle, wantComment, wantYearField;
  } cases[] = {
      {"long title cut to 30", std::string(40, 'T'), "c", 0, 1999, std::string(30, 'T'), "c", "1999"},
      {"track 0 keeps a 30-byte comment", "t", std::string(30, 'C'), 0, 0, "t", std::string(30, 'C'),
       std::string("0\0\0\0", 4)},
      {"a track cuts the comment to 28", "t", std::string(30, 'C'), 3, 12345, "t", std::string(28, 'C'), "1234"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring name = dir.File(L"w.mp3");
    WriteBytes(name, "audio");
    {
      File f(name);
      TId3v1Tags t;
      t.SetTitle(c.title);
      t.SetArtist("Ar");
      t.SetAlbum(std::string(31, 'L'));
      t.SetComment(c.comment);
      t.SetTrack(c.track);
      t.SetYear(c.year);
      t.SetGenre("Rock");
      ASSERT_TRUE(t.WriteToFile(f.H(), true));
    }
    const std::string data = ReadBytes(name);
    ASSERT_EQ(data.size(), 5u + 128);
    const std::string b = data.substr(5);
    EXPECT_EQ(b.substr(0, 3), "TAG");
    EXPECT_EQ(b.substr(93, 4), c.wantYearField);
    EXPECT_EQ((uint8_t)b[127], 17);
    if (c.track) {
      EXPECT_EQ(b[125], 0);
      EXPECT_EQ((uint8_t)b[126], c.track);
    }
    File f(name);
    TId3v1Tags back;
    ASSERT_TRUE(back.ReadFromFile(f.H()));
    EXPECT_EQ(back.Title(), c.wantTitle);
    EXPECT_EQ(back.Artist(), "Ar");
    EXPECT_EQ(back.Album(), std::string(30, 'L'));
    EXPECT_EQ(back.Comment(), c.wantComment);
    EXPECT_EQ(back.Track(), c.track);
    EXPECT_EQ(back.Genre(), "Rock");
  }
  // The writer always appends, an existing block or not.
  const std::wstring name = dir.File(L"w.mp3");
  File f(name);
  TId3v1Tags t;
  EXPECT_TRUE(t.WriteToFile(f.H(), false));
  EXPECT_EQ(f.Pos(), 5 + 256);
  File ro(name, GENERIC_READ);
  EXPECT_FALSE(t.WriteToFile(ro.H(), false));
}

}  // namespace
