// kestrel-admin status: one look at the service for a person or a monitoring
// call: who holds the folder, whether CAPI and the database answer, how many
// faxes wait to be forwarded and mails to be sent, and when the last fax came.
// Exits 1 when no service runs, CAPI or the database does not answer, a
// mail waits in the queue (its server refuses or cannot be reached), or a
// fax entry was set aside as unreadable (a fax that needs a person); with
// the OAuth 2.0 login, also when no token is held or its renewal failed.
#include <capi20.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "admin/admin_commands.h"
#include "admin/admin_context.h"
#include "admin/capi_probe.h"
#include "admin/json_text.h"
#include "forward/fax_inbox.h"
#include "forward/mail_queue.h"
#include "oauth/token_store.h"
#include "service/service_lock.h"
#include "store/database_exception.h"
#include "store/journal.h"
#include "store/odbc_connection.h"

namespace kestrel {
namespace {

// The OAuth 2.0 login's state, when the settings use it: "token held,
// expires ...", the last renewal's failure, or that no token is held.
struct OAuthState {
  bool used = false;
  bool well = true;
  std::string line;     // after "OAuth: "
  std::string expires;  // local time; empty: no token
  std::string error;
};

OAuthState LookAtOAuth(CAdminContext& context) {
  OAuthState state;
  Result<ServiceSettings> settings = context.LoadSettings();
  if (!settings || settings->AuthenticationMethod != SmtpAuthentication::OAuth) return state;
  state.used = true;
  Result<OAuthTokens> tokens = COAuthTokenStore(context.Folder()).Load();
  if (!tokens) {
    state.error = tokens.Describe();
  } else if (!tokens->lastError.empty()) {
    state.error = tokens->lastError;
  } else if (tokens->accessToken.empty() && tokens->refreshToken.empty()) {
    state.error = kNoTokenHeld;
  } else {
    const std::time_t at = static_cast<std::time_t>(tokens->expiresAt);
    std::tm local{};
    char text[32] = "";
    if (::localtime_r(&at, &local)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    state.expires = text;
  }
  state.well = state.error.empty();
  state.line = state.well ? "token held, expires " + state.expires : state.error;
  return state;
}

}  // namespace

int RunStatusCommand(const AdminArgs& args, CAdminContext& context) {
  if (!args.empty()) return context.Usage("status");
  if (CAdminContext::Readable(context.Folder()) == EACCES) return context.PermissionDenied(context.Folder());
  const pid_t service = CServiceLock::RunningService(context.Folder());
  const CapiAnswer capi = ProbeCapi();
  std::string databaseError;
  try {
    COdbcConnection db;
    db.Open();
  } catch (const CDatabaseException& e) {
    databaseError = e.Message().empty() ? "cannot be opened" : e.Message();
  }
  const CFaxInbox inbox(context.Folder(), context.Log());
  const std::size_t recorded = inbox.Count();
  const std::size_t setAside = inbox.SetAsideCount();
  const std::size_t queued = MailQueueFileNames(MailQueueFolder(context.Folder()) + "/").size();
  const std::size_t undeliverable = MailQueueFileNames(UndeliverableFolder(context.Folder())).size();
  std::string lastFax;
  if (databaseError.empty()) {
    JournalListing listing = ListJournalEntries();
    if (!listing.entries.empty() && listing.entries.front().receivingTime) {
      const SqlTimestamp& t = *listing.entries.front().receivingTime;
      char text[32];
      std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                    t.second);
      lastFax = text;
    }
  }
  const bool capiWell = capi.answers && capi.controllers > 0;
  const OAuthState oauth = LookAtOAuth(context);
  const bool well = service != 0 && capiWell && databaseError.empty() && queued == 0 && setAside == 0 &&
                    undeliverable == 0 && oauth.well;
  char info[16];
  std::snprintf(info, sizeof info, "0x%04X", capi.info & 0xFFFF);
  // libcapi20's own words for the code; the library's tables, not the line's bytes.
  const char* words = capi_info2str(static_cast<_cword>(capi.info & 0xFFFF));
  const std::string reason = words ? words : "";

  if (context.Json()) {
    CJsonObject out;
    out.Raw("service", CJsonObject().Bool("running", service != 0).Number("pid", service > 0 ? service : 0).Close());
    out.Raw("capi", CJsonObject()
                        .Bool("answers", capi.answers)
                        .Text("info", info)
                        .Text("reason", capi.answers ? std::string() : reason)
                        .Number("controllers", capi.controllers)
                        .Number("bChannels", capi.bChannels)
                        .Close());
    out.Raw("database", CJsonObject().Bool("opens", databaseError.empty()).Text("error", databaseError).Close());
    out.Number("recordedNotForwarded", static_cast<std::int64_t>(recorded));
    out.Number("queuedMails", static_cast<std::int64_t>(queued));
    out.Number("undeliverableMails", static_cast<std::int64_t>(undeliverable));
    out.Number("setAsideEntries", static_cast<std::int64_t>(setAside));
    if (lastFax.empty())
      out.Raw("lastFax", "null");
    else
      out.Text("lastFax", lastFax);
    if (oauth.used)
      out.Raw("oauth",
              CJsonObject().Bool("held", oauth.well).Text("expires", oauth.expires).Text("error", oauth.error).Close());
    out.Bool("well", well);
    context.Say(out.Close());
    return well ? kAdminOk : kAdminRefused;
  }
  context.Say("service: " + (service > 0   ? "running (process " + std::to_string(service) + ")"
                             : service < 0 ? std::string("running (process unknown)")
                                           : std::string("not running")));
  if (capi.answers)
    context.Say("capi: " + std::to_string(capi.controllers) + " controller(s), " + std::to_string(capi.bChannels) +
                " B-channel(s)");
  else
    context.Say(std::string("capi: not answering (") + info + (reason.empty() ? "" : ": " + reason) + ")");
  context.Say("database: " + (databaseError.empty() ? std::string("opens") : "fails: " + databaseError));
  context.Say("recorded, not forwarded: " + std::to_string(recorded));
  context.Say("queued mails: " + std::to_string(queued));
  // A mail refused for good needs a person; the line comes only then.
  if (undeliverable > 0) context.Say("undeliverable mails: " + std::to_string(undeliverable));
  context.Say("set aside, unreadable: " + std::to_string(setAside));
  context.Say("last fax: " + (lastFax.empty() ? std::string("none") : lastFax));
  if (oauth.used) context.Say("OAuth: " + oauth.line);
  context.Say(well ? "status: well" : "status: not well");
  return well ? kAdminOk : kAdminRefused;
}

}  // namespace kestrel
