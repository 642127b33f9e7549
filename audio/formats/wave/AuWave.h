// RIFF WAVE files: TWaveIn reads PCM, IEEE float, the extensible format, IMA and Microsoft
// ADPCM, and MPEG audio in WAVE through the Audio Compression Manager; TWaveOut writes PCM, the
// extensible PCM header and IMA ADPCM, and appends to PCM and IMA ADPCM files.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/engine/AuClasses.h"

enum TWavType {
  wtUnsupported = 0,
  wtPCM = 1,
  wtDVIADPCM = 2,
  wtMSADPCM = 3,
  wtACM = 4,
  wtIEEEFloat = 5,
  wtExtPCM = 6,
  wtExtIEEEFloat = 7
};

// What a scan of a WAVE header found. Offsets are from the start of the stream.
struct TWaveHeader {
  TWavType Type = wtUnsupported;
  uint16_t FormatTag = 0;
  uint16_t Channels = 0;
  uint32_t SampleRate = 0;
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
  uint16_t SamplesPerBlock = 0;
  std::vector<int16_t> Coefs;  // Microsoft ADPCM coefficient pairs, two values each
  std::vector<uint8_t> Fmt;    // the "fmt " body as stored
  bool HasFact = false;
  uint32_t FactSamples = 0;
  int64_t FactField = -1;      // offset of the "fact" sample count
  uint32_t DataSize = 0;       // as declared
  int64_t DataSizeField = -1;  // offset of the "data" chunk's size
  int64_t DataOffset = -1;     // offset of the first byte of the "data" body
};

// Scans a WAVE header from the stream's current position, within its first 65535 bytes.
// Threads: any; the caller owns the stream for the call.
// Chunk identifiers are compared without regard to letter case; a compressed format needs a
// "fact" chunk before its data. PcmAndImaOnly accepts format tags 1 and 0x11 only (appending).
// False when no usable header was found; the stream position is then undefined.
bool ScanWaveHeader(TStream* S, TWaveHeader& H, bool PcmAndImaOnly);

class TWaveIn : public TAuFileIn {
 public:
  explicit TWaveIn(TComponent* AOwner);
  ~TWaveIn() override;
  const char* ClassName() const override { return "TWaveIn"; }

  // The type found in the header; wtUnsupported until a header has been read.
  // Threads: the owner's thread, or the consumer's while it pulls; no waits.
  TWavType WavType() const { return FWavType; }

 protected:
  bool OpenDecoder() override;
  void CloseDecoder() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;
  bool SeekInternal(int64_t& SampleNum) override;

 private:
  // The header scan and the checks that make a file Valid; may replace Stream by the
  // compression manager's decoded copy.
  void ReadHeader(bool Converted);
  bool ConvertThroughAcm(const TWaveHeader& H);
  // Reads at most Count bytes, never past the end of the "data" body.
  uint32_t ReadData(uint8_t* Dest, uint32_t Count);
  // ADPCM: the block buffer holds as many blocks as decode into one transfer block.
  void SizeAdpcmBuffers(uint32_t Channels);
  // Reads the next blocks into FBlock, zero-filling a short last one; how many (0 at the end).
  uint32_t ReadBlocks();
  // Reads and decodes the next blocks into the buffer; the bytes they gave (0: no more).
  uint32_t DecodeAdpcmBlocks();

  std::vector<uint8_t> FBuf;    // the decode buffer
  std::vector<uint8_t> FBlock;  // ADPCM blocks as read
  TWavType FWavType = wtUnsupported;
  uint16_t FBlockAlign = 0;
  uint32_t FSamplesPerBlock = 0;
  uint32_t FFactSamples = 0;
  std::vector<int16_t> FCoefs;
  int64_t FDataOffset = 0;
  int64_t FDataEnd = 0;  // one past the last byte of the "data" body
  int64_t FReadPos = 0;  // where the next read of Stream starts
  uint32_t FDiskFrame = 0;  // bytes of one frame as stored (PCM and float)
  uint32_t FSkipBytes = 0;  // bytes to drop from the next decoded block (a seek inside it)
  uint32_t FBlocksPerRead = 1;
  bool FDamaged = false;    // a damaged ADPCM block was met: nothing follows until a seek
  bool SingleFloat = false;
  // Compression-manager path: Stream is the decoded copy and the file's own stream waits here.
  TStream* FFileStream = nullptr;                // borrowed back into Stream at CloseFile
  std::unique_ptr<TMemoryStream> FConverted;     // owned: the decoded copy

};

// The speakers of 1 to 8 interleaved channels as a WAVE_FORMAT_EXTENSIBLE mask (0 for more),
// in the one channel order of the whole engine (the Vorbis reader and writer reorder to and from
// it): mono FC; stereo FL FR; FL FR FC; FL FR BL BR; FL FR FC BL BR; FL FR FC LFE BL BR;
// FL FR FC LFE BC SL SR; FL FR FC LFE BL BR SL SR. Threads: any.
uint32_t PcmChannelMask(int Channels);

class TWaveOut : public TAuFileOut {
 public:
  explicit TWaveOut(TComponent* AOwner);
  ~TWaveOut() override;
  const char* ClassName() const override { return "TWaveOut"; }

  // The settings below are read by Prepare on the worker; a setter called while the output is
  // busy changes nothing. Threads: the owner's thread (the user-interface thread or the task that
  // built the chain); no waits.
  // wtPCM or wtDVIADPCM, set while idle; other values are ignored.
  TWavType WavType() const { return FWavType; }
  void SetWavType(TWavType Value);
  // The IMA ADPCM block align: a non-zero multiple of 4, set while idle.
  uint16_t BlockSize() const { return FBlockSize; }
  void SetBlockSize(uint16_t Value);
  // False: the extensible header for more than 2 channels or more than 16 bits.
  bool CreateNonMsHeaders() const { return FCreateNonMsHeaders; }
  void SetCreateNonMsHeaders(bool Value) { FCreateNonMsHeaders = Value; }
  void SetFileMode(TFileOutputMode Value) override;

 protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

 private:
  // Flushes the input, frees an own stream and raises Message (format errors of Prepare).
  [[noreturn]] void FailPrepare(const char* Message);
  void WriteOrFail(const void* Data, uint32_t Count);
  void WriteHeader(int64_t InputSize);
  bool EncodeImaBlock();
  void FixHeader();
  void PutLong(int64_t Offset, uint32_t Value);

  TWavType FWavType = wtPCM;
  uint16_t FBlockSize = 512;
  bool FCreateNonMsHeaders = true;

  // State of one run.
  TWavType FRunType = wtPCM;
  uint16_t FRunBlock = 512;
  uint32_t FSamplesPerBlock = 0;
  int FChannels = 0, FBits = 0, FRate = 0;
  bool FEndOfInput = false;
  bool FInputInited = false;
  bool FCreated = false;
  bool FAppending = false;
  bool FFailed = false;
  uint32_t FHeaderLen = 0;
  int64_t FDataSizeField = 0, FFactField = 0, FDataOffset = 0;
  int64_t FOldBlocks = 0;  // blocks of an IMA ADPCM file appended to
  int64_t FFramesWritten = 0;
  uint8_t FStepIndex[2] = {0, 0};
  std::vector<uint8_t> FSampleBytes;  // one block's input frames
  std::vector<uint8_t> FBlockOut;
};
