// Fuzz target for the line reader's needle: arbitrary bytes as a file, read
// once with a needle and once without, in several decodings.
//
// With a needle the reader may pass over lines, but never one whose text
// holds the needle, and every line it gives is the very line, at the very
// index, that reading without the needle gives; how the file was read is the
// same either way. The first input bytes choose the decoding, a byte-order
// mark and the needle; the rest is the file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "text/TextFile.h"
#include "text/TextLines.h"

namespace {

using Lines = std::vector<std::pair<int, std::u16string>>;

// A file of this process's own, rewritten for every input.
const std::string& ScratchFile() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/lines_fuzz." +
           std::to_string(::getpid()) + ".txt";
  }();
  return path;
}

bool Read(const tallyfold::TTextDecoding& decoding, const tallyfold::TLineNeedle* needle,
          Lines& lines, tallyfold::TTextReadInfo& info) {
  try {
    tallyfold::ReadTextLines(ScratchFile(), decoding, needle, nullptr, &info,
                             [&lines](int index, std::u16string_view line) {
                               lines.emplace_back(index, std::u16string(line));
                             });
  } catch (const tallyfold::Exception&) {
    return false;
  }
  return true;
}

bool Holds(const std::u16string& line, const tallyfold::TLineNeedle& needle) {
  const std::size_t n = needle.units.size();
  for (std::size_t at = 0; at + n <= line.size(); ++at) {
    std::size_t k = 0;
    while (k < n && (line[at + k] == needle.units[k] ||
                     (!needle.others.empty() && line[at + k] == needle.others[k])))
      ++k;
    if (k == n) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const char16_t kAlphabet[] = u"aAbe \u00E9\u4E2D\u6587\uFFFD\u00FF1";
  constexpr std::size_t kLetters = sizeof(kAlphabet) / sizeof(kAlphabet[0]) - 1;
  static const char* const kMarks[] = {"", "", "\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"};
  static const tallyfold::TTextDecoding kDecodings[] = {
      tallyfold::TextDecodingNamed("auto", "GB18030"), tallyfold::TextDecodingNamed("utf-8"),
      tallyfold::TextDecodingNamed("GB18030"), tallyfold::TextDecodingNamed("ISO-8859-1")};

  const unsigned choice = data[0];
  const unsigned shape = data[1];
  const tallyfold::TTextDecoding& decoding = kDecodings[choice % 4];
  const std::string mark = kMarks[(choice / 4) % 5];
  tallyfold::TLineNeedle needle;
  const std::size_t length = 1 + shape % 3;
  if (size < 2 + length) return 0;
  for (std::size_t k = 0; k < length; ++k) {
    const char16_t unit = kAlphabet[data[2 + k] % kLetters];
    needle.units += unit;
    // Under i the other case of an ASCII letter matches too.
    if (shape & 0x10) {
      const char16_t other = (unit >= u'a' && unit <= u'z') ? unit - 32
                             : (unit >= u'A' && unit <= u'Z') ? unit + 32
                                                               : unit;
      needle.others += other;
    }
  }
  if (shape & 0x20) needle.ranges.push_back({u'0', u'9'});
  const std::string bytes =
      mark + std::string(reinterpret_cast<const char*>(data) + 2 + length, size - 2 - length);
  {
    FILE* file = std::fopen(ScratchFile().c_str(), "wb");
    if (file == nullptr) __builtin_trap();
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
      __builtin_trap();
    std::fclose(file);
  }

  Lines all, given;
  tallyfold::TTextReadInfo all_info, given_info;
  const bool read_all = Read(decoding, nullptr, all, all_info);
  const bool read_given = Read(decoding, &needle, given, given_info);
  if (read_all != read_given) __builtin_trap();
  if (!read_all) return 0;
  if (all_info.codeset != given_info.codeset || all_info.malformed != given_info.malformed ||
      all_info.mark != given_info.mark || all_info.nuls != given_info.nuls ||
      all_info.choice != given_info.choice || all_info.detected != given_info.detected)
    __builtin_trap();
  std::size_t next = 0;
  for (const auto& [index, line] : all) {
    const bool was_given = next < given.size() && given[next].first == index;
    if (was_given) {
      if (given[next].second != line) __builtin_trap();
      ++next;
    } else if (Holds(line, needle)) {
      __builtin_trap();  // a line with the needle was passed over
    }
  }
  if (next != given.size()) __builtin_trap();  // a line that does not exist
  return 0;
}
