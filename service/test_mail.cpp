// Sending the test message through one SMTP session with the saved
// settings; the mail layer bounds and checks the server's replies.
#include "service/test_mail.h"

#include <cstdio>

#include "core/event_log.h"
#include "core/service_settings.h"
#include "core/settings_file.h"
#include "core/settings_store.h"
#include "core/version.h"
#include "mail/mail_address.h"
#include "mail/smtp_message.h"
#include "mail/smtp_session.h"
#include "oauth/access_token_source.h"
#include "platform/app_folder.h"
#include "platform/registry_file.h"

namespace kestrel {

int SendTestMail(const std::string& to, IEventLog& log, const std::string& program, const std::atomic<bool>* stop) {
  ServiceSettings s;
  CRegistryFile registry(CRegistryFile::DefaultPath());
  if (auto loaded = LoadSettings(s, registry, ApplicationFolder(), log); !loaded) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), loaded.Describe().c_str());
    return 2;
  }
  if (s.SMTPServer.empty() || s.Address.empty()) {
    std::fprintf(stderr, "%s: SmtpServerReceive and EmailAddress must be set in %s\n", program.c_str(),
                 SettingsFilePath(ApplicationFolder()).c_str());
    return 2;
  }
  CSMTPMessage message(log);
  message.SetSender(CMailAddress(s.Name, s.Address));
  message.AddRecipients(to);
  message.SetSubject("Kestrel test message");
  message.AddTextBody("This is a test message from Kestrel " + std::string(kProductVersion) +
                      ".\nThe SMTP settings work.\n");
  // Exactly what the forwarding step would do, so that a working test mail
  // means faxes will go out too.
  COAuthTokenSource tokens(s, ApplicationFolder(), log, stop);
  CSMTPSession session(log);
  session.SetStopFlag(stop);
  session.SetConnectionSecurity(s.SMTPSecurity, s.SMTPCAFile);
  session.SetAccessTokens(&tokens);
  Status sent =
      session.Connect(s.SMTPServer, s.AuthenticationMethod, s.SMTP_User, s.SMTP_Pass, SmtpPortOrDefault(s.SMTPPort));
  if (sent) sent = session.SendMessage(message);
  if (!sent) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), CSMTPSession::Explain(sent.Error()).c_str());
    return 1;
  }
  std::printf("%s\n", session.LastReplyText().c_str());
  std::fflush(stdout);
  (void)session.Disconnect();  // the message is accepted, which is what the test asks
  return 0;
}

}  // namespace kestrel
