// The one event-delivery thread shared by every output, and its reference count.
#include "audio/engine/AuClasses.h"

#include "classlib/WinApi.h"

#include <algorithm>

#include "classlib/Forms.h"

namespace {

// The delivery thread and its reference count, under one lock. Made on first use (the C++
// runtime makes a function's static once, also when two threads get here first at the same
// time) and kept until the process ends, so that it is there before and after any unit runs.
struct TDeliveryGlobals {
  TCriticalSection Lock;
  TEventHandler* Handler = nullptr;
  int32_t RefCount = 0;
};

TDeliveryGlobals& Delivery() {
  static TDeliveryGlobals* g = new TDeliveryGlobals();
  return *g;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TEventHandler

TEventHandler::TEventHandler() : TThread(true) { Start(); }

TEventHandler::~TEventHandler() {
  Terminate();
  WakeEvent.SetEvent();
  if (!Finished()) WaitFor();
  FQueue.clear();
}

void TEventHandler::Post(std::unique_ptr<TEventRecord> Record, bool First) {
  {
    TLock l(QueueLock);
    if (std::find(FBlocked.begin(), FBlocked.end(), Record->Sender) != FBlocked.end()) return;
    if (First) FQueue.push_front(std::move(Record));
    else FQueue.push_back(std::move(Record));
  }
  WakeEvent.SetEvent();
}

void TEventHandler::PostEvent(std::unique_ptr<TEventRecord> Record) { Post(std::move(Record), false); }

void TEventHandler::PostEventFirst(std::unique_ptr<TEventRecord> Record) { Post(std::move(Record), true); }

bool TEventHandler::InHandler() {
  TLock l(QueueLock);
  return FHandlerThread == GetCurrentThreadId();
}

void TEventHandler::Wake() { WakeEvent.SetEvent(); }

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
  FQueue.erase(std::remove_if(FQueue.begin(), FQueue.end(), [Sender](const auto& r) { return r->Sender == Sender; }),
               FQueue.end());
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
    // The record being dispatched is the sender's: wait until it is done with (on the
    // user-interface thread this also runs the synchronised call that dispatches it).
    NotDispatching.WaitFor(INFINITE_WAIT);
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
  try {
    if (Synchronized) Synchronize(call);
    else call();
  } catch (...) {
  }
}

void TEventHandler::Dispatch(TEventRecord* R) {
  // A done record is posted by the worker once its turn is complete, so it is delivered as it
  // comes, after every record that run posted before it.
  CallHandler(R, R->Kind != ekImmediate);
}

void TEventHandler::Execute() {
  SetAuFPUControlWord();
  while (!Terminated()) {
    while (!Terminated()) {
      {
        TLock l(QueueLock);
        if (FQueue.empty()) break;
        Current = std::move(FQueue.front());
        FQueue.pop_front();
        NotDispatching.ResetEvent();
      }
      Dispatch(Current.get());
      {
        TLock l(QueueLock);
        Current.reset();
        NotDispatching.SetEvent();
      }
    }
    // Every post and the end signal the wake event.
    WakeEvent.WaitFor(INFINITE_WAIT);
  }
}

// ---------------------------------------------------------------------------------------------
// References and posting

TEventHandler* CurrentEventHandler() {
  TLock l(Delivery().Lock);
  return Delivery().Handler;
}

int32_t EventHandlerReferences() {
  TLock l(Delivery().Lock);
  return Delivery().RefCount;
}

void EventHandlerAddRef() {
  TDeliveryGlobals& g = Delivery();
  TLock l(g.Lock);
  if (g.RefCount == 0) g.Handler = new TEventHandler();
  ++g.RefCount;
}

void EventHandlerRelease() {
  TDeliveryGlobals& g = Delivery();
  std::unique_ptr<TEventHandler> old;
  {
    TLock l(g.Lock);
    if (g.RefCount <= 0) return;
    if (--g.RefCount == 0) {
      old.reset(g.Handler);
      g.Handler = nullptr;
    }
  }
  if (!old) return;
  if (old->InHandler()) {
    // Released from one of its own handlers: it cannot be waited for here, so it ends and
    // frees itself once the handler has returned.
    TEventHandler* h = old.release();
    h->SetFreeOnTerminate(true);
    h->Terminate();
    h->Wake();
    return;
  }
  old.reset();  // ends the thread; a new reference meanwhile makes a new one
}

namespace {
void PostRecord(std::unique_ptr<TEventRecord> R, bool First) {
  TDeliveryGlobals& g = Delivery();
  TLock l(g.Lock);
  if (!g.Handler) return;
  if (First) g.Handler->PostEventFirst(std::move(R));
  else g.Handler->PostEvent(std::move(R));
}

void PostKind(TEventKind Kind, TComponent* Sender, const TEventCallback& Handler, bool First) {
  auto r = std::make_unique<TEventRecord>();
  r->Kind = Kind;
  r->Sender = Sender;
  r->Handler = Handler;
  PostRecord(std::move(r), First);
}
}  // namespace

void PostProgressEvent(TComponent* Sender, const TEventCallback& Handler) {
  PostKind(ekProgress, Sender, Handler, false);
}

void PostGenericEvent(TComponent* Sender, const TEventCallback& Handler) {
  PostKind(ekGeneric, Sender, Handler, false);
}

void PostImmediateEvent(TComponent* Sender, const TEventCallback& Handler) {
  PostKind(ekImmediate, Sender, Handler, true);
}

void PostDoneEvent(TAuOutput* Sender, uint32_t RunNumber) {
  auto r = std::make_unique<TEventRecord>();
  r->Kind = ekDone;
  r->Sender = Sender;
  r->RunNumber = RunNumber;
  PostRecord(std::move(r), false);
}

void EventHandlerForget(TComponent* Sender) {
  if (TEventHandler* eh = CurrentEventHandler()) eh->Forget(Sender);
}
