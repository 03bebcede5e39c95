// Formatting and classification of driver diagnostics.
#include "store/database_exception.h"

#include <utility>

namespace kestrel {

std::string DiagnosticText(const DatabaseError& error) {
  std::string text =
      "Error:" + std::to_string(error.nativeError) + " Msg:" + error.sqlState + " Description:" + error.message;
  // Driver texts span lines ("ERROR: ...;\nError while executing the query");
  // an event is one line.
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return text;
}

bool IsConnectionLost(const DatabaseError& error) {
  const std::string& s = error.sqlState;
  return s.starts_with("08") || s == "57P01" || s == "57P02" || s == "57P03" || s == "HYT01";
}

Failure DatabaseFailure(const DatabaseError& error) { return Failure{"", DiagnosticText(error), error.nativeError}; }

CDatabaseException::CDatabaseException(DatabaseError error)
    : std::runtime_error(error.message), error_(std::move(error)) {}

}  // namespace kestrel
