#include "toolkit/e_useful.h"

#include "classlib/WinApi.h"
#include "toolkit/DbgUtils.h"

namespace {

// The fixed texts of this unit.
struct {
  const char* CreateFailed = "TMutex.Create (Called from %s): %s";
  const char* InternalError = "Internal error";
  const char* WaitReturned = "WaitForSingleObject (Creator=%s, OwningThread=%d, Acquire called from %s) returned %s";
  const char* ReleaseFailed = "WARNING: ReleaseMutex (Mutex creator=%s, Release called from %s): %s";
  const char* CloseFailed = "WARNING: CloseHandle (Mutex creator=%s, Release called from %s): %s";
  const char* ThreadStarted = "Thread (%d) started";
  const char* ThreadFinished = "Thread (%d) finished";
  const char* NotTerminated = "Thread not terminated yet";
  const char* TimedOut = "Timed out waiting to stop";
  const char* TimedOutAssert = "Timed out waiting to stop thread ";
} const Msg;

AnsiString LastErrorText() { return WideToAnsi(SysErrorMessage(GetLastError())); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// TMutex

TMutex::TMutex(uint32_t Tries, uint32_t TryMs) : FTries(Tries ? Tries : 1), FTryMs(TryMs) {
  FHandle = CreateMutexW(nullptr, FALSE, nullptr);
  if (!FHandle) throw Exception(Format(Msg.CreateFailed, FCreator.c_str(), LastErrorText().c_str()));
}

TMutex::~TMutex() {
  if (!CloseHandle(FHandle))
    Log("TMutex.Destroy", Format(Msg.CloseFailed, FCreator.c_str(), FAcquirer.c_str(), LastErrorText().c_str()));
}

void TMutex::Acquire() {
  DWORD Result = WAIT_FAILED;
  for (uint32_t Try = 1; Try <= FTries; ++Try) {
    Result = WaitForSingleObject(FHandle, FTryMs);
    if (Result == WAIT_OBJECT_0) break;
    AnsiString What;
    if (Result == WAIT_FAILED)
      What = "WAIT_FAILED: " + LastErrorText();
    else if (Result == WAIT_ABANDONED)
      What = "WAIT_ABANDONED";
    else if (Result == WAIT_TIMEOUT)
      What = "WAIT_TIMEOUT, retry " + IntToStr(Try);
    Log("TMutex.Acquire", Format(Msg.WaitReturned, FCreator.c_str(), static_cast<int>(FOwningThread),
                                 FAcquirer.c_str(), What.c_str()));
    // An abandoned mutex has been handed to this thread: keep it rather than leave it held for good.
    if (Result == WAIT_ABANDONED) {
      Result = WAIT_OBJECT_0;
      break;
    }
    if (Result != WAIT_TIMEOUT) break;
  }
  if (Result != WAIT_OBJECT_0) throw Exception(Msg.InternalError);
  FOwningThread = GetCurrentThreadId();
  FAcquirer.clear();
}

void TMutex::Release() {
  FOwningThread = 0;
  if (!ReleaseMutex(FHandle))
    Log("TMutex.Release", Format(Msg.ReleaseFailed, FCreator.c_str(), FAcquirer.c_str(), LastErrorText().c_str()));
}

// ---------------------------------------------------------------------------------------------
// Maps

TObject* TAbstractMap::GetValue(uint32_t Key) {
  TEntry* E = Find(Key);
  return E ? E->Value : nullptr;
}

void TAbstractMap::SetValue(uint32_t Key, TObject* Value) {
  if (TEntry* E = Find(Key))
    E->Value = Value;
  else
    Add({Key, Value});
}

TSimpleMap::~TSimpleMap() { Clear(); }

TAbstractMap::TEntry* TSimpleMap::Find(uint32_t Key) {
  for (TEntry& E : FItems)
    if (E.Key == Key) return &E;
  return nullptr;
}

void TSimpleMap::Add(const TEntry& Entry) {
  if (static_cast<int>(FItems.size()) == FCapacity) {
    FCapacity += FDelta;
    FItems.reserve(static_cast<size_t>(FCapacity));
  }
  FItems.push_back(Entry);
}

void TSimpleMap::Remove(uint32_t Key) {
  for (size_t I = 0; I < FItems.size(); ++I) {
    if (FItems[I].Key == Key) {
      TObject* Value = FItems[I].Value;
      FItems.erase(FItems.begin() + static_cast<ptrdiff_t>(I));
      if (FOwnsValues) delete Value;
      return;
    }
  }
}

void TSimpleMap::Clear() {
  std::vector<TEntry> Items;
  Items.swap(FItems);
  FCapacity = 0;
  if (FOwnsValues)
    for (TEntry& E : Items) delete E.Value;
}

void TSimpleMap::CollectKeys(std::vector<uint32_t>& List) {
  for (const TEntry& E : FItems) List.push_back(E.Key);
}

THashMap::THashMap() { SetBucketCount(67); }

THashMap::~THashMap() { SetBucketCount(0); }

TAbstractMap::TEntry* THashMap::Find(uint32_t Key) { return FBuckets[static_cast<size_t>(BucketOf(Key))]->Find(Key); }

void THashMap::Add(const TEntry& Entry) { FBuckets[static_cast<size_t>(BucketOf(Entry.Key))]->Add(Entry); }

void THashMap::SetOwnsValues(bool Value) {
  TAbstractMap::SetOwnsValues(Value);
  for (auto& B : FBuckets) B->SetOwnsValues(Value);
}

void THashMap::Remove(uint32_t Key) { FBuckets[static_cast<size_t>(BucketOf(Key))]->Remove(Key); }

void THashMap::Clear() {
  for (auto& B : FBuckets) B->Clear();
}

void THashMap::CollectKeys(std::vector<uint32_t>& List) {
  for (auto& B : FBuckets) B->CollectKeys(List);
}

void THashMap::SetBucketCount(int N) {
  if (N < 0) N = 0;
  if (static_cast<uint32_t>(N) == FBucketCount && !FBuckets.empty()) return;
  Clear();
  FBuckets.clear();
  FBucketCount = static_cast<uint32_t>(N);
  for (int I = 0; I < N; ++I) {
    FBuckets.push_back(std::make_unique<TSimpleMap>());
    FBuckets.back()->SetOwnsValues(FOwnsValues);
  }
}

// ---------------------------------------------------------------------------------------------
// TExThread

TExThread::TExThread(bool CreateSuspended) : TThread(true) {
  (void)CreateSuspended;  // the most derived class starts the thread once it is built
  for (void*& E : FEvents) E = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

TExThread::~TExThread() {
  // The base destructor waits for a running thread; wake it first so it can see Terminated.
  Terminate();
  if (FEvents[0]) SetEvent(FEvents[0]);
  if (!Finished() && !Suspended() && GetCurrentThreadId() != ThreadID()) WaitFor();
  for (void* E : FEvents)
    if (E) CloseHandle(E);
}

void TExThread::Start() {
  if (!FStartLogged) {
    FStartLogged = true;
    Log(ClassName(), Format(Msg.ThreadStarted, static_cast<int>(ThreadID())));
  }
  TThread::Start();
}

void TExThread::DoTerminate() {
  TThread::DoTerminate();
  Log(ClassName(), Format(Msg.ThreadFinished, static_cast<int>(ThreadID())));
}

void TExThread::TerminateSync() {
  Assert(GetCurrentThreadId() == MainThreadID);
  AnsiString Source = AnsiString(ClassName()) + ".TerminateSync";
  Log(Source, "Called");
  Terminate();
  SetEvent(FEvents[0]);
  if (Suspended()) Start();
  for (uint32_t Step = 1;; ++Step) {
    if (WaitForSingleObject(Handle(), FWaitStepMs) != WAIT_TIMEOUT) return;
    Log(Source, Msg.NotTerminated);
    if (Step >= FWaitSteps) {
      Log(Source, Msg.TimedOut);
      AssertFailed((AnsiString(Msg.TimedOutAssert) + ClassName()).c_str(), __FILE__, __LINE__);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// String helpers

TColor ColorFromHtml(const AnsiString& Text, TColor Default) {
  AnsiString S = Trim(Text);
  if (S.size() != 7 || S[0] != '#') return Default;
  uint32_t V = 0;
  for (size_t I = 1; I < 7; ++I) {
    char C = S[I];
    uint32_t D;
    if (C >= '0' && C <= '9')
      D = static_cast<uint32_t>(C - '0');
    else if (C >= 'a' && C <= 'f')
      D = static_cast<uint32_t>(C - 'a' + 10);
    else if (C >= 'A' && C <= 'F')
      D = static_cast<uint32_t>(C - 'A' + 10);
    else
      return Default;
    V = V << 4 | D;
  }
  uint32_t R = V >> 16 & 0xFF, G = V >> 8 & 0xFF, B = V & 0xFF;
  return static_cast<TColor>(B << 16 | G << 8 | R);
}

int WidePosEx(const WideString& SubStr, const WideString& S, int Offset) {
  if (Offset < 1 || SubStr.empty()) return 0;
  if (static_cast<int64_t>(Offset) > static_cast<int64_t>(S.size()) - static_cast<int64_t>(SubStr.size()) + 1) return 0;
  size_t P = S.find(SubStr, static_cast<size_t>(Offset - 1));
  return P == WideString::npos ? 0 : static_cast<int>(P) + 1;
}

uint32_t StrHash(const AnsiString& S) {
  uint32_t H = 0;
  for (unsigned char C : S) H = ((H << 5) | (H >> 27)) ^ C;
  return H;
}
