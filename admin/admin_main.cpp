// The kestrel-admin command line: options, then one command. The application
// folder is the one kestreld takes (platform/app_folder.h).
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "admin/admin_commands.h"
#include "admin/admin_context.h"
#include "core/setting_table.h"
#include "core/version.h"
#include "platform/app_folder.h"
#include "platform/bounded_file.h"
#include "platform/folder_owner.h"

namespace kestrel {
namespace {

// A registry export of a whole machine is far smaller.
constexpr std::size_t kMaxImportBytes = 16 * 1024 * 1024;

}  // namespace

std::string AdminHelpText() {
  std::string text =
      "usage: kestrel-admin [--home DIR] [--json] COMMAND ...\n"
      "       kestrel-admin --version | --help\n"
      "\n"
      "  settings                          print every setting (the password as (set) or (empty))\n"
      "  settings set KEY VALUE ...        change settings; each KEY and what it takes is listed below\n"
      "  settings import FILE              take over a registry export or another kestrel.xml\n"
      "  msn list|add NUMBER ADDRESS|edit NUMBER NEW-NUMBER ADDRESS|delete NUMBER\n"
      "  msn all on ADDRESS | msn all off  accept every call and forward it to ADDRESS\n"
      "  caller list|add NUMBER ADDRESS|edit NUMBER NEW-NUMBER ADDRESS|delete NUMBER\n"
      "  journal list [--limit N]          received faxes, newest first\n"
      "  journal delete ID\n"
      "  queue list|retry|delete NAME      mails waiting to be sent; retry sends them now\n"
      "  queue retry NAME                  an undeliverable mail back into the queue\n"
      "  status                            service, CAPI, database, waiting faxes and mails\n"
      "  test-mail ADDRESS                 send a short message with the SMTP settings\n"
      "  mail login [--port N]             sign in for OAuth 2.0 with the OAuthGrant (device: enter\n"
      "                                    the code shown elsewhere; code: open the URL shown;\n"
      "                                    --port N fixes the redirect's port for ssh -L)\n"
      "  mail logout                       forget the OAuth 2.0 tokens\n"
      "\n"
      "Settings changes are written to kestrel.xml and the running service re-reads it.\n"
      "--json prints lists and the status as JSON. Exit status: 0 done, 1 refused or\n"
      "not well (status), 2 usage error. Run as root, kestrel-admin acts as the owner\n"
      "of the application folder.\n"
      "\n"
      "Settings (kestrel.xml's elements; the older names in brackets are taken too):\n";
  for (const SettingRow& row : SettingRows()) {
    if (!row.InFile()) continue;
    char line[160];
    const std::string name = std::string(row.element) + " (" + std::string(row.member) + ")";
    const std::string takes = row.secret ? "- (the value is read from standard input)" : DescribeAccepted(row);
    std::snprintf(line, sizeof line, "  %-44s %s\n", name.c_str(), takes.c_str());
    text += line;
  }
  return text;
}

int RunAdmin(int argc, char** argv) {
  bool json = false;
  std::string home;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::fputs(AdminHelpText().c_str(), stdout);
      return kAdminOk;
    } else if (option == "--version") {
      std::printf("Kestrel %s\n", kProductVersion);
      return kAdminOk;
    } else if (option == "--home" && i + 1 < argc) {
      home = argv[++i];
    } else if (option == "--json") {
      json = true;
    } else {
      std::fputs(AdminHelpText().c_str(), stderr);
      return kAdminUsage;
    }
  }
  if (i >= argc) {
    std::fputs(AdminHelpText().c_str(), stderr);
    return kAdminUsage;
  }
  const std::string folder = SettleApplicationFolder("kestrel-admin", FolderUser::kService, home);
  if (folder.empty()) {
    std::fprintf(stderr, "kestrel-admin: cannot create the application folder: %s\n", std::strerror(errno));
    return kAdminRefused;
  }
  const std::string command = argv[i];
  AdminArgs args(argv + i + 1, argv + argc);
  // The file to import is read with the caller's rights (root reads
  // /root/file), before they become the folder owner's.
  std::string imported;
  const bool importing = command == "settings" && args.size() == 2 && args[0] == "import";
  if (importing && !ReadBoundedFile(args[1], imported, kMaxImportBytes)) {
    std::fprintf(stderr, "kestrel-admin: %s cannot be read: %s\n", args[1].c_str(),
                 errno ? std::strerror(errno) : "it is too large for a settings file");
    return kAdminRefused;
  }
  if (!BecomeFolderOwner(folder)) {
    std::fprintf(stderr, "kestrel-admin: cannot act as the owner of %s\n", folder.c_str());
    return kAdminRefused;
  }
  std::signal(SIGPIPE, SIG_IGN);

  CAdminContext context(folder, json);
  if (importing) context.HoldImportedFile(args[1], imported);
  if (command == "settings") return RunSettingsCommand(args, context);
  if (command == "msn" || command == "caller") return RunForwardingCommand(command, args, context);
  if (command == "journal") return RunJournalCommand(args, context);
  if (command == "queue") return RunQueueCommand(args, context);
  if (command == "status") return RunStatusCommand(args, context);
  if (command == "test-mail") return RunTestMailCommand(args, context);
  if (command == "mail") return RunMailCommand(args, context);
  return context.Usage("unknown command " + command);
}

}  // namespace kestrel
