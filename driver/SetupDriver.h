#ifndef STRATA_DRIVER_SETUPDRIVER_H_
#define STRATA_DRIVER_SETUPDRIVER_H_

#include <memory>
#include <string>
#include <vector>

class ConsoleUI;
class ServerInstaller;
class SetupInstaller;

// The second-stage installer: one installation of the server product from
// the extraction directory that the package made, driven through one
// ServerInstaller. Interactive, it shows the license and asks for the
// directory, the two accounts and the six ports (driver/SetupDialogue.h);
// unattended (silent, progress only, or so flagged by the defaults file) it
// takes every setting from the command line and the defaults file and stops
// at the first wrong one.
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

  // The steps of Run, in their order; each that can fail returns true, or
  // false with the message to end with in *error. Public so that tests can
  // drive them.

  // The process must run in the extraction directory "qzsetup" that the
  // package made, whose content is about to be moved away: records it and
  // the directory above it, in which the package was started.
  bool CheckWorkingDirectory(std::string* error);
  // Seeds random(), sets the defaults, applies the command line (which may
  // end the process), notes what the framework let pass in the command line
  // and its defaults files (driver/CommandLineCheck.h) and makes the
  // installation directory absolute against the start directory.
  void Configure(int argc, const char** argv);
  bool IsUnattended() const;
  // Refuses whatever Configure noted in the command line and the defaults
  // files, then checks the directory, the accounts, the texts of the server
  // configuration and the ports of an unattended installation in that
  // order, confirming each good port.
  bool CheckUnattendedSettings(std::string* error);
  // The dialogue, up to the user's confirmation.
  bool AskInteractively(std::string* error);
  // The installation itself (driver/InstallSteps.h), with the answers file
  // after a dialogue.
  bool Install(std::string* error);
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

  std::unique_ptr<SetupInstaller> m_pInstaller;
  std::string m_sExtractDir;
  std::string m_sStartDir;
  // The messages about the command line and the defaults files, if any.
  std::string m_sSourceProblems;
  bool m_bAsked;
  bool m_bAdminPasswordGenerated;
  bool m_bEncoderPasswordGenerated;
  bool m_bAdminPasswordKept;
  bool m_bEncoderPasswordKept;
  std::vector<std::string> m_otherAdmins;
  bool m_bAnswersWritten;
};

#endif  // STRATA_DRIVER_SETUPDRIVER_H_
