// Real audio devices for the device tests: the private PulseAudio server of the test command,
// reached from tests under Wine through native tools (pactl, parec, ffmpeg).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace devtest {

// Holds the machine's audio devices for one test: tests that capture or play run one at a time,
// also across test processes (a named mutex).
class DeviceLock {
 public:
  DeviceLock();
  ~DeviceLock();
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

 private:
  void* mutex_;
};

// A capture source of its own (a pipe source at Rate Hz, 16-bit stereo) while it lives; Feed
// plays a raw s16le stereo file into it in real time. Its device description holds Fifo().
class PipeSource {
 public:
  explicit PipeSource(int Rate);
  ~PipeSource();
  PipeSource(const PipeSource&) = delete;
  PipeSource& operator=(const PipeSource&) = delete;
  // Starts writing the file (native path) into the source at its real-time rate.
  void Feed(const std::string& RawFile);
  void StopFeeding();
  const std::string& Name() const { return name_; }
  const std::string& Fifo() const { return fifo_; }
  bool Ok() const { return !module_.empty(); }

 private:
  std::string name_, fifo_, module_, feeder_;
  int rate_;
};

// A null sink of its own (Format as pactl names it: u8, s16le, s24le, float32le...) while it
// lives. Its device description is Name().
class NullSink {
 public:
  NullSink(const std::string& Format, int Rate, int Channels);
  ~NullSink();
  NullSink(const NullSink&) = delete;
  NullSink& operator=(const NullSink&) = delete;
  const std::string& Name() const { return name_; }
  bool Ok() const { return !module_.empty(); }

 private:
  std::string name_, module_;
};

// Records a sink's monitor into a file until Stop: by default the null sink of the test
// command (s16le, 44100 Hz, stereo), else Sink's at the format, rate and channels given.
class MonitorRecorder {
 public:
  explicit MonitorRecorder(const std::string& File, const std::string& Sink = "nullsink",
                           const std::string& Format = "s16le", int Rate = 44100, int Channels = 2);
  ~MonitorRecorder();
  // Ends the recording and returns its samples (s16le).
  std::vector<int16_t> Stop();
  // Ends the recording and returns its bytes.
  std::string StopBytes();
  // The bytes recorded so far.
  int64_t Size() const;
  bool Ok() const { return !pid_.empty(); }

 private:
  std::string file_, pid_;
};

// The index of the first device whose description contains Part, or -1.
template <class T>
int FindDevice(const T& Component, const std::string& Part) {
  for (int i = 0; i < Component.DeviceCount(); ++i)
    if (Component.GetDeviceName(i).find(Part) != std::string::npos) return i;
  return -1;
}

// A native temporary file name (under /tmp) unique to this process.
std::string NativeTemp(const std::string& Stem);
// Writes bytes to a native path.
bool WriteNative(const std::string& Path, const std::string& Bytes);
// A counter signal: frame i has left = i & 0xFFFF and right = i >> 16 (stereo s16le).
std::string CounterSignal(uint32_t Frames, uint32_t First = 0);

}  // namespace devtest
