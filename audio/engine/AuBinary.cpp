#include "audio/engine/AuBinary.h"

#include <cstring>

// Every message this unit raises.
namespace msg {
constexpr const char* PatchBeyondData = "Byte writer: patch beyond the data";
}  // namespace msg

bool RiffIdIs(const uint8_t* P, const char* Id) {
  for (int i = 0; i < 4; ++i) {
    int a = P[i], b = (uint8_t)Id[i];
    if (a != b && a - b != 32 && b - a != 32) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// TByteReader

const uint8_t* TByteReader::Take(size_t Count) {
  if (!Has(Count)) {
    Fail();
    return nullptr;
  }
  const uint8_t* p = FData + FPos;
  FPos += Count;
  return p;
}

uint8_t TByteReader::U8() {
  const uint8_t* p = Take(1);
  return p ? p[0] : 0;
}

uint16_t TByteReader::LE16() {
  const uint8_t* p = Take(2);
  return p ? GetLE16(p) : 0;
}

uint32_t TByteReader::LE32() {
  const uint8_t* p = Take(4);
  return p ? GetLE32(p) : 0;
}

uint16_t TByteReader::BE16() {
  const uint8_t* p = Take(2);
  return p ? GetBE16(p) : 0;
}

uint32_t TByteReader::BE24() {
  const uint8_t* p = Take(3);
  return p ? GetBE24(p) : 0;
}

uint32_t TByteReader::BE32() {
  const uint8_t* p = Take(4);
  return p ? GetBE32(p) : 0;
}

uint32_t TByteReader::Syncsafe32() {
  const uint8_t* p = Take(4);
  return p ? GetSyncsafe32(p) : 0;
}

void TByteReader::Bytes(void* Dest, size_t Count) {
  const uint8_t* p = Take(Count);
  if (p) std::memcpy(Dest, p, Count);
  else if (Count) std::memset(Dest, 0, Count);
}

std::string TByteReader::Text(size_t Count) {
  const uint8_t* p = Take(Count);
  return p ? std::string(reinterpret_cast<const char*>(p), Count) : std::string();
}

void TByteReader::Seek(size_t Pos) {
  if (Pos > FSize) Fail();
  else FPos = Pos;
}

// ---------------------------------------------------------------------------------------------
// TByteWriter

void TByteWriter::LE16(uint32_t V) {
  uint8_t b[2];
  PutLE16(b, V);
  Bytes(b, 2);
}

void TByteWriter::LE32(uint32_t V) {
  uint8_t b[4];
  PutLE32(b, V);
  Bytes(b, 4);
}

void TByteWriter::BE32(uint32_t V) {
  uint8_t b[4];
  PutBE32(b, V);
  Bytes(b, 4);
}

void TByteWriter::Syncsafe32(uint32_t V) {
  uint8_t b[4];
  PutSyncsafe32(b, V);
  Bytes(b, 4);
}

void TByteWriter::Bytes(const void* Data, size_t Count) {
  const auto* p = static_cast<const uint8_t*>(Data);
  FData.insert(FData.end(), p, p + Count);
}

void TByteWriter::Fixed(const std::string& S, size_t Width) {
  size_t n = S.size() < Width ? S.size() : Width;
  Bytes(S.data(), n);
  Zeros(Width - n);
}

void TByteWriter::PatchLE32(size_t At, uint32_t V) {
  if (At > FData.size() || FData.size() - At < 4) throw Exception(msg::PatchBeyondData);
  PutLE32(FData.data() + At, V);
}

// ---------------------------------------------------------------------------------------------
// Streams

bool ReadExact(TStream* S, void* Buffer, uint32_t Count) {
  auto* p = static_cast<uint8_t*>(Buffer);
  uint32_t got = 0;
  while (got < Count) {
    int32_t r = S->Read(p + got, (int32_t)(Count - got));
    if (r <= 0) return false;
    got += (uint32_t)r;
  }
  return true;
}

void ReadUpTo(TStream* S, uint32_t Count, std::vector<uint8_t>& Out) {
  Out.resize(Count);
  uint32_t got = 0;
  while (got < Count) {
    int32_t r = S->Read(Out.data() + got, (int32_t)(Count - got));
    if (r <= 0) break;
    got += (uint32_t)r;
  }
  Out.resize(got);
}

void WriteLE32At(TStream* S, int64_t Offset, uint32_t V) {
  uint8_t b[4];
  PutLE32(b, V);
  S->Seek(Offset, soBeginning);
  S->WriteBuffer(b, 4);
}

// ---------------------------------------------------------------------------------------------
// TRiffWalker

bool TRiffWalker::Fetch(uint64_t At, uint8_t* Dest, size_t Count) {
  if (!FStream) {
    std::memcpy(Dest, FData + At, Count);
    return true;
  }
  FStream->Seek((int64_t)At, soBeginning);
  return ReadExact(FStream, Dest, (uint32_t)Count);
}

bool TRiffWalker::Next(TRiffChunk& C) {
  if (FPos > FSize || FSize - FPos < 8) return false;
  uint8_t h[8];
  if (!Fetch(FPos, h, 8)) return false;
  std::memcpy(C.Id, h, 4);
  C.Size = GetLE32(h + 4);
  C.HeaderAt = FPos;
  C.BodyAt = FPos + 8;
  C.Whole = C.Size <= FSize - C.BodyAt;
  if (!C.Whole) {
    FPos = FSize + 1;  // nothing follows a body that runs past the end
    return true;
  }
  FPos = C.BodyAt + C.Size;
  uint8_t pad;
  if ((C.Size & 1) && FPos < FSize && Fetch(FPos, &pad, 1) && pad == 0) ++FPos;
  return true;
}

bool TRiffWalker::SkipZero() {
  uint8_t b;
  if (FPos >= FSize || !Fetch(FPos, &b, 1) || b != 0) return false;
  ++FPos;
  return true;
}
