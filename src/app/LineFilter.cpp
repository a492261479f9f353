// What a line must hold for the corpus scan to find a match in it.
//
// This file's external interface is LineFilter.h; tests/app/LineFilterTest.cpp
// covers it.
#include "app/LineFilter.h"

#include <algorithm>
#include <cstddef>

namespace tallyfold {

namespace {

// A unit up to U+0020 in a match may be the padding, or stand where the
// trimmed ends of the line were: it need not be in the line.
bool MayComeFromOutside(char16_t unit) { return unit <= 0x20; }

}  // namespace

TLineNeedle LineNeedleFor(TRegexEngine& engine) {
  const TRequiredText required = engine.RequiredText();
  TLineNeedle needle;
  // The longest run of the literal that the line itself must hold.
  std::size_t best_from = 0;
  std::size_t best_length = 0;
  for (std::size_t k = 0, from = 0; k <= required.units.size(); ++k) {
    const bool ends_run = k == required.units.size() || MayComeFromOutside(required.units[k]) ||
                          (k < required.others.size() && MayComeFromOutside(required.others[k]));
    if (!ends_run) continue;
    if (k - from > best_length) {
      best_from = from;
      best_length = k - from;
    }
    from = k + 1;
  }
  needle.units = required.units.substr(best_from, best_length);
  needle.others = required.others.size() == required.units.size()
                      ? required.others.substr(best_from, best_length)
                      : needle.units;
  // A set that holds the padding's space is met by every padded line.
  const bool set_holds_padding =
      std::any_of(required.ranges.begin(), required.ranges.end(),
                  [](const auto& range) { return MayComeFromOutside(range.first); });
  if (!set_holds_padding) needle.ranges = required.ranges;
  return needle;
}

}  // namespace tallyfold
