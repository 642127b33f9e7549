#include "unicode/UniRegistry.h"

#include <vector>

#include "classlib/WinApi.h"
#include "unicode/UniSysUtils.h"

WideString TUniRegistry::ReadString(const WideString& Name) {
  if (!Win32PlatformIsNT()) return AnsiToWide(TRegistry::ReadString(WideToAnsi(Name)));
  HKEY key = static_cast<HKEY>(CurrentKey());
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, Name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return WideString();
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw ERegistryException(WideFormat(L"Invalid data type for '%s'", Name.c_str()));
  if (size == 1) size = 2;
  // Room for the characters plus a NUL of our own: the stored text need not end in one, and an
  // odd size must not make the second query ask for more than the first reported.
  std::vector<wchar_t> buf(size / 2 + 2, L'\0');
  DWORD got = (DWORD)((buf.size() - 1) * sizeof(wchar_t));
  if (RegQueryValueExW(key, Name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &got) !=
      ERROR_SUCCESS)
    throw ERegistryException(WideFormat(L"Failed to get data for '%s'", Name.c_str()));
  size_t chars = got / 2;
  if (chars > buf.size() - 1) chars = buf.size() - 1;
  return WideString(buf.data(), wcsnlen(buf.data(), chars));
}
