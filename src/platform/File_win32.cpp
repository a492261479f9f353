// Windows files for the text layer: the services of File.h over the wide
// (...W) file APIs, with paths in UTF-8 inside the program.
//
// Sharing: where the POSIX layer takes advisory locks, a Windows file is
// opened with share modes that keep the same others out. A writer shares
// nothing, so it cannot open a file while anyone reads it, and nobody can
// open it while it is written; a reader lets others read and write (an
// editor that holds a corpus file open for writing does not stop a search,
// as on POSIX systems). A file about to be replaced must be open nowhere,
// since Windows renames nothing over an open file. What another program
// holds open against the mode asked for fails with kErrorOpenElsewhere:
// Windows does not say who holds it.
//
// Positioned reads and writes (ReadAt, WriteAt) go through an OVERLAPPED
// offset, which on a handle opened for synchronous use also moves the file
// position; the callers that use them never rely on the position.
//
// This file's external interface is File.h; tests/text/TextFileTest.cpp and
// tests/text/FileWin32Test.cpp cover it.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string_view>
#include <vector>

#include "platform/File.h"
#include "platform/FileInternal.h"
#include "platform/Win32Text.h"

namespace tallyfold {

using win32::LastError;
using win32::WidePath;

namespace {

HANDLE AsHandle(void* handle) { return static_cast<HANDLE>(handle); }

// The handle CreateFileW gives, null for INVALID_HANDLE_VALUE, so that an
// unopened file is null whatever made it.
void* Opened(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? nullptr : handle; }

DWORD Attributes(const std::string& path) { return ::GetFileAttributesW(WidePath(path).c_str()); }

bool IsFolderAttribute(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = LastPathSeparator(path);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = LastPathSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ".NAME.PID.N.XXXXXXXX.tmp" beside `target`, as the POSIX layer names its
// temporary files.
std::string TemporaryName(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  static const unsigned seed = std::random_device{}();
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".%lu.%u.%08x.tmp",
                static_cast<unsigned long>(::GetCurrentProcessId()), counter.fetch_add(1),
                seed * 2654435761U + counter.load());
  return FolderOf(target) + "." + NameOf(target) + suffix;
}

// The process id in `name` when it is a name TemporaryName gives for a
// file named `base`, else 0.
unsigned long TemporaryNameProcess(std::string_view name, const std::string& base) {
  const std::string head = "." + base + ".";
  if (name.size() < head.size() + 4 || !name.starts_with(head) || !name.ends_with(".tmp"))
    return 0;
  name = name.substr(head.size(), name.size() - head.size() - 4);
  const std::size_t first = name.find('.');
  if (first == 0 || first == std::string_view::npos || first > 10) return 0;
  const std::string_view pid = name.substr(0, first);
  if (pid.find_first_not_of("0123456789") != std::string_view::npos) return 0;
  return std::strtoul(std::string(pid).c_str(), nullptr, 10);
}

bool ProcessIsGone(unsigned long pid) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return ::GetLastError() == ERROR_INVALID_PARAMETER;
  const bool gone = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  ::CloseHandle(process);
  return gone;
}

// Removes the temporary files of `target` that a replacement left when its
// process was ended between giving up the file's delete-on-close and
// renaming it; a file that is still open somewhere cannot be deleted and
// stays.
void RemoveStaleTemporaries(const std::string& target) {
  const std::string folder = FolderOf(target);
  const std::string base = NameOf(target);
  WIN32_FIND_DATAW found;
  HANDLE find = ::FindFirstFileExW(WidePath(folder + ".*.tmp").c_str(), FindExInfoBasic, &found,
                                   FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<std::string> stale;
  do {
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    const std::string name = win32::Narrow(found.cFileName);
    const unsigned long pid = TemporaryNameProcess(name, base);
    if (pid != 0 && pid != ::GetCurrentProcessId() && ProcessIsGone(pid)) stale.push_back(name);
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
  for (const std::string& name : stale) ::DeleteFileW(WidePath(folder + name).c_str());
}

// Sets or clears the delete-on-close of an open file.
bool SetDeleteOnClose(HANDLE handle, bool remove) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = remove ? TRUE : FALSE;
  return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

bool IsDiskFile(HANDLE handle) { return ::GetFileType(handle) == FILE_TYPE_DISK; }

// Whether a file is a folder, by its handle.
bool HandleIsFolder(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return ::GetFileInformationByHandle(handle, &info) != 0 &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The path of an open file as the system resolves it (links followed),
// without the \\?\ prefix where the path is whole without it.
bool FinalPath(HANDLE handle, std::string& path) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(handle, buffer.data(),
                                                     static_cast<DWORD>(buffer.size()), 0);
    if (length == 0) return false;
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    buffer.resize(length + 1);
  }
  if (buffer.starts_with(L"\\\\?\\UNC\\"))
    buffer = L"\\\\" + buffer.substr(8);
  else if (buffer.starts_with(L"\\\\?\\") && buffer.size() < MAX_PATH)
    buffer = buffer.substr(4);
  path = win32::Narrow(buffer);
  return true;
}

}  // namespace

PosixFile::~PosixFile() {
  if (handle_ != nullptr) ::CloseHandle(AsHandle(handle_));
}

PosixFile::PosixFile(PosixFile&& other) noexcept : handle_(other.handle_) {
  other.handle_ = nullptr;
}

PosixFile& PosixFile::operator=(PosixFile&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) ::CloseHandle(AsHandle(handle_));
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

int PosixFile::OpenForReading(const std::string& path, PosixFile& file) {
  if (IsFolderAttribute(Attributes(path))) return EISDIR;
  PosixFile opened(Opened(::CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!opened.IsOpen()) return LastError();
  if (!IsDiskFile(AsHandle(opened.handle_))) return kErrorNotRegularFile;
  file = std::move(opened);
  return 0;
}

int PosixFile::Create(const std::string& path, PosixFile& file) {
  if (IsFolderAttribute(Attributes(path))) return EISDIR;
  PosixFile opened(Opened(::CreateFileW(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!opened.IsOpen()) return LastError();
  // Truncated only now that nobody else has it open.
  if (IsDiskFile(AsHandle(opened.handle_)) && !::SetEndOfFile(AsHandle(opened.handle_)))
    return LastError();
  file = std::move(opened);
  return 0;
}

int PosixFile::CreateNew(const std::string& path, PosixFile& file) {
  PosixFile created(Opened(::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!created.IsOpen()) {
    // A folder of that name is something at `path` as well.
    const int error = LastError();
    return error == EACCES && Attributes(path) != INVALID_FILE_ATTRIBUTES ? EEXIST : error;
  }
  file = std::move(created);
  return 0;
}

int PosixFile::CreateNameless(const std::string& folder, PosixFile& file) {
  const std::string dir = folder.empty() ? std::string(".") : folder;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = TemporaryName(JoinPath(dir, "tallyfold-rows"));
    // The system deletes the file when its last handle closes, however the
    // process ends; no other open is allowed meanwhile.
    PosixFile created(Opened(::CreateFileW(
        WidePath(name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr)));
    if (!created.IsOpen()) {
      const int error = LastError();
      if (error == EEXIST) continue;
      return error;
    }
    file = std::move(created);
    return 0;
  }
  return EEXIST;
}

int PosixFile::LockForReplacement(const std::string& target, PosixFile& lock) {
  (void)lock;
  const DWORD attributes = Attributes(target);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
  if (attributes & FILE_ATTRIBUTE_READONLY) return kErrorReadOnly;
  // Opening it for writing without sharing fails while anyone holds it, a
  // reader or another program, which would make the rename fail at the end
  // of the search. The handle is not kept: Windows will not rename over a
  // file while any handle to it is open, the own included, so the probe is
  // all the lock there is.
  HANDLE probe = ::CreateFileW(WidePath(target).c_str(), GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    const int error = LastError();
    return error == ENOENT ? 0 : error;
  }
  ::CloseHandle(probe);
  return 0;
}

int PosixFile::OpenStream(const std::string& path, PosixFile& file) {
  PosixFile opened(Opened(::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!opened.IsOpen()) return LastError();
  file = std::move(opened);
  return 0;
}

int PosixFile::Duplicate(int fd, PosixFile& file) {
  const DWORD which = fd == 0 ? STD_INPUT_HANDLE : fd == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
  if (fd < 0 || fd > 2) return EBADF;
  HANDLE own = ::GetStdHandle(which);
  if (own == nullptr || own == INVALID_HANDLE_VALUE) return EBADF;
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), own, ::GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
    return LastError();
  file = PosixFile(copy);
  return 0;
}

bool PosixFile::IsRegular() const {
  return IsDiskFile(AsHandle(handle_)) && !HandleIsFolder(AsHandle(handle_));
}

int PosixFile::Read(void* buffer, std::size_t count, std::size_t& got) {
  got = 0;
  auto* out = static_cast<char*>(buffer);
  while (got < count) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - got, 1U << 30));
    DWORD n = 0;
    if (!::ReadFile(AsHandle(handle_), out + got, chunk, &n, nullptr)) {
      // The writer of a pipe has closed it: the end of the input.
      if (::GetLastError() == ERROR_BROKEN_PIPE) break;
      return LastError();
    }
    if (n == 0) break;
    got += n;
  }
  return 0;
}

int PosixFile::Write(const void* buffer, std::size_t count, std::size_t& written) {
  written = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (written < count) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - written, 1U << 30));
    DWORD n = 0;
    if (!::WriteFile(AsHandle(handle_), in + written, chunk, &n, nullptr)) return LastError();
    if (n == 0) return EIO;
    written += n;
  }
  return 0;
}

int PosixFile::WriteAt(const void* buffer, std::size_t count, std::int64_t offset) {
  const auto* in = static_cast<const char*>(buffer);
  while (count > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1U << 30));
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD n = 0;
    if (!::WriteFile(AsHandle(handle_), in, chunk, &n, &at)) return LastError();
    if (n == 0) return ENOSPC;
    in += n;
    count -= n;
    offset += n;
  }
  return 0;
}

int PosixFile::ReadAt(void* buffer, std::size_t count, std::int64_t offset) const {
  auto* out = static_cast<char*>(buffer);
  while (count > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1U << 30));
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD n = 0;
    if (!::ReadFile(AsHandle(handle_), out, chunk, &n, &at)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) return EIO;
      return LastError();
    }
    if (n == 0) return EIO;
    out += n;
    count -= n;
    offset += n;
  }
  return 0;
}

int PosixFile::Size(std::int64_t& size) const {
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(AsHandle(handle_), &value)) return LastError();
  size = value.QuadPart;
  return 0;
}

int PosixFile::Stamp(FileStamp& stamp) const {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(AsHandle(handle_), &info)) return LastError();
  stamp.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                         info.nFileSizeLow);
  stamp.modified =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime)
                                 << 32) |
                                info.ftLastWriteTime.dwLowDateTime);
  return 0;
}

int PosixFile::Seek(std::int64_t position) {
  LARGE_INTEGER to;
  to.QuadPart = position;
  return ::SetFilePointerEx(AsHandle(handle_), to, nullptr, FILE_BEGIN) ? 0 : LastError();
}

int PosixFile::Sync() { return ::FlushFileBuffers(AsHandle(handle_)) ? 0 : LastError(); }

void PosixFile::StartWriteback(std::int64_t offset, std::int64_t length) {
  // Windows has no hint of the kind; Sync does all the work.
  (void)offset;
  (void)length;
}

int PosixFile::Close() {
  if (handle_ == nullptr) return 0;
  const BOOL closed = ::CloseHandle(AsHandle(handle_));
  handle_ = nullptr;
  return closed ? 0 : LastError();
}

void RemoveFileQuietly(const std::string& path) { ::DeleteFileW(WidePath(path).c_str()); }

void file_internal::AllowNamelessReplacement(bool) {
  // Every replacement is named on Windows; its name goes with its handle
  // (delete-on-close) until it takes the target's place.
}

ReplacementFile::~ReplacementFile() {
  // Still open with delete-on-close set: closing it removes it.
  if (Named() && !file_.IsOpen()) ::DeleteFileW(WidePath(temp_path_).c_str());
}

int ReplacementFile::Create(const std::string& target) {
  RemoveStaleTemporaries(target);
  for (int attempt = 0; !file_.IsOpen(); ++attempt) {
    if (attempt == 100) return EEXIST;
    std::string name = TemporaryName(target);
    PosixFile created(Opened(::CreateFileW(WidePath(name).c_str(),
                                           GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
    if (!created.IsOpen()) {
      const int error = LastError();
      if (error != EEXIST) return error;
      continue;
    }
    // Until it is complete the file goes when its handle closes, also when
    // the process is ended; Replace takes that back just before the rename.
    SetDeleteOnClose(AsHandle(created.handle_), true);
    file_ = std::move(created);
    temp_path_ = std::move(name);
  }
  target_ = target;
  return 0;
}

int ReplacementFile::OpenWriter(PosixFile& writer) const {
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), AsHandle(file_.handle_), ::GetCurrentProcess(),
                         &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return LastError();
  writer = PosixFile(copy);
  return 0;
}

namespace {

// Keeps the temporary `file` (at `temp_path`) once closed, closes it and
// moves it to `target` with `flags`; a temporary that cannot be kept or
// moved is deleted. Either way it no longer goes by its own name.
int MoveTemporary(PosixFile& file, HANDLE handle, std::string& temp_path,
                  const std::string& target, DWORD flags) {
  if (!SetDeleteOnClose(handle, false)) {
    const int error = LastError();
    file.Close();
    temp_path.clear();
    return error;
  }
  file.Close();
  const std::wstring from = WidePath(temp_path);
  const int error = ::MoveFileExW(from.c_str(), WidePath(target).c_str(), flags) ? 0 : LastError();
  if (error != 0) ::DeleteFileW(from.c_str());
  temp_path.clear();
  return error;
}

}  // namespace

int ReplacementFile::Replace() {
  return MoveTemporary(file_, AsHandle(file_.handle_), temp_path_, target_,
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

int ReplacementFile::PlaceNew() {
  // Without MOVEFILE_REPLACE_EXISTING a taken name fails.
  return MoveTemporary(file_, AsHandle(file_.handle_), temp_path_, target_,
                       MOVEFILE_WRITE_THROUGH);
}

int ResolveWriteTarget(const std::string& path, WriteTarget& target) {
  target = WriteTarget();
  if (path.empty()) return ENOENT;
  if (IsPathSeparator(path.back())) return kErrorFolderName;
  // The names the command line uses for its own standard output.
  for (const auto& [name, fd] : {std::pair{"/dev/stdout", 1}, std::pair{"/dev/stderr", 2},
                                  std::pair{"/dev/fd/1", 1}, std::pair{"/dev/fd/2", 2}}) {
    if (path == name) {
      target.kind = WriteTarget::kStream;
      target.path = path;
      target.descriptor = fd;
      return 0;
    }
  }
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const int error = LastError();
    if (error != ENOENT) return error;
    target.kind = WriteTarget::kNewFile;
    target.path = path;
    return 0;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
  HANDLE handle = ::CreateFileW(WidePath(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const int error = LastError();
    // Only a link can name a missing file while having attributes itself.
    return error == ENOENT && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? kErrorBrokenLink
                                                                           : error;
  }
  target.path = path;
  if (!IsDiskFile(handle)) {
    target.kind = WriteTarget::kStream;  // NUL, CON, a named pipe
  } else {
    target.kind = WriteTarget::kRegularFile;
    // The file a link names is the one replaced; the link stays.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) FinalPath(handle, target.path);
  }
  ::CloseHandle(handle);
  return 0;
}

bool IdentifyFile(const std::string& path, FileIdentity& identity) {
  HANDLE handle = ::CreateFileW(WidePath(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = ::GetFileInformationByHandle(handle, &info) != 0;
  ::CloseHandle(handle);
  if (!known) return false;
  identity.device = info.dwVolumeSerialNumber;
  identity.inode = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

std::size_t LastPathSeparator(const std::string& path) { return path.find_last_of("/\\"); }

bool IsAbsolutePath(const std::string& path) {
  if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) return true;
  const auto letter = [](char ch) { return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'); };
  return path.size() >= 3 && letter(path[0]) && path[1] == ':' && IsPathSeparator(path[2]);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && IsPathSeparator(folder.back())) return folder + name;
  return folder + kPathSeparator + name;
}

int CheckIsFolder(const std::string& path) {
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : ENOTDIR;
}

std::string PathForLink(const std::string& path) {
  std::string rest = path;
  std::replace(rest.begin(), rest.end(), '\\', '/');
  if (rest.starts_with("//?/UNC/")) return "file://" + rest.substr(8);
  if (rest.starts_with("//?/") || rest.starts_with("//./")) rest = rest.substr(4);
  if (rest.starts_with("//")) return "file:" + rest;  // file://server/share/...
  if (rest.size() >= 2 && rest[1] == ':') return "file:///" + rest;
  return rest;
}

bool RegularFileSize(const std::string& path, std::uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return path;
  const std::wstring wide = win32::Widen(path);
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return path;
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.resize(length + 1);
  }
  // A trailing separator goes, as on POSIX systems, but a drive's root
  // (C:\) keeps it.
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  return win32::Narrow(full);
}

std::string SystemErrorText(int error) {
  switch (error) {
    case kErrorNotRegularFile: return "Not a regular file";
    case kErrorBeingWritten: return "Another search is writing this file";
    case kErrorBeingRead: return "Another search is reading this file";
    case kErrorBrokenLink: return "The link names a file that does not exist";
    case kErrorFolderName: return "The name ends in \"\\\" and so names a folder";
    case kErrorOpenElsewhere:
      return "The file is open in another program, which does not let it be used now";
    case kErrorReadOnly:
      return "The file is read-only; clear its read-only attribute to have it replaced";
    default: break;
  }
  std::string result;
  if (error >= kErrorSystemBase) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error - kErrorSystemBase), 0,
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length != 0 && text != nullptr) result = win32::Narrow(std::wstring(text, length));
    if (text != nullptr) ::LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == ' ' || result.back() == '.'))
      result.pop_back();
    if (result.find_first_not_of(" \t\r\n") == std::string::npos)
      result = "Unspecified error (" + std::to_string(error - kErrorSystemBase) + ") from system.";
    return result;
  }
  result = std::strerror(error);
  if (result.find_first_not_of(" \t\r\n") == std::string::npos || result == "Unknown error")
    result = "Unspecified error (" + std::to_string(error) + ") from system.";
  return result;
}

}  // namespace tallyfold
