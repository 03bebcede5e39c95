// CHttpClient: one HTTP POST of a form to an OAuth endpoint through libcurl,
// with the trust of the SMTP channel: the system's certificates plus the
// SMTPCAFile's, the peer's certificate and name verified, TLS 1.2 or later.
// The URL is checked (https, or http to a loopback address) before anything
// connects; redirects are not followed.
// The endpoint's reply is untrusted: its body is cut off at kMaxReplyBytes
// (a longer reply fails), and the exchange ends after kTimeoutSeconds or
// within about 100 ms of the stop flag turning true.
// Failures are Result values (step "HTTP", text from libcurl, code 0); an
// HTTP status of any kind is a reply, for the caller to judge.
// Not thread-safe: one client per thread; several may run at once.
#pragma once

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "core/result.h"

namespace kestrel {

struct HttpReply {
  long status = 0;  // the HTTP status code
  std::string body;
};

using FormFields = std::vector<std::pair<std::string, std::string>>;

class CHttpClient {
 public:
  static constexpr std::size_t kMaxReplyBytes = 64 * 1024;
  static constexpr long kTimeoutSeconds = 30;

  // `caFile`: a PEM file of further trusted certificates; empty: the system's only.
  explicit CHttpClient(std::string caFile = "", const std::atomic<bool>* stop = nullptr);

  // POSTs `fields` as application/x-www-form-urlencoded to `url`.
  [[nodiscard]] Result<HttpReply> PostForm(const std::string& url, const FormFields& fields) const;

  // `fields` percent-encoded as a form or a URL's query ("a=1&b=x%20y").
  static std::string Encode(const FormFields& fields);

 private:
  std::string caFile_;
  const std::atomic<bool>* stop_;
};

}  // namespace kestrel
