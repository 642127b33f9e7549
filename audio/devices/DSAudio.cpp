#include "audio/devices/DSAudio.h"

#include "classlib/WinApi.h"

#include <mmsystem.h>
#include <mmreg.h>
#include <dsound.h>

#include "audio/devices/DSRing.h"

#include <cstring>

#include "audio/engine/AuClasses.h"

namespace {

const GUID IIDDirectSoundBuffer8 = {0x6825a449, 0x7524, 0x4d82, {0x92, 0x0f, 0x50, 0xe3, 0x6a, 0xb3, 0xab, 0x1e}};
const GUID IIDDirectSoundNotify = {0xb0210783, 0x89cd, 0x11d0, {0xaf, 0x08, 0x00, 0xa0, 0xc9, 0x25, 0xcd, 0x16}};
const GUID SubtypePCM = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

using TEnumerate = HRESULT(WINAPI*)(LPDSENUMCALLBACKW, void*);
using TCreate8 = HRESULT(WINAPI*)(const GUID*, IDirectSound8**, IUnknown*);

BOOL CALLBACK AddDeviceCallback(GUID* Guid, const wchar_t* Description, const wchar_t*, void* Context) {
  try {
    return DSAddDevice(*static_cast<TDSDeviceTable*>(Context), Guid, DSDescription(Description).c_str()) ? TRUE
                                                                                                        : FALSE;
  } catch (...) {
    return FALSE;
  }
}

template <class T>
void ReleaseIf(T*& P) {
  if (P) {
    P->Release();
    P = nullptr;
  }
}

WAVEFORMATEXTENSIBLE NativeFormat(const TDSFormat& F) {
  WAVEFORMATEXTENSIBLE w{};
  w.Format.wFormatTag = F.Tag;
  w.Format.nChannels = F.Channels;
  w.Format.nSamplesPerSec = F.SampleRate;
  w.Format.wBitsPerSample = F.BitsPerSample;
  w.Format.nBlockAlign = F.BlockAlign;
  w.Format.nAvgBytesPerSec = F.BytesPerSec;
  if (F.Tag == WAVE_FORMAT_EXTENSIBLE) {
    w.Format.cbSize = 22;
    w.Samples.wValidBitsPerSample = F.ValidBits;
    w.dwChannelMask = F.ChannelMask;
    w.SubFormat = SubtypePCM;
  }
  return w;
}

}  // namespace

TDSFormat DSMakeFormat(uint32_t Channels, uint32_t Rate, uint32_t Bits) {
  TDSFormat f;
  f.Channels = (uint16_t)Channels;
  f.SampleRate = Rate;
  f.BitsPerSample = (uint16_t)Bits;
  f.BlockAlign = (uint16_t)(Channels * Bits / 8);
  f.BytesPerSec = f.BlockAlign * Rate;
  if (Channels >= 3) {
    f.Tag = 0xFFFE;
    f.ValidBits = (uint16_t)Bits;
    f.ChannelMask = Channels == 6 ? 0x3F : Channels == 8 ? 0xFF : 0;
  }
  return f;
}

DSOut::DSOut() = default;

DSOut::~DSOut() {
  Release();
  for (void*& e : FEvents)
    if (e) {
      CloseHandle(e);
      e = nullptr;
    }
}

int32_t DSOut::EnumerateDevices(TDSDeviceTable& Table) {
  Table.Count = 0;
  auto f = reinterpret_cast<TEnumerate>(DSoundProc("DirectSoundEnumerateW"));
  if (!f) return DSERR_NODRIVER_;
  return f(AddDeviceCallback, &Table);
}

int32_t DSOut::OpenDevice(const TDSGuid& Guid) {
  Release();
  auto f = reinterpret_cast<TCreate8>(DSoundProc("DirectSoundCreate8"));
  if (!f) return DSERR_NODRIVER_;
  GUID g;
  std::memcpy(&g, &Guid, sizeof g);
  static const GUID zero{};
  return f(std::memcmp(&g, &zero, sizeof g) ? &g : nullptr, &FDevice, nullptr);
}

int32_t DSOut::CreateBuffer(void* Window, const TDSFormat& Format, uint32_t Size) {
  if (!FDevice) return DSERR_INVALIDCALL_;
  BufferSize = Size;
  HRESULT hr = FDevice->SetCooperativeLevel(Window ? (HWND)Window : GetDesktopWindow(), DSSCL_EXCLUSIVE);
  if (FAILED(hr)) return hr;
  WAVEFORMATEXTENSIBLE fmt = NativeFormat(Format);
  if (!FPrimary) {
    DSBUFFERDESC pd{};
    pd.dwSize = sizeof pd;
    pd.dwFlags = DSBCAPS_PRIMARYBUFFER;
    hr = FDevice->CreateSoundBuffer(&pd, &FPrimary, nullptr);
    if (FAILED(hr)) return hr;
  }
  FPrimary->SetFormat(&fmt.Format);
  if (FBuffer) FBuffer->Stop();
  ReleaseIf(FBuffer);
  DSBUFFERDESC sd{};
  sd.dwSize = sizeof sd;
  sd.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_CTRLVOLUME;
  sd.dwBufferBytes = Size;
  sd.lpwfxFormat = &fmt.Format;
  IDirectSoundBuffer* b = nullptr;
  hr = FDevice->CreateSoundBuffer(&sd, &b, nullptr);
  if (FAILED(hr)) return hr;
  hr = b->QueryInterface(IIDDirectSoundBuffer8, (void**)&FBuffer);
  b->Release();
  if (FAILED(hr)) return hr;
  for (void*& e : FEvents) {
    if (!e) e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(e);
  }
  IDirectSoundNotify* notify = nullptr;
  hr = FBuffer->QueryInterface(IIDDirectSoundNotify, (void**)&notify);
  if (FAILED(hr)) return hr;
  DSBPOSITIONNOTIFY pos[2] = {{0, FEvents[0]}, {Size / 2, FEvents[1]}};
  hr = notify->SetNotificationPositions(2, pos);
  notify->Release();
  if (hr == DSERR_INVALIDPARAM) throw EAuException(::Format("%.8X", (unsigned)hr));
  if (FAILED(hr)) return hr;
  void *p1, *p2;
  DWORD n1, n2;
  if (SUCCEEDED(FBuffer->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER))) {
    std::memset(p1, Format.BitsPerSample == 8 ? 0x80 : 0, n1);
    if (p2) std::memset(p2, Format.BitsPerSample == 8 ? 0x80 : 0, n2);
    FBuffer->Unlock(p1, n1, p2, n2);
  }
  DWORD play = 0, write = 0;
  FBuffer->GetCurrentPosition(&play, &write);
  WritePosition = write;
  return DS_OK;
}

int32_t DSOut::Start() {
  if (!FBuffer) return DSERR_INVALIDCALL_;
  FBuffer->SetCurrentPosition(0);
  return FBuffer->Play(0, 0, DSBPLAY_LOOPING);
}

int32_t DSOut::Stop() { return FBuffer ? FBuffer->Stop() : DS_OK; }

int32_t DSOut::Restart() { return FBuffer ? FBuffer->Play(0, 0, DSBPLAY_LOOPING) : -1; }

int32_t DSOut::GetPositions(uint32_t& Play, uint32_t& Write) {
  Play = Write = 0;
  if (!FBuffer) return DSERR_INVALIDCALL_;
  DWORD p = 0, w = 0;
  HRESULT hr = FBuffer->GetCurrentPosition(&p, &w);
  Play = p;
  Write = w;
  return hr;
}

int32_t DSOut::Write(const void* Data, uint32_t Count) {
  if (!FBuffer || !Count || !BufferSize) return DS_OK;
  const auto* in = static_cast<const uint8_t*>(Data);
  uint32_t done;
  return RingStep(FBuffer, WritePosition, BufferSize, Count, done,
                  [in](uint8_t* P, uint32_t N, uint32_t At) { std::memcpy(P, in + At, N); });
}

int32_t DSOut::Fill(uint8_t Value, uint32_t Count) {
  if (!FBuffer || !Count || !BufferSize) return DS_OK;
  uint32_t done;
  return RingStep(FBuffer, WritePosition, BufferSize, Count, done,
                  [Value](uint8_t* P, uint32_t N, uint32_t) { std::memset(P, Value, N); });
}

int DSOut::WaitHalves(uint32_t Ms) {
  if (!FEvents[0] || !FEvents[1]) {
    Sleep(Ms);
    return -1;
  }
  HANDLE h[2] = {FEvents[0], FEvents[1]};
  DWORD r = WaitForMultipleObjects(2, h, FALSE, Ms);
  if (r == WAIT_OBJECT_0 || r == WAIT_OBJECT_0 + 1) {
    int i = (int)(r - WAIT_OBJECT_0);
    ResetEvent(h[i]);
    return i;
  }
  return -1;
}

int32_t DSOut::SetVolume(int32_t Value) {
  if (!FBuffer) return DSERR_INVALIDCALL_;
  HRESULT hr = FBuffer->SetVolume(Value);
  if (hr == DSERR_CONTROLUNAVAIL) throw EAuException("Control not available");
  return hr;
}

void DSOut::Release() {
  if (FBuffer) FBuffer->Stop();
  ReleaseIf(FBuffer);
  ReleaseIf(FPrimary);
  ReleaseIf(FDevice);
}
