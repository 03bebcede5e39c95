// COdbcConnection: one connection to the data store through unixODBC, the one
// ODBC wrapper of Kestrel. The service keeps two for its whole life (reception
// and administration); every journal access makes a short-lived one.
//
// Every call that waits on a database server is bounded: connection set-up by
// the login time-out (libpq's connect_timeout), a lost network by tcp_user_timeout and keepalives,
// and a server that accepts bytes but never answers (a frozen process) by a
// watchdog that shuts the connection's socket down after CallTimeout(). The
// call then fails with SQLSTATE HYT01 instead of hanging.
//
// How the service uses it: the reception connection is a COdbcConnection
// opened by Open() at start-up (its CDatabaseException's Message() is the
// reason shown after "Opening of database failed."), then handed to the
// worker's CRecipientResolver; the administration connection is a
// COdbcConnection that nobody opens: EnsureMsnTable (schema.h) is its first
// use, the forwarding editors (forwarding_table.h) use it afterwards. A
// connection whose server went away is reopened by its next use.
//
// Not thread-safe: one thread uses a connection at a time (handing it to
// another thread between calls is fine). Failures throw CDatabaseException,
// the store's rule (database_exception.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "store/database_exception.h"

namespace kestrel {

enum class DatabaseEngine { kUnknown, kSQLite, kPostgreSQL };

// A statement parameter: text (bound as character data, never spliced into
// the statement) or a 32-bit integer.
using SqlParameter = std::variant<std::string, std::int32_t>;

class COdbcConnection {
 public:
  static constexpr std::chrono::milliseconds kDefaultCallTimeout{30000};
  // Bound of a connect (unless the connect string sets libpq's connect_timeout).
  static constexpr long kLoginTimeoutSeconds = 15;

  // `connectString` is an ODBC connect string. Empty means the store's data
  // source (DataSourceConnectString(), data_source.h), looked up at each open.
  explicit COdbcConnection(std::string connectString = {});
  ~COdbcConnection();
  COdbcConnection(const COdbcConnection&) = delete;
  COdbcConnection& operator=(const COdbcConnection&) = delete;

  // Connects; an open connection is closed first. Throws CDatabaseException
  // with the driver's text (for example 08001 with libpq's reason).
  void Open();
  // Opens the connection when it is not open: a connection is opened by its
  // first use, and reopened by the first use after it was lost.
  void EnsureOpen();
  // True while connected and not known to be lost.
  [[nodiscard]] bool IsOpen() const;
  // Disconnects; errors are ignored. No statement of this connection may be
  // alive.
  void Close() noexcept;

  // Valid while open.
  [[nodiscard]] DatabaseEngine Engine() const { return engine_; }
  // The connect string given to the constructor (possibly empty).
  [[nodiscard]] const std::string& ConnectString() const { return connectString_; }

  // Runs one statement that returns no rows, with its parameters bound in
  // order to the "?" markers. Opens the connection when needed. Throws.
  void ExecuteDirect(const std::string& sql, const std::vector<SqlParameter>& parameters = {});

  // The bound of one call on a server connection (SQLite's own bound is its
  // busy timeout of 5 seconds).
  void SetCallTimeout(std::chrono::milliseconds timeout) { callTimeout_ = timeout; }
  [[nodiscard]] std::chrono::milliseconds CallTimeout() const { return callTimeout_; }

  // For COdbcStatement: the SQLHDBC handle, and the bracket of one blocking
  // call. EndCall returns true when the watchdog cut the call off.
  [[nodiscard]] void* NativeHandle() const { return dbc_; }
  [[nodiscard]] std::uint64_t BeginCall();
  [[nodiscard]] bool EndCall(std::uint64_t token);
  // Records a failed call; a lost connection is marked for reopening.
  // Returns the error to raise (the watchdog's time-out replaces the
  // driver's text when `timedOut`).
  [[nodiscard]] DatabaseError NoteFailure(DatabaseError error, bool timedOut);

 private:
  void FindServerSocket(const std::vector<unsigned long>& socketsBefore);

  std::string connectString_;
  std::chrono::milliseconds callTimeout_ = kDefaultCallTimeout;
  void* env_ = nullptr;
  void* dbc_ = nullptr;
  bool connected_ = false;
  bool lost_ = false;
  DatabaseEngine engine_ = DatabaseEngine::kUnknown;
  int socketFd_ = -1;              // the server connection's socket, when known
  unsigned long socketInode_ = 0;  // to tell it from a later socket on the same fd
};

}  // namespace kestrel
