// Dropping root to the owner of the application folder: groups first,
// then group and user id, so nothing of root's remains.
#include "platform/folder_owner.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace kestrel {

bool BecomeFolderOwner(const std::string& folder) {
  if (::geteuid() != 0) return true;
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0 || st.st_uid == 0) return true;
  std::vector<char> buffer(16384);
  passwd entry;
  passwd* user = nullptr;
  if (::getpwuid_r(st.st_uid, &entry, buffer.data(), buffer.size(), &user) != 0 || !user) {
    // No name to take the groups from: the folder's group alone.
    return ::setgroups(0, nullptr) == 0 && ::setgid(st.st_gid) == 0 && ::setuid(st.st_uid) == 0;
  }
  if (::initgroups(user->pw_name, user->pw_gid) != 0 || ::setgid(user->pw_gid) != 0 || ::setuid(user->pw_uid) != 0)
    return false;
  ::setenv("HOME", user->pw_dir, 1);
  return true;
}

}  // namespace kestrel
