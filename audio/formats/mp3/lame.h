// The binding of the LAME encoder library, "lame_enc.dll", through its stream interface: loaded
// once per process, the entry points resolved by name (cdecl).
#pragma once
#include <cstdint>

#include "audio/engine/CodecLibrary.h"

// Raised by the binding: a missing entry point, named.
class ELAMEException : public EAuException {
 public:
  using EAuException::EAuException;
  const char* ClassName() const override { return "ELAMEException"; }
};

namespace lame {

// The size of the encoder configuration record.
constexpr uint32_t ConfigSize = 331;

using TBeInitStream = uint32_t (*)(void* Config, uint32_t* Samples, uint32_t* BufferSize, void** Stream);
using TBeEncodeChunk = uint32_t (*)(void* Stream, uint32_t Samples, int16_t* Pcm, uint8_t* Output, uint32_t* OutputBytes);
using TBeDeinitStream = uint32_t (*)(void* Stream, uint8_t* Output, uint32_t* OutputBytes);
using TBeCloseStream = uint32_t (*)(void* Stream);
using TBeWriteVBRHeader = uint32_t (*)(const char* FileName);
using TBeFlushNoGap = uint32_t (*)(void* Stream, uint8_t* Output, uint32_t* OutputBytes);
using TBeWriteInfoTag = uint32_t (*)(void* Stream, const char* FileName);

struct TEntries {
  TBeInitStream beInitStream = nullptr;
  TBeEncodeChunk beEncodeChunk = nullptr;
  TBeDeinitStream beDeinitStream = nullptr;
  TBeCloseStream beCloseStream = nullptr;
  TBeWriteVBRHeader beWriteVBRHeader = nullptr;
  TBeFlushNoGap beFlushNoGap = nullptr;      // resolved, not called
  TBeWriteInfoTag beWriteInfoTag = nullptr;  // resolved, not called
};
extern TEntries Entries;
extern const char* const LibraryName;  // "lame_enc.dll"

// Loads the library once; true when it is loaded. Threads: any (takes LoadLibCS).
bool Load();
bool Loaded();
// Raises ELAMEException naming an entry point the library lacks.
[[noreturn]] void Missing(const char* Name);

}  // namespace lame

// The entry point fn, or ELAMEException naming it when the library lacks it.
#define LAME_CALL(fn) (lame::Entries.fn ? lame::Entries.fn : (lame::Missing(#fn), lame::Entries.fn))
