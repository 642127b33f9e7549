// A codec library loaded at run time by name from the program's folder, once per process and
// never released, with its entry points resolved by name. A binding keeps one TCodecLibrary and
// one record of typed entry points; a missing entry point stays nil and is reported, naming
// it, by the binding's exception class at the moment a component would call it.
#pragma once
#include <atomic>
#include <string>

#include "audio/engine/AuClasses.h"

class TCodecLibrary {
 public:
  // FileName: the library's file name, e.g. L"libFLAC.dll".
  explicit TCodecLibrary(const wchar_t* FileName) : FFileName(FileName) {}
  TCodecLibrary(const TCodecLibrary&) = delete;
  TCodecLibrary& operator=(const TCodecLibrary&) = delete;

  // Loads the library when it is not loaded yet (under LoadLibCS when UseLock and the lock
  // exists) and then calls Bind once to resolve its entry points. True when loaded.
  // Threads: any; waits for LoadLibCS while another thread loads a library.
  template <class F>
  bool Load(F&& Bind, bool UseLock = true) {
    if (FLoaded) return true;
    if (UseLock && LoadLibCS) {
      TLock l(*LoadLibCS);
      return LoadLocked(Bind);
    }
    return LoadLocked(Bind);
  }
  bool Loaded() const { return FLoaded; }
  // The address of an exported name, or nullptr. Only valid once loaded.
  void* Proc(const char* Name) const;
  // Sets the entry point Fn to the exported Name (nullptr when missing).
  template <class F>
  void Resolve(F& Fn, const char* Name) const {
    Fn = reinterpret_cast<F>(Proc(Name));
  }
  // The file name in 8-bit text, for messages.
  std::string Name() const;

 private:
  template <class F>
  bool LoadLocked(F& Bind) {
    if (FLoaded) return true;
    if (!Open()) return false;
    Bind();
    FLoaded = true;
    return true;
  }
  bool Open();

  const wchar_t* FFileName;
  void* FHandle = nullptr;
  std::atomic<bool> FLoaded{false};
};

// A codec library loaded by name through the system's search order, and tried once: a library
// that failed to load is not tried again until Release, which also unloads a loaded one (tests
// stand another file in and load again). The caller takes LoadLibCS around Load and Release where
// the binding wants the lock.
class TSearchedLibrary {
 public:
  TSearchedLibrary() = default;
  TSearchedLibrary(const TSearchedLibrary&) = delete;
  TSearchedLibrary& operator=(const TSearchedLibrary&) = delete;

  // The first time, loads FileName and then calls Bind once to resolve its entry points; later
  // calls only answer. True when loaded.
  // Threads: any, one at a time (the binding's lock).
  template <class F>
  bool Load(const char* FileName, F&& Bind) {
    if (FTried) return FLoaded;
    FTried = true;
    if (!Open(FileName)) return false;
    Bind();
    FLoaded = true;
    return true;
  }
  // Set once the entry points are resolved; read without the lock.
  bool Loaded() const { return FLoaded; }
  // The address of an exported name, or nullptr. Only valid once opened.
  void* Proc(const char* Name) const;
  // Sets the entry point Fn to the exported Name (nullptr when missing).
  template <class F>
  void Resolve(F& Fn, const char* Name) const {
    Fn = reinterpret_cast<F>(Proc(Name));
  }
  // Unloads the library; the next Load tries again.
  // Threads: any, with nothing of the library in use.
  void Release();

 private:
  bool Open(const char* FileName);

  void* FHandle = nullptr;
  bool FTried = false;
  std::atomic<bool> FLoaded{false};
};

// The message of a binding's exception for an entry point its library lacks.
AnsiString MissingEntryPointMessage(const char* Name, const char* Library);

// The full path of a file in the program's folder.
WideString ProgramFolderFile(const wchar_t* FileName);

// Declares and resolves typed entry-point fields from a list macro X(name).
#define AU_ENTRY_FIELD(fn) decltype(&::fn) fn = nullptr;
#define AU_ENTRY_RESOLVE(fn) Lib.Resolve(E.fn, #fn);

// For a codec output's Done, inside a catch block, when finishing the file failed after the
// audio was written (tags, the encoder's last frames): on the output's own worker, which drops
// exceptions of Done, the output reports it (TAuOutput::ReportDoneFailure); on any other thread
// (BlockingRun) it is raised again.
// Threads: the thread running the output's Done.
void ReportOrRaiseDoneFailure(TAuOutput* Output);
