// fuzz_token_reply: any bytes as the reply of a token endpoint and of a
// device authorization endpoint, with the first byte choosing the HTTP
// status. What the parsers hand out must keep their promises: tokens and
// codes printable ASCII within their bounds, error words without blanks,
// seconds within range.
#include <cstdint>
#include <string>
#include <string_view>

#include "oauth/token_reply.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using kestrel::fuzz::Check;

bool Printable(const std::string& text, std::size_t limit) {
  if (text.size() > limit) return false;
  for (unsigned char c : text)
    if (c < 0x21 || c > 0x7E) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const long status = data[0] < 0x80 ? 200 : 400 + (data[0] & 0x3F);
  const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);

  kestrel::Result<kestrel::TokenGrant> grant = kestrel::ParseTokenReply(status, body);
  if (grant) {
    Check(!grant->accessToken.empty() && Printable(grant->accessToken, kestrel::kMaxTokenLength),
          "access token printable and bounded");
    Check(Printable(grant->refreshToken, kestrel::kMaxTokenLength), "refresh token printable and bounded");
    Check(grant->expiresIn >= 0, "expires_in not negative");
  } else {
    Check(Printable(std::string(kestrel::OAuthErrorWord(grant.Error())), 64), "error word printable");
    for (unsigned char c : grant.Error().text) Check(c >= 0x20 && c != 0x7F, "failure text without controls");
  }

  kestrel::Result<kestrel::DeviceAuthorization> device = kestrel::ParseDeviceReply(status, body);
  if (device) {
    Check(Printable(device->userCode, 64) && !device->userCode.empty(), "user code printable");
    Check(Printable(device->verificationUri, 2048), "verification URI printable");
    Check(device->interval >= 0 && device->interval <= 3600 && device->expiresIn > 0, "seconds in range");
  }
  return 0;
}
