// The shared acts of the kestrel-admin commands: refusal and usage lines,
// settings loaded and saved through core/, signals to the folder's service.
#include "admin/admin_context.h"

#include <grp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "core/settings_file.h"
#include "core/settings_store.h"
#include "core/settings_view.h"
#include "platform/registry_file.h"
#include "service/service_lock.h"

namespace kestrel {

CAdminContext::CAdminContext(std::string folder, bool json, std::FILE* out, std::FILE* err)
    : folder_(std::move(folder)), json_(json), out_(out), err_(err), log_(folder_) {}

CAdminContext::~CAdminContext() {
  if (heldFd_ >= 0) ::close(heldFd_);
}

void CAdminContext::HoldImportedFile(const std::string& path, const std::string& bytes) {
  const int fd = ::memfd_create("kestrel-import", MFD_CLOEXEC);
  if (fd < 0) return;
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      ::close(fd);
      return;
    }
    done += static_cast<std::size_t>(n);
  }
  heldPath_ = path;
  heldFd_ = fd;
}

std::string CAdminContext::ReadablePath(const std::string& path) const {
  return heldFd_ >= 0 && path == heldPath_ ? "/proc/self/fd/" + std::to_string(heldFd_) : path;
}

int CAdminContext::Refuse(const std::string& text) const {
  std::fprintf(err_, "kestrel-admin: %s\n", text.c_str());
  return kAdminRefused;
}

int CAdminContext::Refuse(const Failure& failure) const {
  return failure.code == EACCES ? PermissionDenied(failure.step) : Refuse(failure.Describe());
}

int CAdminContext::Usage(const std::string& text) const {
  std::fprintf(err_, "kestrel-admin: %s (kestrel-admin --help shows the commands)\n", text.c_str());
  return kAdminUsage;
}

void CAdminContext::Say(const std::string& line) const { std::fprintf(out_, "%s\n", line.c_str()); }

Result<ServiceSettings> CAdminContext::LoadSettings() {
  if (Readable(SettingsFilePath(folder_)) == EACCES) return Failure{SettingsFilePath(folder_), "", EACCES};
  ServiceSettings s;
  CRegistryFile registry(CRegistryFile::DefaultPath());
  auto loaded = kestrel::LoadSettings(s, registry, folder_, log_);
  if (!loaded) return loaded.Error();
  if (*loaded == SettingsSource::kNone) ProposeFirstRunValues(s);
  return s;
}

Result<ServiceSettings> CAdminContext::ReadSettings() {
  if (Readable(SettingsFilePath(folder_)) != EACCES) return LoadSettings();
  const std::string view = SettingsViewPath(folder_);
  const int viewAccess = Readable(view);
  if (viewAccess != 0) return Failure{viewAccess == EACCES ? view : SettingsFilePath(folder_), "", EACCES};
  return ReadSettingsView(folder_);
}

int CAdminContext::Readable(const std::string& path) { return ::access(path.c_str(), R_OK) == 0 ? 0 : errno; }

int CAdminContext::PermissionDenied(const std::string& path) const {
  struct stat st {};
  const bool known = ::stat(folder_.c_str(), &st) == 0;
  const group* owners = known ? ::getgrgid(st.st_gid) : nullptr;
  const std::string name = owners ? owners->gr_name : known ? std::to_string(st.st_gid) : "kestrel";
  return Refuse("permission denied: " + path + " cannot be read. Run kestrel-admin with sudo, or join the group " +
                name + " (sudo adduser $USER " + name + ", then log in again).");
}

int CAdminContext::SaveSettings(const ServiceSettings& settings) {
  const std::string path = SettingsFilePath(folder_);
  if (Status written = ExportSettings(path, settings, log_); !written)
    return Refuse(path + " not written: " + written.Describe());
  if (Status shared = WriteSettingsView(folder_, settings); !shared)
    return Refuse(path + " written, but not its view for the group: " + shared.Describe());
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
