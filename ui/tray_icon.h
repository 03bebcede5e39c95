// CTrayIcon: the tray program's one icon in the notification area
// (QSystemTrayIcon), with its tooltip (at most 63 characters) and its menu:
// Settings, Jotter, Help, About and Exit, one QAction each, which the owner
// connects to what they do. Right-click opens the menu (the platform shows
// it), a double-click triggers the menu's first item, Settings; so does a
// single left click on the panels that deliver one (StatusNotifier panels
// deliver no double click). The icon and the tooltip's further lines show the
// service's state. Destroying the object removes the icon.
//
// Nothing here fails: a desktop without a tray simply shows no icon.
// User-interface thread only.
#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

#include <memory>

class QAction;
class QMenu;

namespace kestrel {

class CTrayIcon : public QObject {
  Q_OBJECT

 public:
  explicit CTrayIcon(QObject* parent = nullptr);
  ~CTrayIcon() override;

  // Shows the program's tray picture with the program's title as tooltip.
  void ShowProgramIcon();
  // Shows `icon` (or, when it is null, removes the icon) with `tooltip` when
  // given (cut to 63 characters).
  void SetIcon(const QIcon& icon, const QString* tooltip = nullptr);
  bool IconShown() const { return shown_; }
  // Shows `icon` and the tooltip: the program's title, then `lines`.
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

  // The menu's items.
  QAction* SettingsAction() const { return settings_; }
  QAction* JotterAction() const { return jotter_; }
  QAction* HelpAction() const { return help_; }
  QAction* AboutAction() const { return about_; }
  QAction* ExitAction() const { return exit_; }

 private:
  QSystemTrayIcon icon_;
  std::unique_ptr<QMenu> menu_;
  QAction* settings_;
  QAction* jotter_;
  QAction* help_;
  QAction* about_;
  QAction* exit_;
  bool shown_ = false;
  bool singleClickPanel_ = false;
};

}  // namespace kestrel
