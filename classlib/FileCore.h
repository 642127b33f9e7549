// The file under every file stream: one owner of a file handle, opened with a named mode.
//
// The file streams of the class library (TFileStream), of the Unicode runtime (TUniFileStream)
// and of the audio engine (TAuFileStream) each keep their own mode words and messages; they turn
// the mode word into a TFileOpenMode and leave the handle to a TFileHandle.
#pragma once
#include <cstdint>
#include <string>

enum class TFileAccess : uint8_t { Read, Write, ReadWrite };
// Which access others keep while the file is open.
enum class TFileShare : uint8_t { None, Read, Write, ReadWrite };
enum class TFileCreation : uint8_t { OpenExisting, CreateAlways };

struct TFileOpenMode {
  TFileAccess Access;
  TFileShare Share;
  TFileCreation Creation;
};

// The named modes.
inline constexpr TFileOpenMode fomCreate{TFileAccess::ReadWrite, TFileShare::None, TFileCreation::CreateAlways};
inline constexpr TFileOpenMode fomReadDenyWrite{TFileAccess::Read, TFileShare::Read, TFileCreation::OpenExisting};
inline constexpr TFileOpenMode fomReadWriteExclusive{TFileAccess::ReadWrite, TFileShare::None,
                                                     TFileCreation::OpenExisting};

// The open mode of a mode word: access from Mode & 3 (0 read, 1 write, 2 read and write),
// sharing from (Mode & $F0) >> 4 (0 and 1 none, 2 others read, 3 others write, 4 both), an
// existing file. False for values outside these tables.
bool FileOpenModeOfWord(uint16_t Mode, TFileOpenMode& Result);

// Owns one file handle (closed when it goes); move-only.
class TFileHandle {
 public:
  TFileHandle() = default;
  // Takes over Handle (an invalid one is allowed).
  explicit TFileHandle(void* Handle) : FHandle(Handle) {}
  ~TFileHandle() { Close(); }
  TFileHandle(TFileHandle&& Other) noexcept : FHandle(Other.Release()) {}
  TFileHandle& operator=(TFileHandle&& Other) noexcept;
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;

  // Opens a file by its wide or 8-bit (system code page) name; the result is invalid when the
  // file cannot be opened, with the system's error code left for GetLastError.
  static TFileHandle Open(const std::wstring& FileName, const TFileOpenMode& Mode);
  static TFileHandle OpenAnsi(const std::string& FileName, const TFileOpenMode& Mode);

  void* Get() const { return FHandle; }
  bool Valid() const;
  void* Release();
  void Close();

 private:
  void* FHandle = reinterpret_cast<void*>(static_cast<intptr_t>(-1));
};
