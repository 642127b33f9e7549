// Helpers of the tag tests: temporary files, byte builders for tag blocks and the peers' view.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "classlib/WinApi.h"
#include "common/TestFiles.h"

namespace tagtest {

// A private folder under the temporary folder, removed with its files.
class TempDir : public testfiles::TempDir {
 public:
  TempDir() : testfiles::TempDir(L"tagtest") {}
};

// Whole-file writes and reads that fail the test when the file can't be opened.
void WriteBytes(const std::wstring& file, const std::string& data);
std::string ReadBytes(const std::wstring& file);

// An open file handle, closed at the end of the scope.
class File {
 public:
  explicit File(const std::wstring& name, DWORD access = GENERIC_READ | GENERIC_WRITE);
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  HANDLE H() const { return h_; }
  int64_t Pos() const;
  void Seek(int64_t pos) const;

 private:
  HANDLE h_;
};

// Big-endian and syncsafe integers as bytes.
std::string BE(uint32_t value, int bytes);
std::string Syncsafe(uint32_t value);
std::string LE32(uint32_t value);

// An ID3v2 header with a syncsafe size, and a frame of the given version (2, 3 or 4).
std::string Id3Header(int version, int flags, uint32_t size);
std::string Id3Frame(int version, const std::string& id, const std::string& body);
// A whole tag: header with the frames' size (plus padding zero bytes).
std::string Id3Tag(int version, const std::string& frames, uint32_t padding = 0);

std::string Utf8(const std::wstring& text);

// The tags ffprobe reports for a file: name (lower case) -> UTF-8 value. Fails the test when
// ffprobe cannot run.
std::map<std::string, std::string> ProbeTags(const std::wstring& file);
// Runs a native command, fails the test on a non-zero exit code.
void RunPeer(const std::string& command);
// The native path of a Windows file, quoted for the shell.
std::string Native(const std::wstring& file);

}  // namespace tagtest
