// Where the SMTP login gets its OAuth 2.0 access token: IAccessTokenSource,
// and COAuthTokenSource, the service's, which reads the token file on every
// call (so a new sign-in by kestrel-admin is taken at once), hands out the
// access token while it has more than kRenewBeforeSeconds left, and else
// renews it (with the refresh token, or for the client grant with the
// client's credentials), storing a rotated refresh token. A renewal's
// failure is kept in the file for kestrel-admin status, and written to the
// event log once (not again while the same failure repeats).
// Tokens never reach the log: events name the failure only.
// Failures are Result values (step "OAuth", or the endpoint's, see
// oauth_client.h; OAuthErrorWord gives "invalid_grant").
// Thread-safe: renewals in one process are serialised, so that two senders
// do not spend one refresh token twice.
#pragma once

#include <atomic>
#include <string>

#include "core/event_log.h"
#include "core/result.h"
#include "core/service_settings.h"

namespace kestrel {

class IAccessTokenSource {
 public:
  // A current access token; `renew` asks for a new one even if the held one
  // has not expired (the server refused it).
  virtual Result<std::string> AccessToken(bool renew) = 0;

 protected:
  ~IAccessTokenSource() = default;
};

class COAuthTokenSource final : public IAccessTokenSource {
 public:
  static constexpr std::int64_t kRenewBeforeSeconds = 300;

  // `folder`: the application folder with its trailing "/".
  COAuthTokenSource(ServiceSettings settings, std::string folder, IEventLog& log,
                    const std::atomic<bool>* stop = nullptr);

  Result<std::string> AccessToken(bool renew) override;

 private:
  ServiceSettings settings_;
  std::string folder_;
  IEventLog& log_;
  const std::atomic<bool>* stop_;
};

// What a renewal that failed is kept as (the event adds "OAuth: " before it):
// "the access token could not be renewed: token endpoint: invalid_grant: ...;
// sign in again with kestrel-admin mail login".
std::string RenewalFailureText(const Failure& failure);

}  // namespace kestrel
