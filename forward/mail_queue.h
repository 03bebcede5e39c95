// The mail queue on disk: the folder "MailQueue" of the application folder,
// holding one message file "<name>.eml" per mail that could not be sent,
// named after the fax's capture file. The forwarding step writes into it, the
// monitor sends and empties it; both take the names from here. A queue file
// that cannot be published is answered as an empty path; nothing throws.
#pragma once

#include <string>
#include <vector>

namespace kestrel {

// The queue folder of `applicationFolder` (which ends in "/"), without a
// trailing "/".
[[nodiscard]] std::string MailQueueFolder(const std::string& applicationFolder);

// The queue file for the fax captured in `captureFilePath`: the queue folder,
// "/", the capture file's name without folder and extension, ".eml"; for
// `attempt` 2 and later the name carries "-<attempt>" before ".eml", for a
// name the queue already holds.
[[nodiscard]] std::string MailQueueFilePath(const std::string& applicationFolder, const std::string& captureFilePath,
                                            int attempt = 1);

// Saves a complete message file `written` (in the queue folder, under a name
// that does not end in ".eml") as the queue file of `captureFilePath`,
// without replacing any queue file: the first free name of MailQueueFilePath.
// The path taken, or "" when none could be (`written` is removed either way).
[[nodiscard]] std::string PublishQueueFile(const std::string& written, const std::string& applicationFolder,
                                           const std::string& captureFilePath);

// The names of the regular "*.eml" files in `folder`, in name order. Names
// under which a message is still being written do not end in ".eml".
[[nodiscard]] std::vector<std::string> MailQueueFileNames(const std::string& folder);

}  // namespace kestrel
