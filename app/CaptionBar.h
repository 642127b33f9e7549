// The main window's chrome: four owner-drawn boards stacked from top to bottom. The caption bar
// (logo, product-family title, Minimize and Close), the tip bar (two lines of text), the tool box
// (five tool tiles) and the status bar (a hint text or the maker's link, and the version). Each
// board is a host of skinned elements on the shared background; pressing on a board outside its
// buttons and dragging moves the window it is on.
//
// The caption bar's commands (WM_CAPTION_COMMAND) and the tiles' clicks (WM_OPEN_TASK) go to the
// event bus, which hands them to the main form.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "toolkit/HyperlinkControl.h"

class TForm;
class TEventSource;
class TRichText;
class TShrStaticBitmapButton;
class TSimpleButton;

// The common board: the shared background at full strength, a listener on the event bus whose
// language change calls LanguageChanged, and dragging with the left button pressed outside an
// element moves the owner form. Its own drawing (Paint) lies over the background and under the
// elements.
class TMainBoard : public THyperlinkControl {
 public:
  // Threads: user interface (every method).
  explicit TMainBoard(TComponent* AOwner);
  // The bus listener goes first: no language change reaches a board being taken apart.
  ~TMainBoard() override;
  const char* ClassName() const override { return "TMainBoard"; }
  // The nearest parent that is a form; null when that one is not a TForm.
  virtual TForm* GetOwnerForm();
  // The language tables changed: show the texts again.
  virtual void LanguageChanged() = 0;
  // Paint runs between the background and the elements, wherever the board is painted.
  void BufferedPaint(TRect R, void* DC, const TBufferedPaintProc& PaintProc, void* Data) override;
  TEventSource* EventSource() const { return fEventSource.get(); }

 protected:
  using THyperlinkControl::Paint;
  // The board's own drawing over the background; nothing here.
  virtual void Paint(TCanvas* Canvas) {}
  // The client rectangle of the board's window.
  TRect ClientBox();
  // With the left button held, pressed outside any element: the owner form gets one posted
  // WM_NCLBUTTONDOWN / HTCAPTION at the mouse's screen place a press, and the system moves it.
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;

 private:
  std::unique_ptr<TEventSource> fEventSource;
  bool fMovePosted = false;
};

// What the main window's and the task windows' caption bars share: the background picture, the
// logo and a title, and the Close and Minimize buttons in the top right corner, whose clicks
// become WM_CAPTION_COMMAND with SC_CLOSE or SC_MINIMIZE.
class TCaptionParts {
 public:
  // Makes Close, then Minimize, and adds them to Board's root, which frees them.
  // Threads: user interface (every method).
  explicit TCaptionParts(THyperlinkControl* Board);
  // The background picture at the client origin, at its own size.
  static void PaintBackground(TCanvas* Canvas);
  // The logo, then Title in a shadowed text from 75 pixels right of the client's left edge.
  static void PaintTitle(TCanvas* Canvas, const TRect& Client, const WideString& Title);
  // Close 2 pixels in from the top right corner, Minimize directly left of it.
  void Realign(const TRect& Client);
  // SC_CLOSE or SC_MINIMIZE for a click on Close or Minimize; 0 for any other element.
  uintptr_t Command(THyperlink* Link) const;
  // Sends WM_CAPTION_COMMAND with the command of Link to Wnd (an HWND); nothing for another
  // element, and nothing at all while the event bus does not exist.
  void SendCommand(THyperlink* Link, void* Wnd) const;
  TShrStaticBitmapButton* Close() const { return fClose; }
  TShrStaticBitmapButton* Minimize() const { return fMinimize; }

 private:
  TShrStaticBitmapButton* fClose;
  TShrStaticBitmapButton* fMinimize;
};

// The main window's caption bar: the logo, the product-family title, Minimize and Close, whose
// commands go to the event bus.
class TCaptionBar : public TMainBoard {
 public:
  // Threads: user interface (every method).
  explicit TCaptionBar(TComponent* AOwner);
  const char* ClassName() const override { return "TCaptionBar"; }
  void PaintCopy(TCanvas* Canvas, const TRect& Rect) override;
  void RealignRoot() override;
  void DoLinkClick(THyperlink* Link) override;
  void LanguageChanged() override;
  const TCaptionParts& Parts() const { return fParts; }

 protected:
  void Paint(TCanvas* Canvas) override;

 private:
  TCaptionParts fParts;
};

// The two lines of text under the caption bar.
class TTipBar : public TMainBoard {
 public:
  // Threads: user interface (every method).
  explicit TTipBar(TComponent* AOwner);
  const char* ClassName() const override { return "TTipBar"; }
  void LanguageChanged() override;

 protected:
  void Paint(TCanvas* Canvas) override;
};

// The five tool tiles. The hover text id is the description of the tile under the mouse (0 for
// none); OnHover hears of every change. A click on a tile sends WM_OPEN_TASK with its tool id to
// the event bus.
class TToolBox : public TMainBoard {
 public:
  static constexpr int TileCount = 5;
  // Threads: user interface (every method).
  explicit TToolBox(TComponent* AOwner);
  const char* ClassName() const override { return "TToolBox"; }
  void RealignRoot() override;
  void DoLinkClick(THyperlink* Link) override;
  void LanguageChanged() override;
  uint8_t HoverTextId() const { return fHoverTextId; }
  // The tiles in the order convert, split, cut, merge, record.
  TSimpleButton* Tile(int Index) const { return fTiles.at(static_cast<size_t>(Index)); }
  // The tool id a click on Tile(Index) sends.
  static int ToolId(int Index);

  std::function<void(TObject* Sender)> OnHover;

 protected:
  // After the board's handling the hover text id is worked out again.
  void MouseMove(TShiftState Shift, int X, int Y) override;
  // Leaving the window straight from a tile clears the hover text id too.
  void WndProc(TMessage& Message) override;

 private:
  // The hover text id of the last tile (in table order) that is hot or pressed, else 0; OnHover
  // when it changed.
  void UpdateHoverText();
  std::array<TSimpleButton*, TileCount> fTiles{};
  uint8_t fHoverTextId = 0;
};

// The bottom line: a hint text, or the maker's link while there is none, and the version.
class TStatusBar : public TMainBoard {
 public:
  // Threads: user interface (every method).
  explicit TStatusBar(TComponent* AOwner);
  const char* ClassName() const override { return "TStatusBar"; }
  // Stores the hint; the link shows only while it is empty; repaints.
  void SetText(const WideString& Text);
  const WideString& HintText() const { return fText; }
  TRichText* Link() const { return fLink; }
  void RealignRoot() override;
  // Sets the link's mark-up again.
  void LanguageChanged() override;

 protected:
  void Paint(TCanvas* Canvas) override;

 private:
  WideString fText;
  TRichText* fLink;  // belongs to the root
};
