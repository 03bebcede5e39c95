// Real databases for the store and recipient tests: a fresh SQLite file in a
// temporary folder, or a fresh database in a throw-away PostgreSQL cluster
// (the cluster of the CTest fixture "postgres", or one started for this
// process when the tests run outside CTest). Everything is removed afterwards.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace kestrel::test {

enum class Engine { kSQLite, kPostgreSQL };

// "SQLite" or "PostgreSQL", for test names.
std::string EngineName(Engine engine);
inline const std::vector<Engine> kEngines = {Engine::kSQLite, Engine::kPostgreSQL};

// A PostgreSQL cluster of its own, in a temporary folder, listening on
// 127.0.0.1 at a free port; run as the postgres user when the tests run as
// root. The destructor resumes, stops and removes it.
class CPostgresCluster {
 public:
  CPostgresCluster();
  ~CPostgresCluster();
  CPostgresCluster(const CPostgresCluster&) = delete;
  CPostgresCluster& operator=(const CPostgresCluster&) = delete;

  int Port() const { return port_; }
  // DSN-less psqlODBC connect string for `database`.
  std::string ConnectString(const std::string& database = "postgres") const;

  void Stop();    // fast shutdown: sessions end with 57P01
  void Start();   // again, on the same port
  void Freeze();  // SIGSTOP to the server and all its processes
  void Resume();  // SIGCONT to the same processes

  // For the CTest fixture: write port and folder to `stateFile` and leave
  // the cluster running; StopDetached removes it again.
  void Detach(const std::string& stateFile);
  static void StopDetached(const std::string& stateFile);

 private:
  std::string folder_;
  int port_ = 0;
  bool running_ = false;
  bool detached_ = false;
  std::vector<int> frozen_;
};

// The psqlODBC connect string prefix for a database on 127.0.0.1:`port`.
std::string PostgresConnectString(int port, const std::string& database);

// A fresh, empty database for one test. Not thread-safe.
class CTestDatabase {
 public:
  explicit CTestDatabase(Engine engine);
  // A fresh database in `cluster` (PostgreSQL).
  explicit CTestDatabase(CPostgresCluster& cluster);
  ~CTestDatabase();
  CTestDatabase(const CTestDatabase&) = delete;
  CTestDatabase& operator=(const CTestDatabase&) = delete;

  Engine GetEngine() const { return engine_; }
  const std::string& ConnectString() const { return connectString_; }
  // SQLite: the database file. PostgreSQL: the database name.
  const std::string& Name() const { return name_; }
  // A folder that lives as long as the database (for logs and ini files).
  const CTempDir& Folder() const { return folder_; }

  // Defines the data source "Kestrel" pointing here (plus `extraLines` in
  // its section) in the process's ODBC ini files; the destructor removes it.
  // See COdbcIniFiles::ClaimForThisTest.
  void DefineKestrelDataSource(const std::string& extraLines = {});

 private:
  void CreatePostgresDatabase(int port);

  Engine engine_;
  CTempDir folder_;
  std::string connectString_;
  std::string name_;
  int port_ = 0;
  bool dataSourceDefined_ = false;
};

// The ODBC ini files of this test process: ODBCSYSINI and ODBCINI point into a
// temporary folder for the whole process (unixODBC reads both variables only
// once), with the system's drivers and no data source until a test writes
// one. Removed when the process ends.
class COdbcIniFiles {
 public:
  static COdbcIniFiles& Instance();
  ~COdbcIniFiles();
  // Replaces the user data sources (the contents of the ODBCINI file).
  void SetUserDataSources(const std::string& contents);
  // unixODBC also keeps what it once read from the files, so only one test
  // per process can rely on their contents: true for the first caller. CTest
  // runs every case in a process of its own.
  bool ClaimForThisTest();

 private:
  COdbcIniFiles();
  CTempDir folder_;
  std::atomic<bool> claimed_{false};
};

// Runs `sql` (no result rows) on `connectString`; throws on error.
void ExecuteSql(const std::string& connectString, const std::string& sql);
// The first column of every row `sql` returns, as text.
std::vector<std::string> QueryColumn(const std::string& connectString, const std::string& sql);

}  // namespace kestrel::test
