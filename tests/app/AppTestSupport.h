// Internal to the app tests: temporary folders, files in every corpus
// encoding, the rows of a report and reading a report back. The report page
// as a whole is built in app/GoldenReport.h.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/CodePage.h"

namespace tallyfold::testing {

// The separator the program shows between a folder and a name.
#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

// The separator as a string, to join a folder and a name in an expected
// message.
inline const std::string kSlash(1, kSeparator);

// The href of a link to the file at the absolute `path`: the path itself
// on POSIX systems, a file: URL with '/' on Windows (for a drive-letter
// path; a test folder is never a share).
inline std::string Href(std::string path) {
#ifdef _WIN32
  for (char& ch : path)
    if (ch == '\\') ch = '/';
  if (path.size() > 1 && path[1] == ':') path = "file:///" + path;
#endif
  return path;
}

// Makes the folder `path` (UTF-8); 0 or -1, like mkdir.
inline int MakeFolder(const char* path) {
#ifdef _WIN32
  const std::u16string wide = Utf8Decode(path);
  return ::CreateDirectoryW(reinterpret_cast<const wchar_t*>(wide.c_str()), nullptr) ? 0 : -1;
#else
  return ::mkdir(path, 0700);
#endif
}

// A fresh folder under $TMPDIR (or /tmp; Windows: the user's temporary
// folder), removed with its contents at the end of the test.
class TempFolder {
 public:
  TempFolder() {
#ifdef _WIN32
    static std::atomic<unsigned> counter{0};
    std::string base = std::filesystem::temp_directory_path().string();
    while (!base.empty() && (base.back() == '\\' || base.back() == '/')) base.pop_back();
    for (int attempt = 0; path_.empty(); ++attempt) {
      if (attempt == 1000) throw std::runtime_error("cannot make a temporary folder");
      const std::string candidate = base + "\\tallyfold-test-" +
                                    std::to_string(::GetCurrentProcessId()) + "-" +
                                    std::to_string(counter++);
      if (MakeFolder(candidate.c_str()) == 0) path_ = candidate;
    }
#else
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/tallyfold-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
#endif
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + kSeparator + name; }

 private:
  std::string path_;
};

// How long a cancel may take to end a search: the promise is a tenth of a
// second; the bound leaves room for a loaded two-core machine and for the
// sanitizers' slowdown.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr std::chrono::milliseconds kCancelBound{2000};
#else
inline constexpr std::chrono::milliseconds kCancelBound{500};
#endif

// A pattern that backtracks catastrophically on a run of "a": every way of
// splitting the run is tried before `$` fails at the space the scan adds
// after each line, so a line of n letters takes about 2^n steps. The
// back-reference keeps it on the plain backtracker, which is what such a
// search runs through; without it the engine's linear path would finish
// at once.
inline const std::u16string kCatastrophicPattern = u"(a+)+\\1$";

// One line that keeps the catastrophic pattern busy for seconds: sixty runs
// of 21 letters. Each match attempt stays well within the engine's backtrack
// budget (a run of 23 goes past it and ends the search with an error), so
// the line is only cut short by the matcher's own look at the cancel flag.
inline std::string LongBacktrackingLine() {
  std::string line;
  for (int run = 0; run < 60; ++run) line += std::string(21, 'a') + ' ';
  return line;
}

// `path` (UTF-8) as the standard library opens it: on Windows through the
// wide name, which a narrow one in the ANSI code page could not hold.
inline std::filesystem::path FsPath(const std::string& path) {
#ifdef _WIN32
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
#else
  return std::filesystem::path(path);
#endif
}

// True when Windows could not hold a file of this name: one with a
// character it forbids (controls, < > : " | ? *) or bytes that are not
// UTF-8, in which the program holds Windows' names. Never on POSIX systems.
inline bool WindowsForbidsName(const std::string& name) {
#ifdef _WIN32
  std::size_t malformed = 0;
  Utf8Decode(name, malformed);
  if (malformed != 0) return true;
  for (const char ch : name)
    if (static_cast<unsigned char>(ch) < 0x20 || std::string_view("<>:\"|?*").find(ch) !=
                                                      std::string_view::npos)
      return true;
#else
  (void)name;
#endif
  return false;
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) {
#ifdef _WIN32
  const std::u16string wide = Utf8Decode(path);
  return ::GetFileAttributesW(reinterpret_cast<const wchar_t*>(wide.c_str())) !=
         INVALID_FILE_ATTRIBUTES;
#else
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
#endif
}

// UTF-16 text as bytes, without a mark.
inline std::string Utf16LeBytes(const std::u16string& text) {
  std::string bytes;
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

inline std::string Utf16BeBytes(const std::u16string& text) {
  std::string bytes;
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit >> 8));
    bytes.push_back(static_cast<char>(unit & 0xFF));
  }
  return bytes;
}

inline std::string Utf8Bytes(const std::u16string& text) { return Utf8Encode(text); }
inline std::u16string Widen(const std::string& utf8) { return Utf8Decode(utf8); }

inline const std::u16string kKey = u"<span class=\"key\">";
inline const std::u16string kEnd = u"</span>";

// The info fragment of an entry, from an href (a path, made a link by
// Href) and a file name that the caller has already escaped by hand.
inline std::u16string Info(const std::string& href, const std::string& name, int line) {
  return Widen(" <span class=\"info\"><a href=\"" + Href(href) + "\" target=\"_blank\">(<span class=\"file\">" +
               name + "</span>, <span class=\"line\">Line " + std::to_string(line) +
               "</span>)</a></span>");
}

// One row of the report: the count and the value of its match entry.
struct Row {
  int count;
  std::u16string value;
};

// The text of a report file after its 2-byte mark, read as UTF-16 LE.
inline std::u16string ReportText(const std::string& file_bytes) {
  std::u16string text;
  for (std::size_t i = 2; i + 1 < file_bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(file_bytes[i]) |
                                         (static_cast<unsigned char>(file_bytes[i + 1]) << 8)));
  }
  return text;
}

// The Text cells of a report, in row order.
inline std::vector<std::u16string> TextCells(const std::string& report) {
  const std::u16string text = ReportText(report);
  const std::u16string open = u"<td class=\"text\">";
  const std::u16string close = u"</td>\r\n<td class=\"freq\">";
  std::vector<std::u16string> cells;
  for (std::size_t at = text.find(open); at != std::u16string::npos; at = text.find(open, at)) {
    at += open.size();
    const std::size_t end = text.find(close, at);
    if (end == std::u16string::npos) break;
    cells.push_back(text.substr(at, end - at));
    at = end;
  }
  return cells;
}

}  // namespace tallyfold::testing
