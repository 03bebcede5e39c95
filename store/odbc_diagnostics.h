// Reading a handle's ODBC diagnostics into a DatabaseError. Internal to the
// store. The records come from the driver: at most eight are read, each into
// a fixed buffer. Reading never fails; the caller throws what it read.
#pragma once

#include <sql.h>

#include "store/database_exception.h"

namespace kestrel {

// The first record's SQLSTATE and native error; the message texts of all
// records, one per line.
[[nodiscard]] DatabaseError ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

}  // namespace kestrel
