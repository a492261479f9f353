// Text lines one at a time: the file read a piece at a time, the encoding
// chosen as the list reader chooses it, and the needle looked for in the
// bytes before any line is decoded.
//
// This file's external interface is TextLines.h; tests/text/TextLinesTest.cpp
// covers it, comparing it with ReadTextFileAs on random files and needles.
#include "text/TextLines.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

#include "platform/CodePage.h"
#include "platform/Simd.h"
#include "text/TextInternal.h"

namespace tallyfold {

namespace {

using namespace std::string_literals;
using text_internal::CharacterSetChoice;
using text_internal::CheckText;
using text_internal::ChooseCharacterSet;
using text_internal::CountUnits;
using text_internal::ReadByteRuns;
using text_internal::ReadWideTextRuns;
using text_internal::SniffWideStream;
using text_internal::SniffWideText;
using text_internal::DecodeWideBytes;
using text_internal::WideEncodingName;
using text_internal::IsWideEncoding;
using text_internal::TextPass;
using text_internal::TextVisit;
using text_internal::WideEncodingOf;
using text_internal::IsHighSurrogate;
using text_internal::IsLowSurrogate;
using text_internal::Validity;

constexpr std::size_t kNotFound = simd::kNotFound;

// How much is searched between two looks at the cancel flag.
constexpr std::size_t kSearchWindowUnits = std::size_t{4} << 20;

char16_t SwapUnit(char16_t unit) { return static_cast<char16_t>((unit << 8) | (unit >> 8)); }

bool IsLineUnit(char16_t unit) { return unit == 0 || unit == u'\r' || unit == u'\n'; }

// ---- The text in its raw form ----

// Text in the file's own units: bytes, or UTF-16 units, with CR and LF as
// they appear there. A 0 unit is an ordinary character of its line.
template <typename Unit>
struct RawText {
  const Unit* text;
  std::size_t size;
  Unit cr;
  Unit lf;

  bool IsBreak(Unit unit) const { return unit == cr || unit == lf; }

  // The first line end at or after `from`, or `size`.
  std::size_t LineEnd(std::size_t from) const {
    while (from < size && !IsBreak(text[from])) ++from;
    return from;
  }
  // The start of the line that holds `at`, no earlier than `floor` (a line
  // start).
  std::size_t LineStart(std::size_t at, std::size_t floor) const {
    while (at > floor && !IsBreak(text[at - 1])) --at;
    return at;
  }
  // Past the line end at `end`: CR LF, CR or LF.
  std::size_t NextLine(std::size_t end) const {
    if (end < size && text[end] == cr) ++end;
    if (end < size && text[end] == lf) ++end;
    return end;
  }
  // The number of line ends in [from, to), CR LF counting once.
  std::size_t CountBreaks(std::size_t from, std::size_t to) const;
};

template <typename Unit>
std::size_t RawText<Unit>::CountBreaks(std::size_t from, std::size_t to) const {
  return simd::CountLineBreaks(text, from, to, cr, lf);
}

// ---- What is looked for in the raw text ----

// A literal in raw units: unit k matches either[k] or other[k].
template <typename Unit>
struct RawPattern {
  std::basic_string<Unit> either;
  std::basic_string<Unit> other;

  bool empty() const { return either.empty(); }
  void Push(Unit a, Unit b) {
    either.push_back(a);
    other.push_back(b);
  }
  simd::Literal<Unit> View() const { return {either.data(), other.data(), either.size()}; }
};

// The first position p in [from, stop) at which the pattern occurs whole
// within [0, end), or kNotFound.
template <typename Unit>
std::size_t FindPattern(const Unit* text, std::size_t from, std::size_t stop, std::size_t end,
                        const RawPattern<Unit>& pattern) {
  return simd::FindLiteral(pattern.View(), text, from, stop, end);
}

// ASCII units one of which a line must hold, by value.
struct UnitSet {
  std::array<bool, 128> member{};
  bool any = false;
};

template <typename Unit>
std::size_t FindInSet(const Unit* text, std::size_t from, std::size_t stop, const UnitSet& set,
                      bool swapped) {
  for (std::size_t i = from; i < stop; ++i) {
    unsigned value;
    if constexpr (sizeof(Unit) == 1) {
      value = static_cast<unsigned char>(text[i]);
    } else {
      value = swapped ? SwapUnit(text[i]) : text[i];
    }
    if (value < 128 && set.member[value]) return i;
  }
  return kNotFound;
}

UnitSet UnitSetOf(const TLineNeedle& needle) {
  UnitSet set;
  for (const auto& [first, last] : needle.ranges) {
    // A range beyond ASCII is not what the byte forms below can look for.
    if (last >= 128 || first > last) return UnitSet();
    for (unsigned unit = first; unit <= last; ++unit) {
      if (IsLineUnit(static_cast<char16_t>(unit))) continue;  // never inside a line
      set.member[unit] = true;
      set.any = true;
    }
  }
  return set;
}

// Cuts the needle's literal into the runs that can be looked for, each
// turned into raw units by encode(k, units, pattern): true when position k
// (and perhaps more) was added, with `k` moved past what it took; false at
// a position that cannot be looked for. The longest run wins.
template <typename Unit, typename Encode>
RawPattern<Unit> LongestRun(const TLineNeedle& needle, Encode encode) {
  RawPattern<Unit> best;
  RawPattern<Unit> run;
  for (std::size_t k = 0; k < needle.units.size();) {
    if (encode(k, run)) continue;
    if (run.either.size() > best.either.size()) best = run;
    run = RawPattern<Unit>();
    ++k;
  }
  if (run.either.size() > best.either.size()) best = run;
  return best;
}

char16_t OtherAt(const TLineNeedle& needle, std::size_t k) {
  return k < needle.others.size() ? needle.others[k] : needle.units[k];
}

RawPattern<char16_t> WidePattern(const TLineNeedle& needle, bool swapped) {
  return LongestRun<char16_t>(needle, [&](std::size_t& k, RawPattern<char16_t>& run) {
    const char16_t unit = needle.units[k];
    const char16_t other = OtherAt(needle, k);
    if (IsLineUnit(unit) || IsLineUnit(other)) return false;
    run.Push(swapped ? SwapUnit(unit) : unit, swapped ? SwapUnit(other) : other);
    ++k;
    return true;
  });
}

// The needle in bytes: ASCII as itself (with its other case), any other
// character as encode_character gives it, or an empty string where it
// cannot be looked for. A U+FFFD is what malformed bytes decode to, and a
// lone surrogate what no byte text decodes to, so neither is looked for.
template <typename EncodeCharacter>
RawPattern<char> BytePattern(const TLineNeedle& needle, EncodeCharacter encode_character) {
  return LongestRun<char>(needle, [&](std::size_t& k, RawPattern<char>& run) {
    const char16_t unit = needle.units[k];
    const char16_t other = OtherAt(needle, k);
    if (IsLineUnit(unit) || IsLineUnit(other)) return false;
    if (unit < 128 && other < 128) {
      run.Push(static_cast<char>(unit), static_cast<char>(other));
      ++k;
      return true;
    }
    if (unit != other || unit == 0xFFFD || IsLowSurrogate(unit)) return false;
    std::size_t length = 1;
    if (IsHighSurrogate(unit)) {
      if (k + 1 >= needle.units.size() || !IsLowSurrogate(needle.units[k + 1]) ||
          OtherAt(needle, k + 1) != needle.units[k + 1])
        return false;
      length = 2;
    }
    const std::string bytes = encode_character(std::u16string_view(needle.units).substr(k, length));
    if (bytes.empty()) return false;
    for (const char byte : bytes) run.Push(byte, byte);
    k += length;
    return true;
  });
}

// ---- Giving the lines ----

// The units of a run of text that are not line ends (CR and LF, also as
// CR LF, never stand for anything but a line end).
template <typename Unit>
std::int64_t UnitsBesideBreaks(const Unit* text, std::size_t size, std::int64_t units) {
  const std::size_t breaks = simd::CountBreakUnits(text, size, Unit('\r'), Unit('\n'));
  return units - static_cast<std::int64_t>(breaks);
}

using EachLine = std::function<void(int index, std::u16string_view line)>;
using TakeLine = std::function<void(int index, std::u16string& line)>;

// Where the lines go: each line to `each`, but a long line decoded on its
// own to `take` when there is one, in the reader's string, which `take`
// may move from.
struct LineSink {
  const EachLine& each;
  const TakeLine* take;

  bool Takes(std::size_t units) const {
    return take != nullptr && *take && units >= kTakenLineUnits;
  }
  // Before a line of `raw_units` units is decoded into `line`: room for
  // the two units a taker adds (a UTF-8 or UTF-16 line decodes to no more
  // units than it has), so that it need not be copied to add them.
  void Prepare(std::u16string& line, std::size_t raw_units) const {
    if (Takes(raw_units)) line.reserve(raw_units + 2);
  }
  void Give(int index, std::u16string& line) const {
    if (Takes(line.size()))
      (*take)(index, line);
    else
      each(index, line);
  }
  void operator()(int index, std::u16string_view line) const { each(index, line); }
};

// The number of lines in [from, raw.size), `from` a line start: its line
// ends, and one more for a last line without one.
template <typename Unit>
std::size_t LinesFrom(const RawText<Unit>& raw, std::size_t from) {
  if (from >= raw.size) return 0;
  return raw.CountBreaks(from, raw.size) + (raw.IsBreak(raw.text[raw.size - 1]) ? 0 : 1);
}

// Gives the lines that hold what find(from, stop) finds: a place in [from,
// stop) or kNotFound; decode(begin, end, line) decodes a line. Lines in
// between are counted, not decoded. `index` is that of the first line of
// the run, and afterwards that of the line after it; after the last run of
// the text (`last`) it is left at the last line given.
template <typename Unit, typename Find, typename Decode>
void GiveLinesHolding(const RawText<Unit>& raw, Find find, Decode decode,
                      const std::atomic<bool>* cancel, bool last, std::size_t& index,
                      const LineSink& each) {
  std::u16string line;
  std::size_t pos = 0;  // a line start
  while (pos < raw.size) {
    std::size_t hit = kNotFound;
    for (std::size_t from = pos; from < raw.size && hit == kNotFound;) {
      ThrowIfCancelled(cancel);
      const std::size_t stop =
          raw.size - from > kSearchWindowUnits ? from + kSearchWindowUnits : raw.size;
      hit = find(from, stop);
      from = stop;
    }
    if (hit == kNotFound) {
      // The lines after the last one given count only when more follow.
      if (!last) index += LinesFrom(raw, pos);
      return;
    }
    const std::size_t start = raw.LineStart(hit, pos);
    index += raw.CountBreaks(pos, start);
    const std::size_t end = raw.LineEnd(hit);
    each.Prepare(line, end - start);
    decode(raw.text + start, raw.text + end, line);
    each.Give(static_cast<int>(index), line);
    ++index;
    pos = raw.NextLine(end);
  }
}

// Gives every line, each decoded on its own.
template <typename Unit, typename Decode>
void GiveEveryLine(const RawText<Unit>& raw, Decode decode, const std::atomic<bool>* cancel,
                   std::size_t& index, std::int64_t& units, const LineSink& each) {
  std::u16string line;
  for (std::size_t pos = 0; pos < raw.size;) {
    ThrowIfCancelled(cancel);
    const std::size_t end = raw.LineEnd(pos);
    each.Prepare(line, end - pos);
    decode(raw.text + pos, raw.text + end, line);
    units += static_cast<std::int64_t>(line.size());
    each.Give(static_cast<int>(index++), line);
    pos = raw.NextLine(end);
  }
}

// Gives every line of code-page text, decoding runs of whole lines of about
// a read piece at a time, as the list reader does.
void GiveEveryCodePageLine(const RawText<char>& raw, const TCodePage& page,
                           const std::atomic<bool>* cancel, std::size_t& malformed,
                           std::size_t& index, std::int64_t& units, const LineSink& each) {
  std::u16string decoded;
  for (std::size_t pos = 0; pos < raw.size;) {
    ThrowIfCancelled(cancel);
    std::size_t end = raw.size;
    if (raw.size - pos > text_internal::kReadPieceBytes) {
      const std::size_t window = pos + text_internal::kReadPieceBytes;
      std::size_t last = window;
      while (last > pos && !raw.IsBreak(raw.text[last - 1])) --last;
      // Just past the last line end in the window, its LF included when it
      // is a CR LF; without one, past the end of the long line.
      end = last > pos ? raw.NextLine(last - 1) : raw.NextLine(raw.LineEnd(window));
    }
    text_internal::DecodeCodePageText(page, raw.text + pos, end - pos, decoded, cancel, malformed);
    text_internal::ForEachLine(
        decoded.data(), decoded.size(), [&](const char16_t* begin, const char16_t* line_end) {
          units += line_end - begin;
          each(static_cast<int>(index++),
               std::u16string_view(begin, static_cast<std::size_t>(line_end - begin)));
        });
    pos = end;
  }
}

void CopyWideLine(const char16_t* begin, const char16_t* end, const std::atomic<bool>* cancel,
                  std::u16string& line) {
  const auto length = static_cast<std::size_t>(end - begin);
  line.resize(length);
  constexpr std::size_t kSlice = text_internal::kDecodeSliceBytes / 2;
  for (std::size_t at = 0; at < length; at += kSlice) {
    if (length > kSlice) ThrowIfCancelled(cancel);
    const std::size_t n = std::min(kSlice, length - at);
    std::memcpy(line.data() + at, begin + at, n * sizeof(char16_t));
  }
}

// What the lines of a file must hold, in the form its runs are searched in:
// worked out once per file, on the first run that can be searched.
template <typename Unit>
struct RawNeedle {
  bool ready = false;
  RawPattern<Unit> pattern;
  UnitSet set;
};

// Gives the lines of one run of UTF-16 text in this machine's byte order.
void GiveWideRun(const char16_t* text, std::size_t size, bool last, const TLineNeedle* needle,
                 RawNeedle<char16_t>& raw_needle, const std::atomic<bool>* cancel,
                 std::size_t& index, std::int64_t& units, const LineSink& each) {
  const RawText<char16_t> raw{text, size, u'\r', u'\n'};
  // A line's units are its units in the file, whether it is given or not.
  units += UnitsBesideBreaks(text, size, static_cast<std::int64_t>(size));
  auto decode = [&](const char16_t* begin, const char16_t* end, std::u16string& line) {
    CopyWideLine(begin, end, cancel, line);
  };
  if (needle != nullptr && !raw_needle.ready) {
    raw_needle.pattern = WidePattern(*needle, false);
    if (raw_needle.pattern.empty()) raw_needle.set = UnitSetOf(*needle);
    raw_needle.ready = true;
  }
  if (!raw_needle.pattern.empty()) {
    GiveLinesHolding(
        raw,
        [&](std::size_t from, std::size_t stop) {
          return FindPattern(raw.text, from, stop, raw.size, raw_needle.pattern);
        },
        decode, cancel, last, index, each);
  } else if (raw_needle.set.any) {
    GiveLinesHolding(
        raw,
        [&](std::size_t from, std::size_t stop) {
          return FindInSet(raw.text, from, stop, raw_needle.set, false);
        },
        decode, cancel, last, index, each);
  } else {
    std::int64_t given = 0;  // counted above already
    GiveEveryLine(raw, decode, cancel, index, given, each);
  }
}

// Gives the lines of one run of text in `chosen`'s character set. The run
// is searched for the needle only when it is valid in that set (so that
// the lines passed over hold no malformed sequence to count).
void GiveByteRun(const char* text, std::size_t size, bool last,
                 const text_internal::CharacterSetChoice& chosen, const TLineNeedle* needle,
                 RawNeedle<char>& raw_needle,
                 const std::atomic<bool>* cancel, std::size_t& malformed, std::size_t& index,
                 std::int64_t& units, const LineSink& each) {
  const RawText<char> raw{text, size, '\r', '\n'};
  const TCodePage& page = chosen.page;
  const bool sieve =
      needle != nullptr && (chosen.valid || CheckText(page, text, size) == Validity::kValid);
  if (sieve && !raw_needle.ready) {
    raw_needle.pattern =
        page.IsUtf8()
            ? BytePattern(*needle,
                          [](std::u16string_view character) { return Utf8Encode(character); })
            : BytePattern(*needle, [&page](std::u16string_view character) {
                // Only a character the code page holds and
                // gives back unchanged.
                std::string bytes = page.Encode(character);
                std::size_t bad = 0;
                return page.Decode(bytes, bad) == character && bad == 0 ? bytes : std::string();
              });
    if (raw_needle.pattern.empty()) raw_needle.set = UnitSetOf(*needle);
    raw_needle.ready = true;
  }
  auto decode = [&](const char* begin, const char* end, std::u16string& line) {
    if (page.IsUtf8()) {
      text_internal::DecodeUtf8Line(begin, end, line, cancel, malformed);
    } else {
      text_internal::DecodeCodePageText(page, begin, static_cast<std::size_t>(end - begin), line,
                                        cancel, malformed);
    }
  };
  if (sieve && (!raw_needle.pattern.empty() || raw_needle.set.any)) {
    // The lines passed over are counted from their bytes, which are valid
    // in the set; a set whose sequences are not known is decoded to count.
    std::int64_t run_units = CountUnits(page, text, size);
    if (run_units < 0) {
      std::u16string decoded;
      std::size_t none = 0;
      text_internal::DecodeCodePageText(page, text, size, decoded, cancel, none);
      run_units = static_cast<std::int64_t>(decoded.size());
    }
    units += UnitsBesideBreaks(text, size, run_units);
  }
  if (sieve && !raw_needle.pattern.empty()) {
    GiveLinesHolding(
        raw,
        [&](std::size_t from, std::size_t stop) {
          return FindPattern(raw.text, from, stop, raw.size, raw_needle.pattern);
        },
        decode, cancel, last, index, each);
  } else if (sieve && raw_needle.set.any) {
    GiveLinesHolding(
        raw,
        [&](std::size_t from, std::size_t stop) {
          return FindInSet(raw.text, from, stop, raw_needle.set, false);
        },
        decode, cancel, last, index, each);
  } else if (page.IsUtf8()) {
    GiveEveryLine(raw, decode, cancel, index, units, each);
  } else {
    GiveEveryCodePageLine(raw, page, cancel, malformed, index, units, each);
  }
}

// Ends a pass over the text that has learnt what it was after.
struct StopPass {};

}  // namespace

void text_internal::ReadLinesInPieces(const std::string& native_path,
                                      const TTextDecoding& decoding, const TLineNeedle* needle,
                                      const std::atomic<bool>* cancel, TTextReadInfo* info,
                                      const EachLine& each, std::size_t piece_bytes,
                                      const TakeLine* take) {
  piece_bytes = std::max<std::size_t>(piece_bytes, 2);
  const LineSink sink{each, take};
  TUnicodeFileStream stream(native_path, TFileAccess::OpenRead);
  // The file is read up to the size it had when opened. Its size and time
  // of change are looked at again once it is read: a file written to in
  // between is named as changed, since its lines may be partly old, partly
  // new or missing.
  FileStamp opened;
  const bool stamped = stream.Stamp(opened);
  const std::int64_t size = stream.Size();
  TTextReadInfo read;
  if (size == 0) {
    // A system file (/proc, /sys) tells a size of 0 whatever it holds; it
    // is read as empty, as its size says, but not without a word.
    char byte;
    read.sizeless = stream.Read(&byte, 1) > 0;
    stream.SetPosition(0);
  }
  const auto finish = [&] {
    FileStamp now;
    read.changed = stamped && (!stream.Stamp(now) || !(now == opened));
    if (info != nullptr) *info = read;
  };
  const TTextEncoding mark = DetectTextEncoding(stream);
  const std::int64_t start = stream.Position();
  const std::int64_t remaining = std::max<std::int64_t>(size - start, 0);
  if (needle != nullptr && needle->empty()) needle = nullptr;

  read.mark = mark;
  std::size_t index = 0;      // of the next line
  std::int64_t consumed = 0;  // bytes of the text handed on so far
  TTextEncoding wide = IsWideEncoding(mark) ? mark : teAnsi;
  read.choice = TReadChoice::kMark;
  if (mark == teAnsi && decoding.kind == TDecodingKind::CodePage) {
    wide = WideEncodingOf(decoding.code_page);
    read.choice = TReadChoice::kNamed;
  } else if (mark == teAnsi && decoding.kind == TDecodingKind::Auto &&
             remaining > static_cast<std::int64_t>(piece_bytes)) {
    // UTF-16 and UTF-32 are told by their zero bytes before anything else
    // (UTF-16 of ASCII alone is valid UTF-8): here by the start of the file,
    // in a file of one piece by the piece itself, below.
    wide = SniffWideStream(stream, remaining);
    read.choice = TReadChoice::kZeroBytes;
  }
  if (wide != teAnsi) {
    RawNeedle<char16_t> raw_needle;
    ReadWideTextRuns(stream, wide, remaining, piece_bytes, cancel, read.malformed,
                     [&](const char16_t* text, std::size_t units, bool last) {
                       read.nuls += simd::CountZeros(text, units);
                       GiveWideRun(text, units, last, needle, raw_needle, cancel, index,
                                   read.units, sink);
                     });
    read.codeset = WideEncodingName(wide);
    finish();
    return;
  }

  std::optional<CharacterSetChoice> chosen;
  if (mark == teUtf8) {
    chosen.emplace();
    chosen->choice = TReadChoice::kMark;
  } else if (decoding.kind != TDecodingKind::Auto ||
             remaining > static_cast<std::int64_t>(piece_bytes)) {
    // The choice is made for the whole file, in passes over it ahead of the
    // reading when it takes more than one piece.
    const TextPass pass = [&](const TextVisit& visit) {
      stream.SetPosition(start);
      try {
        ReadByteRuns(stream, remaining, piece_bytes, cancel,
                     [&](const char* text, std::size_t bytes) {
                       if (!visit(text, bytes)) throw StopPass();
                     });
      } catch (const StopPass&) {
      }
    };
    chosen = ChooseCharacterSet(decoding, SystemCodePage(), pass, cancel);
    stream.SetPosition(start);
  }
  RawNeedle<char> raw_needle;
  std::size_t malformed = 0;
  ReadByteRuns(stream, remaining, piece_bytes, cancel, [&](const char* text, std::size_t bytes) {
    // A file of one piece comes as one run, the whole text: the choice is
    // made on it as it is.
    if (!chosen && mark == teAnsi && decoding.kind == TDecodingKind::Auto) {
      wide = SniffWideText(text, bytes);
      if (wide != teAnsi) {
        std::u16string decoded;
        DecodeWideBytes(text, bytes, wide, decoded, malformed);
        read.nuls += simd::CountZeros(decoded.data(), decoded.size());
        RawNeedle<char16_t> wide_needle;
        GiveWideRun(decoded.data(), decoded.size(), true, needle, wide_needle, cancel, index,
                    read.units, sink);
        return;
      }
    }
    if (!chosen) {
      chosen = ChooseCharacterSet(
          decoding, SystemCodePage(), [&](const TextVisit& visit) { visit(text, bytes); },
          cancel);
    }
    read.nuls += simd::CountZeros(text, bytes);
    consumed += static_cast<std::int64_t>(bytes);
    GiveByteRun(text, bytes, consumed >= remaining, *chosen, needle, raw_needle, cancel, malformed,
                index, read.units, sink);
  });
  if (wide != teAnsi) {
    read.codeset = WideEncodingName(wide);
    read.malformed = malformed;
    read.choice = TReadChoice::kZeroBytes;
    finish();
    return;
  }
  if (!chosen) {
    // No text at all: valid UTF-8.
    chosen = ChooseCharacterSet(decoding, SystemCodePage(), [](const TextVisit&) {}, cancel);
  }
  read.codeset = chosen->page.Name();
  read.malformed = malformed;
  read.choice = chosen->choice;
  read.detected = chosen->detected;
  read.comparison = chosen->comparison;
  finish();
}

void ReadTextLines(const std::string& native_path, const TTextDecoding& decoding,
                   const TLineNeedle* needle, const std::atomic<bool>* cancel, TTextReadInfo* info,
                   const EachLine& each) {
  text_internal::ReadLinesInPieces(native_path, decoding, needle, cancel, info, each,
                                   text_internal::kLinePieceBytes);
}

void ReadTextLines(const std::string& native_path, const TTextDecoding& decoding,
                   const TLineNeedle* needle, const std::atomic<bool>* cancel, TTextReadInfo* info,
                   const EachLine& each, const TakeLine& take) {
  text_internal::ReadLinesInPieces(native_path, decoding, needle, cancel, info, each,
                                   text_internal::kLinePieceBytes, &take);
}

}  // namespace tallyfold
