// kestrel-admin settings: show every setting of kestrel.xml, set some, or take
// them over from a registry export or another kestrel.xml. The settings table
// (core/setting_table.h) names them and checks every value, its form and what
// an administrator may set (AdmitSetting; an import's changes too); the
// element names are shown and taken, the record's member names too. Every change goes
// through the one writer of kestrel.xml and ends with SIGHUP to the service
// holding the folder; a refused value leaves the file byte for byte.
// An imported file is untrusted: the registry export and settings readers
// bound and check what they read (platform/registry_file.h, core/settings_file.h).
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "admin/admin_commands.h"
#include "admin/admin_context.h"
#include "admin/json_text.h"
#include "core/received_folder.h"
#include "core/setting_table.h"
#include "core/settings_file.h"
#include "core/settings_store.h"
#include "platform/app_folder.h"
#include "platform/registry_file.h"

namespace kestrel {
namespace {

constexpr std::size_t kMaxSecretBytes = 4096;

// The value as shown: a secret only as set or empty, a choice with its word.
std::string Shown(const SettingRow& row, const ServiceSettings& s) {
  const SettingValue value = row.get(s);
  std::string text = FormatSetting(row, value);
  if (row.secret) return text.empty() ? "(empty)" : "(set)";
  if (row.type == SettingType::kChoice) {
    const auto index = static_cast<std::size_t>(std::get<std::int32_t>(value));
    if (index < row.choices.size()) return text + " (" + std::string(row.choices[index]) + ")";
  }
  return text;
}

std::string AsJson(const SettingRow& row, const ServiceSettings& s) {
  const SettingValue value = row.get(s);
  if (row.type == SettingType::kFlag) return std::get<bool>(value) ? "true" : "false";
  return FormatSetting(row, value);
}

int Show(CAdminContext& context) {
  const auto s = context.ReadSettings();
  if (!s && s.Error().code == EACCES) return context.PermissionDenied(s.Error().step);
  if (!s) return context.Refuse(s.Error());
  if (context.Json()) {
    CJsonObject object;
    for (const SettingRow& row : SettingRows()) {
      if (!row.InFile()) continue;
      const std::string name(row.element);
      if (row.type == SettingType::kText)
        object.Text(name.c_str(), Shown(row, *s));
      else
        object.Raw(name.c_str(), AsJson(row, *s));
    }
    context.Say(object.Close());
    return kAdminOk;
  }
  for (const SettingRow& row : SettingRows()) {
    if (!row.InFile()) continue;
    char name[64];
    std::snprintf(name, sizeof name, "%-28.*s", static_cast<int>(row.element.size()), row.element.data());
    context.Say(name + Shown(row, *s));
  }
  return kAdminOk;
}

// The next line of standard input, without its line end; a secret is
// typed there, never on the command line that every user can read. On a
// terminal it is asked for by `name` and not echoed (the line end is, so
// what follows starts on a line of its own).
std::optional<std::string> ReadSecretLine(std::string_view name) {
  termios shown{};
  const bool terminal = ::tcgetattr(STDIN_FILENO, &shown) == 0;
  if (terminal) {
    termios hidden = shown;
    hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    hidden.c_lflag |= ECHONL;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
    std::fprintf(stderr, "%.*s: ", static_cast<int>(name.size()), name.data());
    std::fflush(stderr);
  }
  std::optional<std::string> line = std::string();
  for (int c; (c = std::fgetc(stdin)) != EOF && c != '\n';) {
    if (line->size() >= kMaxSecretBytes) {
      line.reset();
      break;
    }
    *line += static_cast<char>(c);
  }
  if (terminal) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &shown);
  if (line && !line->empty() && line->back() == '\r') line->pop_back();
  return line;
}

// The folder being configured and the packaged service's, for the checks of the received folder.
SettingPlace PlaceOf(const CAdminContext& context) {
  constexpr std::string_view packaged(kPackagedFolder);
  return {.folder = context.Folder(), .serviceFolder = packaged.substr(0, packaged.size() - 1)};
}

// Takes `typed` into `settings`: "" when accepted, else the refusal text.
std::string Apply(ServiceSettings& settings, const SettingRow& row, const std::string& typed,
                  const SettingPlace& place) {
  if (!row.InFile()) return std::string(row.member) + " is not kept in kestrel.xml.";
  std::string value = typed;
  if (row.secret) {
    if (typed != "-") return std::string(row.element) + " is a secret: give it as - and type it on standard input.";
    auto line = ReadSecretLine(row.element);
    if (!line) return std::string(row.element) + ": the line on standard input is too long.";
    value = *line;
  }
  auto parsed = ParseSetting(row, value, SettingSyntax::kTyped);
  if (!parsed) return parsed.Error().text;
  if (Status admitted = AdmitSetting(row, *parsed, place); !admitted) return admitted.Error().text;
  if (row.member == "ReceivedDir" && !MakeReceivedFolder(value))
    return std::string(row.element) + " holds \"" + value + "\"; the folder cannot be made (its parent must exist).";
  row.set(settings, *parsed);
  return {};
}

// Every value an import changes, checked as `settings set` checks it.
std::string AdmitChanges(const ServiceSettings& before, const ServiceSettings& after, const SettingPlace& place) {
  for (const SettingRow& row : SettingRows()) {
    const SettingValue value = row.get(after);
    if (!row.InFile() || value == row.get(before)) continue;
    if (Status admitted = AdmitSetting(row, value, place); !admitted) return admitted.Error().text;
  }
  return {};
}

int Set(const AdminArgs& args, CAdminContext& context) {
  if (args.size() < 3 || (args.size() - 1) % 2 != 0) return context.Usage("settings set KEY VALUE [KEY VALUE ...]");
  for (std::size_t i = 1; i < args.size(); i += 2)
    if (!FindSetting(args[i])) return context.Usage("no setting is named " + args[i]);
  // Every value is checked before anything is written: one refusal keeps the file as it was.
  auto s = context.LoadSettings();
  if (!s) return context.Refuse(s.Error());
  for (std::size_t i = 1; i < args.size(); i += 2) {
    const std::string refusal = Apply(*s, *FindSetting(args[i]), args[i + 1], PlaceOf(context));
    if (!refusal.empty()) return context.Refuse(refusal);
  }
  return context.SaveSettings(*s);
}

int Import(const AdminArgs& args, CAdminContext& context) {
  if (args.size() != 2) return context.Usage("settings import FILE");
  const std::string& file = args[1];
  auto s = context.LoadSettings();
  if (!s) return context.Refuse(s.Error());
  const std::string readable = context.ReadablePath(file);
  CRegistryFile registry(readable);
  for (const char* key : {kRegistryKey, kOlderRegistryKey}) {
    if (!registry.KeyExists(key)) continue;
    auto read = ReadRegistrySettings(registry, key);
    if (!read) return context.Refuse(file + ": " + read.Error().text);
    if (const std::string refusal = AdmitChanges(*s, *read, PlaceOf(context)); !refusal.empty())
      return context.Refuse(file + ": " + refusal);
    return context.SaveSettings(*read);
  }
  const ServiceSettings before = *s;
  if (Status imported = ImportSettings(readable, *s, context.Log()); !imported)
    return context.Refuse(
        file + " is neither a registry export with Kestrel's key nor a usable kestrel.xml: " + imported.Error().text);
  if (const std::string refusal = AdmitChanges(before, *s, PlaceOf(context)); !refusal.empty())
    return context.Refuse(file + ": " + refusal);
  return context.SaveSettings(*s);
}

}  // namespace

int RunSettingsCommand(const AdminArgs& args, CAdminContext& context) {
  if (args.empty()) return Show(context);
  if (args[0] == "set") return Set(args, context);
  if (args[0] == "import") return Import(args, context);
  return context.Usage("settings [set KEY VALUE ... | import FILE]");
}

}  // namespace kestrel
