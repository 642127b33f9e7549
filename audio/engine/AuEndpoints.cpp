// Inputs and outputs over streams and wide-named files.
#include "audio/engine/AuClasses.h"

#include "classlib/WinApi.h"

// ---------------------------------------------------------------------------------------------
// TAuFileStream

TAuFileStream::TAuFileStream(const WideString& FileName, uint16_t Mode, uint32_t Rights)
    : THandleStream(INVALID_HANDLE_VALUE) {
  TFileOpenMode mode = fomCreate;
  if (Mode != 0xFFFF) {
    // Access 3 reads and writes as 2 does; sharing beyond the table is none.
    const uint16_t access = (Mode & 3) == 3 ? 2 : (Mode & 3);
    const uint16_t share = ((Mode & 0xF0) >> 4) <= 4 ? (Mode & 0xF0) : 0;
    FileOpenModeOfWord((uint16_t)(access | share), mode);
  }
  FFile = TFileHandle::Open(FileName, mode);
  if (!FFile.Valid()) throw EAuException(SysErrorMessage(GetLastError()));
  FHandle = FFile.Get();
}

bool AuFileExists(const WideString& FileName) {
  DWORD a = GetFileAttributesW(FileName.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// ---------------------------------------------------------------------------------------------
// TAuStreamedInput

TAuStreamedInput::TAuStreamedInput(TComponent* AOwner) : TAuInput(AOwner) { Seekable = true; }

void TAuStreamedInput::SetStream(TStream* Value) {
  FStream = Value;
  StreamAssigned = Value != nullptr;
}

void TAuStreamedInput::RestartLoop() {
  if (Seekable) {
    int64_t s = FStartSample;
    SeekInternal(s);
  } else {
    Flush();
    Init();
  }
  FPosition = 0;
}

void TAuStreamedInput::GetData(void*& Buffer, uint32_t& Bytes) {
  TLock l(DataCS);
  if (EndOfStream) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  const uint32_t asked = Bytes;
  if (FLoopPending) {
    FLoopPending = false;
    RestartLoop();
  }
  // One delivery: Position follows it, and it is cut back to end exactly at Size.
  auto pull = [&]() {
    Bytes = asked;
    GetDataInternal(Buffer, Bytes);
    if (!Buffer || Bytes == 0) {
      Buffer = nullptr;
      Bytes = 0;
      EndOfStream = true;
      return;
    }
    int64_t pos = (FPosition += Bytes);
    int64_t size = FSize;
    if (size > 0 && pos >= size) {
      EndOfStream = true;
      if (pos > size) {
        Bytes -= (uint32_t)(pos - size);
        FPosition = size;
      }
    }
  };
  pull();
  if (EndOfStream && FLoop) {
    EndOfStream = false;
    if (Bytes > 0) {
      // The final bytes of this pass go out first; the next pull starts the next pass.
      FLoopPending = true;
      return;
    }
    RestartLoop();
    pull();
    if (EndOfStream && Bytes > 0) {
      EndOfStream = false;
      FLoopPending = true;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// TAuFileIn

TAuFileIn::TAuFileIn(TComponent* AOwner) : TAuStreamedInput(AOwner) {}

TAuFileIn::~TAuFileIn() {
  // The format's CloseFile is gone by now; derived destructors close the file themselves.
}

void TAuFileIn::SetFileName(const AnsiString& Value) {
  TLock l(DataCS);
  CloseFile();
  FWideFileName = AnsiToWide(Value);
  FFileName = Value;
}

void TAuFileIn::SetWideFileName(const WideString& Value) {
  TLock l(DataCS);
  CloseFile();
  FWideFileName = Value;
  FFileName = WideToAnsi(Value);
}

void TAuFileIn::SetStream(TStream* Value) {
  TLock l(DataCS);
  CloseFile();
  TAuStreamedInput::SetStream(Value);
}

void TAuFileIn::OpenOwnStream(uint16_t Mode) {
  if (StreamAssigned) return;
  if (!FOwnStream) FOwnStream = std::make_unique<TAuFileStream>(FWideFileName, Mode);
  FStream = FOwnStream.get();
}

void TAuFileIn::CloseOwnStream() {
  if (!FOwnStream) return;
  if (FStream == FOwnStream.get()) FStream = nullptr;
  FOwnStream.reset();
}

void TAuFileIn::OpenFile() {
  LoadDecoderLibrary();
  TLock l(FileLock);
  if (OpenCount > 0) {
    ReopenDecoder();
    return;
  }
  bool open;
  try {
    open = OpenDecoder();
  } catch (...) {
    if (OpenFailed()) ++OpenCount;
    throw;
  }
  if (open) ++OpenCount;
}

void TAuFileIn::CloseFile() {
  TLock l(FileLock);
  if (OpenCount <= 0) return;
  OpenCount = 0;
  CloseDecoder();
}

void TAuFileIn::CloseForDestruction() {
  TLock l(FileLock);
  CloseFile();
  CloseOwnStream();
}

void TAuFileIn::Reset() {
  TAuStreamedInput::Reset();
  OpenCount = 0;
}

bool TAuFileIn::Valid() {
  if (!StreamAssigned && FWideFileName.empty()) return FValid;
  TLock l(FileLock);
  try {
    OpenFile();
  } catch (...) {
    FValid = false;
  }
  if (!FValid) {
    if (OpenCount > 0) {
      try {
        CloseFile();
      } catch (...) {
      }
    } else {
      CloseOwnStream();
    }
  }
  return FValid;
}

int TAuFileIn::GetBPS() {
  OpenFile();
  return FBPS;
}

int TAuFileIn::GetCh() {
  OpenFile();
  return FChan;
}

int TAuFileIn::GetSR() {
  OpenFile();
  return FSR;
}

int64_t TAuFileIn::GetTotalSamples() {
  OpenFile();
  int64_t frame = (int64_t)FChan * (FBPS / 8);
  FTotalSamples = (FSize > 0 && frame > 0) ? FSize / frame : -1;
  return FTotalSamples;
}

int TAuFileIn::GetTotalTime() {
  OpenFile();
  int64_t bytesPerSecond = (int64_t)FSR * FChan * (FBPS / 8);
  if (bytesPerSecond <= 0) return 0;
  return (int)Round((double)FSize / (double)bytesPerSecond);
}

int64_t TAuFileIn::FileSamples() {
  if (FBusy) return FFileFrames;
  return GetTotalSamples();
}

bool TAuFileIn::SetStartTime(int32_t Min, int32_t Sec) {
  if (!Seekable) return false;
  OpenFile();
  uint32_t frame = ((uint32_t)Min * 60u + (uint32_t)Sec) * (uint32_t)FSR;
  if ((int64_t)frame > FileSamples()) return false;
  FStartSample = frame;
  return true;
}

bool TAuFileIn::SetEndTime(int32_t Min, int32_t Sec) {
  if (!Seekable) return false;
  OpenFile();
  uint32_t frame = ((uint32_t)Min * 60u + (uint32_t)Sec) * (uint32_t)FSR;
  if ((int64_t)frame > FileSamples()) return false;
  FEndSample = frame;
  return true;
}

bool TAuFileIn::Seek(int64_t SampleNum) {
  TLock l(DataCS);
  if (!Seekable) return false;
  if (FTotalSamples != 0 && SampleNum > FTotalSamples) return false;
  if (FBusy) {
    int64_t s = SampleNum + FStartSample;
    bool r = SeekInternal(s);
    FPosition = (s - FStartSample) * (int64_t)FrameSize;
    FLoopPending = false;
    return r;
  }
  FStartSample = SampleNum;
  FEndSample = -1;
  FPosition = SampleNum * (int64_t)FrameSize;
  return true;
}

void TAuFileIn::Jump(int32_t Offset) {
  TLock l(DataCS);
  int64_t size = FSize;
  if (!Seekable || size <= 0) return;
  double f = (double)FPosition / (double)size + Offset / 1000.0;
  if (f < 0) f = 0;
  if (f > 1) f = 1;
  Seek(Round((double)FTotalSamples * f));
}

void TAuFileIn::InitInternal() {
  if (FBusy) throw EAuException(AuMessages::InputComponentBusy);
  if (!StreamAssigned && FWideFileName.empty()) throw EAuException(AuMessages::FileNameNotAssigned);
  FBusy = true;
  FPosition = 0;
  FLoopPending = false;
  OpenFile();
  if (FValid) {
    FrameSize = (uint16_t)(FChan * FBPS / 8);  // the format checks this is not 0
    FTotalSamples = FSize / FrameSize;
    FFileFrames = FTotalSamples;
    FTotalTime = (int32_t)(FTotalSamples / FSR);
    if (FStartSample > 0) {
      Seek(0);
      FPosition = 0;
    }
    if (FStartSample > 0 || FEndSample != -1) {
      if (FEndSample > FTotalSamples) FEndSample = -1;
      int64_t count = (FEndSample != -1 ? FEndSample - FStartSample : FTotalSamples - FStartSample) + 1;
      if (count <= 0) {
        // An empty window (it starts past the end, or ends before it starts) delivers nothing.
        count = 0;
        EndOfStream = true;
      }
      FTotalSamples = count;
      FSize = count * FrameSize;
    }
    BufStart = 1;
    BufEnd = 0;
  } else {
    FrameSize = 8;
    FBPS = 8;
    FSR = 8000;
    FChan = 1;
    FTotalSamples = 0;
    FFileFrames = 0;
    FSize = 0;
    FTotalTime = 0;
  }
}

void TAuFileIn::FlushInternal() {
  CloseFile();
  FStartSample = 0;
  FEndSample = -1;
  FLoopPending = false;
  FBusy = false;
}

// ---------------------------------------------------------------------------------------------
// TAuTaggedFileIn

TAuTaggedFileIn::TAuTaggedFileIn(TComponent* AOwner)
    : TAuFileIn(AOwner),
      FId3v1Tags(std::make_unique<TId3v1Tags>()),
      FId3v2Tags(std::make_unique<TId3v2Tags>()),
      FAPEv2Tags(std::make_unique<TAPEv2Tags>()),
      FCommonTags(std::make_unique<TCommonTags>()) {}

TAuTaggedFileIn::~TAuTaggedFileIn() = default;

// ---------------------------------------------------------------------------------------------
// TAuFileOut

void TAuFileOut::SetFileName(const AnsiString& Value) {
  FWideFileName = AnsiToWide(Value);
  FFileName = Value;
}

void TAuFileOut::SetWideFileName(const WideString& Value) {
  FWideFileName = Value;
  FFileName = WideToAnsi(Value);
}

void TAuFileOut::SetFileMode(TFileOutputMode) { FFileMode = foRewrite; }

void TAuFileOut::SetStream(TStream* Value) {
  if (FBusy) return;
  FOwnStream.reset();  // not expected: own streams live only during a run
  Stream = Value;
  StreamAssigned = Value != nullptr;
}

bool TAuFileOut::OpenDestination(const char* NoNameMessage) {
  if (StreamAssigned) return false;
  if (FWideFileName.empty()) throw EAuException(NoNameMessage);
  const bool create = FFileMode == foRewrite || !AuFileExists(FWideFileName);
  FOwnStream = std::make_unique<TAuFileStream>(FWideFileName, create ? 0xFFFF : (uint16_t)(FShareMode | 2),
                                               FAccessMask);
  Stream = FOwnStream.get();
  return create;
}

void TAuFileOut::CloseDestination() {
  if (!FOwnStream) return;
  FOwnStream.reset();
  Stream = nullptr;
}

// ---------------------------------------------------------------------------------------------
// TAuTaggedFileOut

TAuTaggedFileOut::TAuTaggedFileOut(TComponent* AOwner)
    : TAuFileOut(AOwner),
      FId3v1Tags(std::make_unique<TId3v1Tags>()),
      FId3v2Tags(std::make_unique<TId3v2Tags>()),
      FAPEv2Tags(std::make_unique<TAPEv2Tags>()) {}

TAuTaggedFileOut::~TAuTaggedFileOut() {
  Shutdown();  // an output not freed by delete: a running worker may still use the tag sets
}
