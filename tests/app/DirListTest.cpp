// Tests of the directory listing that stands in for the *.txt mask.
#include "platform/DirList.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AppTestSupport.h"

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
  ASSERT_EQ(mkdir((folder / "d.txt").c_str(), 0700), 0);
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

}  // namespace
}  // namespace tallyfold
