// CFaxSettingsPage: the "Fax" page of the options sheet (CFaxPage is a
// decoded fax page, convert/fax_page.h): the receiver id, the received-faxes
// folder (browse, created when typed, cleared on request), the ODBC connect
// text and the reception restrictions.
//
// Clear directory is ClearReceivedFolder (core/received_folder.h): regular
// files only, never a capture the fax inbox still names (a box says how many
// stayed), and nothing at all when no folder is entered. Store never
// refuses. User-interface thread only.
#pragma once

#include <string>

#include "ui/options_page.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace kestrel {

class CFaxSettingsPage : public COptionsPage {
  Q_OBJECT

 public:
  explicit CFaxSettingsPage(QWidget* parent = nullptr);

  void Load(const ServiceSettings& settings) override;
  bool Store(ServiceSettings& settings) override;

  // The received-faxes folder as the field holds it now.
  std::string ReceivedFolder() const;

 public slots:
  void OnBrowse();
  void OnDirectoryLeft();
  void OnClearDirectory();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* number_;
  QLineEdit* directory_;
  QPushButton* browse_;
  QPushButton* clear_;
  QLineEdit* odbc_;
  QCheckBox* logfile_;
  QCheckBox* rejectCallerId_;
  QCheckBox* rejectStationId_;
};

}  // namespace kestrel
