#ifndef STRATA_DRIVER_PORTPROBE_H_
#define STRATA_DRIVER_PORTPROBE_H_

class ServerInstaller;

// Whether something on this machine holds port: the framework's check on
// 127.0.0.1, and the same on IPv6, where a server listening on ::1 or on
// [::] alone leaves the IPv4 port free but would still keep the installed
// server from listening on every address.
bool PortTakenOnThisMachine(ServerInstaller& installer, int port);

// The IPv6 half of it: a listener on ::1 or [::] holds port. False when
// the machine has no IPv6.
bool PortTakenOnIpv6(int port);

#endif  // STRATA_DRIVER_PORTPROBE_H_
