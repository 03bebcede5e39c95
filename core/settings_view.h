// kestrel-settings.txt: kestrel.xml without its secrets, for the members of
// the application folder's group. kestrel.xml stays readable by its owner
// only (the mail password, the OAuth client secret); this view is written
// beside it (mode 0640) whenever the service or kestrel-admin takes or writes
// the settings, and `kestrel-admin settings` reads it when kestrel.xml is
// closed to the caller. One line per element: "Element<TAB>value", the value
// as kestrel.xml holds it, a secret only as "(set)" or "(empty)".
// The file is read as untrusted: bounded, every value checked by its row.
// Failures are Status / Result values (core/result.h).
#pragma once

#include <string>

#include "core/result.h"
#include "core/service_settings.h"

namespace kestrel {

// appFolder + "kestrel-settings.txt".
std::string SettingsViewPath(const std::string& appFolder);

// Replaces the view atomically; it belongs to the folder's group.
[[nodiscard]] Status WriteSettingsView(const std::string& appFolder, const ServiceSettings& settings);

// The settings the view shows; a secret that is set holds the text "(set)".
// Fails when the file cannot be read (errno kept) or a line does not fit its row.
[[nodiscard]] Result<ServiceSettings> ReadSettingsView(const std::string& appFolder);

}  // namespace kestrel
