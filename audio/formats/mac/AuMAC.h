// Monkey's Audio components over "MACDll.dll": TMACIn decodes a file the library opens by its
// wide name; TMACOut feeds the library's compressor and tags the finished file (APEv2).
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "audio/formats/mac/MACDll.h"

class TMACIn : public TAuTaggedFileIn {
 public:
  explicit TMACIn(TComponent* AOwner);
  ~TMACIn() override;
  const char* ClassName() const override { return "TMACIn"; }
  // The current bit rate in kbit/s, 0 without a decompressor.
  // Threads: any; reads the open decompressor without waiting.
  int GetBitRate();

 protected:
  int GetTotalTime() override;
  void InitInternal() override;
  void LoadDecoderLibrary() override;
  bool OpenDecoder() override;
  bool OpenFailed() override;
  void CloseDecoder() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;
  bool SeekInternal(int64_t& SampleNum) override;

 private:
  static constexpr uint32_t DecodeBufferSize = 8192;
  std::unique_ptr<TAPEDecompress> FDecompress;
  std::vector<uint8_t> FBuffer;
  uint32_t FFill = 0;
  uint32_t FReadPos = 1;  // counted from 1; past FFill: empty
  bool FDataEnded = false;
};

class TMACOut : public TAuTaggedFileOut {
 public:
  explicit TMACOut(TComponent* AOwner);
  ~TMACOut() override;
  const char* ClassName() const override { return "TMACOut"; }

  int32_t CompressionLevel() const { return FCompressionLevel; }
  // 1000, 2000, 3000, 4000 or 5000; anything else becomes 2000.
  // Threads: set while idle, from any thread (likewise MaxAudioBytes).
  void SetCompressionLevel(int32_t Value);
  int32_t MaxAudioBytes() const { return FMaxAudioBytes; }
  void SetMaxAudioBytes(int32_t Value) { FMaxAudioBytes = Value; }

 protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

 private:
  static constexpr uint32_t TransferSize = 65536;
  int32_t FCompressionLevel = 2000;
  int32_t FMaxAudioBytes = -1;
  std::vector<uint8_t> FTransfer;
  std::unique_ptr<TAPECompress> FCompress;
  mac_wave_format FFormat{};
  bool FEndOfInput = false;
  bool FInputInited = false;
  // The library takes 8-bit names: a name outside the code page is written under LibFileName
  // (an 8-bit temporary name) and renamed when the file is complete.
  AnsiString FLibFileName;
  bool FRenameAtEnd = false;
};
