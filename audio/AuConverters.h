// Converters between a chain's source and its output: bit depth and channels (TSampleMorpher)
// and sample rate (TFastResampler).
#pragma once
#include <cstdint>
#include <vector>

#include "audio/AuClasses.h"
#include "audio/FilterCascade.h"

enum TMSConverterMode { msmMonoToBoth, msmMonoToLeft, msmMonoToRight };

// Changes the sample width (8, 16, 24 or 32 bits) and folds mono to stereo or stereo to mono,
// through 32-bit floats, with clamping and without dither. With both OutBitsPerSample and
// OutChannels 0 it passes the input through unchanged.
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
  // 0: as the input; 1 or 2 take effect when the input has 1 or 2 channels.
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
