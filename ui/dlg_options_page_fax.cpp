#include "ui/dlg_options_page_fax.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFocusEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <vector>

#include "core/received_folder.h"
#include "core/string_table.h"
#include "ui/form_layout.h"
#include "ui/ui_string_table.h"
#include "desktop/message_box.h"

namespace kestrel {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }
QString Text(UiStringId id) { return QString::fromUtf8(LoadUiString(id)); }

}  // namespace

CDlgOptionsPageFax::CDlgOptionsPageFax(QWidget* parent) : COptionsPage(QStringLiteral("Fax"), parent) {
  auto* receiverBox = new QGroupBox(QStringLiteral("Fax receiver"), this);
  auto* receiverForm = GroupForm(receiverBox);
  number_ = new QLineEdit(receiverBox);
  number_->setObjectName(QStringLiteral("number"));
  // A telephone number: room for an international one, not the whole row.
  SizeToDigits(number_, 20);
  AddFormRow(receiverForm, QStringLiteral("Receiver ID(&CSID):"), number_);
  directory_ = new QLineEdit(receiverBox);
  directory_->setObjectName(QStringLiteral("receivedDir"));
  browse_ = new QPushButton(QStringLiteral("..."), receiverBox);
  browse_->setObjectName(QStringLiteral("browse"));
  browse_->setMaximumWidth(32);
  auto* directoryRow = new QHBoxLayout;
  directoryRow->setContentsMargins(0, 0, 0, 0);
  directoryRow->addWidget(directory_, 1);
  directoryRow->addWidget(browse_);
  AddFormRow(receiverForm, QStringLiteral("Directory for received faxes:"), directoryRow, directory_);
  clear_ = new QPushButton(QStringLiteral("Clear &directory"), receiverBox);
  clear_->setObjectName(QStringLiteral("clearDirectory"));
  auto* clearRow = new QHBoxLayout;
  clearRow->setContentsMargins(0, 0, 0, 0);
  clearRow->addStretch(1);
  clearRow->addWidget(clear_);
  receiverForm->addRow(QString(), clearRow);

  auto* databaseBox = new QGroupBox(QStringLiteral("Database"), this);
  auto* databaseForm = GroupForm(databaseBox);
  odbc_ = new QLineEdit(databaseBox);
  odbc_->setObjectName(QStringLiteral("odbcConnect"));
  AddFormRow(databaseForm, QStringLiteral("&ODBC-Connect-String:"), odbc_);

  auto* restrictionsBox = new QGroupBox(QStringLiteral("Restrictions"), this);
  auto* restrictions = GroupForm(restrictionsBox);
  rejectCallerId_ = new QCheckBox(QStringLiteral("Do not accept faxes without caller ID"), restrictionsBox);
  rejectCallerId_->setObjectName(QStringLiteral("rejectCallerID"));
  rejectStationId_ = new QCheckBox(QStringLiteral("Do not accept faxes without Station ID"), restrictionsBox);
  rejectStationId_->setObjectName(QStringLiteral("rejectStationID"));
  // Reception never looks at the station id; the box is kept for the value only.
  rejectStationId_->setEnabled(false);
  rejectStationId_->setVisible(false);
  restrictions->addRow(rejectCallerId_);
  restrictions->addRow(rejectStationId_);
  restrictions->setRowVisible(rejectStationId_, false);

  auto* logBox = new QGroupBox(QStringLiteral("Logfile"), this);
  auto* logForm = GroupForm(logBox);
  logfile_ = new QCheckBox(QStringLiteral("Create entries in &logfile"), logBox);
  logfile_->setObjectName(QStringLiteral("logfile"));
  logForm->addRow(logfile_);

  AlignFormLabels({receiverForm, databaseForm});

  // The sheet is as tall as its longest page; here the room left over goes
  // between the groups rather than into one empty band below the last.
  auto* page = new QVBoxLayout(this);
  page->addWidget(receiverBox);
  page->addStretch(1);
  page->addWidget(databaseBox);
  page->addStretch(1);
  page->addWidget(restrictionsBox);
  page->addStretch(1);
  page->addWidget(logBox);

  setTabOrder(number_, directory_);
  setTabOrder(directory_, browse_);
  setTabOrder(browse_, clear_);
  setTabOrder(clear_, odbc_);
  setTabOrder(odbc_, logfile_);
  setTabOrder(logfile_, rejectCallerId_);

  directory_->installEventFilter(this);
  connect(browse_, &QPushButton::clicked, this, &CDlgOptionsPageFax::OnBrowse);
  connect(clear_, &QPushButton::clicked, this, &CDlgOptionsPageFax::OnClearDirectory);
}

void CDlgOptionsPageFax::LoadFrom(const ServiceSettings& s) {
  Number = s.Number;
  ReceivedDir = s.ReceivedDir;
  ODBCConnect = s.ODBCConnect;
  Logfile = s.Logfile;
  RejectCallerID = s.RejectCallerID;
  RejectStationID = s.RejectStationID;
}

void CDlgOptionsPageFax::StoreInto(ServiceSettings& s) const {
  s.Number = Number;
  s.ReceivedDir = ReceivedDir;
  s.ODBCConnect = ODBCConnect;
  s.Logfile = Logfile;
  s.RejectCallerID = RejectCallerID;
  s.RejectStationID = RejectStationID;
}

void CDlgOptionsPageFax::ExchangeToControls() {
  number_->setText(Q(Number));
  directory_->setText(Q(ReceivedDir));
  odbc_->setText(Q(ODBCConnect));
  logfile_->setChecked(Logfile != 0);
  rejectCallerId_->setChecked(RejectCallerID != 0);
  rejectStationId_->setChecked(RejectStationID != 0);
}

bool CDlgOptionsPageFax::ExchangeToMembers() {
  Number = S(number_->text());
  ReceivedDir = S(directory_->text());
  ODBCConnect = S(odbc_->text());
  Logfile = logfile_->isChecked() ? 1 : 0;
  RejectCallerID = rejectCallerId_->isChecked() ? 1 : 0;
  RejectStationID = rejectStationId_->isChecked() ? 1 : 0;
  return true;
}

bool CDlgOptionsPageFax::eventFilter(QObject* watched, QEvent* event) {
  if (watched == directory_ && event->type() == QEvent::FocusOut) {
    // Losing the focus to another application or to a popup is not leaving
    // the field.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) OnDirectoryLeft();
  }
  return COptionsPage::eventFilter(watched, event);
}

void CDlgOptionsPageFax::OnBrowse() {
  const QString folder = QFileDialog::getExistingDirectory(
      this, Text(IDS_CHOOSE_DIRECTORY), QString(), QFileDialog::ShowDirsOnly);
  if (!folder.isEmpty()) directory_->setText(folder);
}

void CDlgOptionsPageFax::OnDirectoryLeft() {
  ExchangeToMembers();
  if (ReceivedDir.empty()) return;
  // One level only: the parents must exist already.
  if (!MakeReceivedFolder(ReceivedDir)) {
    ShowMessageBox(this, QString::fromUtf8(LoadString(IDS_INVALID_PATH)), BoxButtons::kOk, BoxIcon::kExclamation);
    ReceivedDir.clear();
    ExchangeToControls();
  }
}

void CDlgOptionsPageFax::OnClearDirectory() {
  if (ShowMessageBox(this, Text(IDS_CLEAR_DIRECTORY), BoxButtons::kYesNo, BoxIcon::kQuestion) !=
      BoxResult::kYes)
    return;
  ExchangeToMembers();
  // No folder entered means nothing to clear (not the current or root folder).
  if (ReceivedDir.empty()) return;
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  std::error_code ec;
  fs::directory_iterator it(fs::path(ReceivedDir), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code statError;
    if (it->symlink_status(statError).type() == fs::file_type::regular && !statError)
      files.push_back(it->path());
  }
  for (const fs::path& file : files) {
    const QString name = QFile::decodeName(file.filename().native().c_str());
    if (name.toLower() == QLatin1String("kestrel.log") &&
        ShowMessageBox(this, Text(IDS_DELETE_LOGFILE), BoxButtons::kYesNo, BoxIcon::kQuestion) !=
            BoxResult::kYes)
      continue;
    // Deletions that fail are skipped silently.
    std::error_code removeError;
    fs::remove(file, removeError);
  }
}

}  // namespace kestrel
