// FLAC files: TFLACIn decodes a FLAC file (or a stream handed in) through the FLAC library's
// stream decoder; TFLACOut encodes PCM from its Input through the stream encoder into its own
// stream, with a Vorbis comment block built from its Tags.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/engine/AuClasses.h"

// Threads: properties are set while the output is idle; Prepare, DoOutput and Done run on the
// output's worker (or the thread of BlockingRun), which waits for nothing but the stream.
class TFLACOut : public TAuFileOut {
 public:
  explicit TFLACOut(TComponent* AOwner);
  ~TFLACOut() override;
  const char* ClassName() const override { return "TFLACOut"; }

  bool BestModelSearch() const { return FBestModelSearch; }
  // True also turns mid-side stereo on and loose mid-side stereo off.
  void SetBestModelSearch(bool Value);
  uint16_t BlockSize() const { return FBlockSize; }
  void SetBlockSize(uint16_t Value) { FBlockSize = Value; }
  // -1: the detailed settings below; 0..8 a library preset (values above 8 are stored as 8).
  int32_t CompressionLevel() const { return FCompressionLevel; }
  void SetCompressionLevel(int32_t Value) { FCompressionLevel = Value > 8 ? 8 : Value; }
  bool EnableMidSideStereo() const { return FEnableMidSideStereo; }
  void SetEnableMidSideStereo(bool Value) { FEnableMidSideStereo = Value; }
  bool EnableLooseMidSideStereo() const { return FEnableLooseMidSideStereo; }
  // True also turns mid-side stereo on.
  void SetEnableLooseMidSideStereo(bool Value);
  uint16_t MaxLPCOrder() const { return FMaxLPCOrder; }
  void SetMaxLPCOrder(uint16_t Value) { FMaxLPCOrder = Value; }
  uint16_t MaxResidualPartitionOrder() const { return FMaxResidualPartitionOrder; }
  void SetMaxResidualPartitionOrder(uint16_t Value) { FMaxResidualPartitionOrder = Value; }
  uint16_t MinResidualPartitionOrder() const { return FMinResidualPartitionOrder; }
  void SetMinResidualPartitionOrder(uint16_t Value) { FMinResidualPartitionOrder = Value; }
  uint16_t QLPCoeffPrecision() const { return FQLPCoeffPrecision; }
  void SetQLPCoeffPrecision(uint16_t Value) { FQLPCoeffPrecision = Value; }
  bool QLPCoeffPrecisionSearch() const { return FQLPCoeffPrecisionSearch; }
  void SetQLPCoeffPrecisionSearch(bool Value) { FQLPCoeffPrecisionSearch = Value; }
  // The comments of the next file; setting copies the given set.
  TVorbisTags* Tags() const { return FTags.get(); }
  void SetTags(TVorbisTags* Value) { FTags->Assign(Value); }
  bool Verify() const { return FVerify; }
  void SetVerify(bool Value) { FVerify = Value; }

  // The comment block (header and body) this output writes in place of the encoder's own;
  // Last sets the last-metadata-block bit.
  std::string BuildCommentBlock(bool Last) const;

 protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

 private:
  friend struct TFLACOutCallbacks;

  bool FBestModelSearch = false;
  uint16_t FBlockSize = 4608;
  int32_t FCompressionLevel = -1;
  bool FEnableMidSideStereo = true;
  bool FEnableLooseMidSideStereo = false;
  uint16_t FMaxLPCOrder = 0;
  uint16_t FMaxResidualPartitionOrder = 0;
  uint16_t FMinResidualPartitionOrder = 0;
  uint16_t FQLPCoeffPrecision = 0;
  bool FQLPCoeffPrecisionSearch = false;
  std::unique_ptr<TVorbisTags> FTags;
  bool FVerify = false;

  // State of one run.
  // The library's encoder, deleted through the library.
  struct TEncoderDelete {
    void operator()(void* Encoder) const;
  };
  std::unique_ptr<void, TEncoderDelete> FEncoder;
  bool FEncoderInited = false;
  bool FInputInited = false;
  bool FCreated = false;  // the file was created by this run
  bool FEndOfInput = false;
  bool FCommentWritten = false;
  int FBits = 0, FChannels = 0;
  std::vector<uint8_t> FPcm;
  std::vector<int32_t> FSamples;
};

// Threads: opened, pulled and sought by the consumer's thread under FileLock and DataCS; the
// decoder's callbacks run inside those calls.
class TFLACIn : public TAuTaggedFileIn {
 public:
  explicit TFLACIn(TComponent* AOwner);
  ~TFLACIn() override;
  const char* ClassName() const override { return "TFLACIn"; }

  bool CheckMD5Signature() const { return FCheckMD5Signature; }
  void SetCheckMD5Signature(bool Value) { FCheckMD5Signature = Value; }
  // The comments of the open file.
  TVorbisTags* Tags() const { return FTags.get(); }
  // The decoder's verdict when the last file was closed: False when MD5 checking was on, the
  // file was read to its end and the signature did not match.
  bool MD5Result() const { return FMD5Result; }

 protected:
  void LoadDecoderLibrary() override;
  bool OpenDecoder() override;
  void ReopenDecoder() override;
  bool OpenFailed() override;
  void CloseDecoder() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;
  bool SeekInternal(int64_t& SampleNum) override;

 private:
  friend struct TFLACInCallbacks;
  void ReleaseDecoder();

  bool FCheckMD5Signature = false;
  std::unique_ptr<TVorbisTags> FTags;
  // The library's decoder, deleted through the library (ReleaseDecoder finishes it first).
  struct TDecoderDelete {
    void operator()(void* Decoder) const;
  };
  std::unique_ptr<void, TDecoderDelete> FDecoder;
  bool FMetadataDone = false;
  bool FStreamInfo = false;
  int FFileBits = 0;  // bits per sample as stored (FBPS is that rounded up to whole bytes)
  int64_t FStreamSize = 0;
  int64_t FStreamPos = 0;  // where the next read of the stream starts (kept here: no system call)
  std::vector<uint8_t> FBlock;
  uint32_t FBlockUsed = 0;  // bytes of the current block
  uint32_t FBlockRead = 0;  // bytes of it already handed out
  bool FMD5Result = true;
};
