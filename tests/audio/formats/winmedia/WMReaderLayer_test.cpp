// The reader side of the layer and TWMIn against a double of the runtime's synchronous reader:
// what the runtime here ignores or never reports (output settings, protected content, header
// attributes) and the open at byte 30.
#include <gtest/gtest.h>

#include <memory>

#include "WMDouble.h"
#include "audio/formats/winmedia/AuWinMedia.h"

namespace {

// A stream of bytes that no parser of ours recognises: the double decides everything.
struct Bytes {
  TMemoryStream ms;
  Bytes() {
    std::string junk(4096, 'x');
    ms.Write(junk.data(), (int32_t)junk.size());
    ms.SetPosition(0);
  }
};

}  // namespace

TEST(WMReaderLayer, ChoosesTheOutputFormatByTheChannelRequest) {
  const std::vector<wmdouble::OutFormat> formats = {
      {2, 44100, 16}, {2, 44100, 8}, {2, 44100, 24}, {2, 44100, 24}, {6, 44100, 16}, {2, 48000, 32}, {8, 44100, 16}};
  struct Case {
    TChannelsNumber request;
    wmdouble::OutFormat want;
    DWORD discrete;
    long speakers;  // -1: not set
  } cases[] = {
      {cnMonoOrStereo, {2, 44100, 24}, 0, -1},  // the file's own layout, widest last
      {cn5dot1, {6, 44100, 16}, 1, 6},
      {cn7dot1, {8, 44100, 16}, 1, 8},
      {cnMaxAvailable, {2, 48000, 32}, 1, -1},  // each at least the best so far
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((int)c.request);
    wmdouble::Installed dbl(true);
    auto& st = dbl.state();
    st.formats = formats;
    Bytes b;
    TWMIn in(nullptr);
    in.SetOutputChannels(c.request);
    in.SetStream(&b.ms);
    ASSERT_TRUE(in.Valid());
    EXPECT_EQ(in.Channels(), c.want.channels);
    EXPECT_EQ(in.SampleRate(), c.want.rate);
    EXPECT_EQ(in.BitsPerSample(), c.want.bits);
    EXPECT_EQ(st.chosen.channels, c.want.channels);
    EXPECT_EQ(st.outputSettings[L"EnableDiscreteOutput"], c.discrete);
    if (c.speakers < 0) {
      EXPECT_EQ(st.outputSettings.count(L"SpeakerConfig"), 0u);
    } else {
      EXPECT_EQ(st.outputSettings[L"SpeakerConfig"], (DWORD)c.speakers);
    }
    // Two seconds of the chosen format.
    EXPECT_EQ(in.TotalSamples(), 2 * c.want.rate);
    in.SetStream(nullptr);
  }
}

// Right after opening, the runtime here can fail to list its formats or refuse the one it
// delivers; its current output is then what the input reads.
TEST(WMReaderLayer, AFormatListOrSetThatFailsLeavesTheCurrentOutput) {
  const HRESULT incompatible = (HRESULT)0xC00D0041;
  struct Case {
    HRESULT list, set;
  } cases[] = {{E_FAIL, S_OK}, {S_OK, incompatible}, {E_FAIL, incompatible}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.list << " " << c.set);
    wmdouble::Installed dbl(true);
    auto& st = dbl.state();
    st.formats = {{1, 22050, 16}, {2, 44100, 24}};
    st.formatResult = c.list;
    st.setOutputResult = c.set;
    Bytes b;
    TWMIn in(nullptr);
    in.SetStream(&b.ms);
    ASSERT_TRUE(in.Valid());
    EXPECT_EQ(in.Channels(), 1);
    EXPECT_EQ(in.SampleRate(), 22050);
    EXPECT_EQ(in.BitsPerSample(), 16);
    EXPECT_EQ(in.TotalSamples(), 2 * 22050);
    // What it reads is what the runtime delivers: two seconds of the current format.
    in.Init();
    int64_t bytes = 0;
    for (;;) {
      void* p = nullptr;
      uint32_t n = 4096;
      in.GetData(p, n);
      if (n == 0) break;
      bytes += n;
    }
    in.Flush();
    EXPECT_EQ(bytes, 2 * 22050 * 2);
    in.SetStream(nullptr);
  }
}

TEST(WMReaderLayer, AStreamThatOpensOnlyAtByte30Opens) {
  wmdouble::Installed dbl(true);
  dbl.state().opensOnlyAtByte30 = true;
  Bytes b;
  TWMIn in(nullptr);
  in.SetStream(&b.ms);
  EXPECT_TRUE(in.Valid());
  EXPECT_EQ(dbl.state().opens, 1);
  in.SetStream(nullptr);
}

TEST(WMReaderLayer, ProtectedContentIsRefusedAtOpen) {
  wmdouble::Installed dbl(true);
  dbl.state().protectedContent = true;
  Bytes b;
  TWMIn in(nullptr);
  in.SetStream(&b.ms);
  EXPECT_FALSE(in.Valid());
  try {
    in.TotalSamples();
    ADD_FAILURE() << "no exception";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "File is protected");
  }
  in.SetStream(nullptr);
  EXPECT_EQ(wmdouble::Live(), 0);  // the reader and its objects are released
}

TEST(WMReaderLayer, HeaderAttributesReachTheTags) {
  wmdouble::Installed dbl(true);
  auto& st = dbl.state();
  st.bitrate = 192000;
  st.headerStrings = {{L"Author", L"作者"},      {L"Title", L"Title"},    {L"WM/AlbumTitle", L"Album"},
                      {L"WM/Genre", L"Jazz"},    {L"WM/Track", L"11"},    {L"WM/Year", L"1999"},
                      {L"Copyright", L"(c) me"}};
  Bytes b;
  TWMIn in(nullptr);
  in.SetStream(&b.ms);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.GetBitRate(), 192000u);
  TCommonTags* c = in.CommonTags();
  EXPECT_EQ(c->Artist(), L"作者");
  EXPECT_EQ(c->Title(), L"Title");
  EXPECT_EQ(c->Album(), L"Album");
  EXPECT_EQ(c->Genre(), L"Jazz");
  EXPECT_EQ(c->Track(), "11");
  EXPECT_EQ(c->Year(), "1999");
  TId3v2Tags* v2 = in.Id3v2Tags();
  EXPECT_EQ(v2->Artist(), L"作者");
  EXPECT_EQ(v2->Comment(), L"(c) me");  // the copyright goes to the comment only
  EXPECT_EQ(v2->Year(), "1999");
  in.SetStream(nullptr);
}
