// The received-faxes folder as the options sheet keeps it: made, one level
// deep, when the folder is entered (its parents must exist already; a folder
// that is there already is fine), and emptied of its files on request.
// kestrel-admin's `settings set ReceivedDir` makes it the same way, and both
// refuse a folder that cannot be made with the invalid-path text.
// MakeReceivedFolder answers true or false; ClearReceivedFolder answers a
// Status and what it kept. Neither touches anything outside `folder`.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/result.h"

namespace kestrel {

// True when `folder` exists afterwards as the sheet requires; empty is true
// (nothing to make).
bool MakeReceivedFolder(const std::string& folder);

// What ClearReceivedFolder did: the first failure, if any (the folder could
// not be read, a file could not be deleted), and how many files it kept
// because a fax still to be forwarded needs them.
struct ReceivedFolderClearing {
  Status status;
  std::size_t kept = 0;
};

// Deletes the regular files directly inside `folder`: no folders, links,
// sockets, pipes or devices, and none of the files `keep` names (the captures
// of faxes not yet forwarded: deleting one would lose its fax). The event log
// (kestrel.log in any letter case) goes only when `deleteLogfile` answers
// true; it is asked once per such file. An empty `folder` is no folder at
// all (not the current one): nothing is deleted. Every file is tried.
[[nodiscard]] ReceivedFolderClearing ClearReceivedFolder(const std::string& folder,
                                                         const std::function<bool()>& deleteLogfile,
                                                         const std::vector<std::string>& keep = {});

// What the caller shows or logs after a clearing that kept files:
// "<n> received fax file(s) kept: their faxes are not forwarded yet."
[[nodiscard]] std::string KeptFilesText(std::size_t kept);

}  // namespace kestrel
