// The pull contract: inputs and converters; the unit's start and end.
#include "audio/engine/AuClasses.h"

#include "classlib/WinApi.h"

#include <algorithm>
#include <cstring>
#include <vector>


// The message of the exception being handled (call inside a catch block).
WideString AuCurrentExceptionMessage() {
  try {
    throw;
  } catch (const Exception& E) {
    return E.Message();
  } catch (const std::exception& E) {
    return AnsiToWide(E.what());
  } catch (...) {
    return AnsiToWide(AuMessages::UnknownException);
  }
}


// ---------------------------------------------------------------------------------------------
// TAuInput

TAuInput::TAuInput(TComponent* AOwner) : TComponent(AOwner) {}

TAuInput::~TAuInput() = default;

void TAuInput::BeforeDestruction() {
  // Consumers let go while this input still exists whole: an output stops its run (its Done
  // may still flush this input), a converter drops it under its data lock.
  NotifyFreeNotifications();
}

void TAuInput::SetUnmaskedBPS(bool Value) { FUnmaskedBPS = Value; }

void TAuInput::GetData(void*& Buffer, uint32_t& Bytes) {
  TLock l(DataCS);
  GetDataInternal(Buffer, Bytes);
}

void TAuInput::Init() {
  TLock l(DataCS);
  if (!HasSource()) {
    EndOfStream = true;
    throw EAuException(AuMessages::InputNotAssigned);
  }
  EndOfStream = false;
  try {
    InitInternal();
  } catch (...) {
    EndOfStream = true;
    throw EAuException(AuCurrentExceptionMessage());
  }
}

void TAuInput::Flush() {
  TLock l(DataCS);
  if (!HasSource()) return;  // a converter whose input went: closed when it went
  FlushInternal();
}

uint32_t TAuInput::CopyData(void* Buffer, uint32_t BufferSize) {
  void* p = nullptr;
  uint32_t n = BufferSize;
  GetData(p, n);
  if (n && p) std::memcpy(Buffer, p, n);
  return p ? n : 0;
}

uint32_t TAuInput::FillBuffer(void* Buffer, uint32_t BufferSize, bool& Eof) {
  auto* out = static_cast<uint8_t*>(Buffer);
  uint32_t got = 0;
  Eof = false;
  while (got < BufferSize) {
    void* p = nullptr;
    uint32_t n = BufferSize - got;
    GetData(p, n);
    if (n == 0 || !p) {
      Eof = true;
      break;
    }
    std::memcpy(out + got, p, n);
    got += n;
  }
  return got;
}

uint32_t TAuInput::FillBufferRaw(void* Buffer, uint32_t BufferSize, bool& Eof) {
  Eof = false;
  if (!Buffer) return 0;
  TLock l(DataCS);
  auto* out = static_cast<uint8_t*>(Buffer);
  uint32_t got = 0;
  while (got < BufferSize) {
    void* p = nullptr;
    uint32_t n = BufferSize - got;
    GetDataInternal(p, n);
    if (n == 0 || !p) {
      Eof = true;
      break;
    }
    std::memcpy(out + got, p, n);
    got += n;
  }
  FPosition += got;
  return got;
}

void TAuInput::Reset() {
  Flush();
  FBusy = false;
}

// ---------------------------------------------------------------------------------------------
// TAuConverter

TAuConverter::~TAuConverter() = default;

int TAuConverter::GetBPS() {
  TAuInput* in = FInput;
  if (!in) return 0;
  int bps = in->BitsPerSample();
  return FUnmaskedBPS ? bps : (bps & 127);
}

int TAuConverter::GetCh() { return FInput ? FInput->Channels() : 0; }

int TAuConverter::GetSR() { return FInput ? FInput->SampleRate() : 0; }

void TAuConverter::Pause() {
  if (FInput) FInput->Pause();
}

void TAuConverter::Resume() {
  if (FInput) FInput->Resume();
}

void TAuConverter::Jump(int32_t Offset) {
  if (FInput) FInput->Jump(Offset);
}

void TAuConverter::SetInput(TAuInput* Value) {
  if (Value == this) return;
  TLock l(DataCS);
  TAuInput* old = FInput;
  if (old) old->RemoveFreeNotification(this);
  FInput = nullptr;
  if (FBusy) {
    // A live swap: the old source is closed, the new one opened.
    if (old) old->Flush();
    if (Value) Value->Init();
  }
  FInput = Value;
  if (Value) Value->FreeNotification(this);
}

void TAuConverter::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent && AComponent == FInput) {
    // The input is going. Told before its destructors run (it is still whole), a busy converter
    // closes it; told later, it can only forget it. A busy converter then delivers the end of
    // its stream.
    TLock l(DataCS);
    if (FBusy && !(FInput->ComponentState() & csDestroying)) {
      try {
        FlushInternal();
      } catch (...) {
      }
    }
    FInput = nullptr;
    EndOfStream = true;
  }
  TAuInput::Notification(AComponent, Operation);
}

void TAuConverter::GetData(void*& Buffer, uint32_t& Bytes) {
  TLock l(DataCS);
  if (EndOfStream || !FInput) {
    Buffer = nullptr;
    Bytes = 0;
    EndOfStream = true;
    return;
  }
  GetDataInternal(Buffer, Bytes);
  int64_t pos = (FPosition += Bytes);
  int64_t size = FSize;
  if (size > 0 && pos > size) {
    Bytes -= (uint32_t)(pos - size);
    FPosition = size;  // Position counts the bytes delivered
    EndOfStream = true;
  }
  if (Bytes == 0) {
    Buffer = nullptr;
    EndOfStream = true;
  }
}

// ---------------------------------------------------------------------------------------------
// Unit state

namespace {
std::unique_ptr<TCriticalSection> gLoadLibCS;

struct TUnitStep {
  void (*Initialize)();
  void (*Finalize)();
};
// Filled during static initialisation, so made on first use.
std::vector<TUnitStep>& UnitSteps() {
  static std::vector<TUnitStep> steps;
  return steps;
}
}  // namespace

TAuUnitSteps::TAuUnitSteps(void (*Initialize)(), void (*Finalize)()) {
  UnitSteps().push_back({Initialize, Finalize});
}

TCriticalSection* LoadLibCS = nullptr;

void SetAuFPUControlWord() { Set8087CW(AuFPUControlWord); }

void AuClassesInitialize() {
  if (!gLoadLibCS) gLoadLibCS = std::make_unique<TCriticalSection>();
  LoadLibCS = gLoadLibCS.get();
  SetAuFPUControlWord();
  for (const TUnitStep& s : UnitSteps()) s.Initialize();
}

void AuClassesFinalize() {
  for (auto s = UnitSteps().rbegin(); s != UnitSteps().rend(); ++s) s->Finalize();
  LoadLibCS = nullptr;
  gLoadLibCS.reset();
}

