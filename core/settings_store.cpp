#include "core/settings_store.h"

#include <sys/stat.h>

#include "core/settings_file.h"
#include "platform/registry_file.h"

namespace kestrel {
namespace {

// Reads every value from the sections Fax, MSN and Email of `key`, taking the
// migration default where a value is missing or has another type.
ServiceSettings ReadRegistrySettings(const CRegistryFile& reg, const std::string& key) {
  const std::string fax = key + "\\Fax", msn = key + "\\MSN", email = key + "\\Email";
  auto text = [&](const std::string& section, const char* name, const char* def) {
    return reg.ReadString(section, name).value_or(def);
  };
  auto number = [&](const std::string& section, const char* name, std::int32_t def) {
    auto v = reg.ReadDword(section, name);
    return v ? static_cast<std::int32_t>(*v) : def;
  };
  ServiceSettings s;
  s.Number = text(fax, "Number", "");
  s.ODBCConnect = text(fax, "ODBCConnect", "DSN=Kestrel");
  s.ReceivedDir = text(fax, "ReceivedDir", "");
  s.RejectCallerID = number(fax, "RejectCallerID", 0);
  s.RejectStationID = number(fax, "RejectStationID", 0);
  s.Logfile = number(fax, "Logfile", 1);
  s.All = number(msn, "All", 1);
  s.EmailAll = text(msn, "EmailAll", "");
  s.ImageFormat = ImageFormatFromNumber(number(email, "ImageFormat", 0));
  s.ImageScaleX = number(email, "ImageScaleX", 750);
  s.UseImageScale = number(email, "UseImageScale", 0);
  s.SMTPPort = number(email, "SMTPPort", 25);
  s.Address = text(email, "Address", "");
  s.Header = text(email, "Header", "");
  s.Name = text(email, "Name", "");
  s.SMTPServer = text(email, "SMTPServer", "");
  s.AuthenticationMethod = number(email, "AuthenticationMethod", 0);
  s.SMTP_User = text(email, "SMTP_User", "");
  s.SMTP_Pass = text(email, "SMTP_Pass", "");
  return s;
}

void Migrate(ServiceSettings& settings, CRegistryFile& reg, const std::string& key,
             const std::string& appFolder, IEventLog& log) {
  settings = ReadRegistrySettings(reg, key);
  ExportSettings(SettingsFilePath(appFolder), settings, log);
  if (reg.OpenForWriting(key)) {
    for (const char* section : {"Fax", "Email", "MSN"}) reg.DeleteKey(key + "\\" + section);
  }
  // Fails while sub-keys are left; the migration then runs again next start.
  reg.DeleteKey(key);
}

}  // namespace

SettingsSource LoadSettings(ServiceSettings& settings, CRegistryFile& registry,
                            const std::string& appFolder, IEventLog& log) {
  if (registry.OpenForWriting(kRegistryKey)) {
    Migrate(settings, registry, kRegistryKey, appFolder, log);
    return SettingsSource::kRegistry;
  }
  if (registry.OpenForWriting(kOlderRegistryKey)) {
    Migrate(settings, registry, kOlderRegistryKey, appFolder, log);
    return SettingsSource::kOlderRegistry;
  }
  const std::string file = SettingsFilePath(appFolder);
  struct stat st;
  if (::stat(file.c_str(), &st) == 0) {
    ImportSettings(file, settings, log);
    return SettingsSource::kSettingsFile;
  }
  return SettingsSource::kNone;
}

}  // namespace kestrel
