#include "store/odbc_diagnostics.h"

#include <cstring>

namespace kestrel {

DatabaseError ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
  DatabaseError error;
  for (SQLSMALLINT record = 1; record <= 8; ++record) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[1024] = {};
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRec(handleType, handle, record, state, &native, message, sizeof message, &length);
    if (!SQL_SUCCEEDED(rc)) break;
    if (record == 1) {
      error.sqlState.assign(reinterpret_cast<char*>(state), strnlen(reinterpret_cast<char*>(state), 5));
      error.nativeError = native;
    }
    std::string text(reinterpret_cast<char*>(message), strnlen(reinterpret_cast<char*>(message), sizeof message));
    if (text.empty()) continue;
    if (!error.message.empty()) error.message += "\n";
    error.message += text;
  }
  if (error.sqlState.empty()) error.sqlState = "HY000";
  if (error.message.empty()) error.message = "The ODBC driver reported an error without a description.";
  return error;
}

}  // namespace kestrel
