// The table-driven GB18030 codec. The byte structure is written out here;
// which code maps to which character comes from Gb18030Table.inc, generated
// from glibc's iconv.
//
// This file's external interface is Gb18030.h; tests/text/TableCodecTest.cpp
// compares it with iconv.
#include "platform/Gb18030.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "platform/CodecInternal.h"

namespace tallyfold {

namespace {

using codec_internal::kReplacementCharacter;
using codec_internal::WidenAsciiRun;

#include "platform/Gb18030Table.inc"

// Trails of a two-byte code are 0x40-0x7E and 0x80-0xFE; kGbTwoByte has
// a cell for each byte from 0x40 up, 0 for 0x7F and 0xFF.
constexpr int kTrailsPerLead = 192;

bool IsLead(unsigned byte) { return byte - 0x81 < 0x7E; }

int TwoByteCell(unsigned lead, unsigned trail) {
  return static_cast<int>((lead - 0x81) * kTrailsPerLead + trail - 0x40);
}

// One run of kGbFourByteRuns.
struct TFourByteRun {
  std::uint32_t first_index;
  char32_t first_code;  // 0: the run's codes are rejected
};

constexpr std::size_t kFourByteRunCount = std::size(kGbFourByteRuns) / 2;

constexpr TFourByteRun FourByteRun(std::size_t i) {
  return {kGbFourByteRuns[2 * i], kGbFourByteRuns[2 * i + 1]};
}

// The index one past the last four-byte code: 126 * 10 * 126 * 10.
constexpr std::uint32_t kFourByteIndexEnd = 1587600;

constexpr std::uint32_t RunEnd(std::size_t i) {
  return i + 1 < kFourByteRunCount ? FourByteRun(i + 1).first_index : kFourByteIndexEnd;
}

// The code point of four-byte index `index`, 0 if glibc rejects the code.
char32_t FourByteCode(std::uint32_t index) {
  // Characters beyond U+FFFF: plain arithmetic.
  if (index - kGbPlaneIndex < 0x100000U) return 0x10000 + (index - kGbPlaneIndex);
  std::size_t low = 0, high = kFourByteRunCount;  // the run is in [low, high)
  while (high - low > 1) {
    const std::size_t mid = (low + high) / 2;
    if (FourByteRun(mid).first_index <= index)
      low = mid;
    else
      high = mid;
  }
  const TFourByteRun run = FourByteRun(low);
  return run.first_code == 0 ? 0 : run.first_code + (index - run.first_index);
}

char16_t* PutCodePoint(char16_t* out, char32_t code) {
  if (code < 0x10000) {
    *out++ = static_cast<char16_t>(code);
  } else {
    code -= 0x10000;
    *out++ = static_cast<char16_t>(0xD800 + (code >> 10));
    *out++ = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
  }
  return out;
}

// The encoder's view of the Basic Multilingual Plane: for each code point,
// 0 if it has no code, 1 + the cell of its two-byte code, or
// kFourByteBase + the index of its four-byte code. A code point with
// several codes takes the first two-byte one, or else the lowest four-byte
// one; the few places where glibc chooses otherwise are in
// kGbEncodeExceptions.
constexpr std::uint32_t kFourByteBase = 1 + 126 * kTrailsPerLead;

// Every four-byte code below U+10000 fits the 16-bit entries.
constexpr bool BmpFourByteCodesFit() {
  for (std::size_t i = 0; i < kFourByteRunCount; ++i) {
    const TFourByteRun run = FourByteRun(i);
    if (run.first_code != 0 && run.first_code < 0x10000 &&
        kFourByteBase + RunEnd(i) - 1 > 0xFFFF)
      return false;
  }
  return true;
}
static_assert(BmpFourByteCodesFit());

class TBmpCodes {
 public:
  TBmpCodes() : entries_{} {
    for (int cell = 0; cell < 126 * kTrailsPerLead; ++cell) {
      const char16_t unit = kGbTwoByte[cell];
      if (unit != 0 && (unit < 0xD800 || unit > 0xDFFF) && entries_[unit] == 0)
        entries_[unit] = static_cast<std::uint16_t>(1 + cell);
    }
    for (std::size_t i = 0; i < kFourByteRunCount; ++i) {
      const TFourByteRun run = FourByteRun(i);
      if (run.first_code == 0 || run.first_code >= 0x10000) continue;
      const std::uint32_t end = RunEnd(i);
      for (std::uint32_t index = run.first_index; index < end; ++index) {
        const char32_t code = run.first_code + (index - run.first_index);
        if (code < 0x10000 && entries_[code] == 0)
          entries_[code] = static_cast<std::uint16_t>(kFourByteBase + index);
      }
    }
  }

  std::uint16_t operator[](char16_t code) const { return entries_[code]; }

 private:
  std::array<std::uint16_t, 0x10000> entries_;
};

const TBmpCodes& BmpCodes() {
  static const TBmpCodes codes;
  return codes;
}

// The GB18030 bytes of four-byte index `index`, as a big-endian number.
std::uint32_t FourByteBytes(std::uint32_t index) {
  const std::uint32_t b4 = 0x30 + index % 10;
  index /= 10;
  const std::uint32_t b3 = 0x81 + index % 126;
  index /= 126;
  const std::uint32_t b2 = 0x30 + index % 10;
  const std::uint32_t b1 = 0x81 + index / 10;
  return b1 << 24 | b2 << 16 | b3 << 8 | b4;
}

// The bytes of `code` (not ASCII) as a big-endian number, 0 if it has none.
std::uint32_t EncodeCodePoint(char32_t code) {
  constexpr std::size_t kExceptions = std::size(kGbEncodeExceptions) / 2;
  std::size_t low = 0, high = kExceptions;
  while (low < high) {
    const std::size_t mid = (low + high) / 2;
    if (kGbEncodeExceptions[2 * mid] < code)
      low = mid + 1;
    else
      high = mid;
  }
  if (low < kExceptions && kGbEncodeExceptions[2 * low] == code)
    return kGbEncodeExceptions[2 * low + 1];
  if (code >= 0x10000) return FourByteBytes(kGbPlaneIndex + (code - 0x10000));
  const std::uint32_t entry = BmpCodes()[static_cast<char16_t>(code)];
  if (entry == 0) return 0;
  if (entry >= kFourByteBase) return FourByteBytes(entry - kFourByteBase);
  const std::uint32_t cell = entry - 1;
  const std::uint32_t lead = 0x81 + cell / kTrailsPerLead;
  const std::uint32_t trail = 0x40 + cell % kTrailsPerLead;
  return lead << 8 | trail;
}

}  // namespace

std::u16string Gb18030Decode(std::string_view bytes, std::size_t& malformed) {
  // Every code and every rejected byte gives at most one unit per byte.
  std::u16string out(bytes.size(), u'\0');
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  char16_t* o = out.data();
  while (p < end) {
    WidenAsciiRun(p, end, o);  // runs of ASCII, eight bytes at a time
    // Runs of two-byte codes, the bulk of Chinese text.
    while (end - p >= 2 && IsLead(p[0]) && p[1] >= 0x40) {
      const char16_t unit = kGbTwoByte[TwoByteCell(p[0], p[1])];
      if (unit == 0 || (unit >= 0xD800 && unit <= 0xDFFF)) break;
      *o++ = unit;
      p += 2;
    }
    if (p == end) break;
    const unsigned lead = *p;
    if (lead < 0x80) {
      *o++ = static_cast<char16_t>(lead);
      ++p;
      continue;
    }
    if (IsLead(lead)) {
      // iconv wants the second byte, and for a four-byte code all four,
      // before it judges any of them: a code cut off at the end of the
      // input is incomplete whatever its bytes, and ends the text.
      if (end - p < 2) {
        *o++ = kReplacementCharacter;
        ++malformed;
        break;
      }
      const unsigned second = p[1];
      if (second >= 0x30 && second <= 0x39) {
        if (end - p < 4) {
          *o++ = kReplacementCharacter;
          ++malformed;
          break;
        }
        const unsigned third = p[2], fourth = p[3];
        if (third >= 0x81 && third <= 0xFE && fourth >= 0x30 && fourth <= 0x39) {
          const std::uint32_t index =
              (((lead - 0x81) * 10 + second - 0x30) * 126 + third - 0x81) * 10 + fourth - 0x30;
          if (const char32_t code = FourByteCode(index); code != 0) {
            o = PutCodePoint(o, code);
            p += 4;
            continue;
          }
        }
      } else if (second >= 0x40) {
        const char16_t unit = kGbTwoByte[TwoByteCell(lead, second)];
        if (unit != 0) {
          if (unit >= 0xD800 && unit <= 0xDFFF)
            o = PutCodePoint(o, kGbTwoByteBeyondBmp[unit - 0xD800]);
          else
            *o++ = unit;
          p += 2;
          continue;
        }
      }
    }
    // No character starts here: one U+FFFD, and on with the next byte.
    *o++ = kReplacementCharacter;
    ++malformed;
    ++p;
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return out;
}

std::string Gb18030Encode(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  codec_internal::ForEachCodePoint(
      text,
      [&out](char32_t code) {
        if (code < 0x80) {
          out += static_cast<char>(code);
          return;
        }
        const std::uint32_t encoded = EncodeCodePoint(code);
        if (encoded == 0) {
          out += '?';
        } else if (encoded > 0xFFFF) {
          const char four[4] = {static_cast<char>(encoded >> 24), static_cast<char>(encoded >> 16),
                                static_cast<char>(encoded >> 8), static_cast<char>(encoded)};
          out.append(four, 4);
        } else {
          const char two[2] = {static_cast<char>(encoded >> 8), static_cast<char>(encoded)};
          out.append(two, 2);
        }
      },
      [&out] { out += '?'; });  // a surrogate without its partner
  return out;
}

}  // namespace tallyfold
