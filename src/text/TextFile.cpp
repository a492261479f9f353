// Text files: the streams, encoding detection, reading a file into a list
// and writing a list out safely.
//
// This file's external interface is TextFile.h and the file operations of
// TUnicodeStringList; tests/text/TextFileTest.cpp covers it.
#include "text/TextFile.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/CodePage.h"
#include "text/WideHelpers.h"

namespace tallyfold {

namespace {

constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

// Messages are UTF-8; paths and system texts are in the system code page.
std::string ToUtf8(const std::string& native) {
  return Utf8Encode(AnsiToWide(native));
}

std::string FileErrorMessage(const char* what, const std::string& path,
                             int error) {
  return std::string(what) + " \"" + ToUtf8(AbsolutePath(path)) + "\". " +
         ToUtf8(SystemErrorText(error));
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

const char* FindLineEnd(const char* p, const char* end) {
  while (p < end && *p != '\n' && *p != '\r') ++p;
  return p;
}

// Fills `list` with the lines of UTF-8 text. Splitting the bytes before
// decoding gives the same lines as decoding first: NUL, CR and LF are single
// bytes that never belong to a longer sequence, and a broken sequence in
// front of one of them ends there. Decoding each line on its own saves
// holding the whole decoded text besides the lines.
void SplitUtf8(TUnicodeStringList& list, const char* data, std::size_t size) {
  if (const void* nul = std::memchr(data, 0, size))
    size = static_cast<std::size_t>(static_cast<const char*>(nul) - data);
  list.ClearItems();
  std::vector<char16_t> scratch;
  const char* p = data;
  const char* const end = data + size;
  while (p < end) {
    const char* start = p;
    p = FindLineEnd(p, end);
    const std::size_t length = static_cast<std::size_t>(p - start);
    if (scratch.size() < length) scratch.resize(std::max(length, scratch.size() * 2));
    const std::size_t units = Utf8DecodeInto(start, length, scratch.data());
    list.AppendItem(std::u16string(scratch.data(), units));
    if (p < end && *p == '\r') ++p;
    if (p < end && *p == '\n') ++p;
  }
}

}  // namespace

// ---- TMemoryStream ----

std::int64_t TMemoryStream::Size() const {
  return static_cast<std::int64_t>(bytes_.size());
}

void TMemoryStream::SetPosition(std::int64_t position) {
  position_ = std::max<std::int64_t>(position, 0);
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  const std::int64_t available = std::max<std::int64_t>(Size() - position_, 0);
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
                                       TFileAccess access) {
  if (access == TFileAccess::OpenRead) {
    if (const int error = PosixFile::OpenForReading(native_path, file_))
      RaiseOpenError(native_path, error);
  } else {
    if (const int error = PosixFile::Create(native_path, file_))
      RaiseCreateError(native_path, error);
  }
}

TUnicodeFileStream::TUnicodeFileStream(PosixFile file) : file_(std::move(file)) {}

void TUnicodeFileStream::Commit() {
  const int sync_error = file_.Sync();
  const int close_error = file_.Close();
  if (sync_error != 0 || close_error != 0) throw EWriteError();
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
  if (error != 0) throw EWriteError();
}

// ---- Encoding detection and decoding ----

TTextEncoding DetectTextEncoding(TStream& stream) {
  unsigned char mark[3];
  if (stream.Size() - stream.Position() >= 2) {
    const std::int64_t n = ReadUpTo(stream, mark, 2);
    if (n == 2 && mark[0] == 0xFF && mark[1] == 0xFE) return teUtf16LE;
    if (n == 2 && mark[0] == 0xFE && mark[1] == 0xFF) return teUtf16BE;
    stream.MoveBack(n);
  }
  if (stream.Size() - stream.Position() >= 3) {
    const std::int64_t n = ReadUpTo(stream, mark, 3);
    if (n == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF)
      return teUtf8;
    stream.MoveBack(n);
  }
  return teAnsi;
}

std::u16string Utf8ToWide(const std::string& bytes) { return Utf8Decode(bytes); }

// ---- Reading and writing lists ----

void TUnicodeStringList::ReadTextStream(TStream& stream) {
  const TTextEncoding encoding = DetectTextEncoding(stream);
  const std::int64_t remaining =
      std::max<std::int64_t>(stream.Size() - stream.Position(), 0);

  if (encoding == teUtf16LE || encoding == teUtf16BE) {
    // An odd last byte is not part of the text.
    std::u16string text(static_cast<std::size_t>(remaining / 2), u'\0');
    const std::int64_t got = ReadUpTo(stream, text.data(), remaining / 2 * 2);
    text.resize(static_cast<std::size_t>(got / 2));
    if ((encoding == teUtf16LE) != kLittleEndianHost)
      SwapBytes(text.data(), text.size());
    SplitText(text);
    return;
  }

  const auto size = static_cast<std::size_t>(remaining);
  std::unique_ptr<char[]> bytes(new char[size == 0 ? 1 : size]);
  const auto got = static_cast<std::size_t>(ReadUpTo(stream, bytes.get(), remaining));
  if (encoding == teUtf8 || SystemCodePage().IsUtf8()) {
    SplitUtf8(*this, bytes.get(), got);
  } else {
    std::u16string text = AnsiToWide(std::string(bytes.get(), got));
    bytes.reset();
    SplitText(text);
  }
}

void TUnicodeStringList::ReadTextFile(const std::string& native_path) {
  TUnicodeFileStream stream(native_path, TFileAccess::OpenRead);
  ReadTextStream(stream);
}

void TUnicodeStringList::ReadTextFile(const std::u16string& path) {
  ReadTextFile(WideToAnsi(path));
}

void TUnicodeStringList::WriteTextStream(TStream& stream) const {
  static const unsigned char kMark[2] = {0xFF, 0xFE};
  stream.Write(kMark, 2);
  std::u16string text = JoinedText();
  if (!kLittleEndianHost) SwapBytes(text.data(), text.size());
  stream.Write(text.data(), static_cast<std::int64_t>(text.size() * 2));
}

void TUnicodeStringList::WriteTextFile(const std::string& native_path) const {
  // The text goes to a new file beside the target, which replaces the target
  // only when complete, so a failure never leaves a damaged file behind. A
  // link is followed so that the file it points to is the one replaced.
  const std::string target = ResolveLinks(native_path);
  PosixFile lock;
  if (const int error = PosixFile::LockForReplacement(target, lock))
    RaiseCreateError(native_path, error);
  PosixFile temp;
  std::string temp_path;
  if (const int error = PosixFile::CreateBeside(target, temp, temp_path))
    RaiseCreateError(native_path, error);
  try {
    TUnicodeFileStream stream(std::move(temp));
    WriteTextStream(stream);
    stream.Commit();
  } catch (...) {
    RemoveFileQuietly(temp_path);
    throw;
  }
  if (const int error = ReplaceFile(temp_path, target)) {
    RemoveFileQuietly(temp_path);
    RaiseCreateError(native_path, error);
  }
}

void TUnicodeStringList::WriteTextFile(const std::u16string& path) const {
  WriteTextFile(WideToAnsi(path));
}

}  // namespace tallyfold
