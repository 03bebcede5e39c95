// CJournalView: the journal view, the rows of ReceivedFaxes newest first, in two
// hosts: the last page ("Fax Journal") of the tray program's options sheet,
// and Jotter's main dialog ("Kestrel Journal"). The hosts differ in their
// columns, in how a row's file is found (the sheet joins the received-faxes
// folder and the file name; Jotter takes the stored path) and in Jotter's
// summary line. A double-click opens the row's file with the desktop's program
// for it; Delete removes the journal row (never the file), pauses a second
// and reloads. Header clicks never reorder the rows. A filter field above the
// list narrows it to a number or a date; the list and the summary follow it.
// Rows are loaded a batch at a time as the list scrolls, so a journal of a
// million rows shows at once and costs only the rows seen. Beside the list, the
// selected fax's first page is shown, because people would rather look at a
// fax than read its file name.
//
// Rows come from the database and are untrusted; the store bounds them. A
// load that fails keeps the rows read so far; only Jotter's first load shows
// the error. User-interface thread only; each access opens its own connection.
#pragma once

#include <QDialog>
#include <QImage>
#include <QString>

#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrel {

class CReportList;

class CJournalView : public QDialog {
  Q_OBJECT

 public:
  enum class Host { kServicePage, kJotter };

  // The pause between a delete and the reload.
  static constexpr int kDeletePauseMs = 1000;
  // Rows read per batch: more than a tall window shows.
  static constexpr int kBatchRows = 200;

  explicit CJournalView(Host host, QWidget* parent = nullptr);

  Host GetHost() const { return host_; }

  // Service page: where the received-faxes folder comes from (the value the
  // sheet's Fax page holds at that moment).
  void SetReceivedFolderSource(std::function<std::string()> source) { receivedFolder_ = std::move(source); }
  // The journal's connect string; empty (the default) is the store's data source.
  void SetConnectString(std::string connectString) { connectString_ = std::move(connectString); }

  // Sets the columns, empties the list and loads the first rows (a failure
  // of this first load Jotter shows).
  void Start();
  void OnRefresh();
  void OnOpenSelected();
  void OnDelete();
  // Narrows the list to the rows whose number or receiving time contains
  // `text` (empty: every row) and loads it again.
  void SetFilter(const QString& text);
  // Loads the next batch when rows are left; false when none were.
  bool LoadMore();
  // Rows passing the filter in the journal (loaded or not).
  qint64 TotalRows() const { return totalRows_; }

  CReportList* List() const { return list_; }
  // Jotter's summary line ("" on the service page).
  QString Summary() const;
  // The first page of the selected row's fax as read for the preview (null
  // when there is no selection or the fax cannot be read).
  const QImage& PreviewPage() const { return previewPage_; }
  void UpdatePreview();

 protected:
  // On the sheet's page, Escape and Enter belong to the sheet (Cancel, OK),
  // not to this embedded dialog, which would hide itself.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Load(bool showError);
  void OnScrolled(int value);
  void AddRow(const struct JournalEntry& e);
  // The list at least as wide as its columns up to the receiving time.
  void KeepTimeColumnShown();
  // The file a row stands for and the folder it is in, by the host's rule.
  QString RowPath(int row, QString* folder) const;

  Host host_;
  CReportList* list_;
  QPushButton* refresh_;
  QPushButton* delete_;
  QPushButton* close_ = nullptr;
  QLabel* summary_ = nullptr;
  QLineEdit* filter_;
  QLabel* preview_;
  QImage previewPage_;
  std::function<std::string()> receivedFolder_;
  std::string connectString_;
  QString lastFolder_;
  qint64 totalRows_ = 0;
  bool allLoaded_ = true;
};

}  // namespace kestrel
