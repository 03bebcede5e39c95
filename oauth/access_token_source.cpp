#include "oauth/access_token_source.h"

#include <ctime>
#include <mutex>

#include "oauth/oauth_client.h"
#include "oauth/token_store.h"

namespace kestrel {
namespace {

std::mutex& RenewalMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

std::string RenewalFailureText(const Failure& failure) {
  std::string text = "the access token could not be renewed: " + failure.Describe();
  if (OAuthErrorWord(failure) == "invalid_grant") text += "; sign in again with kestrel-admin mail login";
  return text;
}

COAuthTokenSource::COAuthTokenSource(ServiceSettings settings, std::string folder, IEventLog& log,
                                     const std::atomic<bool>* stop)
    : settings_(std::move(settings)), folder_(std::move(folder)), log_(log), stop_(stop) {}

Result<std::string> COAuthTokenSource::AccessToken(bool renew) {
  const std::lock_guard lock(RenewalMutex());
  const COAuthTokenStore store(folder_);
  Result<OAuthTokens> held = store.Load();
  if (!held) return Failure{"OAuth", held.Error().Describe()};
  OAuthTokens tokens = *held;
  const std::int64_t now = std::time(nullptr);
  if (!renew && !tokens.accessToken.empty() && tokens.expiresAt - kRenewBeforeSeconds > now) return tokens.accessToken;

  Result<OAuthConfig> config = ResolveOAuthConfig(settings_);
  if (!config) return config.Error();
  const COAuthClient client(*config, stop_);
  Result<TokenGrant> grant = Failure{"OAuth", kNoTokenHeld};
  if (config->grant == OAuthGrant::Client)
    grant = client.ClientCredentials();
  else if (!tokens.refreshToken.empty())
    grant = client.Refresh(tokens.refreshToken);
  if (!grant) {
    const std::string text = RenewalFailureText(grant.Error());
    if (tokens.lastError != text) {
      log_.WriteEventText("OAuth: " + text);
      // A sign-in by kestrel-admin while the endpoint was asked is kept:
      // the failure is noted only on the tokens it belongs to.
      Result<OAuthTokens> now = store.Load();
      if (now && now->refreshToken == tokens.refreshToken) {
        now->lastError = text;
        (void)store.Save(*now);  // only the status line is lost when this fails
      }
    }
    return grant.Error();
  }
  tokens = TokensFromGrant(*grant, now, tokens);
  if (Status saved = store.Save(tokens); !saved) {
    // The rotated refresh token is lost with it: the next renewal fails.
    log_.WriteEventText("OAuth: the tokens could not be stored: " + saved.Describe());
  }
  return tokens.accessToken;
}

}  // namespace kestrel
