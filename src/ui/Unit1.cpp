// The main window (Unit1.h): its controls, the enabling rule, the folder
// choice and the hand-over to the search command.
#include "ui/Unit1.h"

#include <exception>
#include <limits>

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>

#include "app/BackgroundSearch.h"
#include "app/SearchCommand.h"
#include "ui/AppIcon.h"
#include "ui/SearchProgress.h"
#include "ui/Services.h"

namespace tallyfold {
namespace {

// The product's forum, and the credit line: author's address, release date.
const QString kForumHost = QStringLiteral("norrow.test");
const QString kForumUrl = QStringLiteral("http://norrow.test/bbs/");
const QString kCredit = QStringLiteral("作者 tallyfold@norrow.test  2011-4-12");

// Tahoma 8 pt (11 pixels high) as the window was designed; where Tahoma is
// missing, the desktop's own sans-serif at the same pixel size keeps the
// texts inside their fixed boxes.
QFont WindowFont() {
  QFont font = QFontDatabase::hasFamily(QStringLiteral("Tahoma"))
                   ? QFont(QStringLiteral("Tahoma"))
                   : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

}  // namespace

QString ApplicationTitle() { return QStringLiteral("检索工具"); }

QString WindowCaption() {
  return QStringLiteral("Norrow Tallyfold 1.0 — every match counted");
}

void ConfigureApplication() {
  QCoreApplication::setApplicationName(QStringLiteral("tallyfold"));
  QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));
  QGuiApplication::setDesktopFileName(QStringLiteral("tallyfold"));
  QGuiApplication::setWindowIcon(AppIcon());
}

TForm1::TForm1(FolderPicker& folder_picker, DesktopOpener& opener,
               ErrorDisplay& errors, QWidget* parent)
    : QWidget(parent),
      SelectFolderDialog1(folder_picker),
      opener_(opener),
      errors_(errors) {
  setObjectName(QStringLiteral("Form1"));
  // A fixed dialog-style frame: a title and a close box, no minimise or
  // maximise box, above every other window so the report opened in a
  // browser does not bury it.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(kClientWidth, kClientHeight);
  setWindowTitle(WindowCaption());
  setWindowIcon(AppIcon());
  setFont(WindowFont());
  CreateControls();
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::CreateControls() {
  btnSearch = new QPushButton(QStringLiteral("检索"), this);
  btnSearch->setObjectName(QStringLiteral("btnSearch"));
  btnSearch->setGeometry(304, 8, 56, 21);
  btnSearch->setEnabled(false);

  edtInput = new QLineEdit(this);
  edtInput->setObjectName(QStringLiteral("edtInput"));
  edtInput->setGeometry(12, 8, 281, 21);
  // QLineEdit cuts text at 32,767 characters by default, silently, pasted
  // text included; a pattern is as long as the user makes it.
  edtInput->setMaxLength(std::numeric_limits<int>::max());

  btnDir = new QPushButton(QStringLiteral("选择目录"), this);
  btnDir->setObjectName(QStringLiteral("btnDir"));
  btnDir->setGeometry(367, 8, 69, 21);

  cbxCase = new QCheckBox(QStringLiteral(" case"), this);
  cbxCase->setObjectName(QStringLiteral("cbxCase"));
  cbxCase->setGeometry(16, 31, 46, 17);

  cbxBorder = new QCheckBox(QStringLiteral(" add \\b"), this);
  cbxBorder->setObjectName(QStringLiteral("cbxBorder"));
  cbxBorder->setGeometry(66, 31, 54, 17);
  cbxBorder->setChecked(true);
  // The texts bring their own leading space, and the boxes are as narrow as
  // the classic 13-pixel check mark: the style's wider mark and spacing
  // would push the texts out of their boxes.
  for (QCheckBox* box : {cbxCase, cbxBorder}) {
    box->setStyleSheet(QStringLiteral(
        "QCheckBox { spacing: 0px; } QCheckBox::indicator { width: 13px; height: 13px; }"));
  }

  // Folder names and the fixed texts are shown as they are, never as markup.
  lblFolder = new QLabel(this);
  lblFolder->setObjectName(QStringLiteral("lblFolder"));
  lblFolder->setTextFormat(Qt::PlainText);
  lblFolder->move(128, 33);

  UrlLabel1 = new TUrlLabel(opener_, this);
  UrlLabel1->setObjectName(QStringLiteral("UrlLabel1"));
  UrlLabel1->setTextFormat(Qt::PlainText);
  UrlLabel1->setText(kForumHost);
  UrlLabel1->SetUrl(kForumUrl);
  UrlLabel1->setGeometry(137, 57, 76, 13);

  Label1 = new QLabel(kCredit, this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setTextFormat(Qt::PlainText);
  Label1->setGeometry(228, 57, 209, 13);

  // Buttons outside a dialog are never default buttons, so Enter and Escape
  // in the pattern box start or cancel nothing.
  setTabOrder(btnSearch, edtInput);
  setTabOrder(edtInput, btnDir);
  setTabOrder(btnDir, cbxCase);
  setTabOrder(cbxCase, cbxBorder);

  connect(edtInput, &QLineEdit::textChanged, this, &TForm1::edtInputChange);
  connect(btnDir, &QPushButton::clicked, this, &TForm1::btnDirClick);
  connect(btnSearch, &QPushButton::clicked, this, &TForm1::btnSearchClick);
}

void TForm1::FormCreate() {
  SetFolder(std::string());
  lists_ = std::make_unique<SearchLists>();
}

void TForm1::FormShow() {
  // A window shown again after it was closed gets fresh lists.
  if (!lists_) lists_ = std::make_unique<SearchLists>();
  edtInput->setFocus();
}

void TForm1::FormClose() { lists_.reset(); }

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Spontaneous show events come from the window system (say, on restoring
  // the window) and are not the program showing it.
  if (event->spontaneous()) return;
  if (!centred_) {
    centred_ = true;
    if (const QScreen* desktop = screen()) {
      setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                      desktop->availableGeometry()));
    }
  }
  FormShow();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (running_search_ != nullptr) {
    // The lists are the search's until it ends: stop it, and close once
    // it has.
    running_search_->Cancel();
    close_requested_ = true;
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
  FormClose();
}

void TForm1::edtInputChange() { ApplyEnablingRule(); }

void TForm1::btnDirClick() {
  // Always from the program's own folder, never from the last choice.
  SelectFolderDialog1.SetInitialDir(QCoreApplication::applicationDirPath() +
                                    QDir::separator());
  try {
    if (SelectFolderDialog1.Execute(this)) {
      SetFolder(SelectFolderDialog1.Directory());
    }
  } catch (const std::exception& error) {
    ShowError(error.what());
  }
  ApplyEnablingRule();
}

void TForm1::btnSearchClick() {
  // The wait for a running search turns the event loop; nothing that runs
  // meanwhile (a programmatic click, say) may start a second search on the
  // same lists.
  if (running_search_ != nullptr) return;
  SearchOptions options;
  options.pattern_text = edtInput->text().toStdU16String();
  options.folder = folder_;
  options.case_sensitive = cbxCase->isChecked();
  options.word_boundary = cbxBorder->isChecked();
  const bool written = SearchAndWait(options);
  if (close_requested_) {
    close_requested_ = false;
    close();
    return;
  }
  if (!written) return;
  // The report's name is relative to the working folder; the desktop needs
  // the absolute location. Whether it manages to open it is its own affair.
  const QString report = QString::fromStdU16String(options.report_path);
  opener_.Open(QUrl::fromLocalFile(QDir::current().absoluteFilePath(report)));
}

// Runs the search off the window's thread and waits for it. True when the
// report was written; an error has been shown when it was not, unless the
// user cancelled.
bool TForm1::SearchAndWait(const SearchOptions& options) {
  try {
    BackgroundSearch search(options, *lists_);
    running_search_ = &search;
    WaitForSearch(this, search, ApplicationTitle());
    running_search_ = nullptr;
    search.Result();
    return true;
  } catch (const ECancelled&) {
    running_search_ = nullptr;
    return false;
  } catch (const std::exception& error) {
    running_search_ = nullptr;
    ShowError(error.what());
    return false;
  }
}

void TForm1::ApplyEnablingRule() {
  const bool has_pattern =
      !SearchPattern(edtInput->text().toStdU16String(), false).empty();
  btnSearch->setEnabled(has_pattern && !folder_.empty());
}

void TForm1::SetFolder(const std::string& folder) {
  folder_ = folder;
  lblFolder->setText(QFile::decodeName(QByteArray::fromStdString(folder)));
  lblFolder->adjustSize();
}

void TForm1::ShowError(const char* message) {
  errors_.ShowError(this, QString::fromStdString(ErrorDisplayText(message)));
}

}  // namespace tallyfold
