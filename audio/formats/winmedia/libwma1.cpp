#include "audio/formats/winmedia/libwma1.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "audio/engine/AuClasses.h"
#include "audio/tags/AuTags.h"
#include "classlib/Handles.h"
#include "classlib/SysUtils.h"

TWMVCoreApi WMVCore;
bool WMVCoreLoaded = false;

const wchar_t* const WMTagAuthor = L"Author";
const wchar_t* const WMTagTitle = L"Title";
const wchar_t* const WMTagAlbum = L"WM/AlbumTitle";
const wchar_t* const WMTagGenre = L"WM/Genre";
const wchar_t* const WMTagTrack = L"WM/Track";
const wchar_t* const WMTagYear = L"WM/Year";
const wchar_t* const WMTagCopyright = L"Copyright";

namespace {

// The messages of this unit.
namespace msg {
const char* const BeginFailed = "Filed to set data writer, possible reason: required WMA codec not installed.";
const char* const WriteFailed = "Failed to write data: ";
const char* const InitCodec = "Failed to init codec";
const char* const AddStreamFailed = "Failed to add the audio stream to the profile";
}  // namespace msg

HMODULE WMVCoreModule = nullptr;
// An open was given up while the runtime still held it (see OpenWithin).
std::atomic<bool> OpensAbandoned{false};

constexpr int64_t HundredthIn100ns = 100000;

template <class T>
void ReleaseAndNil(T*& P) {
  if (P) {
    T* p = P;
    P = nullptr;
    p->Release();
  }
}

// A media type as the runtime hands it out: asked once for the size, once for the data.
class TMediaType {
 public:
  template <class Props>
  bool Get(Props* P) {
    DWORD size = 0;
    if (FAILED(P->GetMediaType(nullptr, &size)) || size < sizeof(WM_MEDIA_TYPE) || size > (1u << 20)) return false;
    FBuf.assign(size, 0);
    if (FAILED(P->GetMediaType(Type(), &size))) return false;
    return true;
  }
  WM_MEDIA_TYPE* Type() { return reinterpret_cast<WM_MEDIA_TYPE*>(FBuf.data()); }
  bool IsAudio() { return !FBuf.empty() && Type()->majortype == WMAudioMajorType; }
  // The wave format behind the type, when it has one of full size inside the buffer.
  WAVEFORMATEX* Wave() {
    if (FBuf.empty()) return nullptr;
    WM_MEDIA_TYPE* t = Type();
    if (t->formattype != WMWaveFormatExFormat || !t->pbFormat || t->cbFormat < 16) return nullptr;
    const uint8_t* p = t->pbFormat;
    // The format lies in the same block as the type.
    if (p < FBuf.data() || p + 16 > FBuf.data() + FBuf.size()) return nullptr;
    return reinterpret_cast<WAVEFORMATEX*>(t->pbFormat);
  }
  // An integer PCM format with a usable shape.
  bool IsPcm() {
    WAVEFORMATEX* w = Wave();
    if (!w || Type()->subtype != WMPcmSubType) return false;
    return w->nChannels >= 1 && w->nChannels <= 8 && w->nSamplesPerSec >= 1000 && w->nSamplesPerSec <= 768000 &&
           (w->wBitsPerSample == 8 || w->wBitsPerSample == 16 || w->wBitsPerSample == 24 || w->wBitsPerSample == 32);
  }

 private:
  std::vector<uint8_t> FBuf;
};

// A bounded little-endian cursor over bytes read from a file header: every read past the end
// fails and leaves the cursor failed.
class TWMByteReader {
 public:
  TWMByteReader(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
  bool Ok() const { return FOk; }
  size_t Pos() const { return FPos; }
  size_t Left() const { return FOk ? FSize - FPos : 0; }
  bool Skip(uint64_t N) {
    if (!FOk || N > FSize - FPos) return FOk = false;
    FPos += (size_t)N;
    return true;
  }
  uint64_t U(int Bytes) {
    if (!FOk || (size_t)Bytes > FSize - FPos) {
      FOk = false;
      return 0;
    }
    uint64_t v = 0;
    for (int i = Bytes - 1; i >= 0; --i) v = (v << 8) | FData[FPos + i];
    FPos += Bytes;
    return v;
  }
  uint64_t UBE(int Bytes) {
    if (!FOk || (size_t)Bytes > FSize - FPos) {
      FOk = false;
      return 0;
    }
    uint64_t v = 0;
    for (int i = 0; i < Bytes; ++i) v = (v << 8) | FData[FPos + i];
    FPos += Bytes;
    return v;
  }
  GUID Guid() {
    GUID g{};
    g.Data1 = (uint32_t)U(4);
    g.Data2 = (uint16_t)U(2);
    g.Data3 = (uint16_t)U(2);
    for (auto& b : g.Data4) b = (uint8_t)U(1);
    return g;
  }
  // UTF-16 text of Bytes bytes, cut at its first terminator.
  std::wstring Text(uint64_t Bytes) {
    std::wstring s;
    if (!FOk || Bytes > FSize - FPos) {
      FOk = false;
      return s;
    }
    for (uint64_t i = 0; i + 1 < Bytes; i += 2) {
      wchar_t c = (wchar_t)(FData[FPos + i] | (FData[FPos + i + 1] << 8));
      if (c == 0) break;
      s.push_back(c);
    }
    FPos += (size_t)Bytes;
    return s;
  }

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
  bool FOk = true;
};

constexpr GUID AsfHeaderObject = {0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
constexpr GUID AsfContentDescription = {0x75B22633, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
constexpr GUID AsfExtendedContent = {0xD2D0A440, 0xE307, 0x11D2, {0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50}};
constexpr GUID AsfFileProperties = {0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr GUID AsfDataObject = {0x75B22636, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
constexpr uint32_t AsfHeaderLimit = 16u << 20;

constexpr GUID AsfStreamProperties = {0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr GUID AsfAudioMedia = {0xF8699E40, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};

// Reads the attributes of a whole ASF header object; tells whether its objects are all whole
// and it has the file properties and an audio stream.
bool ParseAsfHeader(wma_sync_reader& R, const std::vector<uint8_t>& H) {
  TWMByteReader rd(H.data(), H.size());
  rd.Skip(30);  // header object: id, size, object count, two reserved bytes
  bool files = false, audio = false;
  while (rd.Ok() && rd.Left() > 0) {
    size_t start = rd.Pos();
    GUID id = rd.Guid();
    uint64_t size = rd.U(8);
    if (!rd.Ok() || size < 24 || size - 24 > rd.Left()) return false;
    TWMByteReader body(H.data() + rd.Pos(), (size_t)(size - 24));
    if (id == AsfStreamProperties) {
      if (body.Guid() == AsfAudioMedia) {
        // The audio format must hold together: the runtime trusts it.
        body.Skip(16 + 8);  // error correction type, time offset
        const uint64_t formatLen = body.U(4);
        body.Skip(4 + 2 + 4);  // error correction length, flags, reserved
        if (!body.Ok() || formatLen < 18 || formatLen > body.Left()) return false;
        body.Skip(2);  // format tag
        const uint64_t channels = body.U(2), rate = body.U(4), byteRate = body.U(4), align = body.U(2);
        body.Skip(2);  // bits per sample
        const uint64_t extra = body.U(2);
        if (!body.Ok() || channels < 1 || channels > 8 || rate < 1000 || rate > 384000 || byteRate == 0 ||
            align == 0 || extra > formatLen - 18)
          return false;
        audio = true;
      }
    } else if (id == AsfContentDescription) {
      uint64_t len[5];
      for (auto& l : len) l = body.U(2);
      static const wchar_t* const names[5] = {WMTagTitle, WMTagAuthor, WMTagCopyright, L"Description", L"Rating"};
      for (int i = 0; i < 5 && body.Ok(); ++i) {
        std::wstring v = body.Text(len[i]);
        if (body.Ok() && !v.empty()) R.file_tags[names[i]] = v;
      }
    } else if (id == AsfExtendedContent) {
      uint64_t count = body.U(2);
      for (uint64_t i = 0; i < count && body.Ok(); ++i) {
        std::wstring name = body.Text(body.U(2));
        uint64_t type = body.U(2);
        uint64_t vlen = body.U(2);
        if (!body.Ok() || vlen > body.Left()) break;
        std::wstring value;
        if (type == 0) {
          value = body.Text(vlen);
        } else if ((type == 3 && vlen == 4) || (type == 4 && vlen == 8) || (type == 5 && vlen == 2)) {
          value = AnsiToWide(IntToStr((int64_t)body.U((int)vlen)));
        } else {
          body.Skip(vlen);
        }
        if (body.Ok() && !name.empty() && !value.empty()) R.file_tags[name] = value;
      }
    } else if (id == AsfFileProperties) {
      body.Skip(16 + 8 + 8 + 8);  // file id, file size, creation date, packet count
      uint64_t play = body.U(8);
      body.Skip(8);  // send duration
      uint64_t preroll = body.U(8);  // milliseconds
      body.Skip(4);  // flags
      uint64_t minPacket = body.U(4), maxPacket = body.U(4);
      uint64_t maxBitrate = body.U(4);
      files = body.Ok() && minPacket == maxPacket && minPacket > 0;
      if (body.Ok()) {
        R.file_bitrate = (uint32_t)maxBitrate;
        uint64_t pre = preroll * 10000;
        if (play > pre && play - pre < (uint64_t)INT64_MAX) R.file_duration = (int64_t)(play - pre);
      }
    }
    rd = TWMByteReader(H.data(), H.size());
    rd.Skip(start + (size_t)size);
  }
  // The track number is stored 1-based as "WM/TrackNumber" by most writers.
  if (!R.file_tags.count(WMTagTrack)) {
    auto it = R.file_tags.find(L"WM/TrackNumber");
    if (it != R.file_tags.end()) R.file_tags[WMTagTrack] = it->second;
  }
  return files && audio;
}

void ReadId3Attributes(wma_sync_reader& R, TStream* Stream) {
  auto* hs = dynamic_cast<THandleStream*>(Stream);
  if (!hs) return;
  void* h = hs->Handle();
  auto put = [&](const wchar_t* Name, const WideString& V) {
    if (!V.empty() && !R.file_tags.count(Name)) R.file_tags[Name] = V;
  };
  TId3v2Tags v2;
  Stream->Seek(0, soBeginning);
  if (v2.ReadFromFile(h)) {
    put(WMTagAuthor, v2.Artist());
    put(WMTagTitle, v2.Title());
    put(WMTagAlbum, v2.Album());
    put(WMTagGenre, v2.Genre());
    put(WMTagTrack, AnsiToWide(v2.Track()));
    put(WMTagYear, AnsiToWide(v2.Year()));
    put(WMTagCopyright, v2.Copyright());
  }
  TId3v1Tags v1;
  if (v1.IsPresent(h) && v1.ReadFromFile(h)) {
    put(WMTagAuthor, AnsiToWide(v1.Artist()));
    put(WMTagTitle, AnsiToWide(v1.Title()));
    put(WMTagAlbum, AnsiToWide(v1.Album()));
    put(WMTagGenre, AnsiToWide(v1.Genre()));
    if (v1.Track() != 0) put(WMTagTrack, AnsiToWide(IntToStr(v1.Track())));
    if (v1.Year() != 0) put(WMTagYear, AnsiToWide(IntToStr(v1.Year())));
  }
}

// The decoder's own delay of layer III, in frames: the runtime delivers it before the audio.
constexpr uint32_t Layer3DecoderDelay = 529;
constexpr uint32_t MpegScanLimit = 65536;

// The encoder's delay and padding from the information frame ("Xing"/"Info" with the encoder's
// extension) of a layer III stream, so that the lead-in and the padding are not delivered.
void ReadMpegInfoFrame(wma_sync_reader& R, TStream* Stream) {
  Stream->Seek(0, soBeginning);
  uint8_t id3[10];
  int64_t start = 0;
  if (Stream->Read(id3, 10) == 10 && std::memcmp(id3, "ID3", 3) == 0) {
    if ((id3[6] | id3[7] | id3[8] | id3[9]) & 0x80) return;
    start = 10 + ((int64_t)id3[6] << 21 | (int64_t)id3[7] << 14 | (int64_t)id3[8] << 7 | id3[9]);
    if (id3[5] & 0x10) start += 10;
  }
  if (start >= Stream->Size()) return;
  std::vector<uint8_t> buf(MpegScanLimit);
  Stream->Seek(start, soBeginning);
  int32_t got = Stream->Read(buf.data(), (int32_t)buf.size());
  if (got < 4) return;
  buf.resize((size_t)got);
  for (size_t i = 0; i + 4 <= buf.size(); ++i) {
    if (buf[i] != 0xFF || (buf[i + 1] & 0xE0) != 0xE0) continue;
    const uint32_t version = (buf[i + 1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const uint32_t layer = (buf[i + 1] >> 1) & 3;    // 1: layer III
    const uint32_t rateIndex = (buf[i + 2] >> 2) & 3;
    const uint32_t mode = (buf[i + 3] >> 6) & 3;     // 3: mono
    if (version == 1 || layer != 1 || rateIndex == 3 || ((buf[i + 2] >> 4) & 0xF) == 0xF) continue;
    const bool mpeg1 = version == 3;
    const size_t side = mpeg1 ? (mode == 3 ? 17 : 32) : (mode == 3 ? 9 : 17);
    TWMByteReader rd(buf.data() + i, buf.size() - i);
    rd.Skip(4 + side);
    uint64_t tag = rd.UBE(4);
    if (!rd.Ok() || (tag != 0x58696E67 && tag != 0x496E666F)) return;  // "Xing", "Info"
    const uint64_t flags = rd.UBE(4);
    uint64_t frames = 0;
    if (flags & 1) frames = rd.UBE(4);
    if (flags & 2) rd.Skip(4);
    if (flags & 4) rd.Skip(100);
    if (flags & 8) rd.Skip(4);
    // The encoder's extension: its name, then revision, low-pass, replay gain, flags, bit rate,
    // then delay and padding in 12 bits each.
    rd.Skip(9 + 1 + 1 + 8 + 1 + 1);
    const uint64_t dp = rd.UBE(3);
    if (!rd.Ok() || frames == 0 || !(flags & 1)) return;
    const uint64_t delay = dp >> 12, padding = dp & 0xFFF;
    const uint64_t perFrame = mpeg1 ? 1152 : 576;
    const uint64_t all = frames * perFrame;
    if (delay + padding >= all || delay > 3000 || padding > 3000) return;
    R.lead_frames = (uint32_t)(delay + Layer3DecoderDelay);
    R.stream_frames = (int64_t)(all - delay - padding);
    return;
  }
}

bool IsCompatibilityLayerBuiltin(HMODULE M) {
  // Modules built into the compatibility layer carry this mark after their DOS header.
  static const char mark[] = "Wine builtin DLL";
  return M && std::memcmp(reinterpret_cast<const char*>(M) + 0x40, mark, sizeof mark - 1) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Runtime loading

void Libwma1Initialize() {
  if (WMVCoreLoaded) return;
  WMVCoreModule = LoadLibraryW(L"WMVCORE.DLL");
  if (!WMVCoreModule) return;
  WMVCoreLoaded = true;
  auto get = [](const char* Name) { return reinterpret_cast<void*>(GetProcAddress(WMVCoreModule, Name)); };
  WMVCore.CreateSyncReader = reinterpret_cast<TWMCreateSyncReader>(get("WMCreateSyncReader"));
  WMVCore.CreateWriter = reinterpret_cast<TWMCreateWriter>(get("WMCreateWriter"));
  WMVCore.CreateWriterFileSink = reinterpret_cast<TWMCreateWriterFileSink>(get("WMCreateWriterFileSink"));
  WMVCore.CreateProfileManager = reinterpret_cast<TWMCreateProfileManager>(get("WMCreateProfileManager"));
  WMVCore.CreateReader = reinterpret_cast<TWMCreateReader>(get("WMCreateReader"));
  WMVCore.CreateWriterNetworkSink = reinterpret_cast<TWMCreateWriterNetworkSink>(get("WMCreateWriterNetworkSink"));
  if (IsCompatibilityLayerBuiltin(WMVCoreModule)) {
    WMVCore.CreateWriterFileSink = nullptr;
    WMVCore.CreateWriterNetworkSink = nullptr;
  }
}

void Libwma1Finalize() {
  WMVCore = TWMVCoreApi();
  // A helper still inside the runtime keeps it loaded.
  if (WMVCoreLoaded && !OpensAbandoned) FreeLibrary(WMVCoreModule);
  WMVCoreModule = nullptr;
  WMVCoreLoaded = false;
}

// The runtime is loaded and freed with the engine.
const TAuUnitSteps Libwma1Unit(Libwma1Initialize, Libwma1Finalize);

ULONG TWMUnknown::ReleaseImpl() {
  ULONG n = --FRefCount;
  if (n == 0) delete this;
  return n;
}

TWMVCoreApi WMVCoreReplaceApi(const TWMVCoreApi& Api) {
  TWMVCoreApi old = WMVCore;
  WMVCore = Api;
  return old;
}

// ---------------------------------------------------------------------------------------------
// TAudioStream

HRESULT TAudioStream::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == __uuidof(IUnknown) || riid == __uuidof(IStream) || riid == __uuidof(ISequentialStream)) {
    *ppv = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

void TAudioStream::SetVirtualSize(int64_t Size) {
  TLock l(FLock);
  if (!FStream) return;
  FRealSize = FStream->Size();
  FPos = FStream->Seek(0, soCurrent);
  FVirtualSize = Size;
}

void TAudioStream::Detach() {
  TLock l(FLock);
  FStream = nullptr;
}

HRESULT TAudioStream::Read(void* pv, ULONG cb, ULONG* pcbRead) {
  TLock l(FLock);
  if (!FStream) {
    if (pcbRead) *pcbRead = 0;
    return E_FAIL;
  }
  try {
    int32_t n = 0;
    if (FVirtualSize < 0) {
      if (cb > 0) n = FStream->Read(pv, (int32_t)std::min<ULONG>(cb, 0x7FFFFFFF));
      if (n < 0) n = 0;
    } else {
      // The stream's bytes, then zeros up to the size given.
      const int64_t want = std::min<int64_t>(std::min<ULONG>(cb, 0x7FFFFFFF), std::max<int64_t>(0, FVirtualSize - FPos));
      if (FPos < FRealSize) {
        FStream->Seek(FPos, soBeginning);
        n = std::max(0, FStream->Read(pv, (int32_t)std::min<int64_t>(want, FRealSize - FPos)));
      }
      if (n < want && FPos + n >= FRealSize) {
        std::memset(static_cast<uint8_t*>(pv) + n, 0, (size_t)(want - n));
        n = (int32_t)want;
      }
      FPos += n;
    }
    if (pcbRead) *pcbRead = (ULONG)n;
    // A read at the end of the stream is not a failure.
    return n > 0 || cb == 0 ? S_OK : S_FALSE;
  } catch (...) {
    if (pcbRead) *pcbRead = 0;
    return E_FAIL;
  }
}

HRESULT TAudioStream::Write(const void* pv, ULONG cb, ULONG* pcbWritten) {
  TLock l(FLock);
  if (!FStream) {
    if (pcbWritten) *pcbWritten = 0;
    return E_FAIL;
  }
  try {
    int32_t n = cb > 0 ? FStream->Write(pv, (int32_t)std::min<ULONG>(cb, 0x7FFFFFFF)) : 0;
    if (n < 0) n = 0;
    if (pcbWritten) *pcbWritten = (ULONG)n;
    return n > 0 || cb == 0 ? S_OK : E_FAIL;
  } catch (...) {
    if (pcbWritten) *pcbWritten = 0;
    return E_FAIL;
  }
}

HRESULT TAudioStream::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) {
  TLock l(FLock);
  if (!FStream) return E_FAIL;
  try {
    if (dwOrigin > STREAM_SEEK_END) return STG_E_INVALIDFUNCTION;
    int64_t pos;
    if (FVirtualSize < 0) {
      pos = FStream->Seek(dlibMove.QuadPart, (TSeekOrigin)dwOrigin);
    } else {
      const int64_t base = dwOrigin == STREAM_SEEK_SET ? 0 : dwOrigin == STREAM_SEEK_CUR ? FPos : FVirtualSize;
      pos = base + dlibMove.QuadPart;
      if (pos < 0) return STG_E_INVALIDFUNCTION;
      FPos = pos;
    }
    if (pos < 0) return STG_E_INVALIDFUNCTION;
    if (plibNewPosition) plibNewPosition->QuadPart = (uint64_t)pos;
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT TAudioStream::SetSize(ULARGE_INTEGER libNewSize) {
  TLock l(FLock);
  if (!FStream) return E_FAIL;
  try {
    FStream->Seek((int64_t)libNewSize.QuadPart, soBeginning);
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT TAudioStream::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) { return E_FAIL; }
HRESULT TAudioStream::Commit(DWORD) { return E_FAIL; }
HRESULT TAudioStream::Revert() { return E_FAIL; }
HRESULT TAudioStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_FAIL; }
HRESULT TAudioStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_FAIL; }

HRESULT TAudioStream::Stat(STATSTG* pstatstg, DWORD) {
  if (!pstatstg) return E_POINTER;
  TLock l(FLock);
  if (!FStream) return E_FAIL;
  try {
    std::memset(pstatstg, 0, sizeof *pstatstg);
    pstatstg->type = STGTY_STREAM;
    pstatstg->cbSize.QuadPart = (uint64_t)std::max<int64_t>(0, FVirtualSize >= 0 ? FVirtualSize : FStream->Size());
    pstatstg->grfLocksSupported = 0;
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT TAudioStream::Clone(IStream** ppstm) {
  if (ppstm) *ppstm = nullptr;
  return E_FAIL;
}

// ---------------------------------------------------------------------------------------------
// Status callbacks

HRESULT TWMStatusCallback::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == __uuidof(IUnknown) || riid == __uuidof(IWMStatusCallback)) {
    *ppv = static_cast<IWMStatusCallback*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

HRESULT TWMStatusCallback::OnStatus(WMT_STATUS Status, HRESULT, WMT_ATTR_DATATYPE, BYTE*, void*) {
  try {
    if (!FWriter) return S_OK;
    if ((int)Status == WMStatusClientConnect && FWriter->connected) FWriter->connected(FWriter->owner);
    else if ((int)Status == WMStatusClientDisconnect && FWriter->disconnected) FWriter->disconnected(FWriter->owner);
  } catch (...) {
  }
  return S_OK;
}

HRESULT TWMErrorCallback::OnStatus(WMT_STATUS Status, HRESULT, WMT_ATTR_DATATYPE, BYTE*, void*) {
  try {
    int s = (int)Status;
    if (FWriter && FWriter->error && (s == 0 || s == 9 || s == 26 || s == 30)) FWriter->error(FWriter->owner, s & 0x7F);
  } catch (...) {
  }
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Reader

void lwma_read_file_attributes(wma_sync_reader& R, TStream* Stream) {
  try {
    R.file_size = std::max<int64_t>(0, Stream->Size());
    Stream->Seek(0, soBeginning);
    uint8_t head[30];
    if (Stream->Read(head, 30) == 30) {
      TWMByteReader rd(head, 30);
      GUID id = rd.Guid();
      uint64_t size = rd.U(8);
      R.is_asf = id == AsfHeaderObject;
      if (R.is_asf && size >= 30 && size <= AsfHeaderLimit && (int64_t)size <= Stream->Size()) {
        std::vector<uint8_t> h((size_t)size);
        std::memcpy(h.data(), head, 30);
        // A data object must follow the header.
        uint8_t data[50];
        if (Stream->Read(h.data() + 30, (int32_t)(size - 30)) == (int32_t)(size - 30) && ParseAsfHeader(R, h) &&
            Stream->Read(data, 50) == 50) {
          TWMByteReader d(data, 50);
          R.asf_ok = d.Guid() == AsfDataObject;
          const uint64_t dataSize = d.U(8);
          R.asf_ok = R.asf_ok && d.Ok() && dataSize >= 50 && dataSize < ((uint64_t)1 << 40);
          if (R.asf_ok) R.declared_size = (int64_t)(size + dataSize);
        }
      } else if (!R.is_asf) {
        ReadId3Attributes(R, Stream);
        ReadMpegInfoFrame(R, Stream);
      }
    }
  } catch (...) {
    // A file whose header cannot be read simply has no attributes of its own.
  }
  try {
    Stream->Seek(0, soBeginning);
  } catch (...) {
  }
}

namespace {

// The runtime here can also wait for ever inside OpenStream on a file whose data is cut or
// damaged. The open runs on a helper thread; when it takes longer than this, the reader is given
// up: the stream adapter is cut off from our stream and the helper releases the reader if the
// call ever returns.
constexpr DWORD OpenTimeoutMs = 10000;

struct TOpenJob {
  IWMSyncReader* Reader;
  TAudioStream* Stream;
  HANDLE Done;
  HRESULT Result = E_FAIL;
  std::atomic<LONG> Refs{2};
  void Release() {
    if (--Refs == 0) {
      CloseHandle(Done);
      delete this;
    }
  }
};

DWORD WINAPI OpenThread(void* P) {
  auto* job = static_cast<TOpenJob*>(P);
  HRESULT hr = E_FAIL;
  try {
    hr = job->Reader->OpenStream(job->Stream);
  } catch (...) {
  }
  job->Result = hr;
  // Our references go before the caller is told, so that it finds only its own afterwards.
  job->Reader->Release();
  job->Stream->Release();
  SetEvent(job->Done);
  job->Release();
  return 0;
}

HRESULT OpenWithin(TComPtr<IWMSyncReader>& Reader, TComPtr<TAudioStream>& Stream) {
  auto* job = new TOpenJob{Reader.Get(), Stream.Get(), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  if (!job->Done) {
    delete job;
    return E_FAIL;
  }
  Reader->AddRef();
  Stream->AddRef();
  HANDLE t = CreateThread(nullptr, 0, OpenThread, job, 0, nullptr);
  if (!t) {
    Reader->Release();
    Stream->Release();
    job->Release();
    job->Release();
    return E_FAIL;
  }
  CloseHandle(t);
  HRESULT hr = E_FAIL;
  if (WaitForSingleObject(job->Done, OpenTimeoutMs) == WAIT_OBJECT_0) {
    hr = job->Result;
  } else {
    // Given up: the helper holds its own references; ours go now, and the adapter answers
    // every later call with a failure.
    OpensAbandoned = true;
    Stream->Detach();
    Reader.Reset();
    Stream.Reset();
  }
  job->Release();
  return hr;
}

}  // namespace

void lwma_reader_open(wma_sync_reader& R, TStream* Stream, bool HighPrecision, int ChannelRequest) {
  R = wma_sync_reader();
  if (!WMVCore.CreateSyncReader || !Stream) return;
  lwma_read_file_attributes(R, Stream);
  // A damaged or cut ASF header (or a file too short to hold one) is not handed to the
  // runtime: the one here can wait for ever on one.
  if ((R.is_asf && !R.asf_ok) || R.file_size < 30) {
    R = wma_sync_reader();
    return;
  }
  // Declared in this order, the reader goes before the stream adapter on every early return.
  TComPtr<TAudioStream> ownStream;
  TComPtr<IWMSyncReader> ownReader;
  if (FAILED(WMVCore.CreateSyncReader(nullptr, 0, ownReader.Put())) || !ownReader) {
    R = wma_sync_reader();
    return;
  }
  ownStream = TComPtr<TAudioStream>(new TAudioStream(Stream));
  // A cut ASF file is shown to the runtime at its declared length, the missing part as zeros:
  // the runtime here can wait for ever at the end of a file that stops inside its data.
  constexpr int64_t MaxMissing = 64 << 20;
  if (R.is_asf && R.declared_size > R.file_size && R.declared_size - R.file_size <= MaxMissing)
    ownStream->SetVirtualSize(R.declared_size);
  HRESULT hr = OpenWithin(ownReader, ownStream);
  if (!ownReader) {
    R = wma_sync_reader();
    return;
  }
  if (FAILED(hr)) {
    try {
      Stream->Seek(30, soBeginning);
    } catch (...) {
    }
    // Again with a fresh reader: the runtime here can hang when a reader whose open failed is
    // asked to open again.
    ownReader.Reset();
    if (FAILED(WMVCore.CreateSyncReader(nullptr, 0, ownReader.Put())) || !ownReader) {
      R = wma_sync_reader();
      return;
    }
    hr = OpenWithin(ownReader, ownStream);
    if (!ownReader) {
      R = wma_sync_reader();
      return;
    }
  }
  if (FAILED(hr)) {
    R = wma_sync_reader();
    return;
  }
  R.stream = ownStream.Get();
  R.stream_interface = ownStream.Detach();
  R.reader = ownReader.Detach();
  IWMSyncReader* const reader = R.reader;
  R.open_stream = Stream;
  R.open_high_precision = HighPrecision;
  R.open_channel_request = ChannelRequest;

  DWORD outputs = 0;
  if (FAILED(reader->GetOutputCount(&outputs))) outputs = 0;
  for (DWORD out = 0; out < outputs && out < 64; ++out) {
    TComPtr<IWMOutputMediaProps> props;
    if (FAILED(reader->GetOutputProps(out, props.Put())) || !props) continue;
    TMediaType cur;
    bool audio = cur.Get(props.Get()) && cur.IsAudio();
    WAVEFORMATEX* cw = audio ? cur.Wave() : nullptr;
    uint32_t curCh = cw ? cw->nChannels : 0, curRate = cw ? cw->nSamplesPerSec : 0;
    props.Reset();
    if (!audio) continue;
    BOOL discrete = HighPrecision ? TRUE : FALSE;
    reader->SetOutputSetting(out, L"EnableDiscreteOutput", WMT_TYPE_BOOL, reinterpret_cast<BYTE*>(&discrete),
                             sizeof discrete);
    if (ChannelRequest > 2) {
      DWORD speakers = (DWORD)ChannelRequest;
      reader->SetOutputSetting(out, L"SpeakerConfig", WMT_TYPE_DWORD, reinterpret_cast<BYTE*>(&speakers),
                               sizeof speakers);
    }
    DWORD formats = 0;
    if (FAILED(reader->GetOutputFormatCount(out, &formats))) formats = 0;
    uint32_t bestCh = 0, bestRate = 0, bestBits = 0;
    for (DWORD f = 0; f < formats && f < 256; ++f) {
      TComPtr<IWMOutputMediaProps> fp;
      if (FAILED(reader->GetOutputFormat(out, f, fp.Put())) || !fp) continue;
      TMediaType mt;
      if (mt.Get(fp.Get()) && mt.IsAudio() && mt.IsPcm()) {
        WAVEFORMATEX* w = mt.Wave();
        bool take;
        if (ChannelRequest == 0) take = w->nChannels == curCh && w->nSamplesPerSec == curRate && w->wBitsPerSample >= bestBits;
        else if (ChannelRequest > 2) take = w->nChannels == (uint32_t)ChannelRequest;
        else take = w->nChannels >= bestCh && w->nSamplesPerSec >= bestRate && w->wBitsPerSample >= bestBits;
        if (take && SUCCEEDED(reader->SetOutputProps(out, fp.Get()))) {
          bestCh = w->nChannels;
          bestRate = w->nSamplesPerSec;
          bestBits = w->wBitsPerSample;
          R.has_audio = true;
          R.output_number = out;
          R.channels = bestCh;
          R.sample_rate = bestRate;
          R.bits_per_sample = bestBits;
        }
      }
    }
    if (!R.has_audio) {
      // Under load the runtime here can, right after opening, fail to list the formats it offers
      // or refuse the very format it delivers (NS_E_INCOMPATIBLE_FORMAT): take its current
      // output, set up by the settings above, where that is PCM of the channels asked for.
      TComPtr<IWMOutputMediaProps> now;
      TMediaType mt;
      if (SUCCEEDED(reader->GetOutputProps(out, now.Put())) && now && mt.Get(now.Get()) && mt.IsAudio() && mt.IsPcm() &&
          (ChannelRequest <= 2 || mt.Wave()->nChannels == (uint32_t)ChannelRequest)) {
        WAVEFORMATEX* w = mt.Wave();
        R.has_audio = true;
        R.output_number = out;
        R.channels = w->nChannels;
        R.sample_rate = w->nSamplesPerSec;
        R.bits_per_sample = w->wBitsPerSample;
      }
    }
    if (R.has_audio) break;
  }
  if (R.has_audio) {
    WORD stream = 0;
    if (SUCCEEDED(reader->GetStreamNumberForOutput(R.output_number, &stream))) R.stream_number = stream;
    if (reader->SetReadStreamSamples(R.stream_number, FALSE) == WMProtectedContent) R.is_protected = true;
    void* hi = nullptr;
    if (SUCCEEDED(reader->QueryInterface(__uuidof(IWMHeaderInfo), &hi)) && hi) {
      R.header_info = static_cast<IWMHeaderInfo*>(hi);
      WORD s0 = 0, len = sizeof(QWORD);
      WMT_ATTR_DATATYPE type = WMT_TYPE_QWORD;
      QWORD d = 0;
      if (SUCCEEDED(R.header_info->GetAttributeByName(&s0, L"Duration", &type, reinterpret_cast<BYTE*>(&d), &len)) &&
          type == WMT_TYPE_QWORD && len == sizeof(QWORD) && d < (QWORD)INT64_MAX)
        R.duration = (int64_t)d;
    }
    if (R.duration == 0) R.duration = R.file_duration;
    if (R.file_bitrate == 0 && R.duration > 0) {
      // A mean over the whole file where neither the runtime nor a header tells.
      const int64_t bytes = R.file_size;
      R.file_bitrate = (uint32_t)std::min<long double>(4294967295.0L, (long double)bytes * 8 * 10000000.0L / R.duration);
    }
    if (R.stream_frames > 0 && R.sample_rate > 0) {
      // The runtime delivers the encoder's lead-in and padding too: callers get the audio only.
      R.duration = (int64_t)std::llround((long double)R.stream_frames * 10000000.0L / R.sample_rate);
      R.skip_bytes = (int64_t)R.lead_frames * R.channels * (R.bits_per_sample / 8);
    }
  }
}

void lwma_reader_read(wma_sync_reader& R, void*& Buffer, uint32_t& Bytes) {
  const uint32_t asked = Bytes;
  Buffer = nullptr;
  Bytes = 0;
  // A reader without an audio output (an open that found none, or a seek whose fresh open
  // failed) has nothing to give: its samples would be some other stream's.
  if (!R.reader || !R.has_audio || asked == 0) return;
  for (;;) {
    BYTE* data = nullptr;
    DWORD len = 0;
    if (R.sample && SUCCEEDED(R.sample->GetBufferAndLength(&data, &len)) && data && R.sample_offset < len) {
      Bytes = std::min<uint32_t>(asked, len - R.sample_offset);
      Buffer = data + R.sample_offset;
      R.sample_offset += Bytes;
      return;
    }
    ReleaseAndNil(R.sample);
    R.sample_offset = 0;
    INSSBuffer* s = nullptr;
    QWORD time = 0, dur = 0;
    DWORD flags = 0, outNum = 0;
    WORD streamNum = 0;
    if (FAILED(R.reader->GetNextSample(R.stream_number, &s, &time, &dur, &flags, &outNum, &streamNum)) || !s) {
      if (s) s->Release();
      return;
    }
    R.sample = s;
    if (R.is_asf && time == 0) {
      // The first block a fresh decoder gives for an ASF stream is the encoder's lead-in, and
      // the runtime here fills it with whatever its decoder had in memory: make it silence.
      if (SUCCEEDED(s->GetBufferAndLength(&data, &len)) && data && len)
        std::memset(data, R.bits_per_sample == 8 ? 0x80 : 0, len);
    }
    if (R.skip_bytes > 0) {
      // Drop what lies before the position sought, counted from the start of the decode.
      data = nullptr;
      len = 0;
      if (FAILED(s->GetBufferAndLength(&data, &len)) || !data) len = 0;
      const int64_t drop = std::min<int64_t>(R.skip_bytes, len);
      R.sample_offset = (uint32_t)drop;
      R.skip_bytes -= drop;
    }
  }
}

void lwma_reader_seek(wma_sync_reader& R, int64_t Hundredths) {
  lwma_reader_seek_exact(R, std::max<int64_t>(0, Hundredths) * HundredthIn100ns);
}

void lwma_reader_seek_exact(wma_sync_reader& R, int64_t Time100ns) {
  if (!R.reader) return;
  // The runtime's own positioning is not exact (time stamps estimated after a seek in a
  // variable-rate stream, and samples decoded before the seek still queued): decode afresh from
  // the start and count the frames.
  TStream* stream = R.open_stream;
  const bool highPrecision = R.open_high_precision;
  const int request = R.open_channel_request;
  lwma_reader_close(R);
  lwma_reader_open(R, stream, highPrecision, request);
  if (!R.has_audio || R.sample_rate == 0) return;
  if (Time100ns < 0) Time100ns = 0;
  const int64_t frames = (int64_t)std::llround((long double)Time100ns * R.sample_rate / 10000000.0L);
  R.skip_bytes += frames * (int64_t)R.channels * (R.bits_per_sample / 8);
}

int64_t lwma_reader_duration(const wma_sync_reader& R) {
  return (R.duration + HundredthIn100ns / 2) / HundredthIn100ns;
}

void lwma_reader_format(const wma_sync_reader& R, uint32_t& Channels, uint32_t& BitsPerSample, uint32_t& SampleRate) {
  Channels = R.channels;
  BitsPerSample = R.bits_per_sample;
  SampleRate = R.sample_rate;
}

uint32_t lwma_reader_bitrate(wma_sync_reader& R) {
  if (R.header_info) {
    WORD s0 = 0, len = sizeof(DWORD);
    WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
    DWORD v = 0;
    if (SUCCEEDED(R.header_info->GetAttributeByName(&s0, L"Bitrate", &type, reinterpret_cast<BYTE*>(&v), &len)) &&
        len == sizeof(DWORD) && v != 0)
      return v;
  }
  return R.file_bitrate;
}

WideString lwma_reader_tag(wma_sync_reader& R, const wchar_t* Name) {
  if (R.header_info) {
    WORD s0 = 0, len = 0;
    WMT_ATTR_DATATYPE type = WMT_TYPE_STRING;
    if (SUCCEEDED(R.header_info->GetAttributeByName(&s0, Name, &type, nullptr, &len)) && type == WMT_TYPE_STRING &&
        len >= 2) {
      std::vector<BYTE> buf(len + 2u, 0);
      if (SUCCEEDED(R.header_info->GetAttributeByName(&s0, Name, &type, buf.data(), &len))) {
        WideString s(reinterpret_cast<const wchar_t*>(buf.data()), std::min<size_t>(len, buf.size() - 2) / 2);
        s.resize(wcsnlen(s.c_str(), s.size()));
        if (!s.empty()) return s;
      }
    }
  }
  auto it = R.file_tags.find(Name);
  return it != R.file_tags.end() ? it->second : WideString();
}

void lwma_reader_close(wma_sync_reader& R) {
  if (R.reader) R.reader->Close();
  ReleaseAndNil(R.sample);
  ReleaseAndNil(R.reader);
  ReleaseAndNil(R.header_info);
  // The runtime has let go of the stream adapter with the reader; drop our reference last.
  if (R.stream_interface) R.stream_interface->Release();
  R = wma_sync_reader();
}

// ---------------------------------------------------------------------------------------------
// Writer

namespace {

void ReleaseWriter(wma_writer& W) {
  ReleaseAndNil(W.sample);
  ReleaseAndNil(W.file_sink);
  ReleaseAndNil(W.network_sink);
  ReleaseAndNil(W.writer);
  if (W.callback_interface) W.callback_interface->Release();
  W.callback_interface = nullptr;
  W.callback = nullptr;
  W.initialised = false;
}

// Registers the record's callback on a sink.
bool AdviseCallback(wma_writer& W, IUnknown* Sink, TWMStatusCallback* Callback) {
  W.callback = Callback;
  W.callback_interface = Callback;
  void* reg = nullptr;
  if (FAILED(Sink->QueryInterface(__uuidof(IWMRegisterCallback), &reg)) || !reg) return false;
  auto* r = static_cast<IWMRegisterCallback*>(reg);
  HRESULT hr = r->Advise(Callback, nullptr);
  r->Release();
  return SUCCEEDED(hr);
}

IWMWriterAdvanced* Advanced(IWMWriter* Writer) {
  void* p = nullptr;
  if (FAILED(Writer->QueryInterface(__uuidof(IWMWriterAdvanced), &p))) return nullptr;
  return static_cast<IWMWriterAdvanced*>(p);
}

// The writer's PCM input, rewritten to the input's format.
void SetupInput(wma_writer& W, int Channels, int Bits, int Rate) {
  DWORD inputs = 0;
  if (FAILED(W.writer->GetInputCount(&inputs))) inputs = 0;
  for (DWORD i = 0; i < inputs && i < 64; ++i) {
    IWMInputMediaProps* props = nullptr;
    if (FAILED(W.writer->GetInputProps(i, &props)) || !props) continue;
    TMediaType mt;
    if (mt.Get(props) && mt.IsAudio() && mt.Type()->subtype == WMPcmSubType && mt.Wave()) {
      WAVEFORMATEX* w = mt.Wave();
      w->wFormatTag = WAVE_FORMAT_PCM;
      w->nChannels = (WORD)Channels;
      w->nSamplesPerSec = (DWORD)Rate;
      w->wBitsPerSample = (WORD)Bits;
      w->nBlockAlign = (WORD)(Channels * Bits / 8);
      w->nAvgBytesPerSec = w->nBlockAlign * (DWORD)Rate;
      W.bytes_per_second = w->nAvgBytesPerSec;
      W.input_number = i;
      bool ok = SUCCEEDED(props->SetMediaType(mt.Type())) && SUCCEEDED(W.writer->SetInputProps(i, props));
      props->Release();
      if (ok) W.has_input = true;
      return;
    }
    props->Release();
  }
}

// Puts the chosen stream configuration into an empty profile and hands it to the writer.
void ApplyStream(wma_writer& W, IWMProfileManager* Pm, IWMStreamConfig* Config) {
  IWMProfile* profile = nullptr;
  if (FAILED(Pm->CreateEmptyProfile(WMT_VER_9_0, &profile)) || !profile) throw EAuException(msg::InitCodec);
  Config->SetStreamNumber(1);
  Config->SetStreamName(const_cast<WCHAR*>(L"NAAudioStream"));
  Config->SetConnectionName(const_cast<WCHAR*>(L"NAAudioConnection"));
  HRESULT hr = profile->AddStream(Config);
  if (FAILED(hr)) {
    profile->Release();
    throw EAuException(msg::AddStreamFailed);
  }
  hr = W.writer->SetProfile(profile);
  profile->Release();
  if (FAILED(hr)) throw EAuException(msg::InitCodec);
}

// The profile manager and its codec information, released together.
struct TCodecInfo {
  IWMProfileManager* Pm = nullptr;
  IWMCodecInfo* Info = nullptr;
  IWMCodecInfo2* Info2 = nullptr;
  IWMCodecInfo3* Info3 = nullptr;
  TCodecInfo() {
    if (!WMVCore.CreateProfileManager || FAILED(WMVCore.CreateProfileManager(&Pm)) || !Pm) {
      Pm = nullptr;
      return;
    }
    void* p = nullptr;
    if (SUCCEEDED(Pm->QueryInterface(__uuidof(IWMCodecInfo), &p))) Info = static_cast<IWMCodecInfo*>(p);
    p = nullptr;
    if (SUCCEEDED(Pm->QueryInterface(__uuidof(IWMCodecInfo2), &p))) Info2 = static_cast<IWMCodecInfo2*>(p);
    p = nullptr;
    if (SUCCEEDED(Pm->QueryInterface(__uuidof(IWMCodecInfo3), &p))) Info3 = static_cast<IWMCodecInfo3*>(p);
  }
  ~TCodecInfo() {
    ReleaseAndNil(Info3);
    ReleaseAndNil(Info2);
    ReleaseAndNil(Info);
    ReleaseAndNil(Pm);
  }
  DWORD CodecCount() {
    DWORD n = 0;
    if (!Info || FAILED(Info->GetCodecInfoCount(WMAudioMajorType, &n))) return 0;
    return std::min<DWORD>(n, 256);
  }
  DWORD FormatCount(DWORD Codec) {
    DWORD n = 0;
    if (!Info || FAILED(Info->GetCodecFormatCount(WMAudioMajorType, Codec, &n))) return 0;
    return std::min<DWORD>(n, 4096);
  }
  bool EnableVbr(DWORD Codec) {
    if (!Info3) return false;
    BOOL on = TRUE;
    return SUCCEEDED(Info3->SetCodecEnumerationSetting(WMAudioMajorType, Codec, L"_VBRENABLED", WMT_TYPE_BOOL,
                                                       reinterpret_cast<BYTE*>(&on), sizeof on));
  }
};

}  // namespace

void lwma_writer_open_file(wma_writer& W, const WideString& FileName, void* Owner, const TWMErrorHandler& Error) {
  W.owner = Owner;
  W.error = Error;
  W.initialised = false;
  if (!WMVCore.CreateWriterFileSink || !WMVCore.CreateWriter) return;
  bool ok = false;
  if (SUCCEEDED(WMVCore.CreateWriterFileSink(&W.file_sink)) && W.file_sink &&
      SUCCEEDED(WMVCore.CreateWriter(nullptr, &W.writer)) && W.writer) {
    if (IWMWriterAdvanced* adv = Advanced(W.writer)) {
      ok = SUCCEEDED(adv->AddSink(W.file_sink)) && SUCCEEDED(W.file_sink->Open(FileName.c_str())) &&
           AdviseCallback(W, W.file_sink, new TWMErrorCallback(&W));
      adv->Release();
    }
  }
  if (!ok) {
    ReleaseWriter(W);
    return;
  }
  W.initialised = true;
}

void lwma_writer_open_network(wma_writer& W, uint32_t Port, uint32_t MaxClients, const TWMErrorHandler& Error,
                              const TWMOwnerHandler& Disconnected, const TWMOwnerHandler& Connected, void* Owner) {
  W.owner = Owner;
  W.error = Error;
  W.connected = Connected;
  W.disconnected = Disconnected;
  W.initialised = false;
  if (!WMVCore.CreateWriterNetworkSink || !WMVCore.CreateWriter) return;
  bool ok = false;
  if (SUCCEEDED(WMVCore.CreateWriterNetworkSink(&W.network_sink)) && W.network_sink &&
      SUCCEEDED(WMVCore.CreateWriter(nullptr, &W.writer)) && W.writer) {
    DWORD port = Port;
    ok = SUCCEEDED(W.network_sink->SetNetworkProtocol(WMT_PROTOCOL_HTTP)) && SUCCEEDED(W.network_sink->Open(&port)) &&
         (MaxClients == 0 || SUCCEEDED(W.network_sink->SetMaximumClients(MaxClients)));
    if (ok) {
      ok = false;
      if (IWMWriterAdvanced* adv = Advanced(W.writer)) {
        ok = SUCCEEDED(adv->AddSink(W.network_sink)) && AdviseCallback(W, W.network_sink, new TWMStatusCallback(&W));
        adv->Release();
      }
    }
  }
  if (!ok) {
    if (W.network_sink) W.network_sink->Close();
    ReleaseWriter(W);
    return;
  }
  W.initialised = true;
}

void lwma_writer_set_profile(wma_writer& W, int Channels, int Bits, int Rate, bool Lossless, bool VBR, uint32_t Target) {
  if (!W.writer) throw EAuException(msg::InitCodec);
  if (!VBR && Target < 1000) Target *= 1000;
  TCodecInfo ci;
  if (!ci.Pm) throw EAuException(msg::InitCodec);
  IWMStreamConfig* choice = nullptr;
  IWMStreamConfig* fallback = nullptr;
  uint32_t bestBitrate = 0;
  int64_t bestRateDist = INT64_MAX;
  int64_t bestQualityDist = INT64_MAX;
  auto keep = [](IWMStreamConfig*& Slot, IWMStreamConfig* C) {
    if (Slot) Slot->Release();
    C->AddRef();
    Slot = C;
  };
  const DWORD codecs = ci.CodecCount();
  for (DWORD c = 0; c < codecs; ++c) {
    if ((Lossless || VBR) && !ci.EnableVbr(c)) continue;
    const DWORD formats = ci.FormatCount(c);
    for (DWORD f = 0; f < formats; ++f) {
      IWMStreamConfig* sc = nullptr;
      if (FAILED(ci.Info->GetCodecFormat(WMAudioMajorType, c, f, &sc)) || !sc) continue;
      void* mp = nullptr;
      TMediaType mt;
      bool haveType = false;
      if (SUCCEEDED(sc->QueryInterface(__uuidof(IWMMediaProps), &mp)) && mp) {
        haveType = mt.Get(static_cast<IWMMediaProps*>(mp));
        static_cast<IWMMediaProps*>(mp)->Release();
      }
      WAVEFORMATEX* w = haveType ? mt.Wave() : nullptr;
      DWORD bitrate = 0;
      if (FAILED(sc->GetBitrate(&bitrate))) bitrate = 0;
      bool qualifies = false;
      if (w) {
        if (Lossless) {
          qualifies = mt.Type()->subtype == WMLosslessSubType;
        } else if (VBR) {
          WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
          DWORD q = 0, size = sizeof q;
          if (ci.Info3 && SUCCEEDED(ci.Info3->GetCodecFormatProp(WMAudioMajorType, c, f, L"_VBRQUALITY", &type,
                                                                 reinterpret_cast<BYTE*>(&q), &size))) {
            int64_t dist = std::llabs((int64_t)q - (int64_t)Target);
            if (dist < bestQualityDist) {
              bestQualityDist = dist;
              qualifies = true;
            }
          }
        } else {
          // Before any choice, every format is nearer than none.
          qualifies = !choice || std::llabs((int64_t)bitrate - (int64_t)Target) < std::llabs((int64_t)bestBitrate - (int64_t)Target);
        }
      }
      if (qualifies) {
        if ((Lossless || VBR) && !fallback) keep(fallback, sc);
        int64_t rateDist = std::llabs((int64_t)w->nSamplesPerSec - (int64_t)Rate);
        if (w->nChannels == Channels && w->wBitsPerSample == Bits && rateDist <= bestRateDist) {
          keep(choice, sc);
          bestBitrate = bitrate;
          bestRateDist = rateDist;
        }
      }
      sc->Release();
    }
  }
  if (!choice && fallback) {
    choice = fallback;
    fallback = nullptr;
  }
  if (fallback) fallback->Release();
  if (!choice) throw EAuException(msg::InitCodec);
  try {
    ApplyStream(W, ci.Pm, choice);
  } catch (...) {
    choice->Release();
    throw;
  }
  choice->Release();
  SetupInput(W, Channels, Bits, Rate);
  if (!W.has_input) throw EAuException(msg::InitCodec);
}

void lwma_writer_set_profile_by_index(wma_writer& W, int Channels, int Bits, int CodecIndex, int FormatIndex, bool VBR,
                                      int Rate) {
  if (!W.writer) throw EAuException(msg::InitCodec);
  TCodecInfo ci;
  if (!ci.Pm || CodecIndex < 0 || FormatIndex < 0 || (DWORD)CodecIndex >= ci.CodecCount()) throw EAuException(msg::InitCodec);
  if (VBR && !ci.EnableVbr((DWORD)CodecIndex)) throw EAuException(msg::InitCodec);
  IWMStreamConfig* sc = nullptr;
  if (FAILED(ci.Info->GetCodecFormat(WMAudioMajorType, (DWORD)CodecIndex, (DWORD)FormatIndex, &sc)) || !sc)
    throw EAuException(msg::InitCodec);
  try {
    ApplyStream(W, ci.Pm, sc);
  } catch (...) {
    sc->Release();
    throw;
  }
  sc->Release();
  SetupInput(W, Channels, Bits, Rate);
  if (!W.has_input) throw EAuException(msg::InitCodec);
}

void lwma_writer_set_tag(wma_writer& W, const wchar_t* Name, const WideString& Value) {
  if (!W.writer) return;
  void* p = nullptr;
  if (FAILED(W.writer->QueryInterface(__uuidof(IWMHeaderInfo), &p)) || !p) return;
  auto* hi = static_cast<IWMHeaderInfo*>(p);
  size_t bytes = std::min<size_t>(Value.size() * 2, 0xFFFE);
  hi->SetAttribute(0, Name, WMT_TYPE_STRING, reinterpret_cast<const BYTE*>(Value.data()), (WORD)bytes);
  hi->Release();
}

void lwma_writer_begin(wma_writer& W) {
  if (!W.writer || FAILED(W.writer->BeginWriting())) throw EAuException(msg::BeginFailed);
  W.sample_time = 0;
}

void lwma_writer_write(wma_writer& W, const void* Data, uint32_t Length) {
  HRESULT hr = E_UNEXPECTED;
  if (W.writer && W.bytes_per_second > 0) {
    INSSBuffer* s = nullptr;
    hr = W.writer->AllocateSample(Length, &s);
    if (SUCCEEDED(hr) && s) {
      BYTE* p = nullptr;
      hr = s->GetBuffer(&p);
      if (SUCCEEDED(hr) && p) {
        if (Length) std::memcpy(p, Data, Length);
        hr = s->SetLength(Length);
      } else if (SUCCEEDED(hr)) {
        hr = E_POINTER;
      }
      if (SUCCEEDED(hr)) {
        W.sample_time += Round((double)Length / (double)W.bytes_per_second / 0.0000001);
        hr = W.writer->WriteSample(W.input_number, (QWORD)W.sample_time, 0, s);
      }
      s->Release();
    } else if (SUCCEEDED(hr)) {
      hr = E_POINTER;
    }
  }
  if (FAILED(hr)) throw EAuException(AnsiString(msg::WriteFailed) + IntToHex((uint32_t)hr, 8));
}

void lwma_writer_close_file(wma_writer& W) {
  if (W.writer) W.writer->EndWriting();
  ReleaseWriter(W);
}

void lwma_writer_close_network(wma_writer& W) {
  if (W.writer) W.writer->EndWriting();
  if (W.network_sink) W.network_sink->Close();
  if (W.writer && W.network_sink) {
    if (IWMWriterAdvanced* adv = Advanced(W.writer)) {
      adv->RemoveSink(W.network_sink);
      adv->Release();
    }
  }
  ReleaseWriter(W);
}

void lwma_codec_names(TStrings* List) {
  TCodecInfo ci;
  if (!ci.Info2) return;
  const DWORD codecs = ci.CodecCount();
  for (DWORD c = 0; c < codecs; ++c) {
    DWORD len = 0;
    if (FAILED(ci.Info2->GetCodecName(WMAudioMajorType, c, nullptr, &len)) || len == 0 || len > 4096) continue;
    std::vector<WCHAR> buf(len + 1, 0);
    if (FAILED(ci.Info2->GetCodecName(WMAudioMajorType, c, buf.data(), &len))) continue;
    List->Add(WideToAnsi(WideString(buf.data())));
  }
}
