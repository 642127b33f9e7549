// Binding of the Monkey's Audio library "MACDll.dll": loaded on first use under LoadLibCS, its
// entry points resolved by name; TAPECompress and TAPEDecompress wrap its compressor and
// decompressor handles.
#pragma once
#include <cstdint>

#include "audio/formats/mac/MACApi.h"
#include "classlib/Classes.h"
#include "classlib/SysUtils.h"

// A library error: "MACDll error: " and the code's text.
class EAPEException : public Exception {
 public:
  explicit EAPEException(int32_t Code);
  // A binding error (a missing entry point).
  explicit EAPEException(const AnsiString& Message);
  const char* ClassName() const override { return "EAPEException"; }
  int32_t Code() const { return FCode; }
  // The text of a library error code ("undefined (n)" for unknown ones).
  static AnsiString CodeText(int32_t Code);

 private:
  int32_t FCode;
};

// The entry points the components call (nil when the library lacks one).
struct TMACEntries {
  c_APECompress_Create_t APECompress_Create;
  c_APECompress_Start_t APECompress_Start;
  c_APECompress_LockBuffer_t APECompress_LockBuffer;
  c_APECompress_UnlockBuffer_t APECompress_UnlockBuffer;
  c_APECompress_Finish_t APECompress_Finish;
  c_APECompress_Destroy_t APECompress_Destroy;
  c_APEDecompress_CreateW_t APEDecompress_CreateW;
  c_APEDecompress_Destroy_t APEDecompress_Destroy;
  c_APEDecompress_GetData_t APEDecompress_GetData;
  c_APEDecompress_GetInfo_t APEDecompress_GetInfo;
  c_APEDecompress_Seek_t APEDecompress_Seek;
  FillWaveFormatEx_t FillWaveFormatEx;
  GetID3Tag_t GetID3Tag;
  TagFileSimple_t TagFileSimple;
};

// The entry points the binding checks before calling: a missing one raises EAPEException
// "Function "name" not found in MAC library!".
// Loads the library once; true when it is loaded. LibName is for tests that stand another file
// in; MACDllReset lets them load again.
// Threads: any; waits for LoadLibCS.
bool LoadMACDll(const char* LibName = nullptr);
void MACDllReset();
const TMACEntries& MACDll();

class TAPECompress : public TObject {
 public:
  // Raises EAPEException when the library reports an error.
  TAPECompress();
  ~TAPECompress() override;
  const char* ClassName() const override { return "TAPECompress"; }
  int32_t Start(const AnsiString& FileName, const mac_wave_format* Format, int32_t MaxAudioBytes, int32_t Level);
  unsigned char* LockBuffer(int32_t& BytesAvailable);
  int32_t UnlockBuffer(int32_t Bytes);
  int32_t Finish();

 private:
  mac_handle FHandle = 0;
  int32_t FError = 0;
};

class TAPEDecompress : public TObject {
 public:
  // Raises EAPEException when the library reports an error; a file refused without one leaves
  // Handle() 0.
  explicit TAPEDecompress(const WideString& FileName);
  ~TAPEDecompress() override;
  const char* ClassName() const override { return "TAPEDecompress"; }
  mac_handle Handle() const { return FHandle; }
  int32_t GetData(void* Buffer, int32_t Blocks, int32_t& Retrieved);
  int32_t Info(int32_t Field);
  int32_t Seek(int32_t Block);

 private:
  mac_handle FHandle = 0;
  WideString FFileName;
  int32_t FError = 0;
};
