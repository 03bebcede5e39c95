#include "core/string_table.h"

namespace kestrel {
namespace {

struct Entry {
  int id;
  const char* text;
};

constexpr Entry kStrings[] = {
    {IDS_NOT_CONFIGURED,
     "Kestrel is not configured completely. Please use the following dialog to complete the "
     "settings for receiving and forwarding faxes."},
    {IDS_CONFIG_INCOMPLETE, "Configuration imcomplete. The program cannot be startet."},
    {IDS_NO_FREE_CONTROLLER, "No free ISDN controller available. Fax reception cannot be started."},
    {IDS_CAPI_NOT_INITIATED, "ISDN CAPI could not be initiated."},
    {IDS_INVALID_PATH, "You have entered an invalid path name."},
    {IDS_DATABASE_OPEN_FAILED, "Opening of database failed."},
    {IDS_ENTER_INTEGER, "Geben Sie bitte eine ganze Zahl ein."},
    {IDS_ENTER_POSITIVE_INTEGER, "Geben Sie bitte eine positive ganze Zahl ein."},
};

}  // namespace

const char* LoadString(int id) {
  for (const auto& e : kStrings)
    if (e.id == id) return e.text;
  return "";
}

}  // namespace kestrel
