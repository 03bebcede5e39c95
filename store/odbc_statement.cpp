// Statement handling over the ODBC call level interface. Parameters are bound
// from buffers that live until the statement ran; values read back are
// bounded before they become strings.
#include "store/odbc_statement.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "store/odbc_diagnostics.h"

namespace kestrel {
namespace {

// Cuts `text` to at most `maxBytes` without splitting a UTF-8 sequence.
void CutAtCharacter(std::string& text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return;
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
}

int DaysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

COdbcStatement::COdbcStatement(COdbcConnection& db) : db_(db) {
  db_.EnsureOpen();
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, static_cast<SQLHDBC>(db_.NativeHandle()), &stmt);
  if (!SQL_SUCCEEDED(rc)) {
    DatabaseError error = ReadDiagnostics(SQL_HANDLE_DBC, static_cast<SQLHDBC>(db_.NativeHandle()));
    throw CDatabaseException(db_.NoteFailure(std::move(error), false));
  }
  stmt_ = stmt;
}

COdbcStatement::~COdbcStatement() {
  if (stmt_) SQLFreeHandle(SQL_HANDLE_STMT, static_cast<SQLHSTMT>(stmt_));
}

void COdbcStatement::Fail() {
  DatabaseError error = ReadDiagnostics(SQL_HANDLE_STMT, static_cast<SQLHSTMT>(stmt_));
  throw CDatabaseException(db_.NoteFailure(std::move(error), timedOut_));
}

void COdbcStatement::Reset() {
  SQLFreeStmt(static_cast<SQLHSTMT>(stmt_), SQL_CLOSE);
  SQLFreeStmt(static_cast<SQLHSTMT>(stmt_), SQL_RESET_PARAMS);
}

void COdbcStatement::Execute(const std::string& sql, const std::vector<SqlParameter>& parameters) {
  SQLHSTMT stmt = static_cast<SQLHSTMT>(stmt_);
  Reset();
  // The buffers must stay put until SQLExecute has read them.
  std::vector<std::string> texts(parameters.size());
  std::vector<SQLINTEGER> numbers(parameters.size());
  std::vector<SQLLEN> lengths(parameters.size());
  SQLRETURN rc = SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
  if (!SQL_SUCCEEDED(rc)) Fail();
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    SQLUSMALLINT number = static_cast<SQLUSMALLINT>(i + 1);
    if (const auto* text = std::get_if<std::string>(&parameters[i])) {
      texts[i] = *text;
      lengths[i] = static_cast<SQLLEN>(texts[i].size());
      // A column size of 0 makes some drivers reject an empty text.
      SQLULEN columnSize = texts[i].empty() ? 1 : texts[i].size();
      rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, columnSize, 0, texts[i].data(),
                            lengths[i], &lengths[i]);
    } else {
      numbers[i] = std::get<std::int32_t>(parameters[i]);
      lengths[i] = 0;
      rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &numbers[i], 0, &lengths[i]);
    }
    if (!SQL_SUCCEEDED(rc)) Fail();
  }
  std::uint64_t token = db_.BeginCall();
  rc = SQLExecute(stmt);
  timedOut_ = db_.EndCall(token);
  // An UPDATE or DELETE that matched nothing answers SQL_NO_DATA: not an error.
  if (rc == SQL_NO_DATA) return;
  if (!SQL_SUCCEEDED(rc) || timedOut_) Fail();
}

bool COdbcStatement::Fetch() {
  std::uint64_t token = db_.BeginCall();
  SQLRETURN rc = SQLFetch(static_cast<SQLHSTMT>(stmt_));
  timedOut_ = db_.EndCall(token);
  if (rc == SQL_NO_DATA) return false;
  if (!SQL_SUCCEEDED(rc) || timedOut_) Fail();
  return true;
}

std::optional<std::string> COdbcStatement::GetText(int column, std::size_t maxBytes) {
  SQLHSTMT stmt = static_cast<SQLHSTMT>(stmt_);
  // One byte beyond the bound tells a value that had to be cut; the
  // terminator needs one more.
  std::string buffer(maxBytes + 2, '\0');
  SQLLEN indicator = 0;
  SQLRETURN rc = SQLGetData(stmt, static_cast<SQLUSMALLINT>(column), SQL_C_CHAR, buffer.data(),
                            static_cast<SQLLEN>(buffer.size()), &indicator);
  if (rc == SQL_NO_DATA) return std::string();
  if (!SQL_SUCCEEDED(rc)) Fail();
  if (indicator == SQL_NULL_DATA) return std::nullopt;
  std::size_t length = strnlen(buffer.data(), buffer.size() - 1);
  if (indicator >= 0 && static_cast<std::size_t>(indicator) < length) length = static_cast<std::size_t>(indicator);
  buffer.resize(length);
  CutAtCharacter(buffer, maxBytes);
  // The read buffer is sized for the longest allowed value; a kept text takes
  // only what it holds, or a long listing would cost the bound for each text.
  return std::string(buffer.data(), buffer.size());
}

std::optional<std::int32_t> COdbcStatement::GetInt32(int column) {
  SQLBIGINT value = 0;
  SQLLEN indicator = 0;
  SQLRETURN rc = SQLGetData(static_cast<SQLHSTMT>(stmt_), static_cast<SQLUSMALLINT>(column), SQL_C_SBIGINT, &value,
                            sizeof value, &indicator);
  if (!SQL_SUCCEEDED(rc)) Fail();
  if (indicator == SQL_NULL_DATA) return std::nullopt;
  if (value < INT32_MIN || value > INT32_MAX)
    throw CDatabaseException(
        {"22003", 0,
         "Column " + std::to_string(column) + " holds " + std::to_string(value) + ", which is not a 32-bit integer."});
  return static_cast<std::int32_t>(value);
}

std::optional<SqlTimestamp> COdbcStatement::GetTimestamp(int column) {
  SQL_TIMESTAMP_STRUCT value{};
  SQLLEN indicator = 0;
  SQLRETURN rc = SQLGetData(static_cast<SQLHSTMT>(stmt_), static_cast<SQLUSMALLINT>(column), SQL_C_TYPE_TIMESTAMP,
                            &value, sizeof value, &indicator);
  if (!SQL_SUCCEEDED(rc)) Fail();
  if (indicator == SQL_NULL_DATA) return std::nullopt;
  SqlTimestamp t{value.year, value.month,  value.day,
                 value.hour, value.minute, value.second > 59 ? 59 : static_cast<int>(value.second)};
  if (t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > DaysInMonth(t.year, t.month) ||
      t.hour > 23 || t.minute > 59)
    throw CDatabaseException(
        {"22007", 0, "Column " + std::to_string(column) + " does not hold a valid date and time."});
  return t;
}

std::int64_t COdbcStatement::RowCount() {
  SQLLEN count = 0;
  if (!SQL_SUCCEEDED(SQLRowCount(static_cast<SQLHSTMT>(stmt_), &count))) return 0;
  return count < 0 ? 0 : count;
}

}  // namespace kestrel
