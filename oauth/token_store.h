// COAuthTokenStore: the tokens of the OAuth 2.0 login in one file of the
// application folder, oauth-tokens.json: the refresh token, the access token,
// when it expires, the account they were obtained for (to show who is signed
// in) and the last renewal's failure. The file has mode 0600
// and is replaced atomically (platform/atomic_file.h), so a reader (the
// service, kestrel-admin) never sees half of it. Tokens go nowhere else: not
// to the event log, kestrel.xml, a command line or any output.
// The file is read as untrusted (bounded, parsed with nlohmann-json, each
// field's type checked); a file that does not parse holds no tokens.
// Failures are Status / Result values (step = the file's path).
// The store holds no state: several stores on one file may be used from
// several threads and processes; the last writer wins.
#pragma once

#include <cstdint>
#include <string>

#include "core/result.h"
#include "oauth/token_reply.h"

namespace kestrel {

// Why no access token can be had when the file holds none.
inline constexpr const char* kNoTokenHeld = "no token is held; sign in with kestrel-admin mail login";

struct OAuthTokens {
  std::string refreshToken;
  std::string accessToken;
  std::int64_t expiresAt = 0;  // seconds since the epoch; 0: unknown
  std::string lastError;       // the last renewal's failure, for kestrel-admin status; empty: none
  std::string account;         // who signed in, to show; empty: not known

  bool operator==(const OAuthTokens&) const = default;
};

// The tokens `grant` gives at `now` (seconds since the epoch): a lifetime the
// endpoint did not tell is taken as an hour, the usual one; without a new
// refresh token the one `held` keeps stays, and so does its account when the
// grant names none. No failure is kept.
OAuthTokens TokensFromGrant(const TokenGrant& grant, std::int64_t now, const OAuthTokens& held = {});
// What a sign-in stores: the account is the one the grant names, else
// `smtpUser`, the login the tokens were obtained for.
OAuthTokens SignInTokens(const TokenGrant& grant, std::int64_t now, const std::string& smtpUser);

class COAuthTokenStore {
 public:
  // `folder` is the application folder with its trailing "/".
  explicit COAuthTokenStore(const std::string& folder);

  const std::string& Path() const { return path_; }
  // The tokens held; none when the file is missing.
  [[nodiscard]] Result<OAuthTokens> Load() const;
  [[nodiscard]] Status Save(const OAuthTokens& tokens) const;
  // Forgets every token; a missing file is no failure.
  [[nodiscard]] Status Forget() const;

 private:
  std::string path_;
};

}  // namespace kestrel
