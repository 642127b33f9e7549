// The base of the task windows: a borderless, rounded top-level window with its own taskbar
// button, the task caption bar at the top, and a navigation strip at the bottom with the wizard's
// Back, Next and Open-folder buttons. It keeps the wizard's step, listens on the event bus, offers
// the output-folder chooser, and stops the worker of its run before it closes.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "widgets/UniForms.h"

class TUniPanel;
class TUniButton;
class TUniComboBox;
class TUniEdit;
class TTaskCaptionBar;
class TEventSource;
class TThread;

// The output formats of the task windows' format boxes, in the boxes' order: the item's text, the
// file type, the save dialog's filter and the extension.
struct TTaskOutputFormat {
  const wchar_t* Item;
  uint8_t Type;  // a TAudioFileType
  const wchar_t* SaveFilter;
  const wchar_t* Extension;
};
extern const TTaskOutputFormat TaskOutputFormats[9];
// The format of item Index of a format box; the first for an index outside the box.
// Threads: any, as the function below.
const TTaskOutputFormat& TaskOutputFormat(int Index);
// A chosen output name with Extension appended unless its own extension, in lower case, is
// Extension already ("take.wav" as MP3: "take.wav.mp3").
WideString WithOutputExtension(const WideString& Name, const WideString& Extension);

// The open dialogs' filter: all the kinds of audio file it offers, then each kind on its own. Full
// is the list of the conversion and record windows; the split and mix windows offer it without
// True Audio, OptimFROG and TAK. Every part ends with "|" and the patterns have no blanks around
// them, so that the system reads each pair as the pair it is. Threads: any.
WideString TaskOpenFilter(bool Full);

// The countdown, in seconds, of the task windows' notices and questions.
constexpr int32_t kTaskPromptSeconds = 60;

// A control of a task window made in code: owned by Owner, on Parent, at the given bounds.
// Threads: user-interface thread only, as the three below.
template <class T>
T* TaskControl(TComponent* Owner, TWinControl* Parent, int Left, int Top, int Width, int Height) {
  auto* c = new T(Owner);
  c->SetParent(Parent);
  c->SetBounds(Left, Top, Width, Height);
  return c;
}
// A button whose click calls OnClick.
TUniButton* TaskButton(TComponent* Owner, TWinControl* Parent, int Left, int Top, int Width, int Height,
                       std::function<void()> OnClick);
// A drop-down list of Width (the list's style is set before its bounds).
TUniComboBox* TaskDropDownList(TComponent* Owner, TWinControl* Parent, int Left, int Top, int Width);

// A folder with a backslash at its end (an empty one stays empty). Threads: any, as below.
WideString WithBackslash(const WideString& Path);
// Seconds as a time of day, "HH:mm:ss" (negative ones as 0).
WideString TimeOfDay(int64_t Seconds);

// The folder picker the output-folder chooser shows: the chosen folder, or empty when cancelled.
// Owner is the asking window (an HWND). The default is the system's folder browser; tests put a
// stand-in here.
extern std::function<WideString(void* Owner, const WideString& Title)> TaskFolderPicker;

class TBaseTaskForm : public TUniForm {
 public:
  // Builds the form and its navigation strip; OnCreate (run by CreateForm) does the rest.
  // Threads: user-interface thread only, as every call below.
  explicit TBaseTaskForm(TComponent* AOwner);
  // Frees the event source and the caption bar.
  ~TBaseTaskForm() override;
  const char* ClassName() const override { return "TBaseTaskForm"; }

  // The wizard's buttons.
  virtual void DoBack() = 0;
  virtual void DoNext() = 0;
  virtual void DoOpenOutputFolder() = 0;
  // The caption bar's title; the base shows the empty text of id 0.
  virtual void UpdateTitle();
  virtual void LanguageChanged();
  // The title (on the caption bar and as the window's text) and the captions of Back, Next and
  // Open folder.
  virtual void ApplyLanguage();
  virtual void CreateCaptionBar();

  // OnCreate: the caption removed and the corners rounded, the event source, the caption bar and
  // the texts, Back hidden, and the main window told that a task window opened.
  void FormCreate(TObject* Sender);
  // OnClose: the window frees itself, and the main window is told that a task window closed.
  void FormClose(TObject* Sender, TCloseAction& Action);
  // OnResize: Next 10 pixels from the right, Back 50 to its left, Open folder at 10.
  void UniFormResize(TObject* Sender);

  // The output-folder chooser: the folder picker, then (a folder that exists) a check that it can
  // be written to, or (a missing one) a question whether to create it. Edit gets the folder only
  // when one was chosen, exists and, from Windows Vista on, can be written to.
  void ChooseOutputFolder(TUniEdit* Edit);

  // The worker of the window's current run. Closing the window while it runs asks the Stop
  // question first; on OK the worker is stopped through Cancel and the window waits for it to end
  // before it closes, so that no message of that run reaches a later window of the same task.
  // Cancel must not touch the worker object (a worker that frees itself may be gone by then):
  // it sets a request the worker shares.
  void FollowWorker(TThread* Worker, std::function<void()> Cancel);
  // The run is over (or forgotten): closing no longer waits for it.
  void ForgetWorker();
  // A followed worker has not ended yet.
  bool WorkerRunning() const;
  // The Stop question (OK and Cancel, 60-second countdown); true on OK.
  bool ConfirmStop();
  // Cancels the followed worker and waits for it to end, serving sent messages meanwhile.
  void StopWorker();
  // Asks the Stop question while the worker runs, and stops it on OK; false keeps the window.
  bool CloseQuery() override;
  // Stops the running worker of every task window without a question and waits for it (the main
  // window is closing), so that no half-written file is left behind; the windows stay.
  static void StopAll();
  // Frees every task window still open (the message loop has ended), stopping a worker as above.
  static void FreeAll();

  int32_t Step() const { return FStep; }
  void SetStep(int32_t Value) { FStep = Value; }
  TTaskCaptionBar* CaptionBar() const { return FCaptionBar; }
  TEventSource* EventSource() const { return FEventSource.get(); }

  TUniPanel* pnlNavigate = nullptr;
  TUniButton* btnNext = nullptr;
  TUniButton* BtnBack = nullptr;
  TUniButton* btnOpenOutputFolder = nullptr;

 protected:
  // A top-level window of its own with a taskbar button, class "TaskWindows".
  void CreateParams(TCreateParams& Params) override;
  // WM_CAPTION_COMMAND from the caption bar.
  void WndProc(TMessage& Message) override;
  // Steps 2.1 and 2.2 of the chooser on an existing folder: the path (empty when the user gave up).
  WideString WritableFolder(WideString Path);

  TTaskCaptionBar* FCaptionBar = nullptr;

 private:
  int32_t FStep = 0;
  std::unique_ptr<TEventSource> FEventSource;
  void* FWorkerHandle = nullptr;  // a handle of the followed worker's thread, or null
  std::function<void()> FCancelWorker;
  bool FClosing = false;
};
