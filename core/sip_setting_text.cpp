#include "core/sip_setting_text.h"

#include <arpa/inet.h>

#include "core/number_text.h"

namespace kestrel {
namespace {

constexpr std::size_t kLongestHostName = 253;

bool IsAddress(const std::string& text, int family) {
  unsigned char buffer[sizeof(in6_addr)];
  return ::inet_pton(family, text.c_str(), buffer) == 1;
}

// Letters, digits, hyphens and dots, labels neither empty nor longer than 63.
bool IsHostName(std::string_view text) {
  if (text.empty() || text.size() > kLongestHostName) return false;
  std::size_t label = 0;
  for (char c : text) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
      continue;
    }
    const bool fits = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    if (!fits || ++label > 63) return false;
  }
  return label != 0;
}

std::string_view Trim(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  return t;
}

std::optional<std::uint16_t> ScanPort(std::string_view text, std::uint32_t lowest) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  auto n = ScanUnsigned(text);
  if (!n || *n < lowest || *n > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(*n);
}

Failure Refused(std::string_view step, std::string text) { return Failure{std::string(step), std::move(text)}; }

}  // namespace

Result<HostPort> ParseHostPort(std::string_view text) {
  HostPort hp;
  std::string_view host = text;
  std::string_view port;
  if (!text.empty() && text.front() == '[') {
    const auto close = text.find(']');
    if (close == std::string_view::npos) return Refused("registrar", "an IPv6 address lacks its ]");
    host = text.substr(1, close - 1);
    std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return Refused("registrar", "text after the address");
      port = rest.substr(1);
      if (port.empty()) return Refused("registrar", "no port after the colon");
    }
    hp.host = std::string(host);
    if (!IsAddress(hp.host, AF_INET6)) return Refused("registrar", "not an IPv6 address");
  } else {
    if (const auto colon = text.find(':'); colon != std::string_view::npos) {
      host = text.substr(0, colon);
      port = text.substr(colon + 1);
      if (port.empty()) return Refused("registrar", "no port after the colon");
    }
    hp.host = std::string(host);
    if (!IsAddress(hp.host, AF_INET) && !IsHostName(host)) return Refused("registrar", "not a host name or address");
  }
  if (!port.empty()) {
    auto n = ScanPort(port, 1);
    if (!n) return Refused("registrar", "not a port from 1 to 65535");
    hp.port = *n;
  }
  return hp;
}

Result<PortRange> ParsePortRange(std::string_view text) {
  const auto dash = text.find('-');
  if (dash == std::string_view::npos) return Refused("ports", "not two ports joined by -");
  auto first = ScanPort(Trim(text.substr(0, dash)), 1024);
  auto last = ScanPort(Trim(text.substr(dash + 1)), 1024);
  if (!first || !last || *first > *last) return Refused("ports", "not two ports from 1024 to 65535, the first lower");
  return PortRange{*first, *last};
}

Result<std::vector<SipPeer>> ParseSipPeers(std::string_view text) {
  std::vector<SipPeer> peers;
  while (!Trim(text).empty()) {
    const auto comma = text.find(',');
    const std::string_view item = Trim(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    std::string_view address = item;
    std::string_view prefix;
    if (const auto slash = item.find('/'); slash != std::string_view::npos) {
      address = item.substr(0, slash);
      prefix = item.substr(slash + 1);
    }
    SipPeer peer{std::string(address)};
    const bool v4 = IsAddress(peer.text, AF_INET);
    const bool v6 = !v4 && IsAddress(peer.text, AF_INET6);
    const int bits = v4 ? 32 : 128;
    if (!prefix.empty() || item.find('/') != std::string_view::npos) {
      auto n = ScanPort(prefix, 0);
      if ((!v4 && !v6) || !n || *n > bits) return Refused("peers", "\"" + std::string(item) + "\" is not a CIDR");
      peer.prefixLength = *n;
    } else if (v4 || v6) {
      peer.prefixLength = bits;
    } else if (!IsHostName(address)) {
      return Refused("peers", "\"" + std::string(item) + "\" is not an address, CIDR or host name");
    }
    peers.push_back(std::move(peer));
  }
  return peers;
}

Status CheckSipRegistrar(std::string_view setting, std::string_view text) {
  if (text.empty()) return {};
  if (auto hp = ParseHostPort(text); !hp) return Status::Failed(std::string(setting), hp.Error().text);
  return {};
}

Status CheckRtpPorts(std::string_view setting, std::string_view text) {
  if (auto range = ParsePortRange(text); !range) return Status::Failed(std::string(setting), range.Error().text);
  return {};
}

Status CheckSipPeers(std::string_view setting, std::string_view text) {
  if (auto peers = ParseSipPeers(text); !peers) return Status::Failed(std::string(setting), peers.Error().text);
  return {};
}

}  // namespace kestrel
