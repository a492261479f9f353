// Internal to the tests: a string list's entries as a vector, so that a
// whole list can be compared in one EXPECT_EQ and printed when it differs.
#pragma once

#include <string>
#include <vector>

#include "text/StringList.h"

namespace tallyfold::test {

inline std::vector<std::u16string> Items(const TUnicodeStringList& list) {
  std::vector<std::u16string> items;
  for (int i = 0; i < list.ItemCount(); ++i) items.push_back(list.ItemAt(i));
  return items;
}

}  // namespace tallyfold::test
