// The output's operations and its worker thread: one state under one lock (TAuThread::StateLock),
// waits on events woken by every change of it.
#include "audio/engine/AuClasses.h"

#include "classlib/WinApi.h"

#include <algorithm>

// ---------------------------------------------------------------------------------------------
// TAuThread

TAuThread::TAuThread(TAuOutput* AOutput) : TThread(true), FOutput(AOutput) { Start(); }

TAuThread::~TAuThread() {
  {
    TLock l(StateLock);
    FEnd = true;
    Changed();
  }
  if (!TThread::Finished()) WaitFor();
}

TAuWorkerState TAuThread::State() const {
  TLock l(StateLock);
  return FState;
}

bool TAuThread::StopAsked() const {
  TLock l(StateLock);
  return FStopAsked || FEnd;
}

bool TAuThread::WaitForState(TAuWorkerState S, uint32_t Timeout) {
  TLock l(StateLock);
  return WaitLocked([&] { return FState == S; }, Timeout);
}

void TAuThread::Changed() {
  for (void* h : FWaiters) ::SetEvent(h);
}

void TAuThread::SetState(TAuWorkerState S) {
  FState = S;
  Changed();
}

bool TAuThread::WaitLocked(const std::function<bool()>& Pred, uint32_t Timeout) {
  if (Pred()) return true;
  HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!ev) RaiseLastOSError();
  FWaiters.push_back(ev);
  const DWORD start = GetTickCount();
  bool ok;
  for (;;) {
    ok = Pred();
    if (ok) break;
    DWORD left = INFINITE_WAIT;
    if (Timeout != INFINITE_WAIT) {
      DWORD spent = GetTickCount() - start;
      if (spent >= Timeout) break;
      left = Timeout - spent;
    }
    StateLock.Leave();
    // Only this thread's own event: a wake-up between the check and the wait is kept by it.
    WaitForHandle(ev, left);
    StateLock.Enter();
  }
  FWaiters.erase(std::find(FWaiters.begin(), FWaiters.end(), ev));
  CloseHandle(ev);
  return ok;
}

void TAuThread::Execute() {
  SetAuFPUControlWord();
  TLock l(StateLock);
  SetState(wsIdle);
  for (;;) {
    // Parked: a Run that came before this point is seen here, never lost.
    WaitLocked([this] { return FRunAsked || FEnd; }, INFINITE_WAIT);
    if (FEnd) break;
    bool alive = true;
    while (FRunAsked && !FEnd) {
      FRunAsked = false;
      const uint32_t run = FOutput->FRunNumber;
      SetState(wsPreparing);
      StateLock.Leave();
      alive = RunTurn();
      StateLock.Enter();
      if (!alive) break;  // the output was freed from OnSyncDone: no done event, no more runs
      const bool restartedHere = FRestartedHere && FRunAsked;
      FRestartedHere = false;
      FFinishedRun = run;
      // A run restarted from OnSyncDone carries on the same chain: one done event covers it.
      if (!restartedHere) {
        StateLock.Leave();
        PostDoneEvent(FOutput, run);
        StateLock.Enter();
      }
      if (!FRunAsked) SetState(wsIdle);
    }
    if (!alive) break;
  }
  SetState(wsEnded);
}

void TAuThread::PauseHere() {
  // Called with StateLock held once; the pause is acknowledged by the state itself.
  FPauseAsked = false;
  SetState(wsPaused);
  WaitLocked([this] { return FState != wsPaused || FStopAsked || FEnd; }, INFINITE_WAIT);
  if (FState == wsPaused) SetState(wsRunning);
}

bool TAuThread::RunTurn() {
  TAuOutput* O = FOutput;
  try {
    O->FPrepared = false;
    O->Prepare();
    O->FPrepared = true;
    O->FActive = true;
    bool more = true;
    for (;;) {
      {
        TLock l(StateLock);
        if (FState == wsPreparing) SetState(wsRunning);
        if (!more || FStopAsked || FEnd) break;
      }
      int p = O->Progress();
      if (p != O->FLastProgress) {
        O->FLastProgress = p;
        if (O->OnProgress) PostProgressEvent(O, O->OnProgress);
      }
      bool abort;
      {
        TLock l(StateLock);
        // A pause asked for meanwhile (during Prepare included) parks the worker here.
        if (FPauseAsked && !FStopAsked && !FEnd) PauseHere();
        abort = FStopAsked || FEnd;
      }
      more = O->DoOutput(abort);
    }
  } catch (...) {
    O->SetExceptionMessage(WideToAnsi(AuCurrentExceptionMessage()));
    if (O->OnThreadException) PostGenericEvent(O, O->OnThreadException);
  }
  {
    TLock l(StateLock);
    FStopAsked = false;
    FPauseAsked = false;
    SetState(wsFinishing);
  }
  try {
    O->DoneStep();
  } catch (...) {
    O->FActive = false;
    O->FBusy = false;
  }
  {
    TLock l(StateLock);
    Changed();  // Busy went down: synchronous stops may look again
  }
  if (O->OnSyncDone) {
    try {
      // Called through a copy: the handler may replace or clear itself, or free the output.
      TOutputDoneEvent h = O->OnSyncDone;
      h(O);
    } catch (...) {
      TLock l(StateLock);
      if (FOutput) {
        O->SetExceptionMessage(WideToAnsi(AuCurrentExceptionMessage()));
        if (O->OnThreadException) PostGenericEvent(O, O->OnThreadException);
      }
    }
  }
  TLock l(StateLock);
  return FOutput != nullptr;
}

// ---------------------------------------------------------------------------------------------
// TAuOutput

TAuOutput::TAuOutput(TComponent* AOwner) : TComponent(AOwner) {
  FThread = std::make_unique<TAuThread>(this);
  EventHandlerAddRef();
}

TAuOutput::~TAuOutput() {
  Shutdown();
  EventHandlerForget(this);
  FThread.reset();
  EventHandlerRelease();
}

void TAuOutput::BeforeDestruction() { Shutdown(); }

bool TAuOutput::OnRunThread() const {
  const uint32_t me = GetCurrentThreadId();
  if (FThread && me == FThread->ThreadID()) return true;
  if (!FThread) return false;
  TLock l(FThread->StateLock);
  return FBlockingThread == me;
}

void TAuOutput::Shutdown() {
  if (FShutDown || !FThread) return;
  FShutDown = true;
  TAuThread* t = FThread.get();
  if (GetCurrentThreadId() == t->ThreadID()) {
    // Freed from the worker itself (OnSyncDone): the worker cannot wait for itself. It is handed
    // off: it lets go of this output, ends once the handler returns and frees itself.
    TLock l(t->StateLock);
    t->FOutput = nullptr;
    t->FEnd = true;
    t->SetFreeOnTerminate(true);
    FThread.release();
    return;
  }
  try {
    Stop(false);
  } catch (...) {
  }
  {
    TLock l(t->StateLock);
    t->FEnd = true;
    t->Changed();
  }
  FThread.reset();  // waits for the worker to end
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
  if (Value && !OnRunThread()) Run();
}

void TAuOutput::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent && AComponent == FInput) SetInput(nullptr);
  TComponent::Notification(AComponent, Operation);
}

AnsiString TAuOutput::ExceptionMessage() const {
  if (!FThread) return FExceptionMessage;
  TLock l(FThread->StateLock);
  return FExceptionMessage;
}

void TAuOutput::ReportDoneFailure() {
  AnsiString Message = WideToAnsi(AuCurrentExceptionMessage());
  if (!FThread) {
    if (FExceptionMessage.empty()) FExceptionMessage = Message;
    return;
  }
  bool First;
  {
    TLock l(FThread->StateLock);
    First = FExceptionMessage.empty();
    if (First) FExceptionMessage = Message;
  }
  if (First && GetCurrentThreadId() == FThread->ThreadID() && OnThreadException)
    PostGenericEvent(this, OnThreadException);
}

void TAuOutput::SetExceptionMessage(const AnsiString& Message) {
  TLock l(FThread->StateLock);
  FExceptionMessage = Message;
}

void TAuOutput::Run() {
  TLock l(OutputLock);
  if (!FThread) throw EAuException(AuMessages::ComponentBusy);
  TAuThread* t = FThread.get();
  TLock s(t->StateLock);
  FExceptionMessage.clear();
  if (FBusy) throw EAuException(AuMessages::ComponentBusy);
  if (!FInput) throw EAuException(AuMessages::InputNotAssigned);
  const bool restart = GetCurrentThreadId() == t->ThreadID();
  // A stop ends the chain: restarting from OnSyncDone a run that was stopped does nothing (else
  // a handler that always restarts could never be stopped, nor its output freed).
  if (restart && FStopUpTo >= FRunNumber) return;
  if (t->FEnd) return;  // the output is going
  ++FRunNumber;
  // A stop of the idle output before this run does not make it a stopped one.
  FStopped = false;
  t->FStopAsked = false;
  t->FPauseAsked = false;
  if (restart) t->FRestartedHere = true;
  FBusy = true;
  t->FRunAsked = true;
  t->Changed();
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
  TAuThread* t = FThread.get();
  {
    TLock l(OutputLock);
    if (!t) throw EAuException(AuMessages::ComponentBusy);
    TLock s(t->StateLock);
    if (FBusy) throw EAuException(AuMessages::ComponentBusy);
    if (!FInput) throw EAuException(AuMessages::InputNotAssigned);
    ++FRunNumber;
    FStopped = false;
    t->FStopAsked = false;
    FBlockingThread = GetCurrentThreadId();
    FBusy = true;
    t->Changed();
  }
  auto finish = [&] {
    TLock s(t->StateLock);
    FBlockingThread = 0;
    t->FStopAsked = false;
    t->Changed();
  };
  try {
    FPrepared = false;
    Prepare();
    FPrepared = true;
    FActive = true;
    for (;;) {
      bool abort;
      {
        TLock s(t->StateLock);
        abort = t->FStopAsked;
      }
      if (!DoOutput(abort) || abort) break;
    }
  } catch (...) {
    try {
      DoneStep();
    } catch (...) {
    }
    FActive = false;
    FBusy = false;
    finish();
    throw;
  }
  try {
    DoneStep();
  } catch (...) {
    FActive = false;
    FBusy = false;
    finish();
    throw;
  }
  finish();
}

void TAuOutput::Stop(bool Async) {
  TAuThread* t = FThread.get();
  if (!t) return;
  uint32_t run;
  {
    TLock s(t->StateLock);
    const uint32_t me = GetCurrentThreadId();
    const bool ownThread = me == t->ThreadID() || (FBlockingThread != 0 && FBlockingThread == me);
    FStopped = true;
    FStopUpTo = FRunNumber;
    run = FRunNumber;
    if (!Async && !ownThread) FNoDoneUpTo = run;
    t->FStopAsked = true;
    t->Changed();  // a paused worker leaves its pause to end the run
    // From the run's own thread the stop is recorded; the run ends after the current step.
    if (Async || ownThread) return;
  }
  // This output holds a reference on the delivery thread: it lives at least as long.
  TEventHandler* eh = CurrentEventHandler();
  if (eh) {
    eh->Block(this);
    eh->Purge(this);
  }
  {
    TLock s(t->StateLock);
    // Over when neither the worker nor a blocking run is in the stopped run any more.
    t->WaitLocked(
        [&] {
          if (FBlockingThread) return false;
          if (!FBusy && (t->FState == wsIdle || t->FState == wsEnded || t->FState == wsStarting)) return true;
          return t->FFinishedRun >= run && t->FState != wsFinishing;
        },
        INFINITE_WAIT);
  }
  if (eh) {
    // An event of the stopped run already on its way to a handler is not delivered either.
    eh->Forget(this);
    eh->Unblock(this);
  }
}

void TAuOutput::Pause() {
  if (!FInput) throw EAuException(AuMessages::PauseInputNotAssigned);
  TAuThread* t = FThread.get();
  if (!t) return;
  {
    TLock s(t->StateLock);
    if (!FBusy || FBlockingThread || t->FState == wsPaused) return;
    t->FPauseAsked = true;
    t->Changed();
    // While Prepare runs the pause is kept and taken right after it: nothing to wait for.
    if (t->FState != wsPreparing && t->FState != wsIdle && t->FState != wsStarting) {
      t->WaitLocked([&] { return t->FState == wsPaused || !FBusy || !t->FPauseAsked; }, 5000);
    }
  }
  if (FInput) FInput->Pause();
}

void TAuOutput::Resume() {
  TAuThread* t = FThread.get();
  if (!t) return;
  {
    TLock s(t->StateLock);
    if (!FBusy) return;
    if (t->FState != wsPaused && !t->FPauseAsked) return;
  }
  if (FInput) FInput->Resume();
  TLock s(t->StateLock);
  t->FPauseAsked = false;  // a pause not yet taken is dropped
  if (t->FState == wsPaused) t->SetState(wsRunning);
}

TAuOutputStatus TAuOutput::Status() const {
  if (!FBusy) return osIdle;
  TAuThread* t = FThread.get();
  if (!t) return osIdle;
  TLock s(t->StateLock);
  if (t->FState == wsPaused) return osPaused;
  // A pause asked for before the run got to its steps is taken right after Prepare.
  if (t->FPauseAsked && (t->FState == wsIdle || t->FState == wsStarting || t->FState == wsPreparing)) return osPaused;
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
