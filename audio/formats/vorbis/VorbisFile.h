// The binding of the Vorbis file library, "vorbisfile.dll": loaded once per process under
// LoadLibCS, the decoding entry points resolved by name (cdecl).
#pragma once
#include <vorbis/vorbisfile.h>

#include "audio/engine/CodecLibrary.h"

// Raised by the binding: a missing entry point, named.
class EVorbisFileException : public EAuException {
 public:
  using EAuException::EAuException;
  const char* ClassName() const override { return "EVorbisFileException"; }
};

#define VORBISFILE_ENTRIES(X) \
  X(ov_test_callbacks) X(ov_test_open) X(ov_comment) X(ov_info) X(ov_pcm_total) X(ov_read) X(ov_pcm_seek) \
  X(ov_clear)

namespace vorbisfile {

struct TEntries {
  VORBISFILE_ENTRIES(AU_ENTRY_FIELD)
};
extern TEntries Entries;
extern const char* const LibraryName;  // "vorbisfile.dll"

// Loads the library once; true when it is loaded. Threads: any (takes LoadLibCS).
bool Load();
// Raises EVorbisFileException naming an entry point the library lacks.
[[noreturn]] void Missing(const char* Name);

}  // namespace vorbisfile

// The entry point fn, or EVorbisFileException naming it when the library lacks it.
#define VORBISFILE_CALL(fn) (vorbisfile::Entries.fn ? vorbisfile::Entries.fn : (vorbisfile::Missing(#fn), vorbisfile::Entries.fn))
