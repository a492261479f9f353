// Decoding of text without a UTF-16 mark: UTF-8 and code-page text decoded a
// line, or a run of lines, at a time in slices that decode exactly as the
// whole text does, counting malformed sequences; and whether a whole text is
// valid in a character set.
//
// This file's external interface is the decoding part of TextInternal.h,
// used by the list reader (TextFile.cpp) and the line reader (TextLines.cpp).
// Covered by tests/text/TextDecodingTest.cpp, TextFileTest.cpp and
// TextLinesTest.cpp.
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include <uchardet.h>

#include "platform/CodePage.h"
#include "platform/Simd.h"
#include "text/TextInternal.h"

namespace tallyfold::text_internal {

namespace {

#include "text/CommonHanzi.inc"

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// ---- Slices ----

// The length of the slice that ends nearest `limit` at a place
// ends_slice(length) accepts: the last one up to `limit`, or failing that
// the first one after it; `size` (the whole text) when there is none.
template <typename EndsSlice>
std::size_t NearestSliceEnd(std::size_t size, std::size_t limit, EndsSlice ends_slice) {
  for (std::size_t length = limit; length > 0; --length)
    if (ends_slice(length)) return length;
  for (std::size_t length = limit + 1; length < size; ++length)
    if (ends_slice(length)) return length;
  return size;
}

// Where to end a slice of code-page text near `limit`: just after a byte up
// to 0x20 (space, tab, another control) that follows two ASCII bytes, or
// the slice's start. Such a byte is a character of its own in every code
// page a locale can have, never part of a longer sequence nor joined with
// what follows, and no sequence of up to four bytes that began before it
// needs a byte after it to be told valid or not (a decoder may call a
// sequence cut short by the end of its input incomplete, where more input
// shows it invalid). So the decoder is where it would be in the whole text.
// Without such a place in reach the slice runs on to the next, or to the
// end.
std::size_t AnsiSliceEnd(const char* text, std::size_t size, std::size_t limit) {
  auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  auto ends_slice = [&](std::size_t length) {
    if (byte(length - 1) > 0x20) return false;
    for (std::size_t i = length - 1; i > 0 && i + 3 > length; --i)
      if (byte(i - 1) >= 0x80) return false;
    return true;
  };
  return NearestSliceEnd(size, limit, ends_slice);
}

// ---- Validity of the whole text ----

// For each lead byte of UTF-8: the length of its sequence (0: it leads
// none) and the bounds of the byte after it, which rule out overlong
// forms, surrogates and values beyond U+10FFFF.
struct LeadRule {
  std::uint8_t length = 0;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
};

constexpr std::array<LeadRule, 256> MakeLeadRules() {
  std::array<LeadRule, 256> rules{};
  for (unsigned lead = 0xC2; lead <= 0xDF; ++lead) rules[lead].length = 2;
  for (unsigned lead = 0xE0; lead <= 0xEF; ++lead) rules[lead].length = 3;
  for (unsigned lead = 0xF0; lead <= 0xF4; ++lead) rules[lead].length = 4;
  rules[0xE0].low = 0xA0;
  rules[0xED].high = 0x9F;
  rules[0xF0].low = 0x90;
  rules[0xF4].high = 0x8F;
  return rules;
}

constexpr std::array<LeadRule, 256> kLeadRules = MakeLeadRules();

// Whether the bytes are well-formed UTF-8: what Utf8Decode reads without a
// single malformed sequence.
bool IsValidUtf8(const char* bytes, std::size_t size) {
  const auto* text = reinterpret_cast<const unsigned char*>(bytes);
  for (std::size_t i = 0;;) {
    i = simd::SkipAscii(bytes, i, size);
    if (i >= size) return true;
    // A run of other characters (CJK text, say) is read here without going
    // back to the ASCII loop for each.
    while (i < size && text[i] >= 0x80) {
      const LeadRule rule = kLeadRules[text[i]];
      if (rule.length == 0 || size - i < rule.length || text[i + 1] < rule.low ||
          text[i + 1] > rule.high)
        return false;
      if (rule.length >= 3 && !IsContinuation(text[i + 2])) return false;
      if (rule.length == 4 && !IsContinuation(text[i + 3])) return false;
      i += rule.length;
    }
  }
}

// Whether a UTF-16 unit, read in the byte order being tried, is one that
// real text is made of: NUL and the ASCII line ends and printable
// characters; the Latin, Greek, Cyrillic, Hebrew and Arabic letters; common
// punctuation, symbols and box drawing; CJK ideographs, punctuation, kana
// and Hangul; full-width forms. Pairs of ASCII bytes read as one unit mostly
// land among the ideographs too, but those with a space first or second
// seldom do, nor do control characters, the private use area or the
// rarer scripts.
bool IsTextUnit(char16_t unit) {
  struct Range {
    char16_t first, last;
  };
  static constexpr Range kRanges[] = {
      {0x0000, 0x0000}, {0x0009, 0x000A}, {0x000C, 0x000D}, {0x0020, 0x007E},
      {0x00A0, 0x07FF}, {0x1E00, 0x1FFF}, {0x2010, 0x2027}, {0x2030, 0x205E},
      {0x20A0, 0x20CF}, {0x2100, 0x22FF}, {0x2460, 0x24FF}, {0x2500, 0x27BF},
      {0x3000, 0x312F}, {0x3400, 0x4DBF}, {0x4E00, 0x9FFF}, {0xAC00, 0xD7A3},
      {0xFE30, 0xFE4F}, {0xFF00, 0xFFEF},
  };
  for (const Range& range : kRanges)
    if (unit >= range.first && unit <= range.last) return true;
  return false;
}

// The units of [head, head + 2 * units) read in one byte order that are
// text (IsTextUnit, or half of a whole surrogate pair).
std::size_t TextUnits(const unsigned char* head, std::size_t units, bool big_endian) {
  auto unit = [&](std::size_t i) {
    const unsigned first = head[2 * i];
    const unsigned second = head[2 * i + 1];
    return static_cast<char16_t>(big_endian ? first << 8 | second : second << 8 | first);
  };
  std::size_t text = 0;
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t u = unit(i);
    if (IsHighSurrogate(u) && i + 1 < units && IsLowSurrogate(unit(i + 1))) {
      text += 2;
      ++i;
    } else if (IsTextUnit(u)) {
      ++text;
    }
  }
  return text;
}

std::string FoldedName(const std::string& name) {
  std::string folded;
  for (const char c : name) {
    if (c == '-' || c == '_') continue;
    folded += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return folded;
}

// The sequences a code page decodes without a malformed one, learnt from
// the code page itself: which bytes are characters alone, which pairs are,
// and for GB18030 which four-byte sequences are. Only for code pages whose
// text is a stateless run of such sequences with ASCII as itself, where a
// character found in the decoded text is found in the bytes in the form
// the code page encodes it.
class PageProfile {
 public:
  // The profile of `page`, learnt on first use; nullptr for a code page
  // whose text is not looked into.
  static const PageProfile* For(const TCodePage& page);

  bool Valid(const char* bytes, std::size_t size) const;
  // The UTF-16 code units of text that Valid accepts.
  std::int64_t Units(const char* bytes, std::size_t size) const;

 private:
  static constexpr std::size_t kFourByteCount = std::size_t{126} * 10 * 126 * 10;

  bool Learn(const TCodePage& page, bool four_byte);
  static std::size_t FourIndex(const unsigned char* at) {
    return ((static_cast<std::size_t>(at[0] - 0x81) * 10 + (at[1] - 0x30)) * 126 + (at[2] - 0x81)) *
               10 +
           (at[3] - 0x30);
  }
  static bool IsFourShaped(const unsigned char* at) {
    return at[0] >= 0x81 && at[0] <= 0xFE && at[1] >= 0x30 && at[1] <= 0x39 && at[2] >= 0x81 &&
           at[2] <= 0xFE && at[3] >= 0x30 && at[3] <= 0x39;
  }
  static bool Test(const std::vector<std::uint64_t>& bits, std::size_t i) {
    return (bits[i >> 6] >> (i & 63)) & 1;
  }
  static void Set(std::vector<std::uint64_t>& bits, std::size_t i) {
    bits[i >> 6] |= std::uint64_t{1} << (i & 63);
  }

  std::array<bool, 256> single_{};
  std::vector<std::uint64_t> pairs_;  // bit (lead << 8 | trail)
  std::vector<std::uint64_t> fours_;  // bit FourIndex; empty: no such sequences
};

// Decodes each sequence on a line of its own in one call and tells which
// decoded to exactly one character. A sequence that is not valid decodes to
// at least two units (a U+FFFD for its first byte, then the rest), so no
// count of malformed sequences per line is needed. When the lines do not
// come out one for one, none is taken as valid.
std::vector<bool> DecodesToOneCharacter(const TCodePage& page,
                                        const std::vector<std::string>& sequences) {
  std::string batch;
  for (const std::string& sequence : sequences) batch += sequence + '\n';
  const std::u16string decoded = page.Decode(batch);
  std::vector<bool> valid(sequences.size(), false);
  std::vector<bool> found;
  std::size_t start = 0;
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    if (decoded[i] != u'\n') continue;
    const std::size_t length = i - start;
    found.push_back(
        (length == 1 && !IsHighSurrogate(decoded[start]) && !IsLowSurrogate(decoded[start])) ||
        (length == 2 && IsHighSurrogate(decoded[start]) && IsLowSurrogate(decoded[start + 1])));
    start = i + 1;
  }
  if (found.size() == sequences.size() && start == decoded.size()) valid = found;
  return valid;
}

bool PageProfile::Learn(const TCodePage& page, bool four_byte) {
  for (unsigned byte = 1; byte < 256; ++byte) {
    std::size_t malformed = 0;
    const std::u16string decoded = page.Decode(std::string(1, static_cast<char>(byte)), malformed);
    single_[byte] = malformed == 0 && decoded.size() == 1;
    // ASCII must be itself, or what is looked for in the bytes is not what
    // the text holds.
    if (byte < 128 && (!single_[byte] || decoded[0] != byte)) return false;
  }
  pairs_.assign(std::size_t{1} << 10, 0);
  for (unsigned lead = 0x80; lead < 256; ++lead) {
    if (single_[lead]) continue;
    std::vector<std::string> sequences;
    std::vector<unsigned> trails;
    for (unsigned trail = 1; trail < 256; ++trail) {
      if (trail == '\n' || trail == '\r') continue;
      sequences.push_back({static_cast<char>(lead), static_cast<char>(trail)});
      trails.push_back(trail);
    }
    const std::vector<bool> valid = DecodesToOneCharacter(page, sequences);
    for (std::size_t k = 0; k < trails.size(); ++k)
      if (valid[k]) Set(pairs_, lead << 8 | trails[k]);
  }
  if (four_byte) {
    fours_.assign((kFourByteCount + 63) / 64, 0);
    std::vector<std::string> sequences;
    for (unsigned b1 = 0x81; b1 <= 0xFE; ++b1) {
      sequences.clear();
      for (unsigned b2 = 0x30; b2 <= 0x39; ++b2)
        for (unsigned b3 = 0x81; b3 <= 0xFE; ++b3)
          for (unsigned b4 = 0x30; b4 <= 0x39; ++b4)
            sequences.push_back({static_cast<char>(b1), static_cast<char>(b2),
                                 static_cast<char>(b3), static_cast<char>(b4)});
      const std::vector<bool> valid = DecodesToOneCharacter(page, sequences);
      for (std::size_t k = 0; k < sequences.size(); ++k)
        if (valid[k])
          Set(fours_, FourIndex(reinterpret_cast<const unsigned char*>(sequences[k].data())));
    }
  }
  return true;
}

const PageProfile* PageProfile::For(const TCodePage& page) {
  const std::string folded = FoldedName(page.Name());
  const bool four_byte = folded == "GB18030";
  if (!four_byte && folded != "GBK" && folded != "GB2312" && !folded.starts_with("ISO8859"))
    return nullptr;
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<PageProfile>> learnt;
  std::lock_guard lock(mutex);
  auto [at, fresh] = learnt.try_emplace(folded);
  if (fresh) {
    auto profile = std::make_unique<PageProfile>();
    if (profile->Learn(page, four_byte)) at->second = std::move(profile);
  }
  return at->second.get();
}

bool PageProfile::Valid(const char* bytes, std::size_t size) const {
  const auto* text = reinterpret_cast<const unsigned char*>(bytes);
  for (std::size_t i = 0;;) {
    i = simd::SkipAscii(bytes, i, size);
    if (i >= size) return true;
    if (single_[text[i]]) {
      ++i;
    } else if (i + 1 < size && Test(pairs_, std::size_t{text[i]} << 8 | text[i + 1])) {
      i += 2;
    } else if (!fours_.empty() && i + 3 < size && IsFourShaped(text + i) &&
               Test(fours_, FourIndex(text + i))) {
      i += 4;
    } else {
      return false;
    }
  }
}

std::int64_t PageProfile::Units(const char* bytes, std::size_t size) const {
  const auto* text = reinterpret_cast<const unsigned char*>(bytes);
  std::int64_t units = 0;
  for (std::size_t i = 0;;) {
    const std::size_t ascii_end = simd::SkipAscii(bytes, i, size);
    units += static_cast<std::int64_t>(ascii_end - i);
    i = ascii_end;
    if (i >= size) return units;
    if (single_[text[i]]) {
      i += 1;
    } else if (i + 3 < size && !fours_.empty() && IsFourShaped(text + i)) {
      // Four bytes from 0x90 on stand for a character beyond U+FFFF: a
      // surrogate pair.
      units += text[i] >= 0x90 ? 1 : 0;
      i += 4;
    } else {
      i += 2;
    }
    ++units;
  }
}

}  // namespace

bool IsUtf32Character(const char* unit, bool big_endian) {
  const auto* b = reinterpret_cast<const unsigned char*>(unit);
  const std::uint32_t value =
      big_endian ? std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | b[2] << 8 | b[3]
                 : std::uint32_t{b[3]} << 24 | std::uint32_t{b[2]} << 16 | b[1] << 8 | b[0];
  return value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
}

TTextEncoding SniffWideText(const char* head, std::size_t size) {
  size = std::min(size, kWideSniffBytes);
  if (size < 2 || std::memchr(head, 0, size) == nullptr) return teAnsi;
  const auto* bytes = reinterpret_cast<const unsigned char*>(head);
  for (const bool big_endian : {false, true}) {
    const std::size_t units = size / 4;
    bool all = units > 0;
    bool some_not_zero = false;
    for (std::size_t i = 0; all && i < units; ++i) {
      all = IsUtf32Character(head + 4 * i, big_endian);
      some_not_zero = some_not_zero || (bytes[4 * i] | bytes[4 * i + 1] | bytes[4 * i + 2] |
                                        bytes[4 * i + 3]) != 0;
    }
    if (all && some_not_zero) return big_endian ? teUtf32BE : teUtf32LE;
  }
  // UTF-16: an order in which the text reads as text, with zero bytes
  // where UTF-16 has them: as the high bytes of one unit in eight or more
  // (ASCII and Latin-1 characters), or in the line ends, with next to no
  // CR or LF as a high byte. Text in an 8-bit set with a NUL or two has
  // neither.
  const std::size_t units = size / 2;
  struct Order {
    bool text = false;
    std::size_t high_zeros = 0;
  };
  Order orders[2];
  for (const bool big_endian : {false, true}) {
    std::size_t high_zeros = 0;
    std::size_t line_ends = 0;
    std::size_t stray_breaks = 0;
    for (std::size_t i = 0; i < units; ++i) {
      const unsigned high = bytes[2 * i + (big_endian ? 0 : 1)];
      const unsigned low = bytes[2 * i + (big_endian ? 1 : 0)];
      const bool is_break = low == '\n' || low == '\r';
      high_zeros += high == 0 ? 1 : 0;
      line_ends += high == 0 && is_break ? 1 : 0;
      // A CR or LF byte as a high byte: 8-bit text has half of its line
      // ends there, UTF-16 text none (not even a CJK character, whose low
      // byte may be one).
      stray_breaks += high == '\n' || high == '\r' ? 1 : 0;
    }
    // One zero byte alone is no pattern: a NUL in a few bytes of ASCII.
    const bool zeros_in_place = (high_zeros >= 2 && high_zeros * 8 >= units) ||
                                (line_ends > 0 && stray_breaks * 4 <= line_ends);
    orders[big_endian ? 1 : 0] = {
        zeros_in_place && TextUnits(bytes, units, big_endian) * 20 >= units * 19, high_zeros};
  }
  const Order& le = orders[0];
  const Order& be = orders[1];
  if (le.text && (!be.text || le.high_zeros > be.high_zeros)) return teUtf16LE;
  if (be.text && (!le.text || be.high_zeros > le.high_zeros)) return teUtf16BE;
  return teAnsi;
}

void CountUtf8Sequences(const char* bytes, std::size_t size, std::size_t& well_formed,
                        std::size_t& malformed) {
  const auto* text = reinterpret_cast<const unsigned char*>(bytes);
  for (std::size_t i = 0;;) {
    i = simd::SkipAscii(bytes, i, size);
    if (i >= size) return;
    while (i < size && text[i] >= 0x80) {
      const LeadRule rule = kLeadRules[text[i]];
      // The bytes of the sequence that are as they should be: a malformed
      // one is its lead and those, as the decoder replaces it.
      std::size_t good = rule.length == 0 ? 0 : 1;
      if (good == 1 && i + 1 < size && text[i + 1] >= rule.low && text[i + 1] <= rule.high) {
        good = 2;
        while (good < rule.length && i + good < size && IsContinuation(text[i + good])) ++good;
      }
      if (good > 0 && good == rule.length) {
        ++well_formed;
        i += good;
      } else {
        ++malformed;
        i += std::max<std::size_t>(good, 1);
      }
    }
  }
}

int CommonHanziShare(std::u16string_view text) {
  static const std::vector<bool> common = [] {
    std::vector<bool> set(0x10000, false);
    for (const char16_t unit : std::u16string_view(kCommonHanzi)) set[unit] = true;
    return set;
  }();
  std::size_t beyond = 0;
  std::size_t found = 0;
  for (const char16_t unit : text) {
    if (unit < 0x80 || IsLowSurrogate(unit)) continue;
    ++beyond;
    found += common[unit] ? 1 : 0;
  }
  return beyond == 0 ? 0 : static_cast<int>(found * 1000 / beyond);
}

// Where to end a slice of the UTF-8 at `text` (`size` bytes, more than
// `limit`) near `limit`, so that the slices decode exactly as the whole
// does. Before a byte that cannot continue a sequence, any sequence in
// front of it is broken off there anyway, and at the end of a slice it is
// broken off alike. Where the three bytes before the place (those after
// the slice's start) are continuation bytes, no lead byte is near enough
// for its sequence to reach the place, so it is one too. Without such a
// place in reach the slice runs on to the next, or to the end.
std::size_t Utf8SliceEnd(const char* text, std::size_t size, std::size_t limit) {
  auto ends_slice = [text](std::size_t length) {
    if (!IsContinuation(static_cast<unsigned char>(text[length]))) return true;
    for (std::size_t i = length; i > 0 && i + 3 > length; --i)
      if (!IsContinuation(static_cast<unsigned char>(text[i - 1]))) return false;
    return true;
  };
  return NearestSliceEnd(size, limit, ends_slice);
}

// Decodes code-page text whole, or a slice at a time ending where the
// decoder starts afresh anyway, with a look at the cancel flag before each.
void DecodeInSlices(const TCodePage& page, const char* text, std::size_t size,
                    std::size_t slice_bytes, const std::atomic<bool>* cancel, std::u16string& out,
                    MalformedTally& tally) {
  if (size <= slice_bytes) {
    out = page.Decode(std::string_view(text, size), tally.count);
    tally.Check();
    return;
  }
  // Never more units than bytes: a byte that is not valid becomes one
  // U+FFFD.
  out.clear();
  out.reserve(size);
  for (std::size_t at = 0; at < size;) {
    ThrowIfCancelled(cancel);
    const std::size_t take =
        size - at > slice_bytes ? AnsiSliceEnd(text + at, size - at, slice_bytes) : size - at;
    out += page.Decode(std::string_view(text + at, take), tally.count);
    tally.Check();
    at += take;
  }
}

void DecodeUtf8Line(const char* begin, const char* end, std::u16string& out,
                    const std::atomic<bool>* cancel, std::size_t& malformed) {
  const auto length = static_cast<std::size_t>(end - begin);
  out.resize(length);
  std::size_t units = 0;
  for (const char* p = begin; p < end;) {
    if (length > kDecodeSliceBytes) ThrowIfCancelled(cancel);
    const auto left = static_cast<std::size_t>(end - p);
    const std::size_t take =
        left > kDecodeSliceBytes ? Utf8SliceEnd(p, left, kDecodeSliceBytes) : left;
    units += Utf8DecodeInto(p, take, out.data() + units, malformed);
    p += take;
  }
  out.resize(units);
}

void DecodeCodePageText(const TCodePage& page, const char* text, std::size_t size,
                        std::u16string& out, const std::atomic<bool>* cancel,
                        std::size_t& malformed) {
  MalformedTally tally;
  DecodeInSlices(page, text, size, kDecodeSliceBytes, cancel, out, tally);
  malformed += tally.count;
}

Validity CheckText(const TCodePage& page, const char* text, std::size_t size) {
  if (page.IsUtf8()) return IsValidUtf8(text, size) ? Validity::kValid : Validity::kInvalid;
  const PageProfile* profile = PageProfile::For(page);
  if (profile == nullptr) return Validity::kUnknown;
  return profile->Valid(text, size) ? Validity::kValid : Validity::kInvalid;
}

std::int64_t CountUnits(const TCodePage& page, const char* text, std::size_t size) {
  if (page.IsUtf8()) return static_cast<std::int64_t>(simd::CountUtf8Units(text, size));
  const PageProfile* profile = PageProfile::For(page);
  return profile == nullptr ? -1 : profile->Units(text, size);
}

TTextEncoding WideEncodingOf(const TCodePage& page) {
  const std::string folded = FoldedName(page.Name());
  if (folded == "UTF16LE") return teUtf16LE;
  if (folded == "UTF16BE") return teUtf16BE;
  return teAnsi;
}

bool KeepsAscii(const TCodePage& page) {
  if (page.IsUtf8()) return true;
  static std::mutex mutex;
  static std::map<std::string, bool> known;
  std::lock_guard lock(mutex);
  const auto [at, fresh] = known.try_emplace(page.Name(), false);
  if (fresh) {
    // The line ends, the 0, and the printable ASCII but for the backslash
    // and the tilde, which some Japanese sets give as the yen sign and the
    // overline and which a line can do without.
    std::string bytes("\0\t\n\r", 4);
    for (char c = 0x20; c < 0x7F; ++c)
      if (c != '\\' && c != '~') bytes += c;
    std::size_t malformed = 0;
    const std::u16string decoded = page.Decode(bytes, malformed);
    at->second = malformed == 0 && decoded == std::u16string(bytes.begin(), bytes.end());
  }
  return at->second;
}

std::string UsableCodeset(const std::string& answer) {
  const std::string folded = FoldedName(answer);
  if (folded.empty() || folded == "ASCII") return std::string();
  if (folded == "UTF8") return "UTF-8";
  // Text the detector calls GB2312 or GBK is read in GB18030, which holds
  // both; Korean text it calls EUC-KR (or UHC) in CP949, which holds EUC-KR
  // and the syllables Windows adds; and Western text it calls ISO-8859-1 in
  // WINDOWS-1252, whose quotes, dashes and euro sign stand where ISO-8859-1
  // has control characters that real text never holds. BIG5 is read as
  // iconv's BIG5 (the same table as its CP950); BIG5-HKSCS maps hundreds of
  // Big5 characters otherwise and lacks a few.
  std::string codeset = answer;
  if (folded == "GB2312" || folded == "GBK" || folded == "GB18030" || folded == "CP936") {
    codeset = "GB18030";
  } else if (folded == "EUCKR" || folded == "UHC" || folded == "CP949") {
    codeset = "CP949";
  } else if (folded == "ISO88591") {
    codeset = "WINDOWS-1252";
  }
  if (!IsKnownCodeset(codeset)) return std::string();
  const TCodePage page(codeset);
  if (!KeepsAscii(page)) return std::string();
  return codeset;
}

struct EncodingDetector::Detector {
  uchardet_t handle = uchardet_new();
  ~Detector() { uchardet_delete(handle); }
};

EncodingDetector::EncodingDetector() : detector_(std::make_unique<Detector>()) {
  if (detector_->handle == nullptr) throw std::bad_alloc();
}

EncodingDetector::~EncodingDetector() = default;

void EncodingDetector::Feed(const char* text, std::size_t size) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (std::size_t i = 0; i < size && !Full();) {
    // The next byte of 0x80 or more, and the line around it.
    const std::size_t high = simd::SkipAscii(text, i, size);
    if (high >= size) return;
    std::size_t start = high;
    while (start > i && bytes[start - 1] != '\n' && bytes[start - 1] != '\r') --start;
    std::size_t end = high;
    while (end < size && bytes[end] != '\n' && bytes[end] != '\r') ++end;
    const std::size_t take = std::min(end - start, kDetectorBudgetBytes - fed_);
    // Each line ends in an LF of its own, however it ended in the text.
    given_.append(text + start, take);
    given_ += '\n';
    fed_ += take;
    i = end;
  }
}

std::string EncodingDetector::Answer() {
  uchardet_handle_data(detector_->handle, given_.data(), given_.size());
  uchardet_data_end(detector_->handle);
  const char* answer = uchardet_get_charset(detector_->handle);
  std::string named = answer != nullptr ? std::string(answer) : std::string();
  // A byte or three beyond ASCII are too little to tell one set from
  // another: the detector's guess would be as likely one of the rarer
  // single-byte sets as the right one.
  const auto high_bytes = static_cast<std::size_t>(std::count_if(
      given_.begin(), given_.end(), [](char byte) { return static_cast<unsigned char>(byte) >= 0x80; }));
  if (high_bytes < kDetectorMinHighBytes) named.clear();
  // On a few characters the detector may call text UTF-8 that is mostly
  // malformed in it (GB18030 of two or three characters is); UTF-8 with
  // stray bytes has more characters than strays.
  if (FoldedName(named) == "UTF8") {
    std::size_t malformed = 0;
    const std::u16string decoded = Utf8Decode(given_, malformed);
    const auto beyond_ascii = static_cast<std::size_t>(
        std::count_if(decoded.begin(), decoded.end(), [](char16_t unit) { return unit >= 0x80; }));
    if (beyond_ascii - malformed <= malformed) named.clear();
  }
  return named;
}

namespace {

// Goes over the text with `pass` until check(text, size) finds a run not
// valid; whether none was.
bool WholeTextPasses(const TextPass& pass, const std::atomic<bool>* cancel,
                     const std::function<bool(const char*, std::size_t)>& check) {
  bool valid = true;
  pass([&](const char* text, std::size_t size) {
    ThrowIfCancelled(cancel);
    valid = check(text, size);
    return valid;
  });
  return valid;
}

}  // namespace

namespace {

// Text in GB18030 and in BIG5 often reads without a malformed byte in the
// other set too, and on a few lines the detector may take one for the
// other. Where the detector named one of them and the lines it was given
// are valid in both, the reading with the larger share of common Chinese
// characters is taken; the detector's answer when the shares are equal.
bool CompareChineseSets(const std::string& answer, const std::string& sample,
                        CharacterSetChoice& chosen) {
  static const std::string kSets[] = {"GB18030", "BIG5"};
  const auto named = std::find(std::begin(kSets), std::end(kSets), answer);
  if (named == std::end(kSets)) return false;
  const std::string& other = kSets[named == std::begin(kSets) ? 1 : 0];
  std::size_t malformed = 0;
  const std::u16string as_named = TCodePage(answer).Decode(sample, malformed);
  const std::u16string as_other = TCodePage(other).Decode(sample, malformed);
  if (malformed > 0) return false;
  const int named_share = CommonHanziShare(as_named);
  const int other_share = CommonHanziShare(as_other);
  const bool swap = other_share > named_share;
  chosen.page = TCodePage(swap ? other : answer);
  // The detector's answer stays "detected" when the comparison bears it
  // out; what was measured is kept either way.
  chosen.choice = swap ? TReadChoice::kCompared : TReadChoice::kDetected;
  chosen.comparison = {swap ? other : answer, swap ? other_share : named_share,
                       swap ? answer : other, swap ? named_share : other_share, answer};
  return true;
}

}  // namespace

CharacterSetChoice ChooseCharacterSet(const TTextDecoding& decoding, const TCodePage& locale,
                                      const TextPass& pass, const std::atomic<bool>* cancel,
                                      bool known_not_utf8) {
  CharacterSetChoice chosen;
  if (decoding.kind != TDecodingKind::Auto) {
    chosen.page = decoding.kind == TDecodingKind::Locale ? locale : decoding.code_page;
    chosen.choice = TReadChoice::kNamed;
    return chosen;
  }
  // One pass counts the text's UTF-8 sequences and gives the detector its
  // lines. Counting stops once the strays are too many for UTF-8 (a legacy
  // set shows that within its first lines); valid UTF-8 and UTF-8 with a few
  // strays are gone over whole.
  std::size_t well_formed = 0;
  std::size_t strays = 0;
  constexpr std::size_t kStraysToGiveUp = 64;
  auto counting = [&] { return strays < kStraysToGiveUp || MostlyUtf8(well_formed, strays); };
  EncodingDetector detector;
  pass([&](const char* text, std::size_t size) {
    ThrowIfCancelled(cancel);
    if (counting()) CountUtf8Sequences(text, size, well_formed, strays);
    if (!detector.Full()) detector.Feed(text, size);
    return counting() || !detector.Full();
  });
  if (strays == 0 && !known_not_utf8) {
    // Valid UTF-8 is UTF-8, without a word from the detector.
    chosen.page = TCodePage("UTF-8");
    chosen.choice = TReadChoice::kUtf8;
    chosen.valid = true;
    return chosen;
  }
  if (MostlyUtf8(well_formed, strays)) {
    chosen.page = TCodePage("UTF-8");
    chosen.choice = TReadChoice::kUtf8Strays;
    return chosen;
  }
  const std::string answer = detector.Answer();
  if (const std::string usable = UsableCodeset(answer); !usable.empty()) {
    if (CompareChineseSets(usable, detector.Given(), chosen)) return chosen;
    chosen.page = TCodePage(usable);
    chosen.choice = TReadChoice::kDetected;
    return chosen;
  }
  // Without an answer iconv can use, text valid in the locale's set (when
  // that is not UTF-8) is read in it, as it always was.
  if (!locale.IsUtf8() && locale.Name() != decoding.code_page.Name() && KeepsAscii(locale) &&
      WholeTextPasses(pass, cancel, [&](const char* text, std::size_t size) {
        const Validity validity = CheckText(locale, text, size);
        if (validity != Validity::kUnknown) return validity == Validity::kValid;
        std::size_t malformed = 0;
        std::u16string decoded;
        DecodeCodePageText(locale, text, size, decoded, cancel, malformed);
        return malformed == 0;
      })) {
    chosen.page = locale;
    chosen.choice = TReadChoice::kLocale;
    chosen.valid = true;
    return chosen;
  }
  chosen.page = decoding.code_page;
  chosen.choice = TReadChoice::kFallback;
  if (!FoldedName(answer).empty() && FoldedName(answer) != "ASCII") chosen.detected = answer;
  return chosen;
}

}  // namespace tallyfold::text_internal
