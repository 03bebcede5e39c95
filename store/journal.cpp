// The journal statements: INSERT with five or six bound values, the newest-first
// SELECT in windows, the filtered page and its totals, and the DELETE by key,
// each on a connection of its own.
#include "store/journal.h"

#include <algorithm>
#include <ctime>
#include <mutex>
#include <set>
#include <vector>

#include "store/schema.h"

namespace kestrel {
namespace {

// Without a node the row's Node stays NULL, as in rows of older versions.
constexpr char kInsert[] =
    "INSERT INTO ReceivedFaxes (SenderNr, ReceivingTime, NumberOfPages, FaxFile, Status) VALUES (?, ?, ?, ?, ?)";
constexpr char kInsertOfNode[] =
    "INSERT INTO ReceivedFaxes (SenderNr, ReceivingTime, NumberOfPages, FaxFile, Status, Node)"
    " VALUES (?, ?, ?, ?, ?, ?)";
constexpr char kAlreadyJournaled[] =
    "SELECT COUNT(*) FROM ReceivedFaxes WHERE Node = ? AND FaxFile = ? AND ReceivingTime = ?";
// The time as text: one form on both engines, and no driver conversion of an aggregate.
constexpr char kLastByNode[] =
    "SELECT Node, CAST(MAX(ReceivingTime) AS VARCHAR(32)) FROM ReceivedFaxes WHERE ReceivingTime IS NOT NULL"
    " GROUP BY Node";
// The same order as the full listing, one window of it; the index keeps the
// first window of a large journal from sorting every row.
constexpr char kListFrom[] =
    "SELECT ID, SenderNr, ReceivingTime, NumberOfPages, FaxFile, Status, Node FROM ReceivedFaxes";
constexpr char kOrderWindow[] = " ORDER BY ReceivingTime DESC, ID DESC LIMIT ? OFFSET ?";
constexpr char kCount[] = "SELECT COUNT(*), SUM(NumberOfPages) FROM ReceivedFaxes";
constexpr char kFilterWhere[] = " WHERE SenderNr LIKE ? OR CAST(ReceivingTime AS VARCHAR(32)) LIKE ?";
constexpr char kTimeIndex[] = "CREATE INDEX IF NOT EXISTS ReceivedFaxesTime ON ReceivedFaxes (ReceivingTime, ID)";
constexpr char kDelete[] = "DELETE FROM ReceivedFaxes WHERE ID = ?";
// Streaming every row in list order, a window at a time: drivers read a whole
// result before its first row (the SQLite driver does, psqlODBC by default),
// so one statement over the journal would hold all of it. Each window starts
// after the last row handed on, by its time as text and its key, which the
// index serves directly. Rows without a time have no place in that order:
// they come where the engine sorts NULL (after the rest on SQLite, before it
// on PostgreSQL), newest key first.
constexpr int kStreamRows = 2000;
constexpr char kStreamFrom[] =
    "SELECT ID, SenderNr, ReceivingTime, NumberOfPages, FaxFile, Status, Node,"
    " CAST(ReceivingTime AS VARCHAR(32)) AS TimeText FROM ReceivedFaxes";
constexpr char kStreamTimedFirst[] = " WHERE ReceivingTime IS NOT NULL ORDER BY ReceivingTime DESC, ID DESC LIMIT ?";
constexpr char kStreamTimedAfter[] = " WHERE (ReceivingTime, ID) < (?, ?) ORDER BY ReceivingTime DESC, ID DESC LIMIT ?";
constexpr char kStreamUntimed[] = " WHERE ReceivingTime IS NULL AND ID < ? ORDER BY ID DESC LIMIT ?";
constexpr std::size_t kTimeTextBytes = 64;

constexpr std::size_t kSenderBytes = 1024;
constexpr std::size_t kFaxFileBytes = 4096;
constexpr std::size_t kStatusBytes = 255;  // the Status and Node columns' size
constexpr std::size_t kNodeBytes = kStatusBytes;

// Runs `action` on a fresh connection; when it fails because ReceivedFaxes is
// missing, creates the table and runs it once more.
template <typename Action>
void WithJournalTable(const std::string& connectString, Action action) {
  COdbcConnection db(connectString);
  db.Open();
  try {
    action(db);
  } catch (const CDatabaseException&) {
    if (!db.IsOpen() || !CreateJournalTableIfMissing(db)) throw;
    action(db);
  }
}

// Reads the current row of a statement over the seven listed columns.
JournalEntry ReadEntry(COdbcStatement& statement, COdbcConnection& db) {
  JournalEntry entry;
  entry.id = statement.GetInt32(1).value_or(0);
  entry.senderNr = statement.GetText(2, kSenderBytes).value_or("");
  try {
    entry.receivingTime = statement.GetTimestamp(3);
  } catch (const CDatabaseException&) {
    // A time no calendar has (written around the programs): the row is
    // still listed, so it can be seen and deleted.
    if (!db.IsOpen()) throw;
  }
  entry.numberOfPages = statement.GetInt32(4).value_or(0);
  entry.faxFile = statement.GetText(5, kFaxFileBytes).value_or("");
  entry.status = statement.GetText(6, kStatusBytes).value_or("");
  entry.node = statement.GetText(7, kNodeBytes).value_or("");
  return entry;
}

// LIKE treats "%" and "_" as wildcards; a user's text is matched as written.
std::string LikeLiteral(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '%' || c == '_' || c == '\\') continue;
    out += c;
  }
  return out;
}

// At most the Status or Node column's bytes, cut before a character rather than inside one.
std::string FittedColumn(const std::string& text) {
  std::size_t end = std::min(text.size(), kStatusBytes);
  while (end < text.size() && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

bool AlreadyJournaled(COdbcConnection& db, const std::string& node, const std::string& faxFile,
                      const std::string& storedTime) {
  COdbcStatement statement(db);
  statement.Execute(kAlreadyJournaled, {node, faxFile, storedTime});
  return statement.Fetch() && statement.GetInt32(1).value_or(0) > 0;
}

bool AllDigits(const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }

std::string TwoDigits(const std::string& s) { return s.size() == 1 ? "0" + s : s; }

// The stored form ("YYYY-MM-DD HH:MM:SS") of a date the views show as
// "DD.MM.YYYY", or any part of it; the text itself when it is not such a date.
std::string StoredTimePattern(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (parts.size() < 2 || parts.size() > 3) return "%" + text + "%";
  if (parts.size() == 3 && parts[2].empty()) parts.pop_back();  // "08.12."
  for (const std::string& p : parts)
    if (!AllDigits(p) || p.size() > 4) return "%" + text + "%";
  if (parts.size() == 3 && parts[0].size() <= 2 && parts[1].size() <= 2 && parts[2].size() == 4)
    return parts[2] + "-" + TwoDigits(parts[1]) + "-" + TwoDigits(parts[0]) + "%";
  if (parts.size() == 2 && parts[0].size() <= 2 && parts[1].size() == 4)  // month and year
    return parts[1] + "-" + TwoDigits(parts[0]) + "-%";
  if (parts.size() == 2 && parts[0].size() <= 2 && parts[1].size() <= 2)  // day and month
    return "%-" + TwoDigits(parts[1]) + "-" + TwoDigits(parts[0]) + " %";
  return "%" + text + "%";
}

// The WHERE clause and its two values for `filter` (none when empty).
std::string FilterClause(const JournalFilter& filter, std::vector<SqlParameter>& parameters) {
  const std::string text = LikeLiteral(filter.text);
  if (text.empty()) return {};
  parameters.emplace_back("%" + text + "%");
  parameters.emplace_back(StoredTimePattern(text));
  return kFilterWhere;
}

// The index over the list order, made once per process and data source: an
// older journal has none, and a window of a large one would sort every row.
void EnsureTimeIndex(COdbcConnection& db, const std::string& connectString) {
  static std::mutex mutex;
  static std::set<std::string> done;
  std::lock_guard<std::mutex> lock(mutex);
  if (done.count(connectString)) return;
  db.ExecuteDirect(kTimeIndex, {});
  done.insert(connectString);
}

}  // namespace

std::optional<std::string> StoredReceivingTime(std::time_t receivingTime) {
  std::tm tm{};
  if (!localtime_r(&receivingTime, &tm) || tm.tm_year + 1900 < 1 || tm.tm_year + 1900 > 9999) return std::nullopt;
  char out[32];
  std::strftime(out, sizeof out, "%Y-%m-%d %H:%M:%S", &tm);
  return std::string(out);
}

Status InsertJournalEntry(IEventLog& log, const std::string& senderNr, std::time_t receivingTime, int numberOfPages,
                          const std::string& faxFile, const std::string& connectString, const std::string& status,
                          const std::string& node) {
  const auto failed = [&log](const DatabaseError& error) {
    const Failure failure = DatabaseFailure(error);
    log.WriteEventText(" " + failure.text);
    return Status(failure);
  };
  std::optional<std::string> stored = StoredReceivingTime(receivingTime);
  if (!stored)
    return failed({"22007", 0, "The receiving time " + std::to_string(receivingTime) + " is not a date and time."});
  try {
    WithJournalTable(connectString, [&](COdbcConnection& db) {
      std::vector<SqlParameter> values = {senderNr, *stored, static_cast<std::int32_t>(numberOfPages), faxFile,
                                          FittedColumn(status)};
      if (node.empty()) {
        db.ExecuteDirect(kInsert, values);
      } else {
        if (AlreadyJournaled(db, FittedColumn(node), faxFile, *stored)) return;
        values.emplace_back(FittedColumn(node));
        db.ExecuteDirect(kInsertOfNode, values);
      }
      // The writer makes the views' index, so that no view start pays for it.
      try {
        EnsureTimeIndex(db, connectString);
      } catch (const CDatabaseException&) {
        if (!db.IsOpen()) throw;
      }
    });
  } catch (const CDatabaseException& e) {
    return failed(e.Error());
  }
  return {};
}

NodeLastFaxes ListLastFaxByNode(const std::string& connectString) {
  NodeLastFaxes last;
  try {
    WithJournalTable(connectString, [&](COdbcConnection& db) {
      last.nodes.clear();
      COdbcStatement statement(db);
      statement.Execute(kLastByNode, {});
      while (statement.Fetch())
        last.nodes.push_back(
            {statement.GetText(1, kNodeBytes).value_or(""), statement.GetText(2, kTimeTextBytes).value_or("")});
    });
  } catch (const CDatabaseException& e) {
    last.status = DatabaseFailure(e.Error());
  }
  std::sort(last.nodes.begin(), last.nodes.end(),
            [](const NodeLastFax& a, const NodeLastFax& b) { return a.node < b.node; });
  return last;
}

JournalListing ListJournalEntries(const std::string& connectString) {
  JournalListing listing;
  listing.status = ForEachJournalEntry(
      [&](const JournalEntry& entry) {
        listing.entries.push_back(entry);
        return true;
      },
      connectString);
  return listing;
}

Status ForEachJournalEntry(const std::function<bool(const JournalEntry&)>& each, const std::string& connectString) {
  bool handedOn = false;
  try {
    WithJournalTable(connectString, [&](COdbcConnection& db) {
      // A retry after the table was made must not repeat rows already given.
      if (handedOn) return;
      try {
        EnsureTimeIndex(db, connectString);
      } catch (const CDatabaseException&) {
        if (!db.IsOpen()) throw;
      }
      bool stopped = false;
      // Runs windows of `sql` until one comes back short; `next` gets each
      // row handed on and sets the parameters of the following window.
      const auto windows = [&](std::vector<SqlParameter> parameters, const std::string& first, const std::string& after,
                               auto next) {
        std::string sql = first;
        while (!stopped) {
          COdbcStatement statement(db);
          statement.Execute(std::string(kStreamFrom) + sql, parameters);
          int rows = 0;
          while (statement.Fetch()) {
            ++rows;
            handedOn = true;
            const JournalEntry entry = ReadEntry(statement, db);
            parameters = next(entry, statement);
            if (!each(entry)) {
              stopped = true;
              return;
            }
          }
          if (rows < kStreamRows) return;
          sql = after;
        }
      };
      const auto timed = [&] {
        windows({std::int32_t{kStreamRows}}, kStreamTimedFirst, kStreamTimedAfter,
                [](const JournalEntry& entry, COdbcStatement& statement) {
                  return std::vector<SqlParameter>{statement.GetText(8, kTimeTextBytes).value_or(""), entry.id,
                                                   std::int32_t{kStreamRows}};
                });
      };
      const auto untimed = [&] {
        windows({std::int32_t{INT32_MAX}, std::int32_t{kStreamRows}}, kStreamUntimed, kStreamUntimed,
                [](const JournalEntry& entry, COdbcStatement&) {
                  return std::vector<SqlParameter>{entry.id, std::int32_t{kStreamRows}};
                });
      };
      if (db.Engine() == DatabaseEngine::kPostgreSQL) {
        untimed();
        timed();
      } else {
        timed();
        untimed();
      }
    });
  } catch (const CDatabaseException& e) {
    return DatabaseFailure(e.Error());
  }
  return {};
}

JournalListing ListJournalPage(const JournalFilter& filter, std::int64_t skipRows, int maxRows,
                               const std::string& connectString) {
  JournalListing listing;
  if (maxRows <= 0) return listing;
  try {
    WithJournalTable(connectString, [&](COdbcConnection& db) {
      listing.entries.clear();
      try {
        EnsureTimeIndex(db, connectString);
      } catch (const CDatabaseException&) {
        // Without the index the list is slower, not wrong (a read-only file).
        if (!db.IsOpen()) throw;
      }
      std::vector<SqlParameter> parameters;
      std::string sql = std::string(kListFrom) + FilterClause(filter, parameters) + kOrderWindow;
      parameters.emplace_back(static_cast<std::int32_t>(maxRows));
      parameters.emplace_back(static_cast<std::int32_t>(std::min<std::int64_t>(skipRows, INT32_MAX)));
      COdbcStatement statement(db);
      statement.Execute(sql, parameters);
      while (static_cast<int>(listing.entries.size()) < maxRows && statement.Fetch())
        listing.entries.push_back(ReadEntry(statement, db));
    });
  } catch (const CDatabaseException& e) {
    listing.status = DatabaseFailure(e.Error());
  }
  return listing;
}

JournalTotals CountJournalEntries(const JournalFilter& filter, const std::string& connectString) {
  JournalTotals totals;
  try {
    WithJournalTable(connectString, [&](COdbcConnection& db) {
      std::vector<SqlParameter> parameters;
      COdbcStatement statement(db);
      statement.Execute(std::string(kCount) + FilterClause(filter, parameters), parameters);
      if (!statement.Fetch()) return;
      totals.rows = statement.GetInt32(1).value_or(0);
      totals.pages = statement.GetInt32(2).value_or(0);
    });
  } catch (const CDatabaseException& e) {
    totals.status = DatabaseFailure(e.Error());
  }
  return totals;
}

Status DeleteJournalEntry(std::int32_t id, const std::string& connectString) {
  try {
    WithJournalTable(connectString, [&](COdbcConnection& db) { db.ExecuteDirect(kDelete, {id}); });
  } catch (const CDatabaseException& e) {
    return DatabaseFailure(e.Error());
  }
  return {};
}

}  // namespace kestrel
