// The rows of the settings table and the parsing of their values. The row
// order is kestrel.xml's element order; the registry sections and defaults
// are those of the old registry key.
#include "core/setting_table.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <type_traits>

#include "core/endpoint_url.h"
#include "core/forwarding_rules.h"
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
// NodeName: shown in the journal and in status lines, so printable and short.
constexpr std::size_t kMaxNodeNameBytes = 64;
constexpr std::string_view kNodeNameAccepts = "up to 64 printable characters, or nothing (the host name)";
Status CheckNodeName(std::string_view name, std::string_view text) {
  if (text.size() > kMaxNodeNameBytes) return Status::Failed(std::string(name), "too long");
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return Status::Failed(std::string(name), "not printable");
  return {};
}
constexpr std::string_view kGrantAccepts = "device, code, client or nothing (the provider's)";
constexpr std::string_view kUrlAccepts = "an https URL (http only to a loopback address) or nothing (the provider's)";

// "<name> holds "<text>"; it takes <what>." and, when given, why not in brackets.
Failure RefusalTaking(const SettingRow& row, std::string_view text, const std::string& takes,
                      const std::string& why = {}) {
  const std::string held = row.secret ? std::string("its value") : "\"" + std::string(text) + "\"";
  return Failure{std::string(row.Name()), std::string(row.Name()) + " holds " + held + "; it takes " + takes +
                                              (why.empty() ? "" : " (" + why + ")") + "."};
}
Failure Refusal(const SettingRow& row, std::string_view text, const std::string& why = {}) {
  return RefusalTaking(row, text, DescribeAccepted(row), why);
}

std::string DescribeRange(const SettingRow& row) {
  if (row.min == std::numeric_limits<std::int32_t>::min() && row.max == std::numeric_limits<std::int32_t>::max())
    return "a whole number";
  return "a number from " + std::to_string(row.min) + " to " + std::to_string(row.max);
}

// The admit checks, one per kind of value. Each is given a value its row's
// form took already.

// The sheet takes any whole number as the width; a page scaled to it must
// still be a page.
constexpr std::int32_t kMaxImageWidth = 10000;
constexpr std::string_view kWidthAccepts = "a width in pixels from 1 to 10000";
Status AdmitWidth(const SettingRow& row, const SettingValue& value, const SettingPlace&) {
  const std::int32_t width = std::get<std::int32_t>(value);
  if (width >= 1 && width <= kMaxImageWidth) return {};
  return Refusal(row, std::to_string(width));
}

// As `msn add` and `msn all on` check an address.
constexpr std::string_view kAddressAccepts = "an e-mail address (name@example.org)";
constexpr std::string_view kAddressOrNothingAccepts = "an e-mail address (name@example.org) or nothing";
Status AdmitAddress(const SettingRow& row, const SettingValue& value, const SettingPlace&) {
  const std::string& text = std::get<std::string>(value);
  if (text.empty() || IsValidEmailAddress(text)) return {};
  return Refusal(row, text);
}

// Read by the service, which runs as the folder's owner, as kestrel-admin does by then.
constexpr std::string_view kFileAccepts = "a readable file or nothing";
Status AdmitFile(const SettingRow& row, const SettingValue& value, const SettingPlace&) {
  const std::string& path = std::get<std::string>(value);
  if (path.empty()) return {};
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || ::access(path.c_str(), R_OK) != 0)
    return Refusal(row, path, std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return Refusal(row, path, "not a file");
  return {};
}

constexpr std::string_view kLanguagesAccepts = "installed Tesseract languages joined by + (deu+eng), or nothing";
Status AdmitLanguages(const SettingRow& row, const SettingValue& value, const SettingPlace&) {
  const std::string& text = std::get<std::string>(value);
  const std::vector<std::string> installed = InstalledOcrLanguages();
  std::string missing;
  for (std::string_view rest = text; !rest.empty();) {
    const std::size_t plus = rest.find('+');
    const std::string_view name = rest.substr(0, plus);
    rest = plus == std::string_view::npos ? std::string_view() : rest.substr(plus + 1);
    if (std::find(installed.begin(), installed.end(), name) == installed.end())
      missing += (missing.empty() ? "" : ", ") + std::string(name.empty() ? "an empty name" : name);
  }
  if (missing.empty()) return {};
  std::string known;
  for (const std::string& name : installed) known += (known.empty() ? "" : ", ") + name;
  return Refusal(row, text, missing + " not installed; installed: " + (known.empty() ? "none" : known));
}

// `path` lexically within `folder` (or the folder itself).
bool Within(const std::filesystem::path& path, std::string_view folder) {
  const std::filesystem::path base = std::filesystem::path(folder).lexically_normal();
  const std::filesystem::path relative = path.lexically_relative(base);
  return !relative.empty() && *relative.begin() != "..";
}

// The folder must outlive the service: packaging/kestreld.service gives the
// service a /tmp of its own (PrivateTmp=) and lets it write only in its own
// folder (ReadWritePaths=), so a fax folder elsewhere is gone or unwritable.
constexpr std::string_view kReceivedFolderAccepts = "a folder whose parent exists, not under /tmp or /var/tmp";
Status AdmitReceivedFolder(const SettingRow& row, const SettingValue& value, const SettingPlace& place) {
  const std::string& text = std::get<std::string>(value);
  if (text.empty()) return {};
  const std::filesystem::path folder = std::filesystem::path(text).lexically_normal();
  if (Within(folder, "/tmp") || Within(folder, "/var/tmp"))
    return Refusal(row, text,
                   "the packaged service has a /tmp and /var/tmp of its own, emptied whenever it stops: "
                   "PrivateTmp=true in kestreld.service");
  if (!place.serviceFolder.empty() && !place.folder.empty() && Within(place.folder, place.serviceFolder) &&
      !Within(folder, place.serviceFolder))
    return Refusal(row, text,
                   "the packaged service writes only below " + std::string(place.serviceFolder) +
                       " (ReadWritePaths= in kestreld.service): choose a folder there, or add this one with "
                       "systemctl edit kestreld");
  return {};
}

// Built on first use, so that no other static initialiser can see it unbuilt.
const auto& Rows() {
  static const std::array rows = {
      Bind<&S::ImageFormat>(
          {.member = "ImageFormat",
           .element = "ImageFormat",
           .registrySection = "Email",
           .type = kChoice,
           .defaultValue = 0,
           .choices = kImageFormatChoices,
           .description = "The format of the page images attached to the mail; Sff is the capture file itself."}),
      Bind<&S::ImageScaleX>(
          {.member = "ImageScaleX",
           .element = "ImageScale",
           .registrySection = "Email",
           .type = kNumber,
           .defaultValue = 750,
           .accepts = kWidthAccepts,
           .admit = AdmitWidth,
           .description = "The width in pixels the pages are scaled to while UseImageScale is TRUE."}),
      Bind<&S::RejectCallerID>({.member = "RejectCallerID",
                                .element = "CallerIDFiltering",
                                .registrySection = "Fax",
                                .type = kFlag,
                                .defaultValue = false,
                                .description = "TRUE: calls that bring no caller number are rejected."}),
      Bind<&S::Number>({.member = "Number",
                        .element = "ReceiverID",
                        .registrySection = "Fax",
                        .defaultValue = "",
                        .description = "The receiver's own fax identifier (CSID), sent to callers."}),
      Bind<&S::ODBCConnect>(
          {.member = "ODBCConnect",
           .element = "Database",
           .registrySection = "Fax",
           .defaultValue = "DSN=Kestrel",
           .required = true,
           .description = "The ODBC connect text of the journal and the forwarding tables: the data source Kestrel "
                          "when one is defined, else kestrel.db in the application folder."}),
      Bind<&S::Address>({.member = "Address",
                         .element = "EmailAddress",
                         .registrySection = "Email",
                         .defaultValue = "",
                         .accepts = kAddressAccepts,
                         .required = true,
                         .admit = AdmitAddress,
                         .description = "The sender's address of the mails."}),
      Bind<&S::Name>({.member = "Name",
                      .element = "EmailName",
                      .registrySection = "Email",
                      .defaultValue = "",
                      .required = true,
                      .description = "The sender's display name."}),
      Bind<&S::Header>({.member = "Header",
                        .element = "EmailHeader",
                        .registrySection = "Email",
                        .defaultValue = "",
                        .description = "The subject of the mails; %TSID% stands for the caller's number."}),
      Bind<&S::SMTPPort>({.member = "SMTPPort",
                          .element = "SmtpPortReceive",
                          .registrySection = "Email",
                          .type = kNumber,
                          .defaultValue = kDefaultSmtpPort,
                          .min = 1,
                          .max = 65535,
                          .description = "The mail server's port."}),
      Bind<&S::SMTPServer>({.member = "SMTPServer",
                            .element = "SmtpServerReceive",
                            .registrySection = "Email",
                            .defaultValue = "",
                            .required = true,
                            .description = "The mail server: its host name or address."}),
      Bind<&S::AuthenticationMethod>(
          {.member = "AuthenticationMethod",
           .element = "UseReceiverAuthentification",
           .registrySection = "Email",
           .type = kChoice,
           .defaultValue = 0,
           .choices = kAuthenticationChoices,
           .description = "How the mail session logs in. OAuth 2.0 logs in with SASL XOAUTH2 (OAUTHBEARER when the "
                          "server offers only that) and a token from *kestrel-admin mail login*; it needs "
                          "ReceiverUserName and TLS, unless the server is a loopback address."}),
      Bind<&S::SMTP_Pass>(
          {.member = "SMTP_Pass",
           .element = "ReceiverPassword",
           .registrySection = "Email",
           .defaultValue = "",
           .secret = true,
           .description = "The login's password; *kestrel-admin settings* shows only whether it is set."}),
      Bind<&S::SMTP_User>({.member = "SMTP_User",
                           .element = "ReceiverUserName",
                           .registrySection = "Email",
                           .defaultValue = "",
                           .description = "The login's user name."}),
      Bind<&S::EmailAll>(
          {.member = "EmailAll",
           .element = "EmailAll",
           .registrySection = "MSN",
           .defaultValue = "",
           .accepts = kAddressOrNothingAccepts,
           .admit = AdmitAddress,
           .description = "The address every call is forwarded to while MSNAll is TRUE; kept only then."}),
      Bind<&S::UseImageScale>({.member = "UseImageScale",
                               .element = "UseImageScale",
                               .registrySection = "Email",
                               .type = kFlag,
                               .defaultValue = false,
                               .description = "TRUE: the pages are scaled to ImageScale pixels wide."}),
      Bind<&S::ReceivedDir>(
          {.member = "ReceivedDir",
           .element = "FaxDir",
           .registrySection = "Fax",
           .defaultValue = "",
           .accepts = kReceivedFolderAccepts,
           .required = true,
           .admit = AdmitReceivedFolder,
           .description = "The folder for received faxes and their page images; kestrel-admin makes its last level."}),
      Bind<&S::All>({.member = "All",
                     .element = "MSNAll",
                     .registrySection = "MSN",
                     .type = kFlag,
                     .defaultValue = true,
                     .description = "TRUE: every call is answered and forwarded to EmailAll; FALSE: only the MSNs of "
                                    "the forwarding table are answered."}),
      // Later additions: a file written before them reads as the default.
      Bind<&S::SMTPSecurity>({.member = "SMTPSecurity",
                              .element = "SmtpSecurity",
                              .type = kChoice,
                              .defaultValue = 0,
                              .choices = kSecurityChoices,
                              .optional = true,
                              .description = "How the connection to the mail server is protected; SSL/TLS speaks TLS "
                                             "from the first byte (port 465)."}),
      Bind<&S::SMTPCAFile>({.member = "SMTPCAFile",
                            .element = "SmtpCAFile",
                            .defaultValue = "",
                            .optional = true,
                            .accepts = kFileAccepts,
                            .admit = AdmitFile,
                            .description = "Further trusted certificates in PEM, beside the system's."}),
      Bind<&S::OcrLanguages>(
          {.member = "OcrLanguages",
           .element = "OcrLanguages",
           .defaultValue = "",
           .optional = true,
           .accepts = kLanguagesAccepts,
           .admit = AdmitLanguages,
           .description = "Tesseract's languages for the PDF's text layer, joined by + (deu+eng); empty is off."}),
      Bind<&S::OAuthProvider>({.member = "OAuthProvider",
                               .element = "OAuthProvider",
                               .type = kChoice,
                               .defaultValue = 2,
                               .choices = kOAuthProviderChoices,
                               .optional = true,
                               .description = "Whose sign-in OAuth 2.0 uses. A provider brings the endpoints, scope "
                                              "and grant below where they are empty; custom needs them all."}),
      Bind<&S::OAuthTenant>({.member = "OAuthTenant",
                             .element = "OAuthTenant",
                             .defaultValue = "organizations",
                             .optional = true,
                             .description = "Microsoft's directory, by its name or id."}),
      Bind<&S::OAuthClientId>({.member = "OAuthClientId",
                               .element = "OAuthClientId",
                               .defaultValue = "",
                               .optional = true,
                               .description = "The application registration's client id."}),
      Bind<&S::OAuthClientSecret>(
          {.member = "OAuthClientSecret",
           .element = "OAuthClientSecret",
           .defaultValue = "",
           .secret = true,
           .optional = true,
           .description = "The registration's secret, for confidential clients and the client grant."}),
      Bind<&S::OAuthScope>({.member = "OAuthScope",
                            .element = "OAuthScope",
                            .defaultValue = "",
                            .optional = true,
                            .description =
                                "The scope asked for; empty is the provider's: Microsoft "
                                "https://outlook.office.com/SMTP.Send offline_access (for the client grant "
                                "https://outlook.office365.com/.default), Google https://mail.google.com/."}),
      Bind<&S::OAuthGrant>(
          {.member = "OAuthGrant",
           .element = "OAuthGrant",
           .defaultValue = "",
           .optional = true,
           .check = CheckGrant,
           .accepts = kGrantAccepts,
           .description =
               "device: a code entered on another device (Microsoft's default); code: a browser sign-in redirected to "
               "127.0.0.1 (Google's default); client: an application's own token (Microsoft app-only)."}),
      Bind<&S::OAuthTokenUrl>({.member = "OAuthTokenUrl",
                               .element = "OAuthTokenUrl",
                               .defaultValue = "",
                               .optional = true,
                               .check = CheckEndpointUrl,
                               .accepts = kUrlAccepts,
                               .description =
                                   "The token endpoint; empty is the provider's. The tokens themselves are kept in "
                                   "oauth-tokens.json in the application folder (mode 0600), never in this file."}),
      Bind<&S::OAuthDeviceUrl>({.member = "OAuthDeviceUrl",
                                .element = "OAuthDeviceUrl",
                                .defaultValue = "",
                                .optional = true,
                                .check = CheckEndpointUrl,
                                .accepts = kUrlAccepts,
                                .description = "The device authorization endpoint; empty is the provider's."}),
      Bind<&S::OAuthAuthorizeUrl>(
          {.member = "OAuthAuthorizeUrl",
           .element = "OAuthAuthorizeUrl",
           .defaultValue = "",
           .optional = true,
           .check = CheckEndpointUrl,
           .accepts = kUrlAccepts,
           .description = "The authorization endpoint of the code grant; empty is the provider's."}),
      Bind<&S::SipEnabled>({.member = "SipEnabled",
                            .element = "SipEnabled",
                            .type = kFlag,
                            .defaultValue = false,
                            .optional = true,
                            .description = "TRUE runs the SIP line beside CAPI: faxes over G.711 audio from a SIP "
                                           "trunk or a PBX."}),
      Bind<&S::SipRegistrar>({.member = "SipRegistrar",
                              .element = "SipRegistrar",
                              .defaultValue = "",
                              .optional = true,
                              .check = CheckSipRegistrar,
                              .accepts = "a host, host:port, or nothing (no registration)",
                              .description = "Where the SIP line registers; empty: it does not register and takes "
                                             "calls from SipPeers only."}),
      Bind<&S::SipUser>({.member = "SipUser",
                         .element = "SipUser",
                         .defaultValue = "",
                         .optional = true,
                         .description = "The user the SIP line registers as (its number or extension)."}),
      Bind<&S::SipAuthUser>({.member = "SipAuthUser",
                             .element = "SipAuthUser",
                             .defaultValue = "",
                             .optional = true,
                             .description = "The digest login; empty is SipUser."}),
      Bind<&S::SipPassword>({.member = "SipPassword",
                             .element = "SipPassword",
                             .defaultValue = "",
                             .secret = true,
                             .optional = true,
                             .description = "The digest password, stored scrambled; *kestrel-admin settings* shows "
                                            "only whether it is set."}),
      Bind<&S::SipTransport>({.member = "SipTransport",
                              .element = "SipTransport",
                              .type = kChoice,
                              .defaultValue = 0,
                              .choices = kSipTransportChoices,
                              .optional = true,
                              .description = "How SIP messages travel to the registrar and from the callers."}),
      Bind<&S::SipPort>({.member = "SipPort",
                         .element = "SipPort",
                         .type = kNumber,
                         .defaultValue = 5060,
                         .min = 1,
                         .max = 65535,
                         .optional = true,
                         .description = "The local SIP port."}),
      Bind<&S::SipRtpPorts>({.member = "SipRtpPorts",
                             .element = "SipRtpPorts",
                             .defaultValue = "20000-20199",
                             .optional = true,
                             .check = CheckRtpPorts,
                             .accepts = "two ports from 1024 to 65535 joined by - (20000-20199)",
                             .description = "The local ports for the calls' audio and T.38 (UDPTL)."}),
      Bind<&S::SipT38>({.member = "SipT38",
                        .element = "SipT38",
                        .type = kFlag,
                        .defaultValue = true,
                        .optional = true,
                        .description = "TRUE takes T.38 when the caller offers it or re-INVITEs to it, and asks "
                                       "for it by re-INVITE when the caller's fax tones are heard within 20 s of "
                                       "answering (a refusal keeps the call in audio). FALSE keeps every call in "
                                       "audio: an offer of T.38 is refused with 488."}),
      Bind<&S::SipPeers>({.member = "SipPeers",
                          .element = "SipPeers",
                          .defaultValue = "",
                          .optional = true,
                          .check = CheckSipPeers,
                          .accepts = "addresses, CIDRs or host names separated by commas",
                          .description = "Whose INVITEs are taken besides the registrar's; calls from anywhere "
                                         "else are refused (403)."}),
      Bind<&S::SipChannels>({.member = "SipChannels",
                             .element = "SipChannels",
                             .type = kNumber,
                             .defaultValue = 4,
                             .min = 1,
                             .max = 100,
                             .optional = true,
                             .description = "Calls at once; a further call is answered busy (486)."}),
      Bind<&S::CapiCalls>({.member = "CapiCalls",
                           .element = "CapiCalls",
                           .type = kNumber,
                           .defaultValue = 0,
                           .min = 0,
                           .max = 30,
                           .optional = true,
                           .description = "CAPI calls at once: 0 one per B-channel; 1 one at a time; more: at most "
                                          "that many, never more than the line has B-channels. A further call is "
                                          "answered busy."}),
      Bind<&S::NodeName>({.member = "NodeName",
                          .element = "NodeName",
                          .defaultValue = "",
                          .optional = true,
                          .check = CheckNodeName,
                          .accepts = kNodeNameAccepts,
                          .description = "This node's name in the journal, where several services share one "
                                         "database; empty is the host name. Each node needs its own."}),
      // Held and edited, never written to the file.
      Bind<&S::RejectStationID>({.member = "RejectStationID",
                                 .registrySection = "Fax",
                                 .type = kFlag,
                                 .defaultValue = false,
                                 .description = "Kept by the desktop only."}),
      Bind<&S::Logfile>({.member = "Logfile",
                         .registrySection = "Fax",
                         .type = kFlag,
                         .defaultValue = true,
                         .description = "Kept by the desktop only; the log is always written."}),
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
  // A number's form is its range, which kestrel-admin may narrow further.
  return row.type == kNumber ? RefusalTaking(row, text, DescribeRange(row)) : Refusal(row, text);
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
  if (!row.accepts.empty()) return std::string(row.accepts);
  switch (row.type) {
    case kText: return "any text";
    case kFlag: return "TRUE or FALSE";
    case kNumber: return DescribeRange(row);
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

Status AdmitSetting(const SettingRow& row, const SettingValue& value, const SettingPlace& place) {
  if (row.required && row.type == kText && std::get<std::string>(value).empty())
    return Failure{std::string(row.Name()),
                   std::string(row.Name()) + " may not be empty: the service does not receive without it."};
  return row.admit ? row.admit(row, value, place) : Status();
}

std::vector<std::string_view> MissingSettings(const ServiceSettings& settings) {
  std::vector<std::string_view> missing;
  for (const SettingRow& row : Rows())
    if (row.required && std::get<std::string>(row.get(settings)).empty()) missing.push_back(row.Name());
  return missing;
}

std::vector<std::string> InstalledOcrLanguages() {
  const char* prefix = std::getenv("TESSDATA_PREFIX");
  const std::string folder = prefix && *prefix ? prefix : KESTREL_TESSDATA_DIR;
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    if (entry.path().extension() == ".traineddata") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace kestrel
