// TForm1 for Windows: the program's one window, made of native controls.
//
// A box for the regular expression, the Search button (检索), the folder
// button (选择目录) and the folder it chose, the case and word-boundary
// boxes, the forum link and the credit line, placed as the window was
// designed at 96 DPI and scaled for the monitor it is on (Layout.h), moved
// and rescaled when it goes to a monitor of another DPI. Search is enabled
// while the trimmed pattern and the folder are both non-empty. A click runs
// the search command (app/SearchCommand.h) as a BackgroundTask while the
// window takes no input; a search that takes more than half a second shows
// a progress window whose Cancel stops it. A finished search writes
// result.htm (and result.css) into the report folder and has the shell open
// it; an error goes to the MessageDisplay captioned "检索工具".
//
//   tallyfold::win32ui::TForm1 form(picker, opener, errors, settings_file, report_folder);
//   form.Show(SW_SHOWNORMAL);
//   tallyfold::win32ui::RunMessageLoop(form);
//
// Besides, as the Qt window does: the settings (WindowSettings.h) are kept
// in `settings_file`; a right-click on the window (but the pattern box)
// offers the last patterns ("Recent patterns", which the pattern box's own
// menu, the system's, cannot hold), the encoding of files without a mark
// and "Include sub-folders";
// reading settings other than the defaults are shown in the lower-left
// corner; and what a search needs the user to know goes into a note that
// waits for no answer, below the window (NoteText.h).
//
// The window and its controls answer ordinary messages, which is how the
// test driver works it: WM_SETTEXT to the pattern box, BM_CLICK to the
// buttons and boxes, WM_COMMAND with a menu's command id to the window.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/AfterSearchPolicy.h"  // SearchEnd
#include "app/SearchCommand.h"
#include "win32/Layout.h"
#include "win32/Services.h"
#include "win32/WindowSettings.h"

namespace tallyfold {
class BackgroundTask;
}

namespace tallyfold::win32ui {

// The window caption: product name, version and slogan.
const wchar_t* WindowCaption();

// Command ids of the menus: the encodings (kCmdEncoding + index in
// EncodingChoices()), the fallbacks (kCmdFallback + index in
// kLegacyEncodings), sub-folders and the history (kCmdHistory + index,
// most recent first).
enum MenuCommand : int {
  kCmdEncoding = 2000,
  kCmdFallback = 2100,
  kCmdRecursive = 2200,
  kCmdHistory = 2300,
};

class TForm1 {
 public:
  // `settings_file` and `report_folder` are UTF-8 paths; an empty report
  // folder writes result.htm into the working folder of the moment.
  TForm1(FolderPicker& picker, DocumentOpener& opener, MessageDisplay& errors,
         std::string settings_file, std::string report_folder);
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Creates the window (the first time), centred on its monitor's work
  // area, and shows it with `show` (SW_...). Raises std::runtime_error when
  // the window cannot be made.
  void Show(int show);
  HWND Handle() const { return window_; }
  HWND Control(ControlId id) const { return ::GetDlgItem(window_, id); }

  // The folder the next search scans, UTF-8, as the picker gave it.
  const std::string& Folder() const { return folder_; }
  // The absolute path of the report the next search writes.
  std::string ReportPath() const;
  const WindowSettings& Settings() const { return settings_; }

  // The note of the last search while it is open (null otherwise), and its
  // text.
  HWND Note() const { return note_; }
  std::u16string NoteText() const;
  // The progress window of the search under way, once shown.
  HWND Progress() const { return progress_; }
  // The DPI the window is laid out for.
  int Dpi() const { return dpi_; }

  // Whether `message` was for the window's keyboard navigation (Tab between
  // the controls), which the message loop then leaves alone.
  bool PreTranslate(MSG& message);

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK NoteProc(HWND note, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK ProgressProc(HWND progress, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);

  void FormCreate();
  void FormShow();
  void FormClose();
  void edtInputChange();
  void btnDirClick();
  void btnSearchClick();

  void CreateControls();
  void MakeFonts();
  void Relayout();
  void ApplySettings();
  void StoreSettings();
  void ShowReadingSettings();
  void ShowFormMenu(POINT at);
  void OnCommand(int id, int code, HWND control);
  void ApplyEnablingRule();
  SearchEnd SearchAndWait(const SearchOptions& options, SearchStats& stats);
  void ShowProgress(const BackgroundTask& search);
  void CloseProgress();
  void AddToNote(const std::vector<std::u16string>& sections);
  void LayoutNote();
  void CloseNote();
  void SetFolder(const std::string& folder);
  void ShowError(const std::string& message);
  std::u16string InputText() const;

  FolderPicker& picker_;
  DocumentOpener& opener_;
  MessageDisplay& errors_;
  std::string settings_file_;
  std::string report_folder_;
  HWND window_ = nullptr;
  HWND note_ = nullptr;
  HWND note_text_ = nullptr;
  HWND progress_ = nullptr;
  HFONT font_ = nullptr;       // Tahoma 8 pt at dpi_
  HFONT link_font_ = nullptr;  // the same, bold, for the forum link
  int dpi_ = kDesignDpi;
  bool link_visited_ = false;
  bool folder_dialog_open_ = false;
  std::unique_ptr<SearchLists> lists_;  // the report, match and summary lists
  std::string folder_;
  WindowSettings settings_;
  bool settings_applied_ = false;
  BackgroundTask* running_search_ = nullptr;
  bool close_requested_ = false;
  std::u16string note_sections_;
};

// Runs the message loop until the window is destroyed; the exit code.
int RunMessageLoop(TForm1& form);

}  // namespace tallyfold::win32ui
