// The data source choice and the connect-string edits it needs. Reads the
// ODBC ini files through the driver manager only; a connect string is parsed
// as "key=value" pairs separated by ";", values optionally in braces.
#include "store/data_source.h"

#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "platform/app_folder.h"

namespace kestrel {
namespace {

// libpq's bounds: a vanished network fails a call after 30 s of
// unacknowledged data, and an idle connection is probed every 10 s. (The
// connect is bounded by the login time-out, which psqlODBC hands to libpq as
// its connect_timeout.)
constexpr char kNetworkBounds[] =
    "tcp_user_timeout=30000 keepalives=1 keepalives_idle=10 keepalives_interval=5 keepalives_count=3";

struct Attribute {
  std::string key;
  std::string value;
};

bool SameKey(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

std::vector<Attribute> ParseConnectString(const std::string& text) {
  std::vector<Attribute> attributes;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t eq = text.find('=', pos);
    std::size_t semi = text.find(';', pos);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      // A fragment without "=" ("ODBC;" of the old connect strings): skipped.
      if (semi == std::string::npos) break;
      pos = semi + 1;
      continue;
    }
    Attribute attribute{text.substr(pos, eq - pos), {}};
    pos = eq + 1;
    if (pos < text.size() && text[pos] == '{') {
      std::size_t close = text.find('}', pos + 1);
      if (close == std::string::npos) close = text.size();
      attribute.value = text.substr(pos + 1, close - pos - 1);
      pos = close + 1;
      std::size_t next = text.find(';', pos);
      pos = next == std::string::npos ? text.size() : next + 1;
    } else {
      std::size_t end = text.find(';', pos);
      if (end == std::string::npos) end = text.size();
      attribute.value = text.substr(pos, end - pos);
      pos = end + 1;
    }
    attributes.push_back(std::move(attribute));
  }
  return attributes;
}

std::string JoinConnectString(const std::vector<Attribute>& attributes) {
  std::string text;
  for (const auto& a : attributes) {
    bool braces = a.value.find_first_of(";{} ") != std::string::npos;
    text += a.key + "=" + (braces ? "{" + a.value + "}" : a.value) + ";";
  }
  return text;
}

std::optional<std::string> FindAttribute(const std::vector<Attribute>& attributes, const char* key) {
  for (const auto& a : attributes)
    if (SameKey(a.key, key)) return a.value;
  return std::nullopt;
}

std::string ProfileString(const std::string& section, const char* key, const char* file) {
  char buffer[1024] = {};
  int n = SQLGetPrivateProfileString(section.c_str(), key, "", buffer, sizeof buffer, file);
  if (n <= 0) return {};
  return std::string(buffer, strnlen(buffer, sizeof buffer));
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Calls `visit(name, description)` for each entry SQLDataSources or SQLDrivers lists.
template <typename Visit>
void ListDriverManager(bool drivers, Visit visit) {
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return;
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLCHAR name[512], description[1024];
  SQLSMALLINT nameLen = 0, descriptionLen = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  for (;;) {
    SQLRETURN rc = drivers ? SQLDrivers(env, direction, name, sizeof name, &nameLen, description, sizeof description,
                                        &descriptionLen)
                           : SQLDataSources(env, direction, name, sizeof name, &nameLen, description,
                                            sizeof description, &descriptionLen);
    if (!SQL_SUCCEEDED(rc)) break;
    visit(std::string(reinterpret_cast<char*>(name), strnlen(reinterpret_cast<char*>(name), sizeof name)),
          std::string(reinterpret_cast<char*>(description),
                      strnlen(reinterpret_cast<char*>(description), sizeof description)));
    direction = SQL_FETCH_NEXT;
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

// The driver the connect string uses: its DRIVER value, or its DSN's "Driver".
std::string DriverOf(const std::vector<Attribute>& attributes) {
  if (auto driver = FindAttribute(attributes, "DRIVER")) return *driver;
  if (auto dsn = FindAttribute(attributes, "DSN")) return ProfileString(*dsn, "Driver", "odbc.ini");
  return {};
}

bool IsPsqlOdbc(const std::string& driver) {
  std::string library =
      driver.find('/') == std::string::npos ? ProfileString(driver, "Driver", "odbcinst.ini") : driver;
  std::string both = Lower(driver + " " + library);
  return both.find("psqlodbc") != std::string::npos || both.find("postgres") != std::string::npos;
}

bool IsDriverInstalled(const std::string& driver) {
  if (driver.find('/') != std::string::npos) {
    struct stat st {};
    return stat(driver.c_str(), &st) == 0;
  }
  bool found = false;
  ListDriverManager(true, [&](const std::string& name, const std::string&) {
    if (strcasecmp(name.c_str(), driver.c_str()) == 0) found = true;
  });
  return found;
}

}  // namespace

bool IsKestrelDataSourceDefined() {
  bool found = false;
  ListDriverManager(false, [&](const std::string& name, const std::string&) {
    if (strcasecmp(name.c_str(), kDataSourceName) == 0) found = true;
  });
  return found;
}

std::string DataSourceConnectString() {
  if (IsKestrelDataSourceDefined()) return std::string("DSN=") + kDataSourceName;
  return EmbeddedConnectString(ApplicationFolder());
}

std::string EmbeddedConnectString(const std::string& folder) {
  // The SQLite driver takes braces as part of the path, so a ";" in the folder
  // would cut the path short and open some other file.
  if (folder.find(';') != std::string::npos)
    throw CDatabaseException({"HY000", 0,
                              "The application folder \"" + folder +
                                  "\" contains \";\", which an ODBC connect string cannot hold. "
                                  "Define the data source \"Kestrel\" or set KESTREL_HOME."});
  return "Driver=SQLite3;Database=" + folder + kEmbeddedDatabaseFile + ";Timeout=5000;JournalMode=WAL;";
}

std::string WithNetworkBounds(const std::string& connectString) {
  std::vector<Attribute> attributes = ParseConnectString(connectString);
  std::string driver = DriverOf(attributes);
  if (driver.empty() || !IsPsqlOdbc(driver)) return connectString;

  std::string theirs;
  auto it =
      std::find_if(attributes.begin(), attributes.end(), [](const Attribute& a) { return SameKey(a.key, "PQOPT"); });
  if (it != attributes.end()) {
    theirs = it->value;
    attributes.erase(it);
  } else if (auto dsn = FindAttribute(attributes, "DSN")) {
    theirs = ProfileString(*dsn, "pqopt", "odbc.ini");
    if (theirs.size() >= 2 && theirs.front() == '{' && theirs.back() == '}')
      theirs = theirs.substr(1, theirs.size() - 2);
  }
  // psqlODBC refuses a key given twice: an option of theirs replaces ours.
  std::string merged;
  std::size_t pos = 0;
  const std::string ours = kNetworkBounds;
  while (pos < ours.size()) {
    std::size_t end = ours.find(' ', pos);
    if (end == std::string::npos) end = ours.size();
    std::string option = ours.substr(pos, end - pos);
    std::string key = option.substr(0, option.find('=') + 1);
    bool replaced = (" " + theirs).find(" " + key) != std::string::npos;
    if (!replaced) merged += (merged.empty() ? "" : " ") + option;
    pos = end + 1;
  }
  if (!theirs.empty()) merged += (merged.empty() ? "" : " ") + theirs;
  attributes.push_back({"pqopt", merged});
  return JoinConnectString(attributes);
}

DatabaseError ExplainConnectFailure(const std::string& connectString, DatabaseError error) {
  if (error.sqlState != "IM002") return error;
  std::vector<Attribute> attributes = ParseConnectString(connectString);
  std::string driver = DriverOf(attributes);
  if (driver.empty() || IsDriverInstalled(driver)) return error;
  if (auto dsn = FindAttribute(attributes, "DSN")) {
    error.message = "The data source \"" + *dsn + "\" uses the ODBC driver \"" + driver +
                    "\", which is not installed. (" + error.message + ")";
  } else {
    error.message = "The ODBC driver \"" + driver + "\" is not installed. (" + error.message + ")";
  }
  return error;
}

}  // namespace kestrel
