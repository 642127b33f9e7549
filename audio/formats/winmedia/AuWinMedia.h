// Windows Media components: TWMIn reads WMA (and, through TMP3In, MP3) files with the runtime's
// synchronous reader; TWMAOut writes WMA files and TWMStreamedOut serves the encoded stream to
// network clients. Tags travel between the header attributes and the tag sets.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "audio/formats/winmedia/libwma1.h"

// The channel layout a Windows Media input asks the runtime for.
enum TChannelsNumber { cnMaxAvailable = 0, cnMonoOrStereo = 1, cn5dot1 = 2, cn7dot1 = 3 };

// Reads a file through the runtime's synchronous reader. Tags come from the header attributes.
// Pulls, Init, Flush and seeks are the framework's (consumer thread, under DataCS).
class TWMIn : public TAuTaggedFileIn {
 public:
  explicit TWMIn(TComponent* AOwner);
  ~TWMIn() override;
  const char* ClassName() const override { return "TWMIn"; }

  // Asks for the decoder's discrete (full precision) output. Changed only while idle and while
  // OutputChannels is cnMonoOrStereo; an open file is opened again.
  // Threads: the thread that owns the idle input; waits for FileLock and the runtime's open.
  bool HighPrecision() const { return FHighPrecision; }
  void SetHighPrecision(bool Value);
  // Changed only while idle; any layout but cnMonoOrStereo also sets HighPrecision. An open
  // file is opened again.
  // Threads: as SetHighPrecision.
  TChannelsNumber OutputChannels() const { return FOutputChannels; }
  void SetOutputChannels(TChannelsNumber Value);
  // Opens the file and returns its "Bitrate" header attribute (bit/s; 0 when unknown).
  // Threads: any thread while no other uses the input; waits for FileLock and the runtime's open.
  uint32_t GetBitRate();

 protected:
  bool OpenDecoder() override;
  void CloseDecoder() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;
  bool SeekInternal(int64_t& SampleNum) override;
  // The reader's channel request for OutputChannels.
  int ChannelRequest() const;
  // Closes and opens again an open file (after a setting changed).
  void Reopen();
  // Lets the input's own source go; a handed-in stream goes back to its start.
  void DropStream();

  wma_sync_reader FReader;
  int64_t FDuration = 0;  // hundredths of a second
  bool FHighPrecision = false;
  TChannelsNumber FOutputChannels = cnMonoOrStereo;
};

using TStreamedAudioEvent = std::function<void(TComponent* Sender)>;

// Writes WMA to FileName through the runtime's writer: blocks of 80 ms of PCM from Input,
// the profile chosen by DesiredBitrate, VBRQuality or Lossless, ID3v2 tags as header attributes.
// Run, Stop and the events are the framework's; the writer is driven on the output's worker.
class TWMAOut : public TAuTaggedFileOut {
 public:
  explicit TWMAOut(TComponent* AOwner);
  ~TWMAOut() override;
  const char* ClassName() const override { return "TWMAOut"; }

  // Target of constant-rate encoding in bit/s, or kbit/s when below 1000.
  uint32_t DesiredBitrate() const { return FDesiredBitrate; }
  void SetDesiredBitrate(uint32_t Value) { FDesiredBitrate = Value; }
  bool Lossless() const { return FLossless; }
  void SetLossless(bool Value) { FLossless = Value; }
  bool VBR() const { return FVBR; }
  void SetVBR(bool Value) { FVBR = Value; }
  uint8_t VBRQuality() const { return FVBRQuality; }
  void SetVBRQuality(uint8_t Value) { FVBRQuality = Value; }

  // Settings: Threads: any thread while the output is idle.
  // The runtime's audio codec names, read at construction.
  TStringList* Codecs() const { return FCodecs.get(); }
  TStringList* Formats() const { return FFormats.get(); }
  // With FormatIndex >= 0, that format of codec CodecIndex is taken instead of a target.
  int FormatIndex() const { return FFormatIndex; }
  void SetFormatIndex(int Value) { FFormatIndex = Value; }
  int CodecIndex() const { return FCodecIndex; }
  void SetCodecIndex(int Value) { FCodecIndex = Value; }

 protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;
  // Opens the writer's sink; the streamed output opens a network sink.
  virtual void OpenWriter();
  virtual void CloseWriter();

  wma_writer FWriter;
  bool FStreamed = false;
  std::atomic<bool> FError{false};

 private:
  uint32_t FDesiredBitrate = 0;
  bool FLossless = false;
  bool FVBR = false;
  uint8_t FVBRQuality = 0;
  std::unique_ptr<TStringList> FCodecs;
  std::unique_ptr<TStringList> FFormats;
  int FFormatIndex = -1;
  int FCodecIndex = 0;
  std::vector<uint8_t> FBlock;
  bool FEndOfInput = false;
  bool FInputInited = false;
};

// Serves the encoded stream to network clients on Port instead of writing a file.
class TWMStreamedOut : public TWMAOut {
 public:
  explicit TWMStreamedOut(TComponent* AOwner);
  ~TWMStreamedOut() override;
  const char* ClassName() const override { return "TWMStreamedOut"; }

  uint32_t Port() const { return FPort; }
  void SetPort(uint32_t Value) { FPort = Value; }
  // 0 leaves the sink's own limit.
  uint32_t MaxClients() const { return FMaxClients; }
  void SetMaxClients(uint32_t Value) { FMaxClients = Value; }

  // Delivered on the user-interface thread (posted from the runtime's threads).
  TStreamedAudioEvent OnClientConnected;
  TStreamedAudioEvent OnClientDisconnected;

 protected:
  void OpenWriter() override;
  void CloseWriter() override;

 private:
  uint32_t FPort = 0;
  uint32_t FMaxClients = 0;
};
