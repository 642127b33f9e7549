// The TTA1 codec behind TTALib.dll: header and seek table, the adaptive filter, the fixed
// predictor, inter-channel decorrelation and adaptive Rice coding, over a Windows file handle.
// Failures throw TTAError; the exports turn them into error returns.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tta {

class TTAError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr int FormatPCM = 1;
constexpr int FormatFloat = 3;
constexpr uint32_t HeaderSize = 22;
constexpr int MaxChannels = 16;

uint32_t Crc32(const uint8_t* Data, size_t Count);
// Sample frames in one TTA frame at this rate (1.04489795918 s).
inline uint32_t FrameLength(uint32_t SampleRate) { return (uint32_t)((uint64_t)SampleRate * 256 / 245); }

// The per-channel state of the coder.
struct ChannelState {
  int32_t shift = 0, round = 0, error = 0;
  int32_t qm[8] = {}, dx[8] = {}, dl[8] = {};
  uint32_t k0 = 10, k1 = 10, sum0 = 0, sum1 = 0;
  int32_t predictor = 0;
  void Reset(int BytesPerSample);
};

// Thin wrapper of the handle's reads, writes and positioning.
class HandleFile {
 public:
  explicit HandleFile(void* Handle) : h_(Handle) {}
  int64_t Tell();
  void SeekTo(int64_t Pos);
  int64_t Size();
  void ReadExact(void* Buf, uint32_t Count);
  void WriteAll(const void* Buf, uint32_t Count);
  void Truncate();  // at the current position

 private:
  void* h_;
};

class Decoder {
 public:
  explicit Decoder(void* Handle);
  int Format() const { return format_; }
  int Channels() const { return channels_; }
  int Bits() const { return bits_; }
  int Rate() const { return (int)rate_; }
  int64_t Length() const { return length_; }
  // Decodes the next frame; 0 at the end.
  int NextBlock(void** Buffer);
  int64_t Seek(int64_t SampleFrame);

 private:
  void DecodeInteger(const uint8_t* Data, uint32_t Bytes, uint32_t Count);
  void DecodeFloat(const uint8_t* Data, uint32_t Bytes, uint32_t Count);

  HandleFile file_;
  int format_ = 0, channels_ = 0, bits_ = 0, bytes_ = 0;
  uint32_t rate_ = 0, frameLen_ = 0, length_ = 0;
  std::vector<int64_t> offsets_;  // of each frame, and one past the last
  uint32_t next_ = 0;             // the frame GetBlock decodes next
  std::vector<uint8_t> raw_;
  std::vector<int32_t> out_;      // integer samples, or two words per float slot
  std::vector<ChannelState> state_;
};

class Encoder {
 public:
  Encoder(void* Handle, bool Append, int Format, int Channels, int Bits, int Rate, uint32_t DataLength);
  void Compress(const void* Buffer, int Frames);
  // Writes the last frame, the seek table and the header.
  void Finish();
  bool Failed() const { return failed_; }

 private:
  void EncodeFrame();
  void WriteHeaderAndTable(uint32_t Length, const std::vector<uint32_t>& Sizes);

  HandleFile file_;
  int format_, channels_, bits_, bytes_;
  uint32_t rate_, frameLen_;
  int64_t start_ = 0;      // where the header goes
  int64_t dataStart_ = 0;  // where the first frame went
  uint32_t reserved_ = 0;  // seek-table entries reserved before the first frame
  std::vector<int32_t> pending_;  // samples of the frame being filled (two words per float slot)
  uint32_t pendingFrames_ = 0;
  uint64_t total_ = 0;
  std::vector<uint32_t> sizes_;
  std::vector<uint8_t> bits_out_;
  std::vector<ChannelState> state_;
  bool failed_ = false;
  bool finished_ = false;
};

}  // namespace tta
