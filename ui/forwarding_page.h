// CForwardingPage: the "Forwarding" page of the options sheet: which callers'
// fax numbers (TSID) go to which further addresses, the rows of tblTSIDEMail,
// edited through CForwardingTableEditor. The page holds no settings of its
// own: Load lists the table's rows, Store never refuses.
//
// User-interface thread only.
#pragma once

#include "ui/options_page.h"

namespace kestrel {

class COdbcConnection;
class CForwardingTableEditor;
class CReportList;

class CForwardingPage : public COptionsPage {
  Q_OBJECT

 public:
  explicit CForwardingPage(QWidget* parent = nullptr);

  void SetConnection(COdbcConnection* administration);

  void Load(const ServiceSettings& settings) override;
  bool Store(ServiceSettings& settings) override;

  CForwardingTableEditor* Table() const { return table_; }
  CReportList* List() const;

 private:
  CForwardingTableEditor* table_;
};

}  // namespace kestrel
