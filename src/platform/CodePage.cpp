// Code-page conversions: the hand-written UTF-8 codec and the iconv bridge
// for every other character set.
//
// This file's external interface is CodePage.h; tests/text/CodePageTest.cpp
// covers it.
#include "platform/CodePage.h"

#include <iconv.h>
#include <langinfo.h>

#include <bit>
#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace tallyfold {

namespace {

constexpr char16_t kReplacementCharacter = 0xFFFD;

// iconv's name for UTF-16 in this machine's byte order, without a mark, so
// the bytes it writes are the code units of a std::u16string.
constexpr const char* kNativeUtf16 =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

const iconv_t kBadDescriptor = reinterpret_cast<iconv_t>(-1);

// Character-set names that mean plain 7-bit ASCII, the C/POSIX locale's
// character set; the program treats them as UTF-8.
bool IsAsciiName(const std::string& folded) {
  return folded.empty() || folded == "ANSIX3.41968" || folded == "ASCII" ||
         folded == "USASCII" || folded == "646";
}

// Upper case without '-' and '_', so "utf-8", "UTF8" and "Utf_8" compare equal.
std::string FoldName(const std::string& name) {
  std::string folded;
  for (char c : name) {
    if (c == '-' || c == '_') continue;
    folded += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return folded;
}

// Owns one iconv descriptor for the length of one conversion.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (cd_ != kBadDescriptor) iconv_close(cd_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;

  bool Valid() const { return cd_ != kBadDescriptor; }
  iconv_t Get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Runs iconv over `in` into `out` (a growable buffer of bytes), calling
// `on_invalid` for each spot iconv cannot convert. `on_invalid` appends the
// substitute to the output (at least 16 bytes of room are free) and returns
// how many input bytes to skip; an incomplete sequence at the end of the
// input gets its substitute and ends the conversion.
template <typename Buffer, typename OnInvalid>
void RunIconv(iconv_t cd, const char* in_data, std::size_t in_size,
              Buffer& out, std::size_t& written_bytes, OnInvalid on_invalid) {
  char* in = const_cast<char*>(in_data);
  std::size_t in_left = in_size;
  const std::size_t unit = sizeof(typename Buffer::value_type);
  bool flushing = false;
  for (;;) {
    if (out.size() * unit - written_bytes < 16) out.resize(out.size() * 2 + 16);
    char* out_ptr = reinterpret_cast<char*>(out.data()) + written_bytes;
    std::size_t out_left = out.size() * unit - written_bytes;
    const std::size_t result =
        flushing ? iconv(cd, nullptr, nullptr, &out_ptr, &out_left)
                 : iconv(cd, &in, &in_left, &out_ptr, &out_left);
    const int error = errno;
    written_bytes = out.size() * unit - out_left;
    if (result != static_cast<std::size_t>(-1)) {
      if (flushing) return;
      // Stateful character sets may still owe a shift sequence.
      flushing = true;
      continue;
    }
    if (error == E2BIG) {
      out.resize(out.size() * 2 + 16);
      continue;
    }
    if (out.size() * unit - written_bytes < 16) out.resize(out.size() * 2 + 16);
    const std::size_t skip = on_invalid(in, in_left, written_bytes);
    if (error == EINVAL) {
      in_left = 0;
      flushing = true;
      continue;
    }
    in += skip;
    in_left -= skip;
  }
}

std::u16string IconvDecode(const std::string& name, std::string_view bytes,
                           std::size_t& malformed) {
  IconvHandle cd(kNativeUtf16, name.c_str());
  if (!cd.Valid()) return Utf8Decode(bytes, malformed);
  std::u16string out(bytes.size() + 16, u'\0');
  std::size_t written = 0;
  RunIconv(cd.Get(), bytes.data(), bytes.size(), out, written,
           [&out, &malformed](const char*, std::size_t, std::size_t& at) -> std::size_t {
             out[at / 2] = kReplacementCharacter;
             at += 2;
             ++malformed;
             return 1;
           });
  out.resize(written / 2);
  return out;
}

std::string IconvEncode(const std::string& name, std::u16string_view text) {
  IconvHandle cd(name.c_str(), kNativeUtf16);
  if (!cd.Valid()) return Utf8Encode(text);
  std::string out(text.size() * 2 + 16, '\0');
  std::size_t written = 0;
  RunIconv(cd.Get(), reinterpret_cast<const char*>(text.data()),
           text.size() * sizeof(char16_t), out, written,
           [&out](const char* at, std::size_t left,
                  std::size_t& out_at) -> std::size_t {
             out[out_at++] = '?';
             // A well-formed pair the code page lacks is one character,
             // so it gets one '?'.
             if (left >= 4) {
               char16_t first, second;
               std::memcpy(&first, at, 2);
               std::memcpy(&second, at + 2, 2);
               if (first >= 0xD800 && first <= 0xDBFF && second >= 0xDC00 &&
                   second <= 0xDFFF)
                 return 4;
             }
             return 2;
           });
  out.resize(written);
  return out;
}

// Whether iconv converts between `codeset` and UTF-16 both ways.
bool IconvConverts(const std::string& codeset) {
  return IconvHandle(kNativeUtf16, codeset.c_str()).Valid() &&
         IconvHandle(codeset.c_str(), kNativeUtf16).Valid();
}

std::once_flag g_system_once;
const TCodePage* g_system_code_page = nullptr;

void ReadSystemCodePage() {
  std::setlocale(LC_ALL, "");
  const char* codeset = nl_langinfo(CODESET);
  static const TCodePage page(codeset != nullptr ? codeset : "");
  g_system_code_page = &page;
}

}  // namespace

TCodePage::TCodePage(const std::string& codeset) : name_(codeset), utf8_(false) {
  const std::string folded = FoldName(codeset);
  if (folded == "UTF8" || IsAsciiName(folded) || !IconvConverts(codeset)) {
    name_ = "UTF-8";
    utf8_ = true;
  }
}

std::u16string TCodePage::Decode(std::string_view bytes) const {
  std::size_t malformed = 0;
  return Decode(bytes, malformed);
}

std::u16string TCodePage::Decode(std::string_view bytes, std::size_t& malformed) const {
  return utf8_ ? Utf8Decode(bytes, malformed) : IconvDecode(name_, bytes, malformed);
}

bool IsKnownCodeset(const std::string& codeset) {
  const std::string folded = FoldName(codeset);
  if (folded.empty()) return false;
  return folded == "UTF8" || IsAsciiName(folded) || IconvConverts(codeset);
}

std::string TCodePage::Encode(std::u16string_view text) const {
  return utf8_ ? Utf8Encode(text) : IconvEncode(name_, text);
}

void InitSystemCodePage() { std::call_once(g_system_once, ReadSystemCodePage); }

const TCodePage& SystemCodePage() {
  InitSystemCodePage();
  return *g_system_code_page;
}

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
    while (end - p >= 8) {
      std::uint64_t chunk;
      std::memcpy(&chunk, p, 8);
      if (chunk & 0x8080808080808080ULL) break;
      for (int i = 0; i < 8; ++i) o[i] = p[i];
      p += 8;
      o += 8;
    }
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
