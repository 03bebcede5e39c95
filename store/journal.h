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
//
// Nothing here throws: the forwarding side and the views call these without a
// handler, so a database error comes back as a Status (DatabaseFailure: the
// text is DiagnosticText) or, for a listing, in its `status`.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/event_log.h"
#include "core/result.h"
#include "store/odbc_statement.h"

namespace kestrel {

struct JournalEntry {
  std::int32_t id = 0;                        // key, for DeleteJournalEntry
  std::string senderNr;                       // as handed over by the forwarding step
  std::optional<SqlTimestamp> receivingTime;  // nullopt: none, or not a valid time
  std::int32_t numberOfPages = 0;
  std::string faxFile;  // full path of the fax document
  // Empty for a whole fax (rows of older versions have none); otherwise why
  // pages may be missing or were not converted, at most 255 bytes.
  std::string status;
  std::string node;  // the service that received it; empty in rows of older versions
};

struct JournalListing {
  std::vector<JournalEntry> entries;  // newest first; the rows read before an error
  Status status;                      // failed when the listing stopped early
};

// The receiving time as stored: the local time of `receivingTime` as
// "YYYY-MM-DD HH:MM:SS"; nullopt for a time outside the years 1 to 9999.
[[nodiscard]] std::optional<std::string> StoredReceivingTime(std::time_t receivingTime);

// Adds one journal row. A failure is written as one event text
// " Error:<native> Msg:<SQLSTATE> Description:<driver text>" to `log`
// (DiagnosticText) and answered as well; the forwarding side forwards the fax
// regardless. `receivingTime` is the end of reception. `status` is empty for
// a whole fax; a longer one than the column takes is cut. An older table
// without the Status or Node column gets it on the first insert.
// `node` names the service that received the fax (empty: none, NULL in the
// row). A node's fax is one row however often it is handed in: a row of the
// same node, file and time means a former run journaled it and was cut off
// before it could note that, so nothing is added. Only the node itself writes
// its rows, one fax at a time, so the check cannot race another writer.
[[nodiscard]] Status InsertJournalEntry(IEventLog& log, const std::string& senderNr, std::time_t receivingTime,
                                        int numberOfPages, const std::string& faxFile,
                                        const std::string& connectString = {}, const std::string& status = {},
                                        const std::string& node = {});

// The newest receiving time of the faxes of each node, for the status of
// several services sharing one journal; rows without a time are left out,
// rows of older versions (no node) come under an empty name.
struct NodeLastFax {
  std::string node;
  std::string receivingTime;  // as stored: "YYYY-MM-DD HH:MM:SS"
};
struct NodeLastFaxes {
  std::vector<NodeLastFax> nodes;  // by name; the empty name first
  Status status;                   // failed when the journal could not be read
};
[[nodiscard]] NodeLastFaxes ListLastFaxByNode(const std::string& connectString = {});

// Every journal row, newest first (equal times: the later row first). An
// error stops the listing; the rows read so far are kept.
[[nodiscard]] JournalListing ListJournalEntries(const std::string& connectString = {});

// What the journal views narrow their list to: rows whose sender number
// contains `text`, or whose receiving time does, written as the views show it
// ("08.12.2026", "08.12.", "12.2026", "07:30") or as stored ("2026-12-08").
// An empty text lets every row through.
struct JournalFilter {
  std::string text;
};

// Up to `maxRows` rows of the filtered journal in list order (newest first),
// starting after the first `skipRows`: the views load the rows a user can see
// and fetch more as the list scrolls. An error stops the page; the rows read
// so far are kept.
[[nodiscard]] JournalListing ListJournalPage(const JournalFilter& filter, std::int64_t skipRows, int maxRows,
                                             const std::string& connectString = {});

// How many rows pass the filter and how many pages they hold: the summary
// counts every row, not just the ones loaded.
struct JournalTotals {
  std::int64_t rows = 0;
  std::int64_t pages = 0;
  Status status;  // failed when the rows could not be counted
};
[[nodiscard]] JournalTotals CountJournalEntries(const JournalFilter& filter, const std::string& connectString = {});

// Hands every journal row, newest first, to `each` as it is read; `each`
// returns false to stop. Reads a bounded window of rows per statement, so a
// journal of any size streams in the memory of one window. Rows without a time
// come where the engine sorts NULL. Fails with the error that stopped the
// listing.
[[nodiscard]] Status ForEachJournalEntry(const std::function<bool(const JournalEntry&)>& each,
                                         const std::string& connectString = {});

// Deletes the row with key `id` (none when no row has it).
[[nodiscard]] Status DeleteJournalEntry(std::int32_t id, const std::string& connectString = {});

}  // namespace kestrel
