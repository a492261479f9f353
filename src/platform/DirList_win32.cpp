// Directory listing over FindFirstFileExW and FindNextFileW.
//
// Names come back in UTF-8. A reparse point to a folder (a symbolic link or
// a junction) is the POSIX layer's link to a folder: never entered. The
// recursive listing sorts its paths with '/' between the steps, as the
// POSIX one does, so both give one folder's files in the same order, and
// shows them with '\'.
//
// This file's external interface is DirList.h; tests/app/DirListTest.cpp
// covers it.
#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "platform/CodePage.h"
#include "platform/DirList.h"
#include "platform/Exception.h"
#include "platform/File.h"
#include "platform/Win32Text.h"

namespace tallyfold {

namespace {

[[noreturn]] void RaiseFolderError(const char* what, const std::string& folder, int error) {
  throw Exception(std::string(what) + " \"" + folder + "\". " + SystemErrorText(error));
}

enum class EntryKind { kOther, kFolder, kLinkToFolder };

// Calls visit(name, kind) for every entry of `folder` but "." and "..".
// Returns false when the folder is not there (or is no folder); raises the
// folder error when it is there but cannot be read.
template <typename Visit>
bool ForEachEntry(const std::string& folder, Visit visit) {
  WIN32_FIND_DATAW found;
  HANDLE find = ::FindFirstFileExW(win32::WidePath(JoinPath(folder, "*")).c_str(),
                                   FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    // A folder without "." and ".." (a drive's root) that is empty.
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES) return true;
    if (code == ERROR_PATH_NOT_FOUND || code == ERROR_DIRECTORY || code == ERROR_INVALID_NAME)
      return false;
    RaiseFolderError("Cannot open folder", folder, win32::ErrorValue(code));
  }
  bool more = true;
  while (more) {
    const std::wstring wide = found.cFileName;
    if (wide != L"." && wide != L"..") {
      EntryKind kind = EntryKind::kOther;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        kind = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryKind::kLinkToFolder
                                                                      : EntryKind::kFolder;
      visit(win32::Narrow(wide), kind);
    }
    if (!::FindNextFileW(find, &found)) {
      const DWORD code = ::GetLastError();
      more = false;
      if (code != ERROR_NO_MORE_FILES) {
        ::FindClose(find);
        RaiseFolderError("Cannot read folder", folder, win32::ErrorValue(code));
      }
    }
  }
  ::FindClose(find);
  return true;
}

char AsciiLower(char ch) {
  return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
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
  ForEachEntry(folder, [&](const std::string& name, EntryKind) {
    if (IsTextFileName(name)) names.push_back(name);
  });
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> ListTextFilesRecursive(const std::string& folder) {
  std::vector<std::string> paths;
  std::vector<std::string> pending{std::string()};
  while (!pending.empty()) {
    const std::string relative = std::move(pending.back());
    pending.pop_back();
    const std::string prefix = relative.empty() ? std::string() : relative + "/";
    std::string native = relative;
    std::replace(native.begin(), native.end(), '/', kPathSeparator);
    ForEachEntry(relative.empty() ? folder : JoinPath(folder, native),
                 [&](const std::string& name, EntryKind kind) {
                   if (kind == EntryKind::kLinkToFolder) return;
                   if (kind == EntryKind::kFolder) {
                     pending.push_back(prefix + name);
                   } else if (IsTextFileName(name)) {
                     paths.push_back(prefix + name);
                   }
                 });
  }
  std::sort(paths.begin(), paths.end());
  for (std::string& path : paths) std::replace(path.begin(), path.end(), '/', kPathSeparator);
  return paths;
}

}  // namespace tallyfold
