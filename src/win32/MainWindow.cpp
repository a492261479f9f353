// The Windows main window (MainWindow.h): its controls, the enabling rule,
// the folder choice, the search in the background, the menus, the note.
#include "win32/MainWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <stdexcept>

#include "app/BackgroundTask.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/File.h"
#include "text/WideHelpers.h"
#include "win32/Catalogue.h"
#include "win32/NoteText.h"

namespace tallyfold::win32ui {
namespace {

constexpr wchar_t kFormClass[] = L"TallyfoldForm1";
constexpr wchar_t kNoteClass[] = L"TallyfoldSearchNote";
constexpr wchar_t kProgressClass[] = L"TallyfoldSearchProgress";

// The forum's host name and page, and the credit line.
constexpr wchar_t kForumHost[] = L"norrow.test";
constexpr wchar_t kForumUrl[] = L"http://norrow.test/bbs/";
constexpr wchar_t kCredit[] = L"作者 tallyfold@norrow.test  2011-4-12";

// Posted by the search's thread when it has ended, to wake the wait.
constexpr UINT kSearchEnded = WM_APP + 1;
constexpr UINT_PTR kProgressTimer = 1;
constexpr auto kProgressDelay = std::chrono::milliseconds(500);

// The note: a captioned pop-up owned by the window.
constexpr DWORD kNoteStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kNoteExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

// The note's and the progress window's layout at 96 DPI.
constexpr int kNoteWidth = 420;
constexpr int kMargin = 11;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kProgressWidth = 360;
constexpr int kIdProgressText = 10, kIdProgressFile = 11, kIdProgressBar = 12, kIdNoteText = 13;

constexpr const char* kProgressContext = "tallyfold::TSearchProgressDialog";

HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// A menu item's text shows "&" as it is.
std::wstring MenuText(std::u16string_view text) {
  std::wstring out;
  for (char16_t unit : text) {
    if (unit == u'&') out += L'&';
    out += static_cast<wchar_t>(unit);
  }
  return out;
}

// A text for a multi-line edit control, whose lines end in CR LF.
std::wstring WithCrLf(std::u16string_view text) {
  std::wstring out;
  for (char16_t unit : text) {
    if (unit == u'\n') out += L'\r';
    out += static_cast<wchar_t>(unit);
  }
  return out;
}

void RegisterClasses() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
  WNDCLASSEXW form{};
  form.cbSize = sizeof(form);
  form.hInstance = Instance();
  form.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  form.hIcon = ::LoadIconW(Instance(), MAKEINTRESOURCEW(1));
  form.lpfnWndProc = ::DefWindowProcW;
  form.lpszClassName = kFormClass;
  ::RegisterClassExW(&form);
  form.lpszClassName = kNoteClass;
  ::RegisterClassExW(&form);
  form.lpszClassName = kProgressClass;
  ::RegisterClassExW(&form);
}

// The outer size of a window of `style` whose client area is `width` ×
// `height` at `dpi`.
SIZE FrameSize(int width, int height, DWORD style, DWORD ex_style, int dpi) {
  RECT rect{0, 0, width, height};
  ::AdjustWindowRectExForDpi(&rect, style, FALSE, ex_style, static_cast<UINT>(dpi));
  return {rect.right - rect.left, rect.bottom - rect.top};
}

// Places `window` with its outer top-left at `left`, `top` and its client
// area `width` × `height`. The frame's size for the DPI is a first guess;
// what the system made of it is then measured and made up for, since its
// frame need not follow the DPI (wine's stays at the system's).
void PlaceWithClientSize(HWND window, int left, int top, int width, int height, int dpi) {
  const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE));
  const DWORD ex_style = static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_EXSTYLE));
  SIZE frame = FrameSize(width, height, style, ex_style, dpi);
  ::SetWindowPos(window, nullptr, left, top, frame.cx, frame.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client{};
  ::GetClientRect(window, &client);
  if (client.right != width || client.bottom != height) {
    frame.cx += width - client.right;
    frame.cy += height - client.bottom;
    ::SetWindowPos(window, nullptr, left, top, frame.cx, frame.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

RECT WorkAreaOf(HWND window) {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  ::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
  return monitor.rcWork;
}

HWND MakeChild(HWND parent, const wchar_t* kind, const wchar_t* text, DWORD style, int id,
               DWORD ex_style = 0) {
  return ::CreateWindowExW(ex_style, kind, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
}

}  // namespace

const wchar_t* WindowCaption() { return L"Norrow Tallyfold 1.0 — every match counted"; }

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;

TForm1::TForm1(FolderPicker& picker, DocumentOpener& opener, MessageDisplay& errors,
               std::string settings_file, std::string report_folder)
    : picker_(picker),
      opener_(opener),
      errors_(errors),
      settings_file_(std::move(settings_file)),
      report_folder_(std::move(report_folder)) {}

TForm1::~TForm1() {
  if (window_ != nullptr) ::DestroyWindow(window_);
  if (font_ != nullptr) ::DeleteObject(font_);
  if (link_font_ != nullptr) ::DeleteObject(link_font_);
}

void TForm1::Show(int show) {
  if (window_ == nullptr) {
    RegisterClasses();
    window_ = ::CreateWindowExW(kFormExStyle, kFormClass, WindowCaption(), kFormStyle,
                                CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr, nullptr, Instance(), this);
    if (window_ == nullptr) throw std::runtime_error("The window could not be created.");
    ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc));
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    dpi_ = static_cast<int>(::GetDpiForWindow(window_));
    if (dpi_ <= 0) dpi_ = kDesignDpi;
    CreateControls();
    FormCreate();
    // At the centre of the work area of the monitor it is on.
    const SIZE frame = FrameSize(Scale(kClientWidth, dpi_), Scale(kClientHeight, dpi_), kFormStyle,
                                 kFormExStyle, dpi_);
    const RECT work = WorkAreaOf(window_);
    PlaceWithClientSize(window_, work.left + (work.right - work.left - frame.cx) / 2,
                        work.top + (work.bottom - work.top - frame.cy) / 2,
                        Scale(kClientWidth, dpi_), Scale(kClientHeight, dpi_), dpi_);
  }
  ::ShowWindow(window_, show);
  ::UpdateWindow(window_);
  FormShow();
}

void TForm1::CreateControls() {
  // In the tab order.
  MakeChild(window_, WC_BUTTONW, L"检索", BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, kIdSearch);
  const HWND input = MakeChild(window_, WC_EDITW, L"", ES_AUTOHSCROLL | WS_TABSTOP, kIdInput,
                               WS_EX_CLIENTEDGE);
  // As long as the user makes it, not the 32,767 characters of the default.
  ::SendMessageW(input, EM_SETLIMITTEXT, 0, 0);
  MakeChild(window_, WC_BUTTONW, L"选择目录", BS_PUSHBUTTON | WS_TABSTOP, kIdDir);
  MakeChild(window_, WC_BUTTONW, L" case", BS_AUTOCHECKBOX | WS_TABSTOP, kIdCase);
  const HWND border = MakeChild(window_, WC_BUTTONW, L" add \\b", BS_AUTOCHECKBOX | WS_TABSTOP, kIdBorder);
  ::SendMessageW(border, BM_SETCHECK, BST_CHECKED, 0);
  MakeChild(window_, WC_STATICW, L"", SS_LEFTNOWORDWRAP | SS_NOPREFIX, kIdFolder);
  // Drawn here, recessed (see WM_DRAWITEM).
  MakeChild(window_, WC_STATICW, kForumHost, SS_NOTIFY | SS_OWNERDRAW, kIdUrl);
  MakeChild(window_, WC_STATICW, kCredit, SS_NOPREFIX | SS_LEFTNOWORDWRAP, kIdCredit);
  const HWND reading = MakeChild(window_, WC_STATICW, L"", SS_NOPREFIX | SS_ENDELLIPSIS, kIdReading);
  ::ShowWindow(reading, SW_HIDE);
  MakeFonts();
  Relayout();
}

void TForm1::MakeFonts() {
  if (font_ != nullptr) ::DeleteObject(font_);
  if (link_font_ != nullptr) ::DeleteObject(link_font_);
  const auto make = [&](int weight) {
    return ::CreateFontW(-Scale(kFontHeight, dpi_), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                         DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_SWISS, L"Tahoma");
  };
  font_ = make(FW_NORMAL);
  link_font_ = make(FW_BOLD);
}

void TForm1::Relayout() {
  for (const ControlPlace& place : kControls) {
    const HWND control = Control(place.id);
    ::SendMessageW(control, WM_SETFONT,
                   reinterpret_cast<WPARAM>(place.id == kIdUrl ? link_font_ : font_), FALSE);
    Rect rect = ScaleRect(place.rect, dpi_);
    if (place.id == kIdFolder) {
      // Sized to its text, as far as the client area goes.
      const std::wstring text = WindowText(control);
      const HDC dc = ::GetDC(control);
      const HGDIOBJ old = ::SelectObject(dc, font_);
      SIZE extent{};
      ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
      ::SelectObject(dc, old);
      ::ReleaseDC(control, dc);
      rect.width = std::min<int>(extent.cx, Scale(kClientWidth, dpi_) - rect.left);
    }
    ::SetWindowPos(control, nullptr, rect.left, rect.top, rect.width, rect.height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ::InvalidateRect(window_, nullptr, TRUE);
}

void TForm1::FormCreate() {
  SetFolder(std::string());
  lists_ = std::make_unique<SearchLists>();
  if (!settings_file_.empty()) settings_ = LoadSettings(settings_file_);
  SetFolder(settings_.folder);
  ApplySettings();
  settings_applied_ = true;
}

void TForm1::FormShow() {
  if (!lists_) lists_ = std::make_unique<SearchLists>();
  ::SetFocus(Control(kIdInput));
}

void TForm1::FormClose() { lists_.reset(); }

void TForm1::ApplySettings() {
  ::SendMessageW(Control(kIdCase), BM_SETCHECK, settings_.case_sensitive ? BST_CHECKED : BST_UNCHECKED, 0);
  ::SendMessageW(Control(kIdBorder), BM_SETCHECK, settings_.word_boundary ? BST_CHECKED : BST_UNCHECKED, 0);
  ShowReadingSettings();
}

void TForm1::StoreSettings() {
  if (!settings_applied_) return;
  settings_.folder = folder_;
  settings_.case_sensitive = ::SendMessageW(Control(kIdCase), BM_GETCHECK, 0, 0) == BST_CHECKED;
  settings_.word_boundary = ::SendMessageW(Control(kIdBorder), BM_GETCHECK, 0, 0) == BST_CHECKED;
  ShowReadingSettings();
  // A file that cannot be written costs only their keeping.
  if (!settings_file_.empty()) SaveSettings(settings_file_, settings_);
}

void TForm1::ShowReadingSettings() {
  const std::u16string text = ReadingSettingsText(settings_);
  const HWND label = Control(kIdReading);
  ::SetWindowTextW(label, Wide(text).c_str());
  ::ShowWindow(label, text.empty() ? SW_HIDE : SW_SHOWNA);
}

void TForm1::ShowFormMenu(POINT at) {
  const HMENU menu = ::CreatePopupMenu();
  const HMENU history = ::CreatePopupMenu();
  for (std::size_t i = 0; i < settings_.history.size(); ++i) {
    ::AppendMenuW(history, MF_STRING, kCmdHistory + i, MenuText(settings_.history[i]).c_str());
  }
  ::AppendMenuW(menu, MF_POPUP | (settings_.history.empty() ? MF_GRAYED : 0),
                reinterpret_cast<UINT_PTR>(history), MenuText(RecentPatternsTitle()).c_str());
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  const HMENU encodings = ::CreatePopupMenu();
  int index = 0;
  for (const EncodingChoice& choice : EncodingChoices()) {
    ::AppendMenuW(encodings, MF_STRING | (settings_.encoding == choice.value ? MF_CHECKED : 0),
                  kCmdEncoding + index++,
                  MenuText(EncodingLabel(choice.value, settings_.fallback_encoding)).c_str());
  }
  ::AppendMenuW(encodings, MF_SEPARATOR, 0, nullptr);
  const HMENU fallbacks = ::CreatePopupMenu();
  index = 0;
  for (const char* name : kLegacyEncodings) {
    ::AppendMenuW(fallbacks, MF_STRING | (settings_.fallback_encoding == name ? MF_CHECKED : 0),
                  kCmdFallback + index++, MenuText(FromUtf8(name)).c_str());
  }
  ::AppendMenuW(encodings, MF_POPUP, reinterpret_cast<UINT_PTR>(fallbacks),
                MenuText(FallbackMenuTitle()).c_str());
  ::AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(encodings),
                MenuText(EncodingMenuTitle()).c_str());
  ::AppendMenuW(menu, MF_STRING | (settings_.recursive ? MF_CHECKED : 0), kCmdRecursive,
                MenuText(RecursiveTitle()).c_str());
  // The choices show as radio items.
  for (HMENU group : {encodings, fallbacks}) {
    for (int item = 0, count = ::GetMenuItemCount(group); item < count; ++item) {
      MENUITEMINFOW info{};
      info.cbSize = sizeof(info);
      info.fMask = MIIM_FTYPE;
      ::GetMenuItemInfoW(group, static_cast<UINT>(item), TRUE, &info);
      if ((info.fType & MFT_SEPARATOR) != 0 || ::GetSubMenu(group, item) != nullptr) continue;
      info.fType |= MFT_RADIOCHECK;
      ::SetMenuItemInfoW(group, static_cast<UINT>(item), TRUE, &info);
    }
  }
  ::TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr);
  ::DestroyMenu(menu);  // and its sub-menus
}

void TForm1::OnCommand(int id, int code, HWND control) {
  if (control != nullptr) {
    switch (id) {
      case kIdInput:
        if (code == EN_CHANGE) edtInputChange();
        return;
      case kIdSearch:
        if (code == BN_CLICKED) btnSearchClick();
        return;
      case kIdDir:
        if (code == BN_CLICKED) btnDirClick();
        return;
      case kIdCase:
      case kIdBorder:
        if (code == BN_CLICKED) StoreSettings();
        return;
      case kIdUrl:
        if (code == STN_CLICKED && opener_.OpenAddress(window_, kForumUrl)) {
          link_visited_ = true;
          ::InvalidateRect(control, nullptr, TRUE);
        }
        return;
      default:
        return;  // IDOK and IDCANCEL from Enter and Escape start or cancel nothing
    }
  }
  const auto in = [&](int first, std::size_t count) {
    return id >= first && static_cast<std::size_t>(id - first) < count;
  };
  if (in(kCmdHistory, settings_.history.size())) {
    const HWND input = Control(kIdInput);
    ::SetWindowTextW(input, Wide(settings_.history[static_cast<std::size_t>(id - kCmdHistory)]).c_str());
    ::SetFocus(input);
    ::SendMessageW(input, EM_SETSEL, 0, -1);
  } else if (in(kCmdEncoding, EncodingChoices().size())) {
    settings_.encoding = EncodingChoices()[static_cast<std::size_t>(id - kCmdEncoding)].value;
    StoreSettings();
  } else if (in(kCmdFallback, std::size(kLegacyEncodings))) {
    settings_.fallback_encoding = kLegacyEncodings[id - kCmdFallback];
    StoreSettings();
  } else if (id == kCmdRecursive) {
    settings_.recursive = !settings_.recursive;
    StoreSettings();
  }
}

LRESULT CALLBACK TForm1::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* form = reinterpret_cast<TForm1*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (form == nullptr || form->window_ != window) return ::DefWindowProcW(window, message, wparam, lparam);
  return form->Handle(message, wparam, lparam);
}

LRESULT TForm1::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
      return 0;
    case WM_CTLCOLORSTATIC: {
      const HDC dc = reinterpret_cast<HDC>(wparam);
      ::SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DRAWITEM: {
      // The forum link: red, purple once visited, in recessed text (a light
      // copy one pixel down and right under the coloured text).
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (item->CtlID != kIdUrl) break;
      ::FillRect(item->hDC, &item->rcItem, ::GetSysColorBrush(COLOR_BTNFACE));
      const HGDIOBJ old = ::SelectObject(item->hDC, link_font_);
      ::SetBkMode(item->hDC, TRANSPARENT);
      RECT shadow = item->rcItem;
      ::OffsetRect(&shadow, 1, 1);
      ::SetTextColor(item->hDC, ::GetSysColor(COLOR_BTNHIGHLIGHT));
      ::DrawTextW(item->hDC, kForumHost, -1, &shadow, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
      RECT text = item->rcItem;
      ::SetTextColor(item->hDC, link_visited_ ? RGB(128, 0, 128) : RGB(255, 0, 0));
      ::DrawTextW(item->hDC, kForumHost, -1, &text, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
      ::SelectObject(item->hDC, old);
      return TRUE;
    }
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wparam) == Control(kIdUrl)) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_CONTEXTMENU: {
      // The pattern box keeps the system's menu of edit commands.
      if (reinterpret_cast<HWND>(wparam) == Control(kIdInput)) break;
      POINT at{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
      if (lparam == -1) {  // from the keyboard: at the window's corner
        at = {0, 0};
        ::ClientToScreen(window_, &at);
      }
      ShowFormMenu(at);
      return 0;
    }
    case WM_DPICHANGED: {
      // Moved to a monitor of another DPI: fonts, controls and the client
      // size follow, at the place the system suggests.
      dpi_ = HIWORD(wparam);
      MakeFonts();
      Relayout();
      if (note_ != nullptr) LayoutNote();  // its controls had the old font
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      PlaceWithClientSize(window_, suggested->left, suggested->top, Scale(kClientWidth, dpi_),
                          Scale(kClientHeight, dpi_), dpi_);
      return 0;
    }
    case WM_CLOSE:
      if (running_search_ != nullptr) {
        // The lists are the search's until it ends: stop it, and close
        // once it has.
        running_search_->Cancel();
        close_requested_ = true;
        return 0;
      }
      CloseNote();
      ::DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      FormClose();
      window_ = nullptr;
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window_, message, wparam, lparam);
}

bool TForm1::PreTranslate(MSG& message) {
  if (progress_ != nullptr && ::IsDialogMessageW(progress_, &message)) return true;
  if (note_ != nullptr && ::IsDialogMessageW(note_, &message)) return true;
  return window_ != nullptr && ::IsDialogMessageW(window_, &message);
}

std::u16string TForm1::InputText() const { return Utf16(WindowText(Control(kIdInput))); }

void TForm1::edtInputChange() { ApplyEnablingRule(); }

void TForm1::ApplyEnablingRule() {
  const bool has_pattern = !TrimWide(InputText()).empty();
  ::EnableWindow(Control(kIdSearch), has_pattern && !folder_.empty());
}

void TForm1::btnDirClick() {
  if (folder_dialog_open_) {
    ShowError("TSelectFolderDialog already executing");
    return;
  }
  // From the last folder chosen, remembered from run to run; the first
  // time from the program's own folder.
  const std::wstring initial = folder_.empty() ? ProgramFolder() : Wide(Utf8Decode(folder_));
  folder_dialog_open_ = true;
  const std::optional<std::wstring> chosen = picker_.ChooseFolder(window_, initial);
  folder_dialog_open_ = false;
  if (chosen) {
    SetFolder(Utf8Encode(Utf16(*chosen)));
    StoreSettings();
  }
  ApplyEnablingRule();
}

void TForm1::SetFolder(const std::string& folder) {
  folder_ = folder;
  ::SetWindowTextW(Control(kIdFolder), Wide(Utf8Decode(folder)).c_str());
  Relayout();
}

std::string TForm1::ReportPath() const {
  if (report_folder_.empty()) return AbsolutePath("result.htm");
  return JoinPath(report_folder_, "result.htm");
}

void TForm1::btnSearchClick() {
  // A click that arrives while a search runs (a message sent to the
  // disabled window) starts no second search on the same lists.
  if (running_search_ != nullptr) return;
  CloseNote();  // the last search's note is about that search
  SearchOptions options;
  options.pattern_text = InputText();
  options.folder = folder_;
  options.case_sensitive = ::SendMessageW(Control(kIdCase), BM_GETCHECK, 0, 0) == BST_CHECKED;
  options.word_boundary = ::SendMessageW(Control(kIdBorder), BM_GETCHECK, 0, 0) == BST_CHECKED;
  options.encoding = settings_.encoding;
  options.fallback_encoding = settings_.fallback_encoding;
  options.recursive = settings_.recursive;
  // Remembered whatever the search gives: a pattern that fails is the one
  // most likely to be wanted again, to be mended.
  RememberPattern(settings_.history, options.pattern_text);
  StoreSettings();
  if (!report_folder_.empty()) {
    // A report folder removed since the last search comes back; one that
    // cannot be made makes the report's own error say where it failed.
    MakeFolder(report_folder_);
    options.report_file = ReportPath();
  }
  SearchStats stats;
  const SearchEnd end = SearchAndWait(options, stats);
  if (close_requested_) {
    close_requested_ = false;
    ::PostMessageW(window_, WM_CLOSE, 0, 0);
    return;
  }
  if (end != SearchEnd::kDone) return;
  std::vector<std::u16string> notes =
      DescribePattern(AdvisePattern(options.pattern_text, options.word_boundary),
                      stats.lines_without_boundary);
  for (std::u16string& text :
       DescribeReadings(
           SummarizeReadings(stats.readings, FileReadingTrial(options.fallback_encoding)),
           options.fallback_encoding)) {
    notes.push_back(std::move(text));
  }
  // When nothing opens the report the user learns where it is.
  const std::string report = ReportPath();
  if (!opener_.OpenDocument(window_, report)) {
    std::u16string shown = Utf8Decode(report);
    std::replace(shown.begin(), shown.end(), u'/', u'\\');
    notes.push_back(DescribeOpenFailure(shown));
  }
  AddToNote(notes);
}

SearchEnd TForm1::SearchAndWait(const SearchOptions& options, SearchStats& stats) {
  SearchEnd end = SearchEnd::kDone;
  bool quit = false;
  WPARAM quit_code = 0;
  try {
    const HWND window = window_;
    BackgroundTask search(SearchWork(options, *lists_, stats),
                          [window] { ::PostMessageW(window, kSearchEnded, 0, 0); });
    running_search_ = &search;
    // The window takes no input while the search runs; it goes on painting.
    ::EnableWindow(window_, FALSE);
    const auto started = std::chrono::steady_clock::now();
    ::SetTimer(window_, kProgressTimer, 100, nullptr);
    while (!search.WaitFor(std::chrono::milliseconds(0))) {
      MSG message;
      const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
      if (got <= 0) {  // WM_QUIT: stop the search, and pass the quit on
        quit = true;
        quit_code = message.wParam;
        search.Cancel();
        break;
      }
      if (message.message == WM_TIMER && message.hwnd == window_ &&
          message.wParam == kProgressTimer) {
        if (std::chrono::steady_clock::now() - started >= kProgressDelay) ShowProgress(search);
        continue;
      }
      if (progress_ != nullptr && ::IsDialogMessageW(progress_, &message)) continue;
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    ::KillTimer(window_, kProgressTimer);
    CloseProgress();
    ::EnableWindow(window_, TRUE);
    running_search_ = nullptr;
    search.Result();
  } catch (const ECancelled&) {
    end = SearchEnd::kCancelled;
  } catch (const std::exception& error) {
    end = SearchEnd::kFailed;
    ShowError(error.what());
  }
  // Whatever ended the wait, the window is the user's again.
  if (running_search_ != nullptr) {
    running_search_ = nullptr;
    ::KillTimer(window_, kProgressTimer);
    CloseProgress();
    ::EnableWindow(window_, TRUE);
  }
  if (quit) ::PostQuitMessage(static_cast<int>(quit_code));
  return end;
}

void TForm1::ShowProgress(const BackgroundTask& search) {
  if (progress_ == nullptr) {
    constexpr DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    const int height = kMargin * 3 + 13 * 2 + 15 + kButtonHeight + 8;
    const SIZE frame = FrameSize(Scale(kProgressWidth, dpi_), Scale(height, dpi_), style,
                                 WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, dpi_);
    RECT owner{};
    ::GetWindowRect(window_, &owner);
    progress_ = ::CreateWindowExW(
        WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kProgressClass, ApplicationTitle(), style,
        owner.left + (owner.right - owner.left - frame.cx) / 2, owner.bottom + Scale(8, dpi_),
        frame.cx, frame.cy, window_, nullptr, Instance(), this);
    ::SetWindowLongPtrW(progress_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProgressProc));
    ::SetWindowLongPtrW(progress_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    const int width = kProgressWidth - 2 * kMargin;
    const auto place = [&](HWND control, int left, int top, int w, int h) {
      const Rect rect = ScaleRect({left, top, w, h}, dpi_);
      ::SetWindowPos(control, nullptr, rect.left, rect.top, rect.width, rect.height, SWP_NOZORDER);
      ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    };
    place(MakeChild(progress_, WC_STATICW, L"", SS_NOPREFIX, kIdProgressText), kMargin, kMargin, width, 13);
    place(MakeChild(progress_, WC_STATICW, L"", SS_NOPREFIX | SS_PATHELLIPSIS, kIdProgressFile),
          kMargin, kMargin + 17, width, 13);
    place(MakeChild(progress_, PROGRESS_CLASSW, L"", 0, kIdProgressBar), kMargin, kMargin * 2 + 30,
          width, 15);
    place(MakeChild(progress_, WC_BUTTONW, Wide(Tr(kProgressContext, "Cancel")).c_str(),
                    BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL),
          kProgressWidth - kMargin - kButtonWidth, kMargin * 3 + 45, kButtonWidth, kButtonHeight);
    ::ShowWindow(progress_, SW_SHOW);
  }
  if (search.CancelRequested()) return;  // "Cancelling…" stays
  const BackgroundTask::Progress progress = search.CurrentProgress();
  ::SetDlgItemTextW(progress_, kIdProgressText,
                    Wide(FillIn(Tr(kProgressContext, "%1 of %2 files"),
                                {GroupedNumber(static_cast<unsigned>(progress.done)),
                                 GroupedNumber(static_cast<unsigned>(progress.total))}))
                        .c_str());
  std::u16string current = progress.total > 0 && progress.done == progress.total
                               ? Tr(kProgressContext, "Writing the report…")
                               : Utf8Decode(progress.current);
  std::replace(current.begin(), current.end(), u'/', u'\\');
  ::SetDlgItemTextW(progress_, kIdProgressFile, Wide(current).c_str());
  const HWND bar = ::GetDlgItem(progress_, kIdProgressBar);
  ::SendMessageW(bar, PBM_SETRANGE32, 0, std::max(progress.total, 1));
  ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(progress.done), 0);
}

LRESULT CALLBACK TForm1::ProgressProc(HWND progress, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* form = reinterpret_cast<TForm1*>(::GetWindowLongPtrW(progress, GWLP_USERDATA));
  // Cancel, Escape and the close box ask the search to stop; the window
  // stays until it has.
  const bool cancel = message == WM_CLOSE || (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL);
  if (cancel && form != nullptr) {
    if (form->running_search_ != nullptr && !form->running_search_->CancelRequested()) {
      form->running_search_->Cancel();
      ::EnableWindow(::GetDlgItem(progress, IDCANCEL), FALSE);
      ::SetDlgItemTextW(progress, kIdProgressText,
                        Wide(Tr(kProgressContext, "Cancelling…")).c_str());
    }
    return 0;
  }
  if (message == WM_CTLCOLORSTATIC) {
    ::SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
  }
  return ::DefWindowProcW(progress, message, wparam, lparam);
}

void TForm1::CloseProgress() {
  if (progress_ == nullptr) return;
  // Enabled first, so that the system does not activate some other program
  // when the owned window goes.
  ::EnableWindow(window_, TRUE);
  ::DestroyWindow(progress_);
  progress_ = nullptr;
}

void TForm1::AddToNote(const std::vector<std::u16string>& sections) {
  const std::u16string added = JoinSections(sections);
  if (added.empty()) return;
  note_sections_ = JoinSections({note_sections_, added});
  if (note_ == nullptr) {
    note_ = ::CreateWindowExW(kNoteExStyle, kNoteClass, Wide(NoteTitle()).c_str(), kNoteStyle, 0, 0, 0, 0,
                              window_, nullptr, Instance(), this);
    ::SetWindowLongPtrW(note_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(NoteProc));
    ::SetWindowLongPtrW(note_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    note_text_ = MakeChild(note_, WC_EDITW, L"", ES_MULTILINE | ES_READONLY, kIdNoteText);
    MakeChild(note_, WC_BUTTONW, Wide(NoteCloseText()).c_str(), BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL);
  }
  ::SetWindowTextW(note_text_, WithCrLf(note_sections_).c_str());
  LayoutNote();
  // A note waits for no answer: the window keeps the focus.
  ::ShowWindow(note_, SW_SHOWNOACTIVATE);
}

// Sizes the note for its text at the window's DPI, below the window, or
// above it where the screen ends below.
void TForm1::LayoutNote() {
  const std::wstring text = WithCrLf(note_sections_);
  // As tall as the text wrapped at the note's width.
  const int width = Scale(kNoteWidth - 2 * kMargin, dpi_);
  RECT bounds{0, 0, width, 0};
  const HDC dc = ::GetDC(note_);
  const HGDIOBJ old = ::SelectObject(dc, font_);
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bounds,
              DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);
  ::SelectObject(dc, old);
  ::ReleaseDC(note_, dc);
  const int margin = Scale(kMargin, dpi_);
  const int text_height = bounds.bottom + Scale(4, dpi_);
  const int client_height = margin * 3 + text_height + Scale(kButtonHeight, dpi_);
  for (HWND control : {note_text_, ::GetDlgItem(note_, IDCANCEL)})
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  ::SetWindowPos(note_text_, nullptr, margin, margin, width, text_height, SWP_NOZORDER);
  ::SetWindowPos(::GetDlgItem(note_, IDCANCEL), nullptr,
                 margin + width - Scale(kButtonWidth, dpi_), margin * 2 + text_height,
                 Scale(kButtonWidth, dpi_), Scale(kButtonHeight, dpi_), SWP_NOZORDER);
  const SIZE frame = FrameSize(Scale(kNoteWidth, dpi_), client_height, kNoteStyle, kNoteExStyle, dpi_);
  RECT owner{};
  ::GetWindowRect(window_, &owner);
  const RECT work = WorkAreaOf(window_);
  int top = owner.bottom + Scale(8, dpi_);
  if (top + frame.cy > work.bottom) top = std::max<int>(work.top, owner.top - frame.cy - Scale(8, dpi_));
  ::SetWindowPos(note_, nullptr, owner.left, top, frame.cx, frame.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK TForm1::NoteProc(HWND note, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* form = reinterpret_cast<TForm1*>(::GetWindowLongPtrW(note, GWLP_USERDATA));
  if (form != nullptr && (message == WM_CLOSE || (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL))) {
    form->CloseNote();
    return 0;
  }
  if (message == WM_CTLCOLORSTATIC) {
    ::SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
  }
  return ::DefWindowProcW(note, message, wparam, lparam);
}

void TForm1::CloseNote() {
  note_sections_.clear();
  if (note_ == nullptr) return;
  const HWND note = note_;
  note_ = nullptr;
  note_text_ = nullptr;
  ::DestroyWindow(note);
}

std::u16string TForm1::NoteText() const { return note_ == nullptr ? std::u16string() : note_sections_; }

void TForm1::ShowError(const std::string& message) {
  errors_.ShowError(window_, Wide(Utf8Decode(ErrorDisplayText(message))));
}

int RunMessageLoop(TForm1& form) {
  MSG message;
  BOOL got;
  while ((got = ::GetMessageW(&message, nullptr, 0, 0)) > 0) {
    if (form.PreTranslate(message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return got < 0 ? 1 : static_cast<int>(message.wParam);
}

}  // namespace tallyfold::win32ui
