// Internal to the engine; include "regex/RegexEngine.h" instead.
//
// What the search driver learns from a program before it runs the matcher:
// where a match can begin and which text every match must contain. Each
// answer only ever rules positions or inputs out where an attempt would
// fail, so using them never changes a result; it only saves attempts. An
// attempt that raises an error (a complex loop nested deeper than the loop
// stack) has a result too, which no answer foresees: a program that may
// raise gets an empty plan (PreparedProgram::may_raise), and its search
// tries every position in turn.
//
// - The start scan finds the next position whose code unit can begin a
//   match: one to four units compared eight at a time, up to four ASCII
//   ranges compared the same way, or a 64 Ki-bit set tested unit by unit.
// - The prefix is a literal that every match begins with (after zero-width
//   tests such as \b and group openings), checked at each candidate before
//   the matcher is started.
// - The literal set holds the literals of which every match begins with one
//   (the alternatives of `cat|dog|bird`, looked through \b and group
//   openings); a position is a candidate only when one of them occurs
//   there, found for all of them at once.
// - The required literal is the longest literal that every match contains;
//   an input without it from the search offset on has no match at all. A
//   small set of units that every match holds one of (the digits of \d+)
//   rejects inputs the same way.
// Literals under modifier i match a unit or its other case, as the matcher
// compares them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Simd.h"
#include "regex/ProgramAnalysis.h"

namespace tallyfold::regex_internal {

// A literal as the matcher compares it: input unit k matches when it equals
// units[k] or others[k] (the other case under i, units[k] itself without).
struct LiteralNeedle {
  std::u16string units;
  std::u16string others;

  bool empty() const { return units.empty(); }
  void clear() {
    units.clear();
    others.clear();
  }
  // The start of the first occurrence at or after `from` that ends at or
  // before `end`, or -1.
  int Find(const char16_t* text, int from, int end) const;
  // Copies `length` units to `to` and finds the literal in the same pass:
  // `hit` is then what Find(to, 0, length) gives. False, with the copy
  // complete but `hit` unset, when the text holds a 0 unit.
  bool CopyAndFind(char16_t* to, const char16_t* from, int length, int& hit) const;

  // The literal as the wide scans take it; valid while it is not changed.
  simd::Literal<char16_t> View() const { return {units.data(), others.data(), units.size()}; }
};

// The set of units at which a match can begin, in the cheapest form that
// describes it exactly.
struct StartScan {
  enum Kind : uint8_t {
    kAnyPosition,  // every position is a candidate
    kUnits,        // one of `count` units: first[k]
    kRanges,       // in one of `count` ranges first[k]..last[k] (ASCII)
    kBitmap,       // a member of the 64 Ki-bit set
  };
  Kind kind = kAnyPosition;
  int count = 0;
  char16_t first[4] = {};
  char16_t last[4] = {};
  // The prepared program's start set, unless kAnyPosition; nullptr for a
  // set of required units.
  const uint64_t* bits = nullptr;
  // A match may begin at the input start or end without consuming a unit
  // there (a path that starts with \A or \Z), so those are candidates too.
  bool at_input_start = false;
  bool at_input_end = false;

  // The first position in [from, end) whose unit is in the set, else `end`.
  int NextUnit(const char16_t* text, int from, int end) const;
};

// Literals of which every match begins with one, found all at once: a
// position is looked at further only when its unit is a literal of one
// unit, or when the units there hash to a bit that the first two units of
// a literal of two, or the first three of a longer one, set (tables of
// 64 Ki bits); the literals in that hash's bucket are then compared in
// full. So Next gives exactly the first place where one of them occurs.
struct LiteralSet {
  // Literals by the hash of their first units: a bit per hash, and the
  // literals of each bucket (hash >> kBucketShift) as ranges
  // [bucket_at[b], bucket_at[b + 1]) of `bucket`.
  struct HashIndex {
    std::vector<uint64_t> bits;
    std::vector<int32_t> bucket_at, bucket;
    bool empty() const { return bucket.empty(); }
    bool Has(uint32_t hash) const { return (bits[hash >> 6] >> (hash & 63)) & 1; }
  };
  static constexpr int kBucketShift = 4;
  static uint32_t Hash(char16_t a, char16_t b) {
    return ((static_cast<uint32_t>(a) * 0x9E3779B1u) ^ (static_cast<uint32_t>(b) * 0x85EBCA6Bu)) >>
           16;
  }
  static uint32_t Hash(char16_t a, char16_t b, char16_t c) {
    return ((static_cast<uint32_t>(a) * 0x9E3779B1u) ^ (static_cast<uint32_t>(b) * 0x85EBCA6Bu) ^
            (static_cast<uint32_t>(c) * 0xC2B2AE35u)) >>
           16;
  }

  // The literals one after another, as the matcher compares them: unit k
  // of literal n is units[at[n] + k] or others[at[n] + k], for k below
  // at[n + 1] - at[n].
  std::u16string units, others;
  std::vector<int32_t> at;
  std::vector<uint64_t> single;  // 64 Ki bits: literals of one unit
  bool has_single = false;       // there is one
  HashIndex pairs;               // literals of two units
  HashIndex triples;             // longer literals, by their first three

  bool empty() const { return at.size() < 2; }
  int size() const { return empty() ? 0 : static_cast<int>(at.size()) - 1; }
  // Makes the set of `literals` (none empty).
  void Assign(const std::vector<LiteralNeedle>& literals);
  // The first position in [from, end) at which one of the literals occurs
  // ending at or before `end`, or -1. text[end] must be readable.
  int Next(const char16_t* text, int from, int end) const;

 private:
  // Whether a literal of `index` with `hash` occurs at `pos`.
  bool Occurs(const HashIndex& index, uint32_t hash, const char16_t* text, int pos,
              int end) const;
};

struct SearchPlan {
  StartScan start;
  LiteralNeedle prefix;    // every match begins with it; may be empty
  // Every match begins with one of these; empty unless it rules out more
  // positions than the start scan (more than four literals, or a start
  // scan that lets every unit through).
  LiteralSet literals;
  LiteralNeedle required;  // every match contains it; may be empty
  // Units of which every match holds one (kRanges), or kAnyPosition.
  StartScan required_units;

  // The literal an input without which holds no match: the required
  // literal, else the prefix (which a match contains as well).
  const LiteralNeedle& Rejecting() const { return required.empty() ? prefix : required; }
};

// Builds `plan` from the program and from what its analysis found: the
// start set (empty when any unit can begin a match) with its input-start
// and input-end flags, and the other case of each unit; an empty plan when
// prepared.may_raise is set. The plan points into `prepared`, which must
// outlive it unchanged.
void BuildSearchPlan(const char16_t* program, int program_size, const PreparedProgram& prepared,
                     SearchPlan& plan);

}  // namespace tallyfold::regex_internal
