// A stand-in for the program's main form in the window tests: the form the event bus hands the
// task windows' news to (WM_CAPTION_COMMAND with CC_TASK_WINDOW). Each test program chooses how
// much of the main window's part it plays: minimised when a task window opens, brought back to the
// front when one closes, or neither. Every caption command is kept in Commands.
#pragma once
#include <cstdint>
#include <utility>
#include <vector>

#include "classlib/WinApi.h"
#include "tasks/EventsManager.h"
#include "tasks/Utils.h"
#include "widgets/UniForms.h"

namespace appwin {

class TTestMainForm : public TUniForm {
 public:
  // What the form does with a task window's news.
  enum TPart : uint8_t {
    tpNothing = 0,
    tpMinimiseOnOpen = 1,  // (CC_TASK_WINDOW, 5): minimised
    tpFrontOnClose = 2,    // (CC_TASK_WINDOW, SC_CLOSE): brought back to the front
  };
  // Threads: user-interface thread only.
  explicit TTestMainForm(TComponent* AOwner, uint8_t Part, int ClientWidth = 400, int ClientHeight = 300)
      : TUniForm(AOwner), FPart(Part) {
    SetClientSize(ClientWidth, ClientHeight);
    SetPosition(poScreenCenter);
  }
  std::vector<std::pair<uintptr_t, intptr_t>> Commands;

 protected:
  void WndProc(TMessage& Message) override {
    if (Message.Msg != WM_CAPTION_COMMAND) {
      TUniForm::WndProc(Message);
      return;
    }
    Commands.push_back({Message.WParam, Message.LParam});
    if (Message.WParam != static_cast<uintptr_t>(CC_TASK_WINDOW)) return;
    HWND self = static_cast<HWND>(Handle());
    if (Message.LParam == 5 && (FPart & tpMinimiseOnOpen)) SendMessageW(self, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    else if (Message.LParam == SC_CLOSE && (FPart & tpFrontOnClose)) TUtils::ForceForegroundWindow(self);
  }

 private:
  uint8_t FPart;
};

}  // namespace appwin
