// The journal statements: INSERT with four bound values, the newest-first
// SELECT and the DELETE by key, each on a connection of its own.
#include "store/journal.h"

#include <cstdio>

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

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

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

std::optional<std::string> StoredReceivingTime(const std::string& handedOver) {
  std::string text = handedOver;
  for (char& c : text)
    if (c == '.') c = '/';
  for (char& c : text)
    if (c == '-') c = ' ';

  int numbers[6];
  int digits[6];
  int count = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '/' || c == ' ' || c == ':') {
      ++i;
      continue;
    }
    if (c < '0' || c > '9' || count == 6) return std::nullopt;
    int value = 0, n = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      if (++n > 4) return std::nullopt;
      value = value * 10 + (text[i] - '0');
      ++i;
    }
    numbers[count] = value;
    digits[count] = n;
    ++count;
  }
  if (count != 6) return std::nullopt;
  bool yearFirst = digits[0] == 4;
  int year = yearFirst ? numbers[0] : numbers[2];
  int month = numbers[1];
  int day = yearFirst ? numbers[2] : numbers[0];
  if (!yearFirst && digits[2] != 4) return std::nullopt;
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || month < 1 || month > 12 || day < 1) return std::nullopt;
  if (day > (month == 2 && IsLeap(year) ? 29 : days[month - 1])) return std::nullopt;
  if (numbers[3] > 23 || numbers[4] > 59 || numbers[5] > 59) return std::nullopt;
  char out[64];
  std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, numbers[3],
                numbers[4], numbers[5]);
  return std::string(out);
}

int InsertJournalEntry(IEventLog& log, const std::string& senderNr, const std::string& receivingTime,
                       int numberOfPages, const std::string& faxFile, const std::string& connectString) {
  std::optional<std::string> stored = StoredReceivingTime(receivingTime);
  if (!stored) {
    log.WriteEventText(" " + DiagnosticText({"22007", 0,
                                             "The receiving time \"" + receivingTime +
                                                 "\" is not a date and time."}));
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
