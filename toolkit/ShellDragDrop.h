// Drag and drop for custom controls: a control that can be an OLE drag source and an OLE or shell
// drop target, and paste from the clipboard in the same formats. A descendant names the clipboard
// formats it accepts (GetAcceptedFormat); files arrive as a wide string list (DropFiles), other
// formats as a read-only stream over the dropped global memory (DropStream). Points handed to the
// drag and drop operations are in the control's client coordinates.
#pragma once
#include <cstdint>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/StdCtrls.h"
#include "classlib/WinApi.h"
#include "unicode/UniClasses.h"

#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>

class TDragDropControl;

// Clipboard formats registered at start-up for descendants: "FileGroupDescriptorW" and
// "FileContents".
extern uint16_t CF_FileGroupDescriptorW;
extern uint16_t CF_FileContents;

// A read-only stream over locked global memory (its size is GlobalSize). Freeing it unlocks the
// memory, and releases the medium when it was made over one. Writing is an assertion failure.
class THGlobalStream : public TCustomMemoryStream {
 public:
  // Over a handle that stays the caller's.
  explicit THGlobalStream(HGLOBAL Handle);
  // Over a medium of TYMED_HGLOBAL that the stream takes and releases.
  explicit THGlobalStream(const STGMEDIUM& Medium);
  ~THGlobalStream() override;
  const char* ClassName() const override { return "THGlobalStream"; }
  int32_t Write(const void* Buffer, int32_t Count) override;
  void SetSize(int64_t NewSize) override;

 private:
  void Lock(HGLOBAL Handle);
  HGLOBAL FHandle = nullptr;
  STGMEDIUM FMedium{};
  bool FOwnsMedium = false;
};

// A copy of a medium for another owner: global memory, files and GDI handles are duplicated,
// streams and storages get another reference. The copy has no release object.
HRESULT CopyStgMedium(const STGMEDIUM& Source, CLIPFORMAT Format, STGMEDIUM& Dest);
// A deep copy of a format description (its target device in memory of CoTaskMemAlloc).
FORMATETC CopyFormatEtc(const FORMATETC& Source);

// Every file of a drop handle, names of any length whole. The caller frees the list.
// Threads: any.
TUniStringList* GetDroppedFiles(HDROP Drop);

// IUnknown of a reference-counted object with the one interface I, whose id is Iid: made with one
// reference, which the maker releases; freed at its last release. Threads: any.
template <class I, const IID& Iid>
class TComObject : public I {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, Iid)) {
      *ppv = static_cast<I*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)InterlockedIncrement(&FRefCount); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = InterlockedDecrement(&FRefCount);
    if (n == 0) delete this;
    return (ULONG)n;
  }

 protected:
  virtual ~TComObject() = default;

 private:
  LONG FRefCount = 1;
};

// The formats of a data object: a snapshot of their descriptions and a cursor.
class TEnumFormatEtc : public TComObject<IEnumFORMATETC, IID_IEnumFORMATETC> {
 public:
  // Threads: any (one at a time, as COM calls it).
  explicit TEnumFormatEtc(const std::vector<FORMATETC>& Formats, ULONG Cursor = 0);
  virtual ~TEnumFormatEtc();
  // Copies up to Count entries; S_OK only when all Count were copied, S_FALSE otherwise
  // (Fetched says how many).
  HRESULT STDMETHODCALLTYPE Next(ULONG Count, FORMATETC* Array, ULONG* Fetched) override;
  // S_OK when N entries were skipped, S_FALSE when the end came first (the cursor stays there).
  HRESULT STDMETHODCALLTYPE Skip(ULONG N) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumFORMATETC** Enum) override;

 private:
  std::vector<FORMATETC> FFormats;
  ULONG FCursor;
};

// A data object over a list of entries, each a format description and its medium.
class TDataObject : public TComObject<IDataObject, IID_IDataObject> {
 public:
  // Made with one reference, which the maker releases.
  // Threads: any (one at a time, as COM calls it).
  TDataObject();
  virtual ~TDataObject();
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* Format, STGMEDIUM* Medium) override;
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* Format, STGMEDIUM* Medium) override;
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* Format) override;
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC* In, FORMATETC* Out) override;
  // Adds an entry; without Release the caller keeps the medium and a copy is stored.
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC* Format, STGMEDIUM* Medium, BOOL Release) override;
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD Direction, IEnumFORMATETC** Enum) override;
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* Format, DWORD Flags, IAdviseSink* Sink, DWORD* Connection) override;
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD Connection) override;
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** Enum) override;
  int Count() const { return (int)FEntries.size(); }

 private:
  struct TDataObjectData {
    FORMATETC Format;
    STGMEDIUM Medium;
  };
  std::vector<TDataObjectData> FEntries;
};

// The drop source of a drag this control started: Escape cancels, releasing the left button
// drops.
class TDropSource : public TComObject<IDropSource, IID_IDropSource> {
 public:
  TDropSource() = default;
  virtual ~TDropSource() = default;
  HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL EscapePressed, DWORD KeyState) override;
  HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD Effect) override;
};

// The drop target of a control: passes each call to the shell's drag-image helper (when there is
// one), then to the control, unless the control itself is dragging and may not take its own drop.
class TDropTarget : public TComObject<IDropTarget, IID_IDropTarget> {
 public:
  // Threads: user-interface thread.
  explicit TDropTarget(TDragDropControl* Control);
  virtual ~TDropTarget();
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* DataObject, DWORD KeyState, POINTL Point, DWORD* Effect) override;
  HRESULT STDMETHODCALLTYPE DragOver(DWORD KeyState, POINTL Point, DWORD* Effect) override;
  HRESULT STDMETHODCALLTYPE DragLeave() override;
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* DataObject, DWORD KeyState, POINTL Point, DWORD* Effect) override;

  // The format of the drag over the control (0: none).
  uint16_t Format() const { return FFormat; }
  void SetFormat(uint16_t Value) { FFormat = Value; }
  // Set while the control is the drag source and may not receive its own drop.
  bool SelfDrop() const { return FSelfDrop; }
  void SetSelfDrop(bool Value) { FSelfDrop = Value; }
  // The shell's drag-image helper, or null.
  IDropTargetHelper* Helper() const { return FHelper; }
  // The control goes: later calls answer "no effect".
  void Detach() { FControl = nullptr; }

 private:
  void MakeHelper();
  POINT ClientPoint(POINTL Point) const;
  IDropTargetHelper* FHelper = nullptr;
  uint16_t FFormat = 0;
  TDragDropControl* FControl;
  bool FSelfDrop = false;
};

class TDragDropControl : public TCustomControl {
 public:
  explicit TDragDropControl(TComponent* AOwner);
  ~TDragDropControl() override;
  const char* ClassName() const override { return "TDragDropControl"; }

  // Opens the clipboard, hands its first accepted format to DropData at (0, 0), closes it.
  // Threads: user-interface thread.
  void Paste();
  // A drag in an accepted format is over the control. Threads: user-interface thread.
  bool IsDragging() const { return FDropTarget && FDropTarget->Format() != 0; }
  // The drop target (null when the control accepts no format or has no window yet).
  TDropTarget* DropTarget() const { return FDropTarget; }

  // The drag over the control: the first accepted format the data offers becomes current
  // (Effect: move), else none (Effect: none).
  virtual void DragEnter(IDataObject* DataObject, DWORD& Effect, POINT Point);
  virtual void DragOver(DWORD KeyState, POINT Point, DWORD& Effect);
  virtual void DragLeave();
  // Fetches the current format, hands it to DropData and releases it.
  virtual void Drop(IDataObject* DataObject, DWORD& Effect, POINT Point);
  virtual void DropStream(uint16_t Format, POINT Point, TStream* Stream) {}
  virtual void DropFiles(TUniStringList* Files, POINT Point) {}
  // CF_HDROP: the files to DropFiles; other formats: a stream over the memory to DropStream.
  virtual void DropData(uint16_t Format, HGLOBAL Handle, POINT Point);
  // The clipboard holds an accepted format.
  virtual bool CanPaste();
  // Fills the data (and a drag image) of a drag that starts here; false: nothing to drag.
  virtual bool GetDragData(TDataObject* DataObject, TBitmap* Bitmap, bool& AllowSelfDrop) { return false; }
  virtual void EndDrag() {}
  // The accepted formats in order, 0 after the last (here none).
  virtual uint16_t GetAcceptedFormat(int Index) { return 0; }

 protected:
  void CreateWnd() override;
  void DestroyWnd() override;
  void WndProc(TMessage& Message) override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  bool AcceptsFormat(uint16_t Format);
  // Runs one drag from this control (steps of a drag start).
  void StartDrag();

  TDropTarget* FDropTarget = nullptr;
  bool FDragStarted = false;
  POINT FMouseDownPoint{-1, -1};
};

// Starts OLE for the user-interface thread and registers the clipboard formats; the last stops it.
void ShellDragDropInitialize();
void ShellDragDropFinalize();
