// The Windows desktop services (Services.h).
#include "win32/Services.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <shellapi.h>

#include "platform/CodePage.h"
#include "platform/Shell.h"
#include "win32/Catalogue.h"

namespace tallyfold::win32ui {
namespace {

// Releases a COM interface when it goes.
template <typename T>
struct ComRef {
  T* p = nullptr;
  ~ComRef() {
    if (p != nullptr) p->Release();
  }
  T** Out() { return &p; }
  T* operator->() const { return p; }
};

int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED && data != 0)
    ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

}  // namespace

const wchar_t* ApplicationTitle() { return L"检索工具"; }

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::u16string Utf16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

std::optional<std::wstring> ShellFolderPicker::ChooseFolder(HWND owner,
                                                            const std::wstring& initial_folder) {
  ComRef<IFileOpenDialog> dialog;
  if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFileOpenDialog, reinterpret_cast<void**>(dialog.Out())))) {
    return BrowseForFolder(owner, initial_folder);
  }
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  // Items without a file-system path may be chosen too; they give an empty
  // path, which the window shows as no folder.
  dialog->SetOptions((options | FOS_PICKFOLDERS | FOS_NOCHANGEDIR) & ~FOS_FORCEFILESYSTEM);
  ComRef<IShellItem> start;
  if (!initial_folder.empty() &&
      SUCCEEDED(::SHCreateItemFromParsingName(initial_folder.c_str(), nullptr, IID_IShellItem,
                                              reinterpret_cast<void**>(start.Out())))) {
    dialog->SetFolder(start.p);
  }
  const HRESULT shown = dialog->Show(owner);
  if (shown == HRESULT_FROM_WIN32(ERROR_CANCELLED)) return std::nullopt;
  if (FAILED(shown)) return BrowseForFolder(owner, initial_folder);
  ComRef<IShellItem> item;
  if (FAILED(dialog->GetResult(item.Out()))) return std::wstring();
  PWSTR path = nullptr;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) || path == nullptr)
    return std::wstring();
  std::wstring chosen(path);
  ::CoTaskMemFree(path);
  return chosen;
}

std::optional<std::wstring> ShellFolderPicker::BrowseForFolder(HWND owner,
                                                               const std::wstring& initial_folder) {
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  info.lpfn = BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(initial_folder.empty() ? nullptr : initial_folder.c_str());
  PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&info);
  if (chosen == nullptr) return std::nullopt;
  // Long paths do not fit SHGetPathFromIDListW's buffer; the Ex form takes
  // the size of the one given.
  std::wstring path(32768, L'\0');
  const bool has_path = ::SHGetPathFromIDListEx(chosen, path.data(),
                                                static_cast<DWORD>(path.size()), GPFIDL_DEFAULT);
  ::CoTaskMemFree(chosen);
  if (!has_path) return std::wstring();
  path.resize(std::wcslen(path.c_str()));
  return path;
}

bool ShellOpener::OpenDocument(HWND, const std::string& path) { return tallyfold::OpenDocument(path); }

bool ShellOpener::OpenAddress(HWND owner, const std::wstring& address) {
  return reinterpret_cast<INT_PTR>(::ShellExecuteW(owner, L"open", address.c_str(), nullptr,
                                                   nullptr, SW_SHOWNORMAL)) > 32;
}

void MessageBoxDisplay::ShowError(HWND owner, const std::wstring& text) {
  ::MessageBoxW(owner, text.c_str(), ApplicationTitle(), MB_OK | MB_ICONERROR);
}

std::string UserDataFolder() {
  PWSTR roaming = nullptr;
  if (FAILED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_CREATE, nullptr, &roaming)))
    return std::string();
  const std::wstring folder = std::wstring(roaming) + L"\\Tallyfold";
  ::CoTaskMemFree(roaming);
  const std::string utf8 = Utf8Encode(Utf16(folder));
  MakeFolder(utf8);
  return utf8;
}

bool MakeFolder(const std::string& folder) {
  std::wstring wide = Wide(Utf8Decode(folder));
  for (wchar_t& ch : wide)
    if (ch == L'/') ch = L'\\';
  const int made = ::SHCreateDirectoryExW(nullptr, wide.c_str(), nullptr);
  return made == ERROR_SUCCESS || made == ERROR_ALREADY_EXISTS || made == ERROR_FILE_EXISTS;
}

std::wstring ProgramFolder() {
  std::wstring path(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

bool UserLanguageIsChinese() {
  return LanguageForLangId(::GetUserDefaultUILanguage()) == Language::kChinese;
}

}  // namespace tallyfold::win32ui
