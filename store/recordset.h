// CRecordset: the table-bound cursor of the two forwarding tables, with two
// bound text fields (the number, then the e-mail address) and the row changes
// the editors make: add a row, edit or delete the current row. The classes
// CMSNEmailRecordset and CTSIDEmailRecordset bind it to their tables.
//
// Opening reads the selected rows; the cursor then moves over them in the
// order the database delivered them (no ordering clause). Each row is
// remembered with the engine's row address (SQLite rowid, PostgreSQL ctid), so
// an edit or delete changes exactly the current row even when several rows
// hold the same number. On an engine without a known row address an edit or
// delete matches the row's old values, which changes every identical row.
//
// Field values from the database are cut to kFieldBytes. Not thread-safe; a
// recordset lives within one operation. Every failure raises
// CDatabaseException with the driver's text (the store's rule,
// database_exception.h).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "store/odbc_connection.h"

namespace kestrel {

class CRecordset {
 public:
  // Both fields are bound as character data of at most 255 bytes.
  static constexpr std::size_t kFieldBytes = 255;

  explicit CRecordset(COdbcConnection& db) : db_(db) {}
  virtual ~CRecordset() = default;
  CRecordset(const CRecordset&) = delete;
  CRecordset& operator=(const CRecordset&) = delete;

  // Every row of the table. Opens the connection when it is not open.
  void Open();
  // The rows whose number column equals `number` exactly (bound as a
  // parameter: quotes and blanks are part of the value; an empty number finds
  // the rows with an empty number).
  void OpenWhereNumber(const std::string& number);
  void Close();
  [[nodiscard]] bool IsOpen() const { return open_; }

  // MFC's cursor flags: both true for an empty result; IsEOF after moving past
  // the last row.
  [[nodiscard]] bool IsEOF() const;
  [[nodiscard]] bool IsBOF() const;
  void MoveFirst();
  void MoveNext();

  // Row changes. AddNew empties the fields for a new row; Edit starts
  // changing the current row; set the fields, then Update writes them. Delete
  // removes the current row at once; move on afterwards.
  void AddNew();
  void Edit();
  void Update();
  void Delete();

  // The bound fields: the current row after a move, the values to write
  // between AddNew or Edit and Update.
  std::string number;
  std::string emailAddress;

 protected:
  // The table as the full listing and the insert name it, as the number
  // lookup names it, and the name of the number column.
  virtual const char* TableName() const = 0;
  virtual const char* LookupTableName() const = 0;
  virtual const char* NumberColumn() const = 0;

 private:
  struct Row {
    std::string address;  // engine row address, as text
    std::string number;
    std::string emailAddress;
    bool deleted = false;
  };
  enum class Mode { kNone, kAdd, kEdit };

  void Run(const std::string& from, const std::vector<SqlParameter>& parameters);
  void LoadCurrent();
  const Row& Current() const;
  std::string RowAddressColumn() const;
  std::string RowMatch(std::vector<SqlParameter>& parameters, const Row& row) const;

  COdbcConnection& db_;
  std::vector<Row> rows_;
  std::size_t position_ = 0;
  bool open_ = false;
  Mode mode_ = Mode::kNone;
};

}  // namespace kestrel
