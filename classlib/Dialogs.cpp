#include "classlib/Dialogs.h"

#include <windows.h>
#include <commdlg.h>

#include "classlib/Forms.h"

bool TOpenDialog::Execute() {
  // "a|b|" becomes "a\0b\0\0" as the system reads it.
  std::wstring filter = FFilter;
  for (wchar_t& c : filter)
    if (c == L'|') c = L'\0';
  filter.append(2, L'\0');
  std::vector<wchar_t> buffer(64 * 1024, L'\0');
  FFileName.copy(buffer.data(), std::min(FFileName.size(), buffer.size() - 1));
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = GetActiveWindow();
  ofn.lpstrFilter = FFilter.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = (DWORD)FFilterIndex;
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = (DWORD)buffer.size();
  ofn.lpstrTitle = FTitle.empty() ? nullptr : FTitle.c_str();
  ofn.lpstrInitialDir = FInitialDir.empty() ? nullptr : FInitialDir.c_str();
  const std::wstring defaultExt = FDefaultExt.substr(!FDefaultExt.empty() && FDefaultExt[0] == L'.' ? 1 : 0);
  ofn.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR;
  if (FOptions & ofOverwritePrompt) ofn.Flags |= OFN_OVERWRITEPROMPT;
  if (FOptions & ofHideReadOnly) ofn.Flags |= OFN_HIDEREADONLY;
  if (FOptions & ofAllowMultiSelect) ofn.Flags |= OFN_ALLOWMULTISELECT;
  if (FOptions & ofPathMustExist) ofn.Flags |= OFN_PATHMUSTEXIST;
  if (FOptions & ofFileMustExist) ofn.Flags |= OFN_FILEMUSTEXIST;
  if (FOptions & ofEnableSizing) ofn.Flags |= OFN_ENABLESIZING;
  FFiles.clear();
  if (!(Save() ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn))) return false;
  FFilterIndex = (int)ofn.nFilterIndex;
  // One name in full; or, for several, the folder followed by the names, each ended by a NUL.
  const wchar_t* p = buffer.data();
  std::wstring first = p;
  p += first.size() + 1;
  if (!(FOptions & ofAllowMultiSelect) || *p == L'\0') {
    FFiles.push_back(first);
  } else {
    if (!first.empty() && first.back() != L'\\') first += L'\\';
    for (; *p; p += wcslen(p) + 1) FFiles.push_back(first + p);
  }
  FFileName = FFiles.front();
  return true;
}
