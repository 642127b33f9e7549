// The tag dictionary: names, values, the same-value rule behind Empty, and Assign.
#include <gtest/gtest.h>

#include "audio/tags/AuTags.h"
#include "classlib/WinApi.h"

namespace {

// A set with one name for each kind of value.
class TKinds : public TAuTags {
 public:
  TKinds() {
    AddTag("Int", (int32_t)7);
    AddTag("Narrow", AnsiString("12"));
    AddTag("Wide", WideString(L"x12"));
    AddTag("None", TTagValue());
    AddTag("int", (int32_t)99);  // a name already there (case ignored) keeps its value
    AddTag("", (int32_t)1);      // an empty name is not added
  }
};

TEST(TagModel, ConvertsEachKindOfValue) {
  TKinds t;
  EXPECT_EQ(t.Count(), 4);
  struct Case {
    const char* name;
    int32_t asInteger;
    const char* asString;
    const wchar_t* asWide;
  } cases[] = {
      {"Int", 7, "7", L"7"},          {"Narrow", 12, "12", L"12"}, {"Wide", 0, "x12", L"x12"},
      {"None", 0, "", L""},           {"Absent", 0, "", L""},      {"INT", 7, "7", L"7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(t.AsInteger(c.name), c.asInteger);
    EXPECT_EQ(t.AsString(c.name), c.asString);
    EXPECT_EQ(t.AsWideString(c.name), c.asWide);
  }
  t.SetValue("Narrow", AnsiString("-2147483648"));
  EXPECT_EQ(t.AsInteger("Narrow"), INT32_MIN);
  t.SetValue("Narrow", AnsiString("2147483648"));  // does not fit: no number
  EXPECT_EQ(t.AsInteger("Narrow"), 0);
  t.SetValue("Narrow", AnsiString("$1F"));  // decimal only
  EXPECT_EQ(t.AsInteger("Narrow"), 0);
}

TEST(TagModel, NamesAreSortedWithoutRegardToCase) {
  TCommonTags t;
  ASSERT_EQ(t.Count(), 6);
  const char* sorted[] = {"Album", "Artist", "Genre", "Title", "Track", "Year"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(t.Names(i), sorted[i]);
  EXPECT_EQ(t.Names(-1), "");
  EXPECT_EQ(t.Names(t.Count()), "");
  t.SetTitle(L"Song");
  EXPECT_EQ(std::get<WideString>(t.GetValue("TITLE")), L"Song");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(t.GetValue("Comment")));
}

TEST(TagModel, EmptyTurnsFalseOnlyWhenAValueReallyChanges) {
  struct Case {
    const char* what;
    const char* name;
    TTagValue value;
    bool emptyAfter;
  } cases[] = {
      {"name the set lacks", "Comment", WideString(L"x"), true},
      {"wide empty text equals the narrow default", "Title", WideString(), true},
      {"narrow empty text equals the default", "Year", AnsiString(), true},
      {"unassigned differs from empty text", "Year", TTagValue(), false},
      {"an integer differs from text", "Track", (int32_t)0, false},
      {"new text", "Artist", WideString(L"A"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TCommonTags t;
    EXPECT_TRUE(t.Empty());
    t.SetValue(c.name, c.value);
    EXPECT_EQ(t.Empty(), c.emptyAfter);
  }
  // Once changed and cleared, setting the same text again changes nothing more.
  TCommonTags t;
  t.SetArtist(L"Caf\u00e9");
  t.Clear();
  EXPECT_TRUE(t.Empty());
  EXPECT_TRUE(std::holds_alternative<std::monostate>(t.GetValue("Artist")));
  t.SetValue("Artist", TTagValue());
  EXPECT_TRUE(t.Empty());
}

TEST(TagModel, SameValueRule) {
  EXPECT_TRUE(TagValuesSame(AnsiString("abc"), WideString(L"abc")));
  EXPECT_TRUE(TagValuesSame((int32_t)5, (int32_t)5));
  EXPECT_FALSE(TagValuesSame((int32_t)5, AnsiString("5")));
  EXPECT_FALSE(TagValuesSame(TTagValue(), AnsiString()));
  EXPECT_TRUE(TagValuesSame(TTagValue(), TTagValue()));
  EXPECT_FALSE(TagValuesSame(WideString(L"abc"), WideString(L"ABC")));
}

TEST(TagModel, AssignCopiesTheNamesBothSetsHave) {
  TVorbisTags vorbis;
  vorbis.SetTitle(L"T");
  vorbis.SetDate(L"2008");
  TCommonTags common;
  common.SetArtist(L"old");
  common.Assign(&vorbis);  // "title" meets "Title"; "Artist" has no partner: it is cleared
  EXPECT_EQ(common.Title(), L"T");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(common.GetValue("Artist")));
  EXPECT_FALSE(common.Empty());

  // A source with none of the names: every value unassigned, the defaults lost, Empty true.
  TId3v2Tags id3;
  id3.SetTitle(L"x");
  common.Assign(&id3);
  for (int i = 0; i < common.Count(); ++i)
    EXPECT_TRUE(std::holds_alternative<std::monostate>(common.GetValue(common.Names(i)))) << common.Names(i);
  EXPECT_TRUE(common.Empty());

  // Anything else: the class library's conversion error, in both directions.
  TStringList list;
  EXPECT_THROW(common.Assign(&list), EConvertError);
  EXPECT_THROW(list.Assign(&common), EConvertError);
}

TEST(TagModel, BaseFileHooksOnlyTestTheHandle) {
  TCommonTags t;
  t.SetTitle(L"x");
  EXPECT_FALSE(t.IsPresent(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(t.ReadFromFile(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(t.WriteToFile(INVALID_HANDLE_VALUE, true));
  EXPECT_EQ(t.Title(), L"x");  // a failed read leaves the values alone
}

}  // namespace
