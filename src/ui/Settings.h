// The window's settings that stay between runs: the last folder, the case
// and word-boundary options, how files without a byte-order mark are read,
// whether sub-folders are searched, what follows a search, and the last
// patterns searched for.
//
// They live in an INI file in the user's configuration folder
// (~/.config/tallyfold/tallyfold.ini on Linux), read with QSettings:
//
//   std::unique_ptr<QSettings> store = tallyfold::OpenSettings();
//   tallyfold::WindowSettings settings = tallyfold::LoadSettings(*store);
//   tallyfold::RememberPattern(settings.history, u"cat|dog"_s);
//   tallyfold::SaveSettings(*store, settings);
//
// Reading never fails: a file that is missing, unreadable or malformed, and
// any value of the wrong kind or outside the choices offered, gives that
// value's default. Saving never fails either: a file that cannot be written
// leaves the settings as they are for this run only. Tests point the file
// elsewhere with QSettings::setPath(QSettings::IniFormat,
// QSettings::UserScope, folder).
#pragma once

#include <memory>
#include <span>
#include <string>

#include <QString>
#include <QStringList>

#include "app/AfterSearchPolicy.h"  // AfterSearch
#include "text/TextFile.h"

class QSettings;

namespace tallyfold {

// The most patterns the history keeps.
inline constexpr int kHistoryLimit = 20;

// An encoding the window offers for files without a mark: the value the
// search takes (SearchOptions::encoding) and the menu's text for it, in
// English (SettingsText gives it in the user's language).
struct EncodingChoice {
  const char* value;
  const char* label;
};

// "auto" (labelled with the fallback it uses), "utf-8", "locale", then the
// legacy character sets by their iconv names (kLegacyEncodings,
// text/TextFile.h), then "UTF-16LE" and "UTF-16BE": every encoding the
// note may advise (IsOfferedEncoding, app/SearchNotes.h).
std::span<const EncodingChoice> EncodingChoices();

// The encodings "auto" may fall back to: the legacy character sets above.
std::span<const char* const> FallbackChoices();

// The value each choice of what follows a search (app/AfterSearchPolicy.h)
// is stored as ("report", "results", "both") and its menu text, in the order
// of AfterSearch.
struct AfterSearchChoice {
  AfterSearch value;
  const char* key;
  const char* label;
};
std::span<const AfterSearchChoice> AfterSearchChoices();

struct WindowSettings {
  std::string folder;  // native byte path; empty when there is none
  bool case_sensitive = false;
  bool word_boundary = true;
  std::string encoding = "auto";         // one of EncodingChoices()
  std::string fallback_encoding = kDefaultFallbackEncoding;  // one of FallbackChoices()
  bool recursive = false;
  AfterSearch after_search = AfterSearch::kOpenReport;
  QStringList history;  // most recent first, no two alike, at most kHistoryLimit
};

// A menu text of the choices above in the user's language.
QString SettingsText(const char* text);
// The menu's text for the encoding `value` (one of EncodingChoices();
// "auto" names `fallback`); an unknown value as it is.
QString EncodingLabel(const std::string& value, const std::string& fallback);
// The titles of the settings in the window's context menu.
QString EncodingMenuTitle();
QString FallbackMenuTitle();
QString RecursiveTitle();
QString AfterSearchMenuTitle();

// The user's settings file.
std::unique_ptr<QSettings> OpenSettings();

// The settings in `store`, each missing or unusable one as its default. A
// folder that is no longer a folder is forgotten.
WindowSettings LoadSettings(QSettings& store);

// Writes `settings` to `store` and flushes it to disk. False when the file
// could not be written (the caller goes on all the same).
bool SaveSettings(QSettings& store, const WindowSettings& settings);

// Puts the trimmed `pattern` first in `history`, dropping an older copy of
// it and whatever goes past kHistoryLimit. A blank pattern changes nothing.
void RememberPattern(QStringList& history, const QString& pattern);

}  // namespace tallyfold
