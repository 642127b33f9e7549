// Two inputs combined into one stream: TAudioMixer (overlay with gains, or the second after the
// first) and TRealTimeMixer (two live sources into a declared format, sources swappable while
// it runs). Neither changes sample rate or channel count; only the sample width may differ per
// input. Mixing is done in 32-bit floats, at most 4096 samples (whole frames) at a time.
#pragma once
#include <cstdint>
#include <vector>

#include "audio/engine/AuClasses.h"

enum TAudioMixerMode { amMix = 0, amConcatenate = 1 };

// Mixes Input1 and Input2 (each x Volume / 65535, the sum halved), Input2 starting at frame
// Input2StartSample of the output; or plays Input2 after Input1. The output has Input1's format.
class TAudioMixer : public TAuInput {
 public:
  explicit TAudioMixer(TComponent* AOwner);
  ~TAudioMixer() override;
  const char* ClassName() const override { return "TAudioMixer"; }

  // Threads: the setters and properties are set while idle, on the thread that builds the
  // chain; pulls (GetData) come from the consumer's thread under DataCS.
  TAuInput* Input1() const { return FInput1; }
  // Raises "The component is busy." while initialised.
  void SetInput1(TAuInput* Value);
  TAuInput* Input2() const { return FInput2; }
  void SetInput2(TAuInput* Value);
  TAudioMixerMode Mode() const { return FMode; }
  void SetMode(TAudioMixerMode Value) { FMode = Value; }
  int64_t Input2StartSample() const { return FInput2StartSample; }
  void SetInput2StartSample(int64_t Value) { FInput2StartSample = Value; }
  uint16_t Volume1() const { return FVolume1; }
  void SetVolume1(uint16_t Value) { FVolume1 = Value; }
  uint16_t Volume2() const { return FVolume2; }
  void SetVolume2(uint16_t Value) { FVolume2 = Value; }

 protected:
  int GetBPS() override;
  int GetCh() override;
  int GetSR() override;
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  // Mixes or concatenates the next block into FOut; returns its bytes (0 at the end).
  uint32_t NextBlock(uint32_t Samples);

  TAuInput* FInput1 = nullptr;
  TAuInput* FInput2 = nullptr;
  TAudioMixerMode FMode = amMix;
  int64_t FInput2StartSample = 0;
  uint16_t FVolume1 = 65535, FVolume2 = 65535;

  bool FEnd1 = false, FEnd2 = false;
  int FBPS1 = 0, FBPS2 = 0;  // bytes per sample
  int FBits1 = 0, FBits2 = 0, FCh = 1;
  int64_t FOutSamples = 0;   // samples delivered so far (all channels)
  std::vector<uint8_t> FRaw1, FRaw2, FOut;
  std::vector<float> FFloat1, FFloat2;
  uint32_t FPendStart = 0, FPendEnd = 0;  // bytes of FOut not yet handed out
};

// Mixes two live sources into OutBitsPerSample; an absent, ended or replaced-while-ended source
// contributes silence, so the mixer never ends by itself (its consumer stops it).
class TRealTimeMixer : public TAuInput {
 public:
  explicit TRealTimeMixer(TComponent* AOwner);
  ~TRealTimeMixer() override;
  const char* ClassName() const override { return "TRealTimeMixer"; }

  TAuInput* Input1() const { return FIn[0].Input; }
  // While running: the old source is flushed and the new one initialised (a live swap).
  // Threads: any; waits for the pull under way (DataCS).
  void SetInput1(TAuInput* Value) { SetInputN(0, Value); }
  TAuInput* Input2() const { return FIn[1].Input; }
  void SetInput2(TAuInput* Value) { SetInputN(1, Value); }
  // Threads: the format is set while idle; the volumes may change at any time (read once per
  // block).
  uint32_t OutSampleRate() const { return FOutSampleRate; }
  void SetOutSampleRate(uint32_t Value) { FOutSampleRate = Value; }
  uint8_t OutBitsPerSample() const { return FOutBitsPerSample; }
  void SetOutBitsPerSample(uint8_t Value) { FOutBitsPerSample = Value; }
  uint8_t OutChannels() const { return FOutChannels; }
  void SetOutChannels(uint8_t Value) { FOutChannels = Value; }
  uint16_t Volume1() const { return FVolume1; }
  void SetVolume1(uint16_t Value) { FVolume1 = Value; }
  uint16_t Volume2() const { return FVolume2; }
  void SetVolume2(uint16_t Value) { FVolume2 = Value; }

 protected:
  int GetBPS() override { return FOutBitsPerSample; }
  int GetCh() override { return FOutChannels; }
  int GetSR() override { return (int)FOutSampleRate; }
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  struct TSource {
    TAuInput* Input = nullptr;
    bool Active = false;
    bool Ended = false;
    int Bits = 0;  // sample width in bits
    std::vector<uint8_t> Raw;
  };
  void SetInputN(int Index, TAuInput* Value);
  void MakeRaw(TSource& S, int Bits);

  TSource FIn[2];
  uint32_t FOutSampleRate = 0;
  uint8_t FOutBitsPerSample = 0, FOutChannels = 0;
  uint16_t FVolume1 = 65535, FVolume2 = 65535;
  int64_t FConsumed1 = 0;
  std::vector<float> FFloat1, FFloat2;
  std::vector<uint8_t> FOut;
  uint32_t FPendStart = 0, FPendEnd = 0;
};

// Integer PCM of Bits (8, 16, 24, 32) to floats and back; shared by the mixers.
void PCMToFloats(const void* In, float* Out, int Bits, int32_t Samples);
void FloatsToPCM(float* In, void* Out, int Bits, int32_t Samples);
