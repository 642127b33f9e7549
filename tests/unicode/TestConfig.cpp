#include "unicode/TestConfig.h"

#include <cstring>

#include "classlib/WinApi.h"

extern const UniTestConfig gUniTestConfig;

const UniTestConfig& TestConfig() { return gUniTestConfig; }

bool UniTestConfig::NT() const { return std::strcmp(Version, "win98") != 0; }
bool UniTestConfig::XP() const { return std::strcmp(Version, "win98") != 0 && std::strcmp(Version, "win2k") != 0; }

std::wstring NameInCodePage() { return TestConfig().CodePage == 936 ? L"\u4e2d\u6587" : L"caf\u00e9"; }

namespace {
void RemoveTree(const std::wstring& Dir) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((Dir + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring n = fd.cFileName;
      if (n == L"." || n == L"..") continue;
      std::wstring p = Dir + L"\\" + n;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(p);
      else {
        SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(p.c_str());
      }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(Dir.c_str());
}
}  // namespace

TempDir::TempDir(const std::wstring& Name) {
  wchar_t tmp[MAX_PATH];
  DWORD n = GetTempPathW(MAX_PATH, tmp);
  std::wstring base(tmp, n);
  if (!base.empty() && base.back() == L'\\') base.pop_back();
  // Per process: the runs of the same test in other executables go on at the same time.
  std::wstring dir = base + L"\\unitest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + Name;
  RemoveTree(dir);
  CreateDirectoryW(dir.c_str(), nullptr);
  Path = dir;
}

TempDir::~TempDir() { RemoveTree(Path); }

std::string ReadFileBytes(const std::wstring& FileName) {
  HANDLE h = CreateFileW(FileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string r;
  char buf[4096];
  DWORD got;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got) r.append(buf, got);
  CloseHandle(h);
  return r;
}

void WriteFileBytes(const std::wstring& FileName, const std::string& Bytes) {
  HANDLE h = CreateFileW(FileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD put = 0;
  if (h != INVALID_HANDLE_VALUE) {
    if (!Bytes.empty()) WriteFile(h, Bytes.data(), (DWORD)Bytes.size(), &put, nullptr);
    CloseHandle(h);
  }
}
