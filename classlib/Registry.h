// Registry access through one current key (8-bit names and values).
#pragma once
#include "classlib/Classes.h"

CLASSLIB_EXCEPTION(ERegistryException, Exception);

class TRegistry : public TObject {
 public:
  // Root key HKEY_CURRENT_USER, access KEY_ALL_ACCESS.
  TRegistry();
  ~TRegistry() override;
  const char* ClassName() const override { return "TRegistry"; }
  void* RootKey() const { return FRootKey; }
  void SetRootKey(void* Value);
  void* CurrentKey() const { return FCurrentKey; }
  const AnsiString& CurrentPath() const { return FCurrentPath; }
  // Opens Key below the root key (a leading "\" is allowed), creating it when CanCreate.
  bool OpenKey(const AnsiString& Key, bool CanCreate);
  bool OpenKeyReadOnly(const AnsiString& Key);
  void CloseKey();
  bool ValueExists(const AnsiString& Name);
  // A REG_SZ or REG_EXPAND_SZ value, unexpanded; empty when the value does not exist. Raises
  // ERegistryException "Invalid data type for '%s'" for a value of another type and
  // "Failed to get data for '%s'" when it cannot be read.
  AnsiString ReadString(const AnsiString& Name);
  void WriteString(const AnsiString& Name, const AnsiString& Value);

 private:
  void* FRootKey;
  void* FCurrentKey = nullptr;
  AnsiString FCurrentPath;
};
