#include "audio/formats/mp3/lame.h"

namespace lame {

TEntries Entries;
const char* const LibraryName = "lame_enc.dll";

namespace {
TCodecLibrary Lib(L"lame_enc.dll");
}  // namespace

bool Load() {
  return Lib.Load([] {
    Lib.Resolve(Entries.beInitStream, "beInitStream");
    Lib.Resolve(Entries.beEncodeChunk, "beEncodeChunk");
    Lib.Resolve(Entries.beDeinitStream, "beDeinitStream");
    Lib.Resolve(Entries.beCloseStream, "beCloseStream");
    Lib.Resolve(Entries.beWriteVBRHeader, "beWriteVBRHeader");
    Lib.Resolve(Entries.beFlushNoGap, "beFlushNoGap");
    Lib.Resolve(Entries.beWriteInfoTag, "beWriteInfoTag");
  });
}

bool Loaded() { return Lib.Loaded(); }

void Missing(const char* Name) {
  throw ELAMEException(MissingEntryPointMessage(Name, LibraryName));
}

}  // namespace lame
