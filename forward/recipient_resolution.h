// CRecipientResolver: who gets a fax. At each incoming call it decides from
// the called number (MSN) whether the call is taken and adds the MSN's
// address to the call's recipients; after the fax it finds the addresses for
// the caller's number. Both lookups use the reception connection and bind the
// number as a parameter, so any bytes from the line are just a number that
// may find nothing.
//
// A database error counts as no row found, and is written as one event text
// naming the operation and the driver's diagnostics, so an unanswered fax can
// be traced to a database that was down. The reception connection is reopened
// by the first lookup after it was lost.
//
// Runs on the reception worker thread only, like the connection it uses.
// The store's CDatabaseException stops here: it is logged and counted as no
// row, so the reception side never sees an exception.
#pragma once

#include <cstdint>
#include <string>

#include "capi/recipient_resolver.h"
#include "core/event_log.h"
#include "store/odbc_connection.h"

namespace kestrel {

class CRecipientResolver final : public IRecipientResolver {
 public:
  // `all` and `emailAll` are the worker's copies of the settings All and
  // EmailAll; `reception` must outlive the resolver.
  CRecipientResolver(std::int32_t all, std::string emailAll, COdbcConnection& reception, IEventLog& log);

  // With All non-zero: every call is taken, `recipients` becomes EmailAll and
  // the answer is All itself. Otherwise the first tblMSNEmail row for
  // `calledNumber` takes the call (answer 1) and appends its address and ";"
  // to `recipients` unless the address is empty; no row (or a database error)
  // answers 0 and leaves `recipients` as it was.
  [[nodiscard]] int AcceptsCalledNumber(const std::string& calledNumber, std::string& recipients) override;
  // A reload's All and EmailAll, on the thread that uses the resolver.
  void SetAcceptAll(std::int32_t all, const std::string& emailAll) override;

  // Every tblTSIDEMail address for `callerNumber`, in database order, each
  // followed by ";" (an empty address gives ";" alone); empty when none. An
  // empty caller number finds the rows with an empty TSID. The forwarding
  // step joins: recipients + ";" + this text.
  [[nodiscard]] std::string LookupTsidRecipients(const std::string& callerNumber);

 private:
  void LogLookupError(const char* operation, const char* table, const std::string& number,
                      const CDatabaseException& error);

  std::int32_t all_;
  std::string emailAll_;
  COdbcConnection& reception_;
  IEventLog& log_;
};

}  // namespace kestrel
