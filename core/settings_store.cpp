// Start-up loading of ServiceSettings: kestrel.xml first, else the one-time,
// non-destructive migration out of the registry export file, else nothing.
// Registry values are untrusted text; they pass through the settings file
// before the key is removed.
#include "core/settings_store.h"

#include <cstring>
#include <strings.h>
#include <sys/stat.h>

#include "core/settings_file.h"
#include "platform/atomic_file.h"
#include "platform/registry_file.h"

namespace kestrel {
namespace {

// The sub-keys the settings are migrated from, in the order they are deleted.
constexpr const char* kSections[] = {"Fax", "Email", "MSN"};

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  return a.size() == std::strlen(b) && ::strncasecmp(a.data(), b, a.size()) == 0;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// The key can go as the migration removes it: its only sub-keys are Fax,
// Email and MSN, and none of those has sub-keys of its own.
bool DeletableAsAWhole(const CRegistryFile& reg, const std::string& key) {
  for (const std::string& sub : reg.SubKeys(key)) {
    bool ours = false;
    for (const char* section : kSections) ours = ours || EqualsIgnoringCase(sub, section);
    if (!ours || !reg.SubKeys(key + "\\" + sub).empty()) return false;
  }
  return true;
}

// The values are taken over only once kestrel.xml holds them; until then the
// key stays as it is and the next start tries again. A key that cannot go as a
// whole is left untouched (its sections stay readable) and the marker says it
// was migrated.
void Migrate(ServiceSettings& settings, CRegistryFile& reg, const std::string& key,
             const std::string& appFolder, IEventLog& log) {
  settings = ReadRegistrySettings(reg, key);
  if (ExportSettings(SettingsFilePath(appFolder), settings, log) != 0) return;
  if (reg.OpenForWriting(key) && DeletableAsAWhole(reg, key)) {
    for (const char* section : kSections) reg.DeleteKey(key + "\\" + section);
    reg.DeleteKey(key);
  }
  if (reg.KeyExists(key)) WriteFileAtomically(MigrationMarkerPath(appFolder), key + "\n", 0644);
}

}  // namespace

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

std::string MigrationMarkerPath(const std::string& appFolder) {
  return appFolder + "kestrel.migrated";
}

SettingsSource LoadSettings(ServiceSettings& settings, CRegistryFile& registry,
                            const std::string& appFolder, IEventLog& log) {
  const std::string file = SettingsFilePath(appFolder);
  if (Exists(file)) {
    ImportSettings(file, settings, log);
    return SettingsSource::kSettingsFile;
  }
  if (Exists(MigrationMarkerPath(appFolder))) return SettingsSource::kNone;
  if (registry.OpenForWriting(kRegistryKey)) {
    Migrate(settings, registry, kRegistryKey, appFolder, log);
    return SettingsSource::kRegistry;
  }
  if (registry.OpenForWriting(kOlderRegistryKey)) {
    Migrate(settings, registry, kOlderRegistryKey, appFolder, log);
    return SettingsSource::kOlderRegistry;
  }
  return SettingsSource::kNone;
}

}  // namespace kestrel
