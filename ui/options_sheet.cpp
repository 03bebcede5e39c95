#include "ui/options_sheet.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

#include <filesystem>

#include "core/notice_sink.h"
#include "core/settings_file.h"
#include "desktop/artwork.h"
#include "journal_view/journal_view.h"
#include "platform/app_folder.h"
#include "store/odbc_connection.h"
#include "store/schema.h"
#include "ui/email_page.h"
#include "ui/fax_settings_page.h"
#include "ui/forwarding_page.h"
#include "ui/msn_page.h"
#include "ui/sip_page.h"
#include "ui/ui_string_table.h"

namespace kestrel {
namespace {

// Notices of the sheet's own table check are dropped: a data source that
// cannot be reached is reported by the list fill that follows.
class CQuietNotices final : public INoticeSink {
 public:
  void Notify(const std::string&, NoticeIcon) override {}
};

}  // namespace

COptionsSheet::COptionsSheet(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("optionsSheet"));
  setWindowTitle(QString::fromUtf8(LoadUiString(IDS_SETTINGS_CAPTION)));
  setWindowIcon(ProgramIcon());
  // Modal to nothing but itself: the tray icon keeps answering while the sheet
  // is open (a second Settings action is refused by the service's guard).
  setWindowModality(Qt::WindowModal);
  tabs_ = new QTabWidget(this);
  msn_ = new CMsnPage(tabs_);
  fax_ = new CFaxSettingsPage(tabs_);
  email_ = new CEmailPage(tabs_);
  forwarding_ = new CForwardingPage(tabs_);
  journal_ = new CJournalView(CJournalView::Host::kServicePage, tabs_);
  sip_ = new CSipPage(tabs_);
  for (COptionsPage* page : Pages()) tabs_->addTab(page, page->Caption());
  // The journal stays the fifth tab, as it always was; the SIP page came later.
  tabs_->insertTab(tabs_->indexOf(sip_), journal_, QStringLiteral("Fax Journal"));
  // The journal page opens files from the folder the Fax page holds now.
  journal_->SetReceivedFolderSource([this] { return fax_->ReceivedFolder(); });

  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons_->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
  buttons_->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
  connect(buttons_, &QDialogButtonBox::accepted, this, &COptionsSheet::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(tabs_, &QTabWidget::currentChanged, this, &COptionsSheet::OnTabChanged);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons_);
  resize(720, 560);

  ownConnection_ = std::make_unique<COdbcConnection>();
  SetAdministrationConnection(nullptr);
}

COptionsSheet::~COptionsSheet() = default;

std::vector<COptionsPage*> COptionsSheet::Pages() const { return {msn_, fax_, email_, forwarding_, sip_}; }

void COptionsSheet::SetAdministrationConnection(COdbcConnection* administration) {
  db_ = administration ? administration : ownConnection_.get();
  msn_->SetConnection(db_);
  forwarding_->SetConnection(db_);
}

void COptionsSheet::EnsureTables() {
  // Without the forwarding tables the editors would greet the administrator
  // with "no such table".
  if (tablesChecked_ || !db_) return;
  CQuietNotices quiet;
  EnsureMsnTable(*db_, quiet);
  tablesChecked_ = db_->IsOpen();
}

bool COptionsSheet::EditSettings(ServiceSettings& values) {
  edited_ = values;
  // The first-run sheet (no settings file yet, nothing about the mail server
  // known) proposes today's choices; settings read from a file keep theirs.
  if (!firstRunOffered_) {
    firstRunOffered_ = true;
    if (values.SMTPServer.empty() && !std::filesystem::exists(SettingsFilePath(ApplicationFolder())))
      ProposeFirstRunValues(edited_);
  }
  EnsureTables();
  for (COptionsPage* page : Pages()) page->Load(edited_);
  journalLoaded_ = false;
  ShowTab(0);
  if (exec() != QDialog::Accepted) return false;
  values = edited_;
  return true;
}

void COptionsSheet::ShowTab(int index) {
  {
    const QSignalBlocker block(tabs_);
    tabs_->setCurrentIndex(index);
  }
  current_ = index;
  if (tabs_->widget(index) == journal_ && !journalLoaded_) {
    journalLoaded_ = true;
    journal_->Start();
  }
}

bool COptionsSheet::StorePage(int index) {
  auto* page = qobject_cast<COptionsPage*>(tabs_->widget(index));
  return !page || page->Store(edited_);
}

void COptionsSheet::OnTabChanged(int index) {
  if (index == current_) return;
  // The old page stays in front while it checks its values.
  const int left = current_;
  ShowTab(left);
  if (StorePage(left)) ShowTab(index);
}

void COptionsSheet::accept() {
  // Every other page was stored when it was left.
  if (!StorePage(current_)) return;
  QDialog::accept();
}

}  // namespace kestrel
