// The rich-text element against its floor, measured in the same run: laying out and painting a
// 20,000-character rich text of mixed Chinese and Latin runs (bold, links, colours, breaks) in a
// 600-pixel-wide element, against the bare calls for the same runs: one GetTextExtentExPointW
// over each run and one ExtTextOutW for each piece shown (goal: within 2x).
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "BenchUtil.h"
#include "classlib/Forms.h"
#include "toolkit/AlphaGraphics.h"
#include "toolkit/DbgUtils.h"
#include "toolkit/RichText.h"
#include "toolkit/Surface.h"
#include "toolkit/TextStyles.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"

namespace {

// Mark-up of about Chars visible characters.
std::wstring MakeMarkup(int Chars) {
  std::mt19937 Rng(7);
  std::wstring M;
  int Shown = 0;
  while (Shown < Chars) {
    std::wstring Run;
    if (Rng() % 2) {
      int N = 4 + static_cast<int>(Rng() % 30);
      for (int I = 0; I < N; ++I) Run += static_cast<wchar_t>(0x4E00 + Rng() % 0x5000);
    } else {
      int Words = 2 + static_cast<int>(Rng() % 8);
      for (int W = 0; W < Words; ++W) {
        int N = 1 + static_cast<int>(Rng() % 9);
        for (int I = 0; I < N; ++I) Run += static_cast<wchar_t>(L'a' + Rng() % 26);
        Run += L' ';
      }
    }
    Shown += static_cast<int>(Run.size());
    switch (Rng() % 6) {
      case 0: M += L"<b>" + Run + L"</b>"; break;
      case 1: M += L"<a href=\"kvplug?url:x\">" + Run + L"</a>"; break;
      case 2: M += L"<font color=\"#336699\">" + Run + L"</font>"; break;
      case 3: M += Run + L"<br/>"; break;
      default: M += Run;
    }
  }
  return M;
}

}  // namespace

int main(int argc, char** argv) {
  const int Repeats = argc > 1 ? std::atoi(argv[1]) : 5;
  ClasslibInitialize();
  UniSysUtilsInitialize();
  UniSystemInitialize();
  DbgUtilsInitialize();
  AlphaGraphicsInitialize();
  TextStylesInitialize();
  {
    const int Width = 600;
    std::wstring Markup = MakeMarkup(20000);
    TRichText R(false, true, false);
    R.SetBoundsRect(TRect{0, 0, Width, 0});
    R.SetText(Markup);
    const int Height = R.GetHeight();
    // One buffer for both: a 32-bit DIB as tall as the text.
    Surface Buffer(Width, Height);
    HDC DC = Buffer.Dc();
    int Pieces = 0;
    size_t Chars = 0;
    for (int I = 0; I < R.ItemCount(); ++I)
      if (auto* T = dynamic_cast<TTextRichTextItem*>(R.Item(I))) Chars += T->Text().size();
    double Element = bench::Best(Repeats, [&] {
      R.Relayout();
      R.Paint(&Buffer.Canvas);
      GdiFlush();
    });
    // The floor: the same runs measured whole and the same pieces drawn, fonts selected per run.
    struct TRun {
      const wchar_t* Text;
      int Length;
      HGDIOBJ Font;
    };
    struct TDraw {
      const wchar_t* Text;
      int Length, X, Y;
      HGDIOBJ Font;
      COLORREF Color;
    };
    std::vector<TRun> Runs;
    std::vector<TDraw> Draws;
    for (int I = 0; I < R.ItemCount(); ++I) {
      auto* T = dynamic_cast<TTextRichTextItem*>(R.Item(I));
      if (!T) continue;
      const WideString& S = T->Text();
      size_t From = 0;
      while (From < S.size()) {
        size_t To = S.find_first_of(L"\r\n", From);
        if (To == WideString::npos) To = S.size();
        if (To > From) Runs.push_back(TRun{S.data() + From, static_cast<int>(To - From), T->StateFont(T->LinkState(0))->Handle()});
        From = To + 1;
      }
    }
    for (TBaseHyperlink* C = R.FirstChild(); C; C = C->Next())
      if (auto* P = dynamic_cast<TRTTextBaseHyperlink*>(C)) {
        TFont* F = P->Item()->StateFont(P->Item()->LinkState(P->State()));
        Draws.push_back(TDraw{P->Item()->Text().data() + P->First(), P->Length(), C->BoundsRect().Left,
                              C->BoundsRect().Top, F->Handle(), static_cast<COLORREF>(ColorToRGB(F->Color()))});
        ++Pieces;
      }
    std::vector<int> Dx(20000);
    HDC Measure = CreateCompatibleDC(nullptr);
    double Floor = bench::Best(Repeats, [&] {
      for (const TRun& Run : Runs) {
        HGDIOBJ Old = SelectObject(Measure, Run.Font);
        SIZE Sz;
        GetTextExtentExPointW(Measure, Run.Text, Run.Length, 0, nullptr, Dx.data(), &Sz);
        SelectObject(Measure, Old);
      }
      SetBkMode(DC, TRANSPARENT);
      for (const TDraw& D : Draws) {
        HGDIOBJ Old = SelectObject(DC, D.Font);
        SetTextColor(DC, D.Color);
        ExtTextOutW(DC, D.X, D.Y, 0, nullptr, D.Text, static_cast<UINT>(D.Length), nullptr);
        SelectObject(DC, Old);
      }
      GdiFlush();
    });
    DeleteDC(Measure);
    std::printf("%-34s %8s %8s %12s %12s %8s\n", "", "chars", "pieces", "element", "floor", "ratio");
    std::printf("%-34s %8zu %8d %10.4f s %10.4f s %7.2fx (goal 2.00x)\n", "layout and paint, 600 px wide",
                Chars, Pieces, Element, Floor, Element / Floor);
    std::printf("%d rows, %d x %d pixels\n", R.RowCount(), Width, Height);
  }
  TextStylesFinalize();
  AlphaGraphicsFinalize();
  DbgUtilsFinalize();
  UniSystemFinalize();
  UniSysUtilsFinalize();
  ClasslibFinalize();
  return 0;
}
