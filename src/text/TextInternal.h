// Internal to the text layer and its tests; include text/StringList.h and
// text/TextFile.h instead.
//
// The line splitting shared by SplitText and the file reader, the reader
// itself with the size of its pieces, of its decoding slices and its code
// page as parameters, so that tests can put a boundary anywhere, and the
// decoding that the list reader and the line reader share (TextDecoding.cpp).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include <vector>

#include "platform/CodePage.h"
#include "text/StringList.h"
#include "text/TextFile.h"

namespace tallyfold::text_internal {

// How much the reader asks the stream for at a time. Only a line longer
// than this makes it hold more of the file at once.
inline constexpr std::size_t kReadPieceBytes = std::size_t{1} << 20;

// How much of a long line is decoded (or copied) between two looks at the
// cancel flag: a few milliseconds of work.
inline constexpr std::size_t kDecodeSliceBytes = std::size_t{4} << 20;

// The most the writer hands the stream at a time.
inline constexpr std::size_t kWritePieceBytes = std::size_t{1} << 20;

// Calls on_line(begin, end) for each line of [text, text + size): CR LF, CR
// and LF each end a line, a final line end adds no empty line, and the
// first 0 unit ends the text. Unit is char16_t, or char for text whose line
// ends and 0 are single bytes that belong to no longer sequence.
template <typename Unit, typename OnLine>
void ForEachLine(const Unit* text, std::size_t size, OnLine on_line) {
  const Unit* p = text;
  const Unit* const end = text + size;
  while (p < end && *p != 0) {
    const Unit* start = p;
    while (p < end && *p != 0 && *p != '\n' && *p != '\r') ++p;
    on_line(start, p);
    if (p < end && *p == '\r') ++p;
    if (p < end && *p == '\n') ++p;
  }
}

// The lines of the text after the stream's position, in `encoding` (teAnsi
// through `ansi`), read `piece_bytes` at a time. The stream is read up to
// the size it had when reading began, or to its end if that comes first.
// When `cancel` is given it is looked at before each piece is read and
// between the slices of about `slice_bytes` in which a longer line is
// decoded, and ECancelled is raised once it is set; the slices give exactly
// the lines that decoding the line whole gives.
TUnicodeStringList ReadLines(TStream& stream, TTextEncoding encoding, const TCodePage& ansi,
                             std::size_t piece_bytes, const std::atomic<bool>* cancel = nullptr,
                             std::size_t slice_bytes = kDecodeSliceBytes);

// ReadLines with text without a mark (`encoding` teAnsi) decoded as
// `decoding` says, `locale` standing for the system code page. When the
// automatic choice meets a malformed sequence, the stream is set back to
// where reading began and read again. `info`, when given, receives the
// character set used and its malformed sequences (its mark is left alone).
TUnicodeStringList ReadLines(TStream& stream, TTextEncoding encoding, const TTextDecoding& decoding,
                             const TCodePage& locale, std::size_t piece_bytes,
                             const std::atomic<bool>* cancel = nullptr,
                             std::size_t slice_bytes = kDecodeSliceBytes,
                             TTextReadInfo* info = nullptr);

// Raises ECancelled once `cancel` is set.
inline void ThrowIfCancelled(const std::atomic<bool>* cancel) {
  if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) throw ECancelled();
}

inline bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// ---- Decoding (TextDecoding.cpp) ----

// Raised by a strict reading at the first malformed sequence: the text is
// not in the character set being tried.
struct NotInThisCharacterSet {};

// The malformed sequences met so far in one reading. A strict reading gives
// up at the first.
struct MalformedTally {
  std::size_t count = 0;
  bool strict = false;

  void Check() const {
    if (strict && count > 0) throw NotInThisCharacterSet();
  }
};

// Where to end a slice of the UTF-8 at `text` (`size` bytes, more than
// `limit`) near `limit`, so that the slices decode exactly as the whole
// does.
std::size_t Utf8SliceEnd(const char* text, std::size_t size, std::size_t limit);

// Decodes code-page text whole, or a slice of about `slice_bytes` at a time
// ending where the decoder starts afresh anyway, with a look at `cancel`
// before each; adds its malformed sequences to `tally`, which gives up at
// the first when it is strict.
void DecodeInSlices(const TCodePage& page, const char* text, std::size_t size,
                    std::size_t slice_bytes, const std::atomic<bool>* cancel, std::u16string& out,
                    MalformedTally& tally);

// Decodes one line of UTF-8, [begin, end), into `out` as the reader decodes
// a line, a slice of about kDecodeSliceBytes at a time with a look at
// `cancel` before each; adds its malformed sequences to `malformed`.
void DecodeUtf8Line(const char* begin, const char* end, std::u16string& out,
                    const std::atomic<bool>* cancel, std::size_t& malformed);

// Decodes a run of whole lines of text in `page`, [text, text + size), into
// `out` as the reader decodes a run of them, in slices alike.
void DecodeCodePageText(const TCodePage& page, const char* text, std::size_t size,
                        std::u16string& out, const std::atomic<bool>* cancel,
                        std::size_t& malformed);

// How sure the reader can be that a text is valid in a character set.
enum class Validity { kValid, kInvalid, kUnknown };

// Whether [text, text + size) is valid in `page`: known for UTF-8 and for
// the code pages whose sequences can be learnt from the code page itself
// (ISO-8859-*, GB18030, GBK, GB2312), unknown for any other.
Validity CheckText(const TCodePage& page, const char* text, std::size_t size);

// The character sets a text with the mark `mark` (teAnsi: none) is tried in
// under `decoding`, in turn: each but the last is taken only when the whole
// text is valid in it, the last whatever the text holds. A text with a mark
// is UTF-8 (a UTF-16 one is decoded without a character set). In a locale
// whose character set is not UTF-8 (`locale`), text valid in it was always
// read in it, and still is.
std::vector<const TCodePage*> CharacterSetsToTry(TTextEncoding mark, const TTextDecoding& decoding,
                                                 const TCodePage& locale);

}  // namespace tallyfold::text_internal
