#ifndef STRATA_DRIVER_SETUPDRIVER_H_
#define STRATA_DRIVER_SETUPDRIVER_H_

#include <memory>
#include <string>
#include <vector>

#include "driver/installation/InstallSteps.h"

class ConsoleUI;
class InstallationPlan;
class ServerInstaller;
class SetupInstaller;

// The second-stage installer: one installation of the server product from
// the extraction directory that the package made, driven through one
// ServerInstaller. Interactive, it shows the license and asks for the
// directory, the two accounts and the six ports
// (driver/settings/SetupDialogue.h); unattended (silent, progress only, or so
// flagged by the defaults file) it takes every setting from the command line
// and the defaults file and stops at the first wrong one. Interactive, it
// also asks, once the new configuration is staged, whether to keep each
// configuration file that the administrator changed or to take the new one
// (driver/settings/ChangedConfigQuestion.h).
//
// setup's own options (driver/settings/SetupOptions.h) come out of the command
// line first: --help prints the help and changes nothing; --check runs every
// check and shows the plan (driver/installation/InstallationPlan.h) ending with
// a line "Check: VERDICT", and installs nothing; the same installation found
// again changes nothing but its record's date unless --reinstall is given.
//
// Run ends the process: with 0 after a complete installation, a check that
// found nothing in the way, or nothing to do; with -1 (exit code 255) and a
// message that says what is wrong or what failed otherwise. Nothing in the
// installation directory is touched before every setting has been checked
// (and, interactively, confirmed).
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
  // and its defaults files (driver/settings/CommandLineCheck.h) and makes the
  // installation directory absolute against the start directory.
  void Configure(int argc, const char** argv);
  bool IsUnattended() const;
  // Check only (--check), install again over the same installation
  // (--reinstall).
  void SetCheckOnly(bool checkOnly) { m_bCheckOnly = checkOnly; }
  void SetReinstall(bool reinstall) { m_bReinstall = reinstall; }
  // Whether the new configuration files replace those the administrator
  // changed (--take-new-config).
  void SetTakeNewConfig(bool take) { m_bTakeNewConfig = take; }
  // The package's digest as the launcher passed it, "unknown" without one.
  static std::string PackageDigest();
  // Refuses whatever Configure noted in the command line and the defaults
  // files, then checks the directory, the accounts, the texts of the server
  // configuration and the ports of an unattended installation in that
  // order, confirming each good port.
  bool CheckUnattendedSettings(std::string* error);
  // The dialogue, up to the user's confirmation (or, checking only, up to
  // the last question).
  bool AskInteractively(std::string* error);
  // The installation directory's real path, its lock
  // (driver/journal/InstallationLock.h) and the recovery of what a run that
  // stopped left there (driver/journal/Recovery.h; a check only says what it
  // would do): true, or false with the message to end with. Once a
  // directory is locked, again for it changes nothing. adopt: the real path
  // becomes the installation directory's setting.
  bool TakeInstallation(bool adopt, std::string* error);
  // What must hold before anything changes (driver/installation/InstallSteps.h) and what
  // the installation would do; the passwords of existing accounts are
  // taken into the settings.
  bool Assess(std::string* error);
  // The plan and the last line "Check: VERDICT" (only that line when
  // silent).
  void ShowPlan();
  // The verdict of Assess.
  bool NothingToDo() const;
  // For the same installation: its record's date renewed.
  bool RenewRecord(std::string* error);
  // The plan of Assess carried out (driver/installation/InstallSteps.h),
  // with the answers file after a dialogue. Runs only after Assess.
  bool Install(std::string* error);
  // What was installed, unless silent.
  void ShowSummary();
  // The help, printed; ends the process with 0 (removing the extraction
  // directory only when setup runs in one).
  [[noreturn]] void ShowHelp();

  ServerInstaller& Installer();
  const std::string& StartDirectory() const { return m_sStartDir; }

 private:
  // Appends what the installation did to its log; a failure is a warning.
  void LogInstallation();
  // Cleans up and ends the process with status.
  [[noreturn]] void Finish(int status);
  ConsoleUI& UI();
  bool Silent() const;

  std::unique_ptr<SetupInstaller> m_pInstaller;
  std::string m_sExtractDir;
  std::string m_sStartDir;
  // The messages about the command line and the defaults files, if any.
  std::string m_sSourceProblems;
  // Why Configure could not take the installation directory.
  std::string m_sTakeError;
  // The installation directory with its links resolved.
  std::string m_sRealInstallDir;
  bool m_bAsked;
  bool m_bCheckOnly;
  bool m_bReinstall;
  bool m_bTakeNewConfig = false;
  // Whether a defaults file set the Admin port: otherwise an earlier
  // installation's port stands rather than a new draw.
  bool m_bAdminPortGiven;
  // Whether an earlier installation's record gave it instead.
  bool m_bAdminPortRecorded;
  // The settings that a defaults file set, by their names.
  std::vector<std::string> m_givenNames;
  std::unique_ptr<InstallSteps> m_pSteps;
  std::unique_ptr<InstallationPlan> m_pPlan;
  // What Install did.
  InstallOutcome m_outcome;
};

#endif  // STRATA_DRIVER_SETUPDRIVER_H_
