#include "ui/ui_string_table.h"

namespace kestrel {
namespace {

struct Entry {
  UiStringId id;
  const char* text;
};

constexpr Entry kStrings[] = {
    {IDS_SETTINGS_CAPTION, "Kestrel Settings"},
    {IDS_CLEAR_DIRECTORY, "Do you really want to delete all files in this directory?"},
    {IDS_DELETE_LOGFILE, "Also delete the logfile?"},
    {IDS_EDIT_FORWARDING, "Edit forwarding"},
    {IDS_CHOOSE_DIRECTORY, "Choose the directory for received faxes."},
    {IDS_APP_TITLE, "Brightwater Kestrel"},
};

}  // namespace

const char* LoadUiString(UiStringId id) {
  for (const auto& e : kStrings)
    if (e.id == id) return e.text;
  return "";
}

}  // namespace kestrel
