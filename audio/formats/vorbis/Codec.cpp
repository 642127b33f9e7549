#include "audio/formats/vorbis/Codec.h"

namespace codec {

TEntries Entries;
const char* const LibraryName = "vorbis.dll";

namespace {
TCodecLibrary Lib(L"vorbis.dll");
}

bool Load() {
  return Lib.Load([] {
    TEntries& E = Entries;
    VORBIS_ENTRIES(AU_ENTRY_RESOLVE)
  });
}

void Missing(const char* Name) {
  throw EVorbisException(MissingEntryPointMessage(Name, LibraryName));
}

}  // namespace codec
