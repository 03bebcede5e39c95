// Loading ServiceSettings at start-up: kestrel.xml when it exists, else a
// one-time migration out of the registry (the current key, or the older
// "Brightwater Osprey" key), else nothing. A migration never loses a value:
// the key is removed only after kestrel.xml was written, and a key that cannot
// be removed as a whole is left untouched and remembered as migrated.
#pragma once

#include <string>

#include "core/result.h"
#include "core/service_settings.h"

namespace kestrel {

class CRegistryFile;
class IEventLog;

inline constexpr const char* kRegistryKey = "Software\\Brightwater\\Brightwater Kestrel";
inline constexpr const char* kOlderRegistryKey = "Software\\Brightwater\\Brightwater Osprey";

enum class SettingsSource { kRegistry, kOlderRegistry, kSettingsFile, kNone };

// appFolder + "kestrel.migrated": written (holding the key's name and a line
// end) when a migrated key stays in the registry, because another sub-key
// keeps it or it could not be deleted. It lives beside the kestrel.xml it
// guards, so both survive a restart together, and a new application folder
// takes the registry values over once more; the registry file itself is never
// given values of Kestrel's own.
std::string MigrationMarkerPath(const std::string& appFolder);

// Fills `settings` (which should be freshly constructed) from the first source
// found, and says which it was:
// 1. kestrel.xml exists: it is imported and the registry is not consulted.
// 2. The marker exists: nothing is loaded (kNone); the registry is not read again.
// 3. A registry key that can be opened for writing: its values are read (with
//    the migration defaults) and stored in kestrel.xml. Only when that write
//    succeeded are the sections Fax, Email and MSN and then the key deleted,
//    and only when nothing else lies below the key; a key left in place gets
//    the marker. When the write fails the values serve this run only.
// Every value of the sections Fax, MSN and Email of `key` named in the
// settings table, with the row's default where a value is missing or has
// another type; fails, naming the value, when one does not fit its row (a
// port 70000, a choice beyond its list). Reads only: the migration above and
// kestrel-admin's `settings import` of an export file.
[[nodiscard]] Result<ServiceSettings> ReadRegistrySettings(const CRegistryFile& registry, const std::string& key);

// Fails when kestrel.xml exists but cannot be used, or the registry source
// holds a value that does not fit (nothing is migrated then); `settings` is
// unchanged on failure.
[[nodiscard]] Result<SettingsSource> LoadSettings(ServiceSettings& settings, CRegistryFile& registry,
                                                  const std::string& appFolder, IEventLog& log);

}  // namespace kestrel
