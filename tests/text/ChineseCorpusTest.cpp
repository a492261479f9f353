// A generated corpus of Chinese manual pages, one file per page, saved in
// the encodings such folders come in (GB18030, GBK, Big5, UTF-8 with a
// stray byte, UTF-16 and UTF-32 of either byte order without a mark): each
// file read back by the list reader, the line reader and the line reader in
// small pieces must be read in its own encoding, its lines as written. Also
// the measurements the thresholds of the choice rest on, and files of a few
// bytes and of random bytes, which the readers must agree on.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "text/ChineseText.h"
#include "text/ListItems.h"
#include "text/TempFile.h"
#include "text/TextFile.h"
#include "text/TextInternal.h"
#include "text/TextLines.h"

namespace tallyfold {
namespace {

using test::ChineseText;
using test::TempFile;

enum class Form { kGb18030, kGbk, kBig5, kUtf8Stray, kUtf16LE, kUtf16BE, kUtf32LE, kUtf32BE };

struct FormInfo {
  Form form;
  const char* name;
  bool traditional;      // the text the form holds
  const char* codeset;   // what it must be read as
};

constexpr FormInfo kForms[] = {
    {Form::kGb18030, "GB18030", false, "GB18030"}, {Form::kGbk, "GBK", false, "GB18030"},
    {Form::kBig5, "BIG5", true, "BIG5"},           {Form::kUtf8Stray, "UTF-8", false, "UTF-8"},
    {Form::kUtf16LE, "UTF-16LE", false, "UTF-16LE"}, {Form::kUtf16BE, "UTF-16BE", true, "UTF-16BE"},
    {Form::kUtf32LE, "UTF-32LE", true, "UTF-32LE"}, {Form::kUtf32BE, "UTF-32BE", false, "UTF-32BE"},
};

// The text in UTF-16 or UTF-32 of a byte order, without a mark.
std::string Wide(const std::u16string& text, Form form) {
  const bool big_endian = form == Form::kUtf16BE || form == Form::kUtf32BE;
  const int width = form == Form::kUtf32LE || form == Form::kUtf32BE ? 4 : 2;
  std::string bytes;
  auto put = [&](char32_t value) {
    for (int k = 0; k < width; ++k) {
      const int shift = 8 * (big_endian ? width - 1 - k : k);
      bytes += static_cast<char>((value >> shift) & 0xFF);
    }
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (width == 4 && IsHighSurrogate(text[i]) && i + 1 < text.size() &&
        IsLowSurrogate(text[i + 1])) {
      put(0x10000 + ((char32_t{text[i]} - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      put(text[i]);
    }
  }
  return bytes;
}

// A page saved in a form, and the lines it must read as.
struct Saved {
  std::string bytes;
  std::vector<std::u16string> lines;
  std::size_t malformed = 0;
};

Saved Save(const std::u16string& page, Form form, ChineseText& random) {
  Saved saved;
  saved.lines = test::FileLines(page);
  switch (form) {
    case Form::kGb18030: saved.bytes = TCodePage("GB18030").Encode(page); break;
    case Form::kGbk: saved.bytes = TCodePage("GBK").Encode(page); break;
    case Form::kBig5: saved.bytes = TCodePage("BIG5").Encode(page); break;
    case Form::kUtf8Stray: {
      // One stray byte where a character begins: a Latin-1 letter, a lone
      // continuation byte, a lead byte without its continuation, or 0xFF.
      saved.bytes = Utf8Encode(page);
      std::size_t at = random.Uniform(0, saved.bytes.size());
      while (at < saved.bytes.size() && (static_cast<unsigned char>(saved.bytes[at]) & 0xC0) == 0x80)
        ++at;
      const char strays[] = {'\xE9', '\x80', '\xC3', '\xFF'};
      saved.bytes.insert(at, 1, strays[random.Uniform(0, 3)]);
      saved.lines = test::FileLines(Utf8Decode(saved.bytes));
      saved.malformed = 1;
      break;
    }
    default: saved.bytes = Wide(page, form); break;
  }
  return saved;
}

struct Reading {
  std::vector<std::u16string> lines;
  TTextReadInfo info;
};

// The file read by the list reader, the line reader, and the line reader in
// pieces of 1 KiB (so that a long page is chosen for in passes over it).
std::vector<std::pair<std::string, Reading>> ReadEveryWay(const std::string& path) {
  const TTextDecoding decoding = TextDecodingNamed("auto", "GB18030");
  std::vector<std::pair<std::string, Reading>> readings(3);
  readings[0].first = "list";
  TUnicodeStringList list;
  ReadTextFileAs(list, path, decoding, nullptr, &readings[0].second.info);
  readings[0].second.lines = test::Items(list);
  readings[1].first = "lines";
  readings[2].first = "lines in pieces";
  for (const std::size_t piece : {text_internal::kLinePieceBytes, std::size_t{1} << 10}) {
    Reading& reading = readings[piece == text_internal::kLinePieceBytes ? 1 : 2].second;
    text_internal::ReadLinesInPieces(
        path, decoding, nullptr, nullptr, &reading.info,
        [&](int, std::u16string_view line) { reading.lines.emplace_back(line); }, piece);
  }
  return readings;
}

// Why a file in a form may be read as it is.
std::set<TReadChoice> Choices(Form form) {
  switch (form) {
    case Form::kGb18030:
    case Form::kGbk:
    case Form::kBig5: return {TReadChoice::kDetected, TReadChoice::kCompared};
    case Form::kUtf8Stray: return {TReadChoice::kUtf8Strays};
    default: return {TReadChoice::kZeroBytes};
  }
}

// The fewest Chinese characters a legacy page needs to be told right: below
// it, the bytes of GB18030 and of Big5 are too few to tell the two apart
// (see LegacySetsOfShortPagesAsMeasured).
constexpr std::size_t kFewestCharacters = 20;

TEST(ChineseCorpus, EveryPageIsReadInItsOwnEncoding) {
  ChineseText text(20261208);
  int files = 0;
  for (const FormInfo& form : kForms) {
    for (int i = 0; i < 30; ++i) {
      // One page in three short, the rest up to a long manual page.
      const std::size_t characters =
          i % 3 == 0 ? text.Uniform(kFewestCharacters, 40) : text.Uniform(100, 4000);
      const Saved saved = Save(text.Page(form.traditional, characters), form.form, text);
      const TempFile file(saved.bytes);
      ++files;
      for (const auto& [how, got] : ReadEveryWay(file.path())) {
        SCOPED_TRACE(std::string(form.name) + ", page " + std::to_string(i) + " of " +
                     std::to_string(characters) + " characters, " + how);
        EXPECT_EQ(got.info.codeset, form.codeset);
        EXPECT_EQ(Choices(form.form).count(got.info.choice), 1u)
            << static_cast<int>(got.info.choice);
        EXPECT_EQ(got.info.malformed, saved.malformed);
        EXPECT_EQ(got.info.mark, teAnsi);
        EXPECT_TRUE(got.lines == saved.lines);
      }
    }
  }
  EXPECT_EQ(files, 30 * static_cast<int>(std::size(kForms)));
}

// What the thresholds rest on, measured on generated pages and printed for
// the record: how much of legacy Chinese text reads as well-formed UTF-8,
// against UTF-8 with strays; and how often short GB18030 and Big5 pages are
// told right by the detector alone and by the choice.
TEST(ChineseCorpus, StrayShareOfUtf8AsMeasured) {
  ChineseText text(7);
  // The smallest share of strays among legacy pages, the largest among UTF-8
  // pages with one to three strays, both in thousandths of the well-formed
  // sequences.
  std::size_t legacy_least = 1000000;
  std::size_t utf8_most = 0;
  std::size_t utf8_missed = 0;
  for (int i = 0; i < 200; ++i) {
    const bool traditional = i % 2 == 1;
    const std::size_t characters = i < 100 ? text.Uniform(6, 40)
                                           : text.Uniform(100, 3000);
    const std::u16string page = text.Page(traditional, characters);
    const std::string legacy = TCodePage(traditional ? "BIG5" : "GB18030").Encode(page);
    std::size_t well_formed = 0;
    std::size_t strays = 0;
    text_internal::CountUtf8Sequences(legacy.data(), legacy.size(), well_formed, strays);
    legacy_least = std::min(legacy_least, strays * 1000 / std::max<std::size_t>(well_formed, 1));
    EXPECT_FALSE(text_internal::MostlyUtf8(well_formed, strays)) << i;

    std::string utf8 = Utf8Encode(page);
    const std::size_t stray_count = 1 + i % 3;
    for (std::size_t k = 0; k < stray_count; ++k) utf8.insert(utf8.rfind('\n'), 1, '\xE9');
    well_formed = 0;
    strays = 0;
    text_internal::CountUtf8Sequences(utf8.data(), utf8.size(), well_formed, strays);
    EXPECT_EQ(strays, stray_count);
    utf8_most = std::max(utf8_most, strays * 1000 / well_formed);
    if (!text_internal::MostlyUtf8(well_formed, strays)) ++utf8_missed;
  }
  std::printf("strays per 1000 well-formed UTF-8 sequences: legacy pages at least %zu, UTF-8 "
              "pages with 1 to 3 strays at most %zu (%zu of 200 left to the detector); "
              "threshold %zu\n",
              legacy_least, utf8_most, utf8_missed, 1000 / text_internal::kUtf8StrayRatio);
  EXPECT_GT(legacy_least, 1000 / text_internal::kUtf8StrayRatio);
}

TEST(ChineseCorpus, LegacySetsOfShortPagesAsMeasured) {
  ChineseText text(11);
  const TTextDecoding decoding = TextDecodingNamed("auto", "GB18030");
  std::printf("characters  detector right  chosen right (of 100 GB18030 + 100 Big5 pages)\n");
  for (const std::size_t characters : {2, 3, 4, 6, 8, 12, 20, 40}) {
    int detector_right = 0;
    int chosen_right = 0;
    for (int i = 0; i < 200; ++i) {
      const bool traditional = i % 2 == 1;
      const std::u16string page = text.Page(traditional, characters, 0.0);
      const std::string bytes = TCodePage(traditional ? "BIG5" : "GB18030").Encode(page);
      const std::string want = traditional ? "BIG5" : "GB18030";
      text_internal::EncodingDetector detector;
      detector.Feed(bytes.data(), bytes.size());
      if (text_internal::UsableCodeset(detector.Answer()) == want) ++detector_right;
      const text_internal::CharacterSetChoice chosen = text_internal::ChooseCharacterSet(
          decoding, TCodePage("UTF-8"),
          [&](const text_internal::TextVisit& visit) { visit(bytes.data(), bytes.size()); },
          nullptr);
      if (chosen.page.Name() == want) {
        ++chosen_right;
      } else if (characters >= kFewestCharacters) {
        ADD_FAILURE() << characters << " characters read as " << chosen.page.Name() << ": "
                      << Utf8Encode(page);
      }
    }
    std::printf("%10zu  %14d  %12d\n", characters, detector_right, chosen_right);
  }
}

// Files of a few bytes, ASCII with one high byte at the end, UTF-16 of odd
// length or holding NULs of its own, and random bytes: every reader gives
// the same lines and says the same of how it read them, and a file that
// looks like UTF-16 is read as it.
TEST(ChineseCorpus, OddAndHostileFilesReadTheSameEveryWay) {
  std::mt19937 random(5);
  std::vector<std::string> files;
  for (std::size_t size = 1; size <= 20; ++size) {
    for (int k = 0; k < 8; ++k) {
      std::string bytes;
      for (std::size_t i = 0; i < size; ++i) bytes += static_cast<char>(random() & 0xFF);
      files.push_back(bytes);
      // The same length of ASCII, with a NUL or a high byte at the end.
      std::string ascii;
      for (std::size_t i = 0; i < size; ++i) ascii += static_cast<char>('a' + random() % 26);
      ascii.back() = k % 2 == 0 ? '\0' : static_cast<char>(0x80 + random() % 128);
      files.push_back(ascii);
    }
  }
  for (int k = 0; k < 20; ++k) {
    std::string bytes(static_cast<std::size_t>(random() % 5000), '\0');
    for (char& byte : bytes) byte = static_cast<char>(random() & 0xFF);
    files.push_back(bytes);
  }
  const std::u16string held =
      std::u16string(u"第一行") + u'\0' + u"有 NUL\n第二行 \U0001F600 时间\r\n";
  const std::string utf16 = Wide(held, Form::kUtf16LE);
  files.push_back(utf16);
  files.push_back(utf16 + "\x41");  // an odd length
  for (const std::string& bytes : files) {
    SCOPED_TRACE(testing::PrintToString(bytes.substr(0, 40)));
    const TempFile file(bytes);
    const auto readings = ReadEveryWay(file.path());
    for (const auto& [how, got] : readings) {
      SCOPED_TRACE(how);
      EXPECT_EQ(got.lines, readings[0].second.lines);
      EXPECT_EQ(got.info.codeset, readings[0].second.info.codeset);
      EXPECT_EQ(got.info.choice, readings[0].second.info.choice);
      EXPECT_EQ(got.info.malformed, readings[0].second.info.malformed);
      EXPECT_EQ(got.info.nuls, readings[0].second.info.nuls);
    }
  }
  for (const std::string& bytes : {utf16, utf16 + "\x41"}) {
    const TempFile file(bytes);
    for (const auto& [how, got] : ReadEveryWay(file.path())) {
      SCOPED_TRACE(how);
      EXPECT_EQ(got.info.codeset, "UTF-16LE");
      EXPECT_EQ(got.info.choice, TReadChoice::kZeroBytes);
      EXPECT_EQ(got.lines, test::FileLines(held));
      EXPECT_EQ(got.info.nuls, 1u);
      EXPECT_EQ(got.info.malformed, bytes.size() % 2);
    }
  }
}

}  // namespace
}  // namespace tallyfold
