#include "toolkit/LanguageManager.h"

#include <cstring>

#include "classlib/WinApi.h"
#include "unicode/UniSystem.h"

tLanguageManager* LanguageManager = nullptr;
uint16_t (*tLanguageManager::SystemLangIdHook)() = nullptr;

namespace {

// The fixed texts of this unit.
struct {
  const wchar_t* NoTable = L"*******";
  const char* ResourcePrefix = "lang_";
  const wchar_t* ResourceType = L"USRFILE";
  const wchar_t* EnvLanguage = L"U3_ENV_LANGUAGE";
} const Msg;

constexpr int32_t NoStringA = -2, NoStringB = -3;

tLangRec GLanguages[LanguageCount] = {
    {L"Arabic", L"", 27, "ar", "", 1, 1},
    {L"Bulgarian", L"", 25, "bg", "", 0, 2},
    {L"Chinese (Simplified)", L"", 11, "cz", "zh-Hans", 0, 4},
    {L"Chinese (Traditional)", L"", 18, "x1", "zh-Hant", 0, 4},
    {L"Czech", L"", 24, "cs", "", 0, 5},
    {L"Dansk", L"", 4, "da", "", 0, 6},
    {L"Deutsch", L"", 7, "de", "", 0, 7},
    {L"Eesti", L"", 2, "et", "", 0, 37},
    {L"Greek", L"", 22, "el", "", 0, 8},
    {L"English", L"", 0, "en", "", 0, 9},
    {L"Spanish", L"", 10, "es", "", 0, 10},
    {L"Fran\u00e7ais", L"", 3, "fr", "", 0, 12},
    {L"Hebrew", L"", 8, "he", "", 1, 13},
    {L"Italiano", L"", 20, "it", "", 0, 16},
    {L"Japanese", L"", 17, "ja", "", 0, 17},
    {L"Korean", L"", 16, "ko", "", 0, 18},
    {L"Latvian", L"", 30, "lv", "", 0, 38},
    {L"Lithuanian", L"", 29, "lt", "", 0, 39},
    {L"Hungarian", L"", 26, "hu", "", 0, 14},
    {L"Nederlands", L"", 6, "nl", "", 0, 19},
    {L"Norsk ", L"", 21, "no", "", 0, 20},
    {L"Polish", L"", 12, "pl", "", 0, 21},
    {L"Portuguese Brazil", L"", 5, "pt", "pt-BR", 0, 22},
    {L"Portuguese Portugal", L"", 28, "pp", "pt", 0, 22},
    {L"Romanian", L"", 15, "ro", "", 0, 24},
    {L"Russian", L"", 9, "ru", "", 0, 25},
    {L"Suomeksi", L"", 14, "fi", "", 0, 11},
    {L"Svenska", L"", 1, "sv", "", 0, 29},
    {L"Thai", L"", 13, "th", "", 0, 30},
    {L"Turkish", L"", 23, "tr", "", 0, 31},
    {L"Wipe all texts", L"", 99, "WW", "", 0, 0},
    {L"UD", L"", 1000, "xx", "", 0, 0},
};

// Native names of four entries (UTF-8 source text).
struct {
  int32_t Number;
  const char* NameUtf8;
  const wchar_t* EnglishName;
} const NativeNames[] = {
    {11, "\xE7\xAE\x80\xE4\xBD\x93\xE4\xB8\xAD\xE6\x96\x87", L"Chinese Simplified"},        // 简体中文
    {18, "\xE7\xB9\x81\xE9\xAB\x94\xE4\xB8\xAD\xE6\x96\x87 ", L"Chinese Traditional"},      // 繁體中文
    {17, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", L"Japanese"},                              // 日本語
    {0, "English", L"English"},
};

// Full Windows language ids and their codes. Only the codes of the language list can change the
// table; the others name further languages, which keep English.
struct TLangIdCode {
  uint16_t Id;
  const char* Code;
};
const TLangIdCode LangIdCodes[] = {
    {0x0401, "ar"}, {0x0801, "ar"}, {0x0C01, "ar"}, {0x1001, "ar"}, {0x1401, "ar"}, {0x1801, "ar"},
    {0x1C01, "ar"}, {0x2001, "ar"}, {0x2401, "ar"}, {0x2801, "ar"}, {0x2C01, "ar"}, {0x3001, "ar"},
    {0x3401, "ar"}, {0x3801, "ar"}, {0x3C01, "ar"}, {0x4001, "ar"},
    {0x0402, "bg"},
    {0x0404, "x1"}, {0x0C04, "x1"}, {0x1404, "x1"},
    {0x0804, "cz"}, {0x1004, "cz"},
    {0x0405, "cs"}, {0x0406, "da"},
    {0x0407, "de"}, {0x0807, "de"}, {0x0C07, "de"}, {0x1007, "de"}, {0x1407, "de"},
    {0x0408, "el"},
    {0x0409, "en"}, {0x0809, "en"}, {0x0C09, "en"}, {0x1009, "en"}, {0x1409, "en"}, {0x1809, "en"},
    {0x1C09, "en"}, {0x2009, "en"}, {0x2409, "en"}, {0x2809, "en"}, {0x2C09, "en"}, {0x3009, "en"},
    {0x3409, "en"},
    {0x040A, "es"}, {0x080A, "es"}, {0x0C0A, "es"}, {0x100A, "es"}, {0x140A, "es"}, {0x180A, "es"},
    {0x1C0A, "es"}, {0x200A, "es"}, {0x240A, "es"}, {0x280A, "es"}, {0x2C0A, "es"}, {0x300A, "es"},
    {0x340A, "es"}, {0x380A, "es"}, {0x3C0A, "es"}, {0x400A, "es"}, {0x440A, "es"}, {0x480A, "es"},
    {0x4C0A, "es"}, {0x500A, "es"},
    {0x040B, "fi"},
    {0x040C, "fr"}, {0x080C, "fr"}, {0x0C0C, "fr"}, {0x100C, "fr"}, {0x140C, "fr"}, {0x180C, "fr"},
    {0x040D, "he"}, {0x040E, "hu"}, {0x0410, "it"}, {0x0810, "it"}, {0x0411, "ja"},
    {0x0412, "ko"}, {0x0812, "ko"}, {0x0413, "nl"}, {0x0813, "nl"}, {0x0414, "no"}, {0x0814, "no"},
    {0x0415, "pl"}, {0x0416, "pt"}, {0x0816, "pp"}, {0x0418, "ro"}, {0x0419, "ru"},
    {0x041D, "sv"}, {0x081D, "sv"}, {0x041E, "th"}, {0x041F, "tr"}, {0x0425, "et"}, {0x0426, "lv"},
    {0x0427, "lt"}, {0x0827, "lt"},
    // Further languages.
    {0x0403, "ca"}, {0x040F, "is"}, {0x0417, "rm"}, {0x041A, "hr"}, {0x081A, "sr"}, {0x0C1A, "sr"},
    {0x101A, "hr"}, {0x041B, "sk"}, {0x041C, "sq"}, {0x0420, "ur"}, {0x0421, "id"}, {0x0422, "uk"},
    {0x0423, "be"}, {0x0424, "sl"}, {0x0429, "fa"}, {0x042A, "vi"}, {0x042B, "hy"}, {0x042C, "az"},
    {0x082C, "az"}, {0x042D, "eu"}, {0x042F, "mk"}, {0x0436, "af"}, {0x0437, "ka"}, {0x0438, "fo"},
    {0x0439, "hi"}, {0x043A, "mt"}, {0x043E, "ms"}, {0x083E, "ms"}, {0x043F, "kk"}, {0x0440, "ky"},
    {0x0441, "sw"}, {0x0443, "uz"}, {0x0843, "uz"}, {0x0444, "tt"}, {0x0445, "bn"}, {0x0446, "pa"},
    {0x0447, "gu"}, {0x0448, "or"}, {0x0449, "ta"}, {0x044A, "te"}, {0x044B, "kn"}, {0x044C, "ml"},
    {0x044D, "as"}, {0x044E, "mr"}, {0x044F, "sa"}, {0x0450, "mn"}, {0x0452, "cy"}, {0x0456, "gl"},
    {0x0465, "dv"}, {0x0462, "fy"}, {0x046E, "lb"}, {0x0481, "mi"},
};

const tLangRec* FindByCode(const AnsiString& Code) {
  for (const tLangRec& R : GLanguages)
    if (R.Code == Code) return &R;
  return nullptr;
}

uint32_t ReadU32(const uint8_t* P) {
  uint32_t V;
  std::memcpy(&V, P, 4);
  return V;
}

uint16_t SystemLangId() {
  return tLanguageManager::SystemLangIdHook ? tLanguageManager::SystemLangIdHook() : GetSystemDefaultLangID();
}

}  // namespace

const tLangRec* LanguageList() { return GLanguages; }

// ---------------------------------------------------------------------------------------------
// Tables

void TStringTable::Bind(const void* P, size_t TableSize) {
  Base = static_cast<const uint8_t*>(P);
  Size = TableSize;
  MaxId = -1;
  OffsetTable = StringData = 0;
  if (!Base || Size < 28) return;
  int32_t Max = static_cast<int32_t>(ReadU32(Base + 16));
  uint32_t Offsets = ReadU32(Base + 20), Data = ReadU32(Base + 24);
  // The offset table and the start of the string data must lie inside the table.
  if (Max < 0 || Max > 255 || Offsets > Size || (Size - Offsets) / 4 < static_cast<uint32_t>(Max) + 1 ||
      Data > Size)
    return;
  MaxId = Max;
  OffsetTable = Offsets;
  StringData = Data;
}

bool TStringTable::Lookup(int Id, WideString& Text) const {
  Text.clear();
  if (!Base || Id < 0 || Id > MaxId) return false;
  int32_t Entry = static_cast<int32_t>(ReadU32(Base + OffsetTable + 4 * static_cast<uint32_t>(Id)));
  if (Entry == NoStringA || Entry == NoStringB || Entry < 0) return false;
  if (static_cast<uint64_t>(StringData) + static_cast<uint32_t>(Entry) >= Size) return false;
  const char* Start = reinterpret_cast<const char*>(Base + StringData + Entry);
  const void* End = std::memchr(Start, 0, Size - StringData - static_cast<uint32_t>(Entry));
  if (!End) return false;  // no terminator before the end of the table
  Text = Utf8ToWide(AnsiString(Start, static_cast<const char*>(End)));
  return true;
}

bool FindLanguageResource(const AnsiString& Code, TStringTable& Table) {
  WideString Name = AnsiToWide(Msg.ResourcePrefix + Code);
  HMODULE Module = GetModuleHandleW(nullptr);
  HRSRC Res = FindResourceW(Module, Name.c_str(), Msg.ResourceType);
  if (!Res) return false;
  HGLOBAL Data = LoadResource(Module, Res);
  const void* P = Data ? LockResource(Data) : nullptr;
  if (!P) return false;
  Table.Bind(P, SizeofResource(Module, Res));
  return true;
}

AnsiString LangIdToCode(uint16_t LangId) {
  for (const TLangIdCode& R : LangIdCodes)
    if (R.Id == LangId) return R.Code;
  return AnsiString();
}

// ---------------------------------------------------------------------------------------------
// tLanguageManager

tLanguageManager::tLanguageManager() {
  for (const auto& N : NativeNames) {
    for (tLangRec& R : GLanguages) {
      if (R.Number == N.Number) {
        R.Name = Utf8ToWide(N.NameUtf8);
        R.EnglishName = N.EnglishName;
        break;
      }
    }
  }
  LoadLanguageByNumber(0);
  FindLanguageResource("en", FDefault);
}

void tLanguageManager::InitLanguage() {
  FBusy = true;
  SetLanguage(FPresetCode.size() == 2 ? FPresetCode : AnsiString());
  FBusy = false;
}

void tLanguageManager::SetLanguage(const AnsiString& Code) {
  AnsiString C = Code.empty() ? DetectLanguageCode() : Code;
  if (C.empty()) C = "en";
  if (FindByCode(C)) LoadLanguageByCode(C);
}

void tLanguageManager::LoadLanguageByNumber(int32_t Number) {
  for (const tLangRec& R : GLanguages) {
    if (R.Number == Number) {
      LoadLanguageByCode(R.Code);
      return;
    }
  }
}

void tLanguageManager::LoadLanguageByCode(const AnsiString& Code) {
  const tLangRec* Entry = FindByCode(Code);
  TStringTable Table;
  if (!Entry || !FindLanguageResource(Code, Table)) return;
  FCurrent = Table;
  FLanguageNumber = Entry->Number;
  FPrimaryLangId = Entry->PrimaryLangId;
  FRightToLeft = Entry->RightToLeft;
  FLanguageCode = Entry->Code;
  FCultureName = Entry->Culture.empty() ? Entry->Code : Entry->Culture;
}

AnsiString tLanguageManager::DetectLanguageCode() {
  int LangId = SystemLangId();
  wchar_t Buffer[255];
  DWORD Length = GetEnvironmentVariableW(Msg.EnvLanguage, Buffer, 255);
  if (Length >= 1 && Length <= 254) {
    int Value;
    if (TryStrToInt(WideToAnsi(WideString(Buffer, Length)), Value)) LangId = Value;
  }
  if (LangId < 0 || LangId > 0xFFFF) return AnsiString();
  return LangIdToCode(static_cast<uint16_t>(LangId));
}

WideString tLanguageManager::GetStringEx(uint8_t Id, bool Unescape, bool Fallback) {
  if (!FCurrent.Loaded()) return Msg.NoTable;
  WideString Result;
  FCurrent.Lookup(Id, Result);
  if (Fallback && Result.empty()) FDefault.Lookup(Id, Result);
  if (Unescape) {
    for (wchar_t& C : Result)
      if (C == L'|') C = L'\r';
    for (size_t P = Result.find(L"\\\r"); P != WideString::npos; P = Result.find(L"\\\r", P + 1))
      Result.replace(P, 2, L"|");
  }
  return Result;
}

void CreateLanguageManager() {
  if (LanguageManager) return;
  LanguageManager = new tLanguageManager;
  LanguageManager->InitLanguage();
}

void FreeLanguageManager() {
  delete LanguageManager;
  LanguageManager = nullptr;
}

WideString GetString(uint8_t Id) { return LanguageManager ? LanguageManager->GetString(Id) : WideString(); }
