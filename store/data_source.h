// Which database the store talks to. The data source named "Kestrel" (from
// ~/.odbc.ini or /etc/odbc.ini; ODBCINI and ODBCSYSINI are honoured) when one
// is defined; otherwise the embedded default, the SQLite 3 ODBC driver on
// kestrel.db in the application folder, which the driver creates on first use.
// PostgreSQL through psqlODBC is the supported server.
//
// Thread-safe: nothing here keeps state; the ODBC ini files are read each time.
// Failures throw CDatabaseException, the store's rule (database_exception.h).
#pragma once

#include <string>

#include "store/database_exception.h"

namespace kestrel {

inline constexpr char kDataSourceName[] = "Kestrel";
inline constexpr char kEmbeddedDatabaseFile[] = "kestrel.db";

// True when the driver manager lists a data source named "Kestrel".
[[nodiscard]] bool IsKestrelDataSourceDefined();

// "DSN=Kestrel" when that data source is defined, otherwise
// EmbeddedConnectString(ApplicationFolder()) (which may throw). Every
// connection of the store (reception, administration, journal) uses this string.
[[nodiscard]] std::string DataSourceConnectString();

// "Driver=SQLite3;Database=<folder>kestrel.db;Timeout=5000;JournalMode=WAL;"
// for `folder` with its trailing "/". The path is always absolute and
// non-empty: the driver turns an empty one into a stray file. Throws
// CDatabaseException when `folder` holds a ";" (the driver cannot quote it).
[[nodiscard]] std::string EmbeddedConnectString(const std::string& folder);

// `connectString` with libpq's network bounds added when its driver is
// psqlODBC (named in the string or by its DSN): tcp_user_timeout and
// keepalives in the driver's pqopt keyword, merged with
// any pqopt the string or the DSN already sets (an option set there replaces
// ours). Other drivers get the string unchanged.
[[nodiscard]] std::string WithNetworkBounds(const std::string& connectString);

// A clearer error for a failed connect: the driver manager answers IM002 "Data
// source name not found" also when the data source exists but its driver is
// not installed; this names the missing driver instead. Other errors are
// returned unchanged.
[[nodiscard]] DatabaseError ExplainConnectFailure(const std::string& connectString, DatabaseError error);

}  // namespace kestrel
