// The reference matcher (ReferenceMatcher.h). This file's external interface
// is just ReferenceMatcher::Search; ReferenceDifferentialTest.cpp compares it
// with the engine.
//
// Every choice (an alternative, a repetition count, a loop iteration) runs
// the rest of the program in a recursive call on its own copy of the state,
// so a failed choice leaves nothing to undo: the caller still holds the state
// as it was before the choice.
#include "regex/ReferenceMatcher.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

#include "regex/Program.h"

namespace tallyfold::test {
namespace {

using namespace tallyfold::regex_internal;

// Nodes are read through the accessors of Program.h; a node is the index of
// its first unit in the program.

constexpr int kGroups = 15;      // slot 0 is the whole match
constexpr int kLoopStack = 10;   // complex loops active at once
constexpr int kLinkSlots = 32;   // LINK nodes one program may hold
constexpr int kMaxRecursion = 4000;

char16_t InvertAscii(char16_t ch) {
  if (ch >= 128) return ch;
  if (ch >= u'a' && ch <= u'z') return static_cast<char16_t>(ch - 32);
  if (ch >= u'A' && ch <= u'Z') return static_cast<char16_t>(ch + 32);
  return ch;
}

// A set string's 0 unit is no member.
bool InSet(const std::u16string& set, char16_t ch) {
  return ch != 0 && set.find(ch) != std::u16string::npos;
}

}  // namespace

// Everything one path of the attempt has changed. Positions are 0-based
// indexes into the input; -1 is none.
struct ReferenceMatcher::State {
  int cursor = 0;
  std::array<int, kGroups> start;
  std::array<int, kGroups> end;
  std::array<int32_t, kLoopStack + 1> counter{};  // used from index 1
  std::array<int, kLoopStack + 1> loop_start{};   // where the iteration began
  int depth = 0;
  int links = 0;                          // LINK nodes passed so far
  std::array<int, kLinkSlots> link_node{};  // each one's node
  std::array<int, kLinkSlots> link_seen{};  // where it was last passed

  State() {
    start.fill(-1);
    end.fill(-1);
  }
};

ReferenceMatcher::ReferenceMatcher(std::vector<char16_t> program, ReferenceSettings settings,
                                   long long step_budget)
    : program_(std::move(program)), settings_(std::move(settings)), step_budget_(step_budget) {}

ReferenceGroups ReferenceMatcher::Search(const std::u16string& input, int offset) {
  input_ = input;
  budget_ = step_budget_;
  const int length = static_cast<int>(input_.size());
  if (offset < 1) throw ReferenceError{1006};
  if (offset > length + 1) return {};
  for (int at = offset - 1; at <= length; ++at) {
    State state;
    state.cursor = at;
    State result;
    depth_ = 0;
    if (!Run(1, state, result)) continue;
    ReferenceGroups groups(kGroups, {-1, -1});
    groups[0] = {at + 1, result.cursor - at};
    for (int n = 1; n < kGroups; ++n)
      if (result.start[n] >= 0 && result.end[n] >= 0)
        groups[n] = {result.start[n] + 1, result.end[n] - result.start[n]};
    return groups;
  }
  return {};
}

void ReferenceMatcher::Step() {
  if (--budget_ < 0) throw ReferenceBudgetExceeded{};
}

int ReferenceMatcher::At(int position) const {
  return position >= 0 && position < static_cast<int>(input_.size()) ? input_[position] : -1;
}

char16_t ReferenceMatcher::Invert(char16_t ch) const {
  return settings_.invert_case != nullptr ? settings_.invert_case(ch) : InvertAscii(ch);
}

bool ReferenceMatcher::SameCase(char16_t input, char16_t pattern, bool fold) const {
  return input == pattern || (fold && input == Invert(pattern));
}

bool ReferenceMatcher::IsSeparator(char16_t ch) const {
  return InSet(settings_.line_separators, ch);
}

bool ReferenceMatcher::IsWord(int position) const {
  return At(position) >= 0 && InSet(settings_.word_set, input_[position]);
}

// Whether the one-character node `node` takes `ch`; never at the input end.
bool ReferenceMatcher::MatchesOne(int node, int unit) const {
  if (unit < 0) return false;
  const auto ch = static_cast<char16_t>(unit);
  const char16_t op = program_[node];
  switch (op) {
    case ANY_CHAR: return true;
    case LITERAL: return ch == LiteralFirst(program_.data(), node);
    case LITERAL_CI: return SameCase(ch, LiteralFirst(program_.data(), node), true);
    case IN_SET:
    case NOT_IN_SET:
    case IN_SET_CI:
    case NOT_IN_SET_CI: {
      const bool fold = op == IN_SET_CI || op == NOT_IN_SET_CI;
      bool found = false;
      const char16_t* members = NodeText(program_.data(), node);
      for (int32_t i = 0; i < TextLength(program_.data(), node); ++i)
        if (members[i] == ch || (fold && members[i] == Invert(ch))) found = true;
      return (op == IN_SET || op == IN_SET_CI) ? found : !found;
    }
    case DIGIT: return ch >= u'0' && ch <= u'9';
    case NOT_DIGIT: return !(ch >= u'0' && ch <= u'9');
    case WORD_CHAR: return InSet(settings_.word_set, ch);
    case NOT_WORD_CHAR: return !InSet(settings_.word_set, ch);
    case SPACE_CHAR: return InSet(settings_.space_set, ch);
    case NOT_SPACE_CHAR: return !InSet(settings_.space_set, ch);
    default: throw ReferenceError{1000};
  }
}

// Whether the capture that the back-reference `node` names occurs at
// `position`; `length` is its length then.
bool ReferenceMatcher::CapturedAt(int node, const State& state, int position,
                                  int& length) const {
  const int group = BackrefGroup(program_.data(), node);
  if (group >= kGroups) return false;
  const int from = state.start[group];
  const int to = state.end[group];
  if (from < 0 || to < 0 || to < from) return false;
  length = to - from;
  if (length > static_cast<int>(input_.size()) - position) return false;
  const bool fold = program_[node] == BACKREF_CI;
  for (int i = 0; i < length; ++i)
    if (!SameCase(input_[position + i], input_[from + i], fold)) return false;
  return true;
}

// Runs the program from `node` on `state`; on success `result` is the state
// at MATCH_END.
bool ReferenceMatcher::Run(int node, State state, State& result) {
  if (++depth_ > kMaxRecursion) throw ReferenceBudgetExceeded{};
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{depth_};
  int& cursor = state.cursor;
  for (;;) {
    Step();
    if (node < 0) throw ReferenceError{1002};
    const char16_t op = program_[node];
    const int next = NextNode(program_.data(), node);
    switch (op) {
      case MATCH_END:
        result = state;
        return true;
      case INPUT_START:
        if (cursor != 0) return false;
        break;
      case INPUT_END:
        if (At(cursor) >= 0) return false;
        break;
      case ANY_CHAR: case IN_SET: case NOT_IN_SET: case IN_SET_CI: case NOT_IN_SET_CI:
      case DIGIT: case NOT_DIGIT: case WORD_CHAR: case NOT_WORD_CHAR: case SPACE_CHAR:
      case NOT_SPACE_CHAR:
        if (!MatchesOne(node, At(cursor))) return false;
        ++cursor;
        break;
      case LITERAL:
      case LITERAL_CI: {
        const char16_t* text = NodeText(program_.data(), node);
        for (int32_t i = 0; i < TextLength(program_.data(), node); ++i, ++cursor)
          if (At(cursor) < 0 || !SameCase(input_[cursor], text[i], op == LITERAL_CI)) return false;
        break;
      }
      case ALTERNATIVE: {
        const int later = next;
        if (later < 0 || program_[later] != ALTERNATIVE) {
          node = AlternativeBody(node);  // a single choice
          continue;
        }
        return Alternatives(node, state, result);
      }
      case LINK: {
        // The back edge of a greedy * or +: reaching it again where it was
        // last passed means the iteration consumed nothing.
        int slot = 0;
        while (slot < state.links && state.link_node[slot] != node) ++slot;
        if (slot == state.links) {
          if (slot == kLinkSlots) throw std::logic_error("more LINK nodes than slots");
          state.link_node[slot] = node;
          state.link_seen[slot] = -1;
          ++state.links;
        }
        if (state.link_seen[slot] == cursor) return false;
        state.link_seen[slot] = cursor;
        break;
      }
      case EMPTY:
      case COMMENT:
        break;
      case REPEAT_STAR: case REPEAT_PLUS: case REPEAT_BRACES:
      case REPEAT_STAR_LAZY: case REPEAT_PLUS_LAZY: case REPEAT_BRACES_LAZY:
        return Repeat(node, state, result);
      case LOOP_ENTRY:
        if (state.depth + 1 > kLoopStack) throw ReferenceError{1014};
        ++state.depth;
        state.counter[state.depth] = 0;
        state.loop_start[state.depth] = cursor;
        break;
      case LOOP:
      case LOOP_LAZY:
        return Loop(node, state, result);
      case BACKREF:
      case BACKREF_CI: {
        int length = 0;
        if (!CapturedAt(node, state, cursor, length)) return false;
        cursor += length;
        break;
      }
      case LINE_START:
        if (cursor != 0) {
          const char16_t before = input_[cursor - 1];
          const bool after_pair =
              before == settings_.pair_tail && cursor >= 2 && At(cursor - 2) == settings_.pair_head;
          if (!after_pair) {
            if (before == settings_.pair_head && At(cursor) == settings_.pair_tail) return false;
            if (!IsSeparator(before)) return false;
          }
        }
        break;
      case LINE_END:
        if (At(cursor) >= 0) {
          const char16_t ch = input_[cursor];
          const bool before_pair = ch == settings_.pair_head && At(cursor + 1) == settings_.pair_tail;
          if (!before_pair) {
            if (ch == settings_.pair_tail && cursor != 0 && At(cursor - 1) == settings_.pair_head)
              return false;
            if (!IsSeparator(ch)) return false;
          }
        }
        break;
      case ANY_BUT_SEPARATOR: {
        if (At(cursor) < 0) return false;
        const char16_t ch = input_[cursor];
        if (ch == settings_.pair_head && At(cursor + 1) == settings_.pair_tail) return false;
        if (IsSeparator(ch)) return false;
        ++cursor;
        break;
      }
      case WORD_BOUNDARY:
      case NOT_WORD_BOUNDARY: {
        const bool boundary = IsWord(cursor - 1) != IsWord(cursor);
        if (boundary != (op == WORD_BOUNDARY)) return false;
        break;
      }
      default:
        if (IsOpen(op)) {
          state.start[OpenGroup(op)] = cursor;
        } else if (IsClose(op)) {
          state.end[CloseGroup(op)] = cursor;
        } else {
          throw ReferenceError{1001};
        }
        break;
    }
    node = next;
  }
}

// Each alternative of the chain at `node` in turn, the first that lets the
// rest of the program match winning.
bool ReferenceMatcher::Alternatives(int node, const State& state, State& result) {
  for (int alternative = node;
       alternative >= 0 && program_[alternative] == ALTERNATIVE;
       alternative = NextNode(program_.data(), alternative)) {
    if (Run(AlternativeBody(alternative), state, result)) return true;
  }
  return false;
}

// A single-node repetition: every count from the most down (greedy) or from
// the least up (lazy), the rest of the program tried after each.
bool ReferenceMatcher::Repeat(int node, const State& state, State& result) {
  const char16_t op = program_[node];
  int32_t min = 0;
  int32_t max = kRepeatMax;
  int operand = OperandStart(node);  // the repeated node of *, + and ?
  if (op == REPEAT_PLUS || op == REPEAT_PLUS_LAZY) min = 1;
  if (op == REPEAT_BRACES || op == REPEAT_BRACES_LAZY) {
    min = BracesMin(program_.data(), node);
    max = BracesMax(program_.data(), node);
    operand = BracesOperand(node);
  }
  const bool lazy = op == REPEAT_STAR_LAZY || op == REPEAT_PLUS_LAZY || op == REPEAT_BRACES_LAZY;
  const int next = NextNode(program_.data(), node);
  // A literal that follows must start where the repetition ends.
  int ahead = -1;
  if (next >= 0 && program_[next] == LITERAL) ahead = LiteralFirst(program_.data(), next);

  const int from = state.cursor;
  int step = 1;        // units one repetition takes
  int most = 0;        // repetitions possible from `from`
  bool every_count_here = false;  // an empty capture: every count ends at `from`
  const char16_t repeated = program_[operand];
  if (repeated == BACKREF || repeated == BACKREF_CI) {
    const int group = BackrefGroup(program_.data(), operand);
    const int captured_from = group < kGroups ? state.start[group] : -1;
    const int captured_to = group < kGroups ? state.end[group] : -1;
    if (captured_from < 0 || captured_to < 0 || captured_to < captured_from) {
      most = 0;  // an unset group repeats zero times
    } else if (captured_to == captured_from) {
      every_count_here = true;
    } else {
      step = captured_to - captured_from;
      int length = 0;
      while (most < max && CapturedAt(operand, state, from + most * step, length)) ++most;
    }
  } else {
    const int left = static_cast<int>(input_.size()) - from;
    const int limit = std::min<int64_t>(max, left);
    while (most < limit && MatchesOne(operand, At(from + most))) ++most;
  }

  const auto try_count = [&](int count) {
    State next_state = state;
    next_state.cursor = from + count * step;
    if (ahead >= 0 && At(next_state.cursor) != ahead) return false;
    return Run(next, next_state, result);
  };
  if (every_count_here) return min <= max && try_count(0);
  if (lazy) {
    for (int count = min; count <= most; ++count)
      if (try_count(count)) return true;
  } else {
    for (int count = most; count >= min; --count)
      if (try_count(count)) return true;
  }
  return false;
}

// The end of a complex loop: another iteration of the body or the
// continuation after the loop, in the order the loop's kind asks for.
bool ReferenceMatcher::Loop(int node, const State& state, State& result) {
  const int depth = state.depth;
  if (depth <= 0) throw ReferenceError{1015};
  const int32_t min = LoopMin(program_.data(), node);
  const int32_t max = LoopMax(program_.data(), node);
  const int body = LoopBody(program_.data(), node);
  const int next = NextNode(program_.data(), node);
  const int32_t count = state.counter[depth];

  const auto iterate = [&] {
    State again = state;
    again.counter[depth] = count + 1;
    again.loop_start[depth] = state.cursor;
    return Run(body, again, result);
  };
  const auto leave = [&] {
    State after = state;
    after.depth = depth - 1;
    return Run(next, after, result);
  };

  // An iteration that consumed nothing would repeat for ever: the loop is
  // finished as if its count were reached.
  if (count > 0 && state.cursor == state.loop_start[depth]) return leave();
  if (count < min) return iterate();
  if (program_[node] == LOOP) {
    if (count < max && iterate()) return true;
    return leave();
  }
  if (leave()) return true;
  return count < max && iterate();
}

}  // namespace tallyfold::test
