// Converters between a chain's source and its output: bit depth and channels (TSampleMorpher)
// and sample rate (TFastResampler).
#pragma once
#include <cstdint>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "audio/engine/FilterCascade.h"

enum TMSConverterMode { msmMonoToBoth, msmMonoToLeft, msmMonoToRight };

// Changes the sample width (8, 16, 24 or 32 bits), folds mono to stereo and any number of
// channels to stereo or mono, through 32-bit floats, with clamping and without dither. Where the
// output's width and channels are the input's (both properties 0 among them) it passes the
// input through unchanged, bit for bit.
//
// Folding more than two channels takes them in the order files keep them without a channel mask:
// 3 front left, right, centre; 4 front left, right, back left, right; 5 as 4 with the centre
// third; 6 as 5 with the low-frequency channel fourth (5.1); 7 front left, right, centre, low
// frequency, back centre, side left, right; 8 as 6 followed by side left, right (7.1). The front
// pair goes whole to its side, centre and surround channels at -3 dB (a back centre at -6 dB to
// both sides), the low-frequency channel is left out. Each side's weights are scaled to sum to 1,
// so a full-scale input stays within range without clipping. Beyond 8 channels the even ones go
// to the left, the odd ones to the right, in equal parts. Mono is the mean of that stereo pair.
class TSampleMorpher : public TAuConverter {
 public:
  explicit TSampleMorpher(TComponent* AOwner) : TAuConverter(AOwner) {}
  ~TSampleMorpher() override;
  const char* ClassName() const override { return "TSampleMorpher"; }

  // The settings are read by Init. Threads: the thread that owns the chain, while no consumer
  // pulls (between runs); no waits.
  // Stored only: a mono sample always goes to both channels.
  TMSConverterMode Mode() const { return FMode; }
  void SetMode(TMSConverterMode Value) { FMode = Value; }
  // 0: as the input; else 8, 16, 24 or 32.
  int OutBitsPerSample() const { return FOutBitsPerSample; }
  void SetOutBitsPerSample(int Value) { FOutBitsPerSample = Value; }
  // 0: as the input; 1 or 2 bring any input to mono or stereo (more than two channels are
  // folded); other values leave the input's channels.
  int OutChannels() const { return FOutChannels; }
  void SetOutChannels(int Value) { FOutChannels = Value; }

 protected:
  int GetBPS() override;
  int GetCh() override;
  int GetSR() override;
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;

 private:
  void Reserve(uint32_t Frames);

  TMSConverterMode FMode = msmMonoToBoth;
  int FOutBitsPerSample = 0;
  int FOutChannels = 0;
  // Fixed at Init.
  bool FTransparent = false;
  int FInBits = 0, FOutBits = 0, FInCh = 0, FOutCh = 0;
  uint32_t FInSampleBytes = 0, FOutSampleBytes = 0;
  // Buffers grown on demand, freed at Flush; capacity in frames.
  std::vector<uint8_t> FOutBuf;
  std::vector<float> FFloatBuf;
  std::vector<uint8_t> FStaging;  // an input frame split across pulls is put together here
  // Folding more than two channels: FOutCh rows of FInCh weights, made at Init.
  std::vector<float> FFold;
  uint32_t FCapacity = 0;
  // Bytes of the last converted frames that did not fit the ask.
  uint32_t FPendingStart = 0, FPendingEnd = 0;
};

// Changes the sample rate of integer PCM (8, 16, 24 or 32 bits, up to 8 channels) block by block
// (200 ms): a 4-pole Chebyshev low-pass run four times in cascade against aliasing and imaging,
// and frames dropped (down) or repeated (up) by integer error accumulators. Every whole input
// block gives exactly one whole output block, and a short last block its share as Size counts
// it, so the stream keeps its timing across blocks and ends where Size says.
class TFastResampler : public TAuConverter {
 public:
  explicit TFastResampler(TComponent* AOwner) : TAuConverter(AOwner) {}
  ~TFastResampler() override;
  const char* ClassName() const override { return "TFastResampler"; }

  // Read by Init. Threads: the thread that owns the chain, while no consumer pulls; no waits.
  uint32_t OutSampleRate() const { return FOutSampleRate; }
  void SetOutSampleRate(uint32_t Value) { FOutSampleRate = Value; }

 protected:
  int GetBPS() override;
  int GetCh() override;
  int GetSR() override;
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;

 private:
  // The output frames a block of Frames input frames gives.
  uint32_t OutFramesFor(uint32_t Frames) const;
  uint32_t Refill();
  void FilterBlock(float* Data, uint32_t Frames);

  uint32_t FOutSampleRate = 0;
  uint32_t FSampleBytes = 0, FFrameBytes = 0, FChannels = 0, FBits = 0;
  uint32_t FInBlockFrames = 0, FOutBlockFrames = 0, FInBlockBytes = 0, FOutBlockBytes = 0;
  bool FPassThrough = false;
  uint32_t FWorkFrames = 0;
  std::vector<uint8_t> FBytes;
  std::vector<float> FInFloats, FFloats;
  std::vector<TCascadeState> FStates;  // one per channel
  TCascadeCoefs FCoefs;
  uint32_t FWinStart = 0, FWinEnd = 0;
};
