#include "core/endpoint_url.h"

#include <arpa/inet.h>

#include <cctype>

#include <string>

namespace kestrel {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

}  // namespace

bool IsLoopbackHost(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.size() > 64) return false;
  const std::string text(host);
  if (text == "localhost" || text == "::1") return true;
  in_addr v4{};
  return ::inet_pton(AF_INET, text.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

std::string_view UrlHost(std::string_view url) {
  std::size_t start = 0;
  if (StartsWithNoCase(url, "https://"))
    start = 8;
  else if (StartsWithNoCase(url, "http://"))
    start = 7;
  else
    return {};
  std::string_view rest = url.substr(start);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (rest.find('@') != std::string_view::npos) return {};  // no credentials in a URL
  if (!rest.empty() && rest.front() == '[') return rest.substr(0, rest.find(']') + 1);
  return rest.substr(0, rest.find(':'));
}

Status CheckEndpointUrl(std::string_view setting, std::string_view url) {
  if (url.empty()) return {};
  const std::string_view host = UrlHost(url);
  const bool blank = url.find_first_of(" \t\r\n") != std::string_view::npos;
  if (!host.empty() && !blank && (StartsWithNoCase(url, "https://") || IsLoopbackHost(host))) return {};
  return Status::Failed(std::string(setting),
                        std::string(setting) + " must be an https URL (plain http only to a loopback address)");
}

}  // namespace kestrel
