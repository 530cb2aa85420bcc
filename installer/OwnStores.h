#ifndef STRATA_INSTALLER_OWNSTORES_H_
#define STRATA_INSTALLER_OWNSTORES_H_

#include "installer/ServerInstaller.h"

// While it lives, the texts that SetDefaultDir and ReadInstallerConfigItems
// store are the installer's own: an operation of the installer is storing
// into its settings. Nests. Not copyable.
class ServerInstaller::OwnStores {
 public:
  explicit OwnStores(ServerInstaller* installer) : m_pInstaller(installer) {
    ++m_pInstaller->m_nOwnStores;
  }
  ~OwnStores() { --m_pInstaller->m_nOwnStores; }

  OwnStores(const OwnStores&) = delete;
  OwnStores& operator=(const OwnStores&) = delete;

 private:
  ServerInstaller* m_pInstaller;
};

#endif  // STRATA_INSTALLER_OWNSTORES_H_
