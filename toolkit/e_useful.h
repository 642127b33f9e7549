// Small shared pieces of the toolkit: a bounded-wait mutex, integer-keyed maps, a thread base
// that logs its start and end and can be stopped synchronously, and string helpers.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/Graphics.h"

// A Windows mutex (recursive for its owner). Acquire waits at most Tries x TryMs (30 x 1000 ms),
// logging every failed wait, then raises "Internal error".
class TMutex {
 public:
  // Raises "TMutex.Create (Called from %s): %s" when the system refuses a mutex.
  explicit TMutex(uint32_t Tries = 30, uint32_t TryMs = 1000);
  ~TMutex();
  TMutex(const TMutex&) = delete;
  TMutex& operator=(const TMutex&) = delete;
  // Threads: any; waits as above. A mutex abandoned by a thread that ended is logged
  // ("WAIT_ABANDONED") and taken over: the caller owns it and must Release it.
  void Acquire();
  // Threads: the owner.
  void Release();
  uint32_t OwningThread() const { return FOwningThread; }

 private:
  void* FHandle;
  AnsiString FCreator;
  AnsiString FAcquirer;
  volatile uint32_t FOwningThread = 0;
  uint32_t FTries;
  uint32_t FTryMs;
};

// A map from 32-bit keys to objects. Not thread-safe: users lock around it.
class TAbstractMap : public TObject {
 public:
  struct TEntry {
    uint32_t Key;
    TObject* Value;
  };
  const char* ClassName() const override { return "TAbstractMap"; }
  virtual TEntry* Find(uint32_t Key) = 0;
  // Adds without looking for an existing key.
  virtual void Add(const TEntry& Entry) = 0;
  virtual void SetOwnsValues(bool Value) { FOwnsValues = Value; }
  // Removes the entry; an owned value is freed.
  virtual void Remove(uint32_t Key) = 0;
  virtual void Clear() = 0;
  virtual void CollectKeys(std::vector<uint32_t>& List) = 0;
  bool OwnsValues() const { return FOwnsValues; }
  // The value, nullptr when absent.
  TObject* GetValue(uint32_t Key);
  // Adds when absent, else replaces the value (the old value is not freed).
  void SetValue(uint32_t Key, TObject* Value);

 protected:
  bool FOwnsValues = false;
};

// Linear map: appends, grows by 32 entries, keeps order on Remove.
class TSimpleMap : public TAbstractMap {
 public:
  ~TSimpleMap() override;
  const char* ClassName() const override { return "TSimpleMap"; }
  TEntry* Find(uint32_t Key) override;
  void Add(const TEntry& Entry) override;
  void Remove(uint32_t Key) override;
  void Clear() override;
  void CollectKeys(std::vector<uint32_t>& List) override;
  int Count() const { return static_cast<int>(FItems.size()); }
  int Capacity() const { return FCapacity; }

 private:
  static constexpr int FDelta = 32;
  std::vector<TEntry> FItems;
  int FCapacity = 0;
};

// Hashed map: Key mod BucketCount (67) picks a TSimpleMap.
class THashMap : public TAbstractMap {
 public:
  THashMap();
  ~THashMap() override;
  const char* ClassName() const override { return "THashMap"; }
  virtual int BucketOf(uint32_t Key) const { return static_cast<int>(Key % FBucketCount); }
  TEntry* Find(uint32_t Key) override;
  void Add(const TEntry& Entry) override;
  void SetOwnsValues(bool Value) override;
  void Remove(uint32_t Key) override;
  void Clear() override;
  void CollectKeys(std::vector<uint32_t>& List) override;
  int BucketCount() const { return static_cast<int>(FBucketCount); }
  // A different count clears the map and makes that many empty buckets.
  void SetBucketCount(int N);
  TSimpleMap* Bucket(int Index) { return FBuckets[static_cast<size_t>(Index)].get(); }

 private:
  std::vector<std::unique_ptr<TSimpleMap>> FBuckets;
  uint32_t FBucketCount = 0;
};

// A thread whose start and end are logged, with three manual-reset events (the first wakes the
// thread when it is told to stop). As with TThread, a class created with CreateSuspended false
// calls Start at the end of its own constructor; "Thread (%d) started" is logged by the first
// Start, once the object is whole, so that it carries the most derived class's name.
class TExThread : public TThread {
 public:
  explicit TExThread(bool CreateSuspended);
  ~TExThread() override;
  const char* ClassName() const override { return "TExThread"; }
  // Threads: the user-interface thread (asserted). Terminates, wakes and resumes the thread and
  // waits for it in 1000 ms steps; after 30 it fails an assertion "Timed out waiting to stop
  // thread <class>".
  void TerminateSync();
  void Start();
  void Resume() { Start(); }
  void* WakeEvent() const { return FEvents[0]; }
  void* Event(int Index) const { return FEvents[Index]; }
  // Test seam: the wait steps of TerminateSync.
  void SetTerminateWait(uint32_t Steps, uint32_t StepMs) { FWaitSteps = Steps; FWaitStepMs = StepMs; }

 protected:
  void DoTerminate() override;

 private:
  void* FEvents[3] = {};
  bool FStartLogged = false;
  uint32_t FWaitSteps = 30;
  uint32_t FWaitStepMs = 1000;
};

// "#RRGGBB" (blanks around it allowed) as a colour $00BBGGRR; anything else gives Default.
TColor ColorFromHtml(const AnsiString& Text, TColor Default);
// 1-based position of SubStr in S at or after Offset; 0 when there is none.
int WidePosEx(const WideString& SubStr, const WideString& S, int Offset = 1);
// h := (h rol 5) xor c over the bytes of S.
uint32_t StrHash(const AnsiString& S);
