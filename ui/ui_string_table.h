// The numbered texts of the string table that only the desktop shows: window
// captions and the options sheet's questions. The numbers are the system's
// own string numbers; the texts are its own, typos included. The
// service's own texts, and the settings refusals kestrel-admin shows too, are
// in core/string_table.h. A number without a text gives "".
#pragma once

namespace kestrel {

enum UiStringId : int {
  IDS_SETTINGS_CAPTION = 103,  // "Kestrel Settings"
  IDS_CLEAR_DIRECTORY = 108,
  IDS_DELETE_LOGFILE = 112,
  IDS_EDIT_FORWARDING = 199,
  IDS_CHOOSE_DIRECTORY = 200,
  IDS_APP_TITLE = 57344,  // "Brightwater Kestrel"
};

// The text of `id`.
const char* LoadUiString(UiStringId id);

}  // namespace kestrel
