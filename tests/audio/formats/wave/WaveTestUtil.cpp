#include "audio/formats/wave/WaveTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "classlib/WinApi.h"
#include "common/Peer.h"

namespace wavetest {

void WriteBytes(const std::wstring& file, const std::string& data) {
  ASSERT_TRUE(testfiles::WriteBytes(file, data));
}

bool FileExists(const std::wstring& file) { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string LE16(uint32_t v) { return std::string{(char)v, (char)(v >> 8)}; }
std::string LE32(uint32_t v) { return std::string{(char)v, (char)(v >> 8), (char)(v >> 16), (char)(v >> 24)}; }
uint32_t Get32(const std::string& s, size_t at) {
  return (uint8_t)s[at] | ((uint8_t)s[at + 1] << 8) | ((uint8_t)s[at + 2] << 16) | ((uint32_t)(uint8_t)s[at + 3] << 24);
}
uint16_t Get16(const std::string& s, size_t at) { return (uint16_t)((uint8_t)s[at] | ((uint8_t)s[at + 1] << 8)); }

std::string Chunk(const std::string& id, const std::string& body) {
  std::string c = id + LE32((uint32_t)body.size()) + body;
  if (body.size() & 1) c += '\0';
  return c;
}

std::string FmtBody(uint16_t tag, uint16_t ch, uint32_t rate, uint16_t align, uint16_t bits) {
  return LE16(tag) + LE16(ch) + LE32(rate) + LE32(rate * align) + LE16(align) + LE16(bits);
}

std::string Riff(const std::string& chunks) { return "RIFF" + LE32((uint32_t)chunks.size() + 4) + "WAVE" + chunks; }

std::string PcmWav16(uint16_t ch, uint32_t rate, const std::vector<int16_t>& samples) {
  std::string data(samples.size() * 2, '\0');
  if (!samples.empty()) memcpy(&data[0], samples.data(), data.size());
  return Riff(Chunk("fmt ", FmtBody(1, ch, rate, (uint16_t)(2 * ch), 16)) + Chunk("data", data));
}

std::vector<int16_t> Ramp(int n) {
  std::vector<int16_t> v(n);
  for (int i = 0; i < n; ++i) v[i] = (int16_t)i;
  return v;
}

TTestSource::TTestSource(int bits, int ch, int rate, std::string data, bool unknownSize)
    : TAuInput(nullptr), bits_(bits), ch_(ch), rate_(rate), data_(std::move(data)), unknown_(unknownSize) {}

void TTestSource::InitInternal() {
  ++Inits;
  pos_ = 0;
  FPosition = 0;
  FSize = unknown_ ? -1 : (int64_t)data_.size();
  FrameSize = (uint16_t)(bits_ / 8 * ch_);
  FBusy = true;
}

void TTestSource::FlushInternal() {
  ++Flushes;
  FBusy = false;
}

void TTestSource::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  uint32_t n = (uint32_t)std::min<size_t>({(size_t)Bytes, (size_t)MaxChunk, data_.size() - pos_});
  Buffer = n ? &data_[pos_] : nullptr;
  pos_ += n;
  FPosition += n;
  Bytes = n;
}

std::string Peer(const std::string& command) {
  peer::Result r = peer::Run(command, 300);
  EXPECT_EQ(r.exitCode, 0) << command << "\n" << r.err;
  return r.exitCode == 0 ? r.out : std::string();
}

std::string Q(const std::wstring& file) { return peer::Quote(peer::UnixPath(file)); }

}  // namespace wavetest
