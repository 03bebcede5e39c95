#include "core/service_settings.h"

namespace kestrel {

bool ServiceSettings::IsComplete() const {
  return !ReceivedDir.empty() && !ODBCConnect.empty() && !Address.empty() && !Name.empty() && !SMTPServer.empty();
}

void ProposeFirstRunValues(ServiceSettings& settings) {
  settings.SMTPSecurity = SmtpSecurity::StartTls;
  settings.ImageFormat = ImageFormat::Pdf;
}

}  // namespace kestrel
