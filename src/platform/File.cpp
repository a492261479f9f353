// POSIX files for the text layer: open, create, read, write, size, position,
// advisory sharing locks, atomic replacement and error texts.
//
// This file's external interface is File.h; tests/text/TextFileTest.cpp
// covers it through the text files built on it.
#include "platform/File.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <random>
#include <system_error>
#include <vector>

#include "platform/FileInternal.h"

namespace tallyfold {

namespace {

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The folder part of `path` with its slash ("" for a bare name), and the
// name after it.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name for a temporary file that no other process of this program will
// pick at the same time: the process id, a per-process counter and a
// random part.
std::string TemporaryName(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  static const unsigned seed = std::random_device{}();
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".%ld.%u.%08x.tmp",
                static_cast<long>(::getpid()), counter.fetch_add(1),
                seed * 2654435761U + counter.load());
  return FolderOf(target) + "." + NameOf(target) + suffix;
}

// The process id in `name` when it is a name TemporaryName gives for a
// file named `base`, else 0.
long TemporaryNameProcess(std::string_view name, const std::string& base) {
  const std::string head = "." + base + ".";
  if (name.size() < head.size() + 4 || !name.starts_with(head) || !name.ends_with(".tmp"))
    return 0;
  name = name.substr(head.size(), name.size() - head.size() - 4);
  // "PID.N.XXXXXXXX": two decimal numbers and eight lower-case hex digits.
  const auto digits = [](std::string_view text) {
    return !text.empty() && text.size() <= 10 &&
           text.find_first_not_of("0123456789") == std::string_view::npos;
  };
  const std::size_t first = name.find('.');
  if (first == std::string_view::npos) return 0;
  const std::size_t second = name.find('.', first + 1);
  if (second == std::string_view::npos) return 0;
  const std::string_view pid = name.substr(0, first);
  const std::string_view counter = name.substr(first + 1, second - first - 1);
  const std::string_view random = name.substr(second + 1);
  if (!digits(pid) || !digits(counter) || random.size() != 8 ||
      random.find_first_not_of("0123456789abcdef") != std::string_view::npos)
    return 0;
  const long value = std::strtol(std::string(pid).c_str(), nullptr, 10);
  return value > 0 && value <= INT_MAX ? value : 0;
}

// Removes from the folder of `target` the temporary files that earlier
// replacements of `target` left when their process was killed: only names
// of the exact form TemporaryName gives for it, only regular files of this
// process's own user, only when their process is gone and nobody holds them
// locked. The lock also keeps the file of a live writer whose process id
// this process cannot see (another PID namespace sharing the folder); the
// owner keeps another user's file that merely has such a name, even from a
// run that has the right to remove it (root, or a folder of its own).
void RemoveStaleTemporaries(const std::string& target) {
  const std::string folder = FolderOf(target);
  const std::string base = NameOf(target);
  const int dir_fd =
      OpenRetrying(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir_fd < 0) return;
  DIR* dir = ::fdopendir(dir_fd);
  if (dir == nullptr) {
    ::close(dir_fd);
    return;
  }
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir)) {
    const long pid = TemporaryNameProcess(entry->d_name, base);
    if (pid == 0 || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    stale.emplace_back(entry->d_name);
  }
  for (const std::string& name : stale) {
    const int fd =
        ::openat(dir_fd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0)
      ::unlinkat(dir_fd, name.c_str(), 0);
    ::close(fd);
  }
  ::closedir(dir);
}

// A lock that could not be had without waiting: an exclusive holder is
// writing the file; otherwise only readers hold it.
int LockConflict(int fd) {
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0) return kErrorBeingWritten;
  ::flock(fd, LOCK_UN);
  return kErrorBeingRead;
}

int LockError(int fd, int error) {
  return error == EWOULDBLOCK ? LockConflict(fd) : error;
}

// The descriptor N that `path` names when it is one of this process's own
// descriptor links (/dev/stdout, /dev/fd/N, /proc/self/fd/N, ...), else -1.
int OwnDescriptor(const std::string& path) {
  if (path == "/dev/stdin") return 0;
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  const std::string own = "/proc/" + std::to_string(::getpid()) + "/fd/";
  for (const std::string& prefix :
       {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
        std::string("/proc/thread-self/fd/"), own}) {
    if (!path.starts_with(prefix) || path.size() == prefix.size() ||
        path.size() - prefix.size() > 9)
      continue;
    int fd = 0;
    for (std::size_t i = prefix.size(); i < path.size(); ++i) {
      if (path[i] < '0' || path[i] > '9') return -1;
      fd = fd * 10 + (path[i] - '0');
    }
    return fd;
  }
  return -1;
}

// Follows the links of `path` one by one as text, and gives the descriptor
// the first link naming one of this process's descriptors stands for, or
// -1. The kernel resolves such a link to the open file itself, which may
// have no path (a pipe), so it is caught before the kernel resolves it.
int DescriptorBehindLinks(std::string path) {
  for (int hop = 0; hop < 40; ++hop) {
    if (const int fd = OwnDescriptor(path); fd >= 0) return fd;
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return -1;
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) return -1;
    std::string next(buffer, static_cast<std::size_t>(length));
    if (next.front() != '/') {
      const std::size_t slash = path.rfind('/');
      next = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + next;
    }
    path = AbsolutePath(next);
  }
  return -1;
}

// kErrorForeignLink when one of the links `path` leads through, one by one,
// belongs to another user than this process's and root and stands in a
// sticky folder anyone may write to; else 0. Anyone can put a link there
// under the name a run will write, and only its owner can take it away,
// so it is followed only when it is the runner's own (or root's), whatever
// the system's own rule for such links says.
int CheckLinksAreTrusted(std::string path) {
  for (int hop = 0; hop < 40; ++hop) {
    struct stat link;
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return 0;
    const std::string folder = FolderOf(path);
    struct stat place;
    if (link.st_uid != ::geteuid() && link.st_uid != 0 &&
        ::stat(folder.empty() ? "." : folder.c_str(), &place) == 0 &&
        (place.st_mode & S_ISVTX) != 0 && (place.st_mode & S_IWOTH) != 0)
      return kErrorForeignLink;
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) return 0;
    std::string next(buffer, static_cast<std::size_t>(length));
    path = next.front() == '/' ? next : folder + next;
  }
  return 0;
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
  if (::flock(opened.fd_, LOCK_SH | LOCK_NB) != 0) return LockError(opened.fd_, errno);
  file = std::move(opened);
  return 0;
}

int PosixFile::Create(const std::string& path, PosixFile& file) {
  PosixFile opened(OpenRetrying(path.c_str(), O_RDWR | O_CREAT, 0666));
  if (!opened.IsOpen()) return errno;
  if (::flock(opened.fd_, LOCK_EX | LOCK_NB) != 0) return LockError(opened.fd_, errno);
  if (::ftruncate(opened.fd_, 0) != 0) return errno;
  file = std::move(opened);
  return 0;
}

int PosixFile::CreateNew(const std::string& path, PosixFile& file) {
  // O_EXCL also refuses a link at `path`, wherever it points.
  PosixFile created(OpenRetrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666));
  if (!created.IsOpen()) return errno;
  file = std::move(created);
  return 0;
}

int PosixFile::CreateNameless(const std::string& folder, PosixFile& file) {
  const std::string dir = folder.empty() ? std::string(".") : folder;
  PosixFile created(OpenRetrying(dir.c_str(), O_RDWR | O_TMPFILE, 0600));
  if (created.IsOpen()) {
    file = std::move(created);
    return 0;
  }
  // O_TMPFILE is refused by file systems that do not support it, and by
  // kernels that do not know it (EISDIR then: the folder itself was named).
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = TemporaryName(dir + "/tallyfold-rows");
    PosixFile named(OpenRetrying(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600));
    if (!named.IsOpen()) {
      if (errno == EEXIST) continue;
      return errno;
    }
    ::unlink(name.c_str());
    file = std::move(named);
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
  if (::flock(opened.fd_, LOCK_EX | LOCK_NB) != 0) return LockError(opened.fd_, errno);
  lock = std::move(opened);
  return 0;
}

int PosixFile::OpenStream(const std::string& path, PosixFile& file) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return errno;
  if (S_ISSOCK(info.st_mode)) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return ENAMETOOLONG;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    PosixFile socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.IsOpen()) return errno;
    if (::connect(socket.fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
      return errno;
    file = std::move(socket);
    return 0;
  }
  // A FIFO waits here for its reader, as any writer to it does.
  PosixFile opened(OpenRetrying(path.c_str(), O_WRONLY | O_NOCTTY));
  if (!opened.IsOpen()) return errno;
  file = std::move(opened);
  return 0;
}

int PosixFile::Duplicate(int fd, PosixFile& file) {
  PosixFile copy(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
  if (!copy.IsOpen()) return errno;
  file = std::move(copy);
  return 0;
}

bool PosixFile::IsRegular() const {
  struct stat info;
  return ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
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

int PosixFile::WriteAt(const void* buffer, std::size_t count, std::int64_t offset) {
  const auto* in = static_cast<const char*>(buffer);
  while (count > 0) {
    const std::size_t chunk = std::min<std::size_t>(count, 1U << 30);
    const ssize_t n = ::pwrite(fd_, in, chunk, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return ENOSPC;
    in += n;
    count -= static_cast<std::size_t>(n);
    offset += n;
  }
  return 0;
}

int PosixFile::ReadAt(void* buffer, std::size_t count, std::int64_t offset) const {
  auto* out = static_cast<char*>(buffer);
  while (count > 0) {
    const std::size_t chunk = std::min<std::size_t>(count, 1U << 30);
    const ssize_t n = ::pread(fd_, out, chunk, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    out += n;
    count -= static_cast<std::size_t>(n);
    offset += n;
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

int PosixFile::Stamp(FileStamp& stamp) const {
  struct stat info;
  if (::fstat(fd_, &info) != 0) return errno;
  stamp.size = info.st_size;
  stamp.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                   info.st_mtim.tv_nsec;
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

void RemoveFileQuietly(const std::string& path) { ::unlink(path.c_str()); }

namespace {

std::atomic<bool> nameless_replacements{true};

}  // namespace

void file_internal::AllowNamelessReplacement(bool allowed) {
  nameless_replacements.store(allowed);
}

ReplacementFile::~ReplacementFile() {
  if (Named()) ::unlink(temp_path_.c_str());
}

int ReplacementFile::Create(const std::string& target) {
  RemoveStaleTemporaries(target);
  struct stat old_info;
  const bool keep_mode = ::stat(target.c_str(), &old_info) == 0 && S_ISREG(old_info.st_mode);
  const std::string folder = FolderOf(target);
  PosixFile created;
  std::string name;
  // The nameless file is named later through /proc/self/fd; without /proc
  // it could not be, and is not made.
  if (nameless_replacements.load() && ::access("/proc/self/fd", F_OK) == 0) {
    created = PosixFile(
        OpenRetrying(folder.empty() ? "." : folder.c_str(), O_RDWR | O_TMPFILE, 0666));
    // Refused by file systems that cannot make a nameless file, and by
    // kernels that do not know O_TMPFILE (EISDIR: the folder was named).
    if (!created.IsOpen() && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
      return errno;
  }
  for (int attempt = 0; !created.IsOpen(); ++attempt) {
    if (attempt == 100) return EEXIST;
    name = TemporaryName(target);
    created = PosixFile(OpenRetrying(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666));
    if (!created.IsOpen() && errno != EEXIST) return errno;
  }
  // A fresh file cannot be locked by anyone else; the lock keeps readers
  // out until the finished file is in place, and tells a later replacement
  // that a named one is still being written.
  ::flock(created.fd_, LOCK_EX | LOCK_NB);
  if (keep_mode) ::fchmod(created.fd_, old_info.st_mode & 07777);
  target_ = target;
  file_ = std::move(created);
  temp_path_ = std::move(name);
  return 0;
}

int ReplacementFile::OpenWriter(PosixFile& writer) const {
  return PosixFile::Duplicate(file_.fd_, writer);
}

int ReplacementFile::Replace() {
  if (!Named()) {
    // A nameless file cannot be renamed, and a link straight to the target
    // would fail when the target exists: it gets a temporary name first,
    // only now that it is complete, and is renamed over the target at once.
    const std::string self = "/proc/self/fd/" + std::to_string(file_.fd_);
    for (int attempt = 0; !Named(); ++attempt) {
      if (attempt == 100) return EEXIST;
      std::string name = TemporaryName(target_);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        temp_path_ = std::move(name);
      else if (errno != EEXIST)
        return errno;
    }
  }
  if (::rename(temp_path_.c_str(), target_.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp_path_.c_str());
    temp_path_.clear();
    return error;
  }
  temp_path_.clear();
  file_.Close();
  return 0;
}

int ReplacementFile::PlaceNew() {
  // A link fails when the name is taken, where a rename would replace it.
  const int result =
      Named() ? ::link(temp_path_.c_str(), target_.c_str())
              : ::linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(file_.fd_)).c_str(),
                         AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW);
  const int error = result == 0 ? 0 : errno;
  if (Named()) ::unlink(temp_path_.c_str());
  temp_path_.clear();
  file_.Close();
  return error;
}

int ResolveWriteTarget(const std::string& path, WriteTarget& target) {
  target = WriteTarget();
  if (path.empty()) return ENOENT;
  if (path.back() == '/') return kErrorFolderName;
  if (const int error = CheckLinksAreTrusted(path)) return error;
  if (const int fd = DescriptorBehindLinks(path); fd >= 0) {
    target.kind = WriteTarget::kStream;
    target.path = path;
    target.descriptor = fd;
    return 0;
  }
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    const int error = errno;
    if (error != ENOENT) return error;
    struct stat link;
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) return kErrorBrokenLink;
    target.kind = WriteTarget::kNewFile;
    target.path = path;
    return 0;
  }
  if (S_ISDIR(info.st_mode)) return EISDIR;
  if (!S_ISREG(info.st_mode)) {
    target.kind = WriteTarget::kStream;
    target.path = path;
    return 0;
  }
  // The file a link names is the one replaced; the link stays.
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return errno;
  target.kind = WriteTarget::kRegularFile;
  target.path = resolved;
  std::free(resolved);
  return 0;
}

bool IdentifyFile(const std::string& path, FileIdentity& identity) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return false;
  identity.device = info.st_dev;
  identity.inode = info.st_ino;
  return true;
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return path;
  std::string absolute;
  if (path.front() != '/') {
    char* cwd = ::getcwd(nullptr, 0);
    if (cwd == nullptr) return path;
    absolute = cwd;
    std::free(cwd);
  }
  if (absolute == "/") absolute.clear();
  std::size_t up_end = 0;  // where the last ".." step ends, or 0
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string_view step(path.data() + start, end - start);
    if (!step.empty() && step != ".") {
      absolute += '/';
      absolute += step;
      if (step == "..") up_end = absolute.size();
    }
    start = end + 1;
  }
  if (absolute.empty()) return "/";
  // ".." is the parent of where the step before it really leads, which after
  // a link to a folder is not what the text shows; the system says where the
  // part up to the last ".." is, so that links made from the path (which a
  // browser folds as text) still lead to the same file.
  if (up_end > 0) {
    if (char* resolved = ::realpath(absolute.substr(0, up_end).c_str(), nullptr)) {
      std::string rest = absolute.substr(up_end);
      absolute = resolved;
      std::free(resolved);
      if (absolute == "/" && !rest.empty()) absolute.clear();
      absolute += rest;
    }
  }
  return absolute;
}

std::size_t LastPathSeparator(const std::string& path) { return path.rfind('/'); }

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path.front() == '/'; }

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder + "/" + name;
}

int CheckIsFolder(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return errno;
  return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

std::string PathForLink(const std::string& path) { return path; }

bool RegularFileSize(const std::string& path, std::uint64_t& size) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

std::string SystemErrorText(int error) {
  switch (error) {
    case kErrorNotRegularFile: return "Not a regular file";
    case kErrorBeingWritten: return "Another search is writing this file";
    case kErrorBeingRead: return "Another search is reading this file";
    case kErrorBrokenLink: return "The link names a file that does not exist";
    case kErrorFolderName: return "The name ends in \"/\" and so names a folder";
    case kErrorForeignLink:
      return "The name is another user's link in a folder anyone may write to, "
             "and is not followed";
    default: break;
  }
  char buffer[256];
  // The GNU strerror_r returns the text, which need not be in `buffer`.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  std::string result = text != nullptr ? text : "";
  if (result.find_first_not_of(" \t\r\n") == std::string::npos)
    result = "Unspecified error (" + std::to_string(error) + ") from system.";
  return result;
}

}  // namespace tallyfold
