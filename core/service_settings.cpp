#include "core/service_settings.h"

#include "core/setting_table.h"

namespace kestrel {

bool ServiceSettings::IsComplete() const { return MissingSettings(*this).empty(); }

void ProposeFirstRunValues(ServiceSettings& settings) {
  settings.SMTPSecurity = SmtpSecurity::StartTls;
  settings.ImageFormat = ImageFormat::Pdf;
}

}  // namespace kestrel
