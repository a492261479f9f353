// The desktop services the Windows window relies on: choosing a folder,
// opening the report and the forum's page, showing an error, and where the
// user's settings and reports go.
//
// The window receives the first three in its constructor, so that the test
// driver hands it fakes while the program hands it these:
//
//   tallyfold::win32ui::ShellFolderPicker picker;   // IFileOpenDialog, else SHBrowseForFolderW
//   tallyfold::win32ui::ShellOpener opener;         // platform/Shell.h, ShellExecuteW
//   tallyfold::win32ui::MessageBoxDisplay errors;   // captioned "检索工具"
//
// None of them raises. Whatever they show over a window is owned by it, so
// that it stays above the window, which stays on top.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace tallyfold::win32ui {

// "检索工具": the caption of the window's message boxes.
const wchar_t* ApplicationTitle();

class FolderPicker {
 public:
  virtual ~FolderPicker() = default;
  // Shows a modal folder chooser over `owner` starting at `initial_folder`.
  // Nothing when the user cancelled; otherwise the chosen item's file-system
  // path, empty when it has none (a network place, a virtual folder).
  virtual std::optional<std::wstring> ChooseFolder(HWND owner, const std::wstring& initial_folder) = 0;
};

class DocumentOpener {
 public:
  virtual ~DocumentOpener() = default;
  // Has the shell open the file at `path` (UTF-8) with its handler; whether
  // one took it.
  virtual bool OpenDocument(HWND owner, const std::string& path) = 0;
  // Has the shell open a web address with the verb "open".
  virtual bool OpenAddress(HWND owner, const std::wstring& address) = 0;
};

class MessageDisplay {
 public:
  virtual ~MessageDisplay() = default;
  // A modal box with the error icon over `owner`, captioned with the
  // application title; returns once dismissed.
  virtual void ShowError(HWND owner, const std::wstring& text) = 0;
};

// IFileOpenDialog with FOS_PICKFOLDERS; SHBrowseForFolderW where that
// dialog cannot be made. The thread must have COM (apartment-threaded).
class ShellFolderPicker final : public FolderPicker {
 public:
  std::optional<std::wstring> ChooseFolder(HWND owner, const std::wstring& initial_folder) override;
  // The fallback alone.
  static std::optional<std::wstring> BrowseForFolder(HWND owner, const std::wstring& initial_folder);
};

class ShellOpener final : public DocumentOpener {
 public:
  bool OpenDocument(HWND owner, const std::string& path) override;
  bool OpenAddress(HWND owner, const std::wstring& address) override;
};

class MessageBoxDisplay final : public MessageDisplay {
 public:
  void ShowError(HWND owner, const std::wstring& text) override;
};

// The program's folder in the user's roaming application data
// (%APPDATA%\Tallyfold), UTF-8, made when missing; empty when the system
// names none.
std::string UserDataFolder();

// Makes `folder` (UTF-8) and its parents; whether it is there afterwards.
bool MakeFolder(const std::string& folder);

// The folder of the running program, ending in a backslash.
std::wstring ProgramFolder();

// The user's interface language is Chinese.
bool UserLanguageIsChinese();

// Between the window's UTF-16 texts and the platform's UTF-8 paths.
std::wstring Wide(std::u16string_view text);
std::u16string Utf16(std::wstring_view text);

}  // namespace tallyfold::win32ui
