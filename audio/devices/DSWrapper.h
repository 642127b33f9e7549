// The capture side of DirectSound ("dsound.dll", loaded by name): the device table, and
// DSoundWrapper, which owns a capture device and buffer (and, for monitoring, an output device
// and buffer) and keeps the ring positions. Every operation returns the DirectSound result
// (0 = success). The operations are virtual so that a scripted device can stand in where a real
// one cannot show a case.
#pragma once
#include <cstdint>
#include <string>

struct IDirectSound;
struct IDirectSoundBuffer;
struct IDirectSoundCapture;
struct IDirectSoundCaptureBuffer;

// A device GUID as DirectSound gives it; all zero for the primary (default) device.
struct TDSGuid {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0, Data3 = 0;
  uint8_t Data4[8] = {};
};

struct TDSDeviceEntry {
  TDSGuid Guid;
  char Description[128] = {};  // at most 127 characters and a terminating zero
};

// The devices in the order DirectSound reports them, at most 16.
struct TDSDeviceTable {
  int32_t Count = 0;
  TDSDeviceEntry Devices[16];
};

// Adds one enumerated device (Guid nullptr: the primary device); false once 16 are stored, which
// ends the enumeration.
bool DSAddDevice(TDSDeviceTable& Table, const void* Guid, const char* Description);

// A device description in the system's 8-bit code page. The wide enumeration is used and
// converted here: the 8-bit one of some platforms cuts long descriptions without a terminator.
std::string DSDescription(const wchar_t* Description);

// The loaded "dsound.dll" entry points by name; nullptr when the library or the entry is missing.
void* DSoundProc(const char* Name);

// DirectSound result codes the engine interprets.
constexpr int32_t DSERR_ALLOCATED_ = (int32_t)0x8878000A;
constexpr int32_t DSERR_INVALIDPARAM_ = (int32_t)0x80070057;
constexpr int32_t DSERR_INVALIDCALL_ = (int32_t)0x88780032;
constexpr int32_t DSERR_GENERIC_ = (int32_t)0x80004005;
constexpr int32_t DSERR_BADFORMAT_ = (int32_t)0x88780064;
constexpr int32_t DSERR_UNSUPPORTED_ = (int32_t)0x80004001;
constexpr int32_t DSERR_NODRIVER_ = (int32_t)0x88780078;
constexpr int32_t DSERR_ALREADYINITIALIZED_ = (int32_t)0x88780082;
constexpr int32_t DSERR_CONTROLUNAVAIL_ = (int32_t)0x8878001E;
// No captured data arrived for too long: the capture cursor does not move.
constexpr int32_t DSERR_CAPTURESTALLED = (int32_t)0x800705B4;  // the system's "timeout" code

// The capture buffer signals its event this many times per pass (at equal parts).
constexpr uint32_t CaptureNotifications = 8;

// Threads: one record serves one capture input; its operations run on the thread that pulls the
// input (Pause and Resume on the thread that pauses the output), never two at once.
class DSoundWrapper {
 public:
  DSoundWrapper();
  virtual ~DSoundWrapper();
  DSoundWrapper(const DSoundWrapper&) = delete;
  DSoundWrapper& operator=(const DSoundWrapper&) = delete;

  // Capture.
  virtual int32_t EnumerateCaptureDevices(TDSDeviceTable& Table);
  // Releases everything and clears every field.
  virtual void Reset();
  virtual int32_t OpenCaptureDevice(const TDSGuid& Guid);
  // A looping capture buffer of Size bytes of PCM; the read position starts at 0.
  virtual int32_t CreateCaptureBuffer(uint32_t Bits, uint32_t Rate, uint32_t Size, uint32_t Channels);
  virtual int32_t StartCapture();
  virtual int32_t StopCapture();
  // Bytes between the read position and the capture's read cursor.
  virtual int32_t CapturedBytesAvailable(uint32_t& Available);
  // Copies Count bytes from the read position (both parts of a wrap) and advances it; Count
  // becomes the bytes copied.
  virtual int32_t ReadCaptured(void* Target, uint32_t& Count);
  // Drops Count bytes at the read position (data too old to deliver).
  virtual void SkipCaptured(uint32_t Count);
  // Waits at most Ms for the capture to reach its next notification point.
  virtual void WaitForCapture(uint32_t Ms);

  // Monitoring output.
  virtual int32_t OpenOutputDevice(const TDSGuid& Guid);
  virtual int32_t CreateOutputBuffer(void* Window, uint32_t Bits, uint32_t Size, uint32_t Channels, uint32_t Rate);
  virtual int32_t StartOutput();
  virtual int32_t StopOutput();
  virtual int32_t RestartOutput();
  // Bytes that can be written without overtaking the play cursor; counts an underrun and jumps
  // ahead of the play cursor when the writer has fallen behind.
  virtual uint32_t OutputSpace();
  virtual int32_t WriteToOutput(const void* Data, uint32_t Count);
  virtual int32_t FillOutput(uint8_t Value);

  virtual void ReleaseAll();

  uint32_t CaptureReadPosition = 0;
  uint32_t CaptureBufferSize = 0;
  uint32_t OutputWritePosition = 0;
  uint32_t OutputBufferSize = 0;
  uint32_t OutputFrameSize = 0;
  int64_t TicksPerBuffer = 0;
  int64_t LastCounter = 0;
  uint32_t LastPlayCursor = 0;
  uint32_t UnderrunCount = 0;
  int32_t Playing = 0;
  double FramesWritten = 0;
  double FramesPlayed = 0;

 private:
  IDirectSound* FOutputDevice = nullptr;
  IDirectSoundBuffer* FOutputBuffer = nullptr;
  IDirectSoundBuffer* FPrimaryBuffer = nullptr;
  IDirectSoundCapture* FCaptureDevice = nullptr;
  IDirectSoundCaptureBuffer* FCaptureBuffer = nullptr;
  void* FCaptureEvent = nullptr;  // signalled at each notification point of the capture buffer
  uint32_t FOutputRate = 0;
};
