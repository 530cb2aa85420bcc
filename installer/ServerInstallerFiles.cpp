// The generated server files: the configuration file and Bin/loopcast.sh.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "common/AtomicFile.h"
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

// The name of the regular file that writing to name replaces: name itself,
// or what a symbolic link of that name leads to; empty for anything else (a
// device, a FIFO, a dangling link), which is written to as it stands.
std::string RegularFileBehind(const char* name) {
  struct stat st;
  if (lstat(name, &st) != 0)
    return errno == ENOENT ? std::string(name) : std::string();
  if (S_ISREG(st.st_mode))
    return name;
  if (!S_ISLNK(st.st_mode))
    return std::string();
  char* resolved = realpath(name, nullptr);
  if (resolved == nullptr)
    return std::string();
  std::string target = resolved;
  free(resolved);
  return stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? target : std::string();
}

// Writes text to the file name: true, or false with the system's reason in
// *reason. A regular file is replaced whole or not at all, so that a full
// disk or a file-size limit never leaves a configuration cut short where the
// earlier one stood.
bool WriteConfigText(const char* name, const char* text, std::string* reason) {
  std::string regular = RegularFileBehind(name);
  if (regular.empty()) {
    FILE* file = fopen(name, "w");
    if (file == nullptr || WriteAndClose(file, text) != 0) {
      *reason = ErrnoText(errno);
      return false;
    }
    return true;
  }
  std::string error;
  int err = 0;
  if (WriteFileAtomically(regular, text, ModeUnderUmask(0666), &error, &err))
    return true;
  *reason = ErrnoText(err);
  return false;
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
  std::string reason;
  // The server cannot start without its configuration, so this is reported
  // even in a silent installation.
  if (!WriteConfigText(name, TextOrEmpty(text), &reason))
    m_pUI->ShowErrorMessage("Error creating %s (%s)\n", name, reason.c_str());
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
