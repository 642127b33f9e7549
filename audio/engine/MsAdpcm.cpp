#include "audio/engine/MsAdpcm.h"

#include "audio/engine/AuBinary.h"

namespace {
const int16_t MsAdaptTable[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
}

uint32_t DecodeMsAdpcmBlock(const uint8_t* Block, uint32_t Channels, uint32_t SamplesPerBlock, const int16_t* Coefs,
                            uint32_t CoefPairs, int16_t* Out) {
  if (Channels < 1 || Channels > 2 || SamplesPerBlock < 2) return 0;
  const uint32_t ch = Channels;
  int32_t c1[2], c2[2], delta[2], s1[2], s2[2];
  for (uint32_t c = 0; c < ch; ++c) {
    uint32_t pi = Block[c];
    if (pi >= CoefPairs) return 0;  // a predictor the file does not define: the data is damaged
    c1[c] = Coefs[2 * pi];
    c2[c] = Coefs[2 * pi + 1];
    delta[c] = (int16_t)GetLE16(Block + ch + 2 * c);
    s1[c] = (int16_t)GetLE16(Block + 3 * ch + 2 * c);
    s2[c] = (int16_t)GetLE16(Block + 5 * ch + 2 * c);
  }
  for (uint32_t c = 0; c < ch; ++c) *Out++ = (int16_t)s2[c];
  for (uint32_t c = 0; c < ch; ++c) *Out++ = (int16_t)s1[c];
  // The delta triples at most per sample: bounded, the products below stay within 32 bits.
  constexpr int32_t MaxDelta = 0x7FFFFFFF / 768;
  auto expand = [&](uint32_t c, uint32_t nib) {
    int32_t pred = (int32_t)(((int64_t)s1[c] * c1[c] + (int64_t)s2[c] * c2[c]) / 256);
    int32_t signedNib = nib >= 8 ? (int32_t)nib - 16 : (int32_t)nib;
    int32_t s = pred + signedNib * delta[c];
    if (s > 32767) s = 32767;
    else if (s < -32768) s = -32768;
    s2[c] = s1[c];
    s1[c] = s;
    delta[c] = (delta[c] * MsAdaptTable[nib]) / 256;
    if (delta[c] < 16) delta[c] = 16;
    else if (delta[c] > MaxDelta) delta[c] = MaxDelta;
    return (int16_t)s;
  };
  const uint8_t* d = Block + 7 * ch;
  const uint32_t codes = (SamplesPerBlock - 2) * ch;  // after the header samples
  for (uint32_t i = 0; i < codes; ++i) {
    uint32_t v = d[i >> 1];
    uint32_t nib = (i & 1) ? (v & 15) : (v >> 4);
    *Out++ = expand(ch == 1 ? 0 : (i & 1), nib);
  }
  return SamplesPerBlock;
}
