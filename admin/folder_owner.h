// kestrel-admin started by root on the service's application folder acts as
// the folder's owner (the service user): files it writes stay readable for
// the service, signals reach it, and libcapi20 and unixODBC read that user's
// ~/.capi20rc and ~/.odbc.ini as the service does.
#pragma once

#include <string>

namespace kestrel {

// When running as root and `folder` belongs to another user: takes that
// user's groups, group and id, and sets HOME to the user's home. True when
// nothing had to change or the change succeeded.
bool BecomeFolderOwner(const std::string& folder);

}  // namespace kestrel
