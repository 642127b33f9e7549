// The language manager: every visible text is fetched by a one-byte id from a string table in the
// program's resources ("LANG_EN", "LANG_CZ", type "USRFILE"). The current table answers first;
// the English table is the fallback. The language is chosen once, at start-up, from the system
// language or the "U3_ENV_LANGUAGE" environment variable.
#pragma once
#include <cstddef>
#include <cstdint>

#include "classlib/SysUtils.h"

// One entry of the fixed language list.
struct tLangRec {
  WideString Name;
  WideString EnglishName;
  int32_t Number;
  AnsiString Code;     // two letters; the resource is "lang_" + Code
  AnsiString Culture;  // empty for most entries
  uint8_t RightToLeft;
  int32_t PrimaryLangId;
};

constexpr int LanguageCount = 32;
// The list in its fixed order (the native names are filled when the manager is made).
const tLangRec* LanguageList();

// A string table bound to its bytes (used in place, nothing copied). Every offset is checked
// against the table's size: a damaged entry reads as no string, never past the end.
struct TStringTable {
  const uint8_t* Base = nullptr;
  size_t Size = 0;
  int32_t MaxId = -1;
  uint32_t OffsetTable = 0;
  uint32_t StringData = 0;
  bool Loaded() const { return Base != nullptr; }
  // Binds the table at P (Size bytes); a header that does not fit leaves it loaded but empty.
  void Bind(const void* P, size_t Size);
  // The string of Id, decoded from UTF-8; false when the table has none for it.
  bool Lookup(int Id, WideString& Text) const;
};

// Finds the table resource "lang_" + Code (type "USRFILE") in the program; false when missing.
bool FindLanguageResource(const AnsiString& Code, TStringTable& Table);

class tLanguageManager {
 public:
  // Fills the native names, makes English current and reads the default table from "lang_en".
  tLanguageManager();
  // Threads (every method): the user-interface thread.
  void InitLanguage();
  // An empty code is detected; an empty result means "en". A code not in the list changes nothing.
  void SetLanguage(const AnsiString& Code);
  void LoadLanguageByNumber(int32_t Number);
  // Makes the table "lang_" + Code current when the resource exists and the code is in the list.
  void LoadLanguageByCode(const AnsiString& Code);
  AnsiString DetectLanguageCode();
  // The text of Id in the current language, else in English; "|" breaks the line ("\|": a bar).
  WideString GetString(uint8_t Id) { return GetStringEx(Id, true, true); }
  WideString GetStringEx(uint8_t Id, bool Unescape, bool Fallback);

  int32_t LanguageNumber() const { return FLanguageNumber; }
  const AnsiString& LanguageCode() const { return FLanguageCode; }
  const AnsiString& CultureName() const { return FCultureName; }
  int32_t PrimaryLangId() const { return FPrimaryLangId; }
  uint8_t RightToLeft() const { return FRightToLeft; }
  // When two characters long it replaces detection in InitLanguage.
  void SetPresetCode(const AnsiString& Code) { FPresetCode = Code; }
  bool Busy() const { return FBusy; }

  // Test seam: the system's default language id (nullptr: GetSystemDefaultLangID).
  static uint16_t (*SystemLangIdHook)();

 private:
  TStringTable FCurrent;
  TStringTable FDefault;
  int32_t FLanguageNumber = 0;
  AnsiString FLanguageCode = "en";
  AnsiString FCultureName = "en";
  int32_t FPrimaryLangId = 0;
  uint8_t FRightToLeft = 0;
  AnsiString FPresetCode;
  bool FBusy = false;
};

// The code of a full Windows language id ("" when it has none).
AnsiString LangIdToCode(uint16_t LangId);

// The one manager of the program, made after the application object initialises.
extern tLanguageManager* LanguageManager;
// The text of Id in the current language; empty while there is no manager.
// Threads: user-interface thread only.
WideString GetString(uint8_t Id);
void CreateLanguageManager();
void FreeLanguageManager();
