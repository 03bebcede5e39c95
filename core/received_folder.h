// The received-faxes folder as the options sheet keeps it: made, one level
// deep, when the folder is entered (its parents must exist already; a folder
// that is there already is fine), and emptied of its files on request.
// kestrel-admin's `settings set ReceivedDir` makes it the same way, and both
// refuse a folder that cannot be made with the invalid-path text.
// MakeReceivedFolder answers true or false; ClearReceivedFolder returns a
// Status. Neither touches anything outside `folder`.
#pragma once

#include <functional>
#include <string>

#include "core/result.h"

namespace kestrel {

// True when `folder` exists afterwards as the sheet requires; empty is true
// (nothing to make).
bool MakeReceivedFolder(const std::string& folder);

// Deletes the regular files directly inside `folder`: no folders, links,
// sockets, pipes or devices. The event log (kestrel.log in any letter case)
// goes only when `deleteLogfile` answers true; it is asked once per such file.
// An empty `folder` is no folder at all (not the current one): nothing is
// deleted. Every file is tried; the result is the first failure, if any (the
// folder could not be read, a file could not be deleted).
Status ClearReceivedFolder(const std::string& folder, const std::function<bool()>& deleteLogfile);

}  // namespace kestrel
