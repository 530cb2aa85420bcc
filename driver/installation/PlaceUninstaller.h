#ifndef STRATA_DRIVER_INSTALLATION_PLACEUNINSTALLER_H_
#define STRATA_DRIVER_INSTALLATION_PLACEUNINSTALLER_H_

#include <string>

// Copies this program (/proc/self/exe) to installDir/Bin/uninstall, mode
// 0755, through an atomic file: true, or false with *error and any earlier
// Bin/uninstall untouched. setup calls it after installing.
bool PlaceUninstaller(const std::string& installDir, std::string* error);

#endif  // STRATA_DRIVER_INSTALLATION_PLACEUNINSTALLER_H_
