// Row changes as the recordset makes them: open, position on the first row,
// change, update, close.
#include "store/forwarding_table.h"

#include <memory>

#include "store/msn_email_recordset.h"
#include "store/tsid_email_recordset.h"

namespace kestrel {
namespace {

std::unique_ptr<CRecordset> MakeRecordset(COdbcConnection& db, ForwardingTable table) {
  if (table == ForwardingTable::kMsn) return std::make_unique<CMSNEmailRecordset>(db);
  return std::make_unique<CTSIDEmailRecordset>(db);
}

}  // namespace

std::vector<ForwardingRow> ListForwardingRows(COdbcConnection& administration, ForwardingTable table) {
  auto rs = MakeRecordset(administration, table);
  rs->Open();
  std::vector<ForwardingRow> rows;
  for (; !rs->IsEOF(); rs->MoveNext()) rows.push_back({rs->number, rs->emailAddress});
  rs->Close();
  return rows;
}

void AddForwardingRow(COdbcConnection& administration, ForwardingTable table, const ForwardingRow& row) {
  auto rs = MakeRecordset(administration, table);
  rs->Open();
  rs->AddNew();
  rs->number = row.number;
  rs->emailAddress = row.emailAddress;
  rs->Update();
  rs->Close();
}

std::optional<ForwardingRow> FindForwardingRow(COdbcConnection& administration, ForwardingTable table,
                                               const std::string& number) {
  auto rs = MakeRecordset(administration, table);
  rs->OpenWhereNumber(number);
  std::optional<ForwardingRow> found;
  if (!rs->IsEOF()) found = ForwardingRow{rs->number, rs->emailAddress};
  rs->Close();
  return found;
}

bool EditForwardingRow(COdbcConnection& administration, ForwardingTable table, const std::string& oldNumber,
                       const ForwardingRow& row) {
  auto rs = MakeRecordset(administration, table);
  rs->OpenWhereNumber(oldNumber);
  if (rs->IsEOF()) return false;
  rs->Edit();
  rs->number = row.number;
  rs->emailAddress = row.emailAddress;
  rs->Update();
  rs->Close();
  return true;
}

bool DeleteForwardingRow(COdbcConnection& administration, ForwardingTable table, const std::string& number) {
  auto rs = MakeRecordset(administration, table);
  rs->OpenWhereNumber(number);
  if (rs->IsEOF()) return false;
  rs->Delete();
  rs->Close();
  return true;
}

}  // namespace kestrel
