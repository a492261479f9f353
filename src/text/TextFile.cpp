// Text files: the streams, encoding detection, reading a file into a list
// and writing a list out safely.
//
// This file's external interface is TextFile.h and the file operations of
// TUnicodeStringList; tests/text/TextFileTest.cpp covers it.
#include "text/TextFile.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Simd.h"
#include "text/TextInternal.h"
#include "text/WideHelpers.h"

namespace tallyfold {

namespace {

using text_internal::DecodeInSlices;
using text_internal::MalformedTally;
using text_internal::NotInThisCharacterSet;
using text_internal::Utf8SliceEnd;

constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

// Messages are UTF-8; paths and system texts are in the system code page.
std::string ToUtf8(const std::string& native) {
  return Utf8Encode(AnsiToWide(native));
}

std::string FileErrorMessage(const char* what, const std::string& path,
                             int error) {
  std::string shown = AbsolutePath(path);
  // A name that ends in "/" is shown so, as that can be what is wrong.
  if (path.ends_with('/') && !shown.ends_with('/')) shown += '/';
  return std::string(what) + " \"" + ToUtf8(shown) + "\". " + ToUtf8(SystemErrorText(error));
}

[[noreturn]] void RaiseOpenError(const std::string& path, int error) {
  throw EFOpenError(FileErrorMessage("Cannot open file", path, error));
}

[[noreturn]] void RaiseCreateError(const std::string& path, int error) {
  throw EFCreateError(FileErrorMessage("Cannot create file", path, error));
}

void SwapBytes(char16_t* units, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    units[i] = static_cast<char16_t>((units[i] << 8) | (units[i] >> 8));
}

void SwapBytes(char32_t* units, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const char32_t unit = units[i];
    units[i] = (unit << 24) | ((unit & 0xFF00) << 8) | ((unit >> 8) & 0xFF00) | (unit >> 24);
  }
}

// Reads until `count` bytes are in or the stream ends; returns the number.
std::int64_t ReadUpTo(TStream& stream, void* buffer, std::int64_t count) {
  auto* out = static_cast<char*>(buffer);
  std::int64_t got = 0;
  while (got < count) {
    const std::int64_t n = stream.Read(out + got, count - got);
    if (n <= 0) break;
    got += n;
  }
  return got;
}

// A list holds a file's lines whole and counts them in an int, so a file of
// this size or more is refused by the list readers rather than read in
// part. The line reader (ReadTextLines) reads files of any size.
constexpr std::int64_t kMaxListFileBytes = INT32_MAX;

// Opens a file for a list reader, refusing one too large for a list.
TUnicodeFileStream OpenForList(const std::string& native_path) {
  TUnicodeFileStream stream(native_path, TFileAccess::OpenRead);
  if (stream.Size() > kMaxListFileBytes) RaiseOpenError(native_path, EFBIG);
  return stream;
}

// Lines of UTF-8 up to this many bytes are decoded into one reused buffer
// and copied out at their exact length; a longer one is decoded straight
// into its entry.
constexpr std::size_t kScratchUnits = std::size_t{1} << 16;

// Appends one line of UTF-16. A long one is copied a slice at a time, so a
// cancel is seen while it is copied.
void AppendWideLine(TUnicodeStringList& list, const char16_t* begin, const char16_t* end,
                    const std::atomic<bool>* cancel, std::size_t slice_units) {
  const auto length = static_cast<std::size_t>(end - begin);
  if (length <= slice_units) {
    list.AppendItem(std::u16string(begin, end));
    return;
  }
  std::u16string line;
  line.reserve(length);
  for (const char16_t* p = begin; p < end;) {
    ThrowIfCancelled(cancel);
    const std::size_t n = std::min(slice_units, static_cast<std::size_t>(end - p));
    line.append(p, n);
    p += n;
  }
  list.AppendItem(std::move(line));
}

// Appends one line of UTF-8. Splitting the bytes before decoding gives the
// same lines as decoding first: CR, LF and NUL are single bytes that never
// belong to a longer sequence, and a broken sequence in front of one of
// them ends there.
void AppendUtf8Line(TUnicodeStringList& list, const char* begin, const char* end,
                    std::vector<char16_t>& scratch, const std::atomic<bool>* cancel,
                    std::size_t slice_bytes, MalformedTally& tally) {
  const auto length = static_cast<std::size_t>(end - begin);
  if (length <= kScratchUnits && length <= slice_bytes) {
    if (scratch.size() < length) scratch.resize(kScratchUnits);
    const std::size_t units = Utf8DecodeInto(begin, length, scratch.data(), tally.count);
    tally.Check();
    list.AppendItem(std::u16string(scratch.data(), units));
    return;
  }
  // Decoded straight into the entry a slice at a time, with a look at the
  // cancel flag before each. The room reserved is the most the line can
  // take (never more units than bytes), and only the slice being decoded is
  // filled in beforehand, so no more of it is touched than the text needs.
  std::u16string line;
  line.reserve(length);
  for (const char* p = begin; p < end;) {
    ThrowIfCancelled(cancel);
    const auto left = static_cast<std::size_t>(end - p);
    const std::size_t take = left > slice_bytes ? Utf8SliceEnd(p, left, slice_bytes) : left;
    const std::size_t at = line.size();
    line.resize(at + take);
    line.resize(at + Utf8DecodeInto(p, take, line.data() + at, tally.count));
    tally.Check();
    p += take;
  }
  // A line that shrank much (CJK takes three bytes a unit) gives back the
  // room it does not need, when that copy is short. A longer one is an
  // allocation mapped on its own, whose pages never written cost nothing.
  if (line.size() <= slice_bytes && line.capacity() - line.size() > line.size() / 8)
    line.shrink_to_fit();
  list.AppendItem(std::move(line));
}

// The length of the front of [data, data + size) that holds whole lines: up
// to just after the last line end that is settled. A CR as the last unit is
// not, since an LF may follow in the next piece.
template <typename Unit>
std::size_t WholeLinesLength(const Unit* data, std::size_t size) {
  std::size_t end = size;
  if (end > 0 && data[end - 1] == '\r') --end;
  while (end > 0 && data[end - 1] != '\n' && data[end - 1] != '\r') --end;
  return end;
}

// Reads `units` more units of Unit from the stream, a piece at a time, and
// hands each run of whole lines to emit(begin, size), the last run at the
// end of the text whether or not it ends in a line end. Only the text not
// yet handed on is held, which is one piece unless a line is longer. A
// stream that ends early ends the text there. A cancel is looked for before
// each piece is read.
template <typename Unit, typename Emit>
void ReadPieces(TStream& stream, std::int64_t units, std::size_t piece_units, bool swap_bytes,
                const std::atomic<bool>* cancel, Emit emit) {
  piece_units = std::max<std::size_t>(piece_units, 1);
  struct Free {
    void operator()(Unit* units) const { std::free(units); }
  };
  std::unique_ptr<Unit[], Free> data;
  std::size_t capacity = 0;
  std::size_t filled = 0;  // units held that are not yet handed on
  bool ended = false;
  while (!ended) {
    ThrowIfCancelled(cancel);
    const auto want = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(piece_units), units));
    if (capacity - filled < want) {
      // Doubling keeps a long line's copying linear; what is left of the
      // stream caps it.
      const std::size_t most = filled + static_cast<std::size_t>(units);
      // A large block is moved by remapping its pages rather than copied, so
      // a long line's growth takes no time to speak of between two pieces.
      const std::size_t grown = std::max(filled + want, std::min(capacity * 2, most));
      void* bigger = std::realloc(data.get(), grown * sizeof(Unit));
      if (bigger == nullptr) throw std::bad_alloc();
      data.release();
      data.reset(static_cast<Unit*>(bigger));
      capacity = grown;
    }
    const std::size_t held = filled;
    Unit* const fresh = data.get() + held;
    const auto got = static_cast<std::size_t>(
        ReadUpTo(stream, fresh, static_cast<std::int64_t>(want * sizeof(Unit))) /
        static_cast<std::int64_t>(sizeof(Unit)));
    units -= static_cast<std::int64_t>(got);
    ended = got < want || units == 0;
    if constexpr (sizeof(Unit) > 1) {
      if (swap_bytes) SwapBytes(fresh, got);
    }
    filled += got;

    // What was held has no line end but perhaps a last CR, so only that CR
    // and the fresh units need looking at: a long line is not searched
    // again with every piece.
    std::size_t whole = filled;
    if (!ended) {
      const std::size_t from = held > 0 ? held - 1 : 0;
      const std::size_t found = WholeLinesLength(data.get() + from, filled - from);
      whole = found > 0 ? from + found : 0;
    }
    if (whole == 0) continue;
    emit(data.get(), whole);
    filled -= whole;
    if (filled > 0) std::memmove(data.get(), data.get() + whole, filled * sizeof(Unit));
  }
}

}  // namespace

void text_internal::ReadByteRuns(TStream& stream, std::int64_t bytes, std::size_t piece_bytes,
                                 const std::atomic<bool>* cancel,
                                 const std::function<void(const char*, std::size_t)>& emit) {
  ReadPieces<char>(stream, bytes, piece_bytes, false, cancel, emit);
}

void text_internal::AppendUtf32(char32_t value, std::u16string& out, std::size_t& malformed) {
  if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    out += u'\uFFFD';
    ++malformed;
  } else if (value > 0xFFFF) {
    out += static_cast<char16_t>(0xD7C0 + (value >> 10));
    out += static_cast<char16_t>(0xDC00 | (value & 0x3FF));
  } else {
    out += static_cast<char16_t>(value);
  }
}

void text_internal::DecodeWideBytes(const char* bytes, std::size_t size, TTextEncoding encoding,
                                    std::u16string& out, std::size_t& malformed) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  const bool big_endian = encoding == teUtf16BE || encoding == teUtf32BE;
  out.clear();
  if (encoding == teUtf16LE || encoding == teUtf16BE) {
    out.resize(size / 2);
    for (std::size_t i = 0; i < size / 2; ++i) {
      const unsigned first = b[2 * i];
      const unsigned second = b[2 * i + 1];
      out[i] = static_cast<char16_t>(big_endian ? first << 8 | second : second << 8 | first);
    }
    if (size % 2 != 0) ++malformed;
    return;
  }
  out.reserve(size / 4);
  for (std::size_t i = 0; i + 4 <= size; i += 4) {
    const char32_t value =
        big_endian ? char32_t{b[i]} << 24 | char32_t{b[i + 1]} << 16 | char32_t{b[i + 2]} << 8 | b[i + 3]
                   : char32_t{b[i + 3]} << 24 | char32_t{b[i + 2]} << 16 | char32_t{b[i + 1]} << 8 | b[i];
    AppendUtf32(value, out, malformed);
  }
  if (size % 4 != 0) ++malformed;
}

void text_internal::ReadWideTextRuns(
    TStream& stream, TTextEncoding encoding, std::int64_t bytes, std::size_t piece_bytes,
    const std::atomic<bool>* cancel, std::size_t& malformed,
    const std::function<void(const char16_t*, std::size_t, bool)>& emit) {
  const bool big_endian = encoding == teUtf16BE || encoding == teUtf32BE;
  const bool swap_bytes = big_endian == kLittleEndianHost;
  if (encoding == teUtf16LE || encoding == teUtf16BE) {
    std::int64_t units = bytes / 2;
    ReadPieces<char16_t>(stream, units, piece_bytes / 2, swap_bytes, cancel,
                         [&](const char16_t* text, std::size_t size) {
                           units -= static_cast<std::int64_t>(size);
                           emit(text, size, units == 0);
                         });
    if (bytes % 2 != 0) ++malformed;
    return;
  }
  std::int64_t units = bytes / 4;
  std::u16string converted;
  ReadPieces<char32_t>(stream, units, piece_bytes / 4, swap_bytes, cancel,
                       [&](const char32_t* text, std::size_t size) {
                         converted.clear();
                         for (std::size_t i = 0; i < size; ++i)
                           AppendUtf32(text[i], converted, malformed);
                         units -= static_cast<std::int64_t>(size);
                         emit(converted.data(), converted.size(), units == 0);
                       });
  if (bytes % 4 != 0) ++malformed;
}

std::string text_internal::WideEncodingName(TTextEncoding encoding) {
  switch (encoding) {
    case teUtf16LE: return "UTF-16LE";
    case teUtf16BE: return "UTF-16BE";
    case teUtf32LE: return "UTF-32LE";
    case teUtf32BE: return "UTF-32BE";
    case teAnsi:
    case teUtf8: break;
  }
  return std::string();
}

TTextEncoding text_internal::SniffWideStream(TStream& stream, std::int64_t remaining) {
  const std::int64_t start = stream.Position();
  std::string head(static_cast<std::size_t>(
                       std::min<std::int64_t>(remaining, static_cast<std::int64_t>(kWideSniffBytes))),
                   '\0');
  head.resize(static_cast<std::size_t>(ReadUpTo(stream, head.data(),
                                                static_cast<std::int64_t>(head.size()))));
  stream.SetPosition(start);
  return SniffWideText(head.data(), head.size());
}

// ---- TMemoryStream ----

std::int64_t TMemoryStream::Size() const {
  return static_cast<std::int64_t>(bytes_.size());
}

void TMemoryStream::SetPosition(std::int64_t position) {
  position_ = std::max<std::int64_t>(position, 0);
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  // The bytes held, not Size(), which a derived stream may report otherwise.
  const std::int64_t size = static_cast<std::int64_t>(bytes_.size());
  const std::int64_t available = std::max<std::int64_t>(size - position_, 0);
  const std::int64_t n = std::clamp<std::int64_t>(count, 0, available);
  if (n > 0) std::memcpy(buffer, bytes_.data() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

void TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return;
  const auto end = static_cast<std::size_t>(position_ + count);
  if (bytes_.size() < end) bytes_.resize(end);
  std::memcpy(bytes_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ += count;
}

// ---- TUnicodeFileStream ----

TUnicodeFileStream::TUnicodeFileStream(const std::u16string& path,
                                       TFileAccess access)
    : TUnicodeFileStream(WideToAnsi(path), access) {}

TUnicodeFileStream::TUnicodeFileStream(const std::string& native_path,
                                       TFileAccess access)
    : path_(native_path) {
  if (access == TFileAccess::OpenRead) {
    if (const int error = PosixFile::OpenForReading(native_path, file_))
      RaiseOpenError(native_path, error);
  } else {
    if (const int error = PosixFile::Create(native_path, file_))
      RaiseCreateError(native_path, error);
  }
}

TUnicodeFileStream::TUnicodeFileStream(PosixFile file, std::string native_path)
    : file_(std::move(file)), path_(std::move(native_path)) {}

void TUnicodeFileStream::RaiseWriteError(int error) const {
  throw EWriteError(FileErrorMessage("Cannot write file", path_, error));
}

void TUnicodeFileStream::Commit() {
  // A pipe or a terminal cannot be synced; its bytes are with the reader.
  const int sync_error = file_.IsRegular() ? file_.Sync() : 0;
  const int close_error = file_.Close();
  if (sync_error != 0) RaiseWriteError(sync_error);
  if (close_error != 0) RaiseWriteError(close_error);
}

std::int64_t TUnicodeFileStream::Size() const {
  std::int64_t size = 0;
  if (file_.Size(size) != 0) throw EReadError();
  return size;
}

void TUnicodeFileStream::SetPosition(std::int64_t position) {
  position = std::max<std::int64_t>(position, 0);
  if (file_.Seek(position) != 0) throw EReadError();
  position_ = position;
}

std::int64_t TUnicodeFileStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  std::size_t got = 0;
  if (file_.Read(buffer, static_cast<std::size_t>(count), got) != 0)
    throw EReadError();
  position_ += static_cast<std::int64_t>(got);
  return static_cast<std::int64_t>(got);
}

void TUnicodeFileStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return;
  std::size_t written = 0;
  const int error = file_.Write(buffer, static_cast<std::size_t>(count), written);
  position_ += static_cast<std::int64_t>(written);
  if (error != 0) RaiseWriteError(error);
  // The disk takes what is written while the rest is still being made, so
  // that the sync at the end does not wait for a large file whole.
  if (position_ - written_back_ >= kWritebackBytes) {
    file_.StartWriteback(written_back_, position_ - written_back_);
    written_back_ = position_;
  }
}

// ---- Encoding detection and decoding ----

TByteOrderMark SniffByteOrderMark(std::string_view head) {
  const auto byte = [head](std::size_t i) { return static_cast<unsigned char>(head[i]); };
  if (head.size() >= 4 && byte(0) == 0 && byte(1) == 0 && byte(2) == 0xFE && byte(3) == 0xFF)
    return {teUtf32BE, 4};
  if (head.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
    // FF FE 00 00 is also UTF-16 LE's mark before a NUL: UTF-32 only when a
    // UTF-32 character follows.
    if (head.size() >= 8 && byte(2) == 0 && byte(3) == 0 &&
        text_internal::IsUtf32Character(head.data() + 4, false))
      return {teUtf32LE, 4};
    return {teUtf16LE, 2};
  }
  if (head.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) return {teUtf16BE, 2};
  if (head.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF)
    return {teUtf8, 3};
  return {teAnsi, 0};
}

TTextEncoding DetectTextEncoding(TStream& stream) {
  char head[8];
  const std::int64_t left = stream.Size() - stream.Position();
  const std::int64_t n = left < 2 ? 0 : ReadUpTo(stream, head, std::min<std::int64_t>(left, 8));
  const TByteOrderMark mark =
      SniffByteOrderMark(std::string_view(head, static_cast<std::size_t>(n)));
  stream.MoveBack(n - mark.length);
  return mark.encoding;
}

std::u16string Utf8ToWide(const std::string& bytes) { return Utf8Decode(bytes); }

// ---- Reading and writing lists ----

namespace {

// Ends a pass over the text that has learnt what it was after.
struct StopPass {};

// The lines of the next `remaining` bytes of the stream: UTF-16 or UTF-32
// for the wide encodings, otherwise text in `page`. Adds the malformed
// sequences to `tally`, and gives up at the first when it is strict; adds
// the 0 units of the text to `nuls`.
TUnicodeStringList DecodeLines(TStream& stream, std::int64_t remaining, TTextEncoding encoding,
                               const TCodePage& page, std::size_t piece_bytes,
                               const std::atomic<bool>* cancel, std::size_t slice_bytes,
                               MalformedTally& tally, std::size_t& nuls) {
  slice_bytes = std::max<std::size_t>(slice_bytes, 2);
  const std::size_t slice_units = slice_bytes / 2;
  TUnicodeStringList lines;
  auto append_lines = [&](const char16_t* text, std::size_t size) {
    text_internal::ForEachLine(text, size, [&](const char16_t* begin, const char16_t* end) {
      AppendWideLine(lines, begin, end, cancel, slice_units);
    });
  };

  if (text_internal::IsWideEncoding(encoding)) {
    text_internal::ReadWideTextRuns(stream, encoding, remaining, piece_bytes, cancel, tally.count,
                                    [&](const char16_t* text, std::size_t size, bool) {
                                      nuls += simd::CountZeros(text, size);
                                      append_lines(text, size);
                                    });
  } else if (page.IsUtf8()) {
    std::vector<char16_t> scratch;
    ReadPieces<char>(stream, remaining, piece_bytes, false, cancel,
                     [&](const char* text, std::size_t size) {
                       nuls += simd::CountZeros(text, size);
                       text_internal::ForEachLine(
                           text, size, [&](const char* begin, const char* end) {
                             AppendUtf8Line(lines, begin, end, scratch, cancel, slice_bytes,
                                            tally);
                           });
                     });
  } else {
    // The code page's line ends and 0 are single bytes too (a character set
    // is read line by line only when it keeps ASCII as it is), so whole
    // lines decode alike on their own and within the whole text; a long run
    // of them is decoded in slices that end where the decoder starts afresh
    // anyway.
    ReadPieces<char>(stream, remaining, piece_bytes, false, cancel,
                     [&](const char* text, std::size_t size) {
                       nuls += simd::CountZeros(text, size);
                       std::u16string decoded;
                       DecodeInSlices(page, text, size, slice_bytes, cancel, decoded, tally);
                       append_lines(decoded.data(), decoded.size());
                     });
  }
  return lines;
}

}  // namespace

TUnicodeStringList text_internal::ReadLines(TStream& stream, TTextEncoding encoding,
                                            const TCodePage& ansi, std::size_t piece_bytes,
                                            const std::atomic<bool>* cancel,
                                            std::size_t slice_bytes) {
  return ReadLines(stream, encoding, TTextDecoding{TDecodingKind::Locale, ansi}, ansi,
                   piece_bytes, cancel, slice_bytes);
}

TUnicodeStringList text_internal::ReadLines(TStream& stream, TTextEncoding encoding,
                                            const TTextDecoding& decoding,
                                            const TCodePage& locale, std::size_t piece_bytes,
                                            const std::atomic<bool>* cancel,
                                            std::size_t slice_bytes, TTextReadInfo* info) {
  const std::int64_t start = stream.Position();
  const std::int64_t remaining = std::max<std::int64_t>(stream.Size() - start, 0);
  static const TCodePage kUtf8("UTF-8");

  std::size_t nuls = 0;
  TSetComparison comparison;
  auto read = [&](TTextEncoding as, const TCodePage& page, bool strict, TReadChoice choice,
                  const std::string& detected) {
    MalformedTally tally{0, strict};
    nuls = 0;
    TUnicodeStringList lines = DecodeLines(stream, remaining, as, page, piece_bytes, cancel,
                                           slice_bytes, tally, nuls);
    if (info != nullptr) {
      info->codeset = text_internal::IsWideEncoding(as) ? text_internal::WideEncodingName(as)
                                                        : page.Name();
      info->malformed = tally.count;
      info->nuls = nuls;
      info->units = 0;
      for (int i = 0; i < lines.ItemCount(); ++i)
        info->units += static_cast<std::int64_t>(lines.ItemRef(i).size());
      info->choice = choice;
      info->detected = detected;
      info->comparison = comparison;
    }
    return lines;
  };

  // A mark decides; so does UTF-16 named as the decoding.
  if (encoding != teAnsi) return read(encoding, kUtf8, false, TReadChoice::kMark, "");
  if (decoding.kind == TDecodingKind::CodePage) {
    if (const TTextEncoding wide = WideEncodingOf(decoding.code_page); wide != teAnsi)
      return read(wide, kUtf8, false, TReadChoice::kNamed, "");
  }
  bool known_not_utf8 = false;
  if (decoding.kind == TDecodingKind::Auto) {
    // Read as UTF-8 straight away and given up at the first malformed
    // sequence, so a UTF-8 file is read once. UTF-16 and UTF-32 are told by
    // their zero bytes before any other set is thought of; UTF-16 of ASCII
    // alone is valid UTF-8, NULs and all, so valid UTF-8 with NULs is looked
    // at for them too.
    try {
      TUnicodeStringList lines = read(teAnsi, kUtf8, true, TReadChoice::kUtf8, "");
      if (nuls == 0) return lines;
      const std::int64_t end = stream.Position();
      stream.SetPosition(start);
      if (const TTextEncoding wide = text_internal::SniffWideStream(stream, remaining);
          wide != teAnsi)
        return read(wide, kUtf8, false, TReadChoice::kZeroBytes, "");
      stream.SetPosition(end);
      return lines;
    } catch (const NotInThisCharacterSet&) {
      known_not_utf8 = true;
    }
    stream.SetPosition(start);
    if (const TTextEncoding wide = text_internal::SniffWideStream(stream, remaining);
        wide != teAnsi)
      return read(wide, kUtf8, false, TReadChoice::kZeroBytes, "");
  }
  // Each pass the choice makes reads the text again from its start.
  const text_internal::TextPass pass = [&](const text_internal::TextVisit& visit) {
    stream.SetPosition(start);
    try {
      ReadPieces<char>(stream, remaining, piece_bytes, false, cancel,
                       [&](const char* text, std::size_t size) {
                         if (!visit(text, size)) throw StopPass();
                       });
    } catch (const StopPass&) {
    }
  };
  const text_internal::CharacterSetChoice chosen =
      text_internal::ChooseCharacterSet(decoding, locale, pass, cancel, known_not_utf8);
  stream.SetPosition(start);
  comparison = chosen.comparison;
  return read(teAnsi, chosen.page, false, chosen.choice, chosen.detected);
}

void TUnicodeStringList::ReadTextStream(TStream& stream, const std::atomic<bool>* cancel) {
  const TTextEncoding encoding = DetectTextEncoding(stream);
  // The lines are gathered apart and take the place of the old ones only
  // when all is read, so a failed or cancelled read leaves the list as it
  // was.
  TUnicodeStringList lines = text_internal::ReadLines(stream, encoding, SystemCodePage(),
                                                      text_internal::kReadPieceBytes, cancel);
  items_.swap(lines.items_);
  capacity_ = lines.capacity_;
}

namespace {

// Upper case without '-' and '_', as character-set names are compared.
std::string FoldedUpper(const std::string& name) {
  std::string folded;
  for (const char c : name) {
    if (c == '-' || c == '_') continue;
    folded += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return folded;
}

}  // namespace

TTextDecoding TextDecodingNamed(const std::string& encoding, const std::string& fallback) {
  // "GB18030, BIG5, ... or WINDOWS-1252".
  static const std::string kExamples = [] {
    std::string names;
    const std::size_t count = std::size(kLegacyEncodings);
    for (std::size_t i = 0; i < count; ++i)
      names += (i == 0 ? "" : i + 1 == count ? " or " : ", ") + std::string(kLegacyEncodings[i]);
    return names;
  }();
  auto folded = [](const std::string& name) {
    std::string lower;
    for (const char ch : name) lower += (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch;
    return lower;
  };
  // A set whose text is not read line by line in its bytes (UTF-16 of
  // either byte order but for UTF-16LE and UTF-16BE, which are read as
  // after their mark; UTF-32, UTF-7 and the like) is refused by name.
  auto refuse = [](const std::string& what, const std::string& name) {
    const std::string upper = FoldedUpper(name);
    const bool utf16 = upper.starts_with("UTF16") || upper.starts_with("UCS2") ||
                       upper == "UNICODE" || upper.starts_with("UNICODELITTLE") ||
                       upper.starts_with("UNICODEBIG");
    throw EUnknownEncoding("unsupported " + what + " '" + name + "'; " +
                           (utf16 ? "for UTF-16 text without a byte-order mark use "
                                    "UTF-16LE or UTF-16BE"
                                  : "text in it cannot be read line by line") +
                           "; use utf-8 or a character set such as " + kExamples);
  };
  TTextDecoding decoding;
  if (folded(fallback) == "locale") {
    decoding.code_page = SystemCodePage();
  } else if (IsKnownCodeset(fallback)) {
    decoding.code_page = TCodePage(fallback);
    if (!text_internal::KeepsAscii(decoding.code_page)) refuse("fallback encoding", fallback);
  } else {
    throw EUnknownEncoding("unknown fallback encoding '" + fallback +
                           "'; use locale, utf-8 or a character set such as " + kExamples);
  }
  if (folded(encoding) == "auto") {
    decoding.kind = TDecodingKind::Auto;
  } else if (folded(encoding) == "locale") {
    decoding.kind = TDecodingKind::Locale;
  } else if (IsKnownCodeset(encoding)) {
    decoding.kind = TDecodingKind::CodePage;
    decoding.code_page = TCodePage(encoding);
    if (text_internal::WideEncodingOf(decoding.code_page) == teAnsi &&
        !text_internal::KeepsAscii(decoding.code_page))
      refuse("encoding", encoding);
  } else {
    throw EUnknownEncoding("unknown encoding '" + encoding +
                           "'; use auto, locale, utf-8 or a character set such as " + kExamples);
  }
  return decoding;
}

void ReadTextStreamAs(TUnicodeStringList& list, TStream& stream, const TTextDecoding& decoding,
                      const std::atomic<bool>* cancel, TTextReadInfo* info) {
  const TTextEncoding encoding = DetectTextEncoding(stream);
  TUnicodeStringList lines =
      text_internal::ReadLines(stream, encoding, decoding, SystemCodePage(),
                               text_internal::kReadPieceBytes, cancel,
                               text_internal::kDecodeSliceBytes, info);
  if (info != nullptr) info->mark = encoding;
  lines.SetPairSeparator(list.PairSeparator());
  list = std::move(lines);
}

void ReadTextFileAs(TUnicodeStringList& list, const std::string& native_path,
                    const TTextDecoding& decoding, const std::atomic<bool>* cancel,
                    TTextReadInfo* info) {
  TUnicodeFileStream stream = OpenForList(native_path);
  ReadTextStreamAs(list, stream, decoding, cancel, info);
}

void TUnicodeStringList::ReadTextFile(const std::string& native_path,
                                      const std::atomic<bool>* cancel) {
  TUnicodeFileStream stream = OpenForList(native_path);
  ReadTextStream(stream, cancel);
}

void TUnicodeStringList::ReadTextFile(const std::u16string& path) {
  ReadTextFile(WideToAnsi(path));
}

// The thread of a writer made with `background`: it hands full buffers to
// the stream while the writer fills the next. At most one buffer waits.
struct TTextWriter::Background {
  std::mutex mutex;
  std::condition_variable changed;
  std::unique_ptr<char16_t[]> buffer;  // the buffer being written, or the spare
  std::size_t units = 0;               // units in `buffer` to write
  bool busy = false;                   // `buffer` is being written
  bool stop = false;                   // no more buffers will come
  std::exception_ptr error;            // the first failure of the stream
  std::thread thread;

  void Run(TStream& stream) {
    std::unique_lock lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return busy || stop; });
      if (!busy) return;
      lock.unlock();
      try {
        if (error == nullptr) stream.Write(buffer.get(), static_cast<std::int64_t>(units * 2));
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      busy = false;
      changed.notify_all();
    }
  }
};

TTextWriter::TTextWriter(TStream& stream, bool background, const std::atomic<bool>* cancel)
    : stream_(stream),
      buffer_(std::make_unique_for_overwrite<char16_t[]>(kPieceUnits)),
      cancel_(cancel) {
  static_assert(kPieceUnits * 2 == text_internal::kWritePieceBytes);
  if (background) {
    auto worker = std::make_unique<Background>();
    worker->buffer = std::make_unique_for_overwrite<char16_t[]>(kPieceUnits);
    try {
      worker->thread = std::thread([&stream, state = worker.get()] { state->Run(stream); });
      background_ = std::move(worker);
    } catch (const std::system_error&) {
      // Without a thread the writer writes each buffer itself.
    }
  }
  // U+FEFF, written low byte first, is the mark FF FE.
  Append(u"\uFEFF", 1);
}

TTextWriter::~TTextWriter() {
  if (background_ == nullptr) return;
  {
    std::lock_guard lock(background_->mutex);
    background_->stop = true;
  }
  background_->changed.notify_all();
  background_->thread.join();
}

void TTextWriter::WriteLine(std::initializer_list<std::u16string_view> pieces) {
  for (const std::u16string_view piece : pieces) Append(piece.data(), piece.size());
  Append(u"\r\n", 2);
}

void TTextWriter::HandOver() {
  ThrowIfCancelled(cancel_);
  if (!kLittleEndianHost) SwapBytes(buffer_.get(), filled_);
  if (background_ == nullptr) {
    stream_.Write(buffer_.get(), static_cast<std::int64_t>(filled_ * 2));
    filled_ = 0;
    return;
  }
  std::unique_lock lock(background_->mutex);
  background_->changed.wait(lock, [this] { return !background_->busy; });
  if (background_->error != nullptr) std::rethrow_exception(background_->error);
  buffer_.swap(background_->buffer);
  background_->units = filled_;
  background_->busy = true;
  background_->changed.notify_all();
  filled_ = 0;
}

void TTextWriter::Flush() {
  HandOver();
  if (background_ == nullptr) return;
  std::unique_lock lock(background_->mutex);
  background_->changed.wait(lock, [this] { return !background_->busy; });
  if (background_->error != nullptr) std::rethrow_exception(background_->error);
}

void TTextWriter::Append(const char16_t* text, std::size_t size) {
  while (size > 0) {
    if (filled_ == kPieceUnits) HandOver();
    const std::size_t n = std::min(size, kPieceUnits - filled_);
    std::memcpy(buffer_.get() + filled_, text, n * 2);
    filled_ += n;
    text += n;
    size -= n;
  }
}

void TUnicodeStringList::WriteTextStream(TStream& stream) const {
  TTextWriter writer(stream);
  for (const std::u16string& item : items_) writer.WriteLine({item});
  writer.Flush();
}

namespace {

// Writes to a pipe, socket, device or one of the process's descriptors as
// the lines come: there is nothing there to keep whole, and replacing the
// node with a file would take the place of a device or a reader's pipe.
void WriteThrough(const std::string& native_path, const WriteTarget& target,
                  const std::function<void(TStream& stream)>& write) {
  PosixFile file;
  const int error = target.descriptor >= 0 ? PosixFile::Duplicate(target.descriptor, file)
                                           : PosixFile::OpenStream(target.path, file);
  if (error != 0) RaiseCreateError(native_path, error);
  TUnicodeFileStream stream(std::move(file), native_path);
  write(stream);
  stream.Commit();
}

}  // namespace

void WriteTextFileWith(const std::string& native_path,
                       const std::function<void(TTextWriter& writer)>& write,
                       const std::atomic<bool>* cancel) {
  WriteFileWith(
      native_path,
      [&](TStream& stream) {
        // The file is written on a thread of its own while the lines are
        // made.
        TTextWriter writer(stream, /*background=*/true, cancel);
        write(writer);
        writer.Flush();
      },
      cancel);
}

void WriteFileWith(const std::string& native_path,
                   const std::function<void(TStream& stream)>& write,
                   const std::atomic<bool>* cancel) {
  WriteTarget resolved;
  if (const int error = ResolveWriteTarget(native_path, resolved))
    RaiseCreateError(native_path, error);
  if (resolved.kind == WriteTarget::kStream) {
    WriteThrough(native_path, resolved, write);
    return;
  }
  // The text goes to a new file beside the target, which replaces the target
  // only when complete, so that neither a failure nor the process being
  // killed leaves a damaged file behind. A link is followed so that the file
  // it points to is the one replaced.
  const std::string& target = resolved.path;
  PosixFile lock;
  if (const int error = PosixFile::LockForReplacement(target, lock))
    RaiseCreateError(native_path, error);
  ReplacementFile replacement;
  if (const int error = replacement.Create(target)) RaiseCreateError(native_path, error);
  PosixFile file;
  if (const int error = replacement.OpenWriter(file)) RaiseCreateError(native_path, error);
  // Whatever is thrown until the file is in place leaves the target as it
  // was; the new file goes with `replacement`.
  TUnicodeFileStream stream(std::move(file), native_path);
  write(stream);
  stream.Commit();
  ThrowIfCancelled(cancel);
  if (const int error = replacement.Replace()) RaiseCreateError(native_path, error);
}

void TUnicodeStringList::WriteTextFile(const std::string& native_path) const {
  WriteTextFileWith(native_path, [this](TTextWriter& writer) {
    for (const std::u16string& item : items_) writer.WriteLine({item});
  });
}

void TUnicodeStringList::WriteTextFile(const std::u16string& path) const {
  WriteTextFile(WideToAnsi(path));
}

}  // namespace tallyfold
