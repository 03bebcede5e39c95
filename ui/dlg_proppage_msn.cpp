#include "ui/dlg_proppage_msn.h"

#include <QCheckBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/artwork.h"
#include "desktop/message_box.h"
#include "desktop/report_list.h"
#include "core/forwarding_rules.h"
#include "store/database_exception.h"
#include "store/forwarding_table.h"
#include "ui/forwarding_edit_dialog.h"

namespace kestrel {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

constexpr int kMsnImage = 2;

void ShowDatabaseError(QWidget* parent, const CDatabaseException& e) {
  ShowMessageBox(parent, QString::fromStdString(e.Message()));
}

}  // namespace

CDlgProppageMSN::CDlgProppageMSN(QWidget* parent) : COptionsPage(QStringLiteral("MSN"), parent) {
  auto* box = new QGroupBox(QStringLiteral("Fax receiver"), this);
  acceptAll_ = new QCheckBox(QStringLiteral("Accept all calls and forward them to this email address:"), box);
  acceptAll_->setObjectName(QStringLiteral("acceptAll"));
  emailAll_ = new QLineEdit(box);
  emailAll_->setObjectName(QStringLiteral("emailAll"));
  auto* listLabel = new QLabel(QStringLiteral("Accept calls for following MSNs:"), box);
  list_ = new CReportList(box);
  list_->setObjectName(QStringLiteral("msnList"));
  list_->SetColumns({{QStringLiteral("MSN"), 68}, {QStringLiteral("Email-Weiterleitung"), 168}});
  listLabel->setBuddy(list_);
  add_ = new QPushButton(QStringLiteral("&Add"), box);
  add_->setObjectName(QStringLiteral("add"));
  delete_ = new QPushButton(QStringLiteral("&Delete"), box);
  delete_->setObjectName(QStringLiteral("delete"));
  edit_ = new QPushButton(QStringLiteral("&Edit"), box);
  edit_->setObjectName(QStringLiteral("edit"));

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(add_);
  buttons->addWidget(delete_);
  buttons->addWidget(edit_);
  buttons->addStretch(1);
  auto* listRow = new QHBoxLayout;
  listRow->addWidget(list_, 1);
  listRow->addLayout(buttons);
  auto* inner = new QVBoxLayout(box);
  inner->addWidget(acceptAll_);
  inner->addWidget(emailAll_);
  inner->addSpacing(8);
  inner->addWidget(listLabel);
  inner->addLayout(listRow, 1);
  auto* page = new QVBoxLayout(this);
  page->addWidget(box);

  emailAll_->installEventFilter(this);
  connect(acceptAll_, &QCheckBox::clicked, this, &CDlgProppageMSN::OnAcceptAllClicked);
  connect(add_, &QPushButton::clicked, this, &CDlgProppageMSN::OnAdd);
  connect(edit_, &QPushButton::clicked, this, &CDlgProppageMSN::OnEdit);
  connect(delete_, &QPushButton::clicked, this, &CDlgProppageMSN::OnDelete);
  connect(list_, &CReportList::RowDoubleClicked, this, [this](int) { OnEdit(); });
}

void CDlgProppageMSN::LoadFrom(const ServiceSettings& s) {
  All = s.All;
  EmailAll = s.EmailAll;
}

void CDlgProppageMSN::StoreInto(ServiceSettings& s) const {
  s.All = All;
  s.EmailAll = EmailAll;
}

void CDlgProppageMSN::ExchangeToControls() {
  acceptAll_->setChecked(All != 0);
  emailAll_->setText(Q(EmailAll));
}

bool CDlgProppageMSN::ExchangeToMembers() {
  All = acceptAll_->isChecked() ? 1 : 0;
  EmailAll = S(emailAll_->text());
  return true;
}

void CDlgProppageMSN::OnInitPage() {
  FillList();
  SetListMode(All != 0);
}

void CDlgProppageMSN::SetListMode(bool acceptAll) {
  list_->setEnabled(!acceptAll);
  add_->setEnabled(!acceptAll);
  delete_->setEnabled(!acceptAll);
  edit_->setEnabled(!acceptAll);
  emailAll_->setEnabled(acceptAll);
}

void CDlgProppageMSN::FillList() {
  list_->DeleteAllItems();
  if (!db_) return;
  try {
    for (const ForwardingRow& row : ListForwardingRows(*db_, ForwardingTable::kMsn))
      list_->InsertSorted({Q(row.number), Q(row.emailAddress)}, ForwardingImage(kMsnImage));
  } catch (const CDatabaseException& e) {
    ShowDatabaseError(this, e);
  }
}

void CDlgProppageMSN::OnAcceptAllClicked() {
  // The member still holds the state before the click.
  if (All != 0) {
    SetListMode(false);
  } else {
    SetListMode(true);
    FillList();
  }
  ExchangeToMembers();
}

bool CDlgProppageMSN::eventFilter(QObject* watched, QEvent* event) {
  if (watched == emailAll_ && event->type() == QEvent::FocusOut) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) OnAddressLeft();
  }
  return COptionsPage::eventFilter(watched, event);
}

void CDlgProppageMSN::OnAddressLeft() {
  ExchangeToMembers();
  // The value stays as typed; the reminder is all.
  if (Status accepted = CheckAcceptAllAddress(All != 0, EmailAll); !accepted)
    ShowMessageBox(this, QString::fromStdString(accepted.Error().text), BoxButtons::kOk, BoxIcon::kStop);
}

void CDlgProppageMSN::OnAdd() {
  ForwardingEditDialog dialog(this);
  dialog.SetMode(ForwardingEditDialog::kAddMsn);
  if (dialog.exec() != QDialog::Accepted) return;
  if (Status accepted = CheckNewMsnRow(S(dialog.numberText), S(dialog.addressText)); !accepted) {
    ShowMessageBox(this, QString::fromStdString(accepted.Error().text));
    return;
  }
  if (db_) {
    try {
      AddForwardingRow(*db_, ForwardingTable::kMsn, {S(dialog.numberText), S(dialog.addressText)});
    } catch (const CDatabaseException& e) {
      ShowDatabaseError(this, e);
    }
  }
  list_->InsertSorted({dialog.numberText, dialog.addressText}, ForwardingImage(kMsnImage));
}

void CDlgProppageMSN::OnEdit() {
  const int row = list_->SelectionMark();
  if (row < 0 || !db_) return;
  const QString oldNumber = list_->ItemText(row, 0);
  ForwardingEditDialog dialog(this);
  dialog.SetMode(ForwardingEditDialog::kEditMsn);
  dialog.numberText = oldNumber;
  dialog.addressText = list_->ItemText(row, 1);
  try {
    // A row that is no longer in the table is not edited: no dialog.
    if (!FindForwardingRow(*db_, ForwardingTable::kMsn, S(oldNumber))) return;
    if (dialog.exec() != QDialog::Accepted) return;
    if (Status accepted = CheckEditedMsnRow(S(dialog.numberText), S(dialog.addressText)); !accepted) {
      ShowMessageBox(this, QString::fromStdString(accepted.Error().text));
      return;
    }
    list_->SetItemText(row, 1, dialog.addressText);
    list_->SetItemText(row, 0, dialog.numberText);
    list_->Resort(row);
    // The row was found above; the list shows the edit either way, as it always did.
    (void)EditForwardingRow(*db_, ForwardingTable::kMsn, S(oldNumber), {S(dialog.numberText), S(dialog.addressText)});
  } catch (const CDatabaseException& e) {
    ShowDatabaseError(this, e);
  }
}

void CDlgProppageMSN::OnDelete() {
  const int row = list_->SelectionMark();
  if (row < 0) return;
  if (db_) {
    try {
      // A row already gone leaves the list all the same.
      (void)DeleteForwardingRow(*db_, ForwardingTable::kMsn, S(list_->ItemText(row, 0)));
    } catch (const CDatabaseException& e) {
      ShowDatabaseError(this, e);
    }
  }
  list_->DeleteItem(row);
}

}  // namespace kestrel
