// Build-time helper: writes the program's icon as PNG files for the desktop's
// icon theme, so the installed icons and the window's own icon are one
// drawing.
//
//   tallyfold-icon OUTPUT_FOLDER   # writes tallyfold-16.png ... tallyfold-256.png
#include <cstdio>

#include <QDir>
#include <QString>

#include "ui/AppIcon.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tallyfold-icon OUTPUT_FOLDER\n");
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  for (const int size : tallyfold::kAppIconSizes) {
    const QString path = folder.filePath(QStringLiteral("tallyfold-%1.png").arg(size));
    if (!tallyfold::DrawAppIcon(size).save(path)) {
      std::fprintf(stderr, "tallyfold-icon: cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
