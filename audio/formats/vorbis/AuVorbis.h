// Ogg Vorbis files: TVorbisIn decodes a file (or a stream handed in) to 16-bit PCM through the
// Vorbis file library, reading through callbacks over its own stream; TVorbisOut encodes PCM
// from its Input through the Ogg, Vorbis and Vorbis encoder libraries, driving the analysis and
// paging loop itself.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/engine/AuClasses.h"

enum TVorbisBitRate {
  brAutoSelect = 0, bitrate24, bitrate32, bitrate45, bitrate48, bitrate56, bitrate64, bitrate80, bitrate96,
  bitrate112, bitrate128, bitrate144, bitrate160, bitrate192, bitrate224, bitrate256, bitrate320, bitrate499
};
// The rate of a member in bit/s (brAutoSelect: -1).
int32_t VorbisBitRateValue(TVorbisBitRate Value);

// Loads the four libraries in the order ogg, vorbis, vorbisfile, vorbisenc; the first that is
// missing raises EAuException "<file> library could not be loaded.".
void LoadVorbisLibraries();

struct TVorbisFileState;
struct TVorbisEncState;

// Threads: opened, pulled and sought by the consumer's thread under FileLock and DataCS; the
// library's callbacks run inside those calls.
class TVorbisIn : public TAuTaggedFileIn {
 public:
  explicit TVorbisIn(TComponent* AOwner);
  ~TVorbisIn() override;
  const char* ClassName() const override { return "TVorbisIn"; }

  // The comments of the open file.
  TVorbisTags* Tags() const { return FTags.get(); }
  // Opens the file and returns the nominal bit rate of its stream header in bit/s.
  int32_t GetBitRate();
  int32_t MaximumBitRate() const { return FMaxBitRate; }
  int32_t MinimumBitRate() const { return FMinBitRate; }

 protected:
  void LoadDecoderLibrary() override;
  bool OpenDecoder() override;
  bool OpenFailed() override;
  void CloseDecoder() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;
  bool SeekInternal(int64_t& SampleNum) override;

 private:
  friend struct TVorbisInCallbacks;
  std::unique_ptr<TVorbisTags> FTags;
  std::unique_ptr<TVorbisFileState> FVf;
  bool FVfOpen = false;
  std::vector<uint8_t> FBuf;
  bool FEndOfData = false;
  int FSection = -1;
  int32_t FMaxBitRate = 0, FNominalBitRate = 0, FMinBitRate = 0;
};

// Threads: properties are set while the output is idle; Prepare, DoOutput and Done run on the
// output's worker (or the thread of BlockingRun), which waits for nothing but the stream.
class TVorbisOut : public TAuFileOut {
 public:
  explicit TVorbisOut(TComponent* AOwner);
  ~TVorbisOut() override;
  const char* ClassName() const override { return "TVorbisOut"; }

  // Quality of quality-based encoding (the library's quality value, about -0.1..1).
  float Compression() const { return FCompression; }
  void SetCompression(float Value) { FCompression = Value; }
  // The comments of the next file; setting copies the given set. Cleared after each run.
  TVorbisTags* Comments() const { return FComments.get(); }
  void SetComments(TVorbisTags* Value) { FComments->Assign(Value); }
  // brAutoSelect: quality-based encoding; otherwise bit-rate-managed around this rate.
  TVorbisBitRate DesiredNominalBitrate() const { return FNominal; }
  void SetDesiredNominalBitrate(TVorbisBitRate Value);
  TVorbisBitRate DesiredMaximumBitrate() const { return FMaximum; }
  void SetDesiredMaximumBitrate(TVorbisBitRate Value);
  TVorbisBitRate MinimumBitrate() const { return FMinimum; }
  void SetMinimumBitrate(TVorbisBitRate Value);
  // foAppend adds a new logical stream to the end of an existing file.
  void SetFileMode(TFileOutputMode Value) override { FFileMode = Value; }
  int32_t Serial() const { return FSerial; }
  void SetSerial(int32_t Value) { FSerial = Value; }

 protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

 private:
  void WritePage(const void* Page);

  float FCompression = 0.2f;
  std::unique_ptr<TVorbisTags> FComments;
  TVorbisBitRate FNominal = brAutoSelect, FMaximum = brAutoSelect, FMinimum = brAutoSelect;
  int32_t FSerial = 0;

  // State of one run.
  std::unique_ptr<TVorbisEncState> FState;
  bool FInputInited = false;
  bool FCreated = false;  // the file was created by this run
  bool FEndOfStream = false;
  int FBits = 0, FChannels = 0;
  std::vector<uint8_t> FStage;  // a partial frame carried from the last pull, then the new bytes
  uint32_t FCarry = 0;
};
