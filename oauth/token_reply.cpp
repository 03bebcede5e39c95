#include "oauth/token_reply.h"

#include <openssl/evp.h>

#include <nlohmann/json.hpp>

#include <optional>

namespace kestrel {
namespace {

using Json = nlohmann::json;

constexpr std::string_view kTokenStep = "token endpoint";
constexpr std::string_view kDeviceStep = "device endpoint";
constexpr std::size_t kMaxShownText = 300;
constexpr std::int64_t kMaxSeconds = 366LL * 24 * 3600;

std::optional<Json> ParseObject(std::string_view body) {
  // nlohmann-json sets no depth limit of its own: its parser tells the depth
  // of each object or array it opens (the outermost at 0), and a reply that
  // nests more than kMaxJsonDepth of them is refused.
  bool tooDeep = false;
  const Json::parser_callback_t bounded = [&tooDeep](int depth, Json::parse_event_t event, Json&) {
    const bool opens = event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
    if (opens && depth >= kMaxJsonDepth) tooDeep = true;
    return !tooDeep;
  };
  Json json = Json::parse(body.begin(), body.end(), bounded, false);
  if (tooDeep || json.is_discarded() || !json.is_object()) return std::nullopt;
  return json;
}

bool IsCredential(const std::string& text, std::size_t limit) {
  if (text.empty() || text.size() > limit) return false;
  for (unsigned char c : text)
    if (c < 0x21 || c > 0x7E) return false;
  return true;
}

// A text for a person: control characters become blanks, cut at a length.
std::string Shown(const std::string& text) {
  std::string out = text.substr(0, kMaxShownText);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return out;
}

// `name` as a string of the object, if it is one.
std::optional<std::string> Text(const Json& json, const char* name) {
  const auto it = json.find(name);
  if (it == json.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

// `name` as seconds: a whole number, or (as some servers send) digits in a string.
std::optional<std::int64_t> Seconds(const Json& json, const char* name) {
  const auto it = json.find(name);
  if (it == json.end()) return std::nullopt;
  std::int64_t n = -1;
  if (it->is_number_integer()) {
    n = it->get<std::int64_t>();
  } else if (it->is_string()) {
    const std::string s = it->get<std::string>();
    if (s.empty() || s.size() > 10 || s.find_first_not_of("0123456789") != std::string::npos) return -1;
    n = std::stoll(s);
  }
  return n >= 0 && n <= kMaxSeconds ? n : -1;
}

// The bytes of base64url text without padding (RFC 4648 5); nullopt when it
// is not that.
std::optional<std::string> Base64UrlBytes(std::string_view text) {
  if (text.size() % 4 == 1) return std::nullopt;
  std::string padded(text);
  for (char& c : padded) c = c == '-' ? '+' : c == '_' ? '/' : c;
  const std::size_t pad = (4 - padded.size() % 4) % 4;
  padded.append(pad, '=');
  std::string out(padded.size() / 4 * 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(padded.data()), static_cast<int>(padded.size()));
  if (n < 0) return std::nullopt;
  out.resize(static_cast<std::size_t>(n) - pad);
  return out;
}

// Who an id_token names: its preferred_username, else its email; empty when
// it names no one or is no JWT (header.payload.signature).
std::string IdTokenAccount(const std::string& idToken) {
  const std::size_t first = idToken.find('.');
  const std::size_t second = idToken.find('.', first == std::string::npos ? first : first + 1);
  if (second == std::string::npos || idToken.size() > kMaxTokenLength) return {};
  const std::optional<std::string> payload =
      Base64UrlBytes(std::string_view(idToken).substr(first + 1, second - first - 1));
  if (!payload) return {};
  const std::optional<Json> claims = ParseObject(*payload);
  if (!claims) return {};
  for (const char* claim : {"preferred_username", "email"})
    if (auto name = Text(*claims, claim); name && !name->empty()) return Shown(*name);
  return {};
}

Failure Malformed(std::string_view step, long status, std::string_view what) {
  return Failure{std::string(step), "the reply is not usable: " + std::string(what), static_cast<int>(status)};
}

// An error reply ({"error": "...", "error_description": "..."}), or a
// failure for anything else that is not a 200.
std::optional<Failure> ErrorReply(std::string_view step, long status, const std::optional<Json>& json) {
  if (json) {
    if (auto word = Text(*json, "error")) {
      if (!IsCredential(*word, 64)) return Malformed(step, status, "an error that is not a word");
      std::string text = *word;
      if (auto description = Text(*json, "error_description"); description && !description->empty())
        text += ": " + Shown(*description);
      return Failure{std::string(step), std::move(text), static_cast<int>(status)};
    }
  }
  if (status != 200)
    return Failure{std::string(step), "HTTP status " + std::to_string(status), static_cast<int>(status)};
  if (!json) return Malformed(step, status, "not a JSON object");
  return std::nullopt;
}

}  // namespace

Result<TokenGrant> ParseTokenReply(long httpStatus, std::string_view body) {
  const std::optional<Json> json = ParseObject(body);
  if (auto error = ErrorReply(kTokenStep, httpStatus, json)) return *error;
  TokenGrant grant;
  const auto access = Text(*json, "access_token");
  if (!access || !IsCredential(*access, kMaxTokenLength)) return Malformed(kTokenStep, httpStatus, "no access_token");
  grant.accessToken = *access;
  if (auto type = Text(*json, "token_type")) {
    std::string lower = *type;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower != "bearer") return Malformed(kTokenStep, httpStatus, "a token_type other than Bearer");
  }
  if (json->contains("refresh_token")) {
    const auto refresh = Text(*json, "refresh_token");
    if (!refresh || !IsCredential(*refresh, kMaxTokenLength))
      return Malformed(kTokenStep, httpStatus, "a refresh_token that is not a token");
    grant.refreshToken = *refresh;
  }
  if (auto expires = Seconds(*json, "expires_in")) {
    if (*expires < 0) return Malformed(kTokenStep, httpStatus, "an expires_in that is not a number of seconds");
    grant.expiresIn = *expires;
  }
  if (auto idToken = Text(*json, "id_token")) grant.account = IdTokenAccount(*idToken);
  return grant;
}

Result<DeviceAuthorization> ParseDeviceReply(long httpStatus, std::string_view body) {
  const std::optional<Json> json = ParseObject(body);
  if (auto error = ErrorReply(kDeviceStep, httpStatus, json)) return *error;
  DeviceAuthorization d;
  const auto device = Text(*json, "device_code");
  const auto user = Text(*json, "user_code");
  // Google's endpoint names it verification_url.
  auto uri = Text(*json, "verification_uri");
  if (!uri) uri = Text(*json, "verification_url");
  if (!device || !IsCredential(*device, kMaxTokenLength)) return Malformed(kDeviceStep, httpStatus, "no device_code");
  if (!user || !IsCredential(*user, 64)) return Malformed(kDeviceStep, httpStatus, "no user_code");
  if (!uri || !IsCredential(*uri, 2048)) return Malformed(kDeviceStep, httpStatus, "no verification_uri");
  d.deviceCode = *device;
  d.userCode = *user;
  d.verificationUri = *uri;
  const auto expires = Seconds(*json, "expires_in");
  if (!expires || *expires <= 0) return Malformed(kDeviceStep, httpStatus, "no expires_in");
  d.expiresIn = *expires;
  if (auto interval = Seconds(*json, "interval")) {
    if (*interval < 0 || *interval > 3600) return Malformed(kDeviceStep, httpStatus, "an interval out of range");
    d.interval = *interval;
  }
  return d;
}

std::string_view OAuthErrorWord(const Failure& failure) {
  if (failure.step != kTokenStep && failure.step != kDeviceStep) return {};
  std::string_view text = failure.text;
  text = text.substr(0, text.find(':'));
  if (text.empty() || text.find(' ') != std::string_view::npos) return {};
  return text;
}

}  // namespace kestrel
