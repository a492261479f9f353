// What the user of a search should be told besides its counts: how the
// corpus files were read, and where the pattern as typed can never match.
//
// Both front ends tell it, each in its own words: the command line in
// English on standard error, the window in the user's language in its note.
// This layer gives the facts; the wording is the front end's.
//
//   tallyfold::SearchStats stats;
//   tallyfold::RunSearch(options, lists, stats);
//   tallyfold::ReadingSummary reading = tallyfold::SummarizeReadings(
//       stats.readings, tallyfold::FileReadingTrial("GB18030"));
//   if (!reading.Empty()) ...   // "3 files read as BIG5; 1 file had bytes replaced: a.txt"
//   for (const auto& advice : tallyfold::AdvisePattern(u"的", true)) ...
//                               // kBoundaryBeside, edge u"的"
//
// Nothing here raises; a trial reads files again, and only when some file
// had bytes replaced.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "text/TextFile.h"

namespace tallyfold {

// How one corpus file was read.
struct FileReading {
  std::string path;        // native byte path
  std::string shown_name;  // as the report's rows name it
  TTextReadInfo read;
};

// The first this many files with replaced bytes are named in a summary.
inline constexpr int kSummaryExamples = 3;

// How a file would be read with another --encoding: the character set and
// the sequences read as U+FFFD.
struct TrialReading {
  std::string codeset;
  std::size_t malformed = 0;
};

// Reads a file again as the --encoding value `encoding` would; nullopt when
// it cannot be read so (gone, unreadable, an unknown name).
using ReadingTrial =
    std::function<std::optional<TrialReading>(const FileReading& file, const std::string& encoding)>;

// The trial that reads the file from disk (ReadTextLines), with `fallback`
// as the automatic choice's fallback.
ReadingTrial FileReadingTrial(const std::string& fallback);

// The most files an advice tries again before it is given: past them the
// advice is not given rather than guessed.
inline constexpr int kMostHintTrials = 256;

// The --encoding values the advice may name: "auto", "utf-8", the legacy sets
// the front ends offer (kLegacyEncodings) and "UTF-16LE" and "UTF-16BE".
bool IsOfferedEncoding(const std::string& encoding);

// What the readings of one search need the user to know.
struct ReadingSummary {
  struct Why {
    TReadChoice choice;
    int files = 0;
  };
  struct Codeset {
    std::string name;  // as TTextReadInfo::codeset gives it
    int files = 0;
    // Why its files were read in it, by choice in the order of TReadChoice.
    std::vector<Why> why;
  };
  // Files read without a byte-order mark in a character set other than
  // UTF-8, by character set: most files first, then by name.
  std::vector<Codeset> codesets;
  int replaced_files = 0;     // files with sequences read as U+FFFD
  std::uint64_t replaced = 0;  // those sequences, in all of them
  // The shown names of the first kSummaryExamples of those files, in file
  // order.
  std::vector<std::string> examples;
  int nul_files = 0;       // files holding U+0000
  std::uint64_t nuls = 0;  // the U+0000 characters in all of them
  // Files whose detected character set iconv does not have, read in the
  // fallback instead, and the first such answer.
  int undetected_files = 0;
  std::string undetected;
  // Files read in GB18030 or BIG5 after the two were compared on them
  // (TTextReadInfo::comparison), those where the comparison overruled the
  // detector, and the first of those (or of the others, when none was
  // overruled) with what was measured.
  int compared_files = 0;
  int overruled_files = 0;
  std::string compared_example;  // its shown name
  TSetComparison comparison;
  // An --encoding value that reads every file with replacements with fewer
  // of them and every other file as it was read, as tried on the files; or
  // empty when there is none (a folder of mixed encodings is best read as
  // it was, each file in its own).
  std::string encoding_hint;
  // The shown names, in file order, of the files that changed while they
  // were searched (TTextReadInfo::changed): their counts may be incomplete.
  std::vector<std::string> changed;
  // Those of the files whose size was 0 but that gave bytes when read
  // (TTextReadInfo::sizeless), searched as empty.
  std::vector<std::string> sizeless;

  bool Empty() const {
    return codesets.empty() && replaced_files == 0 && nul_files == 0 && undetected_files == 0 &&
           changed.empty() && sizeless.empty();
  }
};

// Sums up the readings of a search. An encoding is advised only when
// `trial` shows it better: without one, none is.
ReadingSummary SummarizeReadings(const std::vector<FileReading>& readings,
                                 const ReadingTrial& trial = nullptr);

// A place where the pattern as typed can never match, or matches far less
// than it seems to.
enum class PatternPitfall {
  // The \b wrap stands beside a pattern edge that is never a word character
  // (a character above U+007F): \b then matches only where an ASCII letter,
  // digit or '_' stands next to it.
  kBoundaryBeside,
  // The pattern begins with ^ or \A before a character other than a space:
  // each line is searched with a space added at its start, so it never
  // matches.
  kStartAnchor,
  // The pattern ends with $ or \Z after a character other than a space.
  kEndAnchor,
};

struct PatternAdvice {
  PatternPitfall pitfall;
  // kBoundaryBeside: the character at the edge (a surrogate pair counts as
  // one); otherwise the anchor as typed ("^", "\A", "$" or "\Z").
  std::u16string edge;
  // The pattern text that works ("^ the", "the $"), with every anchor of
  // the pattern mended, so both anchor advices of "^the$" give "^ the $";
  // the trimmed text itself when only the wrap is in the way ("^ the"
  // searched with it). Empty for kBoundaryBeside, whose remedy is turning
  // the wrap off.
  std::u16string better;
  // Whether the remedy needs the \b wrap turned off: always for
  // kBoundaryBeside; for an anchor, whenever the wrap is on (its \b stands
  // beside the added space, where it never matches).
  bool needs_no_boundary = false;
};

// The pitfalls of `pattern_text` (as typed; it is trimmed here) searched
// with or without the \b wrap, each edge once, start before end. A pattern
// of one character above U+007F has one edge. An anchor is judged by the
// atom beside it: a literal character other than a space, an escaped one,
// \d, \w or \S (not made optional by ?, * or {...}) can never match the
// added space; beside anything else (a class, a group, \s, .) the anchor
// gets advice only when the wrap is on. "\^", "\$" and "[^a]" hold no
// anchor; "\\$" ends with one.
std::vector<PatternAdvice> AdvisePattern(const std::u16string& pattern_text, bool word_boundary);

}  // namespace tallyfold
