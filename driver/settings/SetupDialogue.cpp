#include "driver/settings/SetupDialogue.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

#include <iterator>

#include "common/FileIo.h"
#include "common/Format.h"
#include "common/ShownText.h"
#include "console/ConsoleUI.h"
#include "credentials/PasswordTool.h"
#include "driver/record/InstallManifest.h"
#include "driver/settings/InstallPath.h"
#include "driver/settings/PortProbe.h"
#include "driver/settings/SettingRules.h"
#include "driver/settings/SetupInstaller.h"
#include "installer/PasswordDatabases.h"
#include "product/ServerVersion.h"

namespace {

const char kLicenseFile[] = "License.txt";
const int kPortCount = static_cast<int>(std::size(ServerInstaller::g_pPortNames));

const char kInputEnded[] =
    "ERROR: The input ended before the installation was confirmed; nothing has been "
    "installed.\n";

bool InputHasEnded() {
  return feof(stdin) || ferror(stdin);
}

bool Fail(std::string* error, const std::string& message) {
  *error = message;
  return false;
}

// Owns an answer of the console that is not kept in the settings.
struct Answer {
  char* text = nullptr;
  ~Answer() { delete[] text; }
};

}  // namespace

SetupDialogue::SetupDialogue(SetupInstaller& installer, const std::string& startDir,
                             const std::string& extractDir)
    : m_installer(installer), m_sStartDir(startDir), m_sExtractDir(extractDir) {}

bool SetupDialogue::Ask(std::string* error) {
  UI().ShowMessage("%s\n\n", ServerInstaller::VersionBanner());
  // An installation where the directory question would point: it is said
  // at once, and its directory is the default.
  InstallManifest earlier;
  if (LookForInstallation(m_installer.InstallDir(), &earlier) && !Given("DefInstallPath") &&
      !earlier.installDir.empty() && earlier.installDir != m_installer.InstallDir()) {
    InstallManifest there;
    std::string ignored;
    // Only a directory whose own record it is.
    if (there.Read(earlier.installDir, &ignored) && there.installDir == earlier.installDir)
      m_installer.m_szDefInstallPath = m_installer.OwnedText(earlier.installDir);
  }

  // These come from a defaults file, not from the dialogue: asking the rest
  // first would be in vain.
  if (!CheckConfigTexts(m_installer, error))
    return false;

  if (!m_sSourceProblems.empty()) {
    UI().ShowErrorMessage("%s", m_sSourceProblems.c_str());
    bool goOn = false;
    if (!AskYesNo("Go on with the installation anyway? (yes or no)", "no", "", &goOn, error))
      return false;
    if (!goOn)
      return Fail(error, "Installation cancelled; nothing has been installed.\n");
  }

  bool accepted = false;
  if (!AskLicense(&accepted, error))
    return false;
  if (!accepted)
    return Fail(error, "The license agreement was not accepted; nothing has been installed.\n");

  if (!AskInstallDir(error))
    return false;
  m_bEarlier = LookForInstallation(m_installer.InstallDir(), &earlier);
  if (m_bEarlier)
    TakeRecordedDefaults(earlier);
  if (!AskAccount(&m_installer.m_szAdminUserID, &m_installer.m_szAdminPassword,
                  "\nThe administrator account manages the server through its web pages.\n",
                  kAdminPlainDatabase, error))
    return false;
  if (!AskAccount(&m_installer.m_szEncoderUserID, &m_installer.m_szEncoderPassword,
                  "\nThe encoder account lets live encoders broadcast to the server.\n",
                  kEncoderPlainDatabase, error))
    return false;

  UI().ShowMessage("\nThe server listens on six ports; press Enter to keep the one shown.\n");
  for (int i = 0; i < kPortCount; ++i) {
    if (!AskPort(i, error))
      return false;
  }
  return m_bCheckOnly || Confirm(error);
}

ConsoleUI& SetupDialogue::UI() {
  return *m_installer.m_pUI;
}

bool SetupDialogue::AskYesNo(const char* question, const char* defaultAnswer, const char* preamble,
                             bool* yes, std::string* error) {
  for (;;) {
    Answer answer;
    answer.text = UI().PromptForItem(question, defaultAnswer, nullptr, preamble);
    if (answer.text == nullptr && InputHasEnded())
      return Fail(error, kInputEnded);
    const char* text = answer.text != nullptr ? answer.text : defaultAnswer;
    if (strcasecmp(text, "yes") == 0 || strcasecmp(text, "y") == 0) {
      *yes = true;
      return true;
    }
    if (strcasecmp(text, "no") == 0 || strcasecmp(text, "n") == 0) {
      *yes = false;
      return true;
    }
    UI().ShowErrorMessage("Please answer yes or no.\n");
    preamble = "";
  }
}

bool SetupDialogue::AskLicense(bool* accepted, std::string* error) {
  std::string license;
  std::string unread;
  // A package without a license has nothing to accept.
  if (!ReadWholeFile(m_sExtractDir + "/" + kLicenseFile, &license, &unread)) {
    *accepted = true;
    return true;
  }
  UI().ShowMessage("Please read the license agreement.\n");
  UI().FlushOutput();
  UI().DisplayText(license.c_str());
  return AskYesNo("Do you accept the terms of the license agreement? (yes or no)", "no", "\n",
                  accepted, error);
}

bool SetupDialogue::AskInstallDir(std::string* error) {
  const char* preamble = "\nWhere should the server be installed?\n";
  for (;;) {
    std::string current = m_installer.InstallDir();
    Answer answer;
    answer.text = UI().PromptForItem("Installation directory", current.c_str(), nullptr, preamble);
    if (answer.text == nullptr && InputHasEnded())
      return Fail(error, kInputEnded);
    preamble = "";
    std::string dir = current;
    if (answer.text != nullptr)
      dir = ResolvePath(ExpandHome(answer.text), m_sStartDir);
    std::string why;
    bool usable = CheckInstallDir(dir, &why);
    if (usable && IsSameOrInside(dir, m_sExtractDir)) {
      usable = false;
      why = "it lies inside the package's extraction directory";
    }
    if (!usable) {
      UI().ShowErrorMessage("%s", InstallDirMessage(dir, why).c_str());
      continue;
    }
    if (dir != current)
      m_installer.m_szDefInstallPath = m_installer.OwnedText(dir);
    return true;
  }
}

bool SetupDialogue::LookForInstallation(const std::string& dir, InstallManifest* found) {
  std::string ignored;
  if (dir.empty() || !found->Read(dir, &ignored))
    return false;
  if (dir != m_sAnnounced) {
    m_sAnnounced = dir;
    UI().ShowMessage(
        "An installation of version %s from package %s is there: %s\n"
        "Press Enter at each question to keep what it has.\n\n",
        ShownText(found->version.empty() ? "unknown" : found->version).c_str(),
        ShownText(found->packageDigest).c_str(), ShownText(dir).c_str());
  }
  return true;
}

bool SetupDialogue::Given(const char* name) const {
  for (const std::string& given : m_given) {
    if (strcasecmp(given.c_str(), name) == 0)
      return true;
  }
  return false;
}

void SetupDialogue::TakeRecordedDefaults(const InstallManifest& earlier) {
  if (!Given("AdminUserID") && !earlier.adminUser.empty())
    m_installer.m_szAdminUserID = m_installer.OwnedText(earlier.adminUser);
  if (!Given("EncoderUserID") && !earlier.encoderUser.empty())
    m_installer.m_szEncoderUserID = m_installer.OwnedText(earlier.encoderUser);
  static const char* const kPortNames[] = {"MonitorPort", "RTSPPort", "VQXPort",
                                           "HTTPPort",    "MMSPort",  "AdminPort"};
  for (int i = 0; i < kPortCount; ++i) {
    // The default of the question only: each port is still checked and
    // confirmed as it is asked.
    if (!Given(kPortNames[i]) && earlier.ports[i] != 0)
      m_installer.m_pPorts[i].nPort = earlier.ports[i];
  }
}

bool SetupDialogue::AskAccount(char** user, char** password, const char* message,
                               const char* database, std::string* error) {
  if (m_bEarlier && *password == nullptr) {
    UI().ShowMessage(message);
    return AskAccountAgain(user, password, database, error);
  }
  for (;;) {
    UI().PromptForUsernamePassword(user, password, message);
    // Whatever the dialogue handed out now lives in the settings.
    m_installer.AdoptText(*user);
    m_installer.AdoptText(*password);
    if (*password == nullptr)
      return Fail(error, kInputEnded);
    std::string why;
    if (!CheckUserName(*user, &why)) {
      UI().ShowErrorMessage("ERROR: \"%s\" is not a valid user name: %s\n",
                            ShownValue(*user).c_str(), why.c_str());
      *user = nullptr;
      *password = nullptr;
      message = "";
      continue;
    }
    if (CheckPassword(*password, &why))
      return true;
    // The user name stays as the default of the next question.
    UI().ShowErrorMessage("ERROR: The password cannot go into the server's files: %s\n",
                          why.c_str());
    *password = nullptr;
    message = "";
  }
}

bool SetupDialogue::AskAccountAgain(char** user, char** password, const char* database,
                                    std::string* error) {
  for (;;) {
    Answer answer;
    answer.text = UI().PromptForItem("Username", *user, nullptr, "");
    if (answer.text == nullptr && InputHasEnded())
      return Fail(error, kInputEnded);
    if (answer.text != nullptr)
      *user = m_installer.OwnedText(answer.text);
    if (*user == nullptr || (*user)[0] == '\0') {
      UI().ShowErrorMessage("Username not specified!\n");
      continue;
    }
    std::string why;
    if (!CheckUserName(*user, &why)) {
      UI().ShowErrorMessage("ERROR: \"%s\" is not a valid user name: %s\n",
                            ShownValue(*user).c_str(), why.c_str());
      *user = nullptr;
      continue;
    }
    struct stat st;
    bool exists =
        lstat(m_installer.FilePath((std::string(database) + "/users/" + *user).c_str()).c_str(),
              &st) == 0;
    return AskNewPassword(*user, exists, password, error);
  }
}

bool SetupDialogue::AskNewPassword(const char* user, bool mayKeep, char** password,
                                   std::string* error) {
  const char* label = mayKeep ? "Password (Enter keeps the existing one)" : "Password";
  for (;;) {
    UI().SetEchoOff();
    Answer first;
    first.text = UI().PromptForItem(label, "", nullptr, "");
    UI().ShowMessage("\n");
    if (first.text == nullptr) {
      UI().SetEchoOn();
      if (InputHasEnded())
        return Fail(error, kInputEnded);
      if (mayKeep) {
        UI().ShowMessage("The existing password of %s is kept.\n", ShownValue(user).c_str());
        *password = nullptr;
        return true;
      }
      UI().ShowErrorMessage("Invalid password entered, try again.\n");
      continue;
    }
    if (!PasswordTool::PasswordIsOK(user, first.text)) {
      UI().SetEchoOn();
      UI().ShowErrorMessage("Invalid password entered, try again.\n");
      continue;
    }
    Answer confirmation;
    confirmation.text = UI().PromptForItem("Confirm Password", "", nullptr, "");
    UI().ShowMessage("\n");
    UI().SetEchoOn();
    if (confirmation.text == nullptr && InputHasEnded())
      return Fail(error, kInputEnded);
    if (confirmation.text == nullptr || strcmp(first.text, confirmation.text) != 0) {
      UI().ShowErrorMessage("Passwords don't match!\n");
      continue;
    }
    std::string why;
    if (!CheckPassword(first.text, &why)) {
      UI().ShowErrorMessage("ERROR: The password cannot go into the server's files: %s\n",
                            why.c_str());
      continue;
    }
    *password = m_installer.OwnedText(first.text);
    return true;
  }
}

bool SetupDialogue::AskPort(int index, std::string* error) {
  const char* service = ServerInstaller::g_pPortNames[index];
  std::string label = std::string(service) + " port";
  for (;;) {
    std::string current = std::to_string(m_installer.m_pPorts[index].nPort);
    Answer answer;
    answer.text = UI().PromptForItem(label.c_str(), current.c_str(), nullptr, "");
    if (answer.text == nullptr && InputHasEnded())
      return Fail(error, kInputEnded);
    const char* text = answer.text != nullptr ? answer.text : current.c_str();
    int port = 0;
    const char* holder = nullptr;
    if (!ServerInstaller::ValidPort(text, port)) {
      UI().ShowErrorMessage("ERROR: %s is not a valid port; enter a number from 1 to 65535.\n",
                            ShownText(text).c_str());
    } else if (m_installer.CheckDupePort(port, index, holder)) {
      UI().ShowErrorMessage("ERROR: Port %d is already the %s port; choose another for %s.\n", port,
                            holder, service);
    } else if (PortTakenByAnother(m_installer, m_installer.InstallDir(), index, port)) {
      UI().ShowErrorMessage("ERROR: Port %d is in use on this machine; choose another for %s.\n",
                            port, service);
    } else {
      std::string warning = PrivilegedPortWarning(index, port);
      bool keep = true;
      if (!warning.empty()) {
        UI().ShowErrorMessage("%s", warning.c_str());
        std::string question = FormatText("Use port %d for %s anyway? (yes or no)", port, service);
        if (!AskYesNo(question.c_str(), "no", "", &keep, error))
          return false;
      }
      if (keep) {
        m_installer.SetInstPort(index, port);
        return true;
      }
    }
  }
}

bool SetupDialogue::Confirm(std::string* error) {
  std::string ports;
  for (int i = 0; i < kPortCount; ++i) {
    ports += FormatText("%s%s %d", i == 0 ? "" : ", ", ServerInstaller::g_pPortNames[i],
                        m_installer.m_pPorts[i].nPort);
  }
  UI().ShowMessage("\nReady to install %s:\n", ServerVersion::FullProductName());
  UI().ShowMessage("    Installation directory:  %s\n", m_installer.InstallDir().c_str());
  UI().ShowMessage("    Administrator:           %s\n", m_installer.m_szAdminUserID);
  UI().ShowMessage("    Encoder account:         %s\n", m_installer.m_szEncoderUserID);
  UI().ShowMessage("    Ports:                   %s\n", ports.c_str());
  UI().ShowMessage("    Earlier files:           %s\n",
                   m_installer.m_bBackupOldFiles ? "kept under .old names" : "replaced");
  bool confirmed = false;
  if (!AskYesNo("Install now? (yes or no)", "yes", "\n", &confirmed, error))
    return false;
  if (!confirmed)
    return Fail(error, "Installation cancelled; nothing has been installed.\n");
  return true;
}
