// Internal to the tests: whether they run under wine, where some of what
// they use is missing (a console to send Ctrl+Break through, the host's
// Python) or too slow (making 100,000 files).
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

namespace tallyfold::wine {

// True in a Windows program that wine runs: wine's ntdll exports
// wine_get_version, Windows' does not.
inline bool UnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

}  // namespace tallyfold::wine
