// The journal on both engines: rows come back newest first across days,
// months and years, texts with quotes are stored unchanged, a delete removes
// exactly its row, the views' pages and filter, each node's fax one row, and
// failures become one event text with the driver's diagnostics.
#include "store/journal.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "tests/store/test_database.h"
#include "tests/support/file_util.h"
#include "tests/support/local_time.h"

namespace kestrel::test {
namespace {

TEST(StoredReceivingTime, EndOfReceptionIsStoredAsLocalIsoTime) {
  for (const char* t : {"07/12/2026 10:11:12", "07/01/2026 00:00:00", "29/02/2024 23:59:59", "31/12/1999 23:59:59"}) {
    std::tm tm{};
    const std::time_t value = LocalTime(t);
    localtime_r(&value, &tm);
    char expected[80];
    std::snprintf(expected, sizeof expected, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    EXPECT_EQ(StoredReceivingTime(value), expected) << t;
  }
  EXPECT_EQ(StoredReceivingTime(LocalTime("07/12/2026 10:11:12")), "2026-12-07 10:11:12");
}

TEST(StoredReceivingTime, TimesBeyondFourDigitYearsAreRefused) {
  EXPECT_FALSE(StoredReceivingTime(std::time_t{400000000000}).has_value());
}

class JournalTest : public ::testing::TestWithParam<Engine> {
 protected:
  void Insert(const std::string& sender, const std::string& time, int pages, const std::string& file) {
    EXPECT_TRUE(InsertJournalEntry(log, sender, LocalTime(time), pages, file, db.ConnectString()).Ok());
  }

  CTestDatabase db{GetParam()};
  CTempDir logFolder;
  CEventLog log{logFolder.Path()};
};

TEST_P(JournalTest, FreshDataSourceListsNoRowsAndNoError) {
  JournalListing listing = ListJournalEntries(db.ConnectString());
  EXPECT_TRUE(listing.status.Ok()) << listing.status.Describe();
  EXPECT_TRUE(listing.entries.empty());
}

TEST_P(JournalTest, RowsComeBackNewestFirstAcrossDaysMonthsAndYears) {
  // Inserted out of order; as day/month/year text these would sort wrongly.
  Insert("1", "09/01/2026 08:00:00", 1, "/f/1.sff");
  Insert("2", "31/12/2025 23:59:59", 2, "/f/2.sff");
  Insert("3", "10/01/2026 07:00:00", 3, "/f/3.sff");
  Insert("4", "01/02/2026 00:00:00", 4, "/f/4.sff");
  Insert("5", "09/01/2026 08:00:01", 5, "/f/5.sff");
  Insert("6", "01/01/2026 00:00:00", 6, "/f/6.sff");
  JournalListing listing = ListJournalEntries(db.ConnectString());
  ASSERT_TRUE(listing.status.Ok()) << listing.status.Describe();
  std::vector<std::string> senders;
  for (const auto& e : listing.entries) senders.push_back(e.senderNr);
  EXPECT_EQ(senders, (std::vector<std::string>{"4", "3", "5", "1", "6", "2"}));
  EXPECT_TRUE(EventDescriptions(logFolder.Path()).empty());

  const JournalEntry& third = listing.entries[1];
  EXPECT_EQ(third.receivingTime, (SqlTimestamp{2026, 1, 10, 7, 0, 0}));
  EXPECT_EQ(third.numberOfPages, 3);
  EXPECT_EQ(third.faxFile, "/f/3.sff");
  EXPECT_GT(third.id, 0);
}

TEST_P(JournalTest, EqualTimesListTheLaterRowFirst) {
  Insert("first", "07/12/2026 10:11:12", 1, "a");
  Insert("second", "07/12/2026 10:11:12", 1, "b");
  JournalListing listing = ListJournalEntries(db.ConnectString());
  ASSERT_EQ(listing.entries.size(), 2u);
  EXPECT_EQ(listing.entries[0].senderNr, "second");
  EXPECT_GT(listing.entries[0].id, listing.entries[1].id);
}

TEST_P(JournalTest, QuotesInSenderAndPathAreStoredUnchanged) {
  Insert("0'30", "07/12/2026 10:11:12", 2, "/var/faxes/O'Brien's \"M\xc3\xbcller\" fax.sff");
  JournalListing listing = ListJournalEntries(db.ConnectString());
  ASSERT_EQ(listing.entries.size(), 1u);
  EXPECT_EQ(listing.entries[0].senderNr, "0'30");
  EXPECT_EQ(listing.entries[0].faxFile, "/var/faxes/O'Brien's \"M\xc3\xbcller\" fax.sff");
}

TEST_P(JournalTest, DeleteRemovesExactlyItsRow) {
  Insert("a", "01/01/2026 10:00:00", 1, "a");
  Insert("b", "02/01/2026 10:00:00", 1, "b");
  Insert("c", "03/01/2026 10:00:00", 1, "c");
  auto before = ListJournalEntries(db.ConnectString()).entries;
  ASSERT_EQ(before.size(), 3u);
  EXPECT_TRUE(DeleteJournalEntry(before[1].id, db.ConnectString()).Ok());
  auto after = ListJournalEntries(db.ConnectString()).entries;
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].senderNr, "c");
  EXPECT_EQ(after[1].senderNr, "a");
  // A key that no row has deletes nothing and is no error.
  EXPECT_TRUE(DeleteJournalEntry(before[1].id, db.ConnectString()).Ok());
  EXPECT_EQ(ListJournalEntries(db.ConnectString()).entries.size(), 2u);
}

TEST_P(JournalTest, TableOfAnOlderVersionGetsItsNewColumnsAndOlderWritersGoOn) {
  const bool postgres = GetParam() == Engine::kPostgreSQL;
  const std::string olderInsert =
      "INSERT INTO ReceivedFaxes (SenderNr, ReceivingTime, NumberOfPages, FaxFile)"
      " VALUES ('older', '2026-01-01 10:00:00', 1, 'a')";
  ExecuteSql(db.ConnectString(), std::string("CREATE TABLE ReceivedFaxes (ID ") +
                                     (postgres ? "SERIAL PRIMARY KEY" : "INTEGER PRIMARY KEY AUTOINCREMENT") +
                                     ", SenderNr VARCHAR(255), ReceivingTime TIMESTAMP, NumberOfPages INTEGER,"
                                     " FaxFile VARCHAR(4096))");
  ExecuteSql(db.ConnectString(), olderInsert);
  // Longer than the column: cut to its 255 bytes rather than refused.
  const std::string status = "Incomplete: " + std::string(300, 'x');
  ASSERT_TRUE(
      InsertJournalEntry(log, "new", LocalTime("02/01/2026 10:00:00"), 2, "b", db.ConnectString(), status, "fax-a")
          .Ok());
  ExecuteSql(db.ConnectString(), olderInsert);  // a node of the older version, sharing the journal

  JournalListing listing = ListJournalEntries(db.ConnectString());
  ASSERT_TRUE(listing.status.Ok()) << listing.status.Describe();
  ASSERT_EQ(listing.entries.size(), 3u);
  EXPECT_EQ(listing.entries[0].senderNr, "new");
  EXPECT_EQ(listing.entries[0].status, status.substr(0, 255));
  EXPECT_EQ(listing.entries[0].node, "fax-a");
  EXPECT_EQ(listing.entries[1].status, "");
  EXPECT_EQ(listing.entries[1].node, "");
  EXPECT_EQ(listing.entries[2].status, "");
  EXPECT_EQ(QueryColumn(db.ConnectString(), "SELECT COUNT(*) FROM ReceivedFaxes WHERE Node IS NULL"),
            std::vector<std::string>{"2"});
}

// Two services writing one journal: a fax handed in again by its node after
// a restart stays one row, another node's fax of the same file and time is
// its own, and the status finds each node's newest fax.
TEST_P(JournalTest, EachNodesFaxIsOneRowAndItsNewestTimeIsFoundPerNode) {
  const auto insert = [&](const std::string& node, const char* time, const std::string& file) {
    EXPECT_TRUE(InsertJournalEntry(log, "0301", LocalTime(time), 1, file, db.ConnectString(), "", node).Ok());
  };
  insert("fax-a", "07/12/2026 10:00:00", "/srv/received/1.png");
  insert("fax-a", "07/12/2026 10:00:00", "/srv/received/1.png");
  insert("fax-b", "07/12/2026 10:00:00", "/srv/received/1.png");
  insert("fax-b", "08/12/2026 11:30:00", "/srv/received/2.png");
  Insert("older", "09/12/2026 12:00:00", 1, "/srv/received/3.png");
  EXPECT_EQ(ListJournalEntries(db.ConnectString()).entries.size(), 4u);

  const NodeLastFaxes last = ListLastFaxByNode(db.ConnectString());
  ASSERT_TRUE(last.status.Ok()) << last.status.Describe();
  std::vector<std::pair<std::string, std::string>> byNode;
  for (const NodeLastFax& n : last.nodes) byNode.emplace_back(n.node, n.receivingTime);
  EXPECT_EQ(byNode,
            (std::vector<std::pair<std::string, std::string>>{
                {"", "2026-12-09 12:00:00"}, {"fax-a", "2026-12-07 10:00:00"}, {"fax-b", "2026-12-08 11:30:00"}}));
}

TEST_P(JournalTest, RowWithAnImpossibleTimeIsListedWithoutATime) {
  Insert("good", "02/01/2026 10:00:00", 1, "a");
  // Written around the programs: SQLite keeps any text, PostgreSQL knows
  // years before Christ.
  ExecuteSql(db.ConnectString(), std::string("INSERT INTO ReceivedFaxes (SenderNr, ReceivingTime, NumberOfPages,"
                                             " FaxFile) VALUES ('bad', '") +
                                     (GetParam() == Engine::kSQLite ? "2026-01-01 99:99:99" : "0044-03-15 BC") +
                                     "', 1, 'b')");
  Insert("older", "01/01/2025 10:00:00", 1, "c");
  JournalListing listing = ListJournalEntries(db.ConnectString());
  ASSERT_TRUE(listing.status.Ok()) << listing.status.Describe();
  ASSERT_EQ(listing.entries.size(), 3u);
  int bad = 0;
  for (const auto& e : listing.entries) {
    if (e.senderNr != "bad") {
      EXPECT_TRUE(e.receivingTime.has_value()) << e.senderNr;
      continue;
    }
    ++bad;
    EXPECT_FALSE(e.receivingTime.has_value());
  }
  EXPECT_EQ(bad, 1);
}

TEST_P(JournalTest, InvalidTimeWritesOneEventAndNoRow) {
  const Status inserted = InsertJournalEntry(log, "1", std::time_t{400000000000}, 1, "a", db.ConnectString());
  EXPECT_EQ(inserted.Describe(),
            "Error:0 Msg:22007 Description:The receiving time 400000000000 is not a date and time.");
  auto events = EventDescriptions(logFolder.Path());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0],
            LoggedForm(" Error:0 Msg:22007 Description:The receiving time 400000000000 is not a date and time."));
  EXPECT_TRUE(ListJournalEntries(db.ConnectString()).entries.empty());
}

TEST_P(JournalTest, UnreachableDataSourceWritesTheDriverDiagnostics) {
  std::string unreachable = GetParam() == Engine::kSQLite
                                ? "Driver=SQLite3;Database=" + logFolder.File("missing/kestrel.db") + ";NoCreat=1;"
                                : PostgresConnectString(1, "postgres");
  EXPECT_FALSE(InsertJournalEntry(log, "1", LocalTime("07/12/2026 10:11:12"), 1, "a", unreachable).Ok());
  auto events = EventDescriptions(logFolder.Path());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].starts_with("_Error:")) << events[0];
  EXPECT_NE(events[0].find("_Msg:"), std::string::npos);
  EXPECT_NE(events[0].find("_Description:"), std::string::npos);
  if (GetParam() == Engine::kPostgreSQL) {
    EXPECT_NE(events[0].find("Msg:08001"), std::string::npos) << events[0];
  }

  JournalListing listing = ListJournalEntries(unreachable);
  ASSERT_FALSE(listing.status.Ok());
  EXPECT_FALSE(listing.status.Error().text.ends_with("Description:"));  // the driver's message is there
  EXPECT_FALSE(DeleteJournalEntry(1, unreachable).Ok());
}

// The views' statements: windows of the list order (LIMIT and OFFSET), the
// filter over the number and the time as text, and totals over every match.
TEST_P(JournalTest, PagesAndFiltersFollowTheListOrderAndTotalsCountEveryMatch) {
  Insert("0301112222", "08/11/2026 07:30:00", 3, "/f/d.pdf");
  Insert("0301234567", "07/12/2026 09:14:03", 2, "/f/a.pdf");
  Insert("0897654321", "07/12/2026 11:02:47", 1, "/f/b.pdf");
  Insert("0402223344", "08/12/2026 08:30:12", 4, "/f/c.pdf");
  Insert("0405556666", "01/01/2027 00:00:00", 5, "/f/e.pdf");
  struct Case {
    const char* filter;
    int skip, max;
    std::vector<std::string> senders;
    std::int64_t rows, pages;
  } cases[] = {
      {"", 0, 2, {"0405556666", "0402223344"}, 5, 15},
      {"", 2, 2, {"0897654321", "0301234567"}, 5, 15},
      {"", 4, 10, {"0301112222"}, 5, 15},
      {"", 5, 10, {}, 5, 15},
      {"0301", 0, 10, {"0301234567", "0301112222"}, 2, 5},
      {"0301", 1, 10, {"0301112222"}, 2, 5},
      {"07.12.2026", 0, 10, {"0897654321", "0301234567"}, 2, 3},
      {"12.2026", 0, 10, {"0402223344", "0897654321", "0301234567"}, 3, 7},
      {"08.12.", 0, 10, {"0402223344"}, 1, 4},
      {"07:30", 0, 10, {"0301112222"}, 1, 3},
      {"2027-01", 0, 10, {"0405556666"}, 1, 5},
      {"%", 0, 10, {"0405556666", "0402223344", "0897654321", "0301234567", "0301112222"}, 5, 15},
      {"0999", 0, 10, {}, 0, 0},
  };
  for (const Case& c : cases) {
    const JournalListing page = ListJournalPage(JournalFilter{c.filter}, c.skip, c.max, db.ConnectString());
    ASSERT_TRUE(page.status.Ok()) << c.filter << ": " << page.status.Describe();
    std::vector<std::string> senders;
    for (const auto& e : page.entries) senders.push_back(e.senderNr);
    EXPECT_EQ(senders, c.senders) << "\"" << c.filter << "\" from " << c.skip;
    const JournalTotals totals = CountJournalEntries(JournalFilter{c.filter}, db.ConnectString());
    ASSERT_TRUE(totals.status.Ok()) << c.filter << ": " << totals.status.Describe();
    EXPECT_EQ(totals.rows, c.rows) << c.filter;
    EXPECT_EQ(totals.pages, c.pages) << c.filter;
  }
}

// More rows than the stream reads at once, most sharing one of three times,
// some without a time: every row once, in list order.
TEST_P(JournalTest, StreamHandsOnEveryRowOnceInListOrderAcrossWindows) {
  Insert("first", "09/12/2026 08:00:00", 1, "a");
  const bool postgres = GetParam() == Engine::kPostgreSQL;
  const std::string time =
      "CASE WHEN i % 500 = 0 THEN NULL WHEN i % 3 = 0 THEN '2026-12-07 10:00:00'"
      " WHEN i % 3 = 1 THEN '2026-12-08 09:00:00' ELSE '2025-01-01 00:00:00' END";
  ExecuteSql(db.ConnectString(),
             "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 4500)"
             " INSERT INTO ReceivedFaxes (SenderNr, ReceivingTime, NumberOfPages, FaxFile)"
             " SELECT CAST(i AS VARCHAR(8)), " +
                 (postgres ? "CAST(" + time + " AS TIMESTAMP)" : time) + ", 1, 'f' FROM n");
  std::vector<JournalEntry> rows;
  const Status listed = ForEachJournalEntry(
      [&](const JournalEntry& e) {
        rows.push_back(e);
        return true;
      },
      db.ConnectString());
  ASSERT_TRUE(listed.Ok()) << listed.Describe();
  ASSERT_EQ(rows.size(), 4501u);
  std::set<std::int32_t> ids;
  for (const auto& e : rows) ids.insert(e.id);
  EXPECT_EQ(ids.size(), rows.size()) << "each row once";
  EXPECT_EQ(rows[postgres ? 9 : 0].senderNr, "first");
  // Rows without a time: together, where the engine sorts NULL.
  for (std::size_t i = 0; i < 9; ++i)
    EXPECT_FALSE(rows[postgres ? i : rows.size() - 9 + i].receivingTime.has_value()) << i;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto& a = rows[i - 1];
    const auto& b = rows[i];
    if (a.receivingTime.has_value() != b.receivingTime.has_value()) continue;
    const bool before = a.receivingTime ? std::tie(a.receivingTime->year, a.receivingTime->month, a.receivingTime->day,
                                                   a.receivingTime->hour,
                                                   a.id) > std::tie(b.receivingTime->year, b.receivingTime->month,
                                                                    b.receivingTime->day, b.receivingTime->hour, b.id)
                                        : a.id > b.id;
    ASSERT_TRUE(before) << "row " << i;
  }
  // Stopping early hands on no more.
  int handed = 0;
  EXPECT_TRUE(ForEachJournalEntry([&](const JournalEntry&) { return ++handed < 2500; }, db.ConnectString()).Ok());
  EXPECT_EQ(handed, 2500);
}

INSTANTIATE_TEST_SUITE_P(Engines, JournalTest, ::testing::ValuesIn(kEngines),
                         [](const auto& info) { return EngineName(info.param); });

}  // namespace
}  // namespace kestrel::test
