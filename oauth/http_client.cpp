#include "oauth/http_client.h"

#include <curl/curl.h>
#include <openssl/x509.h>

#include <memory>
#include <mutex>

#include "core/endpoint_url.h"

namespace kestrel {
namespace {

void InitialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
  std::string body;
  bool tooLong = false;
  const std::atomic<bool>* stop = nullptr;
};

size_t TakeBytes(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  if (t->body.size() + n > CHttpClient::kMaxReplyBytes) {
    t->tooLong = true;
    return 0;  // libcurl ends the transfer with a write error
  }
  t->body.append(data, n);
  return n;
}

int CheckStop(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* t = static_cast<Transfer*>(user);
  return t->stop && t->stop->load() ? 1 : 0;
}

std::string Escape(CURL* curl, const std::string& text) {
  char* escaped = curl_easy_escape(curl, text.data(), static_cast<int>(text.size()));
  std::string out = escaped ? escaped : "";
  curl_free(escaped);
  return out;
}

}  // namespace

CHttpClient::CHttpClient(std::string caFile, const std::atomic<bool>* stop) : caFile_(std::move(caFile)), stop_(stop) {}

std::string CHttpClient::Encode(const FormFields& fields) {
  InitialiseCurlOnce();
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  std::string out;
  for (const auto& [name, value] : fields) {
    if (!out.empty()) out += '&';
    out += Escape(curl.get(), name) + "=" + Escape(curl.get(), value);
  }
  return out;
}

Result<HttpReply> CHttpClient::PostForm(const std::string& url, const FormFields& fields) const {
  if (Status fits = CheckEndpointUrl("URL", url); !fits) return Failure{"HTTP", fits.Error().text};
  InitialiseCurlOnce();
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) return Failure{"HTTP", "libcurl could not start a transfer"};
  CURL* c = curl.get();
  const std::string form = Encode(fields);
  Transfer transfer;
  transfer.stop = stop_;
  char error[CURL_ERROR_SIZE] = {};
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(
      curl_slist_append(nullptr, "Accept: application/json"), curl_slist_free_all);
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_NOPROXY, "*");  // a token goes to the endpoint and nowhere else
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, form.c_str());
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(form.size()));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, TakeBytes);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, CheckStop);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, kTimeoutSeconds);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 15L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, "Kestrel");
  // The SMTP channel's trust: OpenSSL's own certificate folder (the system
  // store) and, when set, SMTPCAFile.
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(c, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  curl_easy_setopt(c, CURLOPT_CAPATH, X509_get_default_cert_dir());
  if (!caFile_.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, caFile_.c_str());
  const CURLcode done = curl_easy_perform(c);
  if (transfer.tooLong)
    return Failure{"HTTP", "the reply of " + std::string(UrlHost(url)) + " is longer than " +
                               std::to_string(kMaxReplyBytes) + " bytes"};
  if (done != CURLE_OK) {
    const std::string why = error[0] ? error : curl_easy_strerror(done);
    return Failure{"HTTP", "no reply from " + std::string(UrlHost(url)) + ": " + why};
  }
  HttpReply reply;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &reply.status);
  reply.body = std::move(transfer.body);
  return reply;
}

}  // namespace kestrel
