#ifndef STRATA_DRIVER_SETTINGS_REPLACEERROR_H_
#define STRATA_DRIVER_SETTINGS_REPLACEERROR_H_

#include <string>

// setup's messages about a file it could not write name the file and the
// system's reason ("/opt/media/installer.cfg: No space left on device"),
// while the errors of common/AtomicFile.h name the step that failed and
// where. This gives an AtomicFile error for path in setup's form.
std::string ReplaceError(const std::string& path, const std::string& atomicFileError);

#endif  // STRATA_DRIVER_SETTINGS_REPLACEERROR_H_
