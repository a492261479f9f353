// Code-page conversions on Windows: the system's code pages by number
// (MultiByteToWideChar, WideCharToMultiByte), our own GB18030 codec where
// the system lacks code page 54936, and UTF-8 (platform/Utf8.cpp) as the
// program's own character set.
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

#include <mutex>
#include <string>
#include <utility>

#include "platform/CodePage.h"

namespace tallyfold {

#ifdef TALLYFOLD_GB18030_CODEC
// GB18030 codec: the table-driven one of platform/Gb18030.h, compiled in
// when its sources are there (src/platform/CMakeLists.txt). Declared here
// as that header declares them, so that this file builds before they are.
std::u16string Gb18030Decode(std::string_view bytes, std::size_t& malformed);
std::string Gb18030Encode(std::u16string_view text);
#endif

namespace {

constexpr char16_t kReplacementCharacter = 0xFFFD;

// Stands for our own GB18030 codec in place of a code page number.
constexpr unsigned kOwnGb18030 = 0xFFFFFFFFU;
constexpr unsigned kNoCodePage = 0;

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
  if (folded == "GB18030") {
#ifdef TALLYFOLD_GB18030_CODEC
    return kOwnGb18030;
#else
    // Without our codec, the system's 54936 where it has one, else GBK's
    // 936, which holds every two-byte character of GB18030 but none of its
    // four-byte forms: those then decode as U+FFFD.
    return SystemHas(54936) ? 54936 : 936;
#endif
  }
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
  // EUC-KR is 51949 where the system has it; CP949 holds all of EUC-KR and
  // the syllables Windows adds, and stands in where it does not (wine).
  if (folded == "EUCKR") return SystemHas(51949) ? 51949 : 949;
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
// U+FFFD. Where the system maps a byte that iconv refuses (the holes of
// windows-1252 become C1 controls here), the system's answer is kept.
std::u16string SystemDecode(unsigned code_page, std::string_view bytes, std::size_t& malformed) {
  std::u16string out;
  if (bytes.empty()) return out;
  const int size = static_cast<int>(bytes.size());
  const int whole = ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), size,
                                          nullptr, 0);
  if (whole > 0) {
    out.resize(static_cast<std::size_t>(whole));
    ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), size,
                          reinterpret_cast<wchar_t*>(out.data()), whole);
    return out;
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
    } else if (DecodeOne(code_page, bytes.data() + i, 1, units, count)) {
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

std::string SystemEncode(unsigned code_page, std::u16string_view text) {
  if (text.empty()) return std::string();
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int size = static_cast<int>(text.size());
  // No best fit: a character the code page lacks is '?', never a look-alike.
  const DWORD flags = code_page == 54936 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int length = ::WideCharToMultiByte(code_page, flags, wide, size, nullptr, 0, "?", nullptr);
  std::string out(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  if (length > 0)
    ::WideCharToMultiByte(code_page, flags, wide, size, out.data(), length, "?", nullptr);
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
#ifdef TALLYFOLD_GB18030_CODEC
  if (number_ == kOwnGb18030) return Gb18030Decode(bytes, malformed);
#endif
  return SystemDecode(number_, bytes, malformed);
}

std::string TCodePage::Encode(std::u16string_view text) const {
  if (utf8_) return Utf8Encode(text);
#ifdef TALLYFOLD_GB18030_CODEC
  if (number_ == kOwnGb18030) return Gb18030Encode(text);
#endif
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
