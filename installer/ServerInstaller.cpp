// Construction and destruction of the installer object and its port table.
#include "installer/ServerInstaller.h"

#include "console/ConsoleUI.h"
#include "product/InstallerBanner.h"

const char* ServerInstaller::g_pPortNames[6] = {"Monitor", "RTSP", "VQX", "HTTP", "MMS", "Admin"};

namespace {
const int kPortCount = 6;
}  // namespace

ServerInstaller::ServerInstaller()
    : m_pPorts(new InstPort[kPortCount]()),
      m_szAdminUserID(nullptr),
      m_szAdminPassword(nullptr),
      m_szAdminRealm(nullptr),
      m_szEncoderUserID(nullptr),
      m_szEncoderPassword(nullptr),
      m_szEncoderRealm(nullptr),
      m_szRBSEncoderRealm(nullptr),
      m_szWMEncoderRealm(nullptr),
      m_szCDistRealm(nullptr),
      m_szContentRealm(nullptr),
      m_szMonitorPassword(nullptr),
      m_szConfigFileName(nullptr),
      m_szDefaultConfigFileName(nullptr),
      m_szInstallerConfigFile(nullptr),
      m_szLoggingStyle(nullptr),
      m_szLocalHostName(nullptr),
      m_szDefInstallPath(nullptr),
      m_szConfigFileText(nullptr),
      m_bNonInteractiveInstall(0),
      m_bSilentInstall(0),
      m_bBackupOldFiles(1),
      m_bDebugInstall(0),
      m_pUI(new ConsoleUI),
      m_nOwnStores(0) {}

ServerInstaller::~ServerInstaller() {
  delete m_pUI;
  delete[] m_pPorts;
  for (char* text : m_ownedTexts)
    delete[] text;
}

int ServerInstaller::GetInstPort(int index) {
  return m_pPorts[index].nPort;
}

void ServerInstaller::SetInstPort(int index, int port) {
  m_pPorts[index].nPort = port;
  m_pPorts[index].bSelected = 1;
}

const char* ServerInstaller::VersionBanner() {
  // The same text as stage one prints, so the two can never differ.
  return InstallerBanner();
}
