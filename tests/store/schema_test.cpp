// The start-up table check on both engines: a fresh data source gets its
// tables and the MSN index, a second start creates nothing, and a data source
// that cannot take the tables reports the driver's text once.
#include "store/schema.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "store/forwarding_table.h"
#include "store/journal.h"
#include "tests/store/recording_notice_sink.h"
#include "tests/store/test_database.h"

namespace kestrel::test {
namespace {

class SchemaTest : public ::testing::TestWithParam<Engine> {
 protected:
  std::vector<std::string> MsnIndexes() {
    if (GetParam() == Engine::kSQLite)
      return QueryColumn(db.ConnectString(),
                         "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = 'tblMSNEmail'");
    return QueryColumn(db.ConnectString(), "SELECT indexname FROM pg_indexes WHERE tablename = 'tblmsnemail'");
  }

  CTestDatabase db{GetParam()};
  CRecordingNoticeSink notices;
};

TEST_P(SchemaTest, FreshDataSourceGetsTablesAndMsnIndex) {
  COdbcConnection administration(db.ConnectString());
  EnsureMsnTable(administration, notices);
  EXPECT_TRUE(notices.texts.empty()) << notices.texts.front();
  EXPECT_TRUE(administration.IsOpen());

  auto indexes = MsnIndexes();
  ASSERT_EQ(indexes.size(), 1u);
  EXPECT_EQ(indexes[0], GetParam() == Engine::kSQLite ? "MSN" : "msn");
  // Both forwarding tables and the journal take rows now.
  AddForwardingRow(administration, ForwardingTable::kMsn, {"4711", "a@example.com"});
  AddForwardingRow(administration, ForwardingTable::kTsid, {"0301234", "b@example.com"});
  EXPECT_EQ(ListForwardingRows(administration, ForwardingTable::kMsn).size(), 1u);
  EXPECT_EQ(ListForwardingRows(administration, ForwardingTable::kTsid).size(), 1u);
  EXPECT_TRUE(ListJournalEntries(db.ConnectString()).status.Ok());
}

TEST_P(SchemaTest, SecondStartCreatesNothingAndKeepsRows) {
  {
    COdbcConnection administration(db.ConnectString());
    EnsureMsnTable(administration, notices);
    AddForwardingRow(administration, ForwardingTable::kMsn, {"4711", "a@example.com"});
  }
  COdbcConnection administration(db.ConnectString());
  EnsureMsnTable(administration, notices);
  EXPECT_TRUE(notices.texts.empty());
  EXPECT_EQ(MsnIndexes().size(), 1u);
  EXPECT_EQ(ListForwardingRows(administration, ForwardingTable::kMsn),
            (std::vector<ForwardingRow>{{"4711", "a@example.com"}}));
}

TEST_P(SchemaTest, UnreachableDataSourceIsReportedOnce) {
  std::string unreachable =
      GetParam() == Engine::kSQLite
          ? "Driver=SQLite3;Database=" + db.Folder().File("no-such-folder/kestrel.db") + ";NoCreat=1;"
          : PostgresConnectString(1, "postgres");
  COdbcConnection administration(unreachable);
  EnsureMsnTable(administration, notices);
  ASSERT_EQ(notices.texts.size(), 1u);
  EXPECT_FALSE(notices.texts[0].empty());
  EXPECT_EQ(notices.icons[0], NoticeIcon::kExclamation);
  EXPECT_FALSE(administration.IsOpen());
}

// A data source that refuses to create tables: SQLite opened read-only (a
// real read-only open, which also holds for root, who ignores mode bits), and
// a PostgreSQL role without the right to create in its schema.
TEST_P(SchemaTest, ReadOnlyDataSourceReportsDriverTextAndStartsOn) {
  std::string readOnly;
  std::string expected;
  if (GetParam() == Engine::kSQLite) {
    ExecuteSql(db.ConnectString(), "CREATE TABLE unrelated (x INTEGER)");
    readOnly = "Driver=SQLite3;Database=file:" + db.Name() + "?mode=ro;Timeout=5000;";
    expected = "attempt to write a readonly database";
  } else {
    std::string role = db.Name() + "_reader";
    ExecuteSql(db.ConnectString(), "CREATE ROLE " + role + " LOGIN");
    readOnly = PostgresConnectString(0, db.Name());
    readOnly = db.ConnectString() + "Uid=" + role + ";";
    expected = "permission denied for schema public";
  }
  COdbcConnection administration(readOnly);
  EnsureMsnTable(administration, notices);
  ASSERT_EQ(notices.texts.size(), 1u);
  EXPECT_NE(notices.texts[0].find(expected), std::string::npos) << notices.texts[0];
  // Nothing was created behind the error.
  auto tables = GetParam() == Engine::kSQLite
                    ? QueryColumn(db.ConnectString(), "SELECT name FROM sqlite_master WHERE type = 'table'")
                    : QueryColumn(db.ConnectString(), "SELECT tablename FROM pg_tables WHERE schemaname = 'public'");
  EXPECT_EQ(tables, GetParam() == Engine::kSQLite ? std::vector<std::string>{"unrelated"} : std::vector<std::string>{});
  if (GetParam() == Engine::kPostgreSQL) ExecuteSql(db.ConnectString(), "DROP ROLE " + db.Name() + "_reader");
}

// The file and its folder without write permission. Root ignores mode bits,
// so as root the check runs in a child process that has become "nobody".
TEST(SchemaReadOnlyFile, UnwritableDatabaseFileReportsDriverText) {
  CTestDatabase db(Engine::kSQLite);
  ExecuteSql(db.ConnectString(), "CREATE TABLE unrelated (x INTEGER)");
  ASSERT_EQ(chmod(db.Name().c_str(), 0444), 0);
  ASSERT_EQ(chmod(db.Folder().Path().c_str(), 0555), 0);

  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeFds[0]);
    if (geteuid() == 0) {
      passwd* nobody = getpwnam("nobody");
      if (!nobody || setgroups(0, nullptr) != 0 || setresgid(nobody->pw_gid, nobody->pw_gid, nobody->pw_gid) != 0 ||
          setresuid(nobody->pw_uid, nobody->pw_uid, nobody->pw_uid) != 0)
        _exit(3);
    }
    CRecordingNoticeSink notices;
    COdbcConnection administration("Driver=SQLite3;Database=" + db.Name() + ";Timeout=5000;");
    EnsureMsnTable(administration, notices);
    std::string report =
        std::to_string(notices.texts.size()) + "\n" + (notices.texts.empty() ? std::string() : notices.texts[0]);
    if (write(pipeFds[1], report.data(), report.size()) < 0) _exit(4);
    _exit(0);
  }
  close(pipeFds[1]);
  std::string report;
  char buffer[512];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) report.append(buffer, static_cast<std::size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(report.starts_with("1\n")) << report;
  EXPECT_NE(report.find("attempt to write a readonly database"), std::string::npos) << report;
  chmod(db.Folder().Path().c_str(), 0700);
  EXPECT_EQ(QueryColumn(db.ConnectString(), "SELECT name FROM sqlite_master WHERE type = 'table'"),
            std::vector<std::string>{"unrelated"});
}

INSTANTIATE_TEST_SUITE_P(Engines, SchemaTest, ::testing::ValuesIn(kEngines),
                         [](const auto& info) { return EngineName(info.param); });

}  // namespace
}  // namespace kestrel::test
