// The SETTINGS section of kestrel.xml(5), written from the settings table: one
// entry per row with its element, older name, what it takes, its default and
// its description, so that the page says what the code does.
// Works on the page's text only; nothing here fails.
#pragma once

#include <string>

namespace kestrel {

// The section, from its "# SETTINGS" heading to the blank line before the next heading.
std::string SettingsManualSection();

// `page` with its SETTINGS section (up to the next "# " heading) replaced by
// SettingsManualSection(); a page without one is returned as it is.
std::string WithSettingsManualSection(const std::string& page);

}  // namespace kestrel
