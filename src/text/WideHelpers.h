// Trimming and code-page conversion of strings.
//
// Unicode strings are std::u16string; byte strings are std::string in the
// system code page (platform/CodePage.h), used for paths and numbers.
//
//   TrimWide(u"\t a b \r\n");       // u"a b"
//   TrimAnsi("  12 ");              // "12"
//   AnsiToWide("caf\xC3\xA9");      // u"café" when the code page is UTF-8
//   WideToAnsi(u"\u4E2D");          // "?" when the code page lacks the character
//
// Trimming removes code units (bytes) up to and including U+0020 (0x20) at
// both ends, and nothing else: U+00A0 and U+3000 stay. TrimAnsi looks at
// single bytes and ignores character boundaries. The conversions never fail:
// invalid bytes decode to U+FFFD and unrepresentable characters encode as
// '?' (a surrogate without its partner as U+FFFD in a UTF-8 code page).
// IsHighSurrogate and IsLowSurrogate tell the halves of a surrogate
// pair, for code that must not cut one.
#pragma once

#include <string>
#include <string_view>

namespace tallyfold {

std::u16string TrimWide(const std::u16string& text);
// TrimWide without the copy: the trimmed part of `text` itself.
std::u16string_view TrimWideView(std::u16string_view text);
std::string TrimAnsi(const std::string& text);
std::u16string AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::u16string& text);

// The two halves of a UTF-16 surrogate pair.
inline bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace tallyfold
