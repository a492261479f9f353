// POSIX files for the text layer: open, create, read, write, size, position,
// advisory sharing locks, atomic replacement and error texts.
//
// This file's external interface is File.h; tests/text/TextFileTest.cpp
// covers it through the text files built on it.
#include "platform/File.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

namespace tallyfold {

namespace {

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A name for a temporary file that no other process of this program will
// pick at the same time: the process id, a per-process counter and a
// random part.
std::string TemporaryName(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  static const unsigned seed = std::random_device{}();
  const std::size_t slash = target.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base =
      slash == std::string::npos ? target : target.substr(slash + 1);
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".%ld.%u.%08x.tmp",
                static_cast<long>(::getpid()), counter.fetch_add(1),
                seed * 2654435761U + counter.load());
  return folder + "." + base + suffix;
}

}  // namespace

PosixFile::~PosixFile() {
  if (fd_ >= 0) ::close(fd_);
}

PosixFile::PosixFile(PosixFile&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

PosixFile& PosixFile::operator=(PosixFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

int PosixFile::OpenForReading(const std::string& path, PosixFile& file) {
  // O_NONBLOCK keeps a FIFO named like a text file from hanging the open,
  // which the check of its kind then refuses; reads are blocking again
  // afterwards.
  PosixFile opened(OpenRetrying(path.c_str(), O_RDONLY | O_NONBLOCK));
  if (!opened.IsOpen()) return errno;
  struct stat info;
  if (::fstat(opened.fd_, &info) != 0) return errno;
  if (S_ISDIR(info.st_mode)) return EISDIR;
  if (!S_ISREG(info.st_mode)) return kErrorNotRegularFile;
  const int flags = ::fcntl(opened.fd_, F_GETFL);
  if (flags < 0 || ::fcntl(opened.fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) return errno;
  if (::flock(opened.fd_, LOCK_SH | LOCK_NB) != 0) return errno;
  file = std::move(opened);
  return 0;
}

int PosixFile::Create(const std::string& path, PosixFile& file) {
  PosixFile opened(OpenRetrying(path.c_str(), O_RDWR | O_CREAT, 0666));
  if (!opened.IsOpen()) return errno;
  if (::flock(opened.fd_, LOCK_EX | LOCK_NB) != 0) return errno;
  if (::ftruncate(opened.fd_, 0) != 0) return errno;
  file = std::move(opened);
  return 0;
}

int PosixFile::CreateBeside(const std::string& target, PosixFile& file,
                            std::string& temp_path) {
  struct stat old_info;
  const bool target_exists = ::stat(target.c_str(), &old_info) == 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = TemporaryName(target);
    PosixFile created(
        OpenRetrying(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666));
    if (!created.IsOpen()) {
      if (errno == EEXIST) continue;
      return errno;
    }
    // A fresh file cannot be locked by anyone else; the lock only keeps
    // readers out until the finished file is in place.
    ::flock(created.fd_, LOCK_EX | LOCK_NB);
    if (target_exists && S_ISREG(old_info.st_mode))
      ::fchmod(created.fd_, old_info.st_mode & 07777);
    file = std::move(created);
    temp_path = std::move(name);
    return 0;
  }
  return EEXIST;
}

int PosixFile::LockForReplacement(const std::string& target, PosixFile& lock) {
  PosixFile opened(OpenRetrying(target.c_str(), O_RDONLY | O_NONBLOCK));
  if (!opened.IsOpen()) return 0;
  struct stat info;
  if (::fstat(opened.fd_, &info) != 0) return 0;
  if (S_ISDIR(info.st_mode)) return EISDIR;
  // The rename that replaces the file needs no right to write it, but a
  // file its owner made read-only must stay as it is, as it would if it
  // were opened for writing.
  if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return errno;
  if (::flock(opened.fd_, LOCK_EX | LOCK_NB) != 0) return errno;
  lock = std::move(opened);
  return 0;
}

int PosixFile::Read(void* buffer, std::size_t count, std::size_t& got) {
  got = 0;
  auto* out = static_cast<char*>(buffer);
  while (got < count) {
    // Linux moves at most about 2 GiB per call; larger requests loop.
    const std::size_t chunk = std::min<std::size_t>(count - got, 1U << 30);
    const ssize_t n = ::read(fd_, out + got, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return 0;
}

int PosixFile::Write(const void* buffer, std::size_t count,
                     std::size_t& written) {
  written = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (written < count) {
    const std::size_t chunk = std::min<std::size_t>(count - written, 1U << 30);
    const ssize_t n = ::write(fd_, in + written, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    written += static_cast<std::size_t>(n);
  }
  return 0;
}

int PosixFile::Size(std::int64_t& size) const {
  struct stat info;
  if (::fstat(fd_, &info) != 0) return errno;
  size = info.st_size;
  return 0;
}

int PosixFile::Seek(std::int64_t position) {
  return ::lseek(fd_, position, SEEK_SET) < 0 ? errno : 0;
}

int PosixFile::Sync() { return ::fsync(fd_) != 0 ? errno : 0; }

void PosixFile::StartWriteback(std::int64_t offset, std::int64_t length) {
#ifdef SYNC_FILE_RANGE_WRITE
  // A failure here shows again, and is reported, when the file is synced.
  (void)::sync_file_range(fd_, offset, length, SYNC_FILE_RANGE_WRITE);
#else
  (void)offset;
  (void)length;
#endif
}

int PosixFile::Close() {
  if (fd_ < 0) return 0;
  const int result = ::close(fd_);
  fd_ = -1;
  // Linux releases the descriptor even when close() reports EINTR.
  return result != 0 && errno != EINTR ? errno : 0;
}

int ReplaceFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) != 0 ? errno : 0;
}

void RemoveFileQuietly(const std::string& path) { ::unlink(path.c_str()); }

std::string ResolveLinks(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string result(resolved);
  std::free(resolved);
  return result;
}

std::string AbsolutePath(const std::string& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) return path;
  return absolute.lexically_normal().string();
}

std::string SystemErrorText(int error) {
  if (error == kErrorNotRegularFile) return "Not a regular file";
  char buffer[256];
  // The GNU strerror_r returns the text, which need not be in `buffer`.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  std::string result = text != nullptr ? text : "";
  if (result.find_first_not_of(" \t\r\n") == std::string::npos)
    result = "Unspecified error (" + std::to_string(error) + ") from system.";
  return result;
}

}  // namespace tallyfold
