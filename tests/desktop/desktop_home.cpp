#include "tests/desktop/desktop_home.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "store/data_source.h"
#include "store/odbc_connection.h"
#include "store/schema.h"
#include "tests/store/recording_notice_sink.h"
#include "tests/store/test_database.h"
#include "tests/support/file_util.h"

namespace kestrel::test {

CDesktopHome::CDesktopHome() {
  ::setenv("KESTREL_HOME", app_.Path().c_str(), 1);
  ::setenv("HOME", home_.Path().c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (home_.Path() + ".config").c_str(), 1);
  std::filesystem::create_directory(home_.File("run"));
  std::filesystem::permissions(home_.File("run"), std::filesystem::perms::owner_all);
  ::setenv("XDG_RUNTIME_DIR", home_.File("run").c_str(), 1);
  // Local sockets land in TMPDIR: a folder of this test's own.
  const char* tmp = std::getenv("TMPDIR");
  oldTmpDir_ = tmp ? tmp : "";
  std::filesystem::create_directory(home_.File("tmp"));
  ::setenv("TMPDIR", home_.File("tmp").c_str(), 1);
  WriteFileBytes(home_.File("odbc.ini"), "");
  ::setenv("ODBCINI", home_.File("odbc.ini").c_str(), 1);
}

CDesktopHome::~CDesktopHome() {
  ::unsetenv("KESTREL_HOME");
  ::unsetenv("XDG_RUNTIME_DIR");
  if (oldTmpDir_.empty())
    ::unsetenv("TMPDIR");
  else
    ::setenv("TMPDIR", oldTmpDir_.c_str(), 1);
}

std::string CDesktopHome::ConnectString() const { return EmbeddedConnectString(app_.Path()); }

void CDesktopHome::CreateTables() const {
  COdbcConnection db;
  CRecordingNoticeSink notices;
  EnsureMsnTable(db, notices);
  if (!notices.texts.empty()) throw std::runtime_error("table check failed: " + notices.texts[0]);
}

std::vector<std::string> CDesktopHome::Rows(const std::string& table) const {
  const std::string number = table == "tblMSNEmail" ? "MSN" : "TSID";
  return QueryColumn(ConnectString(), "SELECT " + number + " || '|' || EmailAddress FROM " + table + " ORDER BY rowid");
}

}  // namespace kestrel::test
