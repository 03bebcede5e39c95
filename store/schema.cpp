// Table creation. A table counts as missing when a probe that selects its
// columns fails while the connection stays up; a lost connection is reported,
// not answered with a CREATE.
#include "store/schema.h"

#include "core/notice_sink.h"
#include "store/msn_email_recordset.h"

namespace kestrel {
namespace {

bool ProbeFails(COdbcConnection& db, const std::string& sql) {
  try {
    db.ExecuteDirect(sql);
    return false;
  } catch (const CDatabaseException&) {
    return db.IsOpen();
  }
}

}  // namespace

bool CreateTsidTableIfMissing(COdbcConnection& db) {
  if (!ProbeFails(db, "SELECT TSID, EmailAddress FROM tblTSIDEMail WHERE 1 = 0")) return false;
  db.ExecuteDirect("CREATE TABLE IF NOT EXISTS tblTSIDEMail (TSID VARCHAR(255), EmailAddress VARCHAR(255))");
  return true;
}

bool CreateJournalTableIfMissing(COdbcConnection& db) {
  if (!ProbeFails(db, "SELECT ID, SenderNr, ReceivingTime, NumberOfPages, FaxFile FROM ReceivedFaxes WHERE 1 = 0")) {
    // A table of an older version: its rows and the nodes still writing
    // them (their INSERT names its columns) keep working with the columns
    // added; their rows leave them NULL.
    bool altered = false;
    for (const char* column : {"Status", "Node"}) {
      if (!ProbeFails(db, std::string("SELECT ") + column + " FROM ReceivedFaxes WHERE 1 = 0")) continue;
      db.ExecuteDirect(std::string("ALTER TABLE ReceivedFaxes ADD COLUMN ") + column + " VARCHAR(255)");
      altered = true;
    }
    return altered;
  }
  // SQLite accepts SERIAL but leaves the ID empty; PostgreSQL refuses a NULL
  // ID for a plain INTEGER key.
  const char* id =
      db.Engine() == DatabaseEngine::kPostgreSQL ? "SERIAL PRIMARY KEY" : "INTEGER PRIMARY KEY AUTOINCREMENT";
  db.ExecuteDirect(std::string("CREATE TABLE IF NOT EXISTS ReceivedFaxes (ID ") + id +
                   ", SenderNr VARCHAR(255), ReceivingTime TIMESTAMP, NumberOfPages INTEGER,"
                   " FaxFile VARCHAR(4096), Status VARCHAR(255), Node VARCHAR(255))");
  return true;
}

void EnsureMsnTable(COdbcConnection& administration, INoticeSink& notices) {
  try {
    CMSNEmailRecordset probe(administration);
    probe.Open();
    probe.Close();
  } catch (const CDatabaseException& probeError) {
    if (!administration.IsOpen()) {
      // The data source cannot be reached: a CREATE would only fail the same way.
      notices.Notify(probeError.Message(), NoticeIcon::kExclamation);
      return;
    }
    try {
      administration.ExecuteDirect(
          "CREATE TABLE IF NOT EXISTS tblMSNEmail (MSN VARCHAR(40), EmailAddress VARCHAR(128))");
      administration.ExecuteDirect("CREATE INDEX IF NOT EXISTS MSN ON tblMSNEmail (MSN)");
    } catch (const CDatabaseException& createError) {
      notices.Notify(createError.Message(), NoticeIcon::kExclamation);
      return;
    }
  }
  try {
    // Whether a table was made or was already there, the check goes on alike.
    (void)CreateTsidTableIfMissing(administration);
    (void)CreateJournalTableIfMissing(administration);
  } catch (const CDatabaseException& createError) {
    notices.Notify(createError.Message(), NoticeIcon::kExclamation);
  }
}

}  // namespace kestrel
