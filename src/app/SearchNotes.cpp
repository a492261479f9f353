// What a search tells its user besides its counts: the readings summed up
// and the pattern's pitfalls.
//
// This file's external interface is SearchNotes.h;
// tests/app/SearchNotesTest.cpp covers it.
#include "app/SearchNotes.h"

#include <algorithm>

#include "text/TextLines.h"
#include "text/WideHelpers.h"

namespace tallyfold {

namespace {

bool SameName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

bool IsUtf8Name(const std::string& codeset) {
  return SameName(codeset, "UTF-8") || SameName(codeset, "UTF8");
}

// The --encoding value to advise, tried on the files it would change. A
// file read by its byte-order mark is read the same whatever the setting.
// When files were read in a set the user named, the automatic choice is the
// candidate; otherwise the one set every file without a mark read cleanly
// was read in, which a named setting reads the same (a folder whose clean
// files are in several sets has none: any one setting would misread the
// others). The candidate is advised when each file with replacements reads
// with fewer of them, and, for "auto", each clean file reads as it was.
std::string EncodingHint(const std::vector<FileReading>& readings, const ReadingTrial& trial) {
  if (!trial) return std::string();
  std::vector<const FileReading*> dirty;
  std::vector<const FileReading*> clean;
  bool named = false;
  for (const FileReading& reading : readings) {
    if (reading.read.mark != teAnsi) continue;
    (reading.read.malformed > 0 ? dirty : clean).push_back(&reading);
    named = named || reading.read.choice == TReadChoice::kNamed;
  }
  if (dirty.empty()) return std::string();
  std::string candidate;
  if (named) {
    candidate = "auto";
  } else {
    if (clean.empty()) return std::string();
    candidate = clean.front()->read.codeset;
    for (const FileReading* reading : clean)
      if (!SameName(reading->read.codeset, candidate)) return std::string();
    if (!IsOfferedEncoding(candidate)) return std::string();
  }
  const std::size_t trials = dirty.size() + (named ? clean.size() : 0);
  if (trials > static_cast<std::size_t>(kMostHintTrials)) return std::string();
  for (const FileReading* reading : dirty) {
    const std::optional<TrialReading> tried = trial(*reading, candidate);
    if (!tried || tried->malformed >= reading->read.malformed) return std::string();
  }
  if (named) {
    for (const FileReading* reading : clean) {
      const std::optional<TrialReading> tried = trial(*reading, candidate);
      if (!tried || tried->malformed > 0 || !SameName(tried->codeset, reading->read.codeset))
        return std::string();
    }
  }
  return candidate;
}

// The characters outside a class that mean something other than themselves
// where an atom starts or ends, as the compiler reads them; '{', '}' and
// ']' are literal there at times, but are taken as meaning something, so
// that no advice is given on a guess.
bool IsSyntax(char16_t unit) {
  return std::u16string_view(u"^$.[]()|?+*{}").find(unit) != std::u16string_view::npos;
}

bool IsAsciiAlphanumeric(char16_t unit) {
  return (unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'z') ||
         (unit >= u'A' && unit <= u'Z');
}

// Whether `\e` outside a class never matches a space: a class that holds
// none, or a literal other than a space. Escapes that stand for a code or a
// class that may hold one (\x20, \s, \D, \W, \t ...) are not judged.
bool EscapeNeverSpace(char16_t e) {
  if (e == u'd' || e == u'w' || e == u'S') return true;
  return !IsAsciiAlphanumeric(e) && e != u' ';
}

// The backslashes right before `end` (exclusive).
std::size_t BackslashesBefore(std::u16string_view text, std::size_t end) {
  std::size_t count = 0;
  while (count < end && text[end - count - 1] == u'\\') ++count;
  return count;
}

// Whether the atom at `at` matches exactly one character that is never a
// space, and is not made optional by a quantifier after it.
bool NeverSpaceAt(std::u16string_view text, std::size_t at) {
  if (at >= text.size()) return false;
  std::size_t length = 1;
  const char16_t unit = text[at];
  if (unit == u'\\') {
    if (at + 1 == text.size() || !EscapeNeverSpace(text[at + 1])) return false;
    length = 2;
  } else if (IsSyntax(unit) || unit == u' ') {
    return false;
  } else if (IsHighSurrogate(unit) && at + 1 < text.size() && IsLowSurrogate(text[at + 1])) {
    length = 2;
  }
  const std::size_t next = at + length;
  return next == text.size() || (text[next] != u'?' && text[next] != u'*' && text[next] != u'{');
}

// Whether the atom that ends right before `end` matches one character that
// is never a space.
bool NeverSpaceBefore(std::u16string_view text, std::size_t end) {
  if (end == 0) return false;
  const char16_t unit = text[end - 1];
  // The anchor at `end` is not escaped, so a backslash before it is the
  // second of an escaped backslash.
  if (unit == u'\\') return true;
  if (BackslashesBefore(text, end - 1) % 2 == 1) return EscapeNeverSpace(unit);
  return !IsSyntax(unit) && unit != u' ';
}

// The length of the start anchor the text begins with, 0 without one.
std::size_t StartAnchorLength(std::u16string_view text) {
  if (!text.empty() && text[0] == u'^') return 1;
  if (text.size() >= 2 && text[0] == u'\\' && text[1] == u'A') return 2;
  return 0;
}

// Where the end anchor the text ends with begins, or npos without one.
std::size_t EndAnchorAt(std::u16string_view text) {
  const std::size_t size = text.size();
  if (size >= 1 && text[size - 1] == u'$' && BackslashesBefore(text, size - 1) % 2 == 0)
    return size - 1;
  if (size >= 2 && text[size - 1] == u'Z' && BackslashesBefore(text, size - 1) % 2 == 1)
    return size - 2;
  return std::u16string_view::npos;
}

}  // namespace

ReadingTrial FileReadingTrial(const std::string& fallback) {
  return [fallback](const FileReading& file,
                    const std::string& encoding) -> std::optional<TrialReading> {
    try {
      TTextReadInfo info;
      ReadTextLines(file.path, TextDecodingNamed(encoding, fallback), nullptr, nullptr, &info,
                    [](int, std::u16string_view) {});
      return TrialReading{info.codeset, info.malformed};
    } catch (const Exception&) {
      return std::nullopt;
    }
  };
}

bool IsOfferedEncoding(const std::string& encoding) {
  for (const char* offered : {"auto", "utf-8", "UTF-16LE", "UTF-16BE"})
    if (SameName(encoding, offered)) return true;
  for (const char* offered : kLegacyEncodings)
    if (SameName(encoding, offered)) return true;
  return false;
}

ReadingSummary SummarizeReadings(const std::vector<FileReading>& readings,
                                 const ReadingTrial& trial) {
  ReadingSummary summary;
  for (const FileReading& reading : readings) {
    const TTextReadInfo& read = reading.read;
    if (read.mark == teAnsi && !IsUtf8Name(read.codeset)) {
      auto codeset = std::find_if(summary.codesets.begin(), summary.codesets.end(),
                                  [&](const auto& entry) { return entry.name == read.codeset; });
      if (codeset == summary.codesets.end()) {
        summary.codesets.push_back({read.codeset, 0, {}});
        codeset = summary.codesets.end() - 1;
      }
      ++codeset->files;
      auto why = std::find_if(codeset->why.begin(), codeset->why.end(),
                              [&](const auto& entry) { return entry.choice == read.choice; });
      if (why == codeset->why.end())
        codeset->why.push_back({read.choice, 1});
      else
        ++why->files;
    }
    if (!read.comparison.chosen.empty()) {
      ++summary.compared_files;
      const bool overruled = read.choice == TReadChoice::kCompared;
      if (overruled) ++summary.overruled_files;
      if (summary.compared_example.empty() || (overruled && summary.overruled_files == 1)) {
        summary.compared_example = reading.shown_name;
        summary.comparison = read.comparison;
      }
    }
    if (read.malformed > 0) {
      ++summary.replaced_files;
      summary.replaced += read.malformed;
      if (summary.examples.size() < static_cast<std::size_t>(kSummaryExamples))
        summary.examples.push_back(reading.shown_name);
    }
    if (read.nuls > 0) {
      ++summary.nul_files;
      summary.nuls += read.nuls;
    }
    if (read.choice == TReadChoice::kFallback && !read.detected.empty()) {
      if (summary.undetected_files == 0) summary.undetected = read.detected;
      ++summary.undetected_files;
    }
    if (read.changed) summary.changed.push_back(reading.shown_name);
    if (read.sizeless) summary.sizeless.push_back(reading.shown_name);
  }
  std::sort(summary.codesets.begin(), summary.codesets.end(), [](const auto& a, const auto& b) {
    return a.files != b.files ? a.files > b.files : a.name < b.name;
  });
  for (ReadingSummary::Codeset& codeset : summary.codesets) {
    std::sort(codeset.why.begin(), codeset.why.end(),
              [](const auto& a, const auto& b) { return a.choice < b.choice; });
  }
  summary.encoding_hint = EncodingHint(readings, trial);
  return summary;
}

std::vector<PatternAdvice> AdvisePattern(const std::u16string& pattern_text, bool word_boundary) {
  std::vector<PatternAdvice> advice;
  const std::u16string text = TrimWide(pattern_text);
  if (text.empty()) return advice;
  const std::u16string_view view(text);

  const std::size_t start_anchor = StartAnchorLength(view);
  std::size_t end_anchor = EndAnchorAt(view);
  if (end_anchor != std::u16string_view::npos && end_anchor < start_anchor)
    end_anchor = std::u16string_view::npos;  // "\A" is no "\Z", "^" no "$"
  const bool has_end = end_anchor != std::u16string_view::npos;
  // A space goes between an anchor and an edge atom that never matches the
  // space the search adds at that end of the line.
  const bool mend_start = start_anchor > 0 && NeverSpaceAt(view, start_anchor);
  const bool mend_end = has_end && NeverSpaceBefore(view, end_anchor);
  std::u16string better = text;
  if (mend_end) better.insert(end_anchor, 1, u' ');
  if (mend_start) better.insert(start_anchor, 1, u' ');

  // The \b of the wrap stands at position 0 or at the end, beside the
  // added space, where it never matches: an anchor next to it can never
  // match, whatever follows the anchor.
  if (start_anchor > 0 && (mend_start || word_boundary)) {
    advice.push_back({PatternPitfall::kStartAnchor, text.substr(0, start_anchor), better,
                      word_boundary});
  } else if (word_boundary && text.front() > 0x7F) {
    const std::size_t length =
        text.size() > 1 && IsHighSurrogate(text[0]) && IsLowSurrogate(text[1]) ? 2 : 1;
    advice.push_back({PatternPitfall::kBoundaryBeside, text.substr(0, length), u"", true});
  }
  if (has_end && (mend_end || word_boundary)) {
    advice.push_back(
        {PatternPitfall::kEndAnchor, text.substr(end_anchor), better, word_boundary});
  } else if (word_boundary && text.back() > 0x7F) {
    const std::size_t length =
        text.size() > 1 && IsLowSurrogate(text.back()) && IsHighSurrogate(text[text.size() - 2])
            ? 2
            : 1;
    // A pattern of one character has one edge.
    const bool same = advice.size() == 1 && advice[0].pitfall == PatternPitfall::kBoundaryBeside &&
                      advice[0].edge.size() == text.size();
    if (!same)
      advice.push_back({PatternPitfall::kBoundaryBeside, text.substr(text.size() - length), u"",
                        true});
  }
  return advice;
}

}  // namespace tallyfold
