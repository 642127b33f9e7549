#include "audio/stages/AuCache.h"

#include <algorithm>
#include <cstring>

// ---------------------------------------------------------------------------------------------
// TCircularBuffer

TCircularBuffer::TCircularBuffer(uint32_t Size) : FData(Size ? Size : 1), FSize(Size ? Size : 1) {}

TCircularBuffer::~TCircularBuffer() = default;

uint64_t TCircularBuffer::ReadCount() {
  TLock l(FLock);
  return FReadCount;
}

uint64_t TCircularBuffer::WriteCount() {
  TLock l(FLock);
  return FWriteCount;
}

void TCircularBuffer::GetWriteRegion(uint8_t*& Ptr, uint32_t& Len) {
  TLock l(FLock);
  uint32_t fill = (uint32_t)(FWriteCount - FReadCount);
  uint32_t wp = (uint32_t)(FWriteCount % FSize);
  Ptr = FData.data() + wp;
  // The free bytes, up to the end of the storage.
  Len = std::min(FSize - fill, FSize - wp);
}

void TCircularBuffer::GetReadRegion(uint8_t*& Ptr, uint32_t& Len) {
  TLock l(FLock);
  uint32_t fill = (uint32_t)(FWriteCount - FReadCount);
  uint32_t rp = (uint32_t)(FReadCount % FSize);
  Ptr = FData.data() + rp;
  // The filled bytes, up to the end of the storage.
  Len = std::min(fill, FSize - rp);
}

void TCircularBuffer::AddWritten(uint32_t Count) {
  TLock l(FLock);
  FWriteCount += Count;
  if (FWriteCount != FReadCount) FDataEvent.SetEvent();
}

uint32_t TCircularBuffer::FreeSpace() {
  TLock l(FLock);
  return FSize - (uint32_t)(FWriteCount - FReadCount);
}

uint32_t TCircularBuffer::Read(void* Dest, uint32_t Count) {
  for (;;) {
    {
      TLock l(FLock);
      if (FAbort) return 0;
      if (FWriteCount != FReadCount) break;
      if (FEOF) {
        FReadCount = FWriteCount = 0;
        return 0;
      }
      FDataEvent.ResetEvent();
    }
    FDataEvent.WaitFor(INFINITE_WAIT);
  }
  uint8_t* p = nullptr;
  uint32_t len = 0;
  GetReadRegion(p, len);
  uint32_t n = std::min(Count, len);
  std::memcpy(Dest, p, n);
  {
    TLock l(FLock);
    FReadCount += n;
  }
  FSpaceEvent.SetEvent();
  return n;
}

void TCircularBuffer::Reset() {
  {
    TLock l(FLock);
    FReadCount = FWriteCount = 0;
    FAbort = FEOF = false;
    FDataEvent.ResetEvent();
  }
  FSpaceEvent.SetEvent();
}

void TCircularBuffer::Discard() {
  {
    TLock l(FLock);
    FReadCount = FWriteCount;
  }
  FSpaceEvent.SetEvent();
}

void TCircularBuffer::SetAbort(bool Value) {
  TLock l(FLock);
  FAbort = Value;
  if (Value) FDataEvent.SetEvent();
}

bool TCircularBuffer::Abort() {
  TLock l(FLock);
  return FAbort;
}

void TCircularBuffer::SetEOF(bool Value) {
  TLock l(FLock);
  FEOF = Value;
  if (Value) FDataEvent.SetEvent();
}

bool TCircularBuffer::IsEOF() {
  TLock l(FLock);
  return FEOF;
}

void TCircularBuffer::WaitForSpace(uint32_t Bytes, uint32_t Timeout) {
  if (FreeSpace() >= Bytes) return;
  FSpaceEvent.WaitFor(Timeout);
}

void TCircularBuffer::WakeWriter() { FSpaceEvent.SetEvent(); }

// ---------------------------------------------------------------------------------------------
// TAudioCacheThread

namespace {
constexpr uint32_t MinChunk = 0x60000;       // a turn copies only when more than this is free
constexpr uint32_t RestThreshold = 0x540000;  // below this much free space a short rest waits
}  // namespace

void TAudioCacheThread::Stop() {
  Terminate();
  if (Buffer) Buffer->WakeWriter();
}

void TAudioCacheThread::Execute() {
  SetAuFPUControlWord();
  try {
    while (!Terminated()) {
      uint32_t free = Buffer->FreeSpace();
      if (Buffer->IsEOF()) {
        // Everything is read: nothing to do until the end.
        Buffer->WaitForSpace(UINT32_MAX, INFINITE_WAIT);
        continue;
      }
      int64_t size = Input->Size();
      if (free < RestThreshold && size >= 0 && size - Input->Position() <= (int64_t)free) {
        // The rest of the input fits: let the reader drain more first.
        Buffer->WaitForSpace(RestThreshold, INFINITE_WAIT);
        continue;
      }
      uint32_t chunk = std::min(free, AudioCacheOutSize);
      chunk -= chunk % FrameBytes;
      if (chunk <= MinChunk) {
        Buffer->WaitForSpace(MinChunk + FrameBytes, INFINITE_WAIT);
        continue;
      }
      TLock l(ChunkLock);
      uint32_t got = 0;
      bool none = false;
      while (got < chunk) {
        uint8_t* p = nullptr;
        uint32_t len = 0;
        Buffer->GetWriteRegion(p, len);
        len = std::min(len, chunk - got);
        uint32_t n = len ? Input->CopyData(p, len) : 0;
        if (n == 0) {
          none = len != 0;
          break;
        }
        Buffer->AddWritten(n);
        got += n;
      }
      if (none) Buffer->SetEOF(true);
    }
  } catch (...) {
    // A failing input ends the stream: the reader gets what was buffered, then the end.
  }
  Finished = true;
  Buffer->SetEOF(true);
}

// ---------------------------------------------------------------------------------------------
// TAudioCache

TAudioCache::TAudioCache(TComponent* AOwner) : TAuConverter(AOwner) {}

TAudioCache::~TAudioCache() {
  if (FThread) {
    FThread->Stop();
    FThread->WaitFor();
  }
}

void TAudioCache::InitInternal() {
  if (!FInput) throw EAuException("Input is not assigned");
  FInput->Init();
  int frame = (FInput->BitsPerSample() & 127) / 8 * FInput->Channels();
  FFrameBytes = frame > 0 ? (uint32_t)frame : 1;
  // A ring of whole frames, so that no frame is split at the wrap.
  FBuffer = std::make_unique<TCircularBuffer>(AudioCacheRingSize - AudioCacheRingSize % FFrameBytes);
  FBuffer->Reset();
  FOut.resize(AudioCacheOutSize);
  FThread = std::make_unique<TAudioCacheThread>();
  FThread->Input = FInput;
  FThread->Buffer = FBuffer.get();
  FThread->FrameBytes = FFrameBytes;
  FPosition = 0;
  FSize = FInput->Size();
  FBusy = true;
  FThread->Start();
}

void TAudioCache::FlushInternal() {
  if (FThread) {
    FThread->Stop();
    FThread->WaitFor();  // the chunk under way is finished first
  }
  FThread.reset();
  if (FInput) FInput->Flush();
  FBuffer.reset();
  std::vector<uint8_t>().swap(FOut);
  FBusy = false;
}

void TAudioCache::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!FBuffer) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  uint32_t cap = AudioCacheOutSize - AudioCacheOutSize % FFrameBytes;
  uint32_t n = FBuffer->Read(FOut.data(), std::min(Bytes, cap));
  Bytes = n;
  if (n == 0) {
    Buffer = nullptr;
    return;
  }
  Buffer = FOut.data();
  int64_t size = FSize;
  if (size > 0 && FPosition + (int64_t)n > size) FPosition = 0;
}

void TAudioCache::Jump(int32_t Offset) {
  TLock l(DataCS);
  if (!FBuffer || !FThread || !FInput || FBuffer->IsEOF()) return;
  TLock c(FThread->ChunkLock);
  FInput->Jump(Offset);
  FPosition = FInput->Position();
  FBuffer->Discard();
}
