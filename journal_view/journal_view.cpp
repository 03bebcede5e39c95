#include "journal_view/journal_view.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include "desktop/artwork.h"
#include "desktop/message_box.h"
#include "desktop/report_list.h"
#include "journal_view/fax_preview.h"
#include "store/database_exception.h"
#include "store/journal.h"

namespace kestrel {
namespace {

constexpr char kFolderUnknown[] = "Received faxes Folder Name is unknown.";
constexpr char kCannotOpenPage[] = "Can not open the following file : \n %1";
constexpr char kCannotOpenJotter[] = "Can not opne the following file :\n %1";
constexpr char kSummary[] = "%1 Received faxes with %2 pages";
constexpr char kStatusReceived[] = "FaxReceived";
constexpr char kNoPreview[] = "No preview";
constexpr char kFilterHint[] = "Filter by number or date";
constexpr int kPreviewWidth = 180;
// ID, SenderNr, ReceivingTime: what a row must always show.
constexpr int kTimeColumn = 2;

QString FormatTime(const std::optional<SqlTimestamp>& t) {
  if (!t) return {};
  return QString::asprintf("%02d.%02d.%04d %02d:%02d:%02d", t->day, t->month, t->year, t->hour, t->minute, t->second);
}

QString AfterLastSlash(const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  return slash < 0 ? path : path.mid(slash + 1);
}

}  // namespace

CJournalView::CJournalView(Host host, QWidget* parent) : QDialog(parent), host_(host) {
  setObjectName(host == Host::kJotter ? QStringLiteral("jotterDialog") : QStringLiteral("journalPage"));
  auto* group = new QGroupBox(QStringLiteral("Received Faxes"), this);
  list_ = new CReportList(group);
  list_->setObjectName(QStringLiteral("journalList"));
  preview_ = new QLabel(QString::fromLatin1(kNoPreview), group);
  preview_->setObjectName(QStringLiteral("preview"));
  preview_->setAlignment(Qt::AlignCenter);
  // The preview takes a share of the width, and yields first when room is
  // short: the list keeps its columns up to the time.
  preview_->setMinimumWidth(kPreviewWidth * 2 / 3);
  preview_->setMaximumWidth(kPreviewWidth);
  preview_->setMinimumHeight(kPreviewWidth * 297 / 210);
  preview_->setFrameShape(QFrame::StyledPanel);
  preview_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
  filter_ = new QLineEdit(group);
  filter_->setObjectName(QStringLiteral("filter"));
  filter_->setPlaceholderText(QString::fromLatin1(kFilterHint));
  filter_->setClearButtonEnabled(true);
  auto* listColumn = new QVBoxLayout;
  listColumn->addWidget(filter_);
  listColumn->addWidget(list_, 1);
  auto* groupLayout = new QHBoxLayout(group);
  groupLayout->addLayout(listColumn, 3);
  groupLayout->addWidget(preview_, 1, Qt::AlignTop);
  refresh_ = new QPushButton(QStringLiteral("Refresh"), this);
  refresh_->setObjectName(QStringLiteral("refresh"));
  delete_ = new QPushButton(QStringLiteral("Delete"), this);
  delete_->setObjectName(QStringLiteral("delete"));
  auto* buttons = new QHBoxLayout;
  auto* page = new QVBoxLayout(this);
  page->addWidget(group, 1);

  if (host == Host::kJotter) {
    setWindowTitle(QStringLiteral("Kestrel Journal"));
    setWindowIcon(ProgramIcon());
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    close_ = new QPushButton(QStringLiteral("Close"), this);
    close_->setObjectName(QStringLiteral("close"));
    close_->setDefault(true);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("summary"));
    buttons->addWidget(refresh_);
    buttons->addWidget(close_);
    buttons->addWidget(summary_, 1, Qt::AlignCenter);
    buttons->addWidget(delete_);
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);
    resize(900, 480);
  } else {
    // A page inside the options sheet, not a window of its own.
    setWindowFlags(Qt::Widget);
    refresh_->setAutoDefault(false);
    delete_->setAutoDefault(false);
    buttons->addStretch(1);
    buttons->addWidget(refresh_);
    buttons->addStretch(1);
    buttons->addWidget(delete_);
    buttons->addStretch(1);
  }
  page->addLayout(buttons);

  connect(refresh_, &QPushButton::clicked, this, &CJournalView::OnRefresh);
  connect(delete_, &QPushButton::clicked, this, &CJournalView::OnDelete);
  connect(list_, &CReportList::RowDoubleClicked, this, [this](int) { OnOpenSelected(); });
  connect(list_, &QTableWidget::itemSelectionChanged, this, &CJournalView::UpdatePreview);
  connect(filter_, &QLineEdit::textChanged, this, &CJournalView::SetFilter);
  // The usual find key reaches the filter from anywhere in the window.
  auto* find = new QShortcut(QKeySequence::Find, this);
  connect(find, &QShortcut::activated, this, [this] {
    filter_->setFocus(Qt::ShortcutFocusReason);
    filter_->selectAll();
  });
  connect(list_->verticalScrollBar(), &QScrollBar::valueChanged, this, &CJournalView::OnScrolled);
}

void CJournalView::SetFilter(const QString& text) {
  if (filter_->text() != text) {
    const QSignalBlocker block(filter_);
    filter_->setText(text);
  }
  OnRefresh();
}

void CJournalView::OnScrolled(int value) {
  // Within a batch's reach of the end: fetch the next one before it shows.
  QScrollBar* bar = list_->verticalScrollBar();
  if (!allLoaded_ && value >= bar->maximum() - kBatchRows / 4) LoadMore();
}

void CJournalView::keyPressEvent(QKeyEvent* event) {
  if (host_ == Host::kServicePage) {
    QWidget::keyPressEvent(event);  // ignored: the sheet gets it
    return;
  }
  QDialog::keyPressEvent(event);
}

void CJournalView::UpdatePreview() {
  const int row = list_->SelectionMark();
  previewPage_ = QImage();
  if (row >= 0) {
    QString folder;
    const QString path = RowPath(row, &folder);
    if (!folder.isEmpty()) previewPage_ = FaxFirstPage(path);
  }
  if (previewPage_.isNull()) {
    preview_->setPixmap(QPixmap());
    preview_->setText(QString::fromLatin1(kNoPreview));
    return;
  }
  // Grey levels first, so the 1-bit page scales down smoothly.
  const QSize room = preview_->contentsRect().size().boundedTo(QSize(kPreviewWidth, 4 * kPreviewWidth));
  preview_->setPixmap(QPixmap::fromImage(previewPage_.convertToFormat(QImage::Format_Grayscale8)
                                             .scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

QString CJournalView::Summary() const { return summary_ ? summary_->text() : QString(); }

void CJournalView::Start() {
  if (host_ == Host::kJotter) {
    list_->SetColumns({{QStringLiteral("ID"), 30},
                       {QStringLiteral("SenderNr"), 80},
                       {QStringLiteral("ReceivingTime"), 120},
                       {QStringLiteral("Nr.Of Pages"), 90},
                       {QStringLiteral("Status"), 60},
                       {QStringLiteral("FaxFile"), 160}});
  } else {
    list_->SetColumns({{QStringLiteral("ID"), 25},
                       {QStringLiteral("SenderNr"), 80},
                       {QStringLiteral("ReceivingTime"), 90},
                       {QStringLiteral("Pages"), 40},
                       {QStringLiteral("FaxFile"), 255}});
  }
  list_->DeleteAllItems();
  Load(host_ == Host::kJotter);
}

void CJournalView::OnRefresh() {
  list_->DeleteAllItems();
  Load(false);
}

void CJournalView::Load(bool showError) {
  const JournalFilter filter{filter_->text().trimmed().toStdString()};
  const JournalTotals totals = CountJournalEntries(filter, connectString_);
  allLoaded_ = false;
  const JournalListing listing = ListJournalPage(filter, 0, kBatchRows, connectString_);
  allLoaded_ = !listing.status.Ok() || static_cast<int>(listing.entries.size()) < kBatchRows;
  for (const JournalEntry& e : listing.entries) AddRow(e);
  list_->FitColumnsToContents();
  KeepTimeColumnShown();
  const Status& loaded = listing.status.Ok() ? totals.status : listing.status;
  if (!loaded) {
    allLoaded_ = true;
    if (showError) ShowMessageBox(this, QStringLiteral("  ") + QString::fromStdString(loaded.Error().text));
    return;
  }
  totalRows_ = totals.rows;
  if (summary_) summary_->setText(QString::fromLatin1(kSummary).arg(totals.rows).arg(totals.pages));
}

bool CJournalView::LoadMore() {
  if (allLoaded_) return false;
  const JournalFilter filter{filter_->text().trimmed().toStdString()};
  const JournalListing listing = ListJournalPage(filter, list_->ItemCount(), kBatchRows, connectString_);
  allLoaded_ = !listing.status.Ok() || static_cast<int>(listing.entries.size()) < kBatchRows;
  for (const JournalEntry& e : listing.entries) AddRow(e);
  list_->FitColumnsToContents();
  KeepTimeColumnShown();
  return !listing.entries.empty();
}

void CJournalView::KeepTimeColumnShown() {
  int width = 2 * list_->frameWidth() + list_->verticalScrollBar()->sizeHint().width();
  for (int c = 0; c <= kTimeColumn && c < list_->columnCount(); ++c) width += list_->columnWidth(c);
  list_->setMinimumWidth(width);
}

void CJournalView::AddRow(const JournalEntry& e) {
  const QString file = QString::fromStdString(e.faxFile);
  QStringList cells{QString::number(e.id), QString::fromStdString(e.senderNr), FormatTime(e.receivingTime),
                    QString::number(e.numberOfPages)};
  if (host_ == Host::kJotter) {
    cells << QString::fromLatin1(kStatusReceived) << file;
  } else {
    cells << AfterLastSlash(file);
  }
  list_->InsertItem(list_->ItemCount(), cells);
}

QString CJournalView::RowPath(int row, QString* folder) const {
  if (host_ == Host::kJotter) {
    const QString path = list_->ItemText(row, 5);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    *folder = slash < 0 ? QString() : path.left(slash);
    return path;
  }
  *folder = receivedFolder_ ? QString::fromStdString(receivedFolder_()) : QString();
  if (folder->isEmpty()) return {};
  return QStringLiteral("%1/%2").arg(*folder, list_->ItemText(row, 4));
}

void CJournalView::OnOpenSelected() {
  const int row = list_->SelectionMark();
  if (row < 0) return;
  QString folder;
  const QString path = RowPath(row, &folder);
  if (folder.isEmpty()) {
    ShowMessageBox(this, QString::fromUtf8(kFolderUnknown));
    return;
  }
  if (host_ == Host::kJotter) lastFolder_ = folder;
  if (!path.isEmpty() && QFileInfo(path).isFile()) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    return;
  }
  ShowMessageBox(this, QString::fromUtf8(host_ == Host::kJotter ? kCannotOpenJotter : kCannotOpenPage).arg(path));
}

void CJournalView::OnDelete() {
  const int row = list_->SelectionMark();
  if (row >= 0) {
    bool ok = false;
    const int id = list_->ItemText(row, 0).trimmed().toInt(&ok);
    // An error ends the delete quietly; the pause and reload follow anyway,
    // and the row that stayed shows again.
    if (ok) (void)DeleteJournalEntry(id, connectString_);
  }
  QThread::msleep(kDeletePauseMs);
  OnRefresh();
}

}  // namespace kestrel
