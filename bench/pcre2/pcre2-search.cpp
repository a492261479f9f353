// pcre2-search: the whole job of `tallyfold-cli PATTERN DIR`, done the
// straightforward way with PCRE2's 16-bit JIT, as a speed reference for
// bench/compare. Single-threaded, like a plain C++ program would be.
//
// Usage: pcre2-search [--case] [--no-boundary] [-o FILE] PATTERN DIR
//
// The same steps as the search command: every *.txt file directly inside DIR
// is decoded (UTF-16 LE or BE and UTF-8 by their byte-order marks, anything
// else as UTF-8), split at CR, LF and CR LF, each line trimmed of characters
// up to U+0020 and wrapped in one space on each side; the matches of a line
// are counted (after an empty match the next search starts one unit further
// on), a line with matches is highlighted with <span class="key"> and its
// markup characters escaped; the entries are sorted most matches first and
// written with a tally of the counts as a UTF-16 LE report. The report is
// close to the search command's, not byte-identical: it is here to be timed.
// Of the program's own code it uses only the byte-order-mark sniffer
// (text/TextFile.h), so that both take the same files for UTF-16 and UTF-8.
//
// Matching follows the engine's defaults: code units without UTF checks,
// `.` matches everything, `$` only at the end, ASCII case ignored unless
// --case, and the pattern wrapped in \b...\b as text unless --no-boundary.
#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "text/TextFile.h"

namespace {

struct Entry {
  int count;
  std::u16string text;  // "count=" + highlighted line + info fragment
};

std::u16string Widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// UTF-8 to UTF-16; an ill-formed byte becomes U+FFFD.
void DecodeUtf8(const unsigned char* p, const unsigned char* end, std::u16string& out) {
  out.reserve(out.size() + static_cast<std::size_t>(end - p));
  while (p < end) {
    const unsigned char b = *p;
    if (b < 0x80) {
      out.push_back(b);
      ++p;
      continue;
    }
    int extra = b >= 0xF0 && b < 0xF8 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 && b < 0xE0 ? 1 : -1;
    if (extra < 0 || end - p <= extra) {
      out.push_back(0xFFFD);
      ++p;
      continue;
    }
    char32_t cp = b & (0x3F >> extra);
    bool ok = true;
    for (int i = 1; i <= extra; ++i) {
      if ((p[i] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (!ok) {
      out.push_back(0xFFFD);
      ++p;
      continue;
    }
    p += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
}

std::u16string DecodeFile(const std::string& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  const tallyfold::TByteOrderMark mark = tallyfold::SniffByteOrderMark(bytes);
  std::u16string text;
  if (mark.encoding == tallyfold::teUtf16LE || mark.encoding == tallyfold::teUtf16BE) {
    const bool big = mark.encoding == tallyfold::teUtf16BE;
    text.resize((n - 2) / 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
      const unsigned char a = p[2 + 2 * i], b = p[3 + 2 * i];
      text[i] = static_cast<char16_t>(big ? (a << 8) | b : (b << 8) | a);
    }
  } else {
    DecodeUtf8(p + mark.length, p + n, text);
  }
  return text;
}

void AppendEscaped(std::u16string& out, std::u16string_view text) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t ch = text[i];
    if (ch != u'&' && ch != u'<' && ch != u'>' && ch != u'"') continue;
    out.append(text.substr(start, i - start));
    out += ch == u'&' ? u"&amp;" : ch == u'<' ? u"&lt;" : ch == u'>' ? u"&gt;" : u"&quot;";
    start = i + 1;
  }
  out.append(text.substr(start));
}

class Searcher {
 public:
  Searcher(const std::u16string& pattern, bool caseless) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    uint32_t options = PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY;
    if (caseless) options |= PCRE2_CASELESS;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options,
                          &error, &offset, nullptr);
    if (code_ == nullptr) {
      PCRE2_UCHAR message[256];
      pcre2_get_error_message(error, message, 256);
      std::string text;
      for (PCRE2_UCHAR* m = message; *m != 0; ++m) text += static_cast<char>(*m);
      throw std::runtime_error("pattern: " + text);
    }
    if (pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE) != 0)
      throw std::runtime_error("PCRE2 JIT unavailable");
    data_ = pcre2_match_data_create_from_pattern(code_, nullptr);
    stack_ = pcre2_jit_stack_create(32 * 1024, 64 * 1024 * 1024, nullptr);
    context_ = pcre2_match_context_create(nullptr);
    pcre2_jit_stack_assign(context_, nullptr, stack_);
  }
  ~Searcher() {
    pcre2_match_context_free(context_);
    pcre2_jit_stack_free(stack_);
    pcre2_match_data_free(data_);
    pcre2_code_free(code_);
  }

  // Counts the matches of `line` and records their spans in `spans`.
  int Count(const std::u16string& line, std::vector<std::pair<std::size_t, std::size_t>>& spans) {
    spans.clear();
    PCRE2_SIZE start = 0;
    while (start <= line.size()) {
      const int rc = pcre2_jit_match(code_, reinterpret_cast<PCRE2_SPTR>(line.data()),
                                     line.size(), start, 0, data_, context_);
      if (rc == PCRE2_ERROR_NOMATCH) break;
      if (rc < 0) throw std::runtime_error("match error " + std::to_string(rc));
      const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data_);
      spans.emplace_back(ov[0], ov[1]);
      start = ov[1] + (ov[1] == ov[0] ? 1 : 0);
    }
    return static_cast<int>(spans.size());
  }

 private:
  pcre2_code* code_ = nullptr;
  pcre2_match_data* data_ = nullptr;
  pcre2_jit_stack* stack_ = nullptr;
  pcre2_match_context* context_ = nullptr;
};

bool IsBlank(char16_t ch) { return ch <= u' '; }

void ScanFile(Searcher& searcher, const std::filesystem::path& path, std::vector<Entry>& entries) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot open file \"" + path.string() + "\"");
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::u16string text = DecodeFile(bytes);
  const std::u16string info_head =
      Widen(" <span class=\"info\"><a href=\"" + path.string() +
            "\" target=\"_blank\">(<span class=\"file\">" + path.filename().string() +
            "</span>, <span class=\"line\">Line ");

  std::vector<std::pair<std::size_t, std::size_t>> spans;
  std::u16string padded;
  int line_number = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = pos;
    while (end < text.size() && text[end] != u'\r' && text[end] != u'\n') ++end;
    ++line_number;
    std::size_t first = pos, last = end;
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    pos = end;
    if (pos < text.size() && text[pos] == u'\r') ++pos;
    if (pos < text.size() && text[pos] == u'\n') ++pos;
    if (first == last) continue;

    padded.assign(1, u' ');
    padded.append(text, first, last - first);
    padded += u' ';
    const int count = searcher.Count(padded, spans);
    if (count == 0) continue;
    Entry entry{count, Widen(std::to_string(count))};
    entry.text += u'=';
    std::size_t copied = 0;
    const std::u16string_view view(padded);
    for (const auto& [from, to] : spans) {
      AppendEscaped(entry.text, view.substr(copied, from - copied));
      entry.text += u"<span class=\"key\">";
      AppendEscaped(entry.text, view.substr(from, to - from));
      entry.text += u"</span>";
      copied = to;
    }
    AppendEscaped(entry.text, view.substr(copied));
    entry.text += info_head;
    entry.text += Widen(std::to_string(line_number) + "</span>)</a></span>");
    entries.push_back(std::move(entry));
  }
}

void WriteReport(const std::string& path, std::vector<Entry>& entries) {
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.count > b.count; });
  std::u16string out;
  const auto line = [&out](std::u16string_view text) {
    out.append(text);
    out += u"\r\n";
  };
  line(u"<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
       u"\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">");
  line(u"<html xmlns=\"http://www.w3.org/1999/xhtml\">");
  line(u"<head>");
  line(u"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />");
  line(u"<title>Result</title><link type=\"text/css\" href=\"result.css\" "
       u"rel=\"stylesheet\"></head><body>");
  line(u"<table align=\"center\"><tr><td>");
  for (std::size_t i = 0; i < entries.size();) {
    std::size_t j = i;
    while (j < entries.size() && entries[j].count == entries[i].count) ++j;
    out += u"【";
    out += Widen(std::to_string(entries[i].count));
    out += u"】=";
    out += Widen(std::to_string(j - i));
    out += u"\r\n";
    i = j;
  }
  line(u"</td></tr></table>");
  line(u"<table align=\"center\"><tr class=\"header\" align=\"center\" "
       u"style=\"font-weight:bold; color: #906\"><td >No</td><td >Text</td>"
       u"<td >Freq.</td></tr>");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::u16string& text = entries[i].text;
    const std::size_t equals = text.find(u'=');
    out += u"<tr><td class=\"no\">";
    out += Widen(std::to_string(i + 1));
    out += u"</td>\r\n<td class=\"text\">";
    out.append(text, equals + 1);
    out += u"</td>\r\n<td class=\"freq\">";
    out.append(text, 0, equals);
    out += u"</td></tr>\r\n";
  }
  line(u"</table>");
  line(u"</body></html>");

  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  const unsigned char mark[2] = {0xFF, 0xFE};
  file.write(reinterpret_cast<const char*>(mark), 2);
  file.write(reinterpret_cast<const char*>(out.data()),
             static_cast<std::streamsize>(out.size() * sizeof(char16_t)));
  if (!file.flush()) throw std::runtime_error("Cannot write " + path);
}

// The pattern argument is UTF-8.
std::u16string FromUtf8(const std::string& text) {
  std::u16string out;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  DecodeUtf8(p, p + text.size(), out);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  bool case_sensitive = false, boundary = true;
  std::string output = "result.htm";
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--case") case_sensitive = true;
    else if (arg == "--no-boundary") boundary = false;
    else if (arg == "-o" && i + 1 < argc) output = argv[++i];
    else rest.push_back(arg);
  }
  if (rest.size() != 2) {
    std::cerr << "Usage: pcre2-search [--case] [--no-boundary] [-o FILE] PATTERN DIR\n";
    return 2;
  }
  try {
    std::u16string pattern = FromUtf8(rest[0]);
    if (boundary) {
      pattern.insert(0, u"\\b");
      pattern += u"\\b";
    }
    Searcher searcher(pattern, !case_sensitive);
    std::vector<std::filesystem::path> files;
    for (const auto& item : std::filesystem::directory_iterator(rest[1]))
      if (item.path().extension() == ".txt") files.push_back(item.path());
    std::sort(files.begin(), files.end());
    std::vector<Entry> entries;
    for (const auto& file : files) ScanFile(searcher, file, entries);
    WriteReport(output, entries);
  } catch (const std::exception& error) {
    std::cerr << error.what() << '\n';
    return 1;
  }
  return 0;
}
