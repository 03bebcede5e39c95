// OAuthConfig: what a sign-in or a token renewal needs, resolved from the
// settings: the grant, the client, the scope and the endpoints, with the
// provider's values (Microsoft, Google) where a setting is empty. custom has
// no values of its own and needs them all.
// Settings are untrusted text: a tenant goes into a URL only when it is a
// plain name, and every endpoint is checked (https, or http to loopback)
// here, before anything connects.
// Failures are Result values (step "OAuth", the text names the setting).
#pragma once

#include <string>

#include "core/result.h"
#include "core/service_settings.h"

namespace kestrel {

enum class OAuthGrant {
  Device,  // RFC 8628: a code the user enters on another device
  Code,    // authorization code with PKCE, redirected to 127.0.0.1
  Client,  // client credentials: the application's own token
};

struct OAuthConfig {
  OAuthGrant grant = OAuthGrant::Device;
  std::string clientId;
  std::string clientSecret;  // empty for a public client
  std::string scope;
  std::string tokenUrl;
  std::string deviceUrl;       // device grant only
  std::string authorizeUrl;    // code grant only
  std::string authorizeExtra;  // further query fields of the authorization URL ("access_type=offline")
  std::string caFile;          // SMTPCAFile: further trusted certificates; empty: the system's only
};

// The configuration of `settings`, or the first thing missing or wrong.
[[nodiscard]] Result<OAuthConfig> ResolveOAuthConfig(const ServiceSettings& settings);

// The grant's word as the settings take it: "device", "code", "client".
const char* GrantName(OAuthGrant grant);

}  // namespace kestrel
