// The pull-model stream framework: inputs, converters and outputs, the output worker thread
// and the one event-delivery thread that carries output events to the user-interface thread.
//
// A chain is built by pointing each stage's Input at the stage before it; the output pulls.
// Contract of a pull (GetData): the consumer asks for at most Bytes bytes and gets a pointer into
// the producer's own buffer, valid until the next GetData, Flush or seek on the same input, and
// the count delivered (never more than asked); 0 is the end of the stream.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/SyncObjs.h"
#include "classlib/SysUtils.h"

// The exception class of the stream framework.
class EAuException : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EAuException"; }
};

// ---------------------------------------------------------------------------------------------
// Inputs

// Base of every source of sample data. Sizes and positions are in bytes, sample counts in frames.
class TAuInput : public TComponent {
 public:
  explicit TAuInput(TComponent* AOwner);
  ~TAuInput() override;
  const char* ClassName() const override { return "TAuInput"; }

  int BitsPerSample() { return GetBPS(); }
  int Channels() { return GetCh(); }
  int SampleRate() { return GetSR(); }
  int64_t TotalSamples() { return GetTotalSamples(); }
  int TotalTime() { return GetTotalTime(); }
  // Bytes delivered since the last Init (or since a seek or loop restart).
  int64_t Position() const { return FPosition; }
  // Bytes the input will deliver in all; -1 when unknown, 0 when empty.
  int64_t Size() const { return FSize; }
  // Open and delivering: from a successful InitInternal until FlushInternal.
  bool Busy() const { return FBusy; }
  bool UnmaskedBPS() const { return FUnmaskedBPS; }
  virtual void SetUnmaskedBPS(bool Value);

  // The consumer's side of a pull. The base calls GetDataInternal under DataCS.
  virtual void GetData(void*& Buffer, uint32_t& Bytes);
  // Makes the input ready to deliver. When InitInternal raises, the stream is at its end and an
  // EAuException with the same message is raised.
  void Init();
  void Flush();
  // One GetData into the caller's buffer; returns the bytes copied (0 at the end).
  uint32_t CopyData(void* Buffer, uint32_t BufferSize);
  // Pulls until the buffer is full or the input ends; Eof tells that a pull delivered nothing.
  uint32_t FillBuffer(void* Buffer, uint32_t BufferSize, bool& Eof);
  // The same loop on GetDataInternal under DataCS, without end-of-stream handling; advances Position.
  uint32_t FillBufferRaw(void* Buffer, uint32_t BufferSize, bool& Eof);
  // Flush, then not Busy: makes an input reusable after a failure.
  virtual void Reset();
  // Hooks called by an output's Pause and Resume.
  virtual void Pause() {}
  virtual void Resume() {}
  // Relative seek in thousandths of the whole length.
  virtual void Jump(int32_t Offset) {}

 protected:
  virtual int GetBPS() = 0;
  virtual int GetCh() = 0;
  virtual int GetSR() = 0;
  virtual int GetTotalTime() { return 0; }
  virtual int64_t GetTotalSamples() { return 0; }
  virtual void InitInternal() = 0;
  virtual void FlushInternal() = 0;
  // The producer's side of a pull: sets Buffer to its own memory and Bytes to the count
  // delivered (in: the most wanted).
  virtual void GetDataInternal(void*& Buffer, uint32_t& Bytes) = 0;

  std::atomic<int64_t> FPosition{0};
  std::atomic<int64_t> FSize{0};
  uint16_t FrameSize = 0;
  bool Seekable = false;
  std::atomic<bool> FBusy{false};
  // The window of valid bytes in a decoding input's own buffer, 1-based and inclusive;
  // BufStart > BufEnd means empty.
  int32_t BufStart = 1;
  int32_t BufEnd = 0;
  // Serialises pulls with Init, Flush, seeks and a converter's SetInput (recursive).
  TCriticalSection DataCS;
  // The last pull delivered the end; later pulls deliver nothing until the next Init.
  bool EndOfStream = false;
  bool FUnmaskedBPS = false;
};

// An input that pulls from its own Input. Its GetData keeps Position, ends the stream exactly at
// Size and latches the end. A busy converter whose input went away delivers the end.
class TAuConverter : public TAuInput {
 public:
  explicit TAuConverter(TComponent* AOwner) : TAuInput(AOwner) {}
  ~TAuConverter() override;
  const char* ClassName() const override { return "TAuConverter"; }

  TAuInput* Input() const { return FInput; }
  // A converter given itself ignores the call. A busy converter flushes the old input and
  // initialises the new one (a live swap).
  virtual void SetInput(TAuInput* Value);

  void GetData(void*& Buffer, uint32_t& Bytes) override;
  void Pause() override;
  void Resume() override;
  void Jump(int32_t Offset) override;

 protected:
  int GetBPS() override;
  int GetCh() override;
  int GetSR() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  TAuInput* FInput = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Outputs

enum TAuOutputStatus { osRunning = 0, osPaused = 1, osIdle = 2 };

// Every output event takes the output as its sender; handlers read Progress or ExceptionMessage.
using TOutputDoneEvent = std::function<void(TComponent* Sender)>;
using TOutputProgressEvent = std::function<void(TComponent* Sender)>;
using TThreadExceptionEvent = std::function<void(TComponent* Sender)>;

class TAuOutput;

// The worker of one output: parked between runs; runs Prepare, the DoOutput steps with the
// progress and pause handshakes, the done step and OnSyncDone, then posts the done event.
class TAuThread : public TThread {
 public:
  explicit TAuThread(TAuOutput* AOutput);
  ~TAuThread() override;
  const char* ClassName() const override { return "TAuThread"; }

  TAuOutput* Output = nullptr;
  // Signalled by the worker when it has parked for a pause.
  TEvent PauseAckEvent{false, false};
  // Wakes the worker when parked (idle or paused).
  TEvent StartEvent{false, false};
  // Signalled whenever the worker ends a run or parks: lets waiting callers recheck at once.
  TEvent IdleEvent{false, false};
  // A run has ended and the output was not restarted; cleared by Run and by each new turn.
  // (Hides TThread::Finished, which tells that the system thread has ended.)
  std::atomic<bool> Finished{false};
  // Set by Run: the worker starts (or goes on with) a run.
  std::atomic<bool> RunRequest{false};
  std::atomic<bool> StopRequest{false};
  std::atomic<bool> PauseRequest{false};
  std::atomic<bool> Paused{false};
  std::atomic<bool> Parked{false};
  // The last run whose turn is complete (done event posted or merged into a restart).
  std::atomic<uint32_t> FinishedRun{0};
  // Run was called from OnSyncDone on this thread: the restarted run carries on the same
  // chain and one done event covers both.
  std::atomic<bool> RestartedFromSyncDone{false};

 protected:
  void Execute() override;

 private:
  void Park();
  void RunTurn(uint32_t RunNumber);
};

// Base of every sink: pulls its Input on its own worker thread.
//
// Derived outputs whose Done or DoOutput use their own members call Shutdown() first thing in
// their destructors, so that a running output is stopped while those members still exist.
class TAuOutput : public TComponent {
  friend class TAuThread;
  friend class TEventHandler;

 public:
  explicit TAuOutput(TComponent* AOwner);
  ~TAuOutput() override;
  const char* ClassName() const override { return "TAuOutput"; }

  TAuInput* Input() const { return FInput; }
  // Idle: stores Value. Busy: stops synchronously, stores Value and runs again on it; with no
  // new input it stays idle.
  virtual void SetInput(TAuInput* Value);

  // Starts a run on the worker and returns at once. Raises "Component is Busy" or
  // "Input is not assigned".
  void Run();
  // The whole run in the calling thread, without worker or events. After an exception the done
  // step still runs, then the exception is raised again.
  void BlockingRun();
  // Ends a run early. Async: returns at once, OnDone follows. Not Async: returns when the run
  // is over; no OnDone is delivered for it.
  void Stop(bool Async = true);
  void Pause();
  void Resume();
  TAuOutputStatus Status() const;
  // Percentage of the input consumed: 0 without input, -1 for an input of unknown size.
  int Progress() const;

  bool Busy() const { return FBusy; }
  bool Active() const { return FActive; }
  bool Stopped() const { return FStopped; }
  const AnsiString& ExceptionMessage() const { return FExceptionMessage; }
  TAuThread* Thread() const { return FThread; }

  TOutputDoneEvent OnDone;
  TOutputDoneEvent OnSyncDone;
  TOutputProgressEvent OnProgress;
  TThreadExceptionEvent OnThreadException;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // One step of a run; False when there is nothing more to do or Abort is set.
  virtual bool DoOutput(bool Abort) = 0;
  // Finishes the run: flush the encoder, finish the destination, flush the input. Also called
  // after a failed Prepare (Prepared() then tells False): release only what was set up.
  virtual void Done() = 0;
  // Starts the run: initialise the input, open the destination, set the encoder up.
  virtual void Prepare() = 0;
  // Stops a running output synchronously and ends the worker; idempotent.
  void Shutdown();
  // Prepare of the current run completed.
  bool Prepared() const { return FPrepared; }

  std::atomic<bool> FStopped{false};
  AnsiString FExceptionMessage;
  std::atomic<bool> FActive{false};
  std::atomic<int32_t> FLastProgress{0};
  TAuThread* FThread = nullptr;
  TAuInput* FInput = nullptr;
  std::atomic<bool> FBusy{false};
  std::atomic<bool> FPrepared{false};
  TCriticalSection OutputLock;

 private:
  // Active := False, Done, Stopped := False, Busy := False (when Busy).
  void DoneStep();
  void SetInputField(TAuInput* Value);
  // Numbers the runs, so that a late done event never touches a later run.
  std::atomic<uint32_t> FRunNumber{0};
  // OnDone is not delivered for runs up to this number (synchronous stops).
  std::atomic<uint32_t> FNoDoneUpTo{0};
  bool FShutDown = false;
};

// An output that writes to a destination stream.
class TAuStreamedOutput : public TAuOutput {
 public:
  explicit TAuStreamedOutput(TComponent* AOwner) : TAuOutput(AOwner) {}
  const char* ClassName() const override { return "TAuStreamedOutput"; }

 protected:
  TStream* Stream = nullptr;
  // The stream was handed in from outside (never freed by the output).
  bool StreamAssigned = false;
};

// ---------------------------------------------------------------------------------------------
// Event delivery

enum TEventKind : uint8_t { ekProgress = 0, ekDone = 1, ekGeneric = 2, ekImmediate = 3 };

using TEventCallback = std::function<void(TComponent* Sender)>;

struct TEventRecord {
  TEventKind Kind = ekGeneric;
  TComponent* Sender = nullptr;
  TEventCallback Handler;
  TAuThread* Thread = nullptr;  // ekDone: the output's worker
  uint32_t RunNumber = 0;       // ekDone: the run that ended
  std::atomic<bool> Cancelled{false};  // the sender is going away: do not call
};

// The one delivery thread shared by every output: a queue of event records, handed to the
// user-interface thread by synchronisation (ekImmediate: called on this thread).
class TEventHandler : public TThread {
 public:
  TEventHandler();
  ~TEventHandler() override;
  const char* ClassName() const override { return "TEventHandler"; }

  void PostEvent(TEventRecord* Record);
  void PostEventFirst(TEventRecord* Record);
  // Events of a blocked sender are refused until it is unblocked (nests per sender).
  void Block(TComponent* Sender);
  void Unblock(TComponent* Sender);
  // Frees every queued record of Sender.
  void Purge(TComponent* Sender);
  // Purges Sender's records and waits until the record being dispatched is no longer one of its
  // own (unless its handler is running on this very thread).
  void Forget(TComponent* Sender);
  // The calling thread is running one of this thread's handlers.
  bool InHandler();
  void Wake();

 protected:
  void Execute() override;

 private:
  void Post(TEventRecord* Record, bool First);
  void Dispatch(TEventRecord* R);
  void CallHandler(TEventRecord* R, bool Synchronized);
  void PurgeLocked(TComponent* Sender);

  std::deque<TEventRecord*> FQueue;
  TCriticalSection QueueLock;
  TEvent WakeEvent{false, false};
  TEventRecord* Current = nullptr;
  std::vector<TComponent*> FBlocked;
  uint32_t FHandlerThread = 0;  // the thread running Current's handler, 0 when none
};

// The delivery thread: nil until the first output (or other poster) takes a reference.
extern TEventHandler* EventHandler;
extern int32_t EventHandlerRefCount;
// Taken by every output's constructor and by other components that post events; the thread
// is made by the first reference and ended (and freed) when the last one is released.
void EventHandlerAddRef();
void EventHandlerRelease();

// Posting; a record is dropped when there is no delivery thread or its sender is blocked.
void PostProgressEvent(TComponent* Sender, const TEventCallback& Handler);
void PostDoneEvent(TAuOutput* Sender, TAuThread* Thread, uint32_t RunNumber);
void PostGenericEvent(TComponent* Sender, const TEventCallback& Handler);
// At the head of the queue, called on the delivery thread itself.
void PostImmediateEvent(TComponent* Sender, const TEventCallback& Handler);
// For components that post events: call in the destructor so that no record outlives them.
void EventHandlerForget(TComponent* Sender);

// ---------------------------------------------------------------------------------------------
// Unit state

// Serialises the loading and binding of codec libraries loaded on first use.
extern TCriticalSection* LoadLibCS;
// The engine's floating-point control word (all exceptions masked, 64-bit precision, round to
// nearest); set at start-up and in every thread of the engine.
constexpr uint16_t AuFPUControlWord = 0x133F;
void SetAuFPUControlWord();

void AuClassesInitialize();
void AuClassesFinalize();
