// The kept results' row printer: matching lines packed into code units
// while a search runs, and unpacked into a ResultSet once it is over.
//
// This file's external interface is ResultRecordPrinters in ResultSet.h and
// the internal ResultPacking.h; tests/app/SearchCommandTest.cpp covers it
// through searches that keep their results.
#include "app/ResultPacking.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tallyfold {

namespace {

void AppendNumber(std::u16string& out, std::uint32_t value) {
  out += static_cast<char16_t>(value >> 16);
  out += static_cast<char16_t>(value & 0xFFFF);
}

std::uint32_t NumberAt(std::u16string_view packed, std::size_t at) {
  return std::uint32_t{packed[at]} << 16 | packed[at + 1];
}

class RecordPacker : public RowPrinter {
 public:
  explicit RecordPacker(int file) : file_(static_cast<std::uint32_t>(file)) {}

  std::size_t RowLength(const MatchRecord& record, const std::atomic<bool>*) const override {
    return 6 + 4 * record.spans.size() + record.text.size();
  }

  void AppendRow(std::u16string& out, const MatchRecord& record,
                 const std::atomic<bool>*) const override {
    AppendNumber(out, file_);
    AppendNumber(out, static_cast<std::uint32_t>(record.line));
    AppendNumber(out, static_cast<std::uint32_t>(record.spans.size()));
    for (const MatchSpan& span : record.spans) {
      AppendNumber(out, static_cast<std::uint32_t>(span.start));
      AppendNumber(out, static_cast<std::uint32_t>(span.length));
    }
    out += record.text;
  }

 private:
  std::uint32_t file_;
};

}  // namespace

RowPrinterFactory ResultRecordPrinters() {
  return [](const RecordFile& file) -> std::unique_ptr<RowPrinter> {
    return std::make_unique<RecordPacker>(file.index);
  };
}

void app_internal::AddPackedLine(ResultSet& results, std::u16string_view packed) {
  const auto file = static_cast<int>(NumberAt(packed, 0));
  const auto line = static_cast<int>(NumberAt(packed, 2));
  const std::size_t count = NumberAt(packed, 4);
  std::vector<MatchSpan> spans(count);
  for (std::size_t k = 0; k < count; ++k) {
    spans[k].start = static_cast<int>(NumberAt(packed, 6 + 4 * k));
    spans[k].length = static_cast<int>(NumberAt(packed, 8 + 4 * k));
  }
  results.AddLine(file, line, packed.substr(6 + 4 * count), spans);
}

}  // namespace tallyfold
