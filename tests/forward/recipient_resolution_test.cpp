// Recipient resolution against real databases, on both engines: which calls
// are taken, which addresses each lookup yields and in what order, and what a
// database error leaves behind.
#include "forward/recipient_resolution.h"

#include <gtest/gtest.h>

#include "store/forwarding_table.h"
#include "store/schema.h"
#include "tests/store/recording_notice_sink.h"
#include "tests/store/test_database.h"
#include "tests/support/file_util.h"

namespace kestrel::test {
namespace {

class RecipientResolutionTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    EnsureMsnTable(administration, notices);
    ASSERT_TRUE(notices.texts.empty());
  }
  void AddMsn(const std::string& msn, const std::string& address) {
    AddForwardingRow(administration, ForwardingTable::kMsn, {msn, address});
  }
  void AddTsid(const std::string& tsid, const std::string& address) {
    AddForwardingRow(administration, ForwardingTable::kTsid, {tsid, address});
  }
  std::vector<std::string> Events() { return EventDescriptions(logFolder.Path()); }

  CTestDatabase db{GetParam()};
  COdbcConnection administration{db.ConnectString()};
  COdbcConnection reception{db.ConnectString()};
  CRecordingNoticeSink notices;
  CTempDir logFolder;
  CEventLog log{logFolder.Path()};
  CRecipientResolver resolver{0, "", reception, log};
};

TEST_P(RecipientResolutionTest, AcceptAllTakesEveryCallWithoutTheDatabase) {
  // The data source is unreachable: with All on it is never asked.
  COdbcConnection unreachable(GetParam() == Engine::kSQLite
                                  ? "Driver=SQLite3;Database=" + logFolder.File("none/x.db") + ";NoCreat=1;"
                                  : PostgresConnectString(1, "postgres"));
  CRecipientResolver all(5, "all@example.com", unreachable, log);
  std::string recipients = "earlier@example.com;";
  EXPECT_EQ(all.AcceptsCalledNumber("999", recipients), 5);
  EXPECT_EQ(recipients, "all@example.com");
  EXPECT_FALSE(unreachable.IsOpen());
  EXPECT_TRUE(Events().empty());
}

TEST_P(RecipientResolutionTest, MsnRowTakesTheCallAndAppendsItsAddress) {
  AddMsn("4711", "a@example.com");
  EXPECT_FALSE(reception.IsOpen());  // opened by its first lookup
  std::string recipients = "earlier@example.com;";
  EXPECT_EQ(resolver.AcceptsCalledNumber("4711", recipients), 1);
  EXPECT_EQ(recipients, "earlier@example.com;a@example.com;");
  EXPECT_TRUE(reception.IsOpen());
  EXPECT_TRUE(Events().empty());
}

TEST_P(RecipientResolutionTest, UnknownMsnRefusesTheCallAndKeepsTheText) {
  AddMsn("4711", "a@example.com");
  std::string recipients = "kept;";
  EXPECT_EQ(resolver.AcceptsCalledNumber("4712", recipients), 0);
  EXPECT_EQ(resolver.AcceptsCalledNumber("4711 ", recipients), 0);
  EXPECT_EQ(recipients, "kept;");
  EXPECT_TRUE(Events().empty());
}

TEST_P(RecipientResolutionTest, DuplicateMsnRowsUseTheFirstRowOnly) {
  AddMsn("4711", "first@example.com");
  AddMsn("4711", "second@example.com");
  std::string recipients;
  EXPECT_EQ(resolver.AcceptsCalledNumber("4711", recipients), 1);
  EXPECT_EQ(recipients, "first@example.com;");
}

TEST_P(RecipientResolutionTest, EmptyMsnAddressTakesTheCallAndTheCallerRowsCarryTheMail) {
  AddMsn("4711", "");
  AddTsid("0301234", "b@example.com");
  AddTsid("0301234", "c@example.com");
  std::string recipients;
  EXPECT_EQ(resolver.AcceptsCalledNumber("4711", recipients), 1);
  EXPECT_EQ(recipients, "");
  EXPECT_EQ(resolver.LookupTsidRecipients("0301234"), "b@example.com;c@example.com;");
}

TEST_P(RecipientResolutionTest, CallerRowsComeInDatabaseOrderEmptyAddressesIncluded) {
  AddTsid("0301234", "b@example.com");
  AddTsid("0309999", "other@example.com");
  AddTsid("0301234", "");
  AddTsid("0301234", "b@example.com");
  EXPECT_EQ(resolver.LookupTsidRecipients("0301234"), "b@example.com;;b@example.com;");
  EXPECT_EQ(resolver.LookupTsidRecipients("0301235"), "");
}

TEST_P(RecipientResolutionTest, CallerWithoutNumberMatchesRowsWithEmptyTsid) {
  AddTsid("", "anonymous@example.com");
  AddTsid("0301234", "b@example.com");
  EXPECT_EQ(resolver.LookupTsidRecipients(""), "anonymous@example.com;");
}

TEST_P(RecipientResolutionTest, StatementTextInANumberIsJustANumber) {
  const std::string hostile = "1'; DROP TABLE tblMSNEmail; --";
  AddMsn("4711", "a@example.com");
  std::string recipients;
  EXPECT_EQ(resolver.AcceptsCalledNumber(hostile, recipients), 0);
  EXPECT_EQ(resolver.LookupTsidRecipients("x' OR '1'='1"), "");
  EXPECT_EQ(ListForwardingRows(administration, ForwardingTable::kMsn).size(), 1u);
  // Stored by the editors, the same text is found as it is.
  AddMsn(hostile, "quoted@example.com");
  EXPECT_EQ(resolver.AcceptsCalledNumber(hostile, recipients), 1);
  EXPECT_EQ(recipients, "quoted@example.com;");
  EXPECT_TRUE(Events().empty());
}

TEST_P(RecipientResolutionTest, RowsChangedByTheEditorsCountFromTheNextCall) {
  std::string recipients;
  EXPECT_EQ(resolver.AcceptsCalledNumber("4711", recipients), 0);
  AddMsn("4711", "a@example.com");
  EXPECT_EQ(resolver.AcceptsCalledNumber("4711", recipients), 1);
  ASSERT_TRUE(DeleteForwardingRow(administration, ForwardingTable::kMsn, "4711"));
  EXPECT_EQ(resolver.AcceptsCalledNumber("4711", recipients), 0);
}

TEST_P(RecipientResolutionTest, MissingTablesCountAsNoRowAndWriteOneEventEach) {
  ExecuteSql(db.ConnectString(), "DROP TABLE tblMSNEmail");
  ExecuteSql(db.ConnectString(), "DROP TABLE tblTSIDEMail");
  std::string recipients = "kept;";
  EXPECT_EQ(resolver.AcceptsCalledNumber("4711", recipients), 0);
  EXPECT_EQ(recipients, "kept;");
  EXPECT_EQ(resolver.LookupTsidRecipients("0301234"), "");
  auto events = Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_TRUE(
      events[0].starts_with(LoggedForm("AcceptsCalledNumber, lookup of \"4711\" in tblMSNEmail failed, "
                                       "counted as no row: Error:")))
      << events[0];
  EXPECT_TRUE(
      events[1].starts_with(LoggedForm("LookupTsidRecipients, lookup of \"0301234\" in tblTSIDEMail "
                                       "failed, counted as no row: Error:")))
      << events[1];
  EXPECT_NE(events[0].find("Description:"), std::string::npos);
  // The connection itself is fine: the next lookup needs no reconnect.
  EXPECT_TRUE(reception.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Engines, RecipientResolutionTest, ::testing::ValuesIn(kEngines),
                         [](const auto& info) { return EngineName(info.param); });

}  // namespace
}  // namespace kestrel::test
