// Musepack components: TMPCIn decodes through "libmpdec.dll" to 8-, 16-, 24- or 32-bit PCM;
// TMPCOut encodes through "libmppenc.dll" and writes the APEv2 tags given to it.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "audio/formats/mpc/libmpdec.h"
#include "audio/formats/mpc/libmppenc.h"

class TMPCIn : public TAuTaggedFileIn {
 public:
  explicit TMPCIn(TComponent* AOwner);
  ~TMPCIn() override;
  const char* ClassName() const override { return "TMPCIn"; }

  uint32_t OutBitsPerSample() const { return FOutBitsPerSample; }
  // 8 below 8, rounded up to a multiple of 8, 32 above; ignored while the file is open.
  // Threads: any; waits for FileLock.
  void SetOutBitsPerSample(uint32_t Value);
  // Opens the file; the stream's mean bit rate in kbit/s (0 when it is not valid).
  // Threads: any; waits for FileLock.
  int GetBitRate();

  // One decoded float as a little-endian sample of Bytes bytes (8-bit unsigned).
  static void ConvertSample(float F, int Bytes, uint8_t* Out);

 protected:
  void LoadDecoderLibrary() override;
  bool OpenDecoder() override;
  void CloseDecoder() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;
  bool SeekInternal(int64_t& SampleNum) override;

 private:
  uint32_t FOutBitsPerSample = 16;
  std::unique_ptr<TMPCDecoder> FDecoder;
  // Converted samples: those handed out by the last pull, then those carried over.
  std::vector<uint8_t> FHeld;
  size_t FHeldStart = 0;
  std::vector<float> FBlock;
};

class TMPCOut : public TAuTaggedFileOut {
 public:
  explicit TMPCOut(TComponent* AOwner);
  ~TMPCOut() override;
  const char* ClassName() const override { return "TMPCOut"; }

  // Threads: set while idle, from any thread.
  float Quality() const { return FQuality; }
  void SetQuality(float Value) { FQuality = Value; }

 protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

 private:
  static uint32_t ReadPCM(void* Buffer, uint32_t Size, uint32_t Count, void* Owner);
  static int32_t EndOfPCM(void* Owner);
  static int32_t SeekOut(int32_t Offset, int32_t Origin, void* Owner);
  static uint32_t ReadOut(void* Buffer, uint32_t Size, uint32_t Count, void* Owner);
  static uint32_t WriteOut(const void* Buffer, uint32_t Size, uint32_t Count, void* Owner);
  static void Nothing(void* Owner);

  float FQuality = 5.0f;
  TMPPEncLibrary FLib;
  mppenc_state* FState = nullptr;
  bool FFinished = false;
  // The input has delivered its end (the encoder then completes the stream).
  bool FInputEnded = false;
  bool FInputInited = false;
  bool FCreated = false;
  bool FNoAudio = false;     // the run ended without a sample of audio: its file goes
  uint64_t FFramesRead = 0;  // sample frames the encoder has read
  // A callback failed: its message is raised on the worker after the encoder returns.
  bool FCallbackFailed = false;
  WideString FCallbackError;
};
