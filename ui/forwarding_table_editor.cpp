#include "ui/forwarding_table_editor.h"

#include <QBoxLayout>
#include <QPushButton>

#include <initializer_list>
#include <string>
#include <string_view>

#include "core/forwarding_rules.h"
#include "desktop/artwork.h"
#include "desktop/message_box.h"
#include "desktop/report_list.h"
#include "store/database_exception.h"
#include "ui/forwarding_edit_dialog.h"

namespace kestrel {
namespace {

using RowCheck = Status (*)(std::string_view number, std::string_view address);

// What tells the two tables' editors apart.
struct TableLook {
  const char* listName;
  const char* numberCaption;
  int numberWidth;
  int addressWidth;
  int image;    // ForwardingImage
  int addMode;  // ForwardingEditDialog::Mode
  int editMode;
  RowCheck addCheck;
  RowCheck editCheck;  // nullptr: an edited row is stored as typed
  BoxIcon refusalIcon;
  bool buttonsBesideList;  // else in a row below it
};

constexpr TableLook kMsnLook = {"msnList",
                                "MSN",
                                68,
                                168,
                                2,
                                ForwardingEditDialog::kAddMsn,
                                ForwardingEditDialog::kEditMsn,
                                CheckNewMsnRow,
                                CheckEditedMsnRow,
                                BoxIcon::kDefault,
                                true};
// Only presence matters for a caller row: the address format is not examined.
constexpr TableLook kCallerLook = {"tsidList",
                                   "Senderkennung",
                                   90,
                                   160,
                                   0,
                                   ForwardingEditDialog::kNewForwarding,
                                   ForwardingEditDialog::kEditForwarding,
                                   CheckNewSenderRow,
                                   nullptr,
                                   BoxIcon::kStop,
                                   false};

const TableLook& LookOf(ForwardingTable table) { return table == ForwardingTable::kMsn ? kMsnLook : kCallerLook; }

std::string S(const QString& text) { return text.toStdString(); }

QPushButton* Button(const char* text, const char* name, QWidget* parent) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setObjectName(QString::fromLatin1(name));
  return button;
}

}  // namespace

CForwardingTableEditor::CForwardingTableEditor(ForwardingTable table, QWidget* parent)
    : QWidget(parent), table_(table) {
  const TableLook& look = LookOf(table);
  list_ = new CReportList(this);
  list_->setObjectName(QString::fromLatin1(look.listName));
  list_->SetColumns({{QString::fromUtf8(look.numberCaption), look.numberWidth},
                     {QStringLiteral("Email-Weiterleitung"), look.addressWidth}});
  add_ = Button("&Add", "add", this);
  delete_ = Button("&Delete", "delete", this);
  edit_ = Button("&Edit", "edit", this);

  auto* layout = new QBoxLayout(look.buttonsBesideList ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom, this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_, 1);
  if (look.buttonsBesideList) {
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(add_);
    buttons->addWidget(delete_);
    buttons->addWidget(edit_);
    buttons->addStretch(1);
    layout->addLayout(buttons);
  } else {
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(delete_);
    buttons->addWidget(edit_);
    buttons->addWidget(add_);
    layout->addLayout(buttons);
  }

  connect(add_, &QPushButton::clicked, this, &CForwardingTableEditor::OnAdd);
  connect(edit_, &QPushButton::clicked, this, &CForwardingTableEditor::OnEdit);
  connect(delete_, &QPushButton::clicked, this, &CForwardingTableEditor::OnDelete);
  connect(list_, &CReportList::RowDoubleClicked, this, &CForwardingTableEditor::OnEdit);
}

void CForwardingTableEditor::SetEditable(bool editable) {
  for (QWidget* w : std::initializer_list<QWidget*>{list_, add_, delete_, edit_}) w->setEnabled(editable);
}

void CForwardingTableEditor::Fill() {
  list_->DeleteAllItems();
  if (!db_) return;
  try {
    for (const ForwardingRow& row : ListForwardingRows(*db_, table_))
      list_->InsertSorted({QString::fromStdString(row.number), QString::fromStdString(row.emailAddress)},
                          ForwardingImage(LookOf(table_).image));
  } catch (const CDatabaseException& e) {
    ShowMessageBox(this, QString::fromStdString(e.Message()));
  }
}

void CForwardingTableEditor::OnAdd() {
  const TableLook& look = LookOf(table_);
  ForwardingEditDialog dialog(this);
  dialog.SetMode(look.addMode);
  if (dialog.exec() != QDialog::Accepted) return;
  if (Status accepted = look.addCheck(S(dialog.numberText), S(dialog.addressText)); !accepted) {
    ShowMessageBox(this, QString::fromStdString(accepted.Error().text), BoxButtons::kOk, look.refusalIcon);
    return;
  }
  if (db_) {
    try {
      AddForwardingRow(*db_, table_, {S(dialog.numberText), S(dialog.addressText)});
    } catch (const CDatabaseException& e) {
      ShowMessageBox(this, QString::fromStdString(e.Message()));
    }
  }
  list_->InsertSorted({dialog.numberText, dialog.addressText}, ForwardingImage(look.image));
}

void CForwardingTableEditor::OnEdit() {
  const TableLook& look = LookOf(table_);
  const int row = list_->SelectionMark();
  if (row < 0 || !db_) return;
  const QString oldNumber = list_->ItemText(row, 0);
  ForwardingEditDialog dialog(this);
  dialog.SetMode(look.editMode);
  dialog.numberText = oldNumber;
  dialog.addressText = list_->ItemText(row, 1);
  try {
    // A row that is no longer in the table is not edited: no dialog.
    if (!FindForwardingRow(*db_, table_, S(oldNumber))) return;
    if (dialog.exec() != QDialog::Accepted) return;
    const Status accepted = look.editCheck ? look.editCheck(S(dialog.numberText), S(dialog.addressText)) : Status();
    if (!accepted) {
      ShowMessageBox(this, QString::fromStdString(accepted.Error().text), BoxButtons::kOk, look.refusalIcon);
      return;
    }
    if (EditForwardingRow(*db_, table_, S(oldNumber), {S(dialog.numberText), S(dialog.addressText)})) {
      list_->SetItemText(row, 0, dialog.numberText);
      list_->SetItemText(row, 1, dialog.addressText);
      list_->Resort(row);
    }
  } catch (const CDatabaseException& e) {
    ShowMessageBox(this, QString::fromStdString(e.Message()));
  }
}

void CForwardingTableEditor::OnDelete() {
  const int row = list_->SelectionMark();
  if (row < 0) return;
  if (db_) {
    try {
      // A row already gone leaves the list all the same.
      (void)DeleteForwardingRow(*db_, table_, S(list_->ItemText(row, 0)));
    } catch (const CDatabaseException& e) {
      ShowMessageBox(this, QString::fromStdString(e.Message()));
    }
  }
  list_->DeleteItem(row);
}

}  // namespace kestrel
