// PCM for the codecs that take or give 32-bit integer samples: whole frames out of pulls of any
// size, and little-endian PCM to and from 32-bit integers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Keeps the bytes of a partial frame left at the end of one pull and puts them in front of the
// next, so that each step hands whole frames on. Allocates only in Reset.
// Threads: the output's worker (one step at a time).
class TAuPcmFrames {
 public:
  // Sets the frame size and the most frames a step takes; nothing is kept.
  void Reset(int FrameBytes, uint32_t MaxFrames);
  // Forgets the kept bytes.
  void Clear() { FCount = 0; }
  // The bytes to ask the input for in the next step.
  uint32_t Ask() const { return (uint32_t)((size_t)FFrameBytes * FMaxFrames - FCount); }
  // The kept bytes and Bytes more at Data (at most Ask()) as one run: its start, and in Frames
  // the whole frames in it. Without kept bytes the run is Data itself.
  const uint8_t* Join(const void* Data, uint32_t Bytes, uint32_t& Frames);
  // After the frames of the last Join are used: keeps the partial frame after them.
  void Keep();

 private:
  std::vector<uint8_t> FKept;
  size_t FCount = 0;
  int FFrameBytes = 0;
  uint32_t FMaxFrames = 0;
  const uint8_t* FRun = nullptr;
  size_t FRunBytes = 0;
};

// Count little-endian samples of Bytes bytes each (1: unsigned, 2 to 4: signed) to 32-bit
// integers at their own scale.
void PcmToInt32(const uint8_t* Src, int Bytes, size_t Count, int32_t* Dst);

// The inverse: Count 32-bit integers, each within the range of Bytes bytes, to little-endian
// samples of Bytes bytes (1: unsigned). Dst may be Src itself (the samples narrow in place).
void Int32ToPcm(const int32_t* Src, int Bytes, size_t Count, uint8_t* Dst);
