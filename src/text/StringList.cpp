// The Unicode string list: entries, growth, the name=value view, joining,
// splitting and the sort. Reading and writing files is in TextFile.cpp.
//
// This file's external interface is TUnicodeStringList (StringList.h);
// tests/text/StringListTest.cpp covers it.
#include "text/StringList.h"

#include <algorithm>
#include <utility>

#include "text/TextInternal.h"

namespace tallyfold {

namespace {

// The next capacity of a full list: +4 up to 8, +16 up to 64, then +25%.
int GrownCapacity(int capacity) {
  if (capacity > 64) return capacity + capacity / 4;
  if (capacity > 8) return capacity + 16;
  return capacity + 4;
}

}  // namespace

// The array behind the list grows at least twofold whenever it must grow:
// moving the entries to a new array a quarter larger each time would move
// each of them some five times over on its way to a million entries, twice
// as often as doubling does. The growth rule is kept by capacity_, which is
// what the list reports and what its slots are counted against.
void TUnicodeStringList::ReserveSlots() {
  const std::size_t wanted = static_cast<std::size_t>(capacity_);
  if (items_.capacity() >= wanted) return;
  items_.reserve(std::max(wanted, 2 * items_.capacity()));
}

void TUnicodeStringList::Grow() {
  capacity_ = GrownCapacity(capacity_);
  ReserveSlots();
}

void TUnicodeStringList::ReserveFor(int count) {
  int capacity = capacity_;
  while (capacity < count) capacity = GrownCapacity(capacity);
  if (capacity == capacity_) return;
  capacity_ = capacity;
  items_.reserve(static_cast<std::size_t>(capacity_));
}

int TUnicodeStringList::AppendItem(const std::u16string& text) {
  if (ItemCount() == capacity_) Grow();
  items_.push_back(text);
  return ItemCount() - 1;
}

int TUnicodeStringList::AppendItem(std::u16string&& text) {
  if (ItemCount() == capacity_) Grow();
  items_.push_back(std::move(text));
  return ItemCount() - 1;
}

void TUnicodeStringList::CheckIndex(int index) const {
  if (index < 0 || index >= ItemCount())
    throw EStringListError("List index out of bounds (" +
                           std::to_string(index) + ")");
}

std::u16string TUnicodeStringList::ItemAt(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)];
}

const std::u16string& TUnicodeStringList::ItemRef(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)];
}

std::u16string TUnicodeStringList::TakeItem(int index) {
  CheckIndex(index);
  // Swapping with a fresh string leaves no capacity behind in the entry.
  std::u16string text;
  text.swap(items_[static_cast<std::size_t>(index)]);
  return text;
}

void TUnicodeStringList::ClearItems() {
  if (items_.empty() && capacity_ == 0) return;
  std::vector<std::u16string>().swap(items_);
  capacity_ = 0;
}

std::u16string TUnicodeStringList::NameAt(int index) const {
  const std::u16string& item = ItemRef(index);
  const std::size_t separator = item.find(separator_);
  if (separator == std::u16string::npos) return std::u16string();
  return item.substr(0, separator);
}

std::u16string TUnicodeStringList::ValueAt(int index) const {
  if (index < 0) return std::u16string();
  const std::u16string& item = ItemRef(index);
  // The value starts after name + separator; without a separator the name is
  // empty, so the value is the entry less its first code unit.
  const std::size_t separator = item.find(separator_);
  const std::size_t skip = separator == std::u16string::npos ? 1 : separator + 1;
  return skip >= item.size() ? std::u16string() : item.substr(skip);
}

std::u16string TUnicodeStringList::JoinedText() const {
  std::size_t length = 0;
  for (const std::u16string& item : items_) length += item.size() + 2;
  std::u16string text;
  text.reserve(length);
  for (const std::u16string& item : items_) {
    text += item;
    text += u"\r\n";
  }
  return text;
}

void TUnicodeStringList::AppendLines(const char16_t* text, std::size_t size) {
  text_internal::ForEachLine<true>(text, size, [this](const char16_t* begin, const char16_t* end) {
    AppendItem(std::u16string(begin, end));
  });
}

void TUnicodeStringList::SplitText(const std::u16string& text) {
  ClearItems();
  AppendLines(text.data(), text.size());
}

void TUnicodeStringList::SortWith(TItemCompare compare) {
  SortPositions([this, compare](int index1, int index2) { return compare(*this, index1, index2); },
                [](int, int) {});
}

}  // namespace tallyfold
