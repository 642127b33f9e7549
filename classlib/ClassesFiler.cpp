// Form streaming: the binary form format and its reader and writer.
#include "classlib/Classes.h"

#include "classlib/WinApi.h"

#include <algorithm>
#include <cstring>

#include "classlib/TypInfo.h"

// ---------------------------------------------------------------------------------------------
// Form streaming

namespace {
// Lists and components nest; deeper data is taken as malformed rather than recursed into.
constexpr int kMaxFormDepth = 256;
}  // namespace

void TReader::PropValueError() { throw EReadError(ClassesMessages::InvalidPropertyValue); }

void TReader::PropertyNotFound(const AnsiString& Name) {
  throw EReadError(Format(ClassesMessages::PropertyNotFound, Name.c_str()));
}

void TReader::Read(void* Buf, int32_t Count) { FStream->ReadBuffer(Buf, Count); }

uint32_t TReader::ReadLength(uint32_t UnitSize) {
  uint32_t n;
  Read(&n, 4);
  int64_t left = FStream->Size() - FStream->Position();
  if ((int64_t)n * UnitSize > left) throw EReadError(ClassesMessages::ReadError);
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
  if (std::memcmp(sig, "TPF0", 4) != 0) throw EReadError(ClassesMessages::InvalidStreamFormat);
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
    throw EReadError(ClassesMessages::InvalidStreamFormat);
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
      throw EReadError(ClassesMessages::InvalidStreamFormat);
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
    default: throw EReadError(ClassesMessages::InvalidStreamFormat);
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
    throw EReadError(ClassesMessages::InvalidStreamFormat);
  }
  ReadPrefix();
  AnsiString className = ReadStr();
  AnsiString name = ReadStr();
  TComponent* c = Owner ? Owner->FindComponent(name) : nullptr;
  bool created = false;
  if (!c) {
    const TClassInfo* info = FindClassInfo(className);
    if (!info || !info->Create) throw EReadError(Format(ClassesMessages::ClassNotFound, className.c_str()));
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
    if (!info || !info->Create) throw EReadError(Format(ClassesMessages::ClassNotFound, className.c_str()));
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
