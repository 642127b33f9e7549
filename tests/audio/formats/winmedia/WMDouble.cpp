#include "WMDouble.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "WMStubs.h"

namespace wmdouble {

namespace {

State* g_state = nullptr;
std::atomic<int> g_live{0};

// IUnknown for a double: counts references and hands out other objects on request.
template <class Base>
class Obj : public Base {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == __uuidof(IUnknown) || Is(riid)) {
      *ppv = static_cast<Base*>(this);
      this->AddRef();
      return S_OK;
    }
    IUnknown* other = Other(riid);
    if (!other) return E_NOINTERFACE;
    *ppv = other;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  Obj() { ++g_live; }
  virtual ~Obj() { --g_live; }

 protected:
  virtual bool Is(REFIID) { return false; }
  // Another object answering riid (with a reference), or nil.
  virtual IUnknown* Other(REFIID) { return nullptr; }

 private:
  std::atomic<ULONG> refs_{1};
};

void Log(const std::string& c) { g_state->calls.push_back(c); }

// One media type with a wave format behind it, in one block as the runtime hands it out.
struct MediaType {
  WM_MEDIA_TYPE mt{};
  WAVEFORMATEX wf{};
  MediaType(const GUID& sub, int ch, int rate, int bits) {
    mt.majortype = WMAudioMajorType;
    mt.subtype = sub;
    mt.bFixedSizeSamples = TRUE;
    mt.formattype = WMWaveFormatExFormat;
    mt.cbFormat = sizeof wf;
    wf.wFormatTag = sub == WMLosslessSubType ? 0x163 : (sub == WMPcmSubType ? 1 : 0x161);
    wf.nChannels = (WORD)ch;
    wf.nSamplesPerSec = (DWORD)rate;
    wf.wBitsPerSample = (WORD)bits;
    wf.nBlockAlign = (WORD)(ch * bits / 8);
    wf.nAvgBytesPerSec = wf.nBlockAlign * (DWORD)rate;
  }
  HRESULT Get(WM_MEDIA_TYPE* out, DWORD* size) {
    if (!size) return E_POINTER;
    const DWORD need = sizeof(WM_MEDIA_TYPE) + sizeof(WAVEFORMATEX);
    if (!out) {
      *size = need;
      return S_OK;
    }
    if (*size < need) return E_INVALIDARG;
    *out = mt;
    auto* w = reinterpret_cast<WAVEFORMATEX*>(reinterpret_cast<BYTE*>(out) + sizeof(WM_MEDIA_TYPE));
    *w = wf;
    out->pbFormat = reinterpret_cast<BYTE*>(w);
    *size = need;
    return S_OK;
  }
};

class MediaProps : public Obj<StubIWMMediaProps> {
 public:
  explicit MediaProps(const MediaType& t) : t_(t) {}
  HRESULT STDMETHODCALLTYPE GetMediaType(WM_MEDIA_TYPE* p, DWORD* n) override { return t_.Get(p, n); }

 private:
  bool Is(REFIID r) override { return r == __uuidof(IWMMediaProps); }
  MediaType t_;
};

class StreamConfig : public Obj<StubIWMStreamConfig> {
 public:
  StreamConfig(int codec, int format) : codec_(codec), format_(format) {}
  int codec_, format_;
  HRESULT STDMETHODCALLTYPE GetBitrate(DWORD* b) override {
    *b = Fmt().bitrate;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetStreamNumber(WORD n) override {
    number_ = n;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetStreamName(LPCWSTR_WMSDK_TYPE_SAFE n) override {
    name_ = n;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetConnectionName(LPCWSTR_WMSDK_TYPE_SAFE n) override {
    connection_ = n;
    return S_OK;
  }
  WORD number_ = 0;
  std::wstring name_, connection_;

 private:
  const Format& Fmt() { return g_state->codecs[codec_].formats[format_]; }
  bool Is(REFIID r) override { return r == __uuidof(IWMStreamConfig); }
  IUnknown* Other(REFIID r) override {
    if (r != __uuidof(IWMMediaProps)) return nullptr;
    const Format& f = Fmt();
    return static_cast<IWMMediaProps*>(new MediaProps(
        MediaType(f.lossless ? WMLosslessSubType : GUID{0x161, 0, 0x10, {0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71}},
                  f.channels, f.rate, f.bits)));
  }
};

class Profile : public Obj<StubIWMProfile> {
 public:
  HRESULT STDMETHODCALLTYPE AddStream(IWMStreamConfig* c) override {
    Log("AddStream");
    auto* sc = static_cast<StreamConfig*>(c);
    g_state->chosenCodec = sc->codec_;
    g_state->chosenFormat = sc->format_;
    g_state->streamNumber = sc->number_;
    g_state->streamName = sc->name_;
    g_state->connectionName = sc->connection_;
    return S_OK;
  }

 private:
  bool Is(REFIID r) override { return r == __uuidof(IWMProfile); }
};

class CodecInfo : public Obj<StubIWMCodecInfo3> {
 public:
  HRESULT STDMETHODCALLTYPE GetCodecInfoCount(REFGUID g, DWORD* n) override {
    *n = g == WMAudioMajorType ? (DWORD)g_state->codecs.size() : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCodecFormatCount(REFGUID, DWORD c, DWORD* n) override {
    if (c >= g_state->codecs.size()) return E_INVALIDARG;
    *n = (DWORD)g_state->codecs[c].formats.size();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCodecFormat(REFGUID, DWORD c, DWORD f, IWMStreamConfig** out) override {
    if (c >= g_state->codecs.size() || f >= g_state->codecs[c].formats.size()) return E_INVALIDARG;
    *out = new StreamConfig((int)c, (int)f);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCodecName(REFGUID, DWORD c, WCHAR* name, DWORD* size) override {
    if (c >= g_state->codecs.size()) return E_INVALIDARG;
    const std::wstring& n = g_state->codecs[c].name;
    if (name) {
      if (*size < n.size() + 1) return E_INVALIDARG;
      std::copy(n.begin(), n.end(), name);
      name[n.size()] = 0;
    }
    *size = (DWORD)n.size() + 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetCodecEnumerationSetting(REFGUID, DWORD c, const WCHAR* name, WMT_ATTR_DATATYPE,
                                                       const BYTE*, DWORD) override {
    if (c >= g_state->codecs.size() || std::wstring(name) != L"_VBRENABLED") return E_INVALIDARG;
    return g_state->codecs[c].vbr ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE GetCodecFormatProp(REFGUID, DWORD c, DWORD f, const WCHAR* name, WMT_ATTR_DATATYPE* type,
                                               BYTE* value, DWORD* size) override {
    if (c >= g_state->codecs.size() || f >= g_state->codecs[c].formats.size()) return E_INVALIDARG;
    if (std::wstring(name) != L"_VBRQUALITY" || !g_state->codecs[c].vbr) return E_FAIL;
    *type = WMT_TYPE_DWORD;
    DWORD q = g_state->codecs[c].formats[f].quality;
    std::memcpy(value, &q, 4);
    *size = 4;
    return S_OK;
  }

 private:
  bool Is(REFIID r) override {
    return r == __uuidof(IWMCodecInfo) || r == __uuidof(IWMCodecInfo2) || r == __uuidof(IWMCodecInfo3);
  }
};

class ProfileManager : public Obj<StubIWMProfileManager> {
 public:
  HRESULT STDMETHODCALLTYPE CreateEmptyProfile(WMT_VERSION v, IWMProfile** p) override {
    Log(v == WMT_VER_9_0 ? "CreateEmptyProfile(9.0)" : "CreateEmptyProfile(?)");
    *p = new Profile();
    return S_OK;
  }

 private:
  IUnknown* Other(REFIID r) override {
    if (r == __uuidof(IWMCodecInfo) || r == __uuidof(IWMCodecInfo2) || r == __uuidof(IWMCodecInfo3))
      return static_cast<IWMCodecInfo3*>(new CodecInfo());
    return nullptr;
  }
};

class Buffer : public Obj<StubINSSBuffer> {
 public:
  explicit Buffer(DWORD n) : data_(n) {}
  HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** p) override {
    *p = data_.data();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetLength(DWORD n) override {
    if (n > data_.size()) return E_INVALIDARG;
    length_ = n;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** p, DWORD* n) override {
    *p = data_.data();
    *n = length_;
    return S_OK;
  }
  std::vector<BYTE> data_;
  DWORD length_ = 0;
};

class InputProps : public Obj<StubIWMInputMediaProps> {
 public:
  InputProps() : t_(WMPcmSubType, 2, 44100, 16) {}
  HRESULT STDMETHODCALLTYPE GetMediaType(WM_MEDIA_TYPE* p, DWORD* n) override { return t_.Get(p, n); }
  HRESULT STDMETHODCALLTYPE SetMediaType(WM_MEDIA_TYPE* p) override {
    if (!p || !p->pbFormat || p->cbFormat < sizeof(WAVEFORMATEX)) return E_INVALIDARG;
    t_.wf = *reinterpret_cast<WAVEFORMATEX*>(p->pbFormat);
    return S_OK;
  }
  MediaType t_;

 private:
  bool Is(REFIID r) override { return r == __uuidof(IWMInputMediaProps) || r == __uuidof(IWMMediaProps); }
};

class HeaderInfo : public Obj<StubIWMHeaderInfo> {
 public:
  HRESULT STDMETHODCALLTYPE SetAttribute(WORD stream, LPCWSTR name, WMT_ATTR_DATATYPE type, const BYTE* value,
                                         WORD length) override {
    Log("SetAttribute");
    if (stream != 0 || type != WMT_TYPE_STRING || length % 2) return E_INVALIDARG;
    g_state->attributes[name] = std::wstring(reinterpret_cast<const wchar_t*>(value), length / 2);
    return S_OK;
  }
};

class Advanced : public Obj<StubIWMWriterAdvanced> {
 public:
  HRESULT STDMETHODCALLTYPE AddSink(IWMWriterSink*) override {
    Log("AddSink");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RemoveSink(IWMWriterSink*) override {
    Log("RemoveSink");
    return S_OK;
  }
};

class Writer : public Obj<StubIWMWriter> {
 public:
  HRESULT STDMETHODCALLTYPE SetProfile(IWMProfile*) override {
    Log("SetProfile");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* n) override {
    *n = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetInputProps(DWORD i, IWMInputMediaProps** p) override {
    if (i != 0) return E_INVALIDARG;
    *p = new InputProps();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetInputProps(DWORD i, IWMInputMediaProps* p) override {
    Log("SetInputProps");
    if (i != 0 || !p) return E_INVALIDARG;
    g_state->input = static_cast<InputProps*>(p)->t_.wf;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BeginWriting() override {
    Log("BeginWriting");
    return g_state->beginResult;
  }
  HRESULT STDMETHODCALLTYPE EndWriting() override {
    Log("EndWriting");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AllocateSample(DWORD n, INSSBuffer** p) override {
    *p = new Buffer(n);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE WriteSample(DWORD input, QWORD time, DWORD flags, INSSBuffer* p) override {
    if (g_state->onWrite) g_state->onWrite((int)g_state->times.size());
    if (g_state->failWriteAt >= 0 && (int)g_state->times.size() == g_state->failWriteAt) return g_state->writeResult;
    if (input != 0 || flags != 0) return E_INVALIDARG;
    auto* b = static_cast<Buffer*>(p);
    g_state->samples.append(reinterpret_cast<const char*>(b->data_.data()), b->length_);
    g_state->times.push_back(time);
    return S_OK;
  }

 private:
  IUnknown* Other(REFIID r) override {
    if (r == __uuidof(IWMWriterAdvanced)) return static_cast<IWMWriterAdvanced*>(new Advanced());
    if (r == __uuidof(IWMHeaderInfo)) return static_cast<IWMHeaderInfo*>(new HeaderInfo());
    return nullptr;
  }
};

class RegisterCallback : public Obj<StubIWMRegisterCallback> {
 public:
  HRESULT STDMETHODCALLTYPE Advise(IWMStatusCallback* cb, void*) override {
    Log("Advise");
    cb->AddRef();
    if (g_state->callback) g_state->callback->Release();
    g_state->callback = cb;
    return S_OK;
  }
};

template <class Stub>
class SinkBase : public Obj<Stub> {
 protected:
  IUnknown* Other(REFIID r) override {
    if (r == __uuidof(IWMRegisterCallback)) return static_cast<IWMRegisterCallback*>(new RegisterCallback());
    return nullptr;
  }
};

class FileSink : public SinkBase<StubIWMWriterFileSink> {
 public:
  HRESULT STDMETHODCALLTYPE Open(const WCHAR* name) override {
    Log("FileSink.Open");
    g_state->sinkFile = name;
    return g_state->openResult;
  }
};

class NetworkSink : public SinkBase<StubIWMWriterNetworkSink> {
 public:
  HRESULT STDMETHODCALLTYPE SetMaximumClients(DWORD n) override {
    g_state->maxClients = n;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetNetworkProtocol(WMT_NET_PROTOCOL p) override {
    g_state->protocol = (int)p;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Open(DWORD* port) override {
    Log("NetworkSink.Open");
    g_state->port = *port;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close() override {
    Log("NetworkSink.Close");
    return S_OK;
  }
};

class OutputProps : public Obj<StubIWMOutputMediaProps> {
 public:
  explicit OutputProps(const OutFormat& f) : f_(f), t_(WMPcmSubType, f.channels, f.rate, f.bits) {}
  HRESULT STDMETHODCALLTYPE GetMediaType(WM_MEDIA_TYPE* p, DWORD* n) override { return t_.Get(p, n); }
  OutFormat f_;

 private:
  bool Is(REFIID r) override { return r == __uuidof(IWMOutputMediaProps) || r == __uuidof(IWMMediaProps); }
  MediaType t_;
};

class ReaderHeaderInfo : public Obj<StubIWMHeaderInfo> {
 public:
  HRESULT STDMETHODCALLTYPE GetAttributeByName(WORD* stream, LPCWSTR name, WMT_ATTR_DATATYPE* type, BYTE* value,
                                               WORD* length) override {
    if (!stream || *stream != 0) return E_INVALIDARG;
    std::wstring n = name;
    auto put = [&](const void* v, WORD size, WMT_ATTR_DATATYPE t) {
      *type = t;
      if (value) {
        if (*length < size) return E_INVALIDARG;
        std::memcpy(value, v, size);
      }
      *length = size;
      return S_OK;
    };
    if (n == L"Duration") return put(&g_state->duration, 8, WMT_TYPE_QWORD);
    if (n == L"Bitrate" && g_state->bitrate) return put(&g_state->bitrate, 4, WMT_TYPE_DWORD);
    auto it = g_state->headerStrings.find(n);
    if (it == g_state->headerStrings.end()) return E_FAIL;
    return put(it->second.c_str(), (WORD)((it->second.size() + 1) * 2), WMT_TYPE_STRING);
  }
};

class SyncReader : public Obj<StubIWMSyncReader> {
 public:
  ~SyncReader() override {
    if (stream_) stream_->Release();
  }
  HRESULT STDMETHODCALLTYPE OpenStream(IStream* s) override {
    ULARGE_INTEGER pos{};
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_CUR, &pos);
    if (g_state->opensOnlyAtByte30 && pos.QuadPart != 30) return E_FAIL;
    s->AddRef();
    stream_ = s;
    ++g_state->opens;
    // Until told otherwise the reader delivers its current format.
    g_state->chosen = g_state->formats[0];
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close() override {
    if (stream_) stream_->Release();
    stream_ = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetOutputCount(DWORD* n) override {
    *n = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetOutputProps(DWORD o, IWMOutputMediaProps** p) override {
    if (o != 0) return E_INVALIDARG;
    *p = new OutputProps(g_state->formats[0]);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetOutputSetting(DWORD, LPCWSTR name, WMT_ATTR_DATATYPE, const BYTE* v, WORD len) override {
    DWORD d = 0;
    std::memcpy(&d, v, std::min<WORD>(len, 4));
    g_state->outputSettings[name] = d;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetOutputFormatCount(DWORD, DWORD* n) override {
    *n = (DWORD)g_state->formats.size();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetOutputFormat(DWORD, DWORD i, IWMOutputMediaProps** p) override {
    if (FAILED(g_state->formatResult)) return g_state->formatResult;
    if (i >= g_state->formats.size()) return E_INVALIDARG;
    *p = new OutputProps(g_state->formats[i]);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetOutputProps(DWORD, IWMOutputMediaProps* p) override {
    if (FAILED(g_state->setOutputResult)) return g_state->setOutputResult;
    g_state->chosen = static_cast<OutputProps*>(p)->f_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetStreamNumberForOutput(DWORD, WORD* n) override {
    *n = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetReadStreamSamples(WORD, WINBOOL) override {
    return g_state->protectedContent ? WMProtectedContent : S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetRange(QWORD start, LONGLONG) override {
    next_ = start;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetNextSample(WORD, INSSBuffer** p, QWORD* t, QWORD* d, DWORD* f, DWORD* o,
                                          WORD* s) override {
    const OutFormat& c = g_state->chosen;
    const QWORD block = 1000000;  // 100 ms
    if (!stream_ || next_ >= g_state->duration || c.rate == 0) return (HRESULT)0xC00D0BCF;  // no more samples
    auto* b = new Buffer((DWORD)((uint64_t)c.rate / 10 * c.channels * c.bits / 8));
    b->length_ = (DWORD)b->data_.size();
    *p = b;
    *t = next_;
    *d = block;
    *f = 0;
    *o = 0;
    *s = 1;
    next_ += block;
    return S_OK;
  }

 private:
  IUnknown* Other(REFIID r) override {
    if (r == __uuidof(IWMHeaderInfo)) return static_cast<IWMHeaderInfo*>(new ReaderHeaderInfo());
    return nullptr;
  }
  IStream* stream_ = nullptr;
  QWORD next_ = 0;
};

HRESULT WINAPI CreateSyncReader(IUnknown*, DWORD, IWMSyncReader** r) {
  *r = new SyncReader();
  return S_OK;
}

HRESULT WINAPI CreateWriter(IUnknown*, IWMWriter** w) {
  Log("WMCreateWriter");
  *w = new Writer();
  return S_OK;
}
HRESULT WINAPI CreateFileSink(IWMWriterFileSink** s) {
  Log("WMCreateWriterFileSink");
  *s = new FileSink();
  return S_OK;
}
HRESULT WINAPI CreateNetworkSink(IWMWriterNetworkSink** s) {
  Log("WMCreateWriterNetworkSink");
  *s = new NetworkSink();
  return S_OK;
}
HRESULT WINAPI CreateProfileManager(IWMProfileManager** p) {
  *p = new ProfileManager();
  return S_OK;
}

}  // namespace

bool State::Called(const std::string& c) const { return Count(c) > 0; }
int State::Count(const std::string& c) const { return (int)std::count(calls.begin(), calls.end(), c); }

State& Current() { return *g_state; }
int Live() { return g_live; }

Installed::Installed(bool reader) {
  g_state = new State();
  g_state->codecs = StandardCodecs();
  TWMVCoreApi api = WMVCore;
  api.CreateWriter = CreateWriter;
  api.CreateWriterFileSink = CreateFileSink;
  api.CreateWriterNetworkSink = CreateNetworkSink;
  api.CreateProfileManager = CreateProfileManager;
  if (reader) api.CreateSyncReader = CreateSyncReader;
  old_ = WMVCoreReplaceApi(api);
}

Installed::~Installed() {
  WMVCoreReplaceApi(old_);
  if (g_state->callback) g_state->callback->Release();
  delete g_state;
  g_state = nullptr;
}

std::vector<Codec> StandardCodecs() {
  return {
      {L"Windows Media Audio 9.2", false,
       {{2, 44100, 16, 64000}, {2, 44100, 16, 96000}, {2, 44100, 16, 128000}, {2, 44100, 16, 160000},
        {1, 44100, 16, 127000}, {2, 48000, 16, 128000}, {2, 22050, 16, 32000}, {1, 22050, 16, 20000}}},
      {L"Windows Media Audio 9.2 Lossless", true,
       {{2, 44100, 16, 0, false, 50}, {2, 44100, 16, 0, false, 75}, {2, 44100, 16, 0, false, 98},
        {2, 44100, 16, 0, true, 100}, {1, 44100, 16, 0, false, 90}}},
  };
}

}  // namespace wmdouble
