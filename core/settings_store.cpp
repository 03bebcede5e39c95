// Start-up loading of ServiceSettings: kestrel.xml first, else the one-time,
// non-destructive migration out of the registry export file, else nothing.
// Registry values are untrusted text; they pass through the settings file
// before the key is removed.
#include "core/settings_store.h"

#include <cstring>
#include <strings.h>
#include <sys/stat.h>

#include "core/event_log.h"
#include "core/setting_table.h"
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
// whole stays, save its secrets, which kestrel.xml now keeps scrambled, and
// the marker says it was migrated.
Result<SettingsSource> Migrate(ServiceSettings& settings, CRegistryFile& reg, const std::string& key,
                               SettingsSource source, const std::string& appFolder, IEventLog& log) {
  auto read = ReadRegistrySettings(reg, key);
  if (!read) return read.Error();
  settings = *read;
  if (Status written = ExportSettings(SettingsFilePath(appFolder), settings, log); !written) {
    log.WriteEventText("The migrated settings serve this run only: " + written.Describe());
    return source;
  }
  if (reg.OpenForWriting(key) && DeletableAsAWhole(reg, key)) {
    for (const char* section : kSections) reg.DeleteKey(key + "\\" + section);
    reg.DeleteKey(key);
  }
  if (reg.KeyExists(key)) {
    for (const SettingRow& row : SettingRows())
      if (row.secret && !row.registrySection.empty())
        reg.DeleteValue(key + "\\" + std::string(row.registrySection), std::string(row.member));
    WriteFileAtomically(MigrationMarkerPath(appFolder), key + "\n", 0644);
  }
  return source;
}

}  // namespace

Result<ServiceSettings> ReadRegistrySettings(const CRegistryFile& reg, const std::string& key) {
  ServiceSettings s;
  std::string problems;
  for (const SettingRow& row : SettingRows()) {
    if (row.registrySection.empty()) continue;
    const std::string section = key + "\\" + std::string(row.registrySection);
    const std::string name(row.member);
    SettingValue value = row.defaultValue;
    if (row.type == SettingType::kText) {
      if (auto text = reg.ReadString(section, name)) value = *text;
    } else if (auto number = reg.ReadDword(section, name)) {
      // Flags are numbers used as 0 or not 0.
      if (row.type == SettingType::kFlag)
        value = *number != 0;
      else
        value = static_cast<std::int32_t>(*number);
    }
    if (!CheckSetting(row, value)) {
      problems += (problems.empty() ? "" : " ") + std::string(row.registrySection) + "\\" + name + " holds " +
                  FormatSetting(row, value) + "; it takes " + DescribeAccepted(row) + ".";
      continue;
    }
    row.set(s, value);
  }
  if (!problems.empty()) return Failure{key, problems};
  return s;
}

std::string MigrationMarkerPath(const std::string& appFolder) { return appFolder + "kestrel.migrated"; }

Result<SettingsSource> LoadSettings(ServiceSettings& settings, CRegistryFile& registry, const std::string& appFolder,
                                    IEventLog& log) {
  const std::string file = SettingsFilePath(appFolder);
  if (Exists(file)) {
    if (Status imported = ImportSettings(file, settings, log); !imported) return imported;
    return SettingsSource::kSettingsFile;
  }
  if (Exists(MigrationMarkerPath(appFolder))) return SettingsSource::kNone;
  if (registry.OpenForWriting(kRegistryKey))
    return Migrate(settings, registry, kRegistryKey, SettingsSource::kRegistry, appFolder, log);
  if (registry.OpenForWriting(kOlderRegistryKey))
    return Migrate(settings, registry, kOlderRegistryKey, SettingsSource::kOlderRegistry, appFolder, log);
  return SettingsSource::kNone;
}

}  // namespace kestrel
