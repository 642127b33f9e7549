// Diagnostics: one replaceable log hook, nested timing on the performance counter with per-name
// statistics, and a monitor of allocated objects. The default hook discards everything.
#pragma once
#include <atomic>
#include <cstdint>

#include "classlib/SysUtils.h"

// Receives every log line. The default joins source and text with ": " and hands the line to a
// sink that writes nothing.
using TLogHook = void (*)(const AnsiString& Source, const AnsiString& Text);
extern TLogHook LogHook;
void DefaultLogHook(const AnsiString& Source, const AnsiString& Text);

// Threads: any.
void Log(const AnsiString& Source, const AnsiString& Text);
void LogFmt(const AnsiString& Source, const char* Fmt, ...);

// Threads: any. True on the thread that started the diagnostics unit.
bool IsMainThread();
// "nil" for a null pointer, else 8 upper-case hexadecimal digits; in a 64-bit process an address
// beyond 32 bits gets as many more as it needs.
AnsiString PtrToStr(const void* P);
// Digits of Value in Base 2..16 (asserted), left-padded with "0" to MinDigits.
AnsiString IntToBase(uint32_t Value, int Base, int MinDigits);

// ---------------------------------------------------------------------------------------------
// Nested timing (per thread: 10 levels of up to 21 stamps each; an eleventh level turns timing off
// for the rest of the thread).

constexpr int TimingLevels = 10;
constexpr int TimingStamps = 21;

// Counts per second of the performance counter; 0 when there is none.
int64_t PerfFrequency();

// Threads: any (each thread has its own levels). With NewLevel opens a level and takes its first
// stamp; without, adds a lap to the current level.
void BeginTiming(bool NewLevel = true);
// Threads: any. Closes the current level: adds the elapsed time to the statistics under Source
// and, when it took at least ThresholdMs, logs "<Text>: ELAPSED_TIME[_WARNING]: <duration>".
void EndTiming(const AnsiString& Source, const AnsiString& Text, int ThresholdMs);
// As EndTiming, with the formatted text as both source and text.
void EndTimingFmt(int ThresholdMs, const char* Fmt, ...);

// "n/a" without a counter; else the rounded value in s, ms, us or ns ("500 ms").
AnsiString CounterToText(int64_t Ticks);
int64_t CounterToMs(int64_t Ticks);
int64_t CounterToUs(int64_t Ticks);

// ---------------------------------------------------------------------------------------------
// Statistics of the timed sections: 53 buckets of 100 records, found by StrHash of the name.
// Lookups take no lock; a new name takes the lock; the counters are atomic.
class TPerformanceData {
 public:
  static constexpr int BucketCount = 53;
  static constexpr int BucketSize = 100;
  TPerformanceData();
  ~TPerformanceData();
  TPerformanceData(const TPerformanceData&) = delete;
  TPerformanceData& operator=(const TPerformanceData&) = delete;
  // Threads: any. A full bucket takes no new name; the time is then not counted.
  void Add(const AnsiString& Name, uint64_t Microseconds);
  // Threads: any. False when the name has no record.
  bool Find(const AnsiString& Name, uint32_t& Count, uint64_t& TotalMicroseconds) const;

 private:
  struct TRecord {
    std::atomic<uint32_t> NameHash{0};  // 0: free
    AnsiString Name;
    std::atomic<uint32_t> Count{0};
    uint32_t Reserved = 0;
    std::atomic<uint64_t> TotalMicroseconds{0};
  };
  const TRecord* Lookup(uint32_t Hash, const AnsiString& Name) const;
  TRecord* FRecords;  // BucketCount * BucketSize
  void* FLock;        // CRITICAL_SECTION
};
TPerformanceData* PerfData();

// Counts live objects per class name; dumped to the log at shutdown ("Allocated objects:").
// Threads: any.
void ObjectMonitorAdd(const AnsiString& ClassName);
void ObjectMonitorRemove(const AnsiString& ClassName);

// Start-up and shutdown of the unit (the program and test mains call them in unit order).
void DbgUtilsInitialize();
void DbgUtilsFinalize();

// Test seam: replaces the performance counter (Frequency 0: no counter). nullptr restores the real one.
using TCounterProc = int64_t (*)();
void SetPerformanceCounter(TCounterProc Counter, int64_t Frequency);
