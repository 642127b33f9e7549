#include "audio/formats/wave/WaveConverter.h"

#include "classlib/WinApi.h"

#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <cstring>
#include <new>
#include <vector>

#include "audio/engine/AuBinary.h"


TWaveConverter::TWaveConverter() {
  std::memset(FCurrent, 0, sizeof FCurrent);
  std::memset(FNew, 0, sizeof FNew);
}

bool TWaveConverter::LoadWaveStream(TStream* Stream) {
  uint8_t head[12];
  if (!ReadExact(Stream, head, 12) || !RiffIdIs(head, "RIFF") || !RiffIdIs(head + 8, "WAVE")) return false;
  const int64_t end = Stream->Size();
  bool haveFmt = false;
  // The chunks are walked on the stream itself: the data may be far larger than a scan buffer.
  TRiffWalker chunks(Stream, Stream->Position(), end);
  TRiffChunk c;
  while (chunks.Next(c)) {
    if (c.Is("fmt ")) {
      if (c.Size > FormatSize || !c.Whole) return false;
      std::memset(FCurrent, 0, sizeof FCurrent);
      Stream->Seek((int64_t)c.BodyAt, soBeginning);
      if (!ReadExact(Stream, FCurrent, c.Size)) return false;
      haveFmt = true;
    } else if (c.Is("data")) {
      if (!haveFmt) return false;
      const int64_t n = c.Whole ? (int64_t)c.Size : end - (int64_t)c.BodyAt;
      Clear();
      SetSize(n);
      Stream->Seek((int64_t)c.BodyAt, soBeginning);
      if (n && !ReadExact(Stream, Memory(), (uint32_t)n)) return false;
      SetPosition(0);
      return true;
    }
  }
  return false;
}

uint32_t TWaveConverter::Convert() {
  auto* src = reinterpret_cast<WAVEFORMATEX*>(FCurrent);
  auto* dst = reinterpret_cast<WAVEFORMATEX*>(FNew);
  HACMSTREAM h = nullptr;
  MMRESULT r = acmStreamOpen(&h, nullptr, src, dst, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME);
  if (r) return r;
  DWORD srcLen = (DWORD)Size();
  DWORD dstLen = 0;
  r = acmStreamSize(h, srcLen, &dstLen, ACM_STREAMSIZEF_SOURCE);
  // The decoded copy must fit the address space next to the source.
  if (!r && (dstLen == 0 || dstLen > 0x40000000u)) r = MMSYSERR_NOMEM;
  std::vector<uint8_t> out;
  if (!r) {
    try {
      out.assign(dstLen, 0);
    } catch (const std::bad_alloc&) {
      r = MMSYSERR_NOMEM;
    }
  }
  if (!r) {
    ACMSTREAMHEADER hdr;
    std::memset(&hdr, 0, sizeof hdr);
    hdr.cbStruct = sizeof hdr;
    hdr.pbSrc = static_cast<LPBYTE>(Memory());
    hdr.cbSrcLength = srcLen;
    hdr.pbDst = out.data();
    hdr.cbDstLength = dstLen;
    r = acmStreamPrepareHeader(h, &hdr, 0);
    if (!r) {
      r = acmStreamConvert(h, &hdr, ACM_STREAMCONVERTF_BLOCKALIGN);
      if (!r) {
        uint32_t used = hdr.cbDstLengthUsed <= dstLen ? hdr.cbDstLengthUsed : dstLen;
        std::memcpy(FCurrent, FNew, FormatSize);
        SetSize(used);
        if (used) std::memcpy(Memory(), out.data(), used);
        SetPosition(0);
      }
      acmStreamUnprepareHeader(h, &hdr, 0);
    }
  }
  acmStreamClose(h, 0);
  return r;
}

void TWaveConverter::SaveWaveStream(TStream* Stream) {
  uint32_t n = (uint32_t)Size();
  TByteWriter w;
  w.Id("RIFF");
  w.LE32(n + 36);
  w.Id("WAVE");
  w.Id("fmt ");
  w.LE32(16);
  w.Bytes(FCurrent, 16);
  w.Id("data");
  w.LE32(n);
  Stream->WriteBuffer(w.Bytes(), (int32_t)w.Size());
  if (n) Stream->WriteBuffer(Memory(), (int32_t)n);
}
