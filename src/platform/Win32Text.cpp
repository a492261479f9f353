// Text and error conversions shared by the Windows platform sources.
//
// This file's external interface is Win32Text.h; tests/text/FileWin32Test.cpp
// covers it through the file services.
#include "platform/Win32Text.h"

#include <cerrno>

#include "platform/CodePage.h"
#include "platform/File.h"

namespace tallyfold::win32 {

std::wstring Widen(const std::string& text) {
  const std::u16string wide = Utf8Decode(text);
  return std::wstring(wide.begin(), wide.end());
}

std::wstring WidePath(const std::string& path) {
  std::wstring wide = Widen(path);
  for (wchar_t& ch : wide)
    if (ch == L'/') ch = L'\\';
  // Only a full path may take the prefix, which also turns off the
  // system's folding of "." and ".." steps.
  if (wide.size() >= MAX_PATH - 12 && !wide.starts_with(L"\\\\?\\")) {
    if (wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\')
      wide = L"\\\\?\\" + wide;
    else if (wide.starts_with(L"\\\\") && !wide.starts_with(L"\\\\.\\"))
      wide = L"\\\\?\\UNC\\" + wide.substr(2);
  }
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
