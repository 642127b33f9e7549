// A small program that runs the codec components in a folder with only some of the codec
// libraries (the library test copies it there). It writes one line per scenario to the file
// named by its second argument: scenario, OnDone arrived (1/0), the messages of
// OnThreadException (or of the input) joined by "|", and what the file holds.
#include "classlib/WinApi.h"

#include <cstdio>
#include <string>

#include "audio/formats/flac/AuFLAC.h"
#include "audio/formats/mp3/AuLAME.h"
#include "audio/formats/vorbis/AuVorbis.h"
#include "classlib/Forms.h"

namespace {

class TToneIn : public TAuInput {
 public:
  TToneIn() : TAuInput(nullptr), FData(2 * 2 * 20000, '\0') {
    for (size_t i = 0; i < FData.size(); i += 2) FData[i + 1] = (char)((i / 64) % 32);
  }

 protected:
  int GetBPS() override { return 16; }
  int GetCh() override { return 2; }
  int GetSR() override { return 44100; }
  void InitInternal() override {
    FRead = 0;
    FPosition = 0;
    FSize = (int64_t)FData.size();
    FBusy = true;
  }
  void FlushInternal() override { FBusy = false; }
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override {
    size_t n = std::min<size_t>(Bytes, FData.size() - FRead);
    Buffer = n ? &FData[FRead] : nullptr;
    Bytes = (uint32_t)n;
    FRead += n;
  }

 private:
  std::string FData;
  size_t FRead = 0;
};

std::string RunOutput(TAuOutput& Out, TToneIn& In) {
  bool done = false;
  std::string errors;
  Out.SetInput(&In);
  Out.OnDone = [&](TComponent*) { done = true; };
  Out.OnThreadException = [&](TComponent*) { errors += (errors.empty() ? "" : "|") + Out.ExceptionMessage(); };
  Out.Run();
  DWORD start = GetTickCount();
  while (!done && GetTickCount() - start < 60000) {
    Application->ProcessMessages();
    if (done) break;
    HANDLE h = SyncEvent();
    MsgWaitForMultipleObjectsEx(1, &h, 50, QS_ALLINPUT, 0);
  }
  return std::string(done ? "1" : "0") + "\t" + errors + (In.Busy() ? "\tinput busy" : "\t");
}

std::string ReadInput(TAuFileIn& In, const WideString& File) {
  In.SetWideFileName(File);
  std::string r = In.Valid() ? "valid" : "invalid";
  try {
    In.Init();
    r += "\tread";
    In.Flush();
  } catch (const Exception& e) {
    r += "\t" + WideToAnsi(e.Message());
    In.Reset();
  }
  return r;
}

std::string FileFacts(const WideString& File) {
  HANDLE h = CreateFileW(File.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "no file";
  DWORD size = GetFileSize(h, nullptr), got = 0;
  std::string head(3, '\0'), tail(128, '\0');
  ReadFile(h, &head[0], 3, &got, nullptr);
  if (size >= 128) {
    SetFilePointer(h, -128, nullptr, FILE_END);
    ReadFile(h, &tail[0], 128, &got, nullptr);
  }
  CloseHandle(h);
  return "start=" + head + " end=" + tail.substr(0, 3) + " title=" + std::string(tail.c_str() + 3) +
         " genre=" + std::to_string((uint8_t)tail[127]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  ClasslibInitialize();
  AuClassesInitialize();
  std::string scenario = argv[1];
  WideString dir = AnsiToWide(argv[2]);
  dir = dir.substr(0, dir.find_last_of(L"\\/") + 1);
  std::string out;
  {
    TToneIn in;
    TFLACOut flac(nullptr);
    flac.SetWideFileName(dir + L"o.flac");
    std::string flacRun = RunOutput(flac, in);
    out += "flac-out\t" + flacRun + "\t" + (GetFileAttributesW((dir + L"o.flac").c_str()) == INVALID_FILE_ATTRIBUTES ? "no file" : "file") + "\n";
    TVorbisOut vorbis(nullptr);
    vorbis.SetWideFileName(dir + L"o.ogg");
    out += "vorbis-out\t" + RunOutput(vorbis, in) + "\n";
    TMP3Out mp3(nullptr);
    mp3.SetWideFileName(dir + L"o.mp3");
    mp3.Id3v1Tags()->SetTitle("Latin");
    std::string mp3Run = RunOutput(mp3, in);  // before the file is looked at
    out += "mp3-out\t" + mp3Run + "\t" + FileFacts(dir + L"o.mp3") + "\n";
    TFLACIn flacIn(nullptr);
    out += "flac-in\t" + ReadInput(flacIn, dir + L"in.flac") + "\n";
    TVorbisIn vorbisIn(nullptr);
    out += "vorbis-in\t" + ReadInput(vorbisIn, dir + L"in.ogg") + "\n";
  }
  FILE* f = std::fopen(argv[2], "wb");
  if (f) {
    std::fwrite(out.data(), 1, out.size(), f);
    std::fclose(f);
  }
  AuClassesFinalize();
  ClasslibFinalize();
  return f ? 0 : 3;
}
