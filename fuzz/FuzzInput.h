// Internal to the fuzz targets: splits a fuzz input into text fields.
//
// Fields are separated by 0x00 bytes. Each field is decoded as UTF-8 where
// it is well formed (3-byte encodings of surrogates included, so lone
// surrogates are reachable; EF BF BF is U+FFFF), with the two-byte form
// C0 80 standing for U+0000, which the separator byte cannot give, and byte
// by byte as Latin-1 where it is not, so every code unit is reachable in
// every field and seed files stay readable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tallyfold::fuzz {

inline std::u16string DecodeField(const uint8_t* p, size_t n) {
  std::u16string out;
  size_t i = 0;
  while (i < n) {
    const uint8_t b = p[i];
    auto cont = [&](size_t k) { return i + k < n && (p[i + k] & 0xC0) == 0x80; };
    if (b == 0xC0 && i + 1 < n && p[i + 1] == 0x80) {
      out.push_back(u'\0');
      i += 2;
    } else if (b >= 0xC2 && b <= 0xDF && cont(1)) {
      out.push_back(static_cast<char16_t>(((b & 0x1F) << 6) | (p[i + 1] & 0x3F)));
      i += 2;
    } else if (b >= 0xE0 && b <= 0xEF && cont(1) && cont(2)) {
      out.push_back(static_cast<char16_t>(((b & 0x0F) << 12) |
                                          ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F)));
      i += 3;
    } else if (b >= 0xF0 && b <= 0xF4 && cont(1) && cont(2) && cont(3)) {
      const uint32_t cp = ((b & 0x07) << 18) | ((p[i + 1] & 0x3F) << 12) |
                          ((p[i + 2] & 0x3F) << 6) | (p[i + 3] & 0x3F);
      if (cp >= 0x10000 && cp <= 0x10FFFF) {
        out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
      } else {
        out.push_back(b);
        i += 1;
        continue;
      }
      i += 4;
    } else {
      out.push_back(b);
      i += 1;
    }
  }
  return out;
}

// The first `count` fields of the input; missing fields are empty.
inline std::vector<std::u16string> SplitFields(const uint8_t* data, size_t size,
                                               size_t count) {
  std::vector<std::u16string> fields;
  size_t start = 0;
  for (size_t i = 0; i <= size && fields.size() + 1 < count; ++i) {
    if (i == size || data[i] == 0) {
      fields.push_back(DecodeField(data + start, i - start));
      start = i + 1;
      if (i == size) break;
    }
  }
  if (fields.size() + 1 == count) {
    fields.push_back(start < size ? DecodeField(data + start, size - start) : u"");
  }
  fields.resize(count);
  return fields;
}

}  // namespace tallyfold::fuzz
