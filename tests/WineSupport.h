// Internal to the tests: whether they run under wine, and whether what they
// need of it is there. Wine lacks some code pages (54936, GB18030; 51949,
// EUC-KR) that Windows has; the program brings its own GB18030 codec when
// its sources are built in (TALLYFOLD_GB18030_CODEC, set by
// tests/CMakeLists.txt as by src/platform).
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

// True where GB18030 would come from the system and the system (wine) has
// none: tests that need all of GB18030 skip themselves there.
inline bool Gb18030Missing() {
#if defined(_WIN32) && !defined(TALLYFOLD_GB18030_CODEC)
  return UnderWine() && ::IsValidCodePage(54936) == 0;
#else
  return false;
#endif
}

}  // namespace tallyfold::wine
