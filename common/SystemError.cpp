#include "common/SystemError.h"

#include <string.h>

const char* ErrnoText(int err) {
  return strerror(err);
}
