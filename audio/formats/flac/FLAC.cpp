#include "audio/formats/flac/FLAC.h"

namespace flac {

TEntries Entries;
const char* const LibraryName = "libFLAC.dll";

namespace {
TCodecLibrary Lib(L"libFLAC.dll");
}

bool Load() {
  return Lib.Load([] {
    TEntries& E = Entries;
    FLAC_ENTRIES(AU_ENTRY_RESOLVE)
  });
}

void Missing(const char* Name) {
  throw EFLACException(MissingEntryPointMessage(Name, LibraryName));
}

}  // namespace flac
