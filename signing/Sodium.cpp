#include "signing/Sodium.h"

#include <sodium.h>

bool StartSodium(std::string* error) {
  if (sodium_init() < 0) {
    *error = "cannot start libsodium";
    return false;
  }
  return true;
}
