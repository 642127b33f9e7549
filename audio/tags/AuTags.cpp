#include "audio/tags/AuTags.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "classlib/WinApi.h"

#include "audio/engine/AuBinary.h"
#include "classlib/Handles.h"

// ---------------------------------------------------------------------------------------------
// Text helpers

WideString TagUtf8ToWide(const std::string& S) {
  if (S.empty()) return WideString();
  int n = MultiByteToWideChar(CP_UTF8, 0, S.data(), (int)S.size(), nullptr, 0);
  if (n <= 0) return WideString();
  WideString W((size_t)n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, S.data(), (int)S.size(), W.data(), n);
  return W;
}

std::string TagWideToUtf8(const WideString& S) {
  if (S.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, S.data(), (int)S.size(), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string R((size_t)n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, S.data(), (int)S.size(), R.data(), n, nullptr, nullptr);
  return R;
}

namespace {

int CompareNames(const AnsiString& A, const AnsiString& B) { return CompareText(A, B); }

// A whole decimal integer with an optional sign; false when it does not parse or overflows.
bool ParseDecimal(const std::wstring& S, int32_t& Out) {
  size_t i = 0;
  bool neg = false;
  if (i < S.size() && (S[i] == L'+' || S[i] == L'-')) neg = S[i++] == L'-';
  if (i >= S.size()) return false;
  int64_t v = 0;
  for (; i < S.size(); ++i) {
    if (S[i] < L'0' || S[i] > L'9') return false;
    v = v * 10 + (S[i] - L'0');
    if (v > 2147483648LL) return false;
  }
  if (neg) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return false;
  Out = (int32_t)v;
  return true;
}

bool IsText(const TTagValue& V) {
  return std::holds_alternative<AnsiString>(V) || std::holds_alternative<WideString>(V);
}

WideString TextAsWide(const TTagValue& V) {
  if (auto* a = std::get_if<AnsiString>(&V)) return AnsiToWide(*a);
  if (auto* w = std::get_if<WideString>(&V)) return *w;
  return WideString();
}

// File position helpers over a Win32 handle.
bool GetPos(HANDLE H, int64_t& Pos) {
  LARGE_INTEGER zero{}, cur{};
  if (!SetFilePointerEx(H, zero, &cur, FILE_CURRENT)) return false;
  Pos = cur.QuadPart;
  return true;
}

bool SetPos(HANDLE H, int64_t Pos, DWORD Method = FILE_BEGIN) {
  LARGE_INTEGER to{};
  to.QuadPart = Pos;
  return SetFilePointerEx(H, to, nullptr, Method) != 0;
}

bool GetSize(HANDLE H, int64_t& Size) {
  LARGE_INTEGER s{};
  if (!GetFileSizeEx(H, &s)) return false;
  Size = s.QuadPart;
  return true;
}

bool ReadHandleExact(HANDLE H, void* Buf, uint32_t Count) {
  DWORD got = 0;
  return ReadFile(H, Buf, Count, &got, nullptr) && got == Count;
}

bool WriteExact(HANDLE H, const void* Buf, uint32_t Count) {
  DWORD put = 0;
  return WriteFile(H, Buf, Count, &put, nullptr) && put == Count;
}

// Trims every character whose code is 32 or less at both ends.
AnsiString TrimLow(const char* P, size_t N) {
  size_t b = 0, e = N;
  while (b < e && (unsigned char)P[b] <= 32) ++b;
  while (e > b && (unsigned char)P[e - 1] <= 32) --e;
  return AnsiString(P + b, e - b);
}

}  // namespace

bool TagValuesSame(const TTagValue& A, const TTagValue& B) {
  if (std::holds_alternative<std::monostate>(A) || std::holds_alternative<std::monostate>(B))
    return A.index() == B.index();
  if (std::holds_alternative<int32_t>(A) || std::holds_alternative<int32_t>(B))
    return A.index() == B.index() && std::get<int32_t>(A) == std::get<int32_t>(B);
  if (A.index() == B.index()) return A == B;
  return TextAsWide(A) == TextAsWide(B);
}

// ---------------------------------------------------------------------------------------------
// TAuTags

TAuTags::TAuTags() = default;

TAuTags::~TAuTags() = default;

int TAuTags::Find(const AnsiString& Name, bool& Found) const {
  int lo = 0, hi = (int)FNames.size();
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    int c = CompareNames(FNames[mid].Name, Name);
    if (c == 0) {
      Found = true;
      return mid;
    }
    if (c < 0) lo = mid + 1; else hi = mid;
  }
  Found = false;
  return lo;
}

void TAuTags::AddTag(const AnsiString& Name, const TTagValue& Default) {
  if (Name.empty()) return;
  bool found;
  int i = Find(Name, found);
  if (found) return;
  FNames.insert(FNames.begin() + i, Entry{Name, std::make_unique<TTagValueInfo>(TTagValueInfo{Default})});
}

AnsiString TAuTags::Names(int Index) const {
  if (Index < 0 || Index >= Count()) return AnsiString();
  return FNames[Index].Name;
}

TTagValue TAuTags::GetValue(const AnsiString& Name) const {
  bool found;
  int i = Find(Name, found);
  return found ? FNames[i].Info->Value : TTagValue();
}

void TAuTags::SetValue(const AnsiString& Name, const TTagValue& Value) {
  bool found;
  int i = Find(Name, found);
  if (!found || TagValuesSame(FNames[i].Info->Value, Value)) return;
  FNames[i].Info->Value = Value;
  FEmpty = false;
}

void TAuTags::Clear() {
  for (auto& e : FNames) e.Info->Value = TTagValue();
  FEmpty = true;
}

int32_t TAuTags::AsInteger(const AnsiString& Name) const {
  TTagValue v = GetValue(Name);
  if (auto* i = std::get_if<int32_t>(&v)) return *i;
  if (IsText(v)) {
    int32_t r;
    return ParseDecimal(TextAsWide(v), r) ? r : 0;
  }
  return 0;
}

AnsiString TAuTags::AsString(const AnsiString& Name) const {
  TTagValue v = GetValue(Name);
  if (auto* a = std::get_if<AnsiString>(&v)) return *a;
  if (auto* w = std::get_if<WideString>(&v)) return WideToAnsi(*w);
  if (auto* i = std::get_if<int32_t>(&v)) return IntToStr(*i);
  return AnsiString();
}

WideString TAuTags::AsWideString(const AnsiString& Name) const {
  TTagValue v = GetValue(Name);
  if (IsText(v)) return TextAsWide(v);
  if (auto* i = std::get_if<int32_t>(&v)) return IntToWStr(*i);
  return WideString();
}

void TAuTags::Assign(TPersistent* Source) {
  if (auto* src = dynamic_cast<TAuTags*>(Source)) {
    if (src == this) return;
    Clear();
    for (const auto& e : src->FNames) SetValue(e.Name, e.Info->Value);
    return;
  }
  TPersistent::Assign(Source);
}

void TAuTags::AssignTo(TPersistent* Dest) {
  if (auto* dst = dynamic_cast<TAuTags*>(Dest)) {
    dst->Assign(this);
    return;
  }
  TPersistent::AssignTo(Dest);
}

bool TAuTags::IsPresent(void* FileHandle) { return FileHandle != INVALID_HANDLE_VALUE; }

bool TAuTags::ReadFromFile(void* FileHandle) {
  if (FileHandle == INVALID_HANDLE_VALUE) return false;
  Clear();
  return true;
}

bool TAuTags::WriteToFile(void* FileHandle, bool Unicode) { return FileHandle != INVALID_HANDLE_VALUE; }

// ---------------------------------------------------------------------------------------------
// TCommonTags

TCommonTags::TCommonTags() {
  for (const char* n : {"Title", "Album", "Artist", "Genre", "Year", "Track"}) AddTag(n, AnsiString());
}

// ---------------------------------------------------------------------------------------------
// ID3v1

const char* const Id3v1Genres[Id3v1GenreCount] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno",
    "Industrial", "Alternative", "Ska", "Death metal", "Pranks", "Soundtrack", "Euro-Techno",
    "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental",
    "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "Alt. Rock", "Bass", "Soul", "Punk",
    "Space", "Meditative", "Instrumental pop", "Instrumental rock", "Ethnic", "Gothic", "Darkwave",
    "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy",
    "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American",
    "Cabaret", "New Wave", "Psychedelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal",
    "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk",
    "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic",
    "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock",
    "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour",
    "Speech", "Chanson", "Opera", "Chamber music", "Sonata", "Symphony", "Booty Bass", "Primus",
    "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad",
    "Power Ballad", "Rhythmic soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A Cappella",
    "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie",
    "BritPop", "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal",
    "Black Metal", "Crossover", "Contemporary Christian", "Christian Rock", "Merengue", "Salsa",
    "Thrash Metal", "Anime", "JPop", "Synthpop"};

TId3v1Tags::TId3v1Tags() {
  AddTag("artist", TTagValue());
  AddTag("album", TTagValue());
  AddTag("genre", (int32_t)Id3v1DefaultGenre);
  AddTag("year", TTagValue());
  AddTag("track", TTagValue());
  AddTag("title", TTagValue());
  AddTag("comment", TTagValue());
}

AnsiString TId3v1Tags::Artist() const {
  TTagValue v = GetValue("artist");
  if (auto* a = std::get_if<AnsiString>(&v)) return *a;
  if (auto* w = std::get_if<WideString>(&v)) return WideToAnsi(*w);
  return AnsiString();
}

TId3v1TagsGenreId TId3v1Tags::GenreId() const {
  int32_t g = AsInteger("genre");
  return (g < 0 || g >= Id3v1GenreCount) ? Id3v1DefaultGenre : (TId3v1TagsGenreId)g;
}

void TId3v1Tags::SetGenre(const AnsiString& V) {
  for (int i = 0; i < Id3v1GenreCount; ++i)
    if (SameText(V, Id3v1Genres[i])) {
      SetGenreId(i);
      return;
    }
}

namespace {
// The last 128 bytes of the file; false when the file is shorter or cannot be read.
bool ReadLastBlock(HANDLE H, unsigned char (&Block)[128]) {
  int64_t size;
  if (!GetSize(H, size) || size < 128) return false;
  if (!SetPos(H, size - 128)) return false;
  return ReadHandleExact(H, Block, 128);
}
}  // namespace

bool TId3v1Tags::IsPresent(void* FileHandle) {
  if (!TAuTags::IsPresent(FileHandle)) return false;
  int64_t pos;
  if (!GetPos(FileHandle, pos)) return false;
  unsigned char block[128];
  bool ok = ReadLastBlock(FileHandle, block) && memcmp(block, "TAG", 3) == 0;
  SetPos(FileHandle, pos);
  return ok;
}

bool TId3v1Tags::ReadFromFile(void* FileHandle) {
  if (!TAuTags::ReadFromFile(FileHandle)) return false;
  unsigned char b[128];
  bool ok = ReadLastBlock(FileHandle, b) && memcmp(b, "TAG", 3) == 0;
  SetPos(FileHandle, 0, FILE_END);
  if (!ok) return false;
  TByteReader r(b, 128);
  r.Skip(3);  // "TAG"
  auto field = [&](size_t Width) { return TrimLow(reinterpret_cast<const char*>(r.Take(Width)), Width); };
  SetTitle(field(30));
  SetArtist(field(30));
  SetAlbum(field(30));
  int32_t year;
  SetValue("year", ParseDecimal(AnsiToWide(field(4)), year) ? year : 0);
  // Version 1.1: a zero (or a blank) before a non-zero last byte of the comment makes that byte
  // the track number.
  const uint8_t* comment = r.Take(30);
  if ((comment[28] == 0 && comment[29] != 0) || (comment[28] == 32 && comment[29] != 32)) {
    SetComment(TrimLow(reinterpret_cast<const char*>(comment), 28));
    SetValue("track", (int32_t)comment[29]);
  } else {
    SetComment(TrimLow(reinterpret_cast<const char*>(comment), 30));
    SetValue("track", 0);
  }
  SetValue("genre", (int32_t)r.U8());
  return true;
}

bool TId3v1Tags::WriteToFile(void* FileHandle, bool Unicode) {
  if (!TAuTags::WriteToFile(FileHandle, Unicode)) return false;
  if (!SetPos(FileHandle, 0, FILE_END)) return false;
  TByteWriter w;
  w.Bytes("TAG", 3);
  w.Fixed(Title(), 30);
  w.Fixed(Artist(), 30);
  w.Fixed(Album(), 30);
  w.Fixed(IntToStr(Year()), 4);
  if (Track() == 0) {
    w.Fixed(Comment(), 30);
  } else {
    w.Fixed(Comment(), 28);
    w.U8(0);
    w.U8(Track());
  }
  w.U8(GenreId());
  return WriteExact(FileHandle, w.Bytes(), (uint32_t)w.Size());
}

// ---------------------------------------------------------------------------------------------
// ID3v2

const char* const Id3v2FrameIds[2][Id3v2ColumnCount] = {
    {"TAL", "TP1", "TCO", "TT2", "TRK", "TYE", "COM", "TCM", "TEN", "TCR", "TLA", "WXX"},
    {"TALB", "TPE1", "TCON", "TIT2", "TRCK", "TYER", "COMM", "TCOM", "TENC", "TCOP", "TLAN", "WXXX"}};

TId3v2Tags::TId3v2Tags() {
  for (int row = 0; row < 2; ++row)
    for (int col = 0; col < Id3v2ColumnCount; ++col) AddTag(Id3v2FrameIds[row][col], TTagValue());
}

namespace {

struct Id3v2Header {
  uint8_t Version = 0;
  uint8_t Flags = 0;
  uint32_t Size = 0;  // syncsafe size: the tag without its header (and footer)
};

// Reads and checks a header at the current position (the position moves past what was read).
bool ReadId3v2Header(HANDLE H, Id3v2Header& Hd) {
  unsigned char b[10];
  if (!ReadHandleExact(H, b, 10)) return false;
  TByteReader r(b, 10);
  if (r.Text(3) != "ID3") return false;
  const uint8_t v = r.U8(), revision = r.U8(), f = r.U8();
  if (revision == 255) return false;
  if (!((v == 2 && (f & 0x3F) == 0) || (v == 3 && (f & 0x1F) == 0) || (v == 4 && (f & 0x0F) == 0)))
    return false;
  if ((b[6] | b[7] | b[8] | b[9]) & 0x80) return false;
  Hd.Version = v;
  Hd.Flags = f;
  Hd.Size = r.Syncsafe32();
  return r.Ok();
}

}  // namespace

bool TId3v2Tags::IsPresent(void* FileHandle) {
  if (!TAuTags::IsPresent(FileHandle)) return false;
  int64_t pos;
  if (!GetPos(FileHandle, pos)) return false;
  Id3v2Header hd;
  bool ok = ReadId3v2Header(FileHandle, hd);
  SetPos(FileHandle, pos);
  return ok;
}

void TId3v2Tags::DecodeFrame(const char* FrameId, const std::vector<uint8_t>& Body) {
  int col = -1;
  for (int i = 0; i < Id3v2ColumnCount; ++i)
    if (strcmp(Id3v2FrameIds[FRow][i], FrameId) == 0) col = i;
  if (col < 0 || col == id3Comment || Body.empty()) return;
  const uint8_t* p = Body.data();
  const size_t n = Body.size();
  switch (p[0]) {
    case 0: {
      size_t e = 1;
      while (e < n && p[e] != 0) ++e;
      SetValue(FrameId, AnsiString((const char*)p + 1, e - 1));
      break;
    }
    case 1:
    case 2: {
      // UTF-16: little-endian for encoding 1 and big-endian for 2 unless a byte-order mark
      // says otherwise.
      bool bigEndian = p[0] == 2;
      size_t i = 1;
      if (n >= 3 && p[1] == 0xFF && p[2] == 0xFE) {
        bigEndian = false;
        i = 3;
      } else if (n >= 3 && p[1] == 0xFE && p[2] == 0xFF) {
        bigEndian = true;
        i = 3;
      }
      WideString w;
      for (; i + 1 < n; i += 2) {
        wchar_t u = (wchar_t)(bigEndian ? GetBE16(p + i) : GetLE16(p + i));
        if (u == 0) break;
        w.push_back(u);
      }
      SetValue(FrameId, w);
      break;
    }
    case 3: {
      size_t e = 1;
      while (e < n && p[e] != 0) ++e;
      SetValue(FrameId, TagUtf8ToWide(std::string((const char*)p + 1, e - 1)));
      break;
    }
    default:
      break;
  }
}

bool TId3v2Tags::ReadFromFile(void* FileHandle) {
  if (!TAuTags::ReadFromFile(FileHandle)) return false;
  HANDLE h = FileHandle;
  int64_t start;
  if (!GetPos(h, start)) return false;
  Id3v2Header hd;
  if (!ReadId3v2Header(h, hd)) {
    SetPos(h, start);
    return false;
  }
  FRow = hd.Version == 2 ? 0 : 1;
  const int64_t walk = start + 10;
  const int64_t end = walk + hd.Size + ((hd.Flags & 0x10) ? 10 : 0);
  const int64_t after = end;  // header position + tag size
  int64_t fileSize = 0;
  if (GetSize(h, fileSize) && fileSize >= end) {
    const int headerLen = hd.Version == 2 ? 6 : 10;
    int64_t pos = walk;
    std::vector<uint8_t> body;
    while (pos < end) {
      unsigned char fh[10];
      if (!ReadHandleExact(h, fh, headerLen)) break;
      pos += headerLen;
      if (fh[0] < 'A' || fh[0] > 'Z' || pos >= end) break;
      char id[5] = {};
      uint32_t size;
      if (hd.Version == 2) {
        memcpy(id, fh, 3);
        size = GetBE24(fh + 3);
      } else {
        memcpy(id, fh, 4);
        size = hd.Version == 3 ? GetBE32(fh + 4) : GetSyncsafe32(fh + 4);
      }
      if (size == 0) continue;
      // The body must lie inside the tag; checked before anything is allocated or read.
      if ((int64_t)size > end - pos) break;
      bool wanted = false;
      for (int i = 0; i < Id3v2ColumnCount; ++i)
        if (i != id3Comment && strcmp(Id3v2FrameIds[FRow][i], id) == 0) wanted = true;
      if (wanted) {
        // A text frame as large as the file itself may not fit in memory: the walk ends there.
        try {
          body.assign(size, 0);
          if (!ReadHandleExact(h, body.data(), size)) break;
          DecodeFrame(id, body);
        } catch (const std::bad_alloc&) {
          break;
        }
      } else if (!SetPos(h, pos + size)) {
        break;
      }
      pos += size;
    }
  }
  SetPos(h, after);
  return true;
}

bool TId3v2Tags::WriteToFile(void* FileHandle, bool Unicode) {
  if (!TAuTags::WriteToFile(FileHandle, Unicode)) return false;
  HANDLE h = FileHandle;
  std::string frames;
  for (int col = 0; col < Id3v2ColumnCount; ++col) {
    if (col == id3Comment) continue;
    const char* name = Id3v2FrameIds[FRow][col];
    TTagValue v = GetValue(name);
    std::string body;
    if (Unicode && std::holds_alternative<WideString>(v)) {
      body = TagWideToUtf8(std::get<WideString>(v));
      if (body.empty()) continue;
      body.insert(body.begin(), '\3');
    } else {
      body = AsString(name);
      if (body.empty()) continue;
      body.insert(body.begin(), '\0');
    }
    if (body.size() >= (1u << 28) || frames.size() + body.size() + 10 >= (1u << 28) - 32) return false;
    TByteWriter fh;
    fh.Id(Id3v2FrameIds[1][col]);
    fh.Syncsafe32((uint32_t)body.size());
    fh.Zeros(2);  // flags
    frames.append((const char*)fh.Bytes(), fh.Size());
    frames += body;
  }
  const uint32_t F = (uint32_t)frames.size();
  const uint32_t P = 16 - ((F + 10) % 16);
  const uint32_t total = 10 + F + P;
  TByteWriter hdr;
  hdr.Bytes("ID3", 3);
  hdr.U8(4);  // version 2.4.0, no flags
  hdr.U8(0);
  hdr.U8(0);
  hdr.Syncsafe32(F + P);

  int64_t oldSize;
  if (!GetSize(h, oldSize)) return false;
  if (!SetPos(h, oldSize + total) || !SetEndOfFile(h)) {
    // Nothing was moved yet: put the old end back in case the pointer moved.
    SetPos(h, oldSize);
    SetEndOfFile(h);
    return false;
  }
  bool ok = false, moved = false;
  const int64_t newSize = oldSize + total;
  if ((uint64_t)newSize <= SIZE_MAX) {
    TFileMapping map(h, PAGE_READWRITE, 0);
    if (map) {
      TMappedView mapped(map.Get(), FILE_MAP_WRITE, 0, 0);
      if (mapped) {
        auto* view = static_cast<unsigned char*>(mapped.Get());
        memmove(view + total, view, (size_t)oldSize);
        memcpy(view, hdr.Bytes(), 10);
        memcpy(view + 10, frames.data(), F);
        memset(view + 10 + F, 0, P);
        moved = true;
        ok = FlushViewOfFile(view, 0) != 0;
      }
    }
  }
  // Nothing was moved: shrink the file back so that it keeps its old contents (and an ID3v1
  // block stays the last 128 bytes).
  if (!moved) {
    SetPos(h, oldSize);
    SetEndOfFile(h);
  }
  return ok;
}

// ---------------------------------------------------------------------------------------------
// APEv2

TAPEv2Tags::TAPEv2Tags() {
  for (const char* n : {"Artist", "Composer", "Album", "Debut album", "Publisher", "Conductor",
                        "Copyright", "ISBN", "ISRC", "EAN/UPC", "LC", "Catalog", "Language", "Genre",
                        "Year", "Record Date", "Record Location", "File", "Related", "Abstract",
                        "Bibliography", "Track", "Title", "Subtitle", "Comment"})
    AddTag(n, TTagValue());
}

void ReadAPEv2Tags(TStream* Stream, TAPEv2Tags* Tags) {
  if (!Stream || !Tags) return;
  const int64_t size = Stream->Size();
  if (size < 32) return;
  unsigned char footer[32];
  if (Stream->Seek(-32, soEnd) != size - 32 || Stream->Read(footer, 32) != 32) return;
  TByteReader f(footer, 32);
  if (f.Text(8) != "APETAGEX" || f.LE32() != 2000) return;
  const uint32_t tagSize = f.LE32();
  uint32_t count = f.LE32();
  if (tagSize < 32 || tagSize > size) return;
  // Items lie between the start of the tag and the footer.
  const int64_t itemsEnd = size - 32;
  int64_t pos = size - tagSize;
  if (Stream->Seek(pos, soBeginning) != pos) return;
  for (; count > 0; --count) {
    unsigned char head[8];
    if (itemsEnd - pos < 8 || !ReadExact(Stream, head, 8)) return;
    pos += 8;
    const uint32_t valueSize = GetLE32(head);
    const uint32_t flags = GetLE32(head + 4);
    AnsiString key;
    for (;;) {
      char c;
      if (pos >= itemsEnd || Stream->Read(&c, 1) != 1) return;
      ++pos;
      if (c == 0) break;
      if (key.size() >= 255) return;
      key.push_back(c);
    }
    if (valueSize > itemsEnd - pos) return;
    std::string value(valueSize, '\0');
    if (valueSize && !ReadExact(Stream, value.data(), valueSize)) return;
    pos += valueSize;
    if ((flags & 6) != 0) continue;
    if (key == "Artist") Tags->SetArtist(TagUtf8ToWide(value));
    else if (key == "Album") Tags->SetAlbum(TagUtf8ToWide(value));
    else if (key == "Copyright") Tags->SetCopyright(TagUtf8ToWide(value));
    else if (key == "Genre") Tags->SetGenre(TagUtf8ToWide(value));
    else if (key == "Year") Tags->SetYear(WideToAnsi(TagUtf8ToWide(value)));
    else if (key == "Track") Tags->SetTrack(WideToAnsi(TagUtf8ToWide(value)));
    else if (key == "Title") Tags->SetTitle(TagUtf8ToWide(value));
  }
}

// ---------------------------------------------------------------------------------------------
// Vorbis comments

const char* const VorbisAlbum = "album";
const char* const VorbisArtist = "artist";
const char* const VorbisDate = "date";
const char* const VorbisGenre = "genre";
const char* const VorbisTitle = "title";
const char* const VorbisTrack = "tracknumber";
const char* const VorbisDisc = "discnumber";
const char* const VorbisReference = "replaygain_reference_loudness";
const char* const VorbisTrackGain = "replaygain_track_gain";
const char* const VorbisTrackPeak = "replaygain_track_peak";
const char* const VorbisAlbumGain = "replaygain_album_gain";
const char* const VorbisAlbumPeak = "replaygain_album_peak";

TVorbisTags::TVorbisTags() {
  for (const char* n : {VorbisAlbum, VorbisArtist, VorbisDate, VorbisGenre, VorbisTitle, VorbisTrack,
                        VorbisDisc, VorbisReference, VorbisTrackGain, VorbisTrackPeak, VorbisAlbumGain,
                        VorbisAlbumPeak})
    AddTag(n, TTagValue());
}

void SplitVorbisComment(const std::string& Comment, AnsiString& Name, WideString& Value) {
  const size_t eq = Comment.find('=');
  Name = Comment.substr(0, eq);
  if (!Name.empty()) CharLowerBuffA(Name.data(), (DWORD)Name.size());
  Value = eq == std::string::npos ? WideString() : TagUtf8ToWide(Comment.substr(eq + 1));
}

std::string MakeVorbisComment(const AnsiString& Name, const WideString& Value) {
  return Name + "=" + TagWideToUtf8(Value);
}

void TVorbisTags::AddComment(const std::string& Comment) {
  AnsiString name;
  WideString value;
  SplitVorbisComment(Comment, name, value);
  // Names match exactly once lower-cased.
  for (int i = 0; i < Count(); ++i)
    if (Names(i) == name) SetValue(name, value);
}

void TVorbisTags::CopyToCommonTags(TCommonTags* Dest) const {
  if (!Dest) return;
  Dest->Clear();
  Dest->SetArtist(Artist());
  Dest->SetAlbum(Album());
  Dest->SetTitle(Title());
  Dest->SetYear(WideToAnsi(Date()));
  Dest->SetTrack(WideToAnsi(Track()));
  Dest->SetGenre(Genre());
}
