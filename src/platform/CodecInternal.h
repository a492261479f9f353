// What the hand-written codecs share (UTF-8, GB18030, EUC-KR): the
// replacement character, the fast copy of ASCII runs, and the walk over the
// code points of UTF-16 text that their encoders make.
//
// Internal to the platform layer.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace tallyfold::codec_internal {

inline constexpr char16_t kReplacementCharacter = 0xFFFD;

// Widens the ASCII bytes at `p` to `o`, eight at a time while eight remain,
// and stops before the first eight that are not all ASCII; both move on by
// what was copied.
inline void WidenAsciiRun(const unsigned char*& p, const unsigned char* end, char16_t*& o) {
  while (end - p >= 8) {
    std::uint64_t chunk;
    std::memcpy(&chunk, p, 8);
    if (chunk & 0x8080808080808080ULL) return;
    for (int i = 0; i < 8; ++i) o[i] = p[i];
    p += 8;
    o += 8;
  }
}

// Calls `put(code)` for each character of `text` (a surrogate pair as the
// one character it stands for) and `lone()` for each surrogate without its
// partner.
template <typename Put, typename Lone>
void ForEachCodePoint(std::u16string_view text, Put put, Lone lone) {
  const char16_t* p = text.data();
  const char16_t* const end = p + text.size();
  while (p < end) {
    const char16_t unit = *p++;
    if (unit < 0xD800 || unit > 0xDFFF) {
      put(static_cast<char32_t>(unit));
    } else if (unit <= 0xDBFF && p < end && *p >= 0xDC00 && *p <= 0xDFFF) {
      put(static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (*p++ - 0xDC00)));
    } else {
      lone();
    }
  }
}

}  // namespace tallyfold::codec_internal
