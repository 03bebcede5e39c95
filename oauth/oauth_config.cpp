#include "oauth/oauth_config.h"

#include <cctype>

#include "core/endpoint_url.h"

namespace kestrel {
namespace {

constexpr std::string_view kMicrosoftLogin = "https://login.microsoftonline.com/";
constexpr std::string_view kMicrosoftScope = "https://outlook.office.com/SMTP.Send offline_access";
constexpr std::string_view kMicrosoftAppScope = "https://outlook.office365.com/.default";
constexpr std::string_view kGoogleTokenUrl = "https://oauth2.googleapis.com/token";
constexpr std::string_view kGoogleAuthorizeUrl = "https://accounts.google.com/o/oauth2/v2/auth";
constexpr std::string_view kGoogleScope = "https://mail.google.com/";
// Google hands out a refresh token only when asked for offline access, and
// a second time only with the consent screen shown again.
constexpr std::string_view kGoogleAuthorizeExtra = "access_type=offline&prompt=consent";

// A directory name or id: letters, digits, dots and hyphens.
bool IsPlainName(const std::string& text) {
  if (text.empty() || text.size() > 128) return false;
  for (char c : text)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') return false;
  return true;
}

Failure Missing(std::string_view setting, std::string_view why) {
  return Failure{"OAuth", std::string(setting) + " is empty; " + std::string(why)};
}

void Default(std::string& value, std::string_view fallback) {
  if (value.empty()) value = fallback;
}

}  // namespace

const char* GrantName(OAuthGrant grant) {
  switch (grant) {
    case OAuthGrant::Device: return "device";
    case OAuthGrant::Code: return "code";
    case OAuthGrant::Client: return "client";
  }
  return "";
}

Result<OAuthConfig> ResolveOAuthConfig(const ServiceSettings& s) {
  OAuthConfig c;
  c.clientId = s.OAuthClientId;
  c.clientSecret = s.OAuthClientSecret;
  c.scope = s.OAuthScope;
  c.tokenUrl = s.OAuthTokenUrl;
  c.deviceUrl = s.OAuthDeviceUrl;
  c.authorizeUrl = s.OAuthAuthorizeUrl;
  c.caFile = s.SMTPCAFile;
  std::string grant = s.OAuthGrant;
  switch (s.OAuthProvider) {
    case OAuthProvider::Microsoft: {
      if (!IsPlainName(s.OAuthTenant))
        return Failure{"OAuth", "OAuthTenant must be a directory's name or id (letters, digits, dots, hyphens)"};
      const std::string base = std::string(kMicrosoftLogin) + s.OAuthTenant + "/oauth2/v2.0/";
      Default(grant, "device");
      Default(c.tokenUrl, base + "token");
      Default(c.deviceUrl, base + "devicecode");
      Default(c.authorizeUrl, base + "authorize");
      Default(c.scope, grant == "client" ? kMicrosoftAppScope : kMicrosoftScope);
      break;
    }
    case OAuthProvider::Google:
      Default(grant, "code");
      Default(c.tokenUrl, kGoogleTokenUrl);
      Default(c.authorizeUrl, kGoogleAuthorizeUrl);
      Default(c.scope, kGoogleScope);
      c.authorizeExtra = kGoogleAuthorizeExtra;
      break;
    case OAuthProvider::Custom: break;
    default:
      return Failure{"OAuth",
                     "OAuthProvider " + std::to_string(static_cast<int>(s.OAuthProvider)) + " is not 0, 1 or 2"};
  }
  constexpr std::string_view kCustom = "the custom provider needs it";
  if (grant.empty()) return Missing("OAuthGrant", kCustom);
  if (grant == "device")
    c.grant = OAuthGrant::Device;
  else if (grant == "code")
    c.grant = OAuthGrant::Code;
  else if (grant == "client")
    c.grant = OAuthGrant::Client;
  else
    return Failure{"OAuth", "OAuthGrant must be device, code or client"};
  if (c.clientId.empty()) return Missing("OAuthClientId", "the application registration's client id is needed");
  if (c.grant == OAuthGrant::Client && c.clientSecret.empty())
    return Missing("OAuthClientSecret", "the client grant needs the client's secret");
  if (c.scope.empty()) return Missing("OAuthScope", kCustom);
  if (c.tokenUrl.empty()) return Missing("OAuthTokenUrl", kCustom);
  if (c.grant == OAuthGrant::Device && c.deviceUrl.empty())
    return Missing("OAuthDeviceUrl", "the device grant needs it");
  if (c.grant == OAuthGrant::Code && c.authorizeUrl.empty())
    return Missing("OAuthAuthorizeUrl", "the code grant needs it");
  for (auto [name, url] : {std::pair{"OAuthTokenUrl", &c.tokenUrl}, std::pair{"OAuthDeviceUrl", &c.deviceUrl},
                           std::pair{"OAuthAuthorizeUrl", &c.authorizeUrl}})
    if (Status fits = CheckEndpointUrl(name, *url); !fits) return Failure{"OAuth", fits.Error().text};
  return c;
}

}  // namespace kestrel
