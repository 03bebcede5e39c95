#include "sip/source_filter.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstring>

#include "core/sip_setting_text.h"

namespace kestrel {
namespace {

// The bytes of an address; an IPv4-mapped IPv6 source counts as its IPv4 address.
bool AddressBytes(const sockaddr* a, int& family, std::array<std::uint8_t, 16>& bytes) {
  if (a->sa_family == AF_INET) {
    family = AF_INET;
    std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, 4);
    return true;
  }
  if (a->sa_family != AF_INET6) return false;
  const auto& v6 = reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr;
  if (IN6_IS_ADDR_V4MAPPED(&v6)) {
    family = AF_INET;
    std::memcpy(bytes.data(), v6.s6_addr + 12, 4);
  } else {
    family = AF_INET6;
    std::memcpy(bytes.data(), v6.s6_addr, 16);
  }
  return true;
}

}  // namespace

Status CSourceFilter::AddHost(const std::string& host, bool isRegistrar) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found); rc != 0)
    return Status::Failed(host, ::gai_strerror(rc));
  for (addrinfo* a = found; a; a = a->ai_next) {
    Prefix p;
    if (!AddressBytes(a->ai_addr, p.family, p.bytes)) continue;
    p.length = p.family == AF_INET ? 32 : 128;
    prefixes_.push_back(p);
    if (isRegistrar) {
      char text[INET6_ADDRSTRLEN] = {};
      ::inet_ntop(p.family, p.bytes.data(), text, sizeof text);
      registrar_.emplace_back(text);
    }
  }
  ::freeaddrinfo(found);
  return {};
}

Result<CSourceFilter> CSourceFilter::Build(const std::string& registrarHost, std::string_view peers) {
  CSourceFilter filter;
  if (!registrarHost.empty())
    if (Status s = filter.AddHost(registrarHost, true); !s) return s;
  auto list = ParseSipPeers(peers);
  if (!list) return list.Error();
  for (const SipPeer& peer : *list) {
    if (peer.prefixLength < 0) {
      if (Status s = filter.AddHost(peer.text, false); !s) return s;
      continue;
    }
    Prefix p;
    p.family = peer.text.find(':') == std::string::npos ? AF_INET : AF_INET6;
    if (::inet_pton(p.family, peer.text.c_str(), p.bytes.data()) != 1) return Failure{"SipPeers", peer.text};
    p.length = peer.prefixLength;
    filter.prefixes_.push_back(p);
  }
  return filter;
}

bool CSourceFilter::Allows(const sockaddr* source) const {
  int family = 0;
  std::array<std::uint8_t, 16> bytes{};
  if (!source || !AddressBytes(source, family, bytes)) return false;
  for (const Prefix& p : prefixes_) {
    if (p.family != family) continue;
    const int whole = p.length / 8, rest = p.length % 8;
    if (std::memcmp(p.bytes.data(), bytes.data(), whole) != 0) continue;
    const auto mask = static_cast<std::uint8_t>(0xff << (8 - rest));
    if (rest == 0 || ((p.bytes[whole] ^ bytes[whole]) & mask) == 0) return true;
  }
  return false;
}

}  // namespace kestrel
