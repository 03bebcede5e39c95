// The tray's picture of the running service: the icon and the tooltip lines
// for the line's state (listening with its controllers and B-channels,
// receiving, CAPI not available, reception stopped), the SIP line's
// (registered, taking calls from its peers, or why not), a database that
// could not be opened and the mails waiting in the queue, and an OAuth 2.0
// token that could not be renewed. A SIP call shows as a CAPI call does; a
// line that takes no calls is a fault for the icon only while the other one
// takes none either. The tooltip's first line stays the program's own title;
// these lines follow it.
//
// Pure functions of what they are given, but for OAuthRenewalFailure, which
// reads the token file; nothing fails (a token file that cannot be read is
// itself the failure shown). User-interface thread (they paint).
#pragma once

#include <QIcon>
#include <QStringList>

#include <string>

#include "service/service_app.h"

namespace kestrel {

// What the icon shows, worst first: a fault outranks a call, a call the queue.
enum class TrayState { kListening, kReceiving, kQueued, kCapiUnavailable, kDatabaseUnavailable, kStopped };

TrayState TrayStateOf(const ServiceStatus& status);
// The lines below the title, one per fact.
QStringList TrayStatusLines(const ServiceStatus& status);
// The program's icon with a mark for the state.
QIcon TrayStateIcon(TrayState state);

// The last renewal failure the token file of `folder` keeps, when `settings`
// sign in with OAuth 2.0; empty when none.
std::string OAuthRenewalFailure(const ServiceSettings& settings, const std::string& folder);
// What the tray says about such a failure: a tooltip line while it lasts, and
// a notification (its summary and body) once per failure.
struct OAuthFailureTexts {
  QString line;
  QString summary;
  QString body;
};
OAuthFailureTexts OAuthFailureTextsOf(const std::string& failure);

}  // namespace kestrel
