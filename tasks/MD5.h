// MD5 message digest (RFC 1321).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "classlib/SysUtils.h"

using MD5Digest = std::array<uint8_t, 16>;

struct MD5Context {
  uint32_t State[4];
  uint64_t Count;  // bytes hashed so far
  uint8_t Buffer[64];
};

void MD5Init(MD5Context& Context);
void MD5Update(MD5Context& Context, const void* Data, size_t Length);
// Pads, finishes and returns the digest; the context must be initialised again before reuse.
MD5Digest MD5Final(MD5Context& Context);

MD5Digest MD5Buffer(const void* Data, size_t Length);
// The digest of the bytes of S.
MD5Digest MD5String(const AnsiString& S);
// 32 lower-case hexadecimal digits.
AnsiString MD5Print(const MD5Digest& Digest);
