// The tables of the data store and the start-up check that creates them:
//   tblMSNEmail (MSN VARCHAR(40), EmailAddress VARCHAR(128)), index MSN on MSN;
//   tblTSIDEMail (TSID VARCHAR(255), EmailAddress VARCHAR(255));
//   ReceivedFaxes (ID assigned by the database, SenderNr, ReceivingTime
//   TIMESTAMP, NumberOfPages INTEGER, FaxFile, Status VARCHAR(255): empty or
//   NULL for a whole fax, Node VARCHAR(255): the service that received it,
//   NULL in rows of older versions).
// The same statements serve SQLite and PostgreSQL; only the ID column differs.
// Failures throw CDatabaseException, the store's rule (database_exception.h),
// except EnsureMsnTable, which reports them to its notice sink.
#pragma once

#include "store/odbc_connection.h"

namespace kestrel {

class INoticeSink;

// The start-up check, on the administration connection (which it opens: that
// is the connection's first use). Reads tblMSNEmail; when that fails, creates
// the table and its index. Then creates tblTSIDEMail and ReceivedFaxes when
// they are missing. A failure is reported through `notices` with the driver's
// text (exclamation icon) and the check ends; nothing is thrown. A second run
// against the same data source creates nothing.
void EnsureMsnTable(COdbcConnection& administration, INoticeSink& notices);

// Creates tblTSIDEMail or ReceivedFaxes when a probe of the table fails and
// the connection is still up; for a ReceivedFaxes of an older version, adds
// the Status and Node columns it lacks (ALTER TABLE). True when the table was created or
// altered. Throws the creation's error.
[[nodiscard]] bool CreateTsidTableIfMissing(COdbcConnection& db);
[[nodiscard]] bool CreateJournalTableIfMissing(COdbcConnection& db);

}  // namespace kestrel
