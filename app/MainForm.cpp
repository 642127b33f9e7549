#include "app/MainForm.h"

#include <cstdio>

#include "app/CaptionBar.h"
#include "app/uBaseTaskForm.h"
#include "app/uConvertTaskForm.h"
#include "app/uMixTaskForm.h"
#include "app/uRecordOverMusicTaskForm.h"
#include "app/uSplitTaskForm.h"
#include "classlib/WinApi.h"
#include "tasks/EventsManager.h"
#include "tasks/Utils.h"
#include "toolkit/LanguageManager.h"

TAppMainForm::TAppMainForm(TComponent* AOwner) : TUniForm(AOwner) {
  SetCaption(L"SampleMorph");
  SetBorderStyle(bsSingle);
  SetPosition(poScreenCenter);
  Font()->SetName("MS Sans Serif");
  Font()->SetHeight(-11);
  SetClientSize(794, 471);
  OnCreate = [this](TObject* Sender) { FormCreate(Sender); };
  OnClose = [this](TObject* Sender, TCloseAction& Action) { FormClose(Sender, Action); };
}

void TAppMainForm::CreateParams(TCreateParams& Params) {
  TUniForm::CreateParams(Params);
  snprintf(Params.WinClassName, sizeof Params.WinClassName, "%s", "VorelWindows");
  // The window shows on the taskbar with its caption, so that the user gets it back when a task
  // window has minimised it (the application's own window, its owner, has no button).
  Params.ExStyle = (Params.ExStyle | WS_EX_APPWINDOW) & ~WS_EX_TOOLWINDOW;
}

void TAppMainForm::FormCreate(TObject*) {
  HWND self = static_cast<HWND>(Handle());
  SetWindowLongW(self, GWL_STYLE, GetWindowLongW(self, GWL_STYLE) ^ WS_CAPTION);
  // Without its frame the window keeps its client size.
  SetWindowPos(self, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  SetClientSize(794, 471);
  SetWindowRgn(self, CreateRoundRectRgn(0, 0, Width(), Height(), 8, 5), TRUE);
  BuildFrame();
}

namespace {
// A panel of the frame: owned by and on Form, at Top with Height, then aligned.
template <class T>
T* Panel(TAppMainForm* Form, TAlign Align, int Top, int Height) {
  T* panel = new T(Form);
  panel->SetParent(Form);
  panel->SetBounds(0, Top, Form->ClientWidth(), Height);
  panel->SetAlign(Align);
  return panel;
}
}  // namespace

// The runs of the task windows stop here, and the files they were writing go; the windows
// themselves are freed once the message loop has ended, since one of them may be inside a dialog
// of its own (a file dialog, the folder picker) that this close came through.
void TAppMainForm::FormClose(TObject*, TCloseAction&) { TBaseTaskForm::StopAll(); }

void TAppMainForm::BuildFrame() {
  FCaptionBar = Panel<TCaptionBar>(this, alTop, 0, 70);
  FTipBar = Panel<TTipBar>(this, alTop, FCaptionBar->Height(), 30);
  FStatusBar = Panel<TStatusBar>(this, alBottom, Height(), 30);
  FToolBox = Panel<TToolBox>(this, alClient, FCaptionBar->Height() + FTipBar->Height(), 100);
  FToolBox->OnHover = [this](TObject* Sender) { ToolHover(Sender); };
}

void TAppMainForm::ToolHover(TObject*) { FStatusBar->SetText(GetString(FToolBox->HoverTextId())); }

void TAppMainForm::WndProc(TMessage& Message) {
  if (Message.Msg == WM_CAPTION_COMMAND) {
    WMCaptionCommand(Message);
    return;
  }
  if (Message.Msg == WM_OPEN_TASK) {
    WMOpenTask(Message);
    return;
  }
  TUniForm::WndProc(Message);
}

void TAppMainForm::WMCaptionCommand(TMessage& Message) {
  HWND self = static_cast<HWND>(Handle());
  const uintptr_t command = Message.WParam;
  if (command == SC_MINIMIZE || command == SC_MAXIMIZE || command == SC_CLOSE) {
    SendMessageW(self, WM_SYSCOMMAND, command, 0);
  } else if (command == static_cast<uintptr_t>(CC_TASK_WINDOW)) {
    if (Message.LParam == 5) SendMessageW(self, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    else if (Message.LParam == SC_CLOSE) TUtils::ForceForegroundWindow(self);
  }
  Message.Result = 0;
}

void TAppMainForm::WMOpenTask(TMessage& Message) {
  switch (Message.WParam) {
    case TOOL_CONVERT: ShowConvertTask(nullptr); break;
    case TOOL_SPLIT:
    case TOOL_CUT: ShowSplitTask(nullptr); break;
    case TOOL_MIX: ShowMixTask(nullptr); break;
    case TOOL_RECORD: ShowRecordTask(nullptr); break;
    default: break;
  }
  Message.Result = 0;
}
