#ifndef STRATA_DRIVER_SETTINGS_PORTPROBE_H_
#define STRATA_DRIVER_SETTINGS_PORTPROBE_H_

#include <string>

class ServerInstaller;

// Whether something on this machine holds port: the framework's check on
// 127.0.0.1, and the same on IPv6, where a server listening on ::1 or on
// [::] alone leaves the IPv4 port free but would still keep the installed
// server from listening on every address.
bool PortTakenOnThisMachine(ServerInstaller& installer, int port);

// The six ports that the installation recorded in dir (install-manifest.txt)
// gave its services, in port-table order: true, or false (ports untouched)
// when dir holds no readable record.
bool RecordedPorts(const std::string& dir, int ports[6]);

// Whether port, wanted for the service of index, is in use by something
// other than the installation in dir: a port that the installation there
// recorded for the same service is taken to be held by its own server, which
// a rerun or an upgrade need not find stopped.
bool PortTakenByAnother(ServerInstaller& installer, const std::string& dir, int index, int port);

// The IPv6 half of it: a listener on ::1 or [::] holds port. False when
// the machine has no IPv6.
bool PortTakenOnIpv6(int port);

#endif  // STRATA_DRIVER_SETTINGS_PORTPROBE_H_
