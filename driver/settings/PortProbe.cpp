#include "driver/settings/PortProbe.h"

#include <errno.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>

#include "common/ScopedFd.h"
#include "driver/record/InstallManifest.h"
#include "installer/ServerInstaller.h"

namespace {

bool TakenAt(const struct in6_addr& address, int port) {
  ScopedFd fd(socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.Get() < 0)
    return false;
  // Only the IPv6 side: the IPv4 one is the framework's to check.
  int on = 1;
  setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  struct sockaddr_in6 where;
  memset(&where, 0, sizeof where);
  where.sin6_family = AF_INET6;
  where.sin6_port = htons(static_cast<uint16_t>(port));
  where.sin6_addr = address;
  if (bind(fd.Get(), reinterpret_cast<const struct sockaddr*>(&where), sizeof where) == 0)
    return false;
  if (errno == EADDRINUSE)
    return true;
  // Not allowed to bind there (a port below 1024 without privileges): a
  // server that answers holds it.
  where.sin6_addr = in6addr_loopback;
  return connect(fd.Get(), reinterpret_cast<const struct sockaddr*>(&where), sizeof where) == 0;
}

}  // namespace

bool PortTakenOnIpv6(int port) {
  return TakenAt(in6addr_loopback, port) || TakenAt(in6addr_any, port);
}

bool PortTakenOnThisMachine(ServerInstaller& installer, int port) {
  return installer.PortInUse(port) != 0 || PortTakenOnIpv6(port);
}

bool RecordedPorts(const std::string& dir, int ports[6]) {
  InstallManifest record;
  std::string ignored;
  if (dir.empty() || !record.Read(dir, &ignored))
    return false;
  for (int i = 0; i < 6; ++i)
    ports[i] = record.ports[i];
  return true;
}

bool PortTakenByAnother(ServerInstaller& installer, const std::string& dir, int index, int port) {
  if (!PortTakenOnThisMachine(installer, port))
    return false;
  int recorded[6] = {};
  return !(RecordedPorts(dir, recorded) && recorded[index] == port);
}
