// kestrel-admin: the service's settings, forwarding tables, journal, mail
// queue and status from the command line, for servers without a desktop.
// `kestrel-admin --help` lists the commands.
#include "admin/admin_commands.h"

int main(int argc, char** argv) { return kestrel::RunAdmin(argc, argv); }
