#include "driver/settings/ReplaceError.h"

std::string ReplaceError(const std::string& path, const std::string& atomicFileError) {
  // Every AtomicFile error ends in ": " and the system's text, which holds
  // no ": " itself; what comes before may (a directory's name).
  std::string::size_type colon = atomicFileError.rfind(": ");
  if (colon == std::string::npos)
    return path + ": " + atomicFileError;
  return path + atomicFileError.substr(colon);
}
