// Fuzz target for text decoding: arbitrary bytes through every encoding path
// of the text reader, then joined again.
//
// The input is read once as it is (so its own first bytes pick the encoding)
// and once behind each byte-order mark, so every decoder sees every input;
// and each decoder reads it once whole and once in tiny decoding slices,
// which must agree.
#include <cstddef>
#include <cstdint>
#include <string>

#include <atomic>

#include "platform/CodePage.h"
#include "text/StringList.h"
#include "text/TextFile.h"
#include "text/TextInternal.h"

namespace {

void ReadAndJoin(std::string bytes) {
  tallyfold::TMemoryStream stream(std::move(bytes));
  tallyfold::TUnicodeStringList list;
  list.ReadTextStream(stream);
  const std::u16string joined = list.JoinedText();
  // Every line comes back followed by CR LF, and no line holds a line break
  // (a 0 unit is a character of its line like any other).
  size_t expected = 0;
  for (int i = 0; i < list.ItemCount(); ++i) {
    const std::u16string& line = list.ItemRef(i);
    if (line.find_first_of(u"\r\n") != std::u16string::npos) {
      __builtin_trap();
    }
    expected += line.size() + 2;
  }
  if (joined.size() != expected) __builtin_trap();
}

// A long line is decoded in slices between looks at the cancel flag; cut
// anywhere, the slices must give the lines that decoding each line whole
// gives. Tiny slices put a cut inside nearly every sequence of the input.
void CompareSlices(const std::string& bytes, tallyfold::TTextEncoding encoding,
                   const tallyfold::TCodePage& page) {
  using tallyfold::text_internal::ReadLines;
  constexpr std::size_t kWhole = std::size_t{1} << 20;
  const std::atomic<bool> never{false};
  tallyfold::TMemoryStream whole_stream(bytes);
  const tallyfold::TUnicodeStringList whole = ReadLines(whole_stream, encoding, page, kWhole);
  for (const std::size_t slice : {std::size_t{1}, std::size_t{3}, std::size_t{7}}) {
    tallyfold::TMemoryStream sliced_stream(bytes);
    const tallyfold::TUnicodeStringList sliced =
        ReadLines(sliced_stream, encoding, page, kWhole, &never, slice);
    if (sliced.ItemCount() != whole.ItemCount()) __builtin_trap();
    for (int i = 0; i < whole.ItemCount(); ++i) {
      if (sliced.ItemRef(i) != whole.ItemRef(i)) __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  static const tallyfold::TCodePage utf8("UTF-8");
  static const tallyfold::TCodePage gb18030("GB18030");
  static const tallyfold::TCodePage latin1("ISO-8859-1");
  CompareSlices(bytes, tallyfold::teUtf8, utf8);
  CompareSlices(bytes, tallyfold::teUtf16LE, utf8);
  CompareSlices(bytes, tallyfold::teUtf16BE, utf8);
  CompareSlices(bytes, tallyfold::teAnsi, gb18030);
  CompareSlices(bytes, tallyfold::teAnsi, latin1);
  ReadAndJoin(bytes);
  ReadAndJoin("\xFF\xFE" + bytes);
  ReadAndJoin("\xFE\xFF" + bytes);
  ReadAndJoin("\xEF\xBB\xBF" + bytes);
  return 0;
}
