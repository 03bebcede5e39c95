// Errors of the data store: what the ODBC driver said (SQLSTATE, the engine's
// native error number and the driver's own message text), carried by the one
// exception type every store operation raises. Callers catch it at the call:
// the desktop shows Message(), the reception side discards it after logging.
//
// The diagnostic fields come from the driver and are untrusted: they are read
// into bounded buffers and kept as plain text.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace kestrel {

struct DatabaseError {
  std::string sqlState;        // five characters, for example "HY000" or "08001"
  std::int32_t nativeError = 0;  // the engine's own error number (0 when it has none)
  std::string message;         // the driver's text, as shown to the administrator
};

// "Error:<native> Msg:<SQLSTATE> Description:<message>": the form the journal
// insert writes to the event log (after one blank) and Jotter shows (after two).
// Control characters of the driver's text become blanks: the result is one line.
std::string DiagnosticText(const DatabaseError& error);

// True for errors that mean the connection itself is gone (SQLSTATE class 08,
// the server's shutdown codes 57P01 to 57P03, the store's own time-out HYT01):
// the connection is then reopened on its next use.
bool IsConnectionLost(const DatabaseError& error);

class CDatabaseException : public std::exception {
 public:
  explicit CDatabaseException(DatabaseError error);
  const DatabaseError& Error() const { return error_; }
  // The driver's message text, as the editors show it.
  const std::string& Message() const { return error_.message; }
  const char* what() const noexcept override { return error_.message.c_str(); }

 private:
  DatabaseError error_;
};

}  // namespace kestrel
