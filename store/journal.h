// The journal of received faxes, table ReceivedFaxes: the forwarding step adds
// one row per fax, the journal views list rows newest first and delete them.
// Each call opens its own connection to the data source, runs one statement
// and closes it again, so any thread may call these functions. Each takes the
// connect string last; empty (the default) means the store's data source
// (DataSourceConnectString()). The table is
// created when it is missing (a fresh embedded database lists no rows).
//
// Times are stored as "YYYY-MM-DD HH:MM:SS" so that ordering by ReceivingTime
// is chronological on every engine. Rows read back are untrusted: texts are
// bounded, numbers range-checked; a time that is not a valid date and time is
// listed as none.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "core/event_log.h"
#include "store/odbc_statement.h"

namespace kestrel {

struct JournalEntry {
  std::int32_t id = 0;                       // key, for DeleteJournalEntry
  std::string senderNr;                      // as handed over by the forwarding step
  std::optional<SqlTimestamp> receivingTime; // nullopt: none, or not a valid time
  std::int32_t numberOfPages = 0;
  std::string faxFile;                       // full path of the fax document
};

struct JournalListing {
  std::vector<JournalEntry> entries;   // newest first; the rows read before an error
  std::optional<DatabaseError> error;  // set when the listing stopped early
};

// The receiving time as stored: the local time of `receivingTime` as
// "YYYY-MM-DD HH:MM:SS"; nullopt for a time outside the years 1 to 9999.
std::optional<std::string> StoredReceivingTime(std::time_t receivingTime);

// Adds one journal row. Always returns 0: a failure is written as one event
// text " Error:<native> Msg:<SQLSTATE> Description:<driver text>" to `log`
// (DiagnosticText), and the fax is forwarded regardless. `receivingTime` is
// the end of reception. Runs on the forwarding side.
int InsertJournalEntry(IEventLog& log, const std::string& senderNr, std::time_t receivingTime,
                       int numberOfPages, const std::string& faxFile,
                       const std::string& connectString = {});

// Every journal row, newest first (equal times: the later row first). An
// error stops the listing; the rows read so far are kept. Never throws.
JournalListing ListJournalEntries(const std::string& connectString = {});

// Deletes the row with key `id` (none when no row has it). The error, if any;
// never throws.
std::optional<DatabaseError> DeleteJournalEntry(std::int32_t id,
                                                const std::string& connectString = {});

}  // namespace kestrel
