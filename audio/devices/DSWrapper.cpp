#include "audio/devices/DSWrapper.h"

#include "classlib/WinApi.h"

#include <mmsystem.h>
#include <mmreg.h>
#include <dsound.h>

#include "audio/devices/DSRing.h"

#include <algorithm>
#include <cstring>

namespace {

const GUID IIDDirectSoundNotify = {0xb0210783, 0x89cd, 0x11d0, {0xaf, 0x08, 0x00, 0xa0, 0xc9, 0x25, 0xcd, 0x16}};

using TCaptureEnumerate = HRESULT(WINAPI*)(LPDSENUMCALLBACKW, void*);
using TCaptureCreate = HRESULT(WINAPI*)(const GUID*, IDirectSoundCapture**, IUnknown*);
using TCreate = HRESULT(WINAPI*)(const GUID*, IDirectSound**, IUnknown*);

BOOL CALLBACK AddDeviceCallback(GUID* Guid, const wchar_t* Description, const wchar_t*, void* Context) {
  try {
    return DSAddDevice(*static_cast<TDSDeviceTable*>(Context), Guid, DSDescription(Description).c_str()) ? TRUE
                                                                                                        : FALSE;
  } catch (...) {
    return FALSE;
  }
}

const GUID* AsGuid(const TDSGuid& G, GUID& Out) {
  static_assert(sizeof(TDSGuid) == sizeof(GUID), "a device GUID is 16 bytes");
  std::memcpy(&Out, &G, sizeof Out);
  static const GUID zero{};
  return std::memcmp(&Out, &zero, sizeof Out) == 0 ? nullptr : &Out;
}

template <class T>
void ReleaseIf(T*& P) {
  if (P) {
    P->Release();
    P = nullptr;
  }
}

WAVEFORMATEX PcmFormat(uint32_t Bits, uint32_t Rate, uint32_t Channels) {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = (WORD)Channels;
  f.nSamplesPerSec = Rate;
  f.wBitsPerSample = (WORD)Bits;
  f.nBlockAlign = (WORD)(Bits / 8 * Channels);
  f.nAvgBytesPerSec = f.nBlockAlign * Rate;
  f.cbSize = 0;
  return f;
}

}  // namespace

bool DSAddDevice(TDSDeviceTable& Table, const void* Guid, const char* Description) {
  if (Table.Count >= 16) return false;
  TDSDeviceEntry& e = Table.Devices[Table.Count];
  e = TDSDeviceEntry{};
  if (Guid) std::memcpy(&e.Guid, Guid, sizeof e.Guid);
  if (Description) {
    size_t n = strnlen(Description, 127);
    std::memcpy(e.Description, Description, n);
    e.Description[n] = 0;
  }
  ++Table.Count;
  return Table.Count < 16;
}

std::string DSDescription(const wchar_t* Description) {
  if (!Description) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, Description, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string s((size_t)n, '\0');
  WideCharToMultiByte(CP_ACP, 0, Description, -1, &s[0], n, nullptr, nullptr);
  s.resize((size_t)n - 1);
  return s;
}

void* DSoundProc(const char* Name) {
  static HMODULE lib = LoadLibraryW(L"dsound.dll");  // kept until the process ends
  return lib ? reinterpret_cast<void*>(GetProcAddress(lib, Name)) : nullptr;
}

DSoundWrapper::DSoundWrapper() = default;

DSoundWrapper::~DSoundWrapper() {
  ReleaseAll();
  if (FCaptureEvent) CloseHandle(FCaptureEvent);
}

int32_t DSoundWrapper::EnumerateCaptureDevices(TDSDeviceTable& Table) {
  Table.Count = 0;
  auto f = reinterpret_cast<TCaptureEnumerate>(DSoundProc("DirectSoundCaptureEnumerateW"));
  if (!f) return DSERR_NODRIVER_;
  return f(AddDeviceCallback, &Table);
}

void DSoundWrapper::Reset() {
  ReleaseAll();
  CaptureReadPosition = CaptureBufferSize = 0;
  OutputWritePosition = OutputBufferSize = OutputFrameSize = 0;
  TicksPerBuffer = LastCounter = 0;
  LastPlayCursor = UnderrunCount = 0;
  Playing = 0;
  FramesWritten = FramesPlayed = 0;
  FOutputRate = 0;
}

int32_t DSoundWrapper::OpenCaptureDevice(const TDSGuid& Guid) {
  ReleaseIf(FCaptureBuffer);
  ReleaseIf(FCaptureDevice);
  auto f = reinterpret_cast<TCaptureCreate>(DSoundProc("DirectSoundCaptureCreate"));
  if (!f) return DSERR_NODRIVER_;
  GUID g;
  return f(AsGuid(Guid, g), &FCaptureDevice, nullptr);
}

int32_t DSoundWrapper::CreateCaptureBuffer(uint32_t Bits, uint32_t Rate, uint32_t Size, uint32_t Channels) {
  if (!FCaptureDevice) return DSERR_INVALIDCALL_;
  WAVEFORMATEX fmt = PcmFormat(Bits, Rate, Channels);
  DSCBUFFERDESC1 desc{};
  desc.dwSize = sizeof desc;  // 28 bytes: no effects
  desc.dwFlags = 0;
  desc.dwBufferBytes = Size;
  desc.lpwfxFormat = &fmt;
  ReleaseIf(FCaptureBuffer);
  HRESULT hr = FCaptureDevice->CreateCaptureBuffer(reinterpret_cast<DSCBUFFERDESC*>(&desc), &FCaptureBuffer, nullptr);
  if (FAILED(hr)) return hr;
  CaptureReadPosition = 0;
  CaptureBufferSize = Size;
  // Notifications at each eighth let the reader wait on an event instead of a timer alone.
  if (!FCaptureEvent) FCaptureEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  IDirectSoundNotify* notify = nullptr;
  if (FCaptureEvent && SUCCEEDED(FCaptureBuffer->QueryInterface(IIDDirectSoundNotify, (void**)&notify)) && notify) {
    uint32_t frame = std::max<uint32_t>(1, Bits / 8 * Channels);
    DSBPOSITIONNOTIFY pos[CaptureNotifications];
    for (uint32_t i = 0; i < CaptureNotifications; ++i) {
      uint32_t off = (uint32_t)((uint64_t)Size * (i + 1) / CaptureNotifications);
      off -= off % frame;
      pos[i].dwOffset = off ? off - 1 : 0;
      pos[i].hEventNotify = FCaptureEvent;
    }
    notify->SetNotificationPositions(CaptureNotifications, pos);
    notify->Release();
  }
  return DS_OK;
}

int32_t DSoundWrapper::StartCapture() { return FCaptureBuffer ? FCaptureBuffer->Start(DSCBSTART_LOOPING) : DS_OK; }

int32_t DSoundWrapper::StopCapture() { return FCaptureBuffer ? FCaptureBuffer->Stop() : DS_OK; }

int32_t DSoundWrapper::CapturedBytesAvailable(uint32_t& Available) {
  Available = 0;
  if (!FCaptureBuffer) return DSERR_INVALIDCALL_;
  DWORD capture = 0, read = 0;
  HRESULT hr = FCaptureBuffer->GetCurrentPosition(&capture, &read);
  if (FAILED(hr)) return hr;
  int64_t a = (int64_t)read - (int64_t)CaptureReadPosition;
  if (a < 0) a += CaptureBufferSize;
  Available = (uint32_t)a;
  return DS_OK;
}

int32_t DSoundWrapper::ReadCaptured(void* Target, uint32_t& Count) {
  if (!FCaptureBuffer || Count == 0) {
    Count = 0;
    return FCaptureBuffer ? DS_OK : DSERR_INVALIDCALL_;
  }
  auto* out = static_cast<uint8_t*>(Target);
  uint32_t done;
  HRESULT hr = RingStep(FCaptureBuffer, CaptureReadPosition, CaptureBufferSize, Count, done,
                        [out](uint8_t* P, uint32_t N, uint32_t At) { std::memcpy(out + At, P, N); });
  if (FAILED(hr)) return hr;
  Count = done;
  return DS_OK;
}

void DSoundWrapper::SkipCaptured(uint32_t Count) {
  if (CaptureBufferSize) CaptureReadPosition = (uint32_t)(((uint64_t)CaptureReadPosition + Count) % CaptureBufferSize);
}

void DSoundWrapper::WaitForCapture(uint32_t Ms) {
  if (FCaptureEvent)
    WaitForSingleObject(FCaptureEvent, Ms);
  else
    Sleep(Ms);
}

int32_t DSoundWrapper::OpenOutputDevice(const TDSGuid& Guid) {
  ReleaseIf(FOutputBuffer);
  ReleaseIf(FPrimaryBuffer);
  ReleaseIf(FOutputDevice);
  auto f = reinterpret_cast<TCreate>(DSoundProc("DirectSoundCreate"));
  if (!f) return DSERR_NODRIVER_;
  GUID g;
  return f(AsGuid(Guid, g), &FOutputDevice, nullptr);
}

int32_t DSoundWrapper::CreateOutputBuffer(void* Window, uint32_t Bits, uint32_t Size, uint32_t Channels,
                                          uint32_t Rate) {
  if (!FOutputDevice) return DSERR_INVALIDCALL_;
  OutputBufferSize = Size;
  OutputFrameSize = Channels * Bits / 8;
  FramesWritten = FramesPlayed = 0;
  UnderrunCount = 0;
  FOutputRate = Rate;
  HWND wnd = Window ? static_cast<HWND>(Window) : GetDesktopWindow();
  HRESULT hr = FOutputDevice->SetCooperativeLevel(wnd, DSSCL_EXCLUSIVE);
  if (FAILED(hr)) return hr;
  WAVEFORMATEX fmt = PcmFormat(Bits, Rate, Channels);
  DSBUFFERDESC pd{};
  pd.dwSize = sizeof pd;
  pd.dwFlags = DSBCAPS_PRIMARYBUFFER;
  ReleaseIf(FPrimaryBuffer);
  hr = FOutputDevice->CreateSoundBuffer(&pd, &FPrimaryBuffer, nullptr);
  if (FAILED(hr)) return hr;
  FPrimaryBuffer->SetFormat(&fmt);
  DSBUFFERDESC sd{};
  sd.dwSize = sizeof sd;
  sd.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLVOLUME;
  sd.dwBufferBytes = Size;
  sd.lpwfxFormat = &fmt;
  ReleaseIf(FOutputBuffer);
  hr = FOutputDevice->CreateSoundBuffer(&sd, &FOutputBuffer, nullptr);
  if (FAILED(hr)) return hr;
  void *p1, *p2;
  DWORD n1, n2;
  if (SUCCEEDED(FOutputBuffer->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER))) {
    std::memset(p1, Bits == 8 ? 0x80 : 0, n1);
    if (p2) std::memset(p2, Bits == 8 ? 0x80 : 0, n2);
    FOutputBuffer->Unlock(p1, n1, p2, n2);
  }
  LARGE_INTEGER freq;
  TicksPerBuffer = QueryPerformanceFrequency(&freq) && Rate && OutputFrameSize
                       ? (int64_t)((double)freq.QuadPart * (Size / OutputFrameSize) / Rate)
                       : 0;
  DWORD play = 0, write = 0;
  FOutputBuffer->GetCurrentPosition(&play, &write);
  OutputWritePosition = write;
  return DS_OK;
}

int32_t DSoundWrapper::StartOutput() {
  if (!FOutputBuffer) return DSERR_INVALIDCALL_;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  LastCounter = now.QuadPart;
  FramesPlayed = 0;
  LastPlayCursor = 0;
  FOutputBuffer->SetCurrentPosition(0);
  HRESULT hr = FOutputBuffer->Play(0, 0, DSBPLAY_LOOPING);
  Playing = -1;
  return hr;
}

int32_t DSoundWrapper::StopOutput() {
  if (!FOutputBuffer) return DS_OK;
  Playing = 0;
  return FOutputBuffer->Stop();
}

int32_t DSoundWrapper::RestartOutput() {
  if (!FOutputBuffer) return -1;
  HRESULT hr = FOutputBuffer->Play(0, 0, DSBPLAY_LOOPING);
  Playing = -1;
  return hr;
}

uint32_t DSoundWrapper::OutputSpace() {
  if (!FOutputBuffer || !OutputBufferSize) return 0;
  const int64_t size = OutputBufferSize;
  DWORD play = 0, write = 0;
  if (FAILED(FOutputBuffer->GetCurrentPosition(&play, &write))) return 0;
  int64_t gap = (int64_t)write - play;
  if (gap < 0) gap += size;
  if (Playing && TicksPerBuffer) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    int64_t byTime = (int64_t)((double)(now.QuadPart - LastCounter) * size / TicksPerBuffer);
    int64_t moved = (int64_t)play - LastPlayCursor;
    if (moved < 0) moved += size;
    int64_t passes = (byTime - moved) / size;  // whole passes the cursor cannot show
    if (passes > 0) moved += passes * size;
    if (OutputFrameSize) FramesPlayed += (double)(moved / OutputFrameSize);
    LastCounter = now.QuadPart;
    LastPlayCursor = play;
  }
  int64_t space = (int64_t)play - OutputWritePosition;
  if (space < 0) space += size;
  if (space <= size - gap) return (uint32_t)space;
  // The writer has fallen behind the play cursor.
  if (Playing) ++UnderrunCount;
  OutputWritePosition = write;
  return (uint32_t)(size - gap);
}

int32_t DSoundWrapper::WriteToOutput(const void* Data, uint32_t Count) {
  if (!FOutputBuffer || !Count) return DS_OK;
  const auto* in = static_cast<const uint8_t*>(Data);
  uint32_t done;
  HRESULT hr = RingStep(FOutputBuffer, OutputWritePosition, OutputBufferSize, Count, done,
                        [in](uint8_t* P, uint32_t N, uint32_t At) { std::memcpy(P, in + At, N); });
  if (FAILED(hr)) return hr;
  if (OutputFrameSize) FramesWritten += (double)(done / OutputFrameSize);
  return DS_OK;
}

int32_t DSoundWrapper::FillOutput(uint8_t Value) {
  uint32_t space = OutputSpace();
  if (!FOutputBuffer || !space) return DS_OK;
  uint32_t done;
  HRESULT hr = RingStep(FOutputBuffer, OutputWritePosition, OutputBufferSize, space, done,
                        [Value](uint8_t* P, uint32_t N, uint32_t) { std::memset(P, Value, N); });
  if (FAILED(hr)) return hr;
  if (OutputFrameSize) FramesWritten += (double)(done / OutputFrameSize);
  return DS_OK;
}

void DSoundWrapper::ReleaseAll() {
  if (FOutputBuffer) FOutputBuffer->Stop();
  ReleaseIf(FOutputBuffer);
  ReleaseIf(FPrimaryBuffer);
  if (FCaptureBuffer) FCaptureBuffer->Stop();
  ReleaseIf(FCaptureBuffer);
  ReleaseIf(FCaptureDevice);
  ReleaseIf(FOutputDevice);
  Playing = 0;
}
