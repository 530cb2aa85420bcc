#ifndef STRATA_DRIVER_SETTINGS_SETUPDIALOGUE_H_
#define STRATA_DRIVER_SETTINGS_SETUPDIALOGUE_H_

#include <string>

class ConsoleUI;
class SetupInstaller;

// The dialogue of an interactive installation on the installer's console:
// the banner, the license, the installation directory, the two accounts, the
// six ports and a last confirmation. A wrong answer is refused and asked for
// again; each good one goes into the installer's settings (and its text into
// the installer's ownership) at once. Nothing is written to disk.
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
  bool AskAccount(char** user, char** password, const char* message, std::string* error);
  bool AskPort(int index, std::string* error);
  bool Confirm(std::string* error);

  SetupInstaller& m_installer;
  std::string m_sStartDir;
  std::string m_sExtractDir;
  std::string m_sSourceProblems;
  bool m_bCheckOnly = false;
};

#endif  // STRATA_DRIVER_SETTINGS_SETUPDIALOGUE_H_
