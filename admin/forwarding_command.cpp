// kestrel-admin msn and caller: the forwarding tables tblMSNEmail and
// tblTSIDEMail, changed with the forwarding editors' checks and texts and
// through the same store functions the desktop's pages call; and the
// accept-all choice of the MSN page (the settings All and EmailAll).
// Rows read back are the store's (bounded there); typed numbers take digits
// only, as the editors' number field does.
#include <algorithm>
#include <cstdio>

#include "admin/admin_commands.h"
#include "admin/admin_context.h"
#include "admin/json_text.h"
#include "core/forwarding_rules.h"
#include "core/notice_sink.h"
#include "store/database_exception.h"
#include "store/forwarding_table.h"
#include "store/schema.h"

namespace kestrel {
namespace {

// What the start-up table check reports, kept for the refusal.
class CFirstNotice final : public INoticeSink {
 public:
  void Notify(const std::string& text, NoticeIcon) override {
    if (text_.empty()) text_ = text;
  }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

struct TableNames {
  ForwardingTable table;
  const char* tableName;
  const char* numberColumn;  // the list's column captions
  const char* addressColumn;
  const char* numberWord;  // in kestrel-admin's own texts
};

constexpr TableNames kMsnTable = {ForwardingTable::kMsn, "tblMSNEmail", "MSN", "Email-Weiterleitung", "MSN"};
constexpr TableNames kCallerTable = {ForwardingTable::kTsid, "tblTSIDEMail", "Senderkennung", "Email-Weiterleitung",
                                     "caller number"};

// A number that is not all digits is checked as the empty number the
// editors' field would have left.
std::string CheckedNumber(const std::string& number) { return HoldsOnlyDigits(number) ? number : std::string(); }

int List(const TableNames& names, COdbcConnection& db, CAdminContext& context) {
  std::vector<ForwardingRow> rows = ListForwardingRows(db, names.table);
  // The editors' lists keep their rows in ascending order of the number text.
  std::stable_sort(rows.begin(), rows.end(),
                   [](const ForwardingRow& a, const ForwardingRow& b) { return a.number < b.number; });
  if (context.Json()) {
    CJsonArray array;
    for (const ForwardingRow& row : rows)
      array.Raw(CJsonObject().Text("number", row.number).Text("address", row.emailAddress).Close());
    context.Say(array.Close());
    return kAdminOk;
  }
  std::size_t width = std::string(names.numberColumn).size();
  for (const ForwardingRow& row : rows) width = std::max(width, row.number.size());
  auto line = [&](const std::string& number, const std::string& address) {
    context.Say(number + std::string(width + 2 - number.size(), ' ') + address);
  };
  line(names.numberColumn, names.addressColumn);
  for (const ForwardingRow& row : rows) line(row.number, row.emailAddress);
  return kAdminOk;
}

int Add(const TableNames& names, const AdminArgs& args, COdbcConnection& db, CAdminContext& context) {
  if (args.size() != 3) return context.Usage(std::string(args[0]) + " NUMBER ADDRESS");
  const std::string& number = args[1];
  const std::string& address = args[2];
  const Status accepted = names.table == ForwardingTable::kMsn ? CheckNewMsnRow(CheckedNumber(number), address)
                                                               : CheckNewSenderRow(CheckedNumber(number), address);
  if (!accepted) return context.Refuse(accepted.Error().text);
  // A called number answers with its first row only: a second one would never be used.
  if (names.table == ForwardingTable::kMsn && FindForwardingRow(db, names.table, number))
    return context.Refuse(number + " already has a row in " + names.tableName +
                          "; change it with: kestrel-admin msn edit " + number + " " + number + " " + address);
  AddForwardingRow(db, names.table, {number, address});
  context.Say("Added " + number + " -> " + address + " to " + names.tableName + ".");
  return kAdminOk;
}

int Edit(const TableNames& names, const AdminArgs& args, COdbcConnection& db, CAdminContext& context) {
  if (args.size() != 4) return context.Usage("edit NUMBER NEW-NUMBER ADDRESS");
  const std::string& oldNumber = args[1];
  const std::string& number = args[2];
  const std::string& address = args[3];
  if (!FindForwardingRow(db, names.table, oldNumber))
    return context.Refuse(std::string(names.tableName) + " has no row for " + names.numberWord + " " + oldNumber + ".");
  // An edited caller row is stored as it is, empty values included; only the
  // digits of its number are the field's rule.
  Status accepted;
  if (names.table == ForwardingTable::kMsn)
    accepted = CheckEditedMsnRow(CheckedNumber(number), address);
  else if (!HoldsOnlyDigits(number))
    accepted = CheckNewSenderRow("", address);
  if (!accepted) return context.Refuse(accepted.Error().text);
  // The row was found just above; one that went in between is not worth a refusal.
  (void)EditForwardingRow(db, names.table, oldNumber, {number, address});
  context.Say("Changed " + oldNumber + " to " + number + " -> " + address + " in " + names.tableName + ".");
  return kAdminOk;
}

int Delete(const TableNames& names, const AdminArgs& args, COdbcConnection& db, CAdminContext& context) {
  if (args.size() != 2) return context.Usage("delete NUMBER");
  if (!DeleteForwardingRow(db, names.table, args[1]))
    return context.Refuse(std::string(names.tableName) + " has no row for " + names.numberWord + " " + args[1] + ".");
  context.Say("Deleted " + args[1] + " from " + names.tableName + ".");
  return kAdminOk;
}

int AcceptAll(const AdminArgs& args, CAdminContext& context) {
  const bool on = args.size() == 3 && args[1] == "on";
  if (!on && !(args.size() == 2 && args[1] == "off")) return context.Usage("msn all on ADDRESS | msn all off");
  auto s = context.LoadSettings();
  if (!s) return context.Refuse(s.Error());
  if (on) {
    if (Status accepted = CheckAcceptAllAddress(true, args[2]); !accepted) return context.Refuse(accepted.Error().text);
    s->EmailAll = args[2];
  }
  s->All = on;
  return context.SaveSettings(*s);
}

}  // namespace

int RunForwardingCommand(const std::string& table, const AdminArgs& args, CAdminContext& context) {
  const TableNames& names = table == "msn" ? kMsnTable : kCallerTable;
  const std::string usage = table + " list | add NUMBER ADDRESS | edit NUMBER NEW-NUMBER ADDRESS | delete NUMBER" +
                            (table == "msn" ? " | all on ADDRESS | all off" : "");
  if (args.empty()) return context.Usage(usage);
  const std::string& verb = args[0];
  if (table == "msn" && verb == "all") return AcceptAll(args, context);
  if (verb != "list" && verb != "add" && verb != "edit" && verb != "delete") return context.Usage(usage);
  if (verb == "list" && args.size() != 1) return context.Usage(usage);

  // The administration connection, checked as the service checks it at start-up.
  COdbcConnection db;
  CFirstNotice notice;
  EnsureMsnTable(db, notice);
  if (!notice.Text().empty()) return context.Refuse(notice.Text());
  try {
    if (verb == "list") return List(names, db, context);
    if (verb == "add") return Add(names, args, db, context);
    if (verb == "edit") return Edit(names, args, db, context);
    return Delete(names, args, db, context);
  } catch (const CDatabaseException& e) {
    return context.Refuse(e.Message());
  }
}

}  // namespace kestrel
