#ifndef STRATA_LAUNCHER_SERVERVERSION_H_
#define STRATA_LAUNCHER_SERVERVERSION_H_

// The product's identity lives in product/; this name is kept for drivers
// written against the installed framework.
#include "product/ServerVersion.h"

#endif  // STRATA_LAUNCHER_SERVERVERSION_H_
