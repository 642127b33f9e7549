// Wide string lists with byte-order-mark detection, a file stream opened by a wide name, wide
// text properties in form resources, wide shadows of 8-bit properties and per-component helpers.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/WideStrings.h"

// ---------------------------------------------------------------------------------------------
// File stream

// Mode value that creates (or truncates) the file; any other mode opens an existing file with
// its access (bits 0-1) and sharing (bits 4-7).
constexpr uint16_t fmUniCreate = 0xFFFF;

// Raises EFCreateError "Cannot create file "%s". %s" or EFOpenError "Cannot open file "%s". %s"
// with the full path and the system's message; nothing is left open.
class TUniFileStream : public THandleStream {
 public:
  TUniFileStream(const WideString& FileName, uint16_t Mode);
  const char* ClassName() const override { return "TUniFileStream"; }

 private:
  TFileHandle FFile;
};

// ---------------------------------------------------------------------------------------------
// String lists

// An 8-bit list that can also load and save through a given code page.
class TAnsiStrings : public TStrings {
 public:
  const char* ClassName() const override { return "TAnsiStrings"; }
  virtual void LoadFromStreamEx(TStream* Stream, uint32_t CodePage) = 0;
  virtual void SaveToStreamEx(TStream* Stream, uint32_t CodePage) = 0;
};

// The 8-bit view of a wide list: each line converted through the adapter's code page
// (0: the default code page).
class TAnsiStringsForWideStringsAdapter : public TAnsiStrings {
 public:
  explicit TAnsiStringsForWideStringsAdapter(TWideStrings* WideStrings, uint32_t AdapterCodePage = 0)
      : FWideStrings(WideStrings), FAdapterCodePage(AdapterCodePage) {}
  const char* ClassName() const override { return "TAnsiStringsForWideStringsAdapter"; }
  int Count() const override { return FWideStrings->Count(); }
  AnsiString Get(int Index) const override;
  void Put(int Index, const AnsiString& S) override;
  TObject* GetObject(int Index) const override { return FWideStrings->GetObject(Index); }
  void PutObject(int Index, TObject* AObject) override { FWideStrings->PutObject(Index, AObject); }
  void Insert(int Index, const AnsiString& S) override;
  void Delete(int Index) override { FWideStrings->Delete(Index); }
  void Clear() override { FWideStrings->Clear(); }
  void LoadFromStreamEx(TStream* Stream, uint32_t CodePage) override;
  void SaveToStreamEx(TStream* Stream, uint32_t CodePage) override;
  uint32_t AdapterCodePage() const;

 protected:
  void SetUpdateState(bool Updating) override;

 private:
  TWideStrings* FWideStrings;
  uint32_t FAdapterCodePage;
};

// The encoding of a text file, as LoadFromFile finds it.
enum TUniTextEncoding : uint8_t { encAnsi = 0, encUtf16LE = 1, encUtf16BE = 2, encUtf8 = 3 };

class TUniStrings : public TWideStrings {
 public:
  TUniStrings();
  ~TUniStrings() override;
  const char* ClassName() const override { return "TUniStrings"; }

  // The encoding found by the last LoadFromFile; encUtf16LE before any.
  TUniTextEncoding LastLoadedEncoding() const { return FLastLoadedEncoding; }
  TAnsiStrings* AnsiStrings() const { return FAnsiStrings; }
  // Copies Value's lines into this list (through the 8-bit view).
  void SetAnsiStrings(TStrings* Value);

  void DefineProperties(TFiler* Filer) override;
  // Detects the encoding from a byte-order mark: UTF-16LE, UTF-16BE, UTF-8, else the system code page.
  void LoadFromFile(const WideString& FileName) override;
  void LoadFromStream(TStream* Stream) override { LoadFromStreamEx(Stream, true); }
  // Always UTF-16LE with a byte-order mark, every line followed by CR LF.
  void SaveToFile(const WideString& FileName) override;
  void SaveToStream(TStream* Stream) override { SaveToStreamEx(Stream, true); }
  virtual void LoadFromStreamEx(TStream* Stream, bool DetectBOM);
  virtual void SaveToStreamEx(TStream* Stream, bool WriteBOM);

  // Reads a byte-order mark at the stream's position and leaves the stream after it; gives the
  // bytes back when there is none.
  static TUniTextEncoding DetectEncoding(TStream* Stream);

 private:
  void ReadWideStrings(TReader* Reader);
  void ReadWideStringsW(TReader* Reader);
  void ReadWideStringsUtf7(TReader* Reader);
  TUniTextEncoding FLastLoadedEncoding = encUtf16LE;
  TAnsiStrings* FAnsiStrings;
};

struct TWideStringItem {
  WideString FString;
  TObject* FObject;
};

class TUniStringList : public TUniStrings {
 public:
  TUniStringList() = default;
  // No notification while the list goes away.
  ~TUniStringList() override;
  const char* ClassName() const override { return "TUniStringList"; }

  int Count() const override { return FCount; }
  WideString Get(int Index) const override;
  void Put(int Index, const WideString& S) override;
  TObject* GetObject(int Index) const override;
  void PutObject(int Index, TObject* AObject) override;
  int GetCapacity() const override { return FCapacity; }
  void SetCapacity(int NewCapacity) override;
  int Add(const WideString& S) override { return AddObject(S, nullptr); }
  int AddObject(const WideString& S, TObject* AObject) override;
  void Clear() override;
  void Delete(int Index) override;
  void Exchange(int Index1, int Index2) override;
  int IndexOf(const WideString& S) const override;
  int IndexOfName(const WideString& Name) const override;
  void Insert(int Index, const WideString& S) override { InsertObject(Index, S, nullptr); }
  void InsertObject(int Index, const WideString& S, TObject* AObject) override;

  // Binary search of a sorted list: true when S is there; Index is the match (the leftmost one
  // when duplicates are accepted) or the insertion point.
  virtual bool Find(const WideString& S, int& Index) const;
  virtual void Sort();
  // Quicksort with Compare (below zero, zero, above zero); does nothing on a sorted list.
  virtual void CustomSort(const std::function<int(TUniStringList* List, int Index1, int Index2)>& Compare);

  bool Sorted() const { return FSorted; }
  void SetSorted(bool Value);
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates Value) { FDuplicates = Value; }
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool Value);

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  void SetUpdateState(bool Updating) override;
  int CompareStrings(const WideString& S1, const WideString& S2) const override;
  virtual void Changed();
  virtual void Changing();
  virtual void InsertItem(int Index, const WideString& S, TObject* AObject);

 private:
  void CheckIndex(int Index) const;
  void Grow();
  void ExchangeItems(int Index1, int Index2);
  void QuickSort(int L, int R, const std::function<int(TUniStringList*, int, int)>& Compare);

  bool FUpdating = false;
  std::vector<TWideStringItem> FList;  // FCapacity entries, the first FCount in use
  int FCount = 0;
  int FCapacity = 0;
  bool FSorted = false;
  TDuplicates FDuplicates = dupIgnore;
  bool FCaseSensitive = false;
};

// ---------------------------------------------------------------------------------------------
// Wide text properties in form resources

// Declares, for every published wide-string and wide-character property of Instance, the
// read-only form properties "<Name>W" and "<Name>_UTF7". Call it from DefineProperties.
void DefineWideProperties(TFiler* Filer, TPersistent* Instance);

// Defines and reads the extra properties of one wide-string property.
class TUniWideStringPropertyFiler : public TObject {
 public:
  const char* ClassName() const override { return "TUniWideStringPropertyFiler"; }
  void DefineProperties(TFiler* Filer, TPersistent* Instance, const AnsiString& PropName);

 private:
  void ReadDataW(TReader* Reader);
  void ReadDataUtf7(TReader* Reader);
  TPersistent* FInstance = nullptr;
  AnsiString FPropName;
};

// Defines and reads the extra properties of one wide-character property.
class TUniWideCharPropertyFiler : public TObject {
 public:
  const char* ClassName() const override { return "TUniWideCharPropertyFiler"; }
  void DefineProperties(TFiler* Filer, TPersistent* Instance, const AnsiString& PropName);

 private:
  void ReadDataW(TReader* Reader);
  void ReadDataUtf7(TReader* Reader);
  void SetChar(wchar_t Ch);
  TPersistent* FInstance = nullptr;
  AnsiString FPropName;
};

// ---------------------------------------------------------------------------------------------
// Wide shadows of 8-bit properties

// The wide value kept beside an 8-bit property: Shadow, unless the 8-bit value was changed
// behind it (then the 8-bit value widened becomes the shadow).
WideString ReadWideShadow(WideString& Shadow, const AnsiString& AnsiValue);
// Stores Value as the shadow and its 8-bit form through SetAnsi. When Value is lost in the
// 8-bit form and that form equals the current 8-bit value, SetAnsi first gets an empty text so
// that the change is signalled.
void WriteWideShadow(const WideString& Value, WideString& Shadow, const AnsiString& AnsiValue,
                     const std::function<void(const AnsiString&)>& SetAnsi);

// ---------------------------------------------------------------------------------------------
// Per-component helpers

class TWideComponentHelper;

// Helpers sorted by the address of the component each serves; frees the helpers left in it.
class TWideComponentHelperList : public TObject {
 public:
  ~TWideComponentHelperList() override;
  const char* ClassName() const override { return "TWideComponentHelperList"; }
  int Count() const { return (int)FItems.size(); }
  TWideComponentHelper* Items(int Index) const;

 private:
  friend class TWideComponentHelper;
  friend TWideComponentHelper* FindWideComponentHelper(TWideComponentHelperList*, TComponent*);
  // Binary search by address: true when found; Index is the match or the insertion point.
  bool Find(TComponent* Component, int& Index) const;
  std::vector<TWideComponentHelper*> FItems;
};

class TWideComponentHelper : public TComponent {
 public:
  // The plain constructor is not to be used: it raises EUniInternalError.
  explicit TWideComponentHelper(TComponent* AOwner);
  // Serves Component: asks it for a free notification and enters HelperList in address order.
  TWideComponentHelper(TComponent* AComponent, TWideComponentHelperList* HelperList);
  ~TWideComponentHelper() override;
  const char* ClassName() const override { return "TWideComponentHelper"; }
  TComponent* Component() const { return FComponent; }

 protected:
  // Frees the helper when its component goes.
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  TComponent* FComponent = nullptr;
  TWideComponentHelperList* FHelperList = nullptr;
};

// The helper that serves Component, or null.
TWideComponentHelper* FindWideComponentHelper(TWideComponentHelperList* HelperList, TComponent* Component);
