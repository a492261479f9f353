// The window's language: its own texts in Simplified Chinese for a Chinese
// locale, as written in src/ui/translations/tallyfold_zh_CN.ts, and in
// English, as in the sources, for any other.
//
//   QApplication application(argc, argv);
//   tallyfold::InstallTranslation(QLocale::system());   // LANG=zh_CN.UTF-8: Chinese
//
// The translation is built into the program; an installed copy in
// share/tallyfold/translations beside the program's folder is the second
// place looked in. When neither is there the window stays in English. Qt's
// own texts (the buttons of its dialogs) follow when the system has Qt's
// translations for the language.
//
// The texts the window is defined with stay as they are in every language:
// its caption, "检索", "选择目录", " case", " add \b", the application title
// "检索工具", the engine's messages and the report.
#pragma once

#include <QLocale>

namespace tallyfold {

// Installs the translation for `locale` into the running application, in
// place of one installed before. True when the window's texts are now
// translated; false for a locale they are not translated for, or when the
// translation cannot be found.
bool InstallTranslation(const QLocale& locale);

// Back to the texts as written.
void RemoveTranslation();

}  // namespace tallyfold
