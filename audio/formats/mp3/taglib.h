// The binding of the TagLib C interface, "libtag_c.dll": loaded once per process under
// LoadLibCS, its 29 entry points resolved by name (cdecl). A missing library is no error: the
// MP3 output then writes no ID3v2 tag.
#pragma once
#include <taglib/tag_c.h>

#include "audio/engine/CodecLibrary.h"

// Raised by the binding: a missing entry point, named.
class ETagLibException : public EAuException {
 public:
  using EAuException::EAuException;
  const char* ClassName() const override { return "ETagLibException"; }
};

#define TAGLIB_ENTRIES(X)                                                                                    \
  X(taglib_audioproperties_bitrate) X(taglib_audioproperties_channels) X(taglib_audioproperties_length)      \
  X(taglib_audioproperties_samplerate) X(taglib_file_audioproperties) X(taglib_file_free)                    \
  X(taglib_file_is_valid) X(taglib_file_new) X(taglib_file_new_type) X(taglib_file_save) X(taglib_file_tag) \
  X(taglib_id3v2_set_default_text_encoding) X(taglib_set_string_management_enabled)                         \
  X(taglib_set_strings_unicode) X(taglib_tag_album) X(taglib_tag_artist) X(taglib_tag_comment)               \
  X(taglib_tag_free_strings) X(taglib_tag_genre) X(taglib_tag_set_album) X(taglib_tag_set_artist)           \
  X(taglib_tag_set_comment) X(taglib_tag_set_genre) X(taglib_tag_set_title) X(taglib_tag_set_track)         \
  X(taglib_tag_set_year) X(taglib_tag_title) X(taglib_tag_track) X(taglib_tag_year)

namespace taglib {

struct TEntries {
  TAGLIB_ENTRIES(AU_ENTRY_FIELD)
};
extern TEntries Entries;
extern const char* const LibraryName;  // "libtag_c.dll"

// Loads the library once; true when it is loaded. Threads: any (takes LoadLibCS).
bool Load();
bool Loaded();
// Raises ETagLibException naming an entry point the library lacks.
[[noreturn]] void Missing(const char* Name);

}  // namespace taglib

// The entry point fn, or ETagLibException naming it when the library lacks it.
#define TAGLIB_CALL(fn) (taglib::Entries.fn ? taglib::Entries.fn : (taglib::Missing(#fn), taglib::Entries.fn))
