// The forms of the matches a view shows, counted and written.
//
// This file's external interface is MatchForms.h; tests/app/MatchFormsTest.cpp
// covers it, against the JSON Lines rows of the same search.
//
// A million rows are counted in two passes over small integers rather than
// with a set per form: each row's form gets a number from one hash table,
// then the (form, line) and (form, file) pairs are sorted and the distinct
// ones counted.
#include "app/MatchForms.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <utility>

#include "platform/Exception.h"
#include "text/TextFile.h"
#include "text/WideHelpers.h"

namespace tallyfold {

namespace {

constexpr std::size_t kCheckEvery = std::size_t{1} << 14;

// For each form, the number of distinct values paired with it.
void CountDistinct(std::vector<std::pair<std::uint32_t, std::uint64_t>>& pairs,
                   std::vector<MatchForm>& forms, std::size_t MatchForm::*count) {
  std::sort(pairs.begin(), pairs.end());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (i == 0 || pairs[i] != pairs[i - 1]) ++(forms[pairs[i].first].*count);
  }
}

// Makes `form` the text the tables write: a surrogate without its partner
// as U+FFFD, so that two matches that cut different pairs are one form, as
// a reader of the tables sees them. With `fold_ascii_case`, ASCII letters
// in lower case.
void FoldForm(std::u16string& form, bool fold_ascii_case) {
  for (std::size_t i = 0; i < form.size(); ++i) {
    char16_t& unit = form[i];
    if (IsHighSurrogate(unit) && i + 1 < form.size() && IsLowSurrogate(form[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      unit = 0xFFFD;
    } else if (fold_ascii_case && unit >= u'A' && unit <= u'Z') {
      unit = static_cast<char16_t>(unit + (u'a' - u'A'));
    }
  }
}

}  // namespace

std::vector<MatchForm> CountForms(const ResultView& view, bool fold_ascii_case,
                                  const std::atomic<bool>* cancel) {
  std::vector<MatchForm> forms;
  std::unordered_map<std::u16string, std::uint32_t> numbers;
  // A line is told by its file and its number, as a reader of the match
  // tables tells it.
  std::vector<std::pair<std::uint32_t, std::uint64_t>> lines;
  std::vector<std::pair<std::uint32_t, std::uint64_t>> files;
  lines.reserve(view.RowCount());
  files.reserve(view.RowCount());
  std::u16string form;
  for (std::size_t row = 0; row < view.RowCount(); ++row) {
    if (row % kCheckEvery == 0 && IsCancelled(cancel)) throw ECancelled();
    form.assign(view.Context(row).match);
    FoldForm(form, fold_ascii_case);
    const auto [at, added] = numbers.try_emplace(form, static_cast<std::uint32_t>(forms.size()));
    if (added) forms.push_back({form, 0, 0, 0});
    const std::uint32_t number = at->second;
    ++forms[number].matches;
    const ResultLine line = view.Line(row);
    const auto file = static_cast<std::uint32_t>(line.file);
    lines.emplace_back(number, (std::uint64_t{file} << 32) | static_cast<std::uint32_t>(line.line));
    files.emplace_back(number, file);
  }
  if (IsCancelled(cancel)) throw ECancelled();
  CountDistinct(lines, forms, &MatchForm::lines);
  CountDistinct(files, forms, &MatchForm::files);
  std::sort(forms.begin(), forms.end(), [](const MatchForm& a, const MatchForm& b) {
    return a.matches != b.matches ? a.matches > b.matches : a.form < b.form;
  });
  return forms;
}

void WriteForms(const std::vector<MatchForm>& forms,
                const std::function<void(std::string_view bytes)>& write,
                const std::atomic<bool>* cancel) {
  TableOutput output(write);
  output.Add(u"form\tmatches\tlines\tfiles\n");
  std::u16string rows;
  for (std::size_t i = 0; i < forms.size(); ++i) {
    if (i % kCheckEvery == 0 && IsCancelled(cancel)) throw ECancelled();
    const MatchForm& form = forms[i];
    AppendTableField(rows, OutputFormat::kTsv, form.form);
    for (const std::size_t count : {form.matches, form.lines, form.files}) {
      rows += u'\t';
      for (const char digit : std::to_string(count)) rows += static_cast<char16_t>(digit);
    }
    rows += u'\n';
    if (rows.size() >= kCheckEvery) {
      output.Add(rows);
      rows.clear();
    }
  }
  output.Add(rows);
  output.Flush();
}

void WriteFormsFile(const std::vector<MatchForm>& forms, const std::string& native_path,
                    const std::atomic<bool>* cancel) {
  WriteFileWith(
      native_path,
      [&](TStream& stream) {
        WriteForms(
            forms,
            [&stream](std::string_view bytes) {
              stream.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
            },
            cancel);
      },
      cancel);
}

ResultView RowsOfForm(const ResultView& view, std::u16string_view form, bool fold_ascii_case,
                      const std::atomic<bool>* cancel) {
  std::vector<std::size_t> rows;
  std::u16string shown;
  for (std::size_t row = 0; row < view.RowCount(); ++row) {
    if (row % kCheckEvery == 0 && IsCancelled(cancel)) throw ECancelled();
    shown.assign(view.Context(row).match);
    FoldForm(shown, fold_ascii_case);
    if (shown == form) rows.push_back(row);
  }
  return view.Subset(rows);
}

}  // namespace tallyfold
