// Loading the window's translation (Translation.h).
//
// tests/ui/TranslationTest.cpp covers it.
#include "ui/Translation.h"

#include <memory>

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

namespace tallyfold {
namespace {

// The one language the window is translated into, and where its file is:
// built in as a resource, then installed beside the program.
const QString kTranslation = QStringLiteral("tallyfold_zh_CN");
const QString kBuiltIn = QStringLiteral(":/i18n");
const QString kInstalled = QStringLiteral("/../share/tallyfold/translations");

// Installed into the application, and deleted with it or by
// RemoveTranslation.
QPointer<QTranslator> own_translator;
QPointer<QTranslator> qt_translator;

}  // namespace

void RemoveTranslation() {
  delete own_translator;
  delete qt_translator;
}

bool InstallTranslation(const QLocale& locale) {
  RemoveTranslation();
  QCoreApplication* application = QCoreApplication::instance();
  if (application == nullptr || locale.language() != QLocale::Chinese) return false;
  auto own = std::make_unique<QTranslator>(application);
  if (!own->load(kTranslation, kBuiltIn) &&
      !own->load(kTranslation, QCoreApplication::applicationDirPath() + kInstalled)) {
    return false;
  }
  QCoreApplication::installTranslator(own.get());
  own_translator = own.release();
  // Qt's own texts, where the system has them; without them the buttons of
  // its dialogs stay in English.
  auto qt = std::make_unique<QTranslator>(application);
  if (qt->load(QStringLiteral("qtbase_zh_CN"),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(qt.get());
    qt_translator = qt.release();
  }
  return true;
}

}  // namespace tallyfold
