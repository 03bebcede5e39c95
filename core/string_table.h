// The numbered texts of the string table. The numbers are the resource ids the
// rest of the system refers to; the texts are the system's own, typos included.
#pragma once

namespace kestrel {

enum StringId : int {
  IDS_SETTINGS_CAPTION = 103,     // "Kestrel Settings"
  IDS_NOT_CONFIGURED = 104,       // first start, settings incomplete
  IDS_CONFIG_INCOMPLETE = 107,    // reception cannot start
  IDS_CLEAR_DIRECTORY = 108,
  IDS_NO_FREE_CONTROLLER = 109,
  IDS_CAPI_NOT_INITIATED = 110,
  IDS_INVALID_PATH = 111,
  IDS_DELETE_LOGFILE = 112,
  IDS_OLE_INIT_FAILED = 197,
  IDS_EDIT_FORWARDING = 199,
  IDS_CHOOSE_DIRECTORY = 200,
  IDS_DATABASE_OPEN_FAILED = 201,
  IDS_APP_TITLE = 57344,          // "Brightwater Kestrel"
  IDS_ENTER_INTEGER = 61712,
  IDS_ENTER_POSITIVE_INTEGER = 61719,
};

// The text of `id`; "" for an id the table does not hold.
const char* LoadString(int id);

}  // namespace kestrel
