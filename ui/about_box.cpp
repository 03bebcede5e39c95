#include "ui/about_box.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "core/version.h"
#include "desktop/artwork.h"

namespace kestrel {

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("aboutBox"));
  setWindowTitle(QStringLiteral("About Kestrel"));
  auto* icon = new QLabel(this);
  icon->setPixmap(ProgramIcon().pixmap(32, 32));
  auto* version = new QLabel(QStringLiteral("Kestrel Version ") + QString::fromLatin1(kProductVersion), this);
  version->setObjectName(QStringLiteral("version"));
  auto* maker = new QLabel(QStringLiteral("Fax-to-e-mail gateway by Brightwater"), this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* grid = new QGridLayout(this);
  grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  grid->addWidget(version, 0, 1);
  grid->addWidget(maker, 1, 1);
  grid->addWidget(buttons, 0, 2, 2, 1, Qt::AlignTop);
  grid->setColumnStretch(1, 1);
  grid->setHorizontalSpacing(16);
}

}  // namespace kestrel
