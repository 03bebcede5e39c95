// CMsnPage: the "MSN" page of the options sheet. Either every call is accepted
// and forwarded to one address (the settings All and EmailAll, which reach
// the service only with the sheet's OK), or only the subscriber numbers
// listed in tblMSNEmail, edited here through CForwardingTableEditor at once.
// Leaving the address field with accept-all on and no valid address shows a
// reminder; the value stays as typed and Store never refuses.
//
// User-interface thread only.
#pragma once

#include "ui/options_page.h"

class QCheckBox;
class QLineEdit;

namespace kestrel {

class COdbcConnection;
class CForwardingTableEditor;
class CReportList;

class CMsnPage : public COptionsPage {
  Q_OBJECT

 public:
  explicit CMsnPage(QWidget* parent = nullptr);

  void SetConnection(COdbcConnection* administration);

  void Load(const ServiceSettings& settings) override;
  bool Store(ServiceSettings& settings) override;

  CForwardingTableEditor* Table() const { return table_; }
  CReportList* List() const;

 public slots:
  void OnAcceptAllClicked();
  void OnAddressLeft();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowAcceptAllMode();

  QCheckBox* acceptAll_;
  QLineEdit* emailAll_;
  CForwardingTableEditor* table_;
};

}  // namespace kestrel
