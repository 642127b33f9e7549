// The PNG codec's exception classes and their message texts.
#pragma once
#include "classlib/SysUtils.h"

// Every PNG error derives directly from Exception; the message comes from PngMessage().
CLASSLIB_EXCEPTION(EPNGOutMemory, Exception);
CLASSLIB_EXCEPTION(EPngError, Exception);
CLASSLIB_EXCEPTION(EPngUnexpectedEnd, Exception);
CLASSLIB_EXCEPTION(EPngInvalidCRC, Exception);
CLASSLIB_EXCEPTION(EPngInvalidIHDR, Exception);
CLASSLIB_EXCEPTION(EPNGMissingMultipleIDAT, Exception);
CLASSLIB_EXCEPTION(EPNGZLIBError, Exception);
CLASSLIB_EXCEPTION(EPNGInvalidPalette, Exception);
CLASSLIB_EXCEPTION(EPNGInvalidFileHeader, Exception);
CLASSLIB_EXCEPTION(EPNGIHDRNotFirst, Exception);
CLASSLIB_EXCEPTION(EPNGSizeExceeds, Exception);
CLASSLIB_EXCEPTION(EPNGUnknownCriticalChunk, Exception);
CLASSLIB_EXCEPTION(EPNGUnknownCompression, Exception);
CLASSLIB_EXCEPTION(EPNGUnknownInterlace, Exception);
CLASSLIB_EXCEPTION(EPNGNoImageData, Exception);
CLASSLIB_EXCEPTION(EPNGCouldNotLoadResource, Exception);
CLASSLIB_EXCEPTION(EPNGHeaderNotPresent, Exception);
CLASSLIB_EXCEPTION(EPNGInvalidNewSize, Exception);

enum class TPngMessage {
  InvalidFileHeader,
  IHDRNotFirst,
  SizeExceeds,
  InvalidPalette,
  UnknownCriticalChunk,
  UnknownCompression,
  UnknownInterlace,
  CannotAssignChunk,
  UnexpectedEnd,
  NoImageData,
  CouldNotLoadResource,
  OutMemory,
  HeaderNotPresent,
  InvalidNewSize,
  InvalidCRC,
  InvalidIHDR,
  MissingMultipleIDAT,
  ZLIBError,
  NoSuchPaletteEntry,
};

// The message text; ZLIBError is followed by " Description: " and zlib's text by its caller.
const char* PngMessage(TPngMessage Id);

// Raises E with the message Id.
template <class E>
[[noreturn]] void RaisePng(TPngMessage Id) {
  throw E(PngMessage(Id));
}
