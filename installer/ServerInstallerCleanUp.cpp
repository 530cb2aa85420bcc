// Backup of an earlier installation, clean-up at the end, and the shell.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "common/SecondStageHandover.h"
#include "common/ShellQuote.h"
#include "console/ConsoleUI.h"
#include "installer/BackupName.h"
#include "installer/ServerInstaller.h"
#include "installer/WorkingDirectory.h"

namespace {

// dir as one word for /bin/sh: single-quoted, each ' written as '\''. The
// commands run in the parent of the extraction directory, so a relative name
// that starts with "-" gets "./" in front lest rm take it for options.
std::string RemovalOperand(const char* dir) {
  return ShellQuote(dir[0] == '-' ? std::string("./") + dir : std::string(dir));
}

// The installed Bin/setup as a word of the removal commands; nothing when no
// installation directory is known, so that only "qzsetup" is removed then.
std::string InstalledSetup(const char* dir) {
  if (dir == nullptr)
    return std::string();
  return " " + RemovalOperand(dir) + "/Bin/setup";
}

}  // namespace

// Fixed names: backed up even when the configuration file names were changed.
const char* const ServerInstaller::g_pBackupNames[6] = {
    "Bin", "Plugins", "Lib", "qmserver.cfg", "qmproxy.cfg", "default.cfg"};

void ServerInstaller::BackupOldFiles() {
  SavedWorkingDirectory saved;
  if (!EnterInstallDirectory(saved, m_szDefInstallPath, m_pUI, !m_bSilentInstall))
    return;
  // Names that are not present are simply passed over.
  for (const char* name : g_pBackupNames)
    BackupIfPresent(name);
  // Whether the way back worked changes nothing of what follows.
  std::string ignored;
  saved.Restore(&ignored);
}

int ServerInstaller::BackupIfPresent(const char* name) {
  // Without the name there is nothing to put in place of an earlier backup,
  // which therefore must survive.
  struct stat st;
  if (name == nullptr || lstat(name, &st) != 0)
    return -1;
  std::string backup = BackupNameOf(name);
  // A non-empty earlier backup directory stays and blocks the rename.
  remove(backup.c_str());
  return rename(name, backup.c_str()) == 0 ? 0 : -1;
}

void ServerInstaller::CleanUp(const char* dir) {
  std::string setup = InstalledSetup(dir);
  std::string now = "(cd ..; rm -rf " STRATA_EXTRACTION_DIR_NAME + setup + " 2> /dev/null); ";
  System(now.c_str());

  struct stat st;
  if (stat("../" STRATA_EXTRACTION_DIR_NAME, &st) == 0) {
    std::string later =
        "(cd ..; sleep 2; rm -rf " STRATA_EXTRACTION_DIR_NAME + setup + " >/dev/null 2>&1) &";
    System(later.c_str());
  }
}

void ServerInstaller::CleanUpAndExit(int status, ConsoleUI* ui) {
  // A caller without a console of its own reports through the installer's;
  // with no console at all the clean-up still runs, without a word.
  if (ui == nullptr)
    ui = m_pUI;
  bool report = !m_bSilentInstall && ui != nullptr;
  if (report) {
    ui->ShowMessage("Cleaning up installation files...");
    ui->FlushOutput();
    ui->StartPrintingDots();
  }
  CleanUp(m_szDefInstallPath);
  if (report) {
    ui->StopPrintingDots();
    ui->ShowMessage("\nDone.\n\n");
  }
  exit(status);
}

int ServerInstaller::System(const char* command) {
  return system(command);
}
