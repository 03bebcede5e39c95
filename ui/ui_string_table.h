// The numbered texts of the string table that only the desktop shows: window
// captions, the options sheet's questions and refusals. The numbers are the
// resource ids of the system; the texts are its own, typos included. The
// service's own texts are in core/string_table.h.
#pragma once

namespace kestrel {

enum UiStringId : int {
  IDS_SETTINGS_CAPTION = 103,     // "Kestrel Settings"
  IDS_CLEAR_DIRECTORY = 108,
  IDS_INVALID_PATH = 111,
  IDS_DELETE_LOGFILE = 112,
  IDS_OLE_INIT_FAILED = 197,
  IDS_EDIT_FORWARDING = 199,
  IDS_CHOOSE_DIRECTORY = 200,
  IDS_APP_TITLE = 57344,          // "Brightwater Kestrel"
  IDS_ENTER_INTEGER = 61712,
  IDS_ENTER_POSITIVE_INTEGER = 61719,
};

// The text of `id`.
const char* LoadUiString(UiStringId id);

}  // namespace kestrel
