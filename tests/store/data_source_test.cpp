// The data-source choice: the data source "Kestrel" when the ODBC ini files
// define it, otherwise the embedded SQLite file in the application folder;
// and the connect-string edits that bound network waits.
#include "store/data_source.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "store/forwarding_table.h"
#include "store/journal.h"
#include "store/odbc_connection.h"
#include "store/schema.h"
#include "tests/store/recording_notice_sink.h"
#include "tests/store/test_database.h"
#include "tests/support/file_util.h"
#include "tests/support/local_time.h"

namespace kestrel::test {
namespace {

// Sets an environment variable for one test and restores it afterwards.
class CScopedEnv {
 public:
  CScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~CScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// No data source at all, whatever the machine's ini files define.
class CIsolatedOdbcIni {
 public:
  CIsolatedOdbcIni() { COdbcIniFiles::Instance().SetUserDataSources(""); }
  bool Claimed() { return COdbcIniFiles::Instance().ClaimForThisTest(); }
  ~CIsolatedOdbcIni() { COdbcIniFiles::Instance().SetUserDataSources(""); }
  void Define(const std::string& contents) { COdbcIniFiles::Instance().SetUserDataSources(contents); }
};

TEST(DataSource, WithoutDataSourceAFreshApplicationFolderGetsAWorkingDatabase) {
  CIsolatedOdbcIni ini;
  if (!ini.Claimed()) GTEST_SKIP() << "another case of this process read the ODBC ini files; run it alone";
  CTempDir home;
  CScopedEnv kestrelHome("KESTREL_HOME", home.Path());
  EXPECT_FALSE(IsKestrelDataSourceDefined());
  EXPECT_EQ(DataSourceConnectString(), EmbeddedConnectString(home.Path()));
  EXPECT_FALSE(FileExists(home.File("kestrel.db")));

  COdbcConnection administration;
  CRecordingNoticeSink notices;
  EnsureMsnTable(administration, notices);
  EXPECT_TRUE(notices.texts.empty()) << notices.texts.front();
  EXPECT_TRUE(FileExists(home.File("kestrel.db")));
  EXPECT_EQ(administration.Engine(), DatabaseEngine::kSQLite);
  AddForwardingRow(administration, ForwardingTable::kMsn, {"4711", "a@example.com"});

  CEventLog log(home.Path());
  ASSERT_TRUE(InsertJournalEntry(log, "0301234", LocalTime("07/12/2026 10:11:12"), 2, "/faxes/a.sff").Ok());
  JournalListing listing = ListJournalEntries();
  ASSERT_TRUE(listing.status.Ok()) << listing.status.Describe();
  ASSERT_EQ(listing.entries.size(), 1u);
  EXPECT_EQ(listing.entries[0].senderNr, "0301234");
  // The same file, seen from outside.
  EXPECT_EQ(QueryColumn(EmbeddedConnectString(home.Path()), "SELECT EmailAddress FROM tblMSNEmail"),
            std::vector<std::string>{"a@example.com"});
}

TEST(DataSource, ApplicationFolderWithSemicolonIsRefusedWithoutStrayFiles) {
  CIsolatedOdbcIni ini;
  if (!ini.Claimed()) GTEST_SKIP() << "another case of this process read the ODBC ini files; run it alone";
  CTempDir parent;
  std::filesystem::create_directories(parent.File("a;b"));
  CScopedEnv kestrelHome("KESTREL_HOME", parent.File("a;b/"));
  COdbcConnection db;
  try {
    db.Open();
    FAIL() << "opened a database in a folder with a semicolon";
  } catch (const CDatabaseException& e) {
    EXPECT_NE(e.Message().find("contains \";\""), std::string::npos) << e.Message();
  }
  EXPECT_TRUE(std::filesystem::is_empty(parent.File("a;b")));
  EXPECT_FALSE(FileExists(parent.File("a")));
}

TEST(DataSource, DataSourceWithMissingDriverNamesTheDriver) {
  CIsolatedOdbcIni ini;
  if (!ini.Claimed()) GTEST_SKIP() << "another case of this process read the ODBC ini files; run it alone";
  ini.Define("[Kestrel]\nDriver=NoSuchDriver\nDatabase=/nowhere\n");
  EXPECT_TRUE(IsKestrelDataSourceDefined());
  COdbcConnection db;
  try {
    db.Open();
    FAIL() << "opened a data source without a driver";
  } catch (const CDatabaseException& e) {
    EXPECT_EQ(e.Error().sqlState, "IM002");
    EXPECT_NE(e.Message().find("The data source \"Kestrel\" uses the ODBC driver \"NoSuchDriver\", which is not "
                               "installed."),
              std::string::npos)
        << e.Message();
  }
}

TEST(DataSource, OnlyPsqlOdbcGetsNetworkBounds) {
  std::string sqlite = "Driver=SQLite3;Database=/tmp/x.db;";
  EXPECT_EQ(WithNetworkBounds(sqlite), sqlite);
  std::string bounded =
      WithNetworkBounds("Driver={PostgreSQL Unicode};Server=db.example;Port=5432;pqopt={sslmode=require};");
  EXPECT_NE(bounded.find("Server=db.example;"), std::string::npos) << bounded;
  EXPECT_NE(bounded.find("pqopt={tcp_user_timeout=30000 keepalives=1"), std::string::npos) << bounded;
  // The caller's own options come last, so libpq lets them win.
  EXPECT_NE(bounded.find("keepalives_count=3 sslmode=require};"), std::string::npos) << bounded;
  EXPECT_EQ(bounded.find("pqopt", bounded.find("pqopt") + 1), std::string::npos) << bounded;
  // psqlODBC refuses a key given twice: the caller's replaces ours.
  EXPECT_EQ(WithNetworkBounds("Driver={PostgreSQL Unicode};pqopt={connect_timeout=2 keepalives_idle=20};"),
            "Driver={PostgreSQL Unicode};pqopt={tcp_user_timeout=30000 keepalives=1 keepalives_interval=5 "
            "keepalives_count=3 connect_timeout=2 keepalives_idle=20};");
}

class DefinedDataSourceTest : public ::testing::TestWithParam<Engine> {
 protected:
  CTestDatabase db{GetParam()};
  CTempDir home;
  CScopedEnv kestrelHome{"KESTREL_HOME", home.Path()};
};

TEST_P(DefinedDataSourceTest, DefinedDataSourceIsUsedForEveryConnection) {
  if (!COdbcIniFiles::Instance().ClaimForThisTest())
    GTEST_SKIP() << "another case of this process read the ODBC ini files; run it alone";
  db.DefineKestrelDataSource(GetParam() == Engine::kPostgreSQL ? "pqopt={application_name=kestrel-test}\n" : "");
  EXPECT_TRUE(IsKestrelDataSourceDefined());
  EXPECT_EQ(DataSourceConnectString(), "DSN=Kestrel");
  if (GetParam() == Engine::kPostgreSQL) {
    std::string bounded = WithNetworkBounds("DSN=Kestrel");
    EXPECT_NE(bounded.find("tcp_user_timeout=30000"), std::string::npos) << bounded;
    EXPECT_NE(bounded.find("application_name=kestrel-test}"), std::string::npos) << bounded;
  }

  COdbcConnection administration;
  CRecordingNoticeSink notices;
  EnsureMsnTable(administration, notices);
  ASSERT_TRUE(notices.texts.empty()) << notices.texts.front();
  EXPECT_EQ(administration.Engine(),
            GetParam() == Engine::kSQLite ? DatabaseEngine::kSQLite : DatabaseEngine::kPostgreSQL);
  AddForwardingRow(administration, ForwardingTable::kTsid, {"0301234", "b@example.com"});
  CEventLog log(home.Path());
  ASSERT_TRUE(InsertJournalEntry(log, "0301234", LocalTime("07/12/2026 10:11:12"), 2, "/faxes/a.sff").Ok());

  EXPECT_EQ(QueryColumn(db.ConnectString(), "SELECT EmailAddress FROM tblTSIDEMail"),
            std::vector<std::string>{"b@example.com"});
  EXPECT_EQ(QueryColumn(db.ConnectString(), "SELECT FaxFile FROM ReceivedFaxes"),
            std::vector<std::string>{"/faxes/a.sff"});
  EXPECT_FALSE(FileExists(home.File("kestrel.db")));
  if (GetParam() == Engine::kPostgreSQL) {
    // The data source's own option reached libpq.
    EXPECT_EQ(QueryColumn(db.ConnectString(),
                          "SELECT count(*) FROM pg_stat_activity WHERE application_name = "
                          "'kestrel-test' AND datname = '" +
                              db.Name() + "'"),
              std::vector<std::string>{"1"});
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, DefinedDataSourceTest, ::testing::ValuesIn(kEngines),
                         [](const auto& info) { return EngineName(info.param); });

}  // namespace
}  // namespace kestrel::test
