// The read-ahead cache: a filler thread pulls an input ahead into a ring buffer, and pulls on
// the cache are served from that buffer, so that a slow decoder does not stall playback.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/engine/AuClasses.h"

// A ring buffer with one writer and one reader. ReadCount and WriteCount are the bytes ever read
// and written; the fill is their difference. The counts are kept under one lock; the data is
// copied outside it (each side touches only its own region).
class TCircularBuffer : public TObject {
 public:
  explicit TCircularBuffer(uint32_t Size);
  ~TCircularBuffer() override;
  const char* ClassName() const override { return "TCircularBuffer"; }

  // Threads: any (the counts are read under the lock).
  uint32_t BufferSize() const { return FSize; }
  uint64_t ReadCount();
  uint64_t WriteCount();

  // The contiguous free bytes at the write position.
  // Threads: the writer.
  void GetWriteRegion(uint8_t*& Ptr, uint32_t& Len);
  // The contiguous filled bytes at the read position.
  // Threads: the reader.
  void GetReadRegion(uint8_t*& Ptr, uint32_t& Len);
  // Threads: the writer; wakes a waiting reader.
  void AddWritten(uint32_t Count);
  // Threads: any.
  uint32_t FreeSpace();
  // Copies at most Count bytes of one contiguous region. Waits while the buffer is empty; gives
  // 0 at once on Abort, and on EOF once empty (then both counts go back to 0).
  // Threads: the reader; waits for data, EOF or Abort.
  uint32_t Read(void* Dest, uint32_t Count);
  // Both counts 0, Abort and EOF cleared. Threads: any, while no one reads or writes.
  void Reset();
  // Drops everything buffered. Threads: any.
  void Discard();

  // A waiting reader gives up. Threads: any.
  void SetAbort(bool Value);
  bool Abort();
  // The writer will write no more. Threads: the writer (or anyone ending the stream).
  void SetEOF(bool Value);
  bool IsEOF();

  // Waits until at least Bytes are free, or Stop is set, or Timeout ms pass.
  // Threads: the writer.
  void WaitForSpace(uint32_t Bytes, uint32_t Timeout);
  // Wakes a writer waiting for space (it rechecks its own state).
  void WakeWriter();

 private:
  std::vector<uint8_t> FData;
  uint32_t FSize;
  TCriticalSection FLock;
  uint64_t FReadCount = 0, FWriteCount = 0;
  bool FAbort = false, FEOF = false;
  TEvent FDataEvent{true, false};   // set while data, EOF or Abort are there
  TEvent FSpaceEvent{false, false}; // pulsed when the reader frees space
};

// The filler: pulls the cache's input into the ring buffer in chunks of 384 KiB to 768 KiB.
class TAudioCacheThread : public TThread {
 public:
  TAudioCacheThread() : TThread(true) {}
  const char* ClassName() const override { return "TAudioCacheThread"; }

  TAuInput* Input = nullptr;
  TCircularBuffer* Buffer = nullptr;
  uint32_t FrameBytes = 1;
  std::atomic<bool> Finished{false};
  // Held while a chunk is copied in: a jump waits for it, so no data from before the jump
  // follows it.
  TCriticalSection ChunkLock;

  // Asks the filler to end after its current chunk. Threads: any; does not wait.
  void Stop();

 protected:
  void Execute() override;
};

// A converter serving pulls from the ring buffer its filler thread keeps full.
class TAudioCache : public TAuConverter {
 public:
  explicit TAudioCache(TComponent* AOwner);
  ~TAudioCache() override;
  const char* ClassName() const override { return "TAudioCache"; }

  // Unless the input has been read to its end: moves the input, drops what was buffered.
  // Threads: any; waits for the filler's current chunk.
  void Jump(int32_t Offset) override;
  // The input is not paused: the filler keeps it read ahead. Threads: any; return at once.
  void Pause() override {}
  void Resume() override {}

 protected:
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;

 private:
  std::vector<uint8_t> FOut;
  std::unique_ptr<TCircularBuffer> FBuffer;
  std::unique_ptr<TAudioCacheThread> FThread;
  uint32_t FFrameBytes = 1;
};

constexpr uint32_t AudioCacheRingSize = 0x600000;
constexpr uint32_t AudioCacheOutSize = 0xC0000;
