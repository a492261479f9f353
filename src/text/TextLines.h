// Text lines one at a time, and only those that can hold a given text.
//
// ReadTextLines gives the lines of a text file in order, each with its
// 0-based index, exactly as ReadTextFileAs would put them in a list: the
// same byte-order marks, the same decoding of text without one (including
// the automatic choice with its detector and the locale's character set,
// see TextFile.h), the same line splitting (CR, LF and CR LF end a line,
// blank lines count, a NUL is a character of its line), the same
// TTextReadInfo and the same errors. It reads a file of any size in pieces
// of 16 MiB, each cut after its last whole line, holding one piece (or one
// longer line) at a time and decoding one line (or one run of lines) at a
// time. A file of one piece is read once; for a larger one without a mark
// the automatic choice first goes over the file (to tell valid UTF-8, then
// to give the detector its lines), then the lines are read. A file is read
// up to the size it had when opened; one cut short meanwhile ends there.
//
// Given a needle, it may pass over lines: every line whose decoded text
// contains the needle is given, and others may be too. The needle is looked
// for in the raw bytes, in the form the file's encoding gives it, and the
// line ends in the bytes passed over are counted, so a file with no line
// that can hold it is never decoded at all:
//
//   TLineNeedle needle{u"sea", u"SEA"};        // either case, unit by unit
//   ReadTextLines("corpus/a.txt", TextDecodingNamed("auto"), &needle, nullptr,
//                 &info, [&](int index, std::u16string_view line) { ... });
//
// The bytes are searched only where that is certain to find every such
// line: UTF-8 (with or without a mark) and UTF-16 text, and text in
// ISO-8859-*, GB18030, GBK or GB2312, each only in a piece that is valid
// in it (so the count of malformed sequences is that of the whole text).
// Any other file is decoded line by line and every line is given. Parts of
// the needle that cannot be looked for in the bytes (U+FFFD, an unpaired
// surrogate, a character the code page does not hold, a case variant
// outside ASCII) are left out of the search, which only makes it find more.
//
// Errors: those of ReadTextFileAs (EFOpenError, EReadError, ECancelled once
// `cancel` is set, looked at while reading, searching and decoding long
// lines); whatever `each` throws is passed on. `info` is filled in only
// when all lines were given.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/TextFile.h"

namespace tallyfold {

// What a line must hold to be given: the literal, unit k of which matches a
// unit equal to units[k] or others[k] (`others` empty: units[k] only), and
// one unit in one of the inclusive ASCII ranges (first, last). Either part
// may be empty; an empty needle lets every line through.
struct TLineNeedle {
  std::u16string units;
  std::u16string others;
  std::vector<std::pair<char16_t, char16_t>> ranges;

  bool empty() const { return units.empty() && ranges.empty(); }
};

// Calls each(index, line) for the lines of the file at `native_path` in
// order: all of them without a needle (or with an empty one), with one at
// least those whose text contains it. The view is valid during the call.
void ReadTextLines(const std::string& native_path, const TTextDecoding& decoding,
                   const TLineNeedle* needle, const std::atomic<bool>* cancel, TTextReadInfo* info,
                   const std::function<void(int index, std::u16string_view line)>& each);

// The lines at least this long that the reader decodes on their own (from
// UTF-8, UTF-16, or a code page a needle is looked for in) can be taken.
inline constexpr std::size_t kTakenLineUnits = std::size_t{1} << 16;

// The same, but each such line goes to take(index, line) instead, in the
// reader's own string, which `take` may change or move from: a caller that
// needs the line in a string of its own (a very long one, above all) then
// makes no copy of it. The reader leaves room in it for two more units
// where its decoder keeps what it reserved. Lines of runs decoded together
// go to `each` as above.
void ReadTextLines(const std::string& native_path, const TTextDecoding& decoding,
                   const TLineNeedle* needle, const std::atomic<bool>* cancel, TTextReadInfo* info,
                   const std::function<void(int index, std::u16string_view line)>& each,
                   const std::function<void(int index, std::u16string& line)>& take);

}  // namespace tallyfold
