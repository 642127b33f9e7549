// The abstract list of wide strings: text joining and splitting, name-value access, the update
// counter and assignment. Concrete lists derive from it.
#pragma once
#include "classlib/Classes.h"

// Ordinal comparison of UTF-16 units: below zero, zero or above zero.
int WideCompareStr(const WideString& S1, const WideString& S2);
// Case-insensitive comparison in the user's locale.
int WideCompareText(const WideString& S1, const WideString& S2);

class TWideStrings : public TPersistent {
 public:
  const char* ClassName() const override { return "TWideStrings"; }

  virtual int Count() const = 0;
  virtual WideString Get(int Index) const = 0;
  virtual void Put(int Index, const WideString& S);
  virtual TObject* GetObject(int Index) const { return nullptr; }
  virtual void PutObject(int Index, TObject* AObject) {}
  virtual int GetCapacity() const { return Count(); }
  virtual void SetCapacity(int NewCapacity) {}
  virtual void Insert(int Index, const WideString& S) = 0;
  virtual void InsertObject(int Index, const WideString& S, TObject* AObject);
  virtual void Delete(int Index) = 0;
  virtual void Clear() = 0;
  virtual int Add(const WideString& S);
  virtual int AddObject(const WideString& S, TObject* AObject);
  virtual void Exchange(int Index1, int Index2);
  virtual int IndexOf(const WideString& S) const;
  virtual int IndexOfName(const WideString& Name) const;
  int IndexOfObject(TObject* AObject) const;
  void AddStrings(TWideStrings* Strings);
  void AddStrings(TStrings* Strings);
  virtual void Move(int CurIndex, int NewIndex);

  WideString Strings(int Index) const { return Get(Index); }
  void SetStrings(int Index, const WideString& S) { Put(Index, S); }
  TObject* Objects(int Index) const { return GetObject(Index); }
  void SetObjects(int Index, TObject* AObject) { PutObject(Index, AObject); }
  WideString Names(int Index) const;
  WideString Values(const WideString& Name) const;
  void SetValues(const WideString& Name, const WideString& Value);
  WideString ValueFromIndex(int Index) const;
  wchar_t NameValueSeparator() const { return FNameValueSeparator; }
  void SetNameValueSeparator(wchar_t Value) { FNameValueSeparator = Value; }

  // Every line followed by CR LF. Setting clears the list and adds one line per line: CR, LF
  // and CR LF each end a line, a NUL ends the text, and a final break adds no empty line.
  virtual WideString Text() const;
  virtual void SetText(const WideString& Value);

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }

  // UTF-16LE without a byte-order mark.
  virtual void LoadFromFile(const WideString& FileName);
  virtual void LoadFromStream(TStream* Stream);
  virtual void SaveToFile(const WideString& FileName);
  virtual void SaveToStream(TStream* Stream);

  // From another wide list, or from an 8-bit list widened through the system code page.
  void Assign(TPersistent* Source) override;
  void DefineProperties(TFiler* Filer) override;

 protected:
  // To an 8-bit list, through the system code page.
  void AssignTo(TPersistent* Dest) override;
  virtual void SetUpdateState(bool Updating) {}
  virtual int CompareStrings(const WideString& S1, const WideString& S2) const;
  // Raises EStringListError with Msg formatted with Data.
  [[noreturn]] void Error(const wchar_t* Msg, int Data) const;

 private:
  void ReadData(TReader* Reader);
  void WriteData(TWriter* Writer);
  int FUpdateCount = 0;
  wchar_t FNameValueSeparator = L'=';
};
