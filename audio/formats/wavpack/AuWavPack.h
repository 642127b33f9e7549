// WavPack files over "WavpackDLL.dll": TWVIn decodes a WavPack file (a hybrid one with its
// ".wvc" correction file), reads its APEv2 or ID3v1 tag items and its embedded cue sheet;
// TWVOut encodes PCM into a WavPack file, optionally hybrid with a correction file, and writes
// the APEv2 tag items and the cue sheet at the end.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "audio/engine/AuPcmFrames.h"
#include "audio/formats/wavpack/WavPackDLL.h"

// Threads: configured from one thread while idle; pulled (GetData, seeks) by its consumer's
// thread under DataCS; opening and closing the file under FileLock. Waits for nothing else.
class TWVIn : public TAuTaggedFileIn {
 public:
  explicit TWVIn(TComponent* AOwner);
  ~TWVIn() override;
  const char* ClassName() const override { return "TWVIn"; }

  // The open file is hybrid; the library reports lossless data; the file's "Cuesheet" item.
  bool Hybrid() { OpenFile(); return FHybrid; }
  bool Lossless() { OpenFile(); return FLossless; }
  WideString CueSheet() { OpenFile(); return FCueSheet; }
  // A correction stream handed in (never freed by the input) is used in place of the ".wvc"
  // file beside the input; nullptr goes back to the file.
  void SetCorrectionStream(TStream* Value);

 protected:
  void LoadDecoderLibrary() override;
  bool OpenDecoder() override;
  bool OpenFailed() override;
  void CloseDecoder() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;
  bool SeekInternal(int64_t& SampleNum) override;

 private:
  void Release();

  std::unique_ptr<TWavpackDecoder> FDecoder;
  bool FHybrid = false;
  bool FLossless = false;
  bool FFloat = false;
  WideString FCueSheet;
  TStream* FCorrectionStream = nullptr;
  bool FCorrectionAssigned = false;
  std::unique_ptr<TStream> FOwnCorrection;  // the ".wvc" file opened here
  std::vector<int32_t> FBuf;  // unpacked samples, compacted in place to the input's depth
  size_t FPendStart = 0, FPendEnd = 0;  // bytes of FBuf not yet delivered
};

enum TWVCompressionLevel { wvclFast = 0, wvclHigh = 1, wvclVeryHigh = 2 };

// Threads: configured while idle; Prepare, DoOutput and Done run on the output's worker (or the
// caller of BlockingRun). Waits for nothing but its input.
class TWVOut : public TAuTaggedFileOut {
 public:
  explicit TWVOut(TComponent* AOwner);
  ~TWVOut() override;
  const char* ClassName() const override { return "TWVOut"; }

  bool JointStereo() const { return FJointStereo; }
  void SetJointStereo(bool Value) { FJointStereo = Value; }
  TWVCompressionLevel CompressionLevel() const { return FCompressionLevel; }
  void SetCompressionLevel(TWVCompressionLevel Value) { FCompressionLevel = Value; }
  bool HybridMode() const { return FHybridMode; }
  void SetHybridMode(bool Value) { FHybridMode = Value; }
  // Hybrid bit rate in kbit/s.
  float Bitrate() const { return FBitrate; }
  void SetBitrate(float Value) { FBitrate = Value; }
  const WideString& CueSheet() const { return FCueSheet; }
  void SetCueSheet(const WideString& Value) { FCueSheet = Value; }
  // A correction stream handed in (never freed by the output) takes the place of the ".wvc"
  // file in hybrid mode.
  void SetCorrectionStream(TStream* Value);

 protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

 private:
  bool FJointStereo = false;
  TWVCompressionLevel FCompressionLevel = wvclFast;
  bool FHybridMode = false;
  float FBitrate = 0;
  WideString FCueSheet;
  TStream* FCorrectionStream = nullptr;
  bool FCorrectionAssigned = false;

  // State of one run.
  std::unique_ptr<TWavpackEncoder> FEncoder;
  std::unique_ptr<TStream> FOwnCorrection;  // the ".wvc" file this run created
  WideString FCorrectionName;
  bool FCreated = false;
  bool FInputInited = false;
  int FChannels = 0, FBytes = 0, FFrameBytes = 0;
  TAuPcmFrames FFrames;  // input bytes not yet packed
  std::vector<int32_t> FSamples;
};
