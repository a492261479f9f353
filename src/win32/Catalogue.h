// The Windows window's texts in the user's language, and filling in their
// numbered places.
//
// The window's texts are written in English in the sources, each with the
// context the Qt window translates it in; the Chinese ones come from the
// Qt window's translation file (ui/translations/tallyfold_zh_CN.ts), built
// into the program as a table by MakeCatalogue.py, so both windows say the
// same things:
//
//   tallyfold::win32ui::SetLanguage(tallyfold::win32ui::Language::kChinese);
//   std::u16string text = tallyfold::win32ui::Tr("tallyfold::TSearchNote", "Close");  // u"关闭"
//   tallyfold::win32ui::FillIn(u"%1 of %2 files", {u"3", u"7"});                      // u"3 of 7 files"
//
// A text the table lacks is shown in English. Nothing here raises.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace tallyfold::win32ui {

enum class Language { kEnglish, kChinese };

// One translated text; all three in UTF-8.
struct CatalogueEntry {
  const char* context;
  const char* source;
  const char* translation;
};

// The language Tr translates into; English until set.
void SetLanguage(Language language);
Language CurrentLanguage();

// The language for a Windows language identifier (a LANGID, as
// GetUserDefaultUILanguage gives it): Chinese for any Chinese, English
// otherwise.
Language LanguageForLangId(unsigned short lang_id);

// `source` (UTF-8) in the current language, as UTF-16.
std::u16string Tr(std::string_view context, std::string_view source);

// `pattern` with each %1 ... %9 replaced by the argument of that number, in
// one pass, so that an argument that itself holds "%2" stays as it is. A
// place without an argument, and a % followed by anything else, stay as
// written.
std::u16string FillIn(std::u16string_view pattern, std::initializer_list<std::u16string_view> args);

// `number` in decimal with a comma between groups of three digits.
std::u16string GroupedNumber(unsigned long long number);

// UTF-8 to UTF-16 (the sources' English texts and the table's).
std::u16string FromUtf8(std::string_view text);

}  // namespace tallyfold::win32ui
