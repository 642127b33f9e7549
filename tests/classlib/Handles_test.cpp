// The owners of system handles: a COM reference goes with its holder (also when replaced or
// moved), and a mapped view writes through to the file and is gone with its mapping.
#include <gtest/gtest.h>

#include "classlib/WinApi.h"

#include <unknwn.h>

#include <cstring>
#include <string>

#include "classlib/Handles.h"
#include "common/TestFiles.h"

namespace {

// Counts its references; Release is the only way down.
struct TCounted : IUnknown {
  ULONG Refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** P) override {
    *P = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++Refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --Refs; }
};

}  // namespace

TEST(Handles, AComReferenceGoesWithItsHolder) {
  TCounted a, b;
  {
    TComPtr<TCounted> p(&a);
    a.AddRef();  // a second reference, handed over through Put below
    *p.Put() = &a;
    EXPECT_EQ(a.Refs, 1u) << "Put lets the held reference go";
    TComPtr<TCounted> q(std::move(p));
    EXPECT_FALSE(p);
    EXPECT_EQ(q.Get(), &a);
    b.AddRef();
    TComPtr<TCounted> r(&b);
    r = std::move(q);
    EXPECT_EQ(b.Refs, 1u) << "the reference assigned over is let go";
    TComPtr<TCounted> d(&b);
    EXPECT_EQ(d.Detach(), &b);
  }
  EXPECT_EQ(a.Refs, 0u);
  EXPECT_EQ(b.Refs, 1u) << "a detached reference stays with the caller";
}

TEST(Handles, AMappedViewWritesThroughToTheFile) {
  testfiles::TempDir dir;
  const std::wstring name = dir.File(L"mapped.bin");
  HANDLE f = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  {
    TFileMapping map(f, PAGE_READWRITE, 8);
    ASSERT_TRUE(map);
    TMappedView view(map.Get(), FILE_MAP_WRITE, 0, 8);
    ASSERT_TRUE(view);
    std::memcpy(view.Get(), "ABCDEFGH", 8);
  }
  // With the view and the mapping gone, the file can be cut shorter.
  SetFilePointer(f, 4, nullptr, FILE_BEGIN);
  EXPECT_TRUE(SetEndOfFile(f));
  char got[8] = {};
  DWORD n = 0;
  SetFilePointer(f, 0, nullptr, FILE_BEGIN);
  ASSERT_TRUE(ReadFile(f, got, sizeof got, &n, nullptr));
  CloseHandle(f);
  EXPECT_EQ(std::string(got, n), "ABCD");
}
