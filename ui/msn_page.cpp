#include "ui/msn_page.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "core/forwarding_rules.h"
#include "desktop/message_box.h"
#include "desktop/report_list.h"
#include "ui/forwarding_table_editor.h"
#include "ui/setting_fields.h"

namespace kestrel {

CMsnPage::CMsnPage(QWidget* parent) : COptionsPage(QStringLiteral("MSN"), parent) {
  auto* box = new QGroupBox(QStringLiteral("Fax receiver"), this);
  acceptAll_ = new QCheckBox(QStringLiteral("Accept all calls and forward them to this email address:"), box);
  acceptAll_->setObjectName(QStringLiteral("acceptAll"));
  emailAll_ = new QLineEdit(box);
  emailAll_->setObjectName(QStringLiteral("emailAll"));
  auto* listLabel = new QLabel(QStringLiteral("Accept calls for following MSNs:"), box);
  table_ = new CForwardingTableEditor(ForwardingTable::kMsn, box);
  listLabel->setBuddy(table_->List());

  auto* inner = new QVBoxLayout(box);
  inner->addWidget(acceptAll_);
  inner->addWidget(emailAll_);
  inner->addSpacing(8);
  inner->addWidget(listLabel);
  inner->addWidget(table_, 1);
  auto* page = new QVBoxLayout(this);
  page->addWidget(box);

  emailAll_->installEventFilter(this);
  connect(acceptAll_, &QCheckBox::clicked, this, &CMsnPage::OnAcceptAllClicked);
}

void CMsnPage::SetConnection(COdbcConnection* administration) { table_->SetConnection(administration); }

CReportList* CMsnPage::List() const { return table_->List(); }

void CMsnPage::Load(const ServiceSettings& s) {
  ShowFlag(acceptAll_, s.All);
  ShowText(emailAll_, s.EmailAll);
  table_->Fill();
  ShowAcceptAllMode();
}

bool CMsnPage::Store(ServiceSettings& s) {
  ReadFlag(acceptAll_, s.All);
  ReadText(emailAll_, s.EmailAll);
  return true;
}

void CMsnPage::ShowAcceptAllMode() {
  const bool acceptAll = acceptAll_->isChecked();
  table_->SetEditable(!acceptAll);
  emailAll_->setEnabled(acceptAll);
}

void CMsnPage::OnAcceptAllClicked() {
  ShowAcceptAllMode();
  // The list greyed out shows the table as it is now.
  if (acceptAll_->isChecked()) table_->Fill();
}

bool CMsnPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == emailAll_ && LeavesField(event)) OnAddressLeft();
  return COptionsPage::eventFilter(watched, event);
}

void CMsnPage::OnAddressLeft() {
  // The value stays as typed; the reminder is all.
  if (Status accepted = CheckAcceptAllAddress(acceptAll_->isChecked(), emailAll_->text().toStdString()); !accepted)
    ShowMessageBox(this, QString::fromStdString(accepted.Error().text), BoxButtons::kOk, BoxIcon::kStop);
}

}  // namespace kestrel
