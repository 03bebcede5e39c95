// The two call-time lookups over the forwarding tables. The called and the
// calling number come from the ISDN line: they reach the database only as
// bound parameters and the event log only with control characters removed.
#include "forward/recipient_resolution.h"

#include <utility>

#include "store/msn_email_recordset.h"
#include "store/tsid_email_recordset.h"

namespace kestrel {

CRecipientResolver::CRecipientResolver(std::int32_t all, std::string emailAll, COdbcConnection& reception,
                                       IEventLog& log)
    : all_(all), emailAll_(std::move(emailAll)), reception_(reception), log_(log) {}

void CRecipientResolver::SetAcceptAll(std::int32_t all, const std::string& emailAll) {
  all_ = all;
  emailAll_ = emailAll;
}

int CRecipientResolver::AcceptsCalledNumber(const std::string& calledNumber, std::string& recipients) {
  if (all_ != 0) {
    recipients = emailAll_;
    return all_;
  }
  int answer = 0;
  try {
    CMSNEmailRecordset rs(reception_);
    rs.OpenWhereNumber(calledNumber);
    if (!rs.IsEOF()) {
      answer = 1;
      if (!rs.emailAddress.empty()) recipients += rs.emailAddress + ";";
    }
    rs.Close();
  } catch (const CDatabaseException& e) {
    LogLookupError("AcceptsCalledNumber", "tblMSNEmail", calledNumber, e);
  }
  return answer;
}

std::string CRecipientResolver::LookupTsidRecipients(const std::string& callerNumber) {
  std::string addresses;
  try {
    CTSIDEmailRecordset rs(reception_);
    rs.OpenWhereNumber(callerNumber);
    for (; !rs.IsEOF(); rs.MoveNext()) addresses += rs.emailAddress + ";";
    rs.Close();
  } catch (const CDatabaseException& e) {
    LogLookupError("LookupTsidRecipients", "tblTSIDEMail", callerNumber, e);
  }
  return addresses;
}

void CRecipientResolver::LogLookupError(const char* operation, const char* table, const std::string& number,
                                        const CDatabaseException& error) {
  std::string shown = number;
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  log_.WriteEventText(std::string(operation) + ", lookup of \"" + shown + "\" in " + table +
                      " failed, counted as no row: " + DiagnosticText(error.Error()));
}

}  // namespace kestrel
