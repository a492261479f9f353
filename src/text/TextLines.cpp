// Text lines one at a time: the file's bytes held once, the encoding chosen
// as the list reader chooses it, and the needle looked for in the bytes
// before any line is decoded.
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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/CodePage.h"
#include "text/TextInternal.h"

namespace tallyfold {

namespace {

using namespace std::string_literals;
using text_internal::CheckText;
using text_internal::IsHighSurrogate;
using text_internal::IsLowSurrogate;
using text_internal::ThrowIfCancelled;
using text_internal::Validity;

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);
constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

// How much is read, or searched, between two looks at the cancel flag.
constexpr std::size_t kReadChunkBytes = std::size_t{16} << 20;
constexpr std::size_t kSearchWindowUnits = std::size_t{4} << 20;

char16_t SwapUnit(char16_t unit) { return static_cast<char16_t>((unit << 8) | (unit >> 8)); }

bool IsLineUnit(char16_t unit) { return unit == 0 || unit == u'\r' || unit == u'\n'; }

// ---- The text in its raw form ----

// Text in the file's own units: bytes, or UTF-16 units in the file's byte
// order, with CR and LF as they appear there. It ends before its first 0
// unit, as the reader's text does.
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

#if defined(__SSE2__)
template <typename Unit>
__m128i Splat(Unit unit) {
  if constexpr (sizeof(Unit) == 1) {
    return _mm_set1_epi8(static_cast<char>(unit));
  } else {
    return _mm_set1_epi16(static_cast<short>(unit));
  }
}

template <typename Unit>
__m128i Equal(__m128i a, __m128i b) {
  if constexpr (sizeof(Unit) == 1) {
    return _mm_cmpeq_epi8(a, b);
  } else {
    return _mm_cmpeq_epi16(a, b);
  }
}

// One bit per unit, at the unit's first byte.
template <typename Unit>
unsigned LaneMask(__m128i v) {
  const auto mask = static_cast<unsigned>(_mm_movemask_epi8(v));
  return sizeof(Unit) == 1 ? mask : mask & 0x5555u;
}

template <typename Unit>
__m128i Load(const Unit* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}
#endif

template <typename Unit>
std::size_t RawText<Unit>::CountBreaks(std::size_t from, std::size_t to) const {
  std::size_t count = 0;
  unsigned after_cr = 0;  // 1 when the unit before `from` was a CR
  std::size_t i = from;
#if defined(__SSE2__)
  constexpr std::size_t kLanes = 16 / sizeof(Unit);
  constexpr unsigned kShift = sizeof(Unit);
  const __m128i crs = Splat(cr);
  const __m128i lfs = Splat(lf);
  for (; i + kLanes <= to; i += kLanes) {
    const __m128i v = Load(text + i);
    const unsigned crm = LaneMask<Unit>(Equal<Unit>(v, crs));
    const unsigned lfm = LaneMask<Unit>(Equal<Unit>(v, lfs));
    const unsigned pairs = (crm & (lfm >> kShift)) | (after_cr & lfm);
    count +=
        static_cast<std::size_t>(std::popcount(crm) + std::popcount(lfm) - std::popcount(pairs));
    after_cr = (crm >> (16 - kShift)) & 1u;
  }
#endif
  for (; i < to; ++i) {
    if (text[i] == cr) {
      ++count;
      after_cr = 1;
    } else {
      if (text[i] == lf && after_cr == 0) ++count;
      after_cr = 0;
    }
  }
  return count;
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
  bool At(const Unit* at) const {
    for (std::size_t k = 0; k < either.size(); ++k)
      if (at[k] != either[k] && at[k] != other[k]) return false;
    return true;
  }
};

// The first position p in [from, stop) at which the pattern occurs whole
// within [0, end), or kNotFound. Candidates are the places where the
// pattern's first and last units both match, sixteen bytes at a time.
template <typename Unit>
std::size_t FindPattern(const Unit* text, std::size_t from, std::size_t stop, std::size_t end,
                        const RawPattern<Unit>& pattern) {
  const std::size_t m = pattern.either.size();
  if (end < m) return kNotFound;
  stop = std::min(stop, end - m + 1);
  std::size_t i = from;
#if defined(__SSE2__)
  constexpr std::size_t kLanes = 16 / sizeof(Unit);
  const __m128i first_a = Splat(pattern.either[0]);
  const __m128i first_b = Splat(pattern.other[0]);
  const __m128i last_a = Splat(pattern.either[m - 1]);
  const __m128i last_b = Splat(pattern.other[m - 1]);
  for (; i + kLanes <= stop; i += kLanes) {
    const __m128i head = Load(text + i);
    const __m128i tail = Load(text + i + m - 1);
    const __m128i hit =
        _mm_and_si128(_mm_or_si128(Equal<Unit>(head, first_a), Equal<Unit>(head, first_b)),
                      _mm_or_si128(Equal<Unit>(tail, last_a), Equal<Unit>(tail, last_b)));
    for (unsigned mask = LaneMask<Unit>(hit); mask != 0; mask &= mask - 1) {
      const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(mask)) / sizeof(Unit);
      if (pattern.At(text + at)) return at;
    }
  }
#endif
  for (; i < stop; ++i)
    if (pattern.At(text + i)) return i;
  return kNotFound;
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

using EachLine = std::function<void(int index, std::u16string_view line)>;

// Gives the lines that hold what find(from, stop) finds: a place in [from,
// stop) or kNotFound; decode(begin, end, line) decodes a line. Lines in
// between are counted, not decoded.
template <typename Unit, typename Find, typename Decode>
void GiveLinesHolding(const RawText<Unit>& raw, Find find, Decode decode,
                      const std::atomic<bool>* cancel, const EachLine& each) {
  std::u16string line;
  std::size_t pos = 0;  // a line start
  std::size_t index = 0;
  while (pos < raw.size) {
    std::size_t hit = kNotFound;
    for (std::size_t from = pos; from < raw.size && hit == kNotFound;) {
      ThrowIfCancelled(cancel);
      const std::size_t stop =
          raw.size - from > kSearchWindowUnits ? from + kSearchWindowUnits : raw.size;
      hit = find(from, stop);
      from = stop;
    }
    if (hit == kNotFound) return;
    const std::size_t start = raw.LineStart(hit, pos);
    index += raw.CountBreaks(pos, start);
    const std::size_t end = raw.LineEnd(hit);
    decode(raw.text + start, raw.text + end, line);
    each(static_cast<int>(index), line);
    ++index;
    pos = raw.NextLine(end);
  }
}

// Gives every line, each decoded on its own.
template <typename Unit, typename Decode>
void GiveEveryLine(const RawText<Unit>& raw, Decode decode, const std::atomic<bool>* cancel,
                   const EachLine& each) {
  std::u16string line;
  int index = 0;
  for (std::size_t pos = 0; pos < raw.size;) {
    ThrowIfCancelled(cancel);
    const std::size_t end = raw.LineEnd(pos);
    decode(raw.text + pos, raw.text + end, line);
    each(index++, line);
    pos = raw.NextLine(end);
  }
}

// Gives every line of code-page text, decoding runs of whole lines of about
// a read piece at a time, as the list reader does.
void GiveEveryCodePageLine(const RawText<char>& raw, const TCodePage& page,
                           const std::atomic<bool>* cancel, std::size_t& malformed,
                           const EachLine& each) {
  std::u16string decoded;
  int index = 0;
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
          each(index++, std::u16string_view(begin, static_cast<std::size_t>(line_end - begin)));
        });
    pos = end;
  }
}

// The malformed sequences of the whole code-page text, decoded and let go a
// run of lines at a time.
std::size_t CountMalformed(const RawText<char>& raw, const TCodePage& page,
                           const std::atomic<bool>* cancel) {
  std::size_t malformed = 0;
  GiveEveryCodePageLine(raw, page, cancel, malformed, [](int, std::u16string_view) {});
  return malformed;
}

void CopyWideLine(const char16_t* begin, const char16_t* end, bool swapped,
                  const std::atomic<bool>* cancel, std::u16string& line) {
  const auto length = static_cast<std::size_t>(end - begin);
  line.resize(length);
  constexpr std::size_t kSlice = text_internal::kDecodeSliceBytes / 2;
  for (std::size_t at = 0; at < length; at += kSlice) {
    if (length > kSlice) ThrowIfCancelled(cancel);
    const std::size_t n = std::min(kSlice, length - at);
    if (swapped) {
      for (std::size_t k = 0; k < n; ++k) line[at + k] = SwapUnit(begin[at + k]);
    } else {
      std::memcpy(line.data() + at, begin + at, n * sizeof(char16_t));
    }
  }
}

// The file's bytes whole, in a buffer of UTF-16 units so that text after a
// UTF-16 mark can be read in place. Read a piece at a time with a look at
// the cancel flag before each, up to the size the file had when opened.
struct FileBytes {
  std::unique_ptr<char16_t[]> units;
  std::size_t size = 0;  // bytes

  const char* bytes() const { return reinterpret_cast<const char*>(units.get()); }
};

FileBytes ReadFileBytes(const std::string& native_path, const std::atomic<bool>* cancel) {
  TUnicodeFileStream stream(native_path, TFileAccess::OpenRead);
  const auto size = static_cast<std::size_t>(std::max<std::int64_t>(stream.Size(), 0));
  FileBytes file;
  file.units = std::make_unique_for_overwrite<char16_t[]>(size / 2 + 1);
  char* const out = reinterpret_cast<char*>(file.units.get());
  do {
    ThrowIfCancelled(cancel);
    const std::size_t want = std::min(kReadChunkBytes, size - file.size);
    const std::int64_t got = stream.Read(out + file.size, static_cast<std::int64_t>(want));
    if (got <= 0) break;
    file.size += static_cast<std::size_t>(got);
  } while (file.size < size);
  return file;
}

void ReadWideLines(const FileBytes& file, bool big_endian, const TLineNeedle* needle,
                   const std::atomic<bool>* cancel, const EachLine& each) {
  const bool swapped = big_endian == kLittleEndianHost;
  const char16_t* const text = file.units.get() + 1;  // after the mark
  const std::size_t units = file.size >= 2 ? (file.size - 2) / 2 : 0;
  // The text ends before its first 0 unit.
  const std::size_t zero = FindPattern(text, 0, units, units, RawPattern<char16_t>{u"\0"s, u"\0"s});
  const RawText<char16_t> raw{text, zero == kNotFound ? units : zero,
                              swapped ? SwapUnit(u'\r') : u'\r', swapped ? SwapUnit(u'\n') : u'\n'};
  auto decode = [&](const char16_t* begin, const char16_t* end, std::u16string& line) {
    CopyWideLine(begin, end, swapped, cancel, line);
  };
  if (needle != nullptr) {
    if (const RawPattern<char16_t> pattern = WidePattern(*needle, swapped); !pattern.empty()) {
      GiveLinesHolding(
          raw,
          [&](std::size_t from, std::size_t stop) {
            return FindPattern(raw.text, from, stop, raw.size, pattern);
          },
          decode, cancel, each);
      return;
    }
    if (const UnitSet set = UnitSetOf(*needle); set.any) {
      GiveLinesHolding(
          raw,
          [&](std::size_t from, std::size_t stop) {
            return FindInSet(raw.text, from, stop, set, swapped);
          },
          decode, cancel, each);
      return;
    }
  }
  GiveEveryLine(raw, decode, cancel, each);
}

}  // namespace

void ReadTextLines(const std::string& native_path, const TTextDecoding& decoding,
                   const TLineNeedle* needle, const std::atomic<bool>* cancel, TTextReadInfo* info,
                   const EachLine& each) {
  const FileBytes file = ReadFileBytes(native_path, cancel);
  const auto* head = reinterpret_cast<const unsigned char*>(file.bytes());
  // The marks as DetectTextEncoding tells them, UTF-16 first.
  TTextEncoding mark = teAnsi;
  std::size_t skip = 0;
  if (file.size >= 2 && head[0] == 0xFF && head[1] == 0xFE) {
    mark = teUtf16LE;
  } else if (file.size >= 2 && head[0] == 0xFE && head[1] == 0xFF) {
    mark = teUtf16BE;
  } else if (file.size >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
    mark = teUtf8;
    skip = 3;
  }
  if (needle != nullptr && needle->empty()) needle = nullptr;

  if (mark == teUtf16LE || mark == teUtf16BE) {
    ReadWideLines(file, mark == teUtf16BE, needle, cancel, each);
    if (info != nullptr)
      *info = TTextReadInfo{mark, mark == teUtf16LE ? "UTF-16LE" : "UTF-16BE", 0, 0,
                           TReadChoice::kMark, ""};
    return;
  }

  const char* const text = file.bytes() + skip;
  const std::size_t rest = file.size - skip;
  const auto* zero = static_cast<const char*>(std::memchr(text, 0, rest));
  const RawText<char> raw{text, zero != nullptr ? static_cast<std::size_t>(zero - text) : rest,
                          '\r', '\n'};

  // The character sets to try in turn, as the list reader tries them.
  const std::vector<const TCodePage*> tries =
      text_internal::CharacterSetsToTry(mark, decoding, SystemCodePage());
  const TCodePage* page = nullptr;
  bool sieve = false;  // the text is valid in `page`, and its bytes can be searched
  for (std::size_t i = 0; i < tries.size() && page == nullptr; ++i) {
    const bool last = i + 1 == tries.size();
    const Validity validity = CheckText(*tries[i], raw.text, raw.size);
    if (validity == Validity::kValid || last) {
      page = tries[i];
      sieve = validity == Validity::kValid;
    } else if (validity == Validity::kUnknown && CountMalformed(raw, *tries[i], cancel) == 0) {
      page = tries[i];
    }
  }

  std::size_t malformed = 0;
  RawPattern<char> pattern;
  UnitSet set;
  if (sieve && needle != nullptr) {
    pattern =
        page->IsUtf8()
            ? BytePattern(*needle,
                          [](std::u16string_view character) { return Utf8Encode(character); })
            : BytePattern(*needle, [page](std::u16string_view character) {
                // Only a character the code page holds and
                // gives back unchanged.
                std::string bytes = page->Encode(character);
                std::size_t bad = 0;
                return page->Decode(bytes, bad) == character && bad == 0 ? bytes : std::string();
              });
    if (pattern.empty()) set = UnitSetOf(*needle);
  }
  auto decode = [&](const char* begin, const char* end, std::u16string& line) {
    if (page->IsUtf8()) {
      text_internal::DecodeUtf8Line(begin, end, line, cancel, malformed);
    } else {
      text_internal::DecodeCodePageText(*page, begin, static_cast<std::size_t>(end - begin), line,
                                        cancel, malformed);
    }
  };
  if (!pattern.empty()) {
    GiveLinesHolding(
        raw,
        [&](std::size_t from, std::size_t stop) {
          return FindPattern(raw.text, from, stop, raw.size, pattern);
        },
        decode, cancel, each);
  } else if (set.any) {
    GiveLinesHolding(
        raw,
        [&](std::size_t from, std::size_t stop) {
          return FindInSet(raw.text, from, stop, set, false);
        },
        decode, cancel, each);
  } else if (page->IsUtf8()) {
    GiveEveryLine(raw, decode, cancel, each);
  } else {
    GiveEveryCodePageLine(raw, *page, cancel, malformed, each);
  }
  if (info != nullptr) *info = TTextReadInfo{mark, page->Name(), malformed, 0, TReadChoice::kMark, ""};
}

}  // namespace tallyfold
