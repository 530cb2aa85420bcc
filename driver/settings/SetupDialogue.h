#ifndef STRATA_DRIVER_SETTINGS_SETUPDIALOGUE_H_
#define STRATA_DRIVER_SETTINGS_SETUPDIALOGUE_H_

#include <string>
#include <vector>

class ConsoleUI;
class InstallManifest;
class SetupInstaller;

// The dialogue of an interactive installation on the installer's console:
// the banner, the license, the installation directory, the two accounts, the
// six ports and a last confirmation. A wrong answer is refused and asked for
// again; each good one goes into the installer's settings (and its text into
// the installer's ownership) at once. Nothing is written to disk.
//
// Where an installation is recorded already (install-manifest.txt), the
// dialogue says so, and its directory, user names and ports are the
// defaults of the questions (but where a defaults file set them), so that
// Enter keeps each; for an account that exists, an empty password keeps the
// account's password.
class SetupDialogue {
 public:
  // startDir: what a relative directory is taken from; extractDir: the
  // package's files, the license among them.
  SetupDialogue(SetupInstaller& installer, const std::string& startDir,
                const std::string& extractDir);

  SetupDialogue(const SetupDialogue&) = delete;
  SetupDialogue& operator=(const SetupDialogue&) = delete;

  // Problems of the command line and the defaults files, one message line
  // each: shown before the license, with the question whether to go on.
  void SetSourceProblems(const std::string& problems) { m_sSourceProblems = problems; }
  // Checking only: the dialogue ends after the last question, without the
  // summary that asks to install.
  void SetCheckOnly(bool checkOnly) { m_bCheckOnly = checkOnly; }
  // The names of the settings that a defaults file set (any case): an
  // earlier installation's values do not replace them.
  void SetGivenNames(const std::vector<std::string>& names) { m_given = names; }

  // True once the user has confirmed the installation; otherwise false with
  // the message to end with: a realm from a defaults file that the server's
  // files cannot hold (found before the first question), the license
  // declined, the installation cancelled, or the input ended.
  bool Ask(std::string* error);

 private:
  ConsoleUI& UI();
  // *yes for yes; false with *error when the input has ended.
  bool AskYesNo(const char* question, const char* defaultAnswer, const char* preamble, bool* yes,
                std::string* error);
  bool AskLicense(bool* accepted, std::string* error);
  bool AskInstallDir(std::string* error);
  bool AskAccount(char** user, char** password, const char* message, const char* database,
                  std::string* error);
  // On a rerun: the user name, then a password that Enter leaves unset
  // when the account exists (the installation then keeps its password).
  bool AskAccountAgain(char** user, char** password, const char* database, std::string* error);
  bool AskNewPassword(const char* user, bool mayKeep, char** password, std::string* error);
  // Reads the record in dir, and says what it found when it is not the one
  // said already: true when there is one.
  bool LookForInstallation(const std::string& dir, InstallManifest* found);
  // The recorded user names and ports as the defaults, but those given.
  void TakeRecordedDefaults(const InstallManifest& earlier);
  bool Given(const char* name) const;
  bool AskPort(int index, std::string* error);
  bool Confirm(std::string* error);

  SetupInstaller& m_installer;
  std::string m_sStartDir;
  std::string m_sExtractDir;
  std::string m_sSourceProblems;
  bool m_bCheckOnly = false;
  std::vector<std::string> m_given;
  // The directory whose installation the dialogue has announced, and
  // whether the chosen directory holds one.
  std::string m_sAnnounced;
  bool m_bEarlier = false;
};

#endif  // STRATA_DRIVER_SETTINGS_SETUPDIALOGUE_H_
