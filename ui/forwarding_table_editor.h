// CForwardingTableEditor: the list of one forwarding table (number -> e-mail
// address rows) with Add, Edit and Delete, shared by the "MSN" page
// (tblMSNEmail) and the "Forwarding" page (tblTSIDEMail). The table decides
// columns, captions, button layout and the checks of ForwardingEditDialog's
// input (core/forwarding_rules.h); the rows the dialog returns are stored in
// the table at once, on the administration connection.
//
// Database errors (CDatabaseException from store/forwarding_table.h) are
// shown with the driver's text. An added or deleted row leaves or enters the
// list all the same, so until the next fill the list may differ from the
// table; an edited row changes in the list only when the table took it.
// User-interface thread only.
#pragma once

#include <QWidget>

#include "store/forwarding_table.h"

class QPushButton;

namespace kestrel {

class COdbcConnection;
class CReportList;

class CForwardingTableEditor : public QWidget {
  Q_OBJECT

 public:
  CForwardingTableEditor(ForwardingTable table, QWidget* parent);

  // The connection the row changes use; must be set before Fill.
  void SetConnection(COdbcConnection* administration) { db_ = administration; }
  // Lists the table's rows as the database has them now.
  void Fill();
  // List and buttons together, as the MSN page's accept-all mode needs them.
  void SetEditable(bool editable);

  CReportList* List() const { return list_; }

 public slots:
  void OnAdd();
  void OnEdit();
  void OnDelete();

 private:
  ForwardingTable table_;
  COdbcConnection* db_ = nullptr;
  CReportList* list_;
  QPushButton* add_;
  QPushButton* edit_;
  QPushButton* delete_;
};

}  // namespace kestrel
