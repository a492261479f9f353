// Encodings through the command line, run in-process: a GB18030 corpus
// searched with the default options, --encoding and --fallback, the summary
// on standard error of how the files were read, and the link to a file whose
// name is not valid UTF-8. Unknown encoding names are usage errors
// (CliCommandTest).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/CliInProcess.h"
#include "platform/CodePage.h"

namespace tallyfold::testing {
namespace {

std::u16string Padded(const std::u16string& text) { return u" " + text + u" "; }

std::string Gb18030(const std::u16string& text) { return TCodePage("GB18030").Encode(text); }

// A corpus of legacy files and UTF-8 ones, and the place the report goes.
class CliEncoding : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(MakeFolder(folder_.c_str()), 0);
    WriteBytes(folder_ + kSlash + "gb.txt", Gb18030(u"第一行 没有\r\n时间 到了\r\n\r\n现在的时间是 € 㐀\r\n"));
    WriteBytes(folder_ + kSlash + "utf8.txt", Utf8Bytes(u"时间 in UTF-8\n"));
  }

  // The report's Text cells, sorted: rows of equal counts come in the
  // report's own order, which is not what these tests are about.
  std::vector<std::u16string> Cells() {
    std::vector<std::u16string> cells = TextCells(ReadBytes(report_));
    std::sort(cells.begin(), cells.end());
    return cells;
  }

  TempFolder root_;
  const std::string folder_ = root_ / "corpus";
  const std::string report_ = root_ / "result.htm";
};

TEST_F(CliEncoding, DefaultOptionsFindChineseTextInAGb18030Corpus) {
  const CliResult result = RunCliInProcess({"--no-boundary", "时间", folder_}, root_.Path());
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "3 matches in 3 matching lines in 2 files scanned; report written to " +
                            report_ +
                            "\n");
  EXPECT_EQ(result.err, "tallyfold-cli: read without a byte-order mark as GB18030 (1 file, detected)\n");
  const std::string gb = folder_ + kSlash + "gb.txt";
  const std::string utf8 = folder_ + kSlash + "utf8.txt";
  std::vector<std::u16string> expected = {
      Padded(kKey + u"时间" + kEnd + u" 到了") + Info(gb, "gb.txt", 2),
      Padded(u"现在的" + kKey + u"时间" + kEnd + u"是 € 㐀") + Info(gb, "gb.txt", 4),
      Padded(kKey + u"时间" + kEnd + u" in UTF-8") + Info(utf8, "utf8.txt", 1),
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Cells(), expected);
}

TEST_F(CliEncoding, TheFallbackAndANamedEncodingAreUsed) {
  WriteBytes(folder_ + kSlash + "gb.txt", TCodePage("BIG5").Encode(u"檢索 時間\n"));
  WriteBytes(folder_ + kSlash + "utf8.txt", "\n");
  // Big5 read as GB18030 gives other characters.
  CliResult result = RunCliInProcess({"--quiet", "--no-boundary", "時間", folder_}, root_.Path());
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(Cells().empty());
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"--fallback", "big5"}, {"--encoding", "BIG5"}}) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {"--quiet", "--no-boundary", "時間", folder_});
    result = RunCliInProcess(args, root_.Path());
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(Cells(), std::vector<std::u16string>{
                           Padded(u"檢索 " + kKey + u"時間" + kEnd) +
                           Info(folder_ + kSlash + "gb.txt", "gb.txt", 1)});
  }
}

TEST_F(CliEncoding, ReplacedBytesAreSummedUpOnceUnlessQuiet) {
  WriteBytes(folder_ + kSlash + "bad.txt", "\xEF\xBB\xBF" "a\xFF\n\xE6\x97\n");
  WriteBytes(folder_ + kSlash + "latin.txt", "caf\xE9 \xE9t\xE9\n");
  const std::string gb = Gb18030(u"第一行 没有\r\n时间 到了\r\n\r\n现在的时间是 € 㐀\r\n");
  std::size_t gb_malformed = 0;
  Utf8Decode(gb, gb_malformed);
  ASSERT_GT(gb_malformed, 1U);

  const CliResult result =
      RunCliInProcess({"--encoding", "utf-8", "--no-boundary", "时间", folder_}, root_.Path());
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "tallyfold-cli: 3 files had bytes not valid in the character set read "
                        "in, each sequence read as U+FFFD (" +
                            std::to_string(2 + gb_malformed + 3) +
                            " in all): bad.txt, gb.txt, latin.txt; try --encoding auto\n");
  EXPECT_EQ(result.out, "1 match in 1 matching line in 4 files scanned; report written to " +
                            report_ +
                            "\n");

  // Files read in a set the user named are best left to the automatic
  // choice, whatever the fallback; beyond three files the rest are counted.
  WriteBytes(folder_ + kSlash + "more.txt", "\xFF\n");
  const CliResult more =
      RunCliInProcess({"--encoding", "utf-8", "--fallback", "WINDOWS-1252", "--threads", "3",
                       "--no-boundary", "时间", folder_},
                      root_.Path());
  ASSERT_EQ(more.status, 0) << more.err;
  EXPECT_TRUE(more.err.ends_with(" in all): bad.txt, gb.txt, latin.txt and 1 more; try "
                                 "--encoding auto\n"))
      << more.err;
  EXPECT_EQ(std::count(more.err.begin(), more.err.end(), '\n'), 1) << more.err;

  const CliResult quiet = RunCliInProcess(
      {"--quiet", "--encoding", "utf-8", "--no-boundary", "时间", folder_}, root_.Path());
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, "");
}

TEST_F(CliEncoding, ANameThatIsNotUtf8GetsALinkThatOpensTheFile) {
  const std::string name = "n\xFF" + Gb18030(u"时间") + " 100%.txt";
  if (testing::WindowsForbidsName(name)) GTEST_SKIP() << "Windows names are Unicode";
  WriteBytes(folder_ + kSlash + name, Utf8Bytes(u"时间\n"));
  const CliResult result =
      RunCliInProcess({"--quiet", "--no-boundary", "时间", folder_}, root_.Path());
  ASSERT_EQ(result.status, 0) << result.err;
  const std::vector<std::u16string> cells = Cells();
  ASSERT_EQ(cells.size(), 4U);
  std::string cell;
  for (const std::u16string& each : cells)
    if (each.find(u"%FF") != std::u16string::npos) cell = Utf8Encode(each);
  const std::size_t start = cell.find("href=\"") + 6;
  const std::string href = cell.substr(start, cell.find('"', start) - start);
  // CA B1, the first half of 时 in GB18030, is also U+02B1 in UTF-8.
  EXPECT_EQ(href, folder_ + kSlash + "n%FF\xCA\xB1%BC%E4 100%25.txt");
  std::string target;
  for (std::size_t i = 0; i < href.size(); ++i) {
    if (href[i] == '%') {
      target += static_cast<char>(std::stoi(href.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      target += href[i];
    }
  }
  EXPECT_EQ(target, folder_ + kSlash + name);
  EXPECT_EQ(ReadBytes(target), Utf8Bytes(u"时间\n"));
}

}  // namespace
}  // namespace tallyfold::testing
