#include "audio/AuClasses.h"

#include "classlib/WinApi.h"

#include <algorithm>
#include <cstring>

#include "audio/libwma1.h"
#include "classlib/Forms.h"

namespace {

// The message of the exception being handled (call inside a catch block).
WideString CurrentExceptionMessage() {
  try {
    throw;
  } catch (const Exception& E) {
    return E.Message();
  } catch (const std::exception& E) {
    return AnsiToWide(E.what());
  } catch (...) {
    return L"Unknown exception";
  }
}

// One short wait that keeps the user-interface thread serving messages sent from other threads
// and calls queued for synchronisation; other threads just sleep.
void ServeAndSleep(uint32_t Ms) {
  if (GetCurrentThreadId() != MainThreadID) {
    Sleep(Ms);
    return;
  }
  HANDLE h = SyncEvent();
  DWORD r = MsgWaitForMultipleObjectsEx(1, &h, Ms, QS_SENDMESSAGE, 0);
  if (r == WAIT_OBJECT_0 + 1) {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  CheckSynchronize();
}

TCriticalSection& EventHandlerLock() {
  static TCriticalSection* cs = new TCriticalSection();  // lives until the process ends
  return *cs;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TAuInput

TAuInput::TAuInput(TComponent* AOwner) : TComponent(AOwner) {}

TAuInput::~TAuInput() = default;

void TAuInput::SetUnmaskedBPS(bool Value) { FUnmaskedBPS = Value; }

void TAuInput::GetData(void*& Buffer, uint32_t& Bytes) {
  TLock l(DataCS);
  GetDataInternal(Buffer, Bytes);
}

void TAuInput::Init() {
  TLock l(DataCS);
  EndOfStream = false;
  try {
    InitInternal();
  } catch (...) {
    EndOfStream = true;
    throw EAuException(CurrentExceptionMessage());
  }
}

void TAuInput::Flush() {
  TLock l(DataCS);
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
    // The input is being destroyed: it can no longer be flushed, only forgotten. A busy
    // converter then delivers the end of its stream.
    TLock l(DataCS);
    FInput = nullptr;
  }
  TAuInput::Notification(AComponent, Operation);
}

void TAuConverter::GetData(void*& Buffer, uint32_t& Bytes) {
  TLock l(DataCS);
  if (EndOfStream || (FBusy && !FInput)) {
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
// TAuThread

TAuThread::TAuThread(TAuOutput* AOutput) : TThread(true), Output(AOutput) { Start(); }

TAuThread::~TAuThread() {
  Terminate();
  StartEvent.SetEvent();
  if (!TThread::Finished()) WaitFor();
}

void TAuThread::Park() {
  Parked = true;
  IdleEvent.SetEvent();
  // A Run that comes before the worker waits finds Busy set here, so it is never lost.
  while (!RunRequest && !Terminated()) StartEvent.WaitFor(INFINITE_WAIT);
  Parked = false;
}

void TAuThread::Execute() {
  SetAuFPUControlWord();
  for (;;) {
    Park();
    if (Terminated()) break;
    for (;;) {
      RunRequest = false;
      uint32_t run = Output->FRunNumber;
      Finished = false;
      RunTurn(run);
      bool restarted = RestartedFromSyncDone.exchange(false) && RunRequest;
      // A run restarted from OnSyncDone carries on the same chain: one done event covers it.
      if (!restarted) PostDoneEvent(Output, this, run);
      FinishedRun = run;
      if (!RunRequest) {
        Finished = true;
        IdleEvent.SetEvent();
        break;
      }
      if (Terminated()) break;
    }
    if (Terminated()) break;
  }
  IdleEvent.SetEvent();
}

void TAuThread::RunTurn(uint32_t RunNumber) {
  TAuOutput* O = Output;
  try {
    O->FPrepared = false;
    O->Prepare();
    O->FPrepared = true;
    O->FActive = true;
    // A pause asked for while Prepare ran is kept: Run dropped the requests of earlier runs.
    Paused = false;
    bool more = true;
    while (!StopRequest && more) {
      int p = O->Progress();
      if (p != O->FLastProgress) {
        O->FLastProgress = p;
        if (O->OnProgress) PostProgressEvent(O, O->OnProgress);
      }
      if (PauseRequest) {
        PauseRequest = false;
        StartEvent.ResetEvent();
        Paused = true;
        PauseAckEvent.SetEvent();
        // Stop sets its request before it looks at Paused, so one of the two sees the other.
        if (!StopRequest && !Terminated()) StartEvent.WaitFor(INFINITE_WAIT);
        Paused = false;
      }
      more = O->DoOutput(StopRequest);
    }
    StopRequest = false;
  } catch (...) {
    O->FExceptionMessage = WideToAnsi(CurrentExceptionMessage());
    if (O->OnThreadException) PostGenericEvent(O, O->OnThreadException);
    StopRequest = true;
  }
  try {
    O->DoneStep();
  } catch (...) {
    O->FActive = false;
    O->FBusy = false;
  }
  if (O->OnSyncDone) {
    try {
      // Called through a copy: the handler may replace or clear itself.
      TOutputDoneEvent h = O->OnSyncDone;
      h(O);
    } catch (...) {
      O->FExceptionMessage = WideToAnsi(CurrentExceptionMessage());
      if (O->OnThreadException) PostGenericEvent(O, O->OnThreadException);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// TAuOutput

TAuOutput::TAuOutput(TComponent* AOwner) : TComponent(AOwner) {
  FThread = new TAuThread(this);
  EventHandlerAddRef();
}

TAuOutput::~TAuOutput() {
  Shutdown();
  EventHandlerForget(this);
  delete FThread;
  FThread = nullptr;
  EventHandlerRelease();
}

void TAuOutput::Shutdown() {
  if (FShutDown || !FThread) return;
  if (GetCurrentThreadId() == FThread->ThreadID()) return;  // cannot wait for itself
  FShutDown = true;
  try {
    Stop(false);
  } catch (...) {
  }
  FThread->Terminate();
  FThread->StartEvent.SetEvent();
  FThread->WaitFor();
}

void TAuOutput::SetInputField(TAuInput* Value) {
  if (FInput == Value) return;
  if (FInput) FInput->RemoveFreeNotification(this);
  FInput = Value;
  if (Value) Value->FreeNotification(this);
}

void TAuOutput::SetInput(TAuInput* Value) {
  if (!FBusy) {
    SetInputField(Value);
    return;
  }
  Stop(false);
  SetInputField(Value);
  if (Value) Run();
}

void TAuOutput::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent && AComponent == FInput) SetInput(nullptr);
  TComponent::Notification(AComponent, Operation);
}

void TAuOutput::Run() {
  TLock l(OutputLock);
  FExceptionMessage.clear();
  if (FBusy) throw EAuException("Component is Busy");
  if (!FInput) throw EAuException("Input is not assigned");
  bool restart = GetCurrentThreadId() == FThread->ThreadID();
  // A stop ends the chain: restarting from OnSyncDone a run that was stopped does nothing (else
  // a handler that always restarts could never be stopped, nor its output freed).
  if (restart && FStopUpTo >= FRunNumber) return;
  ++FRunNumber;
  // A stop of the idle output before this run does not make it a stopped one.
  FStopped = false;
  FThread->StopRequest = false;
  FThread->PauseRequest = false;
  FThread->Finished = false;
  if (restart) FThread->RestartedFromSyncDone = true;
  FBusy = true;
  FThread->RunRequest = true;
  FThread->StartEvent.SetEvent();
}

void TAuOutput::DoneStep() {
  if (!FBusy) return;
  FActive = false;
  Done();
  FPrepared = false;
  FStopped = false;
  FBusy = false;
}

void TAuOutput::BlockingRun() {
  {
    TLock l(OutputLock);
    if (FBusy) throw EAuException("Component is Busy");
    if (!FInput) throw EAuException("Input is not assigned");
    FBusy = true;
  }
  try {
    FPrepared = false;
    Prepare();
    FPrepared = true;
    FActive = true;
    while (DoOutput(false)) {
    }
  } catch (...) {
    try {
      DoneStep();
    } catch (...) {
    }
    FActive = false;
    FBusy = false;
    throw;
  }
  try {
    DoneStep();
  } catch (...) {
    FActive = false;
    FBusy = false;
    throw;
  }
}

void TAuOutput::Stop(bool Async) {
  TAuThread* t = FThread;
  if (!t) return;
  if (GetCurrentThreadId() == t->ThreadID())
    throw EAuException("You are trying to stop this thread from the thread itself!");
  FStopped = true;
  FStopUpTo = FRunNumber.load();
  if (!Async) FNoDoneUpTo = FRunNumber.load();
  t->StopRequest = true;
  while (t->Paused) {
    t->StartEvent.SetEvent();
    SwitchToThread();
  }
  if (Async) return;
  TEventHandler* eh;
  {
    TLock l(EventHandlerLock());
    eh = EventHandler;
  }
  if (eh) {
    eh->Block(this);
    eh->Purge(this);
  }
  while (FBusy || !(t->Parked || t->Finished)) {
    if (t->TThread::Finished()) break;
    WaitForHandle(t->IdleEvent.Handle(), 10);
  }
  if (eh) {
    // An event of the stopped run already on its way to a handler is not delivered either.
    eh->Forget(this);
    eh->Unblock(this);
  }
}

void TAuOutput::Pause() {
  if (!FInput) throw EAuException("Input is not assigned.");
  if (!FBusy || FThread->Paused) return;
  FThread->PauseAckEvent.ResetEvent();
  FThread->PauseRequest = true;
  DWORD start = GetTickCount();
  while (FBusy && GetTickCount() - start < 5000) {
    if (FThread->PauseAckEvent.WaitFor(10) == wrSignaled) break;
  }
  if (FInput) FInput->Pause();
}

void TAuOutput::Resume() {
  if (!FBusy || !FThread->Paused) return;
  if (FInput) FInput->Resume();
  while (FThread->Paused) {
    FThread->StartEvent.SetEvent();
    SwitchToThread();
  }
}

TAuOutputStatus TAuOutput::Status() const {
  if (!FBusy) return osIdle;
  if (FThread->Paused) return osPaused;
  return osRunning;
}

int TAuOutput::Progress() const {
  TAuInput* in = FInput;
  if (!in) return 0;
  int64_t size = in->Size();
  if (size < 0) return -1;
  if (size == 0) return 0;
  return (int)Round((double)(in->Position() * 100) / (double)size);
}

// ---------------------------------------------------------------------------------------------
// Event delivery

TEventHandler* EventHandler = nullptr;
int32_t EventHandlerRefCount = 0;

TEventHandler::TEventHandler() : TThread(true) { Start(); }

TEventHandler::~TEventHandler() {
  Terminate();
  WakeEvent.SetEvent();
  if (!Finished()) WaitFor();
  for (TEventRecord* r : FQueue) delete r;
  FQueue.clear();
}

void TEventHandler::Post(TEventRecord* Record, bool First) {
  {
    TLock l(QueueLock);
    if (std::find(FBlocked.begin(), FBlocked.end(), Record->Sender) != FBlocked.end()) {
      delete Record;
      return;
    }
    if (First) FQueue.push_front(Record);
    else FQueue.push_back(Record);
  }
  WakeEvent.SetEvent();
}

void TEventHandler::PostEvent(TEventRecord* Record) { Post(Record, false); }

bool TEventHandler::InHandler() {
  TLock l(QueueLock);
  return FHandlerThread == GetCurrentThreadId();
}

void TEventHandler::Wake() { WakeEvent.SetEvent(); }

void TEventHandler::PostEventFirst(TEventRecord* Record) { Post(Record, true); }

void TEventHandler::Block(TComponent* Sender) {
  TLock l(QueueLock);
  FBlocked.push_back(Sender);
}

void TEventHandler::Unblock(TComponent* Sender) {
  TLock l(QueueLock);
  auto it = std::find(FBlocked.begin(), FBlocked.end(), Sender);
  if (it != FBlocked.end()) FBlocked.erase(it);
}

void TEventHandler::PurgeLocked(TComponent* Sender) {
  for (auto it = FQueue.begin(); it != FQueue.end();) {
    if ((*it)->Sender == Sender) {
      delete *it;
      it = FQueue.erase(it);
    } else {
      ++it;
    }
  }
}

void TEventHandler::Purge(TComponent* Sender) {
  TLock l(QueueLock);
  PurgeLocked(Sender);
}

void TEventHandler::Forget(TComponent* Sender) {
  for (;;) {
    {
      TLock l(QueueLock);
      PurgeLocked(Sender);
      if (!Current || Current->Sender != Sender) return;
      if (FHandlerThread == GetCurrentThreadId()) return;  // called from its own handler
      Current->Cancelled = true;
    }
    ServeAndSleep(1);
  }
}

void TEventHandler::CallHandler(TEventRecord* R, bool Synchronized) {
  auto call = [this, R, Synchronized] {
    {
      TLock l(QueueLock);
      if (R->Cancelled) return;
      FHandlerThread = GetCurrentThreadId();
    }
    try {
      if (R->Kind == ekDone) {
        auto* o = static_cast<TAuOutput*>(R->Sender);
        if (R->RunNumber > o->FNoDoneUpTo && o->OnDone) {
          TOutputDoneEvent h = o->OnDone;
          h(o);
        }
      } else if (R->Handler) {
        R->Handler(R->Sender);
      }
    } catch (...) {
      if (Synchronized && Application) {
        try {
          Application->HandleException(R->Sender);
        } catch (...) {
        }
      }
    }
    TLock l(QueueLock);
    FHandlerThread = 0;
  };
  (void)Synchronized;
  try {
    if (Synchronized) Synchronize(call);
    else call();
  } catch (...) {
  }
}

void TEventHandler::Dispatch(TEventRecord* R) {
  switch (R->Kind) {
    case ekDone:
      // The worker first ends its turn (a run restarted from OnSyncDone included).
      while (R->Thread->FinishedRun < R->RunNumber && !R->Thread->Terminated() && !R->Cancelled) Sleep(10);
      CallHandler(R, true);
      break;
    case ekProgress:
    case ekGeneric:
      CallHandler(R, true);
      break;
    case ekImmediate:
      CallHandler(R, false);
      break;
  }
}

void TEventHandler::Execute() {
  SetAuFPUControlWord();
  while (!Terminated()) {
    while (!Terminated()) {
      TEventRecord* r;
      {
        TLock l(QueueLock);
        if (FQueue.empty()) break;
        r = FQueue.front();
        FQueue.pop_front();
        Current = r;
      }
      Dispatch(r);
      {
        TLock l(QueueLock);
        Current = nullptr;
      }
      delete r;
    }
    WakeEvent.WaitFor(100);
  }
}

void EventHandlerAddRef() {
  TLock l(EventHandlerLock());
  if (EventHandlerRefCount == 0) EventHandler = new TEventHandler();
  ++EventHandlerRefCount;
}

void EventHandlerRelease() {
  TEventHandler* old = nullptr;
  {
    TLock l(EventHandlerLock());
    if (EventHandlerRefCount <= 0) return;
    if (--EventHandlerRefCount == 0) {
      old = EventHandler;
      EventHandler = nullptr;
    }
  }
  if (!old) return;
  if (old->InHandler()) {
    // Released from one of its own handlers: it cannot be waited for here, so it ends and
    // frees itself once the handler has returned.
    old->SetFreeOnTerminate(true);
    old->Terminate();
    old->Wake();
    return;
  }
  delete old;  // ends the thread; a new reference meanwhile makes a new one
}

namespace {
void PostRecord(TEventKind Kind, TComponent* Sender, const TEventCallback& Handler, bool First) {
  TLock l(EventHandlerLock());
  if (!EventHandler) return;
  auto* r = new TEventRecord();
  r->Kind = Kind;
  r->Sender = Sender;
  r->Handler = Handler;
  if (First) EventHandler->PostEventFirst(r);
  else EventHandler->PostEvent(r);
}
}  // namespace

void PostProgressEvent(TComponent* Sender, const TEventCallback& Handler) {
  PostRecord(ekProgress, Sender, Handler, false);
}

void PostGenericEvent(TComponent* Sender, const TEventCallback& Handler) {
  PostRecord(ekGeneric, Sender, Handler, false);
}

void PostImmediateEvent(TComponent* Sender, const TEventCallback& Handler) {
  PostRecord(ekImmediate, Sender, Handler, true);
}

void PostDoneEvent(TAuOutput* Sender, TAuThread* Thread, uint32_t RunNumber) {
  TLock l(EventHandlerLock());
  if (!EventHandler) return;
  auto* r = new TEventRecord();
  r->Kind = ekDone;
  r->Sender = Sender;
  r->Thread = Thread;
  r->RunNumber = RunNumber;
  EventHandler->PostEvent(r);
}

void EventHandlerForget(TComponent* Sender) {
  TEventHandler* eh;
  {
    TLock l(EventHandlerLock());
    eh = EventHandler;
  }
  if (eh) eh->Forget(Sender);
}

// ---------------------------------------------------------------------------------------------
// Unit state

TCriticalSection* LoadLibCS = nullptr;

void SetAuFPUControlWord() { Set8087CW(AuFPUControlWord); }

void AuClassesInitialize() {
  EventHandlerRefCount = 0;
  if (!LoadLibCS) LoadLibCS = new TCriticalSection();
  SetAuFPUControlWord();
  Libwma1Initialize();
}

void AuClassesFinalize() {
  Libwma1Finalize();
  delete LoadLibCS;
  LoadLibCS = nullptr;
}

// ---------------------------------------------------------------------------------------------
// TAuFileStream

TAuFileStream::TAuFileStream(const WideString& FileName, uint16_t Mode, uint32_t Rights)
    : THandleStream(INVALID_HANDLE_VALUE) {
  HANDLE h;
  if (Mode == 0xFFFF) {
    h = CreateFileW(FileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
  } else {
    static const DWORD access[4] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE,
                                    GENERIC_READ | GENERIC_WRITE};
    static const DWORD share[5] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE};
    unsigned sh = (Mode & 0xF0) >> 4;
    h = CreateFileW(FileName.c_str(), access[Mode & 3], sh <= 4 ? share[sh] : 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) throw EAuException(SysErrorMessage(GetLastError()));
  FHandle = h;
}

TAuFileStream::~TAuFileStream() {
  if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
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
    } else if (!StreamAssigned && FStream) {
      delete FStream;
      FStream = nullptr;
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
  if (FBusy) throw EAuException("The component is Busy");
  if (!StreamAssigned && FWideFileName.empty()) throw EAuException("The file name is not assigned");
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

TAuTaggedFileIn::TAuTaggedFileIn(TComponent* AOwner) : TAuFileIn(AOwner) {
  FId3v1Tags = new TId3v1Tags();
  FId3v2Tags = new TId3v2Tags();
  FAPEv2Tags = new TAPEv2Tags();
  FCommonTags = new TCommonTags();
}

TAuTaggedFileIn::~TAuTaggedFileIn() {
  delete FCommonTags;
  delete FAPEv2Tags;
  delete FId3v2Tags;
  delete FId3v1Tags;
}

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
  if (!StreamAssigned) delete Stream;  // not expected: own streams live only during a run
  Stream = Value;
  StreamAssigned = Value != nullptr;
}

bool TAuFileOut::OpenDestination(const char* NoNameMessage) {
  if (StreamAssigned) return false;
  if (FWideFileName.empty()) throw EAuException(NoNameMessage);
  if (FFileMode == foRewrite || !AuFileExists(FWideFileName)) {
    Stream = new TAuFileStream(FWideFileName, 0xFFFF, FAccessMask);
    return true;
  }
  Stream = new TAuFileStream(FWideFileName, (uint16_t)(FShareMode | 2), FAccessMask);
  return false;
}

void TAuFileOut::CloseDestination() {
  if (!StreamAssigned) {
    delete Stream;
    Stream = nullptr;
  }
}

// ---------------------------------------------------------------------------------------------
// TAuTaggedFileOut

TAuTaggedFileOut::TAuTaggedFileOut(TComponent* AOwner) : TAuFileOut(AOwner) {
  FId3v1Tags = new TId3v1Tags();
  FId3v2Tags = new TId3v2Tags();
  FAPEv2Tags = new TAPEv2Tags();
}

TAuTaggedFileOut::~TAuTaggedFileOut() {
  Shutdown();  // a running worker may still use the tag sets
  delete FAPEv2Tags;
  delete FId3v2Tags;
  delete FId3v1Tags;
}
