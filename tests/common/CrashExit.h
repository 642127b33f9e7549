// A test program that crashes must fail. Under Wine the debugger that prints a crash's backtrace
// ends the process with exit code 0, which the test runner takes for a pass; this filter prints
// the exception and the return addresses on the stack, then ends the process with the
// exception's code.
//
//   int main(int argc, char** argv) { crashexit::Install(); ... }
#pragma once
#include "classlib/WinApi.h"

#include <cstdio>

namespace crashexit {

inline LONG WINAPI Filter(EXCEPTION_POINTERS* Info) {
  const EXCEPTION_RECORD* r = Info->ExceptionRecord;
  fprintf(stderr, "\nunhandled exception 0x%08lx at %p (thread %lu); return addresses:\n",
          static_cast<unsigned long>(r->ExceptionCode), r->ExceptionAddress, GetCurrentThreadId());
  void* frames[48];
  USHORT n = RtlCaptureStackBackTrace(0, 48, frames, nullptr);
  for (USHORT i = 0; i < n; ++i) fprintf(stderr, "  %p\n", frames[i]);
  fflush(stderr);
  fflush(stdout);
  TerminateProcess(GetCurrentProcess(), r->ExceptionCode ? r->ExceptionCode : 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

inline void Install() { SetUnhandledExceptionFilter(Filter); }

}  // namespace crashexit
