// True Audio files over "TTALib.dll": TTTAIn decodes a TTA file (or a stream, staged through a
// temporary file) and reads its ID3v1 and ID3v2 tags; TTTAOut encodes PCM into a TTA file (or a
// stream, staged the same way) and writes the ID3v1 and ID3v2 tags. 32-bit samples are float.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "audio/engine/AuPcmFrames.h"
#include "audio/formats/tta/TTALib.h"

// Threads: configured from one thread while idle; pulled (GetData, seeks) by its consumer's
// thread under DataCS; opening and closing the file under FileLock. Waits for nothing else.
// A file the library reads or writes (a Win32 handle), closed when its owner lets it go.
struct TTTAFileClose {
  void operator()(void* File) const;
};
using TTTAFile = std::unique_ptr<void, TTTAFileClose>;

class TTTAIn : public TAuTaggedFileIn {
 public:
  explicit TTTAIn(TComponent* AOwner);
  ~TTTAIn() override;
  const char* ClassName() const override { return "TTTAIn"; }

 protected:
  void LoadDecoderLibrary() override;
  bool OpenDecoder() override;
  bool OpenFailed() override;
  void CloseDecoder() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;
  // Through the library's seek table: to the start of the frame that holds SampleNum, then the
  // frames before SampleNum are decoded and dropped.
  bool SeekInternal(int64_t& SampleNum) override;

 private:
  void Release();
  // Appends one decoded block at the input's depth; false at the end.
  bool DecodeBlock();

  TTTAFile FHandle;  // empty when closed
  std::unique_ptr<TTTADecoder> FDecoder;
  std::vector<uint8_t> FOut;  // decoded bytes; [FOutPos, FOutEnd) not yet delivered
  size_t FOutPos = 0, FOutEnd = 0;
  int64_t FSkipFrames = 0;    // frames to drop from the next decoded blocks (a seek)
};

// Threads: configured while idle; Prepare, DoOutput and Done run on the output's worker (or the
// caller of BlockingRun). Waits for nothing but its input.
class TTTAOut : public TAuTaggedFileOut {
 public:
  explicit TTTAOut(TComponent* AOwner);
  ~TTTAOut() override;
  const char* ClassName() const override { return "TTTAOut"; }

 protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

 private:
  TTTAFile FHandle;
  bool FCreated = false;  // the named file was created by this run
  bool FInputInited = false;
  bool FNoAudio = false;   // the run ended without a sample of audio: its file goes
  uint64_t FFramesIn = 0;  // sample frames handed to the encoder
  std::unique_ptr<TTTAEncoder> FEncoder;
  int FChannels = 0, FBits = 0, FFrameBytes = 0;
  TAuPcmFrames FFrames;            // input bytes not yet encoded
  std::vector<uint8_t> FSamples;   // the library's sample buffer
};
