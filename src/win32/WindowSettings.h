// The Windows window's settings that stay between runs, and their file.
//
// The window remembers the last folder, the case and word-boundary boxes,
// how files without a byte-order mark are read, whether sub-folders are
// searched and the last kHistoryLimit patterns searched for, in an INI file
// under the user's roaming application data
// (%APPDATA%\Tallyfold\tallyfold.ini). The file is UTF-16 with a byte-order mark, one
// "key=value" a line under "[General]"; a pattern's backslashes and line
// breaks are written as \\, \r and \n, so that any pattern, lone surrogates
// and NULs included, comes back as it was:
//
//   tallyfold::win32ui::WindowSettings settings =
//       tallyfold::win32ui::ParseSettings(lines_of_the_file);
//   tallyfold::win32ui::RememberPattern(settings.history, u"cat|dog");
//   std::vector<std::u16string> lines = tallyfold::win32ui::FormatSettings(settings);
//
// Reading never fails: a missing or malformed line, and any value outside
// the choices offered, gives that value's default. Load and Save (which
// touch the file) never raise either.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "text/TextFile.h"

namespace tallyfold::win32ui {

// The most patterns the history keeps.
inline constexpr int kHistoryLimit = 20;

// The encodings offered for files without a mark: the value the search
// takes (SearchOptions::encoding) and its English label; "auto", "utf-8",
// "locale", then the legacy character sets (kLegacyEncodings).
struct EncodingChoice {
  const char* value;
  const char* label;
};
std::span<const EncodingChoice> EncodingChoices();

struct WindowSettings {
  std::string folder;  // UTF-8 path; empty when there is none
  bool case_sensitive = false;
  bool word_boundary = true;
  std::string encoding = "auto";                             // one of EncodingChoices()
  std::string fallback_encoding = kDefaultFallbackEncoding;  // one of kLegacyEncodings
  bool recursive = false;
  std::vector<std::u16string> history;  // most recent first, no two alike, trimmed
};

// The settings that the lines of a settings file hold. The folder is taken
// as written; the caller drops one that is no longer a folder.
WindowSettings ParseSettings(const std::vector<std::u16string>& lines);
// The lines of the file for `settings`.
std::vector<std::u16string> FormatSettings(const WindowSettings& settings);

// Puts the trimmed `pattern` first in `history`, dropping an older copy of
// it and whatever goes past kHistoryLimit. A blank pattern changes nothing.
void RememberPattern(std::vector<std::u16string>& history, const std::u16string& pattern);

// The menu's label for the encoding `value` in the current language ("auto"
// names `fallback`); an unknown value as it is.
std::u16string EncodingLabel(const std::string& value, const std::string& fallback);
// The titles of the window's context menu.
std::u16string EncodingMenuTitle();
std::u16string FallbackMenuTitle();
std::u16string RecursiveTitle();
std::u16string RecentPatternsTitle();

// The reading settings of `settings` that differ from the defaults in a
// few words ("BIG5, sub-folders"); empty with the defaults.
std::u16string ReadingSettingsText(const WindowSettings& settings);

// The settings in the file at `path` (UTF-8), the defaults when it cannot be
// read; a folder that is no longer a folder is forgotten.
WindowSettings LoadSettings(const std::string& path);
// Writes `settings` to `path`, whose folder must exist. False when that failed
// (the window goes on as set, for this run only).
bool SaveSettings(const std::string& path, const WindowSettings& settings);

}  // namespace tallyfold::win32ui
