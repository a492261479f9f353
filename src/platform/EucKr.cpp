// The table-driven EUC-KR codec. The byte structure is written out here;
// which code maps to which character comes from EucKrTable.inc, generated
// from glibc's iconv.
//
// This file's external interface is EucKr.h; tests/text/TableCodecTest.cpp
// compares it with iconv.
#include "platform/EucKr.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "platform/CodecInternal.h"

namespace tallyfold {

namespace {

using codec_internal::kReplacementCharacter;
using codec_internal::WidenAsciiRun;

#include "platform/EucKrTable.inc"

bool IsCodeByte(unsigned byte) { return byte >= 0xA1 && byte <= 0xFE; }

int Cell(unsigned lead, unsigned trail) {
  return static_cast<int>((lead - 0xA1) * 94 + trail - 0xA1);
}

// The encoder's view of the Basic Multilingual Plane: for each code point,
// 0 if it has no two-byte code, else 1 + the cell of its first one.
class TBmpCodes {
 public:
  TBmpCodes() : entries_{} {
    for (int cell = 0; cell < 94 * 94; ++cell) {
      const char16_t unit = kEucKrTwoByte[cell];
      if (unit != 0 && entries_[unit] == 0) entries_[unit] = static_cast<std::uint16_t>(1 + cell);
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

// The two bytes of `code` (0xA0 or above) as a big-endian number, 0 if it
// has none.
std::uint32_t EncodeCodePoint(char32_t code) {
  constexpr std::size_t kExceptions = std::size(kEucKrEncodeExceptions) / 2;
  for (std::size_t i = 0; i < kExceptions; ++i) {
    if (kEucKrEncodeExceptions[2 * i] == code) return kEucKrEncodeExceptions[2 * i + 1];
  }
  if (code >= 0x10000) return 0;
  const std::uint32_t entry = BmpCodes()[static_cast<char16_t>(code)];
  if (entry == 0) return 0;
  const std::uint32_t cell = entry - 1;
  return (0xA1 + cell / 94) << 8 | (0xA1 + cell % 94);
}

}  // namespace

std::u16string EucKrDecode(std::string_view bytes, std::size_t& malformed) {
  // Every code and every rejected byte gives one unit.
  std::u16string out(bytes.size(), u'\0');
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  char16_t* o = out.data();
  while (p < end) {
    WidenAsciiRun(p, end, o);  // runs of ASCII, eight bytes at a time
    // Runs of two-byte codes, the bulk of Korean text.
    while (end - p >= 2 && IsCodeByte(p[0]) && IsCodeByte(p[1])) {
      const char16_t unit = kEucKrTwoByte[Cell(p[0], p[1])];
      if (unit == 0) break;
      *o++ = unit;
      p += 2;
    }
    if (p == end) break;
    const unsigned lead = *p;
    if (lead < 0xA0) {
      *o++ = static_cast<char16_t>(lead);
      ++p;
      continue;
    }
    // The two-byte loop above took every valid code: no character starts
    // here. One U+FFFD, and on with the next byte. (iconv calls a lead byte
    // at the very end incomplete and stops, which comes to the same.)
    *o++ = kReplacementCharacter;
    ++malformed;
    ++p;
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return out;
}

std::string EucKrEncode(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  codec_internal::ForEachCodePoint(
      text,
      [&out](char32_t code) {
        if (code < 0xA0) {
          out += static_cast<char>(code);
          return;
        }
        const std::uint32_t encoded = EncodeCodePoint(code);
        if (encoded == 0) {
          // glibc leaves out the tag characters, U+E0000-U+E007F, where the
          // character set lacks them; any other character becomes '?'.
          if ((code >> 7) != (0xE0000 >> 7)) out += '?';
        } else {
          const char two[2] = {static_cast<char>(encoded >> 8), static_cast<char>(encoded)};
          out.append(two, 2);
        }
      },
      [&out] { out += '?'; });  // a surrogate without its partner
  return out;
}

}  // namespace tallyfold
