#include "app/CaptionBar.h"

#include "classlib/Forms.h"
#include "classlib/WinApi.h"
#include "tasks/EventsManager.h"
#include "tasks/Utils.h"
#include "toolkit/AlphaGraphics.h"
#include "toolkit/ImageCache.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/RichText.h"
#include "toolkit/shrControls.h"

namespace {

// The fixed texts of this unit.
struct {
  // The maker's site: the status bar's link while no hint shows.
  const wchar_t* SiteLink = L"<a href=\"kvplug?url:http://www.example.com/\">http://www.example.com/</a>";
} const Msg;

// Skin pictures.
constexpr TImageId LogoImage = 10;
constexpr TImageId CaptionImage = 20;
constexpr TImageId MinimizeImage = 21;
constexpr TImageId CloseImage = 22;
constexpr TImageId StatusImage = 29;

constexpr TColor TextColour = 0x333333;

// Caption bar.
constexpr int LogoLeft = 10, LogoTop = 10, LogoSize = 48;
constexpr int TitleLeft = 75, TitlePoints = 13;
constexpr int ButtonGap = 2;  // Close's distance from the right edge
constexpr int ButtonFrames = 5;

// Tip bar.
constexpr int TipTitleId = 4, TipLineId = 5;
constexpr int TipTitleLeft = 20, TipTitlePoints = 10;
constexpr int TipLineLeft = 150, TipLinePoints = 6;

// Status bar.
constexpr int HintLeft = 10, HintPoints = 6;
constexpr int VersionFromRight = 50, VersionPoints = 6;
constexpr int LinkLeft = 15, LinkTop = 4, LinkFromRight = 50;

// The product-family title.
constexpr uint8_t TitleId = 3;

// The tiles in table order: caption, picture, description shown while under the mouse, the
// column and row of the place, and the tool the click opens.
struct TTileRec {
  uint8_t TextId;
  TImageId Image;
  uint8_t HoverTextId;
  int Column, Row;
  int ToolId;
};
constexpr TTileRec Tiles[TToolBox::TileCount] = {
    {6, 23, 12, 0, 0, TOOL_CONVERT},  // convert
    {7, 27, 13, 1, 0, TOOL_SPLIT},    // split
    {8, 28, 14, 2, 0, TOOL_CUT},      // cut
    {9, 25, 15, 0, 1, TOOL_MIX},      // merge
    {10, 26, 16, 1, 1, TOOL_RECORD},  // record
};
// The order in which the tiles join the root: convert, merge, split, cut, record.
constexpr int TileInsertOrder[TToolBox::TileCount] = {0, 3, 1, 2, 4};
constexpr int TileLeft = 20, TileColumnStep = 256;
constexpr int TileRowTop[2] = {30, 198};

WideString LangText(uint8_t Id) { return LanguageManager ? LanguageManager->GetString(Id) : WideString(); }

// The top-left corner of a tile's place; the columns after the first are measured from twice
// the first one's left.
TPoint TilePlace(const TTileRec& T, const TRect& Client) {
  int first = Client.Left + TileLeft;
  int x = T.Column == 0 ? first : 2 * first + TileColumnStep * T.Column;
  return TPoint{x, Client.Top + TileRowTop[T.Row]};
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TMainBoard

TMainBoard::TMainBoard(TComponent* AOwner) : THyperlinkControl(AOwner) {
  SetBackgroundStyle(bsSharedBackground);
  SetBackgroundTranslucency(bt100Percent);
  fEventSource = std::make_unique<TEventSource>(this);
  fEventSource->OnLanguageChanged = [this](TObject*) { LanguageChanged(); };
}

TMainBoard::~TMainBoard() { fEventSource.reset(); }

TForm* TMainBoard::GetOwnerForm() {
  for (TWinControl* p = Parent(); p; p = p->Parent())
    if (auto* form = dynamic_cast<TCustomForm*>(p)) return dynamic_cast<TForm*>(form);
  return nullptr;
}

void TMainBoard::BufferedPaint(TRect R, void* DC, const TBufferedPaintProc& PaintProc, void* Data) {
  THyperlinkControl::BufferedPaint(
      R, DC,
      [this, &PaintProc](void* D, TCanvas* Canvas) {
        Paint(Canvas);
        PaintProc(D, Canvas);
      },
      Data);
}

TRect TMainBoard::ClientBox() {
  RECT c{};
  if (HandleAllocated()) GetClientRect(static_cast<HWND>(Handle()), &c);
  return TRect{c.left, c.top, c.right, c.bottom};
}

void TMainBoard::MouseMove(TShiftState Shift, int X, int Y) {
  THyperlinkControl::MouseMove(Shift, X, Y);
  if (!(Shift & ssLeft) || fMovePosted) return;
  // A press on a button is the button's: only the board itself drags.
  if (HotLink() && HotLink()->State() == hsPressed) return;
  // One move a press: the system's move loop has the mouse from here on, and a second posted
  // message would start another loop after the button is up.
  fMovePosted = PostFormMove(this, GetOwnerForm(), X, Y);
}

void TMainBoard::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  fMovePosted = false;
  THyperlinkControl::MouseDown(Button, Shift, X, Y);
}

// ---------------------------------------------------------------------------------------------
// TCaptionParts

TCaptionParts::TCaptionParts(THyperlinkControl* Board)
    : fClose(new TShrStaticBitmapButton(CloseImage, true, 0, 0, 0)),
      fMinimize(new TShrStaticBitmapButton(MinimizeImage, true, 0, 0, 0)) {
  static_assert(ButtonFrames == 5, "the caption buttons are strips of five frames");
  Board->Root()->AddLinks({fClose, fMinimize});
}

void TCaptionParts::PaintBackground(TCanvas* Canvas) { ImageCache->DrawAt(Canvas, CaptionImage, 0, 0); }

void TCaptionParts::PaintTitle(TCanvas* Canvas, const TRect& Client, const WideString& Title) {
  ImageCache->Draw(Canvas, LogoImage, LogoLeft, LogoTop, -1, -1, 0, 0, LogoSize, LogoSize, 255);
  TRect place{Client.Left + TitleLeft, Client.Top, Client.Right, Client.Bottom};
  DrawShadowedText(Canvas, Title, place, TitlePoints, TextColour, 0, -1, 0);
}

void TCaptionParts::Realign(const TRect& Client) {
  int closeLeft = Client.Right - ButtonGap - fClose->GetWidth();
  fClose->MoveTo(TPoint{closeLeft, 0});
  fMinimize->MoveTo(TPoint{closeLeft - fMinimize->GetWidth(), 0});
}

uintptr_t TCaptionParts::Command(THyperlink* Link) const {
  if (Link == fClose) return SC_CLOSE;
  if (Link == fMinimize) return SC_MINIMIZE;
  return 0;
}

void TCaptionParts::SendCommand(THyperlink* Link, void* Wnd) const {
  uintptr_t command = Command(Link);
  if (command == 0 || !EventManager || !Wnd) return;
  SendMessageW(static_cast<HWND>(Wnd), WM_CAPTION_COMMAND, command, 0);
}

// ---------------------------------------------------------------------------------------------
// TCaptionBar

TCaptionBar::TCaptionBar(TComponent* AOwner) : TMainBoard(AOwner), fParts(this) {}

void TCaptionBar::PaintCopy(TCanvas* Canvas, const TRect& Rect) {
  TMainBoard::PaintCopy(Canvas, Rect);
  TCaptionParts::PaintBackground(Canvas);
}

void TCaptionBar::Paint(TCanvas* Canvas) {
  TMainBoard::Paint(Canvas);
  TCaptionParts::PaintTitle(Canvas, ClientBox(), LangText(TitleId));
}

void TCaptionBar::RealignRoot() {
  fParts.Realign(ClientBox());
  TMainBoard::RealignRoot();
}

void TCaptionBar::DoLinkClick(THyperlink* Link) {
  TMainBoard::DoLinkClick(Link);
  // The main form may close on this: nothing of the board is touched after the send.
  fParts.SendCommand(Link, EventManager ? EventManager->Handle() : nullptr);
}

void TCaptionBar::LanguageChanged() { Invalidate(); }

// ---------------------------------------------------------------------------------------------
// TTipBar

TTipBar::TTipBar(TComponent* AOwner) : TMainBoard(AOwner) {}

void TTipBar::Paint(TCanvas* Canvas) {
  TMainBoard::Paint(Canvas);
  TRect c = ClientBox();
  // The title has the room up to the second line's start; a longer one ends in "...".
  DrawShadowedText(Canvas, LangText(TipTitleId), TRect{c.Left + TipTitleLeft, c.Top, c.Left + TipLineLeft, c.Bottom},
                   TipTitlePoints, TextColour, 0, -1, 0);
  DrawShadowedText(Canvas, LangText(TipLineId), TRect{c.Left + TipLineLeft, c.Top, c.Right, c.Bottom}, TipLinePoints,
                   TextColour, 0, -1, 0);
}

void TTipBar::LanguageChanged() { Invalidate(); }

// ---------------------------------------------------------------------------------------------
// TToolBox

TToolBox::TToolBox(TComponent* AOwner) : TMainBoard(AOwner) {
  for (int i = 0; i < TileCount; ++i)
    fTiles[static_cast<size_t>(i)] = new TSimpleButton(Tiles[i].TextId, Tiles[i].Image);
  for (int i : TileInsertOrder) Root()->InsertLink(fTiles[static_cast<size_t>(i)]);
}

int TToolBox::ToolId(int Index) { return Tiles[Index].ToolId; }

void TToolBox::RealignRoot() {
  TRect c = ClientBox();
  for (int i = 0; i < TileCount; ++i) fTiles[static_cast<size_t>(i)]->MoveTo(TilePlace(Tiles[i], c));
  TMainBoard::RealignRoot();
}

void TToolBox::DoLinkClick(THyperlink* Link) {
  TMainBoard::DoLinkClick(Link);
  for (int i = 0; i < TileCount; ++i)
    if (Link == fTiles[static_cast<size_t>(i)]) {
      if (EventManager)
        SendMessageW(static_cast<HWND>(EventManager->Handle()), WM_OPEN_TASK, static_cast<WPARAM>(Tiles[i].ToolId), 0);
      return;
    }
}

void TToolBox::LanguageChanged() { Invalidate(); }

void TToolBox::MouseMove(TShiftState Shift, int X, int Y) {
  TMainBoard::MouseMove(Shift, X, Y);
  UpdateHoverText();
}

void TToolBox::WndProc(TMessage& Message) {
  TMainBoard::WndProc(Message);
  // The host has worked out the hover from where the mouse went: no tile is hot any more.
  if (Message.Msg == WM_MOUSELEAVE || Message.Msg == CM_MOUSELEAVE) UpdateHoverText();
}

void TToolBox::UpdateHoverText() {
  uint8_t id = 0;
  for (int i = 0; i < TileCount; ++i) {
    uint8_t state = fTiles[static_cast<size_t>(i)]->State();
    if (state == hsHot || state == hsPressed) id = Tiles[i].HoverTextId;
  }
  if (id == fHoverTextId) return;
  fHoverTextId = id;
  if (OnHover) OnHover(this);
}

// ---------------------------------------------------------------------------------------------
// TStatusBar

TStatusBar::TStatusBar(TComponent* AOwner) : TMainBoard(AOwner), fLink(new TRichText(false, true, false)) {
  Root()->InsertLink(fLink);
  LanguageChanged();
}

void TStatusBar::SetText(const WideString& Text) {
  fText = Text;
  fLink->SetVisible(fText.empty());
  Invalidate();
}

void TStatusBar::Paint(TCanvas* Canvas) {
  TMainBoard::Paint(Canvas);
  ImageCache->DrawAt(Canvas, StatusImage, 0, 0);
  TRect c = ClientBox();
  if (!fText.empty())
    DrawShadowedText(Canvas, fText, TRect{c.Left + HintLeft, c.Top, c.Right - VersionFromRight, c.Bottom}, HintPoints,
                     TextColour, 0, -1, 0);
  TRect version{c.Right - VersionFromRight, c.Top, c.Right, c.Bottom};
  DrawShadowedText(Canvas, AnsiToWide(TUtils::GetVersion()), version, VersionPoints, TextColour, 0, -1, 0);
}

void TStatusBar::RealignRoot() {
  TRect c = ClientBox();
  fLink->SetBoundsRect(TRect{c.Left + LinkLeft, LinkTop, Width() - LinkFromRight, c.Top + fLink->GetHeight()});
  TMainBoard::RealignRoot();
}

void TStatusBar::LanguageChanged() { fLink->SetText(Msg.SiteLink); }
