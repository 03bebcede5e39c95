// COdbcStatement: one statement on a COdbcConnection: execute with bound
// parameters, fetch rows, read columns by position (1 = first). Every blocking
// call is bracketed by the connection's watchdog, and every failure raises
// CDatabaseException with the driver's diagnostics (the store's rule,
// database_exception.h).
//
// Column values come from the database and are untrusted: texts are read into
// a caller-given bound (a longer value is cut at a character boundary),
// numbers and time stamps are range-checked.
//
// Lives within one operation: it must be destroyed before its connection is
// closed. Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store/odbc_connection.h"

namespace kestrel {

// A date and time as the database delivers it (no time zone).
struct SqlTimestamp {
  int year = 0;
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
  int second = 0;  // 0..59 (a leap second is delivered as 59)
  bool operator==(const SqlTimestamp&) const = default;
};

class COdbcStatement {
 public:
  // Opens `db` when it is not open. Throws.
  explicit COdbcStatement(COdbcConnection& db);
  ~COdbcStatement();
  COdbcStatement(const COdbcStatement&) = delete;
  COdbcStatement& operator=(const COdbcStatement&) = delete;

  // Runs `sql` with `parameters` bound in order to its "?" markers. Throws.
  void Execute(const std::string& sql, const std::vector<SqlParameter>& parameters = {});
  // Moves to the next result row; false after the last. Throws.
  [[nodiscard]] bool Fetch();
  // Column values of the current row; nullopt for NULL. Throw on a driver
  // error or (numbers, time stamps) a value out of range.
  [[nodiscard]] std::optional<std::string> GetText(int column, std::size_t maxBytes);
  [[nodiscard]] std::optional<std::int32_t> GetInt32(int column);
  [[nodiscard]] std::optional<SqlTimestamp> GetTimestamp(int column);
  // Rows changed by the last INSERT, UPDATE or DELETE (0 when unknown).
  [[nodiscard]] std::int64_t RowCount();

 private:
  [[noreturn]] void Fail();
  void Reset();

  COdbcConnection& db_;
  void* stmt_ = nullptr;
  bool timedOut_ = false;
};

}  // namespace kestrel
