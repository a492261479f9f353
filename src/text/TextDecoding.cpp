// Decoding of text without a UTF-16 mark: UTF-8 and code-page text decoded a
// line, or a run of lines, at a time in slices that decode exactly as the
// whole text does, counting malformed sequences.
//
// This file's external interface is the decoding part of TextInternal.h,
// used by the list reader (TextFile.cpp) and the line reader (TextLines.cpp).
// Covered by tests/text/TextDecodingTest.cpp, TextFileTest.cpp and
// TextLinesTest.cpp.
#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/CodePage.h"
#include "text/TextInternal.h"

namespace tallyfold::text_internal {

namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// ---- Slices ----

// The length of the slice that ends nearest `limit` at a place
// ends_slice(length) accepts: the last one up to `limit`, or failing that
// the first one after it; `size` (the whole text) when there is none.
template <typename EndsSlice>
std::size_t NearestSliceEnd(std::size_t size, std::size_t limit, EndsSlice ends_slice) {
  for (std::size_t length = limit; length > 0; --length)
    if (ends_slice(length)) return length;
  for (std::size_t length = limit + 1; length < size; ++length)
    if (ends_slice(length)) return length;
  return size;
}

// Where to end a slice of code-page text near `limit`: just after a byte up
// to 0x20 (space, tab, another control) that follows two ASCII bytes, or
// the slice's start. Such a byte is a character of its own in every code
// page a locale can have, never part of a longer sequence nor joined with
// what follows, and no sequence of up to four bytes that began before it
// needs a byte after it to be told valid or not (a decoder may call a
// sequence cut short by the end of its input incomplete, where more input
// shows it invalid). So the decoder is where it would be in the whole text.
// Without such a place in reach the slice runs on to the next, or to the
// end.
std::size_t AnsiSliceEnd(const char* text, std::size_t size, std::size_t limit) {
  auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  auto ends_slice = [&](std::size_t length) {
    if (byte(length - 1) > 0x20) return false;
    for (std::size_t i = length - 1; i > 0 && i + 3 > length; --i)
      if (byte(i - 1) >= 0x80) return false;
    return true;
  };
  return NearestSliceEnd(size, limit, ends_slice);
}

}  // namespace

// Where to end a slice of the UTF-8 at `text` (`size` bytes, more than
// `limit`) near `limit`, so that the slices decode exactly as the whole
// does. Before a byte that cannot continue a sequence, any sequence in
// front of it is broken off there anyway, and at the end of a slice it is
// broken off alike. Where the three bytes before the place (those after
// the slice's start) are continuation bytes, no lead byte is near enough
// for its sequence to reach the place, so it is one too. Without such a
// place in reach the slice runs on to the next, or to the end.
std::size_t Utf8SliceEnd(const char* text, std::size_t size, std::size_t limit) {
  auto ends_slice = [text](std::size_t length) {
    if (!IsContinuation(static_cast<unsigned char>(text[length]))) return true;
    for (std::size_t i = length; i > 0 && i + 3 > length; --i)
      if (!IsContinuation(static_cast<unsigned char>(text[i - 1]))) return false;
    return true;
  };
  return NearestSliceEnd(size, limit, ends_slice);
}

// Decodes code-page text whole, or a slice at a time ending where the
// decoder starts afresh anyway, with a look at the cancel flag before each.
void DecodeInSlices(const TCodePage& page, const char* text, std::size_t size,
                    std::size_t slice_bytes, const std::atomic<bool>* cancel, std::u16string& out,
                    MalformedTally& tally) {
  if (size <= slice_bytes) {
    out = page.Decode(std::string_view(text, size), tally.count);
    tally.Check();
    return;
  }
  // Never more units than bytes: a byte that is not valid becomes one
  // U+FFFD.
  out.clear();
  out.reserve(size);
  for (std::size_t at = 0; at < size;) {
    ThrowIfCancelled(cancel);
    const std::size_t take =
        size - at > slice_bytes ? AnsiSliceEnd(text + at, size - at, slice_bytes) : size - at;
    out += page.Decode(std::string_view(text + at, take), tally.count);
    tally.Check();
    at += take;
  }
}

void DecodeUtf8Line(const char* begin, const char* end, std::u16string& out,
                    const std::atomic<bool>* cancel, std::size_t& malformed) {
  const auto length = static_cast<std::size_t>(end - begin);
  out.resize(length);
  std::size_t units = 0;
  for (const char* p = begin; p < end;) {
    if (length > kDecodeSliceBytes) ThrowIfCancelled(cancel);
    const auto left = static_cast<std::size_t>(end - p);
    const std::size_t take =
        left > kDecodeSliceBytes ? Utf8SliceEnd(p, left, kDecodeSliceBytes) : left;
    units += Utf8DecodeInto(p, take, out.data() + units, malformed);
    p += take;
  }
  out.resize(units);
}

void DecodeCodePageText(const TCodePage& page, const char* text, std::size_t size,
                        std::u16string& out, const std::atomic<bool>* cancel,
                        std::size_t& malformed) {
  MalformedTally tally;
  DecodeInSlices(page, text, size, kDecodeSliceBytes, cancel, out, tally);
  malformed += tally.count;
}

}  // namespace tallyfold::text_internal
