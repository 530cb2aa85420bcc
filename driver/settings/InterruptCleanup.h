#ifndef STRATA_DRIVER_SETTINGS_INTERRUPTCLEANUP_H_
#define STRATA_DRIVER_SETTINGS_INTERRUPTCLEANUP_H_

#include <string>

// What Ctrl-C, SIGQUIT, SIGTERM or SIGHUP leave behind when they end setup:
// nothing of the package in the start directory, and the terminal as it was.
//
// Arms common/SignalCleanup.h, which removes the trees and temporary files
// registered with it (the extraction directory from now on, the staging
// directory of driver/installation/StagedInstallation.h while it exists) and ends the
// process by the signal. Before that, the handler puts back the settings
// that the terminal on standard input had when this was called: the
// password dialogue turns echo off, and ConsoleUI puts it back on a signal
// only where no other handler is installed. A forked child (the dot
// printer) that receives the signal just ends by it.
void InstallInterruptCleanup(const std::string& extractDir);

#endif  // STRATA_DRIVER_SETTINGS_INTERRUPTCLEANUP_H_
