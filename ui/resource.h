// Resource numbers of the tray program: command ids of menu 139 and of the
// application, dialog and icon ids, and the few texts that belong to a
// resource rather than to one window (the tray tooltip string 139). Texts of
// a single window stand beside the code that builds it; the numbered texts the
// service shows are in core/string_table.h, the desktop's in ui/ui_string_table.h.
#pragma once

namespace kestrel {

enum CommandId : int {
  ID_APP_EXIT = 32775,
  ID_SETTINGS = 32776,
  ID_START_RECEPTION = 32781,
  ID_JOTTER = 32784,
  ID_APP_ABOUT = 57664,
  ID_HELP_FINDER = 57670,
};

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDR_MAINFRAME = 128;  // program icon
inline constexpr int IDR_TRAYICON = 139;   // tray icon, its tooltip string and menu 139

// String 139: the tray icon's tooltip.
inline constexpr char kTrayTooltip[] = "Brightwater Kestrel";
// The platform's tooltip record holds at most 63 characters.
inline constexpr int kMaxTooltipLength = 63;

// The prompt string of command 32781, which no menu item carries.
inline constexpr char kStartReceptionPrompt[] = "Start fax reception\nStart fax reception";

}  // namespace kestrel
