#include "audio/formats/mac/AuMAC.h"

#include <algorithm>
#include <cstring>

#include "classlib/WinApi.h"

namespace {
// The unit's messages.
const char* const MsgLibMissing = "MACDll.dll library could not be loaded.";
const char* const MsgNoFileName = "File name is not assigned.";
const char* const MsgNotOpened = "The Stream is not opened";
const char* const MsgStartError = "Error starting APECompress.\r\n";
const char* const MsgUnlockError = "APECompress.UnlockBuffer Error: ";
const char* const MsgNoBuffer = "APECompress.LockBuffer gave no buffer";

// A fixed-width text field of the 128-byte record, without trailing zeros and blanks.
AnsiString Field(const char* P, size_t N) {
  AnsiString s(P, strnlen(P, N));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

bool FitsCodePage(const WideString& S) { return AnsiToWide(WideToAnsi(S)) == S; }

// An 8-bit name for a file that will be renamed to Target: beside it under the folder's short
// name when that fits the code page, else in the temporary folder. Empty when none fits.
AnsiString EightBitStandIn(const WideString& Target) {
  size_t slash = Target.find_last_of(L"\\/");
  WideString folder = slash == WideString::npos ? WideString(L".") : Target.substr(0, slash);
  wchar_t shortName[MAX_PATH + 1];
  DWORD n = GetShortPathNameW(folder.c_str(), shortName, MAX_PATH);
  wchar_t temp[MAX_PATH + 1];
  if (n > 0 && n < MAX_PATH && FitsCodePage(shortName) && GetTempFileNameW(shortName, L"sma", 0, temp) &&
      FitsCodePage(temp))
    return WideToAnsi(temp);
  wchar_t tempDir[MAX_PATH + 1];
  n = GetTempPathW(MAX_PATH, tempDir);
  if (n > 0 && n < MAX_PATH && GetTempFileNameW(tempDir, L"sma", 0, temp) && FitsCodePage(temp)) return WideToAnsi(temp);
  return AnsiString();
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// TMACIn

TMACIn::TMACIn(TComponent* AOwner) : TAuTaggedFileIn(AOwner) {}

TMACIn::~TMACIn() { CloseForDestruction(); }

int TMACIn::GetBitRate() { return FDecompress ? FDecompress->Info(MAC_INFO_CURRENT_BITRATE) : 0; }

int TMACIn::GetTotalTime() {
  OpenFile();
  return FDecompress ? FDecompress->Info(MAC_INFO_LENGTH_MS) / 1000 : 0;
}

void TMACIn::LoadDecoderLibrary() {
  if (!LoadMACDll()) throw EAuException(MsgLibMissing);
}

bool TMACIn::OpenFailed() {
  FDecompress.reset();
  FValid = false;
  FSize = 0;
  return false;
}

bool TMACIn::OpenDecoder() {
  FValid = true;
  FAPEv2Tags->Clear();
  // A file without tags shows none (not those of the file opened before).
  FCommonTags->Clear();
  mac_id3_record r{};
  const TMACEntries& lib = MACDll();
  if (lib.GetID3Tag && lib.GetID3Tag(FFileName.c_str(), &r) == 0) {
    const AnsiString album = Field(r.album, 30), artist = Field(r.artist, 30), title = Field(r.title, 30);
    const AnsiString year = Field(r.year, 4);
    FAPEv2Tags->SetAlbum(AnsiToWide(album));
    FCommonTags->SetAlbum(AnsiToWide(album));
    FAPEv2Tags->SetArtist(AnsiToWide(artist));
    FCommonTags->SetArtist(AnsiToWide(artist));
    FAPEv2Tags->SetTitle(AnsiToWide(title));
    FCommonTags->SetTitle(AnsiToWide(title));
    FAPEv2Tags->SetYear(year);
    FCommonTags->SetYear(year);
    FAPEv2Tags->SetComment(AnsiToWide(Field(r.comment, 30)));
    FCommonTags->SetGenre(L"");
    // The version 1.1 layout: a zero before the last byte of the comment, which is the track.
    const uint8_t* c = reinterpret_cast<const uint8_t*>(r.comment);
    AnsiString track = c[28] == 0 && c[29] != 0 ? std::to_string(c[29]) : AnsiString();
    FAPEv2Tags->SetTrack(track);
    FCommonTags->SetTrack(track);
  }
  FDecompress = std::make_unique<TAPEDecompress>(FWideFileName);  // raises the library's errors
  if (FDecompress->Handle()) {
    FSize = FDecompress->Info(MAC_INFO_DECOMPRESSED_BYTES);
    FSR = FDecompress->Info(MAC_INFO_SAMPLE_RATE);
    FBPS = FDecompress->Info(MAC_INFO_BITS_PER_SAMPLE);
    FChan = FDecompress->Info(MAC_INFO_CHANNELS);
    Seekable = true;
    // Formats the engine cannot carry are not valid.
    if (FSR <= 0 || FChan <= 0 || FChan > 8 || FBPS <= 0 || FBPS % 8 != 0 || FBPS > 32 || FSize < 0) {
      FDecompress.reset();
      FValid = false;
      FSize = 0;
      return false;
    }
  } else {
    FDecompress.reset();
    FValid = false;
    FSize = 0;
    return false;
  }
  return true;
}

void TMACIn::CloseDecoder() { FDecompress.reset(); }

void TMACIn::InitInternal() {
  TAuTaggedFileIn::InitInternal();
  FReadPos = 1;
  FFill = 0;
  FDataEnded = false;
}

bool TMACIn::SeekInternal(int64_t& SampleNum) {
  if (!FDecompress || SampleNum < 0 || SampleNum > INT32_MAX) return false;
  FDecompress->Seek((int32_t)SampleNum);
  // Decoded bytes from before the seek are dropped; the data goes on from the new block.
  FReadPos = 1;
  FFill = 0;
  FDataEnded = false;
  return true;
}

void TMACIn::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!FBusy) throw EAuException(MsgNotOpened);
  Buffer = nullptr;
  if (!FDecompress || FrameSize == 0) {
    Bytes = 0;
    return;
  }
  const uint32_t frame = FrameSize;
  if (FBuffer.size() != DecodeBufferSize) FBuffer.assign(DecodeBufferSize, 0);
  if (FReadPos > FFill) {
    const uint32_t chunk = DecodeBufferSize - DecodeBufferSize % frame;
    FReadPos = 1;
    FFill = 0;
    while (!FDataEnded && FFill < chunk) {
      int32_t got = 0;
      int32_t blocks = (int32_t)((DecodeBufferSize - FFill) / frame);
      if (blocks <= 0) break;
      FDecompress->GetData(FBuffer.data() + FFill, blocks, got);
      if (got <= 0) {
        FDataEnded = true;
        break;
      }
      FFill += (uint32_t)std::min(got, blocks) * frame;
    }
  }
  const uint32_t left = FFill >= FReadPos ? FFill - FReadPos + 1 : 0;
  // Whole frames; a pull smaller than a frame gets its bytes (the rest follows next time).
  uint32_t n = Bytes >= frame ? Bytes - Bytes % frame : Bytes;
  n = std::min(n, left);
  Bytes = n;
  if (n == 0) return;
  Buffer = FBuffer.data() + FReadPos - 1;
  FReadPos += n;
}

// ---------------------------------------------------------------------------------------------
// TMACOut

TMACOut::TMACOut(TComponent* AOwner) : TAuTaggedFileOut(AOwner) {}

TMACOut::~TMACOut() { Shutdown(); }

void TMACOut::SetCompressionLevel(int32_t Value) {
  switch (Value) {
    case 1000: case 2000: case 3000: case 4000: case 5000: FCompressionLevel = Value; break;
    default: FCompressionLevel = 2000; break;
  }
}

void TMACOut::Prepare() {
  FCompress.reset();
  FEndOfInput = false;
  FInputInited = false;
  FRenameAtEnd = false;
  if (!LoadMACDll()) throw EAuException(MsgLibMissing);
  if (FWideFileName.empty()) throw EAuException(MsgNoFileName);
  TAuInput* in = Input();
  FInputInited = true;
  in->Init();
  FEndOfInput = false;
  FCompress = std::make_unique<TAPECompress>();
  const TMACEntries& lib = MACDll();
  if (!lib.FillWaveFormatEx) throw EAPEException(AnsiString("Function \"FillWaveFormatEx\" not found in MAC library!"));
  lib.FillWaveFormatEx(&FFormat, in->SampleRate(), in->BitsPerSample(), in->Channels());
  FLibFileName = FFileName;
  if (!FitsCodePage(FWideFileName)) {
    AnsiString standIn = EightBitStandIn(FWideFileName);
    if (!standIn.empty()) {
      FLibFileName = standIn;
      FRenameAtEnd = true;
    }
  }
  int32_t r = FCompress->Start(FLibFileName, &FFormat, FMaxAudioBytes, FCompressionLevel);
  if (r != 0) throw EAuException(MsgStartError + EAPEException::CodeText(r));
  FTransfer.resize(TransferSize);
}

bool TMACOut::DoOutput(bool Abort) {
  if (!FActive) return true;
  if (Abort || FEndOfInput) return false;
  TAuInput* in = Input();
  const uint32_t frame = (uint32_t)std::max(1, in->Channels() * in->BitsPerSample() / 8);
  const uint32_t chunk = TransferSize - TransferSize % frame;
  uint32_t filled = 0;
  while (filled < chunk) {
    uint32_t n = in->CopyData(FTransfer.data() + filled, chunk - filled);
    if (n == 0) {
      FEndOfInput = true;
      break;
    }
    filled += n;
  }
  if (filled == 0) return true;
  uint32_t done = 0;
  while (done < filled) {
    int32_t available = 0;
    unsigned char* p = FCompress->LockBuffer(available);
    if (!p || available <= 0) throw EAuException(MsgNoBuffer);
    uint32_t n = std::min<uint32_t>((uint32_t)available, filled - done);
    std::memcpy(p, FTransfer.data() + done, n);
    int32_t r = FCompress->UnlockBuffer((int32_t)n);
    if (r != 0) throw EAuException(MsgUnlockError + std::to_string(r));
    done += n;
  }
  return true;
}

void TMACOut::Done() {
  const bool started = Prepared();
  if (FCompress) {
    try {
      if (started) FCompress->Finish();
    } catch (...) {
    }
    FCompress.reset();
  }
  TAuInput* in = Input();
  if (FInputInited && in) {
    FInputInited = false;
    try {
      in->Flush();
    } catch (...) {
    }
  }
  if (!started) {
    if (FRenameAtEnd) DeleteFileA(FLibFileName.c_str());
    FRenameAtEnd = false;
    return;
  }
  const TMACEntries& lib = MACDll();
  if (!FAPEv2Tags->Empty() && lib.TagFileSimple) {
    auto u = [&](const char* name) { return TagWideToUtf8(FAPEv2Tags->AsWideString(name)); };
    const std::string artist = u("Artist"), album = u("Album"), title = u("Title"), comment = u("Comment"),
                      genre = u("Genre"), year = u("Year"), track = u("Track");
    lib.TagFileSimple(FLibFileName.c_str(), artist.c_str(), album.c_str(), title.c_str(), comment.c_str(),
                      genre.c_str(), year.c_str(), track.c_str(), 1, 0);
  }
  if (FRenameAtEnd) {
    FRenameAtEnd = false;
    WideString from = AnsiToWide(FLibFileName);
    if (!MoveFileExW(from.c_str(), FWideFileName.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
      DeleteFileW(from.c_str());
      throw EAuException(SysErrorMessage(GetLastError()));
    }
  }
}
