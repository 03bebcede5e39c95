// The tray's picture of the running service: the icon and the tooltip lines
// for the line's state (listening with its controllers and B-channels,
// receiving, CAPI not available, reception stopped), a database that could
// not be opened and the mails waiting in the queue. The tooltip's first line
// stays the program's own title; these lines follow it.
//
// Pure functions of a ServiceStatus; user-interface thread (they paint).
#pragma once

#include <QIcon>
#include <QStringList>

#include "service/service_app.h"

namespace kestrel {

// What the icon shows, worst first: a fault outranks a call, a call the queue.
enum class TrayState { kListening, kReceiving, kQueued, kCapiUnavailable, kDatabaseUnavailable, kStopped };

TrayState TrayStateOf(const ServiceStatus& status);
// The lines below the title, one per fact.
QStringList TrayStatusLines(const ServiceStatus& status);
// The program's icon with a mark for the state.
QIcon TrayStateIcon(TrayState state);

}  // namespace kestrel
