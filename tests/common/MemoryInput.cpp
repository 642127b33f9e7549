#include "common/MemoryInput.h"

#include "classlib/WinApi.h"

#include <algorithm>

TMemIn::~TMemIn() = default;

void TMemIn::InitInternal() {
  ++Inits;
  if (!InitError.empty()) throw Exception(InitError);
  if (FBusy) throw EAuException("The component is Busy");
  FRead = 0;
  FPosition = 0;
  FSize = UnknownSize ? -1 : (int64_t)Data.size();
  FBusy = true;
}

void TMemIn::FlushInternal() {
  ++Flushes;
  FBusy = false;
}

void TMemIn::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  ++Pulls;
  if (!FBusy) throw EAuException("The Stream is not opened");
  if (DelayMs) Sleep(DelayMs);
  size_t n = std::min<size_t>(Bytes, Data.size() - FRead);
  if (MaxChunk) n = std::min<size_t>(n, MaxChunk);
  Buffer = n ? Data.data() + FRead : nullptr;
  FRead += n;
  FPosition += n;
  Bytes = (uint32_t)n;
}
