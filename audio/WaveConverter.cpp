#include "audio/WaveConverter.h"

#include "classlib/WinApi.h"

#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <cstring>
#include <new>
#include <vector>

using riff::Get32;
using riff::IdIs;
using riff::Put32;

TWaveConverter::TWaveConverter() {
  std::memset(FCurrent, 0, sizeof FCurrent);
  std::memset(FNew, 0, sizeof FNew);
}

bool TWaveConverter::LoadWaveStream(TStream* Stream) {
  uint8_t head[12];
  if (Stream->Read(head, 12) != 12 || !IdIs(head, "RIFF") || !IdIs(head + 8, "WAVE")) return false;
  int64_t pos = Stream->Position();
  int64_t end = Stream->Size();
  bool haveFmt = false;
  while (pos + 8 <= end) {
    uint8_t ch[8];
    Stream->SetPosition(pos);
    if (Stream->Read(ch, 8) != 8) return false;
    uint32_t size = Get32(ch + 4);
    pos += 8;
    if (IdIs(ch, "fmt ")) {
      if (size > FormatSize || (int64_t)size > end - pos) return false;
      std::memset(FCurrent, 0, sizeof FCurrent);
      if (Stream->Read(FCurrent, (int32_t)size) != (int32_t)size) return false;
      haveFmt = true;
    } else if (IdIs(ch, "data")) {
      if (!haveFmt) return false;
      int64_t n = size;
      if (n > end - pos) n = end - pos;
      Clear();
      SetSize(n);
      if (n && Stream->Read(Memory(), (int32_t)n) != (int32_t)n) return false;
      SetPosition(0);
      return true;
    }
    pos += (int64_t)size + (size & 1);
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
  uint8_t head[44];
  uint32_t n = (uint32_t)Size();
  std::memcpy(head, "RIFF", 4);
  Put32(head + 4, n + 36);
  std::memcpy(head + 8, "WAVEfmt ", 8);
  Put32(head + 16, 16);
  std::memcpy(head + 20, FCurrent, 16);
  std::memcpy(head + 36, "data", 4);
  Put32(head + 40, n);
  Stream->WriteBuffer(head, 44);
  if (n) Stream->WriteBuffer(Memory(), (int32_t)n);
}
