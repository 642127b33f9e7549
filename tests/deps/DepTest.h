// Shared pieces of the codec library tests: a scratch folder, the test signal, PCM packing,
// and decoding or probing a file with the native ffmpeg.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/Peer.h"
#include "common/TestFiles.h"

namespace deptest {

constexpr int kRate = 44100;
constexpr int kFrames = 44100 + 123;  // not a multiple of any codec's block size

// A fresh folder in the temporary folder, removed with everything in it.
class TempDir : public testfiles::TempDir {
 public:
  TempDir() : testfiles::TempDir(L"deps-test") {}
  std::wstring W(const char* file) const;  // Windows path
  std::string A(const char* file) const;   // the same as 8-bit text (the folder has an ASCII name)
  std::string U(const char* file) const;   // native path, for peers
};

// Two tones that differ per channel plus a little pseudo-random noise, at `bits` (16 or 24),
// interleaved.
std::vector<int32_t> MakeSignal(int frames, int channels, int bits);

// Little-endian signed PCM bytes of interleaved samples and back.
std::string ToPcm(const std::vector<int32_t>& samples, int bits);
std::vector<int32_t> FromPcm(const std::string& bytes, int bits);

bool WriteBinary(const std::string& path, const std::string& bytes);
std::string ReadBinary(const std::string& path);

// Decodes a file with ffmpeg to interleaved samples at `bits` (16 or 24); exitCode != 0 on failure.
struct Decoded {
  int exitCode = -1;
  std::string err;
  std::vector<int32_t> samples;
};
Decoded FfmpegDecode(const std::string& unixFile, int bits);

// ffprobe's view of the first audio stream and the tags: keys "codec_name", "channels",
// "sample_rate", "bit_rate" and "tag:<name in lower case>" (format and stream tags).
std::map<std::string, std::string> Probe(const std::string& unixFile);

// Signal-to-noise ratio in dB of `got` against `ref` (interleaved), over a window in the middle,
// at the delay in [0, maxLag] frames that fits best; the delay is stored in *lag.
double BestSnr(const std::vector<int32_t>& ref, const std::vector<int32_t>& got, int channels, int maxLag,
               int* lag = nullptr);

// Index of the first difference of two sample vectors, or -1 when they are equal.
long FirstDifference(const std::vector<int32_t>& a, const std::vector<int32_t>& b);

// Every interleaved sample of `v` from frame `from` for `frames` frames.
std::vector<int32_t> Frames(const std::vector<int32_t>& v, int channels, long from, long frames);

}  // namespace deptest
