// CDlgWeiterleitung: the "Forwarding" page of the options sheet: which
// callers' fax numbers (TSID) go to which further addresses, the rows of
// tblTSIDEMail. Changes go to the database at once on the administration
// connection; a database error is shown with the driver's text. The page holds
// no settings of its own.
//
// User-interface thread only.
#pragma once

#include "ui/options_page.h"

class QPushButton;

namespace kestrel {

class COdbcConnection;
class CReportList;

class CDlgWeiterleitung : public COptionsPage {
  Q_OBJECT

 public:
  explicit CDlgWeiterleitung(QWidget* parent = nullptr);

  void SetConnection(COdbcConnection* administration) { db_ = administration; }

  void ExchangeToControls() override {}
  bool ExchangeToMembers() override { return true; }

  void FillList();
  void OnAdd();
  void OnEdit();
  void OnDelete();

  CReportList* List() const { return list_; }

 protected:
  void OnInitPage() override { FillList(); }

 private:
  COdbcConnection* db_ = nullptr;
  CReportList* list_;
  QPushButton* delete_;
  QPushButton* edit_;
  QPushButton* add_;
};

}  // namespace kestrel
