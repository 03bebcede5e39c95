// CTrayIcon: the tray program's one icon in the notification area
// (QSystemTrayIcon), with its tooltip (at most 63 characters) and menu 139.
// Right-click opens the menu (the platform shows it), a double-click sends the
// menu's first item, the Settings command, to the owner window; so does a
// single left click on the panels that deliver one (StatusNotifier panels
// deliver no double click). The icon and the tooltip's further lines show the
// service's state. Destroying the object removes the icon.
//
// User-interface thread only.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>

class QMenu;
class QWidget;

namespace kestrel {

class CTrayIcon : public QObject {
  Q_OBJECT

 public:
  explicit CTrayIcon(QObject* parent = nullptr);
  ~CTrayIcon() override;

  // The window that receives the icon's commands (through Command()).
  void SetNotificationWindow(QWidget* owner);
  // Loads tooltip string, icon and menu of `resourceId` (only 139 exists),
  // then shows the icon. False when the resource does not exist.
  bool SetIcon(int resourceId);
  // Shows `icon` (or, when it is null, removes the icon) with `tooltip` when
  // given (cut to 63 characters).
  bool SetIcon(const QIcon& icon, const QString* tooltip = nullptr);
  bool IconShown() const { return shown_; }
  // Shows `icon` and the tooltip: the title of the resource, then `lines`.
  void SetStatus(const QIcon& icon, const QStringList& lines);

  // The handling of a mouse event on the icon; true when handled.
  bool OnTrayNotification(QSystemTrayIcon::ActivationReason reason);

  // Whether the panel delivers single clicks (a StatusNotifier panel, found
  // on the session bus at construction); only then does a click act.
  bool SingleClickPanel() const { return singleClickPanel_; }
  void SetSingleClickPanel(bool single) { singleClickPanel_ = single; }

  QString ToolTip() const;
  QMenu* Menu() const { return menu_.get(); }
  QSystemTrayIcon& PlatformIcon() { return icon_; }

 signals:
  // A menu command (its id) for the owner window.
  void Command(int id);

 private:
  void BuildMenu();

  QSystemTrayIcon icon_;
  std::unique_ptr<QMenu> menu_;
  QPointer<QWidget> owner_;
  int id_ = 0;
  bool shown_ = false;
  bool singleClickPanel_ = false;
};

}  // namespace kestrel
