// Internal to the text layer and its tests; include text/StringList.h and
// text/TextFile.h instead.
//
// The line splitting shared by SplitText and the file reader, the reader
// itself with the size of its pieces, of its decoding slices and its code
// page as parameters, so that tests can put a boundary anywhere, and the
// decoding and the choice of character set that the list reader and the
// line reader share (TextDecoding.cpp).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "text/StringList.h"
#include "text/TextFile.h"
#include "text/WideHelpers.h"
#include "text/TextLines.h"

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
// and LF each end a line and a final line end adds no empty line. A 0 unit
// is an ordinary character of its line, as files have it; with
// `kZeroEndsText` (SplitText's rule for a string) the first one ends the
// text instead. Unit is char16_t, or char for text whose line ends and 0
// are single bytes that belong to no longer sequence.
template <bool kZeroEndsText = false, typename Unit, typename OnLine>
void ForEachLine(const Unit* text, std::size_t size, OnLine on_line) {
  const Unit* p = text;
  const Unit* end = text + size;
  if constexpr (kZeroEndsText) {
    for (const Unit* q = text; q < end; ++q) {
      if (*q == 0) {
        end = q;
        break;
      }
    }
  }
  while (p < end) {
    const Unit* start = p;
    while (p < end && *p != '\n' && *p != '\r') ++p;
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
// `decoding` says, `locale` standing for the system code page, in the
// character set ChooseCharacterSet gives. The automatic choice reads the
// text as UTF-8 first; at its first malformed sequence the stream is set
// back to where reading began, gone over to choose the set, and read again. `info`, when given, receives the
// character set used, why, its malformed sequences and its NULs (its mark
// is left alone). A text named UTF-16LE or UTF-16BE is read as after that
// mark.
TUnicodeStringList ReadLines(TStream& stream, TTextEncoding encoding, const TTextDecoding& decoding,
                             const TCodePage& locale, std::size_t piece_bytes,
                             const std::atomic<bool>* cancel = nullptr,
                             std::size_t slice_bytes = kDecodeSliceBytes,
                             TTextReadInfo* info = nullptr);

// Reads `bytes` more bytes of the stream, `piece_bytes` at a time, and hands
// each run of whole lines to emit(text, size), the last one at the end of
// the text whether or not it ends in a line end. Only the text not yet
// handed on is held: one piece, or a longer line whole. A CR at the end of
// a piece waits for the next, so a CR LF is never parted. A stream that
// ends early ends the text there. A cancel is looked for before each piece.
void ReadByteRuns(TStream& stream, std::int64_t bytes, std::size_t piece_bytes,
                  const std::atomic<bool>* cancel,
                  const std::function<void(const char* text, std::size_t size)>& emit);
// The same for the rest of a UTF-16 (teUtf16LE, teUtf16BE) or UTF-32
// (teUtf32LE, teUtf32BE) text of `bytes` bytes, the runs given as UTF-16
// in this machine's byte order, `last` telling the run that ends the text.
// UTF-32 values beyond U+10FFFF and surrogates become U+FFFD, each counted
// in `malformed`; a tail too short for a unit (an odd byte of UTF-16, one
// to three bytes of UTF-32) is left out and counted there too.
void ReadWideTextRuns(
    TStream& stream, TTextEncoding encoding, std::int64_t bytes, std::size_t piece_bytes,
    const std::atomic<bool>* cancel, std::size_t& malformed,
    const std::function<void(const char16_t* text, std::size_t size, bool last)>& emit);

// Appends a UTF-32 value as UTF-16: U+FFFD, counted in `malformed`, for a
// value beyond U+10FFFF or a surrogate.
void AppendUtf32(char32_t value, std::u16string& out, std::size_t& malformed);

// The UTF-16 of the whole text [bytes, bytes + size) in a wide encoding, as
// ReadWideTextRuns gives it.
void DecodeWideBytes(const char* bytes, std::size_t size, TTextEncoding encoding,
                     std::u16string& out, std::size_t& malformed);

// Whether `encoding` is read as UTF-16 or UTF-32 (so not byte by byte).
inline bool IsWideEncoding(TTextEncoding encoding) {
  return encoding == teUtf16LE || encoding == teUtf16BE || encoding == teUtf32LE ||
         encoding == teUtf32BE;
}

// The name TTextReadInfo::codeset gives a wide encoding ("UTF-16LE", ...).
std::string WideEncodingName(TTextEncoding encoding);

// How much of a file the line reader (ReadTextLines) holds at a time: it
// reads the file in pieces of this size, each cut after its last whole
// line, and carries the rest over to the next. Only a line longer than
// this makes it hold more.
inline constexpr std::size_t kLinePieceBytes = std::size_t{16} << 20;

// ReadTextLines reading `piece_bytes` at a time.
void ReadLinesInPieces(const std::string& native_path, const TTextDecoding& decoding,
                       const TLineNeedle* needle, const std::atomic<bool>* cancel,
                       TTextReadInfo* info,
                       const std::function<void(int index, std::u16string_view line)>& each,
                       std::size_t piece_bytes,
                       const std::function<void(int index, std::u16string& line)>* take = nullptr);

using tallyfold::IsHighSurrogate;
using tallyfold::IsLowSurrogate;

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

// The UTF-16 code units [text, text + size) decodes to, when CheckText finds
// it valid in `page`; -1 for a code page whose text is not looked into.
std::int64_t CountUnits(const TCodePage& page, const char* text, std::size_t size);

// ---- Choosing the character set of text without a mark (TextDecoding.cpp) ----

// Whether the four bytes at `unit` are a UTF-32 character in the byte order
// given: a value up to U+10FFFF that is not a surrogate.
bool IsUtf32Character(const char* unit, bool big_endian);

// How much of the start of a text without a mark is looked at to tell
// UTF-16 and UTF-32 by their zero bytes.
inline constexpr std::size_t kWideSniffBytes = std::size_t{64} << 10;

// UTF-16 or UTF-32 without a mark, told from the start of a text
// ([head, head + size), at most kWideSniffBytes of it), which must hold a
// zero byte: teUtf32LE or teUtf32BE when every four bytes are a UTF-32
// character and some are not 0; else teUtf16LE or teUtf16BE for the byte
// order in which nineteen of twenty units are characters real text is made
// of (line ends and other ASCII, Latin and other alphabets, CJK, kana,
// Hangul, punctuation, NUL, whole surrogate pairs) and the zero bytes stand
// where UTF-16 has them: as the high byte of one unit in eight or more, or
// of line ends (0A 00 in LE) with next to no CR or LF as a high byte. When
// both orders pass, the one with more zero high bytes. Text in a set that
// keeps ASCII has no zero bytes but for a NUL here and there, and its pairs
// of bytes read as UTF-16 are far from such a share; random bytes have
// about half. teAnsi otherwise. A unit cut short at the end is not looked
// at.
TTextEncoding SniffWideText(const char* head, std::size_t size);

// SniffWideText on the first kWideSniffBytes of the next `remaining` bytes
// of the stream, which is left where it was.
TTextEncoding SniffWideStream(TStream& stream, std::int64_t remaining);

// Of the characters beyond ASCII in `text`, the share among the commonest
// few hundred Chinese characters (simplified and traditional), in
// thousandths; 0 for text without such characters.
int CommonHanziShare(std::u16string_view text);

// The most text the encoding detector is given for one file: its lines that
// hold a byte of 0x80 or more, from the start of the text on, until this
// many bytes have been given. Enough for a sure answer on real text, and a
// bound on the time the detector takes.
inline constexpr std::size_t kDetectorBudgetBytes = std::size_t{16} << 10;

// The fewest bytes of 0x80 or more the detector must have seen for its
// answer to be taken (two CJK characters, four accented letters).
inline constexpr std::size_t kDetectorMinHighBytes = 4;

// teUtf16LE or teUtf16BE when `page` is UTF-16 in that byte order without a
// mark, which is read as text after the matching mark is; teAnsi otherwise.
TTextEncoding WideEncodingOf(const TCodePage& page);

// Whether text in `page` has its line ends, its 0 and its printable ASCII as
// single bytes of themselves, so that lines can be told apart in its bytes.
// False for UTF-16 and UTF-32 in any byte order, UTF-7 and the like.
bool KeepsAscii(const TCodePage& page);

// The character set a file is read in when the detector answered `answer`
// (a name as the detector gives it): the name iconv reads it under, with a
// few answers widened to the set real text in them is written in (GB2312
// and GBK to GB18030, EUC-KR to CP949, ISO-8859-1 to WINDOWS-1252). Empty
// when the answer is empty, ASCII, or a set that cannot be read line by
// line here.
std::string UsableCodeset(const std::string& answer);

// Gathers what the encoding detector (uchardet) is given: each line that
// holds a byte of 0x80 or more, whole and in the order of the text, up to
// kDetectorBudgetBytes (the last one cut there). What it is given, and so
// its answer, does not depend on how the text is cut into runs of lines.
class EncodingDetector {
 public:
  EncodingDetector();
  ~EncodingDetector();
  EncodingDetector(const EncodingDetector&) = delete;
  EncodingDetector& operator=(const EncodingDetector&) = delete;

  // Looks at the whole lines of [text, text + size).
  void Feed(const char* text, std::size_t size);
  bool Full() const { return fed_ >= kDetectorBudgetBytes; }
  // The detector's answer, as it names the set; empty when it has none,
  // when it was given fewer than kDetectorMinHighBytes bytes of 0x80 or
  // more, and when it names UTF-8 for text with no more characters
  // well-formed in it than malformed.
  std::string Answer();
  // What it was given: the lines, each ending in an LF.
  const std::string& Given() const { return given_; }

 private:
  struct Detector;
  std::unique_ptr<Detector> detector_;
  std::string given_;    // the lines it is given, each ending in an LF
  std::size_t fed_ = 0;  // the bytes of those lines, their LFs left out
};

// One pass over a text: calls visit(text, size) with runs of its whole lines
// in order (the last one perhaps without a line end) until there are no
// more or visit returns false.
using TextVisit = std::function<bool(const char* text, std::size_t size)>;
using TextPass = std::function<void(const TextVisit& visit)>;

// The character set text without a mark is read in, and why.
struct CharacterSetChoice {
  TCodePage page{"UTF-8"};
  TReadChoice choice = TReadChoice::kNamed;
  std::string detected;      // as TTextReadInfo::detected
  bool valid = false;        // the whole text is known to be valid in `page`
  TSetComparison comparison;  // as TTextReadInfo::comparison
};

// The most stray bytes UTF-8 may hold for its well-formed sequences beyond
// ASCII and still be read as UTF-8: one in kUtf8StrayRatio of them, with at
// least kUtf8StraysMinSequences of them. Measured on generated Chinese
// pages: text in GB18030 or Big5 has at least one stray for each sequence
// that happens to be well-formed, even on pages of six characters; UTF-8
// pages of six characters or more with up to three strays have at most
// 272 in 1000.
inline constexpr std::size_t kUtf8StrayRatio = 3;
inline constexpr std::size_t kUtf8StraysMinSequences = 4;

// Whether UTF-8 with `well_formed` sequences beyond ASCII and `strays`
// malformed ones is read as UTF-8 rather than handed to the detector.
inline bool MostlyUtf8(std::size_t well_formed, std::size_t strays) {
  return well_formed >= kUtf8StraysMinSequences && strays * kUtf8StrayRatio <= well_formed;
}

// Counts the well-formed UTF-8 sequences beyond ASCII and the malformed
// ones (as Utf8Decode counts them) in [text, text + size).
void CountUtf8Sequences(const char* text, std::size_t size, std::size_t& well_formed,
                        std::size_t& malformed);

// Chooses the character set of a text without a mark under `decoding`,
// `locale` standing for the system code page, once UTF-16 and UTF-32 are
// ruled out (SniffWideText). Named ("locale" or a set): that set.
// Automatic, in turn: UTF-8 when the whole text is valid UTF-8 or nearly
// (MostlyUtf8); the set the detector names when iconv can read it (UTF-8
// with its stray bytes as U+FFFD when it names UTF-8), GB18030 and BIG5
// compared by their common characters when the text is valid in both; the
// locale's set when it is not UTF-8 and the whole text is valid in it; else
// the fallback. Each step
// that needs the text runs `pass` over it, and stops it as soon as it
// knows; `known_not_utf8` tells that the text was already found not to be
// valid UTF-8. ECancelled once `cancel` is set.
CharacterSetChoice ChooseCharacterSet(const TTextDecoding& decoding, const TCodePage& locale,
                                      const TextPass& pass, const std::atomic<bool>* cancel,
                                      bool known_not_utf8 = false);

}  // namespace tallyfold::text_internal
