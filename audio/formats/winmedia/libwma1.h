// A thin procedural layer over the Windows Media Format runtime ("WMVCORE.DLL"): a synchronous
// reader that decodes a file read through one of our own streams, a writer that encodes PCM to
// a file or to a network sink, and the choice of the encoder's profile. State lives in two
// plain records; TAudioStream, TWMStatusCallback and TWMErrorCallback adapt our side to the
// runtime's interfaces.
//
// Where the runtime found here answers less than it should (no header attributes but the
// duration, a sample length of 0 from GetLength, sink entry points that are stubs), the layer
// fills in from the file itself or reports the writer as missing, so callers see the same.
//
// Threads: every operation on one record is called from one thread at a time (the owning
// component's consumer or worker); the runtime calls the stream adapter and the callbacks on
// its own threads.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>

#include "audio/formats/winmedia/wmfintf.h"
#include "classlib/Classes.h"
#include "classlib/SyncObjs.h"

// ---------------------------------------------------------------------------------------------
// Runtime loading

// The runtime's entry points; a nil entry is absent.
struct TWMVCoreApi {
  TWMCreateSyncReader CreateSyncReader = nullptr;
  TWMCreateWriter CreateWriter = nullptr;
  TWMCreateWriterFileSink CreateWriterFileSink = nullptr;
  TWMCreateProfileManager CreateProfileManager = nullptr;
  TWMCreateReader CreateReader = nullptr;  // resolved, never called
  TWMCreateWriterNetworkSink CreateWriterNetworkSink = nullptr;
};

// The entry points in use (all nil when the runtime is not loaded).
extern TWMVCoreApi WMVCore;
extern bool WMVCoreLoaded;

// Loads "WMVCORE.DLL" and resolves its entry points (with the engine, AuClassesInitialize); frees
// it at the end (AuClassesFinalize).
// The runtime built into the compatibility layer we run on exports the two sink entry points as
// stubs that end the process when called: there they are left nil.
// Threads: the start-up thread, before any other use.
void Libwma1Initialize();
void Libwma1Finalize();

// Replaces the entry points in use and returns the previous set: a seam for test doubles.
// Threads: only while no record is open.
TWMVCoreApi WMVCoreReplaceApi(const TWMVCoreApi& Api);

// ---------------------------------------------------------------------------------------------
// COM adapters

// A COM object with a thread-safe reference count, freed at count 0.
class TWMUnknown {
 protected:
  virtual ~TWMUnknown() = default;
  ULONG AddRefImpl() { return ++FRefCount; }
  ULONG ReleaseImpl();
  std::atomic<ULONG> FRefCount{1};
};

// An IStream over one of our streams (never owned). Results: 0 success, -1 failure, except
// that a read at a clean end of the stream succeeds with 0 bytes. Seek moves with all 64 bits
// and returns the new position when asked.
class TAudioStream final : public IStream, public TWMUnknown {
 public:
  explicit TAudioStream(TStream* AStream) : FStream(AStream) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override;
  HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override;
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize) override;
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override;
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override;
  HRESULT STDMETHODCALLTYPE Revert() override;
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;
  HRESULT STDMETHODCALLTYPE Clone(IStream** ppstm) override;
  // From now on the stream reads as Size bytes long, zeros after its own end.
  // Threads: before the runtime is given the adapter.
  void SetVirtualSize(int64_t Size);
  // Cuts the adapter off from the stream: every later call fails.
  // Threads: any; waits for a call in progress.
  void Detach();

 private:
  TStream* FStream;
  TCriticalSection FLock;
  int64_t FVirtualSize = -1;  // -1: the stream's own size
  int64_t FRealSize = 0;
  int64_t FPos = 0;           // with a virtual size: the position, which may lie past the end
};

struct wma_writer;

// The writer's status callbacks; they only hand the status on to the record's handlers.
class TWMStatusCallback : public IWMStatusCallback, public TWMUnknown {
 public:
  explicit TWMStatusCallback(wma_writer* AWriter) : FWriter(AWriter) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
  // Status 37 calls the connected handler, 38 the disconnected handler. Always 0.
  HRESULT STDMETHODCALLTYPE OnStatus(WMT_STATUS Status, HRESULT hr, WMT_ATTR_DATATYPE dwType, BYTE* pValue,
                                     void* pvContext) override;

 protected:
  wma_writer* FWriter;
};

class TWMErrorCallback final : public TWMStatusCallback {
 public:
  using TWMStatusCallback::TWMStatusCallback;
  // Statuses 0, 9, 26 and 30 call the error handler with the status's low 7 bits. Always 0.
  HRESULT STDMETHODCALLTYPE OnStatus(WMT_STATUS Status, HRESULT hr, WMT_ATTR_DATATYPE dwType, BYTE* pValue,
                                     void* pvContext) override;
};

// ---------------------------------------------------------------------------------------------
// Reader

struct wma_sync_reader {
  TAudioStream* stream = nullptr;  // nil = not open
  IWMSyncReader* reader = nullptr;
  INSSBuffer* sample = nullptr;    // the sample being handed out
  IWMHeaderInfo* header_info = nullptr;
  uint32_t sample_offset = 0;      // bytes of the current sample already delivered
  IStream* stream_interface = nullptr;
  uint16_t stream_number = 0;
  uint32_t output_number = 0;
  bool has_audio = false;
  bool is_protected = false;
  uint32_t channels = 0;
  uint32_t sample_rate = 0;
  uint32_t bits_per_sample = 0;
  int64_t duration = 0;            // 100-nanosecond units; 0 when the file does not say

  // Header attributes read from the file itself, for runtimes that do not answer them.
  std::map<std::wstring, std::wstring> file_tags;
  uint32_t file_bitrate = 0;
  int64_t file_size = 0;
  bool is_asf = false;  // the file is an ASF container
  bool asf_ok = false;  // its header is whole and describes an audio stream
  int64_t declared_size = 0;  // header and data objects as the header declares them
  int64_t file_duration = 0;
  // Gapless information of an MPEG audio stream: frames of lead-in the runtime delivers before
  // the audio, and the frames of audio (-1 = not known).
  uint32_t lead_frames = 0;
  int64_t stream_frames = -1;
  // Decoded bytes still to drop (the lead-in, and up to the position sought).
  int64_t skip_bytes = 0;
  // What the record was opened with, for opening again at a seek.
  TStream* open_stream = nullptr;
  bool open_high_precision = false;
  int open_channel_request = 0;
};

// Opens the reader over Stream (never owned). ChannelRequest: 0 the file's own layout, above 2
// that many channels, negative as many as available. Never raises: the record tells whether it
// opened (stream not nil), found audio (has_audio) or met protected content (is_protected).
// Threads: the owning component's thread.
void lwma_reader_open(wma_sync_reader& R, TStream* Stream, bool HighPrecision, int ChannelRequest);
// Points Buffer at the next decoded bytes (at most Bytes) and sets Bytes; Bytes 0 at the end.
// Threads: the owning component's thread; waits for the runtime's decoder.
void lwma_reader_read(wma_sync_reader& R, void*& Buffer, uint32_t& Bytes);
// Positions the reader at a time in hundredths of a second.
void lwma_reader_seek(wma_sync_reader& R, int64_t Hundredths);
// Positions the reader exactly at a time in 100-ns units: the reader is opened again and the
// frames before it are dropped.
void lwma_reader_seek_exact(wma_sync_reader& R, int64_t Time100ns);
// The duration in hundredths of a second, rounded.
int64_t lwma_reader_duration(const wma_sync_reader& R);
void lwma_reader_format(const wma_sync_reader& R, uint32_t& Channels, uint32_t& BitsPerSample, uint32_t& SampleRate);
// The "Bitrate" header attribute in bit/s (0 when unknown).
uint32_t lwma_reader_bitrate(wma_sync_reader& R);
// A string header attribute of stream 0 ("" when absent).
WideString lwma_reader_tag(wma_sync_reader& R, const wchar_t* Name);
// Releases everything the record holds; the record is then not open.
void lwma_reader_close(wma_sync_reader& R);

// Tag names read and written.
extern const wchar_t* const WMTagAuthor;
extern const wchar_t* const WMTagTitle;
extern const wchar_t* const WMTagAlbum;
extern const wchar_t* const WMTagGenre;
extern const wchar_t* const WMTagTrack;
extern const wchar_t* const WMTagYear;
extern const wchar_t* const WMTagCopyright;

// Reads the attributes of an ASF header (content descriptions, bit rate and duration), or the
// ID3v2 and ID3v1 tags of any other file, into the record's file fields. The stream is rewound.
void lwma_read_file_attributes(wma_sync_reader& R, TStream* Stream);

// ---------------------------------------------------------------------------------------------
// Writer

using TWMOwnerHandler = std::function<void(void* Owner)>;
using TWMErrorHandler = std::function<void(void* Owner, int Status)>;

struct wma_writer {
  void* owner = nullptr;
  IWMWriter* writer = nullptr;
  INSSBuffer* sample = nullptr;
  uint32_t input_number = 0;
  uint32_t bytes_per_second = 0;
  uint32_t spare = 0;
  int64_t sample_time = 0;  // 100-ns units
  bool initialised = false;
  IWMWriterFileSink* file_sink = nullptr;
  IWMWriterNetworkSink* network_sink = nullptr;
  TWMStatusCallback* callback = nullptr;
  IWMStatusCallback* callback_interface = nullptr;
  TWMOwnerHandler connected;
  TWMOwnerHandler disconnected;
  TWMErrorHandler error;
  bool has_input = false;  // a PCM input was found and set up
};

// Threads (all writer operations): the output's worker thread.
// Creates the writer and a file sink on FileName. On failure initialised stays False and
// nothing is held.
void lwma_writer_open_file(wma_writer& W, const WideString& FileName, void* Owner, const TWMErrorHandler& Error);
// Creates the writer and an HTTP network sink on Port (MaxClients 0 keeps the sink's limit).
void lwma_writer_open_network(wma_writer& W, uint32_t Port, uint32_t MaxClients, const TWMErrorHandler& Error,
                              const TWMOwnerHandler& Disconnected, const TWMOwnerHandler& Connected, void* Owner);
// Chooses the profile nearest the target (bit/s, kbit/s below 1000, or a VBR quality) and sets
// the PCM input up. Raises EAuException "Failed to init codec" when no format qualifies.
void lwma_writer_set_profile(wma_writer& W, int Channels, int Bits, int Rate, bool Lossless, bool VBR,
                             uint32_t Target);
// Takes format FormatIndex of codec CodecIndex.
void lwma_writer_set_profile_by_index(wma_writer& W, int Channels, int Bits, int CodecIndex, int FormatIndex,
                                      bool VBR, int Rate);
void lwma_writer_set_tag(wma_writer& W, const wchar_t* Name, const WideString& Value);
// Raises "Filed to set data writer, possible reason: required WMA codec not installed."
void lwma_writer_begin(wma_writer& W);
// Raises "Failed to write data: " with the result as 8 hexadecimal digits.
void lwma_writer_write(wma_writer& W, const void* Data, uint32_t Length);
void lwma_writer_close_file(wma_writer& W);
void lwma_writer_close_network(wma_writer& W);
// The runtime's audio codec names (nothing when it offers none).
void lwma_codec_names(TStrings* List);
