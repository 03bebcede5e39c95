// The journal statements: INSERT with four bound values, the newest-first
// SELECT and the DELETE by key, each on a connection of its own.
#include "store/journal.h"

#include <ctime>

#include "store/schema.h"

namespace kestrel {
namespace {

constexpr char kInsert[] =
    "INSERT INTO ReceivedFaxes (SenderNr, ReceivingTime, NumberOfPages, FaxFile) VALUES (?, ?, ?, ?)";
constexpr char kList[] =
    "SELECT ID, SenderNr, ReceivingTime, NumberOfPages, FaxFile FROM ReceivedFaxes"
    " ORDER BY ReceivingTime DESC, ID DESC";
constexpr char kDelete[] = "DELETE FROM ReceivedFaxes WHERE ID = ?";

constexpr std::size_t kSenderBytes = 1024;
constexpr std::size_t kFaxFileBytes = 4096;

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

}  // namespace

std::optional<std::string> StoredReceivingTime(std::time_t receivingTime) {
  std::tm tm{};
  if (!localtime_r(&receivingTime, &tm) || tm.tm_year + 1900 < 1 || tm.tm_year + 1900 > 9999) return std::nullopt;
  char out[32];
  std::strftime(out, sizeof out, "%Y-%m-%d %H:%M:%S", &tm);
  return std::string(out);
}

int InsertJournalEntry(IEventLog& log, const std::string& senderNr, std::time_t receivingTime,
                       int numberOfPages, const std::string& faxFile, const std::string& connectString) {
  std::optional<std::string> stored = StoredReceivingTime(receivingTime);
  if (!stored) {
    log.WriteEventText(" " + DiagnosticText({"22007", 0,
                                             "The receiving time " + std::to_string(receivingTime) +
                                                 " is not a date and time."}));
    return 0;
  }
  try {
    WithJournalTable(connectString, [&](COdbcConnection& db) {
      db.ExecuteDirect(kInsert, {senderNr, *stored, static_cast<std::int32_t>(numberOfPages), faxFile});
    });
  } catch (const CDatabaseException& e) {
    log.WriteEventText(" " + DiagnosticText(e.Error()));
  }
  return 0;
}

JournalListing ListJournalEntries(const std::string& connectString) {
  JournalListing listing;
  try {
    WithJournalTable(connectString, [&](COdbcConnection& db) {
      listing.entries.clear();
      COdbcStatement statement(db);
      statement.Execute(kList);
      while (statement.Fetch()) {
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
        listing.entries.push_back(std::move(entry));
      }
    });
  } catch (const CDatabaseException& e) {
    listing.error = e.Error();
  }
  return listing;
}

std::optional<DatabaseError> DeleteJournalEntry(std::int32_t id, const std::string& connectString) {
  try {
    WithJournalTable(connectString, [&](COdbcConnection& db) { db.ExecuteDirect(kDelete, {id}); });
  } catch (const CDatabaseException& e) {
    return e.Error();
  }
  return std::nullopt;
}

}  // namespace kestrel
