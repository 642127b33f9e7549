#include "classlib/Classes.h"

#include "classlib/WinApi.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>

#include "classlib/SyncObjs.h"
#include "classlib/TypInfo.h"

// ---------------------------------------------------------------------------------------------
// TPersistent

void TPersistent::Assign(TPersistent* Source) {
  if (Source) {
    Source->AssignTo(this);
    return;
  }
  AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* Dest) {
  // Source is this; Dest is the object asked to take it.
  const char* src = ClassName();
  if (Dest == this) src = "nil";
  throw EConvertError(Format("Cannot assign a %s to a %s", src, Dest->ClassName()));
}

// ---------------------------------------------------------------------------------------------
// TComponent

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  NotifyFreeNotifications();
  DestroyComponents();
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::operator delete(TComponent* Component, std::destroying_delete_t) {
  Component->BeforeDestruction();
  Component->~TComponent();  // virtual: the most derived destructor first
  ::operator delete(Component);
}

void* TComponent::operator new(size_t Size) { return ::operator new(Size); }

void TComponent::operator delete(void* Memory) { ::operator delete(Memory); }

void TComponent::NotifyFreeNotifications() {
  // Everyone that asked to be told about this component (or that this one asked about).
  while (!FFreeNotifies.empty()) {
    TComponent* c = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    c->RemoveNotification(this);
    c->Notification(this, opRemove);
  }
}

TComponent* TComponent::Components(int Index) const {
  if (Index < 0 || Index >= (int)FComponents.size())
    throw EListError(Format("List index out of bounds (%d)", Index));
  return FComponents[Index];
}

int TComponent::ComponentIndex() const {
  if (!FOwner) return -1;
  auto& l = FOwner->FComponents;
  auto it = std::find(l.begin(), l.end(), this);
  return it == l.end() ? -1 : (int)(it - l.begin());
}

TComponent* TComponent::FindComponent(const AnsiString& AName) const {
  if (AName.empty()) return nullptr;
  for (TComponent* c : FComponents)
    if (SameText(c->FName, AName)) return c;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (AComponent->FOwner) AComponent->FOwner->RemoveComponent(AComponent);
  Insert(AComponent);
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  Notification(AComponent, opRemove);
  Remove(AComponent);
}

void TComponent::Insert(TComponent* AComponent) {
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
}

void TComponent::Remove(TComponent* AComponent) {
  auto it = std::find(FComponents.begin(), FComponents.end(), AComponent);
  if (it != FComponents.end()) FComponents.erase(it);
  AComponent->FOwner = nullptr;
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    Remove(c);
    delete c;
  }
}

void TComponent::Destroying() {
  if (FComponentState & csDestroying) return;
  FComponentState |= csDestroying;
  for (TComponent* c : FComponents) c->Destroying();
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent) RemoveFreeNotification(AComponent);
  // Iterate by index from the end: a handler may free components of this list.
  for (int i = (int)FComponents.size() - 1; i >= 0; --i) {
    if (i >= (int)FComponents.size()) continue;
    FComponents[i]->Notification(AComponent, Operation);
  }
}

void TComponent::Loaded() { FComponentState &= ~csLoading; }

void TComponent::SetComponentStateFlag(uint32_t Flag, bool On) {
  if (On) FComponentState |= Flag;
  else FComponentState &= ~Flag;
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end()) {
    FFreeNotifies.push_back(AComponent);
    AComponent->FreeNotification(this);
  }
  FComponentState |= csFreeNotification;
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  RemoveNotification(AComponent);
  if (AComponent) AComponent->RemoveNotification(this);
}

void TComponent::RemoveNotification(TComponent* AComponent) {
  auto it = std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent);
  if (it != FFreeNotifies.end()) FFreeNotifies.erase(it);
}

// ---------------------------------------------------------------------------------------------
// TList

void TList::Error(int Index) { throw EListError(Format("List index out of bounds (%d)", Index)); }

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
  if (size > 0x7FFFFFFF) throw EStreamError("Stream too large");
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
  if (Index < 0 || Index >= Count()) Error("List index out of bounds (%d)", Index);
  return FList[Index].S;
}

void TStringList::Put(int Index, const AnsiString& S) {
  if (FSorted) throw EStringListError("Operation not allowed on sorted list");
  if (Index < 0 || Index >= Count()) Error("List index out of bounds (%d)", Index);
  Changing();
  FList[Index].S = S;
  Changed();
}

TObject* TStringList::GetObject(int Index) const {
  if (Index < 0 || Index >= Count()) Error("List index out of bounds (%d)", Index);
  return FList[Index].Obj;
}

void TStringList::PutObject(int Index, TObject* AObject) {
  if (Index < 0 || Index >= Count()) Error("List index out of bounds (%d)", Index);
  Changing();
  FList[Index].Obj = AObject;
  Changed();
}

void TStringList::Insert(int Index, const AnsiString& S) {
  if (FSorted) throw EStringListError("Operation not allowed on sorted list");
  if (Index < 0 || Index > Count()) Error("List index out of bounds (%d)", Index);
  Changing();
  FList.insert(FList.begin() + Index, Item{S, nullptr});
  Changed();
}

void TStringList::Delete(int Index) {
  if (Index < 0 || Index >= Count()) Error("List index out of bounds (%d)", Index);
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
      case dupError: throw EStringListError("String list does not allow duplicates");
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

// ---------------------------------------------------------------------------------------------
// TStream

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::SetSize(int64_t) {}

void TStream::ReadBuffer(void* Buffer, int32_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int32_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream* Source, int64_t Count) {
  if (Count == 0) {
    Source->SetPosition(0);
    Count = Source->Size();
  }
  int64_t result = Count;
  const int32_t kMax = 0xF000;
  std::unique_ptr<char[]> buf(new char[kMax]);
  while (Count > 0) {
    int32_t n = Count > kMax ? kMax : (int32_t)Count;
    Source->ReadBuffer(buf.get(), n);
    WriteBuffer(buf.get(), n);
    Count -= n;
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// THandleStream / TFileStream

int32_t THandleStream::Read(void* Buffer, int32_t Count) {
  DWORD n = 0;
  if (Count <= 0 || !ReadFile(FHandle, Buffer, (DWORD)Count, &n, nullptr)) return Count <= 0 ? 0 : -1;
  return (int32_t)n;
}

int32_t THandleStream::Write(const void* Buffer, int32_t Count) {
  DWORD n = 0;
  if (Count <= 0 || !WriteFile(FHandle, Buffer, (DWORD)Count, &n, nullptr)) return Count <= 0 ? 0 : -1;
  return (int32_t)n;
}

int64_t THandleStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  LARGE_INTEGER li, out;
  li.QuadPart = Offset;
  if (!SetFilePointerEx(FHandle, li, &out, (DWORD)Origin)) return -1;
  return out.QuadPart;
}

void THandleStream::SetSize(int64_t NewSize) {
  Seek(NewSize, soBeginning);
  Win32Check(SetEndOfFile(FHandle) != 0);
}

TFileStream::TFileStream(const AnsiString& FileName, uint16_t Mode) : THandleStream(INVALID_HANDLE_VALUE) {
  FFileName = FileName;
  static const DWORD access[3] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
  static const DWORD share[5] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE};
  if ((Mode & 0xFF00) == fmCreate) {
    unsigned sh = (Mode & 0xF0) >> 4;
    FHandle = CreateFileA(FileName.c_str(), GENERIC_READ | GENERIC_WRITE, sh <= 4 ? share[sh] : 0, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (FHandle == INVALID_HANDLE_VALUE)
      throw EFCreateError(WideFormat(L"Cannot create file \"%s\". %s", AnsiToWide(FileName).c_str(),
                                     SysErrorMessage(GetLastError()).c_str()));
    return;
  }
  unsigned acc = Mode & 3, sh = (Mode & 0xF0) >> 4;
  if (acc > 2 || sh > 4)
    throw EFOpenError(WideFormat(L"Cannot open file \"%s\". %s", AnsiToWide(FileName).c_str(),
                                 SysErrorMessage(ERROR_INVALID_PARAMETER).c_str()));
  FHandle = CreateFileA(FileName.c_str(), access[acc], share[sh], nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
  if (FHandle == INVALID_HANDLE_VALUE)
    throw EFOpenError(WideFormat(L"Cannot open file \"%s\". %s", AnsiToWide(FileName).c_str(),
                                 SysErrorMessage(GetLastError()).c_str()));
}

TFileStream::~TFileStream() {
  if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
}

// ---------------------------------------------------------------------------------------------
// Memory streams

int32_t TCustomMemoryStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || FPosition < 0 || FPosition >= FSize) return 0;
  int64_t n = FSize - FPosition;
  if (n > Count) n = Count;
  std::memcpy(Buffer, static_cast<char*>(FMemory) + FPosition, (size_t)n);
  FPosition += n;
  return (int32_t)n;
}

int64_t TCustomMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  switch (Origin) {
    case soBeginning: FPosition = Offset; break;
    case soCurrent: FPosition += Offset; break;
    case soEnd: FPosition = FSize + Offset; break;
  }
  return FPosition;
}

void TCustomMemoryStream::SetPointer(void* Ptr, int64_t Size) {
  FMemory = Ptr;
  FSize = Size;
}

void TCustomMemoryStream::SaveToStream(TStream* Stream) {
  if (FSize) Stream->WriteBuffer(FMemory, (int32_t)FSize);
}

void TCustomMemoryStream::SaveToFile(const AnsiString& FileName) {
  TFileStream f(FileName, fmCreate);
  SaveToStream(&f);
}

TMemoryStream::~TMemoryStream() { std::free(FMemory); }

void TMemoryStream::SetCapacity(int64_t NewCapacity) {
  if (NewCapacity == FCapacity) return;
  if (NewCapacity > 0x7FFFFFFF) throw EOutOfMemory("Out of memory");
  if (NewCapacity == 0) {
    std::free(FMemory);
    FMemory = nullptr;
  } else {
    void* p = std::realloc(FMemory, (size_t)NewCapacity);
    if (!p) throw EOutOfMemory("Out of memory");
    FMemory = p;
  }
  FCapacity = NewCapacity;
}

void TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) NewSize = 0;
  int64_t old = FSize;
  if (NewSize > FCapacity) SetCapacity((NewSize + 0x1FFF) & ~int64_t(0x1FFF));
  FSize = NewSize;
  if (old < NewSize) std::memset(static_cast<char*>(FMemory) + old, 0, (size_t)(NewSize - old));
  if (FPosition > NewSize) FPosition = NewSize;
}

int32_t TMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0 || FPosition < 0) return 0;
  int64_t end = FPosition + Count;
  if (end > FSize) {
    if (end > FCapacity) {
      int64_t cap = FCapacity + FCapacity / 2;
      if (cap < end) cap = end;
      SetCapacity((cap + 0x1FFF) & ~int64_t(0x1FFF));
    }
    if (FPosition > FSize) std::memset(static_cast<char*>(FMemory) + FSize, 0, (size_t)(FPosition - FSize));
    FSize = end;
  }
  std::memcpy(static_cast<char*>(FMemory) + FPosition, Buffer, (size_t)Count);
  FPosition = end;
  return Count;
}

void TMemoryStream::Clear() {
  SetCapacity(0);
  FSize = 0;
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream* Stream) {
  Stream->SetPosition(0);
  int64_t n = Stream->Size();
  SetSize(n);
  if (n) Stream->ReadBuffer(FMemory, (int32_t)n);
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const AnsiString& FileName) {
  TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&f);
}

TResourceStream::TResourceStream(void* Instance, const AnsiString& ResName, const char* ResType) {
  Initialize(Instance, ResName.c_str(), ResType);
}

TResourceStream::TResourceStream(void* Instance, int ResID, const char* ResType) {
  Initialize(Instance, MAKEINTRESOURCEA(ResID), ResType);
}

void TResourceStream::Initialize(void* Instance, const char* Name, const char* ResType) {
  HMODULE mod = static_cast<HMODULE>(Instance);
  HRSRC res = FindResourceA(mod, Name, ResType);
  if (!res) {
    AnsiString n = IS_INTRESOURCE(Name) ? IntToStr((uintptr_t)Name) : AnsiString(Name);
    throw EResNotFound(Format("Resource %s not found", n.c_str()));
  }
  HGLOBAL h = LoadResource(mod, res);
  if (!h) RaiseLastOSError();
  SetPointer(LockResource(h), SizeofResource(mod, res));
}

int32_t TResourceStream::Write(const void*, int32_t) { throw EStreamError("Can't write to a read-only resource stream"); }

// ---------------------------------------------------------------------------------------------
// Threads and synchronisation

uint32_t MainThreadID = GetCurrentThreadId();
std::function<void()> WakeMainThread;

namespace {
struct SyncRecord {
  std::function<void()> Method;
  HANDLE Done = nullptr;         // set when the call has run (null for queued calls)
  std::exception_ptr Error;
};

struct SyncQueue {
  CRITICAL_SECTION Lock;
  HANDLE Event;  // manual reset: set while records wait
  std::deque<SyncRecord*> Records;
  SyncQueue() {
    InitializeCriticalSection(&Lock);
    Event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
};

SyncQueue& Sync() {
  static SyncQueue* q = new SyncQueue();  // lives until the process ends
  return *q;
}

void Enqueue(SyncRecord* R) {
  SyncQueue& q = Sync();
  EnterCriticalSection(&q.Lock);
  q.Records.push_back(R);
  SetEvent(q.Event);
  LeaveCriticalSection(&q.Lock);
  if (WakeMainThread) WakeMainThread();
}
}  // namespace

void* SyncEvent() { return Sync().Event; }

bool CheckSynchronize(uint32_t Timeout) {
  if (GetCurrentThreadId() != MainThreadID) return false;
  SyncQueue& q = Sync();
  if (Timeout) WaitForSingleObject(q.Event, Timeout);
  bool ran = false;
  for (;;) {
    EnterCriticalSection(&q.Lock);
    if (q.Records.empty()) {
      ResetEvent(q.Event);
      LeaveCriticalSection(&q.Lock);
      return ran;
    }
    SyncRecord* r = q.Records.front();
    q.Records.pop_front();
    LeaveCriticalSection(&q.Lock);
    ran = true;
    if (r->Done) {
      try {
        r->Method();
      } catch (...) {
        r->Error = std::current_exception();
      }
      SetEvent(r->Done);
    } else {
      try {
        r->Method();
      } catch (...) {
        // A queued call has nobody waiting for it; nothing may escape into the message loop.
      }
      delete r;
    }
  }
}

void TThread::Synchronize(TThread*, const std::function<void()>& Method) {
  if (GetCurrentThreadId() == MainThreadID) {
    Method();
    return;
  }
  SyncRecord r;
  r.Method = Method;
  r.Done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!r.Done) RaiseLastOSError();
  Enqueue(&r);
  WaitForSingleObject(r.Done, INFINITE);
  CloseHandle(r.Done);
  if (r.Error) std::rethrow_exception(r.Error);
}

void TThread::Queue(const std::function<void()>& Method) {
  auto* r = new SyncRecord();
  r->Method = Method;
  Enqueue(r);
}

TThread::TThread(bool CreateSuspended) {
  DWORD id = 0;
  FHandle = CreateThread(nullptr, 0, &TThread::ThreadProc, this, CREATE_SUSPENDED, &id);
  if (!FHandle)
    throw EThread(WideFormat(L"Thread creation error: %s", SysErrorMessage(GetLastError()).c_str()));
  FThreadID = id;
  FSuspended = true;
  (void)CreateSuspended;  // the creator starts the thread once the object is whole
}

TThread::~TThread() {
  if (FHandle) {
    if (FStarted && !FFinished) {
      Terminate();
      WaitFor();
    } else if (!FStarted) {
      // Never ran: let the system thread end without touching this object.
      FFreeOnTerminate = false;
      FTerminated = true;
      FStarted = true;
      ResumeThread(FHandle);
      WaitForSingleObject(FHandle, INFINITE);
    }
    CloseHandle(FHandle);
  }
}

void TThread::Start() {
  if (FStarted && !FSuspended) return;
  FStarted = true;
  FSuspended = false;
  ResumeThread(FHandle);
}

void TThread::Suspend() {
  FSuspended = true;
  SuspendThread(FHandle);
}

uint32_t TThread::WaitFor() {
  if (GetCurrentThreadId() == FThreadID) throw EThread("Cannot call WaitFor on the thread itself");
  WaitForHandle(FHandle, INFINITE_WAIT);
  DWORD code = 0;
  GetExitCodeThread(FHandle, &code);
  return code;
}

static const int kPriorities[] = {THREAD_PRIORITY_IDLE,   THREAD_PRIORITY_LOWEST,  THREAD_PRIORITY_BELOW_NORMAL,
                                  THREAD_PRIORITY_NORMAL, THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                  THREAD_PRIORITY_TIME_CRITICAL};

TThreadPriority TThread::Priority() const {
  int p = GetThreadPriority(FHandle);
  for (int i = 0; i < 7; ++i)
    if (kPriorities[i] == p) return (TThreadPriority)i;
  return tpNormal;
}

void TThread::SetPriority(TThreadPriority Value) { SetThreadPriority(FHandle, kPriorities[Value]); }

void TThread::DoTerminate() {
  if (OnTerminate) Synchronize([this] { OnTerminate(this); });
}

unsigned long __stdcall TThread::ThreadProc(void* Param) {
  auto* t = static_cast<TThread*>(Param);
  if (t->FTerminated && !t->FFreeOnTerminate && t->FSuspended) return 0;  // destroyed before it started
  bool freeIt = false;
  DWORD result = 0;
  try {
    if (!t->FTerminated) t->Execute();
  } catch (...) {
    t->FFatalException = std::current_exception();
  }
  freeIt = t->FFreeOnTerminate;
  result = (DWORD)t->FReturnValue;
  try {
    t->DoTerminate();
  } catch (...) {
    // An OnTerminate that raised: the thread has ended all the same.
  }
  t->FFinished = true;
  if (freeIt) {
    // The object goes; its handle is closed by the destructor, the thread ends after it.
    HANDLE h = t->FHandle;
    t->FHandle = nullptr;
    CloseHandle(h);
    delete t;
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// Form streaming

namespace {
// Lists and components nest; deeper data is taken as malformed rather than recursed into.
constexpr int kMaxFormDepth = 256;
}  // namespace

void TReader::PropValueError() { throw EReadError("Invalid property value"); }

void TReader::PropertyNotFound(const AnsiString& Name) {
  throw EReadError(Format("Property %s does not exist", Name.c_str()));
}

void TReader::Read(void* Buf, int32_t Count) { FStream->ReadBuffer(Buf, Count); }

uint32_t TReader::ReadLength(uint32_t UnitSize) {
  uint32_t n;
  Read(&n, 4);
  int64_t left = FStream->Size() - FStream->Position();
  if ((int64_t)n * UnitSize > left) throw EReadError("Stream read error");
  return n;
}

void TReader::DefineProperty(const AnsiString& Name, const TReaderProc& ReadData, const TWriterProc&, bool) {
  if (!FPropName.empty() && ReadData && SameText(Name, FPropName)) {
    FPropName.clear();
    ReadData(this);
  }
}

TValueType TReader::NextValue() {
  TValueType v = ReadValue();
  FStream->Seek(-1, soCurrent);
  return v;
}

TValueType TReader::ReadValue() {
  uint8_t b;
  Read(&b, 1);
  return (TValueType)b;
}

void TReader::CheckValue(TValueType Value) {
  if (ReadValue() != Value) {
    FStream->Seek(-1, soCurrent);
    SkipValue();
    PropValueError();
  }
}

void TReader::ReadSignature() {
  char sig[4];
  Read(sig, 4);
  if (std::memcmp(sig, "TPF0", 4) != 0) throw EReadError("Invalid stream format");
}

AnsiString TReader::ReadStr() {
  uint8_t n;
  Read(&n, 1);
  AnsiString s(n, '\0');
  if (n) Read(s.data(), n);
  return s;
}

AnsiString TReader::ReadString() {
  switch (NextValue()) {
    case vaWString:
    case vaUTF8String: return WideToAnsi(ReadWideString());
    default: break;
  }
  TValueType t = ReadValue();
  uint32_t n;
  if (t == vaString) {
    uint8_t b;
    Read(&b, 1);
    n = b;
  } else if (t == vaLString) {
    n = ReadLength(1);
  } else {
    FStream->Seek(-1, soCurrent);
    SkipValue();
    PropValueError();
  }
  AnsiString s(n, '\0');
  if (n) Read(s.data(), (int32_t)n);
  return s;
}

WideString TReader::ReadWideString() {
  TValueType t = NextValue();
  if (t == vaString || t == vaLString) return AnsiToWide(ReadString());
  ReadValue();
  if (t == vaWString) {
    uint32_t n = ReadLength(2);
    WideString w(n, L'\0');
    if (n) Read(w.data(), (int32_t)(n * 2));
    return w;
  }
  if (t == vaUTF8String) {
    uint32_t n = ReadLength(1);
    AnsiString s(n, '\0');
    if (n) Read(s.data(), (int32_t)n);
    if (s.empty()) return WideString();
    int len = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
    WideString w(len > 0 ? len : 0, L'\0');
    if (len > 0) MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), w.data(), len);
    return w;
  }
  FStream->Seek(-1, soCurrent);
  SkipValue();
  PropValueError();
}

int64_t TReader::ReadInt64() {
  switch (ReadValue()) {
    case vaInt8: { int8_t v; Read(&v, 1); return v; }
    case vaInt16: { int16_t v; Read(&v, 2); return v; }
    case vaInt32: { int32_t v; Read(&v, 4); return v; }
    case vaInt64: { int64_t v; Read(&v, 8); return v; }
    default:
      FStream->Seek(-1, soCurrent);
      SkipValue();
      PropValueError();
  }
}

int32_t TReader::ReadInteger() {
  int64_t v = ReadInt64();
  if (v < INT32_MIN || v > INT32_MAX) PropValueError();
  return (int32_t)v;
}

bool TReader::ReadBoolean() {
  TValueType t = ReadValue();
  if (t == vaTrue) return true;
  if (t == vaFalse) return false;
  FStream->Seek(-1, soCurrent);
  SkipValue();
  PropValueError();
}

AnsiString TReader::ReadIdent() {
  TValueType t = ReadValue();
  switch (t) {
    case vaIdent: return ReadStr();
    case vaFalse: return "False";
    case vaTrue: return "True";
    case vaNil: return "nil";
    case vaNull: return "Null";
    default:
      FStream->Seek(-1, soCurrent);
      SkipValue();
      PropValueError();
  }
}

void TReader::SkipValue() {
  if (++FDepth > kMaxFormDepth) {
    FDepth = 0;
    throw EReadError("Invalid stream format");
  }
  struct Leave {
    int& D;
    ~Leave() { if (D > 0) --D; }
  } leave{FDepth};
  TValueType t = ReadValue();
  switch (t) {
    case vaNull: case vaFalse: case vaTrue: case vaNil: return;
    case vaList:
      while (!EndOfList()) SkipValue();
      ReadListEnd();
      return;
    case vaInt8: FStream->Seek(1, soCurrent); return;
    case vaInt16: FStream->Seek(2, soCurrent); return;
    case vaInt32: case vaSingle: FStream->Seek(4, soCurrent); return;
    case vaInt64: case vaCurrency: case vaDate: FStream->Seek(8, soCurrent); return;
    case vaExtended: FStream->Seek(10, soCurrent); return;
    case vaString: case vaIdent: ReadStr(); return;
    case vaLString: case vaBinary: case vaUTF8String: FStream->Seek(ReadLength(1), soCurrent); return;
    case vaWString: FStream->Seek((int64_t)ReadLength(2) * 2, soCurrent); return;
    case vaSet:
      for (int i = 0; i < 4096; ++i)
        if (ReadStr().empty()) return;
      throw EReadError("Invalid stream format");
    case vaCollection:
      while (!EndOfList()) {
        TValueType n = NextValue();
        if (n == vaInt8 || n == vaInt16 || n == vaInt32) ReadInteger();
        ReadListBegin();
        while (!EndOfList()) SkipValue();
        ReadListEnd();
      }
      ReadListEnd();
      return;
    default: throw EReadError("Invalid stream format");
  }
}

void TReader::ReadProperty(TPersistent* AInstance) {
  AnsiString path = ReadStr();
  TPersistent* instance = AInstance;
  size_t start = 0;
  for (;;) {
    size_t dot = path.find('.', start);
    if (dot == AnsiString::npos) break;
    AnsiString part = path.substr(start, dot - start);
    const TPropInfo* p = GetPropInfo(instance, part);
    TPersistent* sub = p && p->Kind == tkClass && p->GetObj ? p->GetObj(instance) : nullptr;
    if (!sub) {
      SkipValue();
      PropertyNotFound(path);
    }
    instance = sub;
    start = dot + 1;
  }
  AnsiString name = path.substr(start);
  const TPropInfo* p = GetPropInfo(instance, name);
  if (!p) {
    FPropName = name;
    instance->DefineProperties(this);
    if (!FPropName.empty()) {
      FPropName.clear();
      SkipValue();
      PropertyNotFound(name);
    }
    return;
  }
  switch (p->Kind) {
    case tkInteger: p->SetOrd(instance, ReadInteger()); break;
    case tkEnumeration: p->SetOrd(instance, ReadBoolean() ? 1 : 0); break;
    case tkChar: {
      AnsiString s = ReadString();
      if (s.size() != 1) PropValueError();
      p->SetOrd(instance, (unsigned char)s[0]);
      break;
    }
    case tkWChar: {
      WideString w = ReadWideString();
      if (w.size() != 1) PropValueError();
      p->SetOrd(instance, (uint16_t)w[0]);
      break;
    }
    case tkString:
    case tkLString: p->SetStr(instance, ReadString()); break;
    case tkWString: p->SetWStr(instance, ReadWideString()); break;
    default: SkipValue(); PropValueError();
  }
}

void TReader::ReadPrefix() {
  // Filer flags (inherited, child position, inline) in the high nibble of an optional first byte.
  uint8_t b;
  Read(&b, 1);
  if ((b & 0xF0) != 0xF0) {
    FStream->Seek(-1, soCurrent);
    return;
  }
  if (b & 0x02) ReadInteger();  // child position
}

void TReader::ReadComponentData(TComponent* Instance) {
  while (!EndOfList()) ReadProperty(Instance);
  ReadListEnd();
  while (!EndOfList()) ReadComponent(FRoot);
  ReadListEnd();
}

TComponent* TReader::ReadComponent(TComponent* Owner) {
  if (++FDepth > kMaxFormDepth) {
    FDepth = 0;
    throw EReadError("Invalid stream format");
  }
  ReadPrefix();
  AnsiString className = ReadStr();
  AnsiString name = ReadStr();
  TComponent* c = Owner ? Owner->FindComponent(name) : nullptr;
  bool created = false;
  if (!c) {
    const TClassInfo* info = FindClassInfo(className);
    if (!info || !info->Create) throw EReadError(Format("Class %s not found", className.c_str()));
    c = info->Create(Owner);
    created = true;
  }
  try {
    c->SetName(name);
    c->SetComponentStateFlag(csLoading | csReading, true);
    FLoaded.push_back(c);
    ReadComponentData(c);
  } catch (...) {
    if (created) {
      FLoaded.erase(std::remove(FLoaded.begin(), FLoaded.end(), c), FLoaded.end());
      delete c;
    }
    throw;
  }
  --FDepth;
  return c;
}

TComponent* TReader::ReadRootComponent(TComponent* Root) {
  ReadSignature();
  ReadPrefix();
  AnsiString className = ReadStr();
  AnsiString name = ReadStr();
  bool created = false;
  if (!Root) {
    const TClassInfo* info = FindClassInfo(className);
    if (!info || !info->Create) throw EReadError(Format("Class %s not found", className.c_str()));
    Root = info->Create(nullptr);
    created = true;
  }
  FRoot = Root;
  FLoaded.clear();
  FDepth = 0;
  try {
    Root->SetName(name);
    Root->SetComponentStateFlag(csLoading | csReading, true);
    FLoaded.push_back(Root);
    ReadComponentData(Root);
  } catch (...) {
    for (TComponent* c : FLoaded) c->SetComponentStateFlag(csLoading | csReading, false);
    FLoaded.clear();
    if (created) delete Root;
    throw;
  }
  std::vector<TComponent*> loaded;
  loaded.swap(FLoaded);
  for (TComponent* c : loaded) c->SetComponentStateFlag(csReading, false);
  for (TComponent* c : loaded) c->Loaded();
  return Root;
}

// ---- TWriter

void TWriter::Write(const void* Buf, int32_t Count) { FStream->WriteBuffer(Buf, Count); }

void TWriter::DefineProperty(const AnsiString& Name, const TReaderProc&, const TWriterProc& WriteData, bool HasData) {
  if (!HasData || !WriteData) return;
  WritePropName(Name);
  WriteData(this);
}

void TWriter::WriteValue(TValueType Value) {
  uint8_t b = Value;
  Write(&b, 1);
}

void TWriter::WriteSignature() { Write("TPF0", 4); }

void TWriter::WriteStr(const AnsiString& Value) {
  uint8_t n = (uint8_t)(Value.size() > 255 ? 255 : Value.size());
  Write(&n, 1);
  if (n) Write(Value.data(), n);
}

void TWriter::WriteString(const AnsiString& Value) {
  if (Value.size() <= 255) {
    WriteValue(vaString);
    WriteStr(Value);
    return;
  }
  WriteValue(vaLString);
  uint32_t n = (uint32_t)Value.size();
  Write(&n, 4);
  Write(Value.data(), (int32_t)n);
}

void TWriter::WriteWideString(const WideString& Value) {
  WriteValue(vaWString);
  uint32_t n = (uint32_t)Value.size();
  Write(&n, 4);
  if (n) Write(Value.data(), (int32_t)(n * 2));
}

void TWriter::WriteUTF8String(const AnsiString& Value) {
  WriteValue(vaUTF8String);
  uint32_t n = (uint32_t)Value.size();
  Write(&n, 4);
  if (n) Write(Value.data(), (int32_t)n);
}

void TWriter::WriteInteger(int32_t Value) {
  if (Value >= -128 && Value <= 127) {
    WriteValue(vaInt8);
    int8_t v = (int8_t)Value;
    Write(&v, 1);
  } else if (Value >= -32768 && Value <= 32767) {
    WriteValue(vaInt16);
    int16_t v = (int16_t)Value;
    Write(&v, 2);
  } else {
    WriteValue(vaInt32);
    Write(&Value, 4);
  }
}

void TWriter::WriteBoolean(bool Value) { WriteValue(Value ? vaTrue : vaFalse); }

void TWriter::WriteIdent(const AnsiString& Ident) {
  WriteValue(vaIdent);
  WriteStr(Ident);
}

void TWriter::WritePropName(const AnsiString& Name) { WriteStr(FPropPath + Name); }

void TWriter::WriteProperties(TPersistent* Instance) {
  for (const TPropInfo* p : GetPropList(Instance)) {
    switch (p->Kind) {
      case tkInteger:
        if (int64_t v = p->GetOrd(Instance)) {
          WritePropName(p->Name);
          WriteInteger((int32_t)v);
        }
        break;
      case tkEnumeration:
        if (p->GetOrd(Instance)) {
          WritePropName(p->Name);
          WriteBoolean(true);
        }
        break;
      case tkChar:
      case tkWChar:
        if (int64_t v = p->GetOrd(Instance)) {
          WritePropName(p->Name);
          if (v < 128) WriteString(AnsiString(1, (char)v));
          else WriteWideString(WideString(1, (wchar_t)v));
        }
        break;
      case tkString:
      case tkLString: {
        AnsiString s = p->GetStr(Instance);
        if (!s.empty()) {
          WritePropName(p->Name);
          WriteString(s);
        }
        break;
      }
      case tkWString: {
        WideString w = p->GetWStr(Instance);
        if (w.empty()) break;
        WritePropName(p->Name);
        bool ascii = true;
        for (wchar_t c : w) ascii = ascii && c < 128;
        if (ascii) WriteString(AnsiString(w.begin(), w.end()));
        else WriteWideString(w);
        break;
      }
      case tkClass:
        if (TPersistent* sub = p->GetObj(Instance)) {
          AnsiString saved = FPropPath;
          FPropPath += p->Name + ".";
          WriteProperties(sub);
          FPropPath = saved;
        }
        break;
      default: break;
    }
  }
  Instance->DefineProperties(this);
}

namespace {
AnsiString StreamedClassName(TComponent* C) {
  const TClassInfo* info = ClassInfoOf(C);
  return info ? info->Name : AnsiString(C->ClassName());
}
}  // namespace

void TWriter::WriteComponent(TComponent* Component) {
  WriteStr(StreamedClassName(Component));
  WriteStr(Component->Name());
  WriteProperties(Component);
  WriteListEnd();
  WriteListEnd();  // owned components are written flat under the root
}

void TWriter::WriteRootComponent(TComponent* Root) {
  FRoot = Root;
  WriteSignature();
  WriteStr(StreamedClassName(Root));
  WriteStr(Root->Name());
  WriteProperties(Root);
  WriteListEnd();
  for (int i = 0; i < Root->ComponentCount(); ++i) WriteComponent(Root->Components(i));
  WriteListEnd();
}
