// A stand-in for the shell call that records each call ("operation|file") instead of making it,
// for as long as it lives; the link commands make their calls through it.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "classlib/SyncObjs.h"
#include "classlib/WinApi.h"
#include "tasks/Utils.h"
#include "unicode/UniSystem.h"

struct TShellRecorder {
  TShellRecorder() {
    Saved = UtilsShellExecute;
    UtilsShellExecute = [this](void*, const WideString& Op, const WideString& File, const WideString&,
                               const WideString&, int) -> intptr_t {
      {
        std::lock_guard<std::mutex> lock(Mutex);
        Calls.push_back(WideToUtf8(Op + L"|" + File));
      }
      Called.SetEvent();
      return 42;
    };
  }
  ~TShellRecorder() {
    Sleep(200);  // an address is opened on a thread that frees itself: let it end first
    UtilsShellExecute = Saved;
  }
  TShellRecorder(const TShellRecorder&) = delete;
  TShellRecorder& operator=(const TShellRecorder&) = delete;
  // The calls once one has come (or after Ms milliseconds without one).
  std::vector<std::string> Wait(DWORD Ms) {
    Called.WaitFor(Ms);
    std::lock_guard<std::mutex> lock(Mutex);
    return Calls;
  }
  TShellExecuteFunc Saved;
  std::mutex Mutex;
  std::vector<std::string> Calls;
  TEvent Called{false, false};
};
