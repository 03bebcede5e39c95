// The settings keys, their display and their checks; the number and folder
// rules are core/'s, shared with the options sheet.
#include "admin/setting_keys.h"

#include <strings.h>

#include <cstdint>
#include <optional>
#include <span>

#include "core/number_text.h"
#include "core/received_folder.h"
#include "core/setting_choices.h"
#include "core/string_table.h"

namespace kestrel {
namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// A list index given as its number or its entry's name.
std::optional<std::int32_t> ListIndex(std::span<const std::string_view> entries, const std::string& value) {
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (SameName(entries[i], value)) return static_cast<std::int32_t>(i);
  auto n = ScanSigned(value);
  if (n && *n >= 0 && *n < static_cast<std::int32_t>(entries.size())) return n;
  return std::nullopt;
}

std::string ListRefusal(const char* key, std::span<const std::string_view> entries) {
  std::string text = std::string(key) + " takes";
  for (std::size_t i = 0; i < entries.size(); ++i)
    text += (i == 0 ? " " : i + 1 == entries.size() ? " or " : ", ") + std::to_string(i) + " (" +
            std::string(entries[i]) + ")";
  return text + ".";
}

// The member named `name`, const or not as `s` is.
template <class Settings>
auto TextMember(Settings& s, std::string_view name) -> decltype(&s.Number) {
  if (name == "Number") return &s.Number;
  if (name == "ODBCConnect") return &s.ODBCConnect;
  if (name == "ReceivedDir") return &s.ReceivedDir;
  if (name == "EmailAll") return &s.EmailAll;
  if (name == "Address") return &s.Address;
  if (name == "Header") return &s.Header;
  if (name == "Name") return &s.Name;
  if (name == "SMTPServer") return &s.SMTPServer;
  if (name == "SMTP_User") return &s.SMTP_User;
  if (name == "SMTP_Pass") return &s.SMTP_Pass;
  if (name == "SMTPCAFile") return &s.SMTPCAFile;
  if (name == "OcrLanguages") return &s.OcrLanguages;
  return nullptr;
}

template <class Settings>
auto NumberMember(Settings& s, std::string_view name) -> decltype(&s.All) {
  if (name == "RejectCallerID") return &s.RejectCallerID;
  if (name == "RejectStationID") return &s.RejectStationID;
  if (name == "Logfile") return &s.Logfile;
  if (name == "All") return &s.All;
  if (name == "ImageScaleX") return &s.ImageScaleX;
  if (name == "UseImageScale") return &s.UseImageScale;
  if (name == "SMTPPort") return &s.SMTPPort;
  if (name == "AuthenticationMethod") return &s.AuthenticationMethod;
  if (name == "SMTPSecurity") return &s.SMTPSecurity;
  return nullptr;
}

}  // namespace

const std::vector<SettingKey>& SettingKeys() {
  static const std::vector<SettingKey> keys = {
      {"Number", false, true},          {"ODBCConnect", false, true},
      {"ReceivedDir", false, true},     {"RejectCallerID", true, true},
      {"RejectStationID", true, false}, {"Logfile", true, false},
      {"All", true, true},              {"EmailAll", false, true},
      {"ImageFormat", true, true},      {"ImageScaleX", true, true},
      {"UseImageScale", true, true},    {"SMTPPort", true, true},
      {"Address", false, true},         {"Header", false, true},
      {"Name", false, true},            {"SMTPServer", false, true},
      {"AuthenticationMethod", true, true}, {"SMTP_User", false, true},
      {"SMTP_Pass", false, true},       {"SMTPSecurity", true, true},
      {"SMTPCAFile", false, true},      {"OcrLanguages", false, true},
  };
  return keys;
}

const SettingKey* FindSettingKey(std::string_view name) {
  for (const SettingKey& key : SettingKeys())
    if (SameName(key.name, name)) return &key;
  return nullptr;
}

std::string ShowSetting(const ServiceSettings& settings, const SettingKey& key) {
  const ServiceSettings& s = settings;
  const std::string_view name = key.name;
  if (name == "SMTP_Pass") return s.SMTP_Pass.empty() ? "(empty)" : "(set)";
  if (name == "ImageFormat") return std::to_string(ImageFormatNumber(s.ImageFormat));
  if (const std::string* text = TextMember(s, name)) return *text;
  if (const std::int32_t* number = NumberMember(s, name)) return std::to_string(*number);
  return {};
}

std::string ApplySetting(ServiceSettings& s, const SettingKey& key, const std::string& value) {
  const std::string_view name = key.name;
  if (!key.keptInFile) return std::string(key.name) + " is not kept in kestrel.xml.";
  if (name == "ReceivedDir") {
    if (!MakeReceivedFolder(value)) return LoadString(IDS_INVALID_PATH);
    s.ReceivedDir = value;
    return {};
  }
  if (std::string* text = TextMember(s, name)) {
    *text = value;
    return {};
  }
  if (name == "SMTPPort") {
    auto port = ScanUnsigned(value);
    if (!port) return LoadString(IDS_ENTER_POSITIVE_INTEGER);
    s.SMTPPort = static_cast<std::int32_t>(*port);
    return {};
  }
  if (name == "ImageFormat") {
    auto index = ListIndex(kImageFormatChoices, value);
    if (!index) return ListRefusal(key.name, kImageFormatChoices);
    s.ImageFormat = ImageFormatFromNumber(*index);
    return {};
  }
  if (name == "AuthenticationMethod" || name == "SMTPSecurity") {
    const std::span<const std::string_view> entries =
        name == "SMTPSecurity" ? std::span<const std::string_view>(kSecurityChoices)
                               : std::span<const std::string_view>(kAuthenticationChoices);
    auto index = ListIndex(entries, value);
    if (!index) return ListRefusal(key.name, entries);
    *NumberMember(s, name) = *index;
    return {};
  }
  auto number = ScanSigned(value);
  if (!number) return LoadString(IDS_ENTER_INTEGER);
  *NumberMember(s, name) = *number;
  return {};
}

}  // namespace kestrel
