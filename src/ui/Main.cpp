// Project1: the desktop program. It starts Qt, names the application, shows
// the main window and runs the event loop until the window closes.
//
// The program takes no arguments of its own; Qt's own options (-platform,
// -display, ...) still work. Its reports go to the user's report folder
// (UserReportFolder in ui/Services.h), made at the first start, so that a
// window started from the desktop or from any folder writes them, with their
// style sheet, to one known place. The window speaks Chinese under a Chinese
// locale and English under any other (ui/Translation.h).
#include <cstdio>
#include <cstdlib>

#include <QApplication>

#include "platform/CodePage.h"
#include "platform/Shell.h"
#include "ui/Services.h"
#include "ui/Translation.h"
#include "ui/Unit1.h"

namespace tallyfold {
namespace {

int Project1(int argc, char** argv) {
  InitSystemCodePage();
  // Without a display Qt gives up with an abort; a plain message that
  // points to the command line helps more.
  if (!DesktopAvailable()) {
    std::fputs(
        "tallyfold: no display to open the window on (DISPLAY and "
        "WAYLAND_DISPLAY are unset).\n"
        "To search from a terminal, use tallyfold-cli PATTERN FOLDER.\n",
        stderr);
    return 1;
  }
  QApplication application(argc, argv);
  ConfigureApplication();
  // Chinese for a Chinese locale (LANG=zh_CN.UTF-8, say), English otherwise.
  InstallTranslation(QLocale::system());

  QtFolderPicker folder_picker;
  QtSaveFilePicker save_picker;
  QtDesktopOpener opener;
  QtErrorDisplay errors(ApplicationTitle());
  TForm1 form(folder_picker, save_picker, opener, errors);
  form.SetReportFolder(UserReportFolder());
  form.show();
  return QApplication::exec();
}

}  // namespace
}  // namespace tallyfold

int main(int argc, char** argv) { return tallyfold::Project1(argc, argv); }
