// The file core under the file streams: mode words, named modes and the sharing they give.
#include <gtest/gtest.h>

#include "classlib/WinApi.h"

#include "classlib/Classes.h"
#include "classlib/FileCore.h"
#include "common/TestFiles.h"

TEST(FileCore, ModeWordsGiveTheirAccessAndSharing) {
  struct Case {
    uint16_t Word;
    bool Valid;
    TFileAccess Access;
    TFileShare Share;
  };
  const Case cases[] = {
      {0x00, true, TFileAccess::Read, TFileShare::None},      {0x01, true, TFileAccess::Write, TFileShare::None},
      {0x02, true, TFileAccess::ReadWrite, TFileShare::None}, {0x10, true, TFileAccess::Read, TFileShare::None},
      {0x20, true, TFileAccess::Read, TFileShare::Read},      {0x32, true, TFileAccess::ReadWrite, TFileShare::Write},
      {0x40, true, TFileAccess::Read, TFileShare::ReadWrite}, {0x03, false, {}, {}},
      {0x50, false, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Word);
    TFileOpenMode m{};
    ASSERT_EQ(FileOpenModeOfWord(c.Word, m), c.Valid);
    if (!c.Valid) continue;
    EXPECT_EQ(m.Access, c.Access);
    EXPECT_EQ(m.Share, c.Share);
    EXPECT_EQ(m.Creation, TFileCreation::OpenExisting);
  }
}

TEST(FileCore, TheHandleIsOwnedAndTheSharingHolds) {
  testfiles::TempDir dir(L"filecore");
  const std::wstring name = dir.File(L"core.bin");
  {
    TFileHandle h = TFileHandle::Open(name, fomCreate);
    ASSERT_TRUE(h.Valid());
    // Created without sharing: a second open fails while the first one lives.
    EXPECT_FALSE(TFileHandle::Open(name, fomReadDenyWrite).Valid());
    TFileHandle moved = std::move(h);
    EXPECT_FALSE(h.Valid());
    EXPECT_TRUE(moved.Valid());
  }
  // Closed with its owner: the file opens again; read with writing denied lets others read only.
  TFileHandle r = TFileHandle::Open(name, fomReadDenyWrite);
  ASSERT_TRUE(r.Valid());
  EXPECT_TRUE(TFileHandle::Open(name, fomReadDenyWrite).Valid());
  EXPECT_FALSE(TFileHandle::Open(name, fomReadWriteExclusive).Valid());
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
  // A missing file leaves the system's reason.
  EXPECT_FALSE(TFileHandle::Open(dir.File(L"missing.bin"), fomReadDenyWrite).Valid());
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}
