#include "common/XInput.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace xinput {

void Run(const std::string& Args) {
  std::string cmd = "Z:\\usr\\bin\\xdotool " + Args;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    ADD_FAILURE() << "xdotool could not be started (error " << GetLastError() << "): " << cmd;
    return;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

bool PumpUntil(const std::function<bool()>& Done, unsigned TimeoutMs) {
  DWORD start = GetTickCount();
  while (!Done()) {
    DWORD spent = GetTickCount() - start;
    if (spent >= TimeoutMs) return Done();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
      if (Done()) return true;
      if (GetTickCount() - start >= TimeoutMs) return false;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, TimeoutMs - spent, QS_ALLINPUT);
  }
  return true;
}

void PumpFor(unsigned Ms) { PumpUntil([] { return false; }, Ms); }

}  // namespace xinput
