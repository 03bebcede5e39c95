// The JSON replies of OAuth endpoints: the token endpoint's (RFC 6749 5.1 and
// 5.2) and the device authorization endpoint's (RFC 8628 3.2).
// Replies are untrusted: the body is at most CHttpClient::kMaxReplyBytes,
// nested at most kMaxJsonDepth deep, parsed by nlohmann-json without
// exceptions; each field's type is checked, tokens and codes are printable
// ASCII of bounded length, numbers within range; texts shown to a person
// (a description, a verification URI) lose their control characters.
// An id_token (OpenID Connect) is read only for the account's name, which is
// shown, never trusted: its signature is not checked (it came straight from
// the token endpoint) and a token that does not decode just names no one.
// Failures are Result values: step "token endpoint" or "device endpoint",
// text "<the endpoint's error word>" or "<word>: <its description>" for an
// error reply (see OAuthErrorWord), code = the HTTP status.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.h"

namespace kestrel {

inline constexpr int kMaxJsonDepth = 8;
inline constexpr std::size_t kMaxTokenLength = 16 * 1024;

// What a token endpoint granted.
struct TokenGrant {
  std::string accessToken;
  std::string refreshToken;    // empty: none issued (keep the one held)
  std::int64_t expiresIn = 0;  // seconds; 0: not said
  std::string account;         // the id_token's preferred_username or email; empty: none given
};

// What a device authorization endpoint answered.
struct DeviceAuthorization {
  std::string deviceCode;
  std::string userCode;
  std::string verificationUri;
  std::int64_t expiresIn = 0;  // seconds the codes stay valid
  std::int64_t interval = 5;   // seconds between polls
};

[[nodiscard]] Result<TokenGrant> ParseTokenReply(long httpStatus, std::string_view body);
[[nodiscard]] Result<DeviceAuthorization> ParseDeviceReply(long httpStatus, std::string_view body);

// The error word of a failure of the two parsers ("invalid_grant",
// "authorization_pending"); empty for other failures.
std::string_view OAuthErrorWord(const Failure& failure);

}  // namespace kestrel
