// The application folder: where kestrel.log, kestrel.xml, MailQueue/, the
// embedded database and the service's lock live. One rule for every program:
// --home DIR, else KESTREL_HOME, else the packaged service's /var/lib/kestrel
// when it exists (not for the desktop programs, whose service runs as the
// signed-in user), else a folder of the user's own ($XDG_DATA_HOME/kestrel or
// ~/.local/share/kestrel). No program writes beside its executable.
// Failures are answered as an empty string (errno set); nothing throws.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// The folder the Debian package makes for the service user.
inline constexpr char kPackagedFolder[] = "/var/lib/kestrel/";

// Who asks: kestreld and kestrel-admin take the packaged folder when it
// exists; the tray program and Jotter keep to the user's own.
enum class FolderUser { kService, kDesktop };

// What the choice depends on, taken from the command line and environment by
// SettleApplicationFolder; empty texts are "not given".
struct FolderSources {
  std::string home;  // --home DIR, else KESTREL_HOME
  bool packagedExists = false;
  FolderUser user = FolderUser::kService;
  std::string xdgDataHome;  // XDG_DATA_HOME; only an absolute path counts
  std::string userHome;     // HOME
};

// The folder, with a trailing "/", as the rule above picks it.
std::string ChooseApplicationFolder(const FolderSources& sources);

// For a program's start, before anything reads ApplicationFolder(): chooses
// the folder (`home` is --home's DIR or empty), creates a missing per-user
// folder (mode 0700: kestrel.xml holds the mail password) and says so once on
// standard error as "<program>: ...", and sets KESTREL_HOME so every later
// ApplicationFolder() and child process agrees. Empty when the folder cannot
// be created (errno set; nothing printed).
std::string SettleApplicationFolder(std::string_view program, FolderUser user, const std::string& home = "");

// KESTREL_HOME with its trailing "/" once a program settled it; otherwise
// the choice for the service, without creating anything.
std::string ApplicationFolder();

// The folder of the running executable (from /proc/self/exe), with a
// trailing "/": where the desktop finds Jotter and its help page.
std::string ExecutableFolder();

}  // namespace kestrel
