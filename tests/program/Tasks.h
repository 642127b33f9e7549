// What the real program's task paths share: fixtures made by sox in a folder of the program's
// C: drive, the language table the program shows, the task window and the confirmation dialog as
// the program opens them, and the navigation strip's buttons.
#pragma once
#include <string>

#include "common/Peer.h"
#include "program/Program.h"

namespace program {

// The text of Id in the table of Language (1033 or 2052), as the program shows it.
std::wstring Tr(const std::wstring& Language, int Id);

// A folder of the program's C: drive, emptied and made again: C:\<Name>.
std::wstring FreshFolder(const std::wstring& Name);
// A sine tone made by sox: Seconds long at Rate Hz with Channels channels and Bits bits.
void MakeTone(const std::wstring& File, double Seconds, int Rate, int Channels, int Bits = 16);
// ffprobe of a file's first stream: "codec_name", "sample_rate", "channels", "bits_per_sample",
// "duration" (empty when ffprobe cannot read it).
std::map<std::string, std::string> Probe(const std::wstring& File);
// The frames of a file as sox reads them (its samples per channel).
long long SoxSamples(const std::wstring& File);
// Names in a folder matching Pattern (e.g. L"*.wav"), sorted.
std::vector<std::wstring> FilesIn(const std::wstring& Folder, const std::wstring& Pattern = L"*");

// The main window's tiles: the middles of their client rectangles.
constexpr POINT kConvertTile{20 + 60, 130 + 40}, kSplitTile{296 + 60, 130 + 40}, kCutTile{552 + 60, 130 + 40},
                kMixTile{20 + 60, 298 + 40}, kRecordTile{296 + 60, 298 + 40};
// Clicks a tile of the main window: the task window it opens, once visible; null after 10 s.
HWND OpenTask(const TProgram& App, HWND Main, POINT Tile);
// Adds files through a task window's open dialog: its Add button (by caption), the folder, then
// the names (one, or several each in quotes); the dialog closes.
void AddThroughOpenDialog(const TProgram& App, HWND Task, const std::wstring& AddCaption, const std::string& Folder,
                          const std::string& Names);

// The task window's navigation strip: Next, Back and Open folder (client points of the window).
void ClickNext(HWND Task);
void ClickBack(HWND Task);
void ClickOpenFolder(HWND Task);
// The caption-bar Close of the main window or of a task window.
void ClickCaptionClose(HWND Window);

// The program's confirmation dialog, once shown; null after TimeoutMs.
HWND Dialog(const TProgram& App, unsigned TimeoutMs = 10000);
// Its buttons: OK alone (centred), or OK and Cancel.
void ClickDialogOk(HWND Dialog, bool WithCancel);
void ClickDialogCancel(HWND Dialog);

// The system's file dialog the program opened, once shown; null after TimeoutMs.
HWND FileDialog(const TProgram& App, unsigned TimeoutMs = 10000);
// Types Text into the file dialog's name box and presses Return.
void EnterInFileDialog(HWND Dialog, const std::string& Utf8);

}  // namespace program
