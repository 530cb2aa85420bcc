#include "driver/SetupDriver.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "common/CurrentDirectory.h"
#include "common/Format.h"
#include "common/Path.h"
#include "common/SystemError.h"
#include "console/ConsoleUI.h"
#include "credentials/PasswordTool.h"
#include "driver/AnswersFile.h"
#include "driver/BackupGeneration.h"
#include "driver/InstallPath.h"
#include "driver/ProductFiles.h"
#include "driver/RandomSeed.h"
#include "driver/SettingRules.h"
#include "driver/SetupInstaller.h"
#include "driver/ShownText.h"
#include "installer/ServerInstaller.h"
#include "product/ServerVersion.h"
#include "templates/NewInstallerIQLoopcastScript.h"

namespace {

const char kExtractionDirName[] = "qzsetup";
const char kLicenseFile[] = "License.txt";
// Made by ConsoleUI::DisplayText in the working directory while the pager
// runs; not part of the product.
const char kPagerFile[] = "_license.txt";
const int kPortCount = 6;
const int kAdminPort = 5;

const char kInputEnded[] =
    "ERROR: The input ended before the installation was confirmed; nothing has been "
    "installed.\n";

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

bool InputHasEnded() {
  return feof(stdin) || ferror(stdin);
}

bool ReadWholeFile(const std::string& path, std::string* content) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr)
    return false;
  content->clear();
  char buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
    content->append(buffer, got);
  bool ok = !ferror(file);
  fclose(file);
  return ok;
}

// Owns an answer of the console that is not kept in the settings.
struct Answer {
  char* text = nullptr;
  ~Answer() { delete[] text; }
};

}  // namespace

SetupDriver::SetupDriver() : SetupDriver(std::unique_ptr<SetupInstaller>(new SetupInstaller)) {}

SetupDriver::SetupDriver(std::unique_ptr<SetupInstaller> installer)
    : m_pInstaller(std::move(installer)),
      m_bAsked(false),
      m_bAdminPasswordGenerated(false),
      m_bEncoderPasswordGenerated(false),
      m_bAnswersWritten(false) {}

SetupDriver::~SetupDriver() {}

ServerInstaller& SetupDriver::Installer() {
  return *m_pInstaller;
}

void SetupDriver::Run(int argc, const char** argv) {
  std::string problem = CheckWorkingDirectory();
  if (!problem.empty()) {
    // Without an extraction directory there is nothing to install, and the
    // framework's clean-up would remove things that are not its own.
    fputs(problem.c_str(), stdout);
    fflush(nullptr);
    exit(-1);
  }
  Configure(argc, argv);
  problem = IsUnattended() ? CheckUnattendedSettings() : AskInteractively();
  if (problem.empty())
    problem = Install();
  if (!problem.empty()) {
    // A failure is reported even in a silent installation: an exit status
    // alone would not say what to put right.
    UI().ShowErrorMessage("%s", problem.c_str());
    UI().FlushOutput();
    Finish(-1);
  }
  ShowSummary();
  Finish(0);
}

void SetupDriver::Finish(int status) {
  Installer().CleanUpAndExit(status, Installer().m_pUI);
  // Reached only if a derived installer's clean-up returned.
  exit(status);
}

std::string SetupDriver::CheckWorkingDirectory() {
  std::string dir;
  if (!CurrentDirectory(&dir))
    return FormatText("ERROR: Unable to determine the current directory (%s)\n", ErrnoText(errno));
  if (BaseNameOf(dir) != kExtractionDirName) {
    return FormatText(
        "ERROR: setup installs from the extraction directory \"%s\" of an installation "
        "package; run the package instead.\n",
        kExtractionDirName);
  }
  m_sExtractDir = dir;
  m_sStartDir = DirectoryOf(dir);
  return std::string();
}

void SetupDriver::Configure(int argc, const char** argv) {
  SeedRandomGenerator();
  Installer().SetDefaults();
  Installer().ParseCmdLine(argc, argv);
  // A relative directory would mean the extraction directory to the
  // operations that change into it and its parent to the clean-up: it is
  // taken once, from where the user started the package.
  const char* given = Installer().m_szDefInstallPath;
  std::string resolved = ResolvePath(given != nullptr ? given : "", m_sStartDir);
  if (given == nullptr || resolved != given)
    Installer().m_szDefInstallPath = OwnedText(resolved);
}

bool SetupDriver::IsUnattended() const {
  return m_pInstaller->m_bSilentInstall || m_pInstaller->m_bNonInteractiveInstall;
}

std::string SetupDriver::CheckUnattendedSettings() {
  ServerInstaller& installer = Installer();
  std::string dirProblem;
  if (!CheckInstallDir(InstallDir(), &dirProblem))
    return InstallDirMessage(InstallDir(), dirProblem);

  std::string error;
  if (!CheckAccountSettings(installer, &error) || !CheckConfigTexts(installer, &error) ||
      !ConfirmPortSettings(installer, &error))
    return error;
  return std::string();
}

std::string SetupDriver::AskInteractively() {
  m_bAsked = true;
  UI().ShowMessage("%s\n\n", ServerInstaller::VersionBanner());

  // These come from a defaults file, not from the dialogue: asking the rest
  // first would be in vain.
  std::string problem;
  if (!CheckConfigTexts(Installer(), &problem))
    return problem;

  bool accepted = false;
  problem = AskLicense(&accepted);
  if (!problem.empty())
    return problem;
  if (!accepted)
    return "The license agreement was not accepted; nothing has been installed.\n";

  problem = AskInstallDir();
  if (problem.empty()) {
    problem = AskAccount(&Installer().m_szAdminUserID, &Installer().m_szAdminPassword,
                         "\nThe administrator account manages the server through its web "
                         "pages.\n");
  }
  if (problem.empty()) {
    problem = AskAccount(&Installer().m_szEncoderUserID, &Installer().m_szEncoderPassword,
                         "\nThe encoder account lets live encoders broadcast to the server.\n");
  }
  if (!problem.empty())
    return problem;

  UI().ShowMessage("\nThe server listens on six ports; press Enter to keep the one shown.\n");
  for (int i = 0; i < kPortCount; ++i) {
    problem = AskPort(i);
    if (!problem.empty())
      return problem;
  }

  ServerInstaller& installer = Installer();
  std::string ports;
  for (int i = 0; i < kPortCount; ++i) {
    ports += FormatText("%s%s %d", i == 0 ? "" : ", ", ServerInstaller::g_pPortNames[i],
                        installer.m_pPorts[i].nPort);
  }
  UI().ShowMessage("\nReady to install %s:\n", ServerVersion::FullProductName());
  UI().ShowMessage("    Installation directory:  %s\n", InstallDir().c_str());
  UI().ShowMessage("    Administrator:           %s\n", installer.m_szAdminUserID);
  UI().ShowMessage("    Encoder account:         %s\n", installer.m_szEncoderUserID);
  UI().ShowMessage("    Ports:                   %s\n", ports.c_str());
  UI().ShowMessage("    Earlier files:           %s\n",
                   installer.m_bBackupOldFiles ? "kept under .old names" : "replaced");
  int confirmed = AskYesNo("Install now? (yes or no)", "yes", "\n");
  if (confirmed < 0)
    return kInputEnded;
  if (confirmed == 0)
    return "Installation cancelled; nothing has been installed.\n";
  return std::string();
}

std::string SetupDriver::Install() {
  ServerInstaller& installer = Installer();
  std::string dir = InstallDir();
  // Moving the product into its own extraction directory would leave
  // nothing behind once the clean-up has removed that directory.
  if (IsSameOrInside(dir, m_sExtractDir))
    return InstallDirMessage(dir, "it lies inside the package's extraction directory");
  if (!Silent())
    UI().ShowMessage("\nInstalling %s into %s...\n", ServerVersion::FullProductName(), dir.c_str());

  std::string error;
  if (!MakeDirectories(dir, &error))
    return FormatText("ERROR: Unable to create the installation directory (%s)\n", error.c_str());

  bool backingUp = installer.m_bBackupOldFiles != 0;
  BackupGeneration backups(dir);
  ProductFiles files(m_sExtractDir, dir);
  files.Skip(kPagerFile);
  // What is moved aside makes room for the product.
  if (backingUp) {
    for (const std::string& name : backups.PresentNames())
      files.Vacate(name);
  }
  // Found halfway, a conflict would leave the earlier installation moved
  // aside and the new one incomplete: the server without a configuration.
  if (!files.Check(&error)) {
    return FormatText(
        "ERROR: Unable to install the product's files: %s; nothing has been changed\n",
        error.c_str());
  }
  if (backingUp) {
    if (!backups.RemoveEarlierBackups(&error)) {
      return FormatText(
          "ERROR: Unable to remove an earlier backup (%s); nothing has been installed\n",
          error.c_str());
    }
    installer.BackupOldFiles();
    if (!backups.ConfirmBackups(&error)) {
      return FormatText(
          "ERROR: Unable to back up the earlier installation (%s); nothing has been installed\n",
          error.c_str());
    }
  }

  m_pInstaller->MarkPlacing();
  if (!files.Place(&error))
    return FormatText("ERROR: Unable to install the product's files (%s)\n", error.c_str());

  m_bAdminPasswordGenerated = installer.m_szAdminPassword == nullptr;
  m_bEncoderPasswordGenerated = installer.m_szEncoderPassword == nullptr;
  installer.GenerateRandomPasswords();

  std::string problem = WriteAccounts();
  if (problem.empty())
    problem = WriteLoopcastScript();
  // The configuration comes last: with it in place the server can start, so
  // it is written only once everything it refers to is there.
  if (problem.empty())
    problem = WriteConfigFiles();
  if (!problem.empty())
    return problem;

  if (m_bAsked) {
    std::string path = FilePath(AnswersFile::kFileName);
    std::vector<std::string> skipped;
    if (AnswersFile::Write(path, installer, &skipped, &error)) {
      m_bAnswersWritten = true;
      for (const std::string& name : skipped) {
        UI().ShowMessage("Note: %s cannot be kept in %s and has been left out.\n", name.c_str(),
                         path.c_str());
      }
    } else {
      // The installation itself is complete; only the record of it is not.
      UI().ShowErrorMessage("Warning: Unable to write the installer answers (%s)\n", error.c_str());
    }
  }
  return std::string();
}

void SetupDriver::ShowSummary() {
  if (Silent())
    return;
  ServerInstaller& installer = Installer();
  const char* host = installer.m_szLocalHostName;
  if (host == nullptr || host[0] == '\0')
    host = "localhost";
  UI().ShowMessage("\n%s has been installed.\n", ServerVersion::FullProductName());
  UI().ShowMessage("    Installation directory:  %s\n", InstallDir().c_str());
  UI().ShowMessage("    Administration:          http://%s:%d/admin/\n", host,
                   installer.m_pPorts[kAdminPort].nPort);
  UI().ShowMessage("    Administrator:           %s\n", installer.m_szAdminUserID);
  if (m_bAdminPasswordGenerated)
    UI().ShowMessage("    Administrator password:  %s (generated)\n", installer.m_szAdminPassword);
  UI().ShowMessage("    Encoder account:         %s\n", installer.m_szEncoderUserID);
  if (m_bEncoderPasswordGenerated)
    UI().ShowMessage("    Encoder password:        %s (generated)\n",
                     installer.m_szEncoderPassword);
  UI().ShowMessage("    Configuration file:      %s\n",
                   FilePath(installer.m_szConfigFileName).c_str());
  if (m_bAnswersWritten) {
    UI().ShowMessage("    Installer answers:       %s\n", FilePath(AnswersFile::kFileName).c_str());
  }
  UI().ShowMessage("\n");
}

ConsoleUI& SetupDriver::UI() {
  return *m_pInstaller->m_pUI;
}

bool SetupDriver::Silent() const {
  return m_pInstaller->m_bSilentInstall != 0;
}

char* SetupDriver::OwnedText(const std::string& text) {
  char* copy = new char[text.size() + 1];
  memcpy(copy, text.c_str(), text.size() + 1);
  return m_pInstaller->AdoptText(copy);
}

std::string SetupDriver::InstallDir() const {
  const char* dir = m_pInstaller->m_szDefInstallPath;
  return dir != nullptr ? dir : std::string();
}

std::string SetupDriver::FilePath(const char* name) const {
  return PathInInstallDir(InstallDir(), name != nullptr ? name : "");
}

int SetupDriver::AskYesNo(const char* question, const char* defaultAnswer, const char* preamble) {
  for (;;) {
    Answer answer;
    answer.text = UI().PromptForItem(question, defaultAnswer, nullptr, preamble);
    if (answer.text == nullptr && InputHasEnded())
      return -1;
    const char* text = answer.text != nullptr ? answer.text : defaultAnswer;
    if (strcasecmp(text, "yes") == 0 || strcasecmp(text, "y") == 0)
      return 1;
    if (strcasecmp(text, "no") == 0 || strcasecmp(text, "n") == 0)
      return 0;
    UI().ShowErrorMessage("Please answer yes or no.\n");
    preamble = "";
  }
}

std::string SetupDriver::AskLicense(bool* accepted) {
  std::string license;
  // A package without a license has nothing to accept.
  if (!ReadWholeFile(m_sExtractDir + "/" + kLicenseFile, &license)) {
    *accepted = true;
    return std::string();
  }
  UI().ShowMessage("Please read the license agreement.\n");
  UI().FlushOutput();
  UI().DisplayText(license.c_str());
  int answer =
      AskYesNo("Do you accept the terms of the license agreement? (yes or no)", "no", "\n");
  if (answer < 0)
    return kInputEnded;
  *accepted = answer == 1;
  return std::string();
}

std::string SetupDriver::AskInstallDir() {
  const char* preamble = "\nWhere should the server be installed?\n";
  for (;;) {
    std::string current = InstallDir();
    Answer answer;
    answer.text = UI().PromptForItem("Installation directory", current.c_str(), nullptr, preamble);
    if (answer.text == nullptr && InputHasEnded())
      return kInputEnded;
    preamble = "";
    std::string dir = current;
    if (answer.text != nullptr)
      dir = ResolvePath(ExpandHome(answer.text), m_sStartDir);
    std::string problem;
    if (CheckInstallDir(dir, &problem) && IsSameOrInside(dir, m_sExtractDir))
      problem = "it lies inside the package's extraction directory";
    if (!problem.empty()) {
      UI().ShowErrorMessage("%s", InstallDirMessage(dir, problem).c_str());
      continue;
    }
    if (dir != current)
      Installer().m_szDefInstallPath = OwnedText(dir);
    return std::string();
  }
}

std::string SetupDriver::AskAccount(char** user, char** password, const char* message) {
  for (;;) {
    UI().PromptForUsernamePassword(user, password, message);
    // Whatever the dialogue handed out now lives in the settings.
    Installer().AdoptText(*user);
    Installer().AdoptText(*password);
    if (*password == nullptr)
      return kInputEnded;
    std::string why;
    if (!CheckUserName(*user, &why)) {
      UI().ShowErrorMessage("ERROR: \"%s\" is not a valid user name: %s\n",
                            ShownText(*user).c_str(), why.c_str());
      *user = nullptr;
      *password = nullptr;
      message = "";
      continue;
    }
    if (CheckPassword(*password, &why))
      return std::string();
    // The user name stays as the default of the next question.
    UI().ShowErrorMessage("ERROR: The password cannot go into the server's files: %s\n",
                          why.c_str());
    *password = nullptr;
    message = "";
  }
}

std::string SetupDriver::AskPort(int index) {
  ServerInstaller& installer = Installer();
  const char* service = ServerInstaller::g_pPortNames[index];
  std::string label = std::string(service) + " port";
  for (;;) {
    std::string current = std::to_string(installer.m_pPorts[index].nPort);
    Answer answer;
    answer.text = UI().PromptForItem(label.c_str(), current.c_str(), nullptr, "");
    if (answer.text == nullptr && InputHasEnded())
      return kInputEnded;
    const char* text = answer.text != nullptr ? answer.text : current.c_str();
    int port = 0;
    const char* holder = nullptr;
    if (!ServerInstaller::ValidPort(text, port)) {
      UI().ShowErrorMessage("ERROR: %s is not a valid port; enter a number from 1 to 65535.\n",
                            ShownText(text).c_str());
    } else if (installer.CheckDupePort(port, index, holder)) {
      UI().ShowErrorMessage("ERROR: Port %d is already the %s port; choose another for %s.\n", port,
                            holder, service);
    } else if (installer.PortInUse(port)) {
      UI().ShowErrorMessage("ERROR: Port %d is in use on this machine; choose another for %s.\n",
                            port, service);
    } else {
      installer.SetInstPort(index, port);
      return std::string();
    }
  }
}

std::string SetupDriver::WriteAccounts() {
  ServerInstaller& installer = Installer();
  {
    PrivateFiles privateFiles;
    installer.UpdatePasswordDatabases();
  }
  // The framework reports no failure of a single user file; an account that
  // is missing from a database could not log in.
  struct Entry {
    const char* database;
    const char* user;
    const char* password;
    const char* realm;
  };
  const Entry entries[] = {
      {"adm_b_db", installer.m_szAdminUserID, installer.m_szAdminPassword, nullptr},
      {"enc_r_db", installer.m_szEncoderUserID, installer.m_szEncoderPassword,
       installer.m_szEncoderRealm},
      {"enc_w_db", installer.m_szEncoderUserID, installer.m_szEncoderPassword,
       installer.m_szWMEncoderRealm},
      {"enc_b_db", installer.m_szEncoderUserID, installer.m_szEncoderPassword, nullptr},
      {"cdi_b_db", installer.m_szAdminUserID, installer.m_szAdminPassword, nullptr},
  };
  for (const Entry& entry : entries) {
    std::string credential = entry.password;
    if (entry.realm != nullptr && entry.realm[0] != '\0') {
      char digest[64];
      credential = PasswordTool::MakePasswordEntry(entry.user, entry.realm, entry.password, digest);
    }
    std::string path = FilePath(entry.database) + "/users/" + entry.user;
    std::string content;
    if (!ReadWholeFile(path, &content) || content != credential + ";*;1\n")
      return FormatText("ERROR: Unable to write the user file %s\n", path.c_str());
  }
  return std::string();
}

std::string SetupDriver::WriteLoopcastScript() {
  ServerInstaller& installer = Installer();
  installer.CreateLoopcastScript();
  std::string path = FilePath("Bin/loopcast.sh");
  std::string content;
  struct stat st;
  if (!ReadWholeFile(path, &content) ||
      content != NewInstallerIQLoopcastScript::CreateScriptFile(installer.m_szDefInstallPath) ||
      stat(path.c_str(), &st) != 0 || (st.st_mode & 0111) == 0)
    return FormatText("ERROR: Unable to write %s\n", path.c_str());
  return std::string();
}

std::string SetupDriver::WriteConfigFiles() {
  ServerInstaller& installer = Installer();
  const char* names[] = {installer.m_szConfigFileName, installer.m_szDefaultConfigFileName};
  {
    PrivateFiles privateFiles;
    for (const char* name : names) {
      // Made afresh under the private umask: an earlier file would keep its
      // mode, its owner and any other name it has, and a link of this name
      // would take the passwords to wherever it leads.
      std::string path = FilePath(name);
      if (remove(path.c_str()) != 0 && errno != ENOENT) {
        return FormatText("ERROR: Unable to replace the configuration file %s (%s)\n", path.c_str(),
                          ErrnoText(errno));
      }
      installer.CreateConfigFile(name);
    }
  }
  for (const char* name : names) {
    std::string path = FilePath(name);
    std::string content;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !ReadWholeFile(path, &content) ||
        installer.m_szConfigFileText == nullptr || content != installer.m_szConfigFileText)
      return FormatText("ERROR: Unable to write the configuration file %s\n", path.c_str());
    // A default ACL of the directory can grant what the umask withholds.
    if ((st.st_mode & 077) != 0 && chmod(path.c_str(), st.st_mode & 0700) != 0) {
      return FormatText(
          "ERROR: Unable to make the configuration file %s readable by its owner only (%s)\n",
          path.c_str(), ErrnoText(errno));
    }
  }
  return std::string();
}
