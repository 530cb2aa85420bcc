// Choosing, validating and probing the service ports.
#include <arpa/inet.h>
#include <errno.h>
#include <limits.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "installer/ServerInstaller.h"

namespace {

const int kPortCount = 6;

// Ports that well-known services and common tools claim; a random draw never
// proposes them.
const int kAvoidedPorts[] = {554,  1090, 1091, 1337, 3030, 4040, 5050,
                             6060, 7070, 7802, 7878, 8080, 31337};

bool IsAvoided(int port, const int* avoid) {
  for (int p : kAvoidedPorts) {
    if (p == port)
      return true;
  }
  for (const int* p = avoid; p != nullptr && *p != 0; ++p) {
    if (*p == port)
      return true;
  }
  return false;
}

// Whether [low, high) holds a port that a draw may return. Without this
// check a draw from a range that is entirely excluded would never end.
bool RangeHasCandidate(int low, int high, const int* avoid) {
  std::vector<int> excluded;
  for (int p : kAvoidedPorts) {
    if (p >= low && p < high)
      excluded.push_back(p);
  }
  for (const int* p = avoid; p != nullptr && *p != 0; ++p) {
    if (*p >= low && *p < high)
      excluded.push_back(*p);
  }
  std::sort(excluded.begin(), excluded.end());
  long long distinct = std::unique(excluded.begin(), excluded.end()) - excluded.begin();
  return static_cast<long long>(high) - low > distinct;
}

}  // namespace

int ServerInstaller::RandomPort(int low, int high) {
  // The list ends at its first 0, so a port still unset ends it early.
  int current[kPortCount + 1];
  for (int i = 0; i < kPortCount; ++i)
    current[i] = m_pPorts[i].nPort;
  current[kPortCount] = 0;
  return GenerateRandomPort(low, high, current);
}

int ServerInstaller::GenerateRandomPort(int low, int high, int* avoid) {
  // An empty or fully excluded range has no answer; 0 means "no port"
  // rather than a division by zero or a draw that never ends.
  if (low >= high || !RangeHasCandidate(low, high, avoid))
    return 0;
  // The width may exceed INT_MAX for extreme bounds; the sum stays in range.
  long long width = static_cast<long long>(high) - low;
  for (;;) {
    int candidate = static_cast<int>(low + random() % width);
    if (!IsAvoided(candidate, avoid))
      return candidate;
  }
}

int ServerInstaller::ValidPort(const char* text, int& port) {
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9')
      return 0;
  }
  long value = strtol(text, nullptr, 10);
  // A number too large for an int is stored as INT_MAX, never wrapped.
  port = static_cast<int>(std::min<long>(value, INT_MAX));
  return value >= 1 && value <= 65535 ? 1 : 0;
}

int ServerInstaller::CheckDupePort(int port, int index, const char*& name) {
  for (int i = 0; i < kPortCount; ++i) {
    if (i != index && m_pPorts[i].nPort == port && m_pPorts[i].bSelected) {
      name = g_pPortNames[i];
      return 1;
    }
  }
  return 0;
}

int ServerInstaller::PortInUse(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return 0;  // Our own failure: the port counts as free.

  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port & 0xffff));
  address.sin_addr.s_addr = inet_addr("127.0.0.1");
  sockaddr* generic = reinterpret_cast<sockaddr*>(&address);

  int inUse = 0;
  if (bind(fd, generic, sizeof address) != 0) {
    if (errno == EADDRINUSE) {
      inUse = 1;
    } else {
      // Binding may be refused for other reasons (a privileged port); a
      // server that answers on the port still shows it is taken.
      inUse = connect(fd, generic, sizeof address) == 0 ? 1 : 0;
    }
  }
  close(fd);
  return inUse;
}
