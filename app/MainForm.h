// The main window: a borderless, rounded window carrying the caption bar, the tip bar, the tool
// box and the status bar. Its tiles open the task windows; while one is open the main window is
// minimised, and it comes back to the front when the task window closes.
#pragma once
#include "widgets/UniForms.h"

class TCaptionBar;
class TTipBar;
class TToolBox;
class TStatusBar;

class TAppMainForm : public TUniForm {
 public:
  // Builds the form; OnCreate (run by CreateForm) shapes it and builds its frame.
  // Threads: user-interface thread only, as every call below.
  explicit TAppMainForm(TComponent* AOwner);
  const char* ClassName() const override { return "TAppMainForm"; }

  // OnCreate: the caption removed from the style, the corners rounded, the frame built.
  void FormCreate(TObject* Sender);
  // OnClose: the program ends; task windows still open go first, each stopping its run.
  void FormClose(TObject* Sender, TCloseAction& Action);
  // The four panels, owned by the form, and the tool box's hover callback.
  void BuildFrame();
  // The status bar shows the text of the hot tile, or its link when none is hot.
  void ToolHover(TObject* Sender);

  TCaptionBar* CaptionBar() const { return FCaptionBar; }
  TTipBar* TipBar() const { return FTipBar; }
  TToolBox* ToolBox() const { return FToolBox; }
  TStatusBar* StatusBar() const { return FStatusBar; }

 protected:
  // Window class "VorelWindows".
  void CreateParams(TCreateParams& Params) override;
  void WndProc(TMessage& Message) override;
  // WM_CAPTION_COMMAND: the caption bar's Minimize and Close, task windows opened and closed.
  void WMCaptionCommand(TMessage& Message);
  // WM_OPEN_TASK: a tile's tool opens its task window.
  void WMOpenTask(TMessage& Message);

 private:
  TCaptionBar* FCaptionBar = nullptr;
  TTipBar* FTipBar = nullptr;
  TToolBox* FToolBox = nullptr;
  TStatusBar* FStatusBar = nullptr;
};
