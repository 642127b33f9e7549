// The binding of the Vorbis encoder library, "vorbisenc.dll": loaded once per process under
// LoadLibCS, the set-up entry points resolved by name (cdecl).
#pragma once
#include <vorbis/vorbisenc.h>

#include "audio/engine/CodecLibrary.h"

// Raised by the binding: a missing entry point, named.
class EVorbisEncException : public EAuException {
 public:
  using EAuException::EAuException;
  const char* ClassName() const override { return "EVorbisEncException"; }
};

#define VORBISENC_ENTRIES(X) \
  X(vorbis_encode_setup_vbr) X(vorbis_encode_setup_init) X(vorbis_encode_init) \
  X(vorbis_encode_setup_managed) X(vorbis_encode_ctl)

namespace vorbisenc {

struct TEntries {
  VORBISENC_ENTRIES(AU_ENTRY_FIELD)
};
extern TEntries Entries;
extern const char* const LibraryName;  // "vorbisenc.dll"

// Loads the library once; true when it is loaded. Threads: any (takes LoadLibCS).
bool Load();
// Raises EVorbisEncException naming an entry point the library lacks.
[[noreturn]] void Missing(const char* Name);

}  // namespace vorbisenc

// The entry point fn, or EVorbisEncException naming it when the library lacks it.
#define VORBISENC_CALL(fn) (vorbisenc::Entries.fn ? vorbisenc::Entries.fn : (vorbisenc::Missing(#fn), vorbisenc::Entries.fn))
