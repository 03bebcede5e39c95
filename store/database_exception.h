// Errors of the data store: what the ODBC driver said (SQLSTATE, the engine's
// native error number and the driver's own message text), carried by the one
// exception type the store raises, CDatabaseException.
//
// The store's rule: every database error is thrown as CDatabaseException by
// the ODBC wrapper (odbc_connection.h, odbc_statement.h) and passes through the
// recordsets, the schema and the forwarding tables; callers catch it at the
// call (the desktop shows Message(), the reception side logs it). Only the
// journal (journal.h), which the forwarding side and the views call without a
// handler, catches it and answers a Status made by DatabaseFailure instead;
// EnsureMsnTable reports to its notice sink.
//
// The diagnostic fields come from the driver and are untrusted: they are read
// into bounded buffers and kept as plain text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "core/result.h"

namespace kestrel {

struct DatabaseError {
  std::string sqlState;          // five characters, for example "HY000" or "08001"
  std::int32_t nativeError = 0;  // the engine's own error number (0 when it has none)
  std::string message;           // the driver's text, as shown to the administrator
};

// "Error:<native> Msg:<SQLSTATE> Description:<message>": the form the journal
// insert writes to the event log (after one blank) and Jotter shows (after two).
// Control characters of the driver's text become blanks: the result is one line.
[[nodiscard]] std::string DiagnosticText(const DatabaseError& error);

// True for errors that mean the connection itself is gone (SQLSTATE class 08,
// the server's shutdown codes 57P01 to 57P03, the store's own time-out HYT01):
// the connection is then reopened on its next use.
[[nodiscard]] bool IsConnectionLost(const DatabaseError& error);

// The failure a journal function answers for `error`: no step, the text
// DiagnosticText(error), the code its native error number.
[[nodiscard]] Failure DatabaseFailure(const DatabaseError& error);

// what() is the driver's message text, as Message().
class CDatabaseException : public std::runtime_error {
 public:
  explicit CDatabaseException(DatabaseError error);
  [[nodiscard]] const DatabaseError& Error() const { return error_; }
  // The driver's message text, as the editors show it.
  [[nodiscard]] const std::string& Message() const { return error_.message; }

 private:
  DatabaseError error_;
};

}  // namespace kestrel
