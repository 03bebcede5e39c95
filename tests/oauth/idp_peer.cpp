#include "tests/oauth/idp_peer.h"

#include <gtest/gtest.h>

#include <ctime>

#include "oauth/oauth_client.h"
#include "oauth/token_store.h"

namespace kestrel::test {

CIdpPeer::CIdpPeer(const std::vector<std::string>& args) : process_(KESTREL_IDP_SERVER, args) {
  const std::string& ready = process_.ReadyLine();
  if (ready.starts_with("PORT ")) port_ = std::stoi(ready.substr(5));
}

std::string CIdpPeer::Url(const std::string& path, const std::string& scheme) const {
  return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
}

nlohmann::json CIdpPeer::Control(const FormFields& fields) const {
  Result<HttpReply> reply = CHttpClient().PostForm(Url("/control"), fields);
  EXPECT_TRUE(reply) << reply.Describe();
  return reply ? nlohmann::json::parse(reply->body) : nlohmann::json::object();
}

void CIdpPeer::UseDeviceGrant(ServiceSettings& settings) const {
  settings.OAuthGrant = "device";
  settings.OAuthClientId = "kestrel-test";
  settings.OAuthScope = "smtp";
  settings.OAuthTokenUrl = Url("/token");
  settings.OAuthDeviceUrl = Url("/device");
}

void CIdpPeer::SignIn(const ServiceSettings& settings, const std::string& folder) const {
  Result<OAuthConfig> config = ResolveOAuthConfig(settings);
  ASSERT_TRUE(config) << config.Describe();
  Result<TokenGrant> grant =
      COAuthClient(*config).DeviceSignIn([](const std::string&) {}, [](std::int64_t) { return true; });
  ASSERT_TRUE(grant) << grant.Describe();
  ASSERT_TRUE(COAuthTokenStore(folder).Save(TokensFromGrant(*grant, std::time(nullptr))));
}

}  // namespace kestrel::test
