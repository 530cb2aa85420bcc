#include "common/SystemError.h"

#include <string.h>

const char* ErrnoText(int err) {
  return strerror(err);
}

std::string ErrnoMessage(const std::string& what, int err) {
  return what + ": " + ErrnoText(err);
}
