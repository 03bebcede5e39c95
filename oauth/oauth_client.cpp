#include "oauth/oauth_client.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <chrono>
#include <thread>

namespace kestrel {
namespace {

// RFC 8628 3.5: slow_down asks for five seconds more between polls.
constexpr std::int64_t kSlowDownSeconds = 5;

std::string Base64Url(const unsigned char* data, std::size_t length) {
  std::string out(4 * ((length + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, static_cast<int>(length));
  out.resize(static_cast<std::size_t>(n));
  while (!out.empty() && out.back() == '=') out.pop_back();
  for (char& c : out) c = c == '+' ? '-' : c == '/' ? '_' : c;
  return out;
}

std::string RandomUrlText(std::size_t bytes) {
  unsigned char random[64];
  if (bytes > sizeof random || RAND_bytes(random, static_cast<int>(bytes)) != 1)
    std::abort();  // no randomness: nothing is safe
  return Base64Url(random, bytes);
}

}  // namespace

std::string NewPkceVerifier() { return RandomUrlText(32); }

std::string PkceChallenge(const std::string& verifier) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
  return Base64Url(digest, sizeof digest);
}

std::string NewState() { return RandomUrlText(16); }

COAuthClient::COAuthClient(OAuthConfig config, const std::atomic<bool>* stop)
    : config_(std::move(config)), stop_(stop) {}

Result<TokenGrant> COAuthClient::Token(FormFields fields) const {
  fields.emplace_back("client_id", config_.clientId);
  if (!config_.clientSecret.empty()) fields.emplace_back("client_secret", config_.clientSecret);
  Result<HttpReply> reply = CHttpClient(config_.caFile, stop_).PostForm(config_.tokenUrl, fields);
  if (!reply) return reply.Error();
  return ParseTokenReply(reply->status, reply->body);
}

Result<TokenGrant> COAuthClient::Refresh(const std::string& refreshToken) const {
  return Token({{"grant_type", "refresh_token"}, {"refresh_token", refreshToken}, {"scope", config_.scope}});
}

Result<TokenGrant> COAuthClient::ClientCredentials() const {
  return Token({{"grant_type", "client_credentials"}, {"scope", config_.scope}});
}

std::string COAuthClient::DevicePrompt(const DeviceAuthorization& device) {
  return std::string(kOpenUrlPrompt) + device.verificationUri + " and enter the code " + device.userCode;
}

bool COAuthClient::Sleep(std::int64_t seconds) const {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (stop_ && stop_->load()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

Result<TokenGrant> COAuthClient::DeviceSignIn(const ShowLine& show, const Wait& wait) const {
  FormFields ask = {{"client_id", config_.clientId}, {"scope", config_.scope}};
  Result<HttpReply> reply = CHttpClient(config_.caFile, stop_).PostForm(config_.deviceUrl, ask);
  if (!reply) return reply.Error();
  Result<DeviceAuthorization> device = ParseDeviceReply(reply->status, reply->body);
  if (!device) return device.Error();
  show(DevicePrompt(*device));
  std::int64_t interval = std::max<std::int64_t>(device->interval, 1);
  std::int64_t waited = 0;
  for (;;) {
    if (waited + interval > device->expiresIn)
      return Failure{"token endpoint", "expired_token: the code was not entered in time"};
    if (!(wait ? wait(interval) : Sleep(interval))) return Failure{"OAuth", "the sign-in was stopped"};
    waited += interval;
    Result<TokenGrant> grant =
        Token({{"grant_type", "urn:ietf:params:oauth:grant-type:device_code"}, {"device_code", device->deviceCode}});
    if (grant) return grant;
    const std::string_view word = OAuthErrorWord(grant.Error());
    if (word == "slow_down")
      interval += kSlowDownSeconds;
    else if (word != "authorization_pending")
      return grant;
  }
}

}  // namespace kestrel
