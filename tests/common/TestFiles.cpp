#include "common/TestFiles.h"

#include <atomic>

#include "classlib/WinApi.h"

namespace testfiles {

TempDir::TempDir(const wchar_t* prefix) {
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  wchar_t name[96];
  swprintf(name, 96, L"%s-%lu-%lu-%u", prefix, GetCurrentProcessId(), GetTickCount(), counter++);
  dir_ = std::wstring(temp) + name;
  CreateDirectoryW(dir_.c_str(), nullptr);
}

TempDir::~TempDir() {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir_ + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW(File(fd.cFileName).c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(dir_.c_str());
}

bool WriteBytes(const std::wstring& file, const std::string& data) {
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  BOOL ok = WriteFile(h, data.data(), (DWORD)data.size(), &put, nullptr);
  return CloseHandle(h) && ok && put == data.size();
}

std::string ReadBytes(const std::wstring& file) {
  std::string data;
  HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return data;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) data.append(buf, got);
  CloseHandle(h);
  return data;
}

}  // namespace testfiles
