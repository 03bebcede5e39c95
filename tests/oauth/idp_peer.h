// The tests' own identity provider (idp_server.py) as a child process on a
// free loopback port, with its levers (/control) at hand: what a test wants
// of it (short lifetimes, a refusal, revocation) and what it counted (polls,
// renewals, every token it issued).
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/service_settings.h"
#include "oauth/http_client.h"
#include "tests/mail/mail_test_peers.h"

namespace kestrel::test {

class CIdpPeer {
 public:
  // `args`: idp_server.py's options (--cert, --key for TLS).
  explicit CIdpPeer(const std::vector<std::string>& args = {});

  // 0 when it did not start.
  int Port() const { return port_; }
  std::string Url(const std::string& path, const std::string& scheme = "http") const;
  // Pulls the levers of `fields`; answers the counters and the tokens issued.
  nlohmann::json Control(const FormFields& fields = {}) const;
  void Set(const std::string& name, const std::string& value) const { Control({{"set", name}, {"value", value}}); }
  // Points `settings` at this IdP with the device grant of its public client
  // (OAuthGrant, OAuthClientId, OAuthScope, OAuthTokenUrl, OAuthDeviceUrl).
  void UseDeviceGrant(ServiceSettings& settings) const;
  // Signs in with the device grant of `settings` (its polls not waited for)
  // and stores the tokens in `folder`, as kestrel-admin mail login does.
  void SignIn(const ServiceSettings& settings, const std::string& folder) const;

 private:
  CPeerProcess process_;
  int port_ = 0;
};

}  // namespace kestrel::test
