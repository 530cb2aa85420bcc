#include "driver/SetupDriver.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include <utility>

#include "common/CurrentDirectory.h"
#include "common/Format.h"
#include "common/Path.h"
#include "common/SecondStageHandover.h"
#include "common/ShownText.h"
#include "common/SignalCleanup.h"
#include "common/SystemError.h"
#include "console/ConsoleUI.h"
#include "driver/installation/InstallSteps.h"
#include "driver/installation/InstallationPlan.h"
#include "driver/journal/InstallationLock.h"
#include "driver/journal/Recovery.h"
#include "driver/record/InstallLog.h"
#include "driver/record/InstallManifest.h"
#include "driver/settings/AnswersFile.h"
#include "driver/settings/CommandLineCheck.h"
#include "driver/settings/InstallPath.h"
#include "driver/settings/InterruptCleanup.h"
#include "driver/settings/RandomSeed.h"
#include "driver/settings/SettingRules.h"
#include "driver/settings/SetupDialogue.h"
#include "driver/settings/SetupHelp.h"
#include "driver/settings/SetupInstaller.h"
#include "driver/settings/SetupOptions.h"
#include "installer/ServerInstaller.h"
#include "product/ServerVersion.h"

namespace {

const int kAdminPort = 5;

}  // namespace

SetupDriver::SetupDriver() : SetupDriver(std::unique_ptr<SetupInstaller>(new SetupInstaller)) {}

SetupDriver::SetupDriver(std::unique_ptr<SetupInstaller> installer)
    : m_pInstaller(std::move(installer)),
      m_bAsked(false),
      m_bCheckOnly(false),
      m_bReinstall(false),
      m_bAdminPortGiven(false),
      m_bAdminPortRecorded(false) {}

SetupDriver::~SetupDriver() {}

ServerInstaller& SetupDriver::Installer() {
  return *m_pInstaller;
}

void SetupDriver::Run(int argc, const char** argv) {
  SetupOptions options(argc, argv);
  if (options.Help())
    ShowHelp();
  std::string error;
  if (!CheckWorkingDirectory(&error)) {
    // Without an extraction directory there is nothing to install, and the
    // framework's clean-up would remove things that are not its own.
    fputs(error.c_str(), stdout);
    fflush(nullptr);
    exit(-1);
  }
  // From here a signal that ends setup leaves nothing of the package.
  InstallInterruptCleanup(m_sExtractDir);
  SetCheckOnly(options.Check());
  SetReinstall(options.Reinstall());
  SetTakeNewConfig(options.TakeNewConfig());
  Configure(options.Argc(), options.Argv());
  if (!m_sTakeError.empty()) {
    UI().ShowErrorMessage("%s", m_sTakeError.c_str());
    Finish(-1);
  }
  bool ready = IsUnattended() ? CheckUnattendedSettings(&error) : AskInteractively(&error);
  ready = ready && Assess(&error);
  if (ready && m_bCheckOnly) {
    ShowPlan();
    // The verdict stays the last line: the clean-up goes without a word.
    m_pInstaller->m_bSilentInstall = 1;
    Finish(0);
  }
  if (ready && NothingToDo()) {
    if (!RenewRecord(&error)) {
      UI().ShowErrorMessage("%s", error.c_str());
      Finish(-1);
    }
    if (!Silent()) {
      UI().ShowMessage("\n%s in %s: already installed, nothing to do.\n",
                       ServerVersion::FullProductName(), m_pInstaller->InstallDir().c_str());
    }
    Finish(0);
  }
  if (!ready || !Install(&error)) {
    // A failure is reported even in a silent installation: an exit status
    // alone would not say what to put right. Names in it may come from the
    // package or the directory: no control character reaches the terminal.
    UI().ShowErrorMessage("%s", ShownLines(error).c_str());
    UI().FlushOutput();
    Finish(-1);
  }
  ShowSummary();
  Finish(0);
}

void SetupDriver::ShowHelp() {
  fputs(SetupHelpText(Installer()).c_str(), stdout);
  fflush(nullptr);
  std::string ignored;
  // Run by hand anywhere else, the help leaves everything as it was.
  if (!CheckWorkingDirectory(&ignored))
    exit(0);
  Finish(0);
}

std::string SetupDriver::PackageDigest() {
  const char* digest = getenv(kPackageDigestVariable);
  return digest != nullptr && digest[0] != '\0' ? digest : "unknown";
}

void SetupDriver::Finish(int status) {
  // A signal held off since the switch ends the process now, after what
  // was done has been shown (and written out: the signal's end does not
  // flush the output).
  fflush(nullptr);
  ReleaseCleanupSignals();
  Installer().CleanUpAndExit(status, Installer().m_pUI);
  // Reached only if a derived installer's clean-up returned.
  exit(status);
}

bool SetupDriver::CheckWorkingDirectory(std::string* error) {
  std::string dir;
  if (!CurrentDirectory(&dir)) {
    *error =
        FormatText("ERROR: Unable to determine the current directory (%s)\n", ErrnoText(errno));
    return false;
  }
  if (BaseNameOf(dir) != kExtractionDirName) {
    *error = FormatText(
        "ERROR: setup installs from the extraction directory \"%s\" of an installation "
        "package; run the package instead.\n",
        kExtractionDirName);
    return false;
  }
  m_sExtractDir = dir;
  m_sStartDir = DirectoryOf(dir);
  return true;
}

void SetupDriver::Configure(int argc, const char** argv) {
  SeedRandomGenerator();
  Installer().SetDefaults();
  Installer().ParseCmdLine(argc, argv);
  // The framework goes on past these with a report or none; what to do
  // about them is decided once it is known whether anyone can be asked.
  CommandLineCheck check(Installer());
  check.Check(argc, argv, m_sStartDir);
  m_sSourceProblems.clear();
  for (const std::string& problem : check.Problems())
    m_sSourceProblems += problem;
  m_bAdminPortGiven = check.SetsName("AdminPort");
  m_givenNames.clear();
  for (const ServerInstaller::InstCfgItem& item : Installer().DefaultsFileItems()) {
    if (item.szName != nullptr && check.SetsName(item.szName))
      m_givenNames.push_back(item.szName);
  }
  // A relative directory would mean the extraction directory to the
  // operations that change into it and its parent to the clean-up: it is
  // taken once, from where the user started the package.
  const char* given = Installer().m_szDefInstallPath;
  std::string resolved = ResolvePath(given != nullptr ? given : "", m_sStartDir);
  if (given == nullptr || resolved != given)
    Installer().m_szDefInstallPath = m_pInstaller->OwnedText(resolved);
  // The lock and recovery come before the record is read: a run that
  // stopped may have left the record aside.
  m_sTakeError.clear();
  if (!TakeInstallation(false, &m_sTakeError))
    return;
  resolved = m_sRealInstallDir;
  // A new draw would move the administration pages at every rerun.
  InstallManifest earlier;
  std::string ignored;
  m_bAdminPortRecorded = !m_bAdminPortGiven && earlier.Read(resolved, &ignored);
  if (m_bAdminPortRecorded)
    Installer().m_pPorts[kAdminPort].nPort = earlier.ports[kAdminPort];
}

bool SetupDriver::IsUnattended() const {
  return m_pInstaller->m_bSilentInstall || m_pInstaller->m_bNonInteractiveInstall;
}

bool SetupDriver::CheckUnattendedSettings(std::string* error) {
  // Nobody can be asked whether a guess will do.
  if (!m_sSourceProblems.empty()) {
    *error = m_sSourceProblems;
    return false;
  }
  std::string dir = m_pInstaller->InstallDir();
  std::string why;
  if (!CheckInstallDir(dir, &why)) {
    *error = InstallDirMessage(dir, why);
    return false;
  }
  if (!CheckAccountSettings(Installer(), error) || !CheckConfigTexts(Installer(), error) ||
      !ConfirmPortSettings(Installer(), error))
    return false;
  if (!Silent()) {
    for (const std::string& warning : PrivilegedPortWarnings(Installer()))
      UI().ShowErrorMessage("%s", warning.c_str());
  }
  return true;
}

bool SetupDriver::AskInteractively(std::string* error) {
  m_bAsked = true;
  SetupDialogue dialogue(*m_pInstaller, m_sStartDir, m_sExtractDir);
  dialogue.SetSourceProblems(m_sSourceProblems);
  dialogue.SetCheckOnly(m_bCheckOnly);
  dialogue.SetGivenNames(m_givenNames);
  return dialogue.Ask(error);
}

bool SetupDriver::TakeInstallation(bool adopt, std::string* error) {
  // Its real path: a link given as the directory is resolved once, so that
  // the record names the directory every later run finds. The settings are
  // checked, and refused, by the name the user gave.
  std::string dir = CanonicalPath(m_pInstaller->InstallDir());
  if (dir.empty())
    dir = m_pInstaller->InstallDir();
  if (adopt && dir != m_pInstaller->InstallDir())
    Installer().m_szDefInstallPath = m_pInstaller->OwnedText(dir);
  m_sRealInstallDir = dir;
  if (dir.empty() || InstallationLock::LockedDirectory() == dir)
    return true;
  std::string why;
  if (!InstallationLock::Acquire(dir, InstallationLock::kWaitSeconds, &why)) {
    *error = "ERROR: " + why + "\n";
    return false;
  }
  Recovery recovery(dir);
  if (!recovery.Inspect(&why)) {
    *error = "ERROR: " + why + "\n";
    return false;
  }
  if (!recovery.Needed())
    return true;
  std::vector<std::string> lines;
  if (m_bCheckOnly) {
    lines = recovery.Describe(true);
  } else if (!recovery.Run(&lines, &why)) {
    *error = "ERROR: Unable to recover the installation: " + why + "\n";
    return false;
  }
  if (!Silent()) {
    for (const std::string& line : lines)
      UI().ShowMessage("%s\n", line.c_str());
    UI().FlushOutput();
  }
  return true;
}

bool SetupDriver::Assess(std::string* error) {
  // The dialogue may have chosen another directory.
  if (!TakeInstallation(true, error))
    return false;
  m_pSteps.reset(new InstallSteps(*m_pInstaller, m_sExtractDir));
  // The checks take the passwords an earlier installation keeps into the
  // settings, which the plan then compares with the accounts.
  if (!m_pSteps->Check(m_bAsked, error))
    return false;
  m_pPlan.reset(new InstallationPlan(*m_pInstaller, PackageDigest(), m_bReinstall));
  // The port drawn for this run is not the one a later run draws: a check
  // does not name it.
  m_pPlan->SetAdminPortDrawn(m_bCheckOnly && !m_bAsked && !m_bAdminPortGiven &&
                             !m_bAdminPortRecorded);
  m_pPlan->SetTakeNewConfig(m_bTakeNewConfig);
  if (!m_pPlan->Assess(error))
    return false;
  // What is already there needs neither places nor room.
  return NothingToDo() || (m_pSteps->CheckPlaces(error) && m_pSteps->CheckRoom(error));
}

void SetupDriver::ShowPlan() {
  if (!Silent()) {
    UI().ShowMessage("\n%s", m_pPlan->Describe().c_str());
    if (!NothingToDo()) {
      UI().ShowMessage("    %-25s%llu KiB needed, %llu KiB available\n", "Room:",
                       static_cast<unsigned long long>((m_pSteps->NeededBytes() + 1023) / 1024),
                       static_cast<unsigned long long>(m_pSteps->AvailableBytes() / 1024));
    }
    UI().ShowMessage("%s", m_pPlan->ChangedLines().c_str());
  }
  // The last line, also when silent: what a script or a playbook reads.
  printf("Check: %s\n", InstallationPlan::VerdictText(m_pPlan->GetVerdict()));
  fflush(stdout);
}

bool SetupDriver::NothingToDo() const {
  return m_pPlan != nullptr && m_pPlan->GetVerdict() == InstallationPlan::Verdict::kNothingToDo;
}

bool SetupDriver::RenewRecord(std::string* error) {
  std::string why;
  if (m_pPlan->RenewManifestDate(&why))
    return true;
  *error = FormatText("ERROR: Unable to renew the record of the installation (%s)\n", why.c_str());
  return false;
}

bool SetupDriver::Install(std::string* error) {
  // Only someone at the dialogue can say which configuration to take.
  m_pSteps->SetAskAboutChangedConfig(m_bAsked);
  m_outcome = m_pSteps->Install(*m_pPlan, m_bAsked, error);
  if (m_outcome.installed)
    LogInstallation();
  return m_outcome.installed;
}

void SetupDriver::LogInstallation() {
  const std::string dir = m_pInstaller->InstallDir();
  InstallManifest installed;
  std::string why;
  if (installed.Read(dir, &why)) {
    const char* action =
        m_pPlan != nullptr ? InstallationPlan::VerdictText(m_pPlan->GetVerdict()) : "install";
    InstallLog log(action, dir);
    log.SetPackage(installed.version, installed.packageDigest);
    std::vector<std::string> kept;
    for (const auto& file : m_outcome.administratorFiles) {
      if (file.first == "kept")
        kept.push_back(file.second);
    }
    log.AddChanges(m_pPlan != nullptr ? m_pPlan->EarlierManifest() : nullptr, installed, kept);
    for (const auto& file : m_outcome.administratorFiles) {
      log.AddFile(
          file.first == "kept" ? "kept as the administrator's:" : "saved the administrator's as:",
          file.second);
    }
    if (log.Append(&why))
      return;
  }
  UI().ShowErrorMessage("Warning: Unable to write the installation log (%s)\n", why.c_str());
}

void SetupDriver::ShowSummary() {
  if (Silent())
    return;
  SetupInstaller& installer = *m_pInstaller;
  const char* host = installer.m_szLocalHostName;
  if (host == nullptr || host[0] == '\0')
    host = "localhost";
  const char* done = "installed";
  if (m_pPlan != nullptr && m_pPlan->GetVerdict() == InstallationPlan::Verdict::kUpgrade)
    done = "upgraded";
  else if (m_pPlan != nullptr && m_pPlan->GetVerdict() == InstallationPlan::Verdict::kReinstall)
    done = "reinstalled";
  UI().ShowMessage("\n%s has been %s.\n", ServerVersion::FullProductName(), done);
  UI().ShowMessage("    Installation directory:  %s\n", installer.InstallDir().c_str());
  UI().ShowMessage("    Administration:          http://%s:%d/admin/\n", host,
                   installer.m_pPorts[kAdminPort].nPort);
  UI().ShowMessage("    Administrator:           %s\n", installer.m_szAdminUserID);
  if (m_outcome.adminPasswordGenerated)
    UI().ShowMessage("    Administrator password:  %s (generated)\n", installer.m_szAdminPassword);
  else if (m_outcome.adminPasswordKept)
    UI().ShowMessage("    Administrator password:  kept from the earlier installation\n");
  // Renaming the administrator adds an account; the earlier one can still
  // log in until it is removed.
  for (const std::string& other : m_outcome.otherAdmins)
    UI().ShowMessage("    Earlier administrator:   %s (the account still exists)\n", other.c_str());
  UI().ShowMessage("    Encoder account:         %s\n", installer.m_szEncoderUserID);
  if (m_outcome.encoderPasswordGenerated)
    UI().ShowMessage("    Encoder password:        %s (generated)\n",
                     installer.m_szEncoderPassword);
  else if (m_outcome.encoderPasswordKept)
    UI().ShowMessage("    Encoder password:        kept from the earlier installation\n");
  UI().ShowMessage("    Configuration file:      %s\n",
                   installer.FilePath(installer.m_szConfigFileName).c_str());
  if (m_outcome.answersWritten) {
    UI().ShowMessage("    Installer answers:       %s\n",
                     installer.FilePath(AnswersFile::kFileName).c_str());
  }
  UI().ShowMessage("    Installation record:     %s\n",
                   installer.FilePath(InstallManifest::kFileName).c_str());
  UI().ShowMessage("    Uninstaller:             %s\n",
                   installer.FilePath("Bin/uninstall").c_str());
  for (const auto& file : m_outcome.administratorFiles) {
    if (file.first == "kept")
      UI().ShowMessage("    Kept as yours:           %s (the new one is %s.new)\n",
                       ShownText(installer.FilePath(file.second.c_str())).c_str(),
                       ShownText(installer.FilePath(file.second.c_str())).c_str());
    else
      UI().ShowMessage("    Saved as yours:          %s (the new one is installed)\n",
                       ShownText(installer.FilePath(file.second.c_str())).c_str());
  }
  if (m_pPlan != nullptr)
    UI().ShowMessage("%s", m_pPlan->ChangedLines().c_str());
  UI().ShowMessage("\n");
}

ConsoleUI& SetupDriver::UI() {
  return *m_pInstaller->m_pUI;
}

bool SetupDriver::Silent() const {
  return m_pInstaller->m_bSilentInstall != 0;
}
