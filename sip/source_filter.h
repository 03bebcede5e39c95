// Which addresses may send us calls: the registrar's resolved addresses and
// the SipPeers (addresses, CIDRs, host names resolved when the filter is
// built). Everything else is answered 403 before anything else is done.
// Host names are resolved once, in Build (it blocks on DNS); Allows only
// compares bytes. Build fails (a Result) when a name does not resolve.
// Const methods are safe from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

struct sockaddr;

namespace kestrel {

class CSourceFilter {
 public:
  // `registrarHost` may be empty (no registrar); `peers` is SipPeers' text.
  [[nodiscard]] static Result<CSourceFilter> Build(const std::string& registrarHost, std::string_view peers);

  bool Allows(const sockaddr* source) const;
  // The registrar's addresses, numeric, in the resolver's order.
  const std::vector<std::string>& RegistrarAddresses() const { return registrar_; }

 private:
  struct Prefix {
    int family = 0;
    std::array<std::uint8_t, 16> bytes{};
    int length = 0;
  };
  [[nodiscard]] Status AddHost(const std::string& host, bool isRegistrar);

  std::vector<Prefix> prefixes_;
  std::vector<std::string> registrar_;
};

}  // namespace kestrel
