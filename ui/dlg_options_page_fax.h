// CDlgOptionsPageFax: the "Fax" page of the options sheet: the receiver id,
// the received-faxes folder (browse, created when typed, cleared on request),
// the ODBC connect text and the reception restrictions.
//
// Clear directory deletes regular files only: no folders, links, sockets or
// devices, and nothing at all when no folder is entered. User-interface thread
// only.
#pragma once

#include <string>

#include "core/service_settings.h"
#include "ui/options_page.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace kestrel {

class CDlgOptionsPageFax : public COptionsPage {
  Q_OBJECT

 public:
  explicit CDlgOptionsPageFax(QWidget* parent = nullptr);

  // Page members <-> the settings record (the Settings command's copies).
  void LoadFrom(const ServiceSettings& s);
  void StoreInto(ServiceSettings& s) const;

  void ExchangeToControls() override;
  bool ExchangeToMembers() override;

  // Actions of the page's controls, callable as the buttons call them.
  void OnBrowse();
  void OnDirectoryLeft();
  void OnClearDirectory();

  // Members (settings of the same names).
  std::string Number;
  std::string ReceivedDir;
  std::string ODBCConnect;
  std::int32_t Logfile = 0;
  std::int32_t RejectCallerID = 0;
  std::int32_t RejectStationID = 0;

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
