// The few POSIX file services the text layer needs.
//
// A PosixFile owns one open file descriptor and closes it when destroyed.
// Every operation returns 0 on success or the errno value of the failure, so
// the caller can build its own message with SystemErrorText before anything
// else changes errno.
//
//   tallyfold::PosixFile file;
//   if (int error = tallyfold::PosixFile::OpenForReading("a.txt", file))
//     std::cerr << tallyfold::SystemErrorText(error);
//
// Sharing is advisory (flock) and never waits: a reader takes a shared lock,
// a writer an exclusive one, and whoever comes second fails with EWOULDBLOCK.
// Paths are byte strings exactly as the operating system has them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tallyfold {

// What OpenForReading gives for a FIFO, socket or device. No errno value
// says "not a regular file", so this one is the platform layer's own (errno
// values are positive); SystemErrorText gives its text.
inline constexpr int kErrorNotRegularFile = -1;

class PosixFile {
 public:
  PosixFile() = default;
  ~PosixFile();
  PosixFile(PosixFile&& other) noexcept;
  PosixFile& operator=(PosixFile&& other) noexcept;
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  // Opens an existing file read-only at position 0. A directory fails with
  // EISDIR, any other kind of file but a regular one with
  // kErrorNotRegularFile: a FIFO would wait for a writer and a device may
  // never end, and neither holds a text file.
  static int OpenForReading(const std::string& path, PosixFile& file);

  // Opens for reading and writing, creating the file (mode 0666 less the
  // umask) or truncating it. The file is truncated only after the exclusive
  // lock is held, so a file another reader holds keeps its contents.
  static int Create(const std::string& path, PosixFile& file);

  // Creates a new, empty file with a unique name in the folder of `target`,
  // to be renamed over `target` later. It gets the mode of `target` when
  // that exists, otherwise 0666 less the umask. `temp_path` receives its name.
  static int CreateBeside(const std::string& target, PosixFile& file,
                          std::string& temp_path);

  // Takes the exclusive lock on an existing `target` that is about to be
  // replaced, so that a reader holding it makes the replacement fail the way
  // Create would. A missing or unreadable target needs no lock and gives 0;
  // a directory gives EISDIR, and a file this process may not write the
  // error that opening it for writing would give (EACCES, EROFS).
  static int LockForReplacement(const std::string& target, PosixFile& lock);

  bool IsOpen() const { return fd_ >= 0; }

  // Reads up to `count` bytes, fewer only at the end of the file.
  int Read(void* buffer, std::size_t count, std::size_t& got);
  // Writes all `count` bytes or fails; `written` says how many got out.
  int Write(const void* buffer, std::size_t count, std::size_t& written);
  int Size(std::int64_t& size) const;
  int Seek(std::int64_t position);
  int Sync();
  // Asks the system to start writing the given range of the file to the
  // disk without waiting for it, so that a later Sync has less left to do.
  // Only a hint: where it is not supported nothing happens.
  void StartWriteback(std::int64_t offset, std::int64_t length);
  // Closes the descriptor and reports what close() said.
  int Close();

 private:
  explicit PosixFile(int fd) : fd_(fd) {}

  int fd_ = -1;  // open descriptor, or -1
};

// Renames `from` over `to` (atomic within one file system).
int ReplaceFile(const std::string& from, const std::string& to);

// Removes a file, ignoring failure: used to clean up after another error.
void RemoveFileQuietly(const std::string& path);

// The target of a symbolic link chain, or `path` itself when it is no link
// (or a link that cannot be resolved).
std::string ResolveLinks(const std::string& path);

// `path` made absolute against the current folder and normalised lexically
// ("." and ".." folded, repeated slashes joined); symbolic links are left
// as they are.
std::string AbsolutePath(const std::string& path);

// The system's text for an errno value, in the locale's language, or
// "Unspecified error (N) from system." when the system has none;
// "Not a regular file" for kErrorNotRegularFile.
std::string SystemErrorText(int error);

}  // namespace tallyfold
