// COAuthClient: the grants of OAuth 2.0 against one configuration's
// endpoints: renewing with a refresh token, the client credentials grant,
// the device grant (RFC 8628) and the authorization code grant with PKCE
// (RFC 7636) redirected to a listener on 127.0.0.1 (code_grant.cpp).
// Every reply goes through token_reply.h's bounded parsers; the client holds
// no tokens itself: the caller stores what it returns (token_store.h).
// Failures are Result values: the endpoint's error word first in the text
// (OAuthErrorWord: "invalid_grant", "access_denied", "expired_token"), or
// step "HTTP" when no reply came, or step "OAuth" for a refused redirect.
// Not thread-safe: one client per thread.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "core/result.h"
#include "oauth/http_client.h"
#include "oauth/oauth_config.h"
#include "oauth/token_reply.h"

namespace kestrel {

// What the code grant's line starts with; the authorization URL follows.
inline constexpr std::string_view kOpenUrlPrompt = "To sign in, open ";

class COAuthClient {
 public:
  // Shows one line to the person signing in (a URL, a code).
  using ShowLine = std::function<void(const std::string& line)>;
  // Waits `seconds` between two polls of the device grant; false: give up
  // (a stop). The default sleeps, ending early on the stop flag.
  using Wait = std::function<bool(std::int64_t seconds)>;

  explicit COAuthClient(OAuthConfig config, const std::atomic<bool>* stop = nullptr);

  const OAuthConfig& Config() const { return config_; }

  // grant_type=refresh_token.
  [[nodiscard]] Result<TokenGrant> Refresh(const std::string& refreshToken) const;
  // grant_type=client_credentials.
  [[nodiscard]] Result<TokenGrant> ClientCredentials() const;

  // The device grant: asks for a code, shows "To sign in, open <uri> and
  // enter the code <code>", polls at the interval the endpoint gives
  // (slow_down adds 5 seconds) while it answers authorization_pending, and
  // returns the grant, or the failure (access_denied, expired_token; the
  // codes' lifetime ending before an answer is expired_token too).
  [[nodiscard]] Result<TokenGrant> DeviceSignIn(const ShowLine& show, const Wait& wait = {}) const;

  // The code grant: listens on 127.0.0.1:`port` (0: a free port), shows the
  // authorization URL (its redirect_uri names the port, for ssh -L), takes
  // the one redirect whose state matches, and trades the code with the PKCE
  // verifier. Gives up after `timeoutSeconds` or on the stop flag.
  [[nodiscard]] Result<TokenGrant> CodeSignIn(const ShowLine& show, int port = 0, int timeoutSeconds = 600) const;

  // The line DeviceSignIn shows.
  static std::string DevicePrompt(const DeviceAuthorization& device);

 private:
  Result<TokenGrant> Token(FormFields fields) const;
  bool Sleep(std::int64_t seconds) const;

  OAuthConfig config_;
  const std::atomic<bool>* stop_;
};

// PKCE: a verifier of 43 characters from a random source, and its S256
// challenge (BASE64URL(SHA-256(verifier)), RFC 7636 4.2).
std::string NewPkceVerifier();
std::string PkceChallenge(const std::string& verifier);
// A random value for `state`, 22 URL-safe characters.
std::string NewState();

}  // namespace kestrel
