// The system code page: how byte strings (paths, numbers, files without a
// byte-order mark) become Unicode text and back.
//
// The system code page is the character set of the user's locale, read once:
// programs call InitSystemCodePage() first thing in main, and anything that
// converts before that initialises it on first use (thread-safely). In the
// C/POSIX locale, whose character set is plain ASCII, the code page is UTF-8.
//
//   tallyfold::InitSystemCodePage();
//   std::u16string text = tallyfold::SystemCodePage().Decode(bytes);
//   std::string back = tallyfold::SystemCodePage().Encode(text);
//
// Conversions never fail. Bytes that are not valid in the code page decode to
// U+FFFD; characters the code page cannot hold encode as '?', and in UTF-8 a
// surrogate without its partner encodes as U+FFFD. UTF-8 is
// converted by the hand-written codec below; every other code page goes
// through iconv. Each conversion has a variant that also counts the
// malformed sequences it decoded as U+FFFD, so a caller can tell text that
// is not in the code page it was read in; IsKnownCodeset tells a name a
// user typed from one that would silently mean UTF-8:
//
//   std::size_t malformed = 0;
//   TCodePage("GB18030").Decode(bytes, malformed);   // malformed: 0 if valid
//   IsKnownCodeset("BIG5");                          // true
//   IsKnownCodeset("NO-SUCH-SET");                   // false
//
// The UTF-8 encoder also appends, so that a long output is made without a
// string per piece:
//
//   std::string out = "<";
//   AppendUtf8(out, u"\u4E2D");                      // out == "<\xE4\xB8\xAD"
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tallyfold {

// One code page and its two conversions.
class TCodePage {
 public:
  // `codeset` is a character-set name as iconv knows it ("UTF-8", "GBK",
  // "ISO-8859-1", ...). ASCII names and names iconv does not know give UTF-8,
  // so a code page is always usable.
  explicit TCodePage(const std::string& codeset);

  const std::string& Name() const { return name_; }
  bool IsUtf8() const { return utf8_; }

  std::u16string Decode(std::string_view bytes) const;
  // Decode, adding to `malformed` one for each U+FFFD that stands for bytes
  // not valid in the code page.
  std::u16string Decode(std::string_view bytes, std::size_t& malformed) const;
  std::string Encode(std::u16string_view text) const;

 private:
  std::string name_;  // canonical name used with iconv
  bool utf8_;         // true: the hand-written UTF-8 codec is used
  unsigned number_ = 0;  // Windows: the code page number it converts with
};

// Whether `codeset` names a character set a TCodePage really converts:
// UTF-8 and the ASCII names (both read as UTF-8), or a name iconv converts
// to and from UTF-16. False for the empty name.
bool IsKnownCodeset(const std::string& codeset);

// Reads the locale's character set (setlocale(LC_ALL, ""), then
// nl_langinfo(CODESET)) and fixes the system code page for the whole run.
// Later calls do nothing.
void InitSystemCodePage();

// The system code page; initialises it on first use.
const TCodePage& SystemCodePage();

// UTF-8 to UTF-16. A character beyond U+FFFF becomes a surrogate pair. Each
// maximal invalid subpart (a byte that cannot start a character, or the
// valid start of a character that breaks off: bad or missing continuation,
// overlong form, surrogate code point, value above U+10FFFF) becomes one
// U+FFFD, and decoding goes on with the next byte. Every byte below 0x80,
// U+0000 included, decodes to itself, so line ends and NULs can be found in
// the bytes before decoding.
std::u16string Utf8Decode(std::string_view bytes);
// Utf8Decode, adding to `malformed` the number of U+FFFD it put in for
// maximal invalid subparts (a U+FFFD spelled out in the bytes is not one).
std::u16string Utf8Decode(std::string_view bytes, std::size_t& malformed);

// Decodes `bytes` into `out`, which must have room for bytes.size() code
// units (never more are produced). Returns the number of code units written.
std::size_t Utf8DecodeInto(const char* bytes, std::size_t size, char16_t* out);
// Utf8DecodeInto, counting as Utf8Decode(bytes, malformed) does.
std::size_t Utf8DecodeInto(const char* bytes, std::size_t size, char16_t* out,
                           std::size_t& malformed);

// UTF-16 to UTF-8. A surrogate pair becomes its character; a surrogate
// without its partner cannot be encoded and becomes U+FFFD (EF BF BD), so
// the output is always valid UTF-8.
std::string Utf8Encode(std::u16string_view text);

// Appends `text` to `out` as Utf8Encode encodes it; runs of ASCII go
// sixteen units at a time.
void AppendUtf8(std::string& out, std::u16string_view text);

}  // namespace tallyfold
