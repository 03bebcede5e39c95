// The recordset's statements: a SELECT of the row address and the two bound
// columns (the listing and the number lookup), and the INSERT, UPDATE and
// DELETE of the row changes, each with bound parameters.
#include "store/recordset.h"

#include "store/odbc_statement.h"

namespace kestrel {
namespace {

CDatabaseException NoCurrentRow() { return CDatabaseException({"HY109", 0, "There is no current row."}); }

}  // namespace

std::string CRecordset::RowAddressColumn() const {
  switch (db_.Engine()) {
    case DatabaseEngine::kSQLite: return "rowid";
    case DatabaseEngine::kPostgreSQL: return "ctid";
    default: return {};
  }
}

void CRecordset::Open() { Run(TableName(), {}); }

void CRecordset::OpenWhereNumber(const std::string& number) {
  Run(std::string(LookupTableName()) + " WHERE " + NumberColumn() + " = ?", {number});
}

void CRecordset::Run(const std::string& from, const std::vector<SqlParameter>& parameters) {
  Close();
  COdbcStatement statement(db_);  // opens the connection on first use
  std::string address = RowAddressColumn();
  std::string columns = std::string(NumberColumn()) + ", EmailAddress";
  statement.Execute("SELECT " + (address.empty() ? columns : address + ", " + columns) + " FROM " + from, parameters);
  int first = address.empty() ? 1 : 2;
  while (statement.Fetch()) {
    Row row;
    if (!address.empty()) row.address = statement.GetText(1, 64).value_or("");
    row.number = statement.GetText(first, kFieldBytes).value_or("");
    row.emailAddress = statement.GetText(first + 1, kFieldBytes).value_or("");
    rows_.push_back(std::move(row));
  }
  open_ = true;
  position_ = 0;
  LoadCurrent();
}

void CRecordset::Close() {
  rows_.clear();
  position_ = 0;
  open_ = false;
  mode_ = Mode::kNone;
}

bool CRecordset::IsEOF() const { return position_ >= rows_.size(); }

bool CRecordset::IsBOF() const { return rows_.empty(); }

void CRecordset::LoadCurrent() {
  while (position_ < rows_.size() && rows_[position_].deleted) ++position_;
  if (position_ < rows_.size()) {
    number = rows_[position_].number;
    emailAddress = rows_[position_].emailAddress;
  }
}

void CRecordset::MoveFirst() {
  position_ = 0;
  mode_ = Mode::kNone;
  LoadCurrent();
}

void CRecordset::MoveNext() {
  if (position_ < rows_.size()) ++position_;
  mode_ = Mode::kNone;
  LoadCurrent();
}

const CRecordset::Row& CRecordset::Current() const {
  if (!open_ || IsEOF() || rows_[position_].deleted) throw NoCurrentRow();
  return rows_[position_];
}

void CRecordset::AddNew() {
  number.clear();
  emailAddress.clear();
  mode_ = Mode::kAdd;
}

void CRecordset::Edit() {
  Current();
  mode_ = Mode::kEdit;
}

std::string CRecordset::RowMatch(std::vector<SqlParameter>& parameters, const Row& row) const {
  switch (db_.Engine()) {
    case DatabaseEngine::kSQLite: parameters.push_back(row.address); return " WHERE rowid = CAST(? AS INTEGER)";
    case DatabaseEngine::kPostgreSQL: parameters.push_back(row.address); return " WHERE ctid = CAST(? AS tid)";
    default:
      parameters.push_back(row.number);
      parameters.push_back(row.emailAddress);
      return std::string(" WHERE ") + NumberColumn() + " = ? AND EmailAddress = ?";
  }
}

void CRecordset::Update() {
  Mode mode = mode_;
  mode_ = Mode::kNone;
  COdbcStatement statement(db_);
  if (mode == Mode::kAdd) {
    statement.Execute(
        std::string("INSERT INTO ") + TableName() + " (" + NumberColumn() + ", EmailAddress) VALUES (?, ?)",
        {number, emailAddress});
    return;
  }
  if (mode != Mode::kEdit) throw CDatabaseException({"HY010", 0, "Update without AddNew or Edit."});
  Row& row = rows_.at(position_);
  std::vector<SqlParameter> parameters{number, emailAddress};
  std::string where = RowMatch(parameters, row);
  // A PostgreSQL update writes a new row version with a new ctid.
  bool newAddress = db_.Engine() == DatabaseEngine::kPostgreSQL;
  statement.Execute(std::string("UPDATE ") + TableName() + " SET " + NumberColumn() + " = ?, EmailAddress = ?" + where +
                        (newAddress ? " RETURNING ctid" : ""),
                    parameters);
  if (newAddress && statement.Fetch()) row.address = statement.GetText(1, 64).value_or("");
  row.number = number;
  row.emailAddress = emailAddress;
}

void CRecordset::Delete() {
  const Row& row = Current();
  mode_ = Mode::kNone;
  std::vector<SqlParameter> parameters;
  std::string where = RowMatch(parameters, row);
  COdbcStatement statement(db_);
  statement.Execute(std::string("DELETE FROM ") + TableName() + where, parameters);
  rows_[position_].deleted = true;
}

}  // namespace kestrel
