// The file input over a decoding library that hands out whole frames of integer samples: it
// opens the named file or the assigned stream, makes the decoder over it, hands out the frames
// (one frame split over pulls smaller than a frame), seeks and closes. A codec's input derives
// from TAuDecoderIn<its decoder> and says how its library is loaded and what the decoder tells.
//
// TDecoder: constructed over a TStream (not owned), raising an Exception for a stream it cannot
// read; BitsPerSample(), SampleRate(), Channels(); Seek(int64_t Sample) -> bool;
// Read(void* Buffer, Frames) -> the whole frames read, 0 or less at the end or on an error.
#pragma once
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/engine/AuClasses.h"

namespace AuDecoderInMessages {
inline constexpr const char* NoFileName = "File name is not assigned";
inline constexpr const char* NotOpened = "The stream is not opened";
}  // namespace AuDecoderInMessages

template <class TDecoder>
class TAuDecoderIn : public TAuTaggedFileIn {
 public:
  ~TAuDecoderIn() override { CloseForDestruction(); }

 protected:
  explicit TAuDecoderIn(TComponent* AOwner) : TAuTaggedFileIn(AOwner) {}

  // Loads the decoder's library (under LoadLibCS) or raises EAuException saying it is missing.
  // Threads: the thread opening the file.
  void LoadDecoderLibrary() override = 0;
  // Whether the open decoder can seek.
  virtual bool DecoderSeekable() = 0;
  // The open decoder's length in sample frames, negative when unknown.
  virtual int64_t DecoderSamples() = 0;
  // After the decoder is made (or failed: FDecoder is then empty), under FileLock.
  virtual void DecoderOpened() {}

  bool OpenDecoder() override {
    FValid = false;
    if (!StreamAssigned) {
      if (FWideFileName.empty()) throw EAuException(AuDecoderInMessages::NoFileName);
      this->OpenOwnStream(0x20);
    }
    if (!FStream) throw EAuException(AuDecoderInMessages::NoFileName);
    FStream->Seek(0, soBeginning);
    FPart.clear();
    FPartStart = 0;
    try {
      FDecoder = std::make_unique<TDecoder>(FStream);
      Seekable = DecoderSeekable();
      // Samples are stored in whole bytes: a depth such as 20 bits travels as 24.
      FBPS = (FDecoder->BitsPerSample() + 7) / 8 * 8;
      FSR = FDecoder->SampleRate();
      FChan = FDecoder->Channels();
      int64_t total = DecoderSamples();
      FPosition = 0;
      FSize = total >= 0 ? total * ((FBPS + 7) / 8) * FChan : -1;
      // Formats the engine cannot carry are not valid.
      FValid = FBPS > 0 && FBPS <= 32 && FChan > 0 && FChan <= 8 && FSR > 0;
    } catch (const Exception&) {
      FDecoder.reset();
      FValid = false;
    }
    if (!FValid) FSize = 0;
    DecoderOpened();
    return true;
  }

  void CloseDecoder() override {
    FDecoder.reset();
    CloseOwnStream();
    FSamples.clear();
    FSamples.shrink_to_fit();
    FPart.clear();
    FPartStart = 0;
  }

  bool SeekInternal(int64_t& SampleNum) override {
    if (!FDecoder) return false;
    FPart.clear();
    FPartStart = 0;
    return FDecoder->Seek(SampleNum);
  }

  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override {
    if (!FBusy) throw EAuException(AuDecoderInMessages::NotOpened);
    if (Bytes == 0) return;
    Buffer = nullptr;
    if (!FDecoder) {
      Bytes = 0;
      return;
    }
    if (FSize >= 0) {
      int64_t left = FSize - FPosition;
      if (left <= 0) {
        Bytes = 0;
        return;
      }
      if ((int64_t)Bytes > left) Bytes = (uint32_t)left;
    }
    // The rest of a frame split by a smaller pull goes first.
    if (FPartStart < FPart.size()) {
      Bytes = (uint32_t)std::min<size_t>(Bytes, FPart.size() - FPartStart);
      Buffer = FPart.data() + FPartStart;
      FPartStart += Bytes;
      return;
    }
    const uint32_t frame = (uint32_t)((FBPS + 7) / 8) * (uint32_t)FChan;
    uint32_t frames = Bytes / frame;
    if (frames == 0) {
      // Less than one frame asked for: one frame is decoded and handed out in parts.
      FPart.resize(frame);
      if (FDecoder->Read(FPart.data(), 1) != 1) {
        FPart.clear();
        Bytes = 0;
        return;
      }
      Buffer = FPart.data();
      FPartStart = Bytes;
      return;
    }
    Bytes = frames * frame;
    if (FSamples.size() < Bytes) FSamples.resize(Bytes);
    int32_t got = FDecoder->Read(FSamples.data(), frames);
    if (got <= 0) {
      Bytes = 0;
      return;
    }
    if ((uint32_t)got < frames) Bytes = (uint32_t)got * frame;
    Buffer = FSamples.data();
  }

  std::unique_ptr<TDecoder> FDecoder;

 private:
  std::vector<uint8_t> FSamples;
  // Bytes of a frame decoded for a pull smaller than a frame, not yet delivered.
  std::vector<uint8_t> FPart;
  size_t FPartStart = 0;
};
