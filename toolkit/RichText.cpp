// The rich-text element: mark-up to items, items to rows of pieces, pieces to pixels.
#include "toolkit/RichText.h"

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <map>

#include "classlib/WinApi.h"
#include "toolkit/AlphaGraphics.h"
#include "toolkit/DbgUtils.h"
#include "toolkit/ImageCache.h"
#include "toolkit/e_useful.h"
#include "unicode/UniSystem.h"

namespace {

// The unit's texts.
struct {
  const wchar_t* Ellipsis = L"...";
  const char* BothSizings = "not (AutoHeight and ThirdMode)";
  const char* StyleName = "Regular";
  const wchar_t* Skype = L"skype:";
} const Msg;

// Colours of the `hl` and `alertmatch` tags.
constexpr TColor HighlightBg = 0xF2DFCF, AlertBg = 0x00FFFF;
// A separator counts this high for its row.
constexpr int SeparatorRowHeight = 10;
// Blinking: hidden for the first half of every period.
constexpr uint32_t BlinkPeriod = 800, BlinkHidden = 400;
constexpr int BlinkInterval = 100;

std::function<void(TObject*, const AnsiString&)> GLinkHandler;
std::function<uint32_t()> GTickSource;

// The process-wide custom tags, by lower-case name.
std::map<WideString, TRichTextTagHandler>& GlobalTags() {
  static std::map<WideString, TRichTextTagHandler> Tags;
  return Tags;
}

WideString Lower(const WideString& S) {
  WideString R = S;
  for (wchar_t& C : R) C = static_cast<wchar_t>(std::towlower(C));
  return R;
}

bool StartsWithNoCase(const WideString& S, const WideString& Prefix) {
  return S.size() >= Prefix.size() && Lower(S.substr(0, Prefix.size())) == Prefix;
}

// Frees a style when the last holder lets it go.
void ReleaseStyle(TTextStyle* Style) {
  if (Style && !Style->Release() && dynamic_cast<TLocalTextStyle*>(Style)) delete Style;
}

bool IsBlank(wchar_t C) { return C == L' ' || C == L'\t' || C == 0x3000 || C == 0xA0; }

// A decimal number at the start of S (blanks before it allowed); false when there is none.
bool LeadingInt(const WideString& S, size_t& At, int& Value) {
  while (At < S.size() && S[At] == L' ') ++At;
  size_t Start = At;
  long long V = 0;
  while (At < S.size() && S[At] >= L'0' && S[At] <= L'9' && At - Start < 9) V = V * 10 + (S[At++] - L'0');
  Value = static_cast<int>(V);
  return At > Start;
}

int AttrInt(TUniStringList* A, const wchar_t* Name, int Default) {
  WideString V = A->Values(Name);
  size_t At = 0;
  int Sign = 1;
  while (At < V.size() && V[At] == L' ') ++At;
  if (At < V.size() && V[At] == L'-') Sign = -1, ++At;
  int N;
  return LeadingInt(V, At, N) ? Sign * N : Default;
}

// The font of a style in a link state, selected while measuring.
struct TFontMetrics {
  int Ascent, Descent;
};
TFontMetrics Metrics(HDC DC) {
  TEXTMETRICW Tm{};
  GetTextMetricsW(DC, &Tm);
  return TFontMetrics{Tm.tmAscent, Tm.tmDescent};
}

}  // namespace

void RegisterRichTextTag(const WideString& Name, TRichTextTagHandler Handler) {
  GlobalTags()[Lower(Name)] = std::move(Handler);
}

void UnregisterRichTextTag(const WideString& Name) { GlobalTags().erase(Lower(Name)); }

void SetGlobalLinkHandler(std::function<void(TObject* Sender, const AnsiString& Href)> Handler) {
  GLinkHandler = std::move(Handler);
}

// ---------------------------------------------------------------------------------------------
// Items

TTextRichTextItem::TTextRichTextItem(const WideString& Text, TTextStyle* Style, uint8_t Flags)
    : fStyle(Style), fFlags(Flags) {
  fStyle->AddRef();
  SetText(Text);
}

TTextRichTextItem::~TTextRichTextItem() {
  for (auto& F : fFonts) F.reset();
  ReleaseStyle(fStyle);
}

void TTextRichTextItem::SetText(const WideString& Value) {
  fText = Value;
  std::replace(fText.begin(), fText.end(), L'\t', L' ');
  size_t N = fText.size();
  fEnd.assign((N + 8) / 8, 0);
  fBegin.assign((N + 8) / 8, 0);
  fRightToLeft = false;
  if (N == 0) return;
  std::vector<WORD> T1(N), T2(N), T3(N);
  int Len = static_cast<int>(N);
  GetStringTypeExW(LOCALE_USER_DEFAULT, CT_CTYPE1, fText.data(), Len, T1.data());
  GetStringTypeExW(LOCALE_USER_DEFAULT, CT_CTYPE2, fText.data(), Len, T2.data());
  GetStringTypeExW(LOCALE_USER_DEFAULT, CT_CTYPE3, fText.data(), Len, T3.data());
  auto Set = [](std::vector<uint8_t>& Bits, size_t I) { Bits[I >> 3] |= static_cast<uint8_t>(1u << (I & 7)); };
  bool RtlLocale = MiddleEastLocale();
  for (size_t I = 0; I < N; ++I) {
    bool Blank = (T1[I] & (C1_SPACE | C1_BLANK)) != 0;
    if (Blank) {
      // Blanks separate words: a piece ends after them, the next one begins behind them.
      Set(fEnd, I);
      Set(fBegin, I + 1);
    } else if (T3[I] & (C3_IDEOGRAPH | C3_KATAKANA | C3_HIRAGANA)) {
      Set(fEnd, I);
      Set(fBegin, I);
    } else if (T1[I] & C1_PUNCT) {
      Set(fEnd, I);
    }
    if (T2[I] == C2_RIGHTTOLEFT && RtlLocale) fRightToLeft = true;
  }
}

TFont* TTextRichTextItem::StateFont(int State) {
  State = std::clamp(State, 0, 2);
  auto& F = fFonts[State];
  if (!F) {
    F = std::make_unique<TFont>();
    fStyle->ApplyLinkState(F.get(), State);
  }
  return F.get();
}

TLinkRichTextItem::TLinkRichTextItem(const WideString& Text, TTextStyle* Style, uint8_t Flags, const AnsiString& Href,
                                     const WideString& Alt)
    : TTextRichTextItem(Text, Style, Flags), fHref(Href), fAlt(Alt) {}

TImageRichTextItem::TImageRichTextItem(TImageId Id, int Width, int Height, int VShift, const WideString& Alt,
                                       const AnsiString& Href)
    : fImageId(Id), fWidth(Width), fHeight(Height), fVShift(VShift), fAlt(Alt), fHref(Href) {}

TUnknownRichTextItem::TUnknownRichTextItem(const WideString& Tag, const WideString& Alt, TTextStyle* Style,
                                           uint8_t Flags)
    : TTextRichTextItem(Alt, Style, Flags), fTag(Tag) {}

// ---------------------------------------------------------------------------------------------
// Splitting a text item into pieces

void TTextRichTextItem::Format(TRichTextFormatter* F) {
  HDC DC = static_cast<HDC>(F->DC());
  TFont* Font = StateFont(LinkState(hsNormal));
  HGDIOBJ Old = SelectObject(DC, Font->Handle());
  TFontMetrics M = Metrics(DC);
  int MinHeight = F->Element()->ThirdMode() ? M.Ascent + M.Descent
                                            : static_cast<int>(std::lround(M.Ascent * 1.29)) + M.Descent;
  int Height = M.Ascent + M.Descent;
  auto* Link = dynamic_cast<TLinkRichTextItem*>(this);
  auto NewPiece = [&](int First, int Length) -> TRTTextBaseHyperlink* {
    TRTTextBaseHyperlink* P =
        Link ? new TRTLinkHyperlink(Link, First, Length) : new TRTTextBaseHyperlink(this, First, Length);
    if (!fElement) fElement = P;
    return P;
  };
  SIZE Ell{};
  GetTextExtentPoint32W(DC, Msg.Ellipsis, 3, &Ell);
  std::vector<int>& Dx = F->Extents();
  const wchar_t* T = fText.data();
  const int N = static_cast<int>(fText.size());
  int Pos = 0;
  bool Ended = false;
  while (Pos < N && !Ended) {
    int RunEnd = Pos;
    while (RunEnd < N && T[RunEnd] != L'\r' && T[RunEnd] != L'\n') ++RunEnd;
    int RunLen = RunEnd - Pos;
    if (RunLen > 0) {
      // One measurement of the whole run: Dx[i] is the width of its first i + 1 characters.
      if (Dx.size() < static_cast<size_t>(RunLen)) Dx.resize(static_cast<size_t>(RunLen));
      SIZE Sz{};
      GetTextExtentExPointW(DC, T + Pos, RunLen, 0, nullptr, Dx.data(), &Sz);
      auto Width = [&](int From, int To) {  // the width of [From, To) of the text
        return (To > Pos ? Dx[static_cast<size_t>(To - Pos - 1)] : 0) - (From > Pos ? Dx[static_cast<size_t>(From - Pos - 1)] : 0);
      };
      // Trailing blanks may hang over the edge.
      auto FitWidth = [&](int From, int To) {
        while (To > From && IsBlank(T[To - 1])) --To;
        return Width(From, To);
      };
      int Start = Pos;
      while (Start < RunEnd) {
        if (F->AutoWidth()) {
          TRTTextBaseHyperlink* P = NewPiece(Start, RunEnd - Start);
          F->AddPiece(P, Width(Start, RunEnd), Height, M.Descent, MinHeight, fAlignment);
          Start = RunEnd;
          break;
        }
        int Room = F->Remaining();
        bool Last = F->LastRow(MinHeight);
        // The longest prefix that fits and ends where a piece may end (the run's end always may).
        int Cut = 0;
        if (FitWidth(Start, RunEnd) <= Room) {
          Cut = RunEnd;
        } else {
          // Bisection for the longest prefix that fits, then back to a break opportunity.
          int Lo = Start, Hi = RunEnd;  // [Start, Lo) fits, [Start, Hi) does not
          while (Hi - Lo > 1) {
            int Mid = (Lo + Hi) / 2;
            if (FitWidth(Start, Mid) <= Room) Lo = Mid; else Hi = Mid;
          }
          int Fits = Lo;
          for (int K = Fits; K > Start; --K)
            if (CanEnd(static_cast<size_t>(K - 1))) {
              Cut = K;
              break;
            }
          if (Cut == 0 && Last) {
            // The text does not fit the last row the element shows: cut it off.
            if (fFlags & rfTruncateFull) {
              F->MarkTruncated();
              if (Fits > Start) F->AddPiece(NewPiece(Start, Fits - Start), std::min(Width(Start, Fits), Room), Height,
                                            M.Descent, MinHeight, fAlignment);
              Ended = true;
              break;
            }
            if (fFlags & rfTruncate) F->MarkTruncated();
            int Avail = Room - Ell.cx;
            int K = Start;
            while (K < RunEnd && Width(Start, K + 1) <= Avail) ++K;
            if (Avail >= 0) {
              TRTTextBaseHyperlink* P = NewPiece(Start, K - Start);
              P->SetEllipsis(true);
              F->AddPiece(P, Width(Start, K) + Ell.cx, Height, M.Descent, MinHeight, fAlignment);
            }
            F->MarkTruncated();
            Ended = true;
            break;
          }
          if (Cut == 0) {
            if (!F->RowEmpty()) {
              F->FinishRow();
              continue;
            }
            // An empty row: the longest fitting prefix that ends where a piece may begin, else
            // as many characters as fit, and never fewer than one.
            for (int K = Fits; K > Start; --K)
              if (CanBegin(static_cast<size_t>(K))) {
                Cut = K;
                break;
              }
            if (Cut == 0) Cut = std::max(Fits, Start + 1);
          }
        }
        TRTTextBaseHyperlink* P = NewPiece(Start, Cut - Start);
        F->AddPiece(P, std::min(Width(Start, Cut), std::max(Room, 0)), Height, M.Descent, MinHeight, fAlignment);
        Start = Cut;
      }
    }
    if (Ended) break;
    Pos = RunEnd;
    if (Pos < N) {
      // A carriage return (and a line feed after it) ends the row; so does a lone line feed.
      if (T[Pos] == L'\r') ++Pos;
      if (Pos < N && T[Pos] == L'\n') ++Pos;
      if (F->RowEmpty()) F->AddPiece(nullptr, 0, Height, M.Descent, MinHeight, fAlignment);
      F->FinishRow();
    }
  }
  SelectObject(DC, Old);
}

void TImageRichTextItem::Format(TRichTextFormatter* F) {
  auto* P = new TRTImageHyperlink(this);
  if (!fHref.empty()) {
    P->SetClickable(true);
    P->SetCursor(crHandPoint);
  }
  P->SetHint(fAlt);
  fElement = P;
  TPoint S;
  P->GetImageSize(S);
  F->AddPiece(P, S.X, S.Y, -fVShift, 0, fAlignment);
}

void TSeparatorRichTextItem::Format(TRichTextFormatter* F) {
  if (!F->RowEmpty()) F->FinishRow();
  auto* P = new TRectBaseHyperlink(fColor);
  fElement = P;
  F->AddPiece(P, std::max(F->Remaining(), 0), SeparatorRowHeight, 0, 0, fAlignment);
}

// ---------------------------------------------------------------------------------------------
// The mark-up reader

struct TRichTextParser::TContext {
  WideString Tag;
  TTextStyle* Style = nullptr;  // a reference is held
  uint8_t Alignment = raLeft;
  uint8_t Flags = 0;
  AnsiString Href;
  WideString Alt;
  bool Skype = false;
  bool ShortCut = false;
  ~TContext() { ReleaseStyle(Style); }
};

TRichTextParser::TRichTextParser(TCustomRichText* Element, std::vector<std::unique_ptr<TRichTextItem>>* Items,
                                 TTextStyle* Style, bool Shadow, uint8_t Alignment)
    : fElement(Element), fItems(Items) {
  auto C = std::make_unique<TContext>();
  C->Style = Style;
  Style->AddRef();
  C->Alignment = Alignment;
  C->Flags = Shadow ? rfShadow : 0;
  fStack.push_back(std::move(C));
}

TRichTextParser::~TRichTextParser() = default;

void TRichTextParser::Push(const WideString& Tag) {
  auto C = std::make_unique<TContext>(Top());
  C->Tag = Tag.substr(0, 255);
  C->Style->AddRef();
  C->ShortCut = false;
  fStack.push_back(std::move(C));
}

void TRichTextParser::Pop() {
  if (fStack.size() > 1) fStack.pop_back();
}

TTextStyle* TRichTextParser::ChangeStyle() {
  TTextStyle* S = Top().Style;
  // A style only this context holds is changed in place; any other is copied first.
  S->Release();
  MakePrivate(S);
  S->AddRef();
  Top().Style = S;
  return S;
}

void TRichTextParser::ReplaceStyle(TTextStyle* Style) {
  Style->AddRef();
  ReleaseStyle(Top().Style);
  Top().Style = Style;
}

void TRichTextParser::ApplyClass(TUniStringList* A) {
  WideString Class = A->Values(L"class");
  if (Class.empty()) return;
  if (TTextStyle* S = FindPredefStyle(WideToUtf8(Class))) ReplaceStyle(S);
}

void TRichTextParser::AddItem(TRichTextItem* Item) {
  fItems->emplace_back(Item);
}

void TRichTextParser::AddText(const WideString& Text) {
  if (Text.empty()) return;
  TContext& C = Top();
  if (C.ShortCut && !fShortCut) fShortCut = Text[0];
  TTextRichTextItem* Item;
  if (!C.Href.empty()) {
    if (C.Skype) return;  // a call link shows its alternative text once, at its end
    Item = new TLinkRichTextItem(Text, C.Style, C.Flags, C.Href, C.Alt);
  } else {
    Item = new TTextRichTextItem(Text, C.Style, C.Flags);
  }
  Item->SetAlignment(C.Alignment);
  AddItem(Item);
}

// The text of the open custom element goes to its handler.
bool TRichTextParser::CustomText(const WideString& Text, TUniStringList* Attributes) {
  if (fCustomDepth == 0 || static_cast<int>(fStack.size()) != fCustomDepth) return false;
  TRichTextItem* Item = fCustomHandler(fElement, fCustomTag, fCustomItem, Text, Attributes);
  if (Item && Item != fCustomItem) {
    if (Item->Alignment() == raLeft) Item->SetAlignment(Top().Alignment);
    AddItem(Item);
  }
  if (Item) fCustomItem = Item;
  return true;
}

void TRichTextParser::OpenTag(const WideString& Name, TUniStringList* A) {
  WideString Tag = Lower(Name);
  Push(Tag);
  TContext& C = Top();
  auto Style = [&](TFontStyles Add) {
    TTextStyle* S = ChangeStyle();
    S->Own().FontStyle = static_cast<TFontStyles>(S->Effective().FontStyle | Add);
    S->Own().Mask |= tsmFontStyle;
    S->Update();
  };
  if (Tag == L"b") {
    Style(fsBold);
  } else if (Tag == L"i") {
    Style(fsItalic);
  } else if (Tag == L"u") {
    Style(fsUnderline);
  } else if (Tag == L"s") {
    Style(fsStrikeOut);
  } else if (Tag == L"ks") {
    Style(fsUnderline);
    C.ShortCut = true;
  } else if (Tag == L"font") {
    WideString Color = A->Values(L"color");
    if (!Color.empty()) {
      TTextStyle* S = ChangeStyle();
      S->Own().Color = ColorFromHtml(WideToUtf8(Color), S->Effective().Color);
      S->Own().Mask |= tsmColor;
      S->Update();
    }
    WideString Size = A->Values(L"size");
    size_t At = 0;
    while (At < Size.size() && Size[At] == L' ') ++At;
    int Sign = 0;
    if (At < Size.size() && (Size[At] == L'+' || Size[At] == L'-')) Sign = Size[At++] == L'+' ? 1 : -1;
    int N;
    if (LeadingInt(Size, At, N)) {
      bool Pixels = Lower(Size.substr(At)).find(L"px") == 0;
      TTextStyle* S = ChangeStyle();
      int Px = S->Effective().Size;
      if (Pixels) {
        Px = Sign ? Px + Sign * N : N;
      } else {
        TFont Conv;
        Conv.SetHeight(-Px);
        Conv.SetSize(Sign ? Conv.Size() + Sign * N : N);
        Px = -Conv.Height();
      }
      S->Own().Size = std::max(Px, 1);
      S->Own().Mask |= tsmSize;
      S->Update();
    }
  } else if (Tag == L"span") {
    WideString Align = Lower(A->Values(L"align"));
    if (Align == L"left") C.Alignment = raLeft;
    else if (Align == L"right") C.Alignment = raRight;
    else if (Align == L"center") C.Alignment = raCenter;
    if (Lower(A->Values(L"nocopy")) == L"true") C.Flags |= rfNoCopy;
    ApplyClass(A);
    WideString Bg = A->Values(L"bgcolor");
    if (!Bg.empty()) {
      TTextStyle* S = ChangeStyle();
      S->Own().BgColor = ColorFromHtml(WideToUtf8(Bg), S->Effective().BgColor);
      S->Own().Mask |= tsmBgColor;
      S->Update();
    }
  } else if (Tag == L"a") {
    WideString Href = A->Values(L"href");
    C.Href = WideToUtf8(Href);
    C.Alt = A->Values(L"alt");
    C.Skype = StartsWithNoCase(Href, Msg.Skype);
    ApplyClass(A);
  } else if (Tag == L"center") {
    C.Alignment = raCenter;
  } else if (Tag == L"hl" || Tag == L"alertmatch") {
    TTextStyle* S = ChangeStyle();
    S->Own().BgColor = Tag == L"hl" ? HighlightBg : AlertBg;
    S->Own().Mask |= tsmBgColor;
    if (Tag == L"hl") {
      S->Own().Color = clBlack;
      S->Own().Mask |= tsmColor;
    }
    S->Update();
  } else if (Tag == L"shadowstyle") {
    C.Flags |= rfShadow;
  } else if (Tag == L"blink") {
    C.Flags |= rfBlink;
  } else if (Tag == L"nocopy") {
    C.Flags |= rfNoCopy;
  } else if (Tag == L"trunc") {
    C.Flags |= Lower(A->Values(L"full")) == L"yes" ? rfTruncateFull : rfTruncate;
  } else if (Tag == L"hr") {
    auto* Item = new TSeparatorRichTextItem(ColorFromHtml(WideToUtf8(A->Values(L"color")), 0xC0C0C0));
    Item->SetAlignment(C.Alignment);
    AddItem(Item);
  } else if (Tag == L"img") {
    TImageId Id = 0;
    WideString Src = A->Values(L"src");
    int W = std::max(AttrInt(A, L"width", 0), 0), H = std::max(AttrInt(A, L"height", 0), 0);
    WideString IdText = A->Values(L"id");
    if (!IdText.empty() && ImageCache) {
      Id = ImageCache->IdFromString(WideToUtf8(IdText));
    } else if (!Src.empty() && ImageCache) {
      Id = ImageCache->GetDynamicImageId(WideToUtf8(Src), 0, W, H);
    }
    auto* Item = new TImageRichTextItem(Id, W, H, AttrInt(A, L"vshift", 0), A->Values(L"alt"),
                                        WideToUtf8(A->Values(L"href")));
    Item->SetAlignment(C.Alignment);
    AddItem(Item);
  } else if (Tag != L"br" && fCustomDepth == 0) {
    TRichTextTagHandler Handler;
    if (fElement && fElement->FindTag(Tag, Handler)) {
      if (Handler) {
        fCustomTag = Tag;
        fCustomHandler = Handler;
        fCustomItem = nullptr;
        fCustomDepth = static_cast<int>(fStack.size());
      } else {
        WideString Alt = A->Values(L"alt");
        if (!Alt.empty()) {
          auto* Item = new TUnknownRichTextItem(Tag, Alt, C.Style, C.Flags);
          Item->SetAlignment(C.Alignment);
          AddItem(Item);
        }
      }
    }
  }
}

WideString TRichTextParser::TextBeforeChild(const WideString&, TUniStringList* Attributes, const WideString& Text) {
  if (!CustomText(Text, Attributes)) AddText(Text);
  return WideString();
}

WideString TRichTextParser::CloseTag(const WideString& Name, TUniStringList* Attributes, const WideString& Text) {
  if (Name.empty()) {  // the root
    AddText(Text);
    return WideString();
  }
  if (CustomText(Text, Attributes)) {
    fCustomDepth = 0;
    fCustomHandler = nullptr;
    fCustomItem = nullptr;
  } else {
    AddText(Text);
  }
  TContext& C = Top();
  if (C.Tag == L"a" && C.Skype && !C.Alt.empty()) {
    auto* Item = new TLinkRichTextItem(C.Alt, C.Style, C.Flags, C.Href, C.Alt);
    Item->SetAlignment(C.Alignment);
    AddItem(Item);
  }
  bool Break = C.Tag == L"br";
  Pop();
  return Break ? WideString(L"\r\n") : WideString();
}

// ---------------------------------------------------------------------------------------------
// Row children

TRTTextBaseHyperlink::TRTTextBaseHyperlink(TTextRichTextItem* Item, int First, int Length)
    : fItem(Item), fFirst(First), fLength(Length) {}

void TRTTextBaseHyperlink::Paint(TCanvas* Canvas) {
  TTextRichTextItem* It = fItem;
  if ((It->Flags() & rfBlink) && TCustomRichText::Ticks() % BlinkPeriod < BlinkHidden) return;
  HDC DC = static_cast<HDC>(Canvas->Handle());
  const TTextStyleRec& E = It->Style()->Effective();
  TFont* Font = It->StateFont(It->LinkState(fState));
  HGDIOBJ OldFont = SelectObject(DC, Font->Handle());
  int OldMode = SetBkMode(DC, TRANSPARENT);
  bool Rtl = It->RightToLeft();
  UINT OldAlign = SetTextAlign(DC, Rtl ? TA_RTLREADING | TA_TOP | TA_LEFT : TA_TOP | TA_LEFT);
  const wchar_t* T = It->Text().data() + fFirst;
  int X = fBoundsRect.Left, Y = fBoundsRect.Top;
  RECT R{fBoundsRect.Left, fBoundsRect.Top, fBoundsRect.Right, fBoundsRect.Bottom};
  if (E.BgColor != clStyleNone) {
    HBRUSH B = CreateSolidBrush(static_cast<COLORREF>(ColorToRGB(E.BgColor)));
    FillRect(DC, &R, B);
    DeleteObject(B);
  }
  auto Draw = [&](int DX, int DY, TColor Color) {
    SetTextColor(DC, static_cast<COLORREF>(ColorToRGB(Color)));
    int HS = It->HighlightStart() - fFirst, HL = It->HighlightLength();
    int A = std::clamp(HS, 0, fLength), B = std::clamp(HS + HL, 0, fLength);
    if (HL <= 0 || A >= B) {
      ExtTextOutW(DC, X + DX, Y + DY, 0, nullptr, T, static_cast<UINT>(fLength), nullptr);
    } else {
      // Before the range, the range in the caption colour, after it.
      int At = X + DX;
      const int Parts[4] = {0, A, B, fLength};
      for (int P = 0; P < 3; ++P) {
        int N = Parts[P + 1] - Parts[P];
        if (N <= 0) continue;
        if (P == 1) SetTextColor(DC, static_cast<COLORREF>(GetSysColor(COLOR_CAPTIONTEXT)));
        ExtTextOutW(DC, At, Y + DY, 0, nullptr, T + Parts[P], static_cast<UINT>(N), nullptr);
        SIZE S{};
        GetTextExtentPoint32W(DC, T + Parts[P], N, &S);
        At += S.cx;
        if (P == 1) SetTextColor(DC, static_cast<COLORREF>(ColorToRGB(Color)));
      }
    }
    if (fEllipsis) {
      SIZE S{};
      GetTextExtentPoint32W(DC, T, fLength, &S);
      ExtTextOutW(DC, X + DX + S.cx, Y + DY, 0, nullptr, Msg.Ellipsis, 3, nullptr);
    }
  };
  if ((It->Flags() & rfShadow) || E.Shadowed) {
    if (E.ShadowColor != clStyleNone) {
      if (E.ShadowAlpha == 255 || !AlphaBlendProc) {
        Draw(E.ShadowX, E.ShadowY, E.ShadowColor);
      } else {
        // GDI text has no alpha: the shadow goes onto a copy of the background, which is then
        // blended back at the shadow's alpha.
        int W = fBoundsRect.Width() + std::abs(E.ShadowX) + 4, H = fBoundsRect.Height() + std::abs(E.ShadowY);
        int OX = X + std::min(E.ShadowX, 0), OY = Y + std::min(E.ShadowY, 0);
        HDC Mem = CreateCompatibleDC(DC);
        HBITMAP Bmp = CreateCompatibleBitmap(DC, W, H);
        HGDIOBJ OldBmp = SelectObject(Mem, Bmp);
        BitBlt(Mem, 0, 0, W, H, DC, OX, OY, SRCCOPY);
        HGDIOBJ MemFont = SelectObject(Mem, Font->Handle());
        SetBkMode(Mem, TRANSPARENT);
        SetTextColor(Mem, static_cast<COLORREF>(ColorToRGB(E.ShadowColor)));
        ExtTextOutW(Mem, X + E.ShadowX - OX, Y + E.ShadowY - OY, 0, nullptr, T, static_cast<UINT>(fLength), nullptr);
        SelectObject(Mem, MemFont);
        uint32_t Blend = static_cast<uint32_t>(E.ShadowAlpha) << 16;  // AC_SRC_OVER, constant alpha
        AlphaBlendProc(DC, OX, OY, W, H, Mem, 0, 0, W, H, Blend);
        SelectObject(Mem, OldBmp);
        DeleteObject(Bmp);
        DeleteDC(Mem);
      }
    }
  }
  Draw(0, 0, Font->Color());
  SetTextAlign(DC, OldAlign);
  SetBkMode(DC, OldMode);
  SelectObject(DC, OldFont);
}

TRTLinkHyperlink::TRTLinkHyperlink(TLinkRichTextItem* Item, int First, int Length)
    : TRTTextBaseHyperlink(Item, First, Length) {
  SetClickable(true);
  SetCursor(crHandPoint);
  if (!Item->Alt().empty()) fHint = Item->Alt();
}

void TRTLinkHyperlink::Changed() {
  // Every piece of the link takes the state.
  if (THyperlink* Owner = Parent())
    for (TBaseHyperlink* C = Owner->FirstChild(); C; C = C->Next())
      if (auto* L = dynamic_cast<TRTLinkHyperlink*>(C))
        if (L != this && L->fItem == fItem && L->fState != fState) {
          L->fState = fState;
          L->Invalidate();
        }
  THyperlink::Changed();
}

void TRectBaseHyperlink::Paint(TCanvas* Canvas) {
  HBRUSH B = CreateSolidBrush(static_cast<COLORREF>(ColorToRGB(fColor)));
  RECT R{fBoundsRect.Left, fBoundsRect.Top, fBoundsRect.Right, fBoundsRect.Bottom};
  FillRect(static_cast<HDC>(Canvas->Handle()), &R, B);
  DeleteObject(B);
}

TRTImageHyperlink::TRTImageHyperlink(TImageRichTextItem* Item) : TBitmapHyperlink(Item->ImageId(), 0), fItem(Item) {
  TPoint S;
  GetImageSize(S);
  fBoundsRect = TRect{0, 0, S.X, S.Y};
}

void TRTImageHyperlink::GetImageSize(TPoint& Size) {
  TBitmapHyperlink::GetImageSize(Size);
  if (fItem && fItem->Width() > 0) Size.X = fItem->Width();
  if (fItem && fItem->Height() > 0) Size.Y = fItem->Height();
}

// ---------------------------------------------------------------------------------------------
// Layout

TRichTextFormatter::TRichTextFormatter(TCustomRichText* Element)
    : fElement(Element), fDC(CreateCompatibleDC(nullptr)), fWidth(Element->GetWidth()) {
  fRemaining = fWidth;
  fRightToLeft = Element->RightToLeft();
}

TRichTextFormatter::~TRichTextFormatter() {
  for (TPiece& P : fRow) delete P.Link;  // pieces of an unfinished run
  DeleteDC(static_cast<HDC>(fDC));
}

bool TRichTextFormatter::AutoWidth() const { return fElement->AutoWidth(); }

bool TRichTextFormatter::LastRow(int RowHeight) const {
  if (fElement->AutoHeight() || fElement->ThirdMode()) return false;
  int Row = std::max(std::max(fAscent + fDescent, fMinHeight), RowHeight);
  return fY + Row + fElement->LineSpacing() >= fElement->GetHeight();
}

void TRichTextFormatter::AddPiece(TBaseHyperlink* Piece, int Width, int Height, int Descent, int MinHeight,
                                  uint8_t Alignment) {
  if (!AutoWidth() && Width > fRemaining) {
    if (!fRow.empty())
      FinishRow();
    else
      fRemaining = fWidth;
  }
  if (fRow.empty()) fAlignment = Alignment;
  fAscent = std::max(fAscent, Height - Descent);
  fDescent = std::max(fDescent, Descent);
  fMinHeight = std::max(fMinHeight, MinHeight);
  int X = fRightToLeft ? fX - Width : fX;
  fRow.push_back(TPiece{Piece, X, Width, Height, Descent});
  fX += fRightToLeft ? -Width : Width;
  fRowWidth += Width;
  if (!AutoWidth()) fRemaining -= Width;
}

void TRichTextFormatter::PlaceRow(int Top) {
  int Offset;
  int W = AutoWidth() ? fRowWidth : fWidth;
  switch (fAlignment) {
    case raRight: Offset = W - fRowWidth - RightIndent; break;
    case raCenter: Offset = (W - fRowWidth - LeftIndent - RightIndent) / 2 + LeftIndent; break;
    default: Offset = LeftIndent; break;
  }
  if (fRightToLeft) Offset = W - Offset;  // the row lies left of 0 and mirrors from the right edge
  TBaseHyperlink* Chain = nullptr;
  TBaseHyperlink* Tail = nullptr;
  for (TPiece& P : fRow) {
    if (!P.Link) continue;
    int Y = Top + fAscent - P.Height + P.Descent;
    TRect R{P.X + Offset, Y, P.X + Offset + P.Width, Y + P.Height};
    if (dynamic_cast<TRectBaseHyperlink*>(P.Link)) {
      int Mid = Top + (std::max(fAscent + fDescent, fMinHeight) - 1) / 2;
      R.Top = Mid;
      R.Bottom = Mid + 1;
    }
    P.Link->SetBoundsRect(R);
    P.Link->SetNext(nullptr);
    if (Tail) Tail->SetNext(P.Link); else Chain = P.Link;
    Tail = P.Link;
  }
  fRow.clear();
  if (Chain) fElement->InsertLink(Chain);
}

void TRichTextFormatter::FinishRow() {
  PlaceRow(fY);
  fY += std::max(fAscent + fDescent, fMinHeight) + fElement->LineSpacing();
  fWidest = std::max(fWidest, fRowWidth);
  fX = 0;
  ++fRowCount;
  fAscent = fDescent = fMinHeight = 0;
  fRowWidth = 0;
  fRemaining = fWidth;
}

void TRichTextFormatter::Run(const std::vector<std::unique_ptr<TRichTextItem>>& Items) {
  for (const auto& Item : Items) {
    Item->SetElement(nullptr);
    Item->Format(this);
  }
  // The last row is placed without moving on: its height ends the content.
  if (!fRow.empty()) {
    PlaceRow(fY);
    fWidest = std::max(fWidest, fRowWidth);
    ++fRowCount;
    fContentHeight = fY + fAscent + fDescent;
  } else {
    fContentHeight = fRowCount > 0 ? fY - fElement->LineSpacing() : 0;
  }
}

// ---------------------------------------------------------------------------------------------
// The elements

TCustomRichText::TCustomRichText(bool AutoWidth, bool AutoHeight, bool ThirdMode) {
  if (AutoHeight && ThirdMode) AssertFailed(Msg.BothSizings, __FILE__, __LINE__);
  fFlagsByte = static_cast<uint8_t>((AutoWidth ? 1 : 0) | (AutoHeight ? 2 : 0) | (ThirdMode ? 4 : 0));
  SetClipChildren(true);
  SetRepaintMode(2);
  SetInterval(BlinkInterval);
}

TCustomRichText::~TCustomRichText() {
  ClearLinks();
  fItems.clear();
  ReleaseStyle(fDefaultStyle);
}

void TCustomRichText::DoLinkClick(const AnsiString&) {}

void TCustomRichText::LinkClicked(THyperlink* Link) {
  if (auto* L = dynamic_cast<TRTLinkHyperlink*>(Link)) {
    DoLinkClick(L->LinkItem()->Href());
    return;
  }
  if (auto* I = dynamic_cast<TRTImageHyperlink*>(Link)) {
    if (!I->Item()->Href().empty()) DoLinkClick(I->Item()->Href());
    return;
  }
  THyperlink::LinkClicked(Link);
}

void TCustomRichText::SetText(const WideString& Markup) {
  if (Markup == fText) return;
  fText = Markup;
  BuildItems();
  Layout();
}

void TCustomRichText::BuildItems() {
  ClearLinks();
  fItems.clear();
  fShortCut = 0;
  if (!fDefaultStyle) return;
  try {
    TRichTextParser P(this, &fItems, fDefaultStyle, fShadow, fDefaultAlignment);
    P.Parse(fText);
    fShortCut = P.ShortCut();
  } catch (const EXMLError&) {
    // Mark-up that is not well formed shows as it stands.
    fItems.clear();
    TRichTextParser P(this, &fItems, fDefaultStyle, fShadow, fDefaultAlignment);
    P.Parse(XMLEscape(fText));
  }
  bool Blinking = false;
  bool Rtl = false;
  for (const auto& I : fItems) {
    Blinking = Blinking || I->Animates();
    if (auto* T = dynamic_cast<TTextRichTextItem*>(I.get())) Rtl = Rtl || T->RightToLeft();
  }
  fFlagsByte = static_cast<uint8_t>((fFlagsByte & ~(16 | 32)) | (Blinking ? 16 : 0) | (Rtl ? 32 : 0));
}

void TCustomRichText::Layout() {
  if (fInLayout) return;
  fInLayout = true;
  ClearLinks();
  int OldWidth = GetWidth();
  TRichTextFormatter F(this);
  try {
    F.Run(fItems);
  } catch (...) {
    fInLayout = false;
    throw;
  }
  fContentWidth = F.ContentWidth();
  fContentHeight = F.ContentHeight();
  fRowCount = F.RowCount();
  fTruncated = F.Truncated();
  TRect R = fBoundsRect;
  if (AutoHeight() || ThirdMode()) R.Bottom = R.Top + fContentHeight;
  if (AutoWidth()) R.Right = R.Left + fContentWidth;
  if (R.Right != fBoundsRect.Right || R.Bottom != fBoundsRect.Bottom) TAnimatedHyperlink::SetBoundsRect(R);
  if (RightToLeft() && AutoWidth() && GetWidth() != OldWidth) {
    int Shift = GetWidth() - OldWidth;
    for (TBaseHyperlink* C = fFirstChild; C; C = C->Next()) C->SetLeft(C->BoundsRect().Left + Shift);
  }
  // Pieces below the bottom are hidden; the last one shown of a text that goes on gets "...".
  int H = GetHeight();
  TRTTextBaseHyperlink* LastShown = nullptr;
  for (TBaseHyperlink* C = fFirstChild; C; C = C->Next()) {
    bool Shown = C->BoundsRect().Top < H;
    C->SetVisible(Shown);
    auto* T = dynamic_cast<TRTTextBaseHyperlink*>(C);
    if (!T) continue;
    if (Shown) {
      LastShown = T;
    } else if (LastShown && LastShown->Item() == T->Item()) {
      LastShown->SetEllipsis(true);
      LastShown = nullptr;
    }
  }
  fLayoutWidth = GetWidth();
  fInLayout = false;
  if (HasBlinking()) StartAnimation();
  ItemsChanged(&F);
  Invalidate();
}

void TCustomRichText::Relayout() { Layout(); }

void TCustomRichText::SetBoundsRect(const TRect& R) {
  if (fInLayout) {
    TAnimatedHyperlink::SetBoundsRect(R);
    return;
  }
  bool HeightChanged = R.Height() != GetHeight();
  TAnimatedHyperlink::SetBoundsRect(R);
  if (HeightChanged && !(AutoHeight() || ThirdMode())) fLayoutWidth = -1;
  if (GetWidth() != fLayoutWidth && !AutoWidth()) Layout();
  else if (AutoWidth() && fLayoutWidth < 0) Layout();
  if (HasBlinking()) StartAnimation();
}

void TCustomRichText::Attached() {
  TAnimatedHyperlink::Attached();
  if (HasBlinking()) StartAnimation();
}

bool TCustomRichText::DoAnimate() {
  if (!HasBlinking()) return false;
  bool Hidden = Ticks() % BlinkPeriod < BlinkHidden;
  if (Hidden != fBlinkHidden) {
    fBlinkHidden = Hidden;
    // Only the blinking pieces are repainted.
    for (TBaseHyperlink* C = fFirstChild; C; C = C->Next())
      if (auto* T = dynamic_cast<TRTTextBaseHyperlink*>(C))
        if (T->IsVisible() && (T->Item()->Flags() & rfBlink)) T->Invalidate();
  }
  return true;
}

void TCustomRichText::SetDefaultStyle(TTextStyle* Style) {
  if (Style == fDefaultStyle) return;
  if (Style) Style->AddRef();
  // Items hold their own references, so the old style may go first.
  TTextStyle* Old = fDefaultStyle;
  fDefaultStyle = Style;
  BuildItems();
  ReleaseStyle(Old);
  Layout();
}

void TCustomRichText::SetDefaultAlignment(uint8_t Value) {
  if (Value == fDefaultAlignment) return;
  fDefaultAlignment = Value;
  BuildItems();
  Layout();
}

void TCustomRichText::SetShadow(bool Value) {
  if (Value == fShadow) return;
  fShadow = Value;
  BuildItems();
  Layout();
}

void TCustomRichText::SetLineSpacing(int Value) {
  if (Value == fLineSpacing) return;
  fLineSpacing = Value;
  Layout();
}

void TCustomRichText::RegisterTag(const WideString& Name, TRichTextTagHandler Handler) {
  WideString Key = Lower(Name);
  for (auto& T : fTags)
    if (T.first == Key) {
      T.second = std::move(Handler);
      return;
    }
  fTags.emplace_back(Key, std::move(Handler));
}

bool TCustomRichText::FindTag(const WideString& Name, TRichTextTagHandler& Handler) const {
  WideString Key = Lower(Name);
  auto& G = GlobalTags();
  auto It = G.find(Key);
  if (It != G.end()) {
    Handler = It->second;
    return true;
  }
  for (auto& T : fTags)
    if (T.first == Key) {
      Handler = T.second;
      return true;
    }
  return false;
}

void TCustomRichText::SetTickSource(std::function<uint32_t()> Source) { GTickSource = std::move(Source); }

uint32_t TCustomRichText::Ticks() { return GTickSource ? GTickSource() : GetTickCount(); }

TRichText::TRichText(bool AutoWidth, bool AutoHeight, bool ThirdMode)
    : TCustomRichText(AutoWidth, AutoHeight, ThirdMode) {
  fDefaultStyle = FindPredefStyle(Msg.StyleName);
  if (fDefaultStyle) fDefaultStyle->AddRef();
}

void TRichText::DoLinkClick(const AnsiString& Href) {
  if (OnLinkClick)
    OnLinkClick(this, Href);
  else if (GLinkHandler)
    GLinkHandler(this, Href);
}
