// The settings as kestrel-admin names them: every ServiceSettings key (matched
// without regard to case), how its value is shown, and how a typed value is
// taken over with the options sheet's checks and texts (the port as "%u"
// with string 61719, the other numbers as "%d" with string 61712, the
// received-faxes folder made one level deep or refused with string 111).
// The list entries (authentication, image format, security) may also be
// given by their names. The password is shown only as "(set)" or "(empty)".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/service_settings.h"

namespace kestrel {

struct SettingKey {
  const char* name;
  bool isNumber;     // shown as a JSON number
  bool keptInFile;   // kestrel.xml carries it (Logfile and RejectStationID it does not)
};

// Every key, in the order of the settings record.
const std::vector<SettingKey>& SettingKeys();

// The key named `name` (any case), or nullptr.
const SettingKey* FindSettingKey(std::string_view name);

// The value of `key` as shown.
std::string ShowSetting(const ServiceSettings& settings, const SettingKey& key);

// Takes `value` into `settings`; "" when accepted, else the refusal text
// (nothing changed).
std::string ApplySetting(ServiceSettings& settings, const SettingKey& key, const std::string& value);

}  // namespace kestrel
