#include "tasks/MD5.h"

#include <cstring>

namespace {

inline uint32_t Rol(uint32_t X, int N) { return (X << N) | (X >> (32 - N)); }

// Per-round shift amounts and the sine table: K[i] = floor(abs(sin(i + 1)) * 2^32).
constexpr int S[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                       5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                       4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                       6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
constexpr uint32_t K[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

void Transform(uint32_t State[4], const uint8_t Block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i)
    x[i] = (uint32_t)Block[i * 4] | ((uint32_t)Block[i * 4 + 1] << 8) | ((uint32_t)Block[i * 4 + 2] << 16) |
           ((uint32_t)Block[i * 4 + 3] << 24);
  uint32_t a = State[0], b = State[1], c = State[2], d = State[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (b & d) | (c & ~d);
      g = (5 * i + 1) & 15;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) & 15;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) & 15;
    }
    uint32_t t = d;
    d = c;
    c = b;
    b = b + Rol(a + f + K[i] + x[g], S[i]);
    a = t;
  }
  State[0] += a;
  State[1] += b;
  State[2] += c;
  State[3] += d;
}

}  // namespace

void MD5Init(MD5Context& Context) {
  Context.State[0] = 0x67452301;
  Context.State[1] = 0xefcdab89;
  Context.State[2] = 0x98badcfe;
  Context.State[3] = 0x10325476;
  Context.Count = 0;
  std::memset(Context.Buffer, 0, sizeof Context.Buffer);
}

void MD5Update(MD5Context& Context, const void* Data, size_t Length) {
  const uint8_t* p = static_cast<const uint8_t*>(Data);
  size_t used = (size_t)(Context.Count & 63);
  Context.Count += Length;
  if (used) {
    size_t take = 64 - used;
    if (take > Length) take = Length;
    std::memcpy(Context.Buffer + used, p, take);
    used += take;
    p += take;
    Length -= take;
    if (used < 64) return;
    Transform(Context.State, Context.Buffer);
  }
  for (; Length >= 64; p += 64, Length -= 64) Transform(Context.State, p);
  if (Length) std::memcpy(Context.Buffer, p, Length);
}

MD5Digest MD5Final(MD5Context& Context) {
  uint64_t bits = Context.Count * 8;
  uint8_t pad[72] = {0x80};
  size_t used = (size_t)(Context.Count & 63);
  size_t padLen = used < 56 ? 56 - used : 120 - used;
  uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = (uint8_t)(bits >> (8 * i));
  MD5Update(Context, pad, padLen);
  MD5Update(Context, length, 8);
  MD5Digest digest;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) digest[i * 4 + j] = (uint8_t)(Context.State[i] >> (8 * j));
  std::memset(&Context, 0, sizeof Context);
  return digest;
}

MD5Digest MD5Buffer(const void* Data, size_t Length) {
  MD5Context c;
  MD5Init(c);
  MD5Update(c, Data, Length);
  return MD5Final(c);
}

MD5Digest MD5String(const AnsiString& S) { return MD5Buffer(S.data(), S.size()); }

AnsiString MD5Print(const MD5Digest& Digest) {
  static const char hex[] = "0123456789abcdef";
  AnsiString s;
  s.reserve(32);
  for (uint8_t b : Digest) {
    s += hex[b >> 4];
    s += hex[b & 15];
  }
  return s;
}
