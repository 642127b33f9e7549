#include "common/Peer.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <sstream>
#include <string>

// Wine starts a native program for CreateProcess, but hands back no process handle to wait on.
// So the native side runs a small script that stores the command's output, error and exit code
// in files of a private job folder, the exit code last (by rename); this side waits for that file.

namespace peer {
namespace {

std::string ReadWhole(const std::wstring& path) {
  std::string data;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return data;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) data.append(buf, got);
  CloseHandle(h);
  return data;
}

bool WriteWhole(const std::wstring& path, const std::string& data) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  bool ok = ::WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &put, nullptr) && put == data.size();
  CloseHandle(h);
  return ok;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring Widen(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring w(n > 1 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &w[0], n);
  return w;
}

// The Windows path of a native one (Wine maps / to Z: unless told otherwise).
std::wstring DosPath(const std::string& unixPath) {
  using DosName = WCHAR*(CDECL*)(const char*);
  static const auto toDos = reinterpret_cast<DosName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  if (toDos) {
    if (WCHAR* name = toDos(unixPath.c_str())) {
      std::wstring result(name);
      HeapFree(GetProcessHeap(), 0, name);
      return result;
    }
  }
  std::wstring w = L"Z:" + Widen(unixPath);
  for (wchar_t& c : w)
    if (c == L'/') c = L'\\';
  return w;
}

void RemoveJobFolder(const std::wstring& dir) {
  for (const wchar_t* name : {L"cmd", L"run", L"out", L"err", L"rc", L"rc.tmp"}) DeleteFileW((dir + L"\\" + name).c_str());
  RemoveDirectoryW(dir.c_str());
}

}  // namespace

std::string Quote(const std::string& text) {
  std::string q = "'";
  for (char c : text) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

std::string UnixPath(const std::wstring& windowsPath) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  static const auto toUnix = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return {};
  wchar_t full[MAX_PATH * 4];
  DWORD n = GetFullPathNameW(windowsPath.c_str(), MAX_PATH * 4, full, nullptr);
  if (n == 0 || n >= MAX_PATH * 4) return {};
  char* name = toUnix(full);
  if (!name) return {};
  std::string result(name);
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

Result Run(const std::string& command, unsigned timeoutSeconds) {
  Result r;
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH];
  if (!GetTempPathW(MAX_PATH, temp)) {
    r.err = "peer: no temporary folder";
    return r;
  }
  wchar_t name[64];
  swprintf(name, 64, L"peer-%lu-%u", GetCurrentProcessId(), counter++);
  const std::wstring dir = std::wstring(temp) + name;
  if (!CreateDirectoryW(dir.c_str(), nullptr)) {
    r.err = "peer: cannot create the job folder";
    return r;
  }
  const std::string udir = UnixPath(dir);
  wchar_t cwd[MAX_PATH * 4];
  const std::string ucwd = GetCurrentDirectoryW(MAX_PATH * 4, cwd) ? UnixPath(cwd) : std::string();
  if (udir.empty() || ucwd.empty()) {
    RemoveJobFolder(dir);
    r.err = "peer: not running under Wine (no native path for the job folder)";
    return r;
  }

  const std::string d = Quote(udir);
  std::string script = "PATH=\"$PATH:/usr/local/bin:/usr/bin:/bin\"; export PATH\n";
  script += "cd " + Quote(ucwd) + " || exit 1\n";
  script += "timeout -k 5 " + std::to_string(timeoutSeconds) + " /bin/sh " + d + "/cmd < /dev/null > " + d +
            "/out 2> " + d + "/err\n";
  script += "echo $? > " + d + "/rc.tmp && mv " + d + "/rc.tmp " + d + "/rc\n";
  if (!WriteWhole(dir + L"\\cmd", command + "\n") || !WriteWhole(dir + L"\\run", script)) {
    RemoveJobFolder(dir);
    r.err = "peer: cannot write the job files";
    return r;
  }

  // The program by its Windows name; its argument, read by the native shell, by the native one.
  std::wstring line = L"\"" + DosPath("/bin/sh") + L"\" \"" + Widen(udir + "/run") + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
    RemoveJobFolder(dir);
    r.err = "peer: cannot start /bin/sh (error " + std::to_string(GetLastError()) + ")";
    return r;
  }
  if (pi.hProcess) CloseHandle(pi.hProcess);
  if (pi.hThread) CloseHandle(pi.hThread);

  // The native side gives up after timeoutSeconds (+5 s to kill); allow a margin beyond that.
  const DWORD started = GetTickCount(), limit = (timeoutSeconds + 15) * 1000;
  const std::wstring rcFile = dir + L"\\rc";
  DWORD pause = 1;
  while (!Exists(rcFile)) {
    if (GetTickCount() - started > limit) {
      r.err = "peer: no answer from /bin/sh: " + command;
      return r;  // the job folder is left behind: the native side may still write into it
    }
    Sleep(pause);
    if (pause < 20) pause *= 2;
  }
  const std::string rc = ReadWhole(rcFile);
  r.out = ReadWhole(dir + L"\\out");
  r.err = ReadWhole(dir + L"\\err");
  RemoveJobFolder(dir);
  int code = -1;
  if (std::sscanf(rc.c_str(), "%d", &code) == 1) r.exitCode = code;
  if (r.exitCode == 124 || r.exitCode == 137) {  // timeout's own codes
    r.err += "\npeer: timed out after " + std::to_string(timeoutSeconds) + " s: " + command;
    r.exitCode = -1;
  }
  return r;
}

std::string NativeArg(const std::wstring& windowsPath) { return Quote(UnixPath(windowsPath)); }

std::map<std::string, std::string> ProbeFields(const std::string& output) {
  std::map<std::string, std::string> m;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    if (key.rfind("TAG:", 0) == 0) {
      key = "tag:" + key.substr(4);
      std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    m.emplace(key, line.substr(eq + 1));
  }
  return m;
}

}  // namespace peer
