// CMSNEmailRecordset: the recordset over tblMSNEmail, which maps a called
// subscriber number (MSN) to the address its faxes go to. `number` holds the
// MSN column. The table has no key: several rows may hold one MSN, and the
// lookup, edit and delete use the first row found.
#pragma once

#include "store/recordset.h"

namespace kestrel {

class CMSNEmailRecordset final : public CRecordset {
 public:
  using CRecordset::CRecordset;

 protected:
  const char* TableName() const override { return "tblMSNEmail"; }
  const char* LookupTableName() const override { return "tblMSNEmail"; }
  const char* NumberColumn() const override { return "MSN"; }
};

}  // namespace kestrel
