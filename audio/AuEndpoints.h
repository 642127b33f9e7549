// Inputs and outputs over streams and wide-named files, from which every format's input and
// output derive: TAuStreamedInput (start and end sample, looping, seeking), TAuFileIn (the open
// and close protocol of every file format), TAuTaggedFileIn, TAuFileOut (rewrite or append),
// TAuTaggedFileOut, and TAuFileStream, the file stream that opens wide file names.
#pragma once
#include <cstdint>

#include "audio/AuClasses.h"
#include "audio/AuTags.h"

// A file opened through the wide-character file API. Mode $FFFF creates (or truncates) the file
// with read and write access and no sharing; any other Mode opens an existing file: access from
// Mode & 3 (0 read, 1 write, 2 both), sharing from (Mode & $F0) >> 4 (0, 1 none; 2 read;
// 3 write; 4 both). Raises EAuException with the system's message when the file cannot be opened.
class TAuFileStream : public THandleStream {
 public:
  TAuFileStream(const WideString& FileName, uint16_t Mode, uint32_t Rights = 0);
  ~TAuFileStream() override;
  const char* ClassName() const override { return "TAuFileStream"; }
};

// An input over a stream, delivering the frames StartSample..EndSample (inclusive; -1 = to the
// end), looping back to StartSample when Loop is set.
class TAuStreamedInput : public TAuInput {
 public:
  explicit TAuStreamedInput(TComponent* AOwner);
  const char* ClassName() const override { return "TAuStreamedInput"; }

  // Hands in a stream from outside (never freed by the input); nullptr goes back to the file.
  virtual void SetStream(TStream* Value);
  TStream* Stream() const { return FStream; }

  int64_t StartSample() const { return FStartSample; }
  void SetStartSample(int64_t Value) { FStartSample = Value; }
  int64_t EndSample() const { return FEndSample; }
  void SetEndSample(int64_t Value) { FEndSample = Value; }
  bool Loop() const { return FLoop; }
  void SetLoop(bool Value) { FLoop = Value; }
  // The source can be repositioned.
  bool IsSeekable() const { return Seekable; }

  // Keeps Position, ends the stream at Size, and restarts at StartSample when looping.
  void GetData(void*& Buffer, uint32_t& Bytes) override;

 protected:
  // Positions the decoder at a frame; may move SampleNum to the frame actually reached.
  virtual bool SeekInternal(int64_t& SampleNum) = 0;
  // Back to StartSample for the next pass of a loop.
  void RestartLoop();

  TStream* FStream = nullptr;
  bool StreamAssigned = false;
  int64_t FStartSample = 0;
  int64_t FEndSample = -1;
  bool FLoop = false;
  // Frames to deliver, as last computed.
  int64_t FTotalSamples = 0;
  // The pull that reached the end of a looping input delivered bytes: restart on the next one.
  bool FLoopPending = false;
};

// A streamed input over a file named by a wide string (or a stream handed in). Reading a format
// property opens the file, which stays open (writing denied to others) until Flush, a new file
// name or a new stream.
class TAuFileIn : public TAuStreamedInput {
 public:
  explicit TAuFileIn(TComponent* AOwner);
  ~TAuFileIn() override;
  const char* ClassName() const override { return "TAuFileIn"; }

  // The name in the system's ANSI code page.
  const AnsiString& FileName() const { return FFileName; }
  void SetFileName(const AnsiString& Value);
  // The name used to open the file.
  const WideString& WideFileName() const { return FWideFileName; }
  void SetWideFileName(const WideString& Value);

  void SetStream(TStream* Value) override;
  void Reset() override;
  // The last open found a readable file of the format. Never raises.
  bool Valid();

  // Window by time; False when not seekable or past the file's end.
  bool SetStartTime(int32_t Min, int32_t Sec);
  bool SetEndTime(int32_t Min, int32_t Sec);
  // Idle: the next run starts at SampleNum. Busy: repositions within the window.
  bool Seek(int64_t SampleNum);
  // Relative seek in thousandths of the whole length.
  void Jump(int32_t Offset) override;

 protected:
  int GetBPS() override;
  int GetCh() override;
  int GetSR() override;
  int64_t GetTotalSamples() override;
  int GetTotalTime() override;
  void InitInternal() override;
  void FlushInternal() override;

  virtual void OpenFile() = 0;
  virtual void CloseFile() = 0;
  // Frames of the whole file (not of the window), from the open file.
  int64_t FileSamples();

  TCriticalSection FileLock;
  AnsiString FFileName;
  WideString FWideFileName;
  int32_t OpenCount = 0;
  bool FValid = false;
  int32_t FBPS = 0, FSR = 0, FChan = 0;
  int32_t FTotalTime = 0;
  // The whole file's frame count, kept by InitInternal before the window cuts Size.
  int64_t FFileFrames = 0;
};

// A file input that owns the tag sets its format may fill when it opens the file.
class TAuTaggedFileIn : public TAuFileIn {
 public:
  explicit TAuTaggedFileIn(TComponent* AOwner);
  ~TAuTaggedFileIn() override;
  const char* ClassName() const override { return "TAuTaggedFileIn"; }

  TId3v1Tags* Id3v1Tags() const { return FId3v1Tags; }
  TId3v2Tags* Id3v2Tags() const { return FId3v2Tags; }
  TAPEv2Tags* APEv2Tags() const { return FAPEv2Tags; }
  TCommonTags* CommonTags() const { return FCommonTags; }

 protected:
  TId3v1Tags* FId3v1Tags = nullptr;
  TId3v2Tags* FId3v2Tags = nullptr;
  TAPEv2Tags* FAPEv2Tags = nullptr;
  TCommonTags* FCommonTags = nullptr;
};

enum TFileOutputMode { foRewrite = 0, foAppend = 1 };

// An output to a named file (or a stream handed in), rewritten or appended to.
class TAuFileOut : public TAuStreamedOutput {
 public:
  explicit TAuFileOut(TComponent* AOwner) : TAuStreamedOutput(AOwner) {}
  const char* ClassName() const override { return "TAuFileOut"; }

  const AnsiString& FileName() const { return FFileName; }
  void SetFileName(const AnsiString& Value);
  const WideString& WideFileName() const { return FWideFileName; }
  void SetWideFileName(const WideString& Value);
  TFileOutputMode FileMode() const { return FFileMode; }
  // The base stores foRewrite whatever it is given; formats that can append store the value.
  virtual void SetFileMode(TFileOutputMode Value);
  uint32_t AccessMask() const { return FAccessMask; }
  void SetAccessMask(uint32_t Value) { FAccessMask = Value; }
  uint16_t ShareMode() const { return FShareMode; }
  void SetShareMode(uint16_t Value) { FShareMode = Value; }
  // Hands in a destination stream (never freed by the output); nullptr goes back to the file.
  void SetStream(TStream* Value);

 protected:
  // Opens the destination for a run: raises NoNameMessage without stream and name; creates or
  // truncates the file for foRewrite or when it does not exist, else opens it for reading and
  // writing. Tells whether the file was created (or truncated) here.
  bool OpenDestination(const char* NoNameMessage);
  // Frees a stream the output created (a stream handed in stays open).
  void CloseDestination();

  AnsiString FFileName;
  WideString FWideFileName;
  TFileOutputMode FFileMode = foRewrite;
  uint32_t FAccessMask = 0;
  uint16_t FShareMode = 0;
};

// A file output that owns the tag sets its format writes. Setting one copies the given set.
class TAuTaggedFileOut : public TAuFileOut {
 public:
  explicit TAuTaggedFileOut(TComponent* AOwner);
  ~TAuTaggedFileOut() override;
  const char* ClassName() const override { return "TAuTaggedFileOut"; }

  TId3v1Tags* Id3v1Tags() const { return FId3v1Tags; }
  void SetId3v1Tags(TId3v1Tags* Value) { FId3v1Tags->Assign(Value); }
  TId3v2Tags* Id3v2Tags() const { return FId3v2Tags; }
  void SetId3v2Tags(TId3v2Tags* Value) { FId3v2Tags->Assign(Value); }
  TAPEv2Tags* APEv2Tags() const { return FAPEv2Tags; }
  void SetAPEv2Tags(TAPEv2Tags* Value) { FAPEv2Tags->Assign(Value); }

 protected:
  TId3v1Tags* FId3v1Tags = nullptr;
  TId3v2Tags* FId3v2Tags = nullptr;
  TAPEv2Tags* FAPEv2Tags = nullptr;
};

// The wide "file exists" test of the endpoints.
bool AuFileExists(const WideString& FileName);
