// What the running test executable was built to check: the system version the Wine prefix
// reports to it, and the code page of its locale.
#pragma once
#include <cstdint>
#include <string>

struct UniTestConfig {
  const char* Version;  // "" (the prefix's own, an NT-family version), "win98", "win2k", "winxp"
  uint32_t CodePage;    // 1252 or 936
  bool NT() const;
  bool XP() const;
};

const UniTestConfig& TestConfig();

// A file name part that the configured code page can represent: Chinese under 936, accented
// Latin under 1252.
std::wstring NameInCodePage();
// A folder of its own below the temporary folder, made empty and removed with its contents.
struct TempDir {
  explicit TempDir(const std::wstring& Name);
  ~TempDir();
  std::wstring Path;
  std::wstring operator/(const std::wstring& Name) const { return Path + L"\\" + Name; }
};
// The bytes of a whole file.
std::string ReadFileBytes(const std::wstring& FileName);
void WriteFileBytes(const std::wstring& FileName, const std::string& Bytes);
