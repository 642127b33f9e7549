// MD5 against RFC 1321's test suite and against the native md5sum on a large generated file.
#include <gtest/gtest.h>
#include "classlib/WinApi.h"

#include <cstdint>
#include <string>
#include <vector>

#include "common/Peer.h"
#include "tasks/MD5.h"

TEST(MD5, RfcTestSuite) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (auto& [text, digest] : cases) EXPECT_EQ(MD5Print(MD5String(text)), digest) << '"' << text << '"';
}

// Lengths around the 56- and 64-byte padding boundaries, fed whole and one byte at a time.
TEST(MD5, PaddingBoundariesAndPiecewiseUpdates) {
  for (size_t len : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u}) {
    std::string s(len, 'x');
    for (size_t i = 0; i < len; ++i) s[i] = (char)('a' + i % 26);
    MD5Context c;
    MD5Init(c);
    for (char ch : s) MD5Update(c, &ch, 1);
    EXPECT_EQ(MD5Print(MD5Final(c)), MD5Print(MD5String(s))) << len;
  }
  // Known values for the 64-byte boundary.
  EXPECT_EQ(MD5Print(MD5String(std::string(64, 'a'))), "014842d480b571495a4a0363793f7367");
  EXPECT_EQ(MD5Print(MD5String(std::string(56, 'a'))), "3b0c8ac703f828b04c6c197006d17218");
}

TEST(MD5, LargeFileMatchesMd5sum) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::wstring name = std::wstring(dir) + L"md5-large-" + std::to_wstring(GetCurrentProcessId()) + L".bin";
  HANDLE f = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  // 48 MiB and a bit of pseudo-random bytes, written and hashed in pieces of uneven sizes.
  const size_t total = 48u * 1024 * 1024 + 13;
  const size_t pieces[] = {1, 63, 64, 65, 4093, 65536, 1000003};
  std::vector<uint8_t> buf(1000003);
  uint32_t x = 2463534242u;
  MD5Context c;
  MD5Init(c);
  size_t done = 0;
  for (int k = 0; done < total; ++k) {
    size_t n = std::min(pieces[k % 7], total - done);
    for (size_t i = 0; i < n; ++i) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      buf[i] = (uint8_t)(x >> 24);
    }
    MD5Update(c, buf.data(), n);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(f, buf.data(), (DWORD)n, &written, nullptr) && written == n);
    done += n;
  }
  CloseHandle(f);
  std::string ours = MD5Print(MD5Final(c));
  peer::Result r = peer::Run("md5sum " + peer::Quote(peer::UnixPath(name)));
  DeleteFileW(name.c_str());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ours, r.out.substr(0, 32));
}
