// The binding of the Ogg library, "ogg.dll": loaded once per process under LoadLibCS, the entry points
// the Ogg Vorbis output calls resolved by name (cdecl).
#pragma once
#include <ogg/ogg.h>

#include "audio/engine/CodecLibrary.h"

// Raised by the binding: a missing entry point, named.
class EOggException : public EAuException {
 public:
  using EAuException::EAuException;
  const char* ClassName() const override { return "EOggException"; }
};

#define OGG_ENTRIES(X) \
  X(ogg_stream_init) X(ogg_stream_packetin) X(ogg_stream_flush) X(ogg_stream_pageout) X(ogg_page_eos) X(ogg_stream_clear)

namespace ogg {

struct TEntries {
  OGG_ENTRIES(AU_ENTRY_FIELD)
};
extern TEntries Entries;
extern const char* const LibraryName;  // "ogg.dll"

// Loads the library once; true when it is loaded. Threads: any (takes LoadLibCS).
bool Load();
// Raises EOggException naming an entry point the library lacks.
[[noreturn]] void Missing(const char* Name);

}  // namespace ogg

// The entry point fn, or EOggException naming it when the library lacks it.
#define OGG_CALL(fn) (ogg::Entries.fn ? ogg::Entries.fn : (ogg::Missing(#fn), ogg::Entries.fn))
