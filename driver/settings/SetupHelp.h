#ifndef STRATA_DRIVER_SETTINGS_SETUPHELP_H_
#define STRATA_DRIVER_SETTINGS_SETUPHELP_H_

#include <string>

class ServerInstaller;

// setup's help, "setup --help": every option of the package and of setup
// itself, each name of the defaults file with one line on what it sets,
// the exit statuses, and where the passwords that an unattended installation
// generated can be read afterwards. The names come from installer's
// defaults-file items, so that none is left out.
std::string SetupHelpText(ServerInstaller& installer);

#endif  // STRATA_DRIVER_SETTINGS_SETUPHELP_H_
