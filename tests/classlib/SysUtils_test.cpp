#include "classlib/SysUtils.h"

#include <gtest/gtest.h>

#include <cfenv>

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
  struct { double x; int64_t r; } cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {-0.5, 0}, {-1.5, -2},
                                             {2.4999, 2}, {2.5001, 3}, {1e10 + 0.5, 10000000000LL}};
  for (auto& c : cases) EXPECT_EQ(Round(c.x), c.r) << c.x;
  EXPECT_EQ(Trunc(-2.7), -2);
}

TEST(ControlWord, SetsTheX87WordOnly) {
  uint16_t old = Get8087CW();
  Set8087CW(0x133F);
  EXPECT_EQ(Get8087CW() & 0x1F3F, 0x133F);
  Set8087CW(old);
  EXPECT_EQ(Get8087CW(), old);
}

TEST(Formatting, PrintfPatterns) {
  EXPECT_EQ(Format("%s(%d)%s", "song", 0, ".mp3"), "song(0).mp3");
  EXPECT_EQ(WideFormat(L"%s(%d)%s", L"\u6b4c", 3, L".wav"), L"\u6b4c(3).wav");
  EXPECT_EQ(WideFormat(L"%.2d:%.2d:%.2d", 1, 2, 3), L"01:02:03");
  std::string longer(1000, 'x');
  EXPECT_EQ(Format("[%s]", longer.c_str()).size(), 1002u);
  EXPECT_EQ(WideFormat(L"[%s]", std::wstring(700, L'y').c_str()).size(), 702u);
  EXPECT_EQ(IntToHex(0x1F, 4), "001F");
}

TEST(Conversion, IntegersParseOrRaise) {
  EXPECT_EQ(StrToInt(" 42 "), 42);
  EXPECT_EQ(StrToInt("-7"), -7);
  EXPECT_EQ(StrToInt("$804"), 0x804);
  EXPECT_EQ(StrToInt("0x1004"), 0x1004);
  EXPECT_EQ(StrToIntDef("abc", 5), 5);
  for (const char* bad : {"", "12a", "0x", "99999999999"}) {
    try {
      StrToInt(bad);
      ADD_FAILURE() << bad;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), WideFormat(L"'%hs' is not a valid integer value", bad));
    }
  }
}

TEST(Exceptions, CarryWideMessagesAndClassNames) {
  try {
    throw EFOpenError(L"Cannot open file \"\u6587.wav\". x");
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.ClassName(), "EFOpenError");
    EXPECT_EQ(e.Message(), L"Cannot open file \"\u6587.wav\". x");
    EXPECT_STREQ(e.what(), "Cannot open file \"\xe6\x96\x87.wav\". x");
  }
  try {
    RaiseLastOSError(2);
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode, 2u);
    EXPECT_EQ(e.Message().rfind(L"System Error.  Code: 2.\r\n", 0), 0u);
    EXPECT_GT(e.Message().size(), 25u);  // the system's own text follows
  }
  try {
    Assert(1 + 1 == 3);
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(e.Message().find(L"SysUtils_test.cpp, line"), std::wstring::npos);
  }
}
