// CDlgOptions: the options sheet "Kestrel Settings", with OK and Cancel and no
// Apply, and its five pages in tab order: "MSN", "Fax", "Email", "Forwarding",
// "Fax Journal". It is the service's settings editor: the Settings command
// hands it a copy of the settings, and gets them back when OK was pressed.
// Leaving a page, and OK, exchange the page's controls into its members; a
// refused number keeps the page (and the sheet) open. Forwarding-table changes
// are written at once and stay after Cancel.
//
// User-interface thread only.
#pragma once

#include <QDialog>

#include <memory>
#include <vector>

#include "service/settings_editor.h"

class QDialogButtonBox;
class QTabWidget;

namespace kestrel {

class CDlgOptionsPageEMail;
class CDlgOptionsPageFax;
class CDlgProppageMSN;
class CDlgWeiterleitung;
class CJotterDlg;
class COdbcConnection;
class COptionsPage;

class CDlgOptions : public QDialog, public ISettingsEditor {
  Q_OBJECT

 public:
  explicit CDlgOptions(QWidget* parent = nullptr);
  ~CDlgOptions() override;

  // The administration connection of the forwarding editors. Until one is
  // set the sheet uses a connection of its own to the store's data source.
  void SetAdministrationConnection(COdbcConnection* administration);

  // ISettingsEditor: fills the pages from `values`, shows the sheet modally,
  // and on OK copies the page values back into `values`.
  bool EditSettings(ServiceSettings& values) override;

  void LoadFrom(const ServiceSettings& values);
  void StoreInto(ServiceSettings& values) const;

  // Shows the sheet modally, starting on its first page.
  int exec() override;

  CDlgProppageMSN* MsnPage() const { return msn_; }
  CDlgOptionsPageFax* FaxPage() const { return fax_; }
  CDlgOptionsPageEMail* EmailPage() const { return email_; }
  CDlgWeiterleitung* ForwardingPage() const { return forwarding_; }
  CJotterDlg* JournalPage() const { return journal_; }
  QTabWidget* Tabs() const { return tabs_; }

 public slots:
  void accept() override;

 private:
  void OnTabChanged(int index);
  void ActivatePage(int index);
  bool DeactivatePage(int index);

  QTabWidget* tabs_;
  QDialogButtonBox* buttons_;
  CDlgProppageMSN* msn_;
  CDlgOptionsPageFax* fax_;
  CDlgOptionsPageEMail* email_;
  CDlgWeiterleitung* forwarding_;
  CJotterDlg* journal_;
  std::unique_ptr<COdbcConnection> ownConnection_;
  COdbcConnection* db_ = nullptr;
  bool tablesChecked_ = false;
  int current_ = 0;
  bool journalLoaded_ = false;
  bool firstRunOffered_ = false;
};

}  // namespace kestrel
