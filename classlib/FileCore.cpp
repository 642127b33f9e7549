#include "classlib/FileCore.h"

#include "classlib/WinApi.h"

namespace {

DWORD AccessOf(TFileAccess A) {
  switch (A) {
    case TFileAccess::Read: return GENERIC_READ;
    case TFileAccess::Write: return GENERIC_WRITE;
    case TFileAccess::ReadWrite: break;
  }
  return GENERIC_READ | GENERIC_WRITE;
}

DWORD ShareOf(TFileShare S) {
  switch (S) {
    case TFileShare::None: return 0;
    case TFileShare::Read: return FILE_SHARE_READ;
    case TFileShare::Write: return FILE_SHARE_WRITE;
    case TFileShare::ReadWrite: break;
  }
  return FILE_SHARE_READ | FILE_SHARE_WRITE;
}

DWORD CreationOf(TFileCreation C) { return C == TFileCreation::CreateAlways ? CREATE_ALWAYS : OPEN_EXISTING; }

}  // namespace

bool FileOpenModeOfWord(uint16_t Mode, TFileOpenMode& Result) {
  static const TFileAccess access[3] = {TFileAccess::Read, TFileAccess::Write, TFileAccess::ReadWrite};
  static const TFileShare share[5] = {TFileShare::None, TFileShare::None, TFileShare::Read, TFileShare::Write,
                                      TFileShare::ReadWrite};
  unsigned a = Mode & 3, s = (Mode & 0xF0) >> 4;
  if (a > 2 || s > 4) return false;
  Result = {access[a], share[s], TFileCreation::OpenExisting};
  return true;
}

TFileHandle& TFileHandle::operator=(TFileHandle&& Other) noexcept {
  if (this != &Other) {
    Close();
    FHandle = Other.Release();
  }
  return *this;
}

TFileHandle TFileHandle::Open(const std::wstring& FileName, const TFileOpenMode& Mode) {
  return TFileHandle(CreateFileW(FileName.c_str(), AccessOf(Mode.Access), ShareOf(Mode.Share), nullptr,
                                 CreationOf(Mode.Creation), FILE_ATTRIBUTE_NORMAL, nullptr));
}

TFileHandle TFileHandle::OpenAnsi(const std::string& FileName, const TFileOpenMode& Mode) {
  return TFileHandle(CreateFileA(FileName.c_str(), AccessOf(Mode.Access), ShareOf(Mode.Share), nullptr,
                                 CreationOf(Mode.Creation), FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool TFileHandle::Valid() const { return FHandle != INVALID_HANDLE_VALUE && FHandle != nullptr; }

void* TFileHandle::Release() {
  void* h = FHandle;
  FHandle = INVALID_HANDLE_VALUE;
  return h;
}

void TFileHandle::Close() {
  if (Valid()) CloseHandle(FHandle);
  FHandle = INVALID_HANDLE_VALUE;
}
