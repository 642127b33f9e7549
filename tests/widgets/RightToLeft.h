// Makes the process see a system that reads right to left while it lives, whatever the
// platform's locale (tests draw right to left on any system).
#pragma once
#include "classlib/Graphics.h"

struct TRightToLeftSystem {
  TRightToLeftSystem() { SetMiddleEastLocaleSource([] { return true; }); }
  ~TRightToLeftSystem() { SetMiddleEastLocaleSource(nullptr); }
  TRightToLeftSystem(const TRightToLeftSystem&) = delete;
  TRightToLeftSystem& operator=(const TRightToLeftSystem&) = delete;
};
