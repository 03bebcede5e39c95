#include "ui/forwarding_edit_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/digits_edit.h"
#include "ui/ui_string_table.h"

namespace kestrel {
namespace {

constexpr char kTemplateCaption[] = "New forwarding";
constexpr char kSenderLabel[] = "&Incoming Fax Nr. (TSID):";
constexpr char kMsnCaption[] = "MSN bearbeiten";
constexpr char kMsnLabel[] = "&MSN:";

}  // namespace

ForwardingEditDialog::ForwardingEditDialog(QWidget* parent) : QDialog(parent) {
  numberLabel_ = new QLabel(this);
  number_ = new CDigitsEdit(this);
  number_->setObjectName(QStringLiteral("number"));
  numberLabel_->setBuddy(number_);
  address_ = new QLineEdit(this);
  address_->setObjectName(QStringLiteral("address"));
  auto* addressLabel = new QLabel(QStringLiteral("&Email-Forwarding:"), this);
  addressLabel->setBuddy(address_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* grid = new QGridLayout;
  grid->addWidget(numberLabel_, 0, 0);
  grid->addWidget(number_, 0, 1);
  grid->addWidget(addressLabel, 1, 0);
  grid->addWidget(address_, 1, 1);
  grid->setColumnMinimumWidth(1, 220);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);
  SetMode(kNewForwarding);
}

void ForwardingEditDialog::SetMode(int mode) {
  mode_ = mode;
  switch (mode) {
    case kEditForwarding:
      setWindowTitle(QString::fromUtf8(LoadUiString(IDS_EDIT_FORWARDING)));
      numberLabel_->setText(QString::fromUtf8(kSenderLabel));
      break;
    case kAddMsn:
    case kEditMsn:
      setWindowTitle(QString::fromUtf8(kMsnCaption));
      numberLabel_->setText(QString::fromUtf8(kMsnLabel));
      break;
    default:
      setWindowTitle(QString::fromUtf8(kTemplateCaption));
      numberLabel_->setText(QString::fromUtf8(kSenderLabel));
      break;
  }
}

int ForwardingEditDialog::exec() {
  number_->setText(numberText);
  address_->setText(addressText);
  number_->setFocus(Qt::OtherFocusReason);
  const int result = QDialog::exec();
  if (result == QDialog::Accepted) {
    numberText = number_->text();
    addressText = address_->text();
  }
  return result;
}

}  // namespace kestrel
