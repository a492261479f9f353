// Opening a document through ShellExecuteW.
//
// ShellExecuteW hands the document to its registered handler and returns
// at once, so `patience` has nothing to wait for: the answer is whether a
// handler took it (a value above 32).
//
// This file's external interface is Shell.h.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>

#include "platform/Shell.h"
#include "platform/Win32Text.h"

namespace tallyfold {

bool OpenDocument(const std::string& path, std::chrono::milliseconds patience) {
  (void)patience;
  // The shell may use COM for some handlers; a thread without it gets it
  // for the call.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  // The handler gets the path as the user knows it: not every program
  // takes one with the \\?\ prefix.
  std::wstring document = win32::Widen(path);
  for (wchar_t& ch : document)
    if (ch == L'/') ch = L'\\';
  const auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(
      nullptr, L"open", document.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (SUCCEEDED(com)) ::CoUninitialize();
  return result > 32;
}

bool DesktopAvailable() { return true; }

}  // namespace tallyfold
