// The shared acts of the kestrel-admin commands: refusal and usage lines,
// settings loaded and saved through core/, signals to the folder's service.
#include "admin/admin_context.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include "core/settings_file.h"
#include "core/settings_store.h"
#include "platform/registry_file.h"
#include "service/service_lock.h"

namespace kestrel {

CAdminContext::CAdminContext(std::string folder, bool json, std::FILE* out, std::FILE* err)
    : folder_(std::move(folder)), json_(json), out_(out), err_(err), log_(folder_) {}

int CAdminContext::Refuse(const std::string& text) const {
  std::fprintf(err_, "kestrel-admin: %s\n", text.c_str());
  return kAdminRefused;
}

int CAdminContext::Usage(const std::string& text) const {
  std::fprintf(err_, "kestrel-admin: %s (kestrel-admin --help shows the commands)\n", text.c_str());
  return kAdminUsage;
}

void CAdminContext::Say(const std::string& line) const { std::fprintf(out_, "%s\n", line.c_str()); }

Result<ServiceSettings> CAdminContext::LoadSettings() {
  ServiceSettings s;
  CRegistryFile registry(CRegistryFile::DefaultPath());
  if (auto loaded = kestrel::LoadSettings(s, registry, folder_, log_); !loaded) return loaded.Error();
  return s;
}

int CAdminContext::SaveSettings(const ServiceSettings& settings) {
  const std::string path = SettingsFilePath(folder_);
  if (Status written = ExportSettings(path, settings, log_); !written)
    return Refuse(path + " not written: " + written.Describe());
  std::string failure;
  const pid_t service = SignalService(SIGHUP, &failure);
  if (service < 0)
    return Refuse(path + " written, but the service (process " + std::to_string(-service) +
                  ") cannot be told to re-read it: " + failure + ".");
  if (service > 0)
    Say(path + " written; the service (process " + std::to_string(service) + ") re-reads it.");
  else
    Say(path + " written; no service runs for " + folder_ + ", it takes the settings when it starts.");
  return kAdminOk;
}

pid_t CAdminContext::SignalService(int signal, std::string* failure) const {
  const pid_t holder = CServiceLock::RunningService(folder_);
  if (holder <= 0) return 0;
  if (::kill(holder, signal) == 0) return holder;
  if (failure) *failure = std::strerror(errno);
  return -holder;
}

}  // namespace kestrel
