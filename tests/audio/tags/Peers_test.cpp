// Our tags against Debian's ffmpeg/ffprobe and tags built by Python's standard library.
#include <gtest/gtest.h>

#include "audio/tags/AuTags.h"
#include "common/Peer.h"
#include "audio/tags/TagFiles.h"

using namespace tagtest;

namespace {

// A short MP3 without tags, made by ffmpeg.
void MakeMp3(const std::wstring& name) {
  RunPeer("ffmpeg -v error -f lavfi -i sine=frequency=440:duration=0.3 -c:a libmp3lame -id3v2_version 0 "
          "-write_xing 0 -y " + Native(name));
}

const std::wstring kChinese = L"\u91c7\u6837\u53d8\u6362";  // 采样变换

std::string Dump(const std::map<std::string, std::string>& tags) {
  std::string s;
  for (auto& [k, v] : tags) s += k + "=" + v + "\n";
  return s;
}

TEST(Peers, FfprobeReadsOurId3v2Tags) {
  ASSERT_EQ(GetACP(), 1252u) << "tags_test runs with LC_ALL=C.UTF-8";
  TempDir dir;
  for (bool unicode : {true, false}) {
    SCOPED_TRACE(unicode);
    const std::wstring name = dir.File(unicode ? L"u.mp3" : L"a.mp3");
    MakeMp3(name);
    TId3v2Tags t;
    const std::wstring title = unicode ? kChinese + L" Caf\u00e9" : L"Caf\u00e9 cr\u00e8me";
    t.SetTitle(title);
    t.SetArtist(unicode ? L"\u6b4c\u624b" : L"S\u00e4nger");
    t.SetAlbum(L"Album");
    t.SetGenre(L"Rock");
    t.SetTrack("3/12");
    t.SetYear("2024");
    t.SetComposer(L"Composer");
    t.SetCopyright(L"2024 Someone");
    t.SetEncoder(L"Enc");
    t.SetLanguage(L"eng");
    {
      File f(name);
      ASSERT_TRUE(t.WriteToFile(f.H(), unicode));
    }
    auto tags = ProbeTags(name);
    SCOPED_TRACE(Dump(tags));
    EXPECT_EQ(tags["title"], Utf8(title));
    EXPECT_EQ(tags["artist"], Utf8(t.Artist()));
    EXPECT_EQ(tags["album"], "Album");
    EXPECT_EQ(tags["genre"], "Rock");
    EXPECT_EQ(tags["track"], "3/12");
    EXPECT_EQ(tags["date"], "2024");
    EXPECT_EQ(tags["composer"], "Composer");
    EXPECT_EQ(tags["copyright"], "2024 Someone");
    EXPECT_EQ(tags["encoded_by"], "Enc");
    EXPECT_EQ(tags["language"], "eng");
    // The audio behind the tag is intact: ffmpeg decodes it all.
    peer::Result r = peer::Run("ffmpeg -v error -i " + Native(name) + " -f s16le - | wc -c");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_GT(atoi(r.out.c_str()), 20000);
  }
}

TEST(Peers, FfprobeReadsOurId3v1Block) {
  ASSERT_EQ(GetACP(), 1252u);
  TempDir dir;
  const std::wstring name = dir.File(L"v1.mp3");
  MakeMp3(name);
  TId3v1Tags t;
  t.SetTitle("Cafe au lait");  // ffprobe takes ID3v1 text for UTF-8: ASCII only
  t.SetArtist("Artist");
  t.SetAlbum("Album");
  t.SetYear(1999);
  t.SetComment("Comment");
  t.SetTrack(5);
  t.SetGenre("Jazz");
  {
    File f(name);
    ASSERT_TRUE(t.WriteToFile(f.H(), false));
  }
  auto tags = ProbeTags(name);
  SCOPED_TRACE(Dump(tags));
  EXPECT_EQ(tags["title"], "Cafe au lait");
  EXPECT_EQ(tags["artist"], "Artist");
  EXPECT_EQ(tags["album"], "Album");
  EXPECT_EQ(tags["date"], "1999");
  EXPECT_EQ(tags["comment"], "Comment");
  EXPECT_EQ(tags["track"], "5");
  EXPECT_EQ(tags["genre"], "Jazz");
}

TEST(Peers, WeReadFfmpegsId3v2Tags) {
  TempDir dir;
  for (int version : {3, 4}) {
    SCOPED_TRACE(version);
    const std::wstring name = dir.File(L"ff.mp3");
    RunPeer("ffmpeg -v error -f lavfi -i sine=duration=0.2 -c:a libmp3lame -id3v2_version " + std::to_string(version) +
            " -metadata title=" + peer::Quote(Utf8(kChinese)) + " -metadata artist=Plain -metadata album=" +
            peer::Quote("Caf\xC3\xA9") + " -metadata genre=Jazz -metadata track=2/7 -metadata composer=" +
            peer::Quote(Utf8(L"\u6b4c")) + " -metadata copyright=C -metadata date=2019 -write_id3v1 1 -y " + Native(name));
    File f(name);
    TId3v1Tags v1;
    ASSERT_TRUE(v1.ReadFromFile(f.H()));
    EXPECT_EQ(v1.Artist(), "Plain");
    EXPECT_EQ(v1.Genre(), "Jazz");
    EXPECT_EQ(v1.Track(), 2);
    EXPECT_EQ(v1.Year(), 2019);
    f.Seek(0);
    TId3v2Tags t;
    ASSERT_TRUE(t.ReadFromFile(f.H()));
    // Version 2.4 keeps the date in a frame the reader does not take.
    EXPECT_EQ(t.Year(), version == 3 ? "2019" : "");
    EXPECT_EQ(t.Title(), kChinese);
    EXPECT_EQ(t.Artist(), L"Plain");
    EXPECT_EQ(t.Album(), L"Caf\u00e9");
    EXPECT_EQ(t.Genre(), L"Jazz");
    EXPECT_EQ(t.Track(), "2/7");
    EXPECT_EQ(t.Composer(), L"\u6b4c");
    EXPECT_EQ(t.Copyright(), L"C");
    // The reader leaves the file on the first byte after the tag: the first MPEG frame.
    unsigned char sync[2] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(f.H(), sync, 2, &got, nullptr) && got == 2);
    EXPECT_EQ(sync[0], 0xFF);
    EXPECT_EQ(sync[1] & 0xE0, 0xE0);
  }
}

TEST(Peers, WeReadFfmpegsApeTag) {
  TempDir dir;
  const std::wstring name = dir.File(L"ff.wv");
  RunPeer("ffmpeg -v error -f lavfi -i sine=duration=0.2 -c:a wavpack -metadata Title=" +
          peer::Quote(Utf8(kChinese)) + " -metadata Artist=" + peer::Quote("Caf\xC3\xA9") +
          " -metadata Album=Al -metadata Year=2020 -metadata Track=9 -metadata Genre=Pop -metadata Copyright=C "
          "-metadata Comment=skipped -y " + Native(name));
  HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  THandleStream s(h);
  TAPEv2Tags t;
  ReadAPEv2Tags(&s, &t);
  CloseHandle(h);
  EXPECT_EQ(t.Title(), kChinese);
  EXPECT_EQ(t.Artist(), L"Caf\u00e9");
  EXPECT_EQ(t.Album(), L"Al");
  EXPECT_EQ(t.Year(), "2020");
  EXPECT_EQ(t.Track(), "9");
  EXPECT_EQ(t.Genre(), L"Pop");
  EXPECT_EQ(t.Copyright(), L"C");
  EXPECT_EQ(t.Comment(), L"");
}

// Frames that ffmpeg does not write (version 2.2, big-endian UTF-16, encoding 2), built byte by
// byte by Python.
TEST(Peers, WeReadHandBuiltFrames) {
  ASSERT_EQ(GetACP(), 1252u);
  TempDir dir;
  const std::string script = R"PY(
import struct, sys
def ss(n): return bytes([(n >> 21) & 127, (n >> 14) & 127, (n >> 7) & 127, n & 127])
def frame(v, fid, body):
    if v == 2: return fid.encode() + struct.pack('>I', len(body))[1:] + body
    return fid.encode() + (struct.pack('>I', len(body)) if v == 3 else ss(len(body))) + b'\0\0' + body
def tag(v, frames): return b'ID3' + bytes([v, 0, 0]) + ss(len(frames)) + frames
title = '\u91c7\u6837 Caf\u00e9'
files = {
  'v22': tag(2, frame(2, 'TT2', b'\x01' + title.encode('utf-16')) + frame(2, 'TP1', b'\0' + 'S\u00e4nger'.encode('latin-1'))),
  'v23': tag(3, frame(3, 'TIT2', b'\x01\xfe\xff' + title.encode('utf-16-be')) + frame(3, 'TPE1', b'\x01' + 'S\u00e4nger'.encode('utf-16-le') + b'\0\0')),
  'v24': tag(4, frame(4, 'TIT2', b'\x02' + title.encode('utf-16-be')) + frame(4, 'TPE1', b'\x03' + 'S\u00e4nger'.encode('utf-8') + b'\0')),
}
for name, data in files.items():
    open(sys.argv[1] + '/' + name + '.mp3', 'wb').write(data + b'\xff\xfb audio')
)PY";
  WriteBytes(dir.File(L"make.py"), script);
  RunPeer("python3 " + Native(dir.File(L"make.py")) + " " + Native(dir.Path()));
  for (const wchar_t* file : {L"v22.mp3", L"v23.mp3", L"v24.mp3"}) {
    SCOPED_TRACE(Utf8(file));
    File f(dir.File(file));
    TId3v2Tags t;
    ASSERT_TRUE(t.ReadFromFile(f.H()));
    EXPECT_EQ(t.Title(), L"\u91c7\u6837 Caf\u00e9");
    EXPECT_EQ(t.Artist(), L"S\u00e4nger");
    char next[2] = {};
    DWORD got = 0;
    ReadFile(f.H(), next, 2, &got, nullptr);
    EXPECT_EQ(std::string(next, 2), "\xFF\xFB");
  }
}

}  // namespace
