// The short message that proves the SMTP settings work, sent with the
// settings of the application folder (kestrel.xml, or the registry migration
// as at start-up). kestreld --test-mail and kestrel-admin test-mail both send
// it: the server's last reply goes to standard output, the reason for a
// failure to standard error prefixed with `program`.
#pragma once

#include <atomic>
#include <string>

namespace kestrel {

class IEventLog;

// 0 when the server accepted the message, 1 when it did not (or `stop`
// turned true while the session waited, which ends it within a fraction of a
// second), 2 when the settings cannot be used or name no server or sender
// address.
int SendTestMail(const std::string& to, IEventLog& log, const std::string& program,
                 const std::atomic<bool>* stop = nullptr);

}  // namespace kestrel
