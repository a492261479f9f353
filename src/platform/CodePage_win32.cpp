// Code-page conversions on Windows: the system's code pages by number
// (MultiByteToWideChar, WideCharToMultiByte), our own GB18030 and EUC-KR
// codecs (which convert as the Linux build's iconv does, and which wine's
// code pages 54936 and 51949 are missing for), and UTF-8
// (platform/Utf8.cpp) as the program's own character set.
//
// The program's byte strings on Windows (paths, arguments, messages) are
// UTF-8: the arguments come from the wide command line and paths go to the
// wide file APIs, so no character is lost to the ANSI code page. The system
// code page is therefore UTF-8 here, whatever GetACP() says; files in a
// legacy set are read through the encoding detector and the fallback.
//
// Invalid input follows the POSIX layer's iconv policy: each byte that
// cannot start or complete a character becomes one U+FFFD and decoding goes
// on with the next byte, and `malformed` counts those. The system decoder
// is asked character by character only where the whole input is not valid.
//
// This file's external interface is CodePage.h; tests/text/CodePageTest.cpp
// covers it.
#include <windows.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>

#include "platform/CodePage.h"
#include "platform/EucKr.h"
#include "platform/Gb18030.h"

namespace tallyfold {

namespace {

constexpr char16_t kReplacementCharacter = 0xFFFD;

// Stand for our own codecs in place of a code page number.
constexpr unsigned kOwnGb18030 = 0xFFFFFFFFU;
constexpr unsigned kOwnEucKr = 0xFFFFFFFEU;
constexpr unsigned kNoCodePage = 0;
// The Unicode forms, converted here (the byte APIs do not take them but
// UTF-7): the text layer reads UTF-16 with its byte order named itself, and
// refuses the others by name, as neither keeps ASCII in single bytes.
constexpr unsigned kUtf16Le = 1200, kUtf16Be = 1201, kUtf32Le = 12000, kUtf32Be = 12001,
                   kUtf7 = 65000;

std::string FoldName(const std::string& name) {
  std::string folded;
  for (char c : name) {
    if (c == '-' || c == '_') continue;
    folded += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return folded;
}

bool IsAsciiName(const std::string& folded) {
  return folded.empty() || folded == "ANSIX3.41968" || folded == "ASCII" ||
         folded == "USASCII" || folded == "646";
}

bool SystemHas(unsigned code_page) { return ::IsValidCodePage(code_page) != 0; }

// The code page a character-set name stands for (iconv's names and
// Windows' "CPnnn"), kOwnGb18030, or kNoCodePage when there is none here.
unsigned CodePageNumber(const std::string& folded) {
  // Ours rather than the system's, so that text reads as on Linux.
  if (folded == "GB18030") return kOwnGb18030;
  if (folded == "EUCKR") return kOwnEucKr;
  static const std::pair<const char*, unsigned> kUnicodeNames[] = {
      {"UTF16LE", kUtf16Le}, {"UTF16BE", kUtf16Be}, {"UTF16", kUtf16Be},  {"UCS2", kUtf16Le},
      {"UCS2LE", kUtf16Le},  {"UCS2BE", kUtf16Be},  {"UTF32LE", kUtf32Le}, {"UTF32BE", kUtf32Be},
      {"UTF32", kUtf32Be},   {"UCS4", kUtf32Be},    {"UTF7", kUtf7}};
  for (const auto& [name, number] : kUnicodeNames)
    if (folded == name) return number;
  static const std::pair<const char*, unsigned> kNames[] = {
      {"GBK", 936},         {"GB2312", 936},      {"CP936", 936},      {"EUCCN", 936},
      {"BIG5", 950},        {"CP950", 950},       {"SHIFTJIS", 932},   {"SJIS", 932},
      {"CP932", 932},       {"MSKANJI", 932},     {"EUCJP", 20932},    {"CP949", 949},
      {"UHC", 949},         {"WINDOWS1250", 1250}, {"WINDOWS1251", 1251}, {"WINDOWS1252", 1252},
      {"WINDOWS1253", 1253}, {"WINDOWS1254", 1254}, {"WINDOWS1255", 1255}, {"WINDOWS1256", 1256},
      {"WINDOWS1257", 1257}, {"WINDOWS1258", 1258}, {"CP1252", 1252},   {"ISO88591", 28591},
      {"LATIN1", 28591},    {"ISO88592", 28592},  {"ISO88595", 28595}, {"ISO88597", 28597},
      {"ISO885915", 28605}, {"KOI8R", 20866},     {"KOI8U", 21866},    {"CP437", 437},
      {"CP850", 850},       {"CP866", 866},       {"TIS620", 874},     {"CP874", 874}};
  for (const auto& [name, number] : kNames)
    if (folded == name) return SystemHas(number) ? number : kNoCodePage;
  if (folded.starts_with("CP") && folded.size() > 2 &&
      folded.find_first_not_of("0123456789", 2) == std::string::npos && folded.size() <= 7) {
    const unsigned number = static_cast<unsigned>(std::stoul(folded.substr(2)));
    // UTF-7, UTF-8 and the UTF-16/32 numbers are not byte code pages here.
    if (number != 65000 && number != 65001 && number != 1200 && number != 1201 &&
        SystemHas(number))
      return number;
  }
  return kNoCodePage;
}

// Whether `bytes` (1 to 4) decode in `code_page` as one valid sequence, and
// the units they give.
bool DecodeOne(unsigned code_page, const char* bytes, int size, wchar_t (&out)[4], int& units) {
  units = ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes, size, out, 4);
  return units > 0;
}

// The system decoder, with the iconv policy for invalid bytes. A lead byte
// of a double-byte code page takes its trail byte with it when the two are
// a character; anything else that does not decode on its own is one
// U+FFFD. The holes of the windows-125x pages (0x81 in windows-1252, say),
// which the system maps to C1 controls, are invalid bytes as for iconv.
std::u16string SystemDecode(unsigned code_page, std::string_view bytes, std::size_t& malformed) {
  std::u16string out;
  if (bytes.empty()) return out;
  const int size = static_cast<int>(bytes.size());
  const int whole =
      ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  const bool c1_holes = code_page >= 1250 && code_page <= 1258;
  const auto is_c1 = [](char16_t unit) { return unit >= 0x80 && unit <= 0x9F; };
  if (whole > 0) {
    out.resize(static_cast<std::size_t>(whole));
    ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), size,
                          reinterpret_cast<wchar_t*>(out.data()), whole);
    if (!c1_holes || std::none_of(out.begin(), out.end(), is_c1)) return out;
    out.clear();
  }
  out.reserve(bytes.size());
  CPINFO info{};
  const bool double_byte = ::GetCPInfo(code_page, &info) && info.MaxCharSize == 2;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte < 0x80) {
      out.push_back(byte);
      ++i;
      continue;
    }
    wchar_t units[4];
    int count = 0;
    if (double_byte && ::IsDBCSLeadByteEx(code_page, byte)) {
      if (i + 1 < bytes.size() && DecodeOne(code_page, bytes.data() + i, 2, units, count)) {
        out.append(reinterpret_cast<const char16_t*>(units), static_cast<std::size_t>(count));
        i += 2;
        continue;
      }
    } else if (DecodeOne(code_page, bytes.data() + i, 1, units, count) &&
               !(c1_holes && count == 1 && is_c1(static_cast<char16_t>(units[0])))) {
      out.append(reinterpret_cast<const char16_t*>(units), static_cast<std::size_t>(count));
      ++i;
      continue;
    }
    out.push_back(kReplacementCharacter);
    ++malformed;
    ++i;
  }
  return out;
}

// UTF-16 or UTF-32 of either byte order, by hand. A unit cut off by the
// end is one U+FFFD; a UTF-32 value that is no character is one U+FFFD.
// UTF-16 surrogates are taken as they come.
std::u16string WideDecode(unsigned code_page, std::string_view bytes, std::size_t& malformed) {
  const std::size_t width = code_page == kUtf32Le || code_page == kUtf32Be ? 4 : 2;
  const bool big = code_page == kUtf16Be || code_page == kUtf32Be;
  std::u16string out;
  out.reserve(bytes.size() / width + 1);
  std::size_t i = 0;
  for (; i + width <= bytes.size(); i += width) {
    char32_t value = 0;
    for (std::size_t k = 0; k < width; ++k)
      value |= static_cast<char32_t>(static_cast<unsigned char>(bytes[i + k]))
               << (8 * (big ? width - 1 - k : k));
    if (width == 2) {
      out.push_back(static_cast<char16_t>(value));
    } else if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      out.push_back(kReplacementCharacter);
      ++malformed;
    } else if (value >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(value));
    }
  }
  if (i < bytes.size()) {
    out.push_back(kReplacementCharacter);
    ++malformed;
  }
  return out;
}

std::string WideEncode(unsigned code_page, std::u16string_view text) {
  const std::size_t width = code_page == kUtf32Le || code_page == kUtf32Be ? 4 : 2;
  const bool big = code_page == kUtf16Be || code_page == kUtf32Be;
  std::string out;
  const auto put = [&](char32_t value) {
    for (std::size_t k = 0; k < width; ++k)
      out.push_back(static_cast<char>((value >> (8 * (big ? width - 1 - k : k))) & 0xFF));
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t value = text[i];
    if (width == 4 && value >= 0xD800 && value <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      value = 0x10000 + ((value - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    put(value);
  }
  return out;
}

// UTF-7 through the system, which takes no flags for it and reports no
// invalid input.
std::u16string Utf7Decode(std::string_view bytes) {
  const int size = static_cast<int>(bytes.size());
  const int length = ::MultiByteToWideChar(kUtf7, 0, bytes.data(), size, nullptr, 0);
  std::u16string out(static_cast<std::size_t>(length > 0 ? length : 0), u'\0');
  if (length > 0)
    ::MultiByteToWideChar(kUtf7, 0, bytes.data(), size, reinterpret_cast<wchar_t*>(out.data()),
                          length);
  return out;
}

void AppendEncoded(unsigned code_page, std::u16string_view text, std::string& out) {
  if (text.empty()) return;
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int size = static_cast<int>(text.size());
  // No best fit: a character the code page lacks is '?', never a look-alike.
  const bool utf7 = code_page == kUtf7;
  const DWORD flags = code_page == 54936 || utf7 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* fallback = utf7 ? nullptr : "?";
  const int length =
      ::WideCharToMultiByte(code_page, flags, wide, size, nullptr, 0, fallback, nullptr);
  if (length <= 0) return;
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(length));
  ::WideCharToMultiByte(code_page, flags, wide, size, out.data() + start, length, fallback,
                        nullptr);
}

// The system encoder gives a '?' for each unit of a character beyond U+FFFF
// that the code page lacks; iconv, and so the POSIX layer, one for the
// character. The byte code pages here hold none of them (54936 holds all),
// so each well-formed pair is one '?' of its own.
std::string SystemEncode(unsigned code_page, std::u16string_view text) {
  if (code_page == kUtf16Le || code_page == kUtf16Be || code_page == kUtf32Le ||
      code_page == kUtf32Be)
    return WideEncode(code_page, text);
  std::string out;
  std::size_t run = 0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (code_page == 54936 || code_page == kUtf7) break;
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      AppendEncoded(code_page, text.substr(run, i - run), out);
      out.push_back('?');
      run = i + 2;
      ++i;
    }
  }
  AppendEncoded(code_page, text.substr(run), out);
  return out;
}

}  // namespace

TCodePage::TCodePage(const std::string& codeset) : name_(codeset), utf8_(false) {
  const std::string folded = FoldName(codeset);
  number_ = folded == "UTF8" || IsAsciiName(folded) ? kNoCodePage : CodePageNumber(folded);
  if (number_ == kNoCodePage) {
    name_ = "UTF-8";
    utf8_ = true;
  }
}

std::u16string TCodePage::Decode(std::string_view bytes) const {
  std::size_t malformed = 0;
  return Decode(bytes, malformed);
}

std::u16string TCodePage::Decode(std::string_view bytes, std::size_t& malformed) const {
  if (utf8_) return Utf8Decode(bytes, malformed);
  if (number_ == kOwnGb18030) return Gb18030Decode(bytes, malformed);
  if (number_ == kOwnEucKr) return EucKrDecode(bytes, malformed);
  if (number_ == kUtf16Le || number_ == kUtf16Be || number_ == kUtf32Le || number_ == kUtf32Be)
    return WideDecode(number_, bytes, malformed);
  if (number_ == kUtf7) return Utf7Decode(bytes);
  return SystemDecode(number_, bytes, malformed);
}

std::string TCodePage::Encode(std::u16string_view text) const {
  if (utf8_) return Utf8Encode(text);
  if (number_ == kOwnGb18030) return Gb18030Encode(text);
  if (number_ == kOwnEucKr) return EucKrEncode(text);
  return SystemEncode(number_, text);
}

bool IsKnownCodeset(const std::string& codeset) {
  const std::string folded = FoldName(codeset);
  if (folded.empty()) return false;
  return folded == "UTF8" || IsAsciiName(folded) || CodePageNumber(folded) != kNoCodePage;
}

namespace {

std::once_flag g_system_once;

}  // namespace

void InitSystemCodePage() {
  std::call_once(g_system_once, [] { (void)SystemCodePage(); });
}

const TCodePage& SystemCodePage() {
  static const TCodePage page("UTF-8");
  return page;
}

}  // namespace tallyfold
