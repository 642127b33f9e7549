#include "toolkit/DbgUtils.h"

#include <cstdarg>
#include <map>
#include <vector>

#include "classlib/WinApi.h"
#include "toolkit/e_useful.h"

TLogHook LogHook = DefaultLogHook;

namespace {

// The debug sink of the default hook: a build that wants output replaces LogHook instead.
void DebugSink(const AnsiString&) {}

uint32_t GMainThreadId = 0;
int64_t GFrequency = 0;
TCounterProc GCounter = nullptr;

int64_t RealCounter() {
  LARGE_INTEGER C;
  QueryPerformanceCounter(&C);
  return C.QuadPart;
}

int64_t ReadCounter() { return GCounter ? GCounter() : RealCounter(); }

struct TTimingLevel {
  uint32_t LapCount;
  int64_t Stamps[TimingStamps];
};
struct TTimingState {
  uint8_t Level = 0;  // 0: no timing open
  bool Overflow = false;
  TTimingLevel Levels[TimingLevels + 1];  // 1..10 used
};
thread_local TTimingState Timing;

TPerformanceData* GPerfData = nullptr;

struct TObjectMonitor {
  CRITICAL_SECTION Lock;
  std::map<AnsiString, int> Counts;
  TObjectMonitor() { InitializeCriticalSection(&Lock); }
  ~TObjectMonitor() { DeleteCriticalSection(&Lock); }
};
TObjectMonitor* GMonitor = nullptr;

AnsiString VFormat(const char* Fmt, va_list Args) {
  va_list Copy;
  va_copy(Copy, Args);
  int N = vsnprintf(nullptr, 0, Fmt, Copy);
  va_end(Copy);
  if (N <= 0) return AnsiString();
  AnsiString S(static_cast<size_t>(N), '\0');
  vsnprintf(S.data(), S.size() + 1, Fmt, Args);
  return S;
}

}  // namespace

void DefaultLogHook(const AnsiString& Source, const AnsiString& Text) { DebugSink(Source + ": " + Text); }

void Log(const AnsiString& Source, const AnsiString& Text) {
  if (LogHook) LogHook(Source, Text);
}

void LogFmt(const AnsiString& Source, const char* Fmt, ...) {
  if (!LogHook) return;
  va_list Args;
  va_start(Args, Fmt);
  AnsiString Text = VFormat(Fmt, Args);
  va_end(Args);
  Log(Source, Text);
}

bool IsMainThread() { return GetCurrentThreadId() == GMainThreadId; }

AnsiString PtrToStr(const void* P) {
  if (!P) return "nil";
  const uint64_t v = reinterpret_cast<uintptr_t>(P);
  const uint32_t high = static_cast<uint32_t>(v >> 32);
  return (high ? IntToBase(high, 16, 0) : AnsiString()) + IntToBase(static_cast<uint32_t>(v), 16, 8);
}

AnsiString IntToBase(uint32_t Value, int Base, int MinDigits) {
  Assert(Base >= 2 && Base <= 16);
  static const char Digits[] = "0123456789ABCDEF";
  AnsiString S;
  do {
    S.insert(S.begin(), Digits[Value % static_cast<uint32_t>(Base)]);
    Value /= static_cast<uint32_t>(Base);
  } while (Value);
  if (static_cast<int>(S.size()) < MinDigits) S.insert(0, static_cast<size_t>(MinDigits) - S.size(), '0');
  return S;
}

int64_t PerfFrequency() { return GFrequency; }

void BeginTiming(bool NewLevel) {
  TTimingState& T = Timing;
  if (T.Overflow) return;
  if (NewLevel) {
    if (T.Level >= TimingLevels) {
      T.Overflow = true;
      return;
    }
    ++T.Level;
    T.Levels[T.Level].LapCount = 0;
  }
  if (T.Level == 0) return;
  TTimingLevel& L = T.Levels[T.Level];
  if (L.LapCount < TimingStamps) L.Stamps[L.LapCount++] = ReadCounter();
}

void EndTiming(const AnsiString& Source, const AnsiString& Text, int ThresholdMs) {
  TTimingState& T = Timing;
  if (T.Level == 0 || T.Overflow || GFrequency == 0) return;
  BeginTiming(false);
  const TTimingLevel& L = T.Levels[T.Level];
  int64_t Elapsed = L.Stamps[L.LapCount - 1] - L.Stamps[0];
  if (GPerfData) GPerfData->Add(Source, static_cast<uint64_t>(CounterToUs(Elapsed)));
  if (CounterToMs(Elapsed) >= ThresholdMs) {
    AnsiString Duration = CounterToText(Elapsed);
    if (L.LapCount > 2) {
      Duration += " (";
      for (uint32_t I = 1; I < L.LapCount; ++I) {
        if (I > 1) Duration += " + ";
        Duration += CounterToText(L.Stamps[I] - L.Stamps[I - 1]);
      }
      Duration += ")";
    }
    bool Warning = Elapsed > GFrequency;  // more than 1000 ms
    Log(Source, Format("%s: ELAPSED_TIME%s: %s", Text.c_str(), Warning ? "_WARNING" : "", Duration.c_str()));
  }
  --T.Level;
}

void EndTimingFmt(int ThresholdMs, const char* Fmt, ...) {
  va_list Args;
  va_start(Args, Fmt);
  AnsiString Text = VFormat(Fmt, Args);
  va_end(Args);
  EndTiming(Text, Text, ThresholdMs);
}

AnsiString CounterToText(int64_t Ticks) {
  if (GFrequency == 0) return "n/a";
  static const char* const Units[] = {"", "m", "u", "n"};
  double Value = static_cast<double>(Ticks) / static_cast<double>(GFrequency);
  int Unit = 0;
  while (Value < 1 && Unit < 3) {
    Value *= 1000;
    ++Unit;
  }
  return Format("%d %ss", static_cast<int>(Round(Value)), Units[Unit]);
}

int64_t CounterToMs(int64_t Ticks) {
  return GFrequency ? Round(static_cast<double>(Ticks) * 1000.0 / static_cast<double>(GFrequency)) : 0;
}

int64_t CounterToUs(int64_t Ticks) {
  return GFrequency ? Round(static_cast<double>(Ticks) * 1000000.0 / static_cast<double>(GFrequency)) : 0;
}

// ---------------------------------------------------------------------------------------------

TPerformanceData::TPerformanceData() : FRecords(new TRecord[BucketCount * BucketSize]) {
  auto* CS = new CRITICAL_SECTION;
  InitializeCriticalSection(CS);
  FLock = CS;
}

TPerformanceData::~TPerformanceData() {
  auto* CS = static_cast<CRITICAL_SECTION*>(FLock);
  DeleteCriticalSection(CS);
  delete CS;
  delete[] FRecords;
}

const TPerformanceData::TRecord* TPerformanceData::Lookup(uint32_t Hash, const AnsiString& Name) const {
  const TRecord* Bucket = FRecords + (Hash % BucketCount) * BucketSize;
  for (int I = 0; I < BucketSize; ++I) {
    uint32_t H = Bucket[I].NameHash.load(std::memory_order_acquire);
    if (H == 0) return nullptr;
    if (H == Hash && Bucket[I].Name == Name) return &Bucket[I];
  }
  return nullptr;
}

void TPerformanceData::Add(const AnsiString& Name, uint64_t Microseconds) {
  // Hash 0 marks a free record, so the empty name (and any name hashing to 0) is counted as 1.
  uint32_t Hash = StrHash(Name);
  if (Hash == 0) Hash = 1;
  auto* R = const_cast<TRecord*>(Lookup(Hash, Name));
  if (!R) {
    auto* CS = static_cast<CRITICAL_SECTION*>(FLock);
    EnterCriticalSection(CS);
    R = const_cast<TRecord*>(Lookup(Hash, Name));
    if (!R) {
      TRecord* Bucket = FRecords + (Hash % BucketCount) * BucketSize;
      for (int I = 0; I < BucketSize; ++I) {
        if (Bucket[I].NameHash.load(std::memory_order_relaxed) == 0) {
          Bucket[I].Name = Name;
          Bucket[I].NameHash.store(Hash, std::memory_order_release);
          R = &Bucket[I];
          break;
        }
      }
    }
    LeaveCriticalSection(CS);
    if (!R) return;
  }
  R->Count.fetch_add(1);
  R->TotalMicroseconds.fetch_add(Microseconds);
}

bool TPerformanceData::Find(const AnsiString& Name, uint32_t& Count, uint64_t& TotalMicroseconds) const {
  uint32_t Hash = StrHash(Name);
  if (Hash == 0) Hash = 1;
  const TRecord* R = Lookup(Hash, Name);
  if (!R) return false;
  Count = R->Count.load();
  TotalMicroseconds = R->TotalMicroseconds.load();
  return true;
}

TPerformanceData* PerfData() { return GPerfData; }

void ObjectMonitorAdd(const AnsiString& ClassName) {
  if (!GMonitor) return;
  EnterCriticalSection(&GMonitor->Lock);
  ++GMonitor->Counts[ClassName];
  LeaveCriticalSection(&GMonitor->Lock);
}

void ObjectMonitorRemove(const AnsiString& ClassName) {
  if (!GMonitor) return;
  EnterCriticalSection(&GMonitor->Lock);
  auto It = GMonitor->Counts.find(ClassName);
  if (It != GMonitor->Counts.end()) --It->second;
  LeaveCriticalSection(&GMonitor->Lock);
}

void DbgUtilsInitialize() {
  GMainThreadId = GetCurrentThreadId();
  if (!GCounter) {
    LARGE_INTEGER F;
    GFrequency = QueryPerformanceFrequency(&F) ? F.QuadPart : 0;
  }
  if (!GPerfData) GPerfData = new TPerformanceData;
  if (!GMonitor) GMonitor = new TObjectMonitor;
}

void DbgUtilsFinalize() {
  if (GMonitor) {
    Log("ObjectMonitor", "Allocated objects:");
    for (const auto& [Name, Count] : GMonitor->Counts)
      if (Count > 0) Log("ObjectMonitor", Format("  %s : %d", Name.c_str(), Count));
    delete GMonitor;
    GMonitor = nullptr;
  }
  delete GPerfData;
  GPerfData = nullptr;
}

void SetPerformanceCounter(TCounterProc Counter, int64_t Frequency) {
  GCounter = Counter;
  if (Counter) {
    GFrequency = Frequency;
  } else {
    LARGE_INTEGER F;
    GFrequency = QueryPerformanceFrequency(&F) ? F.QuadPart : 0;
  }
}
