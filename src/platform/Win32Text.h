// Internal to the Windows platform layer: paths and texts between the
// program's UTF-8 and the system's UTF-16, and system error codes turned
// into the layer's error values.
#pragma once

#include <windows.h>

#include <string>

namespace tallyfold::win32 {

// UTF-8 (the program's paths) to the system's UTF-16 and back. WidePath
// gives every full path the \\?\ prefix (its "." and ".." steps folded),
// so that reserved device names and trailing dots and spaces name ordinary
// files and folders, and no length limit applies; a device path (\\.\)
// and a relative one stay as they are.
std::wstring Widen(const std::string& text);
std::wstring WidePath(const std::string& path);
std::string Narrow(const std::wstring& text);

// A system error code (GetLastError) as the error value the platform
// layer's functions return: the errno value that means the same where there
// is one, kErrorOpenElsewhere for sharing and lock violations, otherwise
// kErrorSystemBase + the code.
int ErrorValue(DWORD code);
inline int LastError() { return ErrorValue(::GetLastError()); }

}  // namespace tallyfold::win32
