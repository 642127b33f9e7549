#include "audio/formats/winmedia/AuWinMedia.h"

#include <algorithm>
#include <cmath>

#include "classlib/SysUtils.h"

namespace {

// The messages of this unit.
namespace msg {
const char* const NoFileName = "File name is not assigned";
const char* const Protected = "File is protected";
const char* const OutNoFileName = "File name is not assigned.";
const char* const CannotCreate = "Cannot create file";
const char* const OutputError = "Windows Media output error";
}  // namespace msg

}  // namespace

// ---------------------------------------------------------------------------------------------
// TWMIn

TWMIn::TWMIn(TComponent* AOwner) : TAuTaggedFileIn(AOwner) {}

TWMIn::~TWMIn() { CloseForDestruction(); }

int TWMIn::ChannelRequest() const {
  switch (FOutputChannels) {
    case cnMaxAvailable: return -1;
    case cn5dot1: return 6;
    case cn7dot1: return 8;
    default: return 0;
  }
}

void TWMIn::Reopen() {
  TLock l(FileLock);
  if (OpenCount > 0) {
    CloseFile();
    OpenFile();
  }
}

void TWMIn::SetHighPrecision(bool Value) {
  if (FBusy || FOutputChannels != cnMonoOrStereo) return;
  FHighPrecision = Value;
  Reopen();
}

void TWMIn::SetOutputChannels(TChannelsNumber Value) {
  if (FBusy) return;
  FOutputChannels = Value;
  if (Value != cnMonoOrStereo) FHighPrecision = true;
  Reopen();
}

uint32_t TWMIn::GetBitRate() {
  OpenFile();
  return lwma_reader_bitrate(FReader);
}

void TWMIn::DropStream() {
  if (!StreamAssigned) {
    CloseOwnStream();
  } else if (FStream) {
    FStream->Seek(0, soBeginning);
  }
}

bool TWMIn::OpenDecoder() {
  if (!StreamAssigned && FWideFileName.empty()) throw EAuException(msg::NoFileName);
  OpenOwnStream(0x20);
  lwma_reader_open(FReader, FStream, FHighPrecision, ChannelRequest());
  FValid = FReader.has_audio;
  if (!FReader.stream) {
    // Not a file the runtime can open: nothing stays open, and the file is not locked.
    FValid = false;
    FSize = 0;
    DropStream();
    return false;
  }
  if (FReader.is_protected) {
    lwma_reader_close(FReader);
    FValid = false;
    DropStream();
    throw EAuException(msg::Protected);
  }
  FDuration = lwma_reader_duration(FReader);
  uint32_t ch = 0, bits = 0, rate = 0;
  lwma_reader_format(FReader, ch, bits, rate);
  FChan = (int32_t)ch;
  FBPS = (int32_t)bits;
  FSR = (int32_t)rate;
  int64_t frames = (int64_t)std::llround((long double)FReader.duration * rate / 10000000.0L);
  // A file that does not tell its length (a damaged one) has a size not known, rather than none.
  FSize = frames > 0 ? frames * (int64_t)ch * (bits / 8) : (FValid ? -1 : 0);
  Seekable = true;

  FId3v2Tags->Clear();
  FCommonTags->Clear();
  auto tag = [this](const wchar_t* Name) { return lwma_reader_tag(FReader, Name); };
  WideString artist = tag(WMTagAuthor), title = tag(WMTagTitle), album = tag(WMTagAlbum), genre = tag(WMTagGenre);
  AnsiString track = WideToAnsi(tag(WMTagTrack)), year = WideToAnsi(tag(WMTagYear));
  WideString copyright = tag(WMTagCopyright);
  if (!artist.empty()) { FId3v2Tags->SetArtist(artist); FCommonTags->SetArtist(artist); }
  if (!title.empty()) { FId3v2Tags->SetTitle(title); FCommonTags->SetTitle(title); }
  if (!album.empty()) { FId3v2Tags->SetAlbum(album); FCommonTags->SetAlbum(album); }
  if (!genre.empty()) { FId3v2Tags->SetGenre(genre); FCommonTags->SetGenre(genre); }
  if (!track.empty()) { FId3v2Tags->SetTrack(track); FCommonTags->SetTrack(track); }
  if (!year.empty()) { FId3v2Tags->SetYear(year); FCommonTags->SetYear(year); }
  if (!copyright.empty()) FId3v2Tags->SetComment(copyright);
  return true;
}

void TWMIn::CloseDecoder() {
  lwma_reader_close(FReader);
  DropStream();
}

void TWMIn::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!FValid) {
    // Nothing usable was found at this open: nothing is delivered.
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  int64_t size = FSize;
  if (size > 0) {
    int64_t left = size - FPosition;
    if (left <= 0) {
      Buffer = nullptr;
      Bytes = 0;
      return;
    }
    if ((int64_t)Bytes > left) Bytes = (uint32_t)left;
  }
  lwma_reader_read(FReader, Buffer, Bytes);
}

bool TWMIn::SeekInternal(int64_t& SampleNum) {
  if (!FBusy || FSR <= 0) return false;
  // Exactly at the frame asked for: the reader drops what lies before it.
  lwma_reader_seek_exact(FReader, (int64_t)std::llround((long double)SampleNum * 10000000.0L / FSR));
  return true;
}

// ---------------------------------------------------------------------------------------------
// TWMAOut

TWMAOut::TWMAOut(TComponent* AOwner)
    : TAuTaggedFileOut(AOwner), FCodecs(std::make_unique<TStringList>()), FFormats(std::make_unique<TStringList>()) {
  if (!(ComponentState() & csDesigning)) lwma_codec_names(FCodecs.get());
}

TWMAOut::~TWMAOut() { Shutdown(); }

void TWMAOut::OpenWriter() {
  lwma_writer_open_file(FWriter, FWideFileName, this, [](void* Owner, int) {
    static_cast<TWMAOut*>(Owner)->FError = true;
  });
}

void TWMAOut::CloseWriter() { lwma_writer_close_file(FWriter); }

void TWMAOut::Prepare() {
  if (!FStreamed && FWideFileName.empty()) throw EAuException(msg::OutNoFileName);
  FInput->Init();
  FInputInited = true;
  FError = false;
  OpenWriter();
  if (!FWriter.initialised) throw Exception(msg::CannotCreate);
  const int ch = FInput->Channels(), bits = FInput->BitsPerSample(), rate = FInput->SampleRate();
  if (FFormatIndex >= 0)
    lwma_writer_set_profile_by_index(FWriter, ch, bits, FCodecIndex, FFormatIndex, FVBR || FLossless, rate);
  else
    lwma_writer_set_profile(FWriter, ch, bits, rate, FLossless, FVBR, FVBR ? FVBRQuality : FDesiredBitrate);
  // 80 ms of PCM, in whole frames.
  const uint32_t frame = (uint32_t)std::max(1, ch * bits / 8);
  uint32_t block = (uint32_t)((int64_t)ch * bits * rate / 100);
  block = std::max(frame, block / frame * frame);
  FBlock.assign(block, 0);
  TId3v2Tags* t = Id3v2Tags();
  auto put = [this](const wchar_t* Name, const WideString& V) {
    if (!V.empty()) lwma_writer_set_tag(FWriter, Name, V);
  };
  put(WMTagAuthor, t->Artist());
  put(WMTagAlbum, t->Album());
  put(WMTagGenre, t->Genre());
  put(WMTagYear, AnsiToWide(t->Year()));
  put(WMTagTrack, AnsiToWide(t->Track()));
  put(WMTagTitle, t->Title());
  put(WMTagCopyright, t->Comment());
  lwma_writer_begin(FWriter);
  FEndOfInput = false;
  FError = false;
}

bool TWMAOut::DoOutput(bool Abort) {
  if (FError) throw EAuException(msg::OutputError);
  if (!FActive) return true;
  if (Abort || FEndOfInput) return false;
  bool eof = false;
  uint32_t n = FInput->FillBuffer(FBlock.data(), (uint32_t)FBlock.size(), eof);
  FEndOfInput = eof;
  if (n > 0) lwma_writer_write(FWriter, FBlock.data(), n);
  return true;
}

void TWMAOut::Done() {
  if (FInputInited && FInput) {
    FInputInited = false;
    try {
      FInput->Flush();
    } catch (...) {
    }
  }
  CloseWriter();
  FBlock.clear();
  FBlock.shrink_to_fit();
}

// ---------------------------------------------------------------------------------------------
// TWMStreamedOut

TWMStreamedOut::TWMStreamedOut(TComponent* AOwner) : TWMAOut(AOwner) { FStreamed = true; }

TWMStreamedOut::~TWMStreamedOut() {
  Shutdown();
  EventHandlerForget(this);
}

void TWMStreamedOut::OpenWriter() {
  auto post = [](void* Owner, bool Connected) {
    auto* self = static_cast<TWMStreamedOut*>(Owner);
    PostGenericEvent(self, [self, Connected](TComponent* Sender) {
      const TStreamedAudioEvent& e = Connected ? self->OnClientConnected : self->OnClientDisconnected;
      if (e) e(Sender);
    });
  };
  lwma_writer_open_network(
      FWriter, FPort, FMaxClients, [](void* Owner, int) { static_cast<TWMStreamedOut*>(Owner)->FError = true; },
      [post](void* Owner) { post(Owner, false); }, [post](void* Owner) { post(Owner, true); }, this);
}

void TWMStreamedOut::CloseWriter() { lwma_writer_close_network(FWriter); }
