// Narrow tag text in a double-byte code page (Simplified Chinese, 936): tags_cp936_test runs
// with LC_ALL=zh_CN.UTF-8. That locale is not installed natively, so Wine cannot map non-ASCII
// file names under it: the files here have ASCII names.
#include <gtest/gtest.h>

#include "audio/tags/AuTags.h"
#include "audio/tags/TagFiles.h"

using namespace tagtest;

namespace {

const std::wstring kWide = L"\u91c7\u6837";      // 采样
const std::string kGbk = "\xB2\xC9\xD1\xF9";     // the same in code page 936

TEST(Cp936, Id3v1TextIsInTheSystemCodePage) {
  ASSERT_EQ(GetACP(), 936u) << "tags_cp936_test runs with LC_ALL=zh_CN.UTF-8";
  TempDir dir;
  const std::wstring name = dir.File(L"v1.mp3");
  WriteBytes(name, "audio");
  TId3v1Tags t;
  t.SetTitle(WideToAnsi(kWide));
  {
    File f(name);
    ASSERT_TRUE(t.WriteToFile(f.H(), true));
  }
  const std::string data = ReadBytes(name);
  EXPECT_EQ(data.substr(5 + 3, 4), kGbk);
  File f(name);
  TId3v1Tags back;
  ASSERT_TRUE(back.ReadFromFile(f.H()));
  EXPECT_EQ(back.AsWideString("title"), kWide);
}

TEST(Cp936, Id3v2EightBitFramesAreInTheSystemCodePage) {
  ASSERT_EQ(GetACP(), 936u);
  TempDir dir;
  const std::wstring name = dir.File(L"v2.mp3");
  WriteBytes(name, Id3Tag(3, Id3Frame(3, "TIT2", '\0' + kGbk)) + "audio");
  {
    File f(name);
    TId3v2Tags t;
    ASSERT_TRUE(t.ReadFromFile(f.H()));
    EXPECT_EQ(t.Title(), kWide);
  }
  // Written back without Unicode, as 8-bit text in the same code page.
  WriteBytes(name, "audio");
  File f(name);
  TId3v2Tags t;
  t.SetTitle(kWide);
  ASSERT_TRUE(t.WriteToFile(f.H(), false));
  EXPECT_NE(ReadBytes(name).find("TIT2" + std::string("\0\0\0\x05\0\0\0", 7) + kGbk), std::string::npos);
}

TEST(Cp936, ApeYearKeepsWhatTheCodePageHas) {
  ASSERT_EQ(GetACP(), 936u);
  const std::string items = LE32(7) + LE32(0) + "Year" + '\0' + "2024\xE5\xB9\xB4";  // 2024年
  const std::string data = items + "APETAGEX" + LE32(2000) + LE32((uint32_t)items.size() + 32) + LE32(1) + LE32(0) +
                           std::string(8, '\0');
  TMemoryStream s;
  s.WriteBuffer(data.data(), (int32_t)data.size());
  TAPEv2Tags t;
  ReadAPEv2Tags(&s, &t);
  EXPECT_EQ(t.Year(), "2024\xC4\xEA");
}

}  // namespace
