// kestrel-admin settings: show every setting, set some with the options
// sheet's checks, or take them over from a registry export or another
// kestrel.xml. Every change goes through the one writer of kestrel.xml and
// ends with SIGHUP to the service holding the folder.
// An imported file is untrusted: the registry export and settings readers
// bound and check what they read (platform/registry_file.h, core/settings_file.h).
#include <cstdio>

#include "admin/admin_commands.h"
#include "admin/admin_context.h"
#include "admin/json_text.h"
#include "admin/setting_keys.h"
#include "core/settings_file.h"
#include "core/settings_store.h"
#include "platform/registry_file.h"

namespace kestrel {
namespace {

int Show(CAdminContext& context) {
  const ServiceSettings s = context.LoadSettings();
  if (context.Json()) {
    CJsonObject object;
    for (const SettingKey& key : SettingKeys()) {
      const std::string value = ShowSetting(s, key);
      if (key.isNumber)
        object.Raw(key.name, value);
      else
        object.Text(key.name, value);
    }
    context.Say(object.Close());
    return kAdminOk;
  }
  for (const SettingKey& key : SettingKeys()) {
    char line[64];
    std::snprintf(line, sizeof line, "%-21s", key.name);
    context.Say(line + ShowSetting(s, key));
  }
  return kAdminOk;
}

int Set(const AdminArgs& args, CAdminContext& context) {
  if (args.size() < 3 || (args.size() - 1) % 2 != 0) return context.Usage("settings set KEY VALUE [KEY VALUE ...]");
  for (std::size_t i = 1; i < args.size(); i += 2)
    if (!FindSettingKey(args[i])) return context.Usage("no setting is named " + args[i]);
  // Every value is checked before anything is written: one refusal keeps the file as it was.
  ServiceSettings s = context.LoadSettings();
  for (std::size_t i = 1; i < args.size(); i += 2) {
    const std::string refusal = ApplySetting(s, *FindSettingKey(args[i]), args[i + 1]);
    if (!refusal.empty()) return context.Refuse(refusal);
  }
  return context.SaveSettings(s);
}

int Import(const AdminArgs& args, CAdminContext& context) {
  if (args.size() != 2) return context.Usage("settings import FILE");
  const std::string& file = args[1];
  ServiceSettings s = context.LoadSettings();
  CRegistryFile registry(file);
  if (registry.KeyExists(kRegistryKey)) {
    s = ReadRegistrySettings(registry, kRegistryKey);
  } else if (registry.KeyExists(kOlderRegistryKey)) {
    s = ReadRegistrySettings(registry, kOlderRegistryKey);
  } else if (ImportSettings(file, s, context.Log()) < 0) {
    return context.Refuse(file + " is neither a registry export with Kestrel's key nor a readable kestrel.xml.");
  }
  return context.SaveSettings(s);
}

}  // namespace

int RunSettingsCommand(const AdminArgs& args, CAdminContext& context) {
  if (args.empty()) return Show(context);
  if (args[0] == "set") return Set(args, context);
  if (args[0] == "import") return Import(args, context);
  return context.Usage("settings [set KEY VALUE ... | import FILE]");
}

}  // namespace kestrel
