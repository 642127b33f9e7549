// Shared helpers of the lossless codec tests: signals, peers and running outputs.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "audio/engine/AuClasses.h"

namespace lossless {

// A destination that takes Limit bytes, then refuses every write (a full disk), or raises
// EWriteError when Raise is set.
class TFullStream : public TMemoryStream {
 public:
  explicit TFullStream(int64_t Limit, bool Raise = false) : FLimit(Limit), FRaise(Raise) {}
  int32_t Write(const void* Buffer, int32_t Count) override {
    if (Position() + Count > FLimit) {
      if (FRaise) throw EWriteError("Stream write error");
      return 0;
    }
    return TMemoryStream::Write(Buffer, Count);
  }

 private:
  int64_t FLimit;
  bool FRaise;
};

// A source stream whose reads raise EReadError past Limit bytes.
class TBrokenStream : public TMemoryStream {
 public:
  explicit TBrokenStream(int64_t Limit) : FLimit(Limit) {}
  int32_t Read(void* Buffer, int32_t Count) override {
    if (Position() + Count > FLimit) throw EReadError("Stream read error");
    return TMemoryStream::Read(Buffer, Count);
  }

 private:
  int64_t FLimit;
};

// Interleaved samples at the given depth (8-bit unsigned, 16/24/32-bit signed little-endian):
// a sweep, noise and full-scale peaks, so every bit and the extremes are exercised.
std::vector<uint8_t> Signal(int Bits, int Channels, int Frames, uint32_t Seed = 1);
// ffmpeg's raw format name for a depth ("u8", "s16le", "s24le", "s32le").
std::string RawFormat(int Bits);
// Decodes a file with ffmpeg to raw samples at Bits; Error gets stderr on failure.
std::vector<uint8_t> FfmpegDecode(const std::wstring& File, int Bits, std::string& Error);
// Encodes raw samples with ffmpeg (codec "tta", "wavpack", ...) into File; "" on success.
std::string FfmpegEncode(const std::vector<uint8_t>& Raw, int Bits, int Channels, int Rate, const std::string& Codec,
                         const std::wstring& File);
// A native peer command; returns its exit code and stderr in Error.
int PeerRun(const std::string& Command, std::string& Error, std::string* Out = nullptr);
std::string Native(const std::wstring& File);
// Runs Out to the end on its worker, pumping the user-interface thread until OnDone; returns
// the exception message the run reported (empty when none).
std::string RunToDone(TAuOutput* Out);
// The first differing byte, or -1 when equal.
long FirstDifference(const std::vector<uint8_t>& A, const std::vector<uint8_t>& B);

}  // namespace lossless
