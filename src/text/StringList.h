// TUnicodeStringList: the list that holds every list of text in the program.
//
// An ordered, index-addressed list of UTF-16 strings (std::u16string). Each
// entry can be read as a name=value pair split at its first PairSeparator
// ('=' unless set). The whole list joins into one text with CR LF after every
// entry and splits back from a text at CR LF, CR or LF. It sorts in place with
// a fixed quicksort whose order of equal entries is part of the program's
// output, so it never changes.
//
//   TUnicodeStringList list;
//   list.AppendItem(u"3=three");            // returns 0, the new index
//   list.AppendItem(u"10=ten");             // returns 1
//   list.NameAt(1);                         // u"10"
//   list.ValueAt(0);                        // u"three"
//   list.JoinedText();                      // u"3=three\r\n10=ten\r\n"
//   list.SplitText(u"a\r\nb\nc");           // now three entries: a, b, c
//   list.ReadTextFile(u"corpus.txt");       // one entry per line of a file
//   list.WriteTextFile(u"result.htm");      // UTF-16 LE with a byte-order mark
//
// Errors: an index outside the list raises EStringListError "List index out
// of bounds (N)". Reading and writing files raise the errors of
// text/TextFile.h (EFOpenError, EFCreateError, EWriteError, EReadError).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "platform/Exception.h"

namespace tallyfold {

class TStream;  // text/TextFile.h

// Raised for an index outside the list: "List index out of bounds (%d)".
class EStringListError : public Exception {
 public:
  explicit EStringListError(const std::string& message) : Exception(message) {}
};

class TUnicodeStringList {
 public:
  // Compares the entries now at index1 and index2: negative when the first
  // belongs before the second, positive when after, zero when equal. It must
  // give zero for equal indexes and order consistently; the sort relies on
  // both.
  using TItemCompare = int (*)(TUnicodeStringList& list, int index1, int index2);

  TUnicodeStringList() = default;

  // Adds an entry at the end and returns its index (the previous count).
  // When full, the capacity grows by 4 up to 8, by 16 up to 64 and by a
  // quarter beyond: 4, 8, 12, 28, 44, 60, 76, 95, 118, ...
  int AppendItem(const std::u16string& text);
  int AppendItem(std::u16string&& text);

  int ItemCount() const { return static_cast<int>(items_.size()); }
  int Capacity() const { return capacity_; }

  // Grows the capacity by the growth rule until it holds `count` entries,
  // in one step: the capacity comes out as appending one by one would leave
  // it, without the copies of the array on the way, each of which holds
  // the old array and the new one at once.
  void ReserveFor(int count);

  // A copy of the entry's text.
  std::u16string ItemAt(int index) const;
  // The entry's text itself, valid until the list next changes.
  const std::u16string& ItemRef(int index) const;
  // Moves the entry's text out and leaves the entry empty; the count stays.
  // Lets a consumer release a long list entry by entry instead of holding
  // it and its copy at once.
  std::u16string TakeItem(int index);

  // Removes every entry and releases the array (capacity 0).
  void ClearItems();

  char16_t PairSeparator() const { return separator_; }
  void SetPairSeparator(char16_t separator) { separator_ = separator; }

  // The text before the first separator; empty when there is none.
  std::u16string NameAt(int index) const;
  // The text after the first separator. Without a separator: the entry less
  // its first code unit. A negative index gives the empty string.
  std::u16string ValueAt(int index) const;

  // Every entry followed by CR LF, the last one too.
  std::u16string JoinedText() const;

  // Replaces the contents by the lines of `text`. CR LF, CR and LF each end
  // a line; a final line end adds no empty entry; the first U+0000 ends the
  // text.
  void SplitText(const std::u16string& text);

  // Sorts in place with the program's quicksort (not stable). An exception
  // from `compare` propagates, with every entry still present exactly once.
  void SortWith(TItemCompare compare);

  // The same sort, comparing through any callable `compare(index1, index2)`
  // with SortWith's contract; `on_swap(a, b)` hears of every exchange, so
  // keys computed once per entry can follow their entries. Given the same
  // comparison results, the order is exactly SortWith's.
  template <typename Compare, typename OnSwap>
  void SortPositions(Compare compare, OnSwap on_swap);

  // Text files (text/TextFile.cpp). Reading replaces the contents and
  // accepts UTF-16 LE, UTF-16 BE and UTF-8 with a byte-order mark, or the
  // system code page without one. Writing produces UTF-16 LE with a mark and
  // replaces the target only once the whole text is written.
  // The Unicode path is converted to the system code page; the native path
  // is used exactly as given. With `cancel`, reading raises ECancelled soon
  // after *cancel becomes true, even within one very long line, and leaves
  // the list as it was.
  void ReadTextFile(const std::u16string& path);
  void ReadTextFile(const std::string& native_path, const std::atomic<bool>* cancel = nullptr);
  void ReadTextStream(TStream& stream, const std::atomic<bool>* cancel = nullptr);
  void WriteTextFile(const std::u16string& path) const;
  void WriteTextFile(const std::string& native_path) const;
  void WriteTextStream(TStream& stream) const;

 private:
  void Grow();
  void ReserveSlots();
  void CheckIndex(int index) const;
  // Appends the lines of [text, text + size) as SplitText does, without
  // clearing first.
  void AppendLines(const char16_t* text, std::size_t size);

  std::vector<std::u16string> items_;  // the entries; capacity kept at capacity_
  int capacity_ = 0;                   // slots allocated by the growth rule
  char16_t separator_ = u'=';          // name=value separator
};

// The list's quicksort over positions 0..count-1 of anything: compare(i, j)
// as SortWith's compare, swap(i, j) exchanges the two entries. Another
// sequence sorted with it, given the same comparison results, ends in the
// same order as the list would.
template <typename Compare, typename Swap>
void QuickSortPositions(int count, Compare compare, Swap swap) {
  if (count < 2) return;
  // The quicksort partitions [L, R] around the entry at the middle position
  // P, which it follows by position through the swaps, then sorts the left
  // part first and continues with the right part. The left part is not
  // sorted by recursion but by pushing the pending right part on an explicit
  // stack, so a long list cannot exhaust the thread's stack; the comparisons
  // and swaps happen in exactly the recursive order.
  struct Range {
    int left, right;
  };
  std::vector<Range> pending{{0, count - 1}};
  while (!pending.empty()) {
    auto [left, right] = pending.back();
    pending.pop_back();
    int i;
    do {
      i = left;
      int j = right;
      int pivot = left + (right - left) / 2;
      do {
        while (compare(i, pivot) < 0) ++i;
        while (compare(j, pivot) > 0) --j;
        if (i <= j) {
          swap(i, j);
          if (pivot == i)
            pivot = j;
          else if (pivot == j)
            pivot = i;
          ++i;
          --j;
        }
      } while (i <= j);
      if (left < j) {
        if (i < right) pending.push_back({i, right});
        pending.push_back({left, j});
        break;
      }
      left = i;
    } while (i < right);
  }
}

template <typename Compare, typename OnSwap>
void TUnicodeStringList::SortPositions(Compare compare, OnSwap on_swap) {
  QuickSortPositions(ItemCount(), compare, [this, &on_swap](int i, int j) {
    items_[static_cast<std::size_t>(i)].swap(items_[static_cast<std::size_t>(j)]);
    on_swap(i, j);
  });
}

}  // namespace tallyfold
