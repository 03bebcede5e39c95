// Making the received-faxes folder, one level deep, with the mode the
// process's umask leaves (as the options sheet does).
#include "core/received_folder.h"

#include <cerrno>
#include <sys/stat.h>

namespace kestrel {

bool MakeReceivedFolder(const std::string& folder) {
  if (folder.empty()) return true;
  return ::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST;
}

}  // namespace kestrel
