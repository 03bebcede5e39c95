#include "oauth/token_store.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "platform/atomic_file.h"
#include "platform/bounded_file.h"

namespace kestrel {
namespace {

constexpr std::size_t kMaxFileBytes = 128 * 1024;
constexpr const char* kFileName = "oauth-tokens.json";

}  // namespace

OAuthTokens TokensFromGrant(const TokenGrant& grant, std::int64_t now, const OAuthTokens& held) {
  return {.refreshToken = grant.refreshToken.empty() ? held.refreshToken : grant.refreshToken,
          .accessToken = grant.accessToken,
          .expiresAt = now + (grant.expiresIn > 0 ? grant.expiresIn : 3600),
          .lastError = "",
          .account = grant.account.empty() ? held.account : grant.account};
}

OAuthTokens SignInTokens(const TokenGrant& grant, std::int64_t now, const std::string& smtpUser) {
  OAuthTokens user;
  user.account = smtpUser;
  return TokensFromGrant(grant, now, user);
}

COAuthTokenStore::COAuthTokenStore(const std::string& folder) : path_(folder + kFileName) {}

Result<OAuthTokens> COAuthTokenStore::Load() const {
  std::string bytes;
  if (!ReadBoundedFile(path_, bytes, kMaxFileBytes)) {
    if (errno == ENOENT) return OAuthTokens{};
    return Failure{path_, bytes.size() > kMaxFileBytes ? "the file is too long" : std::strerror(errno)};
  }
  const nlohmann::json json = nlohmann::json::parse(bytes, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return Failure{path_, "the file is not a JSON object"};
  OAuthTokens tokens;
  auto text = [&](const char* name, std::string& out) {
    const auto it = json.find(name);
    if (it != json.end() && it->is_string()) out = it->get<std::string>();
  };
  text("refresh_token", tokens.refreshToken);
  text("access_token", tokens.accessToken);
  text("last_error", tokens.lastError);
  text("account", tokens.account);
  if (const auto it = json.find("expires_at"); it != json.end() && it->is_number_integer())
    tokens.expiresAt = it->get<std::int64_t>();
  return tokens;
}

Status COAuthTokenStore::Save(const OAuthTokens& tokens) const {
  const nlohmann::json json = {{"refresh_token", tokens.refreshToken},
                               {"access_token", tokens.accessToken},
                               {"expires_at", tokens.expiresAt},
                               {"last_error", tokens.lastError},
                               {"account", tokens.account}};
  // Invalid UTF-8 (from an endpoint's description) is replaced, not thrown at.
  const std::string bytes = json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  if (WriteFileAtomically(path_, bytes, 0600)) return {};
  return Status::Failed(path_, std::strerror(errno));
}

Status COAuthTokenStore::Forget() const {
  if (::unlink(path_.c_str()) == 0 || errno == ENOENT) {
    (void)SyncFolderOf(path_);
    return {};
  }
  return Status::Failed(path_, std::strerror(errno));
}

}  // namespace kestrel
