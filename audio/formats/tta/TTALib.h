// The binding of the True Audio library "TTALib.dll": loaded by name beside the program once per
// process (under LoadLibCS), its decoder and encoder objects wrapped in TTTADecoder and
// TTTAEncoder. Every call first checks that the library is loaded and the entry point was
// found, else raises ETTAException naming it.
#pragma once
#include <cstdint>
#include <string>

#include "classlib/Classes.h"
#include "classlib/SysUtils.h"

class ETTAException : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "ETTAException"; }
};

extern const wchar_t* const TTALibName;  // "TTALib.dll"

// Loads the library on first use. True when it is loaded.
// Threads: any; takes LoadLibCS.
bool LoadTTALib();
bool TTALibLoaded();

struct TTADecoderObj;
struct TTAEncoderObj;

// A decoder over a file handle positioned at the TTA header; the handle stays the caller's.
// Threads: one thread at a time per object; objects are independent.
class TTTADecoder : public TObject {
 public:
  explicit TTTADecoder(void* FileHandle);
  ~TTTADecoder() override;
  const char* ClassName() const override { return "TTTADecoder"; }

  int GetNumChannels();
  int GetBitsPerSample();
  int GetSampleRate();
  int64_t GetDataLength();
  // Frames decoded into the library's own buffer (Buffer points there until the next call);
  // 0 at the end. A damaged frame raises.
  int GetBlock(void*& Buffer);
  // Positions at the library frame holding SampleFrame; returns its first sample frame, -1 past
  // the end.
  int64_t Seek(int64_t SampleFrame);

 private:
  void* FHandle;
  TTADecoderObj* FObj = nullptr;
};

// An encoder writing a TTA file at a handle's position; destroying it completes the file.
class TTTAEncoder : public TObject {
 public:
  TTTAEncoder(void* FileHandle, bool Append, int AudioFormat, int Channels, int BitsPerSample, int SampleRate,
              uint32_t DataLength);
  // Completes the file when Finish was not called; failures there are dropped.
  ~TTTAEncoder() override;
  const char* ClassName() const override { return "TTTAEncoder"; }

  bool CompressBlock(const void* Buffer, int Frames);
  // The library's text for the last failed call.
  AnsiString LastError();
  // Completes the file (last frame, header, seek table) and frees the library's object;
  // raises when that fails.
  void Finish();

 private:
  void* FHandle;
  TTAEncoderObj* FObj = nullptr;
};
