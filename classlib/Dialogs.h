// The system's file dialogs: open (one file or several) and save. Names are wide, so that a file
// of any name can be chosen whatever the system's code page.
#pragma once
#include <vector>

#include "classlib/Classes.h"

using TOpenOptions = uint32_t;
constexpr TOpenOptions ofOverwritePrompt = 0x1, ofHideReadOnly = 0x2, ofAllowMultiSelect = 0x4,
                       ofPathMustExist = 0x8, ofFileMustExist = 0x10, ofEnableSizing = 0x20;

// Threads: user-interface thread, every method.
class TOpenDialog : public TComponent {
 public:
  explicit TOpenDialog(TComponent* AOwner) : TComponent(AOwner) {}
  const char* ClassName() const override { return "TOpenDialog"; }
  // Pairs of description and patterns, each part ended by "|" ("Text|*.A;*.B|Other|*.C").
  const WideString& Filter() const { return FFilter; }
  void SetFilter(const WideString& Value) { FFilter = Value; }
  // 1-based, the pair shown first.
  int FilterIndex() const { return FFilterIndex; }
  void SetFilterIndex(int Value) { FFilterIndex = Value; }
  const WideString& Title() const { return FTitle; }
  void SetTitle(const WideString& Value) { FTitle = Value; }
  const WideString& InitialDir() const { return FInitialDir; }
  void SetInitialDir(const WideString& Value) { FInitialDir = Value; }
  // The name shown at first, and the first chosen one after Execute.
  const WideString& FileName() const { return FFileName; }
  void SetFileName(const WideString& Value) { FFileName = Value; }
  // The extension (without its dot) a name typed without one gets, before the dialog checks the
  // name (so the overwrite question is asked about the file that will be written).
  const WideString& DefaultExt() const { return FDefaultExt; }
  void SetDefaultExt(const WideString& Value) { FDefaultExt = Value; }
  TOpenOptions Options() const { return FOptions; }
  void SetOptions(TOpenOptions Value) { FOptions = Value; }
  // Every chosen name, in full, after Execute.
  const std::vector<WideString>& Files() const { return FFiles; }
  // Shows the dialog, owned by the active window; true when the user chose.
  bool Execute();

 protected:
  virtual bool Save() const { return false; }
  WideString FFilter, FTitle, FInitialDir, FFileName, FDefaultExt;
  int FFilterIndex = 1;
  TOpenOptions FOptions = 0;
  std::vector<WideString> FFiles;
};

class TSaveDialog : public TOpenDialog {
 public:
  using TOpenDialog::TOpenDialog;
  const char* ClassName() const override { return "TSaveDialog"; }

 protected:
  bool Save() const override { return true; }
};
