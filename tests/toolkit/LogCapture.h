// Captures the log hook for one test and restores it afterwards.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "toolkit/DbgUtils.h"

class LogCapture {
 public:
  LogCapture() {
    Current() = this;
    FOld = LogHook;
    LogHook = Hook;
  }
  ~LogCapture() {
    LogHook = FOld;
    Current() = nullptr;
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> L(FLock);
    return FLines;
  }

 private:
  static LogCapture*& Current() {
    static LogCapture* C = nullptr;
    return C;
  }
  static void Hook(const AnsiString& Source, const AnsiString& Text) {
    LogCapture* C = Current();
    std::lock_guard<std::mutex> L(C->FLock);
    C->FLines.push_back(Source + ": " + Text);
  }
  TLogHook FOld;
  std::mutex FLock;
  std::vector<std::string> FLines;
};
