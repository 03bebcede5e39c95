#include "ui/tray_icon.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMenu>
#include <QStringList>
#include <QWidget>

#include "desktop/artwork.h"
#include "ui/resource.h"

namespace kestrel {
namespace {

struct MenuItem {
  const char* text;  // nullptr: a separator
  int command;
};

// Menu 139, first popup "Tray Menu", in order.
constexpr MenuItem kTrayMenu[] = {
    {"S&ettings...", ID_SETTINGS},
    {nullptr, 0},
    {"&Jotter...", ID_JOTTER},
    {nullptr, 0},
    {"&Help", ID_HELP_FINDER},
    {"Ab&out Kestrel...", ID_APP_ABOUT},
    {nullptr, 0},
    {"E&xit", ID_APP_EXIT},
};

// Qt shows its icon as a StatusNotifierItem when a watcher runs on the
// session bus; such panels activate on a single click.
bool StatusNotifierPanel() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  return bus.isConnected() && bus.interface() &&
         bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value();
}

}  // namespace

CTrayIcon::CTrayIcon(QObject* parent) : QObject(parent), singleClickPanel_(StatusNotifierPanel()) {
  connect(&icon_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) { OnTrayNotification(reason); });
}

CTrayIcon::~CTrayIcon() {
  icon_.setContextMenu(nullptr);
  icon_.hide();
}

void CTrayIcon::SetNotificationWindow(QWidget* owner) { owner_ = owner; }

void CTrayIcon::BuildMenu() {
  menu_ = std::make_unique<QMenu>(QStringLiteral("Tray Menu"));
  menu_->setObjectName(QStringLiteral("trayMenu"));
  for (const MenuItem& item : kTrayMenu) {
    if (!item.text) {
      menu_->addSeparator();
      continue;
    }
    QAction* action = menu_->addAction(QString::fromUtf8(item.text));
    action->setData(item.command);
    const int command = item.command;
    connect(action, &QAction::triggered, this, [this, command] { emit Command(command); });
  }
  // The first item is the default: shown in bold, and what a double-click runs.
  menu_->setDefaultAction(menu_->actions().value(0));
  icon_.setContextMenu(menu_.get());
}

bool CTrayIcon::SetIcon(int resourceId) {
  if (resourceId != IDR_TRAYICON) return false;
  id_ = resourceId;
  if (!menu_) BuildMenu();
  const QString tooltip = QString::fromUtf8(kTrayTooltip);
  return SetIcon(TrayIconImage(), &tooltip);
}

bool CTrayIcon::SetIcon(const QIcon& icon, const QString* tooltip) {
  if (tooltip) icon_.setToolTip(tooltip->left(kMaxTooltipLength));
  if (icon.isNull()) {
    if (!shown_) return true;
    icon_.hide();
    shown_ = false;
    return true;
  }
  icon_.setIcon(icon);
  if (!shown_) {
    icon_.show();
    shown_ = true;
  }
  return true;
}

void CTrayIcon::SetStatus(const QIcon& icon, const QStringList& lines) {
  if (!shown_) return;
  const QString tooltip = QString::fromUtf8(kTrayTooltip).left(kMaxTooltipLength);
  icon_.setIcon(icon);
  icon_.setToolTip(lines.isEmpty() ? tooltip : tooltip + QLatin1Char('\n') + lines.join(QLatin1Char('\n')));
}

QString CTrayIcon::ToolTip() const { return icon_.toolTip(); }

bool CTrayIcon::OnTrayNotification(QSystemTrayIcon::ActivationReason reason) {
  if (!menu_ || menu_->actions().isEmpty()) return false;
  switch (reason) {
    case QSystemTrayIcon::Context:
      // The platform opens the context menu itself; make sure the default
      // item is the first one and the owner is in front for its commands.
      menu_->setDefaultAction(menu_->actions().first());
      return true;
    case QSystemTrayIcon::Trigger:
      // An XEmbed tray reports the first click of every double click too.
      if (!singleClickPanel_) return false;
      [[fallthrough]];
    case QSystemTrayIcon::DoubleClick:
      emit Command(menu_->actions().first()->data().toInt());
      return true;
    default:
      return false;
  }
}

}  // namespace kestrel
