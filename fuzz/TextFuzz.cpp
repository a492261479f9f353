// Fuzz target for text decoding: arbitrary bytes through every encoding path
// of the text reader, then joined again.
//
// The input is read once as it is (so its own first bytes pick the encoding)
// and once behind each byte-order mark, so every decoder sees every input.
#include <cstddef>
#include <cstdint>
#include <string>

#include "text/StringList.h"
#include "text/TextFile.h"

namespace {

void ReadAndJoin(std::string bytes) {
  tallyfold::TMemoryStream stream(std::move(bytes));
  tallyfold::TUnicodeStringList list;
  list.ReadTextStream(stream);
  const std::u16string joined = list.JoinedText();
  // Every line comes back followed by CR LF, and no line holds a line break
  // or the 0 unit that ends the text.
  size_t expected = 0;
  for (int i = 0; i < list.ItemCount(); ++i) {
    const std::u16string& line = list.ItemRef(i);
    if (line.find_first_of(std::u16string(u"\r\n\0", 3)) != std::u16string::npos) {
      __builtin_trap();
    }
    expected += line.size() + 2;
  }
  if (joined.size() != expected) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  ReadAndJoin(bytes);
  ReadAndJoin("\xFF\xFE" + bytes);
  ReadAndJoin("\xFE\xFF" + bytes);
  ReadAndJoin("\xEF\xBB\xBF" + bytes);
  return 0;
}
