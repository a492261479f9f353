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

// Failures no errno value names. They are the platform layer's own (errno
// values are positive); SystemErrorText gives their texts.
//
// What OpenForReading gives for a FIFO, socket or device.
inline constexpr int kErrorNotRegularFile = -1;
// A lock that another search holds: it is writing the file (an exclusive
// lock), or reading it (a shared one) when a writer wants it.
inline constexpr int kErrorBeingWritten = -2;
inline constexpr int kErrorBeingRead = -3;
// A symbolic link whose target does not exist.
inline constexpr int kErrorBrokenLink = -4;
// A file name that ends in "/", which can only name a folder.
inline constexpr int kErrorFolderName = -5;
// Windows: the file is open in another program whose sharing forbids what
// is asked (a sharing or lock violation); who holds it cannot be told.
inline constexpr int kErrorOpenElsewhere = -6;
// A link to the file to be written that another user (not root) made in
// a folder where anyone may make files and only their owners remove them
// (a sticky, world-writable folder such as /tmp): following it would let
// that user choose which file is written.
inline constexpr int kErrorForeignLink = -7;
// Windows: the file to be replaced is marked read-only. Its owner marked it
// so to keep it as it is, and Windows would not replace it anyway.
inline constexpr int kErrorReadOnly = -8;
// Windows: system error codes (GetLastError) that no errno value stands
// for are returned as kErrorSystemBase + the code, and SystemErrorText
// gives the system's text for them (FormatMessageW).
inline constexpr int kErrorSystemBase = 0x100000;

// What tells whether an open file changed: its size and the time it was
// last written, in the system's own units (nanoseconds on POSIX, 100
// nanoseconds on Windows).
struct FileStamp {
  std::int64_t size = 0;
  std::int64_t modified = 0;
  bool operator==(const FileStamp&) const = default;
};

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

  // Creates a new, empty file for writing (mode 0666 less the umask) only
  // when nothing is at `path` yet: a file, a folder or a link, even one to
  // nothing, makes it fail with EEXIST, so nothing there is ever replaced.
  static int CreateNew(const std::string& path, PosixFile& file);

  // Takes the exclusive lock on an existing `target` that is about to be
  // replaced, so that a reader holding it makes the replacement fail the way
  // Create would. A missing or unreadable target needs no lock and gives 0;
  // a directory gives EISDIR, and a file this process may not write the
  // error that opening it for writing would give (EACCES, EROFS).
  static int LockForReplacement(const std::string& target, PosixFile& lock);

  // Opens a FIFO, socket or device for writing straight through, without
  // truncating or creating anything; a socket is connected to.
  static int OpenStream(const std::string& path, PosixFile& file);

  // Takes over a copy of the process's own descriptor `fd` (standard
  // output, say); closing the copy leaves `fd` open.
  static int Duplicate(int fd, PosixFile& file);
  // Creates a file for reading and writing in `folder` that has no name:
  // nothing else can open it, and the system removes it when it is closed,
  // however the process ends. Where the file system cannot make a nameless
  // file, a uniquely named one is made and its name removed at once.
  static int CreateNameless(const std::string& folder, PosixFile& file);

  // True for a regular file. A stream (pipe, terminal, device) cannot be
  // synced or sized.
  bool IsRegular() const;

#ifdef _WIN32
  bool IsOpen() const { return handle_ != nullptr; }
#else
  bool IsOpen() const { return fd_ >= 0; }
#endif

  // Reads up to `count` bytes, fewer only at the end of the file.
  int Read(void* buffer, std::size_t count, std::size_t& got);
  // Writes all `count` bytes or fails; `written` says how many got out.
  int Write(const void* buffer, std::size_t count, std::size_t& written);
  // The same at `offset`, leaving the file position as it is; several
  // threads may write different ranges at once.
  int WriteAt(const void* buffer, std::size_t count, std::int64_t offset);
  // Reads exactly `count` bytes at `offset`; a file that ends before gives
  // EIO.
  int ReadAt(void* buffer, std::size_t count, std::int64_t offset) const;
  int Size(std::int64_t& size) const;
  int Stamp(FileStamp& stamp) const;
  int Seek(std::int64_t position);
  int Sync();
  // Asks the system to start writing the given range of the file to the
  // disk without waiting for it, so that a later Sync has less left to do.
  // Only a hint: where it is not supported nothing happens.
  void StartWriteback(std::int64_t offset, std::int64_t length);
  // Closes the descriptor and reports what close() said.
  int Close();

 private:
  friend class ReplacementFile;

#ifdef _WIN32
  explicit PosixFile(void* handle) : handle_(handle) {}

  void* handle_ = nullptr;  // open HANDLE, or null (never INVALID_HANDLE_VALUE)
#else
  explicit PosixFile(int fd) : fd_(fd) {}

  int fd_ = -1;  // open descriptor, or -1
#endif
};

// A new file written beside `target` that takes its place only when it is
// complete, so that a failure, a cancel or the process being killed at any
// moment leaves the previous file as it was:
//
//   ReplacementFile replacement;
//   PosixFile writer;
//   if (int error = replacement.Create(target)) ...
//   if (int error = replacement.OpenWriter(writer)) ...
//   ... write, Sync and Close `writer` ...
//   if (int error = replacement.Replace()) ...
//
// Where the file system allows, the file has no name while it is written
// (O_TMPFILE): a process killed then leaves nothing behind. It is given a
// temporary name only once complete, and renamed over the target at once,
// since a rename is what replaces a file atomically. Elsewhere it is written
// under a temporary name of its own, ".NAME.PID.N.XXXXXXXX.tmp", that a
// killed process leaves; the next replacement of the same target removes
// such leftovers, those whose process is gone and that nobody holds locked.
class ReplacementFile {
 public:
  ReplacementFile() = default;
  // A file that has not taken the target's place goes with its name.
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Makes the new, empty file in the folder of `target` (a path without
  // links to follow), after removing what earlier replacements of `target`
  // left there. It gets the mode of `target` when that is a regular file,
  // otherwise 0666 less the umask, and an exclusive lock that keeps readers
  // out until it is in place.
  int Create(const std::string& target);

  // A descriptor of the file to write it through; closing it leaves the
  // file as it is.
  int OpenWriter(PosixFile& writer) const;

  // Puts the written file in the target's place. On failure the target
  // stays as it was and the new file goes.
  int Replace();

  // Puts the written file at the target's name only when nothing is there
  // yet: EEXIST, and the new file goes, when something is.
  int PlaceNew();

  // True while the file has a name of its own (the fallback above).
  bool Named() const { return !temp_path_.empty(); }

 private:
  std::string target_;     // the file to be replaced
  PosixFile file_;         // the new file, open until it is in place
  std::string temp_path_;  // its name while written; empty when it has none
};

// The separator between a folder and a name that the system shows: '/', or
// '\\' on Windows, where '/' is taken as well.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// True for a character that separates the steps of a path: '/', and on
// Windows '\\' too.
constexpr bool IsPathSeparator(char ch) {
  return ch == '/' || ch == kPathSeparator;
}

// Where the last separator of `path` is, or npos.
std::size_t LastPathSeparator(const std::string& path);

// True for a path that names its file without the current folder: one that
// starts with "/"; on Windows also a drive letter and a separator (C:\ or
// C:/), a UNC share (\\server\share) or a device path (\\?\ or \\.\ in front).
bool IsAbsolutePath(const std::string& path);

// `folder` and `name` joined by the system's separator. POSIX: always
// folder + "/" + name, as the reports have always shown it; Windows: a
// separator `folder` already ends in is not doubled.
std::string JoinPath(const std::string& folder, const std::string& name);

// 0 when `path` is a folder (links followed), ENOTDIR when it is something
// else, or the failure that looking it up gave.
int CheckIsFolder(const std::string& path);

// `path` (absolute) as the part of a link a browser opens after "href=":
// the path itself on POSIX systems; on Windows a file: URL with '/'
// separators ("file:///C:/corpus/a.txt", "file://server/share/a.txt").
// Characters are not percent-encoded here.
std::string PathForLink(const std::string& path);

// The size of the regular file at `path` (links followed). False when
// there is no such file or it is not a regular one.
bool RegularFileSize(const std::string& path, std::uint64_t& size);

// Removes a file, ignoring failure: used to clean up after another error.
void RemoveFileQuietly(const std::string& path);

// Where a file written to `path` goes.
struct WriteTarget {
  enum Kind {
    kNewFile,      // nothing is there yet: `path` is created
    kRegularFile,  // a regular file, reached through any links: `path` is
                   // that file's own path, to be replaced as a whole
    kStream,       // a FIFO, socket or device at `path`, or the process's
                   // own `descriptor`: written straight through
  };
  Kind kind = kNewFile;
  std::string path;
  int descriptor = -1;  // for kStream: one of this process's descriptors
};

// Finds out what writing to `path` would write to. Links are followed: to
// the file they name, or to one of this process's own descriptors
// (/dev/stdout, /dev/fd/N, /proc/self/fd/N). Gives 0, or the failure: EISDIR
// for a folder, kErrorFolderName for a name ending in "/", kErrorBrokenLink
// for a link to nothing, ELOOP for a link loop, kErrorForeignLink for a link
// on the way that another user planted in a sticky, world-writable folder,
// or what stat said.
int ResolveWriteTarget(const std::string& path, WriteTarget& target);

// The identity of the file at `path` (links followed), to tell whether two
// paths name one file. False when there is no such file. On Windows the
// device is the volume's serial number and the inode the file index, as
// GetFileInformationByHandle gives them.
struct FileIdentity {
  unsigned long long device = 0;
  unsigned long long inode = 0;
  bool operator==(const FileIdentity&) const = default;
};
bool IdentifyFile(const std::string& path, FileIdentity& identity);

// `path` made absolute against the current folder: "." steps, repeated
// slashes and a trailing slash are dropped. ".." is not folded as text,
// which would be wrong after a link to a folder: the part up to the last
// ".." is resolved by the system when it exists, and kept as it is when it
// does not.
std::string AbsolutePath(const std::string& path);

// The system's text for an errno value, in the locale's character set, or
// "Unspecified error (N) from system." when the system has none; the
// platform layer's own texts for its kError... values.
std::string SystemErrorText(int error);

}  // namespace tallyfold
