// Registry strings read as wide text.
#pragma once
#include "classlib/Registry.h"

class TUniRegistry : public TRegistry {
 public:
  const char* ClassName() const override { return "TUniRegistry"; }
  using TRegistry::ReadString;
  // A REG_SZ or REG_EXPAND_SZ value of the current key, unexpanded and cut at its first NUL;
  // empty when it cannot be queried. Raises ERegistryException "Invalid data type for '%s'"
  // for another type and "Failed to get data for '%s'" when the data cannot be read.
  WideString ReadString(const WideString& Name);
};
