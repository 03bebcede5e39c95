// The editors' row changes on both engines and both forwarding tables: values
// with quotes and non-ASCII letters round-trip, duplicates are changed one
// row at a time, and bounds hold for values read back.
#include "store/forwarding_table.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "store/schema.h"
#include "tests/store/recording_notice_sink.h"
#include "tests/store/test_database.h"

namespace kestrel::test {
namespace {

struct Case {
  Engine engine;
  ForwardingTable table;
};

class ForwardingTableTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    EnsureMsnTable(administration, notices);
    ASSERT_TRUE(notices.texts.empty());
  }
  std::vector<ForwardingRow> Rows() { return ListForwardingRows(administration, GetParam().table); }
  void Add(const ForwardingRow& row) { AddForwardingRow(administration, GetParam().table, row); }

  CTestDatabase db{GetParam().engine};
  COdbcConnection administration{db.ConnectString()};
  CRecordingNoticeSink notices;
};

TEST_P(ForwardingTableTest, QuotesAndNonAsciiStoreAndFindUnchanged) {
  ForwardingRow tricky{"1'; DROP TABLE tblMSNEmail; --", "o'brien+\"fax\"@m\xc3\xbcller.example"};
  Add({"030 123", "blank@example.com"});
  Add(tricky);
  EXPECT_EQ(FindForwardingRow(administration, GetParam().table, tricky.number), tricky);
  EXPECT_EQ(FindForwardingRow(administration, GetParam().table, "030 123")->emailAddress, "blank@example.com");
  // Not trimmed: a number with a blank more is another number.
  EXPECT_FALSE(FindForwardingRow(administration, GetParam().table, "030 123 ").has_value());
  EXPECT_EQ(Rows(), (std::vector<ForwardingRow>{{"030 123", "blank@example.com"}, tricky}));
  // Both tables are still there.
  EXPECT_EQ(ListForwardingRows(administration, ForwardingTable::kMsn).size() +
                ListForwardingRows(administration, ForwardingTable::kTsid).size(),
            2u);
}

TEST_P(ForwardingTableTest, EditOfDuplicatesChangesOnlyTheFirstRowFound) {
  Add({"100", "first@example.com"});
  Add({"100", "second@example.com"});
  Add({"200", "other@example.com"});
  ASSERT_EQ(FindForwardingRow(administration, GetParam().table, "100")->emailAddress, "first@example.com");

  ASSERT_TRUE(EditForwardingRow(administration, GetParam().table, "100", {"101", "edited@example.com"}));
  auto rows = Rows();
  std::sort(rows.begin(), rows.end(), [](auto& a, auto& b) { return a.emailAddress < b.emailAddress; });
  EXPECT_EQ(rows, (std::vector<ForwardingRow>{
                      {"101", "edited@example.com"}, {"200", "other@example.com"}, {"100", "second@example.com"}}));
}

TEST_P(ForwardingTableTest, DeleteOfDuplicatesRemovesOnlyTheFirstRowFound) {
  Add({"100", "first@example.com"});
  Add({"100", "second@example.com"});
  Add({"100", "third@example.com"});
  auto first = *FindForwardingRow(administration, GetParam().table, "100");
  ASSERT_TRUE(DeleteForwardingRow(administration, GetParam().table, "100"));
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), first), 0);
  ASSERT_TRUE(DeleteForwardingRow(administration, GetParam().table, "100"));
  ASSERT_TRUE(DeleteForwardingRow(administration, GetParam().table, "100"));
  EXPECT_TRUE(Rows().empty());
  EXPECT_FALSE(DeleteForwardingRow(administration, GetParam().table, "100"));
}

TEST_P(ForwardingTableTest, MissingNumberChangesNothing) {
  Add({"100", "a@example.com"});
  EXPECT_FALSE(FindForwardingRow(administration, GetParam().table, "999").has_value());
  EXPECT_FALSE(EditForwardingRow(administration, GetParam().table, "999", {"1", "x@example.com"}));
  EXPECT_FALSE(DeleteForwardingRow(administration, GetParam().table, "999"));
  EXPECT_EQ(Rows(), (std::vector<ForwardingRow>{{"100", "a@example.com"}}));
}

TEST_P(ForwardingTableTest, EmptyValuesAreStoredAndFound) {
  Add({"", ""});
  EXPECT_EQ(FindForwardingRow(administration, GetParam().table, ""), (ForwardingRow{"", ""}));
}

TEST_P(ForwardingTableTest, EditedRowCanBeEditedAgainInTheSameRecordset) {
  // A PostgreSQL update moves the row to a new address; the recordset follows it.
  Add({"100", "a@example.com"});
  ASSERT_TRUE(EditForwardingRow(administration, GetParam().table, "100", {"100", "b@example.com"}));
  ASSERT_TRUE(EditForwardingRow(administration, GetParam().table, "100", {"100", "c@example.com"}));
  EXPECT_EQ(Rows(), (std::vector<ForwardingRow>{{"100", "c@example.com"}}));
}

// Values written around the programs (for example by an SQL console) are
// read back within the bound field size, cut at a character boundary.
TEST_P(ForwardingTableTest, OverlongValuesAreReadBackWithinTheFieldBound) {
  const char* table = GetParam().table == ForwardingTable::kMsn ? "tblMSNEmail" : "tblTSIDEMail";
  const char* column = GetParam().table == ForwardingTable::kMsn ? "MSN" : "TSID";
  if (GetParam().engine == Engine::kPostgreSQL)
    ExecuteSql(db.ConnectString(), std::string("ALTER TABLE ") + table + " ALTER COLUMN EmailAddress TYPE TEXT");
  // 127 two-byte letters and one more: 256 bytes.
  std::string longAddress;
  for (int i = 0; i < 128; ++i) longAddress += "\xc3\xbc";
  ExecuteSql(db.ConnectString(), std::string("INSERT INTO ") + table + " (" + column +
                                     ", EmailAddress) VALUES ('7', '" + longAddress + "')");
  auto row = FindForwardingRow(administration, GetParam().table, "7");
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->emailAddress, longAddress.substr(0, 254));
}

TEST_P(ForwardingTableTest, DatabaseErrorCarriesTheDriverText) {
  ExecuteSql(db.ConnectString(),
             GetParam().table == ForwardingTable::kMsn ? "DROP TABLE tblMSNEmail" : "DROP TABLE tblTSIDEMail");
  try {
    Add({"1", "a@example.com"});
    FAIL() << "the add succeeded without its table";
  } catch (const CDatabaseException& e) {
    std::string text = e.Message();
    std::transform(text.begin(), text.end(), text.begin(), ::tolower);
    EXPECT_NE(text.find(GetParam().table == ForwardingTable::kMsn ? "tblmsnemail" : "tbltsidemail"), std::string::npos)
        << e.Message();
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, ForwardingTableTest,
                         ::testing::Values(Case{Engine::kSQLite, ForwardingTable::kMsn},
                                           Case{Engine::kSQLite, ForwardingTable::kTsid},
                                           Case{Engine::kPostgreSQL, ForwardingTable::kMsn},
                                           Case{Engine::kPostgreSQL, ForwardingTable::kTsid}),
                         [](const auto& info) {
                           return EngineName(info.param.engine) +
                                  (info.param.table == ForwardingTable::kMsn ? "Msn" : "Tsid");
                         });

}  // namespace
}  // namespace kestrel::test
