// A whole WAVE file in memory converted by the Audio Compression Manager: the "data" body is
// the stream's contents, with the format it is in and the format it is to be converted to.
#pragma once
#include <cstdint>

#include "classlib/Classes.h"

// Threads (every method): one thread at a time, the one that loads it; Convert waits for the
// compression manager to finish the whole conversion.
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
