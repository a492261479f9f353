// Tests of the scan's encodings: files without a mark decoded as the scan's
// decoding says, how each file was read (once per file, in file order, on
// the scanning thread, whatever the number of workers), and links to
// files whose names are not valid UTF-8.
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/CorpusScan.h"
#include "platform/CodePage.h"
#include "text/TextFile.h"
#include "text/ListItems.h"

namespace tallyfold {
namespace {

using testing::Info;
using testing::kEnd;
using testing::kKey;
using testing::TempFolder;
using testing::WriteBytes;

using test::Items;

// The href of an info fragment, percent-decoded: the bytes a browser hands
// the file system for the link.
std::string LinkTarget(const std::u16string& fragment) {
  const std::string utf8 = Utf8Encode(fragment);
  const std::size_t start = utf8.find("href=\"") + 6;
  const std::string href = utf8.substr(start, utf8.find('"', start) - start);
  std::string bytes;
  for (std::size_t i = 0; i < href.size(); ++i) {
    if (href[i] == '%' && i + 2 < href.size()) {
      bytes += static_cast<char>(std::stoi(href.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      bytes += href[i];
    }
  }
  return bytes;
}

TEST(InfoFragment, BytesOfANameThatAreNotUtf8ArePercentEncoded) {
  if (!SystemCodePage().IsUtf8()) GTEST_SKIP() << "needs a UTF-8 locale";
  struct Case {
    std::string path;
    std::string href;
  };
  const std::vector<Case> cases = {
      // Well-formed names keep their bytes: only % # ? and controls change.
      {"/语料/读书 \U0001F600.txt", "/语料/读书 \U0001F600.txt"},
      {"/c/100%.txt", "/c/100%25.txt"},
      // A stray byte, a character cut off before ".", an overlong form, a
      // surrogate and a value above U+10FFFF, beside valid characters.
      {"/c/n\xFF\xE6\x97\xB6%.txt", "/c/n%FF时%25.txt"},
      {"/c/\xE6\x97.txt", "/c/%E6%97.txt"},
      {"/c/\xC0\xAF\xC3\xA9", "/c/%C0%AFé"},
      {"/c/\xED\xA0\x80x", "/c/%ED%A0%80x"},
      {"/c/\xF4\x90\x80\x80", "/c/%F4%90%80%80"},
      // GB18030 bytes of 时间, as an old archive names its files: the first
      // two happen to be U+02B1 in UTF-8 and stay.
      {"/c/\xCA\xB1\xBC\xE4.txt", "/c/\xCA\xB1%BC%E4.txt"},
      // What a browser reads as another path in a file: link: a bar (the
      // colon of a drive letter) where a browser would act on it, and
      // beside the other escapes.
      {"/c|/x.txt", "/c%7C/x.txt"},
      {"/c/a|b#?%\x7F\x01.txt", "/c/a%7Cb%23%3F%25%7F%01.txt"},
      // Characters a browser encodes itself, and so reads back as typed.
      {"/c/a b[1]{2}^`;=.txt", "/c/a b[1]{2}^`;=.txt"},
#ifndef _WIN32
      // A backslash, a separator to a browser, which a POSIX name may hold
      // (on Windows it is the separator, and the link has "/" for it).
      {"/c/..\\..\\secret.txt", "/c/..%5C..%5Csecret.txt"},
      {"/c/a|b\\#?.txt", "/c/a%7Cb%5C%23%3F.txt"},
#endif
  };
  for (const Case& c : cases) {
    const std::u16string fragment = InfoFragment(c.path, 4);
    EXPECT_NE(fragment.find(Utf8Decode("href=\"" + c.href + "\"")), std::u16string::npos)
        << Utf8Encode(fragment);
    EXPECT_EQ(LinkTarget(fragment), c.path);
  }
}

class ScanEncoding : public ::testing::Test {
 protected:
  void SetUp() override {
    gb18030_ = TCodePage("GB18030").Encode(u"第一行 时间\n没有\n时间 第三行\n");
    WriteBytes(folder_ / "a.txt", gb18030_);
    WriteBytes(folder_ / "b.txt", Utf8Encode(u"时间 utf8\n"));
    WriteBytes(folder_ / "c.txt", "\xEF\xBB\xBF" "x\xFF\xFE\n");
    WriteBytes(folder_ / "d.txt", "caf\xE9\n\x80 \xFF\n");
  }

  struct Note {
    std::string path;
    std::string codeset;
    std::size_t malformed;
    bool operator==(const Note&) const = default;
  };

  // Scans with `decoding` and `threads`, gathering the readings of the
  // files with malformed text and checking that every file's reading comes
  // once, in file order, on the calling thread.
  std::vector<Note> Scan(const TTextDecoding& decoding, int threads,
                         TUnicodeStringList& matches) {
    std::vector<Note> notes;
    std::vector<std::string> read;
    const std::thread::id caller = std::this_thread::get_id();
    ScanControl control;
    control.threads = threads;
    control.decoding = decoding;
    control.scanned = [&](const ScannedFile& file) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      EXPECT_EQ(file.index, static_cast<int>(read.size()));
      EXPECT_EQ(file.path, folder_ / file.shown_name);
      read.push_back(file.shown_name);
      if (file.read.malformed > 0)
        notes.push_back({file.path, file.read.codeset, file.read.malformed});
    };
    ScanFolder(u"时间", folder_.Path(), false, matches, control);
    EXPECT_EQ(read, (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "d.txt"}));
    return notes;
  }

  TempFolder folder_;
  std::string gb18030_;
};

TEST_F(ScanEncoding, AutoFindsTheLinesOfALegacyFile) {
  for (const int threads : {1, 4}) {
    TUnicodeStringList matches;
    const std::vector<Note> notes = Scan(TextDecodingNamed("auto"), threads, matches);
    const std::string a = folder_ / "a.txt";
    const std::string b = folder_ / "b.txt";
    EXPECT_EQ(Items(matches),
              (std::vector<std::u16string>{
                  u"1= 第一行 " + kKey + u"时间" + kEnd + u" " + Info(a, "a.txt", 1),
                  u"1= " + kKey + u"时间" + kEnd + u" 第三行 " + Info(a, "a.txt", 3),
                  u"1= " + kKey + u"时间" + kEnd + u" utf8 " + Info(b, "b.txt", 1),
              }))
        << threads;
    // The marked file keeps its UTF-8 and says so; the Latin-1 one is not
    // valid GB18030 either.
    EXPECT_EQ(notes, (std::vector<Note>{{folder_ / "c.txt", "UTF-8", 2},
                                        {folder_ / "d.txt", "GB18030", 3}}))
        << threads;
  }
}

TEST_F(ScanEncoding, EachMalformedFileIsReportedOnceInFileOrder) {
  for (const int threads : {1, 3}) {
    TUnicodeStringList matches;
    const std::vector<Note> notes = Scan(TextDecodingNamed("utf-8"), threads, matches);
    std::size_t gb_malformed = 0;
    Utf8Decode(gb18030_, gb_malformed);
    EXPECT_EQ(notes, (std::vector<Note>{{folder_ / "a.txt", "UTF-8", gb_malformed},
                                        {folder_ / "c.txt", "UTF-8", 2},
                                        {folder_ / "d.txt", "UTF-8", 3}}))
        << threads;
    // Read as UTF-8, the GB18030 file matches nothing; the UTF-8 one does.
    EXPECT_EQ(matches.ItemCount(), 1);
  }
}

TEST_F(ScanEncoding, TheDefaultReadsInTheSystemCodePage) {
  TUnicodeStringList with_default;
  ScanControl one_thread;
  one_thread.threads = 1;
  ScanFolder(u"时间", folder_.Path(), false, with_default, one_thread);
  TUnicodeStringList with_locale;
  Scan(TextDecodingNamed("locale"), 1, with_locale);
  EXPECT_EQ(Items(with_default), Items(with_locale));
}

}  // namespace
}  // namespace tallyfold
