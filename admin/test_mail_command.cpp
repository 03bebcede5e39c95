// kestrel-admin test-mail: the same short message as kestreld --test-mail,
// through the same function (service/test_mail.h).
#include "admin/admin_commands.h"
#include "admin/admin_context.h"
#include "service/test_mail.h"

namespace kestrel {

int RunTestMailCommand(const AdminArgs& args, CAdminContext& context) {
  if (args.size() != 1) return context.Usage("test-mail ADDRESS");
  const int result = SendTestMail(args[0], context.Log(), "kestrel-admin");
  // Settings that name no server are input to fix, not a command line to fix.
  return result == 2 ? kAdminRefused : result;
}

}  // namespace kestrel
