// Whose INVITEs are taken: the registrar's addresses and the SipPeers'
// addresses, CIDRs (IPv4, IPv6, IPv4-mapped sources) and host names.
#include "sip/source_filter.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

namespace kestrel {
namespace {

bool Allows(const CSourceFilter& filter, const char* address) {
  sockaddr_in6 v6{};
  sockaddr_in v4{};
  if (::inet_pton(AF_INET, address, &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    return filter.Allows(reinterpret_cast<const sockaddr*>(&v4));
  }
  EXPECT_EQ(::inet_pton(AF_INET6, address, &v6.sin6_addr), 1) << address;
  v6.sin6_family = AF_INET6;
  return filter.Allows(reinterpret_cast<const sockaddr*>(&v6));
}

TEST(SourceFilter, TakesTheRegistrarAndThePeersOnly) {
  auto filter = CSourceFilter::Build("127.0.0.2", "192.0.2.0/25, 2001:db8::/32,198.51.100.7, localhost");
  ASSERT_TRUE(filter) << filter.Describe();
  EXPECT_EQ(filter->RegistrarAddresses(), std::vector<std::string>{"127.0.0.2"});
  const struct {
    const char* source;
    bool taken;
  } cases[] = {
      {"127.0.0.2", true},        {"192.0.2.0", true},        {"192.0.2.127", true},  {"192.0.2.128", false},
      {"::ffff:192.0.2.5", true}, {"2001:db8:ffff::1", true}, {"2001:db9::1", false}, {"198.51.100.7", true},
      {"198.51.100.8", false},    {"127.0.0.1", true},  // localhost
      {"10.0.0.1", false},
  };
  for (const auto& c : cases) EXPECT_EQ(Allows(*filter, c.source), c.taken) << c.source;
}

TEST(SourceFilter, AHostThatDoesNotResolveIsAFailure) {
  EXPECT_FALSE(CSourceFilter::Build("", "no-such-host.invalid"));
}

}  // namespace
}  // namespace kestrel
