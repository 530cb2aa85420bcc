#include "driver/settings/PortProbe.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>

#include "common/ScopedFd.h"
#include "installer/ServerInstaller.h"

namespace {

// A server listening on one IPv6 address only; port() is 0 when the machine
// has no IPv6.
class Ipv6Listener {
 public:
  explicit Ipv6Listener(const struct in6_addr& address)
      : m_fd(socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0)), m_port(0) {
    int on = 1;
    setsockopt(m_fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    struct sockaddr_in6 where;
    memset(&where, 0, sizeof where);
    where.sin6_family = AF_INET6;
    where.sin6_addr = address;
    socklen_t size = sizeof where;
    if (m_fd.Get() >= 0 &&
        bind(m_fd.Get(), reinterpret_cast<struct sockaddr*>(&where), sizeof where) == 0 &&
        listen(m_fd.Get(), 1) == 0 &&
        getsockname(m_fd.Get(), reinterpret_cast<struct sockaddr*>(&where), &size) == 0)
      m_port = ntohs(where.sin6_port);
  }
  int port() const { return m_port; }

 private:
  ScopedFd m_fd;
  int m_port;
};

}  // namespace

TEST(PortProbe, AListenerOnIpv6AloneHoldsThePort) {
  for (const struct in6_addr& address : {in6addr_loopback, in6addr_any}) {
    int port = 0;
    {
      Ipv6Listener listener(address);
      if (listener.port() == 0)
        GTEST_SKIP() << "no IPv6 on this machine";
      port = listener.port();
      ServerInstaller installer;
      // The framework looks at 127.0.0.1 only.
      EXPECT_EQ(0, installer.PortInUse(port));
      EXPECT_TRUE(PortTakenOnIpv6(port));
      EXPECT_TRUE(PortTakenOnThisMachine(installer, port));
    }
    EXPECT_FALSE(PortTakenOnIpv6(port));
  }
}
