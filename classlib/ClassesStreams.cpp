// Streams: handle, file, memory and resource streams.
#include "classlib/Classes.h"

#include "classlib/WinApi.h"

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <memory>

// ---------------------------------------------------------------------------------------------
// TStream

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::SetSize(int64_t) {}

void TStream::ReadBuffer(void* Buffer, int32_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count) throw EReadError(ClassesMessages::ReadError);
}

void TStream::WriteBuffer(const void* Buffer, int32_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count) throw EWriteError(ClassesMessages::WriteError);
}

int64_t TStream::CopyFrom(TStream* Source, int64_t Count) {
  if (Count == 0) {
    Source->SetPosition(0);
    Count = Source->Size();
  }
  int64_t result = Count;
  const int32_t kMax = 0xF000;
  std::unique_ptr<char[]> buf(new char[kMax]);
  while (Count > 0) {
    int32_t n = Count > kMax ? kMax : (int32_t)Count;
    Source->ReadBuffer(buf.get(), n);
    WriteBuffer(buf.get(), n);
    Count -= n;
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// THandleStream / TFileStream

int32_t THandleStream::Read(void* Buffer, int32_t Count) {
  DWORD n = 0;
  if (Count <= 0 || !ReadFile(FHandle, Buffer, (DWORD)Count, &n, nullptr)) return Count <= 0 ? 0 : -1;
  return (int32_t)n;
}

int32_t THandleStream::Write(const void* Buffer, int32_t Count) {
  DWORD n = 0;
  if (Count <= 0 || !WriteFile(FHandle, Buffer, (DWORD)Count, &n, nullptr)) return Count <= 0 ? 0 : -1;
  return (int32_t)n;
}

int64_t THandleStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  LARGE_INTEGER li, out;
  li.QuadPart = Offset;
  if (!SetFilePointerEx(FHandle, li, &out, (DWORD)Origin)) return -1;
  return out.QuadPart;
}

void THandleStream::SetSize(int64_t NewSize) {
  Seek(NewSize, soBeginning);
  Win32Check(SetEndOfFile(FHandle) != 0);
}

TFileStream::TFileStream(const AnsiString& FileName, uint16_t Mode)
    : THandleStream(INVALID_HANDLE_VALUE), FFileName(FileName) {
  TFileOpenMode mode;
  if ((Mode & 0xFF00) == fmCreate) {
    // Read and write access; the share bits as for opening (none when out of range).
    if (!FileOpenModeOfWord((uint16_t)((Mode & 0xF0) | fmOpenReadWrite), mode)) mode = fomCreate;
    mode.Access = TFileAccess::ReadWrite;
    mode.Creation = TFileCreation::CreateAlways;
    FFile = TFileHandle::OpenAnsi(FileName, mode);
    if (!FFile.Valid())
      throw EFCreateError(WideFormat(ClassesMessages::CannotCreateFile, AnsiToWide(FileName).c_str(),
                                     SysErrorMessage(GetLastError()).c_str()));
    FHandle = FFile.Get();
    return;
  }
  if (!FileOpenModeOfWord(Mode, mode))
    throw EFOpenError(WideFormat(ClassesMessages::CannotOpenFile, AnsiToWide(FileName).c_str(),
                                 SysErrorMessage(ERROR_INVALID_PARAMETER).c_str()));
  FFile = TFileHandle::OpenAnsi(FileName, mode);
  if (!FFile.Valid())
    throw EFOpenError(WideFormat(ClassesMessages::CannotOpenFile, AnsiToWide(FileName).c_str(),
                                 SysErrorMessage(GetLastError()).c_str()));
  FHandle = FFile.Get();
}

// ---------------------------------------------------------------------------------------------
// Memory streams

int32_t TCustomMemoryStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || FPosition < 0 || FPosition >= FSize) return 0;
  int64_t n = FSize - FPosition;
  if (n > Count) n = Count;
  std::memcpy(Buffer, static_cast<char*>(FMemory) + FPosition, (size_t)n);
  FPosition += n;
  return (int32_t)n;
}

int64_t TCustomMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  switch (Origin) {
    case soBeginning: FPosition = Offset; break;
    case soCurrent: FPosition += Offset; break;
    case soEnd: FPosition = FSize + Offset; break;
  }
  return FPosition;
}

void TCustomMemoryStream::SetPointer(void* Ptr, int64_t Size) {
  FMemory = Ptr;
  FSize = Size;
}

void TCustomMemoryStream::SaveToStream(TStream* Stream) {
  if (FSize) Stream->WriteBuffer(FMemory, (int32_t)FSize);
}

void TCustomMemoryStream::SaveToFile(const AnsiString& FileName) {
  TFileStream f(FileName, fmCreate);
  SaveToStream(&f);
}

TMemoryStream::~TMemoryStream() { std::free(FMemory); }

void TMemoryStream::SetCapacity(int64_t NewCapacity) {
  if (NewCapacity == FCapacity) return;
  if (NewCapacity > 0x7FFFFFFF) throw EOutOfMemory(ClassesMessages::OutOfMemory);
  if (NewCapacity == 0) {
    std::free(FMemory);
    FMemory = nullptr;
  } else {
    void* p = std::realloc(FMemory, (size_t)NewCapacity);
    if (!p) throw EOutOfMemory(ClassesMessages::OutOfMemory);
    FMemory = p;
  }
  FCapacity = NewCapacity;
}

void TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) NewSize = 0;
  int64_t old = FSize;
  if (NewSize > FCapacity) SetCapacity((NewSize + 0x1FFF) & ~int64_t(0x1FFF));
  FSize = NewSize;
  if (old < NewSize) std::memset(static_cast<char*>(FMemory) + old, 0, (size_t)(NewSize - old));
  if (FPosition > NewSize) FPosition = NewSize;
}

int32_t TMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0 || FPosition < 0) return 0;
  int64_t end = FPosition + Count;
  if (end > FSize) {
    if (end > FCapacity) {
      int64_t cap = FCapacity + FCapacity / 2;
      if (cap < end) cap = end;
      SetCapacity((cap + 0x1FFF) & ~int64_t(0x1FFF));
    }
    if (FPosition > FSize) std::memset(static_cast<char*>(FMemory) + FSize, 0, (size_t)(FPosition - FSize));
    FSize = end;
  }
  std::memcpy(static_cast<char*>(FMemory) + FPosition, Buffer, (size_t)Count);
  FPosition = end;
  return Count;
}

void TMemoryStream::Clear() {
  SetCapacity(0);
  FSize = 0;
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream* Stream) {
  Stream->SetPosition(0);
  int64_t n = Stream->Size();
  SetSize(n);
  if (n) Stream->ReadBuffer(FMemory, (int32_t)n);
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const AnsiString& FileName) {
  TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&f);
}

TResourceStream::TResourceStream(void* Instance, const AnsiString& ResName, const char* ResType) {
  Initialize(Instance, ResName.c_str(), ResType);
}

TResourceStream::TResourceStream(void* Instance, int ResID, const char* ResType) {
  Initialize(Instance, MAKEINTRESOURCEA(ResID), ResType);
}

void TResourceStream::Initialize(void* Instance, const char* Name, const char* ResType) {
  HMODULE mod = static_cast<HMODULE>(Instance);
  HRSRC res = FindResourceA(mod, Name, ResType);
  if (!res) {
    AnsiString n = IS_INTRESOURCE(Name) ? IntToStr((uintptr_t)Name) : AnsiString(Name);
    throw EResNotFound(Format(ClassesMessages::ResourceNotFound, n.c_str()));
  }
  HGLOBAL h = LoadResource(mod, res);
  if (!h) RaiseLastOSError();
  SetPointer(LockResource(h), SizeofResource(mod, res));
}

int32_t TResourceStream::Write(const void*, int32_t) { throw EStreamError(ClassesMessages::ReadOnlyResource); }

