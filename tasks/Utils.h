// Helpers shared by the workers, the task windows and the main window: unique and temporary
// file names, folder checks, shell calls, bringing a window to the front, size and time texts.
#pragma once
#include <cstdint>
#include <functional>

#include "classlib/Classes.h"

class TUtils {
 public:
  TUtils() = delete;

  static AnsiString GetVersion();   // "V1.0.0"
  static WideString GetAppTitle();  // the product-family title, caption of the confirmation dialogs
  // The format code (TAudioFileType) of the name's extension, lower-cased: 1 ".wav" ... 11 ".mpc";
  // 0 for any other extension or none.
  static uint8_t GetFormatByExtension(const WideString& FileName);
  // Size in bytes (the low 32 bits); 0 when the file cannot be opened.
  static uint32_t GetFileSize(const WideString& FileName);
  // printf-style formatting of the platform's C runtime (%s takes a wide string).
  static WideString WideFormat(const wchar_t* Format, ...);

  // The folder picker; the chosen folder, or empty when cancelled. Owner is a window (HWND).
  static WideString SelectFolder(void* Owner, const WideString& Title);
  // Creates one folder (not its parents).
  static bool CreateFolder(const WideString& Path);
  // True when a file can be created (and is then deleted) in Folder.
  static bool IsFolderWritable(const WideString& Folder);
  // Name when nothing of that name exists, else the first free "%s(%d)%s" of the name without
  // its extension, a counter from 0 and the extension: a(0).mp3, a(1).mp3, ...
  static WideString MakeUniqueFileName(const WideString& Name);

  // Opens the folder in the file manager.
  static bool ExploreFolder(const WideString& Folder);
  // Opens the file manager with the file selected; False, without a shell call, when the file
  // does not exist.
  static bool SelectInExplorer(const WideString& FileName);

  // "%.1f" and "GB", "MB" or "KB".
  static WideString FormatFileSize(uint32_t Bytes);
  // Rounded to whole seconds; up to 60 s everything stays in Seconds (0 min 60 s).
  static void MsToMinSec(uint32_t Ms, int& Minutes, int& Seconds);
  static bool SplitMilliseconds(uint32_t Ms, uint32_t& Hours, uint32_t& Millis, uint32_t& Seconds,
                                uint32_t& Minutes);
  static WideString FormatTimeMs(uint32_t Ms);        // "hh:mm:ss:zzz"
  static WideString FormatTimeSec(uint32_t Seconds);  // "hh:mm:ss"

  // The system temporary folder, 8-bit, as the system gives it (with its final "\").
  static AnsiString GetTempFolder();
  // The temporary folder and the number of seconds since 1970-01-01 00:00 of the local clock.
  static WideString TempFileName();

  // Opens a web address on a thread of its own (TOpenUrlThread).
  static void OpenUrl(const WideString& Url);
  // Opens a new mail to Address with the subject in the default mail program.
  static bool SendMail(const WideString& Address, const WideString& Subject);
  // Restores and brings Window (HWND) to the front; True when it is the foreground window then.
  static bool ForceForegroundWindow(void* Window);
};

// The shell-execute call behind every shell operation of TUtils and TOpenUrlThread: its result is
// the system's (success above 31). Replaceable, e.g. to watch what would be opened; the default
// calls the shell.
using TShellExecuteFunc = std::function<intptr_t(void* Wnd, const WideString& Operation, const WideString& File,
                                                 const WideString& Parameters, const WideString& Directory,
                                                 int ShowCmd)>;
extern TShellExecuteFunc UtilsShellExecute;

// The system's folder browser (file-system folders only, with an edit box, new style). True, and
// the chosen folder's display name and path, when a folder was chosen.
bool BrowseForFolder(void* Owner, const WideString& Title, WideString& DisplayName, WideString& Path);

// "%" and two hexadecimal digits become that character, "+" a blank. Raises Exception
// "Invalid URL-encoded string passed to URLDecode." for a "%" without two characters after it and
// "Invalid HEX digits in string passed to URLDecode." for other characters than hexadecimal digits.
WideString URLDecode(const WideString& S);

// Opens a URL through the shell, or else through the browsers named in the registry; frees
// itself when done.
class TOpenUrlThread : public TThread {
 public:
  explicit TOpenUrlThread(const WideString& Url) : TThread(true), FUrl(Url) {}
  const char* ClassName() const override { return "TOpenUrlThread"; }
  const WideString& Url() const { return FUrl; }

 protected:
  void Execute() override;

 private:
  WideString FUrl;
};
