// Declarations of the Windows Media Format runtime ("WMVCORE.DLL") that the compiler's headers
// lack: the writer sinks, callback registration, the entry points' signatures, and the media
// type identifiers compared by the reader and writer layer. Everything else comes from the
// platform's own headers included here.
#pragma once
#include "classlib/WinApi.h"

#include <objidl.h>
#include <mmreg.h>
#include <wmsbuffer.h>
#include <wmsdkidl.h>

// The network protocol of a network sink (only HTTP exists).
enum WMT_NET_PROTOCOL { WMT_PROTOCOL_HTTP = 0 };

// A sink that writes the encoded stream to a file.
MIDL_INTERFACE("96406be5-2b2b-11d3-b36b-00c04f6108ff")
IWMWriterFileSink : public IWMWriterSink {
 public:
  virtual HRESULT STDMETHODCALLTYPE Open(const WCHAR* pwszFilename) = 0;
};
__CRT_UUID_DECL(IWMWriterFileSink, 0x96406be5, 0x2b2b, 0x11d3, 0xb3, 0x6b, 0x00, 0xc0, 0x4f, 0x61, 0x08, 0xff)

// A sink that serves the encoded stream to network clients.
MIDL_INTERFACE("96406be7-2b2b-11d3-b36b-00c04f6108ff")
IWMWriterNetworkSink : public IWMWriterSink {
 public:
  virtual HRESULT STDMETHODCALLTYPE SetMaximumClients(DWORD dwMaxClients) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMaximumClients(DWORD* pdwMaxClients) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetNetworkProtocol(WMT_NET_PROTOCOL protocol) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNetworkProtocol(WMT_NET_PROTOCOL* pProtocol) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHostURL(WCHAR* pwszURL, DWORD* pcchURL) = 0;
  virtual HRESULT STDMETHODCALLTYPE Open(DWORD* pdwPortNum) = 0;
  virtual HRESULT STDMETHODCALLTYPE Disconnect() = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};
__CRT_UUID_DECL(IWMWriterNetworkSink, 0x96406be7, 0x2b2b, 0x11d3, 0xb3, 0x6b, 0x00, 0xc0, 0x4f, 0x61, 0x08, 0xff)

// Registration of status callbacks on a sink.
MIDL_INTERFACE("cf4b1f99-4de2-4e49-a363-252740d99bc1")
IWMRegisterCallback : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE Advise(IWMStatusCallback* pCallback, void* pvContext) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unadvise(IWMStatusCallback* pCallback, void* pvContext) = 0;
};
__CRT_UUID_DECL(IWMRegisterCallback, 0xcf4b1f99, 0x4de2, 0x4e49, 0xa3, 0x63, 0x25, 0x27, 0x40, 0xd9, 0x9b, 0xc1)

// The runtime's entry points (stdcall).
using TWMCreateSyncReader = HRESULT(WINAPI*)(IUnknown* pUnkCert, DWORD dwRights, IWMSyncReader** ppSyncReader);
using TWMCreateWriter = HRESULT(WINAPI*)(IUnknown* pUnkCert, IWMWriter** ppWriter);
using TWMCreateWriterFileSink = HRESULT(WINAPI*)(IWMWriterFileSink** ppSink);
using TWMCreateProfileManager = HRESULT(WINAPI*)(IWMProfileManager** ppProfileManager);
using TWMCreateReader = HRESULT(WINAPI*)(IUnknown* pUnkCert, DWORD dwRights, IWMReader** ppReader);
using TWMCreateWriterNetworkSink = HRESULT(WINAPI*)(IWMWriterNetworkSink** ppSink);

// Media types compared by the layer.
constexpr GUID WMAudioMajorType = {0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID WMPcmSubType = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
// Lossless Windows Media Audio (wave format tag 0x163).
constexpr GUID WMLosslessSubType = {0x00000163, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID WMWaveFormatExFormat = {0x05589f81, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};

// Results the layer tells apart.
constexpr HRESULT WMProtectedContent = (HRESULT)0xC00D0BBD;
// Status codes of the status callbacks.
constexpr int WMStatusClientConnect = 37;
constexpr int WMStatusClientDisconnect = 38;
