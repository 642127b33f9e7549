#include "audio/formats/mp3/AuLAME.h"

#include "classlib/WinApi.h"

#include <algorithm>
#include <cstring>

#include "audio/formats/mp3/lame.h"
#include "audio/formats/mp3/taglib.h"

namespace {

// The unit's messages.
const char* const ErrLibrary = "lame_enc.dll library could not be loaded.";
const char* const ErrNoName = "File name is not assigned.";
const char* const ErrLame = "LAME Error: ";
const char* const ErrWrite = "Error writing down mp3 file";
const char* const ErrTagsInvalid = "Failed to write tags";
const char* const ErrTagsSave = "Failed to save tags";
const char* const ErrChannels = "MP3 files hold mono or stereo audio only.";
const char* const ErrBits = "MP3 encoding takes 8-, 16-, 24- or 32-bit input only.";
const char* const ErrNoAudio = "The input holds no audio: an MP3 file needs at least one frame.";

const int32_t Kbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};

// Fields of the encoder configuration record (little-endian, packed).
namespace cfg {
constexpr int Kind = 0, Version = 4, Size = 8, SampleRate = 12, ReSampleRate = 16, Mode = 20, BitRate = 24,
              MaxBitRate = 28, Preset = 32, PrivateBit = 48, CRC = 52, Copyright = 56, Original = 60,
              WriteVBRHeader = 64, EnableVBR = 68, VBRQuality = 72, AvgBitRate = 76, VBRMethod = 80, NoRes = 84,
              StrictIso = 88;
constexpr uint32_t KindLame = 256, VBRMethodDefault = 2, VBRMethodABR = 4, True = 0xFFFFFFFFu;
}  // namespace cfg

void Put32(std::vector<uint8_t>& R, int At, uint32_t V) {
  for (int i = 0; i < 4; ++i) R[At + i] = (uint8_t)(V >> (8 * i));
}

// Runs Fn with an 8-bit name of the file the libraries can open: the name itself when the code
// page holds it, else its short name, else a temporary name the file is moved to meanwhile.
template <class F>
void WithAnsiName(const WideString& Wide, F&& Fn) {
  AnsiString a = WideToAnsi(Wide);
  if (AnsiToWide(a) == Wide) return Fn(a);
  wchar_t buf[MAX_PATH * 2];
  DWORD n = GetShortPathNameW(Wide.c_str(), buf, MAX_PATH * 2);
  if (n > 0 && n < MAX_PATH * 2) {
    WideString s(buf, n);
    a = WideToAnsi(s);
    if (AnsiToWide(a) == s) return Fn(a);
  }
  WideString folder = Wide.substr(0, Wide.find_last_of(L"\\/") + 1);
  n = folder.empty() ? 0 : GetShortPathNameW(folder.c_str(), buf, MAX_PATH * 2);
  WideString dir = n > 0 && n < MAX_PATH * 2 ? WideString(buf, n) : WideString();
  if (dir.empty() || AnsiToWide(WideToAnsi(dir)) != dir) {
    n = GetTempPathW(MAX_PATH * 2, buf);
    dir = n > 0 && n < MAX_PATH * 2 ? WideString(buf, n) : WideString();
  }
  if (!dir.empty() && dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
  wchar_t tmp[64];
  swprintf(tmp, 64, L"~mp3%08lx%08lx.tmp", GetCurrentThreadId(), GetTickCount());
  WideString temp = dir + tmp;
  if (!MoveFileExW(Wide.c_str(), temp.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING)) return Fn(a);
  try {
    Fn(WideToAnsi(temp));
  } catch (...) {
    MoveFileExW(temp.c_str(), Wide.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING);
    throw;
  }
  MoveFileExW(temp.c_str(), Wide.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int32_t MP3BitRateKbps(TMP3BitRate Value) {
  int i = (int)Value;
  return i >= 0 && i < 16 ? Kbps[i] : 128;
}

TMP3Out::TMP3Out(TComponent* AOwner) : TAuTaggedFileOut(AOwner) {
  lame::Load();
  taglib::Load();
}

TMP3Out::~TMP3Out() { Shutdown(); }

std::vector<uint8_t> TMP3Out::BuildConfig(int Channels, int SampleRate) const {
  std::vector<uint8_t> r(lame::ConfigSize, 0);
  Put32(r, cfg::Kind, cfg::KindLame);
  Put32(r, cfg::Version, 1);
  Put32(r, cfg::Size, lame::ConfigSize);
  Put32(r, cfg::SampleRate, (uint32_t)SampleRate);
  Put32(r, cfg::ReSampleRate, 0);
  uint32_t mode = Channels == 1 ? (uint32_t)mmMono : FMode == mmDual ? (uint32_t)mmStereo : (uint32_t)FMode;
  Put32(r, cfg::Mode, mode);
  Put32(r, cfg::BitRate, (uint32_t)MP3BitRateKbps(FBitRate));
  Put32(r, cfg::MaxBitRate, (uint32_t)MP3BitRateKbps(FMaximumBitrate));
  Put32(r, cfg::Preset, 0);
  Put32(r, cfg::PrivateBit, 0);
  Put32(r, cfg::CRC, (uint32_t)FCRC);
  Put32(r, cfg::Copyright, (uint32_t)FCopyright);
  Put32(r, cfg::Original, (uint32_t)FOriginal);
  Put32(r, cfg::WriteVBRHeader, (uint32_t)FEnableVBR);
  Put32(r, cfg::EnableVBR, (uint32_t)FEnableVBR);
  Put32(r, cfg::VBRQuality, FEnableVBR ? (uint32_t)FVBRQuality : 0);
  Put32(r, cfg::AvgBitRate, (uint32_t)MP3BitRateKbps(FAverageBitrate));
  Put32(r, cfg::VBRMethod, FAverageBitrate != mbrAuto ? cfg::VBRMethodABR : cfg::VBRMethodDefault);
  Put32(r, cfg::NoRes, FEnableBitReservoir ? 0 : cfg::True);
  Put32(r, cfg::StrictIso, FStrictISO ? cfg::True : 0);
  return r;
}

std::string TMP3Out::BuildId3v1Block() const {
  std::string b(128, '\0');
  std::memcpy(&b[0], "TAG", 3);
  auto put = [&b](int At, const AnsiString& S) { std::memcpy(&b[At], S.data(), std::min<size_t>(30, S.size())); };
  put(3, FId3v1Tags->Title());
  put(33, FId3v1Tags->Artist());
  put(63, FId3v1Tags->Album());
  put(97, FId3v1Tags->Comment());
  const uint16_t year = FId3v1Tags->Year();
  const std::string y = std::to_string(year);
  if (year != 0 && y.size() == 4) std::memcpy(&b[93], y.data(), 4);
  // No genre chosen (the set's default) is 255, "none": 0 would name one.
  const TTagValue g = FId3v1Tags->GetValue("genre");
  const bool genreSet = std::holds_alternative<int32_t>(g) && std::get<int32_t>(g) != Id3v1DefaultGenre;
  b[127] = (char)(genreSet ? FId3v1Tags->GenreId() : 255);
  return b;
}

void TMP3Out::WriteOrFail(const void* Data, uint32_t Count) {
  if (Count == 0) return;
  if (Stream->Write(Data, (int32_t)Count) != (int32_t)Count) throw EAuException(ErrWrite);
}

void TMP3Out::TStreamClose::operator()(void* Stream) const {
  if (lame::Entries.beCloseStream) lame::Entries.beCloseStream(Stream);
}

void TMP3Out::Prepare() {
  FHandle.reset();
  FInputInited = false;
  FEndOfInput = false;
  FCreated = false;
  FNoAudio = false;
  FFramesIn = 0;
  if (!lame::Load()) throw EAuException(ErrLibrary);
  FCreated = OpenDestination(ErrNoName);
  TAuInput* in = Input();
  FInputInited = true;
  in->Init();
  FInBits = in->BitsPerSample();
  FInChannels = in->Channels();
  if (FInChannels < 1 || FInChannels > 2) throw EAuException(ErrChannels);
  if (FInBits != 8 && FInBits != 16 && FInBits != 24 && FInBits != 32) throw EAuException(ErrBits);
  // A stereo input in mono mode is mixed down: the encoder takes as many channels as its mode.
  FOutChannels = FInChannels == 2 && FMode == mmMono ? 1 : FInChannels;
  std::vector<uint8_t> config = BuildConfig(FOutChannels, in->SampleRate());
  uint32_t samples = 0, outSize = 0;
  void* handle = nullptr;
  uint32_t c = LAME_CALL(beInitStream)(config.data(), &samples, &outSize, &handle);
  if (c != 0) {
    CloseDestination();
    FInputInited = false;
    in->Flush();
    throw EAuException(ErrLame + std::to_string(c));
  }
  FHandle.reset(handle);
  FChunkValues = samples - samples % (uint32_t)FOutChannels;
  if (FChunkValues == 0) FChunkValues = 1152u * (uint32_t)FOutChannels;
  const uint32_t frames = FChunkValues / (uint32_t)FOutChannels;
  FRaw.assign((size_t)frames * FInChannels * (FInBits / 8), 0);
  FPcm.assign(FChunkValues, 0);
  FOut.assign(std::max<uint32_t>(outSize, 7200 + FChunkValues * 5 / 4), 0);
}

bool TMP3Out::DoOutput(bool Abort) {
  if (!FActive) return true;
  if (Abort || FEndOfInput) return false;
  bool eof = false;
  uint32_t n = Input()->FillBuffer(FRaw.data(), (uint32_t)FRaw.size(), eof);
  if (eof) FEndOfInput = true;
  const uint32_t inFrame = (uint32_t)FInChannels * (uint32_t)FInBits / 8;
  const uint32_t frames = n / inFrame;
  if (frames == 0) return false;
  FFramesIn += frames;
  // To 16 bits (the top bits of deeper samples), mixed down when asked for mono.
  const uint8_t* p = FRaw.data();
  int16_t* d = FPcm.data();
  const uint32_t values = frames * (uint32_t)FInChannels;
  const int bytes = FInBits / 8;
  auto sample = [&](uint32_t i) -> int32_t {
    const uint8_t* q = p + (size_t)i * bytes;
    switch (bytes) {
      case 1: return ((int32_t)q[0] - 128) << 8;
      case 2: return (int16_t)(q[0] | (q[1] << 8));
      case 3: return (int16_t)(q[1] | (q[2] << 8));
      default: return (int16_t)(q[2] | (q[3] << 8));
    }
  };
  if (FOutChannels == FInChannels) {
    if (bytes == 2)
      std::memcpy(d, p, (size_t)values * 2);
    else
      for (uint32_t i = 0; i < values; ++i) d[i] = (int16_t)sample(i);
  } else {
    for (uint32_t f = 0; f < frames; ++f) d[f] = (int16_t)((sample(2 * f) + sample(2 * f + 1)) >> 1);
  }
  uint32_t outBytes = 0;
  uint32_t e = LAME_CALL(beEncodeChunk)(FHandle.get(), frames * (uint32_t)FOutChannels, d, FOut.data(), &outBytes);
  if (e != 0) throw EAuException(ErrLame + std::to_string(e));
  WriteOrFail(FOut.data(), std::min<uint32_t>(outBytes, (uint32_t)FOut.size()));
  return !FEndOfInput;
}

void TMP3Out::WriteTags(const AnsiString& FileName) {
  TAGLIB_CALL(taglib_id3v2_set_default_text_encoding)(TagLib_ID3v2_UTF16);
  TagLib_File* f = TAGLIB_CALL(taglib_file_new)(FileName.c_str());
  if (!f) throw EAuException(ErrTagsInvalid);
  struct Guard {
    TagLib_File* F;
    ~Guard() {
      if (taglib::Entries.taglib_file_free) taglib::Entries.taglib_file_free(F);
    }
  } guard{f};
  if (!TAGLIB_CALL(taglib_file_is_valid)(f)) throw EAuException(ErrTagsInvalid);
  TagLib_Tag* tag = TAGLIB_CALL(taglib_file_tag)(f);
  if (!tag) throw EAuException(ErrTagsInvalid);
  // Only values that are there: the library sets every tag of the file, so an empty ID3v2 value
  // would also erase the ID3v1 block's.
  auto set = [](void (*Setter)(TagLib_Tag*, const char*), TagLib_Tag* Tag, const WideString& Value) {
    if (!Value.empty()) Setter(Tag, TagWideToUtf8(Value).c_str());
  };
  set(TAGLIB_CALL(taglib_tag_set_title), tag, FId3v2Tags->Title());
  set(TAGLIB_CALL(taglib_tag_set_artist), tag, FId3v2Tags->Artist());
  set(TAGLIB_CALL(taglib_tag_set_album), tag, FId3v2Tags->Album());
  set(TAGLIB_CALL(taglib_tag_set_genre), tag, FId3v2Tags->Genre());
  if (!FId3v2Tags->Year().empty()) TAGLIB_CALL(taglib_tag_set_year)(tag, (unsigned)StrToInt(FId3v2Tags->Year()));
  if (!FId3v2Tags->Track().empty()) TAGLIB_CALL(taglib_tag_set_track)(tag, (unsigned)StrToInt(FId3v2Tags->Track()));
  if (!TAGLIB_CALL(taglib_file_save)(f)) throw EAuException(ErrTagsSave);
}

void TMP3Out::DropFailedFile(bool Prepared) {
  // A run that failed before any audio, or had none, leaves no file of its own behind.
  if ((!Prepared || FNoAudio) && FCreated && !StreamAssigned && !Stream) DeleteFileW(FWideFileName.c_str());
  FCreated = false;
}

void TMP3Out::Done() {
  TAuInput* in = Input();
  const bool prepared = Prepared();
  try {
    try {
      // The encoder gives no frame for no audio, and a file without a frame is no MP3 file that
      // a reader takes (tags alone): such a run fails and its file goes.
      if (prepared && FFramesIn == 0) {
        FNoAudio = true;
        throw EAuException(ErrNoAudio);
      }
      if (FHandle && Stream) {
        uint32_t outBytes = 0;
        uint32_t e = LAME_CALL(beDeinitStream)(FHandle.get(), FOut.data(), &outBytes);
        if (e != 0) throw EAuException(ErrLame + std::to_string(e));
        WriteOrFail(FOut.data(), std::min<uint32_t>(outBytes, (uint32_t)FOut.size()));
        if (!FId3v1Tags->Empty()) {
          std::string block = BuildId3v1Block();
          WriteOrFail(block.data(), (uint32_t)block.size());
        }
      }
    } catch (...) {
      CloseDestination();
      FHandle.reset();
      throw;
    }
    CloseDestination();
    FHandle.reset();
    DropFailedFile(prepared);
    FRaw = std::vector<uint8_t>();
    FPcm = std::vector<int16_t>();
    FOut = std::vector<uint8_t>();
    if (prepared && !FWideFileName.empty() && !StreamAssigned) {
      const bool vbr = FEnableVBR != 0;
      const bool tags = taglib::Loaded();
      if (vbr || tags) {
        WithAnsiName(FWideFileName, [&](const AnsiString& Name) {
          if (vbr) LAME_CALL(beWriteVBRHeader)(Name.c_str());
          if (tags) WriteTags(Name);
        });
      }
    }
  } catch (...) {
    DropFailedFile(prepared);
    try {
      if (FInputInited && in) {
        FInputInited = false;
        in->Flush();
      }
    } catch (...) {
    }
    ReportOrRaiseDoneFailure(this);
    return;
  }
  if (FInputInited && in) {
    FInputInited = false;
    in->Flush();
  }
}
