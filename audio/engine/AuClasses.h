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
#include <memory>
#include <vector>

#include "audio/tags/AuTags.h"
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
//
// Threads: the pull operations (GetData, Init, Flush, CopyData, FillBuffer, FillBufferRaw, Reset)
// are called by the input's one consumer (an output's worker, a converter's consumer, or a task
// thread) and wait for DataCS; property reads may come from any thread. An input that is freed
// while a consumer pulls from it withdraws first (BeforeDestruction, called by delete and by an
// owner freeing it, while the whole object still exists): its consumers stop or let go of it,
// so derived inputs and converters need do nothing for it. An input that is not freed by
// delete (a local variable) must not be freed while it is pulled.
class TAuInput : public TComponent {
 public:
  explicit TAuInput(TComponent* AOwner);
  ~TAuInput() override;
  const char* ClassName() const override { return "TAuInput"; }

  // Threads (format and size reads): any; a file input opens its file for them (FileLock).
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
  // Threads: the thread that builds the chain, before it runs.
  virtual void SetUnmaskedBPS(bool Value);

  // The consumer's side of a pull. The base calls GetDataInternal under DataCS.
  // Threads (GetData to Reset): the one consumer; each waits for DataCS (and, through a
  // converter, for the locks of the inputs behind it, output end first).
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
  // Hooks called by an output's Pause and Resume. Threads: the thread calling the output's
  // Pause or Resume; they wait for nothing in the base.
  virtual void Pause() {}
  virtual void Resume() {}
  // Relative seek in thousandths of the whole length. Threads: any (the user-interface thread
  // while a worker pulls); waits for DataCS.
  virtual void Jump(int32_t Offset) {}

 protected:
  // Tells the consumers that this input goes, while it is still whole.
  void BeforeDestruction() override;
  // False for a converter whose input is gone: Init then raises "Input is not assigned" and
  // Flush has nothing left to close.
  virtual bool HasSource() const { return true; }
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
// Size and latches the end. A converter whose input went away delivers the end.
class TAuConverter : public TAuInput {
 public:
  explicit TAuConverter(TComponent* AOwner) : TAuInput(AOwner) {}
  ~TAuConverter() override;
  const char* ClassName() const override { return "TAuConverter"; }

  // Threads: any.
  TAuInput* Input() const { return FInput; }
  // A converter given itself ignores the call. A busy converter flushes the old input and
  // initialises the new one (a live swap).
  // Threads: any; waits for DataCS (so for a pull in progress), then for the inputs' locks.
  virtual void SetInput(TAuInput* Value);

  // Threads: the one consumer; waits for DataCS, then for its input's GetData.
  void GetData(void*& Buffer, uint32_t& Bytes) override;
  // Threads (Pause, Resume, Jump): as for TAuInput; forwarded to Input.
  void Pause() override;
  void Resume() override;
  void Jump(int32_t Offset) override;

 protected:
  int GetBPS() override;
  int GetCh() override;
  int GetSR() override;
  bool HasSource() const override { return FInput != nullptr; }
  // When the input goes while the converter is busy, the converter closes itself (its
  // FlushInternal, which closes the input) under its data lock and delivers the end from then on.
  void Notification(TComponent* AComponent, TOperation Operation) override;

  TAuInput* FInput = nullptr;  // borrowed
};

// ---------------------------------------------------------------------------------------------
// Outputs

enum TAuOutputStatus { osRunning = 0, osPaused = 1, osIdle = 2 };

// Every output event takes the output as its sender; handlers read Progress or ExceptionMessage.
using TOutputDoneEvent = std::function<void(TComponent* Sender)>;
using TOutputProgressEvent = std::function<void(TComponent* Sender)>;
using TThreadExceptionEvent = std::function<void(TComponent* Sender)>;

class TAuOutput;

// The states of an output's run, held by its worker under the worker's one lock. A blocking run
// (TAuOutput::BlockingRun) goes through the same states on its caller's thread.
//
//   wsStarting   The worker thread is made but has not yet looked at its state.
//                Left for wsIdle when it does (a Run that came first is kept and seen there).
//   wsIdle       Parked between runs, waiting for a run request.
//                Left for wsPreparing when Run asks for a run; for wsEnded when the output goes.
//   wsPreparing  The output's Prepare runs. A Pause asked for now is kept and returns at once;
//                a Resume right after it cancels it; a Stop is kept.
//                Left for wsRunning when Prepare returns, for wsPaused when a pause was asked
//                for meanwhile, for wsFinishing when Prepare raised.
//   wsRunning    DoOutput steps, each after the progress check.
//                Left for wsPaused after a step when a pause is asked for; for wsFinishing when a
//                step returns False, raises, or a stop is asked for (the last step gets Abort).
//   wsPaused     Parked inside a run (the pause is acknowledged to the waiting Pause).
//                Left for wsRunning by Resume or Stop (Stop then ends the run at the next step);
//                for wsFinishing when the output goes.
//   wsFinishing  The done step (Done), then OnSyncDone on the worker.
//                Left for wsIdle, after the done event is posted; for wsPreparing at once when
//                OnSyncDone (or another thread meanwhile) ran the output again; for wsEnded when
//                the output was freed from OnSyncDone (the worker then ends and frees itself).
//   wsEnded      The worker has left its loop; final.
enum TAuWorkerState { wsStarting, wsIdle, wsPreparing, wsRunning, wsPaused, wsFinishing, wsEnded };

// The worker of one output. Parked between runs; runs Prepare, the DoOutput steps with the
// progress and pause handshakes, the done step and OnSyncDone, then posts the done event.
// Everything it shares with its output and with callers lives under one lock (StateLock); waits
// for a change of it are waits on events, never polls.
class TAuThread : public TThread {
  friend class TAuOutput;

 public:
  explicit TAuThread(TAuOutput* AOutput);
  // Threads: the output's destructor (any thread but this worker). Ends the worker and waits for it.
  ~TAuThread() override;
  const char* ClassName() const override { return "TAuThread"; }

  // Threads: any; waits for StateLock only.
  TAuWorkerState State() const;
  // The hook for tests and watchers: waits until the worker is in state S (true) or Timeout ms
  // have passed (false). Threads: any but this worker; on the user-interface thread it serves
  // sent messages and synchronised calls meanwhile.
  bool WaitForState(TAuWorkerState S, uint32_t Timeout);
  // Threads: any. True while the current run is asked to end (Stop, or the output going), so
  // that a long step inside DoOutput or Done can cut itself short.
  bool StopAsked() const;

 protected:
  void Execute() override;

 private:
  // Waits, with StateLock held once by the caller (it is released while waiting), until Pred
  // holds or Timeout ms have passed; wakes on every Changed(). True when Pred holds.
  bool WaitLocked(const std::function<bool()>& Pred, uint32_t Timeout);
  // Wakes every waiter to look at the state again; call under StateLock after each change.
  void Changed();
  void SetState(TAuWorkerState S);
  // One run: Prepare, the steps, the done step and OnSyncDone. False when the output was freed
  // from OnSyncDone (the worker must not touch it again).
  bool RunTurn();
  // Parks for a pause; returns with StateLock held once.
  void PauseHere();

  mutable TCriticalSection StateLock;
  TAuOutput* FOutput;                   // nullptr once the output has let go of its worker
  TAuWorkerState FState = wsStarting;
  bool FRunAsked = false;               // Run asked for a run
  bool FStopAsked = false;              // Stop asked to end the current run
  bool FPauseAsked = false;             // Pause asked to park after the current step
  bool FEnd = false;                    // the output is going: leave the loop
  bool FRestartedHere = false;          // Run came from OnSyncDone on this thread
  uint32_t FFinishedRun = 0;            // the last run whose turn is complete
  std::vector<void*> FWaiters;          // events of threads waiting in WaitLocked
};

// Base of every sink: pulls its Input on its own worker thread.
//
// The output stops and ends its worker before any destructor runs, while the whole object still
// exists (BeforeDestruction, called by delete and by an owner freeing it); derived outputs need
// do nothing for it. An output that is not freed by delete (a local variable) calls Shutdown()
// first thing in its most derived destructor.
class TAuOutput : public TComponent {
  friend class TAuThread;
  friend class TEventHandler;

 public:
  explicit TAuOutput(TComponent* AOwner);
  ~TAuOutput() override;
  const char* ClassName() const override { return "TAuOutput"; }

  // Threads: any.
  TAuInput* Input() const { return FInput; }
  // Idle: stores Value. Busy: stops synchronously, stores Value and runs again on it; with no
  // new input it stays idle.
  // Threads: the user-interface thread or a task thread; waits as Stop (Async False) does.
  virtual void SetInput(TAuInput* Value);

  // Starts a run on the worker and returns at once. Raises "Component is Busy" or
  // "Input is not assigned". Called from OnSyncDone it restarts the chain, unless the run that
  // just ended was stopped: then it does nothing.
  // Threads: any, OnSyncDone on the worker included; waits for OutputLock and StateLock only.
  void Run();
  // The whole run in the calling thread, without worker or events. After an exception the done
  // step still runs, then the exception is raised again. A Stop from another thread ends it
  // (the last DoOutput gets Abort); a Stop from inside it records the stop.
  // Threads: a task thread (not the output's worker); waits for nothing but its own pulls.
  void BlockingRun();
  // Ends a run early. Async: returns at once, OnDone follows. Not Async: returns when the run
  // is over; no OnDone is delivered for it. Called from the run's own thread (the worker, or
  // inside a BlockingRun) it records the stop and returns at once.
  // Threads: any. Not Async, it waits for the end of the run (serving sent messages and
  // synchronised calls on the user-interface thread).
  void Stop(bool Async = true);
  // Asks the worker to park after its current step and waits up to 5 s for it; when the worker
  // is still preparing, the pause is kept and Pause returns at once (the worker parks right after
  // Prepare). Returns at once when idle or already paused. Then Input.Pause.
  // Threads: the user-interface thread or a task thread; waits as described, serving sent
  // messages and synchronised calls on the user-interface thread.
  void Pause();
  // Input.Resume, then the worker leaves its pause (or a pause not yet taken is dropped).
  // Threads: the user-interface thread or a task thread; waits for StateLock only.
  void Resume();
  // Threads: any; waits for StateLock only.
  TAuOutputStatus Status() const;
  // Percentage of the input consumed: 0 without input, -1 for an input of unknown size.
  // Threads: any.
  int Progress() const;

  // Threads (all four): any.
  bool Busy() const { return FBusy; }
  bool Active() const { return FActive; }
  bool Stopped() const { return FStopped; }
  // The message of the exception that ended the last run; a copy, read under StateLock.
  AnsiString ExceptionMessage() const;
  // Threads: the run's own thread, inside an exception handler in Done. Reports the exception
  // being handled: it becomes ExceptionMessage and, on the worker, reaches OnThreadException.
  // A run reports one failure only: when it already has a message, nothing changes.
  void ReportDoneFailure();
  // The worker (nullptr after Shutdown). Threads: any.
  TAuThread* Thread() const { return FThread.get(); }

  TOutputDoneEvent OnDone;
  TOutputDoneEvent OnSyncDone;
  TOutputProgressEvent OnProgress;
  TThreadExceptionEvent OnThreadException;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Stops a running output and ends its worker, before any destructor runs.
  void BeforeDestruction() override;
  // One step of a run; False when there is nothing more to do or Abort is set.
  virtual bool DoOutput(bool Abort) = 0;
  // Finishes the run: flush the encoder, finish the destination, flush the input. Also called
  // after a failed Prepare (Prepared() then tells False): release only what was set up.
  virtual void Done() = 0;
  // Starts the run: initialise the input, open the destination, set the encoder up.
  virtual void Prepare() = 0;
  // Stops a running output synchronously and ends the worker; idempotent. Called from the
  // worker itself (the output freed from its own OnSyncDone), it hands the worker off: the
  // worker ends and frees itself once OnSyncDone has returned.
  // Threads: any.
  void Shutdown();
  // Prepare of the current run completed.
  bool Prepared() const { return FPrepared; }

  std::atomic<bool> FStopped{false};
  std::atomic<bool> FActive{false};
  std::atomic<int32_t> FLastProgress{0};
  TAuInput* FInput = nullptr;  // borrowed
  std::atomic<bool> FBusy{false};
  std::atomic<bool> FPrepared{false};
  TCriticalSection OutputLock;

 private:
  // Active := False, Done, Stopped := False, Busy := False (when Busy).
  void DoneStep();
  void SetInputField(TAuInput* Value);
  void SetExceptionMessage(const AnsiString& Message);
  // The thread running the current run: the worker, or the caller of BlockingRun.
  bool OnRunThread() const;

  std::unique_ptr<TAuThread> FThread;
  AnsiString FExceptionMessage;        // under the worker's StateLock
  uint32_t FBlockingThread = 0;        // the thread in BlockingRun, 0 when none (StateLock)
  // Numbers the runs, so that a late done event never touches a later run (StateLock).
  uint32_t FRunNumber = 0;
  // OnDone is not delivered for runs up to this number (synchronous stops; StateLock).
  std::atomic<uint32_t> FNoDoneUpTo{0};
  // Runs up to this number were stopped: OnSyncDone does not restart them (StateLock).
  uint32_t FStopUpTo = 0;
  bool FShutDown = false;
};

// An output that writes to a destination stream.
class TAuStreamedOutput : public TAuOutput {
 public:
  explicit TAuStreamedOutput(TComponent* AOwner) : TAuOutput(AOwner) {}
  const char* ClassName() const override { return "TAuStreamedOutput"; }

 protected:
  // The destination in use, borrowed: owned by the derived output that opened it (TAuFileOut:
  // FOwnStream) or by whoever handed it in.
  TStream* Stream = nullptr;
  // The stream was handed in from outside (tells where it came from; it is never freed here).
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
  uint32_t RunNumber = 0;              // ekDone: the run that ended
  std::atomic<bool> Cancelled{false};  // the sender is going away: do not call
};

// The one delivery thread shared by every output: a queue of event records, handed to the
// user-interface thread by synchronisation (ekImmediate: called on this thread). It sleeps on
// its wake event, which every post and the end signal.
class TEventHandler : public TThread {
 public:
  TEventHandler();
  // Threads: any but the delivery thread; waits for the delivery thread to end.
  ~TEventHandler() override;
  const char* ClassName() const override { return "TEventHandler"; }

  // Threads (PostEvent to Purge): any; wait for QueueLock only.
  void PostEvent(std::unique_ptr<TEventRecord> Record);
  void PostEventFirst(std::unique_ptr<TEventRecord> Record);
  // Events of a blocked sender are refused until it is unblocked (nests per sender).
  void Block(TComponent* Sender);
  void Unblock(TComponent* Sender);
  // Frees every queued record of Sender.
  void Purge(TComponent* Sender);
  // Purges Sender's records and waits until the record being dispatched is no longer one of its
  // own (unless its handler is running on this very thread).
  // Threads: any; waits for the dispatch in progress (serving sent messages and synchronised
  // calls on the user-interface thread).
  void Forget(TComponent* Sender);
  // The calling thread is running one of this thread's handlers. Threads: any.
  bool InHandler();
  // Threads: any.
  void Wake();

 protected:
  void Execute() override;

 private:
  void Post(std::unique_ptr<TEventRecord> Record, bool First);
  void Dispatch(TEventRecord* R);
  void CallHandler(TEventRecord* R, bool Synchronized);
  void PurgeLocked(TComponent* Sender);

  std::deque<std::unique_ptr<TEventRecord>> FQueue;
  TCriticalSection QueueLock;
  TEvent WakeEvent{false, false};
  TEvent NotDispatching{true, true};  // set while no record is being dispatched
  std::unique_ptr<TEventRecord> Current;
  std::vector<TComponent*> FBlocked;
  uint32_t FHandlerThread = 0;  // the thread running Current's handler, 0 when none
};

// The delivery thread, nullptr until the first output (or other poster) takes a reference.
// Threads: any; both read under the delivery thread's reference lock.
TEventHandler* CurrentEventHandler();
int32_t EventHandlerReferences();
// Taken by every output's constructor and by other components that post events; the thread
// is made by the first reference and ended (and freed) when the last one is released.
// Threads: any. Release waits for the delivery thread to end when it drops the last reference
// (unless called from one of its handlers: the thread then ends and frees itself).
void EventHandlerAddRef();
void EventHandlerRelease();

// Posting; a record is dropped when there is no delivery thread or its sender is blocked.
// Threads: any; they wait for the reference lock and QueueLock only.
void PostProgressEvent(TComponent* Sender, const TEventCallback& Handler);
void PostDoneEvent(TAuOutput* Sender, uint32_t RunNumber);
void PostGenericEvent(TComponent* Sender, const TEventCallback& Handler);
// At the head of the queue, called on the delivery thread itself.
void PostImmediateEvent(TComponent* Sender, const TEventCallback& Handler);
// For components that post events: call in the destructor so that no record outlives them.
// Threads: any; waits as TEventHandler::Forget does.
void EventHandlerForget(TComponent* Sender);

// ---------------------------------------------------------------------------------------------
// Unit state

// Serialises the loading and binding of codec libraries loaded on first use.
// Threads: any; held only while a library is loaded and bound.
extern TCriticalSection* LoadLibCS;
// The engine's floating-point control word (all exceptions masked, 64-bit precision, round to
// nearest); set at start-up and in every thread of the engine.
constexpr uint16_t AuFPUControlWord = 0x133F;
// Threads: any (sets the calling thread's word).
void SetAuFPUControlWord();

// The message of the exception being handled (call inside a catch block). Threads: any.
WideString AuCurrentExceptionMessage();

// Threads: the user-interface thread, at start-up and at the end.
void AuClassesInitialize();
void AuClassesFinalize();

// A layer above the engine whose state starts and ends with the engine's (a runtime loaded at
// start-up) registers its two steps through a static object in its own file: AuClassesInitialize
// runs the start steps after its own, in the order registered; AuClassesFinalize runs the end
// steps first, in the reverse order. A program that does not link the layer runs none of them.
// Threads: static initialisation, before main.
struct TAuUnitSteps {
  TAuUnitSteps(void (*Initialize)(), void (*Finalize)());
};

// The unit's fixed messages.
namespace AuMessages {
inline constexpr const char* ComponentBusy = "Component is Busy";
inline constexpr const char* InputNotAssigned = "Input is not assigned";
inline constexpr const char* PauseInputNotAssigned = "Input is not assigned.";
inline constexpr const char* InputComponentBusy = "The component is Busy";
inline constexpr const char* FileNameNotAssigned = "The file name is not assigned";
inline constexpr const char* UnknownException = "Unknown exception";
}  // namespace AuMessages

// ---------------------------------------------------------------------------------------------
// Stream and file endpoints
//
// Inputs and outputs over streams and wide-named files, from which every format's input and
// output derive: TAuStreamedInput (start and end sample, looping, seeking), TAuFileIn (the open
// and close protocol of every file format), TAuTaggedFileIn, TAuFileOut (rewrite or append),
// TAuTaggedFileOut, and TAuFileStream, the file stream that opens wide file names.

// A file opened through the wide-character file API. Mode $FFFF creates (or truncates) the file
// with read and write access and no sharing; any other Mode opens an existing file: access from
// Mode & 3 (0 read, 1 write, 2 both), sharing from (Mode & $F0) >> 4 (0, 1 none; 2 read;
// 3 write; 4 both). Raises EAuException with the system's message when the file cannot be opened.
class TAuFileStream : public THandleStream {
 public:
  // Threads: any; a stream is then used by one thread at a time.
  TAuFileStream(const WideString& FileName, uint16_t Mode, uint32_t Rights = 0);
  const char* ClassName() const override { return "TAuFileStream"; }

 private:
  TFileHandle FFile;
};

// An input over a stream, delivering the frames StartSample..EndSample (inclusive; -1 = to the
// end), looping back to StartSample when Loop is set.
class TAuStreamedInput : public TAuInput {
 public:
  explicit TAuStreamedInput(TComponent* AOwner);
  const char* ClassName() const override { return "TAuStreamedInput"; }

  // Hands in a stream from outside (never freed by the input); nullptr goes back to the file.
  // Threads (the setters and readers below): the thread that builds the chain, while it is idle;
  // TAuFileIn's SetStream waits for DataCS.
  virtual void SetStream(TStream* Value);
  TStream* Stream() const { return FStream; }

  int64_t StartSample() const { return FStartSample; }
  void SetStartSample(int64_t Value) { FStartSample = Value; }
  int64_t EndSample() const { return FEndSample; }
  void SetEndSample(int64_t Value) { FEndSample = Value; }
  bool Loop() const { return FLoop; }
  void SetLoop(bool Value) { FLoop = Value; }
  // The source can be repositioned.
  bool IsSeekable() const { return Seekable; }

  // Keeps Position, ends the stream at Size, and restarts at StartSample when looping.
  // Threads: the one consumer; waits for DataCS.
  void GetData(void*& Buffer, uint32_t& Bytes) override;

 protected:
  // Positions the decoder at a frame; may move SampleNum to the frame actually reached.
  virtual bool SeekInternal(int64_t& SampleNum) = 0;
  // Back to StartSample for the next pass of a loop.
  void RestartLoop();

  // The source in use: the stream handed in (borrowed), or FOwnStream.
  TStream* FStream = nullptr;
  // The stream the input opened itself on its file; empty while a stream is handed in.
  std::unique_ptr<TStream> FOwnStream;
  // A stream was handed in from outside (it is never freed here).
  bool StreamAssigned = false;
  int64_t FStartSample = 0;
  int64_t FEndSample = -1;
  bool FLoop = false;
  // Frames to deliver, as last computed.
  int64_t FTotalSamples = 0;
  // The pull that reached the end of a looping input delivered bytes: restart on the next one.
  bool FLoopPending = false;
};

// A streamed input over a file named by a wide string (or a stream handed in). Reading a format
// property opens the file, which stays open (writing denied to others) until Flush, a new file
// name or a new stream.
class TAuFileIn : public TAuStreamedInput {
 public:
  explicit TAuFileIn(TComponent* AOwner);
  ~TAuFileIn() override;
  const char* ClassName() const override { return "TAuFileIn"; }

  // The name in the system's ANSI code page.
  // Threads (names, SetStream, Reset): the thread that builds the chain; the setters close the
  // file first and wait for DataCS.
  const AnsiString& FileName() const { return FFileName; }
  void SetFileName(const AnsiString& Value);
  // The name used to open the file.
  const WideString& WideFileName() const { return FWideFileName; }
  void SetWideFileName(const WideString& Value);

  void SetStream(TStream* Value) override;
  void Reset() override;
  // The last open found a readable file of the format. Never raises.
  // Threads: any; waits for FileLock.
  bool Valid();

  // Window by time; False when not seekable or past the file's end.
  // Threads: the thread that builds the chain, before the run; opens the file (FileLock).
  bool SetStartTime(int32_t Min, int32_t Sec);
  bool SetEndTime(int32_t Min, int32_t Sec);
  // Idle: the next run starts at SampleNum. Busy: repositions within the window.
  // Threads (Seek, Jump): any, also while a worker pulls; wait for DataCS (a pull in progress).
  bool Seek(int64_t SampleNum);
  // Relative seek in thousandths of the whole length.
  void Jump(int32_t Offset) override;

 protected:
  int GetBPS() override;
  int GetCh() override;
  int GetSR() override;
  int64_t GetTotalSamples() override;
  int GetTotalTime() override;
  void InitInternal() override;
  void FlushInternal() override;

  // The open and close steps every file input shares; a format writes the hooks below and
  // nothing of the locking. OpenFile loads the format's library (LoadDecoderLibrary, before
  // FileLock is taken), then under FileLock opens a file not yet open (OpenDecoder) and counts
  // it open; on a file already open it calls ReopenDecoder. When OpenDecoder raises, OpenFailed
  // releases what it made and the exception goes on. CloseFile closes an open file
  // (CloseDecoder, under FileLock) and counts it closed.
  // Threads: the thread that opens or closes the input; wait for FileLock (OpenFile also for
  // LoadLibCS while a library loads).
  void OpenFile();
  void CloseFile();
  // For the destructor of a format's input (the hooks are its own there): closes the file and
  // lets the input's own source go. Threads: the destroying thread; waits for FileLock.
  void CloseForDestruction();

  // Loads the format's library (under LoadLibCS), raising EAuException when it is missing.
  virtual void LoadDecoderLibrary() {}
  // Opens the file or the assigned stream and reads its format: true when the file counts as
  // open (also a file found not valid), false when nothing stays open and the next OpenFile
  // tries again.
  virtual bool OpenDecoder() = 0;
  // An OpenFile on a file already open.
  virtual void ReopenDecoder() {}
  // After OpenDecoder raised: releases what it made. True when the file stays open (counted
  // open, for CloseFile to release), false when nothing does.
  virtual bool OpenFailed() { return false; }
  // Releases what OpenDecoder made.
  virtual void CloseDecoder() = 0;
  // Opens the named file as the input's own source (FOwnStream) unless a stream is handed in;
  // an own source already open is used again.
  void OpenOwnStream(uint16_t Mode = 0x20);
  // Lets the input's own source go; a handed-in stream stays as it is.
  void CloseOwnStream();
  // Frames of the whole file (not of the window), from the open file.
  int64_t FileSamples();

  TCriticalSection FileLock;
  AnsiString FFileName;
  WideString FWideFileName;
  int32_t OpenCount = 0;
  bool FValid = false;
  int32_t FBPS = 0, FSR = 0, FChan = 0;
  int32_t FTotalTime = 0;
  // The whole file's frame count, kept by InitInternal before the window cuts Size.
  int64_t FFileFrames = 0;
};

// A file input that owns the tag sets its format may fill when it opens the file.
class TAuTaggedFileIn : public TAuFileIn {
 public:
  explicit TAuTaggedFileIn(TComponent* AOwner);
  ~TAuTaggedFileIn() override;
  const char* ClassName() const override { return "TAuTaggedFileIn"; }

  // Threads: any; the sets are filled when the file opens (FileLock) and read after.
  TId3v1Tags* Id3v1Tags() const { return FId3v1Tags.get(); }
  TId3v2Tags* Id3v2Tags() const { return FId3v2Tags.get(); }
  TAPEv2Tags* APEv2Tags() const { return FAPEv2Tags.get(); }
  TCommonTags* CommonTags() const { return FCommonTags.get(); }

 protected:
  std::unique_ptr<TId3v1Tags> FId3v1Tags;
  std::unique_ptr<TId3v2Tags> FId3v2Tags;
  std::unique_ptr<TAPEv2Tags> FAPEv2Tags;
  std::unique_ptr<TCommonTags> FCommonTags;
};

enum TFileOutputMode { foRewrite = 0, foAppend = 1 };

// An output to a named file (or a stream handed in), rewritten or appended to.
class TAuFileOut : public TAuStreamedOutput {
 public:
  explicit TAuFileOut(TComponent* AOwner) : TAuStreamedOutput(AOwner) {}
  const char* ClassName() const override { return "TAuFileOut"; }

  // Threads (every property and SetStream): the thread that sets the output up, while it is
  // idle (SetStream of a busy output does nothing); no waits.
  const AnsiString& FileName() const { return FFileName; }
  void SetFileName(const AnsiString& Value);
  const WideString& WideFileName() const { return FWideFileName; }
  void SetWideFileName(const WideString& Value);
  TFileOutputMode FileMode() const { return FFileMode; }
  // The base stores foRewrite whatever it is given; formats that can append store the value.
  virtual void SetFileMode(TFileOutputMode Value);
  uint32_t AccessMask() const { return FAccessMask; }
  void SetAccessMask(uint32_t Value) { FAccessMask = Value; }
  uint16_t ShareMode() const { return FShareMode; }
  void SetShareMode(uint16_t Value) { FShareMode = Value; }
  // Hands in a destination stream (never freed by the output); nullptr goes back to the file.
  void SetStream(TStream* Value);

 protected:
  // Opens the destination for a run: raises NoNameMessage without stream and name; creates or
  // truncates the file for foRewrite or when it does not exist, else opens it for reading and
  // writing. Tells whether the file was created (or truncated) here.
  bool OpenDestination(const char* NoNameMessage);
  // Frees a stream the output created (a stream handed in stays open).
  void CloseDestination();

  // The destination the output opened itself (Stream then points to it); a stream handed in is
  // only borrowed.
  std::unique_ptr<TStream> FOwnStream;

  AnsiString FFileName;
  WideString FWideFileName;
  TFileOutputMode FFileMode = foRewrite;
  uint32_t FAccessMask = 0;
  uint16_t FShareMode = 0;
};

// A file output that owns the tag sets its format writes. Setting one copies the given set.
class TAuTaggedFileOut : public TAuFileOut {
 public:
  explicit TAuTaggedFileOut(TComponent* AOwner);
  ~TAuTaggedFileOut() override;
  const char* ClassName() const override { return "TAuTaggedFileOut"; }

  // Threads: the thread that sets the output up, while it is idle.
  TId3v1Tags* Id3v1Tags() const { return FId3v1Tags.get(); }
  void SetId3v1Tags(TId3v1Tags* Value) { FId3v1Tags->Assign(Value); }
  TId3v2Tags* Id3v2Tags() const { return FId3v2Tags.get(); }
  void SetId3v2Tags(TId3v2Tags* Value) { FId3v2Tags->Assign(Value); }
  TAPEv2Tags* APEv2Tags() const { return FAPEv2Tags.get(); }
  void SetAPEv2Tags(TAPEv2Tags* Value) { FAPEv2Tags->Assign(Value); }

 protected:
  std::unique_ptr<TId3v1Tags> FId3v1Tags;
  std::unique_ptr<TId3v2Tags> FId3v2Tags;
  std::unique_ptr<TAPEv2Tags> FAPEv2Tags;
};

// The wide "file exists" test of the endpoints. Threads: any.
bool AuFileExists(const WideString& FileName);
