#ifndef STRATA_DRIVER_INSTALLATION_PLACEUNINSTALLER_H_
#define STRATA_DRIVER_INSTALLATION_PLACEUNINSTALLER_H_

#include <string>

// Copies this program (/proc/self/exe) to installDir/Bin/uninstall and to
// installDir/Bin/verify, mode 0755, each through an atomic file: true, or
// false with *error and any earlier file of the name that failed untouched.
// setup calls it after installing.
bool PlaceUninstaller(const std::string& installDir, std::string* error);

#endif  // STRATA_DRIVER_INSTALLATION_PLACEUNINSTALLER_H_
