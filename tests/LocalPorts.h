#ifndef STRATA_TESTS_LOCALPORTS_H_
#define STRATA_TESTS_LOCALPORTS_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

// Ports of the loopback address for tests of the port checks: ports that are
// free, and a port that something listens on.

// A socket bound to a port of 127.0.0.1 that the kernel chose; listening if
// asked to. Closed with the object.
class LoopbackSocket {
 public:
  explicit LoopbackSocket(bool listening) {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (listening && listen(m_fd, 1) != 0) ||
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      m_port = 0;
      return;
    }
    m_port = ntohs(address.sin_port);
  }
  ~LoopbackSocket() {
    if (m_fd >= 0)
      close(m_fd);
  }
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;

  // 0 when no port could be had.
  int port() const { return m_port; }

 private:
  int m_fd;
  int m_port;
};

// count distinct ports that were free a moment ago: each was held until all
// had been chosen, then released.
inline std::vector<int> FreePorts(int count) {
  std::vector<LoopbackSocket*> held;
  std::vector<int> ports;
  for (int i = 0; i < count; ++i) {
    held.push_back(new LoopbackSocket(false));
    ports.push_back(held.back()->port());
  }
  for (LoopbackSocket* socket : held)
    delete socket;
  return ports;
}

#endif  // STRATA_TESTS_LOCALPORTS_H_
