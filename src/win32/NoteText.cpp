// The note's wording (NoteText.h).
#include "win32/NoteText.h"

#include "win32/Catalogue.h"
#include "win32/WindowSettings.h"

namespace tallyfold::win32ui {
namespace {

constexpr const char* kContext = "tallyfold::TSearchNote";

std::u16string T(const char* source) { return Tr(kContext, source); }

std::u16string Quoted(std::u16string_view text) { return FillIn(T("“%1”"), {text}); }

std::u16string Joined(const std::vector<std::u16string>& parts) {
  std::u16string text;
  for (const std::u16string& part : parts) {
    if (!text.empty()) text += T(", ");
    text += part;
  }
  return text;
}

// The check box's caption as the window shows it (never translated).
constexpr char16_t kBoundaryBoxCaption[] = u"add \\b";

std::u16string Number(unsigned long long number) { return GroupedNumber(number); }

// Why files were read in a set, in a word or two, as the Qt window words it.
std::u16string ChoiceWords(TReadChoice choice) {
  switch (choice) {
    case TReadChoice::kMark: return T("by the mark");
    case TReadChoice::kNamed: return T("as chosen");
    case TReadChoice::kUtf8: return T("valid UTF-8");
    case TReadChoice::kUtf8Strays: return T("UTF-8 with stray bytes");
    case TReadChoice::kZeroBytes: return T("told by their zero bytes");
    case TReadChoice::kCompared: return T("by their common characters");
    case TReadChoice::kLocale: return T("the locale's");
    case TReadChoice::kDetected: return T("detected");
    case TReadChoice::kFallback: return T("fallback");
  }
  return std::u16string();
}

}  // namespace

std::vector<std::u16string> DescribeReadings(const ReadingSummary& summary,
                                             const std::string& fallback) {
  std::vector<std::u16string> texts;
  if (!summary.codesets.empty()) {
    std::vector<std::u16string> sets;
    for (const ReadingSummary::Codeset& codeset : summary.codesets) {
      std::vector<std::u16string> why;
      for (const ReadingSummary::Why& entry : codeset.why) {
        const std::u16string words = ChoiceWords(entry.choice);
        why.push_back(codeset.why.size() > 1
                          ? FillIn(T("%1 %2"), {Number(static_cast<unsigned long long>(entry.files)),
                                                words})
                          : words);
      }
      sets.push_back(FillIn(T("%1 (%2: %3)"),
                            {FromUtf8(codeset.name), Number(codeset.files), Joined(why)}));
    }
    texts.push_back(FillIn(T("Files without a byte-order mark read in an encoding other than "
                             "UTF-8, by encoding: %1."),
                           {Joined(sets)}));
  }
  if (summary.compared_files > 0) {
    const TSetComparison& measured = summary.comparison;
    auto share = [](int thousandths) {
      return Number(static_cast<unsigned long long>(thousandths / 10)) + u'.' +
             static_cast<char16_t>(u'0' + thousandths % 10);
    };
    texts.push_back(FillIn(
        T("Files valid in both GB18030 and BIG5, read in the one whose reading holds more of the "
          "commonest Chinese characters: %1 (%2 against the detector's answer). In %3, %4% of "
          "the characters beyond ASCII are among them read as %5, %6% read as %7."),
        {Number(static_cast<unsigned long long>(summary.compared_files)),
         Number(static_cast<unsigned long long>(summary.overruled_files)),
         Quoted(FromUtf8(summary.compared_example)), share(measured.chosen_share),
         FromUtf8(measured.chosen), share(measured.other_share), FromUtf8(measured.other)}));
  }
  if (summary.replaced_files > 0) {
    std::vector<std::u16string> names;
    for (const std::string& name : summary.examples) names.push_back(Quoted(FromUtf8(name)));
    if (summary.replaced_files > static_cast<int>(summary.examples.size())) names.push_back(T("…"));
    std::u16string text =
        FillIn(T("Files with bytes that are not text in the encoding they were read in: %1 (%2 "
                 "places, each read as �, which matches nothing): %3."),
               {Number(summary.replaced_files), Number(summary.replaced), Joined(names)});
    if (!summary.encoding_hint.empty()) {
      text += u' ';
      text += FillIn(T("They may read right with the encoding %1 (right-click the window: %2)."),
                     {Quoted(EncodingLabel(summary.encoding_hint, fallback)), EncodingMenuTitle()});
    }
    texts.push_back(std::move(text));
  }
  if (summary.nul_files > 0) {
    texts.push_back(FillIn(T("Files holding NUL characters: %1 (%2 in all); they are searched as "
                             "ordinary characters."),
                           {Number(summary.nul_files), Number(summary.nuls)}));
  }
  if (summary.undetected_files > 0) {
    texts.push_back(FillIn(T("Files for which the encoding detector answered %2, which this system "
                             "cannot decode, and which were read as %3 instead: %1."),
                           {Number(summary.undetected_files), FromUtf8(summary.undetected),
                            FromUtf8(fallback)}));
  }
  return texts;
}

std::vector<std::u16string> DescribePattern(const std::vector<PatternAdvice>& advice,
                                            int lines_without_boundary) {
  std::vector<std::u16string> texts;
  std::vector<std::u16string> edges;
  for (const PatternAdvice& item : advice)
    if (item.pitfall == PatternPitfall::kBoundaryBeside) edges.push_back(Quoted(item.edge));
  const std::u16string box = Quoted(kBoundaryBoxCaption);
  if (!edges.empty()) {
    std::u16string text = FillIn(T("The \\b that %1 adds beside %2 matches only where an ASCII "
                                   "letter, digit or _ stands next to it."),
                                 {box, Joined(edges)});
    text += u' ';
    text += lines_without_boundary >= 0
                ? FillIn(T("Lines that would match without %1: %2."),
                         {box, Number(static_cast<unsigned long long>(lines_without_boundary))})
                : FillIn(T("Untick %1 to find it anywhere."), {box});
    texts.push_back(std::move(text));
  }
  for (const PatternAdvice& item : advice) {
    if (item.pitfall == PatternPitfall::kBoundaryBeside) continue;
    const std::u16string edge = Quoted(item.edge);
    const std::u16string better = Quoted(item.better);
    std::u16string text =
        item.pitfall == PatternPitfall::kStartAnchor
            ? FillIn(T("Each line is searched with a space added at its start, so %1 followed by "
                       "other text never matches."),
                     {edge})
            : FillIn(T("Each line is searched with a space added at its end, so %1 after other "
                       "text never matches."),
                     {edge});
    text += u' ';
    text += item.needs_no_boundary ? FillIn(T("Search for %1 with %2 unticked."), {better, box})
                                   : FillIn(T("Search for %1 instead."), {better});
    texts.push_back(std::move(text));
  }
  return texts;
}

std::u16string DescribeOpenFailure(const std::u16string& report_path) {
  return FillIn(T("The report was written, but no application could open it. Open it in a web "
                  "browser:\n%1"),
                {report_path});
}

std::u16string NoteTitle() { return T("About this search"); }
std::u16string NoteCloseText() { return T("Close"); }

std::u16string JoinSections(const std::vector<std::u16string>& sections) {
  std::u16string text;
  for (const std::u16string& section : sections) {
    if (section.empty()) continue;
    if (!text.empty()) text += u"\n\n";
    text += section;
  }
  return text;
}

}  // namespace tallyfold::win32ui
