// The window's settings and their file (WindowSettings.h).
#include "win32/WindowSettings.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "platform/File.h"
#include "text/StringList.h"
#include "text/WideHelpers.h"
#include "win32/Catalogue.h"

namespace tallyfold::win32ui {
namespace {

constexpr const char* kSettingsContext = "tallyfold::Settings";
constexpr const char* kFormContext = "tallyfold::TForm1";

constexpr EncodingChoice kReadingChoices[] = {
    {"auto", "Automatic (by each file's content, else %1)"},
    {"utf-8", "UTF-8"},
    {"locale", "The locale's"},
};
// UTF-16 without a mark, which the note may advise.
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

constexpr char16_t kSection[] = u"[General]";
constexpr char16_t kFolderKey[] = u"folder";
constexpr char16_t kCaseKey[] = u"case";
constexpr char16_t kBoundaryKey[] = u"add_boundary";
constexpr char16_t kEncodingKey[] = u"encoding";
constexpr char16_t kFallbackKey[] = u"fallback_encoding";
constexpr char16_t kRecursiveKey[] = u"include_sub_folders";
constexpr char16_t kHistoryKey[] = u"history";  // history1 ... history20

std::u16string Escape(std::u16string_view text) {
  std::u16string out;
  for (char16_t unit : text) {
    switch (unit) {
      case u'\\': out += u"\\\\"; break;
      case u'\r': out += u"\\r"; break;
      case u'\n': out += u"\\n"; break;
      default: out += unit;
    }
  }
  return out;
}

std::u16string Unescape(std::u16string_view text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\\' && i + 1 < text.size()) {
      const char16_t next = text[i + 1];
      if (next == u'\\' || next == u'r' || next == u'n') {
        out += next == u'\\' ? u'\\' : next == u'r' ? u'\r' : u'\n';
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// A flag as written ("true", "false"); anything else is the default.
bool ReadFlag(std::u16string_view value, bool fallback) {
  if (value == u"true") return true;
  if (value == u"false") return false;
  return fallback;
}

std::u16string Flag(bool value) { return value ? u"true" : u"false"; }

bool SameIgnoringAsciiCase(std::u16string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char16_t unit) {
      return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit;
    };
    if (lower(a[i]) != lower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// One of `names`, matched without regard to ASCII case and given back as it
// is spelt there; anything else is the default.
template <typename Names>
std::string ReadChoice(std::u16string_view value, const Names& names, const std::string& fallback) {
  for (const char* name : names)
    if (SameIgnoringAsciiCase(value, name)) return name;
  return fallback;
}

std::vector<const char*> EncodingValues() {
  std::vector<const char*> values;
  for (const EncodingChoice& choice : kEncodings) values.push_back(choice.value);
  return values;
}

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

}  // namespace

std::span<const EncodingChoice> EncodingChoices() { return kEncodings; }

WindowSettings ParseSettings(const std::vector<std::u16string>& lines) {
  WindowSettings settings;
  std::array<std::u16string, kHistoryLimit> history;
  std::array<bool, kHistoryLimit> has_history{};
  bool in_section = false;
  for (const std::u16string& line : lines) {
    if (!line.empty() && line.front() == u'[') {
      in_section = line == kSection;
      continue;
    }
    const std::size_t equals = line.find(u'=');
    if (!in_section || equals == std::u16string::npos) continue;
    const std::u16string_view key = std::u16string_view(line).substr(0, equals);
    const std::u16string_view value = std::u16string_view(line).substr(equals + 1);
    if (key == kFolderKey) {
      settings.folder = Utf8Encode(Unescape(value));
    } else if (key == kCaseKey) {
      settings.case_sensitive = ReadFlag(value, settings.case_sensitive);
    } else if (key == kBoundaryKey) {
      settings.word_boundary = ReadFlag(value, settings.word_boundary);
    } else if (key == kEncodingKey) {
      settings.encoding = ReadChoice(value, EncodingValues(), settings.encoding);
    } else if (key == kFallbackKey) {
      settings.fallback_encoding = ReadChoice(value, kLegacyEncodings, settings.fallback_encoding);
    } else if (key == kRecursiveKey) {
      settings.recursive = ReadFlag(value, settings.recursive);
    } else if (key.starts_with(kHistoryKey)) {
      const std::u16string_view number = key.substr(std::size(kHistoryKey) - 1);
      int index = 0;
      bool valid = !number.empty() && number.size() <= 2 && number.front() != u'0';
      for (char16_t digit : number) {
        valid = valid && digit >= u'0' && digit <= u'9';
        index = index * 10 + (digit - u'0');
      }
      if (valid && index >= 1 && index <= kHistoryLimit) {
        history[index - 1] = Unescape(value);
        has_history[index - 1] = true;
      }
    }
  }
  // Oldest first: remembering them in that order keeps the order and drops
  // blanks and copies as a new pattern would.
  for (int i = kHistoryLimit - 1; i >= 0; --i)
    if (has_history[i]) RememberPattern(settings.history, history[i]);
  return settings;
}

std::vector<std::u16string> FormatSettings(const WindowSettings& settings) {
  std::vector<std::u16string> lines{kSection};
  const auto add = [&](std::u16string_view key, const std::u16string& value) {
    lines.push_back(std::u16string(key) + u'=' + value);
  };
  add(kFolderKey, Escape(Utf8Decode(settings.folder)));
  add(kCaseKey, Flag(settings.case_sensitive));
  add(kBoundaryKey, Flag(settings.word_boundary));
  add(kEncodingKey, Ascii(settings.encoding));
  add(kFallbackKey, Ascii(settings.fallback_encoding));
  add(kRecursiveKey, Flag(settings.recursive));
  const std::size_t kept = std::min<std::size_t>(settings.history.size(), kHistoryLimit);
  for (std::size_t i = 0; i < kept; ++i)
    add(kHistoryKey + Ascii(std::to_string(i + 1)), Escape(settings.history[i]));
  return lines;
}

void RememberPattern(std::vector<std::u16string>& history, const std::u16string& pattern) {
  std::u16string trimmed = TrimWide(pattern);
  if (trimmed.empty()) return;
  std::erase(history, trimmed);
  history.insert(history.begin(), std::move(trimmed));
  if (history.size() > static_cast<std::size_t>(kHistoryLimit)) history.resize(kHistoryLimit);
}

std::u16string EncodingLabel(const std::string& value, const std::string& fallback) {
  for (const EncodingChoice& choice : kEncodings) {
    if (value != choice.value) continue;
    std::u16string label = Tr(kSettingsContext, choice.label);
    if (value == "auto") label = FillIn(label, {Ascii(fallback)});
    return label;
  }
  return FromUtf8(value);
}

std::u16string EncodingMenuTitle() { return Tr(kSettingsContext, "Encoding of files without a mark"); }
std::u16string FallbackMenuTitle() { return Tr(kSettingsContext, "When not UTF-8, Automatic reads"); }
std::u16string RecursiveTitle() { return Tr(kSettingsContext, "Include sub-folders"); }
std::u16string RecentPatternsTitle() { return Tr(kFormContext, "Recent patterns"); }

std::u16string ReadingSettingsText(const WindowSettings& settings) {
  const WindowSettings defaults;
  std::vector<std::u16string> parts;
  if (settings.encoding != defaults.encoding) {
    parts.push_back(settings.encoding == "locale" ? Tr(kFormContext, "locale's encoding")
                                                  : EncodingLabel(settings.encoding, {}));
  } else if (settings.fallback_encoding != defaults.fallback_encoding) {
    parts.push_back(FillIn(Tr(kFormContext, "automatic, else %1"), {Ascii(settings.fallback_encoding)}));
  }
  if (settings.recursive) parts.push_back(Tr(kFormContext, "sub-folders"));
  std::u16string text;
  for (const std::u16string& part : parts) {
    if (!text.empty()) text += Tr(kFormContext, ", ");
    text += part;
  }
  return text;
}

WindowSettings LoadSettings(const std::string& path) {
  TUnicodeStringList file;
  try {
    file.ReadTextFile(path);
  } catch (const std::exception&) {
    return WindowSettings();  // none yet, or unreadable: the defaults
  }
  std::vector<std::u16string> lines;
  for (int i = 0; i < file.ItemCount(); ++i) lines.push_back(file.ItemRef(i));
  WindowSettings settings = ParseSettings(lines);
  // A folder that went away since would only give empty reports.
  if (settings.folder.find('\0') != std::string::npos || CheckIsFolder(settings.folder) != 0)
    settings.folder.clear();
  return settings;
}

bool SaveSettings(const std::string& path, const WindowSettings& settings) {
  TUnicodeStringList file;
  for (std::u16string& line : FormatSettings(settings)) file.AppendItem(std::move(line));
  try {
    file.WriteTextFile(path);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace tallyfold::win32ui
