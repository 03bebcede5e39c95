// The forwarding editors' changes to the two forwarding tables, made through
// the recordsets on the administration connection: list every row, add a row,
// and edit or delete the first row found for a number. Every function raises
// CDatabaseException on a database error (the store's rule,
// database_exception.h); the editors show its Message(),
// the driver's own text. Values are bound as parameters, so quotes and blanks
// are stored and found unchanged.
//
// Called on the user-interface thread only (the administration connection
// belongs to it).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "store/odbc_connection.h"

namespace kestrel {

enum class ForwardingTable {
  kMsn,   // tblMSNEmail: called number (MSN) -> address
  kTsid,  // tblTSIDEMail: caller number -> address
};

struct ForwardingRow {
  std::string number;  // MSN or TSID
  std::string emailAddress;
  bool operator==(const ForwardingRow&) const = default;
};

// Every row, in the order the database delivers them (the list sorts itself).
[[nodiscard]] std::vector<ForwardingRow> ListForwardingRows(COdbcConnection& administration, ForwardingTable table);

// Adds one row; a number that is already present gets a second row.
void AddForwardingRow(COdbcConnection& administration, ForwardingTable table, const ForwardingRow& row);

// The first row whose number is `number`, if any: the editors open the edit
// dialog only when this finds one.
[[nodiscard]] std::optional<ForwardingRow> FindForwardingRow(COdbcConnection& administration, ForwardingTable table,
                                                             const std::string& number);

// Overwrites both fields of the first row whose number is `oldNumber` with
// `row`. False (and nothing changed) when no row has that number.
[[nodiscard]] bool EditForwardingRow(COdbcConnection& administration, ForwardingTable table,
                                     const std::string& oldNumber, const ForwardingRow& row);

// Deletes the first row whose number is `number`; other rows with the same
// number stay. False when no row has that number.
[[nodiscard]] bool DeleteForwardingRow(COdbcConnection& administration, ForwardingTable table,
                                       const std::string& number);

}  // namespace kestrel
