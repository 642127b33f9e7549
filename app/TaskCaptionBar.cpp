#include "app/TaskCaptionBar.h"

// ---------------------------------------------------------------------------------------------
// TTaskMainBoard

TTaskMainBoard::TTaskMainBoard(TComponent* AOwner) : TMainBoard(AOwner) {
  // Called from the constructor, this is this class's own LanguageChanged, whatever derives.
  LanguageChanged();
}

void TTaskMainBoard::LanguageChanged() { Invalidate(); }

// ---------------------------------------------------------------------------------------------
// TTaskCaptionBar

TTaskCaptionBar::TTaskCaptionBar(TComponent* AOwner, void* CommandWindow)
    : TTaskMainBoard(AOwner), fCommandWindow(CommandWindow), fParts(this) {}

void TTaskCaptionBar::SetCaption(const WideString& Text) {
  if (Text == fCaption) return;
  fCaption = Text;
  Invalidate();
}

void TTaskCaptionBar::PaintCopy(TCanvas* Canvas, const TRect& Rect) {
  TTaskMainBoard::PaintCopy(Canvas, Rect);
  TCaptionParts::PaintBackground(Canvas);
}

void TTaskCaptionBar::Paint(TCanvas* Canvas) {
  TTaskMainBoard::Paint(Canvas);
  TCaptionParts::PaintTitle(Canvas, ClientBox(), fCaption);
}

void TTaskCaptionBar::RealignRoot() {
  fParts.Realign(ClientBox());
  TTaskMainBoard::RealignRoot();
}

void TTaskCaptionBar::DoLinkClick(THyperlink* Link) {
  TTaskMainBoard::DoLinkClick(Link);
  // The task window may close on this: nothing of the bar is touched after the send.
  fParts.SendCommand(Link, fCommandWindow);
}

void TTaskCaptionBar::LanguageChanged() { TTaskMainBoard::LanguageChanged(); }
