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

// The task window's navigation strip: Next, Back and Open folder (client points of the window).
void ClickNext(HWND Task);
void ClickBack(HWND Task);
void ClickOpenFolder(HWND Task);
// The task window's caption-bar Close.
void ClickTaskClose(HWND Task);

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
