// Tests of text files: mark detection, decoding (UTF-8 with its mended
// handling of malformed and 4-byte input), writing, the round trip through a
// real file, and every open, create and write failure with its message and
// with nothing lost.
#include "text/TextFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/CodePage.h"

namespace tallyfold {
namespace {

namespace fs = std::filesystem;

std::vector<std::u16string> Items(const TUnicodeStringList& list) {
  std::vector<std::u16string> items;
  for (int i = 0; i < list.ItemCount(); ++i) items.push_back(list.ItemAt(i));
  return items;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

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
      {"UTF-16 LE NUL", std::string("\xFF\xFE" "a\0\0\0b\0", 8), {u"a"}},
      {"UTF-16 LE mark then NUL", std::string("\xFF\xFE\0\0", 4), {}},
      {"UTF-8", "\xEF\xBB\xBF" "A\r\n\xC3\xA9", {u"A", u"\u00E9"}},
      {"UTF-8 truncated at end", "\xEF\xBB\xBF" "A\r\n\xC3", {u"A", u"\uFFFD"}},
      {"UTF-8 4-byte", "\xEF\xBB\xBF\xF0\x9F\x98\x80!", {u"\U0001F600!"}},
      {"UTF-8 malformed keeps the rest", "\xEF\xBB\xBF" "a\xFF" "b\nc", {u"a\uFFFDb", u"c"}},
      {"UTF-8 NUL", std::string("\xEF\xBB\xBF" "ab\ncd\0ef\ngh", 14), {u"ab", u"cd"}},
      {"no mark NUL", std::string("ab\0cd", 5), {u"ab"}},
      {"no mark NUL first", std::string("\0ab", 3), {}},
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
                           "Stream write error");
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::signal(SIGXFSZ, old_handler);

  EXPECT_EQ(ReadBytes(target), previous);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"result.htm"});
}

TEST_F(TextFileTest, FileOpenForReadingCannotBeReplaced) {
  const fs::path target = folder_ / "result.htm";
  WriteBytes(target, "in use");
  TUnicodeFileStream reader(target.string(), TFileAccess::OpenRead);
  TUnicodeStringList list;
  list.AppendItem(u"x");
  ExpectError<EFCreateError>([&] { list.WriteTextFile(target.string()); },
                             "Cannot create file \"" + target.string() +
                                 "\". Resource temporarily unavailable");
  ExpectError<EFCreateError>(
      [&] { TUnicodeFileStream writer(target.string(), TFileAccess::Create); },
      "Cannot create file \"" + target.string() + "\". Resource temporarily unavailable");
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
                               "\". Resource temporarily unavailable");
}

TEST_F(TextFileTest, ReplacementKeepsTheModeAndFollowsLinks) {
  const fs::path target = folder_ / "real.htm";
  WriteBytes(target, "old");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write |
                              fs::perms::group_read);
  fs::create_symlink("real.htm", folder_ / "link.htm");
  TUnicodeStringList list;
  list.AppendItem(u"new");
  list.WriteTextFile((folder_ / "link.htm").string());
  EXPECT_TRUE(fs::is_symlink(folder_ / "link.htm"));
  EXPECT_EQ(ReadBytes(target), std::string("\xFF\xFEn\0e\0w\0\r\0\n\0", 12));
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"link.htm", "real.htm"}));
}

TEST_F(TextFileTest, NewFileGetsTheUsualMode) {
  const mode_t mask = ::umask(022);
  TUnicodeStringList list;
  list.WriteTextFile((folder_ / "new.htm").string());
  ::umask(mask);
  EXPECT_EQ(fs::status(folder_ / "new.htm").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::others_read);
  EXPECT_EQ(ReadBytes(folder_ / "new.htm"), "\xFF\xFE");
}

TEST_F(TextFileTest, FifoWithoutWriterDoesNotHang) {
  const fs::path fifo = folder_ / "pipe.txt";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  TUnicodeStringList list;
  list.AppendItem(u"old");
  list.ReadTextFile(fifo.string());
  EXPECT_EQ(list.ItemCount(), 0);
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
