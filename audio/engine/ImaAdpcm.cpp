#include "audio/engine/ImaAdpcm.h"

#include <algorithm>

#include "audio/engine/AuBinary.h"

const int16_t ImaStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

const int8_t ImaIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

namespace {

// One code applied to a channel's state; the new predictor.
inline int32_t Expand(int32_t& Pred, int32_t& Index, uint32_t Code) {
  int32_t step = ImaStepTable[Index];
  int32_t diff = step >> 3;
  if (Code & 4) diff += step;
  if (Code & 2) diff += step >> 1;
  if (Code & 1) diff += step >> 2;
  Pred += (Code & 8) ? -diff : diff;
  if (Pred > 32767) Pred = 32767;
  else if (Pred < -32767) Pred = -32767;
  Index += ImaIndexTable[Code];
  if (Index < 0) Index = 0;
  else if (Index > 88) Index = 88;
  return Pred;
}

// The code that brings the predictor closest to Sample by the step's binary search, applied.
inline uint32_t Quantise(int32_t& Pred, int32_t& Index, int32_t Sample) {
  int32_t step = ImaStepTable[Index];
  int32_t diff = Sample - Pred;
  uint32_t code = 0;
  if (diff < 0) {
    code = 8;
    diff = -diff;
  }
  if (diff >= step) {
    code |= 4;
    diff -= step;
  }
  if (diff >= (step >> 1)) {
    code |= 2;
    diff -= step >> 1;
  }
  if (diff >= (step >> 2)) code |= 1;
  Expand(Pred, Index, code);
  return code;
}

bool Suits(uint32_t BlockAlign, uint32_t Channels) {
  if (Channels == 1) return BlockAlign >= 4;
  return Channels == 2 && BlockAlign >= 8 && (BlockAlign - 8) % 8 == 0;
}

}  // namespace

uint32_t ImaSamplesPerBlock(uint32_t BlockAlign, uint32_t Channels) {
  if (Channels == 1) return BlockAlign >= 4 ? 2 * (BlockAlign - 4) + 1 : 0;
  return BlockAlign >= 8 ? BlockAlign - 7 : 0;
}

uint32_t DecodeImaBlock(const uint8_t* Block, uint32_t BlockAlign, uint32_t Channels, int16_t* Out) {
  if (!Suits(BlockAlign, Channels)) return 0;
  if (Channels == 1) {
    int32_t pred = (int16_t)GetLE16(Block);
    int32_t index = std::min<int32_t>(Block[2], 88);
    *Out++ = (int16_t)pred;
    for (uint32_t i = 4; i < BlockAlign; ++i) {
      uint32_t v = Block[i];
      *Out++ = (int16_t)Expand(pred, index, v & 15);
      *Out++ = (int16_t)Expand(pred, index, v >> 4);
    }
    return ImaSamplesPerBlock(BlockAlign, 1);
  }
  int32_t pred[2] = {(int16_t)GetLE16(Block), (int16_t)GetLE16(Block + 4)};
  int32_t index[2] = {std::min<int32_t>(Block[2], 88), std::min<int32_t>(Block[6], 88)};
  Out[0] = (int16_t)pred[0];
  Out[1] = (int16_t)pred[1];
  int16_t* frames = Out + 2;
  const uint32_t groups = (BlockAlign - 8) / 8;
  for (uint32_t g = 0; g < groups; ++g) {
    const uint8_t* d = Block + 8 + 8 * g;
    int16_t* o = frames + 16 * g;
    for (int c = 0; c < 2; ++c) {
      const uint8_t* q = d + 4 * c;
      for (int k = 0; k < 4; ++k) {
        uint32_t v = q[k];
        o[(2 * k) * 2 + c] = (int16_t)Expand(pred[c], index[c], v & 15);
        o[(2 * k + 1) * 2 + c] = (int16_t)Expand(pred[c], index[c], v >> 4);
      }
    }
  }
  return ImaSamplesPerBlock(BlockAlign, 2);
}

bool EncodeImaBlock(const int16_t* In, uint32_t BlockAlign, uint32_t Channels, uint8_t* StepIndex, uint8_t* Block) {
  if (!Suits(BlockAlign, Channels)) return false;
  int32_t pred[2] = {}, index[2] = {};
  for (uint32_t c = 0; c < Channels; ++c) {
    pred[c] = In[c];
    index[c] = std::min<int32_t>(StepIndex[c], 88);
    PutLE16(Block + 4 * c, (uint16_t)In[c]);
    Block[4 * c + 2] = (uint8_t)index[c];
    Block[4 * c + 3] = 0;
  }
  if (Channels == 1) {
    const int16_t* s = In + 1;
    for (uint32_t k = 4; k < BlockAlign; ++k, s += 2) {
      uint32_t lo = Quantise(pred[0], index[0], s[0]);
      uint32_t hi = Quantise(pred[0], index[0], s[1]);
      Block[k] = (uint8_t)(lo | hi << 4);
    }
  } else {
    const uint32_t groups = (BlockAlign - 8) / 8;
    for (uint32_t g = 0; g < groups; ++g) {
      const int16_t* f = In + 2 * (1 + 8 * g);
      uint8_t* d = Block + 8 + 8 * g;
      for (int c = 0; c < 2; ++c)
        for (int k = 0; k < 4; ++k) {
          uint32_t lo = Quantise(pred[c], index[c], f[(2 * k) * 2 + c]);
          uint32_t hi = Quantise(pred[c], index[c], f[(2 * k + 1) * 2 + c]);
          d[4 * c + k] = (uint8_t)(lo | hi << 4);
        }
    }
  }
  for (uint32_t c = 0; c < Channels; ++c) StepIndex[c] = (uint8_t)index[c];
  return true;
}
