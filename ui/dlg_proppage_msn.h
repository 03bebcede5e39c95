// CDlgProppageMSN: the "MSN" page of the options sheet. Either every call is
// accepted and forwarded to one address (`All`, `EmailAll`, settings that
// reach the service only with the sheet's OK), or only the subscriber numbers
// listed in tblMSNEmail, edited here. Row changes go to the database at once,
// on the administration connection; a database error is shown with the
// driver's text and the list is updated all the same, so until the next fill
// it may differ from the table.
//
// User-interface thread only.
#pragma once

#include <string>

#include "core/service_settings.h"
#include "ui/options_page.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace kestrel {

class COdbcConnection;
class CReportList;

class CDlgProppageMSN : public COptionsPage {
  Q_OBJECT

 public:
  explicit CDlgProppageMSN(QWidget* parent = nullptr);

  // The connection the row changes use; must be set before the page is shown.
  void SetConnection(COdbcConnection* administration) { db_ = administration; }

  void LoadFrom(const ServiceSettings& s);
  void StoreInto(ServiceSettings& s) const;

  void ExchangeToControls() override;
  bool ExchangeToMembers() override;

  // The page's operations, as its controls run them.
  void FillList();
  void OnAcceptAllClicked();
  void OnAddressLeft();
  void OnAdd();
  void OnEdit();
  void OnDelete();

  CReportList* List() const { return list_; }

  std::int32_t All = 0;
  std::string EmailAll;

 protected:
  void OnInitPage() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetListMode(bool acceptAll);

  COdbcConnection* db_ = nullptr;
  QCheckBox* acceptAll_;
  QLineEdit* emailAll_;
  CReportList* list_;
  QPushButton* add_;
  QPushButton* delete_;
  QPushButton* edit_;
};

}  // namespace kestrel
