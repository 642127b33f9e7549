// The byte layer: every binary header of the engine (WAVE, the compression manager's copies,
// tags, codec bindings) and of the PNG codec is read and written through these few pieces. It
// stands on classlib alone, so that the tag sets and the PNG codec use it without the engine.
//
//   TByteReader r(buf.data(), buf.size());         // bounds-checked reads from memory
//   uint32_t rate = r.LE32();
//   if (!r.Ok()) ...                                // a read ran past the end
//
//   TByteWriter w;                                   // appends to its own buffer
//   w.Id("RIFF"); size_t at = w.Position(); w.LE32(0);
//   ...; w.PatchLE32(at, (uint32_t)w.Size() - 8);    // sizes known later are filled in
//
//   TRiffWalker chunks(buf.data(), buf.size(), 12);  // the chunks after "RIFF" size "WAVE"
//   TRiffChunk c;
//   while (chunks.Next(c)) if (c.Is("fmt ")) ...
//   TRiffWalker onStream(S, 12, S->Size());            // the same walk over a stream
//
// Reading past the end never touches memory beyond the bytes given: the read yields zeros, the
// reader moves to the end and Ok() turns false for good, so a parser may read a whole record
// and check once. The Get/Put functions are for bytes the caller has already bounds-checked
// (a fixed-size block in hand).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Classes.h"

// ---------------------------------------------------------------------------------------------
// Fixed-width fields at a pointer the caller has checked.

inline uint16_t GetLE16(const uint8_t* P) { return (uint16_t)(P[0] | P[1] << 8); }
inline uint32_t GetLE32(const uint8_t* P) {
  return (uint32_t)P[0] | (uint32_t)P[1] << 8 | (uint32_t)P[2] << 16 | (uint32_t)P[3] << 24;
}
inline uint16_t GetBE16(const uint8_t* P) { return (uint16_t)(P[0] << 8 | P[1]); }
inline uint32_t GetBE24(const uint8_t* P) { return (uint32_t)P[0] << 16 | (uint32_t)P[1] << 8 | P[2]; }
inline uint32_t GetBE32(const uint8_t* P) {
  return (uint32_t)P[0] << 24 | (uint32_t)P[1] << 16 | (uint32_t)P[2] << 8 | (uint32_t)P[3];
}
// Four 7-bit groups, most significant first (ID3v2 sizes); the top bit of each byte is ignored.
inline uint32_t GetSyncsafe32(const uint8_t* P) {
  return (uint32_t)(P[0] & 0x7F) << 21 | (uint32_t)(P[1] & 0x7F) << 14 | (uint32_t)(P[2] & 0x7F) << 7 | (P[3] & 0x7F);
}

inline void PutBE16(uint8_t* P, uint32_t V) {
  P[0] = (uint8_t)(V >> 8);
  P[1] = (uint8_t)V;
}
inline void PutLE16(uint8_t* P, uint32_t V) {
  P[0] = (uint8_t)V;
  P[1] = (uint8_t)(V >> 8);
}
inline void PutLE32(uint8_t* P, uint32_t V) {
  P[0] = (uint8_t)V;
  P[1] = (uint8_t)(V >> 8);
  P[2] = (uint8_t)(V >> 16);
  P[3] = (uint8_t)(V >> 24);
}
inline void PutBE32(uint8_t* P, uint32_t V) {
  P[0] = (uint8_t)(V >> 24);
  P[1] = (uint8_t)(V >> 16);
  P[2] = (uint8_t)(V >> 8);
  P[3] = (uint8_t)V;
}
// The low 28 bits of V as four 7-bit groups.
inline void PutSyncsafe32(uint8_t* P, uint32_t V) {
  P[0] = (uint8_t)((V >> 21) & 0x7F);
  P[1] = (uint8_t)((V >> 14) & 0x7F);
  P[2] = (uint8_t)((V >> 7) & 0x7F);
  P[3] = (uint8_t)(V & 0x7F);
}

// Threads (the Get/Put functions and RiffIdIs): any; no waits.
// A RIFF chunk identifier at P matches Id (four characters) without regard to letter case:
// each byte equal, or differing by exactly 32.
bool RiffIdIs(const uint8_t* P, const char* Id);

// ---------------------------------------------------------------------------------------------
// Reading from memory

// Threads (every method): the thread that owns the reader and its bytes; no waits.
class TByteReader {
 public:
  TByteReader(const void* Data, size_t Size) : FData(static_cast<const uint8_t*>(Data)), FSize(Size) {}
  explicit TByteReader(const std::vector<uint8_t>& Bytes) : TByteReader(Bytes.data(), Bytes.size()) {}

  // False once any read or move went past the end.
  bool Ok() const { return FOk; }
  size_t Position() const { return FPos; }
  size_t Size() const { return FSize; }
  size_t Left() const { return FSize - FPos; }
  // True when Count more bytes are there (nothing is read, Ok() is not changed).
  bool Has(size_t Count) const { return Count <= FSize - FPos; }
  // The bytes from the position on.
  const uint8_t* Here() const { return FData + FPos; }

  uint8_t U8();
  uint16_t LE16();
  uint32_t LE32();
  uint16_t BE16();
  uint32_t BE24();
  uint32_t BE32();
  uint32_t Syncsafe32();
  // Copies Count bytes to Dest (zeros past the end).
  void Bytes(void* Dest, size_t Count);
  // Count bytes as a string (empty past the end).
  std::string Text(size_t Count);
  // The next Count bytes, moving past them; nullptr past the end.
  const uint8_t* Take(size_t Count);
  void Skip(size_t Count) { Take(Count); }
  // Moves to Pos (at most Size()).
  void Seek(size_t Pos);

 private:
  void Fail() {
    FOk = false;
    FPos = FSize;
  }
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
  bool FOk = true;
};

// ---------------------------------------------------------------------------------------------
// Writing to memory

// Threads (every method): the thread that owns the writer; no waits.
class TByteWriter {
 public:
  size_t Position() const { return FData.size(); }
  size_t Size() const { return FData.size(); }
  const std::vector<uint8_t>& Data() const { return FData; }
  const uint8_t* Bytes() const { return FData.data(); }

  void U8(uint32_t V) { FData.push_back((uint8_t)V); }
  void LE16(uint32_t V);
  void LE32(uint32_t V);
  void BE32(uint32_t V);
  void Syncsafe32(uint32_t V);
  void Bytes(const void* Data, size_t Count);
  void Zeros(size_t Count) { FData.insert(FData.end(), Count, 0); }
  // A field of Width bytes: S cut to it, or followed by zeros.
  void Fixed(const std::string& S, size_t Width);
  // Four characters as they are.
  void Id(const char* Id4) { Bytes(Id4, 4); }
  // Fills in a value written earlier (At + 4 must lie within what was written).
  void PatchLE32(size_t At, uint32_t V);

 private:
  std::vector<uint8_t> FData;
};

// ---------------------------------------------------------------------------------------------
// Streams

// Threads (the stream helpers): the thread that owns the stream; they wait for its reads and
// writes.
// Reads exactly Count bytes; false when the stream gives fewer.
bool ReadExact(TStream* S, void* Buffer, uint32_t Count);
// Reads up to Count bytes into Out (resized to what was read), looping over short reads.
void ReadUpTo(TStream* S, uint32_t Count, std::vector<uint8_t>& Out);
// Writes a 32-bit little-endian value at Offset and leaves the position after it; raises the
// stream's write error when it cannot.
void WriteLE32At(TStream* S, int64_t Offset, uint32_t V);

// ---------------------------------------------------------------------------------------------
// RIFF chunks

struct TRiffChunk {
  uint8_t Id[4] = {};
  uint32_t Size = 0;     // as declared
  uint64_t HeaderAt = 0;  // offset of the identifier
  uint64_t BodyAt = 0;    // offset of the body
  // The declared body lies within the bytes walked.
  bool Whole = false;
  bool Is(const char* Id4) const { return RiffIdIs(Id, Id4); }
};

// Walks the chunks of a RIFF body from Start, in memory or on a stream: each an identifier, a
// 32-bit little-endian size and the body, followed by a pad byte when the size is odd. A writer
// that left the pad byte out is still read: the pad is skipped only when it is zero.
// Threads (every method): the thread that owns the walker and its bytes (or its stream); a walk
// on a stream waits for the stream's reads.
class TRiffWalker {
 public:
  TRiffWalker(const uint8_t* Data, size_t Size, size_t Start) : FData(Data), FSize(Size), FPos(Start) {}
  // Over a stream's bytes up to End: the headers are read from the stream as they are walked
  // (which moves its position); the bodies stay on the stream. A header the stream does not give
  // ends the walk.
  TRiffWalker(TStream* Stream, int64_t Start, int64_t End)
      : FStream(Stream), FSize(End > 0 ? (uint64_t)End : 0), FPos(Start > 0 ? (uint64_t)Start : 0) {}

  // The next chunk's header; false when no whole header is left or the previous chunk's body
  // ran past the end. The body may still run past the end: see TRiffChunk::Whole.
  bool Next(TRiffChunk& C);
  // Where the walk stands: the next header's offset.
  uint64_t Position() const { return FPos; }
  // Skips one zero byte at the position, should there be one (a pad byte that a writer put
  // where none belongs); true when it did.
  bool SkipZero();

 private:
  // Count bytes at At (below FSize) into Dest; false when the stream does not give them.
  bool Fetch(uint64_t At, uint8_t* Dest, size_t Count);
  const uint8_t* FData = nullptr;
  TStream* FStream = nullptr;
  uint64_t FSize;
  uint64_t FPos;
};
