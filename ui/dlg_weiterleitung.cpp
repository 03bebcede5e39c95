#include "ui/dlg_weiterleitung.h"

#include <QHBoxLayout>
#include <QLabel>
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

constexpr int kSenderImage = 0;

void ShowDatabaseError(QWidget* parent, const CDatabaseException& e) {
  ShowMessageBox(parent, QString::fromStdString(e.Message()));
}

}  // namespace

CDlgWeiterleitung::CDlgWeiterleitung(QWidget* parent) : COptionsPage(QStringLiteral("Forwarding"), parent) {
  auto* label = new QLabel(QStringLiteral("Forward faxes with following Caller IDs to these email addresses:"), this);
  label->setWordWrap(true);
  list_ = new CReportList(this);
  list_->setObjectName(QStringLiteral("tsidList"));
  list_->SetColumns({{QStringLiteral("Senderkennung"), 90}, {QStringLiteral("Email-Weiterleitung"), 160}});
  label->setBuddy(list_);
  delete_ = new QPushButton(QStringLiteral("&Delete"), this);
  delete_->setObjectName(QStringLiteral("delete"));
  edit_ = new QPushButton(QStringLiteral("&Edit"), this);
  edit_->setObjectName(QStringLiteral("edit"));
  add_ = new QPushButton(QStringLiteral("&Add"), this);
  add_->setObjectName(QStringLiteral("add"));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(delete_);
  buttons->addWidget(edit_);
  buttons->addWidget(add_);
  auto* page = new QVBoxLayout(this);
  page->addWidget(label);
  page->addWidget(list_, 1);
  page->addLayout(buttons);

  connect(add_, &QPushButton::clicked, this, &CDlgWeiterleitung::OnAdd);
  connect(edit_, &QPushButton::clicked, this, &CDlgWeiterleitung::OnEdit);
  connect(delete_, &QPushButton::clicked, this, &CDlgWeiterleitung::OnDelete);
  connect(list_, &CReportList::RowDoubleClicked, this, [this](int) { OnEdit(); });
}

void CDlgWeiterleitung::FillList() {
  list_->DeleteAllItems();
  if (!db_) return;
  try {
    for (const ForwardingRow& row : ListForwardingRows(*db_, ForwardingTable::kTsid))
      list_->InsertSorted({Q(row.number), Q(row.emailAddress)}, ForwardingImage(kSenderImage));
  } catch (const CDatabaseException& e) {
    ShowDatabaseError(this, e);
  }
}

void CDlgWeiterleitung::OnAdd() {
  ForwardingEditDialog dialog(this);
  dialog.SetMode(ForwardingEditDialog::kNewForwarding);
  if (dialog.exec() != QDialog::Accepted) return;
  // Only presence matters here: the address format is not examined.
  if (Status accepted = CheckNewSenderRow(S(dialog.numberText), S(dialog.addressText)); !accepted) {
    ShowMessageBox(this, QString::fromStdString(accepted.Error().text), BoxButtons::kOk, BoxIcon::kStop);
    return;
  }
  if (db_) {
    try {
      AddForwardingRow(*db_, ForwardingTable::kTsid, {S(dialog.numberText), S(dialog.addressText)});
    } catch (const CDatabaseException& e) {
      ShowDatabaseError(this, e);
    }
  }
  list_->InsertSorted({dialog.numberText, dialog.addressText}, ForwardingImage(kSenderImage));
}

void CDlgWeiterleitung::OnEdit() {
  const int row = list_->SelectionMark();
  if (row < 0 || !db_) return;
  const QString oldNumber = list_->ItemText(row, 0);
  ForwardingEditDialog dialog(this);
  dialog.SetMode(ForwardingEditDialog::kEditForwarding);
  dialog.numberText = oldNumber;
  dialog.addressText = list_->ItemText(row, 1);
  try {
    if (!FindForwardingRow(*db_, ForwardingTable::kTsid, S(oldNumber))) return;
    if (dialog.exec() != QDialog::Accepted) return;
    // No checks here: empty values are stored as they are.
    if (EditForwardingRow(*db_, ForwardingTable::kTsid, S(oldNumber),
                          {S(dialog.numberText), S(dialog.addressText)})) {
      list_->SetItemText(row, 0, dialog.numberText);
      list_->SetItemText(row, 1, dialog.addressText);
      list_->Resort(row);
    }
  } catch (const CDatabaseException& e) {
    ShowDatabaseError(this, e);
  }
}

void CDlgWeiterleitung::OnDelete() {
  const int row = list_->SelectionMark();
  if (row < 0) return;
  if (db_) {
    try {
      // A row already gone leaves the list all the same.
      (void)DeleteForwardingRow(*db_, ForwardingTable::kTsid, S(list_->ItemText(row, 0)));
    } catch (const CDatabaseException& e) {
      ShowDatabaseError(this, e);
    }
  }
  list_->DeleteItem(row);
}

}  // namespace kestrel
