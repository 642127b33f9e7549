// The tag model: case-insensitive dictionaries from a fixed set of tag names to values, and
// the ID3v1, ID3v2, APEv2 and Vorbis comment tag sets built on it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "classlib/Classes.h"

// A tag value: unassigned, an integer (8-, 16- and 32-bit values are all held as 32-bit),
// narrow text (the system's 8-bit code page) or wide text (UTF-16).
using TTagValue = std::variant<std::monostate, int32_t, AnsiString, WideString>;

// "Same value": unassigned equals only unassigned; integers compare as integers; narrow and
// wide text compare as wide text (narrow converted through the system code page); an integer
// never equals a text.
bool TagValuesSame(const TTagValue& A, const TTagValue& B);

// The heap record that holds the value of one tag name.
struct TTagValueInfo {
  TTagValue Value;
};

// Threads (every method of the tag classes): one thread at a time, the one that owns the set
// (an input fills its tags while it opens its file, on the thread that opens it); the file
// hooks wait for their reads and writes of the file.
class TAuTags : public TPersistent {
 public:
  TAuTags();
  ~TAuTags() override;
  const char* ClassName() const override { return "TAuTags"; }

  // From another tag set: clears this set, then copies the values whose names both sets have.
  void Assign(TPersistent* Source) override;

  // File hooks over an open file handle (INVALID_HANDLE_VALUE is all bits set).
  virtual bool IsPresent(void* FileHandle);
  virtual bool ReadFromFile(void* FileHandle);
  virtual bool WriteToFile(void* FileHandle, bool Unicode);

  int Count() const { return (int)FNames.size(); }
  // The name at a position of the sorted list; empty outside 0..Count-1.
  AnsiString Names(int Index) const;
  TTagValue GetValue(const AnsiString& Name) const;
  // Replaces the value when the name exists and the value is not the same; then Empty is false.
  void SetValue(const AnsiString& Name, const TTagValue& Value);
  void Clear();
  int32_t AsInteger(const AnsiString& Name) const;
  AnsiString AsString(const AnsiString& Name) const;
  WideString AsWideString(const AnsiString& Name) const;
  bool Empty() const { return FEmpty; }

 protected:
  void AssignTo(TPersistent* Dest) override;
  // For constructors: adds a name with its default value; an existing name keeps its value.
  void AddTag(const AnsiString& Name, const TTagValue& Default);

 private:
  // Position of Name (case ignored), or where it would go; Found tells which.
  int Find(const AnsiString& Name, bool& Found) const;
  struct Entry {
    AnsiString Name;
    std::unique_ptr<TTagValueInfo> Info;  // owned
  };
  std::vector<Entry> FNames;  // sorted by name, ASCII letter case ignored
  bool FEmpty = true;
};

// The format-neutral set every tagged input fills.
class TCommonTags : public TAuTags {
 public:
  TCommonTags();
  const char* ClassName() const override { return "TCommonTags"; }
  WideString Artist() const { return AsWideString("Artist"); }
  void SetArtist(const WideString& V) { SetValue("Artist", V); }
  WideString Album() const { return AsWideString("Album"); }
  void SetAlbum(const WideString& V) { SetValue("Album", V); }
  WideString Genre() const { return AsWideString("Genre"); }
  void SetGenre(const WideString& V) { SetValue("Genre", V); }
  AnsiString Year() const { return AsString("Year"); }
  void SetYear(const AnsiString& V) { SetValue("Year", V); }
  AnsiString Track() const { return AsString("Track"); }
  void SetTrack(const AnsiString& V) { SetValue("Track", V); }
  WideString Title() const { return AsWideString("Title"); }
  void SetTitle(const WideString& V) { SetValue("Title", V); }
};

// ---------------------------------------------------------------------------------------------
// ID3v1

// The 148 ID3v1 genre names by index.
constexpr int Id3v1GenreCount = 148;
extern const char* const Id3v1Genres[Id3v1GenreCount];
using TId3v1TagsGenreId = uint8_t;  // 0..147
constexpr TId3v1TagsGenreId Id3v1DefaultGenre = 12;  // "Other"

// The 128-byte block at the end of a file (with the v1.1 track number).
class TId3v1Tags : public TAuTags {
 public:
  TId3v1Tags();
  const char* ClassName() const override { return "TId3v1Tags"; }
  bool IsPresent(void* FileHandle) override;
  bool ReadFromFile(void* FileHandle) override;
  // Appends a block at the end of the file (Unicode is ignored).
  bool WriteToFile(void* FileHandle, bool Unicode) override;

  AnsiString Title() const { return AsString("title"); }
  void SetTitle(const AnsiString& V) { SetValue("title", V); }
  AnsiString Artist() const;
  void SetArtist(const AnsiString& V) { SetValue("artist", V); }
  AnsiString Album() const { return AsString("album"); }
  void SetAlbum(const AnsiString& V) { SetValue("album", V); }
  uint16_t Year() const { return (uint16_t)AsInteger("year"); }
  void SetYear(uint16_t V) { SetValue("year", (int32_t)V); }
  AnsiString Comment() const { return AsString("comment"); }
  void SetComment(const AnsiString& V) { SetValue("comment", V); }
  uint8_t Track() const { return (uint8_t)AsInteger("track"); }
  void SetTrack(uint8_t V) { SetValue("track", (int32_t)V); }
  // The genre name of GenreId; setting matches the table without regard to ASCII case and
  // leaves the genre alone when no name matches.
  AnsiString Genre() const { return Id3v1Genres[GenreId()]; }
  void SetGenre(const AnsiString& V);
  // A held genre outside 0..147 reads as 12.
  TId3v1TagsGenreId GenreId() const;
  void SetGenreId(int32_t V) { SetValue("genre", V); }
};

// ---------------------------------------------------------------------------------------------
// ID3v2

// Frame IDs by row (0: version 2.2, 1: versions 2.3 and 2.4) and column.
constexpr int Id3v2ColumnCount = 12;
extern const char* const Id3v2FrameIds[2][Id3v2ColumnCount];
enum TId3v2Column {
  id3Album, id3Artist, id3Genre, id3Title, id3Track, id3Year, id3Comment,
  id3Composer, id3Encoder, id3Copyright, id3Language, id3Link
};

// An ID3v2 tag at the start of a file: reads the text frames of versions 2.2 to 2.4, writes
// version 2.4 in front of the file's contents.
class TId3v2Tags : public TAuTags {
 public:
  TId3v2Tags();
  const char* ClassName() const override { return "TId3v2Tags"; }
  // Is there a tag header at the current position (the position is kept).
  bool IsPresent(void* FileHandle) override;
  // Reads the tag at the current position; true when its header is valid. Afterwards the file
  // is positioned just after the tag.
  bool ReadFromFile(void* FileHandle) override;
  // Puts a version 2.4 tag in front of the file's contents. Unicode: wide values go out as
  // UTF-8; otherwise every value is 8-bit text. On failure the file keeps its old contents.
  bool WriteToFile(void* FileHandle, bool Unicode) override;

  // 0 = the three-letter IDs of version 2.2, 1 = the four-letter IDs; set by the reader.
  uint8_t FrameIdRow() const { return FRow; }

  WideString Album() const { return Wide(id3Album); }
  void SetAlbum(const WideString& V) { SetValue(Id(id3Album), V); }
  WideString Artist() const { return Wide(id3Artist); }
  void SetArtist(const WideString& V) { SetValue(Id(id3Artist), V); }
  WideString Genre() const { return Wide(id3Genre); }
  void SetGenre(const WideString& V) { SetValue(Id(id3Genre), V); }
  WideString Title() const { return Wide(id3Title); }
  void SetTitle(const WideString& V) { SetValue(Id(id3Title), V); }
  AnsiString Track() const { return AsString(Id(id3Track)); }
  void SetTrack(const AnsiString& V) { SetValue(Id(id3Track), V); }
  AnsiString Year() const { return AsString(Id(id3Year)); }
  void SetYear(const AnsiString& V) { SetValue(Id(id3Year), V); }
  WideString Comment() const { return Wide(id3Comment); }
  void SetComment(const WideString& V) { SetValue(Id(id3Comment), V); }
  WideString Composer() const { return Wide(id3Composer); }
  void SetComposer(const WideString& V) { SetValue(Id(id3Composer), V); }
  WideString Encoder() const { return Wide(id3Encoder); }
  void SetEncoder(const WideString& V) { SetValue(Id(id3Encoder), V); }
  WideString Copyright() const { return Wide(id3Copyright); }
  void SetCopyright(const WideString& V) { SetValue(Id(id3Copyright), V); }
  WideString Language() const { return Wide(id3Language); }
  void SetLanguage(const WideString& V) { SetValue(Id(id3Language), V); }
  WideString Link() const { return Wide(id3Link); }
  void SetLink(const WideString& V) { SetValue(Id(id3Link), V); }

 private:
  const char* Id(TId3v2Column C) const { return Id3v2FrameIds[FRow][C]; }
  WideString Wide(TId3v2Column C) const { return AsWideString(Id(C)); }
  void DecodeFrame(const char* FrameId, const std::vector<uint8_t>& Body);
  uint8_t FRow = 1;
};

// ---------------------------------------------------------------------------------------------
// APEv2

class TAPEv2Tags : public TAuTags {
 public:
  TAPEv2Tags();
  const char* ClassName() const override { return "TAPEv2Tags"; }
#define AU_APE_WIDE(Prop, Name) \
  WideString Prop() const { return AsWideString(Name); } \
  void Set##Prop(const WideString& V) { SetValue(Name, V); }
#define AU_APE_NARROW(Prop, Name) \
  AnsiString Prop() const { return AsString(Name); } \
  void Set##Prop(const AnsiString& V) { SetValue(Name, V); }
  AU_APE_WIDE(Artist, "Artist")
  AU_APE_WIDE(Composer, "Composer")
  AU_APE_WIDE(Album, "Album")
  AU_APE_WIDE(DebutAlbum, "Debut album")
  AU_APE_WIDE(Publisher, "Publisher")
  AU_APE_WIDE(Conductor, "Conductor")
  AU_APE_WIDE(Copyright, "Copyright")
  AU_APE_NARROW(ISBN, "ISBN")
  AU_APE_NARROW(ISRC, "ISRC")
  AU_APE_NARROW(BarCode, "EAN/UPC")
  AU_APE_NARROW(LabelCode, "LC")
  AU_APE_NARROW(Catalog, "Catalog")
  AU_APE_WIDE(Language, "Language")
  AU_APE_WIDE(Genre, "Genre")
  AU_APE_NARROW(Year, "Year")
  AU_APE_NARROW(RecordDate, "Record Date")
  AU_APE_WIDE(RecordLocation, "Record Location")
  AU_APE_WIDE(File_, "File")
  AU_APE_WIDE(Related, "Related")
  AU_APE_WIDE(Abstract, "Abstract")
  AU_APE_WIDE(Bibliography, "Bibliography")
  AU_APE_NARROW(Track, "Track")
  AU_APE_WIDE(Title, "Title")
  AU_APE_WIDE(SubTitle, "Subtitle")
  AU_APE_WIDE(Comment, "Comment")
#undef AU_APE_WIDE
#undef AU_APE_NARROW
};

// Reads the text items Artist, Album, Copyright, Genre, Year, Track and Title of an APE
// version 2 tag at the very end of Stream into Tags. Does not clear Tags first and reports
// nothing: a missing or broken tag leaves what was read so far.
void ReadAPEv2Tags(TStream* Stream, TAPEv2Tags* Tags);

// ---------------------------------------------------------------------------------------------
// Vorbis comments

// The comment names, shared with the codec bindings.
extern const char* const VorbisAlbum;
extern const char* const VorbisArtist;
extern const char* const VorbisDate;
extern const char* const VorbisGenre;
extern const char* const VorbisTitle;
extern const char* const VorbisTrack;
extern const char* const VorbisDisc;
extern const char* const VorbisReference;
extern const char* const VorbisTrackGain;
extern const char* const VorbisTrackPeak;
extern const char* const VorbisAlbumGain;
extern const char* const VorbisAlbumPeak;

class TVorbisTags : public TAuTags {
 public:
  TVorbisTags();
  const char* ClassName() const override { return "TVorbisTags"; }
#define AU_VORBIS(Prop, Name) \
  WideString Prop() const { return AsWideString(Name); } \
  void Set##Prop(const WideString& V) { SetValue(Name, V); }
  AU_VORBIS(Album, VorbisAlbum)
  AU_VORBIS(Artist, VorbisArtist)
  AU_VORBIS(Date, VorbisDate)
  AU_VORBIS(Genre, VorbisGenre)
  AU_VORBIS(Title, VorbisTitle)
  AU_VORBIS(Track, VorbisTrack)
  AU_VORBIS(Disc, VorbisDisc)
  AU_VORBIS(Reference, VorbisReference)
  AU_VORBIS(TrackGain, VorbisTrackGain)
  AU_VORBIS(TrackPeak, VorbisTrackPeak)
  AU_VORBIS(AlbumGain, VorbisAlbumGain)
  AU_VORBIS(AlbumPeak, VorbisAlbumPeak)
#undef AU_VORBIS

  // Stores one UTF-8 comment "name=value" when its lower-cased name is one of the set's.
  void AddComment(const std::string& Comment);
  // Clears Dest, then fills it from this set (Year from Date, Track from Track, as narrow text).
  void CopyToCommonTags(TCommonTags* Dest) const;
};

// Splits a UTF-8 comment at its first "=": the name lower-cased (8-bit lower-casing), the
// value decoded from UTF-8 (empty when there is no "=").
void SplitVorbisComment(const std::string& Comment, AnsiString& Name, WideString& Value);
// The UTF-8 comment "name=value".
std::string MakeVorbisComment(const AnsiString& Name, const WideString& Value);

// UTF-8 <-> UTF-16 (invalid sequences become U+FFFD).
WideString TagUtf8ToWide(const std::string& S);
std::string TagWideToUtf8(const WideString& S);
