// UDP ports free on loopback for the media tests and benchmarks.
#pragma once

#include <cstddef>
#include <vector>

namespace kestrel::test {

// `count` ports free on loopback now, all different (every probe socket
// stays bound until the last port is known); empty when they cannot be had.
// The kernel does not hand them out again at once.
std::vector<int> FreeUdpPorts(std::size_t count);

}  // namespace kestrel::test
