// File types, the quality tables and the probes, on files the native peers make.
#include <gtest/gtest.h>

#include "audio/devices/AuDXAudio.h"
#include "tasks/AudioUnit.h"
#include "tasks/TaskTestUtil.h"
#include "unicode/UniClasses.h"

using namespace tasktest;

TEST(AudioTools, TablesMaskTheIndexAndAnswerZeroOutOfRange) {
  struct Case {
    uint8_t Index;
    int32_t Rate, Kbps;
  } cases[] = {{0, 44100, 0}, {1, 16000, 32}, {5, 96000, 64}, {6, 0, 80}, {15, 0, 320},
               {16, 0, 0},    {128, 44100, 0}, {129, 16000, 32}, {255, 0, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(TAudioTools::GetSampleRate(c.Index), c.Rate) << (int)c.Index;
    EXPECT_EQ(TAudioTools::GetBitrate(c.Index), c.Kbps) << (int)c.Index;
  }
  EXPECT_EQ(TAudioTools::GetTypeName(L"C:\\a\\B.FLAC"), "FLAC");
  EXPECT_EQ(TAudioTools::GetTypeName(L"C:\\a.mp3\\b"), "");
  EXPECT_EQ(TAudioTools::OutputExtension(ftTAK), L"");
  EXPECT_EQ(TAudioTools::OutputExtension(ftWV | 128), L".wv");
}

TEST(AudioTools, ProbesReadWhatTheCodecReads) {
  TempDir d;
  MakeTones(d.U(L"a.wav"), 1, 44100, 2, 16);
  MakeTones(d.U(L"b.flac"), 2.5, 48000, 1, 24);
  Encode(d.U(L"a.wav"), d.U(L"c.ogg"), "-c:a libvorbis -b:a 128k");
  MakeTones(d.U(L"b.wav"), 2.5, 48000, 1, 24);
  Peer("wavpack -q -y " + peer::Quote(d.U(L"b.wav")) + " -o " + peer::Quote(d.U(L"d.wv")));
  Encode(d.U(L"a.wav"), d.U(L"e.tta"));

  struct Case {
    const wchar_t* Name;
    const char* Type;
    int Rate, Bits, Channels, Seconds;
    int64_t Frames;
  } cases[] = {{L"a.wav", "WAV", 44100, 16, 2, 1, 44100},
               {L"b.flac", "FLAC", 48000, 24, 1, 2, 120000},
               {L"c.ogg", "OGG", 44100, 16, 2, 1, 44100},
               {L"d.wv", "WV", 48000, 24, 1, 2, 120000},
               {L"e.tta", "TTA", 44100, 16, 2, 1, 44100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Type);
    const WideString f = d.W(c.Name);
    EXPECT_TRUE(TAudioTools::IsValidFile(f));
    EXPECT_EQ(TAudioTools::GetDuration(f), c.Seconds);
    TAudioInformation info;
    ASSERT_TRUE(TAudioTools::GetInformation(f, info));
    EXPECT_EQ(info.FormatName, c.Type);
    EXPECT_EQ(info.SampleRate, c.Rate);
    EXPECT_EQ(info.BitsPerSample, c.Bits);
    EXPECT_EQ(info.Channels, c.Channels);
    EXPECT_EQ(info.TotalTime, c.Seconds);
    if (std::string(c.Type) == "OGG") {
      EXPECT_NEAR((double)info.TotalSamples, (double)c.Frames, 1024);
      EXPECT_GT(info.BitRate, 0);
    } else {
      EXPECT_EQ(info.TotalSamples, c.Frames);
    }
    EXPECT_EQ(info.FileSize, testfiles::ReadBytes(f).size());
  }
}

// A damaged or foreign file under each extension, and a missing one, is simply not valid: no
// probe raises.
TEST(AudioTools, DamagedMissingAndUnknownFilesAreNotValidAndRaiseNothing) {
  TempDir d;
  const char* exts[] = {".wav", ".mp3", ".ogg", ".flac", ".wma", ".tta", ".ape", ".tak", ".ofr", ".wv", ".mpc", ".txt"};
  for (const char* e : exts) {
    SCOPED_TRACE(e);
    const WideString name = d.W(L"junk" + WideString(e, e + strlen(e)));
    ASSERT_TRUE(testfiles::WriteBytes(name, std::string(5000, 'x')));
    const WideString missing = d.W(L"missing" + WideString(e, e + strlen(e)));
    for (const WideString& f : {name, missing}) {
      EXPECT_FALSE(TAudioTools::IsValidFile(f));
      EXPECT_EQ(TAudioTools::GetDuration(f), 0);
      TAudioInformation info;
      EXPECT_EQ(TAudioTools::GetInformation(f, info), std::string(e) != ".txt");
      EXPECT_EQ(info.SampleRate, 0);
      EXPECT_EQ(info.Channels, 0);
    }
  }
}

// The capture devices in the capture input's order, the list cleared first.
TEST(AudioTools, CaptureDevicesAreListedInDeviceOrder) {
  TUniStringList list;
  list.Add(L"stale");
  EXPECT_TRUE(TAudioTools::GetCaptureDevices(&list));
  TDXAudioIn capture(nullptr);
  ASSERT_EQ(list.Count(), capture.DeviceCount());
  ASSERT_GT(list.Count(), 0) << "the test command provides capture devices";
  for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list.Strings(i), AnsiToWide(capture.GetDeviceName(i)));
}
