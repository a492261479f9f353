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

#include "platform/Exception.h"

namespace tallyfold {

namespace {

char AsciiLower(char ch) {
  return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

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
    const int error = errno;
    throw Exception("Cannot open folder \"" + folder + "\". " + std::strerror(error));
  }
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) {
        const int error = errno;
        throw Exception("Cannot read folder \"" + folder + "\". " + std::strerror(error));
      }
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
