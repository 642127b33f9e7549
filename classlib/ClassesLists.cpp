// Pointer lists and string lists.
#include "classlib/Classes.h"

#include "classlib/WinApi.h"

#include <algorithm>
#include <cstring>

// ---------------------------------------------------------------------------------------------
// TList

void TList::Error(int Index) { throw EListError(Format(ClassesMessages::ListIndexError, Index)); }

int TList::Add(void* Item) {
  FList.push_back(Item);
  return (int)FList.size() - 1;
}

void TList::Insert(int Index, void* Item) {
  if (Index < 0 || Index > Count()) Error(Index);
  FList.insert(FList.begin() + Index, Item);
}

void TList::Delete(int Index) {
  if (Index < 0 || Index >= Count()) Error(Index);
  FList.erase(FList.begin() + Index);
}

int TList::Remove(void* Item) {
  int i = IndexOf(Item);
  if (i >= 0) Delete(i);
  return i;
}

int TList::IndexOf(void* Item) const {
  auto it = std::find(FList.begin(), FList.end(), Item);
  return it == FList.end() ? -1 : (int)(it - FList.begin());
}

void* TList::Extract(void* Item) {
  int i = IndexOf(Item);
  if (i < 0) return nullptr;
  Delete(i);
  return Item;
}

void TList::Exchange(int Index1, int Index2) {
  if (Index1 < 0 || Index1 >= Count()) Error(Index1);
  if (Index2 < 0 || Index2 >= Count()) Error(Index2);
  std::swap(FList[Index1], FList[Index2]);
}

void TList::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  if (NewIndex < 0 || NewIndex >= Count()) Error(NewIndex);
  void* item = Items(CurIndex);
  FList.erase(FList.begin() + CurIndex);
  FList.insert(FList.begin() + NewIndex, item);
}

void TList::Pack() { FList.erase(std::remove(FList.begin(), FList.end(), nullptr), FList.end()); }

void TList::SetCount(int NewCount) {
  if (NewCount < 0) Error(NewCount);
  FList.resize(NewCount, nullptr);
}

void* TList::Items(int Index) const {
  if (Index < 0 || Index >= Count()) Error(Index);
  return FList[Index];
}

void TList::SetItems(int Index, void* Item) {
  if (Index < 0 || Index >= Count()) Error(Index);
  FList[Index] = Item;
}

void TList::Sort(int (*Compare)(void*, void*)) {
  std::stable_sort(FList.begin(), FList.end(), [&](void* a, void* b) { return Compare(a, b) < 0; });
}

// ---------------------------------------------------------------------------------------------
// TStrings

void TStrings::Error(const char* Msg, int Data) { throw EStringListError(Format(Msg, Data)); }

void TStrings::Put(int Index, const AnsiString& S) {
  TObject* obj = GetObject(Index);
  Delete(Index);
  Insert(Index, S);
  PutObject(Index, obj);
}

int TStrings::Add(const AnsiString& S) {
  int i = Count();
  Insert(i, S);
  return i;
}

int TStrings::AddObject(const AnsiString& S, TObject* AObject) {
  int i = Add(S);
  PutObject(i, AObject);
  return i;
}

void TStrings::AddStrings(TStrings* Strings) {
  BeginUpdate();
  for (int i = 0; i < Strings->Count(); ++i) AddObject(Strings->Get(i), Strings->GetObject(i));
  EndUpdate();
}

int TStrings::IndexOf(const AnsiString& S) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Get(i), S)) return i;
  return -1;
}

int TStrings::IndexOfName(const AnsiString& Name) const {
  for (int i = 0; i < Count(); ++i) {
    AnsiString s = Get(i);
    size_t p = s.find('=');
    if (p != AnsiString::npos && SameText(s.substr(0, p), Name)) return i;
  }
  return -1;
}

int TStrings::IndexOfObject(TObject* AObject) const {
  for (int i = 0; i < Count(); ++i)
    if (GetObject(i) == AObject) return i;
  return -1;
}

void TStrings::Exchange(int Index1, int Index2) {
  BeginUpdate();
  AnsiString s = Get(Index1);
  TObject* o = GetObject(Index1);
  Put(Index1, Get(Index2));
  PutObject(Index1, GetObject(Index2));
  Put(Index2, s);
  PutObject(Index2, o);
  EndUpdate();
}

void TStrings::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  BeginUpdate();
  AnsiString s = Get(CurIndex);
  TObject* o = GetObject(CurIndex);
  Delete(CurIndex);
  Insert(NewIndex, s);
  PutObject(NewIndex, o);
  EndUpdate();
}

AnsiString TStrings::Names(int Index) const {
  AnsiString s = Get(Index);
  size_t p = s.find('=');
  return p == AnsiString::npos ? AnsiString() : s.substr(0, p);
}

AnsiString TStrings::Values(const AnsiString& Name) const {
  int i = IndexOfName(Name);
  if (i < 0) return AnsiString();
  AnsiString s = Get(i);
  return s.substr(s.find('=') + 1);
}

void TStrings::SetValues(const AnsiString& Name, const AnsiString& Value) {
  int i = IndexOfName(Name);
  if (Value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  if (i < 0) Add(Name + "=" + Value);
  else Put(i, Name + "=" + Value);
}

AnsiString TStrings::Text() const {
  AnsiString r;
  for (int i = 0; i < Count(); ++i) {
    r += Get(i);
    r += "\r\n";
  }
  return r;
}

void TStrings::SetText(const AnsiString& Value) {
  BeginUpdate();
  Clear();
  size_t i = 0, n = Value.size();
  while (i < n) {
    size_t b = i;
    while (i < n && Value[i] != '\r' && Value[i] != '\n') ++i;
    Add(Value.substr(b, i - b));
    if (i < n && Value[i] == '\r') ++i;
    if (i < n && Value[i] == '\n') ++i;
  }
  EndUpdate();
}

AnsiString TStrings::CommaText() const {
  AnsiString r;
  for (int i = 0; i < Count(); ++i) {
    AnsiString s = Get(i);
    bool quote = s.empty() || s.find_first_of(" ,\"") != AnsiString::npos;
    if (i) r += ',';
    if (!quote) {
      r += s;
      continue;
    }
    r += '"';
    for (char c : s) {
      if (c == '"') r += '"';
      r += c;
    }
    r += '"';
  }
  return r;
}

void TStrings::SetCommaText(const AnsiString& Value) {
  BeginUpdate();
  Clear();
  size_t i = 0, n = Value.size();
  auto skip = [&] { while (i < n && (unsigned char)Value[i] <= ' ') ++i; };
  skip();
  while (i < n) {
    AnsiString item;
    if (Value[i] == '"') {
      ++i;
      while (i < n) {
        if (Value[i] == '"') {
          if (i + 1 < n && Value[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item += Value[i++];
      }
    } else {
      while (i < n && Value[i] != ',' && (unsigned char)Value[i] > ' ') item += Value[i++];
    }
    Add(item);
    skip();
    if (i < n && Value[i] == ',') {
      ++i;
      skip();
    }
  }
  EndUpdate();
}

void TStrings::BeginUpdate() {
  if (FUpdateCount++ == 0) SetUpdateState(true);
}

void TStrings::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0) SetUpdateState(false);
}

void TStrings::LoadFromFile(const AnsiString& FileName) {
  TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&f);
}

void TStrings::LoadFromStream(TStream* Stream) {
  int64_t size = Stream->Size() - Stream->Position();
  if (size < 0) size = 0;
  if (size > 0x7FFFFFFF) throw EStreamError(ClassesMessages::StreamTooLarge);
  AnsiString s((size_t)size, '\0');
  if (size) Stream->ReadBuffer(s.data(), (int32_t)size);
  SetText(s);
}

void TStrings::SaveToFile(const AnsiString& FileName) const {
  TFileStream f(FileName, fmCreate);
  SaveToStream(&f);
}

void TStrings::SaveToStream(TStream* Stream) const {
  AnsiString s = Text();
  if (!s.empty()) Stream->WriteBuffer(s.data(), (int32_t)s.size());
}

void TStrings::Assign(TPersistent* Source) {
  if (auto* src = dynamic_cast<TStrings*>(Source)) {
    BeginUpdate();
    Clear();
    AddStrings(src);
    EndUpdate();
    return;
  }
  TPersistent::Assign(Source);
}

// ---------------------------------------------------------------------------------------------
// TStringList

TStringList::~TStringList() {
  OnChange = nullptr;
  OnChanging = nullptr;
  if (FOwnsObjects)
    for (auto& it : FList) delete it.Obj;
}

AnsiString TStringList::Get(int Index) const {
  if (Index < 0 || Index >= Count()) Error(ClassesMessages::ListIndexError, Index);
  return FList[Index].S;
}

void TStringList::Put(int Index, const AnsiString& S) {
  if (FSorted) throw EStringListError(ClassesMessages::SortedListError);
  if (Index < 0 || Index >= Count()) Error(ClassesMessages::ListIndexError, Index);
  Changing();
  FList[Index].S = S;
  Changed();
}

TObject* TStringList::GetObject(int Index) const {
  if (Index < 0 || Index >= Count()) Error(ClassesMessages::ListIndexError, Index);
  return FList[Index].Obj;
}

void TStringList::PutObject(int Index, TObject* AObject) {
  if (Index < 0 || Index >= Count()) Error(ClassesMessages::ListIndexError, Index);
  Changing();
  FList[Index].Obj = AObject;
  Changed();
}

void TStringList::Insert(int Index, const AnsiString& S) {
  if (FSorted) throw EStringListError(ClassesMessages::SortedListError);
  if (Index < 0 || Index > Count()) Error(ClassesMessages::ListIndexError, Index);
  Changing();
  FList.insert(FList.begin() + Index, Item{S, nullptr});
  Changed();
}

void TStringList::Delete(int Index) {
  if (Index < 0 || Index >= Count()) Error(ClassesMessages::ListIndexError, Index);
  Changing();
  TObject* obj = FList[Index].Obj;
  FList.erase(FList.begin() + Index);
  if (FOwnsObjects) delete obj;
  Changed();
}

void TStringList::Clear() {
  if (FList.empty()) return;
  Changing();
  if (FOwnsObjects)
    for (auto& it : FList) delete it.Obj;
  FList.clear();
  Changed();
}

int TStringList::Add(const AnsiString& S) {
  int index;
  if (!FSorted) {
    index = Count();
  } else if (Find(S, index)) {
    switch (FDuplicates) {
      case dupIgnore: return index;
      case dupError: throw EStringListError(ClassesMessages::DuplicateString);
      case dupAccept: break;
    }
  }
  Changing();
  FList.insert(FList.begin() + index, Item{S, nullptr});
  Changed();
  return index;
}

int TStringList::IndexOf(const AnsiString& S) const {
  if (!FSorted) {
    for (int i = 0; i < Count(); ++i)
      if (CompareStrings(FList[i].S, S) == 0) return i;
    return -1;
  }
  int i;
  return Find(S, i) ? i : -1;
}

bool TStringList::Find(const AnsiString& S, int& Index) const {
  bool found = false;
  int lo = 0, hi = Count() - 1;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int c = CompareStrings(FList[mid].S, S);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (FDuplicates != dupAccept) lo = mid;
      }
    }
  }
  Index = lo;
  return found;
}

void TStringList::Sort() {
  if (FSorted) return;
  CustomSort([](TStringList* L, int a, int b) { return L->CompareStrings(L->FList[a].S, L->FList[b].S); });
}

void TStringList::CustomSort(int (*Compare)(TStringList*, int, int)) {
  if (FList.size() < 2) return;
  Changing();
  // Sort indices with the caller's comparison, then permute.
  std::vector<int> idx(FList.size());
  for (size_t i = 0; i < idx.size(); ++i) idx[i] = (int)i;
  std::stable_sort(idx.begin(), idx.end(), [&](int a, int b) { return Compare(this, a, b) < 0; });
  std::vector<Item> sorted;
  sorted.reserve(FList.size());
  for (int i : idx) sorted.push_back(FList[i]);
  FList.swap(sorted);
  Changed();
}

void TStringList::SetSorted(bool Value) {
  if (FSorted == Value) return;
  if (Value) Sort();
  FSorted = Value;
}

void TStringList::SetCaseSensitive(bool Value) {
  if (FCaseSensitive == Value) return;
  FCaseSensitive = Value;
  if (FSorted) {
    FSorted = false;
    Sort();
    FSorted = true;
  }
}

void TStringList::SetUpdateState(bool Updating) {
  if (Updating) Changing();
  else Changed();
}

void TStringList::Changed() {
  if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::Changing() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

int TStringList::CompareStrings(const AnsiString& S1, const AnsiString& S2) const {
  // The system's locale order, as the 8-bit library compares.
  int r = CompareStringA(LOCALE_USER_DEFAULT, FCaseSensitive ? 0 : NORM_IGNORECASE, S1.data(), (int)S1.size(),
                         S2.data(), (int)S2.size());
  return r - 2;
}

