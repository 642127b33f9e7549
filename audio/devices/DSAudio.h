// The playback side of DirectSound 8 ("dsound.dll", loaded by name): DSOut owns a device and a
// looping secondary buffer with two position notifications (offset 0 and half the size), and
// keeps the write position. Operations return the DirectSound result (0 = success). They are
// virtual so that a scripted device can stand in where a real one cannot show a case.
#pragma once
#include <cstdint>

#include "audio/devices/DSWrapper.h"

struct IDirectSound8;
struct IDirectSoundBuffer;
struct IDirectSoundBuffer8;

// The play format: PCM for one or two channels, the extensible form (tag 0xFFFE) for more.
struct TDSFormat {
  uint16_t Tag = 1;
  uint16_t Channels = 0;
  uint32_t SampleRate = 0;
  uint16_t BitsPerSample = 0;
  uint16_t BlockAlign = 0;
  uint32_t BytesPerSec = 0;
  uint16_t ValidBits = 0;    // extensible only
  uint32_t ChannelMask = 0;  // extensible only
};

// The format for Channels, Rate and Bits: extensible with mask 0x3F for 6 channels, 0xFF for 8
// and 0 for other counts above two.
TDSFormat DSMakeFormat(uint32_t Channels, uint32_t Rate, uint32_t Bits);

// Threads: the operations run on the output's worker; SetVolume also from the thread that sets
// Volume; the Latency setter rebuilds the buffer while the worker is paused.
class DSOut {
 public:
  DSOut();
  virtual ~DSOut();
  DSOut(const DSOut&) = delete;
  DSOut& operator=(const DSOut&) = delete;

  virtual int32_t EnumerateDevices(TDSDeviceTable& Table);
  virtual int32_t OpenDevice(const TDSGuid& Guid);
  // The device's looping buffer (the one before is released), silent, with its notifications;
  // the write position goes to the write cursor. Raises when the notifications are refused.
  virtual int32_t CreateBuffer(void* Window, const TDSFormat& Format, uint32_t Size);
  virtual int32_t Start();
  virtual int32_t Stop();
  virtual int32_t Restart();
  virtual int32_t GetPositions(uint32_t& Play, uint32_t& Write);
  // Moves the write position to Position (within the buffer).
  virtual void SetWritePosition(uint32_t Position) { WritePosition = Position; }
  virtual int32_t Write(const void* Data, uint32_t Count);
  virtual int32_t Fill(uint8_t Value, uint32_t Count);
  // Waits at most Ms for either notification; 0 or 1 for the one that came (it is reset),
  // -1 when none came.
  virtual int WaitHalves(uint32_t Ms);
  // Raises "Control not available" when the buffer has no volume control.
  virtual int32_t SetVolume(int32_t Value);
  virtual void Release();

  uint32_t BufferSize = 0;
  uint32_t WritePosition = 0;

 private:
  IDirectSound8* FDevice = nullptr;
  IDirectSoundBuffer8* FBuffer = nullptr;
  IDirectSoundBuffer* FPrimary = nullptr;
  void* FEvents[2] = {nullptr, nullptr};
};
