// The binding of the Vorbis library, "vorbis.dll": loaded once per process under LoadLibCS, the
// analysis entry points resolved by name (cdecl).
#pragma once
#include <vorbis/codec.h>

#include "audio/engine/CodecLibrary.h"

// Raised by the binding: a missing entry point, named.
class EVorbisException : public EAuException {
 public:
  using EAuException::EAuException;
  const char* ClassName() const override { return "EVorbisException"; }
};

#define VORBIS_ENTRIES(X) \
  X(vorbis_info_init) X(vorbis_info_clear) X(vorbis_comment_init) X(vorbis_comment_add_tag) X(vorbis_comment_clear) \
  X(vorbis_analysis_init) X(vorbis_block_init) X(vorbis_block_clear) X(vorbis_dsp_clear) X(vorbis_analysis_headerout) \
  X(vorbis_analysis_buffer) X(vorbis_analysis_wrote) X(vorbis_analysis_blockout) X(vorbis_analysis) \
  X(vorbis_bitrate_addblock) X(vorbis_bitrate_flushpacket)

namespace codec {

struct TEntries {
  VORBIS_ENTRIES(AU_ENTRY_FIELD)
};
extern TEntries Entries;
extern const char* const LibraryName;  // "vorbis.dll"

// Loads the library once; true when it is loaded. Threads: any (takes LoadLibCS).
bool Load();
// Raises EVorbisException naming an entry point the library lacks.
[[noreturn]] void Missing(const char* Name);

}  // namespace codec

// The entry point fn, or EVorbisException naming it when the library lacks it.
#define VORBIS_CALL(fn) (codec::Entries.fn ? codec::Entries.fn : (codec::Missing(#fn), codec::Entries.fn))
