#include "audio/formats/vorbis/VorbisEnc.h"

namespace vorbisenc {

TEntries Entries;
const char* const LibraryName = "vorbisenc.dll";

namespace {
TCodecLibrary Lib(L"vorbisenc.dll");
}

bool Load() {
  return Lib.Load([] {
    TEntries& E = Entries;
    VORBISENC_ENTRIES(AU_ENTRY_RESOLVE)
  });
}

void Missing(const char* Name) {
  throw EVorbisEncException(MissingEntryPointMessage(Name, LibraryName));
}

}  // namespace vorbisenc
