// Directory listing over POSIX opendir/readdir.
//
// This file's external interface is DirList.h; tests/app/DirListTest.cpp
// covers it.
#include "platform/DirList.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/File.h"

namespace tallyfold {

namespace {

char AsciiLower(char ch) {
  return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// Messages are UTF-8; the folder's name and the system's text are in the
// locale's character set.
[[noreturn]] void RaiseFolderError(const char* what, const std::string& folder, int error) {
  const TCodePage& page = SystemCodePage();
  throw Exception(std::string(what) + " \"" + Utf8Encode(page.Decode(folder)) + "\". " +
                  Utf8Encode(page.Decode(SystemErrorText(error))));
}

}  // namespace

bool IsTextFileName(const std::string& name) {
  static constexpr char kSuffix[] = ".txt";
  constexpr std::size_t kSuffixLength = sizeof(kSuffix) - 1;
  if (name.size() < kSuffixLength) return false;
  const std::size_t start = name.size() - kSuffixLength;
  for (std::size_t i = 0; i < kSuffixLength; ++i) {
    if (AsciiLower(name[start + i]) != kSuffix[i]) return false;
  }
  return true;
}

std::vector<std::string> ListTextFiles(const std::string& folder) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) {
    // A folder that is not there simply holds no corpus files, as on the
    // desktop where a stale folder choice gives an empty report. A folder
    // that is there but cannot be read must not pass for an empty one.
    if (errno == ENOENT || errno == ENOTDIR) return names;
    RaiseFolderError("Cannot open folder", folder, errno);
  }
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) RaiseFolderError("Cannot read folder", folder, errno);
      break;
    }
    std::string name = entry->d_name;
    if (IsTextFileName(name)) names.push_back(std::move(name));
  }
  // std::string compares as unsigned bytes (char_traits<char>::compare uses
  // memcmp), which is the byte order the reports rely on.
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace tallyfold
