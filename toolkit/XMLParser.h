// A small event-driven parser for the mark-up of rich texts. It walks a wide string once with a
// stack of open elements and reduces the document bottom-up: what a close callback returns is
// appended to the parent's text, and the implicit root's text is the result.
#pragma once
#include "classlib/SysUtils.h"
#include "unicode/UniClasses.h"

CLASSLIB_EXCEPTION(EXMLError, Exception);

// At most this many elements may be open besides the implicit root.
constexpr int MaxXMLDepth = 99;

// The four callbacks of one parse. Attributes are lines "name=value".
struct TXMLCallbacks {
  void (*OpenTag)(void* Data, const WideString& Name, TUniStringList* Attributes);
  WideString (*TextBeforeChild)(void* Data, const WideString& Name, TUniStringList* Attributes, const WideString& Text);
  WideString (*CloseTag)(void* Data, const WideString& Name, TUniStringList* Attributes, const WideString& Text);
  WideString (*DecodeEntity)(void* Data, const WideString& Name);
};

// Parses Text and returns the root's text. Raises EXMLError on malformed mark-up.
WideString ParseXML(const WideString& Text, const TXMLCallbacks& Callbacks, void* Data);

// The standard entities (lt, gt, quot, amp, apos, letter case ignored) and character numbers
// ("#65", "#x41"); any other name comes back between two question marks. A malformed or
// out-of-range number raises EXMLError; numbers above U+FFFF become surrogate pairs.
WideString DecodeXMLEntity(const WideString& Name);

// Writes '"', '&', '<' and '>' as entity references; the apostrophe stays.
WideString XMLEscape(const WideString& Text);

// A handler whose virtual operations are the callbacks of Parse.
class TXMLParser : public TObject {
 public:
  const char* ClassName() const override { return "TXMLParser"; }
  virtual void OpenTag(const WideString& Name, TUniStringList* Attributes) {}
  // Returns the text to keep for the element before its child opens.
  virtual WideString TextBeforeChild(const WideString& Name, TUniStringList* Attributes, const WideString& Text) {
    return WideString();
  }
  // Returns the text to append to the parent's text.
  virtual WideString CloseTag(const WideString& Name, TUniStringList* Attributes, const WideString& Text) {
    return WideString();
  }
  virtual WideString DecodeEntity(const WideString& Name) { return DecodeXMLEntity(Name); }
  // Threads: any (one parse per object at a time).
  WideString Parse(const WideString& Text);
};
