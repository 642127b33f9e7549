#include "classlib/Registry.h"

#include "classlib/WinApi.h"

#include <vector>

TRegistry::TRegistry() : FRootKey(HKEY_CURRENT_USER) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(void* Value) {
  if (Value == FRootKey) return;
  CloseKey();
  FRootKey = Value;
}

bool TRegistry::OpenKey(const AnsiString& Key, bool CanCreate) {
  AnsiString path = Key;
  if (!path.empty() && path[0] == '\\') path.erase(0, 1);
  HKEY k = nullptr;
  LONG r;
  if (CanCreate)
    r = RegCreateKeyExA(static_cast<HKEY>(FRootKey), path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                        nullptr);
  else
    r = RegOpenKeyExA(static_cast<HKEY>(FRootKey), path.c_str(), 0, KEY_ALL_ACCESS, &k);
  if (r != ERROR_SUCCESS) return false;
  CloseKey();
  FCurrentKey = k;
  FCurrentPath = path;
  return true;
}

bool TRegistry::OpenKeyReadOnly(const AnsiString& Key) {
  AnsiString path = Key;
  if (!path.empty() && path[0] == '\\') path.erase(0, 1);
  HKEY k = nullptr;
  if (RegOpenKeyExA(static_cast<HKEY>(FRootKey), path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  CloseKey();
  FCurrentKey = k;
  FCurrentPath = path;
  return true;
}

void TRegistry::CloseKey() {
  if (FCurrentKey) RegCloseKey(static_cast<HKEY>(FCurrentKey));
  FCurrentKey = nullptr;
  FCurrentPath.clear();
}

bool TRegistry::ValueExists(const AnsiString& Name) {
  return RegQueryValueExA(static_cast<HKEY>(FCurrentKey), Name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

AnsiString TRegistry::ReadString(const AnsiString& Name) {
  DWORD type = 0, size = 0;
  HKEY k = static_cast<HKEY>(FCurrentKey);
  if (RegQueryValueExA(k, Name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return AnsiString();
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw ERegistryException(Format("Invalid data type for '%s'", Name.c_str()));
  std::vector<char> buf(size + 1, '\0');
  DWORD got = size;
  if (RegQueryValueExA(k, Name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &got) != ERROR_SUCCESS)
    throw ERegistryException(Format("Failed to get data for '%s'", Name.c_str()));
  if (got > size) got = size;
  return AnsiString(buf.data(), strnlen(buf.data(), got));
}

void TRegistry::WriteString(const AnsiString& Name, const AnsiString& Value) {
  if (RegSetValueExA(static_cast<HKEY>(FCurrentKey), Name.c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(Value.c_str()), (DWORD)Value.size() + 1) != ERROR_SUCCESS)
    throw ERegistryException(Format("Failed to set data for '%s'", Name.c_str()));
}
