// The received-faxes folder as the options sheet makes it when the folder is
// entered: one level is created (its parents must exist already); a folder
// that is there already is fine. kestrel-admin's `settings set ReceivedDir`
// does the same, and both refuse a folder that cannot be made with string 111.
#pragma once

#include <string>

namespace kestrel {

// True when `folder` exists afterwards as the sheet requires; empty is true
// (nothing to make).
bool MakeReceivedFolder(const std::string& folder);

}  // namespace kestrel
