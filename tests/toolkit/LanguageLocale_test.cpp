// Run under a given host locale: the language comes from the system's own language id.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "classlib/WinApi.h"
#include "toolkit/LanguageManager.h"

namespace {

TEST(SystemLocale, PicksTheTableOfTheSystemLanguage) {
  std::string Locale = std::getenv("LC_ALL") ? std::getenv("LC_ALL") : "";
  SetEnvironmentVariableW(L"U3_ENV_LANGUAGE", nullptr);
  CreateLanguageManager();
  if (Locale.rfind("zh_CN", 0) == 0) {
    EXPECT_EQ(GetSystemDefaultLangID(), 0x0804);
    EXPECT_EQ(LanguageManager->DetectLanguageCode(), "cz");
    EXPECT_EQ(LanguageManager->LanguageCode(), "cz");
  } else if (Locale.rfind("cs_CZ", 0) == 0) {
    EXPECT_EQ(GetSystemDefaultLangID(), 0x0405);
    // Czech is in the list but has no table: English stays.
    EXPECT_EQ(LanguageManager->DetectLanguageCode(), "cs");
    EXPECT_EQ(LanguageManager->LanguageCode(), "en");
  } else {
    ADD_FAILURE() << "unexpected host locale " << Locale;
  }
  EXPECT_FALSE(LanguageManager->GetString(162).empty());
  FreeLanguageManager();
}

}  // namespace
