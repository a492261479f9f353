// The window's texts in the user's language (Catalogue.h).
#include "win32/Catalogue.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/CodePage.h"

namespace tallyfold::win32ui {

extern const CatalogueEntry kChineseCatalogue[];
extern const int kChineseCatalogueSize;

namespace {

std::atomic<Language> current_language{Language::kEnglish};

constexpr unsigned short kLangChinese = 0x04;  // PRIMARYLANGID of every Chinese LANGID

}  // namespace

void SetLanguage(Language language) { current_language.store(language); }

Language CurrentLanguage() { return current_language.load(); }

Language LanguageForLangId(unsigned short lang_id) {
  return (lang_id & 0x3ff) == kLangChinese ? Language::kChinese : Language::kEnglish;
}

std::u16string FromUtf8(std::string_view text) { return Utf8Decode(text); }

std::u16string Tr(std::string_view context, std::string_view source) {
  if (CurrentLanguage() == Language::kChinese) {
    const CatalogueEntry* begin = kChineseCatalogue;
    const CatalogueEntry* end = kChineseCatalogue + kChineseCatalogueSize;
    const auto key = [](const CatalogueEntry& entry) {
      return std::pair<std::string_view, std::string_view>(entry.context, entry.source);
    };
    const std::pair<std::string_view, std::string_view> wanted(context, source);
    const CatalogueEntry* found = std::lower_bound(
        begin, end, wanted, [&](const CatalogueEntry& entry, const auto& value) {
          return key(entry) < value;
        });
    if (found != end && key(*found) == wanted) return FromUtf8(found->translation);
  }
  return FromUtf8(source);
}

std::u16string FillIn(std::u16string_view pattern, std::initializer_list<std::u16string_view> args) {
  const std::vector<std::u16string_view> values(args);
  std::u16string out;
  out.reserve(pattern.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char16_t unit = pattern[i];
    if (unit == u'%' && i + 1 < pattern.size() && pattern[i + 1] >= u'1' && pattern[i + 1] <= u'9') {
      const std::size_t number = static_cast<std::size_t>(pattern[i + 1] - u'0');
      if (number <= values.size()) {
        out += values[number - 1];
        ++i;
        continue;
      }
    }
    out += unit;
  }
  return out;
}

std::u16string GroupedNumber(unsigned long long number) {
  const std::string digits = std::to_string(number);
  std::u16string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += u',';
    out += static_cast<char16_t>(digits[i]);
  }
  return out;
}

}  // namespace tallyfold::win32ui
