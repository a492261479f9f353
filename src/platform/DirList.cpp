// Directory listing over POSIX opendir/readdir.
//
// This file's external interface is DirList.h; tests/app/DirListTest.cpp
// covers it.
#include "platform/DirList.h"

#include <dirent.h>
#include <sys/stat.h>

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

namespace {

// What a listing does with one entry of a folder.
enum class EntryKind { kOther, kFolder, kLinkToFolder };

// Calls visit(name, kind) for every entry of `folder` but "." and "..".
// The kind is only worked out when `want_kind` is set: it may cost a stat.
// Returns false when the folder is not there (or is no folder); raises the
// folder error when it is there but cannot be read.
template <typename Visit>
bool ForEachEntry(const std::string& folder, bool want_kind, Visit visit) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) {
    if (errno == ENOENT || errno == ENOTDIR) return false;
    RaiseFolderError("Cannot open folder", folder, errno);
  }
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) RaiseFolderError("Cannot read folder", folder, errno);
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    EntryKind kind = EntryKind::kOther;
    if (want_kind) {
      unsigned char type = entry->d_type;
      const std::string path = folder + "/" + name;
      struct stat info {};
      if (type == DT_UNKNOWN && lstat(path.c_str(), &info) == 0) {
        type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISLNK(info.st_mode) ? DT_LNK : DT_REG;
      }
      if (type == DT_DIR) {
        kind = EntryKind::kFolder;
      } else if (type == DT_LNK && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        kind = EntryKind::kLinkToFolder;
      }
    }
    visit(name, kind);
  }
  return true;
}

}  // namespace

std::vector<std::string> ListTextFiles(const std::string& folder) {
  std::vector<std::string> names;
  // A folder that is not there simply holds no corpus files, as on the
  // desktop where a stale folder choice gives an empty report. A folder
  // that is there but cannot be read must not pass for an empty one.
  ForEachEntry(folder, false, [&](const std::string& name, EntryKind) {
    if (IsTextFileName(name)) names.push_back(name);
  });
  // std::string compares as unsigned bytes (char_traits<char>::compare uses
  // memcmp), which is the byte order the reports rely on.
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> ListTextFilesRecursive(const std::string& folder) {
  std::vector<std::string> paths;
  // Folders still to list, relative to `folder` ("" for itself). A stack,
  // not recursion: the depth of a tree is not bounded by the call stack.
  std::vector<std::string> pending{std::string()};
  while (!pending.empty()) {
    const std::string relative = std::move(pending.back());
    pending.pop_back();
    const std::string prefix = relative.empty() ? std::string() : relative + "/";
    // A sub-folder that went away since its parent was read holds nothing,
    // like a missing top folder.
    ForEachEntry(relative.empty() ? folder : folder + "/" + relative, true,
                 [&](const std::string& name, EntryKind kind) {
                   // Links to folders are never entered: a loop of them
                   // would never end, and one pointing elsewhere would
                   // scan files outside the folder.
                   if (kind == EntryKind::kLinkToFolder) return;
                   if (kind == EntryKind::kFolder) {
                     pending.push_back(prefix + name);
                   } else if (IsTextFileName(name)) {
                     paths.push_back(prefix + name);
                   }
                 });
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

}  // namespace tallyfold
