#include "classlib/WideStrings.h"

#include "classlib/WinApi.h"

int WideCompareStr(const WideString& S1, const WideString& S2) {
  size_t n = S1.size() < S2.size() ? S1.size() : S2.size();
  for (size_t i = 0; i < n; ++i)
    if (S1[i] != S2[i]) return (int)(uint16_t)S1[i] - (int)(uint16_t)S2[i];
  return (int)S1.size() - (int)S2.size();
}

int WideCompareText(const WideString& S1, const WideString& S2) {
  int r = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, S1.data(), (int)S1.size(), S2.data(),
                         (int)S2.size());
  if (r == 0) return WideCompareStr(S1, S2);
  return r - CSTR_EQUAL;
}

void TWideStrings::Error(const wchar_t* Msg, int Data) const { throw EStringListError(WideFormat(Msg, Data)); }

void TWideStrings::Put(int Index, const WideString& S) {
  TObject* obj = GetObject(Index);
  Delete(Index);
  InsertObject(Index, S, obj);
}

void TWideStrings::InsertObject(int Index, const WideString& S, TObject* AObject) {
  Insert(Index, S);
  PutObject(Index, AObject);
}

int TWideStrings::Add(const WideString& S) {
  int i = Count();
  Insert(i, S);
  return i;
}

int TWideStrings::AddObject(const WideString& S, TObject* AObject) {
  int i = Add(S);
  PutObject(i, AObject);
  return i;
}

void TWideStrings::Exchange(int Index1, int Index2) {
  BeginUpdate();
  try {
    WideString s = Get(Index1);
    TObject* o = GetObject(Index1);
    Put(Index1, Get(Index2));
    PutObject(Index1, GetObject(Index2));
    Put(Index2, s);
    PutObject(Index2, o);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TWideStrings::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  BeginUpdate();
  try {
    WideString s = Get(CurIndex);
    TObject* o = GetObject(CurIndex);
    Delete(CurIndex);
    InsertObject(NewIndex, s, o);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

int TWideStrings::IndexOf(const WideString& S) const {
  for (int i = 0; i < Count(); ++i)
    if (CompareStrings(Get(i), S) == 0) return i;
  return -1;
}

int TWideStrings::IndexOfName(const WideString& Name) const {
  for (int i = 0; i < Count(); ++i) {
    WideString s = Get(i);
    size_t p = s.find(FNameValueSeparator);
    if (p != WideString::npos && CompareStrings(s.substr(0, p), Name) == 0) return i;
  }
  return -1;
}

int TWideStrings::IndexOfObject(TObject* AObject) const {
  for (int i = 0; i < Count(); ++i)
    if (GetObject(i) == AObject) return i;
  return -1;
}

void TWideStrings::AddStrings(TWideStrings* Strings) {
  BeginUpdate();
  try {
    for (int i = 0; i < Strings->Count(); ++i) AddObject(Strings->Get(i), Strings->GetObject(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TWideStrings::AddStrings(TStrings* Strings) {
  BeginUpdate();
  try {
    for (int i = 0; i < Strings->Count(); ++i) AddObject(AnsiToWide(Strings->Get(i)), Strings->GetObject(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

WideString TWideStrings::Names(int Index) const {
  WideString s = Get(Index);
  size_t p = s.find(FNameValueSeparator);
  return p == WideString::npos ? WideString() : s.substr(0, p);
}

WideString TWideStrings::Values(const WideString& Name) const {
  int i = IndexOfName(Name);
  return i < 0 ? WideString() : ValueFromIndex(i);
}

WideString TWideStrings::ValueFromIndex(int Index) const {
  WideString s = Get(Index);
  size_t p = s.find(FNameValueSeparator);
  return p == WideString::npos ? WideString() : s.substr(p + 1);
}

void TWideStrings::SetValues(const WideString& Name, const WideString& Value) {
  int i = IndexOfName(Name);
  if (Value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  WideString line = Name + FNameValueSeparator + Value;
  if (i < 0) Add(line);
  else Put(i, line);
}

WideString TWideStrings::Text() const {
  WideString r;
  for (int i = 0; i < Count(); ++i) {
    r += Get(i);
    r += L"\r\n";
  }
  return r;
}

void TWideStrings::SetText(const WideString& Value) {
  BeginUpdate();
  try {
    Clear();
    const wchar_t* p = Value.c_str();  // a NUL ends the text
    while (*p) {
      const wchar_t* start = p;
      while (*p && *p != L'\r' && *p != L'\n') ++p;
      Add(WideString(start, p - start));
      if (*p == L'\r') ++p;
      if (*p == L'\n') ++p;
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TWideStrings::BeginUpdate() {
  if (FUpdateCount++ == 0) SetUpdateState(true);
}

void TWideStrings::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0) SetUpdateState(false);
}

void TWideStrings::LoadFromFile(const WideString& FileName) {
  TFileStream f(WideToAnsi(FileName), fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&f);
}

void TWideStrings::LoadFromStream(TStream* Stream) {
  int64_t size = Stream->Size() - Stream->Position();
  if (size < 0) size = 0;
  if (size > 0x7FFFFFFE) throw EStreamError("Stream too large");
  WideString w((size_t)(size / 2), L'\0');
  if (!w.empty()) Stream->ReadBuffer(w.data(), (int32_t)(w.size() * 2));
  SetText(w);
}

void TWideStrings::SaveToFile(const WideString& FileName) {
  TFileStream f(WideToAnsi(FileName), fmCreate);
  SaveToStream(&f);
}

void TWideStrings::SaveToStream(TStream* Stream) {
  WideString w = Text();
  if (!w.empty()) Stream->WriteBuffer(w.data(), (int32_t)(w.size() * 2));
}

void TWideStrings::Assign(TPersistent* Source) {
  if (auto* wide = dynamic_cast<TWideStrings*>(Source)) {
    if (wide == this) return;
    BeginUpdate();
    try {
      Clear();
      FNameValueSeparator = wide->FNameValueSeparator;
      AddStrings(wide);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  if (auto* ansi = dynamic_cast<TStrings*>(Source)) {
    BeginUpdate();
    try {
      Clear();
      AddStrings(ansi);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  TPersistent::Assign(Source);
}

void TWideStrings::AssignTo(TPersistent* Dest) {
  if (auto* ansi = dynamic_cast<TStrings*>(Dest)) {
    ansi->BeginUpdate();
    try {
      ansi->Clear();
      for (int i = 0; i < Count(); ++i) ansi->AddObject(WideToAnsi(Get(i)), GetObject(i));
    } catch (...) {
      ansi->EndUpdate();
      throw;
    }
    ansi->EndUpdate();
    return;
  }
  TPersistent::AssignTo(Dest);
}

int TWideStrings::CompareStrings(const WideString& S1, const WideString& S2) const {
  return WideCompareText(S1, S2);
}

void TWideStrings::DefineProperties(TFiler* Filer) {
  Filer->DefineProperty(
      "Strings", [this](TReader* R) { ReadData(R); }, [this](TWriter* W) { WriteData(W); }, Count() > 0);
}

void TWideStrings::ReadData(TReader* Reader) {
  Reader->ReadListBegin();
  BeginUpdate();
  try {
    Clear();
    while (!Reader->EndOfList()) Add(Reader->ReadWideString());
    Reader->ReadListEnd();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TWideStrings::WriteData(TWriter* Writer) {
  Writer->WriteListBegin();
  for (int i = 0; i < Count(); ++i) Writer->WriteWideString(Get(i));
  Writer->WriteListEnd();
}
