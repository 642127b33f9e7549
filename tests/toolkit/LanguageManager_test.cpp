#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>

#include "classlib/WinApi.h"
#include "toolkit/LanguageManager.h"
#include "unicode/UniSystem.h"

namespace {

std::string Narrow(const std::wstring& W) { return WideToUtf8(W); }

// The readable source of a production table: id -> text.
std::map<int, std::string> ReadSource(const char* Name) {
  const char* Dir = std::getenv("TEST_SOURCE_DIR");
  std::map<int, std::string> Table;
  std::ifstream In(std::string(Dir ? Dir : ".") + "/resources/" + Name);
  EXPECT_TRUE(In.good()) << Name;
  std::string Line;
  while (std::getline(In, Line)) {
    if (Line.empty() || Line[0] == '#') continue;
    size_t Tab = Line.find('\t');
    Table[std::atoi(Line.substr(0, Tab).c_str())] = Line.substr(Tab + 1);
  }
  return Table;
}

uint16_t gSystemLangId = 0x0409;
uint16_t FakeSystemLangId() { return gSystemLangId; }

class Language : public ::testing::Test {
 protected:
  void SetUp() override {
    tLanguageManager::SystemLangIdHook = FakeSystemLangId;
    gSystemLangId = 0x0409;
    SetEnvironmentVariableW(L"U3_ENV_LANGUAGE", nullptr);
  }
  void TearDown() override {
    tLanguageManager::SystemLangIdHook = nullptr;
    SetEnvironmentVariableW(L"U3_ENV_LANGUAGE", nullptr);
  }
};

TEST_F(Language, EveryIdOfBothTablesReadsBackItsSourceText) {
  for (const char* Code : {"en", "cz"}) {
    auto Source = ReadSource(Code == std::string("en") ? "lang_en.txt" : "lang_cz.txt");
    ASSERT_GT(Source.size(), 150u);
    tLanguageManager M;
    M.SetLanguage(Code);
    ASSERT_EQ(M.LanguageCode(), Code);
    for (int Id = 0; Id <= 255; ++Id) {
      auto It = Source.find(Id);
      std::string Expected = It == Source.end() ? "" : It->second;
      EXPECT_EQ(Narrow(M.GetStringEx(static_cast<uint8_t>(Id), false, false)), Expected) << Code << " id " << Id;
    }
  }
}

TEST_F(Language, ProductionTablesHaveTheirLayout) {
  for (const char* Code : {"en", "cz", "EN"}) {  // resource names are found whatever their case
    TStringTable T;
    ASSERT_TRUE(FindLanguageResource(Code, T)) << Code;
    uint32_t Total, Offsets, Data;
    int32_t MaxId;
    std::memcpy(&Total, T.Base + 12, 4);
    std::memcpy(&MaxId, T.Base + 16, 4);
    std::memcpy(&Offsets, T.Base + 20, 4);
    std::memcpy(&Data, T.Base + 24, 4);
    EXPECT_EQ(std::memcmp(T.Base, "SKLG", 4), 0);
    EXPECT_EQ(Total, T.Size);
    EXPECT_EQ(MaxId, 162);
    EXPECT_EQ(Offsets, 28u);
    EXPECT_EQ(Data, 680u);
    auto Entry = [&](int Id) {
      int32_t E;
      std::memcpy(&E, T.Base + 28 + 4 * Id, 4);
      return E;
    };
    EXPECT_EQ(Entry(0), -3);
    EXPECT_EQ(Entry(63), Entry(64));  // identical texts are stored once
    EXPECT_EQ(Entry(59), Entry(90));
  }
  TStringTable T;
  EXPECT_FALSE(FindLanguageResource("fr", T));
}

TEST_F(Language, TextsTheWindowsRelyOn) {
  tLanguageManager En, Cz;
  En.SetLanguage("en");
  Cz.SetLanguage("cz");
  EXPECT_EQ(Narrow(En.GetString(0)), "");
  EXPECT_EQ(Narrow(En.GetString(162)), "\xE5\x81\x9C\xE6\xAD\xA2\xE5\xBD\x95\xE9\x9F\xB3");  // stop recording
  EXPECT_EQ(En.GetString(162), Cz.GetString(162));
  EXPECT_EQ(En.GetString(63), En.GetString(64));
  EXPECT_NE(En.GetString(30), Cz.GetString(30));
  EXPECT_EQ(Cz.CultureName(), "zh-Hans");
  EXPECT_EQ(Cz.LanguageNumber(), 11);
  EXPECT_EQ(Cz.PrimaryLangId(), 4);
  EXPECT_EQ(En.CultureName(), "en");
}

TEST_F(Language, UnescapingAndFallback) {
  tLanguageManager M;
  M.SetLanguage("de");
  ASSERT_EQ(M.LanguageCode(), "de");
  EXPECT_EQ(Narrow(M.GetString(5)), "a\rb");  // a bar breaks the line (CR alone)
  EXPECT_EQ(Narrow(M.GetString(6)), "a|b");   // a backslash before it keeps the bar
  EXPECT_EQ(Narrow(M.GetStringEx(5, false, true)), "a|b");
  tLanguageManager En;
  En.SetLanguage("en");
  EXPECT_EQ(M.GetString(7), En.GetString(7));  // missing here: the English text
  EXPECT_FALSE(M.GetString(7).empty());
  EXPECT_EQ(Narrow(M.GetStringEx(7, true, false)), "");
  EXPECT_EQ(Narrow(M.GetString(200)), "");  // above every table's highest id
  EXPECT_EQ(Narrow(M.GetString(8)), "acht");
}

// Every escape of the tables and its reverse: a bar is a line break (a carriage return alone),
// a backslash just before a bar keeps the bar; anything else stays. Without unescaping the
// stored text comes back as written.
TEST_F(Language, EveryEscapeAndItsReverse) {
  struct Case {
    uint8_t Id;
    const char* Stored;
    const char* Shown;
  } Cases[] = {
      {5, "a|b", "a\rb"},   {6, "a\\|b", "a|b"},   {9, "|a", "\ra"},       {10, "a|", "a\r"},
      {11, "a||b", "a\r\rb"}, {12, "\\|", "|"},    {13, "\\\\|", "\\|"}, {14, "a\\b", "a\\b"},
      {15, "a\\", "a\\"}, {16, "\\|\\|", "||"}, {17, "|\\|", "\r|"},  {18, "a\\||b", "a|\rb"},
      {19, "|", "\r"},       {8, "acht", "acht"},
  };
  tLanguageManager M;
  M.SetLanguage("de");
  ASSERT_EQ(M.LanguageCode(), "de");
  for (const Case& C : Cases) {
    EXPECT_EQ(Narrow(M.GetStringEx(C.Id, false, false)), C.Stored) << int(C.Id);
    EXPECT_EQ(Narrow(M.GetStringEx(C.Id, true, false)), C.Shown) << int(C.Id);
    EXPECT_EQ(Narrow(M.GetString(C.Id)), C.Shown) << int(C.Id);
  }
}

TEST_F(Language, TheEnvironmentOrTheSystemPicksTheTable) {
  struct Case {
    uint16_t System;
    const wchar_t* Env;  // nullptr: unset
    const char* Code;
  } Cases[] = {
      {0x0409, nullptr, "en"}, {0x0804, nullptr, "cz"},  {0x1004, nullptr, "cz"},
      {0x0407, nullptr, "de"},                            // in the list, with the test's table
      {0x040C, nullptr, "en"},                            // in the list, no table: English stays
      {0x041B, nullptr, "en"},                            // a code outside the list
      {0x7777, nullptr, "en"},                            // an unknown id
      {0x0409, L"2052", "cz"}, {0x0804, L"1033", "en"},   {0x0409, L"$804", "cz"},
      {0x0409, L"0x804", "cz"}, {0x0409, L"1031", "de"},  {0x0804, L"abc", "cz"},
      {0x0409, L"", "en"},     {0x0409, L"-5", "en"},
  };
  for (const Case& C : Cases) {
    gSystemLangId = C.System;
    SetEnvironmentVariableW(L"U3_ENV_LANGUAGE", C.Env);
    tLanguageManager M;
    M.InitLanguage();
    EXPECT_EQ(M.LanguageCode(), C.Code) << std::hex << C.System << " " << (C.Env ? Narrow(C.Env) : "unset");
  }
  // A value of 255 characters or more is ignored.
  gSystemLangId = 0x0804;
  std::wstring Long(255, L'1');
  SetEnvironmentVariableW(L"U3_ENV_LANGUAGE", Long.c_str());
  tLanguageManager M;
  EXPECT_EQ(M.DetectLanguageCode(), "cz");
  // A preset code of two characters replaces detection.
  tLanguageManager P;
  P.SetPresetCode("de");
  P.InitLanguage();
  EXPECT_EQ(P.LanguageCode(), "de");
}

TEST_F(Language, ListAndCodes) {
  const tLangRec* L = LanguageList();
  EXPECT_EQ(Narrow(L[11].Name), "Fran\xC3\xA7" "ais");
  EXPECT_EQ(L[20].Name, L"Norsk ");
  tLanguageManager M;  // fills the native names
  EXPECT_EQ(Narrow(L[2].Name), "\xE7\xAE\x80\xE4\xBD\x93\xE4\xB8\xAD\xE6\x96\x87");
  EXPECT_EQ(L[2].EnglishName, L"Chinese Simplified");
  EXPECT_EQ(L[0].RightToLeft, 1);
  EXPECT_EQ(LangIdToCode(0x0816), "pp");
  EXPECT_EQ(LangIdToCode(0x0403), "ca");
  EXPECT_EQ(LangIdToCode(0x0000), "");
}

// A damaged table never reads outside its bytes: the table is placed flush against a page that
// may not be read, then cut and corrupted; every id is looked up.
TEST_F(Language, DamagedTablesReadNothingOutsideThemselves) {
  TStringTable Real;
  ASSERT_TRUE(FindLanguageResource("en", Real));
  std::vector<uint8_t> Original(Real.Base, Real.Base + Real.Size);
  const size_t Page = 4096, Span = 2 * Page;
  auto* Block = static_cast<uint8_t*>(VirtualAlloc(nullptr, Span + Page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(Block, nullptr);
  DWORD Old;
  ASSERT_TRUE(VirtualProtect(Block + Span, Page, PAGE_NOACCESS, &Old));
  auto Check = [&](const std::vector<uint8_t>& Bytes) {
    uint8_t* At = Block + Span - Bytes.size();
    std::memcpy(At, Bytes.data(), Bytes.size());
    TStringTable T;
    T.Bind(At, Bytes.size());
    WideString Text;
    for (int Id = -1; Id <= 256; ++Id) T.Lookup(Id, Text);
  };
  for (size_t Cut = 0; Cut <= Original.size(); Cut += (Cut < 800 ? 1 : 7))
    Check(std::vector<uint8_t>(Original.begin(), Original.begin() + static_cast<ptrdiff_t>(Cut)));
  std::mt19937 Rng(99);
  for (int Round = 0; Round < 3000; ++Round) {
    std::vector<uint8_t> Bytes = Original;
    for (int E = 0; E < 4; ++E) {
      size_t At = Rng() % (Round % 2 ? 700 : Bytes.size());  // header and offsets more often
      Bytes[At] = static_cast<uint8_t>(Rng());
    }
    Check(Bytes);
  }
  // A string without its terminator at the very end reads as no string.
  std::vector<uint8_t> NoNul = Original;
  NoNul.back() = 'x';
  uint8_t* At = Block + Span - NoNul.size();
  std::memcpy(At, NoNul.data(), NoNul.size());
  TStringTable T;
  T.Bind(At, NoNul.size());
  WideString Text;
  int32_t LastOffset = -1;
  for (int Id = 1; Id <= 162; ++Id) {
    int32_t E;
    std::memcpy(&E, NoNul.data() + 28 + 4 * Id, 4);
    LastOffset = std::max(LastOffset, E);
  }
  for (int Id = 1; Id <= 162; ++Id) {
    int32_t E;
    std::memcpy(&E, NoNul.data() + 28 + 4 * Id, 4);
    if (E == LastOffset) {
      EXPECT_FALSE(T.Lookup(Id, Text)) << Id;
    }
  }
  VirtualFree(Block, 0, MEM_RELEASE);
}

}  // namespace
