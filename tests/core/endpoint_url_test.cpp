// Which endpoint URLs and hosts are taken in clear: loopback only.
#include "core/endpoint_url.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(EndpointUrl, PlainHttpOnlyToLoopbackAddresses) {
  const struct {
    const char* url;
    bool taken;
  } cases[] = {
      {"", true},
      {"https://login.microsoftonline.com/organizations/oauth2/v2.0/token", true},
      {"HTTPS://oauth2.googleapis.com/token", true},
      {"http://127.0.0.1:8080/token", true},
      {"http://127.8.9.1/token", true},
      {"http://localhost/token", true},
      {"http://[::1]:9000/token", true},
      {"http://login.example/token", false},
      {"http://128.0.0.1/token", false},
      {"http://127.0.0.1.example/token", false},
      {"http://user@127.0.0.1/token", false},
      {"https:///token", false},
      {"ftp://127.0.0.1/token", false},
      {"https://login.example/a b", false},
      {"login.example/token", false},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckEndpointUrl("OAuthTokenUrl", c.url).Ok(), c.taken) << c.url;
}

TEST(EndpointUrl, LoopbackHosts) {
  for (const char* host : {"localhost", "127.0.0.1", "127.255.0.3", "::1", "[::1]"}) EXPECT_TRUE(IsLoopbackHost(host));
  for (const char* host : {"", "smtp.office365.com", "10.0.0.1", "::2", "localhost.example"})
    EXPECT_FALSE(IsLoopbackHost(host)) << host;
}

}  // namespace
}  // namespace kestrel
