#include "audio/devices/DeviceTestUtil.h"

#include <gtest/gtest.h>

#include "classlib/WinApi.h"
#include "common/Peer.h"

namespace devtest {
namespace {

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

std::string Sh(const std::string& Command) {
  peer::Result r = peer::Run(Command, 60);
  EXPECT_EQ(r.exitCode, 0) << Command << "\n" << r.err;
  return r.exitCode == 0 ? Trim(r.out) : std::string();
}

}  // namespace

DeviceLock::DeviceLock() {
  mutex_ = CreateMutexW(nullptr, FALSE, L"SampleMorph.TestAudioDevices");
  if (mutex_) WaitForSingleObject(mutex_, INFINITE);
}

DeviceLock::~DeviceLock() {
  if (mutex_) {
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
  }
}

std::string NativeTemp(const std::string& Stem) {
  static int n = 0;
  return "/tmp/smtest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++n) + "-" + Stem;
}

bool WriteNative(const std::string& Path, const std::string& Bytes) {
  // The Z: drive maps the native root.
  std::wstring w = L"Z:";
  for (char c : Path) w += c == '/' ? L'\\' : (wchar_t)(unsigned char)c;
  HANDLE h = CreateFileW(w.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  bool ok = WriteFile(h, Bytes.data(), (DWORD)Bytes.size(), &put, nullptr) && put == Bytes.size();
  CloseHandle(h);
  return ok;
}

std::string CounterSignal(uint32_t Frames, uint32_t First) {
  std::string s(Frames * 4, '\0');
  for (uint32_t i = 0; i < Frames; ++i) {
    uint32_t v = First + i;
    s[4 * i] = (char)v;
    s[4 * i + 1] = (char)(v >> 8);
    s[4 * i + 2] = (char)(v >> 16);
    s[4 * i + 3] = (char)(v >> 24);
  }
  return s;
}

PipeSource::PipeSource(int Rate) : rate_(Rate) {
  name_ = "testsrc" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(Rate);
  fifo_ = NativeTemp(name_ + ".fifo");
  module_ = Sh("pactl load-module module-pipe-source source_name=" + name_ + " file=" + fifo_ +
               " format=s16le channels=2 rate=" + std::to_string(Rate));
}

PipeSource::~PipeSource() {
  StopFeeding();
  if (!module_.empty()) peer::Run("pactl unload-module " + module_, 30);
  peer::Run("rm -f " + peer::Quote(fifo_), 30);
}

void PipeSource::Feed(const std::string& RawFile) {
  StopFeeding();
  feeder_ = Sh("ffmpeg -nostdin -hide_banner -v error -re -f s16le -ar " + std::to_string(rate_) +
               " -ac 2 -i " + peer::Quote(RawFile) + " -f s16le -ar " + std::to_string(rate_) +
               " -ac 2 -y " + peer::Quote(fifo_) + " </dev/null >/dev/null 2>&1 & echo $!");
}

void PipeSource::StopFeeding() {
  if (!feeder_.empty()) peer::Run("kill " + feeder_ + " 2>/dev/null; true", 30);
  feeder_.clear();
}

NullSink::NullSink(const std::string& Format, int Rate, int Channels) {
  name_ = "testsink" + std::to_string(GetCurrentProcessId()) + "_" + Format + "_" + std::to_string(Rate) + "_" +
          std::to_string(Channels);
  module_ = Sh("pactl load-module module-null-sink sink_name=" + name_ + " format=" + Format +
               " rate=" + std::to_string(Rate) + " channels=" + std::to_string(Channels) +
               " sink_properties=device.description=" + name_);
}

NullSink::~NullSink() {
  if (!module_.empty()) peer::Run("pactl unload-module " + module_, 30);
}

MonitorRecorder::MonitorRecorder(const std::string& File, const std::string& Sink, const std::string& Format,
                                 int Rate, int Channels)
    : file_(File) {
  pid_ = Sh("parec -d " + Sink + ".monitor --raw --format=" + Format + " --rate=" + std::to_string(Rate) +
            " --channels=" + std::to_string(Channels) + " --latency-msec=20 " + peer::Quote(file_) +
            " </dev/null >/dev/null 2>&1 & echo $!");
}

MonitorRecorder::~MonitorRecorder() { StopBytes(); }

int64_t MonitorRecorder::Size() const {
  peer::Result r = peer::Run("stat -c %s " + peer::Quote(file_) + " 2>/dev/null || echo 0", 30);
  return atoll(r.out.c_str());
}

std::string MonitorRecorder::StopBytes() {
  if (pid_.empty()) return std::string();
  peer::Run("kill " + pid_ + "; while kill -0 " + pid_ + " 2>/dev/null; do sleep 0.05; done", 30);
  pid_.clear();
  return peer::Run("cat " + peer::Quote(file_) + "; rm -f " + peer::Quote(file_), 60).out;
}

std::vector<int16_t> MonitorRecorder::Stop() {
  std::string b = StopBytes();
  std::vector<int16_t> v(b.size() / 2);
  if (!v.empty()) memcpy(v.data(), b.data(), v.size() * 2);
  return v;
}

}  // namespace devtest
