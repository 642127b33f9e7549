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

#include "audio/AuTags.h"
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
  // "Input is not assigned". Called from OnSyncDone it restarts the chain, unless the run that
  // just ended was stopped: then it does nothing.
  void Run();
  // The whole run in the calling thread, without worker or events. After an exception the done
  // step still runs, then the exception is raised again.
  void BlockingRun();
  // Ends a run early. Async: returns at once, OnDone follows. Not Async: returns when the run
  // is over; no OnDone is delivered for it.
  void Stop(bool Async = true);
  // Asks the worker to park after its current step (a pause asked for during Prepare included)
  // and waits up to 5 s for it; returns at once when idle or already paused.
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
  // Runs up to this number were stopped: OnSyncDone does not restart them.
  std::atomic<uint32_t> FStopUpTo{0};
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
  TAuFileStream(const WideString& FileName, uint16_t Mode, uint32_t Rights = 0);
  ~TAuFileStream() override;
  const char* ClassName() const override { return "TAuFileStream"; }
};

// An input over a stream, delivering the frames StartSample..EndSample (inclusive; -1 = to the
// end), looping back to StartSample when Loop is set.
class TAuStreamedInput : public TAuInput {
 public:
  explicit TAuStreamedInput(TComponent* AOwner);
  const char* ClassName() const override { return "TAuStreamedInput"; }

  // Hands in a stream from outside (never freed by the input); nullptr goes back to the file.
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
  void GetData(void*& Buffer, uint32_t& Bytes) override;

 protected:
  // Positions the decoder at a frame; may move SampleNum to the frame actually reached.
  virtual bool SeekInternal(int64_t& SampleNum) = 0;
  // Back to StartSample for the next pass of a loop.
  void RestartLoop();

  TStream* FStream = nullptr;
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
  const AnsiString& FileName() const { return FFileName; }
  void SetFileName(const AnsiString& Value);
  // The name used to open the file.
  const WideString& WideFileName() const { return FWideFileName; }
  void SetWideFileName(const WideString& Value);

  void SetStream(TStream* Value) override;
  void Reset() override;
  // The last open found a readable file of the format. Never raises.
  bool Valid();

  // Window by time; False when not seekable or past the file's end.
  bool SetStartTime(int32_t Min, int32_t Sec);
  bool SetEndTime(int32_t Min, int32_t Sec);
  // Idle: the next run starts at SampleNum. Busy: repositions within the window.
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

  virtual void OpenFile() = 0;
  virtual void CloseFile() = 0;
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

  TId3v1Tags* Id3v1Tags() const { return FId3v1Tags; }
  TId3v2Tags* Id3v2Tags() const { return FId3v2Tags; }
  TAPEv2Tags* APEv2Tags() const { return FAPEv2Tags; }
  TCommonTags* CommonTags() const { return FCommonTags; }

 protected:
  TId3v1Tags* FId3v1Tags = nullptr;
  TId3v2Tags* FId3v2Tags = nullptr;
  TAPEv2Tags* FAPEv2Tags = nullptr;
  TCommonTags* FCommonTags = nullptr;
};

enum TFileOutputMode { foRewrite = 0, foAppend = 1 };

// An output to a named file (or a stream handed in), rewritten or appended to.
class TAuFileOut : public TAuStreamedOutput {
 public:
  explicit TAuFileOut(TComponent* AOwner) : TAuStreamedOutput(AOwner) {}
  const char* ClassName() const override { return "TAuFileOut"; }

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

  TId3v1Tags* Id3v1Tags() const { return FId3v1Tags; }
  void SetId3v1Tags(TId3v1Tags* Value) { FId3v1Tags->Assign(Value); }
  TId3v2Tags* Id3v2Tags() const { return FId3v2Tags; }
  void SetId3v2Tags(TId3v2Tags* Value) { FId3v2Tags->Assign(Value); }
  TAPEv2Tags* APEv2Tags() const { return FAPEv2Tags; }
  void SetAPEv2Tags(TAPEv2Tags* Value) { FAPEv2Tags->Assign(Value); }

 protected:
  TId3v1Tags* FId3v1Tags = nullptr;
  TId3v2Tags* FId3v2Tags = nullptr;
  TAPEv2Tags* FAPEv2Tags = nullptr;
};

// The wide "file exists" test of the endpoints.
bool AuFileExists(const WideString& FileName);
