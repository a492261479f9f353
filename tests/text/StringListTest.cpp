// Tests of TUnicodeStringList: growth, accessors and their errors, the
// name=value view, joining, splitting and the exact quicksort.
#include "text/StringList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "text/ListItems.h"

namespace tallyfold {
namespace {

using test::Items;

TUnicodeStringList ListOf(const std::vector<std::u16string>& items) {
  TUnicodeStringList list;
  for (const auto& item : items) list.AppendItem(item);
  return list;
}

// The application's order: descending by the decimal name.
int CountOf(TUnicodeStringList& list, int index) {
  const std::u16string name = list.NameAt(index);
  return std::stoi(std::string(name.begin(), name.end()));
}

int ByCountDescending(TUnicodeStringList& list, int index1, int index2) {
  return CountOf(list, index2) - CountOf(list, index1);
}

TEST(StringList, NewListIsEmpty) {
  TUnicodeStringList list;
  EXPECT_EQ(list.ItemCount(), 0);
  EXPECT_EQ(list.Capacity(), 0);
  EXPECT_EQ(list.PairSeparator(), u'=');
  EXPECT_EQ(list.JoinedText(), u"");
  list.SortWith([](TUnicodeStringList&, int, int) -> int {
    ADD_FAILURE() << "compared in an empty list";
    return 0;
  });
  list.ClearItems();
  EXPECT_EQ(list.ItemCount(), 0);
}

TEST(StringList, AppendReturnsIndexAndGrowsByTheRule) {
  TUnicodeStringList list;
  const std::vector<int> expected = {4, 8, 12, 28, 44, 60, 76, 95, 118, 147, 183};
  std::vector<int> seen;
  for (int i = 0; i < 183; ++i) {
    ASSERT_EQ(list.AppendItem(std::u16string(1, static_cast<char16_t>(u'a' + i % 26))), i);
    if (seen.empty() || seen.back() != list.Capacity()) seen.push_back(list.Capacity());
  }
  EXPECT_EQ(seen, expected);
  list.AppendItem(u"x");
  EXPECT_EQ(list.Capacity(), 228);
  EXPECT_EQ(list.ItemAt(26), u"a");
  list.ClearItems();
  EXPECT_EQ(list.ItemCount(), 0);
  EXPECT_EQ(list.Capacity(), 0);
  EXPECT_EQ(list.AppendItem(u"again"), 0);
  EXPECT_EQ(list.Capacity(), 4);
}

TEST(StringList, ReserveForLeavesTheCapacityAppendingWould) {
  // From empty and from part-way, to counts on and between the rule's steps.
  for (const int start : {0, 3, 9, 100}) {
    for (const int count : {0, 1, 4, 5, 8, 9, 28, 29, 95, 96, 1000, 123457}) {
      TUnicodeStringList appended, reserved;
      for (int i = 0; i < start; ++i) {
        appended.AppendItem(u"x");
        reserved.AppendItem(u"x");
      }
      for (int i = start; i < count; ++i) appended.AppendItem(u"x");
      reserved.ReserveFor(count);
      EXPECT_EQ(reserved.Capacity(), appended.Capacity()) << start << " then " << count;
      EXPECT_EQ(reserved.ItemCount(), start);
      for (int i = start; i < count; ++i) reserved.AppendItem(u"x");
      EXPECT_EQ(reserved.Capacity(), appended.Capacity()) << start << " then " << count;
    }
  }
}

TEST(StringList, BadIndexRaisesOnEveryAccessor) {
  TUnicodeStringList list = ListOf({u"1=a", u"2=b"});
  struct Case {
    const char* accessor;
    int index;
    std::function<void()> call;
  };
  const std::vector<Case> cases = {
      {"ItemAt", -1, [&] { list.ItemAt(-1); }},
      {"ItemAt", 2, [&] { list.ItemAt(2); }},
      {"ItemRef", -1, [&] { list.ItemRef(-1); }},
      {"ItemRef", 2, [&] { list.ItemRef(2); }},
      {"NameAt", -1, [&] { list.NameAt(-1); }},
      {"NameAt", 2, [&] { list.NameAt(2); }},
      {"ValueAt", 2, [&] { list.ValueAt(2); }},
      {"TakeItem", -1, [&] { list.TakeItem(-1); }},
      {"TakeItem", 2, [&] { list.TakeItem(2); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.accessor) + " " + std::to_string(c.index));
    try {
      c.call();
      ADD_FAILURE() << "no exception";
    } catch (const EStringListError& e) {
      EXPECT_STREQ(e.what(),
                   ("List index out of bounds (" + std::to_string(c.index) + ")").c_str());
    }
  }
  EXPECT_EQ(list.ValueAt(-1), u"");
  EXPECT_EQ(Items(list), (std::vector<std::u16string>{u"1=a", u"2=b"}));
  TUnicodeStringList empty;
  EXPECT_THROW(empty.ItemAt(0), EStringListError);
  EXPECT_THROW(empty.ValueAt(0), EStringListError);
}

TEST(StringList, TakeItemEmptiesTheEntryAndKeepsTheRest) {
  TUnicodeStringList list = ListOf({u"1=a", u"2=" + std::u16string(1000, u'b'), u"3=c"});
  const int capacity = list.Capacity();
  EXPECT_EQ(list.TakeItem(1), u"2=" + std::u16string(1000, u'b'));
  EXPECT_EQ(Items(list), (std::vector<std::u16string>{u"1=a", u"", u"3=c"}));
  EXPECT_EQ(list.ItemRef(1).capacity(), std::u16string().capacity());
  EXPECT_EQ(list.TakeItem(1), u"");
  EXPECT_EQ(list.Capacity(), capacity);
}

TEST(StringList, NameAndValue) {
  struct Case {
    std::u16string item, name, value;
  };
  const std::vector<Case> cases = {
      {u"3=x=y", u"3", u"x=y"}, {u"=abc", u"", u"abc"}, {u"abc", u"", u"bc"},
      {u"", u"", u""},          {u"a", u"", u""},       {u"12=", u"12", u""},
      {u"=", u"", u""},
  };
  for (const Case& c : cases) {
    TUnicodeStringList list = ListOf({c.item});
    EXPECT_EQ(list.NameAt(0), c.name) << "item " << testing::PrintToString(c.item);
    EXPECT_EQ(list.ValueAt(0), c.value) << "item " << testing::PrintToString(c.item);
  }
}

TEST(StringList, SeparatorCanBeChangedWithoutTouchingEntries) {
  TUnicodeStringList list = ListOf({u"a:b=c"});
  list.SetPairSeparator(u':');
  EXPECT_EQ(list.PairSeparator(), u':');
  EXPECT_EQ(list.NameAt(0), u"a");
  EXPECT_EQ(list.ValueAt(0), u"b=c");
  EXPECT_EQ(list.ItemAt(0), u"a:b=c");
}

TEST(StringList, JoinedTextEndsEveryEntryWithCrLf) {
  EXPECT_EQ(ListOf({u"a", u""}).JoinedText(), u"a\r\n\r\n");
  EXPECT_EQ(ListOf({u"x"}).JoinedText(), u"x\r\n");
  EXPECT_EQ(ListOf({u"a\nb", u"c"}).JoinedText(), u"a\nb\r\nc\r\n");
}

TEST(StringList, SplitText) {
  struct Case {
    std::u16string text;
    std::vector<std::u16string> items;
  };
  const std::vector<Case> cases = {
      {u"", {}},
      {u"a", {u"a"}},
      {u"a\r\n", {u"a"}},
      {u"a\r\n\r\n", {u"a", u""}},
      {u"\r\n", {u""}},
      {u"a\rb", {u"a", u"b"}},
      {u"a\nb", {u"a", u"b"}},
      {u"a\n\rb", {u"a", u"", u"b"}},
      {u"a\r\r\n", {u"a", u""}},
      {std::u16string(u"ab\0cd", 5), {u"ab"}},
      {std::u16string(u"\0ab", 3), {}},
      {std::u16string(u"a\r\n\0b", 5), {u"a"}},
      {u"\n\n", {u"", u""}},
      {u"x\u2028y\u0085z", {u"x\u2028y\u0085z"}},
  };
  for (const Case& c : cases) {
    TUnicodeStringList list = ListOf({u"old"});
    list.SplitText(c.text);
    EXPECT_EQ(Items(list), c.items) << "text " << testing::PrintToString(c.text);
  }
}

TEST(StringList, SplitThenJoinReproducesCrLfText) {
  const std::u16string text = u"first\r\n\r\nthird \u4E2D\r\n\U0001F600\r\n";
  TUnicodeStringList list;
  list.SplitText(text);
  EXPECT_EQ(list.ItemCount(), 4);
  EXPECT_EQ(list.JoinedText(), text);
}

TEST(StringList, SortGivesTheExactOrders) {
  struct Case {
    std::vector<std::u16string> input, output;
  };
  const std::vector<Case> cases = {
      {{u"1=a", u"2=b", u"1=c", u"3=d", u"2=e"}, {u"3=d", u"2=b", u"2=e", u"1=a", u"1=c"}},
      {{u"2=a", u"2=b", u"2=c"}, {u"2=c", u"2=b", u"2=a"}},
      {{u"1=a", u"1=b", u"2=c", u"2=d"}, {u"2=c", u"2=d", u"1=a", u"1=b"}},
      {{u"5=a", u"1=b", u"5=c", u"1=d", u"5=e", u"1=f"},
       {u"5=c", u"5=e", u"5=a", u"1=f", u"1=b", u"1=d"}},
      {{u"1=a", u"1=b"}, {u"1=b", u"1=a"}},
      {{u"1=a", u"1=b", u"1=c", u"1=d"}, {u"1=c", u"1=d", u"1=a", u"1=b"}},
      {{u"1=a", u"1=b", u"1=c", u"1=d", u"1=e"}, {u"1=d", u"1=e", u"1=c", u"1=a", u"1=b"}},
  };
  for (const Case& c : cases) {
    TUnicodeStringList list = ListOf(c.input);
    list.SortWith(ByCountDescending);
    EXPECT_EQ(Items(list), c.output) << "input " << testing::PrintToString(c.input);
  }
}

TEST(StringList, SortOfOneEntryNeverCompares) {
  TUnicodeStringList list = ListOf({u"1=a"});
  list.SortWith([](TUnicodeStringList&, int, int) -> int {
    ADD_FAILURE() << "compared a single entry";
    return 0;
  });
  EXPECT_EQ(list.ItemAt(0), u"1=a");
}

TEST(StringList, SortsLargeListsWithoutDeepRecursion) {
  // Long runs of equal keys and random keys: the result must be ordered and
  // a permutation of the input.
  std::mt19937 random(20260101);
  for (int distinct : {1, 3, 1000}) {
    TUnicodeStringList list;
    std::vector<std::u16string> input;
    for (int i = 0; i < 200000; ++i) {
      const std::string count = std::to_string(random() % distinct);
      std::u16string item(count.begin(), count.end());
      item += u'=';
      item += static_cast<char16_t>(u'a' + i % 26);
      input.push_back(item);
      list.AppendItem(item);
    }
    list.SortWith(ByCountDescending);
    std::vector<std::u16string> output = Items(list);
    for (int i = 0; i + 1 < list.ItemCount(); ++i)
      ASSERT_GE(CountOf(list, i), CountOf(list, i + 1)) << "at " << i;
    std::sort(input.begin(), input.end());
    std::sort(output.begin(), output.end());
    EXPECT_EQ(input, output);
  }
}

TEST(StringList, ExceptionFromCompareLeavesEveryEntryOnce) {
  const std::vector<std::u16string> input = {u"3=a", u"1=b", u"4=c", u"1=d", u"5=e",
                                             u"9=f", u"2=g", u"6=h"};
  TUnicodeStringList list = ListOf(input);
  static int calls;
  calls = 0;
  EXPECT_THROW(list.SortWith([](TUnicodeStringList& l, int a, int b) -> int {
    if (++calls == 7) throw std::runtime_error("compare failed");
    return ByCountDescending(l, a, b);
  }),
               std::runtime_error);
  std::vector<std::u16string> output = Items(list);
  std::vector<std::u16string> sorted_input = input;
  std::sort(sorted_input.begin(), sorted_input.end());
  std::sort(output.begin(), output.end());
  EXPECT_EQ(output, sorted_input);
}

}  // namespace
}  // namespace tallyfold
