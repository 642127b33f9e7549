// 100 start/stop cycles of real capture and playback leave no thread, handle or device behind.
#include <gtest/gtest.h>

#include "classlib/WinApi.h"

#include <tlhelp32.h>

#include "audio/devices/AuDSAudio.h"
#include "audio/devices/AuDXAudio.h"
#include "audio/engine/AudioTestUtil.h"
#include "common/Peer.h"
#include "audio/devices/DeviceTestUtil.h"

using namespace devtest;

namespace {

int ThreadCount() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 te{};
  te.dwSize = sizeof te;
  int n = 0;
  for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
    if (te.th32OwnerProcessID == GetCurrentProcessId()) ++n;
  CloseHandle(snap);
  return n;
}

// The kernel handles the process holds (the platform's handle count query may answer 0).
int HandleCount() {
  int n = 0;
  DWORD flags;
  for (uintptr_t h = 4; h < 0x10000; h += 4)
    if (GetHandleInformation((HANDLE)h, &flags)) ++n;
  return n;
}

// Streams the server has open for recording and playing.
int ServerStreams() {
  peer::Result r = peer::Run("pactl list short source-outputs | wc -l; pactl list short sink-inputs | wc -l", 30);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  int a = 0, b = 0;
  sscanf(r.out.c_str(), "%d %d", &a, &b);
  return a + b;
}

TEST(LiveSoak, HundredStartStopCyclesLeaveNothingBehind) {
  DeviceLock lock;
  PipeSource src(44100);
  ASSERT_TRUE(src.Ok());
  std::string raw = NativeTemp("soak.raw");
  ASSERT_TRUE(WriteNative(raw, CounterSignal(44100 * 60)));
  src.Feed(raw);
  TDXAudioIn in(nullptr);
  int dev = FindDevice(in, src.Fifo());
  ASSERT_GE(dev, 0);
  in.SetDeviceNumber(dev);
  in.SetInBitsPerSample(16);
  in.SetInChannels(2);
  in.SetInSampleRate(44100);
  in.SetLatency(40);
  TMemIn signal(Sine16(440, 44100, 44100, 2), 16, 2, 44100);
  TDSAudioOut out(nullptr);
  out.SetInput(&signal);
  std::string failure;
  out.OnThreadException = [&](TComponent*) { failure = out.ExceptionMessage(); };
  auto captureCycle = [&] {
    DWORD t0 = GetTickCount();
    in.Init();
    void* p = nullptr;
    uint32_t n = 4096;
    try {
      in.GetData(p, n);
    } catch (const Exception& e) {
      ADD_FAILURE() << e.what() << " after " << GetTickCount() - t0 << " ms";
    }
    EXPECT_GT(n, 0u);
    in.Flush();
  };
  auto playCycle = [&] {
    int pulls = signal.Pulls;
    out.Run();
    EXPECT_TRUE(PumpUntil([&] { return signal.Pulls >= pulls + 3; }, 5000));
    out.Stop(false);
  };
  // Warm-up: what the platform makes once (for the peers and the counts too) is not counted.
  int streams = ServerStreams();
  HandleCount();
  ThreadCount();
  for (int i = 0; i < 3; ++i) {
    captureCycle();
    playCycle();
  }
  int threads = ThreadCount(), handles = HandleCount();
  // Each capture starts right after a playback device was released, as when a preview is
  // followed by a recording.
  for (int i = 0; i < 100 && !HasFailure(); ++i) {
    SCOPED_TRACE("cycle " + std::to_string(i));
    captureCycle();
    playCycle();
  }
  EXPECT_EQ(failure, "");
  // The platform's own thread pools may grow by one; a leak per cycle would show 100 or more.
  EXPECT_LE(ThreadCount(), threads + 1) << "was " << threads;
  EXPECT_LE(HandleCount(), handles + 2) << "was " << handles;
  EXPECT_EQ(ServerStreams(), streams) << "the devices are released after every cycle";
  EXPECT_EQ(signal.Inits, signal.Flushes);
  src.StopFeeding();
  peer::Run("rm -f " + peer::Quote(raw));
}

}  // namespace
