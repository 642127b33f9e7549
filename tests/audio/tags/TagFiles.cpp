#include "audio/tags/TagFiles.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/Peer.h"

namespace tagtest {

void WriteBytes(const std::wstring& file, const std::string& data) {
  ASSERT_TRUE(testfiles::WriteBytes(file, data)) << Utf8(file) << " error " << GetLastError();
}

std::string ReadBytes(const std::wstring& file) {
  EXPECT_NE(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES) << Utf8(file);
  return testfiles::ReadBytes(file);
}

File::File(const std::wstring& name, DWORD access) {
  h_ = CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                   FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(h_, INVALID_HANDLE_VALUE);
}

File::~File() {
  if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
}

int64_t File::Pos() const {
  LARGE_INTEGER z{}, p{};
  SetFilePointerEx(h_, z, &p, FILE_CURRENT);
  return p.QuadPart;
}

void File::Seek(int64_t pos) const {
  LARGE_INTEGER p{};
  p.QuadPart = pos;
  SetFilePointerEx(h_, p, nullptr, FILE_BEGIN);
}

std::string BE(uint32_t value, int bytes) {
  std::string s;
  for (int i = bytes - 1; i >= 0; --i) s.push_back((char)(value >> (8 * i)));
  return s;
}

std::string Syncsafe(uint32_t v) {
  return std::string{(char)((v >> 21) & 0x7F), (char)((v >> 14) & 0x7F), (char)((v >> 7) & 0x7F), (char)(v & 0x7F)};
}

std::string LE32(uint32_t v) { return std::string{(char)v, (char)(v >> 8), (char)(v >> 16), (char)(v >> 24)}; }

std::string Id3Header(int version, int flags, uint32_t size) {
  return std::string("ID3") + (char)version + '\0' + (char)flags + Syncsafe(size);
}

std::string Id3Frame(int version, const std::string& id, const std::string& body) {
  if (version == 2) return id + BE((uint32_t)body.size(), 3) + body;
  return id + (version == 3 ? BE((uint32_t)body.size(), 4) : Syncsafe((uint32_t)body.size())) +
         std::string(2, '\0') + body;
}

std::string Id3Tag(int version, const std::string& frames, uint32_t padding) {
  return Id3Header(version, 0, (uint32_t)frames.size() + padding) + frames + std::string(padding, '\0');
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), s.data(), n, nullptr, nullptr);
  return s;
}

std::string Native(const std::wstring& file) {
  std::string u = peer::UnixPath(file);
  EXPECT_FALSE(u.empty());
  return peer::Quote(u);
}

void RunPeer(const std::string& command) {
  peer::Result r = peer::Run(command);
  ASSERT_EQ(r.exitCode, 0) << command << "\n" << r.err;
}

std::map<std::string, std::string> ProbeTags(const std::wstring& file) {
  std::map<std::string, std::string> tags;
  peer::Result r = peer::Run("ffprobe -v error -show_entries format_tags -of default=noprint_wrappers=1 " + Native(file));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  size_t at = 0;
  while (at < r.out.size()) {
    size_t nl = r.out.find('\n', at);
    if (nl == std::string::npos) nl = r.out.size();
    std::string line = r.out.substr(at, nl - at);
    at = nl + 1;
    if (line.rfind("TAG:", 0) != 0) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(4, eq - 4);
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return (char)tolower(c); });
    tags[key] = line.substr(eq + 1);
  }
  return tags;
}

}  // namespace tagtest
