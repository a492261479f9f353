// The hand-written UTF-8 codec, which every system shares.
//
// This file's external interface is CodePage.h; tests/text/CodePageTest.cpp
// covers it.
#include <cstdint>
#include <cstring>

#include "platform/CodePage.h"
#include "platform/CodecInternal.h"

namespace tallyfold {

using codec_internal::kReplacementCharacter;

std::size_t Utf8DecodeInto(const char* bytes, std::size_t size, char16_t* out) {
  std::size_t malformed = 0;
  return Utf8DecodeInto(bytes, size, out, malformed);
}

std::size_t Utf8DecodeInto(const char* bytes, std::size_t size, char16_t* out,
                           std::size_t& malformed) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  const auto* const end = p + size;
  char16_t* o = out;
  while (p < end) {
    // Corpus text is mostly ASCII: copy eight such bytes at a time.
    codec_internal::WidenAsciiRun(p, end, o);
    if (p == end) break;
    const unsigned lead = *p++;
    if (lead < 0x80) {
      *o++ = static_cast<char16_t>(lead);
      continue;
    }
    // The well-formed sequences: the lead byte fixes the number of
    // continuation bytes and the range allowed for the first of them, which
    // excludes overlong forms, surrogates and values above U+10FFFF.
    int continuation;
    unsigned low = 0x80, high = 0xBF;
    char32_t code;
    if (lead >= 0xC2 && lead <= 0xDF) {
      continuation = 1;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      continuation = 2;
      code = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      continuation = 3;
      code = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      *o++ = kReplacementCharacter;
      ++malformed;
      continue;
    }
    bool complete = true;
    for (int i = 0; i < continuation; ++i) {
      if (p == end || *p < low || *p > high) {
        complete = false;
        break;
      }
      code = (code << 6) | (*p++ & 0x3F);
      low = 0x80;
      high = 0xBF;
    }
    if (!complete) {
      // The bytes taken so far are one maximal invalid subpart; the byte
      // that broke it off starts the next step.
      *o++ = kReplacementCharacter;
      ++malformed;
    } else if (code >= 0x10000) {
      code -= 0x10000;
      *o++ = static_cast<char16_t>(0xD800 + (code >> 10));
      *o++ = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      *o++ = static_cast<char16_t>(code);
    }
  }
  return static_cast<std::size_t>(o - out);
}

std::u16string Utf8Decode(std::string_view bytes) {
  std::size_t malformed = 0;
  return Utf8Decode(bytes, malformed);
}

std::u16string Utf8Decode(std::string_view bytes, std::size_t& malformed) {
  std::u16string out(bytes.size(), u'\0');
  out.resize(Utf8DecodeInto(bytes.data(), bytes.size(), out.data(), malformed));
  return out;
}

std::string Utf8Encode(std::u16string_view text) {
  std::string out;
  AppendUtf8(out, text);
  return out;
}

void AppendUtf8(std::string& out, std::u16string_view text) {
  // Written through a pointer into room for the longest encoding, three
  // bytes a unit (a pair takes four for two), and cut to size after.
  const std::size_t start = out.size();
  out.resize(start + 3 * text.size());
  char* o = out.data() + start;
  const char16_t* p = text.data();
  const char16_t* const end = p + text.size();
  while (p < end) {
    // A run of ASCII, eight units at a time while they last.
    while (end - p >= 8) {
      std::uint64_t a, b;
      std::memcpy(&a, p, 8);
      std::memcpy(&b, p + 4, 8);
      if (((a | b) & 0xFF80FF80FF80FF80ull) != 0) break;
      for (int k = 0; k < 8; ++k) o[k] = static_cast<char>(p[k]);
      o += 8;
      p += 8;
    }
    if (p == end) break;
    const char32_t unit = *p++;
    if (unit < 0x80) {
      *o++ = static_cast<char>(unit);
      continue;
    }
    char32_t c = unit;
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      if (unit <= 0xDBFF && p < end && *p >= 0xDC00 && *p <= 0xDFFF)
        c = 0x10000 + ((unit - 0xD800) << 10) + (*p++ - 0xDC00);
      else
        c = 0xFFFD;  // a surrogate without its partner
    }
    if (c < 0x800) {
      *o++ = static_cast<char>(0xC0 | (c >> 6));
    } else if (c < 0x10000) {
      *o++ = static_cast<char>(0xE0 | (c >> 12));
      *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    } else {
      *o++ = static_cast<char>(0xF0 | (c >> 18));
      *o++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    *o++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
}

}  // namespace tallyfold
