// Helpers of the codec tests: a scratch folder, generated signals, an input over bytes, running
// an output (blocking or on its worker with events), and the native peers (ffmpeg, ffprobe).
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "common/DrainInput.h"
#include "common/MemoryInput.h"
#include "common/Peer.h"
#include "common/TestFiles.h"

namespace codectest {

class TempDir : public testfiles::TempDir {
 public:
  TempDir() : testfiles::TempDir(L"codecs") {}
  std::wstring W(const std::wstring& name) const { return File(name); }
  std::string U(const std::wstring& name) const { return peer::UnixPath(File(name)); }  // native path
};

// Interleaved little-endian PCM of two tones per channel plus a little noise, at 8 (unsigned),
// 16, 24 or 32 bits, Amplitude a fraction of full scale.
std::string Signal(int Frames, int Channels, int Bits, int Rate = 44100, double Amplitude = 0.7);
// Signed sample values of little-endian PCM (8-bit: unsigned, returned minus 128).
std::vector<int32_t> Samples(const std::string& Pcm, int Bits);

// An input over bytes in memory, handed in as a string; at most MaxChunk bytes per pull (any
// count, not whole frames).
class TBytesIn : public TMemIn {
 public:
  TBytesIn(const std::string& Bytes, int Bits, int Ch, int Rate, TComponent* AOwner = nullptr)
      : TMemIn(std::vector<uint8_t>(Bytes.begin(), Bytes.end()), Bits, Ch, Rate, AOwner) {}
  const char* ClassName() const override { return "TBytesIn"; }
};

// Runs the output to the end in this thread: "" or the message of what it raised.
std::wstring RunBlocking(TAuOutput& Out);

// What a run on the output's worker reported through its events.
struct TRunEvents {
  bool Done = false;               // OnDone arrived
  std::vector<std::string> Errors;  // ExceptionMessage at each OnThreadException
};
// Runs the output on its worker and serves the user-interface thread until OnDone (at most
// 60 s); the output's event handlers are replaced.
TRunEvents RunWithEvents(TAuOutput& Out);

// ffmpeg's decoding of a file to little-endian PCM of the format ("u8", "s16le", "s24le",
// "s32le"); fails the test when ffmpeg fails.
std::string FfmpegPcm(const std::string& UnixFile, const std::string& Format);
// ffprobe's view of the first audio stream and the tags: "codec_name", "channels",
// "sample_rate", "bit_rate", "duration", "duration_ts", and "tag:<name in lower case>".
std::map<std::string, std::string> Probe(const std::string& UnixFile);
// Runs a native command; fails the test (and returns "") when it does not exit with 0.
std::string Peer(const std::string& Command);

// Normalised cross-correlation of two 16-bit sample sets at the best lag in 0..MaxLag frames
// (Got delayed against Ref), over the middle of Ref.
double Correlation(const std::vector<int32_t>& Ref, const std::vector<int32_t>& Got, int Channels, int MaxLag);

// "" when the two byte strings are equal, else where they first differ.
std::string FirstDifference(const std::string& A, const std::string& B);

}  // namespace codectest
