// The generated server files: the configuration file and Bin/loopcast.sh.
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>

#include "common/SystemError.h"
#include "console/ConsoleUI.h"
#include "installer/ServerInstaller.h"
#include "installer/WorkingDirectory.h"
#include "templates/NewInstallerConfig.h"
#include "templates/NewInstallerIQLoopcastScript.h"

namespace {

const char* TextOrEmpty(const char* text) {
  return text != nullptr ? text : "";
}

// Writes text into file and closes it: 0, or -1 with errno set when a byte
// could not be written, so a short file is never taken for a written one.
int WriteAndClose(FILE* file, const char* text) {
  int result = fputs(text, file) < 0 ? -1 : 0;
  int err = errno;
  if (fclose(file) != 0 && result == 0) {
    result = -1;
    err = errno;
  }
  errno = err;
  return result;
}

}  // namespace

char* ServerInstaller::FormatConfigFile() {
  const char* text = NewInstallerConfig::CreateConfigFile(
      m_szDefInstallPath, 0, m_pPorts[1].nPort, m_pPorts[2].nPort, m_pPorts[3].nPort,
      m_pPorts[4].nPort, m_pPorts[0].nPort, m_pPorts[5].nPort, m_szAdminPassword, m_szLoggingStyle,
      m_szAdminRealm, m_szEncoderRealm, m_szRBSEncoderRealm, m_szWMEncoderRealm, m_szAdminPassword,
      m_szCDistRealm, m_szContentRealm, m_szLocalHostName);
  // The template's buffer is rebuilt by its next call; earlier copies stay
  // valid for as long as the object lives.
  m_szConfigFileText = OwnedCopy(TextOrEmpty(text));
  return m_szConfigFileText;
}

void ServerInstaller::CreateConfigFile(const char* fileName) {
  SavedWorkingDirectory saved;
  if (!EnterInstallDirectory(saved, m_szDefInstallPath, m_pUI, !m_bSilentInstall))
    return;
  const char* text = FormatConfigFile();
  const char* name = TextOrEmpty(fileName);
  FILE* file = fopen(name, "w");
  // The server cannot start without its configuration, so this is reported
  // even in a silent installation.
  if (file == nullptr || WriteAndClose(file, TextOrEmpty(text)) != 0) {
    int err = errno;
    m_pUI->ShowErrorMessage("Error creating %s (%s)\n", name, ErrnoText(err));
  }
  // Whether the way back worked changes nothing of what follows.
  std::string ignored;
  saved.Restore(&ignored);
}

void ServerInstaller::CreateLoopcastScript() {
  SavedWorkingDirectory saved;
  if (!EnterInstallDirectory(saved, m_szDefInstallPath, m_pUI, !m_bSilentInstall))
    return;
  const char* text = NewInstallerIQLoopcastScript::CreateScriptFile(m_szDefInstallPath);
  // An installation without a Bin directory has no tool to wrap: no script,
  // and nothing to report.
  FILE* file = fopen("Bin/loopcast.sh", "w");
  if (file != nullptr) {
    WriteAndClose(file, TextOrEmpty(text));
    // Executable whatever the umask let the new file have.
    chmod("Bin/loopcast.sh", 0755);
  }
  // Whether the way back worked changes nothing of what follows.
  std::string ignored;
  saved.Restore(&ignored);
}
