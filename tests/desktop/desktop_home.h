// A desktop program's surroundings for one test: a temporary application
// folder (KESTREL_HOME) whose embedded SQLite database is the store's data
// source (ODBCINI names an empty file, so no data source "Kestrel" exists),
// and HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR and TMPDIR of its own, so that settings,
// registry file and instance locks of parallel tests never meet.
#pragma once

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace kestrel::test {

class CDesktopHome {
 public:
  CDesktopHome();
  ~CDesktopHome();
  CDesktopHome(const CDesktopHome&) = delete;
  CDesktopHome& operator=(const CDesktopHome&) = delete;

  // The application folder, with "/".
  const std::string& Path() const { return app_.Path(); }
  std::string File(const std::string& name) const { return app_.File(name); }
  // HOME (where a test puts .capi20rc).
  const std::string& Home() const { return home_.Path(); }
  // The embedded database's connect string, for checking tables directly.
  std::string ConnectString() const;
  // Creates the three tables as the service's start-up check does.
  void CreateTables() const;
  // "number|address" of every row of `table` (tblMSNEmail or tblTSIDEMail),
  // in the database's own order.
  std::vector<std::string> Rows(const std::string& table) const;

 private:
  CTempDir app_;
  CTempDir home_;
  std::string oldTmpDir_;
};

}  // namespace kestrel::test
