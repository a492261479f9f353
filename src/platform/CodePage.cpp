// Code-page conversions on POSIX systems: the table codecs for GB18030 and
// EUC-KR (platform/Gb18030.h, platform/EucKr.h), which convert as iconv
// does and about twice as fast, the iconv bridge (platform/IconvBridge.h)
// for every other character set but UTF-8 (platform/Utf8.cpp), and the
// locale's set.
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

#include "platform/EucKr.h"
#include "platform/Gb18030.h"
#include "platform/IconvBridge.h"

namespace tallyfold {

namespace {

constexpr char16_t kReplacementCharacter = 0xFFFD;

// The character sets converted by the table codecs of our own, marked by
// their Windows code-page numbers.
constexpr unsigned kGb18030CodePage = 54936;
constexpr unsigned kEucKrCodePage = 51949;

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

namespace iconv_bridge {

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

}  // namespace iconv_bridge

TCodePage::TCodePage(const std::string& codeset) : name_(codeset), utf8_(false) {
  const std::string folded = FoldName(codeset);
  if (folded == "UTF8" || IsAsciiName(folded) || !IconvConverts(codeset)) {
    name_ = "UTF-8";
    utf8_ = true;
  } else if (folded == "GB18030") {
    number_ = kGb18030CodePage;
  } else if (folded == "EUCKR") {
    number_ = kEucKrCodePage;
  }
}

std::u16string TCodePage::Decode(std::string_view bytes) const {
  std::size_t malformed = 0;
  return Decode(bytes, malformed);
}

std::u16string TCodePage::Decode(std::string_view bytes, std::size_t& malformed) const {
  if (utf8_) return Utf8Decode(bytes, malformed);
  // The table codecs convert as iconv does, about twice as fast.
  if (number_ == kGb18030CodePage) return Gb18030Decode(bytes, malformed);
  if (number_ == kEucKrCodePage) return EucKrDecode(bytes, malformed);
  return iconv_bridge::IconvDecode(name_, bytes, malformed);
}

bool IsKnownCodeset(const std::string& codeset) {
  const std::string folded = FoldName(codeset);
  if (folded.empty()) return false;
  return folded == "UTF8" || IsAsciiName(folded) || IconvConverts(codeset);
}

std::string TCodePage::Encode(std::u16string_view text) const {
  if (utf8_) return Utf8Encode(text);
  if (number_ == kGb18030CodePage) return Gb18030Encode(text);
  if (number_ == kEucKrCodePage) return EucKrEncode(text);
  return iconv_bridge::IconvEncode(name_, text);
}

void InitSystemCodePage() { std::call_once(g_system_once, ReadSystemCodePage); }

const TCodePage& SystemCodePage() {
  InitSystemCodePage();
  return *g_system_code_page;
}

}  // namespace tallyfold
