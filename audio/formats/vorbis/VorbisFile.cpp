#include "audio/formats/vorbis/VorbisFile.h"

namespace vorbisfile {

TEntries Entries;
const char* const LibraryName = "vorbisfile.dll";

namespace {
TCodecLibrary Lib(L"vorbisfile.dll");
}

bool Load() {
  return Lib.Load([] {
    TEntries& E = Entries;
    VORBISFILE_ENTRIES(AU_ENTRY_RESOLVE)
  });
}

void Missing(const char* Name) {
  throw EVorbisFileException(MissingEntryPointMessage(Name, LibraryName));
}

}  // namespace vorbisfile
