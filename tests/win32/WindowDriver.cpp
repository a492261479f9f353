// Drives tallyfold.exe's main window as a user would, by messages to its
// controls, and compares what it writes and shows with the command line's
// for the same searches. Needs a display (wine under Xvfb here); run by
// scripts/test-windows, not by ctest.
//
//   WindowDriver.exe                 the tests
//   WindowDriver.exe --screenshot F  a picture of the window (24-bit BMP)
//
// The folder picker, the shell's opener and the error box are fakes: the
// picker answers with the folder a test names, the opener records what it
// was asked to open, the error box records its text.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/SearchCommand.h"
#include "platform/CodePage.h"
#include "text/WideHelpers.h"
#include "win32/Catalogue.h"
#include "win32/MainWindow.h"

namespace tallyfold::win32ui {
namespace {

namespace fs = std::filesystem;

class FakePicker final : public FolderPicker {
 public:
  std::optional<std::wstring> answer;   // nothing: the user cancels
  std::vector<std::wstring> asked_at;   // the initial folder of every use
  std::optional<std::wstring> ChooseFolder(HWND, const std::wstring& initial) override {
    asked_at.push_back(initial);
    return answer;
  }
};

class FakeOpener final : public DocumentOpener {
 public:
  bool opens = true;
  std::vector<std::string> documents;
  std::vector<std::wstring> addresses;
  bool OpenDocument(HWND, const std::string& path) override {
    documents.push_back(path);
    return opens;
  }
  bool OpenAddress(HWND, const std::wstring& address) override {
    addresses.push_back(address);
    return true;
  }
};

class FakeErrors final : public MessageDisplay {
 public:
  std::vector<std::wstring> shown;
  void ShowError(HWND, const std::wstring& text) override { shown.push_back(text); }
};

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Utf8(const fs::path& path) {
  const std::u16string text = path.u16string();
  return Utf8Encode(text);
}

fs::path SourceDir() {
  const char* source = std::getenv("TALLYFOLD_SOURCE_DIR");
  return source != nullptr ? fs::path(source) : fs::current_path();
}

// Handles what is waiting for the thread's windows.
void Pump() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

std::wstring TextOf(HWND window) {
  wchar_t buffer[4096];
  const int length = ::GetWindowTextW(window, buffer, static_cast<int>(std::size(buffer)));
  return std::wstring(buffer, static_cast<std::size_t>(length));
}

// How many pixels of `window`, as it is drawn now, have the colour `colour`.
int PixelsOf(HWND window, COLORREF colour) {
  ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  RECT area{};
  ::GetClientRect(window, &area);
  const HDC dc = ::GetDC(window);
  int count = 0;
  for (int y = 0; y < area.bottom; ++y)
    for (int x = 0; x < area.right; ++x) count += ::GetPixel(dc, x, y) == colour;
  ::ReleaseDC(window, dc);
  return count;
}

class WindowDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLanguage(Language::kEnglish);
    static int serial = 0;
    work_ = fs::temp_directory_path() / fs::path(L"tallyfold 窗口 " + std::to_wstring(::GetCurrentProcessId()) +
                                                 L"-" + std::to_wstring(++serial));
    RemoveTree(work_);
    fs::create_directories(work_);
    // A corpus folder with Chinese characters and spaces in its name.
    corpus_ = work_ / fs::path(L"语料 corpus");
    fs::create_directories(corpus_);
    for (const auto& entry : fs::directory_iterator(SourceDir() / "samples" / "corpus"))
      fs::copy_file(entry.path(), corpus_ / entry.path().filename());
    settings_ = Utf8(work_ / "settings" / "tallyfold.ini");
    fs::create_directories(work_ / "settings");
    reports_ = Utf8(work_ / "reports");
    Open();
  }

  void TearDown() override {
    form_.reset();
    Pump();
    RemoveTree(work_);
  }

  // Removes `folder`, its paths longer than MAX_PATH included (which the
  // C++ library's remove_all does not reach).
  static void RemoveTree(const fs::path& folder) {
    std::wstring path = fs::absolute(folder).lexically_normal().wstring();
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    RemoveLongTree(L"\\\\?\\" + path);
  }
  static void RemoveLongTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    const HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveLongTree(path + L"\\" + name);
        } else {
          ::DeleteFileW((path + L"\\" + name).c_str());
        }
      } while (::FindNextFileW(find, &entry));
      ::FindClose(find);
    }
    ::RemoveDirectoryW(path.c_str());
  }

  void Open() {
    form_.reset();
    Pump();
    form_ = std::make_unique<TForm1>(picker_, opener_, errors_, settings_, reports_);
    form_->Show(SW_SHOWNORMAL);
    Pump();
  }

  HWND Control(ControlId id) const { return form_->Control(id); }

  void Type(const std::wstring& text) {
    ::SendMessageW(Control(kIdInput), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    Pump();
  }

  bool Ticked(ControlId id) const {
    return ::SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
  }

  void SetBox(ControlId id, bool ticked) {
    if (Ticked(id) != ticked) ::SendMessageW(Control(id), BM_CLICK, 0, 0);
    Pump();
  }

  void ChooseFolder(const fs::path& folder) {
    picker_.answer = folder.wstring();
    ::SendMessageW(Control(kIdDir), BM_CLICK, 0, 0);
    Pump();
  }

  bool SearchEnabled() const { return ::IsWindowEnabled(Control(kIdSearch)) != FALSE; }

  // Clicks Search; the click returns once the search has ended.
  void Search() {
    ::SendMessageW(Control(kIdSearch), BM_CLICK, 0, 0);
    Pump();
  }

  // The command line's report for the same search, and its error if any.
  std::string CliReport(std::vector<std::string> args, std::string* error = nullptr) {
    const std::string out = Utf8(work_ / "cli.htm");
    fs::remove(work_ / "cli.htm");
    args.insert(args.begin(), {"-o", out});
    std::ostringstream stdout_text, stderr_text;
    RunCli(args, stdout_text, stderr_text);
    if (error != nullptr) *error = stderr_text.str();
    return ReadBytes(work_ / "cli.htm");
  }

  std::string WindowReport() const { return ReadBytes(fs::path(Utf8Decode(form_->ReportPath()))); }

  fs::path work_, corpus_;
  std::string settings_, reports_;
  FakePicker picker_;
  FakeOpener opener_;
  FakeErrors errors_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(WindowDriver, TheWindowIsAsDesigned) {
  const HWND window = form_->Handle();
  EXPECT_EQ(TextOf(window), L"Norrow Tallyfold 1.0 — every match counted");
  EXPECT_NE(::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  const LONG_PTR style = ::GetWindowLongPtrW(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
  RECT client{};
  ::GetClientRect(window, &client);
  const int dpi = form_->Dpi();
  EXPECT_EQ(client.right, Scale(kClientWidth, dpi));
  EXPECT_EQ(client.bottom, Scale(kClientHeight, dpi));
  // Texts, initial states and places.
  const struct {
    ControlId id;
    const wchar_t* text;
    bool enabled;
  } controls[] = {{kIdSearch, L"检索", false}, {kIdInput, L"", true}, {kIdDir, L"选择目录", true},
                  {kIdCase, L" case", true},   {kIdBorder, L" add \\b", true}};
  for (const auto& c : controls) {
    EXPECT_EQ(TextOf(Control(c.id)), c.text);
    EXPECT_EQ(::IsWindowEnabled(Control(c.id)) != FALSE, c.enabled) << c.id;
    RECT rect{};
    ::GetWindowRect(Control(c.id), &rect);
    ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    const Rect expected = ScaleRect(FindControl(c.id)->rect, dpi);
    EXPECT_EQ(rect.left, expected.left) << c.id;
    EXPECT_EQ(rect.top, expected.top) << c.id;
    EXPECT_EQ(rect.right - rect.left, expected.width) << c.id;
    EXPECT_EQ(rect.bottom - rect.top, expected.height) << c.id;
  }
  EXPECT_FALSE(Ticked(kIdCase));
  EXPECT_TRUE(Ticked(kIdBorder));
  EXPECT_EQ(::GetFocus(), Control(kIdInput));
  // The tab order, round from the Search button (disabled, so skipped).
  std::vector<HWND> order;
  HWND at = Control(kIdInput);
  for (int i = 0; i < 4; ++i) order.push_back(at = ::GetNextDlgTabItem(window, at, FALSE));
  EXPECT_EQ(order, (std::vector<HWND>{Control(kIdDir), Control(kIdCase), Control(kIdBorder),
                                      Control(kIdInput)}));
  // The forum link opens its page, and turns from red to purple.
  EXPECT_GT(PixelsOf(Control(kIdUrl), RGB(255, 0, 0)), 20);
  EXPECT_EQ(PixelsOf(Control(kIdUrl), RGB(128, 0, 128)), 0);
  ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(kIdUrl, STN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(kIdUrl)));
  EXPECT_EQ(opener_.addresses, std::vector<std::wstring>{L"http://norrow.test/bbs/"});
  EXPECT_EQ(PixelsOf(Control(kIdUrl), RGB(255, 0, 0)), 0);
  EXPECT_GT(PixelsOf(Control(kIdUrl), RGB(128, 0, 128)), 20);
}

TEST_F(WindowDriver, SearchIsEnabledByAPatternAndAFolder) {
  const struct {
    const wchar_t* pattern;
    bool enabled;
  } patterns[] = {{L"", false}, {L"  \t ", false}, {L"\x3000", true}, {L" tea ", true}, {L"\xA0", true}};
  for (const auto& p : patterns) {
    Type(p.pattern);
    EXPECT_FALSE(SearchEnabled()) << "no folder yet";
  }
  // The first choice starts at the program's folder; a cancel keeps the folder.
  ChooseFolder(corpus_);
  ASSERT_EQ(picker_.asked_at.size(), 1u);
  EXPECT_EQ(picker_.asked_at[0].back(), L'\\');
  EXPECT_EQ(TextOf(Control(kIdFolder)), corpus_.wstring());
  for (const auto& p : patterns) {
    Type(p.pattern);
    EXPECT_EQ(SearchEnabled(), p.enabled) << p.pattern;
  }
  picker_.answer.reset();
  ::SendMessageW(Control(kIdDir), BM_CLICK, 0, 0);
  EXPECT_EQ(TextOf(Control(kIdFolder)), corpus_.wstring());
  EXPECT_EQ(picker_.asked_at.back(), corpus_.wstring());
  // An item without a file-system path empties the folder.
  picker_.answer = std::wstring();
  ::SendMessageW(Control(kIdDir), BM_CLICK, 0, 0);
  EXPECT_EQ(TextOf(Control(kIdFolder)), L"");
  EXPECT_FALSE(SearchEnabled());
  // Typed characters, and an IME's, reach the box and the rule.
  ChooseFolder(corpus_);
  Type(L"");
  for (wchar_t ch : std::wstring(L"t")) ::SendMessageW(Control(kIdInput), WM_CHAR, ch, 1);
  for (wchar_t ch : std::wstring(L"绿茶")) ::SendMessageW(Control(kIdInput), WM_IME_CHAR, ch, 1);
  Pump();
  EXPECT_EQ(TextOf(Control(kIdInput)), L"t绿茶");
  EXPECT_TRUE(SearchEnabled());
  // Enter and Escape in the box start and cancel nothing.
  ::SetFocus(Control(kIdInput));
  for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
    ::PostMessageW(Control(kIdInput), WM_KEYDOWN, key, 0);
    ::PostMessageW(Control(kIdInput), WM_KEYUP, key, 0);
  }
  Pump();
  EXPECT_TRUE(opener_.documents.empty());
  EXPECT_TRUE(::IsWindow(form_->Handle()));
}

// The window's report is the command line's, byte for byte, for every
// combination of the boxes and reading settings.
TEST_F(WindowDriver, ReportsAreTheCommandLinesReports) {
  const struct {
    const wchar_t* pattern;
    bool case_sensitive;
    bool boundary;
    int encoding_index;  // in EncodingChoices()
    bool recursive;
  } searches[] = {
      {L"tea", false, true, 0, false},   {L"TEA", true, true, 0, false},
      {L" tea ", false, false, 0, false}, {L"茶|绿", false, false, 0, true},
      {L"a\\", false, true, 0, false},   {L"\\w+", true, false, 1, false},
      {L"[", false, true, 0, false},     {L"green tea", false, true, 3, true},
  };
  ChooseFolder(corpus_);
  for (const auto& s : searches) {
    SCOPED_TRACE(Utf8Encode(Utf16(s.pattern)));
    Type(s.pattern);
    SetBox(kIdCase, s.case_sensitive);
    SetBox(kIdBorder, s.boundary);
    ::SendMessageW(form_->Handle(), WM_COMMAND, kCmdEncoding + s.encoding_index, 0);
    if (form_->Settings().recursive != s.recursive)
      ::SendMessageW(form_->Handle(), WM_COMMAND, kCmdRecursive, 0);
    fs::remove(fs::path(Utf8Decode(form_->ReportPath())));
    const std::size_t errors_before = errors_.shown.size();
    const std::size_t opened_before = opener_.documents.size();
    Search();
    std::vector<std::string> args;
    if (s.case_sensitive) args.push_back("--case");
    if (!s.boundary) args.push_back("--no-boundary");
    if (s.recursive) args.push_back("--recursive");
    args.insert(args.end(), {"--encoding", EncodingChoices()[s.encoding_index].value, "--",
                             Utf8Encode(Utf16(s.pattern)), Utf8(corpus_)});
    std::string cli_error;
    const std::string expected = CliReport(args, &cli_error);
    if (expected.empty()) {
      // The search failed: the same message, in the error box, and nothing opened.
      ASSERT_EQ(errors_.shown.size(), errors_before + 1);
      const std::string shown = Utf8Encode(Utf16(errors_.shown.back()));
      EXPECT_NE(cli_error.find(shown.substr(0, shown.size() - 1)), std::string::npos)
          << shown << " / " << cli_error;
      EXPECT_EQ(opener_.documents.size(), opened_before);
    } else {
      EXPECT_EQ(errors_.shown.size(), errors_before);
      EXPECT_EQ(WindowReport(), expected);
      ASSERT_EQ(opener_.documents.size(), opened_before + 1);
      EXPECT_EQ(opener_.documents.back(), form_->ReportPath());
    }
  }
  // Every pattern searched is remembered, the last first, trimmed.
  EXPECT_EQ(form_->Settings().history.front(), u"green tea");
  std::set<std::u16string> distinct;
  for (const auto& s : searches) distinct.insert(TrimWide(Utf16(s.pattern)));
  EXPECT_EQ(form_->Settings().history.size(), distinct.size());
}

TEST_F(WindowDriver, TheNoteSaysWhatTheSearchNeedsTheUserToKnow) {
  ChooseFolder(corpus_);
  Type(L"茶");  // \b beside a character that is never a word character
  Search();
  ASSERT_NE(form_->Note(), nullptr);
  EXPECT_NE(form_->NoteText().find(u"“add \\b”"), std::u16string::npos);
  EXPECT_NE(form_->NoteText().find(u"“茶”"), std::u16string::npos);
  EXPECT_EQ(TextOf(form_->Note()), L"About this search");
  // A search with nothing to say closes the last one's note.
  Type(L"tea");
  Search();
  EXPECT_EQ(form_->Note(), nullptr);
  // A report that nothing opens: the note says where it is.
  opener_.opens = false;
  Search();
  ASSERT_NE(form_->Note(), nullptr);
  std::u16string report = Utf8Decode(form_->ReportPath());
  std::replace(report.begin(), report.end(), u'/', u'\\');
  EXPECT_NE(form_->NoteText().find(report), std::u16string::npos);
  // In Chinese.
  SetLanguage(Language::kChinese);
  opener_.opens = true;
  Type(L"茶");
  Search();
  ASSERT_NE(form_->Note(), nullptr);
  EXPECT_EQ(TextOf(form_->Note()), L"关于本次检索");
  EXPECT_NE(form_->NoteText().find(u"只在紧挨 ASCII 字母"), std::u16string::npos);
}

TEST_F(WindowDriver, SettingsAndHistoryStayBetweenRuns) {
  ChooseFolder(corpus_);
  SetBox(kIdCase, true);
  SetBox(kIdBorder, false);
  const auto big5 = std::find_if(EncodingChoices().begin(), EncodingChoices().end(),
                                 [](const EncodingChoice& c) { return std::string(c.value) == "BIG5"; });
  ::SendMessageW(form_->Handle(), WM_COMMAND, kCmdEncoding + (big5 - EncodingChoices().begin()), 0);
  ::SendMessageW(form_->Handle(), WM_COMMAND, kCmdRecursive, 0);
  EXPECT_EQ(TextOf(Control(kIdReading)), L"BIG5, sub-folders");
  EXPECT_TRUE(::IsWindowVisible(Control(kIdReading)));
  for (int i = 0; i < 25; ++i) {
    Type(L"tea" + std::to_wstring(i));
    Search();
  }
  Open();  // as the next run
  EXPECT_EQ(TextOf(Control(kIdFolder)), corpus_.wstring());
  EXPECT_TRUE(Ticked(kIdCase));
  EXPECT_FALSE(Ticked(kIdBorder));
  EXPECT_EQ(TextOf(Control(kIdReading)), L"BIG5, sub-folders");
  ASSERT_EQ(form_->Settings().history.size(), static_cast<std::size_t>(kHistoryLimit));
  EXPECT_EQ(form_->Settings().history.front(), u"tea24");
  EXPECT_EQ(form_->Settings().history.back(), u"tea5");
  // A pattern from the history goes back into the box.
  ::SendMessageW(form_->Handle(), WM_COMMAND, kCmdHistory + 3, 0);
  EXPECT_EQ(TextOf(Control(kIdInput)), L"tea21");
  EXPECT_TRUE(SearchEnabled());
  // The defaults again hide the corner label.
  ::SendMessageW(form_->Handle(), WM_COMMAND, kCmdEncoding, 0);
  ::SendMessageW(form_->Handle(), WM_COMMAND, kCmdRecursive, 0);
  EXPECT_FALSE(::IsWindowVisible(Control(kIdReading)));
}

TEST_F(WindowDriver, BadFoldersAndReportsEndInAnErrorBoxOnly) {
  // A folder path longer than 260 characters, with Chinese in it.
  fs::path deep = corpus_;
  while (deep.wstring().size() < 300) deep /= L"很长的目录名 long folder name";
  fs::create_directories(deep);
  fs::copy_file(corpus_ / "teahouse.txt", deep / "teahouse.txt");
  ChooseFolder(deep);
  Type(L"tea");
  Search();
  EXPECT_TRUE(errors_.shown.empty()) << Utf8Encode(Utf16(errors_.shown.front()));
  EXPECT_EQ(WindowReport(), CliReport({"tea", Utf8(deep)}));
  // The report open in another program that shares nothing.
  const std::wstring report = fs::path(Utf8Decode(form_->ReportPath())).wstring();
  const HANDLE held = ::CreateFileW(report.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const std::size_t opened = opener_.documents.size();
  Search();
  ::CloseHandle(held);
  ASSERT_EQ(errors_.shown.size(), 1u);
  EXPECT_NE(errors_.shown[0].find(L"result.htm"), std::wstring::npos) << errors_.shown[0];
  EXPECT_EQ(opener_.documents.size(), opened);
  // The window is usable again: the next search works.
  EXPECT_TRUE(::IsWindowEnabled(form_->Handle()));
  Search();
  EXPECT_EQ(opener_.documents.size(), opened + 1);
}

// The program's language follows the user's interface language, which
// wine takes from LANG: scripts/windows-window-check runs this test again
// with LANG=zh_CN.UTF-8.
TEST(UserLanguage, ChineseExactlyUnderAChineseLanguage) {
  const char* lang = std::getenv("LANG");
  const bool chinese = lang != nullptr && std::string(lang).starts_with("zh");
  EXPECT_EQ(UserLanguageIsChinese(), chinese) << (lang != nullptr ? lang : "(LANG unset)");
}

// What a timer does while a long search runs; the click on Search returns
// only once the search has ended.
struct DuringSearch {
  TForm1* form = nullptr;
  bool close = false;      // close the window rather than cancel
  bool saw_progress = false;
  bool window_disabled = false;
  std::wstring progress_text;
};
DuringSearch* during = nullptr;

void CALLBACK StopTheSearch(HWND, UINT, UINT_PTR timer, DWORD) {
  if (during->form->Progress() == nullptr) return;  // not up yet
  ::KillTimer(nullptr, timer);
  during->saw_progress = ::IsWindowVisible(during->form->Progress()) != FALSE;
  during->window_disabled = ::IsWindowEnabled(during->form->Handle()) == FALSE;
  during->progress_text = TextOf(::GetDlgItem(during->form->Progress(), IDCANCEL));
  if (during->close) {
    ::PostMessageW(during->form->Handle(), WM_CLOSE, 0, 0);
  } else {
    ::PostMessageW(during->form->Progress(), WM_COMMAND, IDCANCEL, 0);
  }
}

// A search that would run for minutes, stopped from its progress window or
// by closing the window: nothing is written, opened or shown as an error.
TEST_F(WindowDriver, ALongSearchShowsProgressAndStops) {
  const fs::path slow = work_ / "slow";
  fs::create_directories(slow);
  {
    std::ofstream file(slow / "slow.txt", std::ios::binary);
    // Runs of 26 letters: each match attempt stays well within the engine's
    // backtrack budget (a run of 32 goes past it and ends the search with an
    // error), and two thousand of them take minutes.
    for (int i = 0; i < 50; ++i) {
      file << "c ";
      for (int run = 0; run < 40; ++run) file << std::string(26, 'a') << ' ';
      file << "\n";
    }
  }
  ChooseFolder(slow);
  SetBox(kIdBorder, false);
  Type(L"(a|aa)+\\1c");  // backtracks through the ways of splitting each run
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close ? "closed" : "cancelled");
    DuringSearch state;
    state.form = form_.get();
    state.close = close;
    during = &state;
    ::SetTimer(nullptr, 0, 100, StopTheSearch);
    const HWND window = form_->Handle();
    ::SendMessageW(Control(kIdSearch), BM_CLICK, 0, 0);
    Pump();
    during = nullptr;
    EXPECT_TRUE(state.saw_progress);
    EXPECT_TRUE(state.window_disabled);
    EXPECT_EQ(state.progress_text, L"Cancel");
    EXPECT_TRUE(errors_.shown.empty());
    EXPECT_TRUE(opener_.documents.empty());
    EXPECT_FALSE(fs::exists(fs::path(Utf8Decode(form_->ReportPath()))));
    if (close) {
      EXPECT_FALSE(::IsWindow(window));
    } else {
      EXPECT_EQ(form_->Progress(), nullptr);
      EXPECT_TRUE(::IsWindowEnabled(window));
    }
  }
}

TEST_F(WindowDriver, ItFollowsTheMonitorsDpi) {
  const HWND window = form_->Handle();
  ChooseFolder(corpus_);
  Type(L"茶");
  Search();  // a note, whose text follows too
  ASSERT_NE(form_->Note(), nullptr);
  const auto font_height = [](HWND control) {
    LOGFONTW logfont{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(logfont),
                 &logfont);
    return logfont.lfHeight;
  };
  for (const int dpi : {192, 144, 96}) {
    RECT suggested{};
    ::GetWindowRect(window, &suggested);
    ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    Pump();
    RECT client{};
    ::GetClientRect(window, &client);
    EXPECT_EQ(client.right, Scale(kClientWidth, dpi)) << dpi;
    EXPECT_EQ(client.bottom, Scale(kClientHeight, dpi)) << dpi;
    RECT button{};
    ::GetWindowRect(Control(kIdDir), &button);
    EXPECT_EQ(button.right - button.left, ScaleRect(FindControl(kIdDir)->rect, dpi).width) << dpi;
    EXPECT_EQ(font_height(Control(kIdInput)), -Scale(kFontHeight, dpi));
    EXPECT_EQ(font_height(::GetWindow(form_->Note(), GW_CHILD)), -Scale(kFontHeight, dpi));
    LOGFONTW logfont{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(Control(kIdUrl), WM_GETFONT, 0, 0)),
                 sizeof(logfont), &logfont);
    EXPECT_STREQ(logfont.lfFaceName, L"Tahoma");
    EXPECT_EQ(logfont.lfWeight, FW_BOLD);
  }
}

// Writes the client area and frame of `window`, copied from its own DC
// (PrintWindow gives a blank picture under wine), as a 24-bit BMP.
bool SaveWindowPicture(HWND window, const std::wstring& path) {
  RECT frame{};
  ::GetWindowRect(window, &frame);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  const HDC source = ::GetWindowDC(window);
  const HDC memory = ::CreateCompatibleDC(source);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  const HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
  ::GdiFlush();
  const DWORD stride = static_cast<DWORD>((width * 3 + 3) & ~3);
  const DWORD image_size = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + image_size),
                        0, 0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
  std::ofstream out(fs::path(path), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof(file));
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(BITMAPINFOHEADER));
  out.write(static_cast<const char*>(bits), image_size);
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(window, source);
  return static_cast<bool>(out);
}

// The window in Chinese with a folder chosen, a pattern typed and the
// note of a search below it, for the README.
int TakeScreenshot(const std::wstring& path) {
  SetLanguage(Language::kChinese);
  FakePicker picker;
  FakeOpener opener;
  FakeErrors errors;
  const fs::path corpus = SourceDir() / "samples" / "corpus";
  picker.answer = L"C:\\语料\\corpus";
  TForm1 form(picker, opener, errors, std::string(), Utf8(fs::temp_directory_path() / "tallyfold-shot"));
  form.Show(SW_SHOWNORMAL);
  ::SendMessageW(form.Control(kIdDir), BM_CLICK, 0, 0);
  ::SendMessageW(form.Control(kIdInput), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"绿茶|green tea"));
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  while (std::chrono::steady_clock::now() < until) {
    Pump();
    ::Sleep(20);
  }
  ::RedrawWindow(form.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  Pump();
  return SaveWindowPicture(form.Handle(), path) ? 0 : 1;
}

}  // namespace
}  // namespace tallyfold::win32ui

int wmain(int argc, wchar_t** argv) {
  tallyfold::InitSystemCodePage();
  ::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  if (argc == 3 && std::wstring(argv[1]) == L"--screenshot")
    return tallyfold::win32ui::TakeScreenshot(argv[2]);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(tallyfold::Utf8Encode(std::u16string(argv[i], argv[i] + std::wcslen(argv[i]))));
  std::vector<char*> narrow;
  for (std::string& arg : args) narrow.push_back(arg.data());
  int narrow_argc = argc;
  ::testing::InitGoogleTest(&narrow_argc, narrow.data());
  return RUN_ALL_TESTS();
}
