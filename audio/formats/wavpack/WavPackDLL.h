// The binding of the WavPack library "WavpackDLL.dll": loaded by name beside the program once per
// process (under LoadLibCS), wrapped in TWavpackDecoder (decoding over our own streams through
// the stream-reader callbacks, with an optional correction stream) and TWavpackEncoder
// (encoding through the block-output callback into a stream and a correction stream). Every call
// first checks that the library is loaded and the entry point was found, else raises
// EWavpackException naming it. No exception leaves a callback the library calls.
#pragma once
#include <cstdint>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/SysUtils.h"

class EWavpackException : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EWavpackException"; }
};

extern const wchar_t* const WavpackLibName;  // "WavpackDLL.dll"

// Loads the library on first use. True when it is loaded.
// Threads: any; takes LoadLibCS.
bool LoadWavpackLib();
bool WavpackLibLoaded();

// Mode bits and open flags used by the components.
constexpr int WvModeLossless = 2, WvModeHybrid = 4, WvModeFloat = 8, WvModeValidTag = 0x10, WvModeAPETag = 0x100;
constexpr int WvOpenTags = 2, WvOpenTagsAndCorrection = 3;

struct WavpackContext;

// Threads: one thread at a time per object; objects are independent.
class TWavpackDecoder : public TObject {
 public:
  // Raises "AStream is nil!" without a stream and the library's error when the open fails.
  TWavpackDecoder(TStream* AStream, int NormOffset, int Flags, TStream* ACorrectionStream);
  ~TWavpackDecoder() override;
  const char* ClassName() const override { return "TWavpackDecoder"; }

  int Mode();
  int NumChannels();
  uint32_t SampleRate();
  int BitsPerSample();
  // (uint32_t)-1 when the file does not tell.
  uint32_t NumSamples();
  // The tag item's text (stored as UTF-8); empty when missing.
  WideString TagItem(const AnsiString& Name);
  // Frames unpacked into Buffer (Frames × channels 32-bit samples); 0 at the end.
  uint32_t Unpack(int32_t* Buffer, uint32_t Frames);
  bool SeekSample(uint32_t Sample);

 private:
  TStream* FStream;
  TStream* FCorrectionStream;
  WavpackContext* FContext = nullptr;
};

class TWavpackEncoder : public TObject {
 public:
  // Raises "AStream is nil!" without a stream.
  TWavpackEncoder(TStream* AStream, TStream* ACorrectionStream);
  ~TWavpackEncoder() override;
  const char* ClassName() const override { return "TWavpackEncoder"; }

  void SetBitrate(float Value);
  void SetBitsPerSample(int Value);
  void SetBytesPerSample(int Value);
  void SetChannelMask(int Value);
  void SetFlags(int Value);
  void SetNumChannels(int Value);
  void SetSampleRate(int Value);
  // Sets the configuration and initialises packing; TotalSamples -1 when unknown.
  bool SetConfiguration(int64_t TotalSamples);
  bool Pack(int32_t* Buffer, uint32_t Frames);
  bool Flush();
  bool AppendTagItem(const AnsiString& Name, const WideString& Value);
  bool WriteTag();
  AnsiString ErrorMessage();
  // Rewrites the first block of each stream with the count of samples actually packed (the
  // configuration may have had an estimate or none). False when a rewrite failed.
  bool UpdateNumSamples();

  // One destination of the block-output callback.
  struct TSink {
    TStream* Stream = nullptr;
    std::vector<uint8_t> FirstBlock;
    int64_t FirstBlockPos = -1;
  };

 private:
  TSink FMain, FCorrection;
  WavpackContext* FContext = nullptr;
  // The library's configuration record (its own layout), kept opaque here.
  std::vector<uint8_t> FConfig;
};
