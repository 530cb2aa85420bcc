#ifndef STRATA_DRIVER_SETUPDRIVER_H_
#define STRATA_DRIVER_SETUPDRIVER_H_

#include <memory>
#include <string>

class ConsoleUI;
class ServerInstaller;
class SetupInstaller;

// The second-stage installer: one installation of the server product from
// the extraction directory that the package made, driven through one
// ServerInstaller. Interactive, it shows the license and asks for the
// directory, the two accounts and the six ports; unattended (silent, progress
// only, or so flagged by the defaults file) it takes every setting from the
// command line and the defaults file and stops at the first wrong one.
//
// Run ends the process: with 0 after a complete installation, with -1 (exit
// code 255) and a message that says what is wrong or what failed otherwise.
// Nothing in the installation directory is touched before every setting has
// been checked (and, interactively, confirmed).
class SetupDriver {
 public:
  SetupDriver();
  // Drives the given installer, which tests may derive from.
  explicit SetupDriver(std::unique_ptr<SetupInstaller> installer);
  ~SetupDriver();

  SetupDriver(const SetupDriver&) = delete;
  SetupDriver& operator=(const SetupDriver&) = delete;

  [[noreturn]] void Run(int argc, const char** argv);

  // The steps of Run, in their order; each that can fail returns "" or the
  // message to end with. Public so that tests can drive them.

  // The process must run in the extraction directory "qzsetup" that the
  // package made, whose content is about to be moved away: records it and
  // the directory above it, in which the package was started.
  std::string CheckWorkingDirectory();
  // Seeds random(), sets the defaults, applies the command line (which may
  // end the process) and makes the installation directory absolute against
  // the start directory.
  void Configure(int argc, const char** argv);
  bool IsUnattended() const;
  // Checks the directory, the accounts, the texts of the server
  // configuration and the ports of an unattended installation in that
  // order, confirming each good port.
  std::string CheckUnattendedSettings();
  // The dialogue: banner, license, directory, accounts, ports, confirmation.
  std::string AskInteractively();
  // Creates the directory, backs up, places the product's files and writes
  // the accounts, the loopcast script and the two configuration files (and,
  // after a dialogue, the answers file). Stops before the earlier
  // installation is changed when a product file has no room or when a name
  // of it cannot be moved aside (what did move is moved back); older
  // backups give way to the new ones.
  std::string Install();
  // What was installed, unless silent.
  void ShowSummary();

  ServerInstaller& Installer();
  const std::string& StartDirectory() const { return m_sStartDir; }
  const std::string& ExtractionDirectory() const { return m_sExtractDir; }

 private:
  // Cleans up and ends the process with status.
  [[noreturn]] void Finish(int status);
  ConsoleUI& UI();
  bool Silent() const;
  // A new copy of text that the installer owns.
  char* OwnedText(const std::string& text);
  std::string InstallDir() const;

  // 1 yes, 0 no, -1 when the input has ended.
  int AskYesNo(const char* question, const char* defaultAnswer, const char* preamble);
  std::string AskLicense(bool* accepted);
  std::string AskInstallDir();
  std::string AskAccount(char** user, char** password, const char* message);
  std::string AskPort(int index);
  std::string WriteAccounts();
  std::string WriteLoopcastScript();
  std::string WriteConfigFiles();
  std::string FilePath(const char* name) const;

  std::unique_ptr<SetupInstaller> m_pInstaller;
  std::string m_sExtractDir;
  std::string m_sStartDir;
  bool m_bAsked;
  bool m_bAdminPasswordGenerated;
  bool m_bEncoderPasswordGenerated;
  bool m_bAnswersWritten;
};

#endif  // STRATA_DRIVER_SETUPDRIVER_H_
