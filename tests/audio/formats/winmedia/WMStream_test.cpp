// Our IStream over a stream, as the runtime calls it.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "audio/formats/winmedia/libwma1.h"

namespace {

// A stream of a given (possibly huge) size whose bytes are their offsets' low bytes; it can be
// told to raise.
class TBigStream : public TStream {
 public:
  explicit TBigStream(int64_t size) : size_(size) {}
  const char* ClassName() const override { return "TBigStream"; }
  int32_t Read(void* Buffer, int32_t Count) override {
    if (raise) throw std::runtime_error("device gone");
    int32_t n = (int32_t)std::max<int64_t>(0, std::min<int64_t>(Count, size_ - pos_));
    for (int32_t i = 0; i < n; ++i) static_cast<uint8_t*>(Buffer)[i] = (uint8_t)(pos_ + i);
    pos_ += n;
    return n;
  }
  int32_t Write(const void*, int32_t Count) override { return Count; }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    if (raise) throw std::runtime_error("device gone");
    pos_ = (Origin == soBeginning ? 0 : Origin == soCurrent ? pos_ : size_) + Offset;
    return pos_;
  }
  int64_t Size() override { return size_; }
  bool raise = false;

 private:
  int64_t size_, pos_ = 0;
};

LARGE_INTEGER Li(int64_t v) {
  LARGE_INTEGER l;
  l.QuadPart = v;
  return l;
}

}  // namespace

TEST(AudioStream, ReadsToACleanEnd) {
  TBigStream s(100);
  auto* as = new TAudioStream(&s);
  uint8_t buf[16];
  ULONG got = 99;
  ASSERT_EQ(as->Seek(Li(95), STREAM_SEEK_SET, nullptr), S_OK);
  EXPECT_EQ(as->Read(buf, 10, &got), S_OK);
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(buf[0], 95);
  // At the end: no bytes, and not a failure.
  HRESULT hr = as->Read(buf, 10, &got);
  EXPECT_FALSE(FAILED(hr));
  EXPECT_EQ(got, 0u);
  as->Release();
}

TEST(AudioStream, SeeksWithSixtyFourBitsAndTellsWhereItIs) {
  const int64_t six = 6LL << 30;
  TBigStream s(8LL << 30);
  auto* as = new TAudioStream(&s);
  ULARGE_INTEGER pos;
  pos.QuadPart = 1;
  ASSERT_EQ(as->Seek(Li(six), STREAM_SEEK_SET, &pos), S_OK);
  EXPECT_EQ(pos.QuadPart, (uint64_t)six);
  ASSERT_EQ(as->Seek(Li(-10), STREAM_SEEK_END, &pos), S_OK);
  EXPECT_EQ(pos.QuadPart, (uint64_t)(8LL << 30) - 10);
  uint8_t b = 0;
  ULONG got = 0;
  ASSERT_EQ(as->Seek(Li(0), STREAM_SEEK_CUR, &pos), S_OK);
  EXPECT_EQ(pos.QuadPart, (uint64_t)(8LL << 30) - 10);
  as->Read(&b, 1, &got);
  EXPECT_EQ(b, (uint8_t)((8LL << 30) - 10));
  EXPECT_EQ(as->Seek(Li(0), 7, &pos), STG_E_INVALIDFUNCTION);
  STATSTG st;
  ASSERT_EQ(as->Stat(&st, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(st.cbSize.QuadPart, (uint64_t)(8LL << 30));
  as->Release();
}

TEST(AudioStream, UnsupportedCallsAndRaisingStreamsFailWithoutThrowing) {
  TBigStream s(100);
  auto* as = new TAudioStream(&s);
  IStream* clone = reinterpret_cast<IStream*>(1);
  EXPECT_TRUE(FAILED(as->Clone(&clone)));
  EXPECT_EQ(clone, nullptr);
  ULARGE_INTEGER z{};
  EXPECT_TRUE(FAILED(as->CopyTo(nullptr, z, nullptr, nullptr)));
  EXPECT_TRUE(FAILED(as->Commit(0)));
  EXPECT_TRUE(FAILED(as->Revert()));
  EXPECT_TRUE(FAILED(as->LockRegion(z, z, 0)));
  EXPECT_TRUE(FAILED(as->UnlockRegion(z, z, 0)));
  s.raise = true;
  uint8_t b[4];
  ULONG got = 7;
  EXPECT_EQ(as->Read(b, 4, &got), E_FAIL);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(as->Seek(Li(1), STREAM_SEEK_SET, nullptr), E_FAIL);
  // Cut off from its stream, every call fails.
  s.raise = false;
  as->Detach();
  EXPECT_TRUE(FAILED(as->Read(b, 4, &got)));
  EXPECT_TRUE(FAILED(as->Seek(Li(0), STREAM_SEEK_SET, nullptr)));
  as->Release();
}

TEST(AudioStream, AVirtualSizeReadsAsZerosPastTheEnd) {
  TBigStream s(10);
  auto* as = new TAudioStream(&s);
  as->SetVirtualSize(20);
  uint8_t b[32];
  std::memset(b, 0xEE, sizeof b);
  ULONG got = 0;
  ASSERT_EQ(as->Seek(Li(6), STREAM_SEEK_SET, nullptr), S_OK);
  EXPECT_EQ(as->Read(b, 32, &got), S_OK);
  EXPECT_EQ(got, 14u);
  EXPECT_EQ(b[0], 6);
  EXPECT_EQ(b[3], 9);
  EXPECT_EQ(b[4], 0);
  EXPECT_EQ(b[13], 0);
  EXPECT_EQ(b[14], 0xEE);
  STATSTG st;
  as->Stat(&st, STATFLAG_NONAME);
  EXPECT_EQ(st.cbSize.QuadPart, 20u);
  as->Release();
}
