#ifndef STRATA_SIGNING_SODIUM_H_
#define STRATA_SIGNING_SODIUM_H_

#include <string>

// Makes libsodium ready (its random source above all) before the first key
// is made or used; later calls do nothing. False with a message when it
// cannot start.
bool StartSodium(std::string* error);

#endif  // STRATA_SIGNING_SODIUM_H_
