#ifndef STRATA_LAUNCHER_PACKAGEINFO_H_
#define STRATA_LAUNCHER_PACKAGEINFO_H_

// The product's identity lives in product/; this name is kept for drivers
// written against the installed framework.
#include "product/PackageInfo.h"

#endif  // STRATA_LAUNCHER_PACKAGEINFO_H_
