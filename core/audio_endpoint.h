// Where a call's audio goes and how it is coded: shared by the SIP line,
// which learns them from the caller's SDP, and the fax receiver, which sends
// and receives the RTP. Plain values; nothing here fails.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

struct AudioEndpoint {
  std::string address;  // numeric IPv4/IPv6 address
  std::uint16_t port = 0;
};

enum class AudioCodec { kPcmu = 0, kPcma = 8 };  // RTP payload types

}  // namespace kestrel
