#ifndef STRATA_TESTS_LOCALPORTS_H_
#define STRATA_TESTS_LOCALPORTS_H_

#include <vector>

// Ports of the loopback address for tests of the port checks: ports that are
// free, and ports that something holds or listens on.

// A TCP socket bound to a port of 127.0.0.1, listening if asked to. Not
// copyable: the object owns the socket, closed with it or by Close.
class LoopbackSocket {
 public:
  // A port that the kernel chooses.
  explicit LoopbackSocket(bool listening) : LoopbackSocket(0, listening) {}
  // The given port; 0: the kernel chooses.
  LoopbackSocket(int port, bool listening);
  ~LoopbackSocket() { Close(); }
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;

  // The bound port; 0 when the socket could not be set up.
  int port() const { return m_port; }
  void Close();

 private:
  int m_fd;
  int m_port;
};

// A TCP server listening on ::1 only (IPv6 alone), on a port the kernel
// chooses; port() is 0 when the machine has no IPv6. Not copyable: owns the
// socket.
class Ipv6LoopbackListener {
 public:
  Ipv6LoopbackListener();
  ~Ipv6LoopbackListener();
  Ipv6LoopbackListener(const Ipv6LoopbackListener&) = delete;
  Ipv6LoopbackListener& operator=(const Ipv6LoopbackListener&) = delete;

  int port() const { return m_port; }

 private:
  int m_fd;
  int m_port;
};

// count distinct ports that were free a moment ago: each was held until all
// had been chosen, then released.
std::vector<int> FreePorts(int count);

#endif  // STRATA_TESTS_LOCALPORTS_H_
