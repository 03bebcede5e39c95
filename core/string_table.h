// The numbered texts of the string table that the service itself shows or
// logs, and the settings refusals the desktop and kestrel-admin share. The numbers are the resource ids the rest of the
// system refers to; the texts are the system's own, typos included. Texts only the desktop shows are in
// ui/ui_string_table.h.
#pragma once

namespace kestrel {

enum StringId : int {
  IDS_NOT_CONFIGURED = 104,     // first start, settings incomplete
  IDS_CONFIG_INCOMPLETE = 107,  // reception cannot start
  IDS_NO_FREE_CONTROLLER = 109,
  IDS_CAPI_NOT_INITIATED = 110,
  IDS_INVALID_PATH = 111,  // the received-faxes folder cannot be made
  IDS_DATABASE_OPEN_FAILED = 201,
  IDS_ENTER_INTEGER = 61712,  // a number setting that is not a whole number
  IDS_ENTER_POSITIVE_INTEGER = 61719,
};

// The text of `id`; "" for an id the table does not hold.
const char* LoadString(int id);

}  // namespace kestrel
