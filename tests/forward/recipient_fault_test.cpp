// Database faults during reception: a PostgreSQL server stopped or frozen in
// the middle of the work, and a SQLite file locked by another writer. Lookups
// answer "no row" with an event, the journal insert writes its error text,
// nothing hangs beyond the bound, and the connection recovers once the
// database is back.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>

#include "forward/recipient_resolution.h"
#include "store/forwarding_table.h"
#include "store/journal.h"
#include "store/schema.h"
#include "tests/store/recording_notice_sink.h"
#include "tests/store/test_database.h"
#include "tests/support/file_util.h"
#include "tests/support/local_time.h"

namespace kestrel::test {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class PostgresFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    COdbcConnection administration(db.ConnectString());
    EnsureMsnTable(administration, notices);
    ASSERT_TRUE(notices.texts.empty());
    AddForwardingRow(administration, ForwardingTable::kMsn, {"4711", "a@example.com"});
    AddForwardingRow(administration, ForwardingTable::kTsid, {"0301234", "b@example.com"});
    std::string recipients;
    ASSERT_EQ(resolver.AcceptsCalledNumber("4711", recipients), 1) << ::testing::PrintToString(Events());
    ASSERT_TRUE(reception.IsOpen());
  }
  std::vector<std::string> Events() { return EventDescriptions(logFolder.Path()); }

  CPostgresCluster cluster;
  CTestDatabase db{cluster};
  // A reconnect to a frozen server gives up after 2 s instead of 15.
  std::string connectString = db.ConnectString() + "pqopt={connect_timeout=2};";
  COdbcConnection reception{connectString};
  CRecordingNoticeSink notices;
  CTempDir logFolder;
  CEventLog log{logFolder.Path()};
  CRecipientResolver resolver{0, "", reception, log};
};

TEST_F(PostgresFaultTest, StoppedServerMeansNoRowWithEventsAndReceptionRecovers) {
  cluster.Stop();
  std::string recipients = "kept;";
  EXPECT_EQ(resolver.AcceptsCalledNumber("4711", recipients), 0);
  EXPECT_EQ(recipients, "kept;");
  EXPECT_FALSE(reception.IsOpen());
  EXPECT_EQ(resolver.LookupTsidRecipients("0301234"), "");
  EXPECT_FALSE(InsertJournalEntry(log, "0301234", LocalTime("07/12/2026 10:11:12"), 1, "/f/a.sff", connectString).Ok());

  auto events = Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_TRUE(events[0].starts_with("AcceptsCalledNumber,")) << events[0];
  // The server's goodbye in psqlODBC's words, or the closed line it left.
  EXPECT_TRUE(Contains(events[0], "terminating_connection_due_to_administrator_command") ||
              Contains(events[0], "server_closed_the_connection") || Contains(events[0], "Msg:08"))
      << events[0];
  EXPECT_TRUE(events[1].starts_with("LookupTsidRecipients,")) << events[1];
  EXPECT_TRUE(Contains(events[1], "Msg:08001")) << events[1];
  EXPECT_TRUE(events[2].starts_with("_Error:")) << events[2];
  EXPECT_TRUE(Contains(events[2], "_Msg:08001_Description:")) << events[2];

  cluster.Start();
  EXPECT_EQ(resolver.AcceptsCalledNumber("4711", recipients), 1);
  EXPECT_EQ(recipients, "kept;a@example.com;");
  EXPECT_EQ(resolver.LookupTsidRecipients("0301234"), "b@example.com;");
  EXPECT_EQ(Events().size(), 3u);
}

TEST_F(PostgresFaultTest, FrozenServerGivesAnErrorWithinTheBoundNotAHang) {
  reception.SetCallTimeout(std::chrono::milliseconds(2000));
  cluster.Freeze();

  auto start = Clock::now();
  std::string recipients;
  EXPECT_EQ(resolver.AcceptsCalledNumber("4711", recipients), 0);
  double lookup = SecondsSince(start);
  EXPECT_GE(lookup, 1.9);
  EXPECT_LT(lookup, 8.0);

  // The connection is gone; reconnecting to the frozen server is bounded too.
  start = Clock::now();
  EXPECT_EQ(resolver.LookupTsidRecipients("0301234"), "");
  EXPECT_LT(SecondsSince(start), 8.0);
  start = Clock::now();
  EXPECT_FALSE(InsertJournalEntry(log, "0301234", LocalTime("07/12/2026 10:11:12"), 1, "/f/a.sff", connectString).Ok());
  EXPECT_LT(SecondsSince(start), 8.0);

  auto events = Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_TRUE(Contains(events[0], LoggedForm("Msg:HYT01 Description:The database server did not answer within 2 "
                                             "seconds; the connection was closed.")))
      << events[0];
  EXPECT_TRUE(events[1].starts_with("LookupTsidRecipients,")) << events[1];
  EXPECT_TRUE(events[2].starts_with("_Error:")) << events[2];

  cluster.Resume();
  EXPECT_EQ(resolver.AcceptsCalledNumber("4711", recipients), 1);
  EXPECT_EQ(recipients, "a@example.com;");
}

// SQLite has no server to lose; its fault is a file another writer holds.
TEST(SqliteFault, LockedDatabaseStillAnswersLookupsAndTheInsertFailsWithinItsTimeout) {
  CTestDatabase db(Engine::kSQLite);
  CRecordingNoticeSink notices;
  COdbcConnection administration(db.ConnectString());
  EnsureMsnTable(administration, notices);
  AddForwardingRow(administration, ForwardingTable::kMsn, {"4711", "a@example.com"});

  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(db.Name().c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(writer, "BEGIN IMMEDIATE; INSERT INTO tblMSNEmail VALUES ('1', 'x');", nullptr, nullptr, nullptr),
      SQLITE_OK);

  CTempDir logFolder;
  CEventLog log(logFolder.Path());
  COdbcConnection reception(db.ConnectString());
  CRecipientResolver resolver(0, "", reception, log);
  std::string recipients;
  EXPECT_EQ(resolver.AcceptsCalledNumber("4711", recipients), 1);

  std::string shortWait = "Driver=SQLite3;Database=" + db.Name() + ";Timeout=500;JournalMode=WAL;";
  auto start = Clock::now();
  EXPECT_FALSE(InsertJournalEntry(log, "0301234", LocalTime("07/12/2026 10:11:12"), 1, "/f/a.sff", shortWait).Ok());
  EXPECT_LT(SecondsSince(start), 5.0);
  auto events = EventDescriptions(logFolder.Path());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].starts_with("_Error:")) << events[0];
  EXPECT_TRUE(Contains(events[0], "database_is_locked")) << events[0];

  sqlite3_exec(writer, "ROLLBACK;", nullptr, nullptr, nullptr);
  sqlite3_close(writer);
  EXPECT_TRUE(InsertJournalEntry(log, "0301234", LocalTime("07/12/2026 10:11:12"), 1, "/f/a.sff", shortWait).Ok());
  EXPECT_EQ(EventDescriptions(logFolder.Path()).size(), 1u);
  EXPECT_EQ(ListJournalEntries(db.ConnectString()).entries.size(), 1u);
}

}  // namespace
}  // namespace kestrel::test
