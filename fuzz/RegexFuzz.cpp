// Fuzz target for the engine: compile, count every match, replace all.
//
// Input: one byte of modifier bits (i r s g m x in bits 0..5), then the
// expression, the input text and the template as 0-separated fields. Any
// ERegexEngine is an accepted outcome; a crash, a sanitizer report, a leak or
// a hang is not.
//
// Every match attempt is bounded, so that a timeout means a real hang and
// not a pattern that legitimately backtracks exponentially; the replay of
// the seeds runs under the same bound.
#include <cstddef>
#include <cstdint>

#include "FuzzInput.h"
#include "regex/RegexEngine.h"

namespace {
constexpr int32_t kAttemptSteps = 5000;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t modifiers = data[0];
  const auto fields = tallyfold::fuzz::SplitFields(data + 1, size - 1, 3);
  tallyfold::TRegexEngine engine;
  engine.SetMatchStepLimit(kAttemptSteps);
  try {
    for (int index = 1; index <= 6; ++index) {
      engine.SetModifier(index, (modifiers >> (index - 1)) & 1);
    }
    engine.SetExpression(fields[0]);
    int count = 0;
    for (bool hit = engine.Exec(fields[1]); hit; hit = engine.ExecNext()) {
      // Every match lies inside the input, and the count can never exceed
      // one per position plus the end position.
      const int pos = engine.GroupPos(0);
      const int len = engine.GroupLen(0);
      if (pos < 1 || len < 0 || pos + len - 1 > static_cast<int>(fields[1].size())) {
        __builtin_trap();
      }
      if (++count > static_cast<int>(fields[1].size()) + 1) __builtin_trap();
    }
    engine.ReplaceAll(fields[1], fields[2], true);
    engine.ReplaceAll(fields[1], fields[2], false);
  } catch (const tallyfold::ERegexEngine&) {
    // Compile and match errors are ordinary outcomes.
  }
  return 0;
}
