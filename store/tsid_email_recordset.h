// CTSIDEmailRecordset: the recordset over tblTSIDEMail, which maps a caller's
// number to addresses. `number` holds the TSID column, the caller number the
// ISDN network signals (not the station id the fax machine sends). Several
// rows may hold one TSID; the call-time lookup uses all of them. The lookup
// names the table "tblTSIDEmail": unquoted names are case-insensitive on
// every supported engine.
#pragma once

#include "store/recordset.h"

namespace kestrel {

class CTSIDEmailRecordset final : public CRecordset {
 public:
  using CRecordset::CRecordset;

 protected:
  const char* TableName() const override { return "tblTSIDEMail"; }
  const char* LookupTableName() const override { return "tblTSIDEmail"; }
  const char* NumberColumn() const override { return "TSID"; }
};

}  // namespace kestrel
