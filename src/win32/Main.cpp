// Project1 for Windows: tallyfold.exe, the desktop program. It sets up COM
// and the code page, picks the language, shows the main window and runs the
// message loop until the window closes.
//
// The window speaks Chinese when the user's interface language is Chinese
// and English otherwise (Catalogue.h). Its settings live in
// %APPDATA%\Tallyfold\tallyfold.ini and its reports, with their style
// sheet, in %APPDATA%\Tallyfold\reports, so that a program started from the
// Start menu, whose working folder is where it is installed, can write them.
#include <windows.h>
#include <objbase.h>

#include <exception>

#include "platform/CodePage.h"
#include "platform/File.h"
#include "win32/Catalogue.h"
#include "win32/MainWindow.h"
#include "win32/Services.h"

namespace tallyfold::win32ui {
namespace {

int Project1(int show) {
  // The manifest asks for per-monitor DPI awareness; a system that ignores
  // it is asked here.
  ::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  InitSystemCodePage();
  SetLanguage(UserLanguageIsChinese() ? Language::kChinese : Language::kEnglish);
  const std::string data = UserDataFolder();
  ShellFolderPicker picker;
  ShellOpener opener;
  MessageBoxDisplay errors;
  int code = 0;
  try {
    TForm1 form(picker, opener, errors, data.empty() ? std::string() : JoinPath(data, "tallyfold.ini"),
                data.empty() ? std::string() : JoinPath(data, "reports"));
    form.Show(show);
    code = RunMessageLoop(form);
  } catch (const std::exception& error) {
    errors.ShowError(nullptr, Wide(Utf8Decode(error.what())));
    code = 1;
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  return code;
}

}  // namespace
}  // namespace tallyfold::win32ui

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) { return tallyfold::win32ui::Project1(show); }
