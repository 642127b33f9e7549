// MP3 files: TMP3Out encodes PCM from its Input through the LAME encoder library's stream
// interface, appends an ID3v1 block and has the TagLib binding write the ID3v2 tag into the
// finished file.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/engine/AuClasses.h"

// Ordinal k is the kbit/s value of the k-th entry (the task engine's bit-rate table order).
enum TMP3BitRate {
  mbrAuto = 0, mbr32, mbr40, mbr48, mbr56, mbr64, mbr80, mbr96, mbr112, mbr128, mbr144, mbr160, mbr192, mbr224,
  mbr256, mbr320
};
// kbit/s of a rate; an ordinal above 15 counts as 128.
int32_t MP3BitRateKbps(TMP3BitRate Value);

enum TMP3Mode { mmStereo = 0, mmJointStereo = 1, mmDual = 2, mmMono = 3 };
enum TMP3Quality { mp3ql0 = 0, mp3ql1, mp3ql2, mp3ql3, mp3ql4, mp3ql5, mp3ql6, mp3ql7, mp3ql8, mp3ql9 };

// Threads: the constructor loads the libraries (waits for LoadLibCS); properties are set while
// the output is idle; Prepare, DoOutput and Done run on the output's worker (or the thread of
// BlockingRun), which waits for nothing but the file.
class TMP3Out : public TAuTaggedFileOut {
 public:
  explicit TMP3Out(TComponent* AOwner);
  ~TMP3Out() override;
  const char* ClassName() const override { return "TMP3Out"; }

  TMP3BitRate BitRate() const { return FBitRate; }
  void SetBitRate(TMP3BitRate Value) { FBitRate = Value; }
  TMP3Mode Mode() const { return FMode; }
  void SetMode(TMP3Mode Value) { FMode = Value; }
  int32_t CRC() const { return FCRC; }
  void SetCRC(int32_t Value) { FCRC = Value; }
  int32_t Copyright() const { return FCopyright; }
  void SetCopyright(int32_t Value) { FCopyright = Value; }
  int32_t Original() const { return FOriginal; }
  void SetOriginal(int32_t Value) { FOriginal = Value; }
  bool EnableBitReservoir() const { return FEnableBitReservoir; }
  void SetEnableBitReservoir(bool Value) { FEnableBitReservoir = Value; }
  bool StrictISO() const { return FStrictISO; }
  void SetStrictISO(bool Value) { FStrictISO = Value; }
  TMP3Quality VBRQuality() const { return FVBRQuality; }
  void SetVBRQuality(TMP3Quality Value) { FVBRQuality = Value; }
  int32_t EnableVBR() const { return FEnableVBR; }
  void SetEnableVBR(int32_t Value) { FEnableVBR = Value; }
  TMP3BitRate AverageBitrate() const { return FAverageBitrate; }
  void SetAverageBitrate(TMP3BitRate Value) { FAverageBitrate = Value; }
  TMP3BitRate MaximumBitrate() const { return FMaximumBitrate; }
  void SetMaximumBitrate(TMP3BitRate Value) { FMaximumBitrate = Value; }

  // The encoder configuration record for an input of this many channels and this rate.
  std::vector<uint8_t> BuildConfig(int Channels, int SampleRate) const;
  // The 128-byte ID3v1 block written at the end of the file.
  std::string BuildId3v1Block() const;

 protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

 private:
  void WriteOrFail(const void* Data, uint32_t Count);
  void WriteTags(const AnsiString& FileName);
  void DropFailedFile(bool Prepared);

  TMP3BitRate FBitRate = mbr128;
  TMP3Mode FMode = mmStereo;
  int32_t FCRC = 0;
  int32_t FCopyright = 0;
  int32_t FOriginal = 1;
  bool FEnableBitReservoir = false;
  bool FStrictISO = false;
  TMP3Quality FVBRQuality = mp3ql0;
  int32_t FEnableVBR = 0;
  TMP3BitRate FAverageBitrate = mbrAuto;
  TMP3BitRate FMaximumBitrate = mbrAuto;

  // State of one run.
  // The encoder stream, closed through the library.
  struct TStreamClose {
    void operator()(void* Stream) const;
  };
  std::unique_ptr<void, TStreamClose> FHandle;
  bool FInputInited = false;
  bool FEndOfInput = false;
  bool FCreated = false;  // the file was created by this run
  bool FNoAudio = false;  // the run ended without a frame of audio: its file goes
  uint64_t FFramesIn = 0;  // sample frames handed to the encoder
  int FInBits = 0, FInChannels = 0, FOutChannels = 0;
  uint32_t FChunkValues = 0;       // 16-bit values per encoder call
  std::vector<uint8_t> FRaw;       // input bytes of one call
  std::vector<int16_t> FPcm;       // what the encoder gets: 16-bit, FOutChannels
  std::vector<uint8_t> FOut;       // the encoder's output
};
