// Running native Linux tools (ffmpeg, flac, sox, ...) from a test that runs under Wine.
//
//   #include "common/Peer.h"
//   peer::Result r = peer::Run("ffmpeg -v error -i " + peer::Quote(peer::UnixPath(file)) + " -f s16le -");
//   ASSERT_EQ(r.exitCode, 0) << r.err;      // r.out holds the tool's standard output (binary safe)
//
// Run() hands the command line to the native /bin/sh, waits for it and returns its exit code,
// standard output and standard error. It runs in the test's current directory. A tool that is
// not installed gives exit code 127 and "not found" in err: the test fails loudly.
// Paths: UnixPath() turns a Windows path into the native one (Wine's mapping); Quote() makes any
// text a single shell word. Text is UTF-8 throughout.
// Add ${CMAKE_SOURCE_DIR}/tests/common/Peer.cpp to the test's SOURCES.
#pragma once

#include <map>
#include <string>

namespace peer {

struct Result {
  int exitCode = -1;  // the command's exit code; -1 when it could not be started or timed out
  std::string out;    // standard output
  std::string err;    // standard error, or why the command could not be run
};

// Runs `command` under the native /bin/sh and waits at most timeoutSeconds for it (then it is
// killed and exitCode is -1).
Result Run(const std::string& command, unsigned timeoutSeconds = 120);

// The native path of a Windows path (relative paths are taken from the current directory);
// empty when Wine cannot map it (or when not running under Wine).
std::string UnixPath(const std::wstring& windowsPath);

// `text` as one shell word in single quotes.
std::string Quote(const std::string& text);

// A Windows path as one native shell word: Quote(UnixPath(windowsPath)).
std::string NativeArg(const std::wstring& windowsPath);

// The lines "key=value" of ffprobe's "-of default=nw=1" output as a map; the tag keys "TAG:Name"
// become "tag:name" (lower case). The first of a repeated key stays.
std::map<std::string, std::string> ProbeFields(const std::string& output);

}  // namespace peer
