#include "tests/media/udp_ports.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel::test {

std::vector<int> FreeUdpPorts(std::size_t count) {
  std::vector<int> sockets;
  std::vector<int> ports;
  for (std::size_t i = 0; i < count; ++i) {
    const int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0) break;
    sockets.push_back(sock);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      break;
    ports.push_back(ntohs(address.sin_port));
  }
  for (const int sock : sockets) ::close(sock);
  if (ports.size() != count) ports.clear();
  return ports;
}

}  // namespace kestrel::test
