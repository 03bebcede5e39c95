// kestrel.xml: the settings between runs, as a small element tree
// (Kestrel/Version, Kestrel/Settings/...) without declaration or whitespace,
// one element per row of the settings table (core/setting_table.h) that has
// one, in the table's order. ExportSettings is the file's only writer.
// Whatever the password, the file is well-formed UTF-8 (see ScramblePassword).
//
// The file is untrusted: pugixml parses it whole, every value is taken as the
// element's text and checked against its row. The import is all or nothing.
// Failures are Status values; the parser's own texts also go to the event log.
#pragma once

#include <string>

#include "core/result.h"
#include "core/service_settings.h"

namespace kestrel {

class IEventLog;

// appFolder + "kestrel.xml".
std::string SettingsFilePath(const std::string& appFolder);

// Reads `path` into `settings`: every element of the table is read and
// checked, then all are applied at once; values the file does not carry
// (Logfile, RejectStationID) keep what they had, and an optional element the
// file lacks takes its default. Fails, changing nothing, when the file cannot
// be read or parsed (the parser's reason and position also go to the log),
// when a required element is missing, or when a value does not fit its row
// (the failure names each such element and its value).
[[nodiscard]] Status ImportSettings(const std::string& path, ServiceSettings& settings, IEventLog& log);

// Writes `settings` to `path`, replacing it atomically (temporary file in the
// same folder, flushed, renamed; mode 0600 because it holds the SMTP
// password). Logs "Build Settings begin" and "Build Settings end". A value
// that the import would refuse (a port 0, a choice beyond its list) is not
// written: the export fails and the old file stays, as it does when the file
// cannot be written.
[[nodiscard]] Status ExportSettings(const std::string& path, const ServiceSettings& settings, IEventLog& log);

// The password as the file stores it: empty becomes " "; otherwise reversed,
// each byte plus 5 modulo 256, which a password of printable ASCII other than
// "{|}~" keeps as it is; any other password is written as U+017F followed by
// those shifted bytes in hexadecimal, so that the file stays valid UTF-8 for
// every XML reader. UnscramblePassword undoes either form (" " is empty).
std::string ScramblePassword(const std::string& password);
std::string UnscramblePassword(const std::string& stored);

}  // namespace kestrel
