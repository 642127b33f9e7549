#include "program/Tasks.h"

#include <algorithm>

#include "common/XInput.h"
#include "toolkit/LanguageManager.h"

namespace program {

std::wstring Tr(const std::wstring& Language, int Id) {
  static tLanguageManager* chinese = nullptr;
  static tLanguageManager* english = nullptr;
  tLanguageManager*& m = Language == L"2052" ? chinese : english;
  if (!m) {
    // Chosen as the program chooses it.
    SetEnvironmentVariableW(L"U3_ENV_LANGUAGE", Language.c_str());
    m = new tLanguageManager();
    m->InitLanguage();
  }
  return m->GetString(static_cast<uint8_t>(Id));
}

std::wstring FreshFolder(const std::wstring& Name) {
  std::wstring path = L"C:\\" + Name;
  peer::Run("rm -rf " + peer::Quote(peer::UnixPath(path)) + " && mkdir -p " + peer::Quote(peer::UnixPath(path)));
  return path;
}

void MakeTone(const std::wstring& File, double Seconds, int Rate, int Channels, int Bits) {
  peer::Result r = peer::Run("sox -n -r " + std::to_string(Rate) + " -c " + std::to_string(Channels) + " -b " +
                             std::to_string(Bits) + " " + peer::Quote(peer::UnixPath(File)) + " synth " +
                             std::to_string(Seconds) + " sine 440 vol 0.5");
  ASSERT_EQ(r.exitCode, 0) << r.err;
}

std::map<std::string, std::string> Probe(const std::wstring& File) {
  peer::Result r = peer::Run("ffprobe -v error -select_streams a:0 -show_entries "
                             "stream=codec_name,sample_rate,channels,bits_per_sample,duration -of default=nw=1 " +
                             peer::Quote(peer::UnixPath(File)));
  return r.exitCode == 0 ? peer::ProbeFields(r.out) : std::map<std::string, std::string>{};
}

long long SoxSamples(const std::wstring& File) {
  peer::Result r = peer::Run("sox --i -s " + peer::Quote(peer::UnixPath(File)));
  return r.exitCode == 0 ? std::atoll(r.out.c_str()) : -1;
}

std::vector<std::wstring> FilesIn(const std::wstring& Folder, const std::wstring& Pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((Folder + L"\\" + Pattern).c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
  while (FindNextFileW(h, &fd));
  FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}

namespace {
RECT Client(HWND Wnd) {
  RECT r;
  GetClientRect(Wnd, &r);
  return r;
}
}  // namespace

void ClickNext(HWND Task) { ClickAt(Task, Client(Task).right - 47, Client(Task).bottom - 24); }
void ClickBack(HWND Task) { ClickAt(Task, Client(Task).right - 172, Client(Task).bottom - 24); }
void ClickOpenFolder(HWND Task) { ClickAt(Task, 67, Client(Task).bottom - 24); }
void ClickCaptionClose(HWND Window) { ClickAt(Window, Client(Window).right - 16, 12); }

HWND OpenTask(const TProgram& App, HWND Main, POINT Tile) {
  ClickAt(Main, Tile.x, Tile.y);
  return App.TopWindow(L"TaskWindows");
}

void AddThroughOpenDialog(const TProgram& App, HWND Task, const std::wstring& AddCaption, const std::string& Folder,
                          const std::string& Names) {
  HWND add = ChildWithText(Task, AddCaption);
  ASSERT_TRUE(add) << "the Add button";
  Click(add);
  HWND open = FileDialog(App);
  ASSERT_TRUE(open) << "the open dialog shows";
  EnterInFileDialog(open, Folder);
  EnterInFileDialog(open, Names);
  ASSERT_TRUE(Eventually([&] { return !IsWindow(open); }, 5000)) << "the open dialog closes";
}

HWND Dialog(const TProgram& App, unsigned TimeoutMs) { return App.TopWindow(L"lorvuDialogsForm", TimeoutMs); }
void ClickDialogOk(HWND Dialog, bool WithCancel) { ClickAt(Dialog, WithCancel ? 132 : 174, 156); }
void ClickDialogCancel(HWND Dialog) { ClickAt(Dialog, 217, 156); }

HWND FileDialog(const TProgram& App, unsigned TimeoutMs) { return App.TopWindowOfClass(L"#32770", TimeoutMs); }

void EnterInFileDialog(HWND Dialog, const std::string& Utf8) {
  // The name box has the focus when the dialog opens; what it holds is replaced.
  xinput::Xdo("key --clearmodifiers ctrl+a");
  Type(Utf8);
  Key("Return");
}

}  // namespace program
