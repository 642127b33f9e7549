// Helpers of the Windows Media tests: a scratch folder, fixtures made by ffmpeg, pulling a
// whole input, and comparing our decode with ffmpeg's.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "common/DrainInput.h"
#include "common/TestFiles.h"

namespace wmtest {

// One scratch folder for the whole test run (fixtures are made once and shared).
const testfiles::TempDir& Scratch();
std::wstring ScratchFile(const std::wstring& name);

// Runs a native command; fails the test (and returns "") on a non-zero exit code.
std::string Peer(const std::string& command);
// The native path of a file, quoted for the shell.
std::string Q(const std::wstring& file);

// Makes (once) a file `name` in the scratch folder with ffmpeg from a stereo (or mono) chirp of
// `seconds` at `rate`, encoded with `codecArgs` (e.g. "-c:a libmp3lame -b:a 128k").
std::wstring MakeFile(const std::wstring& name, int rate, int channels, double seconds, const std::string& codecArgs,
                      const std::string& extraArgs = "");

// ffmpeg's decode of a file as 16-bit samples with the file's own channels and rate.
std::vector<int16_t> PeerDecode(const std::wstring& file);


template <class T>
std::vector<T> As(const std::string& bytes) {
  std::vector<T> v(bytes.size() / sizeof(T));
  if (!v.empty()) memcpy(v.data(), bytes.data(), v.size() * sizeof(T));
  return v;
}

// The lag (in frames, within ±maxLag) at which `ours` best matches `ref`, and the normalised
// correlation there, over interleaved frames of `channels`.
struct Match {
  int lag = 0;
  double corr = 0;
};
Match BestMatch(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref, int channels, int maxLag);

}  // namespace wmtest
