// Text and error conversions shared by the Windows platform sources.
//
// This file's external interface is Win32Text.h; tests/text/FileWin32Test.cpp
// covers it through the file services.
#include "platform/Win32Text.h"

#include <cerrno>
#include <string_view>
#include <vector>

#include "platform/CodePage.h"
#include "platform/File.h"

namespace tallyfold::win32 {

std::wstring Widen(const std::string& text) {
  const std::u16string wide = Utf8Decode(text);
  return std::wstring(wide.begin(), wide.end());
}

namespace {

bool IsDriveLetter(wchar_t ch) { return (ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z'); }

// `rest` (steps each after a separator) appended to `root` step by step,
// as the system would fold it without the prefix: empty and "." steps go,
// ".." takes the step before it away (never one of the first `kept`, the
// server and share of a UNC path). A step's own trailing dots and spaces stay:
// keeping them is what the prefix is for.
std::wstring Folded(std::wstring root, std::wstring_view rest, std::size_t kept) {
  std::vector<std::wstring_view> steps;
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = rest.find(L'\\', start);
    if (end == std::wstring_view::npos) end = rest.size();
    const std::wstring_view step = rest.substr(start, end - start);
    if (step == L"..") {
      if (steps.size() > kept) steps.pop_back();
    } else if (!step.empty() && step != L".") {
      steps.push_back(step);
    }
    start = end + 1;
  }
  for (const std::wstring_view step : steps) {
    root += L'\\';
    root += step;
  }
  // A drive's root keeps its separator: "\\?\\C:" alone names no folder.
  if (steps.empty()) root += L'\\';
  return root;
}

}  // namespace

std::wstring WidePath(const std::string& path) {
  std::wstring wide = Widen(path);
  for (wchar_t& ch : wide)
    if (ch == L'/') ch = L'\\';
  // Device paths, and paths that have the prefix already, are the system's
  // as they are.
  if (wide.starts_with(L"\\\\?\\") || wide.starts_with(L"\\\\.\\")) return wide;
  // Every full path takes the prefix, so that the system opens the file the
  // path names and nothing else: without it a name such as CON.txt, NUL.txt
  // or COM1.txt is a device wherever it stands, and a trailing dot or space
  // is dropped from each step ("sub." is "sub"). The prefix also lifts the
  // old MAX_PATH limit, and turns off the system's folding of "." and ".."
  // steps, which is done here instead.
  if (wide.size() >= 3 && IsDriveLetter(wide[0]) && wide[1] == L':' && wide[2] == L'\\')
    return Folded(L"\\\\?\\" + wide.substr(0, 2), std::wstring_view(wide).substr(2), 0);
  if (wide.starts_with(L"\\\\"))
    return Folded(L"\\\\?\\UNC", std::wstring_view(wide).substr(1), 2);
  // A relative path is the system's to resolve, as the caller meant it:
  // "NUL" alone names the null device. The program's own paths are full.
  return wide;
}

std::string Narrow(const std::wstring& text) {
  return Utf8Encode(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

int ErrorValue(DWORD code) {
  switch (code) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE: return kErrorOpenElsewhere;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: return EPIPE;
    default: return kErrorSystemBase + static_cast<int>(code);
  }
}

}  // namespace tallyfold::win32
