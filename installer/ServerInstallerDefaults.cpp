// The default settings of an installation: realms from the host name, the
// installation directory above the extraction directory, the six ports.
#include <stdlib.h>
#include <unistd.h>

#include <new>
#include <string>

#include "common/CurrentDirectory.h"
#include "installer/OwnStores.h"
#include "installer/ServerInstaller.h"

namespace {

const char kRealmPrefix[] = "StrataServer";
const int kHostNameSize = 1024;

// Default port numbers of the entries Monitor, RTSP, VQX, HTTP and MMS.
const int kFixedPorts[] = {9090, 554, 7070, 80, 1755};
const int kAdminIndex = 5;
const int kAdminLow = 10000;
const int kAdminHigh = 30000;

}  // namespace

void ServerInstaller::SetDefaults() {
  std::string prefix = kRealmPrefix;
  int haveHost = GetLocalHostName(m_szLocalHostName);
  AdoptText(m_szLocalHostName);
  if (haveHost && m_szLocalHostName != nullptr && m_szLocalHostName[0] != '\0')
    prefix = m_szLocalHostName;

  {
    // The base SetDefaultDir's text is then the object's; an override may
    // store a text that is not the object's to release.
    OwnStores own(this);
    SetDefaultDir(m_szDefInstallPath);
  }

  for (int i = 0; i < kAdminIndex; ++i)
    m_pPorts[i].nPort = kFixedPorts[i];
  // The draw avoids the ports just set, so it must come after them.
  m_pPorts[kAdminIndex].nPort = RandomPort(kAdminLow, kAdminHigh);
  m_pPorts[0].bSelected = 1;

  // Constant texts: never adopted, never released.
  m_szConfigFileName = const_cast<char*>("qmserver.cfg");
  m_szDefaultConfigFileName = const_cast<char*>("default.cfg");
  m_szLoggingStyle = const_cast<char*>("5");

  m_szAdminRealm = OwnedCopy((prefix + ".AdminRealm").c_str());
  m_szEncoderRealm = OwnedCopy((prefix + ".EncoderRealm").c_str());
  m_szRBSEncoderRealm = OwnedCopy((prefix + ".RBSEncoderRealm").c_str());
  m_szWMEncoderRealm = OwnedCopy((prefix + ".WMEncoderRealm").c_str());
  m_szCDistRealm = OwnedCopy((prefix + ".CDistRealm").c_str());
  m_szContentRealm = OwnedCopy((prefix + ".ContentRealm").c_str());
}

void ServerInstaller::SetDefaultDir(char*& dir) {
  std::string parent;
  // When the directory cannot be determined (removed, unreachable) the
  // parent is the empty text rather than something made up.
  if (CurrentDirectory(&parent)) {
    std::string::size_type slash = parent.rfind('/');
    if (slash != std::string::npos)
      parent.erase(slash);
  }
  dir = CopyForStore(parent.c_str());
}

int ServerInstaller::GetLocalHostName(char*& name) {
  name = new (std::nothrow) char[kHostNameSize];
  if (name == nullptr)
    return 0;
  name[0] = '\0';
  int rc = gethostname(name, kHostNameSize);
  // A name that fills the buffer may come without its terminator.
  name[kHostNameSize - 1] = '\0';
  return rc == 0 ? 1 : 0;
}
