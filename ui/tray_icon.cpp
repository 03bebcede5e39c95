#include "ui/tray_icon.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMenu>
#include <QStringList>

#include "desktop/artwork.h"
#include "ui/ui_string_table.h"

namespace kestrel {
namespace {

// The longest tooltip every tray shows whole.
constexpr int kMaxTooltipLength = 63;

// Qt shows its icon as a StatusNotifierItem when a watcher runs on the
// session bus; such panels activate on a single click.
bool StatusNotifierPanel() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  return bus.isConnected() && bus.interface() &&
         bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value();
}

QString Title() { return QString::fromUtf8(LoadUiString(IDS_APP_TITLE)).left(kMaxTooltipLength); }

}  // namespace

CTrayIcon::CTrayIcon(QObject* parent)
    : QObject(parent),
      menu_(std::make_unique<QMenu>(QStringLiteral("Tray Menu"))),
      singleClickPanel_(StatusNotifierPanel()) {
  menu_->setObjectName(QStringLiteral("trayMenu"));
  settings_ = menu_->addAction(QStringLiteral("S&ettings..."));
  menu_->addSeparator();
  jotter_ = menu_->addAction(QStringLiteral("&Jotter..."));
  menu_->addSeparator();
  help_ = menu_->addAction(QStringLiteral("&Help"));
  about_ = menu_->addAction(QStringLiteral("Ab&out Kestrel..."));
  menu_->addSeparator();
  exit_ = menu_->addAction(QStringLiteral("E&xit"));
  // Settings is the default: shown in bold, and what a double-click runs.
  menu_->setDefaultAction(settings_);
  icon_.setContextMenu(menu_.get());
  connect(&icon_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) { OnTrayNotification(reason); });
}

CTrayIcon::~CTrayIcon() {
  icon_.setContextMenu(nullptr);
  icon_.hide();
}

void CTrayIcon::ShowProgramIcon() {
  const QString tooltip = Title();
  SetIcon(TrayIconImage(), &tooltip);
}

void CTrayIcon::SetIcon(const QIcon& icon, const QString* tooltip) {
  if (tooltip) icon_.setToolTip(tooltip->left(kMaxTooltipLength));
  if (icon.isNull()) {
    icon_.hide();
    shown_ = false;
    return;
  }
  icon_.setIcon(icon);
  if (!shown_) {
    icon_.show();
    shown_ = true;
  }
}

void CTrayIcon::SetStatus(const QIcon& icon, const QStringList& lines) {
  if (!shown_) return;
  icon_.setIcon(icon);
  icon_.setToolTip(lines.isEmpty() ? Title() : Title() + QLatin1Char('\n') + lines.join(QLatin1Char('\n')));
}

QString CTrayIcon::ToolTip() const { return icon_.toolTip(); }

bool CTrayIcon::OnTrayNotification(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Context:
      // The platform opens the context menu itself; the default item stays
      // the first one.
      menu_->setDefaultAction(settings_);
      return true;
    case QSystemTrayIcon::Trigger:
      // An XEmbed tray reports the first click of every double click too.
      if (!singleClickPanel_) return false;
      [[fallthrough]];
    case QSystemTrayIcon::DoubleClick: settings_->trigger(); return true;
    default: return false;
  }
}

}  // namespace kestrel
