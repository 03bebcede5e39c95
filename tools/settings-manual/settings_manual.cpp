#include "tools/settings-manual/settings_manual.h"

#include <string_view>

#include "core/setting_table.h"

namespace kestrel {
namespace {

constexpr std::size_t kLineWidth = 72;  // after the tab of an entry's body

constexpr std::string_view kIntroduction =
    "The elements, in the order the file holds them, each with the record's name in brackets (for the older "
    "settings the name of the registry value they were migrated from). *kestrel-admin settings* shows the "
    "element names; *kestrel-admin settings set* takes either name in any letter case, and checks more than "
    "the file's reader does: the addresses, the files named, the OCR languages installed, a received folder "
    "the packaged service can keep, and that no required setting is emptied. In the file a flag is TRUE or "
    "FALSE, a number is decimal, a choice is its number.";

// `text` in lines of at most kLineWidth characters, each started by `indent`.
std::string Wrapped(std::string_view text, std::string_view indent) {
  std::string lines;
  std::string line;
  while (!text.empty()) {
    const std::size_t blank = text.find(' ');
    const std::string_view word = text.substr(0, blank);
    text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
    if (!line.empty() && line.size() + 1 + word.size() > kLineWidth) {
      lines += std::string(indent) + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + std::string(word);
  }
  if (!line.empty()) lines += std::string(indent) + line + "\n";
  return lines;
}

std::string Default(const SettingRow& row) {
  std::string text = FormatSetting(row, row.defaultValue);
  if (text.empty()) return "empty";
  if (row.type == SettingType::kChoice) {
    const auto index = static_cast<std::size_t>(std::get<std::int32_t>(row.defaultValue));
    if (index < row.choices.size()) return text + " (" + std::string(row.choices[index]) + ")";
  }
  return text;
}

std::string Entry(const SettingRow& row) {
  std::string body =
      std::string(row.description) + " Takes " + DescribeAccepted(row) + "; default " + Default(row) + ".";
  if (row.required) body += " Required: reception does not start while it is empty.";
  if (row.optional) body += " May be missing from the file: then the default.";
  if (row.secret)
    body +=
        " Secret: stored scrambled, shown only as set or empty; *kestrel-admin settings set* reads it "
        "from standard input.";
  return "*" + std::string(row.element) + "* (" + std::string(row.member) + ")\n" + Wrapped(body, "\t") + "\n";
}

}  // namespace

std::string SettingsManualSection() {
  std::string section = "# SETTINGS\n\n" + Wrapped(kIntroduction, "") + "\n";
  std::string notInFile;
  for (const SettingRow& row : SettingRows()) {
    if (row.InFile()) {
      section += Entry(row);
      continue;
    }
    notInFile += (notInFile.empty() ? "" : " and ") + ("*" + std::string(row.member) + "*");
  }
  if (!notInFile.empty())
    section += Wrapped(notInFile + " are kept by the desktop only and not stored in the file.", "") + "\n";
  return section;
}

std::string WithSettingsManualSection(const std::string& page) {
  const std::string heading = "# SETTINGS\n";
  const std::size_t begin = page.rfind(heading, 0) == 0 ? 0 : page.find("\n" + heading);
  if (begin == std::string::npos) return page;
  const std::size_t start = begin == 0 ? 0 : begin + 1;
  const std::size_t next = page.find("\n# ", start + heading.size());
  const std::size_t end = next == std::string::npos ? page.size() : next + 1;
  return page.substr(0, start) + SettingsManualSection() + page.substr(end);
}

}  // namespace kestrel
