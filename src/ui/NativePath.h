// Paths between Qt's strings and the program's byte strings (the native
// paths the platform layer takes). POSIX systems: the file-name encoding
// Qt and the system share (QFile::encodeName). Windows: UTF-8 with '\'
// separators, as the Windows platform layer holds paths before it hands
// them to the wide file APIs; QFile::encodeName would give the ANSI code
// page there and lose what it cannot hold.
#pragma once

#include <string>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

namespace tallyfold {

inline std::string NativePath(const QString& path) {
#ifdef Q_OS_WIN
  return QDir::toNativeSeparators(path).toUtf8().toStdString();
#else
  return QFile::encodeName(path).toStdString();
#endif
}

inline QString PathFromNative(const std::string& path) {
#ifdef Q_OS_WIN
  return QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
#else
  return QFile::decodeName(QByteArray::fromStdString(path));
#endif
}

}  // namespace tallyfold
