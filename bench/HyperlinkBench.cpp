// The element tree against its floors, measured in the same run: sorted insertion against a plain
// sorted-vector insert of the same keys, and a full buffered repaint of a 794 x 471 host with 200
// image elements against the bare alpha-blend calls for the same images (goal: within 1.3x).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "BenchUtil.h"
#include "classlib/Forms.h"
#include "png/PngCodec.h"
#include "toolkit/AlphaGraphics.h"
#include "toolkit/DbgUtils.h"
#include "toolkit/HyperlinkControl.h"
#include "toolkit/ImageCache.h"
#include "toolkit/ShellDragDrop.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"
#include "widgets/UniControls.h"
#include "widgets/UniForms.h"
#include "widgets/UniMenus.h"

namespace {

class TKeyed : public TBaseHyperlink {
 public:
  explicit TKeyed(int Key) : Key(Key) {}
  bool ShouldFollow(TBaseHyperlink* Other) override { return static_cast<TKeyed*>(Other)->Key <= Key; }
  int Key;
};

// Seconds to insert the keys into a tree and into a sorted vector.
void Insertion(const char* Name, const std::vector<int>& Keys, int Repeats) {
  double tree = bench::Best(Repeats, [&] {
    THyperlink parent;
    for (int k : Keys) parent.InsertLink(new TKeyed(k));
    if (parent.ChildCount() != static_cast<int>(Keys.size())) bench::Fail("tree lost elements");
  });
  double vec = bench::Best(Repeats, [&] {
    std::vector<std::unique_ptr<TKeyed>> v;
    for (int k : Keys) {
      auto at = std::upper_bound(v.begin(), v.end(), k, [](int K, const std::unique_ptr<TKeyed>& E) { return K < E->Key; });
      v.insert(at, std::make_unique<TKeyed>(k));
    }
  });
  std::printf("%-28s %8zu %10.4f s %10.4f s %7.2fx\n", Name, Keys.size(), tree, vec, tree / vec);
}

constexpr uint32_t BenchBase = 21;

void Repaint(int Repeats) {
  const int W = 794, H = 471, N = 200, IW = 32, IH = 32;
  ImageCache->RegisterGeneratedImage(BenchBase, IW, IH, [](TCanvas* C, const TRect&, void*) {
    DIBSECTION ds{};
    HDC dc = static_cast<HDC>(C->Handle());
    GetObjectW(GetCurrentObject(dc, OBJ_BITMAP), sizeof ds, &ds);
    GdiFlush();
    auto* bits = static_cast<uint32_t*>(ds.dsBm.bmBits);
    for (int i = 0; i < IW * IH; ++i) {
      uint32_t a = (i % IW) * 255 / IW;
      bits[i] = a << 24 | (a / 2) << 16 | (a / 3) << 8 | a / 4;
    }
  });
  const TImageId id = GeneratedImageId(BenchBase);
  TForm form(nullptr);
  form.SetBounds(0, 0, W + 40, H + 60);
  auto* host = new THyperlinkControl(&form);
  host->SetParent(&form);
  host->SetBounds(0, 0, W, H);
  form.Show();
  host->HandleNeeded();
  auto* box = new THyperlinkContainer(alClient, false, 0);
  host->Root()->InsertLink(box);
  std::vector<TPoint> at;
  std::mt19937 rng(3);
  for (int i = 0; i < N; ++i) {
    auto* b = new TBitmapHyperlink(id, i);
    TPoint p{static_cast<int>(rng() % (W - IW)), static_cast<int>(rng() % (H - IH))};
    b->MoveTo(p);
    box->InsertLink(b);
    at.push_back(p);
  }
  host->Relayout();
  TRect all{0, 0, W, H};
  auto paintRoot = [host](void*, TCanvas* C) { host->PaintTo(C); };
  double full = bench::Best(Repeats, [&] {
    for (int i = 0; i < 20; ++i) host->BufferedPaint(all, nullptr, paintRoot, nullptr);
    GdiFlush();
  });
  // The floor: the same 200 blends into a buffer of the same size, and one copy to the window.
  HWND wnd = static_cast<HWND>(host->Handle());
  HDC wdc = GetDC(wnd);
  HDC mem = CreateCompatibleDC(wdc);
  HBITMAP buf = CreateCompatibleBitmap(wdc, W, H);
  HGDIOBJ oldBuf = SelectObject(mem, buf);
  HDC src = CreateCompatibleDC(wdc);
  HGDIOBJ oldSrc = SelectObject(src, static_cast<HBITMAP>(ImageCache->GetImage(id)->Image));
  double floor = bench::Best(Repeats, [&] {
    for (int i = 0; i < 20; ++i) {
      for (const TPoint& p : at) AlphaDraw(mem, p.X, p.Y, 255, IW, IH, 0, 0, src, IW, IH);
      BitBlt(wdc, 0, 0, W, H, mem, 0, 0, SRCCOPY);
    }
    GdiFlush();
  });
  SelectObject(src, oldSrc);
  DeleteDC(src);
  SelectObject(mem, oldBuf);
  DeleteObject(buf);
  DeleteDC(mem);
  ReleaseDC(wnd, wdc);
  std::printf("%-28s %8d %10.4f s %10.4f s %7.2fx (goal 1.30x)\n", "repaint 794x471, 200 images", 20, full, floor,
              full / floor);
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::atoi(argv[1]) : 5;
  ClasslibInitialize();
  UniSysUtilsInitialize();
  UniSystemInitialize();
  UniFormsInitialize();
  UniMenusInitialize();
  UniControlsInitialize();
  DbgUtilsInitialize();
  AlphaGraphicsInitialize();
  PngCodecInitialize();
  ImageCacheInitialize();
  ShellDragDropInitialize();
  std::printf("%-28s %8s %12s %12s %8s\n", "", "count", "tree", "floor", "ratio");
  std::vector<int> sorted(100000);
  for (int i = 0; i < 100000; ++i) sorted[i] = i;
  Insertion("insert 100000 sorted keys", sorted, repeats);
  std::vector<int> random(20000);
  std::mt19937 rng(11);
  for (int& k : random) k = static_cast<int>(rng() % 1000000);
  Insertion("insert 20000 random keys", random, repeats);
  Repaint(repeats);
  ShellDragDropFinalize();
  ImageCacheFinalize();
  PngCodecFinalize();
  AlphaGraphicsFinalize();
  DbgUtilsFinalize();
  UniControlsFinalize();
  UniMenusFinalize();
  UniFormsFinalize();
  UniSystemFinalize();
  UniSysUtilsFinalize();
  ClasslibFinalize();
  return 0;
}
