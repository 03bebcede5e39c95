// kestreld and kestrel-admin started by root on an application folder that
// belongs to another user act as that owner (the service user): no file in
// the folder ever becomes root's, files written stay readable for the
// service, signals reach it, and libcapi20 and unixODBC read that user's
// ~/.capi20rc and ~/.odbc.ini. Failures are answered as false (errno set).
#pragma once

#include <string>

namespace kestrel {

// When running as root and `folder` belongs to another user: takes that
// user's groups, group and id, and sets HOME to the user's home. True when
// nothing had to change or the change succeeded.
bool BecomeFolderOwner(const std::string& folder);

}  // namespace kestrel
