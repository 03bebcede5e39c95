// kestrel-admin journal: the rows of ReceivedFaxes, newest first, and the
// deletion of one row, through the journal functions the journal views use.
// Rows come back bounded and checked from the store (store/journal.h).
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "admin/admin_commands.h"
#include "admin/admin_context.h"
#include "admin/json_text.h"
#include "core/number_text.h"
#include "store/data_source.h"
#include "store/journal.h"

namespace kestrel {
namespace {

constexpr char kJournalHeader[] = "ID\tSender\tReceived\tPages\tFile\tStatus";

std::string TimeText(const std::optional<SqlTimestamp>& time, bool stored) {
  if (!time) return {};
  char text[32];
  const SqlTimestamp& t = *time;
  if (stored)
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
  else
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour, t.minute,
                  t.second);
  return text;
}

int List(const AdminArgs& args, CAdminContext& context) {
  std::size_t limit = SIZE_MAX;
  if (args.size() == 3 && args[1] == "--limit") {
    auto n = ScanUnsigned(args[2]);
    if (!n) return context.Usage("journal list [--limit N]: N is a whole number");
    limit = *n;
  } else if (args.size() != 1) {
    return context.Usage("journal list [--limit N]");
  }
  // The embedded journal: a database the caller cannot read is not an empty one.
  const std::string embedded = context.Folder() + kEmbeddedDatabaseFile;
  if (CAdminContext::Readable(embedded) == EACCES) return context.PermissionDenied(embedded);
  JournalListing listing = ListJournalEntries();
  if (listing.entries.size() > limit) listing.entries.resize(limit);
  if (context.Json()) {
    CJsonArray array;
    for (const JournalEntry& e : listing.entries) {
      CJsonObject row;
      row.Number("id", e.id).Text("sender", e.senderNr);
      if (e.receivingTime)
        row.Text("time", TimeText(e.receivingTime, true));
      else
        row.Raw("time", "null");
      array.Raw(row.Number("pages", e.numberOfPages).Text("file", e.faxFile).Text("status", e.status).Close());
    }
    context.Say(array.Close());
  } else {
    context.Say(kJournalHeader);
    for (const JournalEntry& e : listing.entries)
      context.Say(std::to_string(e.id) + "\t" + e.senderNr + "\t" + TimeText(e.receivingTime, false) + "\t" +
                  std::to_string(e.numberOfPages) + "\t" + e.faxFile + "\t" + e.status);
  }
  if (!listing.status.Ok()) {
    // SQLite reads a WAL database it may not write only while its writer
    // keeps the shared-memory file: while the service runs.
    const bool readOnly = ::access(context.Folder().c_str(), W_OK) != 0 && ::access(embedded.c_str(), R_OK) == 0;
    return context.Refuse("journal: " + listing.status.Error().text +
                          (readOnly ? ". Without sudo, " + embedded + " can be read while the service runs." : ""));
  }
  return kAdminOk;
}

int Delete(const AdminArgs& args, CAdminContext& context) {
  if (args.size() != 2) return context.Usage("journal delete ID");
  auto id = ScanSigned(args[1]);
  if (!id) return context.Usage("journal delete ID: ID is a whole number");
  JournalListing listing = ListJournalEntries();
  if (!listing.status.Ok()) return context.Refuse("journal: " + listing.status.Error().text);
  bool found = false;
  for (const JournalEntry& e : listing.entries) found = found || e.id == *id;
  if (!found) return context.Refuse("The journal has no entry " + std::to_string(*id) + ".");
  if (Status deleted = DeleteJournalEntry(*id); !deleted) return context.Refuse("journal: " + deleted.Error().text);
  context.Say("Deleted journal entry " + std::to_string(*id) + ".");
  return kAdminOk;
}

}  // namespace

int RunJournalCommand(const AdminArgs& args, CAdminContext& context) {
  if (!args.empty() && args[0] == "list") return List(args, context);
  if (!args.empty() && args[0] == "delete") return Delete(args, context);
  return context.Usage("journal list [--limit N] | journal delete ID");
}

}  // namespace kestrel
