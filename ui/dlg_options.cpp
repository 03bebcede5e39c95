#include "ui/dlg_options.h"

#include <filesystem>

#include "core/settings_file.h"
#include "platform/app_folder.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/notice_sink.h"
#include "ui/ui_string_table.h"
#include "desktop/artwork.h"
#include "journal/jotter_dlg.h"
#include "store/odbc_connection.h"
#include "store/schema.h"
#include "ui/dlg_options_page_email.h"
#include "ui/dlg_options_page_fax.h"
#include "ui/dlg_proppage_msn.h"
#include "ui/dlg_weiterleitung.h"

namespace kestrel {

CDlgOptions::CDlgOptions(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("optionsSheet"));
  setWindowTitle(QString::fromUtf8(LoadUiString(IDS_SETTINGS_CAPTION)));
  setWindowIcon(ProgramIcon());
  // Modal to nothing but itself: the tray icon keeps answering while the sheet
  // is open (a second Settings command is refused by the service's guard).
  setWindowModality(Qt::WindowModal);
  tabs_ = new QTabWidget(this);
  msn_ = new CDlgProppageMSN(tabs_);
  fax_ = new CDlgOptionsPageFax(tabs_);
  email_ = new CDlgOptionsPageEMail(tabs_);
  forwarding_ = new CDlgWeiterleitung(tabs_);
  journal_ = new CJotterDlg(CJotterDlg::Host::kServicePage, tabs_);
  for (COptionsPage* page : std::vector<COptionsPage*>{msn_, fax_, email_, forwarding_})
    tabs_->addTab(page, page->Caption());
  tabs_->addTab(journal_, QStringLiteral("Fax Journal"));
  // The journal page opens files from the folder the Fax page holds now.
  journal_->SetReceivedFolderSource([this] { return fax_->ReceivedDir; });

  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons_->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
  buttons_->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
  connect(buttons_, &QDialogButtonBox::accepted, this, &CDlgOptions::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(tabs_, &QTabWidget::currentChanged, this, &CDlgOptions::OnTabChanged);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons_);
  resize(720, 560);

  ownConnection_ = std::make_unique<COdbcConnection>();
  SetAdministrationConnection(nullptr);
}

CDlgOptions::~CDlgOptions() = default;

namespace {

// Notices of the sheet's own table check are dropped: a data source that
// cannot be reached is reported by the list fill that follows.
class CQuietNotices final : public INoticeSink {
 public:
  void Notify(const std::string&, NoticeIcon) override {}
};

}  // namespace

void CDlgOptions::SetAdministrationConnection(COdbcConnection* administration) {
  COdbcConnection* db = administration ? administration : ownConnection_.get();
  db_ = db;
  msn_->SetConnection(db);
  forwarding_->SetConnection(db);
}

void CDlgOptions::LoadFrom(const ServiceSettings& values) {
  msn_->LoadFrom(values);
  fax_->LoadFrom(values);
  email_->LoadFrom(values);
}

void CDlgOptions::StoreInto(ServiceSettings& values) const {
  msn_->StoreInto(values);
  fax_->StoreInto(values);
  email_->StoreInto(values);
}

bool CDlgOptions::EditSettings(ServiceSettings& values) {
  LoadFrom(values);
  // The first-run sheet (no settings file yet, nothing about the mail server
  // known) proposes today's choices; settings read from a file keep theirs.
  if (!firstRunOffered_) {
    firstRunOffered_ = true;
    if (values.SMTPServer.empty() && !std::filesystem::exists(SettingsFilePath(ApplicationFolder())))
      email_->ProposeFirstRunValues();
  }
  if (exec() != QDialog::Accepted) return false;
  StoreInto(values);
  return true;
}

int CDlgOptions::exec() {
  for (COptionsPage* page : std::vector<COptionsPage*>{msn_, fax_, email_, forwarding_}) page->BeginShowing();
  journalLoaded_ = false;
  // The first-run sheet opens before the service's start-up table check: make
  // sure the forwarding tables exist, or the editors would greet the
  // administrator with "no such table".
  if (!tablesChecked_ && db_) {
    CQuietNotices quiet;
    EnsureMsnTable(*db_, quiet);
    tablesChecked_ = db_->IsOpen();
  }
  {
    const QSignalBlocker block(tabs_);
    tabs_->setCurrentIndex(0);
  }
  current_ = 0;
  ActivatePage(0);
  return QDialog::exec();
}

void CDlgOptions::ActivatePage(int index) {
  if (auto* page = qobject_cast<COptionsPage*>(tabs_->widget(index))) {
    page->Activate();
  } else if (tabs_->widget(index) == journal_ && !journalLoaded_) {
    journalLoaded_ = true;
    journal_->OnInitDialog();
  }
}

bool CDlgOptions::DeactivatePage(int index) {
  auto* page = qobject_cast<COptionsPage*>(tabs_->widget(index));
  return !page || page->Deactivate();
}

void CDlgOptions::OnTabChanged(int index) {
  if (index == current_) return;
  // The old page stays in front while it checks its values.
  {
    const QSignalBlocker block(tabs_);
    tabs_->setCurrentIndex(current_);
  }
  if (!DeactivatePage(current_)) return;
  {
    const QSignalBlocker block(tabs_);
    tabs_->setCurrentIndex(index);
  }
  current_ = index;
  ActivatePage(index);
}

void CDlgOptions::accept() {
  if (!DeactivatePage(current_)) return;
  QDialog::accept();
}

}  // namespace kestrel
