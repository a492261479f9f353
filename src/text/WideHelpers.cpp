// Trimming and the system code page's conversions.
//
// This file's external interface is WideHelpers.h;
// tests/text/WideHelpersTest.cpp covers it.
#include "text/WideHelpers.h"

#include "platform/CodePage.h"

namespace tallyfold {

std::u16string_view TrimWideView(std::u16string_view text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && text[first] <= 0x20) ++first;
  while (last > first && text[last - 1] <= 0x20) --last;
  return text.substr(first, last - first);
}

std::u16string TrimWide(const std::u16string& text) { return std::u16string(TrimWideView(text)); }

std::string TrimAnsi(const std::string& text) {
  // Bytes are compared unsigned, so 0x80 and above are never trimmed.
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= 0x20)
    ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= 0x20)
    --last;
  return text.substr(first, last - first);
}

std::u16string AnsiToWide(const std::string& text) {
  return SystemCodePage().Decode(text);
}

std::string WideToAnsi(const std::u16string& text) {
  return SystemCodePage().Encode(text);
}

}  // namespace tallyfold
