// One step on a DirectSound ring buffer (playback or capture), shared by the device layers: lock
// up to Count bytes at Position, hand each locked part (at most two, where the ring wraps) to
// Part(pointer, bytes, offset of the part within the step), move Position past them and unlock.
// Include after <dsound.h>.
#pragma once
#include <cstdint>

template <class TBuffer, class TPart>
HRESULT RingStep(TBuffer* Buffer, uint32_t& Position, uint32_t Size, uint32_t Count, uint32_t& Done, TPart Part) {
  Done = 0;
  void *p1 = nullptr, *p2 = nullptr;
  DWORD n1 = 0, n2 = 0;
  HRESULT hr = Buffer->Lock(Position, Count, &p1, &n1, &p2, &n2, 0);
  if (FAILED(hr)) return hr;
  if (p1 && n1) Part(static_cast<uint8_t*>(p1), n1, 0u);
  if (p2 && n2) Part(static_cast<uint8_t*>(p2), n2, n1);
  Position = (uint32_t)(((uint64_t)Position + n1 + n2) % Size);
  Buffer->Unlock(p1, n1, p2, n2);
  Done = n1 + n2;
  return DS_OK;
}
