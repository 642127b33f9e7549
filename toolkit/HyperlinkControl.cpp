// The element tree, its kinds and the host window.
#include "toolkit/HyperlinkControl.h"

#include <algorithm>
#include <cmath>

#include "classlib/Forms.h"
#include "classlib/WinApi.h"
#include "toolkit/AlphaGraphics.h"
#include "toolkit/DbgUtils.h"
#include "toolkit/ImageCache.h"
#include "widgets/UniControls.h"

namespace {

// The unit's texts.
struct {
  const char* NilLink = "Assertion failure";
  const char* ForeignParent = "NewLink.fParent = nil";
  const char* NotAccepted = "AcceptsLink(NewLink)";
  const char* RecursiveInsertion = "Illegal recursive insertion";
  const char* NotParent = "Link.fParent = Self";
  const char* RecursiveRemoval = "Illegal recursive removal";
  const char* NilRun = "(FromLink <> nil) and (ToLink <> nil)";
  const char* FromNotChild = "FromLink.fParent = Self";
  const char* ToNotChild = "ToLink.fParent = Self";
  const char* RunBroken = "L = ToLink";
  const char* IndexNil = "LinkByIndex(%d, %s, %d) = nil";
  const char* DestroyInInsert = "Element destroyed during an insertion or removal";
  const char* NotUiThread = "GetCurrentThreadId = MainThreadID";
  const char* NoHost = "GetControl <> nil";
  const char* InvertedPaint = "THyperlinkControl.BufferedPaint: called with inverted coordinates";
  const char* BadTranslucency = "Unexpected value for BackgroundTranslucency property";
  const char* PaintCopyLog = "%s: PaintCopy";
  const char* ApplyTextsTiming = "%s.ApplyTexts";
} const Msg;

constexpr int AsyncFreeThreshold = 1001;
constexpr UINT_PTR AnimationTimerId = 1;

bool IsEmpty(const TRect& R) { return R.Right <= R.Left || R.Bottom <= R.Top; }
bool Intersect(TRect& Dst, const TRect& A, const TRect& B) {
  Dst.Left = std::max(A.Left, B.Left);
  Dst.Top = std::max(A.Top, B.Top);
  Dst.Right = std::min(A.Right, B.Right);
  Dst.Bottom = std::min(A.Bottom, B.Bottom);
  if (IsEmpty(Dst)) {
    Dst = TRect{};
    return false;
  }
  return true;
}
void Union(TRect& Dst, const TRect& R) {
  if (IsEmpty(R)) return;
  if (IsEmpty(Dst)) {
    Dst = R;
    return;
  }
  Dst.Left = std::min(Dst.Left, R.Left);
  Dst.Top = std::min(Dst.Top, R.Top);
  Dst.Right = std::max(Dst.Right, R.Right);
  Dst.Bottom = std::max(Dst.Bottom, R.Bottom);
}
bool SameRect(const TRect& A, const TRect& B) {
  return A.Left == B.Left && A.Top == B.Top && A.Right == B.Right && A.Bottom == B.Bottom;
}
TRect Offset(const TRect& R, int DX, int DY) { return TRect{R.Left + DX, R.Top + DY, R.Right + DX, R.Bottom + DY}; }
bool InRect(const TRect& R, TPoint P) { return P.X >= R.Left && P.X < R.Right && P.Y >= R.Top && P.Y < R.Bottom; }
RECT ToRECT(const TRect& R) { return RECT{R.Left, R.Top, R.Right, R.Bottom}; }
HDC DCOf(TCanvas* Canvas) { return static_cast<HDC>(Canvas->Handle()); }

void RequireUiThread() {
  if (GetCurrentThreadId() != MainThreadID) AssertFailed(Msg.NotUiThread, __FILE__, __LINE__);
}

// Sets a flag for the lifetime of the guard.
class TFlagGuard {
 public:
  TFlagGuard(TBaseHyperlink* Link, int Bit) : FLink(Link), FBit(Bit) { FLink->SetFlag(FBit, true); }
  ~TFlagGuard() { FLink->SetFlag(FBit, false); }

 private:
  TBaseHyperlink* FLink;
  int FBit;
};

// A canvas over a device context that it does not own.
class TDCCanvas : public TCanvas {
 public:
  explicit TDCCanvas(HDC DC) { SetHandle(DC); }
  ~TDCCanvas() override { SetHandle(nullptr); }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// TBaseHyperlink

TBaseHyperlink::TBaseHyperlink() = default;

TBaseHyperlink::~TBaseHyperlink() {
  if (Flag(lfInsertRemove)) Log(ClassName(), Msg.DestroyInInsert);
  if (fParent) fParent->RemoveLink(this);
}

void TBaseHyperlink::SetFlag(int Bit, bool On) {
  if (On)
    fFlags.fetch_or(1u << Bit);
  else
    fFlags.fetch_and(~(1u << Bit));
}

void TBaseHyperlink::SetBoundsRect(const TRect& R) {
  if (SameRect(R, fBoundsRect)) return;
  if (!InvalidateOnBoundsChange()) {
    fBoundsRect = R;
  } else {
    Invalidate();
    fBoundsRect = R;
    Invalidate();
  }
  if (THyperlinkControl* host = GetControl()) host->RequestHoverUpdate();
}

void TBaseHyperlink::SetVisible(bool V) {
  if (IsVisible() == V) return;
  if (IsVisible() && InvalidateOnBoundsChange()) Invalidate();
  SetFlag(lfVisible, V);
  if (V) Realign();
  VisibilityChanged();
  if (THyperlinkControl* host = GetControl()) host->LinkVisibilityChanged(this);
  if (V && InvalidateOnBoundsChange()) Invalidate();
}

void TBaseHyperlink::GetSize(TPoint& Size) { Size = TPoint{GetWidth(), GetHeight()}; }

bool TBaseHyperlink::HitTest(TPoint P) { return IsVisible() && InRect(fBoundsRect, P); }

THyperlinkControl* TBaseHyperlink::GetControl() { return fParent ? fParent->GetControl() : nullptr; }

void TBaseHyperlink::Reposition() {
  SetFlag(lfResortPending, false);
  UpdateOrderKey();
  if (!fParent) return;
  if ((fPrev && !ShouldFollow(fPrev)) || (fNext && ShouldFollow(fNext))) {
    THyperlink* parent = fParent;
    parent->RemoveLink(this);
    parent->InsertLink(this);
  }
}

void TBaseHyperlink::Attached() {
  if (!GetControl()) AssertFailed(Msg.NoHost, __FILE__, __LINE__);
  RequireUiThread();
}

void TBaseHyperlink::Detached() {
  if (THyperlinkControl* host = GetControl()) host->ForgetLink(this);
}

void TBaseHyperlink::Invalidate() {
  if (!IsVisible() || !IsAttached()) return;
  TRect r;
  GetVisibleRect(r);
  if (IsEmpty(r)) return;
  RECT wr = ToRECT(r);
  InvalidateRect(static_cast<HWND>(GetControl()->Handle()), &wr, FALSE);
}

void TBaseHyperlink::GetClientOrigin(TPoint& P) { P = TPoint{fBoundsRect.Left, fBoundsRect.Top}; }

void TBaseHyperlink::ClientToControl(TPoint& P) {
  for (TBaseHyperlink* e = this; e; e = e->fParent) {
    TPoint o;
    e->GetClientOrigin(o);
    P.X += o.X;
    P.Y += o.Y;
  }
}

bool TBaseHyperlink::IsReallyVisible() {
  if (!GetControl()) return false;
  for (TBaseHyperlink* e = this; e; e = e->fParent)
    if (!e->IsVisible()) return false;
  return true;
}

bool TBaseHyperlink::IsAttached() {
  THyperlinkControl* host = GetControl();
  return host && host->HandleAllocated();
}

void TBaseHyperlink::MoveTo(TPoint P) {
  SetBoundsRect(TRect{P.X, P.Y, P.X + GetWidth(), P.Y + GetHeight()});
}
void TBaseHyperlink::SetLeft(int Value) { MoveTo(TPoint{Value, fBoundsRect.Top}); }
void TBaseHyperlink::SetTop(int Value) { MoveTo(TPoint{fBoundsRect.Left, Value}); }
void TBaseHyperlink::SetWidth(int Value) {
  TRect r = fBoundsRect;
  r.Right = r.Left + Value;
  SetBoundsRect(r);
}
void TBaseHyperlink::SetBoundsHeight(int Value) {
  TRect r = fBoundsRect;
  r.Bottom = r.Top + Value;
  SetBoundsRect(r);
}

void TBaseHyperlink::GetControlRect(TRect& R) {
  TPoint o{0, 0};
  if (fParent) fParent->ClientToControl(o);
  R = Offset(fBoundsRect, o.X, o.Y);
}

void TBaseHyperlink::GetVisibleRect(TRect& R) {
  GetControlRect(R);
  for (TBaseHyperlink* a = fParent; a; a = a->fParent) {
    TRect ar;
    a->GetControlRect(ar);
    if (!Intersect(R, R, ar)) return;
  }
}

// ---------------------------------------------------------------------------------------------
// THyperlink

THyperlink::~THyperlink() {
  ClearLinks();
}

void THyperlink::ClearLinks() {
  THyperlinkControl* host = GetControl();
  bool detach = host && !host->Destroying();
  while (TBaseHyperlink* child = fFirstChild) {
    if (detach) child->Detached();
    fFirstChild = child->fNext;
    child->fParent = nullptr;
    child->fNext = child->fPrev = nullptr;
    --fChildCount;
    if (fFirstChild)
      fFirstChild->fPrev = nullptr;
    else
      fLastChild = nullptr;
    delete child;
  }
}

bool THyperlink::HitTest(TPoint P) { return InRect(fBoundsRect, P); }

void THyperlink::VisibilityChanged() {
  for (TBaseHyperlink* c = fFirstChild; c; c = c->fNext) c->VisibilityChanged();
}

void THyperlink::Attached() {
  TBaseHyperlink::Attached();
  for (TBaseHyperlink* c = fFirstChild; c; c = c->fNext) c->Attached();
}

void THyperlink::Detached() {
  TBaseHyperlink::Detached();
  for (TBaseHyperlink* c = fFirstChild; c; c = c->fNext) c->Detached();
}

void THyperlink::Paint(TCanvas* Canvas) {
  if (!fFirstChild) return;
  HDC dc = DCOf(Canvas);
  TPoint o;
  GetClientOrigin(o);
  POINT old;
  GetWindowOrgEx(dc, &old);
  SetWindowOrgEx(dc, old.x - o.X, old.y - o.Y, nullptr);
  try {
    PaintChildren(Canvas, fFirstChild, nullptr);
  } catch (...) {
    SetWindowOrgEx(dc, old.x, old.y, nullptr);
    throw;
  }
  SetWindowOrgEx(dc, old.x, old.y, nullptr);
}

void THyperlink::PaintChildren(TCanvas* Canvas, TBaseHyperlink* FirstChild, TBaseHyperlink* StopAt) {
  HDC dc = DCOf(Canvas);
  // The element's rectangle in the canvas's current (client) coordinates.
  TPoint o;
  GetClientOrigin(o);
  TRect own = Offset(fBoundsRect, -o.X, -o.Y);
  HRGN saved = nullptr;
  bool clip = Flag(lfClipChildren);
  if (clip) {
    saved = CreateRectRgn(0, 0, 0, 0);
    if (GetClipRgn(dc, saved) != 1) {
      DeleteObject(saved);
      saved = nullptr;
    }
    if (IntersectClipRect(dc, own.Left, own.Top, own.Right, own.Bottom) == NULLREGION) {
      SelectClipRgn(dc, saved);
      if (saved) DeleteObject(saved);
      return;
    }
  }
  RECT box;
  GetClipBox(dc, &box);
  TRect clipBox{box.left, box.top, box.right, box.bottom};
  TRect cut;
  if (Intersect(cut, own, clipBox)) {
    for (TBaseHyperlink* c = FirstChild; c && c != StopAt; c = c->fNext)
      if (c->IsVisible() && Intersect(cut, c->fBoundsRect, clipBox)) c->Paint(Canvas);
  }
  if (clip) {
    SelectClipRgn(dc, saved);
    if (saved) DeleteObject(saved);
  }
}

void THyperlink::Realign() {
  if (!IsVisible() || !IsAttached()) return;
  for (TBaseHyperlink* c = fFirstChild; c; c = c->fNext)
    if (c->IsVisible()) c->Realign();
}

void THyperlink::SetEnabled(bool Value) {
  if (IsEnabled() == Value) return;
  SetFlag(lfEnabled, Value);
  if (IsVisible() && IsAttached()) {
    GetControl()->RequestHoverUpdate();
    Invalidate();
  }
}

bool THyperlink::IsFocused() {
  THyperlinkControl* host = GetControl();
  return host && host->FocusedLink() == this;
}

void THyperlink::Changed() {
  if (THyperlinkControl* host = GetControl()) host->LinkStateChanged(this);
  Invalidate();
}

void THyperlink::ApplyTexts() {
  for (TBaseHyperlink* c = fFirstChild; c; c = c->fNext)
    if (auto* h = dynamic_cast<THyperlink*>(c)) h->ApplyTexts();
}

void THyperlink::LinkClicked(THyperlink* Link) {
  if (fParent) fParent->LinkClicked(Link);
}

void THyperlink::SetState(uint8_t Value) {
  if (fState == Value) return;
  fState = Value;
  Changed();
}

void THyperlink::SetHint(const WideString& Value) {
  if (fHint == Value) return;
  fHint = Value;
  THyperlinkControl* host = GetControl();
  if (host && host->HoverLink() == this) host->RequestHoverUpdate();
}

void THyperlink::DrawFocusRect(TCanvas* Canvas) {
  if (!IsFocused() || GetControl()->KeyboardCuesHidden()) return;
  HDC dc = DCOf(Canvas);
  SetBkColor(dc, RGB(255, 255, 255));
  SetTextColor(dc, RGB(0, 0, 0));
  RECT r = ToRECT(fBoundsRect);
  ::DrawFocusRect(dc, &r);
}

TBaseHyperlink* THyperlink::LinkByIndex(int Index, TBaseHyperlink* Hint, int HintIndex) {
  if (Index < 0 || Index >= fChildCount) return nullptr;
  // From the nearest of the first child, the last child and the hint.
  TBaseHyperlink* at = fFirstChild;
  int atIndex = 0;
  int best = Index;
  if (fChildCount - 1 - Index < best) {
    at = fLastChild;
    atIndex = fChildCount - 1;
    best = fChildCount - 1 - Index;
  }
  if (Hint && Hint->fParent == this && HintIndex >= 0 && std::abs(HintIndex - Index) < best) {
    at = Hint;
    atIndex = HintIndex;
  }
  while (at && atIndex < Index) {
    at = at->fNext;
    ++atIndex;
  }
  while (at && atIndex > Index) {
    at = at->fPrev;
    --atIndex;
  }
  return at;
}

int THyperlink::ChainLength(TBaseHyperlink* Link) {
  if (!Link) return -1;
  int n = 0;
  for (TBaseHyperlink* p = Link->fPrev; p; p = p->fPrev) ++n;
  return n;
}

void THyperlink::InsertLink(TBaseHyperlink* Link) {
  if (!Link) AssertFailed(Msg.NilLink, __FILE__, __LINE__);
  if (Link->fParent == this) return;
  if (Link->fParent) AssertFailed(Msg.ForeignParent, __FILE__, __LINE__);
  if (!AcceptsLink(Link)) AssertFailed(Msg.NotAccepted, __FILE__, __LINE__);
  if (Flag(lfInsertRemove)) AssertFailed(Msg.RecursiveInsertion, __FILE__, __LINE__);
  TFlagGuard busy(this, lfInsertRemove);
  THyperlinkControl* host = GetControl();
  // Counting the children once; the search hint is the element inserted before (at first the
  // first child).
  int& count = fChildCount;
  TBaseHyperlink* hint = fFirstChild;
  int hintIndex = 0;
  while (Link) {
    TBaseHyperlink* next = Link->fNext;
    Link->fNext = Link->fPrev = nullptr;
    if (Link->Flag(lfResortPending)) {
      Link->SetFlag(lfResortPending, false);
      Link->UpdateOrderKey();
    }
    if (hint && hint != fFirstChild && !Link->ShouldFollow(hint)) {
      hint = fFirstChild;
      hintIndex = 0;
    }
    Link->fParent = this;
    int index;  // where Link ends up
    if (!fFirstChild) {
      fFirstChild = fLastChild = Link;
      index = 0;
    } else if (Link->ShouldFollow(fLastChild)) {
      Link->fPrev = fLastChild;
      fLastChild->fNext = Link;
      fLastChild = Link;
      index = count;
    } else if (Link->ShouldFollow(fFirstChild)) {
      // Bisection between the hint (followed) and the last child (not followed).
      int low = hintIndex, high = count - 1;
      TBaseHyperlink* lowLink = hint;
      TBaseHyperlink* at = hint;  // the last element fetched, the walk's starting point
      int atIndex = hintIndex;
      while (high - low > 1) {
        int mid = (low + high) / 2;
        if (mid == low) ++mid;
        if (mid == high) --mid;
        TBaseHyperlink* m = LinkByIndex(mid, at, atIndex);
        if (!m)
          AssertFailed(Format(Msg.IndexNil, mid, PtrToStr(at).c_str(), atIndex).c_str(), __FILE__, __LINE__);
        at = m;
        atIndex = mid;
        if (Link->ShouldFollow(m)) {
          low = mid;
          lowLink = m;
        } else {
          high = mid;
        }
      }
      Link->fPrev = lowLink;
      Link->fNext = lowLink->fNext;
      lowLink->fNext->fPrev = Link;
      lowLink->fNext = Link;
      index = low + 1;
    } else {
      Link->fNext = fFirstChild;
      fFirstChild->fPrev = Link;
      fFirstChild = Link;
      index = 0;
    }
    ++count;
    hint = Link;
    hintIndex = index;
    if (host) Link->Attached();
    Link = next;
  }
}

void THyperlink::AddLinks(std::initializer_list<TBaseHyperlink*> Links) {
  for (TBaseHyperlink* l : Links)
    if (l) InsertLink(l);
}

void THyperlink::RemoveLinks(std::initializer_list<TBaseHyperlink*> Links) {
  for (TBaseHyperlink* l : Links)
    if (l) RemoveLink(l);
}

void THyperlink::RemoveLink(TBaseHyperlink* Link) {
  if (!Link || !Link->fParent) return;
  if (Link->fParent != this) AssertFailed(Msg.NotParent, __FILE__, __LINE__);
  if (Flag(lfInsertRemove)) AssertFailed(Msg.RecursiveRemoval, __FILE__, __LINE__);
  TFlagGuard busy(this, lfInsertRemove);
  THyperlinkControl* host = GetControl();
  if (host && !host->Destroying()) Link->Detached();
  if (Link->fPrev)
    Link->fPrev->fNext = Link->fNext;
  else
    fFirstChild = Link->fNext;
  if (Link->fNext)
    Link->fNext->fPrev = Link->fPrev;
  else
    fLastChild = Link->fPrev;
  --fChildCount;
  Link->fNext = Link->fPrev = nullptr;
  Link->fParent = nullptr;
  if (auto* h = dynamic_cast<THyperlink*>(Link)) h->fState = hsNormal;
}

void THyperlink::FreeLinks(TBaseHyperlink* FromLink, TBaseHyperlink* ToLink, bool FreeThem) {
  if (!FromLink || !ToLink) AssertFailed(Msg.NilRun, __FILE__, __LINE__);
  if (FromLink->fParent != this) AssertFailed(Msg.FromNotChild, __FILE__, __LINE__);
  if (ToLink->fParent != this) AssertFailed(Msg.ToNotChild, __FILE__, __LINE__);
  int count = 1;
  TBaseHyperlink* l = FromLink;
  while (l && l != ToLink) {
    l = l->fNext;
    ++count;
  }
  if (l != ToLink) AssertFailed(Msg.RunBroken, __FILE__, __LINE__);
  THyperlinkControl* host = GetControl();
  {
    TFlagGuard busy(this, lfInsertRemove);
    bool detach = host && !host->Destroying();
    for (TBaseHyperlink* e = FromLink;; e = e->fNext) {
      if (detach) e->Detached();
      e->fParent = nullptr;
      if (auto* h = dynamic_cast<THyperlink*>(e)) h->fState = hsNormal;
      if (e == ToLink) break;
    }
    // The run leaves the list before it goes anywhere: its ends point nowhere, so that freeing it
    // (here or on the link-free thread) stops at ToLink.
    if (FromLink->fPrev)
      FromLink->fPrev->fNext = ToLink->fNext;
    else
      fFirstChild = ToLink->fNext;
    if (ToLink->fNext)
      ToLink->fNext->fPrev = FromLink->fPrev;
    else
      fLastChild = FromLink->fPrev;
    FromLink->fPrev = nullptr;
    ToLink->fNext = nullptr;
    fChildCount -= count;
  }
  if (!FreeThem) return;
  if (count >= AsyncFreeThreshold && host) {
    host->FreeLinksAsync(FromLink);
    return;
  }
  for (TBaseHyperlink* e = FromLink; e;) {
    TBaseHyperlink* next = e->fNext;
    e->fNext = e->fPrev = nullptr;
    delete e;
    e = next;
  }
}

TBaseHyperlink* THyperlink::LinkAtPoint(TPoint P, bool ClipToClient) {
  if (ClipToClient) {
    TPoint o;
    GetClientOrigin(o);
    if (!InRect(Offset(fBoundsRect, -o.X, -o.Y), P)) return nullptr;
  }
  for (TBaseHyperlink* c = fLastChild; c; c = c->fPrev)
    if (c->IsVisible() && c->HitTest(P)) return c;
  return nullptr;
}

void THyperlink::RepaintNow(const TRect* R) {
  if (!IsAttached()) return;
  TRect r;
  if (R)
    r = *R;
  else
    GetControlRect(r);
  TRect visible;
  GetVisibleRect(visible);
  if (!Intersect(r, r, visible)) return;
  TPoint o{0, 0};
  if (fParent) fParent->ClientToControl(o);
  GetControl()->BufferedPaint(
      r, nullptr,
      [this, o](void*, TCanvas* Canvas) {
        HDC dc = DCOf(Canvas);
        POINT old;
        GetWindowOrgEx(dc, &old);
        SetWindowOrgEx(dc, old.x - o.X, old.y - o.Y, nullptr);
        Paint(Canvas);
        SetWindowOrgEx(dc, old.x, old.y, nullptr);
      },
      nullptr);
}

void VisitLinks(TBaseHyperlink* Root, void* Data, const std::function<void(TBaseHyperlink* Link, void* Data)>& Callback) {
  Callback(Root, Data);
  if (auto* h = dynamic_cast<THyperlink*>(Root))
    for (TBaseHyperlink* c = h->FirstChild(); c; c = c->Next()) VisitLinks(c, Data, Callback);
}

// ---------------------------------------------------------------------------------------------
// TAnimatedHyperlink

TAnimatedHyperlink::~TAnimatedHyperlink() {
  THyperlinkControl* host = GetControl();
  if (host && !host->Destroying()) host->RemoveAnimated(this);
}

void GlideStep(float& X, float& Y, int TX, int TY) {
  float dx = static_cast<float>(TX) - X, dy = static_cast<float>(TY) - Y;
  float d = std::sqrt(dx * dx + dy * dy);
  float step = d >= 10 ? d / 5 : 2;
  if (std::fabs(dx) < 1 && std::fabs(dy) < 1) {
    X = static_cast<float>(TX);
    Y = static_cast<float>(TY);
    return;
  }
  float h, v;
  if (std::fabs(dx) < 1) {
    h = 0;
    v = step;
  } else {
    float r = std::fabs(dy) / std::fabs(dx);
    h = step / std::sqrt(r * r + 1);
    v = h * r;
  }
  h = std::min(h, std::fabs(dx));
  v = std::min(v, std::fabs(dy));
  X += dx > 0 ? h : -h;
  Y += dy > 0 ? v : -v;
}

bool TAnimatedHyperlink::AnimationStep() {
  bool result = false;
  if (fGlide) {
    TGlide& g = *fGlide;
    TRect r = fBoundsRect;
    if (g.Target.Left != r.Left || g.Target.Top != r.Top) {
      GlideStep(g.X1, g.Y1, g.Target.Left, g.Target.Top);
      r = Offset(r, static_cast<int>(Round(g.X1)) - r.Left, static_cast<int>(Round(g.Y1)) - r.Top);
    }
    if (g.Target.Width() != fBoundsRect.Width() || g.Target.Height() != fBoundsRect.Height()) {
      GlideStep(g.X2, g.Y2, g.Target.Right, g.Target.Bottom);
      r.Right = static_cast<int>(Round(g.X2));
      r.Bottom = static_cast<int>(Round(g.Y2));
    }
    if (!SameRect(r, fBoundsRect)) {
      fBoundsRect = r;  // the timer repaints the old and the new place
      result = true;
    } else {
      fGlide.reset();
    }
  }
  if (fAnimating) {
    if (DoAnimate())
      result = true;
    else
      fAnimating = false;
  }
  if (!result)
    if (THyperlinkControl* host = GetControl()) host->RemoveAnimated(this);
  return result;
}

void TAnimatedHyperlink::StartAnimation() {
  fAnimating = true;
  if (THyperlinkControl* host = GetControl()) host->AddAnimated(this);
}

void TAnimatedHyperlink::StopAnimation() {
  fAnimating = false;
  if (THyperlinkControl* host = GetControl()) host->RemoveAnimated(this);
}

void TAnimatedHyperlink::GlideTo(const TRect& Target) {
  auto g = std::make_unique<TGlide>();
  g->Target = Target;
  g->X1 = static_cast<float>(fBoundsRect.Left);
  g->Y1 = static_cast<float>(fBoundsRect.Top);
  g->X2 = static_cast<float>(fBoundsRect.Right);
  g->Y2 = static_cast<float>(fBoundsRect.Bottom);
  fGlide = std::move(g);
  if (THyperlinkControl* host = GetControl()) host->AddAnimated(this);
}

void TAnimatedHyperlink::SetBoundsRect(const TRect& R) {
  THyperlink::SetBoundsRect(R);
  fGlide.reset();
}

void TAnimatedHyperlink::Attached() {
  THyperlink::Attached();
  if (fAnimating || fGlide) GetControl()->AddAnimated(this);
}

void TAnimatedHyperlink::Detached() {
  THyperlink::Detached();
  // Off the timer, but still animating: attaching again registers it again.
  bool animating = fAnimating;
  if (THyperlinkControl* host = GetControl()) host->RemoveAnimated(this);
  fAnimating = animating;
}

// ---------------------------------------------------------------------------------------------
// THyperlinkContainer

THyperlinkContainer::THyperlinkContainer(uint8_t AlignKind, bool HasScrollBar, int Height)
    : fAlignKind(AlignKind), fHeight(Height) {
  if (HasScrollBar) {
    fScrollBar = std::make_unique<TScrollBar>(nullptr);
    fScrollBar->SetKind(sbVertical);
    fScrollBar->SetVisible(false);
    fScrollBar->SetTabStop(false);
    fScrollBar->SetCtl3D(false);
    fScrollBar->SetParentCtl3D(false);
    fScrollBar->SetSmallChange(10);
    fScrollBar->OnScroll = [this](TObject*, TScrollCode, int& ScrollPos) {
      // Tracking: the host takes the focus unless one of its children has it.
      THyperlinkControl* host = GetControl();
      if (host && host->HandleAllocated()) {
        HWND focus = GetFocus();
        HWND h = static_cast<HWND>(host->Handle());
        if (focus != h && !IsChild(h, focus) && host->CanFocus()) host->SetFocus();
      }
      int top = std::max(0, fScrollBar->Max() - fScrollBar->PageSize());
      ScrollPos = std::clamp(ScrollPos, 0, top);
    };
    fScrollBar->OnChange = [this](TObject*) { ScrollTo(fScrollBar->Position()); };
  }
}

THyperlinkContainer::~THyperlinkContainer() {
  if (fScrollBar) {
    fScrollBar->OnScroll = nullptr;
    fScrollBar->OnChange = nullptr;
  }
}

void THyperlinkContainer::DoScroll() {
  if (OnScroll) OnScroll(this);
}

void THyperlinkContainer::SetHeight(int Value) {
  if (fHeight == Value) return;
  fHeight = Value;
  Realign();
}

bool THyperlinkContainer::CanScroll() const {
  return fScrollBar && fScrollBar->Visible() && fScrollBar->Max() - fScrollBar->PageSize() > 0;
}

void THyperlinkContainer::SetBoundsRect(const TRect& R) {
  if (SameRect(R, fBoundsRect)) return;
  THyperlinkControl* host = GetControl();
  if (R.Left == fBoundsRect.Left && R.Right == fBoundsRect.Right && host && host->WindowReady() && IsReallyVisible()) {
    HWND h = static_cast<HWND>(host->Handle());
    TPoint o{0, 0};
    if (fParent) fParent->ClientToControl(o);
    if (R.Top != fBoundsRect.Top) {
      // The pixels of the area move with its top.
      TRect area = Offset(fBoundsRect, o.X, o.Y);
      area.Top = std::min(area.Top, R.Top + o.Y);
      area.Bottom = std::max(area.Bottom, R.Bottom + o.Y);
      RECT a = ToRECT(area);
      ScrollWindowEx(h, 0, R.Top - fBoundsRect.Top, &a, &a, nullptr, nullptr, SW_INVALIDATE);
    }
    if (R.Bottom != fBoundsRect.Bottom) {
      RECT band{R.Left + o.X, std::min(R.Bottom, fBoundsRect.Bottom) + o.Y, R.Right + o.X,
                std::max(R.Bottom, fBoundsRect.Bottom) + o.Y};
      InvalidateRect(h, &band, FALSE);
    }
    fBoundsRect = R;
    fGlide.reset();
    host->RequestHoverUpdate();
    return;
  }
  TAnimatedHyperlink::SetBoundsRect(R);
}

void THyperlinkContainer::SetVisible(bool V) {
  TAnimatedHyperlink::SetVisible(V);
  if (fScrollBar) fScrollBar->SetVisible(IsVisible() && fScrollBar->Max() - fScrollBar->PageSize() > 0);
}

void THyperlinkContainer::Attached() {
  TAnimatedHyperlink::Attached();
  if (fScrollBar) fScrollBar->SetParent(GetControl());
}

void THyperlinkContainer::Detached() {
  TAnimatedHyperlink::Detached();
  // The window goes here, on the user-interface thread: the element may be freed on another.
  if (fScrollBar) fScrollBar->SetParent(nullptr);
}

namespace {
int AlignRank(uint8_t Kind) {
  switch (Kind) {
    case alTop: return 1;
    case alClient: return 2;
    case alBottom: return 3;
    default: return 4;
  }
}
}  // namespace

bool THyperlinkContainer::ShouldFollow(TBaseHyperlink* Other) {
  auto* o = dynamic_cast<THyperlinkContainer*>(Other);
  if (!o) return false;
  if (o->fAlignKind != fAlignKind) return AlignRank(fAlignKind) > AlignRank(o->fAlignKind);
  return o->fSortOrder < fSortOrder;
}

void THyperlinkContainer::GetClientOrigin(TPoint& P) { P = TPoint{fBoundsRect.Left, fBoundsRect.Top - fScrollPos}; }

void THyperlinkContainer::Layout() {
  THyperlinkControl* host = GetControl();
  if (!host || !host->HandleAllocated()) return;
  RECT cr;
  GetClientRect(static_cast<HWND>(host->Handle()), &cr);
  int left = 0, top = 0, right = 0, bottom = 0, width, outer;
  if (fParent) {
    width = fParent->GetWidth();
    outer = fParent->GetHeight();
  } else {
    TEdgeBorders eb = host->EdgeBorders();
    const TRect& in = host->Inset();
    left = ((eb & ebLeft) ? 1 : 0) + in.Left;
    top = ((eb & ebTop) ? 1 : 0) + in.Top;
    right = ((eb & ebRight) ? 1 : 0) + in.Right;
    bottom = ((eb & ebBottom) ? 1 : 0) + in.Bottom;
    width = cr.right - left - right;
    outer = cr.bottom;
  }
  int height = fAlignKind == alClient ? outer - top - bottom : fHeight;
  if (fParent) {
    bool earlier = true;
    for (TBaseHyperlink* c = fParent->FirstChild(); c; c = c->Next()) {
      if (c == this) {
        earlier = false;
        continue;
      }
      auto* s = dynamic_cast<THyperlinkContainer*>(c);
      if (!s || !s->IsVisible()) continue;
      switch (fAlignKind) {
        case alTop:
          if (earlier && s->fAlignKind == alTop) top += s->fHeight;
          break;
        case alBottom:
          if (!earlier && s->fAlignKind == alBottom) bottom += s->fHeight;
          break;
        case alClient:
          if (s->fAlignKind == alTop)
            top += s->fHeight;
          else
            bottom += s->fHeight;
          height -= s->fHeight;
          break;
      }
    }
  }
  int sbw = GetSystemMetrics(SM_CXVSCROLL);
  if (fScrollBar && (fScrollBar->Visible() || fReserveScrollBar)) {
    width -= sbw;
    right += sbw;
  }
  int y = fAlignKind == alBottom ? outer - height - bottom : top;
  SetBoundsRect(TRect{left, y, left + width, y + height});
  if (fScrollBar) {
    TPoint o{0, 0};
    if (fParent) fParent->ClientToControl(o);
    fScrollBar->SetBounds(left + width + o.X, y + o.Y, sbw, std::max(height, 0));
  }
}

void THyperlinkContainer::Realign() {
  Layout();
  fContentHeight = fExtraHeight;
  if (fLastChild) {
    const TRect& b = fLastChild->BoundsRect();
    fContentHeight += fLastChild->IsVisible() ? b.Bottom : b.Top;
  }
  if (fScrollBar && !fAnimating && !fNoScrollBarUpdate) {
    int h = GetHeight();
    int page = std::max(h, 0);
    int range = std::max(h, fContentHeight);
    bool need = IsVisible() && h < range;
    if (need != fScrollBar->Visible()) {
      fScrollBar->SetVisible(need);
      Layout();
    }
    int pos = need ? std::clamp(fScrollPos, 0, std::max(range - page, 0)) : 0;
    fScrollBar->SetLargeChange(std::max(h, 1));
    fScrollBar->SetPageSize(0);
    fScrollBar->SetParams(pos, 0, range);
    fScrollBar->SetPageSize(page);
    if (pos != fScrollPos || range - page != fScrollRange) ScrollTo(pos);
  }
  THyperlink::Realign();
}

void THyperlinkContainer::SetScrollPos(int Value) {
  if (!fScrollBar) return;
  int top = std::max(0, fScrollBar->Max() - fScrollBar->PageSize());
  fScrollBar->SetPosition(std::clamp(Value, 0, top));
  ScrollTo(fScrollBar->Position());
}

void THyperlinkContainer::ScrollTo(int Position) {
  int range = fScrollBar ? fScrollBar->Max() - fScrollBar->PageSize() : 0;
  Position = std::clamp(Position, 0, std::max(range, 0));
  if (Position == fScrollPos && range == fScrollRange) return;
  BeforeScroll();
  THyperlinkControl* host = GetControl();
  int delta = fScrollPos - Position;
  if (host && host->WindowReady() && IsReallyVisible()) {
    if (host->BackgroundStyle() == bsSolidColor && std::abs(delta) < GetHeight() && range == fScrollRange && !fNoBlit) {
      TRect area;
      GetVisibleRect(area);
      RECT a = ToRECT(area);
      HWND h = static_cast<HWND>(host->Handle());
      ScrollWindowEx(h, 0, delta, &a, &a, nullptr, nullptr, SW_INVALIDATE);
      fScrollPos = Position;
      UpdateWindow(h);
    } else {
      fScrollPos = Position;
      Invalidate();
    }
  }
  fScrollPos = Position;
  fScrollRange = range;
  if (host) host->RequestHoverUpdate();
  DoScroll();
}

bool THyperlinkContainer::AnimationStep() {
  bool result = TAnimatedHyperlink::AnimationStep();
  if (!result && IsVisible()) Realign();
  return result;
}

TRootContainer::TRootContainer(THyperlinkControl* Control)
    : THyperlinkContainer(alClient, false, 0), fControl(Control) {}

// ---------------------------------------------------------------------------------------------
// TControlHyperlink and TBitmapHyperlink

bool TControlHyperlink::IsFocused() {
  return TAnimatedHyperlink::IsFocused() || (fControl && fControl->HandleAllocated() && fControl->Focused());
}

void TControlHyperlink::Changed() {
  TAnimatedHyperlink::Changed();
  if (fState != hsPressed || !fControl) return;
  if (fControl->CanFocus()) fControl->SetFocus();
  if (auto* check = dynamic_cast<TCustomCheckBox*>(fControl)) check->SetChecked(!check->Checked());
}

TBitmapHyperlink::TBitmapHyperlink(uint32_t ImageId, int Tag) : fImageId(ImageId) {
  fTag = Tag;
  fBoundsRect = TRect{0, 0, ImageCache->GetWidth(ImageId), ImageCache->GetHeight(ImageId)};
}

TBitmapHyperlink::TBitmapHyperlink(uint32_t ImageId, int Height, int SrcOffset, int Tag)
    : fImageId(ImageId), fSrcOffset(SrcOffset), fFrameHeight(Height), fThreeFrames(true) {
  fTag = Tag;
  fBoundsRect = TRect{0, 0, ImageCache->GetWidth(ImageId) / 3, Height >= 1 ? Height : ImageCache->GetHeight(ImageId)};
  SetClickable(true);
}

TBitmapHyperlink::~TBitmapHyperlink() = default;

void TBitmapHyperlink::SetBitmap(TBitmap* Value) {
  fBitmap.reset(Value);
  SetBoundsRect(fBoundsRect);
}

void TBitmapHyperlink::GetImageSize(TPoint& Size) {
  if (fBitmap) {
    Size = TPoint{fThreeFrames ? fBitmap->Width() / 3 : fBitmap->Width(), fBitmap->Height()};
    return;
  }
  int w = ImageCache->GetWidth(fImageId);
  Size = TPoint{fThreeFrames ? w / 3 : w, fFrameHeight >= 1 ? fFrameHeight : ImageCache->GetHeight(fImageId)};
}

void TBitmapHyperlink::SetBoundsRect(const TRect& R) {
  TPoint s;
  GetImageSize(s);
  TAnimatedHyperlink::SetBoundsRect(TRect{R.Left, R.Top, R.Left + s.X, R.Top + s.Y});
}

int TBitmapHyperlink::FrameSourceX() {
  if (!fThreeFrames) return 0;
  int w = (fBitmap ? fBitmap->Width() : ImageCache->GetWidth(fImageId)) / 3;
  return fState == hsHot ? w : fState == hsPressed ? 2 * w : 0;
}

void TBitmapHyperlink::Paint(TCanvas* Canvas) {
  if (fBitmap && fBitmap->Empty()) return;
  int w = fBitmap ? fBitmap->Width() : ImageCache->GetWidth(fImageId);
  if (fThreeFrames) w /= 3;
  int x = FrameSourceX();
  uint8_t alpha = FrameAlpha();
  if (fBitmap)
    AlphaDraw(Canvas, fBoundsRect.Left, fBoundsRect.Top, alpha, w, GetHeight(), x, fSrcOffset, fBitmap->Canvas(), w,
              GetHeight());
  else
    ImageCache->Draw(Canvas, fImageId, fBoundsRect.Left, fBoundsRect.Top, w, GetHeight(), x, fSrcOffset, w, GetHeight(),
                     alpha);
  DrawFocusRect(Canvas);
}

// ---------------------------------------------------------------------------------------------
// THyperlinkControl

THyperlinkControl::THyperlinkControl(TComponent* AOwner)
    : TDragDropControl(AOwner), fColor(ColorToRGB(static_cast<TColor>(0x80000000 | COLOR_BTNFACE))) {
  SetShowHint(false);
  fLock = std::make_unique<TMutex>();
  fRoot = std::make_unique<TRootContainer>(this);
}

void THyperlinkControl::FreeBuffer() {
  if (fBufferDC) {
    SelectObject(static_cast<HDC>(fBufferDC), fOldBuffer);
    DeleteDC(static_cast<HDC>(fBufferDC));
  }
  if (fBuffer) DeleteObject(fBuffer);
  fBufferDC = fBuffer = fOldBuffer = nullptr;
  fBufferSize = TPoint{0, 0};
}

THyperlinkControl::~THyperlinkControl() {
  FreeBuffer();
  if (fFreeThread) {
    fFreeThread->WaitFor();
    delete fFreeThread;
    fFreeThread = nullptr;
  }
  if (HandleAllocated()) KillTimer(static_cast<HWND>(Handle()), AnimationTimerId);
  fDestroying = true;
  fRoot.reset();
  fAnimated.clear();
}

bool THyperlinkControl::WindowReady() {
  return HandleAllocated() && !fDestroying && !(ComponentState() & (csLoading | csReading | csDestroying));
}

void THyperlinkControl::CreateParams(TCreateParams& Params) {
  TDragDropControl::CreateParams(Params);
  Params.Style |= WS_CLIPCHILDREN;
}

void THyperlinkControl::CreateHandle() {
  RequireUiThread();
  TDragDropControl::CreateHandle();
  if (!(ControlState() & csRecreating)) Relayout();
  fUIState = 0;
  fLock->Acquire();
  try {
    if (!fAnimated.empty()) SetBase();
    if (fResortPending) PostMessageA(static_cast<HWND>(Handle()), HCM_RESORT, 0, 0);
  } catch (...) {
    fLock->Release();
    throw;
  }
  fLock->Release();
}

void THyperlinkControl::Relayout() {
  if (GetCurrentThreadId() != MainThreadID || !WindowReady()) return;
  RealignRoot();
  UpdateHoverFromCursor();
}

void THyperlinkControl::RealignRoot() { fRoot->Realign(); }

void THyperlinkControl::Resize() {
  TDragDropControl::Resize();
  Relayout();
}

void THyperlinkControl::ApplyTexts() {
  BeginTiming();
  fRoot->ApplyTexts();
  Relayout();
  AnsiString source = Format(Msg.ApplyTextsTiming, ClassName());
  EndTiming(source, source, 10);
}

void THyperlinkControl::RequestHoverUpdate() {
  if (!WindowReady() || fHoverUpdatePosted) return;
  fHoverUpdatePosted = true;
  PostMessageA(static_cast<HWND>(Handle()), HCM_UPDATEHOVER, 0, 0);
}

void THyperlinkControl::UpdateHoverFromCursor() {
  if (!WindowReady()) return;
  POINT p;
  GetCursorPos(&p);
  ScreenToClient(static_cast<HWND>(Handle()), &p);
  UpdateHotLink(TPoint{p.x, p.y});
}

WideString THyperlinkControl::Hint() { return GetControlWideHint(this); }
void THyperlinkControl::SetHint(const WideString& Value) {
  fHint = Value;
  SetControlWideHint(this, Value);
}

void THyperlinkControl::SetDefaultCursor(TCursor Value) {
  fDefaultCursor = Value;
  if (!fHotLink) SetCursor(Value);
}

void THyperlinkControl::UpdateHotLink(TPoint P) {
  if (!WindowReady()) return;
  HWND h = static_cast<HWND>(Handle());
  THyperlink* hover = nullptr;
  POINT wp{P.X, P.Y};
  if (ChildWindowFromPointEx(h, wp, CWP_SKIPINVISIBLE) == h) {
    TPoint q = P;
    TPoint o;
    fRoot->GetClientOrigin(o);
    q.X -= o.X;
    q.Y -= o.Y;
    TBaseHyperlink* found = fRoot->LinkAtPoint(q, true);
    hover = dynamic_cast<THyperlink*>(found);
    while (hover && hover->FirstChild()) {
      hover->GetClientOrigin(o);
      q.X -= o.X;
      q.Y -= o.Y;
      auto* deeper = dynamic_cast<THyperlink*>(hover->LinkAtPoint(q, true));
      if (!deeper) break;
      hover = deeper;
    }
  }
  THyperlink* candidate = hover && hover->IsClickable() && hover->IsEnabled() ? hover : nullptr;
  WideString hint;
  if (hover) hover->GetHint(hint);
  if (hint.empty()) hint = fHint;
  if (IsDragging()) hint.clear();
  SetShowHint(!hint.empty());
  if ((hover != fHoverLink || hint != Hint()) && CancelHintOnChange()) Application->CancelHint();
  SetControlWideHint(this, hint);
  fHoverLink = hover;
  if (fHotLink && fHotLink->State() == hsPressed && fHotLink->Flag(lfDragCapture)) candidate = fHotLink;
  if (candidate != fHotLink) {
    if (fHotLink) fHotLink->SetState(hsNormal);
    fHotLink = candidate;
    if (candidate) {
      candidate->SetState(hsHot);
      SetCursor(candidate->Cursor());
      TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, h, 0};
      TrackMouseEvent(&t);
    } else {
      SetCursor(fDefaultCursor);
    }
  }
}

void THyperlinkControl::ForgetLink(TBaseHyperlink* Link) {
  RequireUiThread();
  if (fHotLink == Link) {
    fHotLink = nullptr;
    SetCursor(fDefaultCursor);
  }
  if (fHoverLink == Link) fHoverLink = nullptr;
  if (fFocusedLink == Link) fFocusedLink = nullptr;
  if (fLastClickLink == Link) fLastClickLink = nullptr;
  fResortList.erase(std::remove(fResortList.begin(), fResortList.end(), Link), fResortList.end());
}

void THyperlinkControl::SetFocusedLink(THyperlink* Value) {
  if (fFocusedLink == Value) return;
  if (fFocusedLink) fFocusedLink->Invalidate();
  fFocusedLink = Value;
  if (fFocusedLink) fFocusedLink->Invalidate();
}

void THyperlinkControl::MouseMove(TShiftState Shift, int X, int Y) {
  int dx = X - fLastMousePoint.X, dy = Y - fLastMousePoint.Y;
  if (dx * dx + dy * dy >= 100) {
    fLastMouseTime = GetTickCount();
    fLastMousePoint = TPoint{X, Y};
  }
  if (fHotLink && fHotLink->State() == hsPressed && fHotLink->Flag(lfDragCapture)) {
    TPoint p{X, Y};
    TPoint o{0, 0};
    if (fHotLink->Parent()) fHotLink->Parent()->ClientToControl(o);
    if (fHotLink->DragMove(TPoint{p.X - o.X, p.Y - o.Y}, X - fDragOrigin.X, Y - fDragOrigin.Y))
      fDragOrigin = TPoint{X, Y};
  }
  TDragDropControl::MouseMove(Shift, X, Y);
  UpdateHotLink(TPoint{X, Y});
}

void THyperlinkControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  UpdateHotLink(TPoint{X, Y});
  if (Button == mbLeft && fHotLink) {
    fHotLink->SetState(hsPressed);
    SetMouseCapture(true);
    fDragOrigin = TPoint{X, Y};
  }
  TDragDropControl::MouseDown(Button, Shift, X, Y);
  if (Button == mbLeft) {
    if (auto* h = dynamic_cast<THyperlink*>(fHoverLink)) {
      TPoint o{0, 0};
      if (h->Parent()) h->Parent()->ClientToControl(o);
      h->MouseDown(X - o.X, Y - o.Y);
    }
    if (!(fHotLink && fHotLink->State() == hsPressed)) SetMouseCapture(false);
  }
}

void THyperlinkControl::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  SetMouseCapture(false);
  TDragDropControl::MouseUp(Button, Shift, X, Y);
  THyperlink* link = fHotLink;
  if (!link || link->State() != hsPressed) return;  // a click needs a press on the hot link
  link->SetState(hsHot);
  uint32_t now = GetTickCount();
  if (link == fLastClickLink && now - fLastClickTime <= GetDoubleClickTime()) {
    fLastClickTime = 0;  // the second release of a double click
    return;
  }
  fLastClickTime = now;
  fLastClickLink = link;
  if (link->Parent()) link->Parent()->LinkClicked(link);
  if (fHotLink) DoLinkClick(link);
}

void THyperlinkControl::DoLinkClick(THyperlink* Link) {
  Link->SetFlag(lfInClick, true);
  try {
    if (OnLinkClick) OnLinkClick(this, Link);
  } catch (...) {
    Link->SetFlag(lfInClick, false);
    throw;
  }
  Link->SetFlag(lfInClick, false);
  UpdateHoverFromCursor();
}

bool THyperlinkControl::DoMouseWheel(TShiftState Shift, int WheelDelta, POINT MousePos) {
  POINT p = MousePos;
  ScreenToClient(static_cast<HWND>(Handle()), &p);
  TPoint o;
  fRoot->GetClientOrigin(o);
  TPoint q{p.x - o.X, p.y - o.Y};
  for (TBaseHyperlink* c = fRoot->FirstChild(); c; c = c->Next()) {
    auto* k = dynamic_cast<THyperlinkContainer*>(c);
    if (!k || !k->IsVisible() || !InRect(k->BoundsRect(), q)) continue;
    if (!k->CanScroll()) return false;
    k->SetScrollPos(k->ScrollPos() - WheelDelta / 4);
    return true;
  }
  return false;
}

// ---- Animation

int THyperlinkControl::ComputeBaseInterval(const std::vector<int>& Intervals) {
  int base = 10;
  for (int k = 1; k <= 100; ++k) {
    bool all = true;
    for (int i : Intervals)
      if (i % (10 * k) != 0) {
        all = false;
        break;
      }
    if (all) base = 10 * k;
  }
  return base;
}

int THyperlinkControl::AnimatedCount() {
  fLock->Acquire();
  int n = static_cast<int>(fAnimated.size());
  fLock->Release();
  return n;
}

void THyperlinkControl::SetBase() {
  std::vector<int> intervals;
  for (TAnimatedHyperlink* e : fAnimated) intervals.push_back(e->Interval());
  int base = ComputeBaseInterval(intervals);
  if (fBaseInterval > 0 && base != fBaseInterval)
    fTickCount = static_cast<uint32_t>(Round(static_cast<double>(fBaseInterval) / base * fTickCount));
  fBaseInterval = base;
  if (HandleAllocated()) {
    SetTimer(static_cast<HWND>(Handle()), AnimationTimerId, static_cast<UINT>(fBaseInterval), nullptr);
    fTimerRunning = true;
  }
}

void THyperlinkControl::AddAnimated(TAnimatedHyperlink* Element) {
  // An interval of 0 or less is not animated.
  if (Element->Interval() <= 0) return;
  fLock->Acquire();
  try {
    bool had = !fAnimated.empty();
    auto at = std::lower_bound(fAnimated.begin(), fAnimated.end(), Element);
    if (at == fAnimated.end() || *at != Element) fAnimated.insert(at, Element);
    if (WindowReady() && !(had && fBaseInterval > 0 && Element->Interval() % fBaseInterval == 0 && fTimerRunning))
      SetBase();
  } catch (...) {
    fLock->Release();
    throw;
  }
  fLock->Release();
}

void THyperlinkControl::RemoveAnimated(TAnimatedHyperlink* Element) {
  Element->ClearAnimating();
  fLock->Acquire();
  auto at = std::lower_bound(fAnimated.begin(), fAnimated.end(), Element);
  if (at != fAnimated.end() && *at == Element) {
    fAnimated.erase(at);
    if (WindowReady()) {
      KillTimer(static_cast<HWND>(Handle()), AnimationTimerId);
      fTimerRunning = false;
      if (!fAnimated.empty()) SetBase();
    }
  }
  fLock->Release();
}

void THyperlinkControl::Tick() {
  HWND h = static_cast<HWND>(Handle());
  KillTimer(h, AnimationTimerId);
  fTimerRunning = false;
  ++fTickCount;
  TRect dirty{};
  bool immediate = false;
  fLock->Acquire();
  try {
    size_t before = fAnimated.size();
    std::vector<TAnimatedHyperlink*> list = fAnimated;  // steps may leave the list
    int base = std::max(fBaseInterval, 1);
    for (TAnimatedHyperlink* e : list) {
      if (!std::binary_search(fAnimated.begin(), fAnimated.end(), e)) continue;
      // An interval shorter than the base counts as one tick.
      uint32_t period = static_cast<uint32_t>(std::max(1, e->Interval() / base));
      if (fTickCount % period != 0) continue;
      if (e->GetControl() != this) {
        e->ClearAnimating();
        fAnimated.erase(std::lower_bound(fAnimated.begin(), fAnimated.end(), e));
        continue;
      }
      if (!e->IsReallyVisible()) continue;
      bool repaint = e->RepaintMode() < 2 || e->IsGliding();
      TRect r;
      if (repaint) {
        e->GetVisibleRect(r);
        Union(dirty, r);
      }
      bool more = e->AnimationStep();
      if (!more) {
        auto at = std::lower_bound(fAnimated.begin(), fAnimated.end(), e);
        if (at != fAnimated.end() && *at == e) fAnimated.erase(at);
      }
      if (e->IsGliding() || e->RepaintMode() < 2) {
        e->GetVisibleRect(r);
        Union(dirty, r);
        if (e->RepaintMode() == 0) immediate = true;
      }
    }
    if (fAnimated.size() != before && !fAnimated.empty()) SetBase();
  } catch (...) {
    fLock->Release();
    throw;
  }
  fLock->Release();
  if (!IsEmpty(dirty)) {
    if (immediate) {
      BufferedPaint(dirty, nullptr, [this](void*, TCanvas* C) { PaintRoot(C); }, nullptr);
    } else {
      RECT r = ToRECT(dirty);
      InvalidateRect(h, &r, FALSE);
    }
  }
  if (!fAnimated.empty()) {
    SetTimer(h, AnimationTimerId, static_cast<UINT>(fBaseInterval), nullptr);
    fTimerRunning = true;
  } else {
    KillTimer(h, AnimationTimerId);
    fTimerRunning = false;
  }
}

// ---- Link-free thread

TLinkFreeThread::TLinkFreeThread(THyperlinkControl* Control, TBaseHyperlink* FirstLink)
    : TExThread(false), fControl(Control), fWnd(Control->Handle()), fFirstLink(FirstLink) {
  SetFreeOnTerminate(false);
  SetPriority(tpLowest);
  Start();
}

void TLinkFreeThread::Execute() {
  try {
    for (TBaseHyperlink* e = fFirstLink; e;) {
      TBaseHyperlink* next = e->Next();
      e->SetNext(nullptr);
      delete e;
      e = next;
    }
    fFirstLink = nullptr;
  } catch (...) {
    Log(ClassName(), "Freeing a chain failed");
  }
  if (!Terminated()) PostMessageA(static_cast<HWND>(fWnd), HCM_FREETHREAD, 0, reinterpret_cast<LPARAM>(this));
}

void THyperlinkControl::FreeLinksAsync(TBaseHyperlink* FirstLink) {
  if (fFreeThread) {
    fFreeThread->WaitFor();
    delete fFreeThread;
    fFreeThread = nullptr;
  }
  fFreeThread = new TLinkFreeThread(this, FirstLink);
}

// ---- Painting

void THyperlinkControl::PaintTo(TCanvas* Canvas) { fRoot->Paint(Canvas); }

void THyperlinkControl::Paint(HDC DC) {
  TDCCanvas canvas(DC);
  fRoot->Paint(&canvas);
}

void THyperlinkControl::BufferedPaint(TRect R, void* DC, const TBufferedPaintProc& PaintProc, void* Data) {
  if (!WindowReady()) return;
  for (TControl* c = this; c; c = c->Parent())
    if (!c->Visible()) return;
  if (R.Left > R.Right || R.Top > R.Bottom) throw Exception(Msg.InvertedPaint);
  HWND h = static_cast<HWND>(Handle());
  RECT cr;
  GetClientRect(h, &cr);
  if (!Intersect(R, R, TRect{cr.left, cr.top, cr.right, cr.bottom})) return;
  HDC target = static_cast<HDC>(DC);
  bool own = false;
  if (!target) {
    target = GetDC(h);
    own = true;
  }
  try {
    if (fDoubleBuffered) {
      // One off-screen buffer, kept while it is large enough.
      if (!fBufferDC || fBufferSize.X < R.Width() || fBufferSize.Y < R.Height()) {
        FreeBuffer();
        fBufferDC = CheckHandle(CreateCompatibleDC(target));
        fBuffer = CreateCompatibleBitmap(target, std::max<int>(R.Width(), fBufferSize.X), std::max<int>(R.Height(), fBufferSize.Y));
        if (!fBuffer) {
          FreeBuffer();
          RaiseOutOfResources();
        }
        BITMAP bm;
        GetObjectW(fBuffer, sizeof bm, &bm);
        fBufferSize = TPoint{bm.bmWidth, bm.bmHeight};
        fOldBuffer = SelectObject(static_cast<HDC>(fBufferDC), fBuffer);
      }
      HDC mem = static_cast<HDC>(fBufferDC);
      SetWindowOrgEx(mem, R.Left, R.Top, nullptr);
      TDCCanvas canvas(mem);
      try {
        TImageBatch batch;  // the same pictures drawn many times stay selected for the paint
        PaintCopy(&canvas, R);
        PaintProc(Data, &canvas);
      } catch (...) {
        SetWindowOrgEx(mem, 0, 0, nullptr);
        throw;
      }
      SetWindowOrgEx(mem, 0, 0, nullptr);
      BitBlt(target, R.Left, R.Top, R.Width(), R.Height(), mem, 0, 0, SRCCOPY);
    } else {
      TDCCanvas canvas(target);
      TImageBatch batch;
      PaintCopy(&canvas, R);
      PaintProc(Data, &canvas);
    }
  } catch (...) {
    if (own) ReleaseDC(h, target);
    throw;
  }
  if (own) ReleaseDC(h, target);
}

void THyperlinkControl::PaintCopy(TCanvas* Canvas, const TRect& Rect) {
  HDC dc = DCOf(Canvas);
  HWND h = static_cast<HWND>(Handle());
  RECT cr;
  GetClientRect(h, &cr);
  auto fill = [dc](const RECT& r, TColor c) {
    HBRUSH b = CreateSolidBrush(static_cast<COLORREF>(ColorToRGB(c)));
    FillRect(dc, &r, b);
    DeleteObject(b);
  };
  RECT r = ToRECT(Rect);
  switch (fBackgroundStyle) {
    case bsSharedBackground: {
      TColor c = 0xF2EEE4;
      switch (fBackgroundTranslucency) {
        case bt100Percent: break;
        case bt65Percent: BlendColor(c, 0x5AFFFFFF); break;
        case bt20Percent: BlendColor(c, 0xCBFFFFFF); break;
        default: AssertFailed(Msg.BadTranslucency, __FILE__, __LINE__);
      }
      fill(r, c);
      break;
    }
    case bsSmallWatermark: {
      RECT w{cr.left, cr.top, cr.right + 1, cr.bottom + 1};
      fill(w, clWhite);
      break;
    }
    case bsGradient:
      GradientFill(Canvas, TRect{cr.left, cr.top, cr.right, cr.bottom}, ColorToRGB(fColor), clWhite, false);
      break;
    default: fill(r, fColor); break;
  }
  auto line = [&](int l, int t, int rr, int b) {
    RECT x{l, t, rr, b};
    fill(x, fBorderColor);
  };
  if (fEdgeBorders & ebTop) line(0, 0, cr.right, 1);
  if (fEdgeBorders & ebRight) line(cr.right - 1, 0, cr.right, cr.bottom);
  if (fEdgeBorders & ebBottom) line(0, cr.bottom - 1, cr.right, cr.bottom);
  if (fEdgeBorders & ebLeft) line(0, 0, 1, cr.bottom);
  TPoint o;
  fRoot->GetClientOrigin(o);
  for (TBaseHyperlink* c = fRoot->FirstChild(); c; c = c->Next()) {
    auto* k = dynamic_cast<THyperlinkContainer*>(c);
    if (!k || !k->IsVisible() || !k->ShowSeparator()) continue;
    TRect b = Offset(k->BoundsRect(), o.X, o.Y);
    if (k->AlignKind() == alTop) line(b.Left, b.Bottom, b.Right, b.Bottom + 1);
    if (k->AlignKind() == alBottom) line(b.Left, b.Top - 1, b.Right, b.Top);
  }
}

void THyperlinkControl::WMPaint(TMessage& Message) {
  HWND h = static_cast<HWND>(Handle());
  HRGN rgn = CreateRectRgn(0, 0, 0, 0);
  bool complex = GetUpdateRgn(h, rgn, FALSE) == COMPLEXREGION;
  TRect ex;
  GetExcludedRect(ex);
  if (HasExcludedRect() && ex.Width() > 0 && !(ComponentState() & csDesigning)) {
    HRGN e = CreateRectRgn(ex.Left, ex.Top, ex.Right, ex.Bottom);
    CombineRgn(rgn, rgn, e, RGN_DIFF);
    DeleteObject(e);
    complex = true;
  }
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  try {
    auto proc = [this](void*, TCanvas* C) { PaintRoot(C); };
    TRect paint{ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom};
    int64_t area = static_cast<int64_t>(paint.Width()) * paint.Height();
    bool split = false;
    if (area >= 4096 && complex) {
      DWORD size = GetRegionData(rgn, 0, nullptr);
      std::vector<uint8_t> buf(size);
      auto* data = reinterpret_cast<RGNDATA*>(buf.data());
      if (size && GetRegionData(rgn, size, data)) {
        auto* rects = reinterpret_cast<RECT*>(data->Buffer);
        DWORD n = data->rdh.nCount;
        int64_t sum = 0;
        for (DWORD i = 0; i < n; ++i)
          sum += static_cast<int64_t>(rects[i].right - rects[i].left) * (rects[i].bottom - rects[i].top);
        if (n < 10 && area > 5 * sum) {
          split = true;
          for (DWORD i = 0; i < n; ++i)
            BufferedPaint(TRect{rects[i].left, rects[i].top, rects[i].right, rects[i].bottom}, dc, proc, nullptr);
        }
      }
    }
    if (!split) BufferedPaint(paint, dc, proc, nullptr);
  } catch (...) {
    EndPaint(h, &ps);
    DeleteObject(rgn);
    throw;
  }
  EndPaint(h, &ps);
  DeleteObject(rgn);
  Message.Result = 0;
}

void THyperlinkControl::WMEraseBkgnd(TMessage& Message) {
  Message.Result = 1;
  HDC dc = reinterpret_cast<HDC>(Message.WParam);
  if (!WantsEraseBackground() || !dc) return;
  HWND h = static_cast<HWND>(Handle());
  RECT box;
  GetClipBox(dc, &box);
  for (HWND c = GetWindow(h, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    RECT r, cut;
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, h, reinterpret_cast<POINT*>(&r), 2);
    if (IntersectRect(&cut, &r, &box)) {
      TDCCanvas canvas(dc);
      PaintCopy(&canvas, TRect{cut.left, cut.top, cut.right, cut.bottom});
      return;
    }
  }
}

void THyperlinkControl::ResortPass() {
  RequireUiThread();
  fLock->Acquire();
  fResortList.clear();
  VisitLinks(fRoot.get(), nullptr, [this](TBaseHyperlink* L, void*) {
    if (L->Flag(lfResortPending)) {
      L->SetFlag(lfResortPending, false);
      fResortList.push_back(L);
    }
  });
  fResortPending = false;
  fLock->Release();
  while (!fResortList.empty()) {
    TBaseHyperlink* l = fResortList.back();
    fResortList.pop_back();
    l->Reposition();
  }
}

void THyperlinkControl::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_PAINT:
      if (HandleAllocated()) {
        WMPaint(Message);
        return;
      }
      break;
    case WM_ERASEBKGND: WMEraseBkgnd(Message); return;
    case WM_TIMER:
      if (Message.WParam == AnimationTimerId) {
        Tick();
        Message.Result = 0;
        return;
      }
      break;
    case HCM_SETHEIGHT: SetBounds(Left(), Top(), Width(), fPendingHeight); return;
    case HCM_UPDATEHOVER:
      fHoverUpdatePosted = false;
      UpdateHoverFromCursor();
      return;
    case HCM_FREETHREAD:
      if (reinterpret_cast<TLinkFreeThread*>(Message.LParam) == fFreeThread && fFreeThread) {
        fFreeThread->WaitFor();
        delete fFreeThread;
        fFreeThread = nullptr;
      }
      return;
    case HCM_RESORT: ResortPass(); return;
    case CM_MOUSELEAVE:
    case WM_MOUSELEAVE:
      fDragOrigin = TPoint{-1, -1};
      UpdateHoverFromCursor();
      if (Message.Msg == CM_MOUSELEAVE) break;
      return;
    case WM_UPDATEUISTATE: {
      TDragDropControl::WndProc(Message);
      uint32_t bits = HIWORD(Message.WParam);
      if (LOWORD(Message.WParam) == UIS_CLEAR) fUIState &= ~bits;
      if (LOWORD(Message.WParam) == UIS_SET) fUIState |= bits;
      return;
    }
    case CM_HINTSHOW: {
      auto* info = reinterpret_cast<THintInfo*>(Message.LParam);
      if (info) PrepareWideHintShow(*info);
      TDragDropControl::WndProc(Message);
      if (auto* h = dynamic_cast<THyperlink*>(fHoverLink)) {
        (void)h;  // the elements of this system take no part in the hint beyond their text
      }
      return;
    }
  }
  TDragDropControl::WndProc(Message);
}

// ---- Drag and drop: the hot link is the source; the hover follows a drag over the control.

bool THyperlinkControl::GetDragData(TDataObject* DataObject, TBitmap* Bitmap, bool& AllowSelfDrop) {
  return fHotLink && fHotLink->GetDragData(DataObject, Bitmap, AllowSelfDrop);
}

void THyperlinkControl::EndDrag() {
  if (fHotLink) fHotLink->EndDrag();
}

void THyperlinkControl::DragOver(DWORD KeyState, POINT Point, DWORD& Effect) {
  TDragDropControl::DragOver(KeyState, Point, Effect);
  UpdateHotLink(TPoint{Point.x, Point.y});
}

void THyperlinkControl::DragLeave() {
  TDragDropControl::DragLeave();
  fDragOrigin = TPoint{-1, -1};
}

void THyperlinkControl::Drop(IDataObject* DataObject, DWORD& Effect, POINT Point) {
  TDragDropControl::Drop(DataObject, Effect, Point);
  fDragOrigin = TPoint{-1, -1};
}

// ---- Properties

void THyperlinkControl::SetBackgroundStyle(TBackgroundStyle Value) {
  if (fBackgroundStyle == Value) return;
  fBackgroundStyle = Value;
  Invalidate();
}
void THyperlinkControl::SetBackgroundTranslucency(TBackgroundTranslucency Value) {
  if (fBackgroundTranslucency == Value) return;
  fBackgroundTranslucency = Value;
  Invalidate();
}
void THyperlinkControl::SetBorderColor(TColor Value) {
  fBorderColor = Value;
  Invalidate();
}
void THyperlinkControl::SetEdgeBorders(TEdgeBorders Value) {
  if (fEdgeBorders == Value) return;
  fEdgeBorders = Value;
  Relayout();
  Invalidate();
}
void THyperlinkControl::SetColor(TColor Value) {
  fColor = Value;
  Invalidate();
}
void THyperlinkControl::SetTopMargin(int Value) {
  if (fTopMargin == Value) return;
  fTopMargin = Value;
  Relayout();
}
void THyperlinkControl::SetBottomMargin(int Value) {
  if (fBottomMargin == Value) return;
  fBottomMargin = Value;
  Relayout();
  Invalidate();
}
void THyperlinkControl::SetInset(const TRect& Value) {
  fInset = Value;
  Relayout();
  Invalidate();
}
