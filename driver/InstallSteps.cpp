#include "driver/InstallSteps.h"

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>

#include <vector>

#include "common/Format.h"
#include "common/SystemError.h"
#include "console/ConsoleUI.h"
#include "driver/AnswersFile.h"
#include "driver/BackupGeneration.h"
#include "driver/InstallPath.h"
#include "driver/ProductFiles.h"
#include "driver/ReadBackChecks.h"
#include "driver/SetupInstaller.h"
#include "product/ServerVersion.h"

namespace {

// The user files and the configuration files hold passwords: while they are
// written, new files and directories are the installing user's alone.
class PrivateFiles {
 public:
  PrivateFiles() : m_saved(umask(077)) {}
  ~PrivateFiles() { umask(m_saved); }
  PrivateFiles(const PrivateFiles&) = delete;
  PrivateFiles& operator=(const PrivateFiles&) = delete;

 private:
  mode_t m_saved;
};

}  // namespace

InstallSteps::InstallSteps(SetupInstaller& installer, const std::string& extractDir)
    : m_installer(installer),
      m_sExtractDir(extractDir),
      m_bAdminPasswordGenerated(false),
      m_bEncoderPasswordGenerated(false),
      m_bAnswersWritten(false) {}

bool InstallSteps::Install(bool writeAnswers, std::string* error) {
  std::string dir = m_installer.InstallDir();
  // Moving the product into its own extraction directory would leave
  // nothing behind once the clean-up has removed that directory.
  if (IsSameOrInside(dir, m_sExtractDir)) {
    *error = InstallDirMessage(dir, "it lies inside the package's extraction directory");
    return false;
  }
  if (!m_installer.m_bSilentInstall)
    UI().ShowMessage("\nInstalling %s into %s...\n", ServerVersion::FullProductName(), dir.c_str());
  if (!PlaceProduct(dir, error))
    return false;

  m_bAdminPasswordGenerated = m_installer.m_szAdminPassword == nullptr;
  m_bEncoderPasswordGenerated = m_installer.m_szEncoderPassword == nullptr;
  m_installer.GenerateRandomPasswords();
  // The configuration comes last: with it in place the server can start, so
  // it is written only once everything it refers to is there.
  if (!WriteAccounts(error) || !WriteLoopcastScript(error) || !WriteConfigFiles(error))
    return false;
  if (writeAnswers)
    WriteAnswers();
  return true;
}

ConsoleUI& InstallSteps::UI() {
  return *m_installer.m_pUI;
}

bool InstallSteps::PlaceProduct(const std::string& dir, std::string* error) {
  std::string why;
  if (!MakeDirectories(dir, &why)) {
    *error = FormatText("ERROR: Unable to create the installation directory (%s)\n", why.c_str());
    return false;
  }

  bool backingUp = m_installer.m_bBackupOldFiles != 0;
  BackupGeneration backups(dir);
  ProductFiles files(m_sExtractDir, dir);
  files.Skip(ConsoleUI::kDisplayTextFile);
  // What is moved aside makes room for the product.
  if (backingUp) {
    for (const std::string& name : backups.PresentNames())
      files.Vacate(name);
  }
  // Found halfway, a conflict would leave the earlier installation moved
  // aside and the new one incomplete: the server without a configuration.
  if (!files.Check(&why)) {
    *error =
        FormatText("ERROR: Unable to install the product's files: %s; nothing has been changed\n",
                   why.c_str());
    return false;
  }
  if (backingUp) {
    if (!backups.RemoveEarlierBackups(&why)) {
      *error =
          FormatText("ERROR: Unable to remove an earlier backup (%s); nothing has been installed\n",
                     why.c_str());
      return false;
    }
    m_installer.BackupOldFiles();
    if (!backups.ConfirmBackups(&why)) {
      *error = FormatText(
          "ERROR: Unable to back up the earlier installation (%s); nothing has been installed\n",
          why.c_str());
      return false;
    }
  }

  m_installer.MarkPlacing();
  if (!files.Place(&why)) {
    *error = FormatText("ERROR: Unable to install the product's files (%s)\n", why.c_str());
    return false;
  }
  return true;
}

bool InstallSteps::WriteAccounts(std::string* error) {
  {
    PrivateFiles privateFiles;
    m_installer.UpdatePasswordDatabases();
  }
  return CheckUserFiles(m_installer, error);
}

bool InstallSteps::WriteLoopcastScript(std::string* error) {
  m_installer.CreateLoopcastScript();
  return CheckLoopcastScript(m_installer, error);
}

bool InstallSteps::WriteConfigFiles(std::string* error) {
  const char* names[] = {m_installer.m_szConfigFileName, m_installer.m_szDefaultConfigFileName};
  {
    PrivateFiles privateFiles;
    for (const char* name : names) {
      // Made afresh under the private umask: an earlier file would keep its
      // mode, its owner and any other name it has, and a link of this name
      // would take the passwords to wherever it leads.
      std::string path = m_installer.FilePath(name);
      if (remove(path.c_str()) != 0 && errno != ENOENT) {
        *error = FormatText("ERROR: Unable to replace the configuration file %s (%s)\n",
                            path.c_str(), ErrnoText(errno));
        return false;
      }
      m_installer.CreateConfigFile(name);
    }
  }
  for (const char* name : names) {
    mode_t mode = 0;
    if (!CheckConfigFile(m_installer, name, &mode, error))
      return false;
    // A default ACL of the directory can grant what the umask withholds.
    std::string path = m_installer.FilePath(name);
    if ((mode & 077) != 0 && chmod(path.c_str(), mode & 0700) != 0) {
      *error = FormatText(
          "ERROR: Unable to make the configuration file %s readable by its owner only (%s)\n",
          path.c_str(), ErrnoText(errno));
      return false;
    }
  }
  return true;
}

void InstallSteps::WriteAnswers() {
  std::string path = m_installer.FilePath(AnswersFile::kFileName);
  std::vector<std::string> skipped;
  std::string why;
  if (!AnswersFile::Write(path, m_installer, &skipped, &why)) {
    // The installation itself is complete; only the record of it is not.
    UI().ShowErrorMessage("Warning: Unable to write the installer answers (%s)\n", why.c_str());
    return;
  }
  m_bAnswersWritten = true;
  for (const std::string& name : skipped) {
    UI().ShowMessage("Note: %s cannot be kept in %s and has been left out.\n", name.c_str(),
                     path.c_str());
  }
}
