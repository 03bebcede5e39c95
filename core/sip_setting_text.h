// The SIP line's settings that are more than a word or a number: the
// registrar ("host" or "host:port"), the RTP port range ("20000-20199") and
// the peers whose calls are taken (addresses, CIDRs and host names, comma
// separated). The settings table checks them here and the SIP line reads
// them here, so both agree on what a value means.
// Texts come from settings (untrusted, any length); each is scanned once and
// nothing is resolved. Failures are Status / Result values (step = the setting).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace kestrel {

struct HostPort {
  std::string host;        // a name, an IPv4 address or an IPv6 address without brackets
  std::uint16_t port = 0;  // 0: none given
};

struct PortRange {
  std::uint16_t first = 0;
  std::uint16_t last = 0;  // inclusive
};

// A peer of SipPeers: an address with a prefix length (a lone address is a
// full-length prefix) or a host name to resolve.
struct SipPeer {
  std::string text;       // the address or the name
  int prefixLength = -1;  // -1: a host name
};

// "sip.example.org", "sip.example.org:5080", "192.0.2.1", "[2001:db8::1]:5060".
[[nodiscard]] Result<HostPort> ParseHostPort(std::string_view text);
// "first-last" with 1024 <= first <= last <= 65535.
[[nodiscard]] Result<PortRange> ParsePortRange(std::string_view text);
// Comma separated, blanks around items allowed; empty gives none.
[[nodiscard]] Result<std::vector<SipPeer>> ParseSipPeers(std::string_view text);

// The table's checks: an empty registrar, a registrar as above; a range; a peer list.
[[nodiscard]] Status CheckSipRegistrar(std::string_view setting, std::string_view text);
[[nodiscard]] Status CheckRtpPorts(std::string_view setting, std::string_view text);
[[nodiscard]] Status CheckSipPeers(std::string_view setting, std::string_view text);

}  // namespace kestrel
