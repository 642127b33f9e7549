#include "unicode/UniClasses.h"

#include <algorithm>
#include <cstring>

#include "classlib/TypInfo.h"
#include "classlib/WinApi.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"

// ---------------------------------------------------------------------------------------------
// TUniFileStream

TUniFileStream::TUniFileStream(const WideString& FileName, uint16_t Mode)
    : THandleStream(INVALID_HANDLE_VALUE) {
  // The Unicode runtime opens the file (wide, or through the code page on systems without the
  // wide calls); the handle is then the core's.
  if (Mode == fmUniCreate) {
    FFile = TFileHandle(reinterpret_cast<void*>(WideFileCreate(FileName)));
    if (!FFile.Valid()) {
      DWORD err = GetLastError();
      throw EFCreateError(WideFormat(L"Cannot create file \"%s\". %s", WideExpandFileName(FileName).c_str(),
                                     WideSysErrorMessage(err).c_str()));
    }
  } else {
    FFile = TFileHandle(reinterpret_cast<void*>(WideFileOpen(FileName, Mode)));
    if (!FFile.Valid()) {
      DWORD err = GetLastError();
      throw EFOpenError(WideFormat(L"Cannot open file \"%s\". %s", WideExpandFileName(FileName).c_str(),
                                   WideSysErrorMessage(err).c_str()));
    }
  }
  FHandle = FFile.Get();
}

// ---------------------------------------------------------------------------------------------
// TAnsiStringsForWideStringsAdapter

namespace {
// The bytes from the stream's position to its end.
AnsiString ReadRest(TStream* Stream) {
  int64_t size = Stream->Size() - Stream->Position();
  if (size <= 0) return AnsiString();
  if (size > 0x7FFFFFFE) throw EStreamError("Stream too large");
  AnsiString bytes((size_t)size, '\0');
  Stream->ReadBuffer(bytes.data(), (int32_t)size);
  return bytes;
}
}  // namespace

uint32_t TAnsiStringsForWideStringsAdapter::AdapterCodePage() const {
  return FAdapterCodePage ? FAdapterCodePage : DefaultCodePage();
}

AnsiString TAnsiStringsForWideStringsAdapter::Get(int Index) const {
  return WideToCodePage(FWideStrings->Get(Index), AdapterCodePage());
}

void TAnsiStringsForWideStringsAdapter::Put(int Index, const AnsiString& S) {
  FWideStrings->Put(Index, CodePageToWide(S, AdapterCodePage()));
}

void TAnsiStringsForWideStringsAdapter::Insert(int Index, const AnsiString& S) {
  FWideStrings->Insert(Index, CodePageToWide(S, AdapterCodePage()));
}

void TAnsiStringsForWideStringsAdapter::SetUpdateState(bool Updating) {
  if (Updating) FWideStrings->BeginUpdate();
  else FWideStrings->EndUpdate();
}

void TAnsiStringsForWideStringsAdapter::LoadFromStreamEx(TStream* Stream, uint32_t CodePage) {
  AnsiString bytes = ReadRest(Stream);
  FWideStrings->BeginUpdate();
  try {
    FWideStrings->SetText(CodePageToWide(bytes, CodePage));
  } catch (...) {
    FWideStrings->EndUpdate();
    throw;
  }
  FWideStrings->EndUpdate();
}

void TAnsiStringsForWideStringsAdapter::SaveToStreamEx(TStream* Stream, uint32_t CodePage) {
  AnsiString bytes = WideToCodePage(FWideStrings->Text(), CodePage);
  if (!bytes.empty()) Stream->WriteBuffer(bytes.data(), (int32_t)bytes.size());
}

// ---------------------------------------------------------------------------------------------
// TUniStrings

TUniStrings::TUniStrings() : FAnsiStrings(new TAnsiStringsForWideStringsAdapter(this)) {}

TUniStrings::~TUniStrings() { delete FAnsiStrings; }

void TUniStrings::SetAnsiStrings(TStrings* Value) { FAnsiStrings->Assign(Value); }

TUniTextEncoding TUniStrings::DetectEncoding(TStream* Stream) {
  unsigned char b[3];
  int64_t left = Stream->Size() - Stream->Position();
  if (left >= 2) {
    Stream->ReadBuffer(b, 2);
    if (b[0] == 0xFF && b[1] == 0xFE) return encUtf16LE;
    if (b[0] == 0xFE && b[1] == 0xFF) return encUtf16BE;
    Stream->Seek(-2, soCurrent);
  }
  if (left >= 3) {
    Stream->ReadBuffer(b, 3);
    if (b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return encUtf8;
    Stream->Seek(-3, soCurrent);
  }
  return encAnsi;
}

void TUniStrings::LoadFromFile(const WideString& FileName) {
  TUniFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
  FLastLoadedEncoding = DetectEncoding(&stream);
  stream.SetPosition(0);
  LoadFromStream(&stream);
}

void TUniStrings::LoadFromStreamEx(TStream* Stream, bool DetectBOM) {
  BeginUpdate();
  try {
    TUniTextEncoding enc = DetectBOM ? DetectEncoding(Stream) : encUtf16LE;
    AnsiString bytes = ReadRest(Stream);
    WideString text;
    switch (enc) {
      case encUtf16LE:
      case encUtf16BE:
        if (bytes.size() >= 2) {
          text.assign(bytes.size() / 2, L'\0');
          std::memcpy(text.data(), bytes.data(), text.size() * 2);
          if (enc == encUtf16BE) SwapWideByteOrder(text.data());
        }
        break;
      case encAnsi: text = AnsiToWide(bytes); break;
      case encUtf8: text = Utf8ToWide(bytes); break;
    }
    SetText(text);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TUniStrings::SaveToFile(const WideString& FileName) {
  TUniFileStream stream(FileName, fmUniCreate);
  SaveToStream(&stream);
}

void TUniStrings::SaveToStreamEx(TStream* Stream, bool WriteBOM) {
  if (WriteBOM) {
    static const unsigned char kBom[2] = {0xFF, 0xFE};
    Stream->WriteBuffer(kBom, 2);
  }
  WideString text = Text();
  if (!text.empty()) Stream->WriteBuffer(text.data(), (int32_t)(text.size() * 2));
}

void TUniStrings::DefineProperties(TFiler* Filer) {
  TWideStrings::DefineProperties(Filer);
  Filer->DefineProperty("WideStrings", [this](TReader* R) { ReadWideStrings(R); }, nullptr, false);
  Filer->DefineProperty("WideStringsW", [this](TReader* R) { ReadWideStringsW(R); }, nullptr, false);
  Filer->DefineProperty("WideStrings_UTF7", [this](TReader* R) { ReadWideStringsUtf7(R); }, nullptr, false);
}

void TUniStrings::ReadWideStrings(TReader* Reader) {
  TValueType t = Reader->NextValue();
  if (t == vaString || t == vaLString) {
    SetText(AnsiToWide(Reader->ReadString()));
    return;
  }
  if (t == vaWString) {
    SetText(Reader->ReadWideString());
    return;
  }
  BeginUpdate();
  try {
    Clear();
    Reader->ReadListBegin();
    while (!Reader->EndOfList()) {
      TValueType item = Reader->NextValue();
      if (item == vaString || item == vaLString) Add(AnsiToWide(Reader->ReadString()));
      else Add(Reader->ReadWideString());
    }
    Reader->ReadListEnd();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TUniStrings::ReadWideStringsW(TReader* Reader) {
  if (Count() > 0) {
    ReadWideStringsUtf7(Reader);  // read and dropped
    return;
  }
  BeginUpdate();
  try {
    Clear();
    Reader->ReadListBegin();
    while (!Reader->EndOfList()) Add(Utf8ToWide(Reader->ReadString()));
    Reader->ReadListEnd();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TUniStrings::ReadWideStringsUtf7(TReader* Reader) {
  Reader->ReadListBegin();
  while (!Reader->EndOfList()) Reader->ReadString();
  Reader->ReadListEnd();
}

// ---------------------------------------------------------------------------------------------
// TUniStringList

TUniStringList::~TUniStringList() {
  OnChange = nullptr;
  OnChanging = nullptr;
}

void TUniStringList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= FCount) Error(L"List index out of bounds (%d)", Index);
}

WideString TUniStringList::Get(int Index) const {
  CheckIndex(Index);
  return FList[Index].FString;
}

TObject* TUniStringList::GetObject(int Index) const {
  CheckIndex(Index);
  return FList[Index].FObject;
}

void TUniStringList::Put(int Index, const WideString& S) {
  if (FSorted) Error(L"Operation not allowed on sorted list", 0);
  CheckIndex(Index);
  Changing();
  FList[Index].FString = S;
  Changed();
}

void TUniStringList::PutObject(int Index, TObject* AObject) {
  CheckIndex(Index);
  Changing();
  FList[Index].FObject = AObject;
  Changed();
}

void TUniStringList::SetCapacity(int NewCapacity) {
  // Fewer entries than the list holds would lose lines and leave the count beyond the array.
  if (NewCapacity < FCount || NewCapacity > 0x7FFFFFF) Error(L"List capacity out of bounds (%d)", NewCapacity);
  FList.resize(NewCapacity);
  FCapacity = NewCapacity;
}

void TUniStringList::Grow() {
  int delta = FCapacity > 64 ? FCapacity / 4 : FCapacity > 8 ? 16 : 4;
  SetCapacity(FCapacity + delta);
}

int TUniStringList::AddObject(const WideString& S, TObject* AObject) {
  int index;
  if (!FSorted) {
    index = FCount;
  } else if (Find(S, index)) {
    switch (FDuplicates) {
      case dupIgnore: return index;
      case dupError: Error(L"String list does not allow duplicates", 0);
      case dupAccept: break;
    }
  }
  InsertItem(index, S, AObject);
  return index;
}

void TUniStringList::Clear() {
  if (FCount == 0) return;
  Changing();
  FList.clear();
  FCount = 0;
  FCapacity = 0;
  Changed();
}

void TUniStringList::Delete(int Index) {
  CheckIndex(Index);
  Changing();
  FList.erase(FList.begin() + Index);
  FList.emplace_back();
  --FCount;
  Changed();
}

void TUniStringList::Exchange(int Index1, int Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  Changing();
  ExchangeItems(Index1, Index2);
  Changed();
}

void TUniStringList::ExchangeItems(int Index1, int Index2) { std::swap(FList[Index1], FList[Index2]); }

bool TUniStringList::Find(const WideString& S, int& Index) const {
  bool found = false;
  int l = 0, h = FCount - 1;
  while (l <= h) {
    int i = (l + h) >> 1;
    int c = CompareStrings(FList[i].FString, S);
    if (c < 0) {
      l = i + 1;
    } else {
      h = i - 1;
      if (c == 0) {
        found = true;
        if (FDuplicates != dupAccept) l = i;
      }
    }
  }
  Index = l;
  return found;
}

int TUniStringList::IndexOf(const WideString& S) const {
  if (!FSorted) return TUniStrings::IndexOf(S);
  int i;
  return Find(S, i) ? i : -1;
}

int TUniStringList::IndexOfName(const WideString& Name) const {
  if (!FSorted) return TUniStrings::IndexOfName(Name);
  WideString key = Name + NameValueSeparator();
  int i;
  Find(key, i);
  if (i < FCount && CompareStrings(FList[i].FString.substr(0, key.size()), key) == 0) return i;
  return -1;
}

void TUniStringList::InsertObject(int Index, const WideString& S, TObject* AObject) {
  if (FSorted) Error(L"Operation not allowed on sorted list", 0);
  if (Index < 0 || Index > FCount) Error(L"List index out of bounds (%d)", Index);
  InsertItem(Index, S, AObject);
}

void TUniStringList::InsertItem(int Index, const WideString& S, TObject* AObject) {
  Changing();
  if (FCount == FCapacity) Grow();
  std::move_backward(FList.begin() + Index, FList.begin() + FCount, FList.begin() + FCount + 1);
  FList[Index].FString = S;
  FList[Index].FObject = AObject;
  ++FCount;
  Changed();
}

void TUniStringList::Sort() {
  CustomSort([](TUniStringList* L, int A, int B) { return L->CompareStrings(L->FList[A].FString, L->FList[B].FString); });
}

void TUniStringList::CustomSort(const std::function<int(TUniStringList*, int, int)>& Compare) {
  if (FSorted || FCount < 2) return;
  Changing();
  QuickSort(0, FCount - 1, Compare);
  Changed();
}

void TUniStringList::QuickSort(int L, int R, const std::function<int(TUniStringList*, int, int)>& Compare) {
  int i, j;
  do {
    i = L;
    j = R;
    int p = (L + R) >> 1;
    do {
      while (Compare(this, i, p) < 0) ++i;
      while (Compare(this, j, p) > 0) --j;
      if (i <= j) {
        ExchangeItems(i, j);
        if (p == i) p = j;
        else if (p == j) p = i;
        ++i;
        --j;
      }
    } while (i <= j);
    if (L < j) QuickSort(L, j, Compare);
    L = i;
  } while (i < R);
}

void TUniStringList::SetSorted(bool Value) {
  if (FSorted == Value) return;
  if (Value) Sort();
  FSorted = Value;
}

void TUniStringList::SetCaseSensitive(bool Value) {
  if (FCaseSensitive == Value) return;
  FCaseSensitive = Value;
  if (FSorted) {
    // Keep the order Find relies on.
    FSorted = false;
    Sort();
    FSorted = true;
  }
}

void TUniStringList::SetUpdateState(bool Updating) {
  FUpdating = Updating;
  if (Updating) Changing();
  else Changed();
}

int TUniStringList::CompareStrings(const WideString& S1, const WideString& S2) const {
  return FCaseSensitive ? WideCompareStr(S1, S2) : WideCompareText(S1, S2);
}

void TUniStringList::Changed() {
  if (!FUpdating && OnChange) OnChange(this);
}

void TUniStringList::Changing() {
  if (!FUpdating && OnChanging) OnChanging(this);
}

// ---------------------------------------------------------------------------------------------
// Wide text properties in form resources

void DefineWideProperties(TFiler* Filer, TPersistent* Instance) {
  for (const TPropInfo* p : GetPropList(Instance)) {
    if (p->Kind == tkWString) {
      TUniWideStringPropertyFiler filer;
      filer.DefineProperties(Filer, Instance, p->Name);
    } else if (p->Kind == tkWChar) {
      TUniWideCharPropertyFiler filer;
      filer.DefineProperties(Filer, Instance, p->Name);
    }
  }
}

void TUniWideStringPropertyFiler::DefineProperties(TFiler* Filer, TPersistent* Instance, const AnsiString& PropName) {
  FInstance = Instance;
  FPropName = PropName;
  Filer->DefineProperty(PropName + "W", [this](TReader* R) { ReadDataW(R); }, nullptr, false);
  Filer->DefineProperty(PropName + "_UTF7", [this](TReader* R) { ReadDataUtf7(R); }, nullptr, false);
}

// The property keeps the value its own record gave it; these only consume theirs.
void TUniWideStringPropertyFiler::ReadDataW(TReader* Reader) { Reader->ReadString(); }
void TUniWideStringPropertyFiler::ReadDataUtf7(TReader* Reader) { Reader->ReadString(); }

void TUniWideCharPropertyFiler::DefineProperties(TFiler* Filer, TPersistent* Instance, const AnsiString& PropName) {
  FInstance = Instance;
  FPropName = PropName;
  Filer->DefineProperty(PropName + "W", [this](TReader* R) { ReadDataW(R); }, nullptr, false);
  Filer->DefineProperty(PropName + "_UTF7", [this](TReader* R) { ReadDataUtf7(R); }, nullptr, false);
}

void TUniWideCharPropertyFiler::SetChar(wchar_t Ch) {
  const TPropInfo* p = GetPropInfo(FInstance, FPropName);
  if (p && p->SetOrd) p->SetOrd(FInstance, (uint16_t)Ch);
}

void TUniWideCharPropertyFiler::ReadDataW(TReader* Reader) {
  WideString text;
  switch (Reader->NextValue()) {
    case vaString: text = AnsiToWide(Reader->ReadString()); break;
    case vaWString: text = Reader->ReadWideString(); break;
    default: Reader->SkipValue(); TReader::PropValueError();
  }
  // Exactly one character: an empty text has no character to assign.
  if (text.size() != 1) TReader::PropValueError();
  SetChar(text[0]);
}

void TUniWideCharPropertyFiler::ReadDataUtf7(TReader* Reader) {
  WideString text = Utf7ToWide(Reader->ReadString());
  SetChar(text.empty() ? L'\0' : text[0]);
}

// ---------------------------------------------------------------------------------------------
// Wide shadows

WideString ReadWideShadow(WideString& Shadow, const AnsiString& AnsiValue) {
  if (WideToAnsi(Shadow) != AnsiValue) Shadow = AnsiToWide(AnsiValue);
  return Shadow;
}

void WriteWideShadow(const WideString& Value, WideString& Shadow, const AnsiString& AnsiValue,
                     const std::function<void(const AnsiString&)>& SetAnsi) {
  if (Value == ReadWideShadow(Shadow, AnsiValue)) return;
  AnsiString ansi = WideToAnsi(Value);
  if (AnsiToWide(ansi) != Value && ansi == AnsiValue) SetAnsi(AnsiString());
  Shadow = Value;
  SetAnsi(ansi);
}

// ---------------------------------------------------------------------------------------------
// Component helpers

namespace {
// Addresses compare as signed integers of their full width.
int CompareAddresses(const void* A, const void* B) {
  intptr_t a = reinterpret_cast<intptr_t>(A), b = reinterpret_cast<intptr_t>(B);
  return a < b ? -1 : a > b ? 1 : 0;
}
}  // namespace

TWideComponentHelperList::~TWideComponentHelperList() {
  while (!FItems.empty()) delete FItems.back();  // each helper leaves the list as it goes
}

TWideComponentHelper* TWideComponentHelperList::Items(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(WideFormat(L"List index out of bounds (%d)", Index));
  return FItems[Index];
}

bool TWideComponentHelperList::Find(TComponent* Component, int& Index) const {
  bool found = false;
  int low = 0, high = Count() - 1;
  while (low <= high) {
    int middle = (low + high) / 2;
    int c = CompareAddresses(FItems[middle]->Component(), Component);
    if (c >= 0) {
      high = middle - 1;
      if (c == 0) {
        found = true;
        low = middle;
      }
    } else {
      low = middle + 1;
    }
  }
  Index = low;
  return found;
}

TWideComponentHelper::TWideComponentHelper(TComponent*) : TComponent(nullptr) {
  throw EUniInternalError(L"Internal Error: TWideComponentHelper.Create should never be encountered.");
}

TWideComponentHelper::TWideComponentHelper(TComponent* AComponent, TWideComponentHelperList* HelperList)
    : TComponent(nullptr), FComponent(AComponent), FHelperList(HelperList) {
  FComponent->FreeNotification(this);
  int index;
  FHelperList->Find(FComponent, index);
  FHelperList->FItems.insert(FHelperList->FItems.begin() + index, this);
}

TWideComponentHelper::~TWideComponentHelper() {
  if (FHelperList) {
    auto& items = FHelperList->FItems;
    items.erase(std::remove(items.begin(), items.end(), this), items.end());
  }
}

void TWideComponentHelper::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (AComponent == FComponent && Operation == opRemove) {
    FComponent = nullptr;
    delete this;
  }
}

TWideComponentHelper* FindWideComponentHelper(TWideComponentHelperList* HelperList, TComponent* Component) {
  int index;
  if (!HelperList || !HelperList->Find(Component, index)) return nullptr;
  TWideComponentHelper* helper = HelperList->FItems[index];
  if (helper->Component() != Component)
    AssertFailed("Internal Error: FindWideComponentHelperIndex failed.", __FILE__, __LINE__);
  return helper;
}
