// Vorbis comments: names, the comment split and the copy into the common tags.
#include <gtest/gtest.h>

#include "audio/tags/AuTags.h"
#include "audio/tags/TagFiles.h"

using namespace tagtest;

namespace {

TEST(Vorbis, WalkingTheSetVisitsTheNamesInSortedOrder) {
  TVorbisTags t;
  const char* order[] = {"album", "artist", "date", "discnumber", "genre", "replaygain_album_gain",
                         "replaygain_album_peak", "replaygain_reference_loudness", "replaygain_track_gain",
                         "replaygain_track_peak", "title", "tracknumber"};
  ASSERT_EQ(t.Count(), 12);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(t.Names(i), order[i]);
}

TEST(Vorbis, CommentsAreSplitAtTheFirstEqualsSign) {
  struct Case {
    std::string comment;
    const char* name;
    std::wstring value;
  } cases[] = {
      {"ARTIST=x", "artist", L"x"},
      {"title=a=b", "title", L"a=b"},
      {"novalue", "novalue", L""},
      {"=lonely", "", L"lonely"},
      {"TrackNumber=3", "tracknumber", L"3"},
      {"album=\xE9\x87\x87\xE6\xA0\xB7", "album", L"\u91c7\u6837"},
      {"replaygain_track_gain=-3.5 dB", "replaygain_track_gain", L"-3.5 dB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.comment);
    AnsiString name;
    WideString value;
    SplitVorbisComment(c.comment, name, value);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(value, c.value);
  }
  TVorbisTags t;
  for (const Case& c : cases) t.AddComment(c.comment);
  t.AddComment("unknown=1");
  EXPECT_EQ(t.Artist(), L"x");
  EXPECT_EQ(t.Title(), L"a=b");
  EXPECT_EQ(t.Track(), L"3");
  EXPECT_EQ(t.Album(), L"\u91c7\u6837");
  EXPECT_EQ(t.TrackGain(), L"-3.5 dB");
  EXPECT_EQ(MakeVorbisComment(VorbisAlbum, L"\u91c7\u6837"), "album=\xE9\x87\x87\xE6\xA0\xB7");
}

TEST(Vorbis, CopyIntoTheCommonTags) {
  TVorbisTags v;
  v.SetArtist(L"Ar");
  v.SetDate(L"2008-05-01");
  v.SetTrack(L"7");
  v.SetGenre(L"Jazz");
  TCommonTags c;
  c.SetTitle(L"stale");
  v.CopyToCommonTags(&c);
  EXPECT_EQ(c.Artist(), L"Ar");
  EXPECT_EQ(c.Year(), "2008-05-01");  // the whole date, not shortened
  EXPECT_EQ(c.Track(), "7");
  EXPECT_EQ(c.Genre(), L"Jazz");
  EXPECT_EQ(c.Title(), L"");
  EXPECT_EQ(c.Album(), L"");
}

}  // namespace
