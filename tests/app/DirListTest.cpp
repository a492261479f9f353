// Tests of the directory listing that stands in for the *.txt mask.
#include "platform/DirList.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "platform/Exception.h"

namespace tallyfold {
namespace {

TEST(DirList, TextFileNamesEndInDotTxtInAnyAsciiCase) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"a.txt", true},     {"A.TXT", true},      {"a.TxT", true},  {".txt", true},
      {"..txt", true},     {"a b.txt", true},    {"txt", false},   {"a.txt.bak", false},
      {"a_txt", false},    {"a.tx", false},      {"", false},      {"a.text", false},
      {"a.txt ", false},   {"a.t\xC3\xBFt", false},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(IsTextFileName(name), expected) << name;
}

TEST(DirList, ListsNamesInAscendingByteOrder) {
  testing::TempFolder folder;
  for (const std::string name : {"z.txt", "\xC3\xA9.txt", "A.txt", "a.txt", ".h.txt", "n.md"}) {
    testing::WriteBytes(folder / name, "");
  }
  ASSERT_EQ(testing::MakeFolder((folder / "d.txt").c_str()), 0);
  ASSERT_EQ(symlink("z.txt", (folder / "link.txt").c_str()), 0);
  EXPECT_EQ(ListTextFiles(folder.Path()),
            (std::vector<std::string>{".h.txt", "A.txt", "a.txt", "d.txt", "link.txt", "z.txt",
                                      "\xC3\xA9.txt"}));
}

TEST(DirList, MissingFolderOrAFileHoldsNoEntries) {
  testing::TempFolder folder;
  testing::WriteBytes(folder / "plain.txt", "");
  EXPECT_TRUE(ListTextFiles(folder / "missing").empty());
  EXPECT_TRUE(ListTextFiles(folder / "plain.txt").empty());
  EXPECT_TRUE(ListTextFiles(folder / "missing/deeper").empty());
}

// A tree for the recursive listing, in a fresh folder.
class RecursiveList : public ::testing::Test {
 protected:
  void Folder(const std::string& relative) {
    ASSERT_EQ(testing::MakeFolder((root_ / relative).c_str()), 0) << relative;
  }
  void File(const std::string& relative) { testing::WriteBytes(root_ / relative, ""); }

  testing::TempFolder root_;
};

TEST_F(RecursiveList, SortsTheRelativePathsAsBytesAtAnyDepth) {
  Folder("a");
  Folder("b");
  Folder("b/c");
  Folder("b/c/d");
  Folder("empty");
  for (const std::string name :
       {"a.txt", "a/z.txt", "b/a.txt", "b/c/d/deep.TXT", "b/c/skip.md", "A.txt", "b.txt",
        "Ã©.txt", "a/Ã©.txt", "b/c.txt"}) {
    File(name);
  }
  // "." (2E) sorts before "/" (2F), so a file beside a folder of the same
  // stem comes first, and whole paths are compared, not level by level.
  EXPECT_EQ(ListTextFilesRecursive(root_.Path()),
            (std::vector<std::string>{"A.txt", "a.txt", "a/z.txt", "a/Ã©.txt", "b.txt",
                                      "b/a.txt", "b/c.txt", "b/c/d/deep.TXT",
                                      "Ã©.txt"}));
  // The plain listing still sees the top folder alone.
  EXPECT_EQ(ListTextFiles(root_.Path()),
            (std::vector<std::string>{"A.txt", "a.txt", "b.txt", "Ã©.txt"}));
}

TEST_F(RecursiveList, EntersRealFoldersOnlyAndEndsOnALoopOfLinks) {
  Folder("sub.txt");  // a real folder named like a text file is entered
  File("sub.txt/in.txt");
  Folder("loop");
  File("loop/x.txt");
  // Links back up the tree and to each other: following any would never end.
  ASSERT_EQ(symlink("..", (root_ / "loop/up").c_str()), 0);
  ASSERT_EQ(symlink(root_.Path().c_str(), (root_ / "loop/root.txt").c_str()), 0);
  ASSERT_EQ(symlink("ping", (root_ / "pong").c_str()), 0);
  ASSERT_EQ(symlink("pong", (root_ / "ping").c_str()), 0);
  // A link to a file is listed, as in the plain listing; one that leads
  // nowhere is listed too (opening it fails later, as a vanished file does).
  ASSERT_EQ(symlink("loop/x.txt", (root_ / "link.txt").c_str()), 0);
  ASSERT_EQ(symlink("missing", (root_ / "dangling.txt").c_str()), 0);
  EXPECT_EQ(ListTextFilesRecursive(root_.Path()),
            (std::vector<std::string>{"dangling.txt", "link.txt", "loop/x.txt",
                                      "sub.txt/in.txt"}));
}

TEST_F(RecursiveList, MissingFolderHoldsNothingAndAnUnreadableOneIsAnError) {
  EXPECT_TRUE(ListTextFilesRecursive(root_ / "missing").empty());
  File("plain.txt");
  EXPECT_TRUE(ListTextFilesRecursive(root_ / "plain.txt").empty());
  // Through a link, the top folder itself is listed like any folder.
  Folder("real");
  File("real/r.txt");
  ASSERT_EQ(symlink("real", (root_ / "via").c_str()), 0);
  EXPECT_EQ(ListTextFilesRecursive(root_ / "via"), std::vector<std::string>{"r.txt"});

  if (geteuid() == 0) GTEST_SKIP() << "root reads every folder; the command-line test covers it";
  Folder("real/locked");
  ASSERT_EQ(chmod((root_ / "real/locked").c_str(), 0), 0);
  try {
    ListTextFilesRecursive(root_ / "real");
    ADD_FAILURE() << "an unreadable sub-folder passed for an empty one";
  } catch (const Exception& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot open folder \"" + root_ / "real/locked" + "\". Permission denied");
  }
  chmod((root_ / "real/locked").c_str(), 0700);
}

}  // namespace
}  // namespace tallyfold
