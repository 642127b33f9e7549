// The native-tool runner every suite uses to check its files against Debian's tools.
#include <gtest/gtest.h>

#include <windows.h>

#include "common/Peer.h"
#include "deps/DepTest.h"

namespace {

TEST(Peer, ReturnsExitCodeOutputAndErrorOfTheNativeCommand) {
  peer::Result r = peer::Run("printf 'a\\000b'; echo oops >&2; exit 3");
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.out, std::string("a\0b", 3));
  EXPECT_EQ(r.err, "oops\n");

  r = peer::Run("no-such-tool-here --version");
  EXPECT_EQ(r.exitCode, 127);
  EXPECT_NE(r.err.find("not found"), std::string::npos) << r.err;

  r = peer::Run("echo " + peer::Quote("it's $HOME `x` \"q\""));
  EXPECT_EQ(r.out, "it's $HOME `x` \"q\"\n");
}

TEST(Peer, GivesUpAfterTheTimeout) {
  const DWORD start = GetTickCount();
  peer::Result r = peer::Run("sleep 30", 1);
  EXPECT_EQ(r.exitCode, -1);
  EXPECT_LT(GetTickCount() - start, 10000u);
}

// Runs in the current directory, and sees files under the names UnixPath gives, Chinese ones too.
TEST(Peer, SharesFilesAndCurrentDirectoryWithTheTest) {
  deptest::TempDir dir;
  const std::wstring name = dir.Path() + L"\\\x91C7\x6837.txt";  // 采样.txt
  HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD put = 0;
  WriteFile(h, "hello", 5, &put, nullptr);
  CloseHandle(h);
  const std::string unix = peer::UnixPath(name);
  ASSERT_FALSE(unix.empty());
  EXPECT_NE(unix.find("\xE9\x87\x87\xE6\xA0\xB7.txt"), std::string::npos) << unix;
  peer::Result r = peer::Run("cat " + peer::Quote(unix));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "hello");

  wchar_t old[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, old);
  ASSERT_TRUE(SetCurrentDirectoryW(dir.Path().c_str()));
  r = peer::Run("pwd; cat \xE9\x87\x87\xE6\xA0\xB7.txt");
  SetCurrentDirectoryW(old);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, peer::UnixPath(dir.Path()) + "\nhello");
  DeleteFileW(name.c_str());
}

}  // namespace
