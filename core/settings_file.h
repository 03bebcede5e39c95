// kestrel.xml: the settings between runs, as a small element tree
// (Kestrel/Version, Kestrel/Settings/...) without declaration or whitespace.
// ExportSettings is the file's only writer; ImportSettings runs once at start-up.
// Whatever the password, the file is well-formed UTF-8 (see ScramblePassword).
//
// The file is untrusted: pugixml parses it whole, every value is taken as the
// element's text, numbers are scanned as "%d" and keep the previous value when
// none can be scanned. A missing element ends the import there.
#pragma once

#include <string>

#include "core/service_settings.h"

namespace kestrel {

class IEventLog;

// appFolder + "kestrel.xml".
std::string SettingsFilePath(const std::string& appFolder);

// Reads `path` into `settings`, applying values in the fixed order; a value
// not read keeps what it had. Returns 0 when every element was read, 1 when
// the import ended at a missing element (still success), and a negative value
// when the file cannot be read or parsed (nothing changes; the parser's reason
// and position go to the log).
int ImportSettings(const std::string& path, ServiceSettings& settings, IEventLog& log);

// Writes `settings` to `path`, replacing it atomically (temporary file in the
// same folder, flushed, renamed; mode 0600 because it holds the SMTP
// password). Logs "Build Settings begin" and "Build Settings end". Returns 0,
// or a negative value when nothing could be written (the old file stays).
int ExportSettings(const std::string& path, const ServiceSettings& settings, IEventLog& log);

// The password as the file stores it: empty becomes " "; otherwise reversed,
// each byte plus 5 modulo 256, which a password of printable ASCII other than
// "{|}~" keeps as it is; any other password is written as U+017F followed by
// those shifted bytes in hexadecimal, so that the file stays valid UTF-8 for
// every XML reader. UnscramblePassword undoes either form (" " is empty).
std::string ScramblePassword(const std::string& password);
std::string UnscramblePassword(const std::string& stored);

}  // namespace kestrel
