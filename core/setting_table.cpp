// The rows of the settings table and the parsing of their values. The row
// order is kestrel.xml's element order; the registry sections and defaults
// are those of the old registry key.
#include "core/setting_table.h"

#include <strings.h>

#include <array>
#include <type_traits>

#include "core/endpoint_url.h"
#include "core/number_text.h"
#include "core/sip_setting_text.h"

namespace kestrel {
namespace {

// A member's value as a SettingValue and back; enumerations travel as their number.
SettingValue ToValue(const std::string& v) { return v; }
SettingValue ToValue(std::int32_t v) { return v; }
SettingValue ToValue(bool v) { return v; }
template <class E>
requires std::is_enum_v<E> SettingValue ToValue(E v) { return static_cast<std::int32_t>(v); }

void FromValue(const SettingValue& v, std::string& member) { member = std::get<std::string>(v); }
void FromValue(const SettingValue& v, std::int32_t& member) { member = std::get<std::int32_t>(v); }
void FromValue(const SettingValue& v, bool& member) { member = std::get<bool>(v); }
template <class E>
requires std::is_enum_v<E>
void FromValue(const SettingValue& v, E& member) { member = static_cast<E>(std::get<std::int32_t>(v)); }

// `row` bound to the member `M`.
template <auto M>
SettingRow Bind(SettingRow row) {
  row.get = [](const ServiceSettings& s) { return ToValue(s.*M); };
  row.set = [](ServiceSettings& s, const SettingValue& v) { FromValue(v, s.*M); };
  return row;
}

using enum SettingType;
using S = ServiceSettings;

// OAuthGrant: one of the grants, or empty for the provider's.
Status CheckGrant(std::string_view name, std::string_view text) {
  for (std::string_view grant : {"", "device", "code", "client"})
    if (text == grant) return {};
  return Status::Failed(std::string(name), "not a grant");
}
constexpr std::string_view kGrantAccepts = "device, code, client or nothing (the provider's)";
constexpr std::string_view kUrlAccepts = "an https URL (http only to a loopback address) or nothing (the provider's)";

// Built on first use, so that no other static initialiser can see it unbuilt.
const auto& Rows() {
  static const std::array rows = {
      Bind<&S::ImageFormat>({.member = "ImageFormat",
                             .element = "ImageFormat",
                             .registrySection = "Email",
                             .type = kChoice,
                             .defaultValue = 0,
                             .choices = kImageFormatChoices}),
      Bind<&S::ImageScaleX>({.member = "ImageScaleX",
                             .element = "ImageScale",
                             .registrySection = "Email",
                             .type = kNumber,
                             .defaultValue = 750}),
      Bind<&S::RejectCallerID>({.member = "RejectCallerID",
                                .element = "CallerIDFiltering",
                                .registrySection = "Fax",
                                .type = kFlag,
                                .defaultValue = false}),
      Bind<&S::Number>({.member = "Number", .element = "ReceiverID", .registrySection = "Fax", .defaultValue = ""}),
      Bind<&S::ODBCConnect>(
          {.member = "ODBCConnect", .element = "Database", .registrySection = "Fax", .defaultValue = "DSN=Kestrel"}),
      Bind<&S::Address>(
          {.member = "Address", .element = "EmailAddress", .registrySection = "Email", .defaultValue = ""}),
      Bind<&S::Name>({.member = "Name", .element = "EmailName", .registrySection = "Email", .defaultValue = ""}),
      Bind<&S::Header>({.member = "Header", .element = "EmailHeader", .registrySection = "Email", .defaultValue = ""}),
      Bind<&S::SMTPPort>({.member = "SMTPPort",
                          .element = "SmtpPortReceive",
                          .registrySection = "Email",
                          .type = kNumber,
                          .defaultValue = kDefaultSmtpPort,
                          .min = 1,
                          .max = 65535}),
      Bind<&S::SMTPServer>(
          {.member = "SMTPServer", .element = "SmtpServerReceive", .registrySection = "Email", .defaultValue = ""}),
      Bind<&S::AuthenticationMethod>({.member = "AuthenticationMethod",
                                      .element = "UseReceiverAuthentification",
                                      .registrySection = "Email",
                                      .type = kChoice,
                                      .defaultValue = 0,
                                      .choices = kAuthenticationChoices}),
      Bind<&S::SMTP_Pass>({.member = "SMTP_Pass",
                           .element = "ReceiverPassword",
                           .registrySection = "Email",
                           .defaultValue = "",
                           .secret = true}),
      Bind<&S::SMTP_User>(
          {.member = "SMTP_User", .element = "ReceiverUserName", .registrySection = "Email", .defaultValue = ""}),
      Bind<&S::EmailAll>({.member = "EmailAll", .element = "EmailAll", .registrySection = "MSN", .defaultValue = ""}),
      Bind<&S::UseImageScale>({.member = "UseImageScale",
                               .element = "UseImageScale",
                               .registrySection = "Email",
                               .type = kFlag,
                               .defaultValue = false}),
      Bind<&S::ReceivedDir>(
          {.member = "ReceivedDir", .element = "FaxDir", .registrySection = "Fax", .defaultValue = ""}),
      Bind<&S::All>(
          {.member = "All", .element = "MSNAll", .registrySection = "MSN", .type = kFlag, .defaultValue = true}),
      // Later additions: a file written before them reads as the default.
      Bind<&S::SMTPSecurity>({.member = "SMTPSecurity",
                              .element = "SmtpSecurity",
                              .type = kChoice,
                              .defaultValue = 0,
                              .choices = kSecurityChoices,
                              .optional = true}),
      Bind<&S::SMTPCAFile>({.member = "SMTPCAFile", .element = "SmtpCAFile", .defaultValue = "", .optional = true}),
      Bind<&S::OcrLanguages>(
          {.member = "OcrLanguages", .element = "OcrLanguages", .defaultValue = "", .optional = true}),
      Bind<&S::OAuthProvider>({.member = "OAuthProvider",
                               .element = "OAuthProvider",
                               .type = kChoice,
                               .defaultValue = 2,
                               .choices = kOAuthProviderChoices,
                               .optional = true}),
      Bind<&S::OAuthTenant>(
          {.member = "OAuthTenant", .element = "OAuthTenant", .defaultValue = "organizations", .optional = true}),
      Bind<&S::OAuthClientId>(
          {.member = "OAuthClientId", .element = "OAuthClientId", .defaultValue = "", .optional = true}),
      Bind<&S::OAuthClientSecret>({.member = "OAuthClientSecret",
                                   .element = "OAuthClientSecret",
                                   .defaultValue = "",
                                   .secret = true,
                                   .optional = true}),
      Bind<&S::OAuthScope>({.member = "OAuthScope", .element = "OAuthScope", .defaultValue = "", .optional = true}),
      Bind<&S::OAuthGrant>({.member = "OAuthGrant",
                            .element = "OAuthGrant",
                            .defaultValue = "",
                            .optional = true,
                            .check = CheckGrant,
                            .accepts = kGrantAccepts}),
      Bind<&S::OAuthTokenUrl>({.member = "OAuthTokenUrl",
                               .element = "OAuthTokenUrl",
                               .defaultValue = "",
                               .optional = true,
                               .check = CheckEndpointUrl,
                               .accepts = kUrlAccepts}),
      Bind<&S::OAuthDeviceUrl>({.member = "OAuthDeviceUrl",
                                .element = "OAuthDeviceUrl",
                                .defaultValue = "",
                                .optional = true,
                                .check = CheckEndpointUrl,
                                .accepts = kUrlAccepts}),
      Bind<&S::OAuthAuthorizeUrl>({.member = "OAuthAuthorizeUrl",
                                   .element = "OAuthAuthorizeUrl",
                                   .defaultValue = "",
                                   .optional = true,
                                   .check = CheckEndpointUrl,
                                   .accepts = kUrlAccepts}),
      Bind<&S::SipEnabled>(
          {.member = "SipEnabled", .element = "SipEnabled", .type = kFlag, .defaultValue = false, .optional = true}),
      Bind<&S::SipRegistrar>({.member = "SipRegistrar",
                              .element = "SipRegistrar",
                              .defaultValue = "",
                              .optional = true,
                              .check = CheckSipRegistrar,
                              .accepts = "a host, host:port, or nothing (no registration)"}),
      Bind<&S::SipUser>({.member = "SipUser", .element = "SipUser", .defaultValue = "", .optional = true}),
      Bind<&S::SipAuthUser>({.member = "SipAuthUser", .element = "SipAuthUser", .defaultValue = "", .optional = true}),
      Bind<&S::SipPassword>(
          {.member = "SipPassword", .element = "SipPassword", .defaultValue = "", .secret = true, .optional = true}),
      Bind<&S::SipTransport>({.member = "SipTransport",
                              .element = "SipTransport",
                              .type = kChoice,
                              .defaultValue = 0,
                              .choices = kSipTransportChoices,
                              .optional = true}),
      Bind<&S::SipPort>({.member = "SipPort",
                         .element = "SipPort",
                         .type = kNumber,
                         .defaultValue = 5060,
                         .min = 1,
                         .max = 65535,
                         .optional = true}),
      Bind<&S::SipRtpPorts>({.member = "SipRtpPorts",
                             .element = "SipRtpPorts",
                             .defaultValue = "20000-20199",
                             .optional = true,
                             .check = CheckRtpPorts,
                             .accepts = "two ports from 1024 to 65535 joined by - (20000-20199)"}),
      Bind<&S::SipT38>(
          {.member = "SipT38", .element = "SipT38", .type = kFlag, .defaultValue = true, .optional = true}),
      Bind<&S::SipPeers>({.member = "SipPeers",
                          .element = "SipPeers",
                          .defaultValue = "",
                          .optional = true,
                          .check = CheckSipPeers,
                          .accepts = "addresses, CIDRs or host names separated by commas"}),
      Bind<&S::SipChannels>({.member = "SipChannels",
                             .element = "SipChannels",
                             .type = kNumber,
                             .defaultValue = 4,
                             .min = 1,
                             .max = 100,
                             .optional = true}),
      // Held and edited, never written to the file.
      Bind<&S::RejectStationID>(
          {.member = "RejectStationID", .registrySection = "Fax", .type = kFlag, .defaultValue = false}),
      Bind<&S::Logfile>({.member = "Logfile", .registrySection = "Fax", .type = kFlag, .defaultValue = true}),
  };
  return rows;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view TrimBlanks(std::string_view t) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!t.empty() && blank(t.front())) t.remove_prefix(1);
  while (!t.empty() && blank(t.back())) t.remove_suffix(1);
  return t;
}

std::optional<bool> ParseFlag(std::string_view t, SettingSyntax syntax) {
  if (t == "TRUE") return true;
  if (t == "FALSE") return false;
  if (syntax == SettingSyntax::kFile) return std::nullopt;
  for (std::string_view on : {"true", "1", "yes", "on"})
    if (SameName(t, on)) return true;
  for (std::string_view off : {"false", "0", "no", "off"})
    if (SameName(t, off)) return false;
  return std::nullopt;
}

std::optional<std::int32_t> ParseChoice(const SettingRow& row, std::string_view t, SettingSyntax syntax) {
  if (syntax == SettingSyntax::kTyped)
    for (std::size_t i = 0; i < row.choices.size(); ++i)
      if (SameName(row.choices[i], t)) return static_cast<std::int32_t>(i);
  auto n = ScanSigned(t);
  if (n && *n >= 0 && static_cast<std::size_t>(*n) < row.choices.size()) return n;
  return std::nullopt;
}

Failure Refusal(const SettingRow& row, std::string_view text) {
  const std::string held = row.secret ? std::string("its value") : "\"" + std::string(text) + "\"";
  return Failure{std::string(row.Name()),
                 std::string(row.Name()) + " holds " + held + "; it takes " + DescribeAccepted(row) + "."};
}

}  // namespace

std::span<const SettingRow> SettingRows() { return Rows(); }

const SettingRow* FindSetting(std::string_view name) {
  for (const SettingRow& row : Rows())
    if (SameName(row.element, name) || SameName(row.member, name)) return &row;
  return nullptr;
}

Result<SettingValue> ParseSetting(const SettingRow& row, std::string_view text, SettingSyntax syntax) {
  const std::string_view t = TrimBlanks(text);
  switch (row.type) {
    case kText:
      if (!row.check || row.check(row.Name(), text)) return SettingValue(std::string(text));
      break;
    case kNumber:
      if (auto n = ScanSigned(t); n && *n >= row.min && *n <= row.max) return SettingValue(*n);
      break;
    case kFlag:
      if (auto f = ParseFlag(t, syntax)) return SettingValue(*f);
      break;
    case kChoice:
      if (auto c = ParseChoice(row, t, syntax)) return SettingValue(*c);
      break;
  }
  return Refusal(row, text);
}

std::string FormatSetting(const SettingRow& row, const SettingValue& value) {
  switch (row.type) {
    case kText: return std::get<std::string>(value);
    case kFlag: return std::get<bool>(value) ? "TRUE" : "FALSE";
    case kNumber:
    case kChoice: break;
  }
  return std::to_string(std::get<std::int32_t>(value));
}

Status CheckSetting(const SettingRow& row, const SettingValue& value) {
  if (row.type == kFlag || (row.type == kText && !row.check)) return {};
  const std::string text = FormatSetting(row, value);
  return ParseSetting(row, text, SettingSyntax::kFile).ToStatus();
}

Status CheckSettings(const ServiceSettings& settings) {
  std::string problems;
  for (const SettingRow& row : Rows())
    if (Status fits = CheckSetting(row, row.get(settings)); !fits)
      problems += (problems.empty() ? "" : " ") + fits.Error().text;
  if (problems.empty()) return {};
  return Status::Failed("settings", problems);
}

std::string DescribeAccepted(const SettingRow& row) {
  switch (row.type) {
    case kText: return row.accepts.empty() ? "any text" : std::string(row.accepts);
    case kFlag: return "TRUE or FALSE";
    case kNumber:
      if (row.min == std::numeric_limits<std::int32_t>::min() && row.max == std::numeric_limits<std::int32_t>::max())
        return "a whole number";
      return "a number from " + std::to_string(row.min) + " to " + std::to_string(row.max);
    case kChoice: break;
  }
  std::string words;
  for (std::size_t i = 0; i < row.choices.size(); ++i)
    words += (i == 0                        ? ""
              : i + 1 == row.choices.size() ? " or "
                                            : ", ") +
             std::to_string(i) + " (" + std::string(row.choices[i]) + ")";
  return words;
}

}  // namespace kestrel
