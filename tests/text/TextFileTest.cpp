// Tests of text files: mark detection, decoding (UTF-8 with its mended
// handling of malformed and 4-byte input), reading in pieces against decoding
// the whole text at once and long lines in slices against whole ones, a
// cancel while reading, writing in pieces, the round trip through a real
// file, every open, create, read and write failure with its message and
// with nothing lost, and a writer killed at work: by both routes a new file
// takes, without a name and, where the file system cannot make one, with a
// temporary name the next write clears away.
#include "text/TextFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/CodePage.h"
#include "platform/FileInternal.h"
#include "text/TextInternal.h"
#include "text/ListItems.h"

namespace tallyfold {
namespace {

namespace fs = std::filesystem;

using test::Items;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// While one lives, new files take the named route of a file system that
// cannot make nameless ones, when `nameless` is false.
class ReplacementRoute {
 public:
  explicit ReplacementRoute(bool nameless) {
    file_internal::AllowNamelessReplacement(nameless);
  }
  ~ReplacementRoute() { file_internal::AllowNamelessReplacement(true); }
  ReplacementRoute(const ReplacementRoute&) = delete;
  ReplacementRoute& operator=(const ReplacementRoute&) = delete;
};

constexpr bool kBothRoutes[] = {true, false};

const char* RouteName(bool nameless) { return nameless ? "nameless" : "named"; }

// A fresh folder per test, removed afterwards.
class TextFileTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("tallyfold-textfile-" + std::to_string(::getpid()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(folder_);
  }
  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path folder_;
};

TEST(DetectTextEncoding, RecognisesMarksAndConsumesOnlyThem) {
  // The stream's reader and the sniffer of bytes in memory agree.
  struct Case {
    std::string bytes;
    TTextEncoding encoding;
    std::int64_t position;
  };
  const std::vector<Case> cases = {
      {"", teAnsi, 0},
      {"\xFF", teAnsi, 0},
      {"\xFF\xFE", teUtf16LE, 2},
      {"\xFE\xFF", teUtf16BE, 2},
      {std::string("\xFF\xFE\0\0", 4), teUtf16LE, 2},
      // UTF-32 LE only when a UTF-32 character follows its mark.
      {std::string("\xFF\xFE\0\0" "a\0\0\0", 8), teUtf32LE, 4},
      {std::string("\xFF\xFE\0\0" "a\0b\0", 8), teUtf16LE, 2},
      {std::string("\xFF\xFE\0\0" "\0\0\x11\0", 8), teUtf16LE, 2},
      {std::string("\xFF\xFE\0\0" "a\0\0", 7), teUtf16LE, 2},
      {std::string("\0\0\xFE\xFF", 4), teUtf32BE, 4},
      {std::string("\0\0\xFE", 3), teAnsi, 0},
      {"\xEF\xBB", teAnsi, 0},
      {"\xEF\xBB\xBF", teUtf8, 3},
      {"\xEF\xBB\xBF" "abc", teUtf8, 3},
      {"\xEF\xBB\xBE", teAnsi, 0},
      {"ab", teAnsi, 0},
      {"abcd", teAnsi, 0},
      {"\xFE\xFE", teAnsi, 0},
  };
  for (const Case& c : cases) {
    TMemoryStream stream(c.bytes);
    EXPECT_EQ(DetectTextEncoding(stream), c.encoding) << testing::PrintToString(c.bytes);
    EXPECT_EQ(stream.Position(), c.position) << testing::PrintToString(c.bytes);
    const TByteOrderMark mark = SniffByteOrderMark(c.bytes);
    EXPECT_EQ(mark.encoding, c.encoding) << testing::PrintToString(c.bytes);
    EXPECT_EQ(mark.length, c.position) << testing::PrintToString(c.bytes);
  }
}

TEST(DetectTextEncoding, StartsAtTheStreamPosition) {
  TMemoryStream stream("xx\xEF\xBB\xBFy");
  stream.SetPosition(2);
  EXPECT_EQ(DetectTextEncoding(stream), teUtf8);
  EXPECT_EQ(stream.Position(), 5);
}

TEST(Utf8ToWide, DecodesValidInput) {
  struct Case {
    std::string bytes;
    std::u16string text;
  };
  const std::vector<Case> cases = {
      {"", u""},
      {"A", u"A"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"\xC3\xA9", u"\u00E9"},
      {"\xC2\x80", u"\u0080"},
      {"\xDF\xBF", u"\u07FF"},
      {"\xE0\xA0\x80", u"\u0800"},
      {"\xE4\xB8\xAD\xE6\x96\x87", u"\u4E2D\u6587"},
      {"\xED\x9F\xBF", u"\uD7FF"},
      {"\xEE\x80\x80", u"\uE000"},
      {"\xEF\xBF\xBF", u"\uFFFF"},
      {"\xF0\x90\x80\x80", u"\U00010000"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {"0123456789abcdef\xC3\xA9xyz", u"0123456789abcdef\u00E9xyz"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Utf8ToWide(c.bytes), c.text) << testing::PrintToString(c.bytes);
}

TEST(Utf8ToWide, ReplacesEachMaximalInvalidSubpart) {
  struct Case {
    const char* form;
    std::string bytes;
    std::u16string text;
  };
  const std::vector<Case> cases = {
      {"lone continuation", "a\x80z", u"a\uFFFDz"},
      {"two continuations", "\x80\xBF", u"\uFFFD\uFFFD"},
      {"invalid lead C0", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"invalid lead C1", "\xC1\xBF", u"\uFFFD\uFFFD"},
      {"invalid lead F5", "\xF5\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"invalid lead FF", "\xFFz", u"\uFFFDz"},
      {"missing continuation", "\xC3z", u"\uFFFDz"},
      {"bad second of three", "\xE4z\xAD", u"\uFFFDz\uFFFD"},
      {"bad third of three", "\xE4\xB8z", u"\uFFFDz"},
      {"bad fourth of four", "\xF0\x9F\x98z", u"\uFFFDz"},
      {"truncated two at end", "a\xC3", u"a\uFFFD"},
      {"truncated three at end", "a\xE4\xB8", u"a\uFFFD"},
      {"truncated four at end", "a\xF0\x9F\x98", u"a\uFFFD"},
      {"overlong three", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"overlong four", "\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"surrogate code point", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"surrogate pair encoded", "\xED\xA0\xBD\xED\xB8\x80",
       u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"line end breaks a sequence", "\xE4\r\n", u"\uFFFD\r\n"},
      {"Unicode example", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToWide(c.bytes), c.text) << c.form;
}

std::vector<std::u16string> ReadFromBytes(const std::string& bytes) {
  TMemoryStream stream(bytes);
  TUnicodeStringList list;
  list.AppendItem(u"previous content");
  list.ReadTextStream(stream);
  return Items(list);
}

TEST(ReadTextStream, DecodesEachEncoding) {
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::u16string> items;
  };
  const std::vector<Case> cases = {
      {"empty", "", {}},
      {"only FF FE", "\xFF\xFE", {}},
      {"only FE FF", "\xFE\xFF", {}},
      {"only EF BB BF", "\xEF\xBB\xBF", {}},
      {"one byte, no mark", "A", {u"A"}},
      {"two bytes, no mark", "AB", {u"AB"}},
      {"UTF-16 LE", std::string("\xFF\xFE" "A\0\r\0\n\0\x2D\x4E", 10), {u"A", u"\u4E2D"}},
      {"UTF-16 LE odd byte", std::string("\xFF\xFE" "A\0B", 5), {u"A"}},
      {"UTF-16 LE one odd byte", "\xFF\xFE" "A", {}},
      {"UTF-16 BE", std::string("\xFE\xFF\0A\0\r\0\n\0B", 10), {u"A", u"B"}},
      {"UTF-16 BE odd byte", std::string("\xFE\xFF\0A\0", 5), {u"A"}},
      {"UTF-16 LE surrogates", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), {u"\U0001F600"}},
      {"UTF-16 LE NUL", std::string("\xFF\xFE" "a\0\0\0b\0", 8), {std::u16string(u"a\0b", 3)}},
      {"UTF-16 LE mark then NUL", std::string("\xFF\xFE\0\0", 4), {std::u16string(1, u'\0')}},
      {"UTF-8", "\xEF\xBB\xBF" "A\r\n\xC3\xA9", {u"A", u"\u00E9"}},
      {"UTF-8 truncated at end", "\xEF\xBB\xBF" "A\r\n\xC3", {u"A", u"\uFFFD"}},
      {"UTF-8 4-byte", "\xEF\xBB\xBF\xF0\x9F\x98\x80!", {u"\U0001F600!"}},
      {"UTF-8 malformed keeps the rest", "\xEF\xBB\xBF" "a\xFF" "b\nc", {u"a\uFFFDb", u"c"}},
      // A NUL is a character of its line like any other.
      {"UTF-8 NUL", std::string("\xEF\xBB\xBF" "ab\ncd\0ef\ngh", 14),
       {u"ab", std::u16string(u"cd\0ef", 5), u"gh"}},
      {"no mark NUL", std::string("ab\0cd", 5), {std::u16string(u"ab\0cd", 5)}},
      {"no mark NUL first", std::string("\0ab", 3), {std::u16string(u"\0ab", 3)}},
      {"NUL line", std::string("a\n\0\r\n\0\0", 7),
       {u"a", std::u16string(1, u'\0'), std::u16string(2, u'\0')}},
      {"line ends", "a\r\nb\rc\nd\n\re\r\r\n", {u"a", u"b", u"c", u"d", u"", u"e", u""}},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadFromBytes(c.bytes), c.items) << c.what;
}

TEST(ReadTextStream, NoMarkUsesTheSystemCodePage) {
  const std::string bytes = "caf\xC3\xA9\n\xE4\xB8\xAD\xF0\x9F\x98\x80\n\xC3";
  TUnicodeStringList expected;
  expected.SplitText(SystemCodePage().Decode(bytes));
  EXPECT_EQ(ReadFromBytes(bytes), Items(expected));
  if (SystemCodePage().IsUtf8()) {
    EXPECT_EQ(ReadFromBytes(bytes),
              (std::vector<std::u16string>{u"caf\u00E9", u"\u4E2D\U0001F600", u"\uFFFD"}));
  }
}

// The text of `bytes` decoded whole and split, as reading must give it
// whatever pieces it reads in.
std::vector<std::u16string> WholeTextLines(const std::string& bytes, TTextEncoding encoding,
                                           const TCodePage& page) {
  std::u16string text;
  if (encoding == teUtf16LE || encoding == teUtf16BE) {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const auto first = static_cast<unsigned char>(bytes[i]);
      const auto second = static_cast<unsigned char>(bytes[i + 1]);
      text.push_back(static_cast<char16_t>(encoding == teUtf16LE ? first | second << 8
                                                                 : first << 8 | second));
    }
  } else if (encoding == teUtf8) {
    text = Utf8Decode(bytes);
  } else {
    text = page.Decode(bytes);
  }
  return test::FileLines(text);
}

std::vector<std::u16string> PieceLines(const std::string& bytes, TTextEncoding encoding,
                                       const TCodePage& page, std::size_t piece) {
  TMemoryStream stream(bytes);
  return Items(text_internal::ReadLines(stream, encoding, page, piece));
}

// Random text made of pieces that matter at a boundary: line ends, 0 bytes,
// whole and broken multi-byte sequences of UTF-8 and GBK, and now and then a
// line longer than any piece.
std::string RandomText(std::mt19937& random) {
  static const std::vector<std::string> parts = {
      "a", "xyz", "\r", "\n", "\r\n", "\r\r", "\n\r", "\xC3\xA9",
      "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "\x80", "\xC3", "\xE4\xB8", "\xB0\xA1", "\x81",
      "\xFF"};
  std::string text;
  const int count = static_cast<int>(random() % 60);
  for (int i = 0; i < count; ++i) {
    if (random() % 97 == 0) text += std::string(300 + random() % 300, 'L');
    text += parts[random() % parts.size()];
  }
  // Now and then a 0 byte or two, each a character of its line.
  while (random() % 4 == 0) text.insert(random() % (text.size() + 1), 1, '\0');
  return text;
}

// Random UTF-16 in either byte order from line ends, letters, surrogates
// (paired and lone), a rare 0 unit and sometimes an odd last byte.
std::string RandomUtf16(std::mt19937& random, bool big_endian) {
  static const std::u16string units = u"a\r\n\r\n\u4E2D\xD83D\xDE00\u0D0A";
  std::string bytes;
  const int count = static_cast<int>(random() % 60);
  for (int i = 0; i < count; ++i) {
    char16_t unit = units[random() % units.size()];
    if (random() % 50 == 0) unit = 0;
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    bytes += big_endian ? std::string{high, low} : std::string{low, high};
  }
  if (random() % 3 == 0) bytes += 'z';
  return bytes;
}

TEST(ReadTextStream, PiecesGiveTheLinesOfTheWholeText) {
  const TCodePage utf8("UTF-8");
  const TCodePage gbk("GBK");
  const TCodePage latin1("ISO-8859-1");
  ASSERT_FALSE(gbk.IsUtf8()) << "iconv lacks GBK";
  struct Setting {
    TTextEncoding encoding;
    const TCodePage* page;
  };
  const std::vector<Setting> settings = {{teUtf8, &utf8},  {teAnsi, &utf8},     {teAnsi, &gbk},
                                         {teAnsi, &latin1}, {teUtf16LE, &utf8}, {teUtf16BE, &utf8}};
  std::mt19937 random(20240607);
  for (int round = 0; round < 400; ++round) {
    const std::string text = RandomText(random);
    for (const Setting& setting : settings) {
      const std::string bytes = setting.encoding == teUtf16LE   ? RandomUtf16(random, false)
                                : setting.encoding == teUtf16BE ? RandomUtf16(random, true)
                                                                : text;
      const std::vector<std::u16string> whole = WholeTextLines(bytes, setting.encoding, *setting.page);
      for (const std::size_t piece : {1, 2, 3, 4, 5, 7, 16, 4096}) {
        ASSERT_EQ(PieceLines(bytes, setting.encoding, *setting.page, piece), whole)
            << "round " << round << ", encoding " << setting.encoding << ", code page "
            << setting.page->Name() << ", piece " << piece << ", bytes "
            << testing::PrintToString(bytes);
      }
    }
  }
}

TEST(ReadTextStream, LongLinesAcrossPieces) {
  // Longer than the decoding buffer for short lines, once mostly ASCII and
  // once mostly three-byte characters, with line ends right at piece
  // boundaries and a CR LF split by one.
  std::string ascii(200000, 'a');
  std::string cjk;
  for (int i = 0; i < 70000; ++i) cjk += "\xE4\xB8\xAD";
  const std::vector<std::string> inputs = {
      ascii + "\r\n" + cjk + "\n" + ascii,
      cjk + "\xE4\xB8\r" + std::string(4094, 'b') + "\r\n",
      std::string(4095, 'c') + "\r\n" + std::string(4096, 'd') + "\r",
  };
  for (const std::string& bytes : inputs) {
    const std::vector<std::u16string> whole = WholeTextLines(bytes, teUtf8, SystemCodePage());
    for (const std::size_t piece : {std::size_t{4096}, text_internal::kReadPieceBytes})
      EXPECT_EQ(PieceLines(bytes, teUtf8, SystemCodePage(), piece), whole) << piece;
  }
}

// Random text as RandomText makes it, with spaces and tabs strewn in (where
// a code page's slices may end) and, for GB18030, its four-byte sequences
// whole and broken; decoded in tiny slices, lines of any length cross them.
std::string RandomSlicedText(std::mt19937& random) {
  static const std::vector<std::string> extras = {" ", "\t", "\x81\x30\x81\x30", "\x81\x30\x81",
                                                  "\x80\x80\x80\x80\x80", "\xE4\xB8\xAD\xE4"};
  std::string text = RandomText(random);
  const int count = static_cast<int>(random() % 12);
  for (int i = 0; i < count; ++i)
    text.insert(random() % (text.size() + 1), extras[random() % extras.size()]);
  return text;
}

std::vector<std::u16string> SlicedLines(const std::string& bytes, TTextEncoding encoding,
                                        const TCodePage& page, std::size_t piece,
                                        std::size_t slice) {
  TMemoryStream stream(bytes);
  return Items(text_internal::ReadLines(stream, encoding, page, piece, nullptr, slice));
}

TEST(ReadTextStream, SlicesOfALongLineDecodeAsTheWholeLine) {
  const TCodePage utf8("UTF-8");
  const TCodePage gbk("GBK");
  const TCodePage gb18030("GB18030");
  const TCodePage latin1("ISO-8859-1");
  ASSERT_FALSE(gbk.IsUtf8()) << "iconv lacks GBK";
  ASSERT_FALSE(gb18030.IsUtf8()) << "iconv lacks GB18030";
  // Sequences cut at every place by a slice boundary: before, inside and
  // after a character, runs of continuation bytes longer than any
  // sequence, and broken sequences whose bytes a cut could regroup.
  const std::vector<std::string> table = {
      "\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD",
      "a\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80z",
      "\x80\x80\x80\x80\x80\x80\x80\x80\x80",
      "\xC3\xA9\xC3\x80\x80\x80\xC3\xA9\xF0\x9F\x98\xE4\xB8",
      "\xF0\x9F\x98\x80\x80\x80\x80\xF4\x90\x80\x80\xED\xA0\x80",
      "\x81\x30\x81\x30 \x81\x30\x81 \xB0\xA1\xB0\xA1 \x81\x81 \xB0",
  };
  const std::vector<std::pair<TTextEncoding, const TCodePage*>> settings = {
      {teUtf8, &utf8},   {teAnsi, &gbk},     {teAnsi, &gb18030},
      {teAnsi, &latin1}, {teUtf16LE, &utf8}, {teUtf16BE, &utf8}};
  for (const std::string& bytes : table) {
    for (const auto& [encoding, page] : settings) {
      const std::vector<std::u16string> whole = WholeTextLines(bytes, encoding, *page);
      for (const std::size_t slice : {2, 3, 4, 5, 6, 7})
        EXPECT_EQ(SlicedLines(bytes, encoding, *page, 4096, slice), whole)
            << testing::PrintToString(bytes) << ", " << page->Name() << ", slice " << slice;
    }
  }
  std::mt19937 random(20250312);
  for (int round = 0; round < 300; ++round) {
    const std::string text = RandomSlicedText(random);
    for (const auto& [encoding, page] : settings) {
      const std::string bytes = encoding == teUtf16LE   ? RandomUtf16(random, false)
                                : encoding == teUtf16BE ? RandomUtf16(random, true)
                                                        : text;
      for (const std::size_t piece : {3, 4096}) {
        // Against the same pieces read without slices: with GB18030 the
        // pieces alone may differ from the whole text, as a broken
        // four-byte sequence is told apart by the bytes after it.
        const std::vector<std::u16string> unsliced =
            SlicedLines(bytes, encoding, *page, piece, text_internal::kDecodeSliceBytes);
        for (const std::size_t slice : {2, 3, 5, 8, 16}) {
          ASSERT_EQ(SlicedLines(bytes, encoding, *page, piece, slice), unsliced)
              << "round " << round << ", code page " << page->Name() << ", piece " << piece
              << ", slice " << slice << ", bytes " << testing::PrintToString(bytes);
        }
      }
    }
  }
}

// A stream that sets `flag` as it serves its `flag_at`th read, and counts
// the reads it is asked for.
class FlaggingStream : public TMemoryStream {
 public:
  FlaggingStream(std::string bytes, std::atomic<bool>& flag, int flag_at)
      : TMemoryStream(std::move(bytes)), flag_(flag), flag_at_(flag_at) {}
  std::int64_t Read(void* buffer, std::int64_t count) override {
    if (++reads_ == flag_at_) flag_.store(true);
    return TMemoryStream::Read(buffer, count);
  }
  int Reads() const { return reads_; }

 private:
  std::atomic<bool>& flag_;
  int flag_at_;
  int reads_ = 0;
};

// The same text in each way of reading it: UTF-8, a code page, UTF-16 LE.
struct Encoded {
  TTextEncoding encoding;
  const TCodePage* page;
  std::string bytes;
};

std::vector<Encoded> EachEncoding(const std::u16string& text) {
  static const TCodePage utf8("UTF-8");
  static const TCodePage gbk("GBK");
  std::string utf16;
  for (const char16_t unit : text) {
    utf16 += static_cast<char>(unit & 0xFF);
    utf16 += static_cast<char>(unit >> 8);
  }
  return {{teUtf8, &utf8, Utf8Encode(text)},
          {teAnsi, &gbk, gbk.Encode(text)},
          {teUtf16LE, &utf8, utf16}};
}

TEST(ReadTextStream, CancelIsSeenBeforeEachPiece) {
  std::u16string text;
  while (text.size() < 20 * 4096) text += u"一行文字 a line of text\n";
  for (const Encoded& encoded : EachEncoding(text)) {
    std::atomic<bool> cancel{false};
    FlaggingStream stream(encoded.bytes, cancel, 3);
    EXPECT_THROW(text_internal::ReadLines(stream, encoded.encoding, *encoded.page, 4096, &cancel),
                 ECancelled)
        << encoded.page->Name() << " " << encoded.encoding;
    // Nothing more is read once the flag is set.
    EXPECT_EQ(stream.Reads(), 3) << encoded.page->Name() << " " << encoded.encoding;
  }
  // A list whose reading is cancelled keeps what it had.
  std::atomic<bool> cancel{true};
  TMemoryStream stream("\xEF\xBB\xBF" "one\ntwo\n");
  TUnicodeStringList list;
  list.AppendItem(u"kept");
  EXPECT_THROW(list.ReadTextStream(stream, &cancel), ECancelled);
  EXPECT_EQ(Items(list), std::vector<std::u16string>{u"kept"});
}

TEST(ReadTextStream, CancelIsSeenWhileALongLineIsDecoded) {
  // The whole text comes in its one piece, whose read sets the flag, so
  // only the decoding can see it: a line longer than a slice is decoded in
  // slices with a look at the flag between them; a text within one slice
  // is decoded at once and read to the end.
  constexpr std::size_t kSlice = 4096;
  std::u16string long_line;
  while (long_line.size() < 8 * kSlice) long_line += u"很长的一行 a very long line ";
  std::u16string short_lines;
  for (int i = 0; i < 40; ++i) short_lines += u"短 short\n";
  for (const auto& [text, cancelled] : {std::pair{long_line, true}, std::pair{short_lines, false}}) {
    for (const Encoded& encoded : EachEncoding(text)) {
      ASSERT_EQ(encoded.bytes.size() > kSlice, cancelled);
      std::atomic<bool> cancel{false};
      FlaggingStream stream(encoded.bytes, cancel, 1);
      auto read = [&] {
        return text_internal::ReadLines(stream, encoded.encoding, *encoded.page,
                                        encoded.bytes.size(), &cancel, kSlice);
      };
      if (cancelled)
        EXPECT_THROW(read(), ECancelled) << encoded.page->Name() << " " << encoded.encoding;
      else
        EXPECT_EQ(read().ItemCount(), 40) << encoded.page->Name() << " " << encoded.encoding;
      EXPECT_TRUE(cancel.load());
    }
  }
}

// A stream whose size says `size` whatever its bytes: a file that shrank or
// grew after reading began.
class ResizedStream : public TMemoryStream {
 public:
  ResizedStream(std::string bytes, std::int64_t size) : TMemoryStream(std::move(bytes)), size_(size) {}
  std::int64_t Size() const override { return size_; }

 private:
  std::int64_t size_;
};

TEST(ReadTextStream, FileThatChangesWhileReadGivesWhatWasThere) {
  struct Case {
    const char* what;
    std::string bytes;
    std::int64_t size;
    std::vector<std::u16string> items;
  };
  const std::vector<Case> cases = {
      {"shrank", "one\ntwo\nthr", 40, {u"one", u"two", u"thr"}},
      {"shrank to nothing", "", 40, {}},
      {"grew: read to the first size", "one\ntwo\nthree\n", 6, {u"one", u"tw"}},
      {"UTF-16 grew by an odd byte", std::string("\xFF\xFE" "a\0b\0", 6), 5, {u"a"}},
  };
  for (const Case& c : cases) {
    ResizedStream stream(c.bytes, c.size);
    TUnicodeStringList list;
    list.ReadTextStream(stream);
    EXPECT_EQ(Items(list), c.items) << c.what;
  }
}

TEST(ReadTextStream, FailedReadLeavesTheListAsItWas) {
  // Fails once a few pieces are in, so some lines were already made.
  class FailingStream : public TMemoryStream {
   public:
    using TMemoryStream::TMemoryStream;
    std::int64_t Read(void* buffer, std::int64_t count) override {
      if (Position() > 3 * static_cast<std::int64_t>(text_internal::kReadPieceBytes))
        throw EReadError();
      return TMemoryStream::Read(buffer, count);
    }
  };
  std::string bytes;
  while (bytes.size() < 5 * text_internal::kReadPieceBytes) bytes += "a line of text\n";
  FailingStream stream(bytes);
  TUnicodeStringList list;
  list.SetPairSeparator(u':');
  list.AppendItem(u"kept");
  EXPECT_THROW(list.ReadTextStream(stream), EReadError);
  EXPECT_EQ(Items(list), std::vector<std::u16string>{u"kept"});
  EXPECT_EQ(list.PairSeparator(), u':');
}

TEST(WriteTextStream, WritesUtf16LeWithMark) {
  struct Case {
    std::vector<std::u16string> items;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {{}, "\xFF\xFE"},
      {{u"a", u"b"}, std::string("\xFF\xFE" "a\0\r\0\n\0b\0\r\0\n\0", 14)},
      {{u""}, std::string("\xFF\xFE\r\0\n\0", 6)},
      {{u"\u4E2D\U0001F600"}, std::string("\xFF\xFE\x2D\x4E\x3D\xD8\x00\xDE\r\0\n\0", 12)},
  };
  for (const Case& c : cases) {
    TUnicodeStringList list;
    for (const auto& item : c.items) list.AppendItem(item);
    TMemoryStream stream;
    list.WriteTextStream(stream);
    EXPECT_EQ(stream.Bytes(), c.bytes) << testing::PrintToString(c.items);
  }
}

TEST(WriteTextStream, FailedWriteRaisesWriteError) {
  class FullStream : public TMemoryStream {
   public:
    void Write(const void*, std::int64_t) override { throw EWriteError(); }
  };
  TUnicodeStringList list;
  list.AppendItem(u"a");
  FullStream stream;
  try {
    list.WriteTextStream(stream);
    FAIL() << "no exception";
  } catch (const EWriteError& e) {
    EXPECT_STREQ(e.what(), "Stream write error");
  }
}

// Records every write, to see the writer's pieces.
class RecordingStream : public TMemoryStream {
 public:
  void Write(const void* buffer, std::int64_t count) override {
    largest_ = std::max(largest_, count);
    TMemoryStream::Write(buffer, count);
  }
  std::int64_t Largest() const { return largest_; }

 private:
  std::int64_t largest_ = 0;
};

TEST(WriteTextStream, WritesLongListsInSmallPieces) {
  struct Case {
    const char* what;
    std::vector<std::u16string> items;
  };
  const std::vector<Case> cases = {
      {"one entry longer than several pieces", {std::u16string(300007, u'\u4E2D')}},
      {"many short entries", std::vector<std::u16string>(100000, u"a short line")},
      {"entries ending at a piece boundary",
       {std::u16string(text_internal::kWritePieceBytes / 2 - 3, u'x'), u"", u"y"}},
  };
  for (const Case& c : cases) {
    TUnicodeStringList list;
    std::u16string text = u"\uFEFF";
    for (const auto& item : c.items) {
      list.AppendItem(item);
      text += item + u"\r\n";
    }
    RecordingStream stream;
    list.WriteTextStream(stream);
    std::string expected;
    for (const char16_t unit : text) {
      expected.push_back(static_cast<char>(unit & 0xFF));
      expected.push_back(static_cast<char>(unit >> 8));
    }
    EXPECT_TRUE(stream.Bytes() == expected) << c.what;
    EXPECT_LE(stream.Largest(), static_cast<std::int64_t>(text_internal::kWritePieceBytes))
        << c.what;
  }
}

TEST(TTextWriter, LinesInPiecesWriteAsTheJoinedLines) {
  // Pieces of every size, empty ones included, straddling the buffer's end.
  const std::size_t piece_units = text_internal::kWritePieceBytes / 2;
  const std::u16string big(piece_units + 5, u'\u00E9');
  const std::u16string near_end(piece_units - 4, u'n');
  const std::vector<std::vector<std::u16string_view>> lines = {
      {u"<tr>", u"", u"1", u"</td>"},
      {},
      {near_end, u"abcdefgh", u""},
      {big},
      {u"", big, u"tail"},
  };
  for (const bool background : {false, true}) {
    RecordingStream written;
    TTextWriter writer(written, background);
    TUnicodeStringList joined;
    for (int round = 0; round < 3; ++round) {
      for (const auto& pieces : lines) {
        std::u16string line;
        for (const auto piece : pieces) line += piece;
        joined.AppendItem(line);
        switch (pieces.size()) {
          case 0: writer.WriteLine({}); break;
          case 1: writer.WriteLine({pieces[0]}); break;
          case 3: writer.WriteLine({pieces[0], pieces[1], pieces[2]}); break;
          default: writer.WriteLine({pieces[0], pieces[1], pieces[2], pieces[3]}); break;
        }
      }
    }
    writer.Flush();
    TMemoryStream expected;
    joined.WriteTextStream(expected);
    EXPECT_TRUE(written.Bytes() == expected.Bytes()) << "background " << background;
    EXPECT_LE(written.Largest(), static_cast<std::int64_t>(text_internal::kWritePieceBytes));
  }
}

TEST(TTextWriter, AFailureOfTheStreamIsRaisedByTheWriter) {
  class FailingStream : public TMemoryStream {
   public:
    void Write(const void* buffer, std::int64_t count) override {
      if (Size() + count > 3000000) throw EWriteError();
      TMemoryStream::Write(buffer, count);
    }
  };
  for (const bool background : {false, true}) {
    FailingStream stream;
    bool raised = false;
    try {
      TTextWriter writer(stream, background);
      for (int i = 0; i < 100000; ++i) writer.WriteLine({u"a line of the report"});
      writer.Flush();
    } catch (const EWriteError&) {
      raised = true;
    }
    EXPECT_TRUE(raised) << "background " << background;
    EXPECT_GT(stream.Size(), 0) << "background " << background;
    EXPECT_LE(stream.Size(), 3000000) << "background " << background;
  }
}

TEST(WriteTextStream, WriteFailingPartWayRaisesWriteError) {
  class FillingStream : public TMemoryStream {
   public:
    void Write(const void* buffer, std::int64_t count) override {
      if (Size() + count > 2000000) throw EWriteError();
      TMemoryStream::Write(buffer, count);
    }
  };
  TUnicodeStringList list;
  for (int i = 0; i < 100000; ++i) list.AppendItem(u"a line of the report");
  FillingStream stream;
  EXPECT_THROW(list.WriteTextStream(stream), EWriteError);
  EXPECT_GT(stream.Size(), 0);
}

TEST_F(TextFileTest, RoundTripIsByteForByte) {
  TUnicodeStringList list;
  const std::vector<std::u16string> items = {
      u"plain", u"", u"\u4E2D\u6587 \u3010x\u3011", u"\U0001F600 emoji", u"tab\there", u"last"};
  for (const auto& item : items) list.AppendItem(item);
  const fs::path path = folder_ / "result.htm";
  list.WriteTextFile(path.string());

  TMemoryStream expected;
  list.WriteTextStream(expected);
  const std::string bytes = ReadBytes(path);
  EXPECT_EQ(bytes, expected.Bytes());
  EXPECT_EQ(bytes.substr(0, 8), std::string("\xFF\xFEp\0l\0a\0", 8));

  TUnicodeStringList back;
  back.ReadTextFile(path.string());
  EXPECT_EQ(Items(back), items);
  back.WriteTextFile(path.string());
  EXPECT_EQ(ReadBytes(path), bytes);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"result.htm"});
}

TEST_F(TextFileTest, ReadsEveryEncodingFromDisk) {
  WriteBytes(folder_ / "le.txt", std::string("\xFF\xFE" "x\0\n\0y\0", 8));
  WriteBytes(folder_ / "be.txt", std::string("\xFE\xFF\0x\0\n\0y", 8));
  WriteBytes(folder_ / "u8.txt", "\xEF\xBB\xBFx\ny");
  WriteBytes(folder_ / "empty.txt", "");
  for (const char* name : {"le.txt", "be.txt", "u8.txt"}) {
    TUnicodeStringList list;
    list.ReadTextFile((folder_ / name).string());
    EXPECT_EQ(Items(list), (std::vector<std::u16string>{u"x", u"y"})) << name;
  }
  TUnicodeStringList list;
  list.AppendItem(u"old");
  list.ReadTextFile((folder_ / "empty.txt").u16string());
  EXPECT_EQ(list.ItemCount(), 0);
}

TEST_F(TextFileTest, NativePathOpensAnyFileName) {
  const std::string name = (folder_ / "bad\xFF\xFEname.txt").string();
  WriteBytes(name, "ok");
  TUnicodeStringList list;
  list.ReadTextFile(name);
  EXPECT_EQ(Items(list), std::vector<std::u16string>{u"ok"});
}

// Runs `action`, expecting exception E with exactly `message`.
template <typename E, typename Action>
void ExpectError(Action action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no exception; expected: " << message;
  } catch (const E& e) {
    EXPECT_EQ(std::string(e.what()), message);
  }
}

TEST_F(TextFileTest, OpenErrorsNameTheAbsolutePathAndTheReason) {
  fs::create_directory(folder_ / "sub");
  const std::string folder = folder_.string();
  struct Case {
    std::string path, absolute, reason;
  };
  const std::vector<Case> cases = {
      {folder + "/missing.txt", folder + "/missing.txt", "No such file or directory"},
      {folder + "/sub", folder + "/sub", "Is a directory"},
      {folder + "/nowhere/a.txt", folder + "/nowhere/a.txt", "No such file or directory"},
      {folder + "/sub/../sub/./x.txt", folder + "/sub/x.txt", "No such file or directory"},
  };
  for (const Case& c : cases) {
    TUnicodeStringList list;
    list.AppendItem(u"kept");
    ExpectError<EFOpenError>([&] { list.ReadTextFile(c.path); },
                             "Cannot open file \"" + c.absolute + "\". " + c.reason);
    EXPECT_EQ(Items(list), std::vector<std::u16string>{u"kept"}) << c.path;
  }
}

TEST_F(TextFileTest, RelativePathIsMadeAbsoluteAgainstTheCurrentFolder) {
  const fs::path previous = fs::current_path();
  fs::current_path(folder_);
  TUnicodeStringList list;
  ExpectError<EFOpenError>([&] { list.ReadTextFile(u"no such.txt"); },
                           "Cannot open file \"" + folder_.string() +
                               "/no such.txt\". No such file or directory");
  fs::current_path(previous);
}

TEST_F(TextFileTest, WritingIntoAMissingFolderFails) {
  TUnicodeStringList list;
  list.AppendItem(u"x");
  const std::string target = (folder_ / "missing" / "result.htm").string();
  ExpectError<EFCreateError>(
      [&] { list.WriteTextFile(target); },
      "Cannot create file \"" + target + "\". No such file or directory");
  EXPECT_TRUE(FolderEntries().empty());
}

TEST_F(TextFileTest, WritingIntoAReadOnlyFolderFailsAndKeepsTheFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
  const fs::path target = folder_ / "result.htm";
  WriteBytes(target, "previous");
  fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
  TUnicodeStringList list;
  list.AppendItem(u"x");
  ExpectError<EFCreateError>(
      [&] { list.WriteTextFile(target.string()); },
      "Cannot create file \"" + target.string() + "\". Permission denied");
  fs::permissions(folder_, fs::perms::owner_all);
  EXPECT_EQ(ReadBytes(target), "previous");
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"result.htm"});
}

TEST_F(TextFileTest, WritingOverADirectoryFailsAndLeavesNoTemporaryFile) {
  fs::create_directory(folder_ / "result.htm");
  TUnicodeStringList list;
  list.AppendItem(u"x");
  const std::string target = (folder_ / "result.htm").string();
  ExpectError<EFCreateError>([&] { list.WriteTextFile(target); },
                             "Cannot create file \"" + target + "\". Is a directory");
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"result.htm"});
  EXPECT_TRUE(fs::is_directory(target));
}

TEST_F(TextFileTest, ShortWriteRaisesAndKeepsThePreviousFile) {
  const fs::path target = folder_ / "result.htm";
  const std::string previous = "previous report, byte for byte";
  WriteBytes(target, previous);
  TUnicodeStringList list;
  for (int i = 0; i < 1000; ++i) list.AppendItem(u"a line long enough to pass the limit");

  // Limit the size of files this process may write, so the write falls
  // short; SIGXFSZ is ignored so write() reports EFBIG instead.
  rlimit old_limit;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit small = old_limit;
  small.rlim_cur = 4096;
  const auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  ExpectError<EWriteError>([&] { list.WriteTextFile(target.string()); },
                           "Cannot write file \"" + target.string() + "\". File too large");
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::signal(SIGXFSZ, old_handler);

  EXPECT_EQ(ReadBytes(target), previous);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"result.htm"});
}

TEST_F(TextFileTest, WriteWithAFailingProducerKeepsThePreviousFile) {
  const fs::path target = folder_ / "result.htm";
  WriteBytes(target, "previous");
  // The producer fails after more than one buffer has reached the file.
  EXPECT_THROW(WriteTextFileWith(target.string(),
                                 [](TTextWriter& writer) {
                                   for (int i = 0; i < 60000; ++i)
                                     writer.WriteLine({u"a row of the report"});
                                   throw EStringListError("List index out of bounds (1)");
                                 }),
               EStringListError);
  EXPECT_EQ(ReadBytes(target), "previous");
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"result.htm"});

  WriteTextFileWith(target.string(), [](TTextWriter& writer) { writer.WriteLine({u"a", u"b"}); });
  EXPECT_EQ(ReadBytes(target), std::string("\xFF\xFE" "a\0b\0\r\0\n\0", 10));
}

TEST_F(TextFileTest, CancelWhileWritingKeepsThePreviousFile) {
  const fs::path target = folder_ / "result.htm";
  WriteBytes(target, "previous");
  // The flag is set part-way through the lines, and once more only with the
  // very last line, after every piece has been handed over: either way the
  // old file stays and the temporary one goes.
  for (const int set_at : {30000, 59999}) {
    SCOPED_TRACE(set_at);
    std::atomic<bool> cancel{false};
    EXPECT_THROW(WriteTextFileWith(
                     target.string(),
                     [&cancel, set_at](TTextWriter& writer) {
                       for (int i = 0; i < 60000; ++i) {
                         writer.WriteLine({u"a row of the report"});
                         if (i == set_at) cancel.store(true);
                       }
                     },
                     &cancel),
                 ECancelled);
    EXPECT_EQ(ReadBytes(target), "previous");
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"result.htm"});
  }
}

TEST_F(TextFileTest, StreamTargetsAreWrittenThroughNotReplaced) {
  const fs::path fifo = folder_ / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = ReadBytes(fifo); });
  TUnicodeStringList list;
  list.AppendItem(u"ab");
  list.WriteTextFile(fifo.string());
  reader.join();
  EXPECT_EQ(received, std::string("\xFF\xFE" "a\0b\0\r\0\n\0", 10));
  struct stat info;
  ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));

  // Names that cannot be written to: a folder, a name ending in "/", a link
  // to nothing; none leaves anything behind.
  fs::create_directory(folder_ / "sub");
  fs::create_symlink("missing.htm", folder_ / "broken.htm");
  const std::string base = folder_.string();
  ExpectError<EFCreateError>([&] { list.WriteTextFile(base + "/sub"); },
                             "Cannot create file \"" + base + "/sub\". Is a directory");
  ExpectError<EFCreateError>([&] { list.WriteTextFile(base + "/new/"); },
                             "Cannot create file \"" + base +
                                 "/new/\". The name ends in \"/\" and so names a folder");
  ExpectError<EFCreateError>([&] { list.WriteTextFile(base + "/broken.htm"); },
                             "Cannot create file \"" + base +
                                 "/broken.htm\". The link names a file that does not exist");
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"broken.htm", "pipe", "sub"}));
}

TEST_F(TextFileTest, FileOpenForReadingCannotBeReplaced) {
  const fs::path target = folder_ / "result.htm";
  WriteBytes(target, "in use");
  TUnicodeFileStream reader(target.string(), TFileAccess::OpenRead);
  TUnicodeStringList list;
  list.AppendItem(u"x");
  ExpectError<EFCreateError>([&] { list.WriteTextFile(target.string()); },
                             "Cannot create file \"" + target.string() +
                                 "\". Another search is reading this file");
  ExpectError<EFCreateError>(
      [&] { TUnicodeFileStream writer(target.string(), TFileAccess::Create); },
      "Cannot create file \"" + target.string() + "\". Another search is reading this file");
  EXPECT_EQ(ReadBytes(target), "in use");
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"result.htm"});
}

TEST_F(TextFileTest, FileBeingCreatedCannotBeRead) {
  const fs::path target = folder_ / "busy.txt";
  TUnicodeFileStream writer(target.string(), TFileAccess::Create);
  writer.Write("abc", 3);
  TUnicodeStringList list;
  ExpectError<EFOpenError>([&] { list.ReadTextFile(target.string()); },
                           "Cannot open file \"" + target.string() +
                               "\". Another search is writing this file");
}

TEST_F(TextFileTest, ReplacementKeepsTheModeAndFollowsLinks) {
  const fs::path target = folder_ / "real.htm";
  fs::create_symlink("real.htm", folder_ / "link.htm");
  for (const bool nameless : kBothRoutes) {
    SCOPED_TRACE(RouteName(nameless));
    const ReplacementRoute route(nameless);
    WriteBytes(target, "old");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write |
                                fs::perms::group_read);
    TUnicodeStringList list;
    list.AppendItem(u"new");
    list.WriteTextFile((folder_ / "link.htm").string());
    EXPECT_TRUE(fs::is_symlink(folder_ / "link.htm"));
    EXPECT_EQ(ReadBytes(target), std::string("\xFF\xFEn\0e\0w\0\r\0\n\0", 12));
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"link.htm", "real.htm"}));
  }
}

TEST_F(TextFileTest, NewFileGetsTheUsualMode) {
  for (const bool nameless : kBothRoutes) {
    SCOPED_TRACE(RouteName(nameless));
    const ReplacementRoute route(nameless);
    const fs::path target = folder_ / (std::string(RouteName(nameless)) + ".htm");
    const mode_t mask = ::umask(022);
    TUnicodeStringList list;
    list.WriteTextFile(target.string());
    ::umask(mask);
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
    EXPECT_EQ(ReadBytes(target), "\xFF\xFE");
  }
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"named.htm", "nameless.htm"}));
}

// The process id of a child that has ended: no process has it, until the
// system hands it out again much later.
pid_t GoneProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

// Whether `name` is the temporary name a process `pid` gives to a new
// "result.htm": ".result.htm.PID.N.XXXXXXXX.tmp".
bool IsTemporaryOf(const std::string& name, pid_t pid) {
  const std::string head = ".result.htm." + std::to_string(pid) + ".";
  return name.starts_with(head) && name.ends_with(".tmp");
}

TEST_F(TextFileTest, TheNewFileHasANameOnlyWhereItMustWhileItIsWritten) {
  const fs::path target = folder_ / "result.htm";
  WriteBytes(target, "previous");
  for (const bool nameless : kBothRoutes) {
    SCOPED_TRACE(RouteName(nameless));
    const ReplacementRoute route(nameless);
    std::vector<std::string> seen;
    WriteFileWith(target.string(), [&](TStream& stream) {
      stream.Write("new", 3);
      seen = FolderEntries();
    });
    // Names sort with the temporary one, which starts with ".", first.
    ASSERT_EQ(seen.size(), nameless ? 1u : 2u);
    EXPECT_EQ(seen.back(), "result.htm");
    if (!nameless) {
      EXPECT_TRUE(IsTemporaryOf(seen.front(), ::getpid())) << seen.front();
    }
    EXPECT_EQ(ReadBytes(target), "new");
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"result.htm"});
    WriteBytes(target, "previous");
  }
}

// A process killed while it writes the file: without a name the new file
// goes with it; with one it stays, and the next write of the same file
// removes it. Either way the old file is whole until the next write.
TEST_F(TextFileTest, AWriterKilledAtWorkLeavesNothingTheNextWriteKeeps) {
  const fs::path target = folder_ / "result.htm";
  for (const bool nameless : kBothRoutes) {
    SCOPED_TRACE(RouteName(nameless));
    const ReplacementRoute route(nameless);
    WriteBytes(target, "previous");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t writer = ::fork();
    if (writer == 0) {
      // The child writes a megabyte, tells the parent and waits for its end.
      try {
        WriteFileWith(target.string(), [&](TStream& stream) {
          const std::string piece(1 << 20, 'x');
          stream.Write(piece.data(), static_cast<std::int64_t>(piece.size()));
          if (::write(ready[1], "w", 1) != 1) ::_exit(1);
          for (;;) ::pause();
        });
      } catch (...) {
      }
      ::_exit(1);
    }
    ::close(ready[1]);
    char byte = 0;
    const bool writing = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    ASSERT_TRUE(writing) << "the child never wrote";

    EXPECT_EQ(ReadBytes(target), "previous");
    const std::vector<std::string> left = FolderEntries();
    if (nameless) {
      EXPECT_EQ(left, std::vector<std::string>{"result.htm"});
    } else {
      ASSERT_EQ(left.size(), 2u);
      EXPECT_TRUE(IsTemporaryOf(left.front(), writer)) << left.front();
      EXPECT_EQ(fs::file_size(folder_ / left.front()), 1u << 20);
    }
    TUnicodeStringList list;
    list.AppendItem(u"new");
    list.WriteTextFile(target.string());
    EXPECT_EQ(ReadBytes(target), std::string("\xFF\xFEn\0e\0w\0\r\0\n\0", 12));
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"result.htm"});
  }
}

// What earlier writes may have left beside "result.htm", and whether the
// next write of it removes the entry: only a regular file named exactly as
// a write of "result.htm" names its new file, whose process is gone and
// which nobody holds locked.
TEST_F(TextFileTest, OnlyTheTemporariesOfGoneWritersOfTheSameFileAreRemoved) {
  const std::string gone = std::to_string(GoneProcess());
  const std::string live = std::to_string(::getpid());
  enum Kind { kFile, kLockedFile, kFolder, kLink, kOtherUsersFile };
  struct Leftover {
    std::string name;
    Kind kind;
    bool removed;
  };
  const std::vector<Leftover> leftovers = {
      {".result.htm." + gone + ".0.0a1b2c3d.tmp", kFile, true},
      {".result.htm." + gone + ".4294967295.ffffffff.tmp", kFile, true},
      // Its process is alive: this one, or another user's (init).
      {".result.htm." + live + ".0.0a1b2c3d.tmp", kFile, false},
      {".result.htm.1.0.0a1b2c3d.tmp", kFile, false},
      // Locked: being written by a process this one cannot see.
      {".result.htm." + gone + ".1.0a1b2c3d.tmp", kLockedFile, false},
      // Another user's: left alone even by a run that may remove it.
      {".result.htm." + gone + ".5.0a1b2c3d.tmp", kOtherUsersFile, false},
      // Not a regular file.
      {".result.htm." + gone + ".2.0a1b2c3d.tmp", kFolder, false},
      {".result.htm." + gone + ".3.0a1b2c3d.tmp", kLink, false},
      // Another file's, or not a name such a write gives.
      {".other.htm." + gone + ".0.0a1b2c3d.tmp", kFile, false},
      {".result.htm.bak." + gone + ".0.0a1b2c3d.tmp", kFile, false},
      {"result.htm." + gone + ".0.0a1b2c3d.tmp", kFile, false},
      {".result.htm." + gone + ".0.0a1b2c3d.tmp.bak", kFile, false},
      {".result.htm." + gone + ".0.0A1B2C3D.tmp", kFile, false},
      {".result.htm." + gone + ".0.0a1b2c3.tmp", kFile, false},
      {".result.htm." + gone + ".0.0a1b2c3d0.tmp", kFile, false},
      {".result.htm." + gone + ".0a1b2c3d.tmp", kFile, false},
      {".result.htm." + gone + ".x.0a1b2c3d.tmp", kFile, false},
      {".result.htm.+" + gone + ".0.0a1b2c3d.tmp", kFile, false},
      {".result.htm.0.0.0a1b2c3d.tmp", kFile, false},
      {".result.htm.99999999999.0.0a1b2c3d.tmp", kFile, false},
      {".result.htm.tmp", kFile, false},
      {".result.htm..tmp", kFile, false},
  };
  const fs::path target = folder_ / "result.htm";
  for (const bool nameless : kBothRoutes) {
    SCOPED_TRACE(RouteName(nameless));
    const ReplacementRoute route(nameless);
    WriteBytes(target, "previous");
    WriteBytes(folder_ / "linked", "linked");
    std::vector<int> locks;
    std::vector<std::string> kept = {"linked", "result.htm"};
    for (const Leftover& leftover : leftovers) {
      // Only root can give a file to another user (and a run as anyone
      // else could not remove it anyway).
      if (leftover.kind == kOtherUsersFile && ::geteuid() != 0) continue;
      const fs::path path = folder_ / leftover.name;
      if (leftover.kind == kFolder) {
        fs::create_directory(path);
      } else if (leftover.kind == kLink) {
        fs::create_symlink("linked", path);
      } else {
        WriteBytes(path, "left");
      }
      if (leftover.kind == kOtherUsersFile) {
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
      }
      if (leftover.kind == kLockedFile) {
        locks.push_back(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_EQ(::flock(locks.back(), LOCK_EX | LOCK_NB), 0);
      }
      if (!leftover.removed) kept.push_back(leftover.name);
    }
    std::sort(kept.begin(), kept.end());

    TUnicodeStringList list;
    list.AppendItem(u"new");
    list.WriteTextFile(target.string());
    for (const int fd : locks) ::close(fd);
    EXPECT_EQ(FolderEntries(), kept);
    EXPECT_EQ(ReadBytes(target), std::string("\xFF\xFEn\0e\0w\0\r\0\n\0", 12));
    for (const std::string& name : kept) fs::remove(folder_ / name);
  }
}

TEST_F(TextFileTest, SpecialFilesAreRefusedWithoutWaiting) {
  const fs::path fifo = folder_ / "pipe.txt";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink("/dev/null", folder_ / "null.txt");
  fs::create_symlink("/dev/zero", folder_ / "zero.txt");
  for (const char* name : {"pipe.txt", "null.txt", "zero.txt"}) {
    TUnicodeStringList list;
    list.AppendItem(u"old");
    const std::string path = (folder_ / name).string();
    ExpectError<EFOpenError>([&] { list.ReadTextFile(path); },
                             "Cannot open file \"" + path + "\". Not a regular file");
    EXPECT_EQ(Items(list), std::vector<std::u16string>{u"old"}) << name;
  }
}

TEST_F(TextFileTest, FilesOfTwoGibibytesOrMoreAreRefused) {
  // Sparse files: they take no room on the disk.
  struct Case {
    std::int64_t size;
    bool refused;
  };
  const Case cases[] = {{std::int64_t{1} << 31, true}, {(std::int64_t{1} << 32) + 5, true}};
  for (const Case& c : cases) {
    const fs::path path = folder_ / "big.txt";
    WriteBytes(path, "the\n");
    fs::resize_file(path, static_cast<std::uintmax_t>(c.size));
    TUnicodeStringList list;
    list.AppendItem(u"old");
    ExpectError<EFOpenError>([&] { list.ReadTextFile(path.string()); },
                             "Cannot open file \"" + path.string() + "\". File too large");
    EXPECT_EQ(Items(list), std::vector<std::u16string>{u"old"}) << c.size;
  }
}

TEST_F(TextFileTest, ReadOnlyTargetIsNotReplaced) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
  const fs::path target = folder_ / "result.htm";
  WriteBytes(target, "previous");
  fs::permissions(target, fs::perms::owner_read);
  TUnicodeStringList list;
  list.AppendItem(u"x");
  ExpectError<EFCreateError>(
      [&] { list.WriteTextFile(target.string()); },
      "Cannot create file \"" + target.string() + "\". Permission denied");
  fs::permissions(target, fs::perms::owner_all);
  EXPECT_EQ(ReadBytes(target), "previous");
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"result.htm"});
}

TEST_F(TextFileTest, FileStreamReadsSeeksAndReportsSize) {
  WriteBytes(folder_ / "data.bin", "0123456789");
  TUnicodeFileStream stream((folder_ / "data.bin").string(), TFileAccess::OpenRead);
  EXPECT_EQ(stream.Size(), 10);
  char buffer[4];
  EXPECT_EQ(stream.Read(buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  stream.MoveBack(2);
  EXPECT_EQ(stream.Position(), 2);
  stream.SetPosition(8);
  EXPECT_EQ(stream.Read(buffer, 4), 2);
  EXPECT_EQ(std::string(buffer, 2), "89");
  EXPECT_EQ(stream.Read(buffer, 4), 0);
}

TEST_F(TextFileTest, CreateTruncatesAnExistingFile) {
  WriteBytes(folder_ / "t.txt", "long old contents");
  {
    TUnicodeFileStream stream((folder_ / "t.txt").string(), TFileAccess::Create);
    EXPECT_EQ(stream.Size(), 0);
    stream.Write("new", 3);
    stream.Commit();
  }
  EXPECT_EQ(ReadBytes(folder_ / "t.txt"), "new");
}

}  // namespace
}  // namespace tallyfold
