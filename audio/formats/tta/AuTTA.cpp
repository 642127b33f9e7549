#include "audio/formats/tta/AuTTA.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "classlib/WinApi.h"
#include "classlib/Handles.h"

namespace {

// Messages of this unit.
const char* const MsgNoLibrary = "TTALib.dll library could not be loaded.";
const char* const MsgNoName = "File name is not defined!";
const char* const MsgOpenInput = "Unable to open file for input!";
const char* const MsgTempFile = "Unable to create temporary file!";
const char* const MsgCreateOutput = "Unable to create file for output!";
const char* const MsgMapFailed = "Unable to map temporary file to memory!";
const char* const MsgBrokenId3v2 = "Broken or unsupported Id3v2 tags was found!";
const char* const MsgNotOpened = "File for input is not opened!";
const char* const MsgUnsupported = "Unsupported TrueAudio format!";
const char* const MsgCompressFailed = "TrueAudio encoding failed! Error: \"%s\"";
const char* const MsgTagsFailed = "Unable to write tags!";
const char* const MsgNoAudio = "The input holds no audio: a TrueAudio file needs at least one sample.";

// Views of a mapping are this large (a multiple of the allocation granularity).
constexpr int64_t MapWindow = 16 << 20;

bool SetPos(HANDLE h, int64_t Pos) {
  LARGE_INTEGER p;
  p.QuadPart = Pos;
  return SetFilePointerEx(h, p, nullptr, FILE_BEGIN) != 0;
}

int64_t FileSize(HANDLE h) {
  LARGE_INTEGER s{};
  return GetFileSizeEx(h, &s) ? s.QuadPart : -1;
}

// A hidden temporary file in the user's temporary folder, deleted when its handle is closed.
HANDLE CreateTempFile(const wchar_t* Prefix) {
  wchar_t dir[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH, dir);
  if (n == 0 || n > MAX_PATH) return INVALID_HANDLE_VALUE;
  wchar_t name[MAX_PATH + 1];
  if (!GetTempFileNameW(dir, Prefix, 0, name)) return INVALID_HANDLE_VALUE;
  HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE |
                             FILE_FLAG_RANDOM_ACCESS,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) DeleteFileW(name);
  return h;
}

// Copies Size bytes between a stream (from its start) and a file through mapped views.
void CopyThroughMapping(HANDLE File, TStream* S, int64_t Size, bool ToFile) {
  TFileMapping m(File, ToFile ? PAGE_READWRITE : PAGE_READONLY, (uint64_t)Size);
  if (!m) throw EAuException(MsgMapFailed);
  S->Seek(0, soBeginning);
  for (int64_t off = 0; off < Size; off += MapWindow) {
    const uint32_t n = (uint32_t)std::min<int64_t>(MapWindow, Size - off);
    TMappedView view(m.Get(), ToFile ? FILE_MAP_WRITE : FILE_MAP_READ, (uint64_t)off, n);
    if (!view) throw EAuException(MsgMapFailed);
    if (ToFile)
      S->ReadBuffer(view.Get(), (int32_t)n);
    else
      S->WriteBuffer(view.Get(), (int32_t)n);
  }
}

// The message of the exception being handled (call inside a catch block).
bool SupportedDepth(int Bits) { return Bits == 8 || Bits == 16 || Bits == 24 || Bits == 32; }

}  // namespace

void TTTAFileClose::operator()(void* File) const { CloseHandle(File); }

// ---------------------------------------------------------------------------------------------
// TTTAIn

TTTAIn::TTTAIn(TComponent* AOwner) : TAuTaggedFileIn(AOwner) { Seekable = true; }

TTTAIn::~TTTAIn() { CloseForDestruction(); }

void TTTAIn::Release() {
  FDecoder.reset();
  FHandle.reset();  // a temporary file disappears
  FOut.clear();
  FOutPos = FOutEnd = 0;
  FSkipFrames = 0;
}

void TTTAIn::LoadDecoderLibrary() {
  if (!LoadTTALib()) throw EAuException(MsgNoLibrary);
}

bool TTTAIn::OpenFailed() {
  Release();
  return false;
}

bool TTTAIn::OpenDecoder() {
  FValid = false;
  HANDLE h;
  if (!StreamAssigned) {
    if (FWideFileName.empty()) throw EAuException(MsgNoName);
    h = CreateFileW(FWideFileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw EAuException(MsgOpenInput);
  } else {
    h = CreateTempFile(L"pcm");
    if (h == INVALID_HANDLE_VALUE) throw EAuException(MsgTempFile);
  }
  FHandle.reset(h);
  if (StreamAssigned) {
    const int64_t size = FStream->Size();
    if (size > 0) CopyThroughMapping(h, FStream, size, true);
  }
  SetPos(h, 0);
  FId3v1Tags->ReadFromFile(h);
  SetPos(h, 0);
  if (FId3v2Tags->IsPresent(h)) {
    if (!FId3v2Tags->ReadFromFile(h)) throw EAuException(MsgBrokenId3v2);
  } else {
    FId3v2Tags->Clear();  // nothing left over from the last file
  }
  FDecoder = std::make_unique<TTTADecoder>(h);
  FBPS = FDecoder->GetBitsPerSample();
  FSR = FDecoder->GetSampleRate();
  FChan = FDecoder->GetNumChannels();
  if (!SupportedDepth(FBPS) || FChan < 1 || FChan > 16 || FSR < 1) throw EAuException(MsgUnsupported);
  const int64_t frames = FDecoder->GetDataLength();
  if (frames < 0) {
    FSize = -1;
    FTotalTime = 0;
  } else {
    FSize = frames * ((FBPS + 7) / 8) * FChan;
    FTotalTime = (int32_t)(frames / FSR);
  }
  FOutPos = FOutEnd = 0;
  FSkipFrames = 0;
  FValid = true;
  return true;
}

void TTTAIn::CloseDecoder() {
  Release();
  if (StreamAssigned && FStream) FStream->Seek(0, soBeginning);
}

bool TTTAIn::DecodeBlock() {
  void* p = nullptr;
  const int n = FDecoder->GetBlock(p);
  if (n <= 0) return false;
  const int64_t skip = std::min<int64_t>(FSkipFrames, n);
  FSkipFrames -= skip;
  const size_t samples = (size_t)(n - skip) * FChan;
  const int bytes = FBPS / 8;
  const size_t old = FOutEnd;
  FOutEnd += samples * bytes;
  if (FOut.size() < FOutEnd) FOut.resize(FOutEnd);  // grows to its high-water mark once
  uint8_t* d = FOut.data() + old;
  if (bytes == 4) {
    // Float slots of 8 bytes, the float in the first 4.
    const uint8_t* s = static_cast<const uint8_t*>(p) + (size_t)skip * FChan * 8;
    for (size_t i = 0; i < samples; ++i, s += 8, d += 4) {
      float x;
      std::memcpy(&x, s, 4);
      int32_t v;
      if (!(x >= -1.0f))
        v = INT32_MIN;  // below -1, or not a number
      else if (x >= 1.0f)
        v = INT32_MAX;
      else
        v = (int32_t)std::floor((double)x * 2147483648.0);
      std::memcpy(d, &v, 4);
    }
    return true;
  }
  Int32ToPcm(static_cast<const int32_t*>(p) + (size_t)skip * FChan, bytes, samples, d);
  return true;
}

void TTTAIn::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!FBusy) throw EAuException(MsgNotOpened);
  if (Bytes == 0 || !FDecoder) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  int64_t wanted = Bytes;
  if (FSize >= 0) wanted = std::max<int64_t>(0, std::min<int64_t>(wanted, FSize - FPosition));
  if ((int64_t)(FOutEnd - FOutPos) < wanted) {
    // Only the few bytes left over move to the front before the next block is appended.
    if (FOutPos > 0) {
      std::memmove(FOut.data(), FOut.data() + FOutPos, FOutEnd - FOutPos);
      FOutEnd -= FOutPos;
      FOutPos = 0;
    }
    while ((int64_t)FOutEnd < wanted && DecodeBlock()) {
    }
  }
  Bytes = (uint32_t)std::min<int64_t>(wanted, (int64_t)(FOutEnd - FOutPos));
  Buffer = Bytes ? FOut.data() + FOutPos : nullptr;
  FOutPos += Bytes;
}

bool TTTAIn::SeekInternal(int64_t& SampleNum) {
  if (!FDecoder || SampleNum < 0) return false;
  const int64_t first = FDecoder->Seek(SampleNum);
  if (first < 0) return false;
  FOutPos = FOutEnd = 0;
  FSkipFrames = SampleNum - first;
  return true;
}

// ---------------------------------------------------------------------------------------------
// TTTAOut

TTTAOut::TTTAOut(TComponent* AOwner) : TAuTaggedFileOut(AOwner) {}

TTTAOut::~TTTAOut() {
  Shutdown();
  FEncoder.reset();
  FHandle.reset();
}

void TTTAOut::Prepare() {
  FCreated = false;
  FInputInited = false;
  FNoAudio = false;
  FFramesIn = 0;
  FFrames.Clear();
  if (!LoadTTALib()) throw EAuException(MsgNoLibrary);
  if (StreamAssigned) {
    HANDLE h = CreateTempFile(L"tta");
    if (h == INVALID_HANDLE_VALUE) throw EAuException(MsgTempFile);
    FHandle.reset(h);
  } else {
    if (FWideFileName.empty()) throw EAuException(MsgNoName);
    HANDLE h = CreateFileW(FWideFileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw EAuException(MsgCreateOutput);
    FHandle.reset(h);
    FCreated = true;
  }
  TAuInput* in = Input();
  FInputInited = true;
  in->Init();
  FChannels = in->Channels();
  FBits = in->BitsPerSample();
  if (!SupportedDepth(FBits) || FChannels < 1 || FChannels > 16) throw EAuException(MsgUnsupported);
  FFrameBytes = FChannels * ((FBits + 7) / 8);
  const int64_t size = in->Size();
  const int64_t frames = size > 0 ? size / FFrameBytes : 0;
  FEncoder = std::make_unique<TTTAEncoder>(FHandle.get(), false, FBits == 32 ? 3 : 1, FChannels, FBits, in->SampleRate(),
                                           (uint32_t)std::min<int64_t>(frames, 0xFFFFFFFFll));
  FFrames.Reset(FFrameBytes, 1024);
  FSamples.resize((size_t)FChannels * 1025 * (FBits == 32 ? 8 : 4));
}

bool TTTAOut::DoOutput(bool Abort) {
  if (!FActive || Abort) return false;
  void* p = nullptr;
  // Room for what the carry leaves: never more than a frame's worth is kept back.
  uint32_t n = FFrames.Ask();
  Input()->GetData(p, n);
  if (n == 0 || !p) return false;
  uint32_t frames = 0;
  const uint8_t* s = FFrames.Join(p, n, frames);
  const size_t samples = (size_t)frames * FChannels;
  if (FBits != 32) {
    PcmToInt32(s, FBits / 8, samples, reinterpret_cast<int32_t*>(FSamples.data()));
  } else {
    uint8_t* d = FSamples.data();
    for (size_t i = 0; i < samples; ++i, d += 8) {
      int32_t v;
      std::memcpy(&v, s + 4 * i, 4);
      const float x = (float)((double)v / 2147483648.0);
      std::memcpy(d, &x, 4);
      std::memset(d + 4, 0, 4);
    }
  }
  if (frames > 0 && !FEncoder->CompressBlock(FSamples.data(), (int)frames))
    throw ETTAException(Format(MsgCompressFailed, FEncoder->LastError().c_str()));
  FFramesIn += frames;
  FFrames.Keep();
  return true;
}

void TTTAOut::Done() {
  TAuInput* in = Input();
  const bool prepared = Prepared();
  bool failed = false;
  try {
    if (prepared) {
      // A TrueAudio header of no samples is one that readers refuse: no audio fails the run,
      // and its file goes.
      if (FFramesIn == 0) {
        FNoAudio = true;
        throw EAuException(MsgNoAudio);
      }
      FEncoder->Finish();
      if (!FId3v1Tags->Empty() && !FId3v1Tags->WriteToFile(FHandle.get(), false)) throw EAuException(MsgTagsFailed);
      if (!FId3v2Tags->Empty() && !FId3v2Tags->WriteToFile(FHandle.get(), false)) throw EAuException(MsgTagsFailed);
      if (StreamAssigned) {
        const int64_t size = FileSize(FHandle.get());
        if (size > 0) CopyThroughMapping(FHandle.get(), Stream, size, false);
        if (size >= 0 && Stream->Size() > size) Stream->SetSize(size);
      } else {
        FlushFileBuffers(FHandle.get());
      }
    }
  } catch (...) {
    failed = true;
    ReportDoneFailure();
  }
  // Whatever happened above, release all this run set up.
  FEncoder.reset();
  FHandle.reset();
  // A failed Prepare, or a run without audio, leaves no file behind.
  if ((!prepared || FNoAudio) && FCreated) DeleteFileW(FWideFileName.c_str());
  FCreated = false;
  if (FInputInited && in) {
    FInputInited = false;
    in->Flush();
  }
  if (failed) throw EAuException(ExceptionMessage());
}
