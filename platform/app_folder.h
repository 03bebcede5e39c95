// The application folder: where kestrel.log, kestrel.xml, MailQueue/, the help
// page and the embedded database live. It is the folder of the running
// executable, unless the environment variable KESTREL_HOME names another one
// (an installed program's own folder is not writable).
#pragma once

#include <string>

namespace kestrel {

// The application folder with a trailing "/". Reads KESTREL_HOME on every
// call, so a program may set it (kestreld --home) before anything else runs.
std::string ApplicationFolder();

// The folder of the running executable (from /proc/self/exe), with a trailing "/".
std::string ExecutableFolder();

}  // namespace kestrel
