// The token and device endpoints' replies as untrusted bytes, and the
// settings' provider values.
#include "oauth/token_reply.h"

#include <gtest/gtest.h>

#include "oauth/oauth_config.h"

namespace kestrel {
namespace {

TEST(TokenReply, GrantAndErrorReplies) {
  Result<TokenGrant> grant = ParseTokenReply(
      200, R"({"access_token":"at-1","token_type":"bearer","expires_in":"3599","refresh_token":"rt-1","x":[1]})");
  ASSERT_TRUE(grant) << grant.Describe();
  EXPECT_EQ(grant->accessToken, "at-1");
  EXPECT_EQ(grant->refreshToken, "rt-1");
  EXPECT_EQ(grant->expiresIn, 3599);

  Result<TokenGrant> refused =
      ParseTokenReply(400, R"({"error":"invalid_grant","error_description":"AADSTS70008:\u001b[31m expired"})");
  ASSERT_FALSE(refused);
  EXPECT_EQ(OAuthErrorWord(refused.Error()), "invalid_grant");
  EXPECT_EQ(refused.Error().text, "invalid_grant: AADSTS70008: [31m expired");
  EXPECT_EQ(refused.Error().code, 400);
}

TEST(TokenReply, UnusableRepliesFailWithoutAToken) {
  const std::string deep = std::string(100, '[') + std::string(100, ']');
  const struct {
    long status;
    std::string body;
  } cases[] = {
      {200, "not json"},
      {200, "[\"access_token\"]"},
      {200, R"({"access_token":42})"},
      {200, R"({"access_token":"a b"})"},
      {200, R"({"access_token":""})"},
      {200, R"({"access_token":"at","token_type":"mac"})"},
      {200, R"({"access_token":"at","expires_in":-5})"},
      {200, R"({"access_token":"at","expires_in":1.5})"},
      {200, R"({"access_token":"at","refresh_token":["rt"]})"},
      {200, R"({"access_token":"at","nested":)" + deep + "}"},
      {200, R"({"access_token":")" + std::string(kMaxTokenLength + 1, 'a') + "\"}"},
      {500, "<html>busy</html>"},
      {400, R"({"error":"two words"})"},
  };
  for (const auto& c : cases) {
    Result<TokenGrant> grant = ParseTokenReply(c.status, c.body);
    ASSERT_FALSE(grant) << c.body.substr(0, 80);
    EXPECT_EQ(OAuthErrorWord(grant.Error()), "") << c.body.substr(0, 80);
  }
}

TEST(TokenReply, DeviceReplyNeedsItsCodesAndTakesGooglesUrlName) {
  Result<DeviceAuthorization> d = ParseDeviceReply(
      200,
      R"({"device_code":"dc","user_code":"AB-CD","verification_url":"https://g.example/device","expires_in":900})");
  ASSERT_TRUE(d) << d.Describe();
  EXPECT_EQ(d->verificationUri, "https://g.example/device");
  EXPECT_EQ(d->interval, 5);
  EXPECT_FALSE(ParseDeviceReply(200, R"({"device_code":"dc","user_code":"A\u001b]0;x","verification_uri":"u",)"
                                     R"("expires_in":900})"));
  EXPECT_FALSE(ParseDeviceReply(200, R"({"device_code":"dc","user_code":"AB","expires_in":900})"));
}

TEST(OAuthConfig, ProviderValuesAndWhatCustomNeeds) {
  ServiceSettings s;
  s.OAuthClientId = "client";
  s.OAuthProvider = OAuthProvider::Microsoft;
  s.OAuthTenant = "contoso.onmicrosoft.com";
  Result<OAuthConfig> microsoft = ResolveOAuthConfig(s);
  ASSERT_TRUE(microsoft) << microsoft.Describe();
  EXPECT_EQ(microsoft->grant, OAuthGrant::Device);
  EXPECT_EQ(microsoft->tokenUrl, "https://login.microsoftonline.com/contoso.onmicrosoft.com/oauth2/v2.0/token");
  EXPECT_EQ(microsoft->deviceUrl, "https://login.microsoftonline.com/contoso.onmicrosoft.com/oauth2/v2.0/devicecode");
  EXPECT_EQ(microsoft->scope, "https://outlook.office.com/SMTP.Send offline_access");
  s.OAuthGrant = "client";
  s.OAuthClientSecret = "secret";
  EXPECT_EQ(ResolveOAuthConfig(s)->scope, "https://outlook.office365.com/.default");

  s.OAuthProvider = OAuthProvider::Google;
  s.OAuthGrant = "";
  Result<OAuthConfig> google = ResolveOAuthConfig(s);
  ASSERT_TRUE(google) << google.Describe();
  EXPECT_EQ(google->grant, OAuthGrant::Code);
  EXPECT_EQ(google->authorizeUrl, "https://accounts.google.com/o/oauth2/v2/auth");
  EXPECT_EQ(google->scope, "https://mail.google.com/");

  const struct {
    void (*change)(ServiceSettings&);
    const char* says;
  } refusals[] = {
      {[](ServiceSettings& c) { c.OAuthGrant = ""; }, "OAuthGrant is empty"},
      {[](ServiceSettings& c) { c.OAuthScope = ""; }, "OAuthScope is empty"},
      {[](ServiceSettings& c) { c.OAuthTokenUrl = ""; }, "OAuthTokenUrl is empty"},
      {[](ServiceSettings& c) { c.OAuthDeviceUrl = ""; }, "OAuthDeviceUrl is empty"},
      {[](ServiceSettings& c) { c.OAuthClientId = ""; }, "OAuthClientId is empty"},
      {[](ServiceSettings& c) { c.OAuthTokenUrl = "http://idp.example/token"; }, "OAuthTokenUrl must be an https URL"},
      {[](ServiceSettings& c) { c.OAuthGrant = "client"; }, "OAuthClientSecret is empty"},
      {[](ServiceSettings& c) { c.OAuthProvider = OAuthProvider::Microsoft, c.OAuthTenant = "a/../b"; }, "OAuthTenant"},
  };
  for (const auto& r : refusals) {
    ServiceSettings custom;
    custom.OAuthClientId = "client";
    custom.OAuthGrant = "device";
    custom.OAuthScope = "smtp";
    custom.OAuthTokenUrl = "http://127.0.0.1:1/token";
    custom.OAuthDeviceUrl = "http://127.0.0.1:1/device";
    ASSERT_TRUE(ResolveOAuthConfig(custom));
    r.change(custom);
    Result<OAuthConfig> c = ResolveOAuthConfig(custom);
    ASSERT_FALSE(c) << r.says;
    EXPECT_NE(c.Error().text.find(r.says), std::string::npos) << c.Error().text;
  }
}

}  // namespace
}  // namespace kestrel
