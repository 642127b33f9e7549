// Objects, components, lists, string lists, streams and threads.
#pragma once
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <new>
#include <vector>

#include "classlib/FileCore.h"
#include "classlib/SysUtils.h"

// The unit's fixed messages.
namespace ClassesMessages {
inline constexpr const char* AssignError = "Cannot assign a %s to a %s";
inline constexpr const char* ListIndexError = "List index out of bounds (%d)";
inline constexpr const char* SortedListError = "Operation not allowed on sorted list";
inline constexpr const char* DuplicateString = "String list does not allow duplicates";
inline constexpr const char* StreamTooLarge = "Stream too large";
inline constexpr const char* ReadError = "Stream read error";
inline constexpr const char* WriteError = "Stream write error";
inline constexpr const wchar_t* CannotCreateFile = L"Cannot create file \"%s\". %s";
inline constexpr const wchar_t* CannotOpenFile = L"Cannot open file \"%s\". %s";
inline constexpr const char* OutOfMemory = "Out of memory";
inline constexpr const char* ResourceNotFound = "Resource %s not found";
inline constexpr const char* ReadOnlyResource = "Can't write to a read-only resource stream";
inline constexpr const wchar_t* ThreadCreateError = L"Thread creation error: %s";
inline constexpr const char* WaitForItself = "Cannot call WaitFor on the thread itself";
inline constexpr const char* InvalidPropertyValue = "Invalid property value";
inline constexpr const char* PropertyNotFound = "Property %s does not exist";
inline constexpr const char* InvalidStreamFormat = "Invalid stream format";
inline constexpr const char* ClassNotFound = "Class %s not found";
}  // namespace ClassesMessages

class TObject {
 public:
  TObject() = default;
  virtual ~TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual const char* ClassName() const { return "TObject"; }
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

class TFiler;
class TReader;
class TWriter;

class TPersistent : public TObject {
 public:
  // Copies Source into this object; raises EConvertError "Cannot assign a %s to a %s"
  // when neither side knows the other.
  virtual void Assign(TPersistent* Source);
  const char* ClassName() const override { return "TPersistent"; }
  // Declares the unpublished properties that the form reader and writer should handle
  // (TFiler::DefineProperty); the default declares none.
  virtual void DefineProperties(TFiler* Filer) {}

 protected:
  virtual void AssignTo(TPersistent* Dest);
};

// ---------------------------------------------------------------------------------------------
// Components

enum TOperation { opInsert, opRemove };

enum TComponentStateFlag : uint32_t {
  csLoading = 1 << 0,
  csReading = 1 << 1,
  csWriting = 1 << 2,
  csDestroying = 1 << 3,
  csDesigning = 1 << 4,
  csAncestor = 1 << 5,
  csUpdating = 1 << 6,
  csFixups = 1 << 7,
  csFreeNotification = 1 << 8,
  csInline = 1 << 9,
  csDesignInstance = 1 << 10,
};
using TComponentState = uint32_t;

class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner);
  // Tells everyone registered for free notification, then frees the owned components,
  // last first, then leaves the owner.
  ~TComponent() override;
  // delete calls BeforeDestruction first, while the whole object (its most derived part
  // included) still exists, then the destructors.
  void operator delete(TComponent* Component, std::destroying_delete_t);
  // The matching pair for the destroying delete (a constructor that raises frees through it).
  static void* operator new(size_t Size);
  static void operator delete(void* Memory);
  const char* ClassName() const override { return "TComponent"; }

  TComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return (int)FComponents.size(); }
  TComponent* Components(int Index) const;
  int ComponentIndex() const;
  const AnsiString& Name() const { return FName; }
  void SetName(const AnsiString& Value) { FName = Value; }
  intptr_t Tag() const { return FTag; }
  void SetTag(intptr_t Value) { FTag = Value; }
  TComponentState ComponentState() const { return FComponentState; }
  TComponent* FindComponent(const AnsiString& AName) const;

  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);
  void DestroyComponents();
  // Marks the component as going away (csDestroying) and tells owned components the same.
  virtual void Destroying();
  // Asks to be told (through Notification with opRemove) when AComponent is destroyed.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

 protected:
  // Called when AComponent is inserted into or removed from the owner's list, and when a
  // component that this one asked to be told about is destroyed. The default passes the
  // news to every owned component.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  // Called by delete before any destructor runs; the default does nothing. A component that
  // others use while it lives (a source pulled by a worker) lets go of them here.
  virtual void BeforeDestruction() {}
  // Tells everyone registered for free notification (opRemove) that this component goes, and
  // forgets them; the destructor does the same for any left.
  void NotifyFreeNotifications();
  virtual void Loaded();
  void SetComponentStateFlag(uint32_t Flag, bool On);
  friend class TReader;

 private:
  void Insert(TComponent* AComponent);
  void Remove(TComponent* AComponent);
  void RemoveNotification(TComponent* AComponent);

  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  AnsiString FName;
  intptr_t FTag = 0;
  TComponentState FComponentState = 0;
};

// ---------------------------------------------------------------------------------------------
// Lists

class TList : public TObject {
 public:
  const char* ClassName() const override { return "TList"; }
  int Add(void* Item);
  void Insert(int Index, void* Item);
  void Delete(int Index);
  int Remove(void* Item);
  int IndexOf(void* Item) const;
  void* Extract(void* Item);
  void Exchange(int Index1, int Index2);
  void Move(int CurIndex, int NewIndex);
  void Clear() { FList.clear(); }
  void Pack();
  void* First() const { return Items(0); }
  void* Last() const { return Items(Count() - 1); }
  int Count() const { return (int)FList.size(); }
  void SetCount(int NewCount);
  void* Items(int Index) const;
  void SetItems(int Index, void* Item);
  void Sort(int (*Compare)(void* Item1, void* Item2));
  void** List() { return FList.data(); }

 private:
  [[noreturn]] static void Error(int Index);
  std::vector<void*> FList;
};

class TStream;

enum TDuplicates { dupIgnore, dupAccept, dupError };

// A list of 8-bit strings, each with an object.
class TStrings : public TPersistent {
 public:
  const char* ClassName() const override { return "TStrings"; }
  virtual int Count() const = 0;
  virtual AnsiString Get(int Index) const = 0;
  virtual void Put(int Index, const AnsiString& S);
  virtual TObject* GetObject(int Index) const { return nullptr; }
  virtual void PutObject(int Index, TObject* AObject) {}
  virtual void Insert(int Index, const AnsiString& S) = 0;
  virtual void Delete(int Index) = 0;
  virtual void Clear() = 0;
  virtual int Add(const AnsiString& S);
  int AddObject(const AnsiString& S, TObject* AObject);
  void AddStrings(TStrings* Strings);
  virtual int IndexOf(const AnsiString& S) const;
  int IndexOfName(const AnsiString& Name) const;
  int IndexOfObject(TObject* AObject) const;
  void Exchange(int Index1, int Index2);
  void Move(int CurIndex, int NewIndex);
  AnsiString Strings(int Index) const { return Get(Index); }
  void SetStrings(int Index, const AnsiString& S) { Put(Index, S); }
  TObject* Objects(int Index) const { return GetObject(Index); }
  void SetObjects(int Index, TObject* AObject) { PutObject(Index, AObject); }
  AnsiString Names(int Index) const;
  AnsiString Values(const AnsiString& Name) const;
  void SetValues(const AnsiString& Name, const AnsiString& Value);
  // Lines joined by CR LF (each line followed by one); setting splits at CR, LF or CR LF.
  virtual AnsiString Text() const;
  virtual void SetText(const AnsiString& Value);
  AnsiString CommaText() const;
  void SetCommaText(const AnsiString& Value);
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }
  void LoadFromFile(const AnsiString& FileName);
  void LoadFromStream(TStream* Stream);
  void SaveToFile(const AnsiString& FileName) const;
  void SaveToStream(TStream* Stream) const;
  void Assign(TPersistent* Source) override;

 protected:
  virtual void SetUpdateState(bool Updating) {}
  [[noreturn]] static void Error(const char* Msg, int Data);

 private:
  int FUpdateCount = 0;
};

class TStringList : public TStrings {
 public:
  ~TStringList() override;
  const char* ClassName() const override { return "TStringList"; }
  int Count() const override { return (int)FList.size(); }
  AnsiString Get(int Index) const override;
  void Put(int Index, const AnsiString& S) override;
  TObject* GetObject(int Index) const override;
  void PutObject(int Index, TObject* AObject) override;
  void Insert(int Index, const AnsiString& S) override;
  void Delete(int Index) override;
  void Clear() override;
  int Add(const AnsiString& S) override;
  int IndexOf(const AnsiString& S) const override;
  // Binary search of a sorted list; true when found, Index is the match or the insertion point.
  virtual bool Find(const AnsiString& S, int& Index) const;
  virtual void Sort();
  void CustomSort(int (*Compare)(TStringList* List, int Index1, int Index2));
  bool Sorted() const { return FSorted; }
  void SetSorted(bool Value);
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates Value) { FDuplicates = Value; }
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool Value);
  bool OwnsObjects() const { return FOwnsObjects; }
  void SetOwnsObjects(bool Value) { FOwnsObjects = Value; }
  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  void SetUpdateState(bool Updating) override;
  virtual void Changed();
  virtual void Changing();
  virtual int CompareStrings(const AnsiString& S1, const AnsiString& S2) const;

 private:
  struct Item {
    AnsiString S;
    TObject* Obj;
  };
  std::vector<Item> FList;
  bool FSorted = false;
  bool FCaseSensitive = false;
  bool FOwnsObjects = false;
  TDuplicates FDuplicates = dupIgnore;
};

// ---------------------------------------------------------------------------------------------
// Streams

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };
constexpr int soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2;

// File open modes of TFileStream.
constexpr uint16_t fmCreate = 0xFF00;
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareCompat = 0x0000;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;

class TStream : public TObject {
 public:
  const char* ClassName() const override { return "TStream"; }
  // Reads up to Count bytes; returns how many were read (0 at the end).
  virtual int32_t Read(void* Buffer, int32_t Count) = 0;
  virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t Pos) { Seek(Pos, soBeginning); }
  virtual int64_t Size();
  virtual void SetSize(int64_t NewSize);
  // Read or write exactly Count bytes or raise EReadError "Stream read error" /
  // EWriteError "Stream write error".
  void ReadBuffer(void* Buffer, int32_t Count);
  void WriteBuffer(const void* Buffer, int32_t Count);
  // Copies Count bytes from Source (all of it from its start when Count is 0).
  int64_t CopyFrom(TStream* Source, int64_t Count);
};

class THandleStream : public TStream {
 public:
  explicit THandleStream(void* AHandle) : FHandle(AHandle) {}
  const char* ClassName() const override { return "THandleStream"; }
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  void SetSize(int64_t NewSize) override;
  void* Handle() const { return FHandle; }

 protected:
  void* FHandle;
};

// A file opened by an 8-bit name (the system code page). Raises EFCreateError
// "Cannot create file \"%s\". %s" or EFOpenError "Cannot open file \"%s\". %s".
class TFileStream : public THandleStream {
 public:
  TFileStream(const AnsiString& FileName, uint16_t Mode);
  const char* ClassName() const override { return "TFileStream"; }
  const AnsiString& FileName() const { return FFileName; }

 private:
  AnsiString FFileName;
  TFileHandle FFile;
};

class TCustomMemoryStream : public TStream {
 public:
  const char* ClassName() const override { return "TCustomMemoryStream"; }
  int32_t Read(void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return FSize; }
  void* Memory() const { return FMemory; }
  void SaveToStream(TStream* Stream);
  void SaveToFile(const AnsiString& FileName);

 protected:
  void SetPointer(void* Ptr, int64_t Size);
  void* FMemory = nullptr;
  int64_t FSize = 0;
  int64_t FPosition = 0;
};

class TMemoryStream : public TCustomMemoryStream {
 public:
  ~TMemoryStream() override;
  const char* ClassName() const override { return "TMemoryStream"; }
  int32_t Write(const void* Buffer, int32_t Count) override;
  void SetSize(int64_t NewSize) override;
  void Clear();
  void LoadFromStream(TStream* Stream);
  void LoadFromFile(const AnsiString& FileName);

 private:
  void SetCapacity(int64_t NewCapacity);
  int64_t FCapacity = 0;
};

// A read-only view of a resource of the module Instance. Raises EResNotFound
// "Resource %s not found".
class TResourceStream : public TCustomMemoryStream {
 public:
  TResourceStream(void* Instance, const AnsiString& ResName, const char* ResType);
  TResourceStream(void* Instance, int ResID, const char* ResType);
  const char* ClassName() const override { return "TResourceStream"; }
  int32_t Write(const void* Buffer, int32_t Count) override;

 private:
  void Initialize(void* Instance, const char* Name, const char* ResType);
};

// ---------------------------------------------------------------------------------------------
// Hidden utility windows

struct TMessage {
  uint32_t Msg;
  uintptr_t WParam;
  intptr_t LParam;
  intptr_t Result;
};
using TWndMethod = std::function<void(TMessage& Message)>;

// A hidden window whose messages go to Method (on the thread that made it). Method must answer
// every message: messages it does not handle go to DefWindowProc through DefaultHandler.
// An exception that escapes Method is handed to Application->HandleException.
// Threads: the thread that will serve the window's messages.
void* AllocateHWnd(TWndMethod Method);
void DeallocateHWnd(void* Wnd);
// The default answer for a message of a window made by AllocateHWnd.
void DefaultHandler(void* Wnd, TMessage& Message);
// Where an exception that escapes a hidden window's method goes (the application sets it).
extern std::function<void(TObject* Sender)> ApplicationHandleException;

// ---------------------------------------------------------------------------------------------
// Threads

// The user-interface thread: the one that started the program (set by the class library's start-up).
extern uint32_t MainThreadID;
// Signalled while calls wait in the synchronisation queue.
void* SyncEvent();
// Runs the calls that other threads queued with TThread::Synchronize; returns true when any ran.
// Only on the user-interface thread.
bool CheckSynchronize(uint32_t Timeout = 0);
// Called after a call is queued, to wake the user-interface thread (the application posts itself a message).
extern std::function<void()> WakeMainThread;

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// A thread object. The system thread is made suspended; it runs Execute once Start (or Resume)
// is called. A derived class created with CreateSuspended false calls Start at the end of its own
// constructor, so that Execute never meets a half-built object.
class TThread : public TObject {
 public:
  explicit TThread(bool CreateSuspended);
  // Terminates and waits for a running thread.
  ~TThread() override;
  const char* ClassName() const override { return "TThread"; }

  void Start();
  void Resume() { Start(); }
  void Suspend();
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  bool Finished() const { return FFinished; }
  bool Suspended() const { return FSuspended; }
  // Waits for the thread to end and returns its ReturnValue; on the user-interface thread it
  // keeps serving synchronised calls and sent messages meanwhile.
  uint32_t WaitFor();
  bool FreeOnTerminate() const { return FFreeOnTerminate; }
  void SetFreeOnTerminate(bool Value) { FFreeOnTerminate = Value; }
  TThreadPriority Priority() const;
  void SetPriority(TThreadPriority Value);
  uint32_t ThreadID() const { return FThreadID; }
  void* Handle() const { return FHandle; }
  int ReturnValue() const { return FReturnValue; }
  void SetReturnValue(int Value) { FReturnValue = Value; }
  // The exception that ended Execute, if any.
  std::exception_ptr FatalException() const { return FFatalException; }
  // Called (synchronised) after Execute ends.
  TNotifyEvent OnTerminate;

  // Runs Method on the user-interface thread and waits for it; an exception it raises is raised
  // again in the calling thread. Called on the user-interface thread it runs Method at once.
  static void Synchronize(TThread* Thread, const std::function<void()>& Method);
  void Synchronize(const std::function<void()>& Method) { Synchronize(this, Method); }
  // Queues Method for the user-interface thread and returns at once.
  static void Queue(const std::function<void()>& Method);

 protected:
  virtual void Execute() = 0;
  virtual void DoTerminate();

 private:
  static unsigned long __stdcall ThreadProc(void* Param);
  void* FHandle = nullptr;
  uint32_t FThreadID = 0;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  bool FSuspended = true;
  bool FStarted = false;
  bool FFreeOnTerminate = false;
  int FReturnValue = 0;
  std::exception_ptr FFatalException;
};

// ---------------------------------------------------------------------------------------------
// Form streaming: the binary form format ("TPF0", then the root component's class name and
// name, its properties, its owned components) and the filer that reads and writes it.

enum TValueType : uint8_t {
  vaNull = 0, vaList = 1, vaInt8 = 2, vaInt16 = 3, vaInt32 = 4, vaExtended = 5, vaString = 6, vaIdent = 7,
  vaFalse = 8, vaTrue = 9, vaBinary = 10, vaSet = 11, vaLString = 12, vaNil = 13, vaCollection = 14,
  vaSingle = 15, vaCurrency = 16, vaDate = 17, vaWString = 18, vaInt64 = 19, vaUTF8String = 20
};

using TReaderProc = std::function<void(TReader* Reader)>;
using TWriterProc = std::function<void(TWriter* Writer)>;

class TFiler : public TObject {
 public:
  explicit TFiler(TStream* Stream) : FStream(Stream) {}
  const char* ClassName() const override { return "TFiler"; }
  // A property that is not published: the reader calls ReadData when the property being read
  // has this name; the writer writes the name and calls WriteData when HasData is true.
  virtual void DefineProperty(const AnsiString& Name, const TReaderProc& ReadData, const TWriterProc& WriteData,
                              bool HasData) = 0;
  TStream* Stream() const { return FStream; }
  TComponent* Root() const { return FRoot; }

 protected:
  TStream* FStream;
  TComponent* FRoot = nullptr;
};

// Reads form data. Malformed data raises EReadError (a value of the wrong type: "Invalid property
// value"; an unknown property: "Property %s does not exist"; truncated data: "Stream read error").
class TReader : public TFiler {
 public:
  explicit TReader(TStream* Stream) : TFiler(Stream) {}
  const char* ClassName() const override { return "TReader"; }
  void DefineProperty(const AnsiString& Name, const TReaderProc& ReadData, const TWriterProc& WriteData,
                      bool HasData) override;

  TValueType NextValue();
  TValueType ReadValue();
  void CheckValue(TValueType Value);
  bool EndOfList() { return NextValue() == vaNull; }
  void ReadListBegin() { CheckValue(vaList); }
  void ReadListEnd() { CheckValue(vaNull); }
  void ReadSignature();
  // A short string: one length byte, then the bytes (names).
  AnsiString ReadStr();
  // A string value (6 or 12); a wide value is narrowed through the system code page.
  AnsiString ReadString();
  // A wide value (18), a UTF-8 value (20), or a string value widened through the system code page.
  WideString ReadWideString();
  int32_t ReadInteger();
  int64_t ReadInt64();
  bool ReadBoolean();
  AnsiString ReadIdent();
  // Skips one value of any type.
  void SkipValue();

  // Reads "name = value" pairs until the end marker, into Instance.
  void ReadProperty(TPersistent* Instance);
  // Reads a whole form into Root (or into a new component of the stored class when Root is null).
  TComponent* ReadRootComponent(TComponent* Root);

  [[noreturn]] static void PropValueError();
  [[noreturn]] static void PropertyNotFound(const AnsiString& Name);

 private:
  void ReadComponentData(TComponent* Instance);
  TComponent* ReadComponent(TComponent* Owner);
  void ReadPrefix();
  void Read(void* Buf, int32_t Count);
  uint32_t ReadLength(uint32_t UnitSize);
  AnsiString FPropName;  // the defined property still waiting to be read
  std::vector<TComponent*> FLoaded;
  int FDepth = 0;
};

// Writes form data: published properties (those with a value other than empty or zero), then
// defined properties with data.
class TWriter : public TFiler {
 public:
  explicit TWriter(TStream* Stream) : TFiler(Stream) {}
  const char* ClassName() const override { return "TWriter"; }
  void DefineProperty(const AnsiString& Name, const TReaderProc& ReadData, const TWriterProc& WriteData,
                      bool HasData) override;

  void WriteValue(TValueType Value);
  void WriteListBegin() { WriteValue(vaList); }
  void WriteListEnd() { WriteValue(vaNull); }
  void WriteSignature();
  void WriteStr(const AnsiString& Value);
  // 6 for up to 255 bytes, 12 beyond.
  void WriteString(const AnsiString& Value);
  void WriteWideString(const WideString& Value);
  void WriteUTF8String(const AnsiString& Value);
  void WriteInteger(int32_t Value);
  void WriteBoolean(bool Value);
  void WriteIdent(const AnsiString& Ident);
  // A property name, prefixed with the path of the object being written ("Lines.").
  void WritePropName(const AnsiString& Name);
  void WriteProperties(TPersistent* Instance);
  void WriteRootComponent(TComponent* Root);

 private:
  void WriteComponent(TComponent* Component);
  void Write(const void* Buf, int32_t Count);
  AnsiString FPropPath;
};
