// A whole WAVE file in memory converted by the Audio Compression Manager: the "data" body is
// the stream's contents, with the format it is in and the format it is to be converted to.
#pragma once
#include <cstdint>

#include "classlib/Classes.h"

// Little-endian fields and chunk ids of RIFF files.
namespace riff {
inline uint32_t Get32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24); }
inline void Put32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}
// Each of the four bytes equal, or differing by exactly 32 (letter case).
inline bool IdIs(const uint8_t* p, const char* id) {
  for (int i = 0; i < 4; ++i) {
    int a = p[i], b = (uint8_t)id[i];
    if (a != b && a - b != 32 && b - a != 32) return false;
  }
  return true;
}
}  // namespace riff

class TWaveConverter : public TMemoryStream {
 public:
  // Size of each format record (a WAVEFORMATEX with its extra bytes).
  static constexpr uint32_t FormatSize = 129;

  TWaveConverter();
  const char* ClassName() const override { return "TWaveConverter"; }

  // The source format: the "fmt " body of the loaded file (at least its first 18 bytes).
  uint8_t* CurrentFormat() { return FCurrent; }
  // The destination format, filled in by the caller (or suggested by the manager).
  uint8_t* NewFormat() { return FNew; }

  // Reads a WAVE file from the stream's position: False when it has no "fmt " or "data" chunk,
  // or a "fmt " body larger than the format record.
  bool LoadWaveStream(TStream* Stream);
  // Converts the data to the new format, which then becomes the current one; 0 on success,
  // else the manager's error.
  uint32_t Convert();
  // Writes the data as a PCM WAVE file in the current format.
  void SaveWaveStream(TStream* Stream);

 private:
  uint8_t FCurrent[FormatSize];
  uint8_t FNew[FormatSize];
};
