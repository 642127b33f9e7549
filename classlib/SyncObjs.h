// Critical sections and events over the Win32 primitives.
#pragma once
#include <cstdint>

// A recursive lock: the owning thread may enter it again.
class TCriticalSection {
 public:
  TCriticalSection();
  ~TCriticalSection();
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;
  void Enter();
  void Leave();
  bool TryEnter();
  void Acquire() { Enter(); }
  void Release() { Leave(); }

  // The system's CRITICAL_SECTION is kept here so that this header needs no windows.h: 24 bytes
  // in a 32-bit process, 40 in a 64-bit one (checked against the system's record in SyncObjs.cpp).
  static constexpr unsigned kSectionSize = sizeof(void*) == 8 ? 40 : 24;

 private:
  alignas(8) unsigned char FSection[kSectionSize];
};

// Holds a critical section for a scope.
class TLock {
 public:
  explicit TLock(TCriticalSection& CS) : FCS(CS) { FCS.Enter(); }
  ~TLock() { FCS.Leave(); }
  TLock(const TLock&) = delete;
  TLock& operator=(const TLock&) = delete;

 private:
  TCriticalSection& FCS;
};

enum TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

constexpr uint32_t INFINITE_WAIT = 0xFFFFFFFFu;

class TEvent {
 public:
  // An unnamed event; ManualReset False makes an auto-reset event.
  TEvent(bool ManualReset, bool InitialState);
  ~TEvent();
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;
  void SetEvent();
  void ResetEvent();
  // On the user-interface thread the wait also serves messages sent from other threads
  // and calls queued for synchronisation, so that a worker waiting on either cannot deadlock.
  TWaitResult WaitFor(uint32_t Timeout = INFINITE_WAIT);
  void* Handle() const { return FHandle; }

 private:
  void* FHandle;
};

// Waits for a kernel handle; on the user-interface thread it serves sent messages and
// synchronised calls meanwhile (see TEvent::WaitFor).
TWaitResult WaitForHandle(void* Handle, uint32_t Timeout);
