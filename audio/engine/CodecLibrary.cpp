#include "audio/engine/CodecLibrary.h"

#include "classlib/WinApi.h"

WideString ProgramFolderFile(const wchar_t* FileName) {
  wchar_t exe[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  WideString path(exe, n < MAX_PATH ? n : 0);
  size_t slash = path.find_last_of(L"\\/");
  path = slash == WideString::npos ? WideString() : path.substr(0, slash + 1);
  return path + FileName;
}

AnsiString MissingEntryPointMessage(const char* Name, const char* Library) {
  return AnsiString("Function \"") + Name + "\" not found in " + Library;
}

bool TCodecLibrary::Open() {
  // No error box for a missing or broken library: the component reports it.
  UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE h = LoadLibraryW(ProgramFolderFile(FFileName).c_str());
  SetErrorMode(old);
  FHandle = h;
  return h != nullptr;
}

void* TCodecLibrary::Proc(const char* Name) const {
  if (!FHandle) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FHandle), Name));
}

bool TSearchedLibrary::Open(const char* FileName) {
  FHandle = LoadLibraryA(FileName);
  return FHandle != nullptr;
}

void* TSearchedLibrary::Proc(const char* Name) const {
  if (!FHandle) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FHandle), Name));
}

void TSearchedLibrary::Release() {
  FLoaded = false;
  if (FHandle) FreeLibrary(static_cast<HMODULE>(FHandle));
  FHandle = nullptr;
  FTried = false;
}

std::string TCodecLibrary::Name() const { return WideToAnsi(FFileName); }

void ReportOrRaiseDoneFailure(TAuOutput* Output) {
  TAuThread* t = Output->Thread();
  if (!t || GetCurrentThreadId() != t->ThreadID()) throw;
  Output->ReportDoneFailure();
}
