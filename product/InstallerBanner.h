#ifndef STRATA_PRODUCT_INSTALLERBANNER_H_
#define STRATA_PRODUCT_INSTALLERBANNER_H_

// "\nStrata Server 9.08 (9.0.8.1427) Installer": the banner that stage one
// and the installer framework (ServerInstaller::VersionBanner) print. Built
// on the first call; every call returns the same text, kept for the process.
const char* InstallerBanner();

#endif  // STRATA_PRODUCT_INSTALLERBANNER_H_
