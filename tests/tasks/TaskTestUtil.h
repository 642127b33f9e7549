// Helpers of the task engine's tests: a scratch folder, fixtures made by the native peers, a log
// of the bus, serving the user-interface thread until something has happened, and the peers'
// view of a file.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/Peer.h"
#include "common/TestFiles.h"
#include "tasks/EventsManager.h"

namespace tasktest {

class TempDir : public testfiles::TempDir {
 public:
  TempDir() : testfiles::TempDir(L"tasks") {}
  std::wstring W(const std::wstring& name) const { return File(name); }
  std::string U(const std::wstring& name) const { return peer::UnixPath(File(name)); }
  // The folder with its final "\".
  std::wstring Folder() const { return Path() + L"\\"; }
};

// Runs a native command; fails the test (and returns "") when it does not exit with 0.
std::string Peer(const std::string& Command);
// sox's synthesiser: Seconds of two tones at Rate, Channels, Bits into the native file (any
// extension sox writes: .wav, .flac, ...).
void MakeTones(const std::string& UnixFile, double Seconds, int Rate, int Channels, int Bits, int Base = 440);
// ffmpeg encoding of a native file into another (format from the extension), extra options first.
void Encode(const std::string& From, const std::string& To, const std::string& Options = "");

// ffprobe's view of the first audio stream: "codec_name", "sample_rate", "channels",
// "duration" (stream), "bits_per_raw_sample", "sample_fmt".
std::map<std::string, std::string> Probe(const std::string& UnixFile);
// ffmpeg's decoding to interleaved little-endian PCM ("s16le", "s24le", ...).
std::string Pcm(const std::string& UnixFile, const std::string& Format);

// Serves the user-interface thread (sent messages, synchronised calls, posted messages) until
// Cond holds or TimeoutMs has passed; returns Cond().
bool ServeUntil(const std::function<bool()>& Cond, unsigned TimeoutMs = 120000);

// Every bus message of the workers, in order of arrival, as text: "START 0", "PROGRESS 0 40",
// "DONE 0 ok" / "DONE 0 failed", "ERROR 0 <code>", "PSTARTED", "PSTOPPED", "RSTARTED",
// "RSTOPPED"; Split and mix messages carry the prefix "S" and "M" ("SSTART 0", "MDONE 1 ok").
class BusLog {
 public:
  BusLog();
  std::vector<std::string> Lines;
  // The lines without the progress ones.
  std::vector<std::string> Milestones() const;
  bool Has(const std::string& Line) const;

 private:
  TEventSource FSource{nullptr};
};

}  // namespace tasktest
