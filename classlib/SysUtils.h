// Strings, exceptions, rounding and formatting: the base of the component class library.
#pragma once
#include <cstdint>
#include <exception>
#include <string>

using AnsiString = std::string;   // text in the system's 8-bit code page
using WideString = std::wstring;  // UTF-16 on this target

// AnsiString <-> WideString through the system's 8-bit code page (CP_ACP).
WideString AnsiToWide(const AnsiString& S);
AnsiString WideToAnsi(const WideString& S);
// UTF-8 for diagnostics (what()).
std::string WideToUtf8Basic(const WideString& S);

class Exception : public std::exception {
 public:
  explicit Exception(const WideString& Msg) : FMessage(Msg) {}
  explicit Exception(const wchar_t* Msg) : FMessage(Msg ? Msg : L"") {}
  explicit Exception(const AnsiString& Msg) : FMessage(AnsiToWide(Msg)) {}
  explicit Exception(const char* Msg) : FMessage(AnsiToWide(Msg ? Msg : "")) {}
  ~Exception() override = default;
  const WideString& Message() const { return FMessage; }
  void SetMessage(const WideString& Msg) { FMessage = Msg; FWhat.clear(); }
  // The class name, for handlers that report it.
  virtual const char* ClassName() const { return "Exception"; }
  const char* what() const noexcept override;

 private:
  WideString FMessage;
  mutable std::string FWhat;
};

#define CLASSLIB_EXCEPTION(Name, Base)                          \
  class Name : public Base {                                    \
   public:                                                      \
    using Base::Base;                                           \
    const char* ClassName() const override { return #Name; }    \
  }

// The silent exception: handlers drop it without a message.
class EAbort : public Exception {
 public:
  EAbort() : Exception(L"Operation aborted") {}
  using Exception::Exception;
  const char* ClassName() const override { return "EAbort"; }
};
// A failed system call, with the system's own message text.
class EOSError : public Exception {
 public:
  using Exception::Exception;
  EOSError(const WideString& Msg, uint32_t Code) : Exception(Msg), ErrorCode(Code) {}
  const char* ClassName() const override { return "EOSError"; }
  uint32_t ErrorCode = 0;
};
CLASSLIB_EXCEPTION(EOutOfMemory, Exception);
// A failed Windows drawing or resource call; carries the system's message text.
CLASSLIB_EXCEPTION(EOutOfResources, EOutOfMemory);
CLASSLIB_EXCEPTION(EConvertError, Exception);
CLASSLIB_EXCEPTION(EAssertionFailed, Exception);
CLASSLIB_EXCEPTION(EListError, Exception);
CLASSLIB_EXCEPTION(EStringListError, Exception);
CLASSLIB_EXCEPTION(EInvalidOperation, Exception);
CLASSLIB_EXCEPTION(EStreamError, Exception);
CLASSLIB_EXCEPTION(EFCreateError, EStreamError);
CLASSLIB_EXCEPTION(EFOpenError, EStreamError);
CLASSLIB_EXCEPTION(EReadError, EStreamError);
CLASSLIB_EXCEPTION(EWriteError, EStreamError);
CLASSLIB_EXCEPTION(EResNotFound, Exception);
CLASSLIB_EXCEPTION(EThread, Exception);

// The system's message text for an error code, without the trailing line break.
WideString SysErrorMessage(uint32_t ErrorCode);
// Raises EOSError for GetLastError(): "System Error.  Code: %d.\r\n%s".
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseLastOSError(uint32_t ErrorCode);
// Returns Value, raising EOSError for GetLastError() when it is false.
bool Win32Check(bool Value);

// "Assertion failed (file, line N)"; the message names the unit and line.
[[noreturn]] void AssertFailed(const char* Message, const char* File, int Line);
#define Assert(Cond) \
  do { if (!(Cond)) AssertFailed(#Cond, __FILE__, __LINE__); } while (0)

// Rounding as the FPU does by default: halves go to the even neighbour.
int64_t Round(double X);
int64_t Trunc(double X);

// The x87 control word (precision, rounding, exception masks); MXCSR is left alone.
uint16_t Get8087CW();
void Set8087CW(uint16_t CW);

// printf-style formatting. The wide form follows the Windows C runtime: %s takes a wide string.
AnsiString Format(const char* Fmt, ...);
WideString WideFormat(const wchar_t* Fmt, ...);

AnsiString IntToStr(int64_t Value);
WideString IntToWStr(int64_t Value);
AnsiString IntToHex(uint64_t Value, int Digits);
// Decimal, or hexadecimal after "$" or "0x"; raises EConvertError "'%s' is not a valid integer value".
int StrToInt(const AnsiString& S);
int StrToIntDef(const AnsiString& S, int Default);
bool TryStrToInt(const AnsiString& S, int& Value);
AnsiString UpperCase(const AnsiString& S);   // ASCII letters only
AnsiString LowerCase(const AnsiString& S);
int CompareText(const AnsiString& A, const AnsiString& B);  // ASCII case-insensitive
bool SameText(const AnsiString& A, const AnsiString& B);
AnsiString Trim(const AnsiString& S);

// The system's locale traits: FarEast on systems with double-byte character sets.
struct TSysLocale {
  bool FarEast;
  bool MiddleEast;
};
const TSysLocale& SysLocale();
