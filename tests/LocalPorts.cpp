#include "tests/LocalPorts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdint.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

LoopbackSocket::LoopbackSocket(int port, bool listening)
    : m_fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), m_port(0) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      (listening && listen(m_fd, 4) != 0) ||
      getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    Close();
    return;
  }
  m_port = ntohs(address.sin_port);
}

Ipv6LoopbackListener::Ipv6LoopbackListener()
    : m_fd(socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0)), m_port(0) {
  int on = 1;
  sockaddr_in6 address = {};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  socklen_t length = sizeof address;
  if (m_fd >= 0 && setsockopt(m_fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) == 0 &&
      bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(m_fd, 4) == 0 &&
      getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    m_port = ntohs(address.sin6_port);
}

Ipv6LoopbackListener::~Ipv6LoopbackListener() {
  if (m_fd >= 0)
    close(m_fd);
}

void LoopbackSocket::Close() {
  if (m_fd >= 0)
    close(m_fd);
  m_fd = -1;
}

std::vector<int> FreePorts(int count) {
  std::vector<std::unique_ptr<LoopbackSocket>> held;
  std::vector<int> ports;
  for (int i = 0; i < count; ++i) {
    held.emplace_back(new LoopbackSocket(false));
    ports.push_back(held.back()->port());
  }
  return ports;
}
