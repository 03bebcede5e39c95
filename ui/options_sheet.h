// COptionsSheet: the options sheet "Kestrel Settings", with OK and Cancel and
// no Apply, and its pages in tab order: "MSN", "Fax", "Email", "Forwarding",
// "Fax Journal", then "SIP" (the line that came after the first five, which
// keep their places). It is the service's settings editor: the
// Settings action hands it a copy of the settings, and gets them back when OK
// was pressed. Leaving a page, and OK, store the page's controls into that
// copy; a refused number keeps the page (and the sheet) open. Forwarding-table
// changes are written at once and stay after Cancel.
//
// Failures are the pages' refusals and the editors' database messages, shown
// where they happen; EditSettings answers only OK or Cancel. User-interface
// thread only.
#pragma once

#include <QDialog>

#include <memory>
#include <vector>

#include "service/settings_editor.h"

class QDialogButtonBox;
class QTabWidget;

namespace kestrel {

class CEmailPage;
class CFaxSettingsPage;
class CForwardingPage;
class CJournalView;
class CMsnPage;
class COdbcConnection;
class COptionsPage;
class CSipPage;

class COptionsSheet : public QDialog, public ISettingsEditor {
  Q_OBJECT

 public:
  explicit COptionsSheet(QWidget* parent = nullptr);
  ~COptionsSheet() override;

  // The administration connection of the forwarding editors. Until one is
  // set the sheet uses a connection of its own to the store's data source.
  void SetAdministrationConnection(COdbcConnection* administration);

  // ISettingsEditor: shows the sheet modally on its first page with the
  // values of `values`, and on OK hands the edited values back in `values`.
  bool EditSettings(ServiceSettings& values) override;

  CMsnPage* MsnPage() const { return msn_; }
  CFaxSettingsPage* FaxPage() const { return fax_; }
  CEmailPage* EmailPage() const { return email_; }
  CForwardingPage* ForwardingPage() const { return forwarding_; }
  CJournalView* JournalPage() const { return journal_; }
  CSipPage* SipPage() const { return sip_; }
  QTabWidget* Tabs() const { return tabs_; }

 public slots:
  void accept() override;

 private:
  void OnTabChanged(int index);
  // Stores the page at `index` into the edited values; false when it refused.
  bool StorePage(int index);
  void ShowTab(int index);
  std::vector<COptionsPage*> Pages() const;
  // The first-run sheet opens before the service's start-up table check.
  void EnsureTables();

  QTabWidget* tabs_;
  QDialogButtonBox* buttons_;
  CMsnPage* msn_;
  CFaxSettingsPage* fax_;
  CEmailPage* email_;
  CForwardingPage* forwarding_;
  CJournalView* journal_;
  CSipPage* sip_;
  std::unique_ptr<COdbcConnection> ownConnection_;
  COdbcConnection* db_ = nullptr;
  ServiceSettings edited_;
  bool tablesChecked_ = false;
  int current_ = 0;
  bool journalLoaded_ = false;
  bool firstRunOffered_ = false;
};

}  // namespace kestrel
