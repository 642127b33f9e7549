#include "audio/formats/mp3/taglib.h"

namespace taglib {

TEntries Entries;
const char* const LibraryName = "libtag_c.dll";

namespace {
TCodecLibrary Lib(L"libtag_c.dll");
}

bool Load() {
  return Lib.Load([] {
    TEntries& E = Entries;
    TAGLIB_ENTRIES(AU_ENTRY_RESOLVE)
  });
}

bool Loaded() { return Lib.Loaded(); }

void Missing(const char* Name) {
  throw ETagLibException(MissingEntryPointMessage(Name, LibraryName));
}

}  // namespace taglib
