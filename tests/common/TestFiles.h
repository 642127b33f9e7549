// File helpers shared by the test executables: a private scratch folder and whole-file reads
// and writes by wide name.
#pragma once
#include <string>

namespace testfiles {

// A fresh folder under the temporary folder, removed with the files in it.
class TempDir {
 public:
  explicit TempDir(const wchar_t* prefix = L"test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::wstring& Path() const { return dir_; }
  std::wstring File(const std::wstring& name) const { return dir_ + L"\\" + name; }

 private:
  std::wstring dir_;
};

// Writes or reads a whole file; false or an empty string when the file can't be opened.
bool WriteBytes(const std::wstring& file, const std::string& data);
std::string ReadBytes(const std::wstring& file);

}  // namespace testfiles
