// kestrel-admin status: one look at the service for a person or a monitoring
// call. The service's own view comes from the status file it publishes
// (service/status_file.h): whether it listens and why not, CAPI as it sees
// it, calls, faxes, its last failures. What kestrel-admin sees itself is
// added: whether the database opens, the inbox and mail-queue counts, the
// journal's last fax (and each node's, when several services share the
// journal). CAPI is probed here only when no service runs.
// Exits 0 only when the service runs, publishes a fresh status, listens and
// delivers (no queued or undeliverable mail, no entry set aside, the OAuth
// 2.0 login well when used); 1 otherwise, with the reasons in words.
#include <capi20.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <optional>

#include "admin/admin_commands.h"
#include "admin/admin_context.h"
#include "admin/capi_probe.h"
#include "admin/json_text.h"
#include "forward/fax_inbox.h"
#include "forward/mail_queue.h"
#include "service/service_lock.h"
#include "service/status_file.h"
#include "service/status_publisher.h"
#include "store/database_exception.h"
#include "store/journal.h"
#include "store/odbc_connection.h"

namespace kestrel {
namespace {

// The tray's words for the calls in progress, behind the count.
std::string ReceivingWords(std::int64_t calls) {
  if (calls <= 0) return "";
  if (calls == 1) return " (Receiving a fax)";
  return " (Receiving " + std::to_string(calls) + " faxes)";
}

std::string LocalTimeText(std::int64_t seconds) {
  if (seconds <= 0) return "";
  const std::time_t at = static_cast<std::time_t>(seconds);
  std::tm local{};
  char text[32] = "";
  if (::localtime_r(&at, &local)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string InfoText(std::int64_t info) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(info & 0xFFFF));
  return text;
}

// libcapi20's own words for a code; the library's tables, not the line's bytes.
std::string InfoWords(std::int64_t info) {
  const char* words = capi_info2str(static_cast<_cword>(info & 0xFFFF));
  return words ? words : "";
}

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

// The SIP line takes calls: it runs and, where it registers, is registered.
bool SipTakesCalls(const PublishedStatus& view) {
  return view.sipRunning && (view.sipRegistrar.empty() || view.sipRegistered);
}

// The status's line for an enabled SIP line; empty when it is not enabled.
std::string SipLineText(const PublishedStatus& view) {
  if (!view.sipEnabled) return {};
  if (!view.sipRunning) return "SIP: not running: " + (view.sipFailure.empty() ? "starting" : view.sipFailure);
  if (view.sipRegistrar.empty()) return "SIP: taking calls from its peers, no registrar";
  if (!view.sipRegistered) return "SIP: not registered: " + (view.sipFailure.empty() ? "registering" : view.sipFailure);
  const std::int64_t left =
      std::max<std::int64_t>(0, view.sipExpiresAt - static_cast<std::int64_t>(std::time(nullptr)));
  return "SIP: registered as " + view.sipUser + "@" + view.sipRegistrar + ", expires in " + std::to_string(left) + " s";
}

// The OAuth 2.0 login's state: from the service's view, or read here when
// no service runs.
struct OAuthState {
  bool used = false;
  bool well = true;
  std::string expires;  // local time; empty: no token
  std::string error;
};

OAuthState OwnOAuthLook(CAdminContext& context) {
  Result<ServiceSettings> settings = context.LoadSettings();
  if (!settings || settings->AuthenticationMethod != SmtpAuthentication::OAuth) return {};
  const OAuthView view = LookAtOAuthTokens(context.Folder());
  return {true, view.well, view.well ? LocalTimeText(view.expiresAt) : std::string(), view.error};
}

// How far the status file can be believed.
enum class ViewState { kFresh, kStale, kMissing, kLeftBehind, kOtherProcess };

const char* ViewWord(ViewState v) {
  switch (v) {
    case ViewState::kFresh: return "fresh";
    case ViewState::kStale: return "stale";
    case ViewState::kMissing: return "missing";
    case ViewState::kLeftBehind: return "left behind";
    case ViewState::kOtherProcess: return "of another process";
  }
  return "missing";
}

bool ProcessExists(std::int64_t pid) { return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

}  // namespace

int RunStatusCommand(const AdminArgs& args, CAdminContext& context) {
  if (!args.empty()) return context.Usage("status");
  if (CAdminContext::Readable(context.Folder()) == EACCES) return context.PermissionDenied(context.Folder());
  const pid_t service = CServiceLock::RunningService(context.Folder());
  const Result<PublishedStatus> published = ReadStatusFile(context.Folder());
  std::optional<PublishedStatus> view;
  if (published) view = *published;

  ViewState viewState = ViewState::kMissing;
  if (view && service == 0)
    viewState = ViewState::kLeftBehind;
  else if (view && service > 0 && view->pid != service)
    viewState = ViewState::kOtherProcess;
  else if (view && static_cast<std::int64_t>(std::time(nullptr)) - view->heartbeatAt > kStatusStaleSeconds)
    viewState = ViewState::kStale;
  else if (view)
    viewState = ViewState::kFresh;
  const bool believed = viewState == ViewState::kFresh || viewState == ViewState::kStale;

  // CAPI: the service's view while one runs; otherwise asked here.
  CapiAnswer capi;
  const bool probed = service == 0;
  if (probed) {
    capi = ProbeCapi();
  } else if (believed) {
    capi.answers = view->line != "capi-unavailable" && view->line != "stopped";
    capi.info = static_cast<unsigned>(view->capiInfo);
    capi.controllers = static_cast<int>(view->controllers);
    capi.bChannels = static_cast<int>(view->bChannels);
  }
  // Only a running service knows its calls; a probe sees none.
  const std::int64_t channelsInUse = believed && !probed ? view->bChannelsInUse : 0;
  const std::string capiWords = capi.answers ? std::string()
                                : probed     ? InfoWords(capi.info)
                                : view       ? view->capiReason
                                             : "";

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
  // The newest fax of the journal, and of each node where several services
  // share it: either node's status names both.
  std::string lastFax;
  std::vector<NodeLastFax> nodesLastFax;
  if (databaseError.empty()) {
    const NodeLastFaxes last = ListLastFaxByNode();
    for (const NodeLastFax& n : last.nodes) {
      lastFax = std::max(lastFax, n.receivingTime);
      if (!n.node.empty()) nodesLastFax.push_back(n);
    }
    if (nodesLastFax.size() < 2) nodesLastFax.clear();
  }

  OAuthState oauth;
  if (believed && view->oauthUsed) {
    oauth = {true, view->oauthWell, LocalTimeText(view->oauthExpiresAt), view->oauthError};
  } else if (service == 0) {
    oauth = OwnOAuthLook(context);
  }

  // The reasons, in words, in the order a person would see to them.
  std::vector<std::string> reasons;
  if (service == 0) {
    if (!view)
      reasons.push_back("no service runs");
    else if (ProcessExists(view->pid))
      reasons.push_back("the service (process " + std::to_string(view->pid) + ") no longer serves the folder");
    else
      reasons.push_back("the service (process " + std::to_string(view->pid) + ") has gone without stopping");
  } else if (viewState == ViewState::kMissing || viewState == ViewState::kOtherProcess) {
    reasons.push_back("the service publishes no status" +
                      (published ? std::string() : " (" + published.Describe() + ")"));
  } else if (viewState == ViewState::kStale) {
    reasons.push_back("the service's status is stale (last written " + LocalTimeText(view->heartbeatAt) +
                      "): it may hang");
  }
  if (service != 0 && believed && !view->listening) {
    std::string why = "the service does not receive faxes: " + view->notListeningWhy;
    if (!view->missingSettings.empty()) why += " (missing: " + Joined(view->missingSettings) + ")";
    reasons.push_back(why);
  }
  if (!databaseError.empty()) reasons.push_back("the database does not open");
  if (queued > 0) reasons.push_back("mail waits in the queue");
  if (undeliverable > 0) reasons.push_back("mail was refused for good");
  if (setAside > 0) reasons.push_back("a fax entry was set aside as unreadable");
  if (oauth.used && !oauth.well) reasons.push_back("the OAuth 2.0 login is not well");
  const std::string sipLine = service != 0 && believed ? SipLineText(*view) : std::string();
  if (service != 0 && believed && view->sipEnabled && !SipTakesCalls(*view))
    reasons.push_back("the SIP line takes no calls: " + sipLine.substr(sipLine.find(':') + 2));
  const bool well = reasons.empty();

  if (context.Json()) {
    CJsonObject serviceJson;
    serviceJson.Bool("running", service != 0)
        .Number("pid", service > 0 ? service : 0)
        .Text("status", ViewWord(viewState));
    if (view) serviceJson.Number("startedAt", view->startedAt).Number("heartbeatAt", view->heartbeatAt);
    CJsonObject out;
    out.Raw("service", serviceJson.Close());
    if (believed) {
      CJsonArray missing;
      for (const std::string& name : view->missingSettings) missing.Raw(JsonString(name));
      out.Raw("reception", CJsonObject()
                               .Bool("listening", view->listening)
                               .Text("line", view->line)
                               .Text("why", view->notListeningWhy)
                               .Raw("missingSettings", missing.Close())
                               .Number("callsInProgress", view->callsInProgress)
                               .Number("faxesReceived", view->faxesReceived)
                               .Text("lastFaxAt", LocalTimeText(view->lastFaxAt))
                               .Close());
    }
    out.Raw("capi", CJsonObject()
                        .Text("source", probed ? "probe" : "service")
                        .Bool("answers", capi.answers)
                        .Text("info", InfoText(capi.info))
                        .Text("reason", capiWords)
                        .Number("controllers", capi.controllers)
                        .Number("bChannels", capi.bChannels)
                        .Number("bChannelsInUse", channelsInUse)
                        .Close());
    if (believed && view->sipEnabled)
      out.Raw("sip", CJsonObject()
                         .Bool("running", view->sipRunning)
                         .Bool("registered", view->sipRegistered)
                         .Text("registrar", view->sipRegistrar)
                         .Text("user", view->sipUser)
                         .Text("expires", LocalTimeText(view->sipExpiresAt))
                         .Text("failure", view->sipFailure)
                         .Number("callsInProgress", view->sipCalls)
                         .Number("channels", view->sipChannels)
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
    if (!nodesLastFax.empty()) {
      CJsonObject byNode;
      for (const NodeLastFax& n : nodesLastFax) byNode.Text(n.node, n.receivingTime);
      out.Raw("lastFaxByNode", byNode.Close());
    }
    if (oauth.used)
      out.Raw("oauth",
              CJsonObject().Bool("held", oauth.well).Text("expires", oauth.expires).Text("error", oauth.error).Close());
    if (believed) {
      out.Raw("lastDeliveryError", CJsonObject()
                                       .Text("text", view->lastDeliveryError)
                                       .Text("at", LocalTimeText(view->lastDeliveryErrorAt))
                                       .Close());
      out.Raw("lastError",
              CJsonObject().Text("text", view->lastError).Text("at", LocalTimeText(view->lastErrorAt)).Close());
    }
    CJsonArray reasonsJson;
    for (const std::string& r : reasons) reasonsJson.Raw(JsonString(r));
    out.Raw("reasons", reasonsJson.Close());
    out.Bool("well", well);
    context.Say(out.Close());
    return well ? kAdminOk : kAdminRefused;
  }

  context.Say("service: " + (service > 0   ? "running (process " + std::to_string(service) + ")"
                             : service < 0 ? std::string("running (process unknown)")
                                           : std::string("not running")));
  if (service == 0 && view)
    context.Say("status file: left by process " + std::to_string(view->pid) + ", last written " +
                LocalTimeText(view->heartbeatAt));
  if (service != 0 && viewState != ViewState::kFresh)
    context.Say(std::string("status file: ") + ViewWord(viewState) +
                (view ? ", last written " + LocalTimeText(view->heartbeatAt) : std::string()));
  if (service != 0 && believed) {
    std::string reception = view->listening ? "listening" : "not listening: " + view->notListeningWhy;
    if (!view->missingSettings.empty()) reception += " (missing: " + Joined(view->missingSettings) + ")";
    context.Say("reception: " + reception);
  }
  if (service == 0 || believed) {
    const std::string source = probed ? " (asked by kestrel-admin: no service runs)" : "";
    if (capi.answers)
      context.Say("capi: " + std::to_string(capi.controllers) + " controller(s), " + std::to_string(capi.bChannels) +
                  " B-channel(s)" + (probed ? "" : ", " + std::to_string(channelsInUse) + " in use") + source);
    else if (capi.info != 0)
      context.Say("capi: not answering (" + InfoText(capi.info) + (capiWords.empty() ? "" : ": " + capiWords) + ")" +
                  source);
    else
      context.Say("capi: not answering (" + (view ? view->line : std::string("no answer")) + ")" + source);
  }
  if (!sipLine.empty()) context.Say(sipLine);
  if (service != 0 && believed) {
    context.Say("calls in progress: " + std::to_string(view->callsInProgress) + ReceivingWords(view->callsInProgress));
    context.Say("faxes received since start: " + std::to_string(view->faxesReceived));
  }
  context.Say("database: " + (databaseError.empty() ? std::string("opens") : "fails: " + databaseError));
  context.Say("recorded, not forwarded: " + std::to_string(recorded));
  context.Say("queued mails: " + std::to_string(queued));
  // A mail refused for good needs a person; the line comes only then.
  if (undeliverable > 0) context.Say("undeliverable mails: " + std::to_string(undeliverable));
  context.Say("set aside, unreadable: " + std::to_string(setAside));
  context.Say("last fax: " + (lastFax.empty() ? std::string("none") : lastFax));
  for (const NodeLastFax& n : nodesLastFax) context.Say("last fax on " + n.node + ": " + n.receivingTime);
  if (believed && !view->lastDeliveryError.empty())
    context.Say("last delivery error: " + LocalTimeText(view->lastDeliveryErrorAt) + " " + view->lastDeliveryError);
  if (oauth.used) context.Say("OAuth: " + (oauth.well ? "token held, expires " + oauth.expires : oauth.error));
  if (believed && !view->lastError.empty())
    context.Say("last error: " + LocalTimeText(view->lastErrorAt) + " " + view->lastError);
  for (const std::string& r : reasons) context.Say("not well: " + r);
  context.Say(well ? "status: well" : "status: not well");
  return well ? kAdminOk : kAdminRefused;
}

}  // namespace kestrel
