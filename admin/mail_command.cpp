// kestrel-admin mail login | logout: the OAuth 2.0 sign-in of the SMTP login.
// login runs the configured grant (oauth/oauth_client.h): device prints one
// line with the address and the code and waits for the sign-in elsewhere;
// code prints the authorization URL and waits for the browser's redirect to
// 127.0.0.1 (--port N fixes the port, for ssh -L); client fetches the
// application's own token. The tokens go only to the token file; the
// running service takes them at its next mail and is told to send the queue
// now, as queue retry does. logout forgets the tokens.
#include <csignal>
#include <cstdio>
#include <ctime>

#include "admin/admin_commands.h"
#include "admin/admin_context.h"
#include "core/number_text.h"
#include "oauth/oauth_client.h"
#include "oauth/token_store.h"

namespace kestrel {
namespace {

int LogIn(const AdminArgs& args, CAdminContext& context) {
  int port = 0;
  if (args.size() == 3 && args[1] == "--port") {
    const auto n = ScanSigned(args[2]);
    if (!n || *n < 1 || *n > 65535) return context.Usage("mail login [--port 1-65535]");
    port = *n;
  } else if (args.size() != 1) {
    return context.Usage("mail login [--port N]");
  }
  Result<ServiceSettings> settings = context.LoadSettings();
  if (!settings) return context.Refuse(settings.Error());
  Result<OAuthConfig> config = ResolveOAuthConfig(*settings);
  if (!config) return context.Refuse(config.Error().text);
  const COAuthClient client(*config);
  const auto show = [&](const std::string& line) {
    context.Say(line);
    std::fflush(context.Out());
  };
  Result<TokenGrant> grant = Failure{};
  switch (config->grant) {
    case OAuthGrant::Device: grant = client.DeviceSignIn(show); break;
    case OAuthGrant::Code: grant = client.CodeSignIn(show, port); break;
    case OAuthGrant::Client: grant = client.ClientCredentials(); break;
  }
  if (!grant) return context.Refuse("the sign-in failed: " + grant.Error().text);
  const COAuthTokenStore store(context.Folder());
  const OAuthTokens tokens = SignInTokens(*grant, std::time(nullptr), settings->SMTP_User);
  if (Status saved = store.Save(tokens); !saved)
    return context.Refuse("the tokens cannot be stored: " + saved.Describe());
  if (config->grant != OAuthGrant::Client && tokens.refreshToken.empty())
    context.Say("Signed in, but without a refresh token: sign in again when the access token expires.");
  else
    context.Say("Signed in" + (tokens.account.empty() ? "" : " as " + tokens.account) + "; the tokens are in " +
                store.Path() + ".");
  // A queue that waited for the sign-in goes now.
  if (const pid_t service = context.SignalService(SIGUSR1); service > 0)
    context.Say("The service (process " + std::to_string(service) + ") sends the queue now.");
  return kAdminOk;
}

int LogOut(CAdminContext& context) {
  const COAuthTokenStore store(context.Folder());
  if (Status forgotten = store.Forget(); !forgotten) return context.Refuse(forgotten.Describe());
  context.Say("Signed out; the tokens are forgotten.");
  return kAdminOk;
}

}  // namespace

int RunMailCommand(const AdminArgs& args, CAdminContext& context) {
  if (!args.empty() && args[0] == "login") return LogIn(args, context);
  if (args.size() == 1 && args[0] == "logout") return LogOut(context);
  return context.Usage("mail login [--port N] | mail logout");
}

}  // namespace kestrel
