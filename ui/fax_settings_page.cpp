#include "ui/fax_settings_page.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/received_folder.h"
#include "core/string_table.h"
#include "desktop/message_box.h"
#include "forward/fax_inbox.h"
#include "platform/app_folder.h"
#include "ui/form_layout.h"
#include "ui/setting_fields.h"
#include "ui/ui_string_table.h"

namespace kestrel {
namespace {

QString Text(UiStringId id) { return QString::fromUtf8(LoadUiString(id)); }

}  // namespace

CFaxSettingsPage::CFaxSettingsPage(QWidget* parent) : COptionsPage(QStringLiteral("Fax"), parent) {
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
  connect(browse_, &QPushButton::clicked, this, &CFaxSettingsPage::OnBrowse);
  connect(clear_, &QPushButton::clicked, this, &CFaxSettingsPage::OnClearDirectory);
}

void CFaxSettingsPage::Load(const ServiceSettings& s) {
  ShowText(number_, s.Number);
  ShowText(directory_, s.ReceivedDir);
  ShowText(odbc_, s.ODBCConnect);
  ShowFlag(logfile_, s.Logfile);
  ShowFlag(rejectCallerId_, s.RejectCallerID);
  ShowFlag(rejectStationId_, s.RejectStationID);
}

bool CFaxSettingsPage::Store(ServiceSettings& s) {
  ReadText(number_, s.Number);
  ReadText(directory_, s.ReceivedDir);
  ReadText(odbc_, s.ODBCConnect);
  ReadFlag(logfile_, s.Logfile);
  ReadFlag(rejectCallerId_, s.RejectCallerID);
  ReadFlag(rejectStationId_, s.RejectStationID);
  return true;
}

std::string CFaxSettingsPage::ReceivedFolder() const { return directory_->text().toStdString(); }

bool CFaxSettingsPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == directory_ && LeavesField(event)) OnDirectoryLeft();
  return COptionsPage::eventFilter(watched, event);
}

void CFaxSettingsPage::OnBrowse() {
  const QString folder =
      QFileDialog::getExistingDirectory(this, Text(IDS_CHOOSE_DIRECTORY), QString(), QFileDialog::ShowDirsOnly);
  if (!folder.isEmpty()) directory_->setText(folder);
}

void CFaxSettingsPage::OnDirectoryLeft() {
  if (!MakeReceivedFolder(ReceivedFolder())) {
    ShowMessageBox(this, QString::fromUtf8(LoadString(IDS_INVALID_PATH)), BoxButtons::kOk, BoxIcon::kExclamation);
    directory_->clear();
  }
}

void CFaxSettingsPage::OnClearDirectory() {
  if (ShowMessageBox(this, Text(IDS_CLEAR_DIRECTORY), BoxButtons::kYesNo, BoxIcon::kQuestion) != BoxResult::kYes)
    return;
  const ReceivedFolderClearing cleared = ClearReceivedFolder(
      ReceivedFolder(),
      [this] {
        return ShowMessageBox(this, Text(IDS_DELETE_LOGFILE), BoxButtons::kYesNo, BoxIcon::kQuestion) ==
               BoxResult::kYes;
      },
      CFaxInbox::PendingCaptureFiles(ApplicationFolder()));
  // Files that could not be deleted are left without a word: they are still
  // there to see. Kept captures are named, or the button would seem broken.
  if (cleared.kept > 0)
    ShowMessageBox(this, QString::fromUtf8(KeptFilesText(cleared.kept)), BoxButtons::kOk, BoxIcon::kInformation);
}

}  // namespace kestrel
