// The element tree without a window: ordering, refusals, hit tests, runs freed, glides and the
// animation base interval.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "toolkit/HyperlinkControl.h"

namespace {

int Freed = 0;

// An element with a key; ordered by key when Sorted.
class TKeyed : public THyperlink {
 public:
  TKeyed(int Key, bool Sorted = false) : Key(Key), Sorted(Sorted) {}
  ~TKeyed() override { ++Freed; }
  bool ShouldFollow(TBaseHyperlink* Other) override {
    if (!Sorted) return THyperlink::ShouldFollow(Other);
    auto* o = dynamic_cast<TKeyed*>(Other);
    return o && o->Key <= Key;
  }
  int Key;
  bool Sorted;
};

std::vector<int> Keys(THyperlink& Parent) {
  std::vector<int> out;
  for (TBaseHyperlink* c = Parent.FirstChild(); c; c = c->Next()) out.push_back(static_cast<TKeyed*>(c)->Key);
  return out;
}

// Checks the links both ways and the count.
void ExpectConsistent(THyperlink& Parent) {
  int n = 0;
  TBaseHyperlink* prev = nullptr;
  for (TBaseHyperlink* c = Parent.FirstChild(); c; c = c->Next()) {
    EXPECT_EQ(c->Prev(), prev);
    EXPECT_EQ(c->Parent(), &Parent);
    prev = c;
    ++n;
  }
  EXPECT_EQ(Parent.LastChild(), prev);
  EXPECT_EQ(Parent.ChildCount(), n);
}

std::string AssertText(const std::function<void()>& F) {
  try {
    F();
  } catch (const EAssertionFailed& E) {
    return E.what();
  }
  return "";
}

TRect R(int L, int T, int Rt, int B) { return TRect{L, T, Rt, B}; }

}  // namespace

TEST(HyperlinkTree, DefaultOrderKeepsInsertionAndChainOrder) {
  THyperlink parent;
  parent.InsertLink(new TKeyed(1));
  parent.InsertLink(new TKeyed(2));
  // A chain of three through Next keeps its order.
  auto* a = new TKeyed(3);
  auto* b = new TKeyed(4);
  auto* c = new TKeyed(5);
  a->SetNext(b);
  b->SetNext(c);
  parent.InsertLink(a);
  parent.AddLinks({new TKeyed(6), nullptr, new TKeyed(7)});
  EXPECT_EQ(Keys(parent), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  ExpectConsistent(parent);
  // Inserting a child again does nothing.
  parent.InsertLink(b);
  EXPECT_EQ(Keys(parent), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
}

TEST(HyperlinkTree, SortedOrderThroughTheBisection) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 5; ++trial) {
    THyperlink parent;
    std::vector<int> keys;
    for (int i = 0; i < 200; ++i) keys.push_back(static_cast<int>(rng() % 150));  // duplicates too
    for (int k : keys) parent.InsertLink(new TKeyed(k, true));
    std::vector<int> want = keys;
    std::stable_sort(want.begin(), want.end());
    EXPECT_EQ(Keys(parent), want);
    ExpectConsistent(parent);
    // A chain of 50 more at once: the hint path of the search.
    std::vector<int> more;
    TKeyed* first = nullptr;
    TKeyed* last = nullptr;
    for (int i = 0; i < 50; ++i) {
      int k = static_cast<int>(rng() % 150);
      more.push_back(k);
      auto* e = new TKeyed(k, true);
      if (last)
        last->SetNext(e);
      else
        first = e;
      last = e;
    }
    parent.InsertLink(first);
    want.insert(want.end(), more.begin(), more.end());
    std::stable_sort(want.begin(), want.end());
    EXPECT_EQ(Keys(parent), want);
    ExpectConsistent(parent);
  }
}

TEST(HyperlinkTree, RefusalsNameTheBrokenCondition) {
  THyperlink a, b;
  auto* child = new TKeyed(1);
  a.InsertLink(child);
  struct TCase {
    const char* Name;
    std::function<void()> Call;
    const char* Text;
  };
  // An element that inserts another into its new parent while it is being inserted.
  class TReentrant : public TKeyed {
   public:
    using TKeyed::TKeyed;
    void UpdateOrderKey() override { Target->InsertLink(Nested); }
    THyperlink* Target = nullptr;
    TKeyed* Nested = nullptr;
  };
  THyperlink rec;
  std::unique_ptr<TKeyed> nested(new TKeyed(9));
  TKeyed* stray = new TKeyed(11);
  b.InsertLink(stray);
  std::vector<TCase> cases = {
      {"nil link", [&] { a.InsertLink(nullptr); }, "Assertion failure"},
      {"foreign parent", [&] { b.InsertLink(child); }, "NewLink.fParent = nil"},
      {"removal by a stranger", [&] { a.RemoveLink(stray); }, "Link.fParent = Self"},
      {"run with a nil end", [&] { a.FreeLinks(child, nullptr, false); }, "(FromLink <> nil) and (ToLink <> nil)"},
      {"run not a child", [&] { a.FreeLinks(stray, child, false); }, "FromLink.fParent = Self"},
  };
  for (auto& c : cases) {
    std::string text = AssertText(c.Call);
    EXPECT_EQ(text.rfind(c.Text, 0), 0u) << c.Name << ": " << text;
  }
  // The recursive insertion: re-sorting the new element inserts another meanwhile.
  auto* outer = new TReentrant(12);
  outer->Target = &rec;
  outer->Nested = nested.get();
  outer->SetFlag(lfResortPending, true);
  std::string text = AssertText([&] { rec.InsertLink(outer); });
  EXPECT_EQ(text.rfind("Illegal recursive insertion", 0), 0u) << text;
  EXPECT_EQ(nested->Parent(), nullptr);
  EXPECT_FALSE(rec.Flag(lfInsertRemove));
  if (outer->Parent()) rec.RemoveLink(outer);
  delete outer;
  // A run whose end comes before its start is not contiguous.
  auto* second = new TKeyed(2);
  a.InsertLink(second);
  text = AssertText([&] { a.FreeLinks(second, child, false); });
  EXPECT_EQ(text.rfind("L = ToLink", 0), 0u) << text;
  ExpectConsistent(a);
}

TEST(HyperlinkTree, HitTestsTopmostFirst) {
  THyperlink parent;
  parent.SetBoundsRect(R(0, 0, 100, 100));
  auto* under = new TKeyed(1);
  under->SetBoundsRect(R(0, 0, 50, 50));
  auto* over = new TKeyed(2);
  over->SetBoundsRect(R(25, 25, 75, 75));
  auto* hidden = new TKeyed(3);
  hidden->SetBoundsRect(R(0, 0, 100, 100));
  parent.AddLinks({under, over, hidden});
  hidden->SetVisible(false);
  struct {
    TPoint P;
    bool Clip;
    TBaseHyperlink* Want;
  } cases[] = {
      {{30, 30}, true, over},      // overlap: the later one
      {{10, 10}, true, under},     // only the first
      {{50, 50}, true, over},      // right and bottom edge of `under` excluded
      {{49, 49}, true, over},
      {{80, 80}, true, nullptr},   // only the hidden one
      {{100, 10}, true, nullptr},  // outside the parent's client area
      {{-1, 10}, false, nullptr},
  };
  for (auto& c : cases)
    EXPECT_EQ(parent.LinkAtPoint(c.P, c.Clip), c.Want) << c.P.X << "," << c.P.Y;
}

TEST(HyperlinkTree, RunsOfElementsFreedWithoutAHost) {
  for (int run : {1, 1000, 1001}) {
    THyperlink parent;
    auto* before = new TKeyed(-1);
    parent.InsertLink(before);
    std::vector<TKeyed*> links;
    for (int i = 0; i < run; ++i) {
      links.push_back(new TKeyed(i));
      parent.InsertLink(links.back());
    }
    auto* after = new TKeyed(-2);
    parent.InsertLink(after);
    Freed = 0;
    parent.FreeLinks(links.front(), links.back(), true);
    EXPECT_EQ(Freed, run) << run;  // no host: freed at once whatever the length
    EXPECT_EQ(Keys(parent), (std::vector<int>{-1, -2}));
    EXPECT_EQ(after->Prev(), before);
    ExpectConsistent(parent);
  }
  // Without FreeThem the run is detached, cut off at both ends and kept.
  THyperlink parent;
  auto* a = new TKeyed(1);
  auto* b = new TKeyed(2);
  auto* c = new TKeyed(3);
  parent.AddLinks({a, b, c});
  parent.FreeLinks(a, b, false);
  EXPECT_EQ(a->Parent(), nullptr);
  EXPECT_EQ(a->Prev(), nullptr);
  EXPECT_EQ(b->Next(), nullptr);
  EXPECT_EQ(Keys(parent), (std::vector<int>{3}));
  delete a;
  delete b;
}

TEST(HyperlinkTree, GlideEndsExactlyOnItsTarget) {
  // 0 -> 100 along X: a fifth of the rest while 10 or more, then 2 pixels, then the snap.
  float x = 0, y = 0;
  std::vector<float> xs;
  for (int i = 0; i < 30 && !(x == 100 && y == 0); ++i) {
    GlideStep(x, y, 100, 0);
    xs.push_back(x);
  }
  std::vector<float> want = {20, 36, 48.8f, 59.04f, 67.232f, 73.7856f, 79.0285f, 83.2228f, 86.5782f, 89.2626f,
                             91.4101f, 93.4101f, 95.4101f, 97.4101f, 99.4101f, 100};
  ASSERT_EQ(xs.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(xs[i], want[i], 0.01) << i;

  // The element's bounds follow the rounded corners and end on the target (move, resize, diagonal).
  struct {
    TRect From, To;
  } cases[] = {
      {R(0, 0, 10, 10), R(100, 0, 110, 10)},
      {R(0, 0, 10, 10), R(0, 0, 73, 41)},
      {R(5, 7, 25, 17), R(-140, 93, -100, 100)},
      {R(0, 0, 10, 10), R(3, 1, 13, 11)},
  };
  for (auto& c : cases) {
    TAnimatedHyperlink e;
    e.SetBoundsRect(c.From);
    e.GlideTo(c.To);
    int ticks = 0;
    while (e.AnimationStep() && ticks < 200) ++ticks;
    EXPECT_LT(ticks, 200);
    EXPECT_FALSE(e.IsGliding());
    TRect b = e.BoundsRect();
    EXPECT_TRUE(b.Left == c.To.Left && b.Top == c.To.Top && b.Right == c.To.Right && b.Bottom == c.To.Bottom)
        << b.Left << "," << b.Top << "," << b.Right << "," << b.Bottom;
  }
  // Setting the bounds drops a pending glide.
  TAnimatedHyperlink e;
  e.GlideTo(R(50, 50, 60, 60));
  e.SetBoundsRect(R(1, 1, 2, 2));
  EXPECT_FALSE(e.IsGliding());
}

TEST(HyperlinkTree, AnimationBaseInterval) {
  struct {
    std::vector<int> Intervals;
    int Base;
  } cases[] = {
      {{100, 250}, 50}, {{30, 45}, 10}, {{1000}, 1000}, {{2000}, 1000}, {{100}, 100},
      {{100, 100, 300}, 100}, {{5}, 10}, {{15, 20}, 10}, {{}, 1000},
  };
  for (auto& c : cases) {
    EXPECT_EQ(THyperlinkControl::ComputeBaseInterval(c.Intervals), c.Base);
  }
}

TEST(HyperlinkTree, ContainersStandTopClientBottomAndNewEqualsInFront) {
  THyperlink parent;
  auto* client = new THyperlinkContainer(alClient, false, 0);
  auto* top1 = new THyperlinkContainer(alTop, false, 10);
  auto* bottom = new THyperlinkContainer(alBottom, false, 20);
  auto* top2 = new THyperlinkContainer(alTop, false, 30);
  auto* topLate = new THyperlinkContainer(alTop, false, 5);
  topLate->SetSortOrder(1);
  auto* bottomEarly = new THyperlinkContainer(alBottom, false, 7);
  bottomEarly->SetSortOrder(-1);
  parent.AddLinks({client, top1, bottom, top2, topLate, bottomEarly});
  std::vector<TBaseHyperlink*> order;
  for (TBaseHyperlink* c = parent.FirstChild(); c; c = c->Next()) order.push_back(c);
  // Equal kind and order: the later insertion stands in front.
  std::vector<TBaseHyperlink*> want = {top2, top1, topLate, client, bottomEarly, bottom};
  EXPECT_EQ(order, want);
}
