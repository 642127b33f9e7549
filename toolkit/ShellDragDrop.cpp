#include "toolkit/ShellDragDrop.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "classlib/Forms.h"
#include "classlib/SysUtils.h"

uint16_t CF_FileGroupDescriptorW = 0;
uint16_t CF_FileContents = 0;

namespace {
constexpr DWORD kEffectNone = DROPEFFECT_NONE;
constexpr DWORD kEffectMove = DROPEFFECT_MOVE;
int gOleStarted = 0;

bool IsNt5OrLater() {
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&v)) return false;
#pragma GCC diagnostic pop
  return v.dwMajorVersion >= 5;
}

HGLOBAL CopyGlobal(HGLOBAL Source) {
  SIZE_T size = GlobalSize(Source);
  const void* src = GlobalLock(Source);
  if (!src) return nullptr;
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size ? size : 1);
  void* dst = copy ? GlobalLock(copy) : nullptr;
  if (dst) {
    std::memcpy(dst, src, size);
    GlobalUnlock(copy);
  } else if (copy) {
    GlobalFree(copy);
    copy = nullptr;
  }
  GlobalUnlock(Source);
  return copy;
}

void FreeFormatEtc(FORMATETC& F) {
  if (F.ptd) CoTaskMemFree(F.ptd);
  F.ptd = nullptr;
}

// Target devices are equal when both are missing or their bytes are.
bool SameDevice(const DVTARGETDEVICE* A, const DVTARGETDEVICE* B) {
  if (!A || !B) return A == B;
  return A->tdSize == B->tdSize && std::memcmp(A, B, A->tdSize) == 0;
}
}  // namespace

// ---------------------------------------------------------------------------------------------

FORMATETC CopyFormatEtc(const FORMATETC& Source) {
  FORMATETC f = Source;
  f.ptd = nullptr;
  if (Source.ptd && Source.ptd->tdSize >= sizeof(DVTARGETDEVICE) - sizeof(BYTE)) {
    f.ptd = static_cast<DVTARGETDEVICE*>(CoTaskMemAlloc(Source.ptd->tdSize));
    if (f.ptd) std::memcpy(f.ptd, Source.ptd, Source.ptd->tdSize);
  }
  return f;
}

HRESULT CopyStgMedium(const STGMEDIUM& Source, CLIPFORMAT Format, STGMEDIUM& Dest) {
  Dest = STGMEDIUM{};
  Dest.tymed = Source.tymed;
  switch (Source.tymed) {
    case TYMED_NULL: return S_OK;
    case TYMED_HGLOBAL:
      Dest.hGlobal = CopyGlobal(Source.hGlobal);
      if (!Dest.hGlobal) break;
      return S_OK;
    case TYMED_FILE: {
      if (!Source.lpszFileName) return S_OK;
      size_t bytes = (wcslen(Source.lpszFileName) + 1) * sizeof(wchar_t);
      Dest.lpszFileName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
      if (!Dest.lpszFileName) break;
      std::memcpy(Dest.lpszFileName, Source.lpszFileName, bytes);
      return S_OK;
    }
    case TYMED_ISTREAM:
      Dest.pstm = Source.pstm;
      if (Dest.pstm) Dest.pstm->AddRef();
      return S_OK;
    case TYMED_ISTORAGE:
      Dest.pstg = Source.pstg;
      if (Dest.pstg) Dest.pstg->AddRef();
      return S_OK;
    case TYMED_GDI:
      Dest.hBitmap = static_cast<HBITMAP>(OleDuplicateData(Source.hBitmap, Format == CF_PALETTE ? CF_PALETTE : CF_BITMAP, 0));
      if (!Dest.hBitmap) break;
      return S_OK;
    case TYMED_MFPICT:
      Dest.hMetaFilePict = OleDuplicateData(Source.hMetaFilePict, CF_METAFILEPICT, 0);
      if (!Dest.hMetaFilePict) break;
      return S_OK;
    case TYMED_ENHMF:
      Dest.hEnhMetaFile = CopyEnhMetaFileW(Source.hEnhMetaFile, nullptr);
      if (!Dest.hEnhMetaFile) break;
      return S_OK;
    default: Dest.tymed = TYMED_NULL; return DV_E_TYMED;
  }
  Dest = STGMEDIUM{};
  return E_OUTOFMEMORY;
}

TUniStringList* GetDroppedFiles(HDROP Drop) {
  auto list = std::make_unique<TUniStringList>();
  UINT count = DragQueryFileW(Drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    // The name's length first, so that a name of any length arrives whole.
    UINT len = DragQueryFileW(Drop, i, nullptr, 0);
    std::wstring name(len + 1, L'\0');
    UINT got = DragQueryFileW(Drop, i, name.data(), len + 1);
    name.resize(std::min(got, len));
    list->Add(name);
  }
  return list.release();
}

// ---------------------------------------------------------------------------------------------

THGlobalStream::THGlobalStream(HGLOBAL Handle) { Lock(Handle); }

THGlobalStream::THGlobalStream(const STGMEDIUM& Medium) : FMedium(Medium), FOwnsMedium(true) {
  Lock(Medium.tymed == TYMED_HGLOBAL ? Medium.hGlobal : nullptr);
}

void THGlobalStream::Lock(HGLOBAL Handle) {
  void* p = Handle ? GlobalLock(Handle) : nullptr;
  if (p) FHandle = Handle;
  SetPointer(p, p ? (int64_t)GlobalSize(Handle) : 0);
}

THGlobalStream::~THGlobalStream() {
  if (FHandle) GlobalUnlock(FHandle);
  if (FOwnsMedium) ReleaseStgMedium(&FMedium);
}

int32_t THGlobalStream::Write(const void*, int32_t) {
  AssertFailed("THGlobalStream doesn't support writing", __FILE__, __LINE__);
}

void THGlobalStream::SetSize(int64_t) { AssertFailed("THGlobalStream doesn't support writing", __FILE__, __LINE__); }

// ---------------------------------------------------------------------------------------------

TEnumFormatEtc::TEnumFormatEtc(const std::vector<FORMATETC>& Formats, ULONG Cursor) : FCursor(Cursor) {
  FFormats.reserve(Formats.size());
  for (const FORMATETC& f : Formats) FFormats.push_back(CopyFormatEtc(f));
}

TEnumFormatEtc::~TEnumFormatEtc() {
  for (FORMATETC& f : FFormats) FreeFormatEtc(f);
}

HRESULT TEnumFormatEtc::Next(ULONG Count, FORMATETC* Array, ULONG* Fetched) {
  if (Fetched) *Fetched = 0;
  if (Count < 1 || !Array || FCursor >= FFormats.size() || (Count != 1 && !Fetched)) return S_FALSE;
  ULONG n = 0;
  while (n < Count && FCursor < FFormats.size()) Array[n++] = CopyFormatEtc(FFormats[FCursor++]);
  if (Fetched) *Fetched = n;
  return n == Count ? S_OK : S_FALSE;
}

HRESULT TEnumFormatEtc::Skip(ULONG N) {
  ULONG left = (ULONG)FFormats.size() - std::min<ULONG>(FCursor, (ULONG)FFormats.size());
  FCursor += std::min(N, left);
  return N <= left ? S_OK : S_FALSE;
}

HRESULT TEnumFormatEtc::Reset() {
  FCursor = 0;
  return S_OK;
}

HRESULT TEnumFormatEtc::Clone(IEnumFORMATETC** Enum) {
  if (!Enum) return E_POINTER;
  try {
    *Enum = new TEnumFormatEtc(FFormats, FCursor);
    return S_OK;
  } catch (...) {
    *Enum = nullptr;
    return E_OUTOFMEMORY;
  }
}

// ---------------------------------------------------------------------------------------------

TDataObject::TDataObject() = default;

TDataObject::~TDataObject() {
  for (TDataObjectData& e : FEntries) {
    FreeFormatEtc(e.Format);
    ReleaseStgMedium(&e.Medium);
  }
}

HRESULT TDataObject::GetData(FORMATETC* Format, STGMEDIUM* Medium) {
  if (!Format || !Medium) return E_INVALIDARG;
  for (const TDataObjectData& e : FEntries) {
    if (e.Format.cfFormat != Format->cfFormat || !(e.Format.tymed & Format->tymed)) continue;
    if (Format->lindex != -1 && e.Format.lindex != Format->lindex) continue;
    if (Format->ptd && !SameDevice(e.Format.ptd, Format->ptd)) continue;
    return CopyStgMedium(e.Medium, e.Format.cfFormat, *Medium);
  }
  return DV_E_FORMATETC;
}

HRESULT TDataObject::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }

HRESULT TDataObject::QueryGetData(FORMATETC* Format) {
  if (!Format) return E_INVALIDARG;
  if (Format->dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (Format->lindex != -1) return DV_E_LINDEX;
  bool sharedMedium = false;
  for (const TDataObjectData& e : FEntries) {
    if (!(e.Format.tymed & Format->tymed)) continue;
    if (e.Format.cfFormat == Format->cfFormat) return S_OK;
    sharedMedium = true;
  }
  return sharedMedium ? DV_E_CLIPFORMAT : DV_E_TYMED;
}

HRESULT TDataObject::GetCanonicalFormatEtc(FORMATETC* In, FORMATETC* Out) {
  if (Out) {
    if (In) *Out = *In;
    Out->ptd = nullptr;
  }
  return DATA_S_SAMEFORMATETC;
}

HRESULT TDataObject::SetData(FORMATETC* Format, STGMEDIUM* Medium, BOOL Release) {
  if (!Format || !Medium) return E_INVALIDARG;
  try {
    TDataObjectData e{};
    if (Release) {
      e.Medium = *Medium;
    } else {
      HRESULT hr = CopyStgMedium(*Medium, Format->cfFormat, e.Medium);
      if (FAILED(hr)) return hr;
      e.Medium.pUnkForRelease = nullptr;
    }
    e.Format = CopyFormatEtc(*Format);
    try {
      FEntries.push_back(e);
    } catch (...) {
      FreeFormatEtc(e.Format);
      if (!Release) ReleaseStgMedium(&e.Medium);
      throw;
    }
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT TDataObject::EnumFormatEtc(DWORD Direction, IEnumFORMATETC** Enum) {
  if (!Enum) return E_POINTER;
  *Enum = nullptr;
  if (Direction != DATADIR_GET) return E_NOTIMPL;
  try {
    std::vector<FORMATETC> formats;
    for (const TDataObjectData& e : FEntries) formats.push_back(e.Format);
    *Enum = new TEnumFormatEtc(formats);
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT TDataObject::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) { return OLE_E_ADVISENOTSUPPORTED; }
HRESULT TDataObject::DUnadvise(DWORD) { return OLE_E_ADVISENOTSUPPORTED; }
HRESULT TDataObject::EnumDAdvise(IEnumSTATDATA**) { return OLE_E_ADVISENOTSUPPORTED; }

// ---------------------------------------------------------------------------------------------

HRESULT TDropSource::QueryContinueDrag(BOOL EscapePressed, DWORD KeyState) {
  if (EscapePressed) return DRAGDROP_S_CANCEL;
  if (!(KeyState & MK_LBUTTON)) return DRAGDROP_S_DROP;
  return S_OK;
}

HRESULT TDropSource::GiveFeedback(DWORD) { return DRAGDROP_S_USEDEFAULTCURSORS; }

// ---------------------------------------------------------------------------------------------

TDropTarget::TDropTarget(TDragDropControl* Control) : FControl(Control) { MakeHelper(); }

TDropTarget::~TDropTarget() {
  if (FHelper) FHelper->Release();
}

void TDropTarget::MakeHelper() {
  if (FHelper) return;
  void* p = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_DragDropHelper, nullptr, CLSCTX_INPROC_SERVER, IID_IDropTargetHelper, &p)))
    FHelper = static_cast<IDropTargetHelper*>(p);
}

POINT TDropTarget::ClientPoint(POINTL Point) const {
  POINT p{Point.x, Point.y};
  if (FControl && FControl->HandleAllocated()) ScreenToClient(static_cast<HWND>(FControl->Handle()), &p);
  return p;
}

// An exception of the control's ends the call with "no effect"; it goes to the application.
#define DROP_TARGET_GUARD_BEGIN try {
#define DROP_TARGET_GUARD_END                              \
  }                                                        \
  catch (...) {                                            \
    if (Effect) *Effect = kEffectNone;                     \
    if (Application) {                                     \
      try {                                                \
        Application->HandleException(FControl);            \
      } catch (...) {                                      \
      }                                                    \
    }                                                      \
    return E_UNEXPECTED;                                   \
  }

HRESULT TDropTarget::DragEnter(IDataObject* DataObject, DWORD KeyState, POINTL Point, DWORD* Effect) {
  if (!Effect) return E_INVALIDARG;
  DROP_TARGET_GUARD_BEGIN
  MakeHelper();
  if (FHelper && FControl) {
    POINT p{Point.x, Point.y};
    FHelper->DragEnter(static_cast<HWND>(FControl->Handle()), DataObject, &p, *Effect);
  }
  if (FSelfDrop || !FControl) {
    *Effect = kEffectNone;
    return S_OK;
  }
  FControl->DragEnter(DataObject, *Effect, ClientPoint(Point));
  return S_OK;
  DROP_TARGET_GUARD_END
}

HRESULT TDropTarget::DragOver(DWORD KeyState, POINTL Point, DWORD* Effect) {
  if (!Effect) return E_INVALIDARG;
  DROP_TARGET_GUARD_BEGIN
  if (FHelper) {
    POINT p{Point.x, Point.y};
    FHelper->DragOver(&p, *Effect);
  }
  if (FSelfDrop || !FControl) {
    *Effect = kEffectNone;
    return S_OK;
  }
  FControl->DragOver(KeyState, ClientPoint(Point), *Effect);
  return S_OK;
  DROP_TARGET_GUARD_END
}

HRESULT TDropTarget::DragLeave() {
  DWORD* Effect = nullptr;
  DROP_TARGET_GUARD_BEGIN
  if (FHelper) FHelper->DragLeave();
  if (!FSelfDrop && FControl) FControl->DragLeave();
  FFormat = 0;
  return S_OK;
  DROP_TARGET_GUARD_END
}

HRESULT TDropTarget::Drop(IDataObject* DataObject, DWORD KeyState, POINTL Point, DWORD* Effect) {
  if (!Effect) return E_INVALIDARG;
  DROP_TARGET_GUARD_BEGIN
  if (FHelper) {
    POINT p{Point.x, Point.y};
    FHelper->Drop(DataObject, &p, *Effect);
  }
  if (FSelfDrop || !FControl) {
    *Effect = kEffectNone;
    FFormat = 0;
    return S_OK;
  }
  try {
    FControl->Drop(DataObject, *Effect, ClientPoint(Point));
  } catch (...) {
    FFormat = 0;
    throw;
  }
  FFormat = 0;
  return S_OK;
  DROP_TARGET_GUARD_END
}

#undef DROP_TARGET_GUARD_BEGIN
#undef DROP_TARGET_GUARD_END

// ---------------------------------------------------------------------------------------------

TDragDropControl::TDragDropControl(TComponent* AOwner) : TCustomControl(AOwner) {}

TDragDropControl::~TDragDropControl() {
  // The window goes here, while the control is still whole, so that its drop target is revoked.
  if (HandleAllocated()) DestroyHandle();
  if (FDropTarget) {
    FDropTarget->Detach();
    FDropTarget->Release();
    FDropTarget = nullptr;
  }
}

bool TDragDropControl::AcceptsFormat(uint16_t Format) {
  for (int i = 0;; ++i) {
    uint16_t f = GetAcceptedFormat(i);
    if (f == 0) return false;
    if (f == Format) return true;
  }
}

void TDragDropControl::CreateWnd() {
  // The accepted formats are asked for here rather than in the constructor, where a descendant's
  // answer could not be reached yet.
  if (!FDropTarget && GetAcceptedFormat(0) != 0 && IsNt5OrLater()) FDropTarget = new TDropTarget(this);
  TCustomControl::CreateWnd();
  HWND h = static_cast<HWND>(Handle());
  if (FDropTarget) RegisterDragDrop(h, FDropTarget);
  else if (AcceptsFormat(CF_HDROP)) DragAcceptFiles(h, TRUE);
}

void TDragDropControl::DestroyWnd() {
  if (FDropTarget && HandleAllocated()) RevokeDragDrop(static_cast<HWND>(Handle()));
  TCustomControl::DestroyWnd();
}

void TDragDropControl::DragEnter(IDataObject* DataObject, DWORD& Effect, POINT) {
  for (int i = 0; FDropTarget && DataObject; ++i) {
    uint16_t f = GetAcceptedFormat(i);
    if (f == 0) break;
    FORMATETC fe{f, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    if (DataObject->QueryGetData(&fe) == S_OK) {
      FDropTarget->SetFormat(f);
      Effect = kEffectMove;
      Invalidate();
      return;
    }
  }
  Effect = kEffectNone;
}

void TDragDropControl::DragOver(DWORD, POINT, DWORD& Effect) { Effect = IsDragging() ? kEffectMove : kEffectNone; }

void TDragDropControl::DragLeave() { Invalidate(); }

void TDragDropControl::Drop(IDataObject* DataObject, DWORD& Effect, POINT Point) {
  if (IsDragging() && DataObject) {
    uint16_t format = FDropTarget->Format();
    FORMATETC fe{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (DataObject->GetData(&fe, &medium) == S_OK) {
      try {
        DropData(format, medium.hGlobal, Point);
      } catch (...) {
        ReleaseStgMedium(&medium);
        FDropTarget->SetFormat(0);
        throw;
      }
      ReleaseStgMedium(&medium);
    }
  }
  if (FDropTarget) FDropTarget->SetFormat(0);
  Effect = kEffectNone;
}

void TDragDropControl::DropData(uint16_t Format, HGLOBAL Handle, POINT Point) {
  if (Format == CF_HDROP) {
    std::unique_ptr<TUniStringList> files(GetDroppedFiles(static_cast<HDROP>(Handle)));
    DropFiles(files.get(), Point);
    return;
  }
  THGlobalStream stream(Handle);
  DropStream(Format, Point, &stream);
}

bool TDragDropControl::CanPaste() {
  for (int i = 0;; ++i) {
    uint16_t f = GetAcceptedFormat(i);
    if (f == 0) return false;
    if (IsClipboardFormatAvailable(f)) return true;
  }
}

void TDragDropControl::Paste() {
  if (!OpenClipboard(HandleAllocated() ? static_cast<HWND>(Handle()) : nullptr)) return;
  try {
    for (int i = 0;; ++i) {
      uint16_t f = GetAcceptedFormat(i);
      if (f == 0) break;
      if (!IsClipboardFormatAvailable(f)) continue;
      if (HANDLE h = GetClipboardData(f)) DropData(f, static_cast<HGLOBAL>(h), POINT{0, 0});
      break;
    }
  } catch (...) {
    CloseClipboard();
    throw;
  }
  CloseClipboard();
}

void TDragDropControl::WndProc(TMessage& Message) {
  if (Message.Msg == WM_DROPFILES) {
    HDROP drop = reinterpret_cast<HDROP>(Message.WParam);
    POINT p{0, 0};
    DragQueryPoint(drop, &p);
    try {
      std::unique_ptr<TUniStringList> files(GetDroppedFiles(drop));
      DropFiles(files.get(), p);
    } catch (...) {
      DragFinish(drop);
      throw;
    }
    DragFinish(drop);
    Message.Result = 0;
    return;
  }
  TCustomControl::WndProc(Message);
}

void TDragDropControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TCustomControl::MouseDown(Button, Shift, X, Y);
  SetMouseCapture(true);
  FDragStarted = false;
  FMouseDownPoint = POINT{X, Y};
}

void TDragDropControl::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TCustomControl::MouseUp(Button, Shift, X, Y);
  SetMouseCapture(false);
  FMouseDownPoint = POINT{-1, -1};
}

void TDragDropControl::MouseMove(TShiftState Shift, int X, int Y) {
  TCustomControl::MouseMove(Shift, X, Y);
  if (FDragStarted || FMouseDownPoint.x == -1 || FMouseDownPoint.y == -1) return;
  int threshold = Mouse ? Mouse->DragThreshold() : 5;
  if (std::abs(X - FMouseDownPoint.x) < threshold && std::abs(Y - FMouseDownPoint.y) < threshold) return;
  // One press starts at most one drag attempt.
  FDragStarted = true;
  StartDrag();
}

void TDragDropControl::StartDrag() {
  TDataObject* data = new TDataObject;
  struct Releaser {
    IUnknown* Object;
    ~Releaser() { Object->Release(); }
  } releaseData{data};
  TBitmap bitmap;
  bool allowSelfDrop = true;
  if (!GetDragData(data, &bitmap, allowSelfDrop)) return;
  if (!bitmap.Empty()) {
    void* p = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_DragDropHelper, nullptr, CLSCTX_INPROC_SERVER, IID_IDragSourceHelper, &p))) {
      auto* helper = static_cast<IDragSourceHelper*>(p);
      SHDRAGIMAGE image{};
      image.sizeDragImage = SIZE{bitmap.Width(), bitmap.Height()};
      image.ptOffset = POINT{std::clamp<LONG>(FMouseDownPoint.x, 0, bitmap.Width()),
                             std::clamp<LONG>(FMouseDownPoint.y, 0, bitmap.Height())};
      image.crColorKey = (COLORREF)ColorToRGB(bitmap.TransparentColor());
      bitmap.ReleaseContext();
      image.hbmpDragImage = static_cast<HBITMAP>(bitmap.Handle());
      // The helper owns the bitmap once it took it.
      if (SUCCEEDED(helper->InitializeFromBitmap(&image, data))) bitmap.ReleaseHandle();
      helper->Release();
    }
  }
  bool selfDrop = !allowSelfDrop && FDropTarget;
  if (selfDrop) FDropTarget->SetSelfDrop(true);
  auto* source = new TDropSource;
  DWORD effect = kEffectNone;
  try {
    DoDragDrop(data, source, DROPEFFECT_COPY | DROPEFFECT_MOVE, &effect);
  } catch (...) {
    source->Release();
    if (selfDrop) FDropTarget->SetSelfDrop(false);
    throw;
  }
  source->Release();
  if (selfDrop) FDropTarget->SetSelfDrop(false);
  EndDrag();
}

// ---------------------------------------------------------------------------------------------

void ShellDragDropInitialize() {
  if (gOleStarted++ == 0) {
    OleInitialize(nullptr);
    CF_FileGroupDescriptorW = (uint16_t)RegisterClipboardFormatA("FileGroupDescriptorW");
    CF_FileContents = (uint16_t)RegisterClipboardFormatA("FileContents");
  }
}

void ShellDragDropFinalize() {
  if (gOleStarted > 0 && --gOleStarted == 0) OleUninitialize();
}
