#include "audio/lame.h"

namespace lame {

TEntries Entries;
const char* const LibraryName = "lame_enc.dll";

namespace {
TCodecLibrary Lib(L"lame_enc.dll");

template <class F>
void Resolve(F& Fn, const char* Name) {
  Fn = reinterpret_cast<F>(Lib.Proc(Name));
}
}  // namespace

bool Load() {
  return Lib.Load([] {
    Resolve(Entries.beInitStream, "beInitStream");
    Resolve(Entries.beEncodeChunk, "beEncodeChunk");
    Resolve(Entries.beDeinitStream, "beDeinitStream");
    Resolve(Entries.beCloseStream, "beCloseStream");
    Resolve(Entries.beWriteVBRHeader, "beWriteVBRHeader");
    Resolve(Entries.beFlushNoGap, "beFlushNoGap");
    Resolve(Entries.beWriteInfoTag, "beWriteInfoTag");
  });
}

bool Loaded() { return Lib.Loaded(); }

void Missing(const char* Name) {
  throw ELAMEException(MissingEntryPointMessage(Name, LibraryName));
}

}  // namespace lame
