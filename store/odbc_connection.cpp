// Connection set-up and tear-down, engine detection, and the bracket that puts
// each blocking call of a PostgreSQL connection under the watchdog.
#include "store/odbc_connection.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <strings.h>

#include "store/call_watchdog.h"
#include "store/data_source.h"
#include "store/odbc_diagnostics.h"
#include "store/odbc_statement.h"

namespace kestrel {

COdbcConnection::COdbcConnection(std::string connectString) : connectString_(std::move(connectString)) {}

COdbcConnection::~COdbcConnection() { Close(); }

void COdbcConnection::Open() {
  Close();
  std::string target = connectString_.empty() ? DataSourceConnectString() : connectString_;
  std::string full = WithNetworkBounds(target);

  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
    throw CDatabaseException({"HY001", 0, "The ODBC driver manager could not allocate an environment."});
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    DatabaseError error = ReadDiagnostics(SQL_HANDLE_ENV, env);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    throw CDatabaseException(error);
  }
  // psqlODBC passes the login time-out to libpq as connect_timeout and
  // refuses a connect_timeout of the caller's own next to it. Drivers that
  // know no login time-out ignore it.
  if (full.find("connect_timeout=") == std::string::npos)
    SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);

  std::vector<unsigned long> socketsBefore = OpenSocketInodes();
  SQLCHAR out[1024];
  SQLSMALLINT outLength = 0;
  SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(full.data()), SQL_NTS, out, sizeof out,
                                  &outLength, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    DatabaseError error = ExplainConnectFailure(target, ReadDiagnostics(SQL_HANDLE_DBC, dbc));
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    throw CDatabaseException(error);
  }
  env_ = env;
  dbc_ = dbc;
  connected_ = true;
  lost_ = false;

  char name[128] = {};
  SQLSMALLINT nameLength = 0;
  engine_ = DatabaseEngine::kUnknown;
  if (SQL_SUCCEEDED(SQLGetInfo(dbc, SQL_DBMS_NAME, name, sizeof name, &nameLength))) {
    if (strncasecmp(name, "SQLite", 6) == 0) engine_ = DatabaseEngine::kSQLite;
    if (strncasecmp(name, "PostgreSQL", 10) == 0) engine_ = DatabaseEngine::kPostgreSQL;
  }
  if (engine_ == DatabaseEngine::kPostgreSQL) FindServerSocket(socketsBefore);
}

void COdbcConnection::FindServerSocket(const std::vector<unsigned long>& socketsBefore) {
  // The server tells which client port this connection uses; with that the
  // socket among the process's descriptors is certain.
  try {
    COdbcStatement query(*this);
    query.Execute("SELECT inet_client_port(), current_setting('port')");
    if (!query.Fetch()) return;
    int clientPort = query.GetInt32(1).value_or(0);
    std::string port = query.GetText(2, 16).value_or("");
    int serverPort = std::atoi(port.c_str());
    unsigned long inode = 0;
    int fd = FindPostgresSocket(clientPort, serverPort, socketsBefore, inode);
    if (fd >= 0) {
      socketFd_ = fd;
      socketInode_ = inode;
    }
  } catch (const CDatabaseException&) {
    // Without the socket the connection still works, only unwatched.
  }
}

void COdbcConnection::EnsureOpen() {
  if (!connected_ || lost_) Open();
}

bool COdbcConnection::IsOpen() const { return connected_ && !lost_; }

void COdbcConnection::Close() noexcept {
  if (dbc_) {
    if (connected_) SQLDisconnect(static_cast<SQLHDBC>(dbc_));
    SQLFreeHandle(SQL_HANDLE_DBC, static_cast<SQLHDBC>(dbc_));
  }
  if (env_) SQLFreeHandle(SQL_HANDLE_ENV, static_cast<SQLHENV>(env_));
  dbc_ = nullptr;
  env_ = nullptr;
  connected_ = false;
  lost_ = false;
  engine_ = DatabaseEngine::kUnknown;
  socketFd_ = -1;
  socketInode_ = 0;
}

void COdbcConnection::ExecuteDirect(const std::string& sql, const std::vector<SqlParameter>& parameters) {
  COdbcStatement statement(*this);
  statement.Execute(sql, parameters);
}

std::uint64_t COdbcConnection::BeginCall() {
  if (socketFd_ < 0) return 0;
  return CCallWatchdog::Instance().Arm(socketFd_, socketInode_, callTimeout_);
}

bool COdbcConnection::EndCall(std::uint64_t token) {
  if (token == 0) return false;
  return CCallWatchdog::Instance().Disarm(token);
}

DatabaseError COdbcConnection::NoteFailure(DatabaseError error, bool timedOut) {
  if (timedOut) {
    error.sqlState = "HYT01";
    error.nativeError = 0;
    error.message = "The database server did not answer within " + std::to_string((callTimeout_.count() + 999) / 1000) +
                    " seconds; the connection was closed.";
  }
  // psqlODBC reports a server that ended the session as HY000 with the
  // server's text; the driver's own verdict on the connection settles it.
  SQLUINTEGER dead = SQL_CD_FALSE;
  if (dbc_ &&
      SQL_SUCCEEDED(SQLGetConnectAttr(static_cast<SQLHDBC>(dbc_), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
      dead == SQL_CD_TRUE)
    lost_ = true;
  if (IsConnectionLost(error)) {
    lost_ = true;
  }
  // A lost connection's socket is gone or going: nothing more to watch.
  if (lost_) socketFd_ = -1;
  return error;
}

}  // namespace kestrel
