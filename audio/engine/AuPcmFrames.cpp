#include "audio/engine/AuPcmFrames.h"

#include <cstring>

void TAuPcmFrames::Reset(int FrameBytes, uint32_t MaxFrames) {
  FFrameBytes = FrameBytes;
  FMaxFrames = MaxFrames;
  // A partial frame and a full step of new bytes.
  FKept.resize((size_t)FrameBytes * (MaxFrames + 1));
  FCount = 0;
}

const uint8_t* TAuPcmFrames::Join(const void* Data, uint32_t Bytes, uint32_t& Frames) {
  FRun = static_cast<const uint8_t*>(Data);
  if (FCount) {
    std::memcpy(FKept.data() + FCount, Data, Bytes);
    FRun = FKept.data();
  }
  FRunBytes = FCount + Bytes;
  Frames = (uint32_t)(FRunBytes / (size_t)FFrameBytes);
  return FRun;
}

void TAuPcmFrames::Keep() {
  const size_t used = FRunBytes / (size_t)FFrameBytes * (size_t)FFrameBytes;
  FCount = FRunBytes - used;
  if (FCount) std::memmove(FKept.data(), FRun + used, FCount);
}

void PcmToInt32(const uint8_t* s, int Bytes, size_t Count, int32_t* d) {
  switch (Bytes) {
    case 1:
      for (size_t i = 0; i < Count; ++i) d[i] = (int32_t)s[i] - 128;
      break;
    case 2:
      for (size_t i = 0; i < Count; ++i) d[i] = (int16_t)(s[2 * i] | s[2 * i + 1] << 8);
      break;
    case 3:
      for (size_t i = 0; i < Count; ++i, s += 3)
        d[i] = (int32_t)((uint32_t)s[0] << 8 | (uint32_t)s[1] << 16 | (uint32_t)s[2] << 24) >> 8;
      break;
    default:
      std::memcpy(d, s, Count * 4);
      break;
  }
}

void Int32ToPcm(const int32_t* s, int Bytes, size_t Count, uint8_t* d) {
  switch (Bytes) {
    case 1:
      for (size_t i = 0; i < Count; ++i) d[i] = (uint8_t)(s[i] + 128);
      break;
    case 2:
      for (size_t i = 0; i < Count; ++i) {
        const int16_t v = (int16_t)s[i];
        std::memcpy(d + 2 * i, &v, 2);
      }
      break;
    case 3:
      for (size_t i = 0; i < Count; ++i) {
        const uint32_t v = (uint32_t)s[i];
        d[3 * i] = (uint8_t)v;
        d[3 * i + 1] = (uint8_t)(v >> 8);
        d[3 * i + 2] = (uint8_t)(v >> 16);
      }
      break;
    default:
      if ((const void*)d != (const void*)s) std::memmove(d, s, Count * 4);
      break;
  }
}
