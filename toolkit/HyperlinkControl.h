// The element tree of the skinned surfaces and the one window that hosts it: windowless elements
// with a rectangle in their parent's client coordinates, ordered children, hover, hot and pressed
// states, clicks that bubble to the root and then to OnLinkClick, one animation timer for every
// animated element, aligned (and scrolling) panel containers, bitmap buttons drawn through the image
// cache, and elements that stand for real window controls.
//
// Threads: every element and the host are touched on the user-interface thread only; the one
// exception is the freeing of a detached chain on the host's link-free thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "classlib/Controls.h"
#include "classlib/Graphics.h"
#include "classlib/StdCtrls.h"
#include "toolkit/ShellDragDrop.h"
#include "toolkit/e_useful.h"

class THyperlink;
class THyperlinkControl;
class TRootContainer;
class TScrollBar;

// Bit numbers of an element's flag word.
constexpr int lfVisible = 0;        // shown and hit-tested
constexpr int lfEnabled = 1;        // takes part in hover and clicks; painted enabled
constexpr int lfClickable = 2;      // can become the hot link and be clicked
constexpr int lfDragCapture = 4;    // a pressed element receives DragMove while the mouse moves
constexpr int lfClipChildren = 5;   // children are painted clipped to the element's rectangle
constexpr int lfResortPending = 6;  // the order key changed; re-sort among the siblings
constexpr int lfInsertRemove = 7;   // an insertion or removal of children is in progress here
constexpr int lfInClick = 8;        // the host is running the click handler for this element

// Visual states of a THyperlink.
constexpr uint8_t hsNormal = 0, hsHot = 1, hsPressed = 2;

// The leaf of the tree: a rectangle in the parent's client coordinates, a flag word, the sibling
// links and the parent. Created detached (visible and enabled).
class TBaseHyperlink : public TObject {
 public:
  TBaseHyperlink();
  ~TBaseHyperlink() override;
  TBaseHyperlink(const TBaseHyperlink&) = delete;
  TBaseHyperlink& operator=(const TBaseHyperlink&) = delete;
  const char* ClassName() const override { return "TBaseHyperlink"; }

  const TRect& BoundsRect() const { return fBoundsRect; }
  // Invalidates the old and the new place (unless InvalidateOnBoundsChange is false) and asks
  // the host for a deferred hover update.
  virtual void SetBoundsRect(const TRect& R);
  virtual void SetVisible(bool V);
  virtual void GetSize(TPoint& Size);
  // Visible and P in BoundsRect (right and bottom edges excluded).
  virtual bool HitTest(TPoint P);
  virtual void VisibilityChanged() {}
  // The host control of the tree the element is in; null when none.
  virtual THyperlinkControl* GetControl();
  virtual void UpdateOrderKey() {}
  // Re-sorts the element among its siblings when it is out of order.
  virtual void Reposition();
  // The element became part of a hosted tree (asserts a host and the user-interface thread).
  virtual void Attached();
  // The element left a hosted tree; the host forgets it.
  virtual void Detached();
  virtual void Paint(TCanvas* Canvas) {}
  virtual bool InvalidateOnBoundsChange() { return true; }
  // The ordering predicate of InsertLink: true when the element goes after Other. The default
  // sends a fresh element to the end.
  virtual bool ShouldFollow(TBaseHyperlink* Other) { return fPrev == nullptr || fPrev == Other; }
  virtual void Realign() {}
  // Invalidates the element's visible rectangle in the host window (no erasing).
  virtual void Invalidate();
  // Adds the client origins of all ancestors: P becomes host-client coordinates.
  virtual void ClientToControl(TPoint& P);
  virtual void GetClientOrigin(TPoint& P);

  uint32_t Flags() const { return fFlags.load(std::memory_order_relaxed); }
  bool Flag(int Bit) const { return (Flags() >> Bit) & 1u; }
  // Atomic OR or AND of one bit.
  void SetFlag(int Bit, bool On);
  bool IsVisible() const { return Flag(lfVisible); }
  bool IsEnabled() const { return Flag(lfEnabled); }
  bool IsClickable() const { return Flag(lfClickable); }
  // Attached to a host and the element and every ancestor visible.
  bool IsReallyVisible();
  // A host exists and its window has been made.
  bool IsAttached();
  THyperlink* Parent() const { return fParent; }
  TBaseHyperlink* Next() const { return fNext; }
  TBaseHyperlink* Prev() const { return fPrev; }
  // Links a detached element after this one, so that a chain can be inserted at once.
  void SetNext(TBaseHyperlink* Link) { fNext = Link; }

  void MoveTo(TPoint P);
  void SetLeft(int Value);
  void SetTop(int Value);
  void SetWidth(int Value);
  // The bounds' height (a container's panel height is THyperlinkContainer::SetHeight).
  void SetBoundsHeight(int Value);
  int GetWidth() const { return fBoundsRect.Right - fBoundsRect.Left; }
  int GetHeight() const { return fBoundsRect.Bottom - fBoundsRect.Top; }
  // BoundsRect in host-client coordinates.
  void GetControlRect(TRect& R);
  // The control rectangle cut by every ancestor's; empty as soon as one cut is empty.
  void GetVisibleRect(TRect& R);
  // The nearest ancestor of class T, or null.
  template <class T>
  T* FindParentOfClass() const;

 protected:
  friend class THyperlink;
  friend class THyperlinkControl;
  TRect fBoundsRect{};
  std::atomic<uint32_t> fFlags{3};
  TBaseHyperlink* fNext = nullptr;
  TBaseHyperlink* fPrev = nullptr;
  THyperlink* fParent = nullptr;
};

// An element with ordered children, a visual state (normal, hot, pressed), a hint and a cursor:
// the base of every interactive element.
class THyperlink : public TBaseHyperlink {
 public:
  THyperlink() = default;
  // Frees the children, first to last, then leaves the parent.
  ~THyperlink() override;
  const char* ClassName() const override { return "THyperlink"; }

  // Children from FirstChild up to StopAt (null: to the end), each visible one that meets the
  // clip box, in list order; clipped to the element with lfClipChildren.
  virtual void PaintChildren(TCanvas* Canvas, TBaseHyperlink* FirstChild, TBaseHyperlink* StopAt);
  virtual void SetEnabled(bool Value);
  virtual bool IsFocused();
  // For a pressed element with lfDragCapture while the mouse moves; true: the host takes the
  // point as the new drag origin.
  virtual bool DragMove(TPoint P, int DX, int DY) { return true; }
  // The state changed: the host hears of it, then the element is invalidated.
  virtual void Changed();
  virtual void MouseDown(int X, int Y) {}
  virtual void GetHint(WideString& Hint) { Hint = fHint; }
  virtual void SetClickable(bool Value) { SetFlag(lfClickable, Value); }
  // Language change: every child that is a THyperlink applies its texts.
  virtual void ApplyTexts();
  virtual bool GetDragData(TDataObject* DataObject, TBitmap* Bitmap, bool& AllowSelfDrop) { return false; }
  virtual void EndDrag() { Invalidate(); }
  virtual bool AcceptsLink(TBaseHyperlink* Link) { return true; }
  virtual void RemoveLink(TBaseHyperlink* Link);
  // Cuts the run FromLink..ToLink out of the children; FreeThem frees it (1001 or more elements
  // on the host's link-free thread).
  virtual void FreeLinks(TBaseHyperlink* FromLink, TBaseHyperlink* ToLink, bool FreeThem);
  // The topmost visible child under P (P in the element's client coordinates); with ClipToClient
  // null when P lies outside the element's own client area.
  virtual TBaseHyperlink* LinkAtPoint(TPoint P, bool ClipToClient);
  // A click on Link bubbles up to the root.
  virtual void LinkClicked(THyperlink* Link);

  bool HitTest(TPoint P) override;
  void VisibilityChanged() override;
  void Attached() override;
  void Detached() override;
  void Paint(TCanvas* Canvas) override;
  void Realign() override;

  uint8_t State() const { return fState; }
  // Stores the state and calls Changed when it differs.
  void SetState(uint8_t Value);
  const WideString& Hint() const { return fHint; }
  void SetHint(const WideString& Value);
  TCursor Cursor() const { return fCursor; }
  void SetCursor(TCursor Value) { fCursor = Value; }
  int Tag() const { return fTag; }
  void SetTag(int Value) { fTag = Value; }
  void SetClipChildren(bool Value) { SetFlag(lfClipChildren, Value); }
  TBaseHyperlink* FirstChild() const { return fFirstChild; }
  TBaseHyperlink* LastChild() const { return fLastChild; }
  int ChildCount() const { return fChildCount; }
  // A focus rectangle on BoundsRect when the element has the focus and keyboard cues show.
  void DrawFocusRect(TCanvas* Canvas);

  // Inserts Link (or a chain linked through Next) at its ordered place; asserts on a null link
  // ("Assertion failure"), a foreign parent ("NewLink.fParent = nil") and an insertion from
  // within an insertion ("Illegal recursive insertion"). A child of this element is left alone.
  void InsertLink(TBaseHyperlink* Link);
  void AddLinks(std::initializer_list<TBaseHyperlink*> Links);
  void RemoveLinks(std::initializer_list<TBaseHyperlink*> Links);
  // Frees every child.
  void ClearLinks();
  // The child at Index, walking from the nearer of the hint (at HintIndex) and the two ends.
  TBaseHyperlink* LinkByIndex(int Index, TBaseHyperlink* Hint, int HintIndex);
  // The number of elements before Link in its chain; -1 for null.
  static int ChainLength(TBaseHyperlink* Link);
  // Repaints R (null: the control rectangle), cut to the visible rectangle, at once through the
  // host's buffered painting, painting only this element.
  void RepaintNow(const TRect* R = nullptr);

 protected:
  uint8_t fState = hsNormal;
  WideString fHint;
  TCursor fCursor = crDefault;
  int fTag = 0;
  int fData = 0;  // for descendants
  TBaseHyperlink* fFirstChild = nullptr;
  TBaseHyperlink* fLastChild = nullptr;
  int fChildCount = 0;
};

template <class T>
T* TBaseHyperlink::FindParentOfClass() const {
  for (THyperlink* p = fParent; p; p = p->Parent())
    if (auto* t = dynamic_cast<T*>(p)) return t;
  return nullptr;
}

// Calls Callback for Root, then for each child in list order, recursing into THyperlinks
// (pre-order, depth first).
void VisitLinks(TBaseHyperlink* Root, void* Data, const std::function<void(TBaseHyperlink* Link, void* Data)>& Callback);

// ---------------------------------------------------------------------------------------------
// Element kinds

// An element driven by the host's animation timer, able to glide to a target rectangle.
class TAnimatedHyperlink : public THyperlink {
 public:
  TAnimatedHyperlink() = default;
  ~TAnimatedHyperlink() override;
  const char* ClassName() const override { return "TAnimatedHyperlink"; }
  // One frame of the element's own animation; false: nothing more to animate.
  virtual bool DoAnimate() { return false; }
  // One timer tick (glide step and DoAnimate); false takes the element off the timer.
  virtual bool AnimationStep();
  virtual void StartAnimation();
  virtual void StopAnimation();
  void SetBoundsRect(const TRect& R) override;
  void Attached() override;
  void Detached() override;

  int Interval() const { return fInterval; }
  void SetInterval(int Value) { fInterval = Value; }
  // 0: the timer repaints at once; 1: the timer invalidates; 2 or more: the element repaints itself.
  uint8_t RepaintMode() const { return fRepaintMode; }
  void SetRepaintMode(uint8_t Value) { fRepaintMode = Value; }
  bool Animating() const { return fAnimating; }
  void ClearAnimating() { fAnimating = false; }
  bool IsGliding() const { return fGlide != nullptr; }
  // Starts a glide from the current bounds to Target (one step per tick) and registers with the timer.
  void GlideTo(const TRect& Target);

 protected:
  struct TGlide {
    TRect Target;
    float X1, Y1, X2, Y2;
  };
  bool fAnimating = false;
  int fInterval = 100;
  std::unique_ptr<TGlide> fGlide;
  uint8_t fRepaintMode = 0;
};

// One glide step of a corner (X, Y) toward (TX, TY): a fifth of the distance, 2 pixels below 10,
// a snap when both axes are closer than 1.
void GlideStep(float& X, float& Y, int TX, int TY);

// A container's align kind is one of the class library's alTop, alBottom and alClient.

// An aligned panel element (top, bottom or client) with an optional vertical scroll bar. The
// host's root is one.
class THyperlinkContainer : public TAnimatedHyperlink {
 public:
  THyperlinkContainer(uint8_t AlignKind, bool HasScrollBar, int Height);
  ~THyperlinkContainer() override;
  const char* ClassName() const override { return "THyperlinkContainer"; }
  virtual void BeforeScroll() {}
  virtual void DoScroll();
  // The panel height of a top or bottom container; a change realigns.
  virtual void SetHeight(int Value);

  void SetBoundsRect(const TRect& R) override;
  void SetVisible(bool V) override;
  void Attached() override;
  void Detached() override;
  bool ShouldFollow(TBaseHyperlink* Other) override;
  void Realign() override;
  void GetClientOrigin(TPoint& P) override;
  bool AnimationStep() override;

  uint8_t AlignKind() const { return fAlignKind; }
  int Height() const { return fHeight; }
  int SortOrder() const { return fSortOrder; }
  void SetSortOrder(int Value) { fSortOrder = Value; }
  bool ShowSeparator() const { return fShowSeparator; }
  void SetShowSeparator(bool Value) { fShowSeparator = Value; }
  int ExtraHeight() const { return fExtraHeight; }
  void SetExtraHeight(int Value) { fExtraHeight = Value; }
  int ScrollPos() const { return fScrollPos; }
  // Scrolls to Value (clamped to the range).
  void SetScrollPos(int Value);
  TScrollBar* ScrollBar() const { return fScrollBar.get(); }
  // The scroll bar is shown and its range exceeds its page.
  bool CanScroll() const;
  int ContentHeight() const { return fContentHeight; }
  void SetNoBlit(bool Value) { fNoBlit = Value; }
  void SetReserveScrollBar(bool Value) { fReserveScrollBar = Value; }
  std::function<void(TObject* Sender)> OnScroll;

 protected:
  void Layout();
  void ScrollTo(int Position);
  std::unique_ptr<TScrollBar> fScrollBar;
  uint8_t fAlignKind;
  int fHeight;
  int fSortOrder = 0;
  bool fShowSeparator = true;
  bool fNoScrollBarUpdate = false;
  int fExtraHeight = 0;
  int fScrollPos = 0;
  int fScrollRange = 0;
  bool fNoBlit = false;
  bool fReserveScrollBar = false;
  int fContentHeight = 0;
};

// The root of a host's tree: a client container that knows its host.
class TRootContainer : public THyperlinkContainer {
 public:
  explicit TRootContainer(THyperlinkControl* Control);
  const char* ClassName() const override { return "TRootContainer"; }
  THyperlinkControl* GetControl() override { return fControl; }

 private:
  THyperlinkControl* fControl;
};

// An element standing for a real window control.
class TControlHyperlink : public TAnimatedHyperlink {
 public:
  TControlHyperlink() = default;
  const char* ClassName() const override { return "TControlHyperlink"; }
  bool IsFocused() override;
  // Pressed: the wrapped control takes the focus and a check box is toggled.
  void Changed() override;
  TWinControl* Control() const { return fControl; }
  void SetControl(TWinControl* Value) { fControl = Value; }

 protected:
  TWinControl* fControl = nullptr;
};

// A button drawn from a skin image or a strip of three frames (normal, hot, pressed) through the
// image cache, or from an own bitmap. Its size is always the image's.
class TBitmapHyperlink : public TControlHyperlink {
 public:
  // A single image.
  TBitmapHyperlink(uint32_t ImageId, int Tag);
  // A three-frame strip; Height below 1 means the image's height. Clickable.
  TBitmapHyperlink(uint32_t ImageId, int Height, int SrcOffset, int Tag);
  ~TBitmapHyperlink() override;
  const char* ClassName() const override { return "TBitmapHyperlink"; }
  virtual void GetImageSize(TPoint& Size);
  void SetBoundsRect(const TRect& R) override;
  void Paint(TCanvas* Canvas) override;

  uint32_t ImageId() const { return fImageId; }
  void SetImageId(uint32_t Value) { fImageId = Value; }
  int SrcOffset() const { return fSrcOffset; }
  void SetSrcOffset(int Value) { fSrcOffset = Value; }
  bool ThreeFrames() const { return fThreeFrames; }
  // Takes ownership of an own bitmap drawn instead of the cached image (32-bit premultiplied).
  void SetBitmap(TBitmap* Value);
  TBitmap* Bitmap() const { return fBitmap.get(); }
  // Where the frame comes from and how strongly it is drawn (what Paint uses).
  int FrameSourceX();
  uint8_t FrameAlpha() const { return IsEnabled() ? 255 : 90; }

 protected:
  std::unique_ptr<TBitmap> fBitmap;
  uint32_t fImageId;
  int fSrcOffset = 0;
  int fFrameHeight = 0;
  bool fThreeFrames = false;
};

// ---------------------------------------------------------------------------------------------
// The host control

enum TBackgroundStyle : uint8_t {
  bsSolidColor, bsOwner, bsSmallWatermark, bsLargeWatermark, bsSharedBackground, bsGradient
};
enum TBackgroundTranslucency : uint8_t { bt100Percent, bt65Percent, bt20Percent };
// EdgeBorders bits.
using TEdgeBorders = uint8_t;
constexpr TEdgeBorders ebLeft = 1, ebTop = 2, ebRight = 4, ebBottom = 8;

// Private messages of the host window.
constexpr uint32_t HCM_SETHEIGHT = 9126;
constexpr uint32_t HCM_UPDATEHOVER = 9127;
constexpr uint32_t HCM_FREETHREAD = 9128;
constexpr uint32_t HCM_RESORT = 9129;

class TLinkFreeThread;

// The window that hosts an element tree.
class THyperlinkControl : public TDragDropControl {
 public:
  explicit THyperlinkControl(TComponent* AOwner);
  ~THyperlinkControl() override;
  const char* ClassName() const override { return "THyperlinkControl"; }

  // Threads: user-interface thread for everything below.
  virtual bool CancelHintOnChange() { return true; }
  // Hover and hot-link tracking at P (client coordinates).
  virtual void UpdateHotLink(TPoint P);
  // Places the elements; the default realigns the root.
  virtual void RealignRoot();
  virtual void LinkVisibilityChanged(TBaseHyperlink* Link) {}
  virtual void LinkStateChanged(THyperlink* Link) {}
  // Paints the background of Rect (client coordinates) on Canvas.
  virtual void PaintCopy(TCanvas* Canvas, const TRect& Rect);
  virtual void GetExcludedRect(TRect& R) { R = TRect{}; }
  virtual bool HasExcludedRect() { return false; }
  virtual bool WantsEraseBackground() { return false; }
  // Fires OnLinkClick with lfInClick set on Link, then re-evaluates the hover.
  virtual void DoLinkClick(THyperlink* Link);
  using TBufferedPaintProc = std::function<void(void* Data, TCanvas* Canvas)>;
  // Paints R: background and PaintProc, through an off-screen buffer copied to DC (null: the window's).
  virtual void BufferedPaint(TRect R, void* DC, const TBufferedPaintProc& PaintProc, void* Data);
  // RealignRoot and a hover update when the window is ready.
  virtual void Relayout();
  virtual void ApplyTexts();

  void RequestHoverUpdate();
  void UpdateHoverFromCursor();
  void AddAnimated(TAnimatedHyperlink* Element);
  void RemoveAnimated(TAnimatedHyperlink* Element);
  // Waits for the previous link-free thread, then frees the chain at FirstLink on a new one.
  void FreeLinksAsync(TBaseHyperlink* FirstLink);
  void ForgetLink(TBaseHyperlink* Link);
  void PaintTo(TCanvas* Canvas);
  // The handle exists and the control is not loading, reading or being destroyed.
  bool WindowReady();
  bool Destroying() const { return fDestroying; }
  // The tree as painted on a canvas whose origin is the host's client origin.
  void PaintRoot(TCanvas* Canvas) { fRoot->Paint(Canvas); }

  TRootContainer* Root() const { return fRoot.get(); }
  TBaseHyperlink* HoverLink() const { return fHoverLink; }
  THyperlink* HotLink() const { return fHotLink; }
  THyperlink* FocusedLink() const { return fFocusedLink; }
  void SetFocusedLink(THyperlink* Value);
  TBackgroundStyle BackgroundStyle() const { return fBackgroundStyle; }
  void SetBackgroundStyle(TBackgroundStyle Value);
  TBackgroundTranslucency BackgroundTranslucency() const { return fBackgroundTranslucency; }
  void SetBackgroundTranslucency(TBackgroundTranslucency Value);
  TColor BorderColor() const { return fBorderColor; }
  void SetBorderColor(TColor Value);
  TEdgeBorders EdgeBorders() const { return fEdgeBorders; }
  void SetEdgeBorders(TEdgeBorders Value);
  TColor Color() const { return fColor; }
  void SetColor(TColor Value);
  int TopMargin() const { return fTopMargin; }
  void SetTopMargin(int Value);
  int BottomMargin() const { return fBottomMargin; }
  void SetBottomMargin(int Value);
  const TRect& Inset() const { return fInset; }
  void SetInset(const TRect& Value);
  TCursor DefaultCursor() const { return fDefaultCursor; }
  void SetDefaultCursor(TCursor Value);
  WideString Hint();
  void SetHint(const WideString& Value);
  bool KeyboardCuesHidden() const { return (fUIState & UISF_HIDEFOCUS) != 0; }
  int BaseInterval() const { return fBaseInterval; }
  bool TimerRunning() const { return fTimerRunning; }
  int AnimatedCount();
  bool DoubleBuffered() const { return fDoubleBuffered; }
  void SetDoubleBuffered(bool Value) { fDoubleBuffered = Value; }
  TLinkFreeThread* FreeThread() const { return fFreeThread; }

  std::function<void(TObject* Sender, THyperlink* Link)> OnLinkClick;

  // The largest multiple of 10 ms up to 1000 that divides every interval; 10 when none does.
  static int ComputeBaseInterval(const std::vector<int>& Intervals);

 protected:
  void CreateParams(TCreateParams& Params) override;
  void CreateHandle() override;
  void WndProc(TMessage& Message) override;
  void Paint(HDC DC) override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  bool DoMouseWheel(TShiftState Shift, int WheelDelta, POINT MousePos) override;
  void Resize() override;
  bool GetDragData(TDataObject* DataObject, TBitmap* Bitmap, bool& AllowSelfDrop) override;
  void EndDrag() override;
  void DragOver(DWORD KeyState, POINT Point, DWORD& Effect) override;
  void DragLeave() override;
  void Drop(IDataObject* DataObject, DWORD& Effect, POINT Point) override;

 private:
  friend class TLinkFreeThread;
  friend class THyperlink;
  void WMPaint(TMessage& Message);
  void WMEraseBkgnd(TMessage& Message);
  void Tick();
  void SetBase();
  void ResortPass();
  void FreeBuffer();

  TPoint fDragOrigin{-1, -1};
  TBaseHyperlink* fHoverLink = nullptr;
  THyperlink* fHotLink = nullptr;
  std::vector<TAnimatedHyperlink*> fAnimated;  // sorted by identity
  TBackgroundStyle fBackgroundStyle = bsSolidColor;
  TEdgeBorders fEdgeBorders = 0;
  int fTopMargin = 0;
  int fBottomMargin = 0;
  int fPendingHeight = 0;
  int fBaseInterval = 0;
  uint32_t fTickCount = 0;
  THyperlink* fLastClickLink = nullptr;
  uint32_t fLastClickTime = 0;
  bool fHoverUpdatePosted = false;
  TRect fInset{};
  TBackgroundTranslucency fBackgroundTranslucency = bt100Percent;
  TCursor fDefaultCursor = crDefault;
  std::unique_ptr<TMutex> fLock;
  std::unique_ptr<TRootContainer> fRoot;
  TColor fBorderColor = 0xAEB9BD;
  TColor fColor;
  THyperlink* fFocusedLink = nullptr;
  TLinkFreeThread* fFreeThread = nullptr;
  std::vector<TBaseHyperlink*> fResortList;
  bool fResortPending = false;
  TPoint fLastMousePoint{};
  uint32_t fLastMouseTime = 0;
  uint32_t fUIState = 0;
  bool fDoubleBuffered = true;
  void* fBufferDC = nullptr;  // the off-screen buffer of BufferedPaint
  void* fBuffer = nullptr;
  void* fOldBuffer = nullptr;
  TPoint fBufferSize{0, 0};
  bool fTimerRunning = false;
  bool fDestroying = false;
  bool fTracking = false;
  WideString fHint;
};

// Frees a detached chain (linked through Next) off the user-interface thread, then tells its host.
class TLinkFreeThread : public TExThread {
 public:
  TLinkFreeThread(THyperlinkControl* Control, TBaseHyperlink* FirstLink);
  const char* ClassName() const override { return "TLinkFreeThread"; }

 protected:
  void Execute() override;

 private:
  THyperlinkControl* fControl;
  void* fWnd;
  TBaseHyperlink* fFirstLink;
};
