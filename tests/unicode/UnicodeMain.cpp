// The entry point of the runtime's test executables. An executable built for an older system
// version makes the Wine prefix report that version to its own name: once, with
// --set-reported-version, before its tests run side by side (the test list's set-up step); and, as
// a fallback, when a test process still sees another version it writes the name's key and starts
// itself again.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "classlib/Forms.h"
#include "classlib/WinApi.h"
#include "unicode/TestConfig.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"
#include "common/CrashExit.h"

extern const UniTestConfig gUniTestConfig{UNI_TEST_VERSION, UNI_TEST_ACP};

namespace {
std::wstring ExeName() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  size_t slash = p.find_last_of(L"\\/");
  return slash == std::wstring::npos ? p : p.substr(slash + 1);
}

bool RunningVersionIs(const char* Version) {
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof v;
  GetVersionExW(&v);
  if (!std::strcmp(Version, "win98")) return v.dwPlatformId == 1 && v.dwMajorVersion == 4 && v.dwMinorVersion == 10;
  if (!std::strcmp(Version, "win2k")) return v.dwPlatformId == 2 && v.dwMajorVersion == 5 && v.dwMinorVersion == 0;
  if (!std::strcmp(Version, "winxp")) return v.dwPlatformId == 2 && v.dwMajorVersion == 5 && v.dwMinorVersion == 1;
  return v.dwPlatformId == 2;
}

// Writes HKCU\Software\Wine\AppDefaults\<exe>\Version; true when it was changed.
bool SetReportedVersion(const char* Version) {
  std::wstring key = L"Software\\Wine\\AppDefaults\\" + ExeName();
  HKEY k;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) !=
      ERROR_SUCCESS)
    return false;
  std::wstring want(Version, Version + std::strlen(Version));
  wchar_t cur[32] = {0};
  DWORD size = sizeof cur - sizeof(wchar_t), type = 0;
  bool same = RegQueryValueExW(k, L"Version", nullptr, &type, reinterpret_cast<BYTE*>(cur), &size) == ERROR_SUCCESS &&
              type == REG_SZ && want == cur;
  if (!same)
    RegSetValueExW(k, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(want.c_str()),
                   (DWORD)((want.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
  return !same;
}

int RunAgain() {
  SetEnvironmentVariableW(L"UNI_TEST_STARTED_AGAIN", L"1");
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring cmd = GetCommandLineW();
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(path, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "could not start the test executable again (error %lu)\n", GetLastError());
    return 2;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD rc = 2;
  GetExitCodeProcess(pi.hProcess, &rc);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return (int)rc;
}
}  // namespace

int main(int argc, char** argv) {
  crashexit::Install();
  bool listing = false, setOnly = false;
  for (int i = 1; i < argc; ++i) {
    listing = listing || std::strstr(argv[i], "gtest_list_tests") != nullptr;
    setOnly = setOnly || std::strcmp(argv[i], "--set-reported-version") == 0;
  }
  // Many processes of one executable starting at once would each write the key and start again;
  // one process before them all writes it, and they start with the version already reported.
  if (setOnly) {
    if (*UNI_TEST_VERSION) SetReportedVersion(UNI_TEST_VERSION);
    return 0;
  }
  if (*UNI_TEST_VERSION && !listing) {
    bool changed = SetReportedVersion(UNI_TEST_VERSION);
    if (changed || !RunningVersionIs(UNI_TEST_VERSION)) {
      if (GetEnvironmentVariableW(L"UNI_TEST_STARTED_AGAIN", nullptr, 0) == 0) return RunAgain();
      // Started again and still the wrong version: the Platform tests report it.
    }
  }
  ::testing::GTEST_FLAG(filter) = UNI_TEST_FILTER;
  ::testing::InitGoogleTest(&argc, argv);
  ClasslibInitialize();
  UniSysUtilsInitialize();
  UniSystemInitialize();
  Application->OnException = [](TObject*, const Exception& E) {
    ADD_FAILURE() << "unhandled exception reached the application: " << E.what();
  };
  int rc = RUN_ALL_TESTS();
  UniSystemFinalize();
  UniSysUtilsFinalize();
  ClasslibFinalize();
  return rc;
}
