// The real program as a user starts it: SampleMorph.exe from the folder it ships in, in a process
// of its own, with the language of U3_ENV_LANGUAGE. Its windows are found by their classes, driven
// by the X server's pointer and keyboard (xdotool), read back through their own messages, and shot
// from the screen.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "classlib/WinApi.h"
#include "common/WindowCapture.h"

namespace program {

class TProgram {
 public:
  // Starts the program with U3_ENV_LANGUAGE = Language (1033 or 2052) and waits until its message
  // loop is idle; a test fails when it cannot start.
  explicit TProgram(const std::wstring& Language);
  // A program still running is ended (a test that failed half-way).
  ~TProgram();
  DWORD ProcessId() const { return FInfo.dwProcessId; }
  HANDLE Process() const { return FInfo.hProcess; }
  // The main window (class "VorelWindows"), once visible; null after TimeoutMs.
  HWND MainWindow(unsigned TimeoutMs = 20000) const;
  // The first visible top-level window of the program of the form class WinClass (its Unicode
  // class, "<WinClass>.UnicodeClass"), once there; null after TimeoutMs.
  HWND TopWindow(const std::wstring& WinClass, unsigned TimeoutMs = 10000) const;
  // The same for a window class as the system knows it (e.g. L"#32770", the system's dialogs).
  HWND TopWindowOfClass(const std::wstring& Class, unsigned TimeoutMs = 10000) const;
  // The visible top-level windows of the program of the form class WinClass.
  int TopWindowCount(const std::wstring& WinClass) const;
  // The program's exit code once it ended within TimeoutMs; STILL_ACTIVE otherwise.
  DWORD WaitForExit(unsigned TimeoutMs) const;
  // The threads of the process, and its windows (top-level and child, visible or not).
  int Threads() const;
  int Windows() const;

 private:
  PROCESS_INFORMATION FInfo{};
};

// The full name of SampleMorph.exe in its shipping folder.
std::wstring ProgramFile();

// Moves the X pointer to a point of a window's client area (waiting until it is there).
void MoveTo(HWND Wnd, int X, int Y);
// Clicks the left button at a point of a window's client area.
void ClickAt(HWND Wnd, int X, int Y);
// Clicks the middle of a child window.
void Click(HWND Control);
// Types text (xdotool type) and named keys (xdotool key, e.g. "Return").
void Type(const std::string& Utf8);
void Key(const std::string& Keys);

// A window's text, read with WM_GETTEXT.
std::wstring Text(HWND Wnd);
// The child windows of Parent (every level) in Z order, whose window class starts with Class
// (e.g. L"TUniButton"), and, when Caption is given, whose text is Caption.
std::vector<HWND> Children(HWND Parent, const std::wstring& Class, const std::wstring* Caption = nullptr);
// The visible child window with exactly this text; null when none.
HWND ChildWithText(HWND Parent, const std::wstring& Caption);
// The lines of a list box, and its selected line (-1: none).
std::vector<std::wstring> ListBoxLines(HWND ListBox);
int ListBoxSelected(HWND ListBox);
// The rows of a report list view, each its caption and its sub-items' texts (Columns in all),
// read through memory of the program's own.
std::vector<std::vector<std::wstring>> ListViewRows(HWND ListView, int Columns);
// The middle of row Index of a list view, in the list view's client coordinates.
POINT ListViewRowPoint(HWND ListView, int Index);
// The combo box among Combos whose selected item's text is Text; null when none.
HWND ComboShowing(const std::vector<HWND>& Combos, const std::wstring& Text);
// The text of a combo box's selected item.
std::wstring ComboText(HWND Combo);

// Waits until Ready() holds, looking every 100 ms for at most TimeoutMs; returns Ready().
bool Eventually(const std::function<bool()>& Ready, unsigned TimeoutMs = 10000);

// The window as the screen shows it (frame included), and a copy kept as artefacts\<Name>.bmp.
capture::TCapture Shot(HWND Wnd, const std::wstring& Name);

// The Windows path of a file of the test's own folder under C:\ (made when missing).
std::wstring WorkFolder(const std::wstring& Name);

}  // namespace program
