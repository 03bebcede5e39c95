// Loading ServiceSettings at start-up: a one-time migration out of the
// registry (the current key, or the older "Brightwater Osprey" key), else
// kestrel.xml, else nothing. A migration stores the values in kestrel.xml and
// then removes the registry key; a key that cannot be removed is migrated
// again at the next start.
#pragma once

#include <string>

#include "core/service_settings.h"

namespace kestrel {

class CRegistryFile;
class IEventLog;

inline constexpr const char* kRegistryKey = "Software\\Brightwater\\Brightwater Kestrel";
inline constexpr const char* kOlderRegistryKey = "Software\\Brightwater\\Brightwater Osprey";

enum class SettingsSource { kRegistry, kOlderRegistry, kSettingsFile, kNone };

// Fills `settings` (which should be freshly constructed) from the first source
// found, and says which it was.
SettingsSource LoadSettings(ServiceSettings& settings, CRegistryFile& registry,
                            const std::string& appFolder, IEventLog& log);

}  // namespace kestrel
