// The options sheet as the service core sees it: something that lets the
// administrator edit a copy of the settings and says whether it was confirmed.
// The desktop implements it with its options sheet; kestreld has none.
#pragma once

#include "core/service_settings.h"

namespace kestrel {

class ISettingsEditor {
 public:
  virtual ~ISettingsEditor() = default;
  // Shows the editor modally over `values` (a copy of the current settings).
  // Returns true when the administrator confirmed (OK); `values` then holds
  // the confirmed settings. False (Cancel) leaves the service as it was.
  virtual bool EditSettings(ServiceSettings& values) = 0;
};

}  // namespace kestrel
