// The window's settings file (Settings.h).
#include "ui/Settings.h"

#include <array>
#include <iterator>

#include <QCoreApplication>
#include <QSettings>
#include <QVariant>

#include "platform/File.h"
#include "text/TextFile.h"
#include "text/WideHelpers.h"
#include "ui/NativePath.h"

namespace tallyfold {
namespace {

// The menu texts are translated where they are shown (SettingsText); a
// legacy character set is labelled with its name.
constexpr EncodingChoice kReadingChoices[] = {
    {"auto", QT_TRANSLATE_NOOP("tallyfold::Settings", "Automatic (by each file's content, else %1)")},
    {"utf-8", "UTF-8"},
    {"locale", QT_TRANSLATE_NOOP("tallyfold::Settings", "The locale's")},
};
// UTF-16 without a mark, in the order its bytes are in: the automatic
// choice tells it by its zero bytes, and the note may advise either.
constexpr EncodingChoice kWideChoices[] = {{"UTF-16LE", "UTF-16LE"}, {"UTF-16BE", "UTF-16BE"}};

constexpr auto kEncodings = [] {
  std::array<EncodingChoice, std::size(kReadingChoices) + std::size(kLegacyEncodings) +
                                 std::size(kWideChoices)>
      all{};
  std::size_t at = 0;
  for (const EncodingChoice& choice : kReadingChoices) all[at++] = choice;
  for (const char* name : kLegacyEncodings) all[at++] = {name, name};
  for (const EncodingChoice& choice : kWideChoices) all[at++] = choice;
  return all;
}();

constexpr AfterSearchChoice kAfterSearch[] = {
    {AfterSearch::kOpenReport, "report",
     QT_TRANSLATE_NOOP("tallyfold::Settings", "Open the report")},
    {AfterSearch::kShowResults, "results",
     QT_TRANSLATE_NOOP("tallyfold::Settings", "Show the results window")},
    {AfterSearch::kBoth, "both",
     QT_TRANSLATE_NOOP("tallyfold::Settings", "Open the report and show the results window")},
};

// The keys of the file.
const QString kFolderKey = QStringLiteral("folder");
const QString kCaseKey = QStringLiteral("case");
const QString kBoundaryKey = QStringLiteral("add_boundary");
const QString kEncodingKey = QStringLiteral("encoding");
const QString kFallbackKey = QStringLiteral("fallback_encoding");
const QString kRecursiveKey = QStringLiteral("include_sub_folders");
const QString kHistoryKey = QStringLiteral("history");
const QString kAfterSearchKey = QStringLiteral("after_search");

// A flag as written ("true", "false"); anything else is the default. A
// plain QVariant::toBool would take any other text for true.
bool ReadFlag(const QSettings& store, const QString& key, bool fallback) {
  const QVariant value = store.value(key);
  if (value.typeId() == QMetaType::Bool) return value.toBool();
  if (value.typeId() != QMetaType::QString) return fallback;
  const QString text = value.toString();
  if (text == QLatin1String("true")) return true;
  if (text == QLatin1String("false")) return false;
  return fallback;
}

// One of `choices`, matched without regard to case and given back as the
// choice spells it; anything else is the default.
template <typename Choices, typename ValueOf>
std::string ReadChoice(const QSettings& store, const QString& key, const Choices& choices,
                       ValueOf value_of, const std::string& fallback) {
  const QVariant value = store.value(key);
  if (value.typeId() != QMetaType::QString) return fallback;
  const QString text = value.toString();
  for (const auto& choice : choices) {
    if (text.compare(QLatin1String(value_of(choice)), Qt::CaseInsensitive) == 0)
      return value_of(choice);
  }
  return fallback;
}

// The folder's bytes: written as a byte array, so that a name that is not
// valid text in the locale comes back unchanged; a folder typed into the
// file by hand is text.
std::string ReadFolder(const QSettings& store) {
  const QVariant value = store.value(kFolderKey);
  std::string folder;
  if (value.typeId() == QMetaType::QByteArray) {
    folder = value.toByteArray().toStdString();
  } else if (value.typeId() == QMetaType::QString) {
    folder = NativePath(value.toString());
  }
  // A folder that went away since would only give empty reports.
  if (folder.empty() || folder.find('\0') != std::string::npos || CheckIsFolder(folder) != 0) {
    return std::string();
  }
  return folder;
}

QStringList ReadHistory(const QSettings& store) {
  const QVariant value = store.value(kHistoryKey);
  QStringList history;
  // One pattern is read back as a string, several as a list; anything else
  // is no history.
  QStringList stored;
  if (value.typeId() == QMetaType::QStringList) {
    stored = value.toStringList();
  } else if (value.typeId() == QMetaType::QString) {
    stored = QStringList{value.toString()};
  } else if (value.typeId() == QMetaType::QVariantList) {
    for (const QVariant& item : value.toList())
      if (item.typeId() == QMetaType::QString) stored << item.toString();
  }
  // Oldest last: remembering them from the end keeps the order and drops
  // blanks, copies and the excess as a new pattern would.
  for (auto it = stored.crbegin(); it != stored.crend(); ++it) RememberPattern(history, *it);
  return history;
}

}  // namespace

std::span<const EncodingChoice> EncodingChoices() { return kEncodings; }

std::span<const char* const> FallbackChoices() { return kLegacyEncodings; }

std::span<const AfterSearchChoice> AfterSearchChoices() { return kAfterSearch; }

QString SettingsText(const char* text) {
  return QCoreApplication::translate("tallyfold::Settings", text);
}

QString EncodingLabel(const std::string& value, const std::string& fallback) {
  for (const EncodingChoice& choice : EncodingChoices()) {
    if (value != choice.value) continue;
    QString label = SettingsText(choice.label);
    if (value == "auto") label = label.arg(QString::fromStdString(fallback));
    return label;
  }
  return QString::fromStdString(value);
}

QString EncodingMenuTitle() {
  return SettingsText(QT_TRANSLATE_NOOP("tallyfold::Settings", "Encoding of files without a mark"));
}

QString FallbackMenuTitle() {
  return SettingsText(QT_TRANSLATE_NOOP("tallyfold::Settings", "When not UTF-8, Automatic reads"));
}

QString RecursiveTitle() {
  return SettingsText(QT_TRANSLATE_NOOP("tallyfold::Settings", "Include sub-folders"));
}

QString AfterSearchMenuTitle() {
  return SettingsText(QT_TRANSLATE_NOOP("tallyfold::Settings", "After a search"));
}

std::unique_ptr<QSettings> OpenSettings() {
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                     QStringLiteral("tallyfold"), QStringLiteral("tallyfold"));
}

WindowSettings LoadSettings(QSettings& store) {
  WindowSettings settings;
  // A file that cannot be read or parsed is no settings at all rather than
  // whatever part of it happened to parse.
  if (store.status() != QSettings::NoError) return settings;
  settings.folder = ReadFolder(store);
  settings.case_sensitive = ReadFlag(store, kCaseKey, settings.case_sensitive);
  settings.word_boundary = ReadFlag(store, kBoundaryKey, settings.word_boundary);
  settings.encoding =
      ReadChoice(store, kEncodingKey, EncodingChoices(),
                 [](const EncodingChoice& choice) { return choice.value; }, settings.encoding);
  settings.fallback_encoding =
      ReadChoice(store, kFallbackKey, FallbackChoices(),
                 [](const char* choice) { return choice; }, settings.fallback_encoding);
  settings.recursive = ReadFlag(store, kRecursiveKey, settings.recursive);
  const std::string after =
      ReadChoice(store, kAfterSearchKey, AfterSearchChoices(),
                 [](const AfterSearchChoice& choice) { return choice.key; }, std::string());
  for (const AfterSearchChoice& choice : AfterSearchChoices())
    if (after == choice.key) settings.after_search = choice.value;
  settings.history = ReadHistory(store);
  return settings;
}

bool SaveSettings(QSettings& store, const WindowSettings& settings) {
  store.setValue(kFolderKey, QByteArray::fromStdString(settings.folder));
  store.setValue(kCaseKey, settings.case_sensitive);
  store.setValue(kBoundaryKey, settings.word_boundary);
  store.setValue(kEncodingKey, QString::fromStdString(settings.encoding));
  store.setValue(kFallbackKey, QString::fromStdString(settings.fallback_encoding));
  store.setValue(kRecursiveKey, settings.recursive);
  for (const AfterSearchChoice& choice : AfterSearchChoices())
    if (choice.value == settings.after_search)
      store.setValue(kAfterSearchKey, QString::fromLatin1(choice.key));
  store.setValue(kHistoryKey, settings.history);
  store.sync();
  return store.status() == QSettings::NoError;
}

void RememberPattern(QStringList& history, const QString& pattern) {
  const QString trimmed = QString::fromStdU16String(TrimWide(pattern.toStdU16String()));
  if (trimmed.isEmpty()) return;
  history.removeAll(trimmed);
  history.prepend(trimmed);
  while (history.size() > kHistoryLimit) history.removeLast();
}

}  // namespace tallyfold
