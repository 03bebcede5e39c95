// The mail queue on disk: the folder "MailQueue" of the application folder,
// holding one message file "<name>.eml" per mail that could not be sent,
// named after the fax's capture file. The forwarding step writes into it, the
// monitor sends and empties it; both take the names from here. Mails the
// server refused for good wait in "MailQueue/Undeliverable" under the same
// names, never sent by the monitor, until the administrator returns one.
// Failure style: a queue file that cannot be published or moved is answered
// as an empty path (errno tells why), a file that cannot be returned or
// rewritten as a Status (core/result.h); nothing throws.
#pragma once

#include <string>
#include <vector>

#include "core/result.h"

namespace kestrel {

class CMailAddress;

// Which folder of the queue a mail file goes to.
enum class QueueShelf {
  kWaiting,        // MailQueue: sent by the monitor
  kUndeliverable,  // MailQueue/Undeliverable: refused for good, kept for a person
};

// The queue folder of `applicationFolder` (which ends in "/"), without a
// trailing "/".
[[nodiscard]] std::string MailQueueFolder(const std::string& applicationFolder);

// The folder of the mails refused for good, without a trailing "/".
[[nodiscard]] std::string UndeliverableFolder(const std::string& applicationFolder);

// The queue file for the fax captured in `captureFilePath`: the folder of
// `shelf`, "/", the capture file's name without folder and extension, ".eml";
// for `attempt` 2 and later the name carries "-<attempt>" before ".eml", for
// a name the folder already holds.
[[nodiscard]] std::string MailQueueFilePath(const std::string& applicationFolder, const std::string& captureFilePath,
                                            int attempt = 1, QueueShelf shelf = QueueShelf::kWaiting);

// Saves a complete message file `written` (in the queue folder, under a name
// that does not end in ".eml") as the queue file of `captureFilePath` on
// `shelf` (its folder made when missing), without replacing any file: the
// first free name of MailQueueFilePath. The path taken, or "" when none
// could be (`written` is removed either way).
[[nodiscard]] std::string PublishQueueFile(const std::string& written, const std::string& applicationFolder,
                                           const std::string& captureFilePath, QueueShelf shelf = QueueShelf::kWaiting);

// Moves the queue file `path` (in the queue folder) into the undeliverable
// folder, made when missing, under its own name, or the first free
// "<name>-<n>.eml" when a file there has it. The new path, or "".
[[nodiscard]] std::string SetAsideUndeliverable(const std::string& path);

// The one event text for a mail refused for good, now kept at `keptAt`.
[[nodiscard]] std::string UndeliverableEventText(const std::string& keptAt, const std::string& reply);

// Moves the file `name` of the undeliverable folder back into the queue under
// the same name. Refused when the folder lists no such file or the queue
// already holds one of that name.
[[nodiscard]] Status ReturnUndeliverable(const std::string& applicationFolder, const std::string& name);

// Rewrites the queue file `path` in place with `owed` as its recipients (its
// To header), so that a resend goes only to them; the rest of the file stays.
[[nodiscard]] Status KeepOwedRecipients(const std::string& path, const std::vector<CMailAddress>& owed);

// The names of the regular "*.eml" files in `folder`, in name order. Names
// under which a message is still being written do not end in ".eml".
[[nodiscard]] std::vector<std::string> MailQueueFileNames(const std::string& folder);

}  // namespace kestrel
