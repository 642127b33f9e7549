// The rich-text element: mark-up read into items (with the plain-text fallback of every error and
// a mutation run), rows laid out against widths measured on a window's device context, painting
// (shadows, blinking) checked in pixels, and links clicked through the X server's mouse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "classlib/Forms.h"
#include "common/WindowCapture.h"
#include "common/XInput.h"
#include "toolkit/HyperlinkControl.h"
#include "toolkit/RichText.h"
#include "toolkit/TextStyles.h"
#include "unicode/UniSystem.h"

#include "Surface.h"

namespace {

std::string Hex(uint32_t V) {
  char B[16];
  std::snprintf(B, sizeof B, "%06X", static_cast<unsigned>(V));
  return B;
}

std::string Utf8(const WideString& W) { return WideToUtf8(W); }

// One item in a line: kind, text and what differs from the Regular style.
std::string Describe(TRichTextItem* Item) {
  if (auto* Sep = dynamic_cast<TSeparatorRichTextItem*>(Item)) return "H " + Hex(static_cast<uint32_t>(Sep->Color()));
  if (auto* Img = dynamic_cast<TImageRichTextItem*>(Item))
    return "I " + std::to_string(Img->ImageId()) + " " + std::to_string(Img->Width()) + "x" +
           std::to_string(Img->Height()) + " v" + std::to_string(Img->VShift()) + " alt=" + Utf8(Img->Alt()) + " >" +
           Img->Href();
  auto* T = dynamic_cast<TTextRichTextItem*>(Item);
  if (!T) return "?";
  std::string S;
  if (auto* U = dynamic_cast<TUnknownRichTextItem*>(T))
    S = "U " + Utf8(U->Tag()) + " ";
  else
    S = dynamic_cast<TLinkRichTextItem*>(T) ? "L " : "T ";
  S += Utf8(T->Text());
  const TTextStyleRec& E = T->Style()->Effective();
  const TTextStyleRec& R = FindPredefStyle("Regular")->Effective();
  if (E.FontStyle & fsBold) S += " b";
  if (E.FontStyle & fsItalic) S += " i";
  if (E.FontStyle & fsUnderline) S += " u";
  if (E.FontStyle & fsStrikeOut) S += " s";
  if (E.Size != R.Size) S += " size=" + std::to_string(E.Size);
  if (E.Color != R.Color) S += " c=" + Hex(static_cast<uint32_t>(E.Color));
  if (E.BgColor != R.BgColor) S += " bg=" + Hex(static_cast<uint32_t>(E.BgColor));
  if (T->Alignment() != raLeft) S += " a" + std::to_string(T->Alignment());
  if (T->Flags() & rfShadow) S += " shadow";
  if (T->Flags() & rfBlink) S += " blink";
  if (T->Flags() & rfNoCopy) S += " nocopy";
  if (T->Flags() & rfTruncate) S += " trunc";
  if (T->Flags() & rfTruncateFull) S += " truncfull";
  if (auto* L = dynamic_cast<TLinkRichTextItem*>(T)) S += " >" + L->Href() + (L->Alt().empty() ? "" : " alt=" + Utf8(L->Alt()));
  return S;
}

std::vector<std::string> Items(TCustomRichText& R) {
  std::vector<std::string> V;
  for (int I = 0; I < R.ItemCount(); ++I) V.push_back(Describe(R.Item(I)));
  return V;
}

// The text of each row, pieces joined, rows in order of their tops (hidden pieces too).
std::vector<std::wstring> Rows(TCustomRichText& R, bool VisibleOnly = false) {
  std::vector<std::pair<int, std::wstring>> Rows;
  for (TBaseHyperlink* C = R.FirstChild(); C; C = C->Next()) {
    if (VisibleOnly && !C->IsVisible()) continue;
    auto* T = dynamic_cast<TRTTextBaseHyperlink*>(C);
    if (!T) continue;
    std::wstring S = T->Item()->Text().substr(static_cast<size_t>(T->First()), static_cast<size_t>(T->Length()));
    if (T->Ellipsis()) S += L"...";
    int Bottom = C->BoundsRect().Bottom;
    if (!Rows.empty() && Rows.back().first == Bottom)
      Rows.back().second += S;
    else
      Rows.emplace_back(Bottom, S);
  }
  std::vector<std::wstring> V;
  for (auto& P : Rows) V.push_back(P.second);
  return V;
}

// The widths of texts in a style's font, measured on a window's device context.
struct TMeasure {
  explicit TMeasure(int Height = 0) {
    Wnd = GetDesktopWindow();
    DC = GetDC(Wnd);
    Font.reset(new TFont);
    FindPredefStyle("Regular")->ApplyLinkState(Font.get(), 0);
    if (Height) Font->SetHeight(-Height);
    Old = SelectObject(DC, Font->Handle());
    TEXTMETRICW Tm;
    GetTextMetricsW(DC, &Tm);
    Ascent = Tm.tmAscent;
    Descent = Tm.tmDescent;
  }
  ~TMeasure() {
    SelectObject(DC, Old);
    ReleaseDC(Wnd, DC);
  }
  int W(const std::wstring& S) {
    SIZE Sz{};
    GetTextExtentPoint32W(DC, S.data(), static_cast<int>(S.size()), &Sz);
    return Sz.cx;
  }
  int RowHeight() const { return static_cast<int>(std::lround(Ascent * 1.29)) + Descent; }
  HWND Wnd;
  HDC DC;
  std::unique_ptr<TFont> Font;
  HGDIOBJ Old;
  int Ascent, Descent;
};

std::unique_ptr<TRichText> Make(int Width, const WideString& Markup, bool AutoHeight = true, int Height = 0) {
  auto R = std::make_unique<TRichText>(false, AutoHeight, false);
  R->SetBoundsRect(TRect{0, 0, Width, Height});
  R->SetText(Markup);
  return R;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Mark-up to items

TEST(RichTextMarkup, TagsAttributesStylesAndEntitiesBecomeItems) {
  RegisterRichTextTag(L"X-Alt", nullptr);
  struct {
    const wchar_t* Markup;
    std::vector<std::string> Items;
  } Cases[] = {
      {L"<b>x</b>y", {"T x b", "T y"}},
      {L"<i>i</i><u>u</u><s>s</s>", {"T i i", "T u u", "T s s"}},
      {L"<B><i>bi</I></b>", {"T bi b i"}},
      {L"a<b>b<i>c</i>d</b>e", {"T a", "T b b", "T c b i", "T d b", "T e"}},
      {L"<ks>File</ks>", {"T File u"}},
      // Font sizes: points through the screen's 96 dpi (11 px is 8 pt), or pixels.
      {L"<font size=\"+2\">x</font>", {"T x size=13"}},
      {L"<font size=\"12px\">x</font>", {"T x size=12"}},
      {L"<font size=\"12\">x</font>", {"T x size=16"}},
      {L"<font size=\"-1\">x</font>", {"T x size=9"}},
      {L"<font size=\"+3px\">x</font>", {"T x size=14"}},
      {L"<font size=\"big\">x</font>", {"T x"}},
      {L"<font color=\"#FF0000\">r</font>", {"T r c=0000FF"}},
      {L"<font color=\"red\">r</font>", {"T r"}},
      // Named styles: letter case ignored; an unknown class keeps the style.
      {L"<span class=\"regularbold\">x</span>", {"T x b c=333333"}},
      {L"<span class=\"Bold\">x</span>", {"T x"}},
      {L"<b><span class=\"RegularRed\">x</span></b>", {"T x c=0000CC"}},
      {L"<span align=\"center\">c</span>", {"T c a2"}},
      {L"<span align=\"right\" nocopy=\"true\" bgcolor=\"#102030\">x</span>", {"T x bg=302010 a1 nocopy"}},
      {L"<center>c</center>", {"T c a2"}},
      {L"<hl>x</hl>", {"T x bg=F2DFCF"}},
      {L"<font color=\"#00FF00\"><hl>x</hl></font>", {"T x bg=F2DFCF"}},
      {L"<alertmatch>x</alertmatch>", {"T x bg=00FFFF"}},
      {L"<shadowstyle>x</shadowstyle><blink>y</blink><nocopy>z</nocopy>", {"T x shadow", "T y blink", "T z nocopy"}},
      {L"<trunc>x</trunc><trunc full=\"yes\">y</trunc>", {"T x trunc", "T y truncfull"}},
      // Links: the href, a class, and a call link shows its alternative text.
      {L"<a href=\"kvplug?url:h\">t</a>", {"L t >kvplug?url:h"}},
      {L"go <a href=\"x\" alt=\"tip\">t<b>u</b></a> on", {"T go ", "L t >x alt=tip", "L u b >x alt=tip", "T  on"}},
      {L"<a href=\"SKYPE:1\" alt=\"Call\">z</a>", {"L Call >SKYPE:1 alt=Call"}},
      {L"<a href=\"x\" class=\"RegularBold\">t</a>", {"L t b c=333333 >x"}},
      {L"<a href=\"caf&#233;\">t</a>", {"L t >caf\xC3\xA9"}},
      // Entities, breaks, rules, images.
      {L"&lt;b&gt; &amp; &quot;&apos; &#65;&#x42;", {"T <b> & \"' AB"}},
      {L"&nbsp;", {"T ?nbsp?"}},
      {L"a<br/>b", {"T a", "T \r\nb"}},
      {L"a<BR></BR>", {"T a", "T \r\n"}},
      {L"<hr color=\"#00FF00\"/>", {"H 00FF00"}},
      {L"<img id=\"7\" width=\"10\" height=\"5\" vshift=\"2\" alt=\"pic\" href=\"h\"/>", {"I 7 10x5 v2 alt=pic >h"}},
      {L"<img id=\"7\"/>", {"I 7 0x0 v0 alt= >"}},
      // Unknown tags are ignored; a declared tag without a handler shows its alt text.
      {L"<foo bar=\"1\">x</foo>", {"T x"}},
      {L"<x-alt alt=\"A\"/>", {"U x-alt A"}},
      {L"<x-alt/>", {}},
      {L"a<!-- c -->b<![CDATA[<i>]]>", {"T ab<i>"}},
      {L"", {}},
  };
  for (auto& C : Cases) {
    auto R = Make(400, C.Markup);
    EXPECT_EQ(Items(*R), C.Items) << Utf8(C.Markup);
  }
  UnregisterRichTextTag(L"x-alt");
  auto R = Make(400, L"<x-alt alt=\"A\"/>");
  EXPECT_EQ(Items(*R), std::vector<std::string>{}) << "no longer declared";
}

TEST(RichTextMarkup, EveryErrorShowsTheMarkupAsPlainText) {
  std::wstring Deep99, Deep100;
  for (int I = 0; I < 98; ++I) Deep99 = L"<a>" + Deep99 + L"</a>";
  Deep99 = L"<b>" + Deep99 + L"x</b>";
  Deep100 = L"<i>" + Deep99 + L"</i>";
  const wchar_t* Errors[] = {
      L"<b>x",  L"&#zz;", L"&#;", L"&#xZZ;", L"&#x110000;", L"<a href='x'>y</a>", L"<a href= \"x\">y</a>",
      L"</b>",  L"<b></i>", L"<a x=\"1", L"&amp", L"<!-- x", L"<?x", L"<![CDATA[x", L"<b", L"<a href>x</a>",
      Deep100.c_str(),
  };
  for (const wchar_t* E : Errors) {
    std::unique_ptr<TRichText> R;
    ASSERT_NO_THROW(R = Make(300, E)) << Utf8(E);
    EXPECT_EQ(Items(*R), std::vector<std::string>{"T " + Utf8(E)}) << Utf8(E);
  }
  auto R = Make(300, Deep99);
  EXPECT_EQ(Items(*R), std::vector<std::string>{"T x b"});
}

TEST(RichTextMarkup, ShortcutCustomTagsAndTheDefaults) {
  auto R = Make(300, L"a<ks>Save</ks> <ks>Quit</ks>");
  EXPECT_EQ(R->ShortCut(), L'S');
  R->SetText(L"plain");
  EXPECT_EQ(R->ShortCut(), 0);
  // The element's own handler: its text goes to the handler, which returns items.
  std::vector<std::wstring> Seen;
  R->RegisterTag(L"Pic", [&](TCustomRichText* E, const WideString& Tag, TRichTextItem* Current, const WideString& Text,
                             TUniStringList* A) -> TRichTextItem* {
    EXPECT_EQ(E, R.get());
    Seen.push_back(Tag + L"|" + Text + L"|" + A->Values(L"n") + (Current ? L"|again" : L""));
    if (Current) return Current;
    return new TSeparatorRichTextItem(0x123456);
  });
  R->SetText(L"x<pic n=\"1\">one<b>two</b>three</pic>y");
  EXPECT_EQ(Items(*R), (std::vector<std::string>{"T x", "H 123456", "T two b", "T y"}));
  EXPECT_EQ(Seen, (std::vector<std::wstring>{L"pic|one|1", L"pic|three|1|again"}));
  // The defaults make the bottom context.
  R->SetDefaultAlignment(raRight);
  R->SetShadow(true);
  R->SetDefaultStyle(FindPredefStyle("RegularRed"));
  R->SetText(L"<b>z</b>");
  EXPECT_EQ(Items(*R), std::vector<std::string>{"T z b c=0000CC a1 shadow"});
}

// Cut, edited and deeply nested mark-up: either it reads, or it shows as it stands; never a
// crash, an exception or a hang, whatever the width.
TEST(RichTextMarkup, MutatedMarkupReadsOrFallsBackToPlainText) {
  const std::wstring Corpus[] = {
      L"<b>bold</b> and <i>italic <u>under</u></i> &amp; <font size=\"+2\" color=\"#FF0000\">big</font>",
      L"<a href=\"kvplug?url:x\" alt=\"t\">link text</a><br/><hr color=\"#00FF00\"/><img id=\"3\" vshift=\"1\"/>",
      L"<span class=\"RegularBold\" align=\"center\">\x5BF9\x97F3\x9891\x6587\x4EF6</span><![CDATA[<x>]]><!-- c -->",
      L"<trunc full=\"yes\"><blink>b</blink><shadowstyle>s</shadowstyle></trunc>&#65;&#x42;<ks>K</ks>",
  };
  const wchar_t Alphabet[] = L"<>/&;#=\"' abx\r\n\x4E2D";
  std::mt19937 Rng(20261211);
  auto R = std::make_unique<TRichText>(false, true, false);
  auto Fixed = std::make_unique<TRichText>(false, false, false);
  int Fallbacks = 0, Read = 0;
  for (int N = 0; N < 1500; ++N) {
    std::wstring M = Corpus[Rng() % 4];
    int Edits = 1 + static_cast<int>(Rng() % 4);
    for (int E = 0; E < Edits && !M.empty(); ++E) {
      size_t At = Rng() % (M.size() + 1);
      switch (Rng() % 5) {
        case 0: M.resize(At); break;                                          // cut
        case 1: M.insert(At, 1, Alphabet[Rng() % (sizeof Alphabet / sizeof *Alphabet - 1)]); break;
        case 2: if (At < M.size()) M.erase(At, 1 + Rng() % 4); break;         // delete
        case 3: M.insert(At, M.substr(Rng() % M.size(), 1 + Rng() % 12)); break;  // duplicate
        default: {                                                            // nest
          int Depth = 90 + static_cast<int>(Rng() % 20);
          std::wstring Open, Close;
          for (int D = 0; D < Depth; ++D) Open += L"<i>", Close += L"</i>";
          M = Open + M + Close;
        }
      }
    }
    bool Wellformed = true;
    try {
      TXMLParser().Parse(M);
    } catch (const EXMLError&) {
      Wellformed = false;
    }
    int Width = static_cast<int>(Rng() % 120);
    R->SetBoundsRect(TRect{0, 0, Width, 0});
    Fixed->SetBoundsRect(TRect{0, 0, Width, static_cast<int>(Rng() % 40)});
    ASSERT_NO_THROW(R->SetText(M)) << Utf8(M);
    ASSERT_NO_THROW(Fixed->SetText(M)) << Utf8(M);
    if (!Wellformed) {
      ++Fallbacks;
      ASSERT_EQ(R->ItemCount(), 1) << Utf8(M);
      auto* T = dynamic_cast<TTextRichTextItem*>(R->Item(0));
      ASSERT_TRUE(T && !dynamic_cast<TLinkRichTextItem*>(T));
      std::wstring Plain = M;
      for (wchar_t& C : Plain) if (C == L'\t') C = L' ';
      EXPECT_EQ(T->Text(), Plain);
    } else {
      ++Read;
    }
    for (TBaseHyperlink* C = R->FirstChild(); C; C = C->Next()) {
      auto* P = dynamic_cast<TRTTextBaseHyperlink*>(C);
      if (P) {
        ASSERT_GT(P->Length(), 0) << "an empty piece in " << Utf8(M);
      }
    }
  }
  EXPECT_GT(Fallbacks, 100);
  EXPECT_GT(Read, 100);
}

// ---------------------------------------------------------------------------------------------
// Layout against widths measured on a window's device context

TEST(RichTextLayout, RowsBreakAtMeasuredWidths) {
  TMeasure M;
  const std::wstring Cn = L"\x5BF9\x97F3\x9891\x6587\x4EF6\x8FDB\x884C\x5904\x7406";  // nine ideographs
  struct {
    std::wstring Markup;
    int Width;
    std::vector<std::wstring> Rows;
  } Cases[] = {
      {L"abc def", M.W(L"abc def"), {L"abc def"}},
      {L"abc def", M.W(L"abc def") - 1, {L"abc ", L"def"}},
      {L"abc def", M.W(L"abc"), {L"abc ", L"def"}},  // the blank may hang over the edge
      {L"abc def ghi", M.W(L"abc def") + 1, {L"abc def ", L"ghi"}},
      {L"abcdefgh", M.W(L"abcd"), {L"abcd", L"efgh"}},  // a word wider than the row: by characters
      {L"ab", 0, {L"a", L"b"}},                           // never less than a character a row
      {L"foo,bar", M.W(L"foo,b"), {L"foo,", L"bar"}},     // after punctuation
      {L"a<u>b</u> c", M.W(L"ab"), {L"ab ", L"c"}},       // pieces of two items on one row
      {L"a<br/>b<br/><br/>c", 300, {L"a", L"b", L"", L"c"}},
      {Cn, M.W(Cn.substr(0, 3)), {Cn.substr(0, 3), Cn.substr(3, 3), Cn.substr(6, 3)}},
      {Cn, M.W(Cn.substr(0, 4)) - 1, {Cn.substr(0, 3), Cn.substr(3, 3), Cn.substr(6, 3)}},
      {L"ab " + Cn.substr(0, 4), M.W(L"ab " + Cn.substr(0, 2)), {L"ab " + Cn.substr(0, 2), Cn.substr(2, 2)}},
  };
  for (auto& C : Cases) {
    auto R = Make(C.Width, C.Markup);
    std::vector<std::wstring> Got = Rows(*R);
    // Empty rows have no pieces: compare the rows that have text.
    std::vector<std::wstring> Want;
    for (auto& W : C.Rows) if (!W.empty()) Want.push_back(W);
    EXPECT_EQ(Got, Want) << Utf8(C.Markup) << " in " << C.Width;
    EXPECT_EQ(R->RowCount(), static_cast<int>(C.Rows.size())) << Utf8(C.Markup);
    // Rows are as high as the font asks with its leading; the last one without it.
    EXPECT_EQ(R->GetHeight(), static_cast<int>(C.Rows.size() - 1) * M.RowHeight() + M.Ascent + M.Descent)
        << Utf8(C.Markup);
    for (TBaseHyperlink* P = R->FirstChild(); P; P = P->Next())
      if (C.Width > 0) {
        EXPECT_LE(P->BoundsRect().Right, C.Width) << Utf8(C.Markup);
      }
  }
}

TEST(RichTextLayout, AlignmentPutsTheOddPixelRight) {
  TMeasure M;
  const int W = M.W(L"ab");
  struct {
    const wchar_t* Markup;
    int Free;
    int Left;
  } Cases[] = {
      {L"ab", 11, 0},
      {L"<span align=\"right\">ab</span>", 11, 11},
      {L"<center>ab</center>", 11, 5},
      {L"<center>ab</center>", 10, 5},
      {L"<center>ab</center>", 1, 0},
  };
  for (auto& C : Cases) {
    auto R = Make(W + C.Free, C.Markup);
    ASSERT_EQ(R->FirstChild() ? R->FirstChild()->Next() : nullptr, nullptr);
    ASSERT_NE(R->FirstChild(), nullptr);
    EXPECT_EQ(R->FirstChild()->BoundsRect().Left, C.Left) << Utf8(C.Markup) << " free " << C.Free;
    EXPECT_EQ(R->FirstChild()->BoundsRect().Right, C.Left + W);
  }
}

TEST(RichTextLayout, BaselineSizingAndSpacing) {
  TMeasure Small;
  // Two fonts on one row share the baseline: the row is as high as the larger.
  auto R = Make(400, L"a<font size=\"20px\">B</font>");
  ASSERT_EQ(R->ItemCount(), 2);
  TMeasure Big(20);
  TBaseHyperlink* A = R->FirstChild();
  TBaseHyperlink* B = A->Next();
  EXPECT_EQ(A->BoundsRect().Bottom - Small.Descent, B->BoundsRect().Bottom - Big.Descent);
  EXPECT_EQ(B->BoundsRect().Top, 0);
  EXPECT_EQ(R->GetHeight(), Big.Ascent + Big.Descent);
  // A later row of the small font alone is as high as that font asks, not as the first row.
  R->SetText(L"<font size=\"20px\">B</font><br/>a<br/>a");
  std::vector<int> Tops;
  for (TBaseHyperlink* C = R->FirstChild(); C; C = C->Next()) Tops.push_back(C->BoundsRect().Top);
  ASSERT_EQ(Tops.size(), 3u);
  EXPECT_EQ(Tops[2] - Tops[1], Small.RowHeight());
  EXPECT_EQ(Tops[1], Big.RowHeight());
  // A picture sits on the baseline, moved down by its shift; a rule is a row of its own.
  R->SetText(L"a<img id=\"60000\" width=\"20\" height=\"30\" vshift=\"2\"/>");
  A = R->FirstChild();
  TBaseHyperlink* Img = A->Next();
  ASSERT_NE(Img, nullptr);
  EXPECT_EQ(Img->GetWidth(), 20);
  EXPECT_EQ(Img->BoundsRect().Top, 0);
  EXPECT_EQ(Img->BoundsRect().Bottom - 2, A->BoundsRect().Bottom - Small.Descent);
  EXPECT_EQ(Img->BoundsRect().Left, Small.W(L"a"));
  R->SetText(L"a<hr color=\"#FF0000\"/>b");
  std::vector<TRect> Parts;
  for (TBaseHyperlink* C = R->FirstChild(); C; C = C->Next()) Parts.push_back(C->BoundsRect());
  ASSERT_EQ(Parts.size(), 3u);
  EXPECT_EQ(Parts[1].Left, 0);
  EXPECT_EQ(Parts[1].Right, 400);
  EXPECT_EQ(Parts[1].Height(), 1);
  EXPECT_EQ(Parts[1].Top, Small.RowHeight() + 4);
  EXPECT_EQ(Parts[2].Top, Small.RowHeight() + 10);
  EXPECT_EQ(R->RowCount(), 3);
  // Auto height: no items, no height; line spacing between rows, not after the last.
  auto Empty = Make(100, L"");
  Empty->SetBoundsRect(TRect{0, 0, 100, 50});
  EXPECT_EQ(Empty->GetHeight(), 0);
  EXPECT_EQ(Empty->RowCount(), 0);
  auto Two = Make(100, L"a<br/>b");
  Two->SetLineSpacing(3);
  EXPECT_EQ(Two->GetHeight(), Small.RowHeight() + 3 + Small.Ascent + Small.Descent);
  // The third mode grows too, with rows only as high as the font.
  TRichText Third(false, false, true);
  Third.SetBoundsRect(TRect{0, 0, 100, 5});
  Third.SetText(L"a<br/>b");
  EXPECT_EQ(Third.GetHeight(), 2 * (Small.Ascent + Small.Descent));
  // Auto width: one row per line, as wide as the text.
  TRichText Wide(true, true, false);
  Wide.SetBoundsRect(TRect{0, 0, 10, 0});
  Wide.SetText(L"abc def<br/>x");
  EXPECT_EQ(Rows(Wide), (std::vector<std::wstring>{L"abc def", L"x"}));
  EXPECT_EQ(Wide.GetWidth(), Small.W(L"abc def"));
  EXPECT_EQ(Wide.ContentWidth(), Small.W(L"abc def"));
}

TEST(RichTextLayout, TruncationOnTheLastRowShown) {
  TMeasure M;
  const int H = M.RowHeight();
  const int Width = M.W(L"abc def");
  struct {
    const wchar_t* Markup;
    std::vector<std::wstring> Shown;
    bool Truncated;
  } Cases[] = {
      {L"abc def ghi", {L"abc de..."}, false},
      {L"<trunc>abc def ghi</trunc>", {L"abc de..."}, true},
      {L"<trunc full=\"yes\">abc def ghi</trunc>", {L"abc def"}, true},
      {L"abc&#13;&#10;def", {L"abc..."}, false},  // the rest lies in a hidden row
      {L"abc<br/>def", {L"abc"}, false},          // another item: nothing more to say
      {L"abc def", {L"abc def"}, false},
      // No room left for "...": the text before gives it room, unless truncating was asked for.
      {L"abc def<b>ghi</b>", {L"abc d..."}, false},
      {L"abc def<trunc><b>ghi</b></trunc>", {L"abc def"}, true},
  };
  for (auto& C : Cases) {
    auto R = Make(Width, C.Markup, false, H);
    EXPECT_EQ(R->GetHeight(), H);
    std::vector<std::wstring> Shown = Rows(*R, true);
    // The cut follows the widths: compare the start and the ending.
    ASSERT_EQ(Shown.size(), C.Shown.size()) << Utf8(C.Markup);
    std::wstring Want = C.Shown[0];
    if (Want.size() > 3 && Want.substr(Want.size() - 3) == L"...") {
      std::wstring Got = Shown[0];
      ASSERT_GE(Got.size(), 3u);
      EXPECT_EQ(Got.substr(Got.size() - 3), L"...") << Utf8(C.Markup);
      EXPECT_LE(M.W(Got), Width) << Utf8(C.Markup);
      EXPECT_EQ(Got.substr(0, 3), Want.substr(0, 3));
    } else {
      EXPECT_EQ(Shown[0].substr(0, Want.size()), Want) << Utf8(C.Markup);
    }
    EXPECT_EQ(R->Truncated(), C.Truncated) << Utf8(C.Markup);
    for (TBaseHyperlink* P = R->FirstChild(); P; P = P->Next())
      if (P->IsVisible()) {
        EXPECT_LE(P->BoundsRect().Right, Width) << Utf8(C.Markup);
      }
  }
  // A taller element shows more rows; the layout follows a new height.
  auto R = Make(Width, L"abc def ghi", false, H);
  R->SetBoundsRect(TRect{0, 0, Width, 2 * H});
  EXPECT_EQ(Rows(*R, true), (std::vector<std::wstring>{L"abc def ", L"ghi"}));
}

// ---------------------------------------------------------------------------------------------
// Painting and the host window

namespace {

// The element painted on a white W x H surface.
struct TShot {
  TShot(TCustomRichText& R, int W, int H) : S(W, H) {
    S.Fill(0xFFFFFF);
    R.Paint(&S.Canvas);
    GdiFlush();
  }
  uint32_t At(int X, int Y) { return S.At(X, Y) & 0xFFFFFF; }
  Surface S;
};

bool Dark(uint32_t P) { return (P & 0xFF) < 100 && (P >> 8 & 0xFF) < 100 && (P >> 16 & 0xFF) < 100; }
bool Red(uint32_t P) { return (P >> 16 & 0xFF) > 200 && (P >> 8 & 0xFF) < 60 && (P & 0xFF) < 60; }

}  // namespace

TEST(RichTextPaint, ShadowIsTheTextMovedByItsOffset) {
  struct {
    int X, Y;
  } Offsets[] = {{2, 0}, {0, -2}, {3, 2}, {-2, 2}};  // past the anti-aliased edges of the strokes
  for (auto& O : Offsets) {
    TTextStyle* Base = FindPredefStyle("Regular");
    TTextStyle* S = Base;
    MakePrivate(S);
    S->Own().ShadowColor = 0x0000FF;  // red
    S->Own().ShadowX = O.X;
    S->Own().ShadowY = O.Y;
    S->Own().ShadowAlpha = 255;
    S->Own().Mask |= tsmShadowColor | tsmShadowXY | tsmShadowAlpha;
    S->Update();
    TRichText R(false, true, false);
    R.SetDefaultStyle(S);
    R.SetBoundsRect(TRect{4, 4, 120, 0});
    R.SetText(L"<font size=\"24px\"><b>HHH</b></font>");
    TShot Plain(R, 130, 40);
    R.SetShadow(true);
    TShot Shadowed(R, 130, 40);
    int RedCount = 0, Misplaced = 0;
    for (int Y = 0; Y < 40; ++Y)
      for (int X = 0; X < 130; ++X)
        if (Red(Shadowed.At(X, Y))) {
          ++RedCount;
          int SX = X - O.X, SY = Y - O.Y;
          if (SX < 0 || SY < 0 || SX >= 130 || SY >= 40 || !Dark(Plain.At(SX, SY))) ++Misplaced;
        }
    EXPECT_GT(RedCount, 5) << O.X << "," << O.Y;
    EXPECT_EQ(Misplaced, 0) << O.X << "," << O.Y;
  }
}

// Chinese text is drawn in glyphs of its own, not in one box for every character.
TEST(RichTextPaint, ChineseCharactersAreGlyphs) {
  auto Ink = [](const wchar_t* Text) {
    TRichText R(false, true, false);
    R.SetBoundsRect(TRect{0, 0, 60, 0});
    R.SetText(L"<font size=\"24px\">" + std::wstring(Text) + L"</font>");
    TShot S(R, 60, 40);
    std::vector<bool> Dots;
    for (int Y = 0; Y < 40; ++Y)
      for (int X = 0; X < 60; ++X) Dots.push_back((S.At(X, Y) & 0xFF) < 160);
    return Dots;
  };
  std::vector<bool> A = Ink(L"\x5BF9"), B = Ink(L"\x97F3"), C = Ink(L"\x6587");
  EXPECT_GT(std::count(A.begin(), A.end(), true), 20);
  EXPECT_NE(A, B);
  EXPECT_NE(B, C);
  EXPECT_NE(A, C);
}

TEST(RichTextPaint, BlinkingTextIsHiddenFor400MsOfEvery800) {
  TRichText R(false, true, false);
  R.SetBoundsRect(TRect{0, 0, 200, 0});
  R.SetText(L"<blink>HHH</blink>");
  EXPECT_TRUE(R.HasBlinking());
  struct {
    uint32_t Tick;
    bool Drawn;
  } Cases[] = {{0, false}, {399, false}, {400, true}, {799, true}, {800, false}, {1600 + 450, true}};
  for (auto& C : Cases) {
    TCustomRichText::SetTickSource([&] { return C.Tick; });
    TShot S(R, 200, 30);
    bool Any = false;
    for (int Y = 0; Y < 30; ++Y)
      for (int X = 0; X < 200; ++X) Any = Any || Dark(S.At(X, Y));
    EXPECT_EQ(Any, C.Drawn) << C.Tick;
  }
  TCustomRichText::SetTickSource(nullptr);
}

namespace {

struct TRichTextHost : public ::testing::Test {
  void SetUp() override {
    Form = std::make_unique<TForm>(nullptr);
    Form->SetBounds(40, 40, 420, 240);
    Host = new THyperlinkControl(Form.get());
    Host->SetParent(Form.get());
    Host->SetBounds(0, 0, 400, 200);
    Host->SetColor(clWhite);
    Form->Show();
    Host->HandleNeeded();
    Box = new THyperlinkContainer(alClient, false, 0);
    Host->Root()->InsertLink(Box);
    xinput::PumpFor(100);
  }
  void TearDown() override {
    SetGlobalLinkHandler(nullptr);
    TCustomRichText::SetTickSource(nullptr);
    Form.reset();
    xinput::PumpFor(20);
  }
  TRichText* Add(int X, int Y, int Width, const WideString& Markup) {
    auto* R = new TRichText(false, true, false);
    R->SetBoundsRect(TRect{X, Y, X + Width, Y});
    R->SetText(Markup);
    Box->InsertLink(R);
    Host->Relayout();
    return R;
  }
  HWND Wnd() { return static_cast<HWND>(Host->Handle()); }
  void MoveTo(int X, int Y) {
    POINT P{X, Y};
    ClientToScreen(Wnd(), &P);
    xinput::Run("mousemove --sync " + std::to_string(P.x) + " " + std::to_string(P.y));
  }
  // The centre of a piece in host-client coordinates.
  POINT Centre(TBaseHyperlink* Piece) {
    TRect R;
    Piece->GetControlRect(R);
    return POINT{(R.Left + R.Right) / 2, (R.Top + R.Bottom) / 2};
  }
  // Rows of a piece's control rectangle that are coloured from left to right (an underline).
  int FullRows(const capture::TCapture& Shot, TBaseHyperlink* Piece) {
    TRect R;
    Piece->GetControlRect(R);
    int Rows = 0;
    for (int Y = R.Top; Y < R.Bottom; ++Y) {
      bool Full = true;
      for (int X = R.Left + 1; X < R.Right - 1 && Full; ++X) Full = (Shot.At(X, Y) & 0xFFFFFF) != 0xFFFFFF;
      Rows += Full;
    }
    return Rows;
  }
  std::unique_ptr<TForm> Form;
  THyperlinkControl* Host = nullptr;
  THyperlinkContainer* Box = nullptr;
};

}  // namespace

TEST_F(TRichTextHost, RealMouseClickFiresTheLinkAndTurnsAllItsPiecesHot) {
  TMeasure M;
  // The link breaks over two rows: both pieces turn hot together.
  TRichText* R = Add(10, 10, M.W(L"go aaa"), L"go <a href=\"cmd:\x4E2D\">aaa bbb</a> end");
  std::vector<TRTLinkHyperlink*> Pieces;
  for (TBaseHyperlink* C = R->FirstChild(); C; C = C->Next())
    if (auto* L = dynamic_cast<TRTLinkHyperlink*>(C)) Pieces.push_back(L);
  ASSERT_EQ(Pieces.size(), 2u);
  // Hit rectangles: where the measured text puts them.
  TRect P0, P1;
  Pieces[0]->GetControlRect(P0);
  Pieces[1]->GetControlRect(P1);
  EXPECT_EQ(P0.Left, 10 + M.W(L"go "));
  EXPECT_EQ(P0.Width(), M.W(L"aaa"));  // the blank hangs over the edge
  EXPECT_EQ(P1.Left, 10);
  EXPECT_EQ(P1.Width(), M.W(L"bbb"));
  EXPECT_EQ(P1.Top, 10 + M.RowHeight());
  xinput::PumpFor(50);
  capture::TCapture Before = capture::CaptureWindow(Wnd(), true);
  EXPECT_EQ(FullRows(Before, Pieces[0]), 0);  // a plain link has no underline

  std::vector<std::pair<TObject*, AnsiString>> Own, Global;
  R->OnLinkClick = [&](TObject* S, const AnsiString& H) { Own.emplace_back(S, H); };
  SetGlobalLinkHandler([&](TObject* S, const AnsiString& H) { Global.emplace_back(S, H); });
  POINT C = Centre(Pieces[1]);
  MoveTo(C.x, C.y);
  ASSERT_TRUE(xinput::PumpUntil([&] { return Host->HotLink() == Pieces[1]; }, 3000));
  EXPECT_EQ(Pieces[0]->State(), hsHot);
  EXPECT_EQ(Host->Cursor(), crHandPoint);
  xinput::PumpFor(100);
  capture::TCapture Hot = capture::CaptureWindow(Wnd(), true);
  CreateDirectoryW(L"artefacts", nullptr);
  EXPECT_TRUE(capture::SaveBmp(Hot, L"artefacts\\richtext_hot_link.bmp"));
  EXPECT_GE(FullRows(Hot, Pieces[0]), 1);  // the hot style underlines every piece
  EXPECT_GE(FullRows(Hot, Pieces[1]), 1);

  xinput::Run("click 1");
  ASSERT_TRUE(xinput::PumpUntil([&] { return !Own.empty(); }, 3000));
  EXPECT_EQ(Own[0].first, R);
  EXPECT_EQ(Own[0].second, "cmd:\xE4\xB8\xAD");
  EXPECT_TRUE(Global.empty());
  // Without its own handler the global one hears of it (after the double-click time).
  R->OnLinkClick = nullptr;
  xinput::PumpFor(GetDoubleClickTime() + 50);
  C = Centre(Pieces[0]);
  MoveTo(C.x, C.y);
  ASSERT_TRUE(xinput::PumpUntil([&] { return Host->HotLink() == Pieces[0]; }, 3000));
  xinput::Run("click 1");
  ASSERT_TRUE(xinput::PumpUntil([&] { return !Global.empty(); }, 3000));
  EXPECT_EQ(Global[0].first, R);
  EXPECT_EQ(Global[0].second, "cmd:\xE4\xB8\xAD");
  EXPECT_EQ(Own.size(), 1u);
  // Leaving turns both back.
  MoveTo(390, 190);
  ASSERT_TRUE(xinput::PumpUntil([&] { return Host->HotLink() == nullptr; }, 3000));
  EXPECT_EQ(Pieces[0]->State(), hsNormal);
  EXPECT_EQ(Pieces[1]->State(), hsNormal);
}

TEST_F(TRichTextHost, BlinkingRepaintsOnlyItsOwnPieces) {
  uint32_t Tick = 500;
  TCustomRichText::SetTickSource([&] { return Tick; });
  TRichText* R = Add(20, 30, 300, L"steady <blink>blink</blink> steady");
  xinput::PumpFor(50);
  TBaseHyperlink* Blink = R->FirstChild()->Next();
  ASSERT_NE(Blink, nullptr);
  TRect B;
  Blink->GetControlRect(B);
  EXPECT_TRUE(Host->TimerRunning());
  struct {
    uint32_t Tick;
    bool Repaint;
  } Steps[] = {{500, false}, {799, false}, {800, true}, {900, false}, {1200, true}, {1300, false}};
  for (auto& S : Steps) {
    ValidateRect(Wnd(), nullptr);
    Tick = S.Tick;
    EXPECT_TRUE(R->DoAnimate());
    RECT U{};
    bool Any = GetUpdateRect(Wnd(), &U, FALSE);
    EXPECT_EQ(Any, S.Repaint) << S.Tick;
    if (Any) {
      EXPECT_EQ(U.left, B.Left);
      EXPECT_EQ(U.top, B.Top);
      EXPECT_EQ(U.right, B.Right);
      EXPECT_EQ(U.bottom, B.Bottom);
    }
  }
  // The timer serves it with the host's other animations.
  R->SetText(L"no more");
  EXPECT_FALSE(R->HasBlinking());
  EXPECT_FALSE(R->DoAnimate());
}
