// The commands of kestrel-admin, one function each, and the dispatcher that
// reads the command line. Every command gets its arguments after the command
// word and returns the exit status: 0 done, 1 input refused (with the texts
// the options sheet and the forwarding editors show) or something not well,
// 2 a command line that does not parse.
#pragma once

#include <string>
#include <vector>

namespace kestrel {

class CAdminContext;
using AdminArgs = std::vector<std::string>;

int RunSettingsCommand(const AdminArgs& args, CAdminContext& context);
// `table` is "msn" or "caller".
int RunForwardingCommand(const std::string& table, const AdminArgs& args, CAdminContext& context);
int RunJournalCommand(const AdminArgs& args, CAdminContext& context);
int RunQueueCommand(const AdminArgs& args, CAdminContext& context);
int RunStatusCommand(const AdminArgs& args, CAdminContext& context);
int RunTestMailCommand(const AdminArgs& args, CAdminContext& context);
// "mail login [--port N]" and "mail logout": the OAuth 2.0 sign-in.
int RunMailCommand(const AdminArgs& args, CAdminContext& context);

// The whole program: options (--home DIR, --json, --help, --version), then a
// command and its arguments.
int RunAdmin(int argc, char** argv);

// The help text of --help.
std::string AdminHelpText();

}  // namespace kestrel
