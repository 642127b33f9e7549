// Owners of system handles: each frees what it holds when it goes, so that early returns and
// exceptions free it too. TComPtr holds one reference to a COM interface; TFileMapping a file
// mapping object; TMappedView a view mapped from one. They move, never copy.
//
//   TFileMapping map(File, PAGE_READWRITE, 0);       // the whole file; !map when it failed
//   TMappedView view(map.Get(), FILE_MAP_WRITE, 0, 0);
//   if (view) memcpy(view.Get(), ...);                // unmapped, then closed, at the scope's end
//
// Threads (every method): the thread that owns the holder; no waits (the releases may wait for
// what the system or the object does on release).
#pragma once
#include <cstdint>
#include <utility>

#include "classlib/WinApi.h"

template <class T>
class TComPtr {
 public:
  TComPtr() = default;
  // Takes over a reference the caller holds.
  explicit TComPtr(T* P) : FP(P) {}
  ~TComPtr() { Reset(); }
  TComPtr(TComPtr&& Other) noexcept : FP(Other.Detach()) {}
  TComPtr& operator=(TComPtr&& Other) noexcept {
    if (this != &Other) {
      Reset();
      FP = Other.Detach();
    }
    return *this;
  }
  TComPtr(const TComPtr&) = delete;
  TComPtr& operator=(const TComPtr&) = delete;

  T* Get() const { return FP; }
  T* operator->() const { return FP; }
  explicit operator bool() const { return FP != nullptr; }
  // For an out-parameter that hands over a reference: lets the present one go first.
  T** Put() {
    Reset();
    return &FP;
  }
  // Hands the reference to the caller.
  T* Detach() { return std::exchange(FP, nullptr); }
  void Reset() {
    if (T* p = std::exchange(FP, nullptr)) p->Release();
  }

 private:
  T* FP = nullptr;
};

// A file mapping object over an open file (CreateFileMappingW); MaxSize 0 maps the whole file.
class TFileMapping {
 public:
  TFileMapping(HANDLE File, DWORD Protect, uint64_t MaxSize)
      : FHandle(CreateFileMappingW(File, nullptr, Protect, (DWORD)(MaxSize >> 32), (DWORD)MaxSize, nullptr)) {}
  ~TFileMapping() {
    if (FHandle) CloseHandle(FHandle);
  }
  TFileMapping(TFileMapping&& Other) noexcept : FHandle(std::exchange(Other.FHandle, nullptr)) {}
  TFileMapping(const TFileMapping&) = delete;
  TFileMapping& operator=(const TFileMapping&) = delete;

  HANDLE Get() const { return FHandle; }
  explicit operator bool() const { return FHandle != nullptr; }

 private:
  HANDLE FHandle;
};

// Bytes bytes of a mapping from Offset (MapViewOfFile); Bytes 0 maps to the mapping's end.
class TMappedView {
 public:
  TMappedView(HANDLE Mapping, DWORD Access, uint64_t Offset, size_t Bytes)
      : FView(MapViewOfFile(Mapping, Access, (DWORD)(Offset >> 32), (DWORD)Offset, Bytes)) {}
  ~TMappedView() {
    if (FView) UnmapViewOfFile(FView);
  }
  TMappedView(TMappedView&& Other) noexcept : FView(std::exchange(Other.FView, nullptr)) {}
  TMappedView(const TMappedView&) = delete;
  TMappedView& operator=(const TMappedView&) = delete;

  void* Get() const { return FView; }
  explicit operator bool() const { return FView != nullptr; }

 private:
  void* FView;
};
