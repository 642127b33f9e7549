#include "audio/formats/mac/MACDll.h"

#include "audio/engine/AuClasses.h"
#include "audio/engine/CodecLibrary.h"
#include "classlib/WinApi.h"

namespace {

const char* const LibName = "MACDll.dll";

// The library's error codes and their texts.
struct TCodeText {
  int32_t Code;
  const char* Text;
};
const TCodeText CodeTexts[] = {
    {0, "OK"},
    {1000, "I/O read error"},
    {1001, "I/O write error"},
    {1002, "invalid input file"},
    {1003, "invalid output file"},
    {1004, "input file file too large"},
    {1005, "input file unsupported bit depth"},
    {1006, "input file unsupported sample rate"},
    {1007, "input file unsupported channel count"},
    {1008, "input file too small"},
    {1009, "invalid checksum"},
    {1010, "decompressing frame"},
    {1011, "initializing unmac"},
    {1012, "invalid function parameter"},
    {1013, "unsupported file type"},
    {2000, "insufficient memory"},
    {3000, "loading MAC.dll"},
    {3001, "loading MACinfo.dll"},
    {3002, "loading UnMAC.dll"},
    {4000, "user stopped processing"},
    {4001, "skipped..."},
    {5000, "bad parameter"},
    {6000, "APE compress too much data"},
};
const char* const MsgPrefix = "MACDll error: ";

TSearchedLibrary Library;
TMACEntries Lib{};

const char* const MsgNoFunction = "Function \"%s\" not found in MAC library!";

template <class F>
F Need(F Fn, const char* Name) {
  if (!Fn) throw EAPEException(Format(MsgNoFunction, Name));
  return Fn;
}

}  // namespace

AnsiString EAPEException::CodeText(int32_t Code) {
  for (const auto& c : CodeTexts)
    if (c.Code == Code) return c.Text;
  return "undefined (" + std::to_string(Code) + ")";
}

EAPEException::EAPEException(int32_t Code) : Exception(MsgPrefix + CodeText(Code)), FCode(Code) {}

EAPEException::EAPEException(const AnsiString& Message) : Exception(Message), FCode(-1) {}

bool LoadMACDll(const char* Name) {
  TLock l(*LoadLibCS);
  return Library.Load(Name ? Name : LibName, [] {
    Library.Resolve(Lib.APECompress_Create, "c_APECompress_Create");
    Library.Resolve(Lib.APECompress_Start, "c_APECompress_Start");
    Library.Resolve(Lib.APECompress_LockBuffer, "c_APECompress_LockBuffer");
    Library.Resolve(Lib.APECompress_UnlockBuffer, "c_APECompress_UnlockBuffer");
    Library.Resolve(Lib.APECompress_Finish, "c_APECompress_Finish");
    Library.Resolve(Lib.APECompress_Destroy, "c_APECompress_Destroy");
    Library.Resolve(Lib.APEDecompress_CreateW, "_c_APEDecompress_CreateW@8");
    Library.Resolve(Lib.APEDecompress_Destroy, "c_APEDecompress_Destroy");
    Library.Resolve(Lib.APEDecompress_GetData, "c_APEDecompress_GetData");
    Library.Resolve(Lib.APEDecompress_GetInfo, "c_APEDecompress_GetInfo");
    Library.Resolve(Lib.APEDecompress_Seek, "c_APEDecompress_Seek");
    Library.Resolve(Lib.FillWaveFormatEx, "FillWaveFormatEx");
    Library.Resolve(Lib.GetID3Tag, "GetID3Tag");
    Library.Resolve(Lib.TagFileSimple, "TagFileSimple");
  });
}

void MACDllReset() {
  TLock l(*LoadLibCS);
  Library.Release();
  Lib = TMACEntries{};
}

const TMACEntries& MACDll() { return Lib; }

TAPECompress::TAPECompress() {
  FHandle = Need(Lib.APECompress_Create, "c_APECompress_Create")(&FError);
  if (FError != 0) throw EAPEException(FError);
}

TAPECompress::~TAPECompress() {
  if (FHandle && Lib.APECompress_Destroy) Lib.APECompress_Destroy(FHandle);
}

int32_t TAPECompress::Start(const AnsiString& FileName, const mac_wave_format* Format, int32_t MaxAudioBytes,
                            int32_t Level) {
  return Need(Lib.APECompress_Start, "c_APECompress_Start")(FHandle, FileName.c_str(), Format, MaxAudioBytes, Level, nullptr, 0);
}

unsigned char* TAPECompress::LockBuffer(int32_t& BytesAvailable) {
  BytesAvailable = 0;
  return Need(Lib.APECompress_LockBuffer, "c_APECompress_LockBuffer")(FHandle, &BytesAvailable);
}

int32_t TAPECompress::UnlockBuffer(int32_t Bytes) { return Need(Lib.APECompress_UnlockBuffer, "c_APECompress_UnlockBuffer")(FHandle, Bytes, 1); }

int32_t TAPECompress::Finish() { return Need(Lib.APECompress_Finish, "c_APECompress_Finish")(FHandle, nullptr, 0, 0); }

TAPEDecompress::TAPEDecompress(const WideString& FileName) : FFileName(FileName) {
  FHandle = Need(Lib.APEDecompress_CreateW, "_c_APEDecompress_CreateW@8")(FFileName.c_str(), &FError);
  if (FError != 0) {
    if (FHandle && Lib.APEDecompress_Destroy) Lib.APEDecompress_Destroy(FHandle);
    FHandle = 0;
    throw EAPEException(FError);
  }
}

TAPEDecompress::~TAPEDecompress() {
  if (FHandle && Lib.APEDecompress_Destroy) Lib.APEDecompress_Destroy(FHandle);
}

int32_t TAPEDecompress::GetData(void* Buffer, int32_t Blocks, int32_t& Retrieved) {
  Retrieved = 0;
  return Need(Lib.APEDecompress_GetData, "c_APEDecompress_GetData")(FHandle, static_cast<char*>(Buffer), Blocks, &Retrieved);
}

int32_t TAPEDecompress::Info(int32_t Field) {
  return (int32_t)Need(Lib.APEDecompress_GetInfo, "c_APEDecompress_GetInfo")(FHandle, Field, 0, 0);
}

int32_t TAPEDecompress::Seek(int32_t Block) { return Need(Lib.APEDecompress_Seek, "c_APEDecompress_Seek")(FHandle, Block); }
