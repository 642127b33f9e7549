// Helpers of the WAVE tests: temporary folders, RIFF byte builders, a scripted input, pulling
// a whole input, and running the native peers (sox, ffmpeg).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "common/DrainInput.h"
#include "common/TestFiles.h"

namespace wavetest {

// A private folder under the temporary folder, removed with its files.
class TempDir : public testfiles::TempDir {
 public:
  TempDir() : testfiles::TempDir(L"wavetest") {}
};

// Writes a whole file, failing the test when it can't.
void WriteBytes(const std::wstring& file, const std::string& data);
using testfiles::ReadBytes;
bool FileExists(const std::wstring& file);

std::string LE16(uint32_t v);
std::string LE32(uint32_t v);
uint32_t Get32(const std::string& s, size_t at);
uint16_t Get16(const std::string& s, size_t at);
std::string Chunk(const std::string& id, const std::string& body);  // with its pad byte
// A "fmt " body: tag, channels, rate, block align, bits (bytes per second computed).
std::string FmtBody(uint16_t tag, uint16_t ch, uint32_t rate, uint16_t align, uint16_t bits);
std::string Riff(const std::string& chunks);
// A PCM file: 16-bit samples given as values.
std::string PcmWav16(uint16_t ch, uint32_t rate, const std::vector<int16_t>& samples);
// Frames 0..n-1 of 16-bit mono whose sample n has the value n.
std::vector<int16_t> Ramp(int n);

// An input that delivers given bytes in a given format; Size is the bytes or -1 (unknown).
class TTestSource : public TAuInput {
 public:
  TTestSource(int bits, int ch, int rate, std::string data, bool unknownSize = false);
  const char* ClassName() const override { return "TTestSource"; }
  uint32_t MaxChunk = 4096;
  int Inits = 0, Flushes = 0;

 protected:
  int GetBPS() override { return bits_; }
  int GetCh() override { return ch_; }
  int GetSR() override { return rate_; }
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;

 private:
  int bits_, ch_, rate_;
  std::string data_;
  bool unknown_;
  size_t pos_ = 0;
};


// Runs a native command; fails the test (and returns "") on a non-zero exit code.
std::string Peer(const std::string& command);
// The native path of a file, quoted for the shell.
std::string Q(const std::wstring& file);

template <class T>
std::vector<T> As(const std::string& bytes) {
  std::vector<T> v(bytes.size() / sizeof(T));
  if (!v.empty()) memcpy(v.data(), bytes.data(), v.size() * sizeof(T));
  return v;
}

}  // namespace wavetest
