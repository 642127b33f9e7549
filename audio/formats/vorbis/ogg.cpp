#include "audio/formats/vorbis/ogg.h"

namespace ogg {

TEntries Entries;
const char* const LibraryName = "ogg.dll";

namespace {
TCodecLibrary Lib(L"ogg.dll");
}

bool Load() {
  return Lib.Load([] {
    TEntries& E = Entries;
    OGG_ENTRIES(AU_ENTRY_RESOLVE)
  });
}

void Missing(const char* Name) {
  throw EOggException(MissingEntryPointMessage(Name, LibraryName));
}

}  // namespace ogg
