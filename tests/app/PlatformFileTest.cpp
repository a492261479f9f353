// The platform layer's file and path services as both systems must give
// them: replacement that leaves nothing behind, nameless files, file
// identity, sharing, and each system's own path rules (POSIX: "/" only;
// Windows: drive letters, UNC and device paths, '\', case-blind names).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/CorpusScan.h"
#include "platform/DirList.h"
#include "platform/File.h"

namespace tallyfold::testing {
namespace {

// The names in `folder`, hidden ones included.
std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct PathCase {
  std::string path;
  bool absolute;
  std::string link;  // PathForLink, for an absolute path
};

TEST(PlatformPaths, AbsolutenessAndLinksFollowTheSystemsRules) {
  const std::vector<PathCase> cases = {
#ifdef _WIN32
      {"C:\\corpus\\a.txt", true, "file:///C:/corpus/a.txt"},
      {"c:/corpus/a b.txt", true, "file:///c:/corpus/a b.txt"},
      {"\\\\server\\share\\a.txt", true, "file://server/share/a.txt"},
      {"\\\\?\\C:\\long\\a.txt", true, "file:///C:/long/a.txt"},
      {"\\\\?\\UNC\\server\\share\\a.txt", true, "file://server/share/a.txt"},
      {"C:relative.txt", false, ""},
      {"\\rooted\\on\\the\\current\\drive", false, ""},
      {"corpus\\a.txt", false, ""},
#else
      {"/home/me/a.txt", true, "/home/me/a.txt"},
      {"//twice/a.txt", true, "//twice/a.txt"},
      {"C:\\corpus\\a.txt", false, ""},
      {"corpus/a.txt", false, ""},
#endif
      {"", false, ""},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(IsAbsolutePath(c.path), c.absolute) << c.path;
    if (c.absolute) {
      EXPECT_EQ(PathForLink(c.path), c.link) << c.path;
    }
  }
}

TEST(PlatformPaths, JoinAndSplitAgree) {
  for (const std::string folder : {"corpus", "corpus/sub", "x"}) {
    const std::string joined = JoinPath(folder, "a.txt");
    const std::size_t at = LastPathSeparator(joined);
    ASSERT_NE(at, std::string::npos) << joined;
    EXPECT_EQ(joined.substr(at + 1), "a.txt");
    EXPECT_EQ(joined.substr(0, at), folder);
    EXPECT_EQ(joined[at], kPathSeparator);
  }
#ifdef _WIN32
  EXPECT_EQ(JoinPath("C:\\", "a.txt"), "C:\\a.txt");
  EXPECT_EQ(LastPathSeparator("C:\\a/b\\c"), 6U);
#else
  // The reports have always shown what was typed: a trailing '/' is kept.
  EXPECT_EQ(JoinPath("corpus/", "a.txt"), "corpus//a.txt");
  EXPECT_EQ(LastPathSeparator("a\\b"), std::string::npos);
#endif
}

TEST(PlatformPaths, AbsolutePathIsAFixedPointAndNamesTheSameFile) {
  TempFolder root;
  WriteBytes(root / "a.txt", "x");
  const std::string absolute = AbsolutePath(root / "a.txt");
  EXPECT_TRUE(IsAbsolutePath(absolute)) << absolute;
  EXPECT_EQ(AbsolutePath(absolute), absolute);
  FileIdentity direct, through_dots;
  ASSERT_TRUE(IdentifyFile(root / "a.txt", direct));
  const std::string dotted = JoinPath(JoinPath(JoinPath(root.Path(), "."), "sub"), "..");
  ASSERT_EQ(MakeFolder((root / "sub").c_str()), 0);
  ASSERT_TRUE(IdentifyFile(AbsolutePath(JoinPath(dotted, "a.txt")), through_dots));
  EXPECT_EQ(direct, through_dots);
}

TEST(PlatformFiles, IdentityTellsFilesApartAndSurvivesRewriting) {
  TempFolder root;
  WriteBytes(root / "a.txt", "a");
  WriteBytes(root / "b.txt", "b");
  FileIdentity a, b, a_again;
  ASSERT_TRUE(IdentifyFile(root / "a.txt", a));
  ASSERT_TRUE(IdentifyFile(root / "b.txt", b));
  EXPECT_NE(a, b);
  WriteBytes(root / "a.txt", "rewritten in place");
  ASSERT_TRUE(IdentifyFile(root / "a.txt", a_again));
  EXPECT_EQ(a, a_again);
  FileIdentity none;
  EXPECT_FALSE(IdentifyFile(root / "missing.txt", none));
#ifdef _WIN32
  // One file whatever the case of its name.
  FileIdentity upper;
  ASSERT_TRUE(IdentifyFile(root / "A.TXT", upper));
  EXPECT_EQ(upper, a);
#endif
}

// A replacement takes the target's place whole or not at all, and leaves no
// other file in the folder either way.
TEST(PlatformFiles, ReplacementLeavesNothingBehind) {
  TempFolder root;
  const std::string target = root / "report.htm";
  WriteBytes(target, "old");
  for (const bool finish : {false, true}) {
    {
      ReplacementFile replacement;
      ASSERT_EQ(replacement.Create(target), 0);
      PosixFile writer;
      ASSERT_EQ(replacement.OpenWriter(writer), 0);
      std::size_t written = 0;
      ASSERT_EQ(writer.Write("new", 3, written), 0);
      ASSERT_EQ(writer.Close(), 0);
      if (finish) {
        ASSERT_EQ(replacement.Replace(), 0);
      }
    }
    EXPECT_EQ(ReadBytes(target), finish ? "new" : "old");
    EXPECT_EQ(Entries(root.Path()), std::vector<std::string>{"report.htm"}) << finish;
  }
  // PlaceNew never replaces what is there.
  ReplacementFile again;
  ASSERT_EQ(again.Create(target), 0);
  EXPECT_EQ(again.PlaceNew(), EEXIST);
  EXPECT_EQ(ReadBytes(target), "new");
  EXPECT_EQ(Entries(root.Path()), std::vector<std::string>{"report.htm"});
}

TEST(PlatformFiles, NamelessFileReadsBackAndGoesWhenClosed) {
  TempFolder root;
  {
    PosixFile file;
    ASSERT_EQ(PosixFile::CreateNameless(root.Path(), file), 0);
    const std::string bytes(100000, 'q');
    ASSERT_EQ(file.WriteAt(bytes.data(), bytes.size(), 5), 0);
    ASSERT_EQ(file.WriteAt("head", 4, 0), 0);
    std::int64_t size = 0;
    ASSERT_EQ(file.Size(size), 0);
    EXPECT_EQ(size, 100005);
    std::string back(6, '\0');
    ASSERT_EQ(file.ReadAt(back.data(), 6, 3), 0);
    EXPECT_EQ(back, std::string("d") + '\0' + "qqqq");
    EXPECT_NE(file.ReadAt(back.data(), 6, 100002), 0);  // past the end
  }
  EXPECT_TRUE(Entries(root.Path()).empty());
}

// A file being read cannot be written or replaced meanwhile, and the error
// says why.
TEST(PlatformFiles, AReaderKeepsWritersOut) {
  TempFolder root;
  const std::string path = root / "a.txt";
  WriteBytes(path, "text");
  PosixFile reader;
  ASSERT_EQ(PosixFile::OpenForReading(path, reader), 0);
  PosixFile writer, lock;
#ifdef _WIN32
  const int expected = kErrorOpenElsewhere;
#else
  const int expected = kErrorBeingRead;
#endif
  EXPECT_EQ(PosixFile::Create(path, writer), expected);
  EXPECT_EQ(PosixFile::LockForReplacement(path, lock), expected);
  EXPECT_FALSE(SystemErrorText(expected).empty());
  reader.Close();
  EXPECT_EQ(PosixFile::Create(path, writer), 0);
}

TEST(PlatformFiles, FoldersAndMissingFilesAreToldApart) {
  TempFolder root;
  WriteBytes(root / "a.txt", "x");
  EXPECT_EQ(CheckIsFolder(root.Path()), 0);
  EXPECT_EQ(CheckIsFolder(root / "a.txt"), ENOTDIR);
  EXPECT_EQ(CheckIsFolder(root / "none"), ENOENT);
  PosixFile file;
  EXPECT_EQ(PosixFile::OpenForReading(root.Path(), file), EISDIR);
  EXPECT_EQ(PosixFile::OpenForReading(root / "none", file), ENOENT);
  std::uint64_t size = 0;
  EXPECT_TRUE(RegularFileSize(root / "a.txt", size));
  EXPECT_EQ(size, 1U);
  EXPECT_FALSE(RegularFileSize(root.Path(), size));
}

#ifdef _WIN32
// Names that differ only in case are one file; a name with a character
// Windows forbids fails with the system's own text.
TEST(PlatformFilesWindows, CaseBlindNamesAndForbiddenCharacters) {
  TempFolder root;
  WriteBytes(root / "Notes.TXT", "one");
  WriteBytes(root / "notes.txt", "two");
  EXPECT_EQ(ListTextFiles(root.Path()), std::vector<std::string>{"Notes.TXT"});
  EXPECT_EQ(ReadBytes(root / "NOTES.txt"), "two");
  for (const char* name : {"a<b.txt", "a?.txt", "a|b.txt", "a\"b.txt"}) {
    PosixFile file;
    const int error = PosixFile::CreateNew(root / name, file);
    EXPECT_NE(error, 0) << name;
    EXPECT_EQ(SystemErrorText(error).find("Unspecified"), std::string::npos)
        << name << ": " << SystemErrorText(error);
  }
}

// Another program that holds a file open for writing (an editor, a viewer
// that locks what it shows) does not keep a search from reading it, but a
// report in its place cannot be replaced, and the message says why.
TEST(PlatformFilesWindows, AFileOpenInAnotherProgram) {
  TempFolder root;
  const std::string path = root / "held.txt";
  WriteBytes(path, "text");
  const std::u16string wide = Utf8Decode(path);
  HANDLE other = ::CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  PosixFile reader, lock, writer;
  EXPECT_EQ(PosixFile::OpenForReading(path, reader), 0);
  reader.Close();
  EXPECT_EQ(PosixFile::LockForReplacement(path, lock), kErrorOpenElsewhere);
  EXPECT_EQ(PosixFile::Create(path, writer), kErrorOpenElsewhere);
  EXPECT_NE(SystemErrorText(kErrorOpenElsewhere).find("another program"), std::string::npos);
  ::CloseHandle(other);
  EXPECT_EQ(PosixFile::LockForReplacement(path, lock), 0);
}

// The names Windows keeps for its devices (CON, NUL, AUX, COM1, LPT1, PRN,
// in either case, with an extension) and steps that end in a dot or a
// space are ordinary files and folders here, as on any other system: each
// is made, listed, found in the sub-folders and read back, also through
// "." and ".." steps, and the corpus scan reads every one of them.
TEST(PlatformFilesWindows, DeviceNamesAndTrailingDotsAreOrdinaryNames) {
  TempFolder root;
  const std::string folders[] = {"", "sub.", "sub ", "aux", "nul.d.."};
  const std::string names[] = {"CON.txt", "NUL.txt", "aux.txt", "com1.txt", "LPT1.txt",
                               "prn.TXT", "end..txt", "conin$.txt"};
  std::vector<std::string> expected;
  for (const std::string& folder : folders) {
    const std::string place = folder.empty() ? root.Path() : root / folder;
    if (!folder.empty()) {
      const std::u16string wide = u"\\\\?\\" + Utf8Decode(place);
      ASSERT_TRUE(::CreateDirectoryW(reinterpret_cast<const wchar_t*>(wide.c_str()), nullptr))
          << folder;
    }
    for (const std::string& name : names) {
      const std::string relative = folder.empty() ? name : JoinPath(folder, name);
      PosixFile file;
      ASSERT_EQ(PosixFile::CreateNew(JoinPath(place, name), file), 0) << relative;
      std::size_t written = 0;
      const std::string text = "the " + relative + "\n";
      ASSERT_EQ(file.Write(text.data(), text.size(), written), 0) << relative;
      ASSERT_EQ(file.Close(), 0);
      expected.push_back(relative);
    }
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ListTextFilesRecursive(root.Path()), expected);
  std::vector<std::string> top(std::begin(names), std::end(names));
  std::sort(top.begin(), top.end());
  EXPECT_EQ(ListTextFiles(root.Path()), top);
  for (const std::string& relative : expected) {
    const std::string via_steps = root / ("sub.\\..\\.\\" + relative);
    for (const std::string& path : {root / relative, via_steps}) {
      PosixFile reader;
      ASSERT_EQ(PosixFile::OpenForReading(path, reader), 0) << path;
      std::string bytes(256, '\0');
      std::size_t got = 0;
      ASSERT_EQ(reader.Read(bytes.data(), bytes.size(), got), 0);
      EXPECT_EQ(bytes.substr(0, got), "the " + relative + "\n") << path;
    }
  }
  TUnicodeStringList rows;
  ScanControl control;
  control.recursive = true;
  EXPECT_EQ(ScanFolder(u"the", root.Path(), false, rows, control),
            static_cast<int>(expected.size()));
  EXPECT_EQ(rows.ItemCount(), static_cast<int>(expected.size()));
  // The temporary folder's own removal knows nothing of such names.
  for (const std::string& relative : expected) RemoveFileQuietly(root / relative);
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    const std::u16string wide = u"\\\\?\\" + Utf8Decode(root / folder);
    ::RemoveDirectoryW(reinterpret_cast<const wchar_t*>(wide.c_str()));
  }
}

// A report marked read-only is refused before the search, with a message
// that says so rather than the system's "access denied"; once the mark is
// cleared it is replaced.
TEST(PlatformFilesWindows, AReadOnlyReportIsRefusedAsReadOnly) {
  TempFolder root;
  const std::string path = root / "result.htm";
  WriteBytes(path, "previous");
  const std::u16string wide = Utf8Decode(path);
  const auto* name = reinterpret_cast<const wchar_t*>(wide.c_str());
  ASSERT_TRUE(::SetFileAttributesW(name, FILE_ATTRIBUTE_READONLY));
  PosixFile lock;
  EXPECT_EQ(PosixFile::LockForReplacement(path, lock), kErrorReadOnly);
  EXPECT_NE(SystemErrorText(kErrorReadOnly).find("read-only"), std::string::npos);
  EXPECT_EQ(ReadBytes(path), "previous");
  ASSERT_TRUE(::SetFileAttributesW(name, FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(PosixFile::LockForReplacement(path, lock), 0);
}

TEST(PlatformFilesWindows, NonAsciiNamesRoundTrip) {
  TempFolder root;
  const std::string name = "\xE4\xB8\xAD\xE6\x96\x87-\xC3\xA9.txt";  // 中文-é.txt
  WriteBytes(root / "plain.txt", "");
  PosixFile file;
  ASSERT_EQ(PosixFile::CreateNew(root / name, file), 0);
  std::size_t written = 0;
  ASSERT_EQ(file.Write("abc", 3, written), 0);
  ASSERT_EQ(file.Close(), 0);
  EXPECT_EQ(ListTextFiles(root.Path()), (std::vector<std::string>{"plain.txt", name}));
  PosixFile reader;
  ASSERT_EQ(PosixFile::OpenForReading(root / name, reader), 0);
  std::int64_t size = 0;
  ASSERT_EQ(reader.Size(size), 0);
  EXPECT_EQ(size, 3);
}
#endif

}  // namespace
}  // namespace tallyfold::testing
