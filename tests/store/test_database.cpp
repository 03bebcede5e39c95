// Throw-away databases for tests. The PostgreSQL tools run as the postgres
// user when the tests run as root (initdb refuses root), from "/" so that user
// can read its working folder.
#include "tests/store/test_database.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "store/odbc_statement.h"

extern char** environ;

// psqlODBC 13 leaks its error record (about 336 bytes) on every failed
// statement; LeakSanitizer would fail every PostgreSQL error case for it.
extern "C" const char* __lsan_default_suppressions() { return "leak:psqlodbcw.so\nleak:psqlodbca.so\n"; }

namespace kestrel::test {
namespace {

std::string PostgresBin() {
  std::string best;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql")) {
    std::string bin = entry.path().string() + "/bin";
    if (std::filesystem::exists(bin + "/initdb") && bin > best) best = bin;
  }
  if (best.empty()) throw std::runtime_error("no PostgreSQL server installed under /usr/lib/postgresql");
  return best;
}

// Runs `argv` (as postgres when root), output appended to `logFile`; exit status.
int Run(std::vector<std::string> argv, const std::string& logFile) {
  if (geteuid() == 0) argv.insert(argv.begin(), {"runuser", "-u", "postgres", "--"});
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, "/");
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(s);
  if (port == 0) throw std::runtime_error("no free port");
  return port;
}

std::vector<int> ServerProcesses(const std::string& dataFolder) {
  std::ifstream pidFile(dataFolder + "/postmaster.pid");
  int postmaster = 0;
  pidFile >> postmaster;
  std::vector<int> pids;
  if (postmaster <= 0) return pids;
  pids.push_back(postmaster);
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path().string() + "/stat");
    std::string line;
    std::getline(stat, line);
    // pid (comm) state ppid ...; comm may hold blanks, so read after the last ")".
    std::size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    std::string state;
    int ppid = 0;
    rest >> state >> ppid;
    if (ppid == postmaster) pids.push_back(std::stoi(name));
  }
  return pids;
}

std::string UniqueName() {
  static std::atomic<int> counter{0};
  std::random_device random;
  std::ostringstream name;
  name << "kt_" << getpid() << "_" << counter++ << "_" << std::hex << (random() & 0xffffff);
  return name.str();
}

// The cluster every CTestDatabase of this process shares: the fixture's when
// KESTREL_TEST_PG_STATE names its state file, otherwise one of our own.
int SharedClusterPort() {
  if (const char* state = std::getenv("KESTREL_TEST_PG_STATE")) {
    std::ifstream in(state);
    int port = 0;
    if (in >> port && port > 0) return port;
  }
  static std::unique_ptr<CPostgresCluster> own = std::make_unique<CPostgresCluster>();
  return own->Port();
}

}  // namespace

std::string EngineName(Engine engine) { return engine == Engine::kSQLite ? "SQLite" : "PostgreSQL"; }

std::string PostgresConnectString(int port, const std::string& database) {
  return "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(port) + ";Database=" + database +
         ";Uid=postgres;CommLog=0;Debug=0;";
}

CPostgresCluster::CPostgresCluster() {
  std::string pattern = "/tmp/kestrel-pg-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  if (geteuid() == 0) {
    passwd* pw = getpwnam("postgres");
    if (!pw || chown(folder_.c_str(), pw->pw_uid, pw->pw_gid) != 0)
      throw std::runtime_error("cannot hand " + folder_ + " to the postgres user");
  }
  std::string bin = PostgresBin();
  if (Run({bin + "/initdb", "-D", folder_ + "/data", "-U", "postgres", "-A", "trust", "-E", "UTF8", "--locale=C.UTF-8",
           "--no-sync", "--no-instructions"},
          folder_ + "/initdb.log") != 0)
    throw std::runtime_error("initdb failed, see " + folder_ + "/initdb.log");
  // Another process may take the free port before the server binds it: retry.
  for (int attempt = 0; attempt < 5 && !running_; ++attempt) {
    port_ = FreePort();
    Start();
  }
  if (!running_) throw std::runtime_error("the PostgreSQL server did not start, see " + folder_);
}

CPostgresCluster::~CPostgresCluster() {
  if (detached_) return;
  Resume();
  if (running_)
    Run({PostgresBin() + "/pg_ctl", "-D", folder_ + "/data", "-m", "immediate", "-w", "-t", "30", "stop"},
        folder_ + "/pg_ctl.log");
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

std::string CPostgresCluster::ConnectString(const std::string& database) const {
  return PostgresConnectString(port_, database);
}

void CPostgresCluster::Start() {
  std::string options = "-c listen_addresses=127.0.0.1 -c port=" + std::to_string(port_) +
                        " -c unix_socket_directories=" + folder_ + " -c fsync=off";
  running_ = Run({PostgresBin() + "/pg_ctl", "-D", folder_ + "/data", "-l", folder_ + "/server.log", "-w", "-t", "30",
                  "-o", options, "start"},
                 folder_ + "/pg_ctl.log") == 0;
}

void CPostgresCluster::Stop() {
  Resume();
  Run({PostgresBin() + "/pg_ctl", "-D", folder_ + "/data", "-m", "fast", "-w", "-t", "30", "stop"},
      folder_ + "/pg_ctl.log");
  running_ = false;
}

void CPostgresCluster::Freeze() {
  frozen_ = ServerProcesses(folder_ + "/data");
  for (int pid : frozen_) kill(pid, SIGSTOP);
}

void CPostgresCluster::Resume() {
  for (int pid : frozen_) kill(pid, SIGCONT);
  frozen_.clear();
}

void CPostgresCluster::Detach(const std::string& stateFile) {
  std::ofstream out(stateFile);
  out << port_ << "\n" << folder_ << "\n";
  detached_ = true;
}

void CPostgresCluster::StopDetached(const std::string& stateFile) {
  std::ifstream in(stateFile);
  int port = 0;
  std::string folder;
  if (!(in >> port >> folder) || !folder.starts_with("/tmp/kestrel-pg-")) return;
  Run({PostgresBin() + "/pg_ctl", "-D", folder + "/data", "-m", "immediate", "-w", "-t", "30", "stop"}, "/dev/null");
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  std::filesystem::remove(stateFile, ec);
}

COdbcIniFiles& COdbcIniFiles::Instance() {
  static COdbcIniFiles files;
  return files;
}

COdbcIniFiles::COdbcIniFiles() {
  std::filesystem::create_directories(folder_.File("sys"));
  // Debian registers psqlODBC with CommLog=1, which leaves a log file in /tmp
  // for every process that loads the driver.
  std::ifstream in("/etc/odbcinst.ini");
  std::ofstream out(folder_.File("sys/odbcinst.ini"));
  for (std::string line; std::getline(in, line);) out << (line == "CommLog=1" ? "CommLog=0" : line) << "\n";
  out.close();
  std::ofstream(folder_.File("sys/odbc.ini")).flush();
  std::ofstream(folder_.File("odbc.ini")).flush();
  setenv("ODBCSYSINI", folder_.File("sys").c_str(), 1);
  setenv("ODBCINI", folder_.File("odbc.ini").c_str(), 1);
}

COdbcIniFiles::~COdbcIniFiles() {
  unsetenv("ODBCSYSINI");
  unsetenv("ODBCINI");
}

void COdbcIniFiles::SetUserDataSources(const std::string& contents) {
  std::ofstream(folder_.File("odbc.ini"), std::ios::trunc) << contents;
}

bool COdbcIniFiles::ClaimForThisTest() { return !claimed_.exchange(true); }

CTestDatabase::CTestDatabase(Engine engine) : engine_(engine) {
  COdbcIniFiles::Instance();
  if (engine == Engine::kSQLite) {
    name_ = folder_.File("kestrel.db");
    connectString_ = "Driver=SQLite3;Database=" + name_ + ";Timeout=5000;JournalMode=WAL;";
  } else {
    CreatePostgresDatabase(SharedClusterPort());
  }
}

CTestDatabase::CTestDatabase(CPostgresCluster& cluster) : engine_(Engine::kPostgreSQL) {
  COdbcIniFiles::Instance();
  CreatePostgresDatabase(cluster.Port());
}

void CTestDatabase::CreatePostgresDatabase(int port) {
  port_ = port;
  name_ = UniqueName();
  ExecuteSql(PostgresConnectString(port, "postgres"), "CREATE DATABASE " + name_);
  connectString_ = PostgresConnectString(port, name_);
}

CTestDatabase::~CTestDatabase() {
  if (dataSourceDefined_) COdbcIniFiles::Instance().SetUserDataSources("");
  if (engine_ == Engine::kPostgreSQL && !name_.empty()) {
    try {
      ExecuteSql(PostgresConnectString(port_, "postgres"), "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    } catch (const std::exception&) {
      // A stopped cluster goes away with its folder anyway.
    }
  }
}

void CTestDatabase::DefineKestrelDataSource(const std::string& extraLines) {
  std::string ini = "[Kestrel]\n";
  if (engine_ == Engine::kSQLite) {
    ini += "Driver=SQLite3\nDatabase=" + name_ + "\nTimeout=5000\n";
  } else {
    ini += "Driver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=" + std::to_string(port_) + "\nDatabase=" + name_ +
           "\nUsername=postgres\nCommLog=0\nDebug=0\n";
  }
  ini += extraLines;
  COdbcIniFiles::Instance().SetUserDataSources(ini);
  dataSourceDefined_ = true;
}

void ExecuteSql(const std::string& connectString, const std::string& sql) {
  COdbcConnection db(connectString);
  db.Open();
  db.ExecuteDirect(sql);
}

std::vector<std::string> QueryColumn(const std::string& connectString, const std::string& sql) {
  COdbcConnection db(connectString);
  db.Open();
  COdbcStatement statement(db);
  statement.Execute(sql);
  std::vector<std::string> values;
  while (statement.Fetch()) values.push_back(statement.GetText(1, 4096).value_or("<null>"));
  return values;
}

}  // namespace kestrel::test
