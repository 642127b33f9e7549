#include "tasks/TaskTestUtil.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <sstream>

#include "classlib/Forms.h"

namespace tasktest {

std::string Peer(const std::string& Command) {
  peer::Result r = peer::Run(Command, 300);
  EXPECT_EQ(r.exitCode, 0) << Command << "\n" << r.err;
  return r.exitCode == 0 ? r.out : std::string();
}

void MakeTones(const std::string& UnixFile, double Seconds, int Rate, int Channels, int Bits, int Base) {
  std::ostringstream c;
  c << "sox -D -n -r " << Rate << " -c " << Channels << " -b " << Bits << " " << peer::Quote(UnixFile)
    << " synth " << Seconds << " sine " << Base << " sine " << Base * 3 / 2 << " gain -3";
  Peer(c.str());
}

void Encode(const std::string& From, const std::string& To, const std::string& Options) {
  Peer("ffmpeg -nostdin -v error -y -i " + peer::Quote(From) + " " + Options + " " + peer::Quote(To));
}

std::map<std::string, std::string> Probe(const std::string& UnixFile) {
  std::map<std::string, std::string> m;
  std::string out = Peer("ffprobe -v error -select_streams a:0 -show_entries "
                         "stream=codec_name,sample_rate,channels,duration,bits_per_raw_sample,sample_fmt "
                         "-of default=nw=1 " + peer::Quote(UnixFile));
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return m;
}

std::string Pcm(const std::string& UnixFile, const std::string& Format) {
  return Peer("ffmpeg -nostdin -v error -i " + peer::Quote(UnixFile) + " -f " + Format + " -");
}

bool ServeUntil(const std::function<bool()>& Cond, unsigned TimeoutMs) {
  const DWORD start = GetTickCount();
  while (!Cond()) {
    if (GetTickCount() - start > TimeoutMs) return Cond();
    HANDLE h = static_cast<HANDLE>(SyncEvent());
    MsgWaitForMultipleObjectsEx(1, &h, 100, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    Application->ProcessMessages();
  }
  return true;
}

BusLog::BusLog() {
  auto add = [this](const std::string& s) { Lines.push_back(s); };
  auto idx = [add](std::string p) { return [add, p](TObject*, int i) { add(p + "START " + std::to_string(i)); }; };
  auto prog = [add](std::string p) {
    return [add, p](TObject*, int i, int pc) { add(p + "PROGRESS " + std::to_string(i) + " " + std::to_string(pc)); };
  };
  auto done = [add](std::string p) {
    return [add, p](TObject*, int i, bool ok) { add(p + "DONE " + std::to_string(i) + (ok ? " ok" : " failed")); };
  };
  auto err = [add](std::string p) {
    return [add, p](TObject*, int i, int c) { add(p + "ERROR " + std::to_string(i) + " " + std::to_string(c)); };
  };
  FSource.OnConvertFileStart = idx("");
  FSource.OnConvertProgress = prog("");
  FSource.OnConvertFileDone = done("");
  FSource.OnConvertFileError = err("");
  FSource.OnSplitSegmentStart = idx("S");
  FSource.OnSplitProgress = prog("S");
  FSource.OnSplitSegmentDone = done("S");
  FSource.OnSplitSegmentError = err("S");
  FSource.OnMixStepStart = idx("M");
  FSource.OnMixProgress = prog("M");
  FSource.OnMixStepDone = done("M");
  FSource.OnMixStepError = err("M");
  FSource.OnPlayerStarted = [add](TObject*) { add("PSTARTED"); };
  FSource.OnPlayerStopped = [add](TObject*) { add("PSTOPPED"); };
  FSource.OnRecordStarted = [add](TObject*) { add("RSTARTED"); };
  FSource.OnRecordStopped = [add](TObject*) { add("RSTOPPED"); };
}

std::vector<std::string> BusLog::Milestones() const {
  std::vector<std::string> out;
  for (const auto& l : Lines)
    if (l.find("PROGRESS") == std::string::npos) out.push_back(l);
  return out;
}

bool BusLog::Has(const std::string& Line) const {
  return std::find(Lines.begin(), Lines.end(), Line) != Lines.end();
}

}  // namespace tasktest
