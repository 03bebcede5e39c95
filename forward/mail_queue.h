// The mail queue on disk: the folder "MailQueue" of the application folder,
// holding one message file "<name>.eml" per mail that could not be sent,
// named after the fax's capture file. The forwarding step writes into it, the
// monitor sends and empties it; both take the names from here.
#pragma once

#include <string>
#include <vector>

namespace kestrel {

// The queue folder of `applicationFolder` (which ends in "/"), without a
// trailing "/".
std::string MailQueueFolder(const std::string& applicationFolder);

// The queue file for the fax captured in `captureFilePath`: the queue folder,
// "/", the capture file's name without folder and extension, ".eml".
std::string MailQueueFilePath(const std::string& applicationFolder, const std::string& captureFilePath);

// The names of the regular "*.eml" files in `folder`, in name order. Names
// under which a message is still being written do not end in ".eml".
std::vector<std::string> MailQueueFileNames(const std::string& folder);

}  // namespace kestrel
