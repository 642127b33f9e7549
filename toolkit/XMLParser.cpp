#include "toolkit/XMLParser.h"

#include <cwctype>
#include <memory>
#include <vector>

namespace {

// The fixed texts of this unit.
struct {
  const wchar_t* TooDeep = L"Too deep nesting";
  const wchar_t* UnexpectedEnd = L"Unexpected end tag: %s";
  const wchar_t* EndMismatch = L"Unexpected end tag: expected \"%s\", actual \"%s\"";
  const wchar_t* InvalidAttribute = L"Invalid attribute (%s) of tag %s";
  const wchar_t* UnterminatedTag = L"Unterminated tag: %s";
  const wchar_t* Unterminated = L"Unterminated %s";
  const wchar_t* InvalidReference = L"Invalid character reference: &%s;";
} const Msg;

enum TState { stText, stTagName, stInTag, stAttrName, stAttrValue, stEntity, stComment, stHeader, stCData };
const wchar_t* const StateNames[] = {L"", L"tag", L"tag", L"attribute", L"attribute", L"entity", L"comment", L"header", L"cdata"};

// The longest tail of an attribute value kept after its last entity reference.
constexpr size_t MaxValueTail = 1024;

bool SameTextW(const WideString& A, const WideString& B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I)
    if (std::towupper(A[I]) != std::towupper(B[I])) return false;
  return true;
}

bool IsBlankOrControl(wchar_t C) { return C <= L' '; }

struct TLevel {
  WideString Name;
  WideString Text;
  std::unique_ptr<TUniStringList> Attributes;  // made on first use of the level, then reused
};

class TXMLScanner {
 public:
  TXMLScanner(const TXMLCallbacks& Callbacks, void* Data) : FCb(Callbacks), FData(Data) {}
  WideString Run(WideString T);

 private:
  TLevel& Current() { return FStack[static_cast<size_t>(FDepth - 1)]; }
  void Open(const WideString& Name, TUniStringList* Attributes);
  void Close(const WideString& Name);
  WideString DecodeValue(const WideString& Value);

  const TXMLCallbacks& FCb;
  void* FData;
  std::vector<TLevel> FStack = std::vector<TLevel>(MaxXMLDepth + 1);
  int FDepth = 0;
};

void TXMLScanner::Open(const WideString& Name, TUniStringList* Attributes) {
  if (FDepth >= MaxXMLDepth + 1) throw EXMLError(Msg.TooDeep);
  if (FDepth > 0) {
    TLevel& Parent = Current();
    if (!Parent.Text.empty())
      Parent.Text = FCb.TextBeforeChild(FData, Parent.Name, Parent.Attributes.get(), Parent.Text);
  }
  ++FDepth;
  TLevel& L = Current();
  L.Name = Name;
  L.Text.clear();
  if (!L.Attributes) L.Attributes = std::make_unique<TUniStringList>();
  if (Attributes)
    L.Attributes->Assign(Attributes);
  else
    L.Attributes->Clear();
  if (!Name.empty()) FCb.OpenTag(FData, Name, L.Attributes.get());
}

void TXMLScanner::Close(const WideString& Name) {
  if (FDepth <= 1) throw EXMLError(WideFormat(Msg.UnexpectedEnd, Name.c_str()));
  TLevel& L = Current();
  if (!SameTextW(L.Name, Name)) throw EXMLError(WideFormat(Msg.EndMismatch, L.Name.c_str(), Name.c_str()));
  WideString Result;
  if (!Name.empty() || !L.Text.empty()) Result = FCb.CloseTag(FData, Name, L.Attributes.get(), L.Text);
  --FDepth;
  Current().Text += Result;
}

WideString TXMLScanner::DecodeValue(const WideString& Value) {
  WideString Out;
  size_t Start = 0;
  bool Any = false;
  for (;;) {
    size_t Amp = Value.find(L'&', Start);
    if (Amp == WideString::npos) break;
    size_t Semi = Value.find(L';', Amp + 1);
    if (Semi == WideString::npos) break;
    Out.append(Value, Start, Amp - Start);
    Out += FCb.DecodeEntity(FData, Value.substr(Amp + 1, Semi - Amp - 1));
    Start = Semi + 1;
    Any = true;
  }
  if (!Any) return Value;
  Out.append(Value, Start, MaxValueTail);
  return Out;
}

WideString TXMLScanner::Run(WideString T) {
  Open(WideString(), nullptr);
  TUniStringList Attributes;
  WideString TagBuf, AttrName, AttrValue, EntityName;
  bool SelfClosing = false, QuoteOpen = false;
  size_t TextStart = 0, EntityStart = 0, CommentStart = 0;
  TState State = stText;

  for (size_t I = 0; I < T.size(); ++I) {
    wchar_t C = T[I];
    switch (State) {
      case stText:
        if (C == L'<') {
          State = stTagName;
          Attributes.Clear();
          TagBuf.clear();
          SelfClosing = false;
          Current().Text.append(T, TextStart, I - TextStart);
        } else if (C == L'&') {
          State = stEntity;
          EntityName.clear();
          EntityStart = I;
        }
        break;

      case stTagName:
      case stInTag:
        if (C == L'?') {
          State = stHeader;
        } else if (TagBuf == L"!-" && C == L'-') {
          State = stComment;
          CommentStart = I + 1;
        } else if (TagBuf == L"![CDATA" && C == L'[') {
          // Drop "<![CDATA[" and scan the section from its first character as plain text.
          size_t Open = I - 8;
          T.erase(Open, 9);
          I = Open - 1;  // the loop steps to the section's first character
          TextStart = Open;
          State = stCData;
        } else if (C == L'/' && !TagBuf.empty()) {
          SelfClosing = true;
        } else if (C == L'>') {
          State = stText;
          if (!TagBuf.empty() && TagBuf[0] == L'/') {
            Close(TagBuf.substr(1));
          } else {
            Open(TagBuf, &Attributes);
            if (SelfClosing) Close(TagBuf);
          }
          TextStart = I + 1;
        } else if (C == L' ' && State == stTagName) {
          State = stInTag;
          AttrName.clear();
          AttrValue.clear();
        } else if (State == stInTag && ((C >= L'A' && C <= L'Z') || (C >= L'a' && C <= L'z'))) {
          State = stAttrName;
          AttrName.assign(1, C);
        } else if (State == stTagName) {
          TagBuf += C;
        }
        break;

      case stAttrName:
        if (C == L'>') throw EXMLError(WideFormat(Msg.InvalidAttribute, AttrName.c_str(), TagBuf.c_str()));
        if (C == L'=') {
          State = stAttrValue;
          QuoteOpen = false;
          AttrValue.clear();
        } else {
          AttrName += C;
        }
        break;

      case stAttrValue:
        if (!QuoteOpen) {
          if (C != L'"') throw EXMLError(WideFormat(Msg.InvalidAttribute, AttrName.c_str(), TagBuf.c_str()));
          QuoteOpen = true;
        } else if (C == L'"') {
          size_t B = 0, E = AttrValue.size();
          while (B < E && IsBlankOrControl(AttrValue[B])) ++B;
          while (E > B && IsBlankOrControl(AttrValue[E - 1])) --E;
          Attributes.Add(AttrName + L"=" + DecodeValue(AttrValue.substr(B, E - B)));
          AttrName.clear();
          AttrValue.clear();
          State = stInTag;
        } else {
          AttrValue += C;
        }
        break;

      case stEntity:
        if (C == L';') {
          WideString Decoded = FCb.DecodeEntity(FData, EntityName);
          T.replace(EntityStart, I + 1 - EntityStart, Decoded);
          I = EntityStart + Decoded.size() - 1;  // go on behind the inserted text
          State = stText;
        } else {
          EntityName += C;
        }
        break;

      case stComment:
        if (C == L'>' && I >= CommentStart + 2 && T[I - 1] == L'-' && T[I - 2] == L'-') {
          State = stText;
          TextStart = I + 1;
        }
        break;

      case stHeader:
        if (C == L'>' && T[I - 1] == L'?') {
          State = stText;
          TextStart = I + 1;
        }
        break;

      case stCData:
        if (C == L'>' && I >= TextStart + 2 && T[I - 1] == L']' && T[I - 2] == L']') {
          T.erase(I - 2, 3);
          I -= 3;
          State = stText;
        }
        break;
    }
  }

  if (State != stText) throw EXMLError(WideFormat(Msg.Unterminated, StateNames[State]));
  if (FDepth > 1) throw EXMLError(WideFormat(Msg.UnterminatedTag, Current().Name.c_str()));
  TLevel& Root = Current();
  Root.Text.append(T, TextStart, WideString::npos);
  WideString Result = Root.Text;
  if (!Root.Text.empty()) FCb.CloseTag(FData, WideString(), Root.Attributes.get(), Root.Text);
  FDepth = 0;
  return Result;
}

}  // namespace

WideString ParseXML(const WideString& Text, const TXMLCallbacks& Callbacks, void* Data) {
  TXMLScanner Scanner(Callbacks, Data);
  return Scanner.Run(Text);
}

WideString DecodeXMLEntity(const WideString& Name) {
  if (SameTextW(Name, L"lt")) return L"<";
  if (SameTextW(Name, L"gt")) return L">";
  if (SameTextW(Name, L"quot")) return L"\"";
  if (SameTextW(Name, L"amp")) return L"&";
  if (SameTextW(Name, L"apos")) return L"'";
  if (!Name.empty() && Name[0] == L'#') {
    bool Hex = Name.size() > 1 && Name[1] == L'x';
    size_t First = Hex ? 2 : 1;
    uint32_t Code = 0;
    bool Valid = Name.size() > First;
    for (size_t I = First; Valid && I < Name.size(); ++I) {
      wchar_t C = Name[I];
      uint32_t D;
      if (C >= L'0' && C <= L'9')
        D = static_cast<uint32_t>(C - L'0');
      else if (Hex && C >= L'a' && C <= L'f')
        D = static_cast<uint32_t>(C - L'a' + 10);
      else if (Hex && C >= L'A' && C <= L'F')
        D = static_cast<uint32_t>(C - L'A' + 10);
      else
        Valid = false, D = 0;
      Code = Code * (Hex ? 16 : 10) + D;
      if (Code > 0x10FFFF) Valid = false;
    }
    if (!Valid || Code == 0 || (Code >= 0xD800 && Code <= 0xDFFF))
      throw EXMLError(WideFormat(Msg.InvalidReference, Name.c_str()));
    if (Code <= 0xFFFF) return WideString(1, static_cast<wchar_t>(Code));
    Code -= 0x10000;
    WideString Pair;
    Pair += static_cast<wchar_t>(0xD800 + (Code >> 10));
    Pair += static_cast<wchar_t>(0xDC00 + (Code & 0x3FF));
    return Pair;
  }
  return L"?" + Name + L"?";
}

WideString XMLEscape(const WideString& Text) {
  WideString Out;
  Out.reserve(Text.size());
  for (wchar_t C : Text) {
    switch (C) {
      case L'"': Out += L"&quot;"; break;
      case L'&': Out += L"&amp;"; break;
      case L'<': Out += L"&lt;"; break;
      case L'>': Out += L"&gt;"; break;
      default: Out += C;
    }
  }
  return Out;
}

namespace {
void CbOpen(void* D, const WideString& N, TUniStringList* A) { static_cast<TXMLParser*>(D)->OpenTag(N, A); }
WideString CbText(void* D, const WideString& N, TUniStringList* A, const WideString& T) {
  return static_cast<TXMLParser*>(D)->TextBeforeChild(N, A, T);
}
WideString CbClose(void* D, const WideString& N, TUniStringList* A, const WideString& T) {
  return static_cast<TXMLParser*>(D)->CloseTag(N, A, T);
}
WideString CbEntity(void* D, const WideString& N) { return static_cast<TXMLParser*>(D)->DecodeEntity(N); }
}  // namespace

WideString TXMLParser::Parse(const WideString& Text) {
  static const TXMLCallbacks Callbacks = {CbOpen, CbText, CbClose, CbEntity};
  return ParseXML(Text, Callbacks, this);
}
