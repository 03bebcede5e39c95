#include "core/settings_view.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/setting_table.h"
#include "platform/atomic_file.h"
#include "platform/bounded_file.h"

namespace kestrel {
namespace {

constexpr char kSecretSet[] = "(set)";
constexpr char kSecretEmpty[] = "(empty)";
constexpr std::size_t kMaxViewBytes = 64 * 1024;

}  // namespace

std::string SettingsViewPath(const std::string& appFolder) { return appFolder + "kestrel-settings.txt"; }

Status WriteSettingsView(const std::string& appFolder, const ServiceSettings& settings) {
  std::string text;
  for (const SettingRow& row : SettingRows()) {
    if (!row.InFile()) continue;
    std::string value = FormatSetting(row, row.get(settings));
    if (row.secret) value = value.empty() ? kSecretEmpty : kSecretSet;
    text += std::string(row.element) + "\t" + value + "\n";
  }
  const std::string path = SettingsViewPath(appFolder);
  if (!WriteFileAtomically(path, text, 0640)) return Status::Failed(path, std::strerror(errno));
  // The folder's group reads it, whoever wrote it (root on a folder of its own too).
  struct stat folder;
  if (::stat(appFolder.c_str(), &folder) == 0) (void)::chown(path.c_str(), static_cast<uid_t>(-1), folder.st_gid);
  return {};
}

Result<ServiceSettings> ReadSettingsView(const std::string& appFolder) {
  const std::string path = SettingsViewPath(appFolder);
  std::string text;
  if (!ReadBoundedFile(path, text, kMaxViewBytes)) return Failure{path, "cannot be read", errno};
  ServiceSettings settings;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t tab = line.find('\t');
    const SettingRow* row = tab == std::string::npos ? nullptr : FindSetting(line.substr(0, tab));
    if (!row || !row->InFile()) return Failure{path, "holds a line that names no setting: " + line.substr(0, tab)};
    const std::string value = line.substr(tab + 1);
    if (row->secret) {
      row->set(settings, std::string(value == kSecretSet ? kSecretSet : ""));
      continue;
    }
    auto parsed = ParseSetting(*row, value, SettingSyntax::kFile);
    if (!parsed) return Failure{path, parsed.Error().text};
    row->set(settings, *parsed);
  }
  return settings;
}

}  // namespace kestrel
