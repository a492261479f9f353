// Text files: streams, byte-order marks and the errors of file access.
//
// A list reads a text file whole: a byte-order mark at the start selects
// UTF-16 LE (FF FE), UTF-16 BE (FE FF), UTF-8 (EF BB BF), UTF-32 LE (FF FE
// 00 00 before UTF-32 text) or UTF-32 BE (00 00 FE FF); without one the
// bytes are in the system code page. The text is then split into lines.
// Writing always produces UTF-16 LE with the mark FF FE, every entry followed
// by CR LF.
//
//   TUnicodeStringList lines;
//   lines.ReadTextFile(u"corpus/a.txt");
//   TMemoryStream memory("\xEF\xBB\xBF" "A\r\n");
//   DetectTextEncoding(memory);              // teUtf8, the mark consumed
//   Utf8ToWide("\xF0\x9F\x98\x80");          // u"\U0001F600", a surrogate pair
//
// How a file without a mark is decoded can be chosen (TTextDecoding): in the
// system code page as above, in a named character set, or automatically,
// from the file's own content and the same for the same bytes:
//
//   1. a byte-order mark decides (TReadChoice::kMark);
//   2. UTF-16 (LE or BE) and UTF-32 are told by the pattern of their zero
//      bytes in the first 64 KiB, before any other set is thought of
//      (kZeroBytes);
//   3. text that is valid UTF-8 as a whole is UTF-8 (kUtf8), told without
//      the detector; text whose sequences beyond ASCII are almost all
//      well-formed UTF-8 (a stray for three well-formed sequences at most) is UTF-8
//      with its strays as U+FFFD (kUtf8Strays), without the detector too;
//   4. otherwise the encoding detector (uchardet) is given the lines that
//      hold bytes of 0x80 or more, from the start of the file on, up to a
//      fixed budget, so that Chinese after megabytes of ASCII is seen; the
//      set it names is used when iconv reads it (kDetected). GB2312 and GBK
//      are read as GB18030, EUC-KR as CP949, ISO-8859-1 as WINDOWS-1252;
//      when it names UTF-8 the text is UTF-8 with its stray bytes as
//      U+FFFD. Fewer than four bytes beyond ASCII are too few to ask it.
//      When it names GB18030 or BIG5 and the text is valid in both, the
//      one whose reading holds more of the commonest Chinese characters is
//      taken (kCompared when that is not the detector's), and
//      TTextReadInfo::comparison tells the shares;
//   5. without an answer iconv can use: in a locale whose character set is
//      not UTF-8, text valid in that set is read in it (kLocale); else the
//      fallback (kDefaultFallbackEncoding, GB18030, unless named otherwise)
//      reads it (kFallback), and
//      TTextReadInfo::detected keeps an answer that could not be used.
//
// A valid UTF-8 file is read once; the list reader decodes it as UTF-8 as
// it reads and goes over the text again only at the first malformed
// sequence. A named set is used as told; UTF-16LE and UTF-16BE named so
// read the file as the matching mark would. TTextReadInfo tells what was
// used, why, how many malformed sequences became U+FFFD and how many NULs
// the text holds. A NUL (U+0000) is an ordinary character of its line:
//
//   TTextDecoding decoding = TextDecodingNamed("auto", "GB18030");
//   TTextReadInfo info;
//   ReadTextFileAs(lines, "corpus/big5.txt", decoding, nullptr, &info);
//   // info.codeset == "BIG5", info.choice == TReadChoice::kDetected
//   TextDecodingNamed("NO-SUCH-SET");        // raises EUnknownEncoding
//   TextDecodingNamed("UTF-16");             // too: UTF-16LE or UTF-16BE
//
// Reading holds the file's lines and one piece of the file (a line longer
// than the piece as a whole), never all of its bytes or its whole decoded
// text besides; writing hands the stream one small piece at a time.
//
// Errors, each a tallyfold::Exception with a UTF-8 message:
//   EFOpenError   "Cannot open file \"<absolute path>\". <system text>"
//                 also, from a list reader, for a file of 2 GiB or more
//                 ("File too large"; ReadTextLines reads any size), and for
//                 a FIFO, socket or device ("Not a regular file"), which
//                 are refused rather than read in part or waited for
//   EFCreateError "Cannot create file \"<absolute path>\". <system text>"
//                 also for a target that exists but may not be written
//   EWriteError   "Cannot write file \"<absolute path>\". <system text>"
//                 for a file; "Stream write error" for other streams
//                 (a write that could not be completed)
//   EReadError    "Stream read error"   (the system failed a read)
//   ECancelled    when the caller's cancel flag stops a read or a write
//   EUnknownEncoding  "unknown encoding 'NAME'; use ..." from
//                 TextDecodingNamed, naming some of the valid names;
//                 "unsupported encoding 'NAME'; ..." for a set iconv has
//                 but whose lines cannot be told in its bytes (UTF-16 with
//                 no byte order named, UCS-2, UTF-32, UTF-7)
// A failed open, create or read leaves the list unchanged; a failed or
// cancelled WriteTextFile leaves the previous file byte for byte as it was.
//
// Writing to a path replaces a regular file (or the file a link names) as a
// whole, and creates a missing one; a FIFO, socket or device, and the
// process's own descriptors (/dev/stdout, /dev/fd/N), are written straight
// through instead, so that they are never replaced by a file. The new file
// has no name until it is complete (ReplacementFile in platform/File.h), so
// a process killed while writing leaves nothing beside the old one; where
// the file system cannot make such a file, what a killed writer left is
// removed by the next write of the same file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/File.h"
#include "text/StringList.h"

namespace tallyfold {

enum TTextEncoding { teAnsi, teUtf16LE, teUtf16BE, teUtf8, teUtf32LE, teUtf32BE };

class EFOpenError : public Exception {
 public:
  explicit EFOpenError(const std::string& message) : Exception(message) {}
};

class EFCreateError : public Exception {
 public:
  explicit EFCreateError(const std::string& message) : Exception(message) {}
};

class EWriteError : public Exception {
 public:
  EWriteError() : Exception("Stream write error") {}
  explicit EWriteError(const std::string& message) : Exception(message) {}
};

class EReadError : public Exception {
 public:
  EReadError() : Exception("Stream read error") {}
  explicit EReadError(const std::string& message) : Exception(message) {}
};

// A sequence of bytes with a position. Reads may return fewer bytes than
// asked only at the end; writes transfer everything or raise EWriteError.
class TStream {
 public:
  virtual ~TStream() = default;

  virtual std::int64_t Size() const = 0;
  virtual std::int64_t Position() const = 0;
  virtual void SetPosition(std::int64_t position) = 0;
  // Returns the number of bytes read; 0 at the end.
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual void Write(const void* buffer, std::int64_t count) = 0;

  void MoveBack(std::int64_t count) { SetPosition(Position() - count); }
};

// A stream over bytes held in memory, for tests and for building files.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}

  const std::string& Bytes() const { return bytes_; }

  std::int64_t Size() const override;
  std::int64_t Position() const override { return position_; }
  void SetPosition(std::int64_t position) override;
  std::int64_t Read(void* buffer, std::int64_t count) override;
  void Write(const void* buffer, std::int64_t count) override;

 private:
  std::string bytes_;          // the contents
  std::int64_t position_ = 0;  // next byte read or written
};

enum class TFileAccess {
  OpenRead,  // existing file, read only; others may read but not write
  Create,    // created or truncated, read and write; nobody else may open it
};

// A file opened by path for the length of one read or write. Opening fails
// with EFOpenError, creating with EFCreateError.
class TUnicodeFileStream : public TStream {
 public:
  TUnicodeFileStream(const std::u16string& path, TFileAccess access);
  TUnicodeFileStream(const std::string& native_path, TFileAccess access);
  // Takes over a file the caller has already opened; `native_path` is the
  // name its errors give.
  TUnicodeFileStream(PosixFile file, std::string native_path);

  // Forces the written bytes to the disk (a regular file only) and closes
  // the file; EWriteError when either fails. The destructor closes silently.
  void Commit();

  std::int64_t Size() const override;
  // The file's size and time of its last change now; false when the
  // system cannot tell them.
  bool Stamp(FileStamp& stamp) const { return file_.Stamp(stamp) == 0; }
  std::int64_t Position() const override { return position_; }
  void SetPosition(std::int64_t position) override;
  std::int64_t Read(void* buffer, std::int64_t count) override;
  void Write(const void* buffer, std::int64_t count) override;

 private:
  static constexpr std::int64_t kWritebackBytes = std::int64_t{8} << 20;

  [[noreturn]] void RaiseWriteError(int error) const;

  PosixFile file_;                 // the open file
  std::string path_;               // the name errors give
  std::int64_t position_ = 0;      // mirrors the descriptor's offset
  std::int64_t written_back_ = 0;  // bytes before this were sent to the disk
};

// Writes text the way a list's WriteTextStream does, one line at a time:
// the mark FF FE when made, then each line in UTF-16 LE followed by CR LF.
// A line may be given in pieces, so a caller producing millions of lines
// need not build a string for each. Bytes reach the stream in pieces of at
// most 1 MiB; Flush hands over the rest and must end the writing. With
// `background`, a thread of the writer's own hands the pieces to the stream
// while the next is being filled; a failure of the stream is then raised by
// a later WriteLine or by Flush. When `cancel` is given, the writer looks at
// it before each piece it hands over and raises ECancelled once it is set.
class TTextWriter {
 public:
  explicit TTextWriter(TStream& stream, bool background = false,
                       const std::atomic<bool>* cancel = nullptr);
  ~TTextWriter();
  TTextWriter(const TTextWriter&) = delete;
  TTextWriter& operator=(const TTextWriter&) = delete;

  void WriteLine(std::initializer_list<std::u16string_view> pieces);
  void Flush();

 private:
  static constexpr std::size_t kPieceUnits = std::size_t{1} << 19;
  struct Background;

  void Append(const char16_t* text, std::size_t size);
  void HandOver();  // passes the full buffer on to the stream

  TStream& stream_;
  std::unique_ptr<char16_t[]> buffer_;      // kPieceUnits units
  std::size_t filled_ = 0;                  // units waiting in buffer_
  std::unique_ptr<Background> background_;  // null: the writer writes itself
  const std::atomic<bool>* cancel_;         // may be null
};

// Writes the file at `native_path` as WriteTextFile does, with the lines
// that `write` gives the writer: into a new file beside it that replaces it
// only when complete. Whatever `write` throws leaves the old file as it was
// and is passed on; so does a cancel, seen between the pieces written and
// once more just before the new file takes the old one's place. A stream
// target (see above) gets the lines as they come.
void WriteTextFileWith(const std::string& native_path,
                       const std::function<void(TTextWriter& writer)>& write,
                       const std::atomic<bool>* cancel = nullptr);

// The same for bytes of any kind: `write` writes them to the stream it is
// given (a TTextWriter over it writes text), with the same replacement,
// streams and errors as WriteTextFileWith.
void WriteFileWith(const std::string& native_path,
                   const std::function<void(TStream& stream)>& write,
                   const std::atomic<bool>* cancel = nullptr);

class EUnknownEncoding : public Exception {
 public:
  explicit EUnknownEncoding(const std::string& message) : Exception(message) {}
};

// How the text of a file without a byte-order mark is decoded.
enum class TDecodingKind {
  Locale,    // in the system code page (SystemCodePage())
  CodePage,  // in `code_page`
  Auto,      // UTF-8 if the whole text is valid UTF-8, otherwise what the
             // detector names, the locale's set, or `code_page` (above)
};

struct TTextDecoding {
  TDecodingKind kind = TDecodingKind::Locale;
  // CodePage: the character set of the text; Auto: the fallback.
  TCodePage code_page{"UTF-8"};
};

// The legacy character sets the front ends offer by name for text without a
// mark (the window's menus, the command line's help and messages), as iconv
// names them.
inline constexpr const char* kLegacyEncodings[] = {"GB18030", "BIG5", "SHIFT_JIS", "EUC-KR",
                                                   "WINDOWS-1252"};

// The one "auto" falls back to unless told otherwise: the first of them.
inline constexpr const char* kDefaultFallbackEncoding = kLegacyEncodings[0];

// The decoding `encoding` names: "auto" (falling back to `fallback`),
// "locale", or a character set (IsKnownCodeset: "UTF-8", "GB18030", "BIG5",
// "UTF-16LE", ...). `fallback` is "locale" or a character set that keeps
// ASCII as it is. Names are compared without regard to case. Raises
// EUnknownEncoding for a name that is none of these, and for a set whose
// lines cannot be told in its bytes ("UTF-16", "UCS-2", "UTF-32LE", ...).
TTextDecoding TextDecodingNamed(const std::string& encoding,
                                const std::string& fallback = kDefaultFallbackEncoding);

// Why a file was read in the character set it was read in.
enum class TReadChoice {
  kMark,       // its byte-order mark
  kNamed,      // the decoding named it ("locale" or a character set)
  kUtf8,       // automatic: the whole text is valid UTF-8
  kUtf8Strays, // automatic: UTF-8 but for a few stray bytes
  kZeroBytes,  // automatic: UTF-16 or UTF-32, told by its zero bytes
  kCompared,   // automatic: GB18030 or BIG5 by their common characters,
               // against the detector's answer
  kLocale,     // automatic: valid in the locale's character set (not UTF-8)
  kDetected,   // automatic: the encoding detector named it
  kFallback,   // automatic: the detector had no answer iconv can use
};

// What the choice between GB18030 and BIG5 measured (TReadChoice::kCompared):
// of the characters beyond ASCII each reading gives, the share, in
// thousandths, that are among the commonest Chinese characters.
struct TSetComparison {
  std::string chosen;  // the set read in
  int chosen_share = 0;
  std::string other;   // the set it was held against
  int other_share = 0;
  std::string detected;  // what the detector named, one of the two
};

// How a file was read.
struct TTextReadInfo {
  TTextEncoding mark = teAnsi;  // the byte-order mark found; teAnsi: none
  // The character set the text was decoded in: "UTF-16LE", "UTF-16BE",
  // "UTF-32LE", "UTF-32BE", "UTF-8" or a code page's name.
  std::string codeset;
  // The sequences not valid in it, each decoded as one U+FFFD.
  std::size_t malformed = 0;
  // The U+0000 characters of the text (each an ordinary character of its
  // line).
  std::size_t nuls = 0;
  // The UTF-16 code units of the text, line ends not counted: the lengths
  // of its lines added up, also of lines a needle let the reader pass over
  // (text/TextLines.h).
  std::int64_t units = 0;
  TReadChoice choice = TReadChoice::kMark;
  // With kFallback: the detector's answer when it named a character set
  // iconv does not have; empty otherwise.
  std::string detected;
  // With kCompared, and kDetected when the detector's GB18030 or BIG5 was
  // held against the other: what was measured; empty names otherwise.
  TSetComparison comparison;
  // The file's size or time of its last change at the end of its reading
  // was not what it was at the start: it was written to (cut short, grown,
  // rewritten) while it was read, and its lines may be partly old, partly
  // new or missing.
  bool changed = false;
  // A regular file whose size was 0 but which gave bytes when read, as the
  // system's own files do (/proc, /sys): read as the empty file its size
  // says it is.
  bool sizeless = false;
};

// Reads a file or the rest of a stream into `list` as ReadTextFile and
// ReadTextStream do, but decodes text without a mark as `decoding` says;
// `info`, when given, receives how it was read. The list keeps its pair
// separator; a failed or cancelled read leaves it as it was.
void ReadTextFileAs(TUnicodeStringList& list, const std::string& native_path,
                    const TTextDecoding& decoding, const std::atomic<bool>* cancel = nullptr,
                    TTextReadInfo* info = nullptr);
void ReadTextStreamAs(TUnicodeStringList& list, TStream& stream, const TTextDecoding& decoding,
                      const std::atomic<bool>* cancel = nullptr, TTextReadInfo* info = nullptr);

// A byte-order mark: the encoding it names and its length in bytes.
struct TByteOrderMark {
  TTextEncoding encoding;  // teAnsi: there is no mark
  int length;              // 0, 2, 3 or 4
};

// The mark at the start of `head` (its first eight bytes are enough): FF FE
// is UTF-16 LE, FE FF UTF-16 BE, EF BB BF UTF-8, 00 00 FE FF UTF-32 BE.
// FF FE 00 00 is UTF-32 LE when the four bytes after it are a UTF-32 LE
// character (a value up to U+10FFFF, no surrogate), and UTF-16 LE (a mark
// and a NUL) otherwise. Without a mark, {teAnsi, 0}.
TByteOrderMark SniffByteOrderMark(std::string_view head);

// Recognises a byte-order mark at the stream's position (SniffByteOrderMark)
// and consumes it; without one the position is unchanged and the result is
// teAnsi.
TTextEncoding DetectTextEncoding(TStream& stream);

// Standard UTF-8 decoding: characters beyond U+FFFF become surrogate pairs,
// each maximal invalid subpart becomes one U+FFFD and the rest is kept.
std::u16string Utf8ToWide(const std::string& bytes);

}  // namespace tallyfold
